#include "flipreel/quick/frame_node.h"

#include <QtQuick/qsgtexture_platform.h>
#include <QMatrix4x4>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRendererInterface>
#include <QSGTexture>
#include <QSGTransformNode>
#include <atomic>
#include <cmath>

#include "flipreel/qt/picture_cache.h"

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

namespace flipreel {

namespace {
std::atomic<int64_t> upload_count{0};
std::atomic<int64_t> made_count{0};
// Serials of every node's textures, so that a new node never takes an old
// one's for its own.
std::atomic<uint64_t> textured_serials{0};
}  // namespace

// An OpenGL texture written over in place, and the scene graph's wrapper of
// it. The pixels of the frame to show wait in `pending` until the render
// pass is being prepared (preprocess), off the GUI thread.
struct FrameNode::Reused {
  GLuint id = 0;
  QSize allocated;  // the storage's size, once it has some
  bool opaque = true;
  std::unique_ptr<QSGTexture> texture;
  QImage pending;
  std::weak_ptr<const PictureData> picture;  // what it holds, or will
  const PictureData* key = nullptr;
};

int64_t FrameNode::uploads() {
  return upload_count.load();
}

int64_t FrameNode::textures_made() {
  return made_count.load();
}

FrameNode::FrameNode(QQuickWindow& window) : window_(window) {
  TexturedChanged();
  setFlag(UsePreprocess);
  image_ = window_.createImageNode();
  image_->setOwnsTexture(false);
  appendChildNode(image_);
}

// The wrapper goes before the OpenGL texture it wraps; the scene graph drops
// its nodes with their context current.
FrameNode::~FrameNode() {
  if (!reused_) return;
  const GLuint id = reused_->id;
  reused_->texture.reset();
  if (QOpenGLContext* context = QOpenGLContext::currentContext(); context && id)
    context->functions()->glDeleteTextures(1, &id);
}

void FrameNode::TexturedChanged() {
  textured_serial_ = ++textured_serials;
}

void FrameNode::Trim() {
  const QSGTexture* on_show = image_->texture();
  for (auto it = kept_.begin(); it != kept_.end();) {
    const bool droppable = it->second.texture.get() != on_show;
    if (droppable && (kept_bytes_ > budget_ || it->second.picture.expired())) {
      kept_bytes_ -= it->second.bytes;
      it = kept_.erase(it);
      TexturedChanged();
    } else {
      ++it;
    }
  }
}

bool FrameNode::HasTexture(const Picture& picture) const {
  const PictureData* key = picture.data();
  if (auto it = kept_.find(key); it != kept_.end()) return !it->second.picture.expired();
  if (aside_key_ == key) return !aside_.picture.expired();
  return reused_ && reused_->key == key && !reused_->picture.expired();
}

FrameNode::Textured FrameNode::ListTextured() const {
  Textured textured;
  for (const auto& [key, entry] : kept_) textured.emplace(key, entry.picture);
  if (aside_key_) textured.emplace(aside_key_, aside_.picture);
  if (reused_ && reused_->key) textured.emplace(reused_->key, reused_->picture);
  return textured;
}

std::unique_ptr<QSGTexture> FrameNode::MakeTexture(const QImage& image) {
  const bool opaque = image.format() == QImage::Format_RGB32;
  ++upload_count;
  ++made_count;
  return std::unique_ptr<QSGTexture>(window_.createTextureFromImage(
      image, opaque ? QQuickWindow::TextureIsOpaque : QQuickWindow::CreateTextureOptions()));
}

QSGTexture* FrameNode::TextureFor(const Picture& picture, QImage converted) {
  const PictureData* key = picture.data();
  if (HasTexture(picture)) {
    if (auto it = kept_.find(key); it != kept_.end()) return it->second.texture.get();
    if (aside_key_ == key) return aside_.texture.get();
    return reused_->texture.get();
  }
  const bool here = converted.isNull();
  QImage image = here ? ToPaintImage(*key, std::move(scratch_)) : std::move(converted);
  if (image.isNull()) return nullptr;
  const auto bytes = static_cast<size_t>(image.sizeInBytes());
  Trim();
  if (kept_bytes_ + bytes <= budget_) {
    Entry entry{picture.shared(), MakeTexture(image), bytes};
    QSGTexture* texture = entry.texture.get();
    kept_bytes_ += bytes;
    kept_.erase(key);
    kept_.emplace(key, std::move(entry));
    TexturedChanged();
    // The texture lets its image go once uploaded: the next conversion here
    // writes into that memory again.
    if (here) scratch_ = std::move(image);
    return texture;
  }
  TexturedChanged();
  if (QSGTexture* texture = Reuse(picture, image)) return texture;
  retired_ = std::move(aside_.texture);
  aside_ = Entry{picture.shared(), MakeTexture(image), bytes};
  aside_key_ = key;
  if (here) scratch_ = std::move(image);
  return aside_.texture.get();
}

// Only OpenGL offers a way to write over a texture's pixels through the scene
// graph's public interface; elsewhere each frame beyond the budget makes a
// texture of its own. The pixels go up as they are in memory (BGRA).
QSGTexture* FrameNode::Reuse(const Picture& picture, QImage image) {
  if (window_.rendererInterface()->graphicsApi() != QSGRendererInterface::OpenGL) return nullptr;
  QOpenGLContext* context = QOpenGLContext::currentContext();
  if (!context || context->isOpenGLES()) return nullptr;
  if (!reused_) reused_ = std::make_unique<Reused>();
  Reused& r = *reused_;
  if (!r.id) context->functions()->glGenTextures(1, &r.id);
  if (!r.id) return nullptr;
  const bool opaque = image.format() == QImage::Format_RGB32;
  if (!r.texture || r.texture->textureSize() != image.size() || r.opaque != opaque) {
    retired_ = std::move(r.texture);
    r.texture.reset(QNativeInterface::QSGOpenGLTexture::fromNative(
        r.id, &window_, image.size(),
        opaque ? QQuickWindow::TextureIsOpaque : QQuickWindow::TextureHasAlphaChannel));
    r.opaque = opaque;
  }
  r.pending = std::move(image);
  r.picture = picture.shared();
  r.key = picture.data();
  return r.texture.get();
}

void FrameNode::Upload() {
  Reused& r = *reused_;
  const QImage image = std::exchange(r.pending, QImage());
  QOpenGLContext* context = QOpenGLContext::currentContext();
  if (!context) return;
  QOpenGLFunctions& gl = *context->functions();
  window_.beginExternalCommands();
  gl.glBindTexture(GL_TEXTURE_2D, r.id);
  gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  if (r.allocated != image.size()) {
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, image.width(), image.height(), 0, GL_BGRA,
                    GL_UNSIGNED_BYTE, image.constBits());
    r.allocated = image.size();
    ++made_count;
  } else {
    gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width(), image.height(), GL_BGRA,
                       GL_UNSIGNED_BYTE, image.constBits());
  }
  gl.glBindTexture(GL_TEXTURE_2D, 0);
  window_.endExternalCommands();
  ++upload_count;
}

bool FrameNode::Show(const Picture& picture, QImage converted, const QRectF& rect,
                     const QRectF& source, bool smooth, size_t budget) {
  smooth_ = smooth;
  if (budget != budget_) {
    budget_ = budget;
    Trim();
  }
  const bool blank = picture.IsEmpty() || rect.isEmpty();
  if (!blank && converted.isNull() && !ConvertsHere(picture) && !HasTexture(picture)) return false;
  QSGTexture* texture = blank ? nullptr : TextureFor(picture, std::move(converted));
  if (!texture) {
    image_->setRect(QRectF());
    markDirty(DirtyGeometry);
    retired_.reset();
    return true;
  }
  if (image_->texture() != texture) image_->setTexture(texture);
  retired_.reset();
  image_->setRect(rect);
  image_->setSourceRect(source);
  return true;
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
  if (reused_ && !reused_->pending.isNull()) Upload();
  const QSGTexture::Filtering wanted =
      smooth_ && !DrawnPixelForPixel() ? QSGTexture::Linear : QSGTexture::Nearest;
  if (image_->filtering() != wanted) image_->setFiltering(wanted);
}

}  // namespace flipreel
