// The control's own pictures, drawn by code: the film strip with the letters
// GIF that the About box shows and designers put in their toolbox.
#pragma once

#include "flipreel/host/picture.h"

namespace flipreel {

// A strip of film on white: a perforated band along the top and the bottom,
// and the letters GIF in blue centred between them. Opaque 24-bit colours.
// Any size from 15 x 13 pixels up.
Picture FilmStripPicture(int width, int height);

// The picture of the About box (19 x 14 pixels) and the toolbox picture
// designers show for the control (16 x 15 pixels).
Picture AboutBoxPicture();
Picture ToolboxPicture();

}  // namespace flipreel
