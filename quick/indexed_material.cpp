#include "flipreel/quick/indexed_material.h"

#include <QSGMaterialShader>
#include <QSGTexture>
#include <cstring>

namespace flipreel {

namespace {

class IndexedShader : public QSGMaterialShader {
 public:
  IndexedShader() {
    setShaderFileName(VertexStage,
                      QStringLiteral(":/flipreel/quick/shaders/indexed_frame.vert.qsb"));
    setShaderFileName(FragmentStage,
                      QStringLiteral(":/flipreel/quick/shaders/indexed_frame.frag.qsb"));
  }

  bool updateUniformData(RenderState& state, QSGMaterial*, QSGMaterial*) override {
    QByteArray& buffer = *state.uniformData();
    constexpr int kMatrixBytes = 64;
    if (state.isMatrixDirty())
      std::memcpy(buffer.data(), state.combinedMatrix().constData(), kMatrixBytes);
    if (state.isOpacityDirty()) {
      const float opacity = state.opacity();
      std::memcpy(buffer.data() + kMatrixBytes, &opacity, sizeof opacity);
    }
    return true;
  }

  void updateSampledImage(RenderState& state, int binding, QSGTexture** texture,
                          QSGMaterial* material, QSGMaterial*) override {
    auto* m = static_cast<IndexedMaterial*>(material);
    QSGTexture* t = binding == 1 ? m->indices() : m->palette();
    if (!t) return;
    t->commitTextureOperations(state.rhi(), state.resourceUpdateBatch());
    *texture = t;
  }
};

}  // namespace

IndexedMaterial::IndexedMaterial() = default;

QSGMaterialType* IndexedMaterial::type() const {
  static QSGMaterialType type;
  return &type;
}

QSGMaterialShader* IndexedMaterial::createShader(QSGRendererInterface::RenderMode) const {
  return new IndexedShader;
}

int IndexedMaterial::compare(const QSGMaterial* other) const {
  const auto* o = static_cast<const IndexedMaterial*>(other);
  if (indices_ != o->indices_) return indices_ < o->indices_ ? -1 : 1;
  if (palette_ != o->palette_) return palette_ < o->palette_ ? -1 : 1;
  return 0;
}

void IndexedMaterial::Set(QSGTexture* indices, QSGTexture* palette, bool opaque) {
  indices_ = indices;
  palette_ = palette;
  setFlag(Blending, !opaque);
}

}  // namespace flipreel
