#include "flipreel/qt/read_ahead.h"

#include <QFile>
#include <exception>
#include <thread>
#include <utility>

namespace flipreel {

namespace {

// The contents of these bytes and their cuts.
void Prepare(const QByteArray& raw, ReadAhead::Result& result) {
  auto bytes =
      std::make_shared<const std::string>(raw.constData(), static_cast<size_t>(raw.size()));
  result.contents.text = BytesToText(*bytes);
  result.cuts = CutFrames(bytes);
  result.contents.bytes = std::move(bytes);
  result.read = true;
}

}  // namespace

std::shared_ptr<ReadAhead> ReadAhead::StartFile(const QString& path) {
  return Start([path](Result& result) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray raw = file.readAll();
    if (file.error() != QFileDevice::NoError) return;
    Prepare(raw, result);
  });
}

std::shared_ptr<ReadAhead> ReadAhead::StartBytes(QByteArray bytes) {
  return Start([bytes = std::move(bytes)](Result& result) { Prepare(bytes, result); });
}

std::shared_ptr<ReadAhead> ReadAhead::StartCut(std::shared_ptr<const std::string> bytes) {
  return Start([bytes = std::move(bytes)](Result& result) { result.cuts = CutFrames(bytes); });
}

std::shared_ptr<ReadAhead> ReadAhead::Start(std::function<void(Result&)> work) {
  std::shared_ptr<ReadAhead> ahead(new ReadAhead());
  auto run = [ahead, work = std::move(work)] {
    Result result;
    try {
      work(result);
    } catch (const std::exception&) {
      // Out of memory: the load reads the file itself, and fails as it would.
      result = Result();
    }
    const std::lock_guard lock(ahead->mu_);
    ahead->result_ = std::move(result);
    ahead->done_ = true;
    ahead->done_cv_.notify_all();
    if (ahead->ready_) std::exchange(ahead->ready_, nullptr)();
  };
  try {
    std::thread(std::move(run)).detach();
  } catch (const std::exception&) {
    // No thread to be had: the load reads the file itself.
    const std::lock_guard lock(ahead->mu_);
    ahead->done_ = true;
  }
  return ahead;
}

void ReadAhead::SetReady(std::function<void()> ready) {
  const std::lock_guard lock(mu_);
  if (done_) {
    ready();
  } else {
    ready_ = std::move(ready);
  }
}

const ReadAhead::Result& ReadAhead::Wait() {
  std::unique_lock lock(mu_);
  done_cv_.wait(lock, [&] { return done_; });
  return result_;
}

Host::Contents ReadAhead::TakeContents() {
  std::unique_lock lock(mu_);
  done_cv_.wait(lock, [&] { return done_; });
  return std::exchange(result_.contents, {});
}

void ReadAhead::Forget() {
  const std::lock_guard lock(mu_);
  ready_ = nullptr;
}

}  // namespace flipreel
