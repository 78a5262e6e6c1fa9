#include "flipreel/gtk/flipreel_view.h"

#include <cmath>
#include <utility>
#include <vector>

#include "flipreel/gtk/paintable_p.h"

struct _FlipreelView {
  GtkWidget parent_instance;
  FlipreelPaintable* paintable;
  bool allocating;
  // Under GSK's cairo renderer, a surface made like the window's, which the
  // frames' images are made like; null under other renderers.
  cairo_surface_t* like;
  bool like_checked;
  gulong forwards[flipreel::kSignalCount];
};

G_DEFINE_FINAL_TYPE(FlipreelView, flipreel_view, GTK_TYPE_WIDGET)

namespace {

using flipreel::CoreOf;
using flipreel::GtkHost;

guint view_signals[flipreel::kSignalCount];
GParamSpec* view_properties[flipreel::kPropCount];

// A signal of the paintable, emitted again by the view.
struct Forward {
  GClosure closure;
  FlipreelView* view;
  guint signal;
};

void ForwardMarshal(GClosure* closure, GValue* return_value, guint count, const GValue* params,
                    gpointer, gpointer) {
  auto* forward = reinterpret_cast<Forward*>(closure);
  std::vector<GValue> args(count, G_VALUE_INIT);
  g_value_init(&args[0], FLIPREEL_TYPE_VIEW);
  g_value_set_object(&args[0], forward->view);
  for (guint i = 1; i < count; ++i) {
    g_value_init(&args[i], G_VALUE_TYPE(&params[i]));
    g_value_copy(&params[i], &args[i]);
  }
  g_signal_emitv(args.data(), forward->signal, 0, return_value);
  for (GValue& arg : args) g_value_unset(&arg);
}

int Px(double twips) {
  return static_cast<int>(std::lround(twips / GtkHost::kTwipsPerPixel));
}

// An element's box in pixels; edges are rounded each on its own, so that
// neighbouring elements stay adjacent.
graphene_rect_t BoxOf(float left, float top, float width, float height) {
  const int x = Px(left), y = Px(top);
  return GRAPHENE_RECT_INIT(static_cast<float>(x), static_cast<float>(y),
                            static_cast<float>(Px(left + width) - x),
                            static_cast<float>(Px(top + height) - y));
}

// The dashes of border styles 2 dash, 3 dot, 4 dash-dot and 5 dash-dot-dot,
// in pixels on and off, as the Qt face draws them; empty for solid lines.
std::vector<double> DashesOf(int16_t border_style) {
  switch (border_style) {
    case 2:
      return {4, 2};
    case 3:
      return {1, 2};
    case 4:
      return {4, 2, 1, 2};
    case 5:
      return {4, 2, 1, 2, 1, 2};
    default:
      return {};  // 1 solid, 6 inside solid
  }
}

// A one-pixel outline just inside r: solid, or dashed by the style.
void DrawOutline(GtkSnapshot* snapshot, const graphene_rect_t& r, const GdkRGBA& c,
                 int16_t border_style) {
  const std::vector<double> dashes = DashesOf(border_style);
  if (dashes.empty()) {
    const GdkRGBA colors[4] = {c, c, c, c};
    const float widths[4] = {1, 1, 1, 1};
    GskRoundedRect outline;
    gsk_rounded_rect_init_from_rect(&outline, &r, 0);
    gtk_snapshot_append_border(snapshot, &outline, widths, colors);
    return;
  }
  cairo_t* cr = gtk_snapshot_append_cairo(snapshot, &r);
  gdk_cairo_set_source_rgba(cr, &c);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, 1);
  cairo_set_dash(cr, dashes.data(), static_cast<int>(dashes.size()), 0);
  // Through the middle of the edge pixels, so each dash covers whole pixels.
  cairo_rectangle(cr, r.origin.x + 0.5, r.origin.y + 0.5, r.size.width - 1, r.size.height - 1);
  cairo_stroke(cr);
  cairo_destroy(cr);
}

// Fill (BackStyle 1) and a one-pixel outline (any BorderStyle but 0).
void DrawShape(GtkSnapshot* snapshot, const flipreel::Shape& shape) {
  if (!shape.visible()) return;
  const graphene_rect_t r = BoxOf(shape.left(), shape.top(), shape.width(), shape.height());
  if (r.size.width <= 0 || r.size.height <= 0) return;
  if (shape.back_style() == 1) {
    const GdkRGBA fill = flipreel::ColorToRgba(shape.back_color());
    gtk_snapshot_append_color(snapshot, &fill, &r);
  }
  if (shape.border_style() == 0) return;
  DrawOutline(snapshot, r, flipreel::ColorToRgba(shape.border_color()), shape.border_style());
}

// The picture over `target`: under the cairo renderer, from the image kept
// for it (a texture would be copied on every draw there); else its texture.
void AppendPicture(GtkSnapshot* snapshot, const flipreel::Picture& picture,
                   const graphene_rect_t& target, flipreel::TextureCache& textures,
                   cairo_surface_t* like) {
  if (!like) {
    gtk_snapshot_append_texture(snapshot, textures.Get(picture), &target);
    return;
  }
  cairo_surface_t* image = textures.GetSurface(picture, like);
  cairo_t* cr = gtk_snapshot_append_cairo(snapshot, &target);
  cairo_translate(cr, target.origin.x, target.origin.y);
  cairo_scale(cr, target.size.width / picture.width(), target.size.height / picture.height());
  cairo_set_source_surface(cr, image, 0, 0);
  // Edges as a texture's: the picture's own edge pixels, not blended with
  // the clear outside when stretched.
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_destroy(cr);
}

// The picture at natural size from the box's corner, clipped to the box, or
// stretched over it.
void DrawImage(GtkSnapshot* snapshot, const flipreel::Image& image,
               flipreel::TextureCache& textures, cairo_surface_t* like) {
  if (!image.visible() || image.picture().IsEmpty()) return;
  const graphene_rect_t box = BoxOf(image.left(), image.top(), image.width(), image.height());
  if (box.size.width <= 0 || box.size.height <= 0) return;
  if (image.stretch()) {
    AppendPicture(snapshot, image.picture(), box, textures, like);
    return;
  }
  const graphene_rect_t natural =
      GRAPHENE_RECT_INIT(box.origin.x, box.origin.y, static_cast<float>(image.picture().width()),
                         static_cast<float>(image.picture().height()));
  gtk_snapshot_push_clip(snapshot, &box);
  AppendPicture(snapshot, image.picture(), natural, textures, like);
  gtk_snapshot_pop(snapshot);
}

}  // namespace

// The surface the frames' images are made like, found the first time the
// view is drawn in a window.
static cairo_surface_t* SurfaceLike(FlipreelView* self) {
  if (self->like_checked) return self->like;
  GtkNative* native = gtk_widget_get_native(GTK_WIDGET(self));
  if (!native || !gtk_native_get_surface(native)) return nullptr;
  self->like_checked = true;
  if (GSK_IS_CAIRO_RENDERER(gtk_native_get_renderer(native)))
    self->like = flipreel::SurfaceLikeWindow(gtk_native_get_surface(native));
  return self->like;
}

static void flipreel_view_snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
  FlipreelView* self = FLIPREEL_VIEW(widget);
  flipreel::PaintableCore& core = CoreOf(self->paintable);
  core.Drawn();
  const flipreel::Flipreel& c = core.control();
  cairo_surface_t* like = SurfaceLike(self);
  DrawShape(snapshot, c.shpBackGround());
  DrawImage(snapshot, c.imgBackGround(), core.textures(), like);
  DrawImage(snapshot, c.imgGif(), core.textures(), like);
  DrawShape(snapshot, c.shpBorder());
}

// Sized by the control with "auto-size"; otherwise as large as the GIF (the
// control's own initial size before one is loaded), and the control's surface
// is whatever the view is given.
static void flipreel_view_measure(GtkWidget* widget, GtkOrientation orientation, int, int* minimum,
                                  int* natural, int*, int*) {
  flipreel::PaintableCore& core = CoreOf(FLIPREEL_VIEW(widget)->paintable);
  const bool horizontal = orientation == GTK_ORIENTATION_HORIZONTAL;
  int size = horizontal ? core.host().width() : core.host().height();
  if (!core.control().AutoSize() && core.intrinsic_width() > 0)
    size = horizontal ? core.intrinsic_width() : core.intrinsic_height();
  *minimum = core.control().AutoSize() ? size : 0;
  *natural = size;
}

static void flipreel_view_size_allocate(GtkWidget* widget, int width, int height, int) {
  FlipreelView* self = FLIPREEL_VIEW(widget);
  flipreel::PaintableCore& core = CoreOf(self->paintable);
  if (core.control().AutoSize()) return;
  self->allocating = true;
  (void)flipreel::Trap([&] {
    core.host().Size(static_cast<float>(width) * GtkHost::kTwipsPerPixel,
                     static_cast<float>(height) * GtkHost::kTwipsPerPixel);
  });
  self->allocating = false;
}

static void flipreel_view_map(GtkWidget* widget) {
  GTK_WIDGET_CLASS(flipreel_view_parent_class)->map(widget);
  CoreOf(FLIPREEL_VIEW(widget)->paintable).SetShown(true);
}

static void flipreel_view_unmap(GtkWidget* widget) {
  CoreOf(FLIPREEL_VIEW(widget)->paintable).SetShown(false);
  GTK_WIDGET_CLASS(flipreel_view_parent_class)->unmap(widget);
}

// The images made like the window's surface go with it.
static void flipreel_view_unrealize(GtkWidget* widget) {
  FlipreelView* self = FLIPREEL_VIEW(widget);
  if (self->like) {
    CoreOf(self->paintable).textures().Clear();
    cairo_surface_destroy(std::exchange(self->like, nullptr));
  }
  self->like_checked = false;
  GTK_WIDGET_CLASS(flipreel_view_parent_class)->unrealize(widget);
}

static void flipreel_view_get_property(GObject* object, guint, GValue* value, GParamSpec* pspec) {
  g_object_get_property(G_OBJECT(FLIPREEL_VIEW(object)->paintable), pspec->name, value);
}

static void flipreel_view_set_property(GObject* object, guint, const GValue* value,
                                       GParamSpec* pspec) {
  g_object_set_property(G_OBJECT(FLIPREEL_VIEW(object)->paintable), pspec->name, value);
}

static void on_paintable_notify(GObject*, GParamSpec* pspec, FlipreelView* self) {
  // Turned off, "auto-size" leaves the control's surface as it was, yet the
  // view no longer asks for that size: it is measured again.
  if (g_strcmp0(pspec->name, "auto-size") == 0) gtk_widget_queue_resize(GTK_WIDGET(self));
  g_object_notify(G_OBJECT(self), pspec->name);
}

static void on_contents(GdkPaintable*, FlipreelView* self) {
  gtk_widget_queue_draw(GTK_WIDGET(self));
}

static void on_size(GdkPaintable*, FlipreelView* self) {
  gtk_widget_queue_resize(GTK_WIDGET(self));
}

// A press asks the control whether it is the view's: claimed if so, else
// left to what lies below.
static void on_pressed(GtkGestureClick* gesture, int, double x, double y, FlipreelView* self) {
  GtkWidget* widget = GTK_WIDGET(self);
  constexpr int16_t kHitOutside = 0, kHitHit = 3;
  const bool inside =
      x >= 0 && y >= 0 && x < gtk_widget_get_width(widget) && y < gtk_widget_get_height(widget);
  const bool hit = CoreOf(self->paintable).AskHitTest(x, y, inside ? kHitHit : kHitOutside);
  gtk_gesture_set_state(GTK_GESTURE(gesture),
                        hit ? GTK_EVENT_SEQUENCE_CLAIMED : GTK_EVENT_SEQUENCE_DENIED);
}

static void flipreel_view_init(FlipreelView* self) {
  self->paintable = flipreel_paintable_new();
  flipreel::PaintableCore& core = CoreOf(self->paintable);
  core.set_message_parent(GTK_WIDGET(self));
  // A view is shown only while mapped.
  core.SetShown(false);
  // The control draws within its surface, however large its pictures are.
  gtk_widget_set_overflow(GTK_WIDGET(self), GTK_OVERFLOW_HIDDEN);
  core.set_resized([self] {
    if (!self->allocating) gtk_widget_queue_resize(GTK_WIDGET(self));
  });
  g_signal_connect(self->paintable, "notify", G_CALLBACK(on_paintable_notify), self);
  g_signal_connect(self->paintable, "invalidate-contents", G_CALLBACK(on_contents), self);
  g_signal_connect(self->paintable, "invalidate-size", G_CALLBACK(on_size), self);
  for (guint i = 0; i < flipreel::kSignalCount; ++i) {
    auto* forward = reinterpret_cast<Forward*>(g_closure_new_simple(sizeof(Forward), nullptr));
    forward->view = self;
    forward->signal = view_signals[i];
    g_closure_set_marshal(&forward->closure, ForwardMarshal);
    self->forwards[i] = g_signal_connect_closure(self->paintable, g_signal_name(view_signals[i]),
                                                 &forward->closure, FALSE);
  }
  GtkGesture* click = gtk_gesture_click_new();
  gtk_gesture_single_set_button(GTK_GESTURE_SINGLE(click), 0);  // any button
  g_signal_connect(click, "pressed", G_CALLBACK(on_pressed), self);
  gtk_widget_add_controller(GTK_WIDGET(self), GTK_EVENT_CONTROLLER(click));
}

static void flipreel_view_dispose(GObject* object) {
  FlipreelView* self = FLIPREEL_VIEW(object);
  if (self->paintable) {
    CoreOf(self->paintable).set_message_parent(nullptr);
    CoreOf(self->paintable).set_resized(nullptr);
    g_signal_handlers_disconnect_by_data(self->paintable, self);
    for (gulong& id : self->forwards) g_clear_signal_handler(&id, self->paintable);
  }
  g_clear_object(&self->paintable);
  G_OBJECT_CLASS(flipreel_view_parent_class)->dispose(object);
}

static void flipreel_view_class_init(FlipreelViewClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
  object_class->dispose = flipreel_view_dispose;
  object_class->get_property = flipreel_view_get_property;
  object_class->set_property = flipreel_view_set_property;
  widget_class->snapshot = flipreel_view_snapshot;
  widget_class->measure = flipreel_view_measure;
  widget_class->size_allocate = flipreel_view_size_allocate;
  widget_class->map = flipreel_view_map;
  widget_class->unmap = flipreel_view_unmap;
  widget_class->unrealize = flipreel_view_unrealize;
  flipreel::InstallControlProperties(object_class, view_properties);
  flipreel::CreateControlSignals(FLIPREEL_TYPE_VIEW, view_signals);
  gtk_widget_class_set_css_name(widget_class, "flipreel-view");
}

GtkWidget* flipreel_view_new(void) {
  return GTK_WIDGET(g_object_new(FLIPREEL_TYPE_VIEW, nullptr));
}

GtkWidget* flipreel_view_new_for_file(const char* path) {
  GtkWidget* view = flipreel_view_new();
  flipreel_view_load_file(FLIPREEL_VIEW(view), path);
  return view;
}

FlipreelPaintable* flipreel_view_get_paintable(FlipreelView* self) {
  g_return_val_if_fail(FLIPREEL_IS_VIEW(self), nullptr);
  return self->paintable;
}

#define FLIPREEL_VIEW_FORWARD(name, params, args) \
  void flipreel_view_##name params {              \
    g_return_if_fail(FLIPREEL_IS_VIEW(self));     \
    flipreel_paintable_##name args;               \
  }
FLIPREEL_VIEW_FORWARD(load_file, (FlipreelView * self, const char* path), (self->paintable, path))
FLIPREEL_VIEW_FORWARD(load_gfile, (FlipreelView * self, GFile* file), (self->paintable, file))
FLIPREEL_VIEW_FORWARD(load_resource, (FlipreelView * self, const char* path),
                      (self->paintable, path))
FLIPREEL_VIEW_FORWARD(load_bytes, (FlipreelView * self, GBytes* bytes), (self->paintable, bytes))
FLIPREEL_VIEW_FORWARD(load_url, (FlipreelView * self, const char* url), (self->paintable, url))
FLIPREEL_VIEW_FORWARD(remove_gif, (FlipreelView * self), (self->paintable))
FLIPREEL_VIEW_FORWARD(start_animation, (FlipreelView * self), (self->paintable))
FLIPREEL_VIEW_FORWARD(stop_animation, (FlipreelView * self), (self->paintable))
FLIPREEL_VIEW_FORWARD(set_current_frame, (FlipreelView * self, int frame), (self->paintable, frame))
FLIPREEL_VIEW_FORWARD(set_hit_result, (FlipreelView * self, int result), (self->paintable, result))
#undef FLIPREEL_VIEW_FORWARD

int flipreel_view_get_hit_result(FlipreelView* self) {
  g_return_val_if_fail(FLIPREEL_IS_VIEW(self), 0);
  return flipreel_paintable_get_hit_result(self->paintable);
}

const GError* flipreel_view_get_error(FlipreelView* self) {
  g_return_val_if_fail(FLIPREEL_IS_VIEW(self), nullptr);
  return flipreel_paintable_get_error(self->paintable);
}

int flipreel_view_get_frames(FlipreelView* self) {
  g_return_val_if_fail(FLIPREEL_IS_VIEW(self), 0);
  return flipreel_paintable_get_frames(self->paintable);
}

int flipreel_view_get_current_frame(FlipreelView* self) {
  g_return_val_if_fail(FLIPREEL_IS_VIEW(self), 0);
  return flipreel_paintable_get_current_frame(self->paintable);
}

#define FLIPREEL_VIEW_PROPERTY(type, name, property)              \
  type flipreel_view_get_##name(FlipreelView* self) {             \
    g_return_val_if_fail(FLIPREEL_IS_VIEW(self), type{});         \
    type value{};                                                 \
    g_object_get(self->paintable, property, &value, nullptr);     \
    return value;                                                 \
  }                                                               \
  void flipreel_view_set_##name(FlipreelView* self, type value) { \
    g_return_if_fail(FLIPREEL_IS_VIEW(self));                     \
    g_object_set(self->paintable, property, value, nullptr);      \
  }
FLIPREEL_VIEW_PROPERTY(gboolean, playing, "playing")
FLIPREEL_VIEW_PROPERTY(FlipreelSequence, sequence, "sequence")
FLIPREEL_VIEW_PROPERTY(int, frame_rate, "frame-rate")
FLIPREEL_VIEW_PROPERTY(int, auto_rewind, "auto-rewind")
FLIPREEL_VIEW_PROPERTY(gboolean, composed, "composed")
FLIPREEL_VIEW_PROPERTY(gboolean, show_message_boxes, "show-message-boxes")
#undef FLIPREEL_VIEW_PROPERTY
