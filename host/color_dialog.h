// The host's colour dialog: a modal chooser of one colour, for design-time
// code (the Color property page).
#pragma once

#include <cstdint>

namespace flipreel {

class ColorDialogService {
 public:
  virtual ~ColorDialogService() = default;
  // Shows a modal colour chooser that starts at color (a system colour
  // starts at the colour it stands for now) and returns when the user has
  // closed it. True when a colour was chosen: color then holds it as red,
  // green and blue, red in the low byte. False after a cancel, color as it
  // was.
  virtual bool ChooseColor(int32_t& color) = 0;
};

}  // namespace flipreel
