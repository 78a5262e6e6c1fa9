// The GTK face on a real (virtual) display: what the paintable draws, how it
// plays, when it ticks, and how a failed load is told.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flipreel/gif/gif_composer.h"
#include "flipreel/gtk/flipreel_view.h"
#include "flipreel/host/memory_budget.h"
#include "tests/composed/composed_support.h"
#include "tests/support/http_server.h"

namespace {

using composedtest::Patch;
using composedtest::Screen;

// Frames that lean on every disposal and on transparency.
std::string DisposalGif() {
  return testgif::Build(Screen(4, 3,
                               {Patch(0, 0, {"RRRR", "RGGR", "RRRR"}), Patch(1, 1, {"B.", ".B"}, 2),
                                Patch(0, 0, {"Y.", ".Y"}, 3), Patch(2, 0, {"WW", "WW"})}));
}

GBytes* Bytes(const std::string& s) {
  return g_bytes_new(s.data(), s.size());
}

// Runs the main loop for about ms milliseconds, or until `until` holds.
template <typename Until>
void Spin(int ms, Until until) {
  const gint64 end = g_get_monotonic_time() + ms * 1000;
  while (g_get_monotonic_time() < end && !until()) {
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
}
void Spin(int ms) {
  Spin(ms, [] { return false; });
}

// A snapshot drawn by GSK's cairo path, as 0xAARRGGBB premultiplied words.
std::vector<uint32_t> Pixels(GtkSnapshot* snapshot, int w, int h) {
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  if (node) gsk_render_node_draw(node, cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  std::vector<uint32_t> out;
  const auto* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < h; ++y) {
    const auto* row =
        reinterpret_cast<const uint32_t*>(data + y * cairo_image_surface_get_stride(surface));
    out.insert(out.end(), row, row + w);
  }
  cairo_surface_destroy(surface);
  if (node) gsk_render_node_unref(node);
  return out;
}

// The paintable's snapshot at the size given.
std::vector<uint32_t> Render(GdkPaintable* paintable, int w, int h) {
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, w, h);
  return Pixels(snapshot, w, h);
}
std::vector<uint32_t> Render(FlipreelPaintable* paintable, int w, int h) {
  return Render(GDK_PAINTABLE(paintable), w, h);
}

// What the widget draws now, at its size.
std::vector<uint32_t> Render(GtkWidget* widget) {
  GtkSnapshot* snapshot = gtk_snapshot_new();
  GTK_WIDGET_GET_CLASS(widget)->snapshot(widget, snapshot);
  return Pixels(snapshot, gtk_widget_get_width(widget), gtk_widget_get_height(widget));
}

std::vector<uint32_t> Premultiplied(const flipreel::Picture& picture) {
  std::vector<uint32_t> out;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      const uint32_t p = picture.data()->PixelArgb(x, y);
      out.push_back((p >> 24) == 0 ? 0 : p);  // the frames are opaque or clear
    }
  return out;
}

// Each frame, and the still image taken of it (what a drag icon or a copy
// keeps), is the composed picture pixel by pixel.
TEST(FlipreelPaintableSnapshot, EachFrameIsTheComposedPicturePixelByPixel) {
  const std::string gif = DisposalGif();
  const flipreel::ComposedAnimation expected = flipreel::ComposeGif(
      std::span(reinterpret_cast<const uint8_t*>(gif.data()), gif.size()), nullptr);
  FlipreelPaintable* paintable = flipreel_paintable_new();
  GBytes* bytes = Bytes(gif);
  flipreel_paintable_load_bytes(paintable, bytes);
  // Reading a result waits for the load on the other thread.
  ASSERT_EQ(flipreel_paintable_get_error(paintable), nullptr);
  ASSERT_EQ(flipreel_paintable_get_frames(paintable), 4);
  EXPECT_EQ(gdk_paintable_get_intrinsic_width(GDK_PAINTABLE(paintable)), 4);
  EXPECT_EQ(gdk_paintable_get_intrinsic_height(GDK_PAINTABLE(paintable)), 3);
  for (size_t i = 0; i < expected.frames.size(); ++i) {
    EXPECT_EQ(Render(paintable, 4, 3), Premultiplied(expected.frames[i].picture)) << "frame " << i;
    GdkPaintable* still = gdk_paintable_get_current_image(GDK_PAINTABLE(paintable));
    flipreel_paintable_tick(paintable);
    ASSERT_NE(still, GDK_PAINTABLE(paintable));
    EXPECT_EQ(gdk_paintable_get_flags(still),
              GDK_PAINTABLE_STATIC_SIZE | GDK_PAINTABLE_STATIC_CONTENTS);
    EXPECT_EQ(Render(still, 4, 3), Premultiplied(expected.frames[i].picture)) << "still " << i;
    g_object_unref(still);
  }
  g_bytes_unref(bytes);
  g_object_unref(paintable);
}

// A view in a window draws each frame as its paintable alone draws it, at
// the GIF's size and stretched, although under the cairo renderer the view
// draws from images it keeps for that renderer rather than from textures.
TEST(FlipreelViewDrawing, AWindowShowsTheFramesThePaintableDraws) {
  // Frames large enough for images the X server shares.
  testgif::Gif gif = testgif::Animation(3, 64, 40);
  gif.width = 66, gif.height = 44;
  GBytes* bytes = Bytes(testgif::Build(gif));
  for (const bool stretch : {false, true}) {
    GtkWidget* window = gtk_window_new();
    GtkWidget* view = flipreel_view_new();
    g_object_set(view, "back-style", 0, "auto-size", !stretch, "stretch", stretch, nullptr);
    if (stretch) gtk_widget_set_size_request(view, 128, 80);
    gtk_window_set_child(GTK_WINDOW(window), view);
    flipreel_view_load_bytes(FLIPREEL_VIEW(view), bytes);
    ASSERT_EQ(flipreel_view_get_error(FLIPREEL_VIEW(view)), nullptr);  // sized before shown
    gtk_window_present(GTK_WINDOW(window));
    FlipreelPaintable* paintable = flipreel_view_get_paintable(FLIPREEL_VIEW(view));
    // A paintable ticks from its load on, so a busy machine may tick it
    // before the window is laid out: wait for both.
    Spin(5000, [&] {
      return gtk_widget_get_width(view) > 0 && flipreel_paintable_get_ticks(paintable) > 0;
    });
    const int w = gtk_widget_get_width(view), h = gtk_widget_get_height(view);
    ASSERT_EQ(w, stretch ? 128 : gif.width);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(Render(view), Render(paintable, w, h)) << "stretch " << stretch << ", tick " << i;
      flipreel_paintable_tick(paintable);
    }
    gtk_window_destroy(GTK_WINDOW(window));
  }
  g_bytes_unref(bytes);
}

// The frames the GTK face shows, tick by tick, are those the control shows
// on the headless host.
struct Order {
  FlipreelSequence sequence;
  int passes;
};

class FlipreelPaintableOrder : public testing::TestWithParam<Order> {};

TEST_P(FlipreelPaintableOrder, PlaysAsTheControlOnTheHeadlessHost) {
  const Order order = GetParam();
  const std::string gif = testgif::Build(testgif::Animation(5));
  composedtest::ComposedControl model;
  model.control.SetSequence(order.sequence);
  model.control.SetAutoRewind(static_cast<int16_t>(order.passes));
  model.LoadBytes(gif);

  FlipreelPaintable* paintable = flipreel_paintable_new();
  g_object_set(paintable, "sequence", order.sequence, "auto-rewind", order.passes, nullptr);
  int finished = 0;
  g_signal_connect_swapped(paintable, "play-finished", G_CALLBACK(+[](int* n) { ++*n; }),
                           &finished);
  GBytes* bytes = Bytes(gif);
  flipreel_paintable_load_bytes(paintable, bytes);
  flipreel_paintable_finish_loading(paintable);
  ASSERT_TRUE(flipreel_paintable_get_playing(paintable));

  int model_finished_at = -1, finished_at = -1;
  for (int tick = 0; tick < 40; ++tick) {
    const int shown = flipreel_paintable_get_current_frame(paintable);
    if (order.sequence == FLIPREEL_SEQUENCE_RANDOM) {
      EXPECT_TRUE(shown >= 0 && shown < 5) << shown;
    } else {
      EXPECT_EQ(shown, model.control.CurrentFrame()) << "tick " << tick;
    }
    if (!model.control.Playing() && model_finished_at < 0) model_finished_at = tick;
    if (!flipreel_paintable_get_playing(paintable) && finished_at < 0) finished_at = tick;
    model.host.DeliverTick();
    flipreel_paintable_tick(paintable);
  }
  if (order.sequence != FLIPREEL_SEQUENCE_RANDOM) {
    EXPECT_EQ(finished_at, model_finished_at);
  }
  EXPECT_EQ(finished, finished_at >= 0 ? 1 : 0);
  g_bytes_unref(bytes);
  g_object_unref(paintable);
}

INSTANTIATE_TEST_SUITE_P(
    OrdersAndPasses, FlipreelPaintableOrder,
    testing::Values(Order{FLIPREEL_SEQUENCE_NORMAL, 0}, Order{FLIPREEL_SEQUENCE_NORMAL, 2},
                    Order{FLIPREEL_SEQUENCE_REVERSE, 0}, Order{FLIPREEL_SEQUENCE_REVERSE, 2},
                    Order{FLIPREEL_SEQUENCE_RANDOM, 0}, Order{FLIPREEL_SEQUENCE_RANDOM, 3},
                    Order{FLIPREEL_SEQUENCE_PING_PONG, 0}, Order{FLIPREEL_SEQUENCE_PING_PONG, 3}));

// A view in a window ticks while shown, takes no ticks hidden, and goes on
// when shown again; a paintable nobody draws takes none at all, and a hidden
// view's paintable that a picture shows plays there.
TEST(FlipreelViewShown, HiddenViewsAndUndrawnPaintablesTakeNoTicks) {
  testgif::Gif fast = testgif::Animation(5);
  for (testgif::Frame& frame : fast.frames) frame.delay_cs = 2;
  GBytes* bytes = Bytes(testgif::Build(fast));
  GtkWidget* window = gtk_window_new();
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* view = flipreel_view_new();
  gtk_box_append(GTK_BOX(box), view);
  gtk_window_set_child(GTK_WINDOW(window), box);
  flipreel_view_load_bytes(FLIPREEL_VIEW(view), bytes);
  FlipreelPaintable* alone = flipreel_paintable_new();
  flipreel_paintable_load_bytes(alone, bytes);
  gtk_window_present(GTK_WINDOW(window));
  FlipreelPaintable* shown = flipreel_view_get_paintable(FLIPREEL_VIEW(view));

  // A loaded machine may take a while to show the window.
  Spin(5000, [&] { return flipreel_paintable_get_ticks(shown) > 3; });
  EXPECT_GT(flipreel_paintable_get_ticks(shown), 3);
  gtk_widget_set_visible(view, FALSE);
  Spin(50);
  const gint64 at_hiding = flipreel_paintable_get_ticks(shown);
  Spin(400);
  EXPECT_EQ(flipreel_paintable_get_ticks(shown), at_hiding);
  gtk_widget_set_visible(view, TRUE);
  Spin(5000, [&] { return flipreel_paintable_get_ticks(shown) > at_hiding + 3; });
  EXPECT_GT(flipreel_paintable_get_ticks(shown), at_hiding + 3);
  EXPECT_EQ(flipreel_paintable_get_ticks(alone), 0);

  gtk_widget_set_visible(view, FALSE);
  gtk_box_append(GTK_BOX(box), gtk_picture_new_for_paintable(GDK_PAINTABLE(shown)));
  const gint64 in_picture = flipreel_paintable_get_ticks(shown);
  Spin(5000, [&] { return flipreel_paintable_get_ticks(shown) > in_picture + 3; });
  EXPECT_GT(flipreel_paintable_get_ticks(shown), in_picture + 3);

  gtk_window_destroy(GTK_WINDOW(window));
  g_object_unref(alone);
  g_bytes_unref(bytes);
}

// Warnings and criticals, ours and GLib's, logged while it lives.
class LoggedProblems {
 public:
  LoggedProblems() {
    for (const char* domain : {static_cast<const char*>(nullptr), "GLib-GObject"})
      handlers_.emplace_back(domain, g_log_set_handler(domain, kLevels, Count, &count_));
  }
  ~LoggedProblems() {
    for (const auto& [domain, id] : handlers_) g_log_remove_handler(domain, id);
  }
  int count() const { return count_; }

 private:
  static constexpr auto kLevels = static_cast<GLogLevelFlags>(
      G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
  static void Count(const char*, GLogLevelFlags, const char* message, gpointer count) {
    ADD_FAILURE() << message;
    ++*static_cast<int*>(count);
  }
  int count_ = 0;
  std::vector<std::pair<const char*, guint>> handlers_;
};

// Each property of both classes starts at its ParamSpec's default, and every
// number a property's range admits is one the control takes, composed or
// classic, without a warning.
TEST(FlipreelProperties, StartAtTheirDefaultsAndTakeTheirWholeRange) {
  GBytes* bytes = Bytes(testgif::Build(testgif::Animation(3)));
  for (const GType type : {FLIPREEL_TYPE_PAINTABLE, FLIPREEL_TYPE_VIEW}) {
    for (const bool composed : {true, false}) {
      GObject* object = G_OBJECT(g_object_new(type, nullptr));
      if (g_object_is_floating(object)) g_object_ref_sink(object);
      guint count = 0;
      GParamSpec** properties = g_object_class_list_properties(G_OBJECT_GET_CLASS(object), &count);
      for (guint i = 0; i < count; ++i) {
        GParamSpec* property = properties[i];
        if (property->owner_type != type || G_IS_PARAM_SPEC_BOXED(property)) continue;
        GValue value = G_VALUE_INIT;
        g_value_init(&value, property->value_type);
        g_object_get_property(object, property->name, &value);
        EXPECT_EQ(g_param_values_cmp(property, &value, g_param_spec_get_default_value(property)), 0)
            << g_type_name(type) << " " << property->name;
        g_value_unset(&value);
      }
      g_object_set(object, "composed", composed, "show-message-boxes", FALSE, nullptr);
      if (type == FLIPREEL_TYPE_VIEW) {
        flipreel_view_load_bytes(FLIPREEL_VIEW(object), bytes);
        flipreel_view_get_error(FLIPREEL_VIEW(object));
      } else {
        flipreel_paintable_load_bytes(FLIPREEL_PAINTABLE(object), bytes);
        flipreel_paintable_finish_loading(FLIPREEL_PAINTABLE(object));
      }
      {
        const LoggedProblems logged;
        for (guint i = 0; i < count; ++i) {
          if (!G_IS_PARAM_SPEC_INT(properties[i]) || !(properties[i]->flags & G_PARAM_WRITABLE))
            continue;
          const GParamSpecInt* range = G_PARAM_SPEC_INT(properties[i]);
          for (const int number : {range->minimum, range->maximum})
            g_object_set(object, properties[i]->name, number, nullptr);
        }
        EXPECT_EQ(logged.count(), 0) << g_type_name(type) << (composed ? " composed" : " classic");
      }
      g_free(properties);
      g_object_unref(object);
    }
  }
  g_bytes_unref(bytes);
}

// "auto-size" makes the GIF's size the view's least; turned off, the view
// may be made smaller again.
TEST(FlipreelViewSize, AutoSizeTurnedOffLetsTheViewShrink) {
  GBytes* bytes = Bytes(testgif::Build(testgif::Animation(3)));  // 16 x 12
  GtkWidget* window = gtk_window_new();
  GtkWidget* view = flipreel_view_new();
  g_object_set(view, "auto-size", TRUE, nullptr);
  gtk_window_set_child(GTK_WINDOW(window), view);
  flipreel_view_load_bytes(FLIPREEL_VIEW(view), bytes);
  ASSERT_EQ(flipreel_view_get_error(FLIPREEL_VIEW(view)), nullptr);
  gtk_window_present(GTK_WINDOW(window));
  Spin(5000, [&] { return gtk_widget_get_width(view) > 0; });
  auto measured = [&](GtkOrientation orientation) {
    int least = -1, natural = -1;
    gtk_widget_measure(view, orientation, -1, &least, &natural, nullptr, nullptr);
    return std::pair(least, natural);
  };
  EXPECT_EQ(measured(GTK_ORIENTATION_HORIZONTAL), std::pair(16, 16));
  EXPECT_EQ(measured(GTK_ORIENTATION_VERTICAL), std::pair(12, 12));
  g_object_set(view, "auto-size", FALSE, nullptr);
  EXPECT_EQ(measured(GTK_ORIENTATION_HORIZONTAL), std::pair(0, 16));
  EXPECT_EQ(measured(GTK_ORIENTATION_VERTICAL), std::pair(0, 12));
  gtk_window_destroy(GTK_WINDOW(window));
  g_bytes_unref(bytes);
}

// A download ends in "loaded", or in "load-failed" with its number, and
// "loading" is FALSE again; an address that starts no download (blank, or
// the control's "(None)") is no load at all.
struct Fetch {
  const char* name;
  std::string address;  // a path on the test server, or the address itself
  int code;             // 0 loaded, -1 no load
};

void PrintTo(const Fetch& f, std::ostream* os) {
  *os << f.name;
}

class FlipreelDownload : public testing::TestWithParam<Fetch> {};

TEST_P(FlipreelDownload, EndsInOneSignalWithLoadingFalse) {
  const Fetch& f = GetParam();
  testhttp::HttpServer server;
  server.Serve("/ok.gif", {.body = testgif::Build(testgif::Animation(3))});
  GtkWidget* view = g_object_ref_sink(flipreel_view_new());
  g_object_set(view, "show-message-boxes", FALSE, nullptr);
  struct Seen {
    int loaded = 0, failed = 0, code = 0;
  } seen;
  g_signal_connect_swapped(view, "loaded", G_CALLBACK(+[](Seen* s) { ++s->loaded; }), &seen);
  g_signal_connect(view, "load-failed", G_CALLBACK(+[](GtkWidget*, const GError* error, Seen* s) {
                     ++s->failed;
                     s->code = error->code;
                   }),
                   &seen);
  const std::string address = f.address[0] == '/' ? server.Url(f.address) : f.address;
  flipreel_view_load_url(FLIPREEL_VIEW(view), address.c_str());
  Spin(f.code < 0 ? 200 : 5000, [&] { return seen.loaded + seen.failed > 0; });
  gboolean loading = TRUE;
  g_object_get(view, "loading", &loading, nullptr);
  EXPECT_FALSE(loading);
  EXPECT_EQ(seen.loaded, f.code == 0 ? 1 : 0);
  EXPECT_EQ(seen.failed, f.code > 0 ? 1 : 0);
  EXPECT_EQ(seen.code, std::max(f.code, 0));
  EXPECT_EQ(flipreel_view_get_frames(FLIPREEL_VIEW(view)), f.code == 0 ? 3 : 0);
  g_object_unref(view);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, FlipreelDownload,
    testing::Values(Fetch{"Gif", "/ok.gif", 0}, Fetch{"NotFound", "/none.gif", 31004},
                    Fetch{"Blank", "   ", -1}, Fetch{"NoneMarker", "(None)", -1}),
    [](const testing::TestParamInfo<Fetch>& info) { return std::string(info.param.name); });

struct Failure {
  const char* name;
  char source;        // 'b' bytes, 'f' a file, 'r' a resource, 'p' the "flipreel-file" property,
                      // 'L' a file of the bytes grown past the longest a GIF file may be
  std::string input;  // the bytes, or the file's or resource's path
  int code;
};

void PrintTo(const Failure& f, std::ostream* os) {
  *os << f.name;
}

class FlipreelLoadFailure : public testing::TestWithParam<Failure> {};

TEST_P(FlipreelLoadFailure, IsReportedWithItsErrorNumber) {
  const Failure& f = GetParam();
  GtkWidget* view = g_object_ref_sink(flipreel_view_new());
  int signalled = 0;
  g_signal_connect(view, "load-failed", G_CALLBACK(+[](GtkWidget*, const GError* error, int* code) {
                     *code = error->code;
                   }),
                   &signalled);
  const std::filesystem::path path =
      std::filesystem::path(g_get_tmp_dir()) / ("flipreel-long-" + std::to_string(getpid()));
  const std::unique_ptr<const std::filesystem::path, void (*)(const std::filesystem::path*)>
      removed(&path, [](const std::filesystem::path* p) { std::filesystem::remove(*p); });
  if (f.source == 'L') {
    ASSERT_TRUE(g_file_set_contents(path.c_str(), f.input.data(),
                                    static_cast<gssize>(f.input.size()), nullptr));
    std::filesystem::resize_file(path, static_cast<uintmax_t>(flipreel::kMaxGifFileBytes) + 1);
    flipreel_view_load_file(FLIPREEL_VIEW(view), path.c_str());
  } else if (f.source == 'f') {
    flipreel_view_load_file(FLIPREEL_VIEW(view), f.input.c_str());
  } else if (f.source == 'p') {
    g_object_set(view, "flipreel-file", f.input.c_str(), nullptr);
  } else if (f.source == 'r') {
    flipreel_view_load_resource(FLIPREEL_VIEW(view), f.input.c_str());
  } else {
    GBytes* bytes = Bytes(f.input);
    flipreel_view_load_bytes(FLIPREEL_VIEW(view), bytes);
    g_bytes_unref(bytes);
  }
  const GError* error = flipreel_view_get_error(FLIPREEL_VIEW(view));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->domain, FLIPREEL_ERROR);
  // The domain's name is what bindings and printed errors show.
  EXPECT_STREQ(g_quark_to_string(error->domain), "flipreel-error-quark");
  EXPECT_EQ(error->code, f.code);
  EXPECT_EQ(signalled, f.code);
  EXPECT_EQ(flipreel_view_get_frames(FLIPREEL_VIEW(view)), 0);
  g_object_unref(view);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, FlipreelLoadFailure,
    testing::Values(Failure{"MissingFile", 'f', "/nonexistent/flipreel.gif", 53},
                    Failure{"MissingResource", 'r', "/org/flipreel/none.gif", 53},
                    Failure{"Folder", 'f', "/", 75},
                    Failure{"MissingFileByProperty", 'p', "/nonexistent/flipreel.gif", 53},
                    Failure{"FolderByProperty", 'p', "/", 75}, Failure{"EmptyBytes", 'b', "", 481},
                    Failure{"NotAGif", 'b', "PK\x03\x04 not a picture", 481},
                    Failure{"TooLong", 'L', "GIF89a", 7}),
    [](const testing::TestParamInfo<Failure>& info) { return std::string(info.param.name); });

// A view of w x h pixels, with no GIF, shown in a window of its own.
GtkWidget* ShownView(GtkWidget** window, int w, int h) {
  *window = gtk_window_new();
  GtkWidget* view = flipreel_view_new();
  gtk_widget_set_size_request(view, w, h);
  gtk_window_set_child(GTK_WINDOW(*window), view);
  gtk_window_present(GTK_WINDOW(*window));
  Spin(5000, [&] { return gtk_widget_get_width(view) > 0; });
  return view;
}

// A press asks the control: "hit-test" comes once, with the point and the
// answer so far (3 hit inside the view, 0 outside), and what a handler sets
// is the answer later handlers, and the control, get.
struct Press {
  const char* name;
  double x, y;
  int handler_sets;  // -1: leaves the answer alone
  int offered, kept;
};

void PrintTo(const Press& p, std::ostream* os) {
  *os << p.name;
}

class FlipreelViewHitTest : public testing::TestWithParam<Press> {};

TEST_P(FlipreelViewHitTest, APressAsksTheControlAndHandlersMayAnswer) {
  const Press& p = GetParam();
  GtkWidget* window = nullptr;
  GtkWidget* view = ShownView(&window, 40, 30);
  ASSERT_GT(gtk_widget_get_width(view), 10);
  struct Seen {
    int sets, calls = 0, offered = -1, kept = -1;
    double x = -1, y = -1;
  } seen{p.handler_sets};
  g_signal_connect(view, "hit-test",
                   G_CALLBACK(+[](FlipreelView* v, double x, double y, int result, Seen* s) {
                     ++s->calls;
                     s->x = x;
                     s->y = y;
                     s->offered = result;
                     if (s->sets >= 0) flipreel_view_set_hit_result(v, s->sets);
                   }),
                   &seen);
  g_signal_connect(view, "hit-test", G_CALLBACK(+[](FlipreelView* v, double, double, int, Seen* s) {
                     s->kept = flipreel_view_get_hit_result(v);
                   }),
                   &seen);
  // The press as the view's click gesture reports it.
  GListModel* controllers = gtk_widget_observe_controllers(view);
  GObject* click = nullptr;
  for (guint i = 0; i < g_list_model_get_n_items(controllers) && !click; ++i) {
    GObject* controller = G_OBJECT(g_list_model_get_item(controllers, i));
    if (GTK_IS_GESTURE_CLICK(controller)) click = controller;
    g_object_unref(controller);
  }
  g_object_unref(controllers);
  ASSERT_NE(click, nullptr);
  g_signal_emit_by_name(click, "pressed", 1, p.x, p.y);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_DOUBLE_EQ(seen.x, p.x);
  EXPECT_DOUBLE_EQ(seen.y, p.y);
  EXPECT_EQ(seen.offered, p.offered);
  EXPECT_EQ(seen.kept, p.kept);
  EXPECT_EQ(flipreel_view_get_hit_result(FLIPREEL_VIEW(view)), 0);  // none under way
  gtk_window_destroy(GTK_WINDOW(window));
}

INSTANTIATE_TEST_SUITE_P(Presses, FlipreelViewHitTest,
                         testing::Values(Press{"Inside", 10, 5, -1, 3, 3},
                                         Press{"InsideMadeTransparent", 10, 5, 1, 3, 1},
                                         Press{"OutsideMadeClose", -5, 5, 2, 0, 2}),
                         [](const testing::TestParamInfo<Press>& info) {
                           return std::string(info.param.name);
                         });

// Each border style's top edge, from the left corner: X drawn, . a gap.
struct Border {
  int style;
  const char* top;
};

void PrintTo(const Border& b, std::ostream* os) {
  *os << "style " << b.style;
}

class FlipreelViewBorder : public testing::TestWithParam<Border> {};

TEST_P(FlipreelViewBorder, IsDrawnWithTheStylesDashes) {
  const Border& b = GetParam();
  GtkWidget* window = nullptr;
  GtkWidget* view = ShownView(&window, 24, 12);
  const GdkRGBA red = {1, 0, 0, 1};
  g_object_set(view, "back-style", 0, "border-color", &red, "border-style", b.style, nullptr);
  const std::vector<uint32_t> pixels = Render(view);
  std::string top;
  for (size_t x = 0; x < strlen(b.top); ++x) top += pixels[x] == 0xffff0000 ? 'X' : '.';
  EXPECT_EQ(top, b.top);
  gtk_window_destroy(GTK_WINDOW(window));
}

INSTANTIATE_TEST_SUITE_P(Styles, FlipreelViewBorder,
                         testing::Values(Border{1, "XXXXXXXXXXXX"}, Border{2, "XXXX..XXXX.."},
                                         Border{3, "X..X..X..X.."}, Border{4, "XXXX..X..XXX"},
                                         Border{5, "XXXX..X..X.."}, Border{6, "XXXXXXXXXXXX"}),
                         [](const testing::TestParamInfo<Border>& info) {
                           return "Style" + std::to_string(info.param.style);
                         });

}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  // Listing the tests needs no display.
  if (!GTEST_FLAG_GET(list_tests) && !gtk_init_check()) {
    fprintf(stderr,
            "no display (DISPLAY=%s): the GTK tests run under the virtual display ctest starts\n",
            g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "unset");
    return 1;
  }
  return RUN_ALL_TESTS();
}
