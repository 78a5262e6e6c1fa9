// Compiled on its own include path (see CMakeLists.txt): an include of the
// control or the host in the widget's public header fails the build here.
#include "flipreel_widget.h"

static_assert(sizeof(flipreel::FlipreelError) > 0);
