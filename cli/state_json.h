// The control's state as the tool prints it: the JSON of `info` and
// `simulate`, whose keys are a contract with the programs that read them,
// and the readable summaries printed without --json.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "control/flipreel.h"
#include "gif/gif_facts.h"
#include "headless/headless_host.h"
#include "host/errors.h"

namespace flipreel::cli {

using Json = nlohmann::ordered_json;

// FlipreelFile, FramesLoaded, LastFrame, Frames, FrameRate, Composed (only
// when on), frames (one
// object per element 0..LastFrame when FramesLoaded: index, delay, left, top,
// width, height, in pixels), messages (text, style, title) and error (null,
// or number and description).
Json StateJson(const Flipreel& control, const std::vector<HeadlessHost::Message>& messages,
               const std::optional<HostError>& error);

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

// Readable forms of the same; the frames are listed when with_frames.
void PrintState(std::ostream& out, const std::string& input, const Json& state,
                bool with_frames = true);
void PrintTick(std::ostream& out, const Json& tick);
void PrintGif(std::ostream& out, const Json& gif);

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
