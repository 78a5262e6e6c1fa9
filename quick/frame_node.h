// The scene-graph node of a Flipreel item: one image node whose texture is
// swapped from frame to frame. Each picture shown becomes a texture once;
// textures are kept for reuse while they fit the budget, and a picture that
// no element holds any more loses its texture at the next new one. Lives on
// the render thread; the item hands it pictures while the GUI thread waits.
#pragma once

#include <QImage>
#include <QRectF>
#include <QSGNode>
#include <cstddef>
#include <memory>
#include <unordered_map>

#include "flipreel/host/picture.h"

class QQuickWindow;
class QSGImageNode;
class QSGTexture;

namespace flipreel {

class FrameNode : public QSGNode {
 public:
  static constexpr size_t kDefaultBudget = size_t{64} << 20;

  explicit FrameNode(QQuickWindow& window);
  ~FrameNode() override;

  // Shows picture's source part in rect of the item; an empty picture or
  // rect shows nothing. Textures beyond budget bytes are not kept, apart
  // from the one on show.
  void Show(const Picture& picture, const QRectF& rect, const QRectF& source, bool smooth,
            size_t budget);

  // Chooses the filtering once the frame's place on the screen is known: a
  // smooth frame drawn pixel for pixel (unscaled, unrotated, on whole device
  // pixels) samples its nearest texel, which gives the same pixels as
  // linear filtering at a fraction of a software rasteriser's cost.
  void preprocess() override;

  // Textures made so far, for tests and benchmarks.
  static int64_t uploads();

 private:
  struct Entry {
    std::weak_ptr<const PictureData> picture;
    std::unique_ptr<QSGTexture> texture;
    size_t bytes = 0;
  };
  QSGTexture* TextureFor(const Picture& picture);
  // Drops the textures of pictures gone, then, while over the budget, others
  // not on show.
  void Trim();
  bool DrawnPixelForPixel() const;

  QQuickWindow& window_;
  QSGImageNode* image_ = nullptr;
  std::unordered_map<const PictureData*, Entry> kept_;
  size_t kept_bytes_ = 0;
  size_t budget_ = kDefaultBudget;
  bool smooth_ = true;
  // The last picture converted for a texture. Making a large frame's image in
  // fresh memory costs far more than the conversion itself (each page is
  // faulted in), so the next conversion of that size writes over this one.
  QImage scratch_;
  Entry aside_;  // the texture on show when it did not fit the budget
  const PictureData* aside_key_ = nullptr;
};

}  // namespace flipreel
