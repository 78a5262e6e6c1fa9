#include "flipreel/gtk/flipreel_paintable.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>

#include "flipreel/control/load_outcome.h"
#include "flipreel/gtk/paintable_p.h"
#include "flipreel/host/memory_budget.h"
#include "flipreel/platform/files.h"

struct _FlipreelPaintable {
  GObject parent_instance;
  flipreel::PaintableCore* core;
};

namespace flipreel {

namespace {

guint paintable_signals[kSignalCount];
GParamSpec* paintable_properties[kPropCount];

// A new frame nobody draws for this long means the paintable is not shown.
constexpr int64_t kUndrawnMicroseconds = 250'000;

int32_t RgbaToColor(const GdkRGBA& rgba) {
  auto channel = [](float v) {
    return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
  };
  return static_cast<int32_t>(channel(rgba.red) | (channel(rgba.green) << 8) |
                              (channel(rgba.blue) << 16));
}

HostError ReadError(const GError* error) {
  if (error->domain == G_IO_ERROR) {
    switch (error->code) {
      case G_IO_ERROR_NOT_FOUND:
        return HostError(err::kFileNotFound);
      case G_IO_ERROR_PERMISSION_DENIED:
        return HostError(err::kPermissionDenied);
      default:
        break;
    }
  }
  if (error->domain == G_RESOURCE_ERROR && error->code == G_RESOURCE_ERROR_NOT_FOUND)
    return HostError(err::kFileNotFound);
  return HostError(err::kPathFileAccess, error->message);
}

[[noreturn]] void RaiseReadError(GError* error) {
  const HostError failure = ReadError(error);
  g_error_free(error);
  throw failure;
}

// The whole of a GIO location; raises the error that stops a load before the
// control sees it. A location longer than any GIF file may be is refused
// once that much has been read, not read to its end.
std::string ReadLocation(GFile* file) {
  GError* error = nullptr;
  GFileInputStream* opened = g_file_read(file, nullptr, &error);
  if (!opened) RaiseReadError(error);
  const std::unique_ptr<GFileInputStream, decltype(&g_object_unref)> stream(opened, g_object_unref);
  std::string bytes;
  constexpr size_t kChunk = size_t{1} << 20;
  for (;;) {
    const size_t had = bytes.size();
    bytes.resize(had + kChunk);
    gsize got = 0;
    if (!g_input_stream_read_all(G_INPUT_STREAM(opened), bytes.data() + had, kChunk, &got, nullptr,
                                 &error))
      RaiseReadError(error);
    bytes.resize(had + got);
    if (bytes.size() > static_cast<size_t>(kMaxGifFileBytes))
      Raise(err::kOutOfMemory, FileTooLargeMessage());
    if (got < kChunk) break;
  }
  if (bytes.empty()) Raise(err::kInvalidPicture);
  bytes.shrink_to_fit();
  return bytes;
}

}  // namespace

// Control colours are 0x00BBGGRR, or a system colour (top bit set).
GdkRGBA ColorToRgba(int32_t value) {
  auto bits = static_cast<uint32_t>(value);
  if (IsSystemColor(value)) {
    switch (bits & 0xFF) {
      case 5:  // window background
        bits = 0xFFFFFF;
        break;
      case 15:  // button face
        bits = 0xF0F0F0;
        break;
      default:
        bits = 0;
    }
  }
  return GdkRGBA{static_cast<float>(bits & 0xFF) / 255.0f,
                 static_cast<float>((bits >> 8) & 0xFF) / 255.0f,
                 static_cast<float>((bits >> 16) & 0xFF) / 255.0f, 1.0f};
}

void InstallControlProperties(GObjectClass* klass, GParamSpec** properties) {
  constexpr auto rw = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                               G_PARAM_EXPLICIT_NOTIFY);
  constexpr auto ro = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
  properties[0] = nullptr;
  properties[kPropFlipreelFile] =
      g_param_spec_string("flipreel-file", nullptr, "The GIF file loaded", "(None)", rw);
  // The control's timer takes no negative interval.
  properties[kPropFrameRate] = g_param_spec_int(
      "frame-rate", nullptr, "Milliseconds per frame; 0 plays the GIF's own delays", 0, G_MAXINT16,
      0, rw);
  properties[kPropAutoSize] =
      g_param_spec_boolean("auto-size", nullptr, "Size to the GIF", FALSE, rw);
  properties[kPropSequence] =
      g_param_spec_enum("sequence", nullptr, "The order frames are shown in",
                        FLIPREEL_TYPE_SEQUENCE, FLIPREEL_SEQUENCE_NORMAL, rw);
  properties[kPropStretch] =
      g_param_spec_boolean("stretch", nullptr, "Stretch frames over the surface", FALSE, rw);
  properties[kPropBorderColor] =
      g_param_spec_boxed("border-color", nullptr, "Border colour", GDK_TYPE_RGBA, rw);
  properties[kPropAutoRewind] =
      g_param_spec_int("auto-rewind", nullptr, "Passes to play; 0 for ever", 0, G_MAXINT16, 0, rw);
  properties[kPropPlaying] = g_param_spec_boolean("playing", nullptr, "Playing", FALSE, rw);
  properties[kPropAutoStart] =
      g_param_spec_boolean("auto-start", nullptr, "Play a GIF once loaded", TRUE, rw);
  properties[kPropBackColor] =
      g_param_spec_boxed("back-color", nullptr, "Background colour", GDK_TYPE_RGBA, rw);
  properties[kPropBackStyle] =
      g_param_spec_int("back-style", nullptr, "0 transparent, 1 opaque", 0, 1, 1, rw);
  properties[kPropBorderStyle] = g_param_spec_int(
      "border-style", nullptr, "0 none, 1 solid, 2-5 dashed and dotted, 6 inside", 0, 6, 0, rw);
  properties[kPropFrames] =
      g_param_spec_int("frames", nullptr, "Frames loaded", 0, G_MAXINT16, 0, ro);
  properties[kPropCurrentFrame] = g_param_spec_int("current-frame", nullptr, "The frame on show",
                                                   G_MININT16, G_MAXINT16, 0, rw);
  properties[kPropGifFromUrl] =
      g_param_spec_string("gif-from-url", nullptr, "The address downloaded", "(None)", rw);
  properties[kPropServerUserName] =
      g_param_spec_string("server-user-name", nullptr, "User name for downloads", "", rw);
  properties[kPropServerPassword] =
      g_param_spec_string("server-password", nullptr, "Password for downloads", "", rw);
  properties[kPropComposed] =
      g_param_spec_boolean("composed", nullptr, "Show the GIF as its author drew it", TRUE, rw);
  properties[kPropShowMessageBoxes] = g_param_spec_boolean(
      "show-message-boxes", nullptr, "Show the control's message boxes", TRUE, rw);
  properties[kPropLoading] =
      g_param_spec_boolean("loading", nullptr, "A load is under way", FALSE, ro);
  g_object_class_install_properties(klass, kPropCount, properties);
}

void CreateControlSignals(GType type, guint* ids) {
  constexpr auto flags = G_SIGNAL_RUN_LAST;
  auto simple = [&](const char* name) {
    return g_signal_new(name, type, flags, 0, nullptr, nullptr, nullptr, G_TYPE_NONE, 0);
  };
  ids[kSignalFrame] = simple("frame");
  ids[kSignalReadFinished] = simple("read-finished");
  ids[kSignalPlayFinished] = simple("play-finished");
  ids[kSignalLoaded] = simple("loaded");
  // Bytes read so far, and in all (0 when not known).
  ids[kSignalAsyncReadProgress] =
      g_signal_new("async-read-progress", type, flags, 0, nullptr, nullptr, nullptr, G_TYPE_NONE, 2,
                   G_TYPE_INT64, G_TYPE_INT64);
  // Whether the download succeeded.
  ids[kSignalAsyncReadComplete] = g_signal_new("async-read-complete", type, flags, 0, nullptr,
                                               nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_BOOLEAN);
  ids[kSignalLoadFailed] = g_signal_new("load-failed", type, flags, 0, nullptr, nullptr, nullptr,
                                        G_TYPE_NONE, 1, G_TYPE_ERROR);
  // The control shows a message (its style: 16 critical, 48 exclamation,
  // 64 information, and its text); a box follows if "show-message-boxes".
  ids[kSignalMessageShown] = g_signal_new("message-shown", type, flags, 0, nullptr, nullptr,
                                          nullptr, G_TYPE_NONE, 2, G_TYPE_INT, G_TYPE_STRING);
  // A press at (x, y), in pixels, and the control's answer so far: 0 outside,
  // 1 transparent, 2 close, 3 hit. A handler changes the answer with
  // flipreel_view_set_hit_result() (or the paintable's) while it runs.
  ids[kSignalHitTest] = g_signal_new("hit-test", type, flags, 0, nullptr, nullptr, nullptr,
                                     G_TYPE_NONE, 3, G_TYPE_DOUBLE, G_TYPE_DOUBLE, G_TYPE_INT);
}

PaintableCore& CoreOf(FlipreelPaintable* paintable) {
  return *paintable->core;
}

PaintableCore::PaintableCore(FlipreelPaintable* owner, const guint* signals,
                             GParamSpec** properties)
    : owner_(owner), signals_(signals), properties_(properties), host_(*this) {
  control_ = std::make_unique<Flipreel>(host_);
  control_->AddListener(this);
  control_->InitProperties();
  // The face shows a GIF as its author drew it.
  (void)Trap([&] { control_->SetComposed(true); });
  announced_ = Current();
}

PaintableCore::~PaintableCore() {
  control_->RemoveListener(this);
  control_.reset();
  g_clear_error(&error_);
}

PaintableCore::Values PaintableCore::Current() const {
  Values v;
  const Flipreel& c = *control_;
  v.texts[kPropFlipreelFile] = c.FlipreelFile();
  v.numbers[kPropFrameRate] = c.FrameRate();
  v.numbers[kPropAutoSize] = c.AutoSize();
  v.numbers[kPropSequence] = c.Sequence();
  v.numbers[kPropStretch] = c.Stretch();
  v.numbers[kPropBorderColor] = c.BorderColor();
  v.numbers[kPropAutoRewind] = c.AutoRewind();
  v.numbers[kPropPlaying] = c.Playing();
  v.numbers[kPropAutoStart] = c.AutoStart();
  v.numbers[kPropBackColor] = c.BackColor();
  v.numbers[kPropBackStyle] = c.BackStyle();
  v.numbers[kPropBorderStyle] = c.BorderStyle();
  v.numbers[kPropFrames] = c.Frames();
  v.numbers[kPropCurrentFrame] = c.CurrentFrame();
  v.texts[kPropGifFromUrl] = c.GifFromURL();
  v.texts[kPropServerUserName] = c.ServerUserName();
  v.texts[kPropServerPassword] = c.ServerPassword();
  v.numbers[kPropComposed] = c.Composed();
  v.numbers[kPropShowMessageBoxes] = host_.show_message_boxes();
  v.numbers[kPropLoading] = loading_;
  return v;
}

// Notifies what changed since the last announcement.
void PaintableCore::Announce() {
  Values now = Current();
  Values was = std::exchange(announced_, now);
  g_object_freeze_notify(G_OBJECT(owner_));
  for (guint id = 1; id < kPropCount; ++id) {
    if (now.numbers[id] != was.numbers[id] || now.texts[id] != was.texts[id])
      g_object_notify_by_pspec(G_OBJECT(owner_), properties_[id]);
  }
  g_object_thaw_notify(G_OBJECT(owner_));
}

void PaintableCore::GetProperty(guint id, GValue* value) {
  if (id != kPropLoading) FinishLoading();
  const Flipreel& c = *control_;
  auto text = [&](const Text& t) { g_value_set_string(value, TextToUtf8(t).c_str()); };
  switch (id) {
    case kPropFlipreelFile:
      return text(c.FlipreelFile());
    case kPropFrameRate:
      return g_value_set_int(value, c.FrameRate());
    case kPropAutoSize:
      return g_value_set_boolean(value, c.AutoSize());
    case kPropSequence:
      return g_value_set_enum(value, c.Sequence());
    case kPropStretch:
      return g_value_set_boolean(value, c.Stretch());
    case kPropBorderColor: {
      const GdkRGBA rgba = ColorToRgba(c.BorderColor());
      return g_value_set_boxed(value, &rgba);
    }
    case kPropAutoRewind:
      return g_value_set_int(value, c.AutoRewind());
    case kPropPlaying:
      return g_value_set_boolean(value, c.Playing());
    case kPropAutoStart:
      return g_value_set_boolean(value, c.AutoStart());
    case kPropBackColor: {
      const GdkRGBA rgba = ColorToRgba(c.BackColor());
      return g_value_set_boxed(value, &rgba);
    }
    case kPropBackStyle:
      return g_value_set_int(value, c.BackStyle());
    case kPropBorderStyle:
      return g_value_set_int(value, c.BorderStyle());
    case kPropFrames:
      return g_value_set_int(value, c.Frames());
    case kPropCurrentFrame:
      return g_value_set_int(value, c.CurrentFrame());
    case kPropGifFromUrl:
      return text(c.GifFromURL());
    case kPropServerUserName:
      return text(c.ServerUserName());
    case kPropServerPassword:
      return text(c.ServerPassword());
    case kPropComposed:
      return g_value_set_boolean(value, c.Composed());
    case kPropShowMessageBoxes:
      return g_value_set_boolean(value, host_.show_message_boxes());
    case kPropLoading:
      return g_value_set_boolean(value, loading_);
    default:
      break;
  }
}

void PaintableCore::SetProperty(guint id, const GValue* value) {
  Flipreel& c = *control_;
  auto text = [&] {
    return Utf8ToText(g_value_get_string(value) ? g_value_get_string(value) : "");
  };
  auto color = [&] {
    const auto* rgba = static_cast<const GdkRGBA*>(g_value_get_boxed(value));
    return rgba ? RgbaToColor(*rgba) : 0;
  };
  switch (id) {
    case kPropFlipreelFile: {
      // The control's own load of a file: synchronous, with its messages.
      host_.DropPreparedAnimation();
      host_.trapped_errors().clear();
      const Text path = text();
      // No file, and the two markers ("Gif" is only stored, "(None)"
      // clears), are no load: the control only keeps or lets go its GIF.
      if (path.empty() || path == u"Gif" || path == u"(None)") {
        Call([&] { c.SetFlipreelFile(path); });
        return FramesChanged();
      }
      const std::optional<HostError> problem = CheckGifFile(TextToUtf8(path));
      Call([&] { c.SetFlipreelFile(path); });
      return Ended(problem);
    }
    case kPropFrameRate:
      Call([&] { c.SetFrameRate(static_cast<int16_t>(g_value_get_int(value))); });
      break;
    case kPropAutoSize:
      Call([&] { c.SetAutoSize(g_value_get_boolean(value)); });
      break;
    case kPropSequence:
      Call([&] { c.SetSequence(g_value_get_enum(value)); });
      break;
    case kPropStretch:
      Call([&] { c.SetStretch(g_value_get_boolean(value)); });
      break;
    case kPropBorderColor:
      Call([&] { c.SetBorderColor(color()); });
      break;
    case kPropAutoRewind:
      Call([&] { c.SetAutoRewind(static_cast<int16_t>(g_value_get_int(value))); });
      break;
    case kPropPlaying:
      Call([&] { c.SetPlaying(g_value_get_boolean(value)); });
      break;
    case kPropAutoStart:
      Call([&] { c.SetAutoStart(g_value_get_boolean(value)); });
      break;
    case kPropBackColor:
      Call([&] { c.SetBackColor(color()); });
      break;
    case kPropBackStyle:
      Call([&] { c.SetBackStyle(g_value_get_int(value)); });
      break;
    case kPropBorderStyle:
      Call([&] { c.SetBorderStyle(g_value_get_int(value)); });
      break;
    case kPropCurrentFrame:
      Call([&] { c.SetCurrentFrame(static_cast<int16_t>(g_value_get_int(value))); });
      break;
    case kPropGifFromUrl:
      return LoadUrl(g_value_get_string(value));
    case kPropServerUserName:
      Call([&] { c.SetServerUserName(text()); });
      break;
    case kPropServerPassword:
      Call([&] { c.SetServerPassword(text()); });
      break;
    case kPropComposed:
      Call([&] { c.SetComposed(g_value_get_boolean(value)); });
      FramesChanged();
      break;
    case kPropShowMessageBoxes:
      host_.set_show_message_boxes(g_value_get_boolean(value));
      Announce();
      break;
    default:
      break;
  }
}

// --- loading ---------------------------------------------------------------------

void PaintableCore::Load(std::function<std::string()> read) {
  host_.DropPreparedAnimation();
  if (std::exchange(downloading_, false)) (void)Trap([&] { control_->CancelAsyncRead(); });
  SetError(std::nullopt);
  SetLoading(true);
  // Composed, the frames are composed there too; the classic control splits
  // the bytes itself when it loads them.
  host_.PrepareAnimation(
      std::move(read),
      [this](std::shared_ptr<const std::string> bytes, std::optional<HostError> unread) {
        LoadBytes(bytes ? *bytes : std::string_view(), unread);
      },
      control_->Composed());
}

void PaintableCore::LoadBytes(std::string_view bytes, const std::optional<HostError>& raised) {
  host_.trapped_errors().clear();
  std::optional<HostError> load =
      Trap([&] { LoadGifBytes(*control_, host_, raised ? std::string_view() : bytes); });
  Ended(raised ? raised : load);
}

void PaintableCore::LoadUrl(const char* url) {
  const Text address = Utf8ToText(url ? url : "");
  const int64_t reads = host_.reads_started();
  host_.trapped_errors().clear();
  std::optional<HostError> raised = Trap([&] { control_->SetGifFromURL(address); });
  if (!raised && !host_.trapped_errors().empty()) raised = host_.trapped_errors().front();
  // A blank address or "(None)" starts no download: the control only keeps
  // it, and its GIF, or a download or load under way, stays as it was.
  if (!raised && host_.reads_started() == reads) return Announce();
  host_.DropPreparedAnimation();
  SetError(std::nullopt);
  if (raised) {
    downloading_ = false;
    return Ended(raised);
  }
  downloading_ = true;
  SetLoading(true);
}

void PaintableCore::RemoveGif() {
  host_.DropPreparedAnimation();
  if (std::exchange(downloading_, false)) (void)Trap([&] { control_->CancelAsyncRead(); });
  Call([&] { control_->RemoveGif(); });
  FramesChanged();
  SetError(std::nullopt);
  SetLoading(false);
  Announce();
}

// A load has ended: the error tells how.
void PaintableCore::Ended(const std::optional<HostError>& raised) {
  FramesChanged();
  const std::optional<HostError> failure = LoadFailure(*control_, raised, host_.trapped_errors());
  host_.trapped_errors().clear();
  SetError(failure);
  SetLoading(false);
  Announce();
  if (failure)
    g_signal_emit(owner_, signals_[kSignalLoadFailed], 0, error_);
  else
    g_signal_emit(owner_, signals_[kSignalLoaded], 0);
}

void PaintableCore::SetError(const std::optional<HostError>& error) {
  g_clear_error(&error_);
  if (error) error_ = g_error_new_literal(FLIPREEL_ERROR, error->number(), error->what());
}

void PaintableCore::SetLoading(bool loading) {
  loading_ = loading;
  Announce();
}

// The frames changed (a load, a switch of Composed): the index of every
// picture, and the box all frames lie in.
void PaintableCore::FramesChanged() {
  index_.clear();
  textures_.Clear();
  int left = 0, top = 0, right = 0, bottom = 0;
  bool any = false;
  size_t texture_bytes = 0, largest = 0;
  const ImageArray& frames = control_->imgBuffer();
  if (control_->state().FramesLoaded) {
    for (int32_t i = 0; i <= frames.UBound(); ++i) {
      if (!frames.Exists(i)) continue;
      const Image& frame = frames(i);
      if (frame.picture().IsEmpty()) continue;
      index_.emplace(frame.picture().data(), i);
      const size_t bytes = size_t{4} * static_cast<size_t>(frame.picture().width()) *
                           static_cast<size_t>(frame.picture().height());
      texture_bytes += bytes;
      largest = std::max(largest, bytes);
      const int x = static_cast<int>(std::lround(frame.left() / GtkHost::kTwipsPerPixel));
      const int y = static_cast<int>(std::lround(frame.top() / GtkHost::kTwipsPerPixel));
      if (!any) {
        left = x, top = y, right = x + frame.picture().width(),
        bottom = y + frame.picture().height();
        any = true;
      }
      left = std::min(left, x);
      top = std::min(top, y);
      right = std::max(right, x + frame.picture().width());
      bottom = std::max(bottom, y + frame.picture().height());
    }
  }
  // Every frame's texture kept when they all fit; otherwise each would be
  // made again on every pass anyway, so only the last few are kept.
  textures_.set_budget(texture_bytes <= TextureCache::kDefaultBudget ? TextureCache::kDefaultBudget
                                                                     : 3 * largest);
  const bool resized = right - left != bounds_w_ || bottom - top != bounds_h_;
  bounds_x_ = left, bounds_y_ = top, bounds_w_ = right - left, bounds_h_ = bottom - top;
  if (resized) gdk_paintable_invalidate_size(GDK_PAINTABLE(owner_));
  gdk_paintable_invalidate_contents(GDK_PAINTABLE(owner_));
}

int PaintableCore::FrameDelay(int frame) {
  FinishLoading();
  const ImageArray& frames = control_->imgBuffer();
  if (frame < 0 || frame > frames.UBound() || !frames.Exists(frame)) return -1;
  const std::string tag = TextToUtf8(frames(frame).tag());
  char* end = nullptr;
  const long delay = std::strtol(tag.c_str(), &end, 10);
  return end != tag.c_str() ? static_cast<int>(delay) : -1;
}

// --- showing ---------------------------------------------------------------------

void PaintableCore::SetShown(bool shown) {
  shown_ = shown;
  undrawn_since_ = 0;
  host_.SetActive(shown);
  // Whatever else draws the paintable (a GtkPicture showing a hidden view's
  // paintable) draws it again, and so keeps it playing.
  if (!shown) gdk_paintable_invalidate_contents(GDK_PAINTABLE(owner_));
}

// Drawn by its view, or by anything else while the view is hidden.
void PaintableCore::Drawn() {
  undrawn_since_ = 0;
  if (!shown_) host_.SetActive(true);
}

void PaintableCore::Snapshot(GdkSnapshot* gdk_snapshot, double width, double height) {
  Drawn();
  Draw(gdk_snapshot, width, height);
}

void PaintableCore::Draw(GdkSnapshot* gdk_snapshot, double width, double height) {
  GtkSnapshot* snapshot = GTK_SNAPSHOT(gdk_snapshot);
  const Image& shown = control_->imgGif();
  if (!shown.visible() || shown.picture().IsEmpty() || width <= 0 || height <= 0) return;
  const Picture& picture = shown.picture();
  // The frame's place in the box all frames lie in, scaled to the size asked.
  int x = bounds_x_, y = bounds_y_;
  if (auto it = index_.find(picture.data()); it != index_.end()) {
    const Image& frame = control_->imgBuffer()(it->second);
    x = static_cast<int>(std::lround(frame.left() / GtkHost::kTwipsPerPixel));
    y = static_cast<int>(std::lround(frame.top() / GtkHost::kTwipsPerPixel));
  }
  const double box_w = bounds_w_ > 0 ? bounds_w_ : picture.width();
  const double box_h = bounds_h_ > 0 ? bounds_h_ : picture.height();
  const double sx = width / box_w, sy = height / box_h;
  const graphene_rect_t target = GRAPHENE_RECT_INIT(
      static_cast<float>((x - bounds_x_) * sx), static_cast<float>((y - bounds_y_) * sy),
      static_cast<float>(picture.width() * sx), static_cast<float>(picture.height() * sy));
  gtk_snapshot_append_texture(snapshot, textures_.Get(picture), &target);
}

void PaintableCore::ElementChanged(const Element& element, ElementProperty what) {
  // The control's elements tell of their first values while it is built,
  // before control_ holds it.
  if (!control_) return;
  if (&element == &control_->imgGif()) {
    // A frame that nobody has drawn for a while: the paintable is not shown,
    // and plays again when it is drawn.
    if (what == ElementProperty::kPicture && !shown_ && host_.active()) {
      const int64_t now = g_get_monotonic_time();
      if (undrawn_since_ == 0) {
        undrawn_since_ = now;
      } else if (now - undrawn_since_ > kUndrawnMicroseconds) {
        host_.SetActive(false);
      }
    }
    gdk_paintable_invalidate_contents(GDK_PAINTABLE(owner_));
  }
  // The view draws the other elements; it listens to the contents too.
  else {
    gdk_paintable_invalidate_contents(GDK_PAINTABLE(owner_));
  }
}

void PaintableCore::HostEventFailed(std::string_view event, const HostError& error) {
  g_warning("Flipreel: the %.*s event failed with error %d: %s", static_cast<int>(event.size()),
            event.data(), error.number(), error.what());
}

// The control has loaded what the download brought, or trapped why it
// could not.
void PaintableCore::ReadCompleted(const AsyncProp& prop) {
  if (!downloading_ || prop.PropertyName != u"GifFromURL") return;
  downloading_ = false;
  Ended(std::nullopt);
}

bool PaintableCore::MessageShown(int16_t style, const Text& text) {
  g_signal_emit(owner_, signals_[kSignalMessageShown], 0, static_cast<int>(style),
                TextToUtf8(text).c_str());
  // A box needs a window: a paintable outside a view shows none.
  return message_parent_ != nullptr;
}

void* PaintableCore::MessageParent() {
  if (!message_parent_) return nullptr;
  GtkRoot* root = gtk_widget_get_root(message_parent_);
  return root && GTK_IS_WINDOW(root) ? root : nullptr;
}

void PaintableCore::Frame() {
  g_signal_emit(owner_, signals_[kSignalFrame], 0);
}
void PaintableCore::ReadFinished() {
  g_signal_emit(owner_, signals_[kSignalReadFinished], 0);
}
void PaintableCore::PlayFinished() {
  g_signal_emit(owner_, signals_[kSignalPlayFinished], 0);
}
void PaintableCore::AsyncReadComplete(AsyncProp& prop) {
  g_signal_emit(owner_, signals_[kSignalAsyncReadComplete], 0,
                prop.Status == AsyncStatus::kCompleted);
}
void PaintableCore::AsyncReadProgress(AsyncProp& prop) {
  g_signal_emit(owner_, signals_[kSignalAsyncReadProgress], 0, static_cast<gint64>(prop.BytesRead),
                static_cast<gint64>(prop.BytesMax));
}

void PaintableCore::HitTest(float& x, float& y, int16_t& hit_result) {
  int16_t* outer = hit_result_;
  hit_result_ = &hit_result;
  g_signal_emit(owner_, signals_[kSignalHitTest], 0, x / GtkHost::kTwipsPerPixel,
                y / GtkHost::kTwipsPerPixel, static_cast<int>(hit_result));
  hit_result_ = outer;
}

bool PaintableCore::AskHitTest(double x, double y, int16_t result) {
  constexpr int16_t kHitClose = 2;
  float tx = static_cast<float>(x * GtkHost::kTwipsPerPixel);
  float ty = static_cast<float>(y * GtkHost::kTwipsPerPixel);
  Call([&] { control_->OnHitTest(tx, ty, result); });
  return result >= kHitClose;
}

bool PaintableCore::SetHitResult(int16_t result) {
  if (!hit_result_) return false;
  *hit_result_ = result;
  return true;
}

}  // namespace flipreel

// --- the GObject -------------------------------------------------------------------

using flipreel::CoreOf;
using flipreel::paintable_properties;
using flipreel::paintable_signals;

static void flipreel_paintable_snapshot(GdkPaintable* paintable, GdkSnapshot* snapshot,
                                        double width, double height) {
  CoreOf(FLIPREEL_PAINTABLE(paintable)).Snapshot(snapshot, width, height);
}

static int flipreel_paintable_intrinsic_width(GdkPaintable* paintable) {
  return CoreOf(FLIPREEL_PAINTABLE(paintable)).intrinsic_width();
}

static int flipreel_paintable_intrinsic_height(GdkPaintable* paintable) {
  return CoreOf(FLIPREEL_PAINTABLE(paintable)).intrinsic_height();
}

// The frame on show now as a still texture of the paintable's size, for
// whoever keeps what is shown (a drag icon, a copy). Taking it is no drawing:
// it does not keep the animation playing, nor wait for a load under way.
static GdkPaintable* flipreel_paintable_get_current_image(GdkPaintable* paintable) {
  flipreel::PaintableCore& core = CoreOf(FLIPREEL_PAINTABLE(paintable));
  const int w = core.intrinsic_width(), h = core.intrinsic_height();
  if (w <= 0 || h <= 0) return gdk_paintable_new_empty(w, h);
  GtkSnapshot* snapshot = gtk_snapshot_new();
  core.Draw(snapshot, w, h);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (node) {
    cairo_t* cr = cairo_create(surface);
    gsk_render_node_draw(node, cr);
    cairo_destroy(cr);
    gsk_render_node_unref(node);
  }
  cairo_surface_flush(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  // cairo's ARGB32 is GDK's default memory format, premultiplied words.
  GBytes* bytes =
      g_bytes_new(cairo_image_surface_get_data(surface), static_cast<gsize>(stride) * h);
  GdkTexture* texture = gdk_memory_texture_new(w, h, GDK_MEMORY_DEFAULT, bytes, stride);
  g_bytes_unref(bytes);
  cairo_surface_destroy(surface);
  return GDK_PAINTABLE(texture);
}

static void flipreel_paintable_iface_init(GdkPaintableInterface* iface) {
  iface->get_current_image = flipreel_paintable_get_current_image;
  iface->snapshot = flipreel_paintable_snapshot;
  iface->get_intrinsic_width = flipreel_paintable_intrinsic_width;
  iface->get_intrinsic_height = flipreel_paintable_intrinsic_height;
}

G_DEFINE_FINAL_TYPE_WITH_CODE(FlipreelPaintable, flipreel_paintable, G_TYPE_OBJECT,
                              G_IMPLEMENT_INTERFACE(GDK_TYPE_PAINTABLE,
                                                    flipreel_paintable_iface_init))

GType flipreel_sequence_get_type(void) {
  static GType type = 0;
  if (g_once_init_enter(&type)) {
    static const GEnumValue values[] = {
        {FLIPREEL_SEQUENCE_NORMAL, "FLIPREEL_SEQUENCE_NORMAL", "normal"},
        {FLIPREEL_SEQUENCE_REVERSE, "FLIPREEL_SEQUENCE_REVERSE", "reverse"},
        {FLIPREEL_SEQUENCE_RANDOM, "FLIPREEL_SEQUENCE_RANDOM", "random"},
        {FLIPREEL_SEQUENCE_PING_PONG, "FLIPREEL_SEQUENCE_PING_PONG", "ping-pong"},
        {0, nullptr, nullptr}};
    g_once_init_leave(&type, g_enum_register_static("FlipreelSequence", values));
  }
  return type;
}

// Spelt out rather than through G_DEFINE_QUARK, whose name argument a
// formatter would split at its dashes into the quark's string.
GQuark flipreel_error_quark(void) {
  return g_quark_from_static_string("flipreel-error-quark");
}

static void flipreel_paintable_init(FlipreelPaintable* self) {
  self->core = new flipreel::PaintableCore(self, paintable_signals, paintable_properties);
}

static void flipreel_paintable_finalize(GObject* object) {
  delete FLIPREEL_PAINTABLE(object)->core;
  G_OBJECT_CLASS(flipreel_paintable_parent_class)->finalize(object);
}

static void flipreel_paintable_get_property(GObject* object, guint id, GValue* value, GParamSpec*) {
  CoreOf(FLIPREEL_PAINTABLE(object)).GetProperty(id, value);
}

static void flipreel_paintable_set_property(GObject* object, guint id, const GValue* value,
                                            GParamSpec*) {
  CoreOf(FLIPREEL_PAINTABLE(object)).SetProperty(id, value);
}

static void flipreel_paintable_class_init(FlipreelPaintableClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->finalize = flipreel_paintable_finalize;
  object_class->get_property = flipreel_paintable_get_property;
  object_class->set_property = flipreel_paintable_set_property;
  flipreel::InstallControlProperties(object_class, paintable_properties);
  flipreel::CreateControlSignals(FLIPREEL_TYPE_PAINTABLE, paintable_signals);
}

FlipreelPaintable* flipreel_paintable_new(void) {
  return FLIPREEL_PAINTABLE(g_object_new(FLIPREEL_TYPE_PAINTABLE, nullptr));
}

FlipreelPaintable* flipreel_paintable_new_for_file(const char* path) {
  FlipreelPaintable* self = flipreel_paintable_new();
  flipreel_paintable_load_file(self, path);
  return self;
}

void flipreel_paintable_load_gfile(FlipreelPaintable* self, GFile* file) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self) && G_IS_FILE(file));
  g_object_ref(file);
  auto owned = std::shared_ptr<GFile>(file, g_object_unref);
  CoreOf(self).Load([owned] { return flipreel::ReadLocation(owned.get()); });
}

void flipreel_paintable_load_file(FlipreelPaintable* self, const char* path) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self) && path);
  GFile* file = g_file_new_for_path(path);
  flipreel_paintable_load_gfile(self, file);
  g_object_unref(file);
}

void flipreel_paintable_load_resource(FlipreelPaintable* self, const char* resource_path) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self) && resource_path);
  char* escaped = g_uri_escape_string(resource_path, "/", FALSE);
  char* uri = g_strconcat("resource://", escaped, nullptr);
  GFile* file = g_file_new_for_uri(uri);
  flipreel_paintable_load_gfile(self, file);
  g_object_unref(file);
  g_free(uri);
  g_free(escaped);
}

void flipreel_paintable_load_bytes(FlipreelPaintable* self, GBytes* bytes) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self) && bytes);
  auto owned = std::shared_ptr<GBytes>(g_bytes_ref(bytes), g_bytes_unref);
  CoreOf(self).Load([owned] {
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(owned.get(), &size));
    if (size == 0) flipreel::Raise(flipreel::err::kInvalidPicture);
    return std::string(data, size);
  });
}

void flipreel_paintable_load_url(FlipreelPaintable* self, const char* url) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));
  CoreOf(self).LoadUrl(url);
}

void flipreel_paintable_remove_gif(FlipreelPaintable* self) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));
  CoreOf(self).RemoveGif();
}

const GError* flipreel_paintable_get_error(FlipreelPaintable* self) {
  g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), nullptr);
  return CoreOf(self).error();
}

void flipreel_paintable_finish_loading(FlipreelPaintable* self) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));
  CoreOf(self).FinishLoading();
}

void flipreel_paintable_set_hit_result(FlipreelPaintable* self, int result) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));
  g_return_if_fail(result >= G_MININT16 && result <= G_MAXINT16);
  if (!CoreOf(self).SetHitResult(static_cast<int16_t>(result)))
    g_critical("flipreel_paintable_set_hit_result: valid only in a \"hit-test\" handler");
}

int flipreel_paintable_get_hit_result(FlipreelPaintable* self) {
  g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), 0);
  return CoreOf(self).hit_result();
}

void flipreel_paintable_start_animation(FlipreelPaintable* self) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));
  CoreOf(self).Call([&] { CoreOf(self).control().StartAnimation(); });
}

void flipreel_paintable_stop_animation(FlipreelPaintable* self) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));
  CoreOf(self).Call([&] { CoreOf(self).control().StopAnimation(); });
}

#define FLIPREEL_PAINTABLE_ACCESSORS(type, name)                            \
  type flipreel_paintable_get_##name(FlipreelPaintable* self) {             \
    g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), type{});              \
    type value{};                                                           \
    g_object_get(self, #name, &value, nullptr);                             \
    return value;                                                           \
  }                                                                         \
  void flipreel_paintable_set_##name(FlipreelPaintable* self, type value) { \
    g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));                          \
    g_object_set(self, #name, value, nullptr);                              \
  }
FLIPREEL_PAINTABLE_ACCESSORS(gboolean, playing)
FLIPREEL_PAINTABLE_ACCESSORS(gboolean, composed)
FLIPREEL_PAINTABLE_ACCESSORS(FlipreelSequence, sequence)
#undef FLIPREEL_PAINTABLE_ACCESSORS

int flipreel_paintable_get_frames(FlipreelPaintable* self) {
  g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), 0);
  CoreOf(self).FinishLoading();
  return CoreOf(self).control().Frames();
}

int flipreel_paintable_get_current_frame(FlipreelPaintable* self) {
  g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), 0);
  CoreOf(self).FinishLoading();
  return CoreOf(self).control().CurrentFrame();
}

void flipreel_paintable_set_current_frame(FlipreelPaintable* self, int frame) {
  g_return_if_fail(FLIPREEL_IS_PAINTABLE(self));
  g_object_set(self, "current-frame", frame, nullptr);
}

int flipreel_paintable_get_frame_delay(FlipreelPaintable* self, int frame) {
  g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), -1);
  return CoreOf(self).FrameDelay(frame);
}

gint64 flipreel_paintable_get_ticks(FlipreelPaintable* self) {
  g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), 0);
  return CoreOf(self).host().ticks_delivered();
}

gboolean flipreel_paintable_tick(FlipreelPaintable* self) {
  g_return_val_if_fail(FLIPREEL_IS_PAINTABLE(self), FALSE);
  CoreOf(self).FinishLoading();
  return CoreOf(self).host().DeliverTick();
}
