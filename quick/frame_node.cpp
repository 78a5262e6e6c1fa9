#include "flipreel/quick/frame_node.h"

#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGTexture>
#include <atomic>

#include "flipreel/qt/picture_cache.h"

namespace flipreel {

namespace {
std::atomic<int64_t> upload_count{0};
}  // namespace

int64_t FrameNode::uploads() {
  return upload_count.load();
}

FrameNode::FrameNode(QQuickWindow& window) : window_(window) {
  image_ = window_.createImageNode();
  image_->setOwnsTexture(false);
  appendChildNode(image_);
}

FrameNode::~FrameNode() = default;

void FrameNode::DropExpired() {
  for (auto it = kept_.begin(); it != kept_.end();) {
    if (it->second.picture.expired()) {
      kept_bytes_ -= it->second.bytes;
      it = kept_.erase(it);
    } else {
      ++it;
    }
  }
}

QSGTexture* FrameNode::TextureFor(const Picture& picture) {
  const PictureData* key = picture.data();
  if (auto it = kept_.find(key); it != kept_.end() && !it->second.picture.expired())
    return it->second.texture.get();
  if (aside_key_ == key && !aside_.picture.expired()) return aside_.texture.get();
  const QImage image = ToPaintImage(*key);
  if (image.isNull()) return nullptr;
  const bool opaque = image.format() == QImage::Format_RGB32;
  Entry entry{
      picture.shared(),
      std::unique_ptr<QSGTexture>(window_.createTextureFromImage(
          image, opaque ? QQuickWindow::TextureIsOpaque : QQuickWindow::CreateTextureOptions())),
      static_cast<size_t>(image.sizeInBytes())};
  ++upload_count;
  QSGTexture* texture = entry.texture.get();
  DropExpired();
  if (kept_bytes_ + entry.bytes <= kDefaultBudget) {
    kept_bytes_ += entry.bytes;
    kept_.erase(key);
    kept_.emplace(key, std::move(entry));
  } else {
    aside_ = std::move(entry);
    aside_key_ = key;
  }
  return texture;
}

void FrameNode::Show(const Picture& picture, const QRectF& rect, const QRectF& source,
                     bool smooth) {
  QSGTexture* texture = picture.IsEmpty() || rect.isEmpty() ? nullptr : TextureFor(picture);
  if (!texture) {
    image_->setRect(QRectF());
    markDirty(DirtyGeometry);
    return;
  }
  if (image_->texture() != texture) image_->setTexture(texture);
  image_->setRect(rect);
  image_->setSourceRect(source);
  image_->setFiltering(smooth ? QSGTexture::Linear : QSGTexture::Nearest);
}

}  // namespace flipreel
