// Shared set-up for the core suite: a headless host that writes down what the
// control does to it, a control with an event recorder, and GIFs made to
// measure and loaded as an application loads them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "flipreel/control/flipreel.h"
#include "flipreel/control/load_outcome.h"
#include "flipreel/headless/headless_host.h"
#include "tests/support/checks.h"
#include "tests/support/gif_builder.h"

namespace coretest {

using namespace flipreel;

// The host's record, in order, of every element change (with the new value),
// every announcement, every size request, every repaint request and every
// change of the surface colour.
class TracingHost : public HeadlessHost {
 public:
  std::vector<std::string> trace;

  void ElementChanged(const Element& element, ElementProperty what) override {
    HeadlessHost::ElementChanged(element, what);
    trace.push_back(DescribeChange(element, what));
  }
  void NotifyPropertyChanged(std::string_view name) override {
    HeadlessHost::NotifyPropertyChanged(name);
    trace.push_back("notice " + std::string(name));
  }
  void Size(float width, float height) override {
    const bool real = width != SurfaceWidth() || height != SurfaceHeight();
    trace.push_back("Size " + Num(width) + "x" + Num(height) + (real ? " resize" : ""));
    HeadlessHost::Size(width, height);
  }
  void Refresh() override {
    HeadlessHost::Refresh();
    trace.push_back("Refresh");
  }
  void SetSurfaceBackColor(int32_t color) override {
    HeadlessHost::SetSurfaceBackColor(color);
    trace.push_back("surface.BackColor=" + Num(color));
  }

  // Forgets what happened so far (the trace and the announcements).
  void Clear() {
    trace.clear();
    notices().clear();
  }

  static std::string Num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
  }

 private:
  static std::string DescribeChange(const Element& e, ElementProperty what) {
    std::string name = e.name();
    if (e.index() >= 0) name += "(" + std::to_string(e.index()) + ")";
    const auto* image = dynamic_cast<const Image*>(&e);
    const auto* shape = dynamic_cast<const Shape*>(&e);
    const auto* timer = dynamic_cast<const Timer*>(&e);
    auto geometry = [&](const char* prop, float img, float shp) {
      return name + "." + prop + "=" + Num(image ? img : shp);
    };
    switch (what) {
      case ElementProperty::kPicture:
        return name + ".Picture";
      case ElementProperty::kLeft:
        return geometry("Left", image ? image->left() : 0, shape ? shape->left() : 0);
      case ElementProperty::kTop:
        return geometry("Top", image ? image->top() : 0, shape ? shape->top() : 0);
      case ElementProperty::kWidth:
        return geometry("Width", image ? image->width() : 0, shape ? shape->width() : 0);
      case ElementProperty::kHeight:
        return geometry("Height", image ? image->height() : 0, shape ? shape->height() : 0);
      case ElementProperty::kStretch:
        return name + ".Stretch=" + Num(image->stretch());
      case ElementProperty::kVisible:
        return name + ".Visible=" + Num(image ? image->visible() : shape->visible());
      case ElementProperty::kTag:
        return name + ".Tag";
      case ElementProperty::kBackStyle:
        return name + ".BackStyle=" + Num(shape->back_style());
      case ElementProperty::kBackColor:
        return name + ".BackColor=" + Num(shape->back_color());
      case ElementProperty::kBorderStyle:
        return name + ".BorderStyle=" + Num(shape->border_style());
      case ElementProperty::kBorderColor:
        return name + ".BorderColor=" + Num(shape->border_color());
      case ElementProperty::kEnabled:
        return name + ".Enabled=" + Num(timer->enabled());
      case ElementProperty::kInterval:
        return name + ".Interval=" + Num(timer->interval());
      case ElementProperty::kLoaded:
      case ElementProperty::kUnloaded:
        return name + (what == ElementProperty::kLoaded ? " loaded" : " unloaded");
    }
    return name + ".?";
  }
};

// Events in the order they came, with what the control reported while each
// one was being raised.
struct EventLog : FlipreelEvents {
  struct Entry {
    std::string name;
    int16_t current_frame;
  };
  explicit EventLog(Flipreel& control) : control_(control) {}
  std::vector<Entry> entries;
  std::function<void()> on_frame;  // runs inside the Frame handler

  void Frame() override {
    entries.push_back({"Frame", control_.CurrentFrame()});
    if (on_frame) on_frame();
  }
  void PlayFinished() override { entries.push_back({"PlayFinished", control_.CurrentFrame()}); }

 private:
  Flipreel& control_;
};

// One frame of a GIF: a picture of w x h pixels at an offset in twips, a
// whole number of the host's pixels (the first frame's offset is the
// element's own, 0).
struct FrameShape {
  int width_px;
  int height_px;
  float left = 0;
  float top = 0;
};

// Four frames of different sizes, each at its own offset.
inline const std::vector<FrameShape> kFourFrames = {
    {100, 60, 0, 0}, {90, 50, 150, 75}, {80, 40, 300, 30}, {70, 30, 45, 150}};

struct Rig {
  explicit Rig(bool run_time = true) {
    host.SetUserMode(run_time);
    c.AddListener(&events);
    host.Clear();  // the elements as designed are not part of any test's record
  }

  // Loads a GIF of these frames, each a colour of its own waiting 100 ms,
  // as an application loads bytes (through FlipreelFile). The trace and the
  // announcements start empty afterwards.
  void LoadFrames(const std::vector<FrameShape>& frames) {
    const float tppx = host.TwipsPerPixelX(), tppy = host.TwipsPerPixelY();
    testgif::Gif gif;
    gif.netscape_loop = true;  // its terminator lets the split find the first frame
    gif.global_palette.clear();
    for (size_t i = 0; i < frames.size(); ++i) {
      const FrameShape& shape = frames[i];
      testgif::Frame frame;
      frame.left = static_cast<int>(shape.left / tppx);
      frame.top = static_cast<int>(shape.top / tppy);
      EXPECT_EQ(frame.left * tppx, shape.left) << "not a whole number of pixels";
      EXPECT_EQ(frame.top * tppy, shape.top) << "not a whole number of pixels";
      frame.width = shape.width_px;
      frame.height = shape.height_px;
      frame.pixels.assign(static_cast<size_t>(shape.width_px) * shape.height_px,
                          static_cast<uint8_t>(i));
      gif.width = std::min(std::max(gif.width, frame.left + frame.width), 65535);
      gif.height = std::min(std::max(gif.height, frame.top + frame.height), 65535);
      gif.global_palette.push_back(static_cast<uint32_t>(i * 0x252525u));
      gif.frames.push_back(frame);
    }
    LoadGifBytes(c, host, testgif::Build(gif));
    EXPECT_EQ(c.imgBuffer().count(), static_cast<int32_t>(frames.size())) << "not loaded";
    host.Clear();
  }

  // The frame whose picture imgGif shows, or -1.
  int ShownPicture() const {
    for (int32_t i = 0; i <= c.state().LastFrame; ++i)
      if (!c.imgGif().picture().IsEmpty() && c.imgBuffer()(i).picture() == c.imgGif().picture())
        return i;
    return -1;
  }

  // The frame whose position (plus the border inset) imgGif stands at, or -1.
  int ShownPosition() const {
    const float inset = c.BorderStyle() != 0 ? 10.0f : 0.0f;
    for (int32_t i = 0; i <= c.state().LastFrame; ++i) {
      const Image& frame = c.imgBuffer()(i);
      if (c.imgGif().left() == frame.left() + inset && c.imgGif().top() == frame.top() + inset)
        return i;
    }
    return -1;
  }

  TracingHost host;
  Flipreel c{host};
  EventLog events{c};
};

using testsupport::ErrorOf;
using testsupport::Joined;

}  // namespace coretest
