#include "flipreel/qt/element_painter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "flipreel/qt/colors.h"
#include "flipreel/qt/picture_cache.h"

namespace flipreel {

namespace {

int RoundToPixel(double v) {
  // Far beyond any screen; keeps the conversion defined for absurd positions.
  constexpr double kLimit = 1 << 24;
  return static_cast<int>(std::lround(std::clamp(v, -kLimit, kLimit)));
}

Qt::PenStyle PenStyleOf(int16_t border_style) {
  switch (border_style) {
    case 2:
      return Qt::DashLine;
    case 3:
      return Qt::DotLine;
    case 4:
      return Qt::DashDotLine;
    case 5:
      return Qt::DashDotDotLine;
    default:
      return Qt::SolidLine;  // 1 solid, 6 inside solid
  }
}

}  // namespace

int TwipScale::X(double twips) const {
  return RoundToPixel(twips / tppx);
}

int TwipScale::Y(double twips) const {
  return RoundToPixel(twips / tppy);
}

QRect TwipScale::Rect(double left, double top, double width, double height) const {
  const int x = X(left), y = Y(top);
  return QRect(x, y, X(left + width) - x, Y(top + height) - y);
}

QRect ShapeRect(const Shape& shape, const TwipScale& scale) {
  if (!shape.visible()) return QRect();
  return scale.Rect(shape.left(), shape.top(), shape.width(), shape.height());
}

QRect ImagePaintRect(const Image& image, const TwipScale& scale) {
  if (!image.visible() || image.picture().IsEmpty()) return QRect();
  const QRect box = scale.Rect(image.left(), image.top(), image.width(), image.height());
  if (image.stretch()) return box;
  return box & QRect(box.topLeft(), QSize(image.picture().width(), image.picture().height()));
}

void PaintShape(QPainter& painter, const Shape& shape, const TwipScale& scale,
                const QPalette& palette) {
  const QRect r = ShapeRect(shape, scale);
  if (r.isEmpty()) return;
  if (shape.back_style() == 1) painter.fillRect(r, ResolveColor(shape.back_color(), palette));
  if (shape.border_style() == 0) return;
  QPen pen(ResolveColor(shape.border_color(), palette), 0, PenStyleOf(shape.border_style()));
  pen.setCosmetic(true);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  // A cosmetic pen covers the pixels of the rectangle's right and bottom
  // edges too, so the outline is drawn one pixel in to stay inside.
  painter.drawRect(r.adjusted(0, 0, -1, -1));
  painter.restore();
}

void PaintImage(QPainter& painter, const Image& image, const TwipScale& scale,
                PictureCache& cache) {
  const QRect target = ImagePaintRect(image, scale);
  if (target.isEmpty()) return;
  PaintPicture(painter, image.picture(), target,
               scale.Rect(image.left(), image.top(), image.width(), image.height()),
               image.stretch(), cache, &image);
}

void PaintPicture(QPainter& painter, const Picture& picture, const QRect& target, const QRect& box,
                  bool stretch, PictureCache& cache, const void* place) {
  if (target.isEmpty()) return;
  DrawPixels(painter, cache.Get(picture, place), target, box, stretch);
}

void DrawPixels(QPainter& painter, const QImage& pixels, const QRect& target, const QRect& box,
                bool stretch) {
  if (target.isEmpty() || pixels.isNull()) return;
  if (stretch) {
    painter.drawImage(target, pixels);
  } else {
    painter.drawImage(target.topLeft(), pixels, target.translated(-box.topLeft()));
  }
}

}  // namespace flipreel
