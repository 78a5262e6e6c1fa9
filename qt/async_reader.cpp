#include "qt/async_reader.h"

#include <QAuthenticator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <algorithm>

namespace flipreel {

std::unique_ptr<AsyncReadService> MakeDefaultAsyncReader(QtHost& host) {
  return std::make_unique<AsyncReader>(host);
}

struct AsyncReader::State {
  uint64_t serial = 0;
  Text property_name;
  Text target;  // the address without user information
  DownloadAddress address;
  QUrl url;
  DownloadLimits limits;
  // The manager owns the reply; both go with deleteLater, since a read may
  // end inside one of the reply's own signals.
  QNetworkAccessManager* manager = nullptr;
  QNetworkReply* reply = nullptr;
  QFile file;
  int64_t bytes = 0;
  int64_t expected = 0;
  bool credentials_offered = false;
  bool finished = false;
  std::optional<HostError> failure;
  QTimer idle;
  QTimer total;
};

namespace {

int HttpStatus(const QNetworkReply& reply) {
  const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
  return status.isValid() ? status.toInt() : 0;
}

// What a reply that finished by itself means for the read.
std::optional<HostError> Outcome(const QNetworkReply& reply, const DownloadLimits& limits,
                                 bool local, const std::string& local_path) {
  const QNetworkReply::NetworkError error = reply.error();
  if (error == QNetworkReply::TooManyRedirectsError) return TooManyRedirects(limits);
  if (error == QNetworkReply::InsecureRedirectError) return RedirectRefused();
  if (const int status = HttpStatus(reply); status >= 300) return HttpStatusError(status);
  switch (error) {
    case QNetworkReply::NoError:
      return std::nullopt;
    case QNetworkReply::ConnectionRefusedError:
      return CannotConnect(ConnectProblem::kRefused);
    case QNetworkReply::HostNotFoundError:
      return CannotConnect(ConnectProblem::kHostNotFound);
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
      return CannotConnect(ConnectProblem::kUnreachable);
    case QNetworkReply::UnknownNetworkError:
      return CannotConnect(ConnectProblem::kOther);
    case QNetworkReply::TimeoutError:
      return TimedOut(limits, /*whole_read=*/false);
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProtocolFailure:
      return ConnectionBroken();
    case QNetworkReply::ProtocolUnknownError:
      return RedirectRefused();  // the first address was checked at the request
    case QNetworkReply::SslHandshakeFailedError:
      return TransferFailed("the secure connection could not be made");
    case QNetworkReply::ContentNotFoundError:
      if (local) return LocalFileMissing(local_path);
      break;
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
      if (local) return LocalFileUnreadable(local_path);
      break;
    default:
      break;
  }
  // Qt's own error texts name the address, so they are not passed on.
  return TransferFailed("the transfer failed");
}

}  // namespace

AsyncReader::AsyncReader(QtHost& host, const DownloadLimits& limits)
    : host_(host), limits_(limits) {}

AsyncReader::~AsyncReader() {
  for (auto& read : reads_) {
    Detach(*read);
    read->file.remove();
  }
}

AsyncReader::State* AsyncReader::Find(uint64_t serial) {
  const auto it = std::find_if(reads_.begin(), reads_.end(),
                               [&](const auto& r) { return r->serial == serial; });
  return it == reads_.end() ? nullptr : it->get();
}

std::unique_ptr<AsyncReader::State> AsyncReader::Take(uint64_t serial) {
  const auto it = std::find_if(reads_.begin(), reads_.end(),
                               [&](const auto& r) { return r->serial == serial; });
  if (it == reads_.end()) return nullptr;
  std::unique_ptr<State> read = std::move(*it);
  reads_.erase(it);
  return read;
}

// Cuts the read off from its reply: no signal of it reaches us any more.
void AsyncReader::Detach(State& read) {
  read.idle.stop();
  read.total.stop();
  if (!read.manager) return;
  QObject::disconnect(read.reply, nullptr, read.manager, nullptr);
  QObject::disconnect(read.manager, nullptr, nullptr, nullptr);
  if (read.reply->isRunning()) read.reply->abort();
  read.manager->deleteLater();
  read.manager = nullptr;
  read.reply = nullptr;
}

void AsyncReader::Read(const Text& target, int32_t async_type, const Text& property_name) {
  Cancel(property_name);
  if (async_type != kAsyncTypeFile)
    Raise(err::kInvalidCall, "Only reads into a file are supported");

  auto read = std::make_unique<State>();
  read->serial = ++serial_;
  read->property_name = property_name;
  read->limits = limits_;
  read->address = ParseDownloadAddress(TextToUtf8(target));
  const bool local = read->address.kind == DownloadAddress::Kind::kLocalFile;
  read->target = Utf8ToText(read->address.Target());
  read->url = local ? QUrl::fromLocalFile(QFile::decodeName(read->address.local_path.c_str()))
                    : QUrl(QString::fromStdString(read->address.url), QUrl::TolerantMode);
  if (!read->url.isValid())
    Raise(err::kAddressNotSupported,
          ErrorDescription(err::kAddressNotSupported) + ": the address is malformed");

  read->file.setFileName(QString::fromStdU16String(host_.PrivateFolder()) + "/download-" +
                         QString::number(read->serial));
  if (!read->file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                       QFileDevice::ReadOwner | QFileDevice::WriteOwner))
    throw CannotStore();

  // A manager of its own per read, so that credentials one read was given
  // are never offered again by another.
  read->manager = new QNetworkAccessManager();
  QNetworkRequest request(read->url);
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                       QNetworkRequest::NoLessSafeRedirectPolicy);
  request.setMaximumRedirectsAllowed(read->limits.max_redirects);
  request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Flipreel/1.2"));

  const uint64_t serial = read->serial;
  QObject::connect(read->manager, &QNetworkAccessManager::authenticationRequired, read->manager,
                   [this, serial](QNetworkReply* reply, QAuthenticator* authenticator) {
                     State* r = Find(serial);
                     // Offered once: a second challenge means they were wrong,
                     // and the read then ends with status 401.
                     if (!r || r->credentials_offered || !r->address.HasCredentials()) return;
                     if (reply->url().host().compare(r->url.host(), Qt::CaseInsensitive) != 0 ||
                         reply->url().port() != r->url.port())
                       return;
                     r->credentials_offered = true;
                     authenticator->setUser(QString::fromStdString(r->address.user));
                     authenticator->setPassword(QString::fromStdString(r->address.password));
                   });
  read->reply = read->manager->get(request);
  QObject::connect(read->reply, &QIODevice::readyRead, read->manager, [this, serial] {
    if (State* r = Find(serial)) OnData(*r);
  });
  QObject::connect(read->reply, &QNetworkReply::metaDataChanged, read->manager, [this, serial] {
    State* r = Find(serial);
    if (!r || r->failure) return;
    r->idle.start();
    const int status = HttpStatus(*r->reply);
    // Redirects and challenges are answered by the manager itself.
    if (status >= 400 && status != 401 && status != 407) return Fail(*r, HttpStatusError(status));
    const QVariant length = r->reply->header(QNetworkRequest::ContentLengthHeader);
    if (status < 300 && length.isValid()) {
      r->expected = length.toLongLong();
      if (r->expected > r->limits.max_bytes) return Fail(*r, TooLarge(r->limits));
    }
  });
  QObject::connect(read->reply, &QNetworkReply::finished, read->manager, [this, serial] {
    if (State* r = Find(serial)) OnFinished(*r);
  });

  read->idle.setSingleShot(true);
  read->idle.setInterval(read->limits.idle_timeout);
  QObject::connect(&read->idle, &QTimer::timeout, &read->idle, [this, serial] {
    if (State* r = Find(serial)) Fail(*r, TimedOut(r->limits, /*whole_read=*/false));
  });
  read->total.setSingleShot(true);
  read->total.setInterval(read->limits.total_timeout);
  QObject::connect(&read->total, &QTimer::timeout, &read->total, [this, serial] {
    if (State* r = Find(serial)) Fail(*r, TimedOut(r->limits, /*whole_read=*/true));
  });
  read->idle.start();
  read->total.start();
  reads_.push_back(std::move(read));
}

void AsyncReader::Cancel(const Text& property_name) {
  for (auto it = reads_.begin(); it != reads_.end();) {
    if ((*it)->property_name != property_name) {
      ++it;
      continue;
    }
    std::unique_ptr<State> read = std::move(*it);
    it = reads_.erase(it);
    Detach(*read);
    read->file.close();
    read->file.remove();
  }
}

void AsyncReader::OnData(State& read) {
  read.idle.start();
  const QByteArray data = read.reply->readAll();
  if (read.failure) return;
  // The body of a redirect or of an authentication challenge is no part of
  // the file.
  if (HttpStatus(*read.reply) >= 300) return;
  if (read.bytes + data.size() > read.limits.max_bytes) return Fail(read, TooLarge(read.limits));
  if (read.file.write(data) != data.size()) return Fail(read, CannotStore());
  if (data.isEmpty()) return;
  read.bytes += data.size();

  AsyncProp prop;
  prop.PropertyName = read.property_name;
  prop.AsyncType = kAsyncTypeFile;
  prop.Target = read.target;
  prop.BytesRead = read.bytes;
  prop.BytesMax = read.expected;
  prop.Status = AsyncStatus::kDownloading;
  prop.StatusText = u"Downloading";
  // Last: the control's client may cancel the read while it hears of it.
  host_.DeliverAsyncReadProgress(prop);
}

void AsyncReader::Fail(State& read, HostError error) {
  if (read.finished) return;
  if (!read.failure) read.failure = std::move(error);
  // Aborted from the event loop: inside one of its own signals the reply may
  // still be setting an error of its own. What arrives until then is ignored.
  const uint64_t serial = read.serial;
  QTimer::singleShot(0, &context_, [this, serial] {
    State* r = Find(serial);
    if (!r || r->finished) return;
    r->reply->abort();  // finishes the reply, which ends the read
    if (State* still = Find(serial); still && !still->finished) OnFinished(*still);
  });
}

void AsyncReader::OnFinished(State& read) {
  if (read.finished) return;
  read.finished = true;
  if (!read.failure)
    read.failure =
        Outcome(*read.reply, read.limits, read.address.kind == DownloadAddress::Kind::kLocalFile,
                read.address.local_path);
  Detach(read);
  if (!read.file.flush() && !read.failure) read.failure = CannotStore();
  read.file.close();
  if (read.failure) read.file.remove();
  // Handed over from the event loop, outside the reply's signals, where the
  // control may show a modal message box.
  const uint64_t serial = read.serial;
  QTimer::singleShot(0, &context_, [this, serial] { DeliverCompletion(serial); });
}

void AsyncReader::DeliverCompletion(uint64_t serial) {
  std::unique_ptr<State> read = Take(serial);
  if (!read) return;  // cancelled or replaced meanwhile
  AsyncProp prop;
  prop.PropertyName = read->property_name;
  prop.AsyncType = kAsyncTypeFile;
  prop.Target = read->target;
  prop.BytesRead = read->bytes;
  prop.BytesMax = read->expected > 0 ? read->expected : read->bytes;
  const QString path = read->file.fileName();
  const bool completed = !read->failure;
  if (read->failure) {
    prop.Status = AsyncStatus::kFailed;
    prop.StatusText = Utf8ToText(read->failure->description());
    prop.Failure = std::move(read->failure);
  } else {
    prop.Status = AsyncStatus::kCompleted;
    prop.StatusText = u"Completed";
    prop.ValuePath = path.toStdU16String();
  }
  read.reset();
  host_.DeliverAsyncReadComplete(prop);
  // The file is the host's: it goes once the control has handled it.
  if (completed) QFile::remove(path);
}

bool AsyncReader::WaitForReads(std::chrono::milliseconds timeout) {
  QElapsedTimer clock;
  clock.start();
  while (!reads_.empty()) {
    const qint64 left = timeout.count() - clock.elapsed();
    if (left <= 0) return false;
    QEventLoop loop;
    QTimer::singleShot(std::min<qint64>(left, 10), &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

}  // namespace flipreel
