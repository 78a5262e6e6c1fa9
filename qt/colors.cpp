#include "flipreel/qt/colors.h"

#include "flipreel/host/host.h"

namespace flipreel {

namespace {

// The palette entry that plays the part of each system colour index.
struct SystemColorRole {
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

constexpr SystemColorRole kSystemColorRoles[] = {
    {QPalette::Active, QPalette::Button},           // 0 scroll bar
    {QPalette::Active, QPalette::Window},           // 1 desktop
    {QPalette::Active, QPalette::Highlight},        // 2 active title bar
    {QPalette::Inactive, QPalette::Highlight},      // 3 inactive title bar
    {QPalette::Active, QPalette::Window},           // 4 menu background
    {QPalette::Active, QPalette::Base},             // 5 window background
    {QPalette::Active, QPalette::Shadow},           // 6 window frame
    {QPalette::Active, QPalette::WindowText},       // 7 menu text
    {QPalette::Active, QPalette::WindowText},       // 8 window text
    {QPalette::Active, QPalette::HighlightedText},  // 9 title bar text
    {QPalette::Active, QPalette::Button},           // 10 active border
    {QPalette::Inactive, QPalette::Button},         // 11 inactive border
    {QPalette::Active, QPalette::Dark},             // 12 application workspace
    {QPalette::Active, QPalette::Highlight},        // 13 highlight
    {QPalette::Active, QPalette::HighlightedText},  // 14 highlighted text
    {QPalette::Active, QPalette::Button},           // 15 button face
    {QPalette::Active, QPalette::Dark},             // 16 button shadow
    {QPalette::Disabled, QPalette::Text},           // 17 grey text
    {QPalette::Active, QPalette::ButtonText},       // 18 button text
    {QPalette::Inactive, QPalette::WindowText},     // 19 inactive title bar text
    {QPalette::Active, QPalette::Light},            // 20 button highlight
    {QPalette::Active, QPalette::Shadow},           // 21 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},         // 22 3-D light
    {QPalette::Active, QPalette::ToolTipText},      // 23 tool tip text
    {QPalette::Active, QPalette::ToolTipBase},      // 24 tool tip background
};

}  // namespace

QColor ResolveColor(int32_t value, const QPalette& palette) {
  const auto bits = static_cast<uint32_t>(value);
  if (IsSystemColor(value)) {
    const uint32_t index = bits & 0xFF;
    if (index < std::size(kSystemColorRoles)) {
      const SystemColorRole& r = kSystemColorRoles[index];
      return palette.color(r.group, r.role);
    }
    return QColor(Qt::black);  // an index no palette entry stands for
  }
  return QColor(static_cast<int>(bits & 0xFF), static_cast<int>((bits >> 8) & 0xFF),
                static_cast<int>((bits >> 16) & 0xFF));
}

int32_t ColorValue(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<int32_t>(static_cast<uint32_t>(rgb.red()) |
                              (static_cast<uint32_t>(rgb.green()) << 8) |
                              (static_cast<uint32_t>(rgb.blue()) << 16));
}

}  // namespace flipreel
