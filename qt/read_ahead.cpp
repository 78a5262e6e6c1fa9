#include "flipreel/qt/read_ahead.h"

#include <QFile>
#include <exception>
#include <thread>
#include <utility>

namespace flipreel {

namespace {}  // namespace

// The cuts first, so that the frames start decoding while the text is made.
void ReadAhead::Prepare(const QByteArray& raw, Result& result) {
  auto bytes =
      std::make_shared<const std::string>(raw.constData(), static_cast<size_t>(raw.size()));
  result.cuts = CutFrames(bytes);
  result.contents.bytes = bytes;
  result.read = true;
  Cut(result);
  result.contents.text = BytesToText(*bytes);
}

void ReadAhead::Cut(Result& result) {
  const std::lock_guard lock(mu_);
  result_.cuts = result.cuts;
  cut_ = true;
  if (cut_ready_) std::exchange(cut_ready_, nullptr)();
}

std::shared_ptr<ReadAhead> ReadAhead::StartFile(const QString& path) {
  return Start([path](ReadAhead& ahead, Result& result) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray raw = file.readAll();
    if (file.error() != QFileDevice::NoError) return;
    ahead.Prepare(raw, result);
  });
}

std::shared_ptr<ReadAhead> ReadAhead::StartBytes(QByteArray bytes) {
  return Start([bytes = std::move(bytes)](ReadAhead& ahead, Result& result) {
    ahead.Prepare(bytes, result);
  });
}

std::shared_ptr<ReadAhead> ReadAhead::StartCut(std::shared_ptr<const std::string> bytes) {
  return Start([bytes = std::move(bytes)](ReadAhead& ahead, Result& result) {
    result.cuts = CutFrames(bytes);
    ahead.Cut(result);
  });
}

std::shared_ptr<ReadAhead> ReadAhead::Start(std::function<void(ReadAhead&, Result&)> work) {
  std::shared_ptr<ReadAhead> ahead(new ReadAhead());
  auto run = [ahead, work = std::move(work)] {
    Result result;
    try {
      work(*ahead, result);
    } catch (const std::exception&) {
      // Out of memory: the load reads the file itself, and fails as it would.
      result = Result();
    }
    const std::lock_guard lock(ahead->mu_);
    ahead->result_ = std::move(result);
    ahead->cut_ = ahead->done_ = true;
    ahead->done_cv_.notify_all();
    if (ahead->cut_ready_) std::exchange(ahead->cut_ready_, nullptr)();
    if (ahead->ready_) std::exchange(ahead->ready_, nullptr)();
  };
  try {
    std::thread(std::move(run)).detach();
  } catch (const std::exception&) {
    // No thread to be had: the load reads the file itself.
    const std::lock_guard lock(ahead->mu_);
    ahead->cut_ = ahead->done_ = true;
  }
  return ahead;
}

void ReadAhead::SetReady(std::function<void()> cut, std::function<void()> ready) {
  const std::lock_guard lock(mu_);
  if (cut_) {
    cut();
  } else {
    cut_ready_ = std::move(cut);
  }
  if (done_) {
    ready();
  } else {
    ready_ = std::move(ready);
  }
}

bool ReadAhead::ready() {
  const std::lock_guard lock(mu_);
  return done_;
}

std::optional<FrameCuts> ReadAhead::Cuts() {
  const std::lock_guard lock(mu_);
  return result_.cuts;
}

Host::Contents ReadAhead::TakeContents() {
  std::unique_lock lock(mu_);
  done_cv_.wait(lock, [&] { return done_; });
  return std::exchange(result_.contents, {});
}

void ReadAhead::Forget() {
  const std::lock_guard lock(mu_);
  cut_ready_ = nullptr;
  ready_ = nullptr;
}

}  // namespace flipreel
