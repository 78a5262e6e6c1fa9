// The scene-graph node of a Flipreel item: one image node whose texture is
// swapped from frame to frame. Each picture shown becomes a texture once;
// textures are kept for reuse while they fit the budget, and a picture that
// no element holds any more loses its texture at the next update. Lives on
// the render thread; the item hands it pictures while the GUI thread waits.
#pragma once

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
  // rect shows nothing.
  void Show(const Picture& picture, const QRectF& rect, const QRectF& source, bool smooth);

  // Textures made so far and kept now, for tests and benchmarks.
  static int64_t uploads();
  size_t kept_bytes() const { return kept_bytes_; }

 private:
  struct Entry {
    std::weak_ptr<const PictureData> picture;
    std::unique_ptr<QSGTexture> texture;
    size_t bytes = 0;
  };
  QSGTexture* TextureFor(const Picture& picture);
  void DropExpired();

  QQuickWindow& window_;
  QSGImageNode* image_ = nullptr;
  std::unordered_map<const PictureData*, Entry> kept_;
  size_t kept_bytes_ = 0;
  Entry aside_;  // the texture on show when it did not fit the budget
  const PictureData* aside_key_ = nullptr;
};

}  // namespace flipreel
