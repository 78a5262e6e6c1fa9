// Where the control's visible elements fall in pixels, and how they look.
//
// Elements are placed in twips; their edges are converted to pixels with the
// screen's twips per pixel and rounded to the nearest pixel, so that
// neighbouring elements stay adjacent whatever the scale.
#pragma once

#include <QPalette>
#include <QRect>

#include "flipreel/host/elements.h"

class QPainter;

namespace flipreel {

class PictureCache;

struct TwipScale {
  float tppx = 15;
  float tppy = 15;
  int X(double twips) const;
  int Y(double twips) const;
  QRect Rect(double left, double top, double width, double height) const;
};

// The pixels a shape covers: its rectangle.
QRect ShapeRect(const Shape& shape, const TwipScale& scale);
// The pixels an image paints: its box when stretched, otherwise the part of
// its picture (drawn at natural size from the box's corner) inside the box.
// Empty for a hidden image or the empty picture.
QRect ImagePaintRect(const Image& image, const TwipScale& scale);

// Fill (BackStyle 1) and outline (BorderStyle 1 solid, 2 dash, 3 dot,
// 4 dash-dot, 5 dash-dot-dot, 6 inside solid; 0 none) in the shape's colours,
// the outline on the rectangle's outermost pixels.
void PaintShape(QPainter& painter, const Shape& shape, const TwipScale& scale,
                const QPalette& palette);
// The picture at natural size clipped to the box, or scaled into the box
// (nearest neighbour, as frames of an animation are drawn) with Stretch on;
// alpha blends over what lies below. The image is the cache's place for the
// copy it paints.
void PaintImage(QPainter& painter, const Image& image, const TwipScale& scale, PictureCache& cache);
// The same for a picture drawn into target (within box, from its corner, or
// stretched over it), its copy held for place (see PictureCache::Get).
void PaintPicture(QPainter& painter, const Picture& picture, const QRect& target, const QRect& box,
                  bool stretch, PictureCache& cache, const void* place = nullptr);
// The same with the picture's paint-ready copy in hand.
void DrawPixels(QPainter& painter, const QImage& pixels, const QRect& target, const QRect& box,
                bool stretch);

}  // namespace flipreel
