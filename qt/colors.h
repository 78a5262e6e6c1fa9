// Colour values of the control as Qt colours. A value with the top bit set
// names a system colour by the index in its low byte and takes its colour
// from the widget's palette; any other value is red, green and blue with red
// in the low byte.
#pragma once

#include <QColor>
#include <QPalette>
#include <cstdint>

namespace flipreel {

QColor ResolveColor(int32_t value, const QPalette& palette);

// The control's colour value of a Qt colour (alpha is dropped).
int32_t ColorValue(const QColor& color);

}  // namespace flipreel
