#include "flipreel/headless/headless_host.h"

#include <algorithm>

#include "flipreel/gif/gif_composer.h"

namespace flipreel {

HeadlessHost::HeadlessHost() {
  ahead_.set_budget(memory_budget());
}
HeadlessHost::~HeadlessHost() = default;

void HeadlessHost::Attach(HostedControl* control) {
  control_ = control;
  if (!control) {
    timer_ = nullptr;
    due_ms_ = -1;
  }
}

void HeadlessHost::ElementDestroyed(const Element& element) {
  if (&element != timer_) return;
  timer_ = nullptr;
  due_ms_ = -1;
}

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
    Tick();
  }
  now_ms_ = end;
}

bool HeadlessHost::DeliverTick() {
  if (!timer_ || !timer_->enabled()) return false;
  Tick();
  return true;
}

void HeadlessHost::Tick() {
  struct RearmAfter {
    HeadlessHost& host;
    int64_t due_before;
    ~RearmAfter() {
      if (host.due_ms_ == due_before) host.Rearm();
    }
  } rearm_after{*this, due_ms_};
  if (control_) control_->OnTimer();
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
  return RememberingFailure([&] {
    std::string storage;
    const std::string_view bytes = ReadWholeFile(path, storage);
    return ahead_.Decode(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  });
}

ComposedAnimation HeadlessHost::LoadAnimation(std::string_view bytes) {
  BudgetFor(bytes);
  return RememberingFailure([&] {
    return ComposeGif(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                      &memory_budget());
  });
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
  CancelAsyncRead(property_name);
  if (downloads_) downloads_->Start(target, async_type, property_name, MadePrivateFolderPath());
  pending_.push_back(PendingRead{Text(target), async_type, Text(property_name)});
}

void HeadlessHost::CancelAsyncRead(TextView property_name) {
  std::erase_if(pending_, [&](const PendingRead& r) { return r.property_name == property_name; });
  if (downloads_) downloads_->Cancel(property_name);
}

void HeadlessHost::EnableDownloads(const DownloadLimits& limits) {
  if (!downloads_) downloads_ = std::make_unique<AsyncReads>();
  downloads_->set_limits(limits);
}

void HeadlessHost::Deliver(AsyncProp& prop, bool finished) {
  if (!finished) {
    if (control_) control_->OnAsyncReadProgress(prop);
    return;
  }
  std::erase_if(pending_,
                [&](const PendingRead& r) { return r.property_name == prop.PropertyName; });
  if (control_) control_->OnAsyncReadComplete(prop);
}

int HeadlessHost::ProcessEvents() {
  if (!downloads_) return 0;
  return downloads_->Deliver([this](AsyncProp& prop, bool finished) { Deliver(prop, finished); });
}

bool HeadlessHost::WaitForReads(std::chrono::milliseconds timeout) {
  if (!downloads_) return true;
  return downloads_->Wait(timeout,
                          [this](AsyncProp& prop, bool finished) { Deliver(prop, finished); });
}

void HeadlessHost::ReportProgress(TextView property_name, AsyncProp prop) {
  prop.PropertyName = Text(property_name);
  if (control_) control_->OnAsyncReadProgress(prop);
}

void HeadlessHost::EventHandlerFailed(std::string_view event, const std::string& what) {
  handler_failures_.push_back(std::string(event) + ": " + what);
}

std::unique_ptr<Host> HeadlessHost::CreateControlSite(Form&, const FormElement& element) {
  auto site = std::make_unique<HeadlessHost>();
  site->SetUserMode(user_mode_);
  site->SetTwipsPerPixel(tppx_, tppy_);
  site->Size(element.width, element.height);
  return site;
}

}  // namespace flipreel
