// A small HTTP/1.1 server on 127.0.0.1 for tests of downloads: fixed answers
// per path, basic authentication, bodies sent slowly in chunks, and failures
// on demand (any status, redirects, a connection closed early, a server that
// stops answering). One thread per connection; every connection is closed
// after its answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testhttp {

struct Route {
  int status = 200;
  std::string body{};
  // When set, a request without exactly these credentials (basic
  // authentication) gets 401 and a challenge instead.
  std::optional<std::string> user{};
  std::string password{};
  std::string location{};  // the Location header, for redirects
  // The body goes out in pieces of chunk_size bytes, chunk_delay apart
  // (0: all at once).
  size_t chunk_size = 0;
  std::chrono::milliseconds chunk_delay{0};
  bool send_length = true;  // a Content-Length header
  enum class Ending {
    kComplete,
    kCloseEarly,  // the connection closes after half the body
    kHang,        // after the headers and half the body nothing more comes
  };
  Ending ending = Ending::kComplete;
};

class HttpServer {
 public:
  struct Request {
    std::string method;
    std::string path;
    std::string authorization;  // the header's value, empty when absent
  };

  HttpServer();  // listens on an ephemeral port of 127.0.0.1
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  std::string Url(std::string_view path) const;  // "http://127.0.0.1:port/path"
  // Paths without a route answer 404.
  void Serve(const std::string& path, Route route);
  std::vector<Request> requests() const;

  // A port of 127.0.0.1 on which nothing listens.
  static int UnusedPort();

 private:
  void AcceptLoop();
  void Handle(int fd);
  bool Pause(std::chrono::milliseconds delay);  // false when the server stops

  int listen_fd_ = -1;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable stop_cv_;
  bool stopping_ = false;
  std::map<std::string, Route> routes_;
  std::vector<Request> requests_;
  std::vector<int> client_fds_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace testhttp
