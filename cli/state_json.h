// The control's state as the tool prints it: the JSON of `info` and
// `simulate`, whose keys are a contract with the programs that read them,
// and the readable summaries printed without --json.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "flipreel/control/flipreel.h"
#include "flipreel/gif/gif_facts.h"
#include "flipreel/headless/headless_host.h"
#include "flipreel/host/errors.h"

namespace flipreel::cli {

using Json = nlohmann::ordered_json;

// One element of the frame store: its Tag as a number (the frame's delay in
// ms; no value when the Tag is not a number) and its place and size in
// pixels.
struct FrameReport {
  int32_t index = 0;
  std::optional<double> delay;
  double left = 0, top = 0, width = 0, height = 0;
};

// The control's state after a set-up, as the tool reports it.
struct StateReport {
  std::string flipreel_file;  // FlipreelFile, as UTF-8
  bool frames_loaded = false;
  int32_t last_frame = 0;
  int32_t frames = 0;
  int32_t frame_rate = 0;
  bool composed = false;
  std::vector<FrameReport> frame_list;  // elements 0..LastFrame when FramesLoaded
  std::vector<HeadlessHost::Message> messages;
  std::optional<HostError> error;
};

StateReport ReportState(const Flipreel& control, const std::vector<HeadlessHost::Message>& messages,
                        const std::optional<HostError>& error);

// FlipreelFile, FramesLoaded, LastFrame, Frames, FrameRate, Composed (only
// when on), frames (one object per element 0..LastFrame when FramesLoaded:
// index, delay, left, top, width, height, in pixels), messages (text, style,
// title) and error (null, or number and description).
Json StateJson(const StateReport& state);

// One tick of a simulation: tick (from 1), events, picture (the imgBuffer
// element whose picture imgGif shows, or null), left and top (imgGif's, in
// twips), visible, FrameIndex, LoopCount, timer; with Composed on also time
// (the host's clock, ms) and interval (ms to the next tick).
Json TickJson(int tick, const std::vector<std::string>& events, const Flipreel& control);

// The index of the imgBuffer element whose picture imgGif shows (the same
// picture, not an equal one), or no value for the empty picture.
std::optional<int32_t> ShownElement(const Flipreel& control);

// What the GIF file says about itself (the "gif" key of info): version,
// screen (width, height), global_colors, background, repeat (the loop count,
// 0 for ever, null without a loop extension), images (index, left, top,
// width, height, delay in ms, disposal, transparent, interlaced,
// local_colors; delay, disposal and transparent null without a Graphic
// Control Extension) and problem (null, or what stopped the reading). Null
// for bytes that are no GIF.
Json GifJson(const std::optional<GifFileFacts>& facts);

// Readable forms of the same, appended to out; the frames are listed when
// with_frames.
void PrintState(std::string& out, const std::string& input, const StateReport& state,
                bool with_frames = true);
void PrintGif(std::string& out, const std::optional<GifFileFacts>& facts);
void PrintTick(std::ostream& out, const Json& tick);

// Records the names of the events a control raises, in order.
class EventRecorder : public FlipreelEvents {
 public:
  std::vector<std::string> Take() { return std::exchange(names_, {}); }
  void Frame() override { names_.emplace_back("Frame"); }
  void ReadFinished() override { names_.emplace_back("ReadFinished"); }
  void PlayFinished() override { names_.emplace_back("PlayFinished"); }
  void AsyncReadComplete(AsyncProp&) override { names_.emplace_back("AsyncReadComplete"); }
  void AsyncReadProgress(AsyncProp&) override { names_.emplace_back("AsyncReadProgress"); }
  void HitTest(float&, float&, int16_t&) override { names_.emplace_back("HitTest"); }

 private:
  std::vector<std::string> names_;
};

}  // namespace flipreel::cli
