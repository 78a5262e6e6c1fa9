#include "flipreel/qt/async_reader.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace flipreel {

std::unique_ptr<AsyncReadService> MakeDefaultAsyncReader(QtHost& host) {
  return std::make_unique<AsyncReader>(host);
}

// The engine wakes the reader from its worker thread; one delivery at a time
// is queued on the GUI thread, and it takes whatever has arrived by then.
AsyncReader::AsyncReader(QtHost& host)
    : host_(host), reads_([this] {
        if (!delivery_queued_.exchange(true))
          QMetaObject::invokeMethod(
              &context_, [this] { Deliver(); }, Qt::QueuedConnection);
      }) {}

AsyncReader::~AsyncReader() = default;

void AsyncReader::Read(const Text& target, int32_t async_type, const Text& property_name) {
  reads_.Start(target, async_type, property_name, host_.MadePrivateFolderPath());
}

void AsyncReader::Cancel(const Text& property_name) {
  reads_.Cancel(property_name);
}

void AsyncReader::Deliver() {
  delivery_queued_ = false;
  reads_.Deliver([this](AsyncProp& prop, bool finished) {
    if (finished) {
      host_.DeliverAsyncReadComplete(prop);
    } else {
      host_.DeliverAsyncReadProgress(prop);
    }
  });
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
