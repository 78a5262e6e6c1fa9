#include "headless/headless_host.h"

#include <algorithm>
#include <filesystem>

#include "gif/gif_composer.h"
#include "gif/gif_decoder.h"
#include "net/downloader.h"

namespace flipreel {

HeadlessHost::HeadlessHost() = default;
HeadlessHost::~HeadlessHost() = default;

void HeadlessHost::ElementChanged(const Element& element, ElementProperty what) {
  if (element.kind() != ElementKind::kTimer) return;
  timer_ = static_cast<const Timer*>(&element);
  if (what == ElementProperty::kEnabled || what == ElementProperty::kInterval) Rearm();
}

void HeadlessHost::Rearm() {
  // Switching the timer on or setting its interval starts a fresh interval.
  due_ms_ =
      (timer_ && timer_->enabled() && timer_->interval() > 0) ? now_ms_ + timer_->interval() : -1;
}

void HeadlessHost::Advance(int64_t ms) {
  const int64_t end = now_ms_ + std::max<int64_t>(ms, 0);
  while (due_ms_ >= 0 && due_ms_ <= end) {
    now_ms_ = due_ms_;
    const int64_t fired_at = due_ms_;
    if (control_) control_->OnTimer();
    // A tick handler that neither stopped nor re-armed the timer gets the
    // next interval counted from this tick.
    if (due_ms_ == fired_at) Rearm();
  }
  now_ms_ = end;
}

bool HeadlessHost::DeliverTick() {
  if (!timer_ || !timer_->enabled()) return false;
  const int64_t before = due_ms_;
  if (control_) control_->OnTimer();
  if (due_ms_ == before) Rearm();
  return true;
}

void HeadlessHost::Size(float width, float height) {
  if (width < 0 || height < 0) Raise(err::kInvalidPropertyValue);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  if (control_) control_->OnResize();
}

Picture HeadlessHost::LoadPicture(TextView path) {
  if (path.empty()) return Picture();
  const std::string bytes = ReadWholeFile(path);
  return DecodeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

ComposedAnimation HeadlessHost::LoadAnimation(std::string_view bytes) {
  return ComposeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

int32_t HeadlessHost::MsgBox(TextView text, int16_t style, TextView title) {
  messages_.push_back(Message{Text(text), style, Text(title)});
  return 1;
}

void HeadlessHost::Randomize() {
  random_.Seed(static_cast<double>(now_ms_ % 86400000) / 1000.0);
}

float HeadlessHost::Rnd() {
  return random_source_ ? random_source_() : random_.Next();
}

void HeadlessHost::AsyncRead(TextView target, int32_t async_type, TextView property_name) {
  if (fail_next_request_) {
    HostError e = *fail_next_request_;
    fail_next_request_.reset();
    throw e;
  }
  CancelAsyncRead(property_name);
  if (downloader_) {
    if (async_type != kAsyncTypeFile)
      Raise(err::kInvalidCall, "Only reads into a file are supported");
    const DownloadAddress address = ParseDownloadAddress(TextToUtf8(target));
    std::string path = PrivateFolderPath() + "/download-" + std::to_string(++download_serial_);
    const uint64_t id = downloader_->Start(address, path, download_limits_);
    downloads_.push_back(
        Download{id, Text(property_name), Utf8ToText(address.Target()), std::move(path)});
  }
  pending_.push_back(PendingRead{Text(target), async_type, Text(property_name)});
}

void HeadlessHost::CancelAsyncRead(TextView property_name) {
  std::erase_if(pending_, [&](const PendingRead& r) { return r.property_name == property_name; });
  std::erase_if(downloads_, [&](const Download& d) {
    if (d.property_name != property_name) return false;
    downloader_->Cancel(d.id);
    return true;
  });
}

void HeadlessHost::EnableDownloads(const DownloadLimits& limits) {
  download_limits_ = limits;
  if (!downloader_) downloader_ = std::make_unique<Downloader>();
}

int HeadlessHost::ProcessEvents() {
  if (!downloader_) return 0;
  int delivered = 0;
  for (Downloader::Event& event : downloader_->TakeEvents()) {
    // Looked up per event: a handler may have cancelled or replaced the read.
    const auto it = std::find_if(downloads_.begin(), downloads_.end(),
                                 [&](const Download& d) { return d.id == event.id; });
    if (it == downloads_.end()) {
      std::error_code ec;
      if (!event.file.empty()) std::filesystem::remove(event.file, ec);
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
      if (control_) control_->OnAsyncReadProgress(prop);
      continue;
    }
    const std::string path = it->path;
    downloads_.erase(it);
    std::erase_if(pending_,
                  [&](const PendingRead& r) { return r.property_name == prop.PropertyName; });
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
      ~RemoveAfter() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
      }
    } remove_after{path};
    if (control_) control_->OnAsyncReadComplete(prop);
  }
  return delivered;
}

bool HeadlessHost::WaitForReads(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ProcessEvents();
    if (downloads_.empty()) return true;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    downloader_->WaitForEvents(left);
  }
}

void HeadlessHost::ReportProgress(TextView property_name, AsyncProp prop) {
  prop.PropertyName = Text(property_name);
  if (control_) control_->OnAsyncReadProgress(prop);
}

void HeadlessHost::CompleteRead(TextView property_name, AsyncProp prop) {
  CancelAsyncRead(property_name);
  prop.PropertyName = Text(property_name);
  if (control_) control_->OnAsyncReadComplete(prop);
}

void HeadlessHost::EventHandlerFailed(std::string_view event, const std::string& what) {
  handler_failures_.push_back(std::string(event) + ": " + what);
}

}  // namespace flipreel
