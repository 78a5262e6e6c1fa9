#include "flipreel/quick/frame_node.h"

#include <QMatrix4x4>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGTexture>
#include <QSGTransformNode>
#include <atomic>
#include <cmath>

#include "flipreel/qt/picture_cache.h"

namespace flipreel {

namespace {
std::atomic<int64_t> upload_count{0};
}  // namespace

int64_t FrameNode::uploads() {
  return upload_count.load();
}

FrameNode::FrameNode(QQuickWindow& window) : window_(window) {
  setFlag(UsePreprocess);
  image_ = window_.createImageNode();
  image_->setOwnsTexture(false);
  appendChildNode(image_);
}

FrameNode::~FrameNode() = default;

void FrameNode::Trim() {
  const QSGTexture* on_show = image_->texture();
  for (auto it = kept_.begin(); it != kept_.end();) {
    const bool droppable = it->second.texture.get() != on_show;
    if (droppable && (kept_bytes_ > budget_ || it->second.picture.expired())) {
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
  QImage image = ToPaintImage(*key, std::move(scratch_));
  if (image.isNull()) return nullptr;
  const bool opaque = image.format() == QImage::Format_RGB32;
  Entry entry{
      picture.shared(),
      std::unique_ptr<QSGTexture>(window_.createTextureFromImage(
          image, opaque ? QQuickWindow::TextureIsOpaque : QQuickWindow::CreateTextureOptions())),
      static_cast<size_t>(image.sizeInBytes())};
  ++upload_count;
  // The texture lets its image go once uploaded: the next conversion writes
  // into that memory again.
  scratch_ = std::move(image);
  QSGTexture* texture = entry.texture.get();
  Trim();
  if (kept_bytes_ + entry.bytes <= budget_) {
    kept_bytes_ += entry.bytes;
    kept_.erase(key);
    kept_.emplace(key, std::move(entry));
  } else {
    // Replaced before anything is drawn: Show sets the new texture next.
    aside_ = std::move(entry);
    aside_key_ = key;
  }
  return texture;
}

void FrameNode::Show(const Picture& picture, const QRectF& rect, const QRectF& source, bool smooth,
                     size_t budget) {
  smooth_ = smooth;
  if (budget != budget_) {
    budget_ = budget;
    Trim();
  }
  QSGTexture* texture = picture.IsEmpty() || rect.isEmpty() ? nullptr : TextureFor(picture);
  if (!texture) {
    image_->setRect(QRectF());
    markDirty(DirtyGeometry);
    return;
  }
  if (image_->texture() != texture) image_->setTexture(texture);
  image_->setRect(rect);
  image_->setSourceRect(source);
}

bool FrameNode::DrawnPixelForPixel() const {
  QMatrix4x4 m;
  for (const QSGNode* n = parent(); n; n = n->parent()) {
    if (n->type() == TransformNodeType) m = static_cast<const QSGTransformNode*>(n)->matrix() * m;
  }
  // A scale and a move only: no rotation, flip or perspective.
  if (m(0, 1) != 0 || m(1, 0) != 0 || m(3, 0) != 0 || m(3, 1) != 0 || m(3, 3) != 1 ||
      m(0, 0) <= 0 || m(1, 1) <= 0)
    return false;
  const qreal dpr = window_.effectiveDevicePixelRatio();
  const QRectF rect = image_->rect();
  const QRectF source = image_->sourceRect();
  const QPointF corner = m.map(rect.topLeft()) * dpr;
  auto whole = [](qreal v) { return std::abs(v - std::round(v)) < 1e-3; };
  auto same = [](qreal a, qreal b) { return std::abs(a - b) < 1e-3; };
  return whole(corner.x()) && whole(corner.y()) && whole(source.x()) && whole(source.y()) &&
         same(rect.width() * m(0, 0) * dpr, source.width()) &&
         same(rect.height() * m(1, 1) * dpr, source.height());
}

void FrameNode::preprocess() {
  const QSGTexture::Filtering wanted =
      smooth_ && !DrawnPixelForPixel() ? QSGTexture::Linear : QSGTexture::Nearest;
  if (image_->filtering() != wanted) image_->setFiltering(wanted);
}

}  // namespace flipreel
