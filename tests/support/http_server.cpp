#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "flipreel/saved_form/saved_form.h"

namespace testhttp {

namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

int BoundSocket(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket failed");
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr = Loopback(port);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("bind failed");
  }
  return fd;
}

int PortOf(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

HttpServer::HttpServer() {
  listen_fd_ = BoundSocket(0);
  if (::listen(listen_fd_, 16) != 0) throw std::runtime_error("listen failed");
  port_ = PortOf(listen_fd_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

HttpServer::~HttpServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (int fd : client_fds_) ::shutdown(fd, SHUT_RDWR);
  }
  stop_cv_.notify_all();
  ::shutdown(listen_fd_, SHUT_RDWR);
  acceptor_.join();
  ::close(listen_fd_);
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads) t.join();
}

std::string HttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void HttpServer::Serve(const std::string& path, Route route) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(route);
}

std::vector<HttpServer::Request> HttpServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

int HttpServer::UnusedPort() {
  // Bound but not listening: connections to it are refused while it stays
  // bound, and the port is unlikely to be reused at once after.
  const int fd = BoundSocket(0);
  const int port = PortOf(fd);
  ::close(fd);
  return port;
}

void HttpServer::AcceptLoop() {
  for (;;) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    std::lock_guard lock(mutex_);
    if (fd < 0 || stopping_) {
      if (fd >= 0) ::close(fd);
      if (stopping_) return;
      continue;
    }
    client_fds_.push_back(fd);
    threads_.emplace_back([this, fd] { Handle(fd); });
  }
}

bool HttpServer::Pause(std::chrono::milliseconds delay) {
  std::unique_lock lock(mutex_);
  return !stop_cv_.wait_for(lock, delay, [&] { return stopping_; });
}

void HttpServer::Handle(int fd) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, static_cast<size_t>(n));
  }

  Request request;
  const size_t sp1 = head.find(' ');
  const size_t sp2 = head.find(' ', sp1 + 1);
  if (sp2 != std::string::npos && sp2 < head.find("\r\n")) {
    request.method = head.substr(0, sp1);
    request.path = head.substr(sp1 + 1, sp2 - sp1 - 1);
  }
  if (const size_t at = Lower(head).find("\r\nauthorization:"); at != std::string::npos) {
    const size_t value = head.find_first_not_of(' ', at + 16);
    request.authorization = head.substr(value, head.find("\r\n", value) - value);
  }

  if (request.method.empty()) {  // a connection that asked nothing
    std::lock_guard lock(mutex_);
    std::erase(client_fds_, fd);
    ::close(fd);
    return;
  }

  std::optional<Route> route;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (auto it = routes_.find(request.path); it != routes_.end()) route = it->second;
  }
  if (!route) route = Route{.status = 404, .body = "not found"};

  std::string extra;
  if (route->user && request.authorization !=
                         "Basic " + flipreel::EncodeBase64(*route->user + ":" + route->password)) {
    route->status = 401;
    route->body = "who are you?";
    route->ending = Route::Ending::kComplete;
    route->chunk_size = 0;
    extra = "WWW-Authenticate: Basic realm=\"test\"\r\n";
  }
  if (!route->location.empty()) extra += "Location: " + route->location + "\r\n";

  const std::string& body = route->body;
  // Clients read the status code only; the reason phrase is the same for all.
  std::string response = "HTTP/1.1 " + std::to_string(route->status) +
                         " Status\r\nContent-Type: application/octet-stream\r\n"
                         "Connection: close\r\n" +
                         extra;
  if (route->send_length) response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  response += "\r\n";

  const size_t sent_end = route->ending == Route::Ending::kComplete ? body.size() : body.size() / 2;
  const size_t chunk = route->chunk_size ? route->chunk_size : std::max<size_t>(sent_end, 1);
  bool ok = SendAll(fd, response);
  for (size_t at = 0; ok && at < sent_end; at += chunk) {
    if (at > 0 && !Pause(route->chunk_delay)) ok = false;
    if (ok) ok = SendAll(fd, std::string_view(body).substr(at, std::min(chunk, sent_end - at)));
  }
  if (ok && route->ending == Route::Ending::kHang) Pause(std::chrono::hours(1));

  std::lock_guard lock(mutex_);
  std::erase(client_fds_, fd);
  ::close(fd);
}

}  // namespace testhttp
