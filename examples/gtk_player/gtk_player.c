/* A GTK 4 player for animated GIFs, in C, on FlipreelView.
 *
 *   flipreel-gtk-player [--frames N] [--screenshot FILE.png] FILE.gif
 *
 * Shows the GIF with a play button, a choice of order and the frame on show.
 * With --frames, quits after N frames have been shown (0 when they were,
 * 1 when the GIF could not be loaded), first writing the window's contents
 * to FILE.png with --screenshot. */
#include <flipreel/gtk/flipreel_view.h>
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>

static int frames_to_play = 0;
static const char* screenshot = NULL;
static int exit_status = 0;

typedef struct {
  GtkWidget* window;
  GtkWidget* view;
  GtkWidget* label;
  int frames_seen;
} Player;

static void save_screenshot(GtkWidget* window, const char* path) {
  GdkPaintable* paintable = gtk_widget_paintable_new(window);
  const int w = gtk_widget_get_width(window), h = gtk_widget_get_height(window);
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, w, h);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(surface);
  if (node) gsk_render_node_draw(node, cr);
  cairo_destroy(cr);
  cairo_surface_write_to_png(surface, path);
  cairo_surface_destroy(surface);
  if (node) gsk_render_node_unref(node);
  g_object_unref(paintable);
}

/* Once the window has been laid out and drawn again. */
static gboolean quit_after_frames(gpointer data) {
  Player* player = data;
  if (screenshot) save_screenshot(player->window, screenshot);
  printf("played %d frames\n", player->frames_seen);
  gtk_window_destroy(GTK_WINDOW(player->window));
  return G_SOURCE_REMOVE;
}

static void on_frame(FlipreelView* view, Player* player) {
  char text[64];
  snprintf(text, sizeof text, "%d frames, current-frame %d", flipreel_view_get_frames(view),
           flipreel_view_get_current_frame(view));
  gtk_label_set_text(GTK_LABEL(player->label), text);
  if (frames_to_play > 0 && ++player->frames_seen == frames_to_play)
    g_timeout_add(100, quit_after_frames, player);
}

static void on_load_failed(FlipreelView* view, const GError* error, Player* player) {
  (void)view;
  fprintf(stderr, "cannot play the GIF: %s (error %d)\n", error->message, error->code);
  gtk_label_set_text(GTK_LABEL(player->label), error->message);
  if (frames_to_play > 0) {
    exit_status = 1;
    gtk_window_destroy(GTK_WINDOW(player->window));
  }
}

static void on_play_toggled(GtkToggleButton* button, Player* player) {
  flipreel_view_set_playing(FLIPREEL_VIEW(player->view), gtk_toggle_button_get_active(button));
}

static void on_playing(FlipreelView* view, GParamSpec* pspec, GtkToggleButton* button) {
  (void)pspec;
  gtk_toggle_button_set_active(button, flipreel_view_get_playing(view));
}

static void on_order(GtkDropDown* orders, GParamSpec* pspec, Player* player) {
  (void)pspec;
  flipreel_view_set_sequence(FLIPREEL_VIEW(player->view),
                             (FlipreelSequence)gtk_drop_down_get_selected(orders));
}

static void activate(GtkApplication* app, gpointer path) {
  Player* player = g_new0(Player, 1);
  player->window = gtk_application_window_new(app);
  g_object_set_data_full(G_OBJECT(player->window), "player", player, g_free);
  gtk_window_set_title(GTK_WINDOW(player->window), "Flipreel GTK player");

  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  gtk_widget_set_margin_start(box, 12);
  gtk_widget_set_margin_end(box, 12);
  gtk_widget_set_margin_top(box, 12);
  gtk_widget_set_margin_bottom(box, 12);
  gtk_window_set_child(GTK_WINDOW(player->window), box);

  /* The view grows with the window; "stretch" scales the frames with it. */
  player->view = flipreel_view_new();
  gtk_widget_set_hexpand(player->view, TRUE);
  gtk_widget_set_vexpand(player->view, TRUE);
  gtk_box_append(GTK_BOX(box), player->view);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  GtkWidget* play = gtk_toggle_button_new_with_label("Play");
  const char* orders[] = {"Normal", "Reverse", "Random", "Ping Pong", NULL};
  GtkWidget* order = gtk_drop_down_new_from_strings(orders);
  player->label = gtk_label_new("");
  gtk_box_append(GTK_BOX(row), play);
  gtk_box_append(GTK_BOX(row), order);
  gtk_box_append(GTK_BOX(row), player->label);
  gtk_box_append(GTK_BOX(box), row);

  g_signal_connect(player->view, "frame", G_CALLBACK(on_frame), player);
  g_signal_connect(player->view, "load-failed", G_CALLBACK(on_load_failed), player);
  g_signal_connect(player->view, "notify::playing", G_CALLBACK(on_playing), play);
  g_signal_connect(play, "toggled", G_CALLBACK(on_play_toggled), player);
  g_signal_connect(order, "notify::selected", G_CALLBACK(on_order), player);

  /* The GIF is read and composed on another thread; it plays once loaded. */
  flipreel_view_load_file(FLIPREEL_VIEW(player->view), path);
  gtk_window_present(GTK_WINDOW(player->window));
}

int main(int argc, char** argv) {
  const char* path = NULL;
  for (int i = 1; i < argc; ++i) {
    if (g_str_equal(argv[i], "--frames") && i + 1 < argc) {
      frames_to_play = atoi(argv[++i]);
    } else if (g_str_equal(argv[i], "--screenshot") && i + 1 < argc) {
      screenshot = argv[++i];
    } else {
      path = argv[i];
    }
  }
  if (!path) {
    fprintf(stderr, "usage: %s [--frames N] [--screenshot FILE.png] FILE.gif\n", argv[0]);
    return 2;
  }
  GtkApplication* app = gtk_application_new(NULL, G_APPLICATION_NON_UNIQUE);
  g_signal_connect(app, "activate", G_CALLBACK(activate), (gpointer)path);
  char* args[] = {argv[0], NULL};
  const int status = g_application_run(G_APPLICATION(app), 1, args);
  g_object_unref(app);
  return status != 0 ? status : exit_status;
}
