/* FlipreelPaintable: an animated GIF as a GdkPaintable.
 *
 * Any GtkPicture (or anything else that draws a GdkPaintable) can show it.
 * It plays while it is drawn: every new frame invalidates its contents, and
 * a paintable that nobody draws any more stops its timer until it is drawn
 * again. It shows the GIF as its author drew it (the "composed" property);
 * the classic frame-by-frame control is one property away.
 *
 * A load (flipreel_paintable_load_file() and its siblings) reads and
 * composes the GIF on another thread and returns at once; "loading" is TRUE
 * meanwhile, and "loaded" or "load-failed" tells how it ended. Reading any
 * result of the load (a property, flipreel_paintable_get_error()) before then
 * waits for it, so code that reads straight after a load sees its outcome. */
#pragma once

#include <gdk/gdk.h>
#include <gio/gio.h>

G_BEGIN_DECLS

/* The order in which frames are shown. */
typedef enum {
  FLIPREEL_SEQUENCE_NORMAL = 0,
  FLIPREEL_SEQUENCE_REVERSE = 1,
  FLIPREEL_SEQUENCE_RANDOM = 2,
  FLIPREEL_SEQUENCE_PING_PONG = 3,
} FlipreelSequence;

GType flipreel_sequence_get_type(void) G_GNUC_CONST;
#define FLIPREEL_TYPE_SEQUENCE (flipreel_sequence_get_type())

/* Errors of loads and downloads. The code is the control's error number:
 * 53 file not found, 75 path/file access error, 70 permission denied,
 * 481 invalid picture, 7 out of memory, and so on. */
#define FLIPREEL_ERROR (flipreel_error_quark())
GQuark flipreel_error_quark(void);

#define FLIPREEL_TYPE_PAINTABLE (flipreel_paintable_get_type())
G_DECLARE_FINAL_TYPE(FlipreelPaintable, flipreel_paintable, FLIPREEL, PAINTABLE, GObject)

FlipreelPaintable* flipreel_paintable_new(void);
/* A new paintable loading the GIF at path (see flipreel_paintable_load_file). */
FlipreelPaintable* flipreel_paintable_new_for_file(const char* path);

/* Loads from a file name, a GFile (any GIO location, resource:// URIs
 * included) or bytes held in memory. */
void flipreel_paintable_load_file(FlipreelPaintable* self, const char* path);
void flipreel_paintable_load_gfile(FlipreelPaintable* self, GFile* file);
void flipreel_paintable_load_resource(FlipreelPaintable* self, const char* resource_path);
void flipreel_paintable_load_bytes(FlipreelPaintable* self, GBytes* bytes);
/* Starts a download of the GIF at an http, https or file address. A blank
 * address, or "(None)", starts none and is no load. */
void flipreel_paintable_load_url(FlipreelPaintable* self, const char* url);
/* Unloads the GIF. */
void flipreel_paintable_remove_gif(FlipreelPaintable* self);

/* Why the last load failed, or NULL after one that succeeded. Owned by the
 * paintable. Waits for a load under way. */
const GError* flipreel_paintable_get_error(FlipreelPaintable* self);
/* Waits for a load under way and hands its result to the paintable now. */
void flipreel_paintable_finish_loading(FlipreelPaintable* self);

/* Changes the answer of the hit test under way; valid only in a "hit-test"
 * handler. */
void flipreel_paintable_set_hit_result(FlipreelPaintable* self, int result);
/* The answer of the hit test under way, as handlers so far left it; 0 outside
 * a "hit-test" handler. */
int flipreel_paintable_get_hit_result(FlipreelPaintable* self);

void flipreel_paintable_start_animation(FlipreelPaintable* self);
void flipreel_paintable_stop_animation(FlipreelPaintable* self);
gboolean flipreel_paintable_get_playing(FlipreelPaintable* self);
void flipreel_paintable_set_playing(FlipreelPaintable* self, gboolean playing);
gboolean flipreel_paintable_get_composed(FlipreelPaintable* self);
void flipreel_paintable_set_composed(FlipreelPaintable* self, gboolean composed);
FlipreelSequence flipreel_paintable_get_sequence(FlipreelPaintable* self);
void flipreel_paintable_set_sequence(FlipreelPaintable* self, FlipreelSequence sequence);
int flipreel_paintable_get_frames(FlipreelPaintable* self);
int flipreel_paintable_get_current_frame(FlipreelPaintable* self);
void flipreel_paintable_set_current_frame(FlipreelPaintable* self, int frame);
/* The delay of a frame in milliseconds; -1 for a frame that is not there. */
int flipreel_paintable_get_frame_delay(FlipreelPaintable* self, int frame);

/* Ticks the animation has taken so far, for tests and benchmarks. */
gint64 flipreel_paintable_get_ticks(FlipreelPaintable* self);
/* Takes one tick now, as if its time had come; FALSE when the animation's
 * timer is off. For tests and for stepping by hand. */
gboolean flipreel_paintable_tick(FlipreelPaintable* self);

G_END_DECLS
