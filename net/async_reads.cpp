#include "flipreel/net/async_reads.h"

#include <algorithm>
#include <filesystem>

#include "flipreel/net/downloader.h"

namespace flipreel {

namespace {

void RemoveFile(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove(path, ec);
}

}  // namespace

AsyncReads::AsyncReads(std::function<void()> wake) : wake_(std::move(wake)) {}

AsyncReads::~AsyncReads() = default;

void AsyncReads::Start(TextView target, int32_t async_type, TextView property_name,
                       const std::string& folder) {
  Cancel(property_name);
  if (async_type != kAsyncTypeFile)
    Raise(err::kInvalidCall, "Only reads into a file are supported");
  const DownloadAddress address = ParseDownloadAddress(TextToUtf8(target));
  if (!downloader_) downloader_ = std::make_unique<Downloader>(wake_);
  std::string path = folder + "/download-" + std::to_string(++serial_);
  const uint64_t id = downloader_->Start(address, path, limits_);
  reads_.push_back(Read{id, Text(property_name), Utf8ToText(address.Target()), std::move(path)});
}

void AsyncReads::Cancel(TextView property_name) {
  std::erase_if(reads_, [&](const Read& r) {
    if (r.property_name != property_name) return false;
    downloader_->Cancel(r.id);
    return true;
  });
}

int AsyncReads::Deliver(const Sink& sink) {
  if (!downloader_) return 0;
  int delivered = 0;
  for (Downloader::Event& event : downloader_->TakeEvents()) {
    // Looked up per event: a handler may have cancelled or replaced the read.
    const auto it =
        std::find_if(reads_.begin(), reads_.end(), [&](const Read& r) { return r.id == event.id; });
    if (it == reads_.end()) {
      RemoveFile(event.file);
      continue;
    }
    AsyncProp prop;
    prop.PropertyName = it->property_name;
    prop.AsyncType = kAsyncTypeFile;
    prop.Target = it->target;
    prop.BytesRead = event.bytes_read;
    prop.BytesMax = event.bytes_max;
    ++delivered;
    if (!event.finished) {
      prop.Status = AsyncStatus::kDownloading;
      prop.StatusText = u"Downloading";
      sink(prop, false);
      continue;
    }
    const std::string path = it->path;
    reads_.erase(it);
    if (event.failure) {
      prop.Status = AsyncStatus::kFailed;
      prop.StatusText = Utf8ToText(event.failure->description());
      prop.Failure = std::move(event.failure);
    } else {
      prop.Status = AsyncStatus::kCompleted;
      prop.StatusText = u"Completed";
      prop.ValuePath = Utf8ToText(path);
    }
    // The file is the host's: it goes once the control has handled it.
    struct RemoveAfter {
      const std::string& path;
      ~RemoveAfter() { RemoveFile(path); }
    } remove_after{path};
    sink(prop, true);
  }
  return delivered;
}

bool AsyncReads::Wait(std::chrono::milliseconds timeout, const Sink& sink) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    Deliver(sink);
    if (reads_.empty()) return true;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    downloader_->WaitForEvents(left);
  }
}

}  // namespace flipreel
