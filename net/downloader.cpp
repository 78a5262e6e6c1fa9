#include "flipreel/net/downloader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "flipreel/net/curl_library.h"
#include "flipreel/platform/files.h"

namespace flipreel {

namespace {

using Clock = std::chrono::steady_clock;

struct EasyDeleter {
  void operator()(CURL* easy) const { Curl().easy_cleanup(easy); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const { Curl().url_cleanup(url); }
};

// A file address for the transfer library: every byte of the path escaped
// except the unreserved characters and "/".
std::string FileUrlFor(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      url.push_back(ch);
    } else {
      url.push_back('%');
      url.push_back(kHex[c >> 4]);
      url.push_back(kHex[c & 15]);
    }
  }
  return url;
}

ConnectProblem ProblemFromErrno(long os_errno) {
  switch (os_errno) {
    case ECONNREFUSED:
      return ConnectProblem::kRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
      return ConnectProblem::kUnreachable;
    default:
      return ConnectProblem::kOther;
  }
}

}  // namespace

struct Downloader::Impl {
  struct Transfer {
    uint64_t id = 0;
    Impl* owner = nullptr;
    std::unique_ptr<CURL, EasyDeleter> easy;
    std::unique_ptr<CURLU, UrlDeleter> url;
    bool local = false;
    std::string local_path;  // the file read, for local addresses
    int local_fd = -1;       // that file, opened without waiting; read through /proc
    int fd = -1;
    std::string path;  // the file written
    DownloadLimits limits;
    int64_t bytes = 0;
    Clock::time_point started;
    Clock::time_point last_data;
    std::optional<HostError> failure;  // decided while the bytes came in
  };

  explicit Impl(std::function<void()> wake)
      : on_events(std::move(wake)), multi(Curl().multi_init()) {
    if (!multi) Raise(err::kOutOfMemory);
    worker_done = worker_stopped.get_future();
    worker = std::thread([this] {
      Run();
      worker_stopped.set_value();
    });
  }

  ~Impl() {
    Curl().multi_cleanup(multi);
    // Completed reads nobody collected.
    for (const auto& [id, path] : finished_paths) ::unlink(path.c_str());
  }

  // Asks the worker to stop and waits for it at most `patience`; true when it
  // stopped. A worker that does not (a transfer stuck inside the transfer
  // library) is left to finish on its own.
  bool Stop(std::chrono::milliseconds patience) {
    {
      std::lock_guard lock(mutex);
      stopping = true;
    }
    Curl().multi_wakeup(multi);
    if (worker_done.wait_for(patience) != std::future_status::ready) {
      worker.detach();
      return false;
    }
    worker.join();
    return true;
  }

  // --- the worker thread ------------------------------------------------------

  void Run() {
    for (;;) {
      std::vector<std::unique_ptr<Transfer>> starts;
      std::vector<uint64_t> cancels;
      bool stop = false;
      {
        std::lock_guard lock(mutex);
        starts.swap(to_start);
        cancels.swap(to_cancel);
        stop = stopping;
      }
      for (auto& t : starts) {
        t->started = t->last_data = Clock::now();
        const uint64_t id = t->id;
        const bool refused = t->failure.has_value();  // a local file that cannot be read
        if (!refused) Curl().multi_add_handle(multi, t->easy.get());
        running.emplace(id, std::move(t));
        if (refused) Finish(id, CURLE_OK);
      }
      for (const uint64_t id : cancels) {
        Dispose(id, /*keep_file=*/false);
        std::lock_guard lock(mutex);
        cancelled.erase(id);
      }
      if (stop) {
        while (!running.empty()) Dispose(running.begin()->first, /*keep_file=*/false);
        return;
      }

      int still_running = 0;
      Curl().multi_perform(multi, &still_running);
      int left = 0;
      while (CURLMsg* msg = Curl().multi_info_read(multi, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        Transfer* t = nullptr;
        Curl().easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
        Finish(t->id, msg->data.result);
      }

      // A transfer that goes quiet for too long ends here; the transfer
      // library only watches the connection phase and the total time.
      const auto now = Clock::now();
      auto wait = std::chrono::milliseconds(1000);
      std::vector<uint64_t> idle;
      for (const auto& [id, t] : running) {
        const auto deadline = t->last_data + t->limits.idle_timeout;
        if (now >= deadline) {
          idle.push_back(id);
        } else {
          wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        }
      }
      for (const uint64_t id : idle) {
        running[id]->failure = TimedOut(running[id]->limits, /*whole_read=*/false);
        Finish(id, CURLE_OPERATION_TIMEDOUT);
      }
      Curl().multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr);
    }
  }

  static size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t length = size * count;
    t->last_data = Clock::now();
    if (!t->local) {
      long status = 0;
      Curl().easy_getinfo(t->easy.get(), CURLINFO_RESPONSE_CODE, &status);
      // The body of a redirect or of an authentication challenge that the
      // transfer library answers itself is no part of the file. Any other
      // error answer ends the read at once.
      if (status >= 300) {
        if (status < 400 || status == 401 || status == 407) return length;
        t->failure = HttpStatusError(status);
        return CURL_WRITEFUNC_ERROR;
      }
    }
    if (t->bytes + static_cast<int64_t>(length) > t->limits.max_bytes) {
      t->failure = TooLarge(t->limits);
      return CURL_WRITEFUNC_ERROR;
    }
    if (!WriteAll(t->fd, std::string_view(data, length))) {
      t->failure = CannotStore();
      return CURL_WRITEFUNC_ERROR;
    }
    t->bytes += static_cast<int64_t>(length);
    curl_off_t expected = -1;
    Curl().easy_getinfo(t->easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
    t->owner->QueueProgress(t->id, t->bytes, expected > 0 ? expected : 0);
    return length;
  }

  void QueueProgress(uint64_t id, int64_t bytes, int64_t expected) {
    {
      std::lock_guard lock(mutex);
      if (cancelled.contains(id)) return;
      if (!events.empty() && events.back().id == id && !events.back().finished) {
        events.back().bytes_read = bytes;
        events.back().bytes_max = expected;
      } else {
        events.push_back(Queued{id, false, bytes, expected, 0, {}, {}});
      }
      events_ready.notify_all();
    }
    if (on_events) on_events();
  }

  std::optional<HostError> Outcome(Transfer& t, CURLcode code) {
    if (t.failure) return t.failure;
    CURL* easy = t.easy.get();
    switch (code) {
      case CURLE_OK:
        break;
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_COULDNT_RESOLVE_PROXY:
        return CannotConnect(ConnectProblem::kHostNotFound);
      case CURLE_COULDNT_CONNECT: {
        long os_errno = 0;
        Curl().easy_getinfo(easy, CURLINFO_OS_ERRNO, &os_errno);
        return CannotConnect(ProblemFromErrno(os_errno));
      }
      case CURLE_OPERATION_TIMEDOUT:
        return TimedOut(t.limits, Clock::now() - t.started >= t.limits.total_timeout);
      case CURLE_TOO_MANY_REDIRECTS:
        return TooManyRedirects(t.limits);
      case CURLE_UNSUPPORTED_PROTOCOL:
      case CURLE_URL_MALFORMAT: {
        // The first address was checked at the request: this is where a
        // redirect led, or an answer that is no HTTP at all.
        long status = 0;
        Curl().easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        return status >= 300 && status < 400 ? RedirectRefused() : NotHttp();
      }
      case CURLE_WEIRD_SERVER_REPLY:
        return NotHttp();
      case CURLE_FILESIZE_EXCEEDED:
        return TooLarge(t.limits);
      case CURLE_PARTIAL_FILE:
      case CURLE_RECV_ERROR:
      case CURLE_SEND_ERROR:
      case CURLE_GOT_NOTHING:
        return ConnectionBroken();
      case CURLE_FILE_COULDNT_READ_FILE:
      case CURLE_READ_ERROR: {
        struct stat st {};
        if (t.local && ::stat(t.local_path.c_str(), &st) != 0 && errno == ENOENT)
          return LocalFileMissing(t.local_path);
        if (t.local) return LocalFileUnreadable(t.local_path);
        return ConnectionBroken();
      }
      case CURLE_WRITE_ERROR:
        return CannotStore();
      default:
        // The library's own texts name no address.
        return TransferFailed(Curl().easy_strerror(code));
    }
    if (t.local) {
      // A folder reads as nothing rather than failing.
      struct stat st {};
      if (::stat(t.local_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return LocalFileUnreadable(t.local_path);
      return std::nullopt;
    }
    long status = 0;
    Curl().easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 300) return HttpStatusError(status);
    return std::nullopt;
  }

  // Ends a transfer the library has finished with (or that went quiet) and
  // queues its finish unless it was cancelled meanwhile.
  void Finish(uint64_t id, CURLcode code) {
    auto it = running.find(id);
    if (it == running.end()) return;
    Transfer& t = *it->second;
    std::optional<HostError> failure = Outcome(t, code);
    if (::close(t.fd) != 0 && !failure) failure = CannotStore();
    t.fd = -1;
    if (failure) ::unlink(t.path.c_str());
    curl_off_t expected = -1;
    Curl().easy_getinfo(t.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
    bool queued = false;
    {
      std::lock_guard lock(mutex);
      if (cancelled.contains(id)) {
        if (!failure) ::unlink(t.path.c_str());
      } else {
        queued = true;
        if (!failure) finished_paths.emplace(id, t.path);
        events.push_back(Queued{
            id, true, t.bytes, expected > 0 ? expected : t.bytes, failure ? failure->number() : 0,
            failure ? failure->description() : std::string(), failure ? std::string() : t.path});
        events_ready.notify_all();
      }
    }
    Dispose(id, /*keep_file=*/true);
    if (queued && on_events) on_events();
  }

  // Forgets a transfer; an unfinished one loses its file.
  void Dispose(uint64_t id, bool keep_file) {
    auto it = running.find(id);
    if (it == running.end()) return;
    Transfer& t = *it->second;
    Curl().multi_remove_handle(multi, t.easy.get());
    if (t.fd >= 0) ::close(t.fd);
    if (t.local_fd >= 0) ::close(t.local_fd);
    if (!keep_file) ::unlink(t.path.c_str());
    running.erase(it);
  }

  // --- shared with the user-interface thread ----------------------------------
  const std::function<void()> on_events;  // the worker's, called without the lock
  std::mutex mutex;
  std::condition_variable events_ready;
  // An error is queued as its number and text: a HostError's message is
  // shared between copies, which must then not live on two threads.
  struct Queued {
    uint64_t id;
    bool finished;
    int64_t bytes_read;
    int64_t bytes_max;
    int32_t failure_number;  // 0: none
    std::string failure_description;
    std::string file;
  };
  std::deque<Queued> events;
  std::map<uint64_t, std::string> finished_paths;  // completed, not yet collected
  std::set<uint64_t> cancelled;                    // cancelled, not yet disposed of by the worker
  std::vector<std::unique_ptr<Transfer>> to_start;
  std::vector<uint64_t> to_cancel;
  bool stopping = false;
  uint64_t next_id = 0;

  CURLM* multi;
  std::map<uint64_t, std::unique_ptr<Transfer>> running;  // the worker's own
  std::thread worker;
  std::promise<void> worker_stopped;
  std::future<void> worker_done;
};

Downloader::Downloader(std::function<void()> on_events) {
  Curl();  // loads libcurl, or says why it cannot
  impl_ = std::make_unique<Impl>(std::move(on_events));
}

Downloader::~Downloader() {
  // Shutting down never waits long on a transfer that is stuck: its worker
  // and what the worker uses are then left to it.
  if (!impl_->Stop(std::chrono::milliseconds(2000))) (void)impl_.release();
}

uint64_t Downloader::Start(const DownloadAddress& address, const std::string& file_path,
                           const DownloadLimits& limits) {
  auto t = std::make_unique<Impl::Transfer>();
  t->owner = impl_.get();
  t->limits = limits;
  t->local = address.kind == DownloadAddress::Kind::kLocalFile;
  t->local_path = address.local_path;
  t->path = file_path;
  t->easy.reset(Curl().easy_init());
  t->url.reset(Curl().url());
  if (!t->easy || !t->url) Raise(err::kOutOfMemory);

  if (t->local) {
    // The file is opened here, without waiting (a named pipe would hold the
    // worker, and the engine's shutdown, for good), and must be a regular
    // file; the transfer library then reads that very file through /proc,
    // so it cannot be swapped for something else in between.
    t->local_fd = ::open(address.local_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (t->local_fd < 0) {
      t->failure = errno == ENOENT ? LocalFileMissing(address.local_path)
                                   : LocalFileUnreadable(address.local_path);
    } else if (::fstat(t->local_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      t->failure = LocalFileUnreadable(address.local_path);
    }
  }
  const std::string url = !t->local
                              ? address.url
                              : FileUrlFor(t->local_fd >= 0 && !t->failure
                                               ? "/proc/self/fd/" + std::to_string(t->local_fd)
                                               : address.local_path);
  if (const CURLUcode rc = Curl().url_set(t->url.get(), CURLUPART_URL, url.c_str(),
                                          CURLU_ALLOW_SPACE | CURLU_URLENCODE);
      rc != CURLUE_OK) {
    Raise(err::kAddressNotSupported,
          ErrorDescription(err::kAddressNotSupported) + ": " + Curl().url_strerror(rc));
  }

  CURL* easy = t->easy.get();
  Curl().easy_setopt(easy, CURLOPT_CURLU, t->url.get());
  Curl().easy_setopt(easy, CURLOPT_PRIVATE, t.get());
  Curl().easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  Curl().easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https,file");
  // Redirects stay on the network, and an https read stays on https.
  Curl().easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, address.IsHttps() ? "https" : "http,https");
  Curl().easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  Curl().easy_setopt(easy, CURLOPT_MAXREDIRS, static_cast<long>(limits.max_redirects));
  Curl().easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits.idle_timeout.count()));
  Curl().easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total_timeout.count()));
  Curl().easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.max_bytes));
  Curl().easy_setopt(easy, CURLOPT_USERAGENT, "Flipreel/1.2");
  // A body the server compressed is stored as it was before: every encoding
  // the library knows is asked for and undone, and the size limit counts the
  // bytes after that.
  Curl().easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
  Curl().easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnData);
  Curl().easy_setopt(easy, CURLOPT_WRITEDATA, t.get());
  if (!t->local && address.HasCredentials()) {
    // Sent when the server asks; the library keeps them from other hosts
    // that a redirect leads to.
    Curl().easy_setopt(easy, CURLOPT_USERNAME, address.user.c_str());
    Curl().easy_setopt(easy, CURLOPT_PASSWORD, address.password.c_str());
    Curl().easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
  }

  t->fd = ::open(file_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (t->fd < 0) throw CannotStore();

  uint64_t id = 0;
  {
    std::lock_guard lock(impl_->mutex);
    id = t->id = ++impl_->next_id;
    impl_->to_start.push_back(std::move(t));
  }
  Curl().multi_wakeup(impl_->multi);
  return id;
}

void Downloader::Cancel(uint64_t id) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->cancelled.insert(id);
    std::erase_if(impl_->events, [&](const Impl::Queued& e) { return e.id == id; });
    if (auto it = impl_->finished_paths.find(id); it != impl_->finished_paths.end()) {
      ::unlink(it->second.c_str());
      impl_->finished_paths.erase(it);
    }
    impl_->to_cancel.push_back(id);
  }
  Curl().multi_wakeup(impl_->multi);
}

std::vector<Downloader::Event> Downloader::TakeEvents() {
  std::lock_guard lock(impl_->mutex);
  std::vector<Event> out;
  out.reserve(impl_->events.size());
  for (Impl::Queued& q : impl_->events) {
    Event& e = out.emplace_back();
    e.id = q.id;
    e.finished = q.finished;
    e.bytes_read = q.bytes_read;
    e.bytes_max = q.bytes_max;
    if (q.failure_number != 0) e.failure.emplace(q.failure_number, q.failure_description);
    e.file = std::move(q.file);
  }
  impl_->events.clear();
  for (const Event& e : out)
    if (e.finished) impl_->finished_paths.erase(e.id);
  return out;
}

bool Downloader::WaitForEvents(std::chrono::milliseconds timeout) {
  std::unique_lock lock(impl_->mutex);
  return impl_->events_ready.wait_for(lock, timeout, [&] { return !impl_->events.empty(); });
}

}  // namespace flipreel
