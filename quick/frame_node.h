// The scene-graph node of a Flipreel item: one image node whose texture is
// swapped from frame to frame. Each picture shown becomes a texture once;
// textures are kept for reuse while they fit the budget, and a picture that
// no element holds any more loses its texture at the next new one. Frames
// beyond the budget take turns on the same textures, whose pixels are
// replaced in place (OpenGL), rather than each having a new texture made and
// cleared by the driver. Lives on the render thread; the item hands it pictures, and
// their paint-ready copies made on other threads, while the GUI thread waits.
#pragma once

#include <QImage>
#include <QRectF>
#include <QSGImageNode>
#include <QSGNode>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "flipreel/host/picture.h"

class QQuickWindow;
class QSGTexture;

namespace flipreel {

// A transform node (of no transform) rather than a plain node: Qt Quick's
// software renderer knows where a node added later (the image node, once a
// picture is shown) is drawn only from an ancestor it keeps state for, a
// transform, clip or opacity node, and draws children added later under a
// plain node at the window's origin.
class FrameNode : public QSGTransformNode {
 public:
  static constexpr size_t kDefaultBudget = size_t{64} << 20;
  // A picture of at most this many pixels is converted where it is shown,
  // in a fraction of a millisecond: handing it to another thread would cost
  // more, and would show it a frame late.
  static constexpr int64_t kConvertHere = 128 * 128;

  // The pictures the node holds textures of, by address (each valid while
  // its picture lives).
  using Textured = std::unordered_map<const PictureData*, std::weak_ptr<const PictureData>>;

  explicit FrameNode(QQuickWindow& window);
  ~FrameNode() override;

  // Shows picture's source part in rect of the item; an empty picture or
  // rect shows nothing. `converted` is the picture's paint-ready copy
  // (ToPaintImage) when the caller has one; a small picture with neither a
  // texture nor a copy is converted here, a larger one is not shown: the
  // node stays as it was, and Show is false. Textures beyond budget bytes
  // are not kept, apart from the one on show.
  // `paced`: a frame shown in place whose textures are not there yet has
  // them made a little a frame, so that the window's frames go on meanwhile
  // (the node shows what it showed until then).
  bool Show(const Picture& picture, QImage converted, const QRectF& rect, const QRectF& source,
            bool smooth, size_t budget, bool paced = false);
  static bool ConvertsHere(const Picture& picture) {
    return int64_t{picture.width()} * picture.height() <= kConvertHere;
  }
  // Whether showing the picture needs no copy of it (it has a texture).
  bool HasTexture(const Picture& picture) const;
  // Changes whenever the pictures with textures change.
  uint64_t textured_serial() const { return textured_serial_; }
  // The pictures with textures now.
  Textured ListTextured() const;

  // Uploads the pixels of a frame shown in place, then chooses the
  // filtering once the frame's place on the screen is known: a smooth frame
  // drawn pixel for pixel (unscaled, unrotated, on whole device pixels)
  // samples its nearest texel, which gives the same pixels as linear
  // filtering at a fraction of a software rasteriser's cost.
  void preprocess() override;

  // Pixels handed to the graphics driver so far (new textures and textures
  // written over), and the textures made among those, for tests and
  // benchmarks.
  static int64_t uploads();
  static int64_t textures_made();

 private:
  struct Entry {
    std::weak_ptr<const PictureData> picture;
    std::unique_ptr<QSGTexture> texture;
    size_t bytes = 0;
  };
  struct Band;
  struct Reused;
  // The bytes of one texture of a frame shown in place: the driver clears a
  // new texture's memory, a page fault at a time, which for a large frame
  // would hold the render thread up for a whole frame or more.
  static constexpr size_t kBandBytes = size_t{512} << 10;
  QSGTexture* TextureFor(const Picture& picture, QImage converted, bool paced);
  std::unique_ptr<QSGTexture> MakeTexture(const QImage& image);
  // Sets the picture to be shown in place, from image; false where the
  // graphics API gives no way to do that.
  bool Reuse(const Picture& picture, QImage image, bool paced);
  bool CutBands(Reused& r, const QImage& image);
  bool Upload();
  void PlaceBands();
  void HideBands();
  void DropBands(Reused& r);
  void DropOutgoing();
  void SetImageShown(bool shown);
  void DropWarm();
  void TexturedChanged();
  // Drops the textures of pictures gone, then, while over the budget, others
  // not on show.
  void Trim();
  bool DrawnPixelForPixel() const;

  QQuickWindow& window_;
  std::unique_ptr<QSGImageNode> image_;
  std::unordered_map<const PictureData*, Entry> kept_;
  size_t kept_bytes_ = 0;
  size_t budget_ = kDefaultBudget;
  bool smooth_ = true;
  QRectF rect_, source_;  // where the frame on show goes, and its part shown
  uint64_t textured_serial_ = 0;
  // The last picture converted here for a texture. Making a large frame's
  // image in fresh memory costs far more than the conversion itself (each
  // page is faulted in), so the next conversion of that size writes over
  // this one.
  QImage scratch_;
  Entry aside_;  // the texture on show when it did not fit the budget
  const PictureData* aside_key_ = nullptr;
  std::unique_ptr<Reused> reused_;
  // The bands on show while those of a frame of another size are being
  // made; they go once the new ones take their place.
  std::unique_ptr<Reused> outgoing_;
  // A texture replaced while the image node still pointed at it: it goes
  // once the node has the new one.
  std::unique_ptr<QSGTexture> retired_;
  // Nodes of no area, drawn in the node's first frame only, with each
  // material a frame may be drawn with (opaque or not, nearest or linear
  // filtering): the renderer and the driver build those shaders then, as the
  // item enters its window, rather than in the frame that first shows a
  // picture, where a software rasteriser's compiler would hold the window
  // up for several milliseconds.
  std::unique_ptr<QSGTexture> warm_textures_[2];
  std::vector<std::unique_ptr<QSGImageNode>> warm_;
  bool warm_drawn_ = false;
};

}  // namespace flipreel
