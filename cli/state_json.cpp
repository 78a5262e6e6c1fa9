#include "cli/state_json.h"

#include <charconv>
#include <cmath>

namespace flipreel::cli {

namespace {

// Whole numbers print as integers, others as they are.
Json Number(double v) {
  if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 9.0e15)
    return Json(static_cast<int64_t>(v));
  return Json(v);
}

Json Delay(const std::optional<double>& delay) {
  return delay ? Number(*delay) : Json(nullptr);
}

// A value as a terminal may show it: texts unquoted and made printable.
std::string Plain(const Json& v) {
  return v.is_string() ? PrintableUtf8(v.get<std::string>())
                       : v.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A text as JSON writes it, made printable (with its quotes).
std::string Quoted(const std::string& text) {
  return PrintableUtf8(Json(text).dump(-1, ' ', false, Json::error_handler_t::replace));
}

// Pieces of a summary line: whole numbers, and numbers as Number() and JSON
// write them (null for none). The summaries print several per frame, so
// whole numbers take no detour through JSON.
struct Int {
  int64_t v;
};
struct Num {
  std::optional<double> v;
};

void AppendPiece(std::string& out, std::string_view text) {
  out.append(text);
}
void AppendPiece(std::string& out, Int n) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, n.v).ptr);
}
void AppendPiece(std::string& out, const Num& n) {
  const std::optional<double>& v = n.v;
  if (v && std::isfinite(*v) && *v == std::floor(*v) && std::fabs(*v) < 9.0e15)
    return AppendPiece(out, Int{static_cast<int64_t>(*v)});
  out += v ? Json(*v).dump() : "null";
}

// Appends the pieces of a line.
template <typename... Pieces>
void Append(std::string& out, const Pieces&... pieces) {
  (AppendPiece(out, pieces), ...);
}

}  // namespace

std::optional<int32_t> ShownElement(const Flipreel& control) {
  const Picture& shown = control.imgGif().picture();
  if (shown.IsEmpty()) return std::nullopt;
  const ImageArray& frames = control.imgBuffer();
  for (int32_t i = 0; i <= frames.UBound(); ++i)
    if (frames.Exists(i) && frames(i).picture() == shown) return i;
  return std::nullopt;
}

StateReport ReportState(const Flipreel& control, const std::vector<HeadlessHost::Message>& messages,
                        const std::optional<HostError>& error) {
  const FlipreelState& s = control.state();
  StateReport r;
  r.flipreel_file = TextToUtf8(control.FlipreelFile());
  r.frames_loaded = s.FramesLoaded;
  r.last_frame = s.LastFrame;
  r.frames = control.Frames();
  r.frame_rate = control.FrameRate();
  r.composed = control.Composed();
  if (s.FramesLoaded) {
    r.frame_list.reserve(static_cast<size_t>(std::max(s.LastFrame + 1, 0)));
    for (int32_t i = 0; i <= s.LastFrame; ++i) {
      int16_t index = static_cast<int16_t>(i);
      r.frame_list.push_back(FrameReport{i, ParseNumber(control.imgBuffer()(i).tag()),
                                         control.FrameLeft(index), control.FrameTop(index),
                                         control.FrameWidth(index), control.FrameHeight(index)});
    }
  }
  r.messages = messages;
  r.error = error;
  return r;
}

Json StateJson(const StateReport& r) {
  Json j;
  j["FlipreelFile"] = r.flipreel_file;
  j["FramesLoaded"] = r.frames_loaded;
  j["LastFrame"] = r.last_frame;
  j["Frames"] = r.frames;
  j["FrameRate"] = r.frame_rate;
  if (r.composed) j["Composed"] = true;
  Json frames = Json::array();
  for (const FrameReport& frame : r.frame_list) {
    Json f;
    f["index"] = frame.index;
    f["delay"] = Delay(frame.delay);
    f["left"] = Number(frame.left);
    f["top"] = Number(frame.top);
    f["width"] = Number(frame.width);
    f["height"] = Number(frame.height);
    frames.push_back(std::move(f));
  }
  j["frames"] = std::move(frames);
  Json shown = Json::array();
  for (const HeadlessHost::Message& m : r.messages)
    shown.push_back(
        Json{{"text", TextToUtf8(m.text)}, {"style", m.style}, {"title", TextToUtf8(m.title)}});
  j["messages"] = std::move(shown);
  if (r.error) {
    j["error"] = Json{{"number", r.error->number()}, {"description", r.error->description()}};
  } else {
    j["error"] = nullptr;
  }
  return j;
}

Json TickJson(int tick, const std::vector<std::string>& events, const Flipreel& control) {
  Json j;
  j["tick"] = tick;
  j["events"] = events;
  const std::optional<int32_t> shown = ShownElement(control);
  j["picture"] = shown ? Json(*shown) : Json(nullptr);
  j["left"] = Number(control.imgGif().left());
  j["top"] = Number(control.imgGif().top());
  j["visible"] = control.imgGif().visible();
  j["FrameIndex"] = control.state().FrameIndex;
  j["LoopCount"] = control.state().LoopCount;
  j["timer"] = control.Timer1().enabled();
  if (control.Composed()) {
    j["time"] = control.host().Now();  // ms since the load, on the host's clock
    j["interval"] = control.Timer1().interval();
  }
  return j;
}

void PrintState(std::string& out, const std::string& input, const StateReport& state,
                bool with_frames) {
  Append(out, PrintableUtf8(input), ": ");
  if (state.frames_loaded) {
    const size_t count = state.frame_list.size();
    Append(out, Int{static_cast<int64_t>(count)}, count == 1 ? " frame" : " frames", ", FrameRate ",
           Int{state.frame_rate}, " ms, Frames ", Int{state.frames});
  } else {
    Append(out, "no frames loaded");
  }
  Append(out, ", FlipreelFile ", Quoted(state.flipreel_file), "\n");
  if (with_frames)
    for (const FrameReport& f : state.frame_list)
      Append(out, "  frame ", Int{f.index}, ": delay ", Num{f.delay}, " ms, ", Num{f.width}, " x ",
             Num{f.height}, " pixels at ", Num{f.left}, ", ", Num{f.top}, "\n");
  for (const HeadlessHost::Message& m : state.messages)
    Append(out, "  message box (style ", Int{m.style}, ", title ", Quoted(TextToUtf8(m.title)),
           "): ", PrintableUtf8(TextToUtf8(m.text)), "\n");
  if (state.error)
    Append(out, "  error ", Int{state.error->number()}, ": ",
           PrintableUtf8(state.error->description()), "\n");
}

Json GifJson(const std::optional<GifFileFacts>& facts) {
  if (!facts) return nullptr;
  auto optional = [](const std::optional<int>& v) { return v ? Json(*v) : Json(nullptr); };
  Json images = Json::array();
  for (size_t i = 0; i < facts->images.size(); ++i) {
    const GifImageFacts& image = facts->images[i];
    // Member by member: a braced list of pairs costs a copy of every value.
    Json& j = images.emplace_back(Json::object());
    j["index"] = i;
    j["left"] = image.left;
    j["top"] = image.top;
    j["width"] = image.width;
    j["height"] = image.height;
    j["delay"] = image.delay_cs ? Json(*image.delay_cs * 10) : Json(nullptr);
    j["disposal"] = optional(image.disposal);
    j["transparent"] = optional(image.transparent);
    j["interlaced"] = image.interlaced;
    j["local_colors"] = image.local_colors;
  }
  return Json{{"version", facts->version},
              {"screen", {{"width", facts->screen_width}, {"height", facts->screen_height}}},
              {"global_colors", facts->global_colors},
              {"background", facts->background},
              {"repeat", optional(facts->repeat)},
              {"images", std::move(images)},
              {"problem", facts->problem.empty() ? Json(nullptr) : Json(facts->problem)}};
}

void PrintGif(std::string& out, const std::optional<GifFileFacts>& facts) {
  if (!facts) return;
  Append(out, "  file: GIF", PrintableUtf8(facts->version), ", screen ", Int{facts->screen_width},
         " x ", Int{facts->screen_height}, ", ", Int{facts->global_colors}, " global colours, ");
  if (!facts->repeat) {
    Append(out, "no loop extension");
  } else if (*facts->repeat == 0) {
    Append(out, "loops for ever");
  } else {
    Append(out, "loop count ", Int{*facts->repeat});
  }
  const size_t count = facts->images.size();
  Append(out, ", ", Int{static_cast<int64_t>(count)}, count == 1 ? " image\n" : " images\n");
  static constexpr const char* kDisposals[] = {"unspecified", "leave", "background", "previous"};
  for (size_t i = 0; i < count; ++i) {
    const GifImageFacts& image = facts->images[i];
    Append(out, "    image ", Int{static_cast<int64_t>(i)}, ": ", Int{image.width}, " x ",
           Int{image.height}, " at ", Int{image.left}, ", ", Int{image.top});
    if (image.delay_cs) Append(out, ", delay ", Int{int64_t{*image.delay_cs} * 10}, " ms");
    if (const std::optional<int> d = image.disposal) {
      Append(out, ", disposal ", Int{*d});
      if (*d >= 0 && *d < 4) Append(out, " (", kDisposals[*d], ")");
    }
    if (image.transparent) Append(out, ", transparent ", Int{*image.transparent});
    if (image.interlaced) Append(out, ", interlaced");
    if (image.local_colors != 0) Append(out, ", ", Int{image.local_colors}, " local colours");
    Append(out, "\n");
  }
  if (!facts->problem.empty()) Append(out, "    ", PrintableUtf8(facts->problem), "\n");
}

void PrintTick(std::ostream& out, const Json& tick) {
  out << "tick " << tick["tick"].dump() << ":";
  for (const Json& e : tick["events"]) out << " " << Plain(e);
  if (tick["events"].empty()) out << " (no events)";
  out << " -> ";
  if (tick["picture"].is_null()) {
    out << "no picture";
  } else {
    out << "frame " << tick["picture"].dump();
  }
  out << " at " << tick["left"].dump() << ", " << tick["top"].dump() << " twips"
      << (tick["visible"].get<bool>() ? "" : " (hidden)") << ", FrameIndex "
      << tick["FrameIndex"].dump() << ", LoopCount " << tick["LoopCount"].dump() << ", timer "
      << (tick["timer"].get<bool>() ? "on" : "off") << "\n";
}

}  // namespace flipreel::cli
