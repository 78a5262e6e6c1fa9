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
#include "flipreel/quick/indexed_material.h"

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif
#ifndef GL_R8
#define GL_R8 0x8229
#endif
#ifndef GL_RED
#define GL_RED 0x1903
#endif

namespace flipreel {

namespace {
std::atomic<int64_t> upload_count{0};
std::atomic<int64_t> made_count{0};
std::atomic<int64_t> indexed_count{0};
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

// The textures of a kept 8-bit picture: its indices, one byte a pixel, in an
// OpenGL texture of our own, and its premultiplied palette. The indices go
// up in the render pass's preparation (preprocess), from `pending`.
struct FrameNode::Indexed {
  GLuint id = 0;
  std::unique_ptr<QSGTexture> indices;
  std::unique_ptr<QSGTexture> palette;
  bool opaque = true;
  std::shared_ptr<const PictureData> pending;

  Indexed() = default;
  Indexed(const Indexed&) = delete;
  Indexed& operator=(const Indexed&) = delete;
  // The wrapper goes before the texture it wraps; the scene graph drops its
  // nodes with their context current.
  ~Indexed() {
    indices.reset();
    QOpenGLContext* context = QOpenGLContext::currentContext();
    if (context && id) context->functions()->glDeleteTextures(1, &id);
  }
};

FrameNode::Entry::Entry() = default;
FrameNode::Entry::Entry(std::weak_ptr<const PictureData> p, std::unique_ptr<QSGTexture> t, size_t b)
    : picture(std::move(p)), texture(std::move(t)), bytes(b) {}
FrameNode::Entry::Entry(Entry&&) noexcept = default;
FrameNode::Entry& FrameNode::Entry::operator=(Entry&&) noexcept = default;
FrameNode::Entry::~Entry() = default;

int64_t FrameNode::uploads() {
  return upload_count.load();
}

int64_t FrameNode::textures_made() {
  return made_count.load();
}

int64_t FrameNode::indexed_made() {
  return indexed_count.load();
}

FrameNode::FrameNode(QQuickWindow& window) : window_(window) {
  TexturedChanged();
  setFlag(UsePreprocess);
  // One-channel textures (GL_R8) and the shader's texelFetch came with
  // OpenGL 3 and OpenGL ES 3.
  if (QOpenGLContext* context = QOpenGLContext::currentContext();
      context && window_.rendererInterface()->graphicsApi() == QSGRendererInterface::OpenGL) {
    indexed_supported_ = context->format().majorVersion() >= 3;
  }
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
      std::unique_ptr<QSGImageNode> node(window_.createImageNode());
      node->setFlag(OwnedByParent, false);
      node->setOwnsTexture(false);
      node->setTexture(texture.get());
      node->setFiltering(filtering);
      node->setRect(QRectF());
      appendChildNode(node.get());
      warm_.push_back(std::move(node));
    }
  }
  // The same for frames drawn from their indices, opaque or not.
  if (indexed_supported_) {
    warm_indexed_ = MakeIndexed(
        Picture(PictureData::Indexed(1, 1, std::vector<uint8_t>{0}, PictureData::Palette{})));
    for (const bool opaque : {true, false}) {
      if (!warm_indexed_) break;
      std::unique_ptr<QSGGeometryNode> node = MakeIndexedNode();
      static_cast<IndexedMaterial*>(node->material())
          ->Set(warm_indexed_->indices.get(), warm_indexed_->palette.get(), opaque);
      appendChildNode(node.get());
      warm_.push_back(std::move(node));
    }
  }
}

FrameNode::~FrameNode() {
  DropOutgoing();
  if (reused_) DropBands(*reused_);
  SetImageShown(false);
  SetIndexedShown(false);
  DropWarm();
}

void FrameNode::DropWarm() {
  for (auto& node : warm_) removeChildNode(node.get());
  warm_.clear();
  for (auto& texture : warm_textures_) texture.reset();
  warm_indexed_.reset();
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
    const bool droppable =
        it->first != indexed_key_ && (it->second.indexed || it->second.texture.get() != on_show);
    if (droppable && (kept_bytes_ > budget_ || it->second.picture.expired())) {
      kept_bytes_ -= it->second.bytes;
      it = kept_.erase(it);
      TexturedChanged();
    } else {
      ++it;
    }
  }
}

void FrameNode::DropKept(const PictureData* key) {
  auto it = kept_.find(key);
  if (it == kept_.end()) return;
  kept_bytes_ -= it->second.bytes;
  kept_.erase(it);
  TexturedChanged();
}

bool FrameNode::HasTexture(const Picture& picture) const {
  const PictureData* key = picture.data();
  if (auto it = kept_.find(key); it != kept_.end())
    return !it->second.picture.expired() && (!it->second.indexed || nearest_);
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
  if (auto it = kept_.find(key);
      it != kept_.end() && !it->second.picture.expired() && !it->second.indexed)
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
    DropKept(key);  // an earlier picture at this address, or its indexed texture
    kept_bytes_ += bytes;
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
  SetIndexedShown(false);
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
  Entry* indexed = blank ? nullptr : IndexedFor(picture);
  if (!blank && !indexed && converted.isNull() && !ConvertsHere(picture) && !HasTexture(picture))
    return false;
  rect_ = rect;
  source_ = source;
  if (indexed) {
    HideBands();
    SetImageShown(false);
    retired_.reset();
    ShowIndexed(picture.data(), *indexed);
    return true;
  }
  SetIndexedShown(false);
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

FrameNode::Entry* FrameNode::IndexedFor(const Picture& picture) {
  if (!nearest_) return nullptr;
  const PictureData* key = picture.data();
  if (auto it = kept_.find(key); it != kept_.end() && !it->second.picture.expired())
    return it->second.indexed ? &it->second : nullptr;  // a 32-bit texture is shown as it is
  if (!indexed_supported_ || key->format() != PictureData::Format::kIndexed8) return nullptr;
  constexpr int kColours = 256;
  const auto bytes = static_cast<size_t>(picture.width()) * static_cast<size_t>(picture.height()) +
                     kColours * sizeof(uint32_t);
  Trim();
  if (kept_bytes_ + bytes > budget_) return nullptr;
  std::unique_ptr<Indexed> indexed = MakeIndexed(picture);
  if (!indexed) return nullptr;
  indexed_uploads_.push_back(key);
  Entry entry{picture.shared(), nullptr, bytes};
  entry.indexed = std::move(indexed);
  DropKept(key);  // an earlier picture at this address
  kept_bytes_ += bytes;
  auto [it, made] = kept_.emplace(key, std::move(entry));
  TexturedChanged();
  return &it->second;
}

// The textures of an 8-bit picture, its indices to be uploaded by the next
// preprocess; none when OpenGL gives no texture name.
std::unique_ptr<FrameNode::Indexed> FrameNode::MakeIndexed(const Picture& picture) {
  QOpenGLContext* context = QOpenGLContext::currentContext();
  if (!context) return nullptr;
  auto indexed = std::make_unique<Indexed>();
  context->functions()->glGenTextures(1, &indexed->id);
  if (!indexed->id) return nullptr;
  indexed->indices.reset(QNativeInterface::QSGOpenGLTexture::fromNative(
      indexed->id, &window_, QSize(picture.width(), picture.height())));
  // The renderer draws the frame without blending when no pixel uses a
  // transparent colour.
  constexpr int kColours = 256;
  QImage colours(kColours, 1, QImage::Format_ARGB32_Premultiplied);
  auto* row = reinterpret_cast<QRgb*>(colours.scanLine(0));
  const PictureData& data = *picture.data();
  for (int i = 0; i < kColours; ++i) row[i] = qPremultiply(data.palette()[static_cast<size_t>(i)]);
  QRgb alpha = 0xFF000000u;
  const uint8_t* index = data.indices();
  const size_t pixels = static_cast<size_t>(data.width()) * static_cast<size_t>(data.height());
  for (size_t i = 0; i < pixels; ++i) alpha &= row[index[i]];
  indexed->opaque = alpha == 0xFF000000u;
  indexed->palette.reset(window_.createTextureFromImage(colours));
  for (QSGTexture* t : {indexed->indices.get(), indexed->palette.get()}) {
    t->setFiltering(QSGTexture::Nearest);
    t->setHorizontalWrapMode(QSGTexture::ClampToEdge);
    t->setVerticalWrapMode(QSGTexture::ClampToEdge);
  }
  indexed->pending = picture.shared();
  return indexed;
}

std::unique_ptr<QSGGeometryNode> FrameNode::MakeIndexedNode() {
  auto node = std::make_unique<QSGGeometryNode>();
  node->setFlag(OwnedByParent, false);
  node->setGeometry(new QSGGeometry(QSGGeometry::defaultAttributes_TexturedPoint2D(), 4));
  node->setFlag(OwnsGeometry);
  node->setMaterial(new IndexedMaterial);
  node->setFlag(OwnsMaterial);
  return node;
}

void FrameNode::ShowIndexed(const PictureData* key, Entry& entry) {
  if (!indexed_node_) indexed_node_ = MakeIndexedNode();
  Indexed& textures = *entry.indexed;
  auto* material = static_cast<IndexedMaterial*>(indexed_node_->material());
  // Textures dropped while the node was out of the tree may have left their
  // addresses to new ones: the material is set afresh whenever it comes back.
  if (!indexed_node_->parent() || indexed_key_ != key ||
      material->indices() != textures.indices.get()) {
    material->Set(textures.indices.get(), textures.palette.get(), textures.opaque);
    indexed_node_->markDirty(DirtyMaterial);
  }
  const QSize size = textures.indices->textureSize();
  QSGGeometry::updateTexturedRectGeometry(
      indexed_node_->geometry(), rect_,
      QRectF(source_.x() / size.width(), source_.y() / size.height(),
             source_.width() / size.width(), source_.height() / size.height()));
  indexed_node_->markDirty(DirtyGeometry);
  indexed_key_ = key;
  SetIndexedShown(true);
}

void FrameNode::SetIndexedShown(bool shown) {
  if (!indexed_node_) return;
  if (!shown) indexed_key_ = nullptr;
  if (shown == (indexed_node_->parent() != nullptr)) return;
  if (shown) {
    appendChildNode(indexed_node_.get());
  } else {
    removeChildNode(indexed_node_.get());
  }
}

// The indices of the 8-bit pictures made since the last frame go up as they
// are, one byte a pixel.
void FrameNode::UploadIndexed() {
  std::vector<Indexed*> due;
  if (warm_indexed_ && warm_indexed_->pending) due.push_back(warm_indexed_.get());
  for (const PictureData* key : indexed_uploads_) {
    auto it = kept_.find(key);
    if (it != kept_.end() && it->second.indexed && it->second.indexed->pending)
      due.push_back(it->second.indexed.get());
  }
  indexed_uploads_.clear();
  QOpenGLContext* context = QOpenGLContext::currentContext();
  if (due.empty() || !context) return;
  QOpenGLFunctions& gl = *context->functions();
  window_.beginExternalCommands();
  gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (Indexed* textures : due) {
    const PictureData& picture = *textures->pending;
    gl.glBindTexture(GL_TEXTURE_2D, textures->id);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, picture.width(), picture.height(), 0, GL_RED,
                    GL_UNSIGNED_BYTE, picture.indices());
    textures->pending.reset();
    if (textures == warm_indexed_.get()) continue;
    ++upload_count;
    ++made_count;
    ++indexed_count;
  }
  gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  gl.glBindTexture(GL_TEXTURE_2D, 0);
  window_.endExternalCommands();
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
  nearest_ = wanted == QSGTexture::Nearest;
  if (!nearest_ && indexed_key_) {
    // Scaled smoothly now: indices cannot be blended, so the frame on show
    // becomes a 32-bit texture, converted here this once.
    auto it = kept_.find(indexed_key_);
    if (std::shared_ptr<const PictureData> data =
            it != kept_.end() ? it->second.picture.lock() : nullptr) {
      QImage image = ToPaintImage(*data);
      Show(Picture(std::move(data)), std::move(image), rect_, source_, smooth_, budget_);
    }
  }
  UploadIndexed();
  if (image_->filtering() != wanted) image_->setFiltering(wanted);
  if (reused_) {
    for (Band& band : reused_->bands) {
      if (band.node && band.node->filtering() != wanted) band.node->setFiltering(wanted);
    }
  }
}

}  // namespace flipreel
