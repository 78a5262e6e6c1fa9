/* The GTK 3 peer of the GTK benchmark: a GdkPixbufAnimation in a GtkImage,
 * the way GTK 3 applications play a GIF. One measurement per process:
 *   gtk3_peer play FILE SECONDS    CPU seconds while the GIF plays
 *   gtk3_peer hidden FILE SECONDS  the same with the image hidden
 *   gtk3_peer memory FILE          resident MB after loading and showing it */
#include <gtk/gtk.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

static double cpu_seconds(void) {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

static double resident_mb(void) {
  malloc_trim(0);
  long pages = 0, resident = 0;
  FILE* f = fopen("/proc/self/statm", "r");
  if (f) {
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(f);
  }
  return (double)resident * (double)sysconf(_SC_PAGESIZE) / (1024.0 * 1024.0);
}

static gboolean set_flag(gpointer flag) {
  *(gboolean*)flag = TRUE;
  return G_SOURCE_REMOVE;
}

/* Runs the main loop, asleep while there is nothing to do. */
static void run_for(double seconds) {
  gboolean done = FALSE;
  g_timeout_add((guint)(seconds * 1000), set_flag, &done);
  while (!done) g_main_context_iteration(NULL, TRUE);
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* mode = argv[1];
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* image = gtk_image_new();
  gtk_container_add(GTK_CONTAINER(window), image);
  gtk_widget_show_all(window);
  run_for(0.5);
  const double before_mb = resident_mb();
  GError* error = NULL;
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GdkPixbufAnimation* animation = gdk_pixbuf_animation_new_from_file(argv[2], &error);
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!animation) {
    fprintf(stderr, "cannot load %s: %s\n", argv[2], error->message);
    return 1;
  }
  gtk_image_set_from_animation(GTK_IMAGE(image), animation);
  run_for(1.0);
  if (strcmp(mode, "memory") == 0) {
    printf("mb=%.1f base_mb=%.1f\n", resident_mb(), before_mb);
    return 0;
  }
  if (strcmp(mode, "hidden") == 0) gtk_widget_hide(image);
  const double cpu = cpu_seconds();
  run_for(argc > 3 ? atof(argv[3]) : 10);
  printf("cpu=%.3f\n", cpu_seconds() - cpu);
  g_object_unref(animation);
  return 0;
}
