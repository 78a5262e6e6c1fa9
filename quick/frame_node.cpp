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
#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>
#include <vector>

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

// Frames shown in place (OpenGL) are cut into horizontal bands, each an
// OpenGL texture of its own with an image node of its own. A band holds one
// row more each side where the picture has one, so that filtering across
// its edge meets its neighbour's pixels, as in one texture.
struct FrameNode::Band {
  GLuint id = 0;
  int top = 0, bottom = 0;  // the picture's rows it shows
  int first = 0, last = 0;  // the picture's rows it holds
  bool allocated = false;
  std::unique_ptr<QSGTexture> texture;
  QSGImageNode* node = nullptr;  // a child of the frame node
};

// The bands of one size, and the frame they are to show. Its pixels wait
// in `pending` until the render pass is being prepared (preprocess), off
// the GUI thread.
struct FrameNode::Reused {
  QSize size;
  bool opaque = true;
  std::vector<Band> bands;
  QImage pending;
  std::weak_ptr<const PictureData> picture;  // what the bands hold, or will
  const PictureData* key = nullptr;
  bool wanted = false;   // the frame is the one to show
  bool on_show = false;  // the band nodes are what the node shows
  bool paced = false;    // bands still to allocate are made one a frame

  bool Allocated() const {
    return std::ranges::all_of(bands, [](const Band& b) { return b.allocated; });
  }
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
  image_.reset(window_.createImageNode());
  image_->setOwnsTexture(false);
  // In the tree only while it shows something: the renderer cannot draw an
  // image node without a texture.
  image_->setFlag(OwnedByParent, false);
  for (const bool opaque : {true, false}) {
    QImage pixel(1, 1, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    pixel.fill(Qt::transparent);
    auto& texture = warm_textures_[opaque ? 0 : 1];
    texture.reset(window_.createTextureFromImage(
        pixel, opaque ? QQuickWindow::TextureIsOpaque : QQuickWindow::TextureHasAlphaChannel));
    for (const auto filtering : {QSGTexture::Nearest, QSGTexture::Linear}) {
      auto& node = warm_.emplace_back(window_.createImageNode());
      node->setFlag(OwnedByParent, false);
      node->setOwnsTexture(false);
      node->setTexture(texture.get());
      node->setFiltering(filtering);
      node->setRect(QRectF());
      appendChildNode(node.get());
    }
  }
}

FrameNode::~FrameNode() {
  DropOutgoing();
  if (reused_) DropBands(*reused_);
  SetImageShown(false);
  DropWarm();
}

void FrameNode::DropWarm() {
  for (auto& node : warm_) removeChildNode(node.get());
  warm_.clear();
  for (auto& texture : warm_textures_) texture.reset();
}

void FrameNode::SetImageShown(bool shown) {
  if (shown == (image_->parent() != nullptr)) return;
  if (shown) {
    appendChildNode(image_.get());
  } else {
    removeChildNode(image_.get());
  }
}

// The wrappers go before the OpenGL textures they wrap; the scene graph
// drops its nodes with their context current.
void FrameNode::DropBands(Reused& r) {
  QOpenGLContext* context = QOpenGLContext::currentContext();
  for (Band& band : r.bands) {
    if (band.node) {
      removeChildNode(band.node);
      delete band.node;
    }
    band.texture.reset();
    if (context && band.id) context->functions()->glDeleteTextures(1, &band.id);
  }
  r.bands.clear();
  r.on_show = false;
  // With no bands, no frame is held in place.
  r.key = nullptr;
  r.picture.reset();
}

void FrameNode::DropOutgoing() {
  if (!outgoing_) return;
  DropBands(*outgoing_);
  outgoing_.reset();
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

// The texture of a picture shown on the image node; none when the picture
// goes to the bands (or cannot be had).
QSGTexture* FrameNode::TextureFor(const Picture& picture, QImage converted, bool paced) {
  const PictureData* key = picture.data();
  if (auto it = kept_.find(key); it != kept_.end() && !it->second.picture.expired())
    return it->second.texture.get();
  if (aside_key_ == key && !aside_.picture.expired()) return aside_.texture.get();
  if (reused_ && reused_->key == key && !reused_->picture.expired()) {
    reused_->wanted = true;
    return nullptr;
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
  if (Reuse(picture, image, paced)) {
    if (here) scratch_ = std::move(image);  // written over once uploaded
    return nullptr;
  }
  retired_ = std::move(aside_.texture);
  aside_ = Entry{picture.shared(), MakeTexture(image), bytes};
  aside_key_ = key;
  if (here) scratch_ = std::move(image);
  return aside_.texture.get();
}

// Only OpenGL offers a way to write over a texture's pixels through the
// scene graph's public interface; elsewhere each frame beyond the budget
// makes a texture of its own. The pixels go up as they are in memory (BGRA).
bool FrameNode::Reuse(const Picture& picture, QImage image, bool paced) {
  if (window_.rendererInterface()->graphicsApi() != QSGRendererInterface::OpenGL) return false;
  QOpenGLContext* context = QOpenGLContext::currentContext();
  if (!context || context->isOpenGLES()) return false;
  if (!reused_) reused_ = std::make_unique<Reused>();
  const bool opaque = image.format() == QImage::Format_RGB32;
  if (reused_->size != image.size()) {
    if (reused_->on_show) {
      // The bands on show stay until the new ones can take their place, so
      // that the window never shows nothing meanwhile.
      DropOutgoing();
      outgoing_ = std::move(reused_);
      outgoing_->key = nullptr;
      outgoing_->picture.reset();
      outgoing_->pending = QImage();
      reused_ = std::make_unique<Reused>();
    } else {
      DropBands(*reused_);
    }
    if (!CutBands(*reused_, image)) return false;
    reused_->opaque = !opaque;  // the wrappers are made below
  }
  Reused& r = *reused_;
  if (r.opaque != opaque) {
    r.opaque = opaque;
    for (Band& band : r.bands) {
      std::unique_ptr<QSGTexture> wrapper(QNativeInterface::QSGOpenGLTexture::fromNative(
          band.id, &window_, QSize(r.size.width(), band.last - band.first),
          opaque ? QQuickWindow::TextureIsOpaque : QQuickWindow::TextureHasAlphaChannel));
      if (!band.node) {
        band.node = window_.createImageNode();
        band.node->setOwnsTexture(false);
        appendChildNode(band.node);
      }
      band.node->setTexture(wrapper.get());
      band.texture = std::move(wrapper);
    }
  }
  r.pending = std::move(image);
  r.picture = picture.shared();
  r.key = picture.data();
  r.wanted = true;
  r.paced = paced;
  return true;
}

// Bands of about kBandBytes, all of one height, for pictures of image's
// size; false, with none, when OpenGL gives no texture name.
bool FrameNode::CutBands(Reused& r, const QImage& image) {
  QOpenGLFunctions& gl = *QOpenGLContext::currentContext()->functions();
  r.size = image.size();
  const int count = std::max(
      1,
      static_cast<int>((static_cast<size_t>(image.sizeInBytes()) + kBandBytes - 1) / kBandBytes));
  const int rows = (r.size.height() + count - 1) / count;
  for (int top = 0; top < r.size.height(); top += rows) {
    Band band;
    band.top = top;
    band.bottom = std::min(top + rows, r.size.height());
    band.first = std::max(0, top - 1);
    band.last = std::min(band.bottom + 1, r.size.height());
    gl.glGenTextures(1, &band.id);
    if (!band.id) {
      DropBands(r);
      r.size = QSize();
      return false;
    }
    r.bands.push_back(std::move(band));
  }
  return true;
}

// Makes the bands' storage (one band a frame while paced), then uploads the
// frame waiting; true once the bands hold it.
bool FrameNode::Upload() {
  Reused& r = *reused_;
  QOpenGLContext* context = QOpenGLContext::currentContext();
  if (!context) return false;
  QOpenGLFunctions& gl = *context->functions();
  window_.beginExternalCommands();
  gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  const int width = r.size.width();
  for (Band& band : r.bands) {
    if (band.allocated) continue;
    gl.glBindTexture(GL_TEXTURE_2D, band.id);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, band.last - band.first, 0, GL_BGRA,
                    GL_UNSIGNED_BYTE, nullptr);
    band.allocated = true;
    ++made_count;
    if (r.paced) break;
  }
  const bool ready = r.Allocated();
  if (ready) {
    for (Band& band : r.bands) {
      gl.glBindTexture(GL_TEXTURE_2D, band.id);
      gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, band.last - band.first, GL_BGRA,
                         GL_UNSIGNED_BYTE, r.pending.constScanLine(band.first));
    }
    r.pending = QImage();
    ++upload_count;
  }
  gl.glBindTexture(GL_TEXTURE_2D, 0);
  window_.endExternalCommands();
  return ready;
}

// The bands take the frame's place: each shows its rows of the source.
void FrameNode::PlaceBands() {
  Reused& r = *reused_;
  const qreal sy = source_.height() > 0 ? rect_.height() / source_.height() : 0;
  for (Band& band : r.bands) {
    const qreal top = std::max<qreal>(band.top, source_.top());
    const qreal bottom = std::min<qreal>(band.bottom, source_.bottom());
    if (bottom <= top) {
      band.node->setRect(QRectF());
      continue;
    }
    band.node->setRect(QRectF(rect_.left(), rect_.top() + (top - source_.top()) * sy, rect_.width(),
                              (bottom - top) * sy));
    band.node->setSourceRect(
        QRectF(source_.left(), top - band.first, source_.width(), bottom - top));
  }
  r.on_show = true;
  SetImageShown(false);
  DropOutgoing();
}

void FrameNode::HideBands() {
  DropOutgoing();
  if (!reused_) return;
  reused_->wanted = false;
  if (!reused_->on_show) return;
  for (Band& band : reused_->bands) band.node->setRect(QRectF());
  reused_->on_show = false;
}

bool FrameNode::Show(const Picture& picture, QImage converted, const QRectF& rect,
                     const QRectF& source, bool smooth, size_t budget, bool paced) {
  smooth_ = smooth;
  if (budget != budget_) {
    budget_ = budget;
    Trim();
  }
  const bool blank = picture.IsEmpty() || rect.isEmpty();
  if (!blank && converted.isNull() && !ConvertsHere(picture) && !HasTexture(picture)) return false;
  rect_ = rect;
  source_ = source;
  QSGTexture* texture = blank ? nullptr : TextureFor(picture, std::move(converted), paced);
  if (!texture && !blank && reused_ && reused_->wanted) {
    // Shown by the bands, now when they are there, else once preprocess
    // has made them.
    if (reused_->Allocated()) PlaceBands();
    return true;
  }
  HideBands();
  if (!texture) {
    SetImageShown(false);
    retired_.reset();
    return true;
  }
  if (image_->texture() != texture) image_->setTexture(texture);
  retired_.reset();
  image_->setRect(rect);
  image_->setSourceRect(source);
  SetImageShown(true);
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
  const QPointF corner = m.map(rect_.topLeft()) * dpr;
  auto whole = [](qreal v) { return std::abs(v - std::round(v)) < 1e-3; };
  auto same = [](qreal a, qreal b) { return std::abs(a - b) < 1e-3; };
  return whole(corner.x()) && whole(corner.y()) && whole(source_.x()) && whole(source_.y()) &&
         same(rect_.width() * m(0, 0) * dpr, source_.width()) &&
         same(rect_.height() * m(1, 1) * dpr, source_.height());
}

void FrameNode::preprocess() {
  if (!warm_.empty() && std::exchange(warm_drawn_, true)) DropWarm();
  if (reused_ && !reused_->pending.isNull()) {
    if (!Upload()) {
      window_.update();  // the next band in the next frame
    } else if (reused_->wanted && !reused_->on_show) {
      PlaceBands();
    }
  }
  const QSGTexture::Filtering wanted =
      smooth_ && !DrawnPixelForPixel() ? QSGTexture::Linear : QSGTexture::Nearest;
  if (image_->filtering() != wanted) image_->setFiltering(wanted);
  if (reused_) {
    for (Band& band : reused_->bands) {
      if (band.node && band.node->filtering() != wanted) band.node->setFiltering(wanted);
    }
  }
}

}  // namespace flipreel
