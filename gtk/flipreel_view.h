/* FlipreelView: the Flipreel control as a GTK 4 widget.
 *
 * The view draws the control's whole surface: its background, the frame on
 * show (at its place, or stretched over the surface with "stretch"), and its
 * border. Its properties are the control's ("frame-rate", "sequence",
 * "auto-rewind", "playing", "composed", ...), each with notify; its events
 * are signals ("frame", "play-finished", "read-finished",
 * "async-read-progress", "async-read-complete"), and "loaded",
 * "load-failed" and "message-shown" tell an application what a load did.
 * The view plays only while it is mapped: a hidden view takes no ticks.
 *
 * A mouse press asks the control whether the point belongs to it:
 * "hit-test" comes with the point, in pixels, and the answer so far (3 hit
 * within the view, 0 outside), which a handler may change with
 * flipreel_view_set_hit_result() while it runs. For 2 (close) and 3 (hit)
 * the view claims the press; for 0 (outside) and 1 (transparent) it lets
 * the press go to what lies below.
 *
 * The view holds a FlipreelPaintable (flipreel_view_get_paintable), which
 * plays the same animation; loads and their errors behave as the
 * paintable's. */
#pragma once

#include <gtk/gtk.h>

#include "flipreel/gtk/flipreel_paintable.h"

G_BEGIN_DECLS

#define FLIPREEL_TYPE_VIEW (flipreel_view_get_type())
G_DECLARE_FINAL_TYPE(FlipreelView, flipreel_view, FLIPREEL, VIEW, GtkWidget)

GtkWidget* flipreel_view_new(void);
GtkWidget* flipreel_view_new_for_file(const char* path);

FlipreelPaintable* flipreel_view_get_paintable(FlipreelView* self);

void flipreel_view_load_file(FlipreelView* self, const char* path);
void flipreel_view_load_gfile(FlipreelView* self, GFile* file);
void flipreel_view_load_resource(FlipreelView* self, const char* resource_path);
void flipreel_view_load_bytes(FlipreelView* self, GBytes* bytes);
void flipreel_view_load_url(FlipreelView* self, const char* url);
void flipreel_view_remove_gif(FlipreelView* self);
const GError* flipreel_view_get_error(FlipreelView* self);

/* Changes the answer of the hit test under way; valid only in a "hit-test"
 * handler. */
void flipreel_view_set_hit_result(FlipreelView* self, int result);
/* The answer of the hit test under way; 0 outside a "hit-test" handler. */
int flipreel_view_get_hit_result(FlipreelView* self);

void flipreel_view_start_animation(FlipreelView* self);
void flipreel_view_stop_animation(FlipreelView* self);
gboolean flipreel_view_get_playing(FlipreelView* self);
void flipreel_view_set_playing(FlipreelView* self, gboolean playing);
FlipreelSequence flipreel_view_get_sequence(FlipreelView* self);
void flipreel_view_set_sequence(FlipreelView* self, FlipreelSequence sequence);
int flipreel_view_get_frame_rate(FlipreelView* self);
void flipreel_view_set_frame_rate(FlipreelView* self, int frame_rate);
int flipreel_view_get_auto_rewind(FlipreelView* self);
void flipreel_view_set_auto_rewind(FlipreelView* self, int passes);
gboolean flipreel_view_get_composed(FlipreelView* self);
void flipreel_view_set_composed(FlipreelView* self, gboolean composed);
gboolean flipreel_view_get_show_message_boxes(FlipreelView* self);
void flipreel_view_set_show_message_boxes(FlipreelView* self, gboolean show);
int flipreel_view_get_frames(FlipreelView* self);
int flipreel_view_get_current_frame(FlipreelView* self);
void flipreel_view_set_current_frame(FlipreelView* self, int frame);

G_END_DECLS
