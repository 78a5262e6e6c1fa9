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

Json Delay(const Text& tag) {
  const std::optional<double> n = ParseNumber(tag);
  return n ? Number(*n) : Json(nullptr);
}

// A value as a terminal may show it: texts unquoted and made printable.
std::string Plain(const Json& v) {
  return v.is_string() ? PrintableUtf8(v.get<std::string>())
                       : v.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A value as JSON text, made printable (quoted texts keep their quotes).
std::string Quoted(const Json& v) {
  return PrintableUtf8(v.dump(-1, ' ', false, Json::error_handler_t::replace));
}

// A value as dump() writes it; whole numbers without a string of their own,
// since the summaries print several per frame.
struct Dumped {
  const Json& v;
  friend std::ostream& operator<<(std::ostream& out, const Dumped& d) {
    if (!d.v.is_number_integer()) return out << d.v.dump();
    char digits[24];
    const auto end = d.v.is_number_unsigned()
                         ? std::to_chars(digits, digits + sizeof digits, d.v.get<uint64_t>()).ptr
                         : std::to_chars(digits, digits + sizeof digits, d.v.get<int64_t>()).ptr;
    return out.write(digits, end - digits);
  }
};

}  // namespace

std::optional<int32_t> ShownElement(const Flipreel& control) {
  const Picture& shown = control.imgGif().picture();
  if (shown.IsEmpty()) return std::nullopt;
  const ImageArray& frames = control.imgBuffer();
  for (int32_t i = 0; i <= frames.UBound(); ++i)
    if (frames.Exists(i) && frames(i).picture() == shown) return i;
  return std::nullopt;
}

Json StateJson(const Flipreel& control, const std::vector<HeadlessHost::Message>& messages,
               const std::optional<HostError>& error) {
  const FlipreelState& s = control.state();
  Json j;
  j["FlipreelFile"] = TextToUtf8(control.FlipreelFile());
  j["FramesLoaded"] = s.FramesLoaded;
  j["LastFrame"] = s.LastFrame;
  j["Frames"] = control.Frames();
  j["FrameRate"] = control.FrameRate();
  if (control.Composed()) j["Composed"] = true;
  Json frames = Json::array();
  if (s.FramesLoaded) {
    for (int32_t i = 0; i <= s.LastFrame; ++i) {
      int16_t index = static_cast<int16_t>(i);
      Json f;
      f["index"] = i;
      f["delay"] = Delay(control.imgBuffer()(i).tag());
      f["left"] = Number(control.FrameLeft(index));
      f["top"] = Number(control.FrameTop(index));
      f["width"] = Number(control.FrameWidth(index));
      f["height"] = Number(control.FrameHeight(index));
      frames.push_back(std::move(f));
    }
  }
  j["frames"] = std::move(frames);
  Json shown = Json::array();
  for (const HeadlessHost::Message& m : messages)
    shown.push_back(
        Json{{"text", TextToUtf8(m.text)}, {"style", m.style}, {"title", TextToUtf8(m.title)}});
  j["messages"] = std::move(shown);
  if (error) {
    j["error"] = Json{{"number", error->number()}, {"description", error->description()}};
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

void PrintState(std::ostream& out, const std::string& input, const Json& state, bool with_frames) {
  out << PrintableUtf8(input) << ": ";
  if (state["FramesLoaded"].get<bool>()) {
    const size_t count = state["frames"].size();
    out << count << (count == 1 ? " frame" : " frames") << ", FrameRate "
        << state["FrameRate"].dump() << " ms, Frames " << state["Frames"].dump();
  } else {
    out << "no frames loaded";
  }
  out << ", FlipreelFile " << Quoted(state["FlipreelFile"]) << "\n";
  for (const Json& f : with_frames ? state["frames"] : Json::array())
    out << "  frame " << Dumped{f["index"]} << ": delay " << Dumped{f["delay"]} << " ms, "
        << Dumped{f["width"]} << " x " << Dumped{f["height"]} << " pixels at " << Dumped{f["left"]}
        << ", " << Dumped{f["top"]} << "\n";
  for (const Json& m : state["messages"])
    out << "  message box (style " << m["style"].dump() << ", title " << Quoted(m["title"])
        << "): " << Plain(m["text"]) << "\n";
  if (!state["error"].is_null())
    out << "  error " << state["error"]["number"].dump() << ": "
        << Plain(state["error"]["description"]) << "\n";
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

void PrintGif(std::ostream& out, const Json& gif) {
  if (gif.is_null()) return;
  out << "  file: GIF" << Plain(gif["version"]) << ", screen " << gif["screen"]["width"].dump()
      << " x " << gif["screen"]["height"].dump() << ", " << gif["global_colors"].dump()
      << " global colours, ";
  if (gif["repeat"].is_null()) {
    out << "no loop extension";
  } else if (gif["repeat"] == 0) {
    out << "loops for ever";
  } else {
    out << "loop count " << gif["repeat"].dump();
  }
  const size_t count = gif["images"].size();
  out << ", " << count << (count == 1 ? " image\n" : " images\n");
  static constexpr const char* kDisposals[] = {"unspecified", "leave", "background", "previous"};
  for (const Json& image : gif["images"]) {
    out << "    image " << Dumped{image["index"]} << ": " << Dumped{image["width"]} << " x "
        << Dumped{image["height"]} << " at " << Dumped{image["left"]} << ", "
        << Dumped{image["top"]};
    if (!image["delay"].is_null()) out << ", delay " << Dumped{image["delay"]} << " ms";
    if (!image["disposal"].is_null()) {
      const int d = image["disposal"].get<int>();
      out << ", disposal " << d;
      if (d < 4) out << " (" << kDisposals[d] << ")";
    }
    if (!image["transparent"].is_null()) out << ", transparent " << Dumped{image["transparent"]};
    if (image["interlaced"].get<bool>()) out << ", interlaced";
    if (image["local_colors"] != 0)
      out << ", " << Dumped{image["local_colors"]} << " local colours";
    out << "\n";
  }
  if (!gif["problem"].is_null()) out << "    " << Plain(gif["problem"]) << "\n";
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
