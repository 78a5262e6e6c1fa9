// What the installed package must not give an application.

// Only <prefix>/include is on the path: the package's folders are reached
// through flipreel/ and cannot clash with an application's own.
#if __has_include(<host/host.h>) || __has_include(<qt/flipreel_widget.h>)
#error "the package's folders are on the include path unprefixed"
#endif

// The Designer plugin's headers (which need Qt's private headers) and the
// widget's private header are not installed.
#if __has_include(<flipreel/qt/designer/flipreel_plugin.h>) || \
    __has_include(<flipreel/qt/designer/flipreel_property_sheet.h>) || \
    __has_include(<flipreel/qt/flipreel_widget_p.h>)
#error "a header of the plugin or a private header is installed"
#endif

// Qt's private headers are not on the path.
#if __has_include(<QtDesigner/private/qdesigner_propertysheet_p.h>) || \
    __has_include(<QtWidgets/private/qwidget_p.h>)
#error "Qt's private headers are on the include path"
#endif

#include <flipreel/qt/flipreel_widget.h>

int flipreel_headers_checked = 1;
