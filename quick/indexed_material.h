// A material that draws a frame kept as 8-bit colour indices: a texture of
// one byte a pixel and a 256 x 1 texture of its premultiplied palette, looked
// up per pixel. A quarter of a 32-bit texture's memory, so a software
// rasteriser, which clears and faults in every new texture's pages, makes
// each frame's texture at a quarter of the cost. The indices are sampled
// nearest, so the pixels are those of the 32-bit texture with nearest
// filtering; linear filtering would blend indices, not colours.
#pragma once

#include <QSGMaterial>

class QSGTexture;

namespace flipreel {

class IndexedMaterial : public QSGMaterial {
 public:
  IndexedMaterial();
  QSGMaterialType* type() const override;
  QSGMaterialShader* createShader(QSGRendererInterface::RenderMode mode) const override;
  int compare(const QSGMaterial* other) const override;

  // The textures drawn, owned elsewhere; `opaque` when no pixel of the frame
  // is transparent, so that the renderer draws it without blending.
  void Set(QSGTexture* indices, QSGTexture* palette, bool opaque);
  QSGTexture* indices() const { return indices_; }
  QSGTexture* palette() const { return palette_; }

 private:
  QSGTexture* indices_ = nullptr;
  QSGTexture* palette_ = nullptr;
};

}  // namespace flipreel
