// The surface a view's frame images are made like. Kept apart from the rest
// of the face because Xlib's headers define names (None, Status, Bool) that
// clash with ordinary code.
#include <gtk/gtk.h>

#include "flipreel/gtk/texture_cache.h"

#ifdef GDK_WINDOWING_X11
#include <cairo-xlib.h>
#include <gdk/x11/gdkx.h>
#endif

namespace flipreel {

cairo_surface_t* SurfaceLikeWindow(GdkSurface* window) {
#ifdef GDK_WINDOWING_X11
  // An Xlib surface on the window's display: the images made like it live in
  // memory shared with the X server, which then draws them by itself, while
  // a plain image would be uploaded afresh on every draw.
  if (GDK_IS_X11_SURFACE(window)) {
    Display* display = gdk_x11_display_get_xdisplay(gdk_surface_get_display(window));
    return cairo_xlib_surface_create(display, gdk_x11_surface_get_xid(window),
                                     DefaultVisual(display, DefaultScreen(display)), 1, 1);
  }
#endif
  return gdk_surface_create_similar_surface(window, CAIRO_CONTENT_COLOR_ALPHA, 1, 1);
}

}  // namespace flipreel
