// The headless host: complete and deterministic. A virtual clock that the
// caller advances drives the timer; notices, message boxes, resizes and
// failed event handlers are recorded; random numbers can be injected. Used by
// the tests, the command-line tool and the fuzzers.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flipreel/gif/ahead_decoder.h"
#include "flipreel/headless/recorded_forms.h"
#include "flipreel/headless/scripted_file_dialog.h"
#include "flipreel/host/host.h"
#include "flipreel/net/async_reads.h"
#include "flipreel/net/download.h"
#include "flipreel/platform/files.h"

namespace flipreel {

class HeadlessHost : public FileHost {
 public:
  struct Message {
    Text text;
    int16_t style;
    Text title;
  };

  HeadlessHost();
  ~HeadlessHost() override;

  // --- settings -----------------------------------------------------------
  void SetUserMode(bool run_time) { user_mode_ = run_time; }
  void SetTwipsPerPixel(float x, float y) { tppx_ = x, tppy_ = y; }
  // Replaces the generator: Rnd() returns what the function returns.
  void set_random_source(std::function<float()> source) { random_source_ = std::move(source); }
  // Resizes the surface as a user would; the control hears of a real change.
  void ResizeSurface(float width, float height) { Size(width, height); }

  // --- the virtual clock ----------------------------------------------------
  int64_t Now() const override { return now_ms_; }
  // Moves the clock on by ms, firing every tick that falls due on the way.
  // An error of a tick ends the call with the clock at that tick; the tick
  // counts as delivered, and the next one is due an interval later.
  void Advance(int64_t ms);
  // Delivers one tick now if the timer is enabled, whatever its interval.
  bool DeliverTick();
  const Timer* timer() const { return timer_; }

  // --- what the control did -------------------------------------------------
  std::vector<std::string>& notices() { return notices_; }
  std::vector<Message>& messages() { return messages_; }
  std::vector<std::string>& handler_failures() { return handler_failures_; }
  // Frame pictures that were decoded ahead of their loading.
  int64_t pictures_decoded_ahead() const { return ahead_.taken(); }
  int16_t surface_back_style() const { return surface_back_style_; }
  int32_t surface_back_color() const { return surface_back_color_; }

  // --- asynchronous reads ---------------------------------------------------
  struct PendingRead {
    Text target;
    int32_t type;
    Text property_name;
  };
  // Reads requested and not yet completed or cancelled, oldest first.
  const std::vector<PendingRead>& pending_reads() const { return pending_; }
  // Hands the control a progress report of the read under the property name,
  // as the host's download would.
  void ReportProgress(TextView property_name, AsyncProp prop);

  // Real downloads. Once enabled, AsyncRead fetches the address (http, https,
  // file and local paths; net/download.h) on a worker thread into a file in
  // PrivateFolder(). Progress and completion wait in a queue until
  // ProcessEvents() delivers them; the file is deleted once the completion
  // has been handled. Until then reads only wait.
  void EnableDownloads(const DownloadLimits& limits = {});
  // Delivers the progress reports and completions that have arrived, in
  // order; returns how many.
  int ProcessEvents();
  // Delivers events as they arrive until no download is pending or the time
  // is up; true when none is pending.
  bool WaitForReads(std::chrono::milliseconds timeout);

  // --- the file-open dialog: answers scripted by the caller -------------------
  ScriptedFileDialog& file_dialog() { return file_dialog_; }
  // --- forms: recorded, and a user played through a handler -------------------
  RecordedForms& forms() { return forms_; }

  // --- Host -----------------------------------------------------------------
  // Detaching also forgets the timer: the control's elements go with it.
  void Attach(HostedControl* control) override;
  bool UserMode() const override { return user_mode_; }
  float TwipsPerPixelX() const override { return tppx_; }
  float TwipsPerPixelY() const override { return tppy_; }
  void ElementChanged(const Element& element, ElementProperty what) override;
  void ElementDestroyed(const Element& element) override;
  float SurfaceWidth() const override { return width_; }
  float SurfaceHeight() const override { return height_; }
  void Size(float width, float height) override;
  void SetSurfaceBackColor(int32_t color) override { surface_back_color_ = color; }
  void SetSurfaceBackStyle(int16_t style) override { surface_back_style_ = style; }
  void Refresh() override {}
  void NotifyPropertyChanged(std::string_view name) override { notices_.emplace_back(name); }
  Picture LoadPicture(TextView path) override;
  ComposedAnimation LoadAnimation(std::string_view bytes) override;
  void ExpectFrameFiles(FrameFileList files) noexcept override {
    BudgetFor(files);
    ahead_.Expect(std::move(files));
  }
  int32_t MsgBox(TextView text, int16_t style, TextView title) override;
  void Randomize() override;
  float Rnd() override;
  void AsyncRead(TextView target, int32_t async_type, TextView property_name) override;
  void CancelAsyncRead(TextView property_name) override;
  void EventHandlerFailed(std::string_view event, const std::string& what) override;
  int32_t ShowOpenDialog(FileDialogRequest& request) override {
    return file_dialog_.ShowOpenDialog(request);
  }
  int32_t DialogFailureCode() override { return file_dialog_.DialogFailureCode(); }
  void ShowForm(Form& form, FormShow mode) override { forms_.Show(form, mode); }
  void UnloadForm(Form& form) override { forms_.Unload(form); }
  void FormResized(Form& form) override { forms_.Resized(form); }
  // A headless host of its own, with this host's ambient settings.
  std::unique_ptr<Host> CreateControlSite(Form& form, const FormElement& element) override;

 private:
  void Rearm();
  // Delivers one tick; afterwards, even when the tick failed, a timer the
  // tick neither stopped nor re-armed is due one interval later.
  void Tick();

  HostedControl* control_ = nullptr;
  bool user_mode_ = true;
  float tppx_ = 15, tppy_ = 15;
  float width_ = 3075, height_ = 1950;
  int32_t surface_back_color_ = kColorButtonFace;
  int16_t surface_back_style_ = 1;

  int64_t now_ms_ = 0;
  const Timer* timer_ = nullptr;
  int64_t due_ms_ = -1;  // next tick, -1 when none is due

  AheadDecoder ahead_;
  std::vector<std::string> notices_;
  std::vector<Message> messages_;
  std::vector<std::string> handler_failures_;
  RandomGenerator random_;
  std::function<float()> random_source_;
  std::vector<PendingRead> pending_;
  ScriptedFileDialog file_dialog_;
  RecordedForms forms_;

  void Deliver(AsyncProp& prop, bool finished);

  // Goes before the private folder (a base member) so that it stops, and
  // removes its files, first.
  std::unique_ptr<AsyncReads> downloads_;
};

}  // namespace flipreel
