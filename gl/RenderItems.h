// Render items: the things a program draws. TRenderItem (visibility + DoRender), TMesh (one indexed
// triangle list from a shared vertex array, optional texture), TModel (meshes under one position).
// Part of the UCommon2 module; depends on gl/BufferObjects and the math records.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "gl/BufferObjects.h"
#include "math/VectorTypes.h"

class TProgram;
class TTexture;

class TRenderItem {
 public:
  TRenderItem() = default;
  virtual ~TRenderItem() = default;
  TRenderItem(const TRenderItem&) = delete;
  TRenderItem& operator=(const TRenderItem&) = delete;

  bool Visible() const { return FVisible; }
  void SetVisible(bool AValue) { FVisible = AValue; }

  // Draws the item unless it is hidden; a hidden item issues no GL call.
  void Render(const TMatrix4f& AMVPMatrix) {
    if (FVisible) DoRender(AMVPMatrix);
  }

 protected:
  virtual void DoRender(const TMatrix4f& AMVPMatrix) = 0;

 private:
  bool FVisible = true;
};

class TMesh : public TRenderItem {
 public:
  // AProgram and ATexture are not owned (ATexture may be null). The index buffer is created here
  // and bound as the element buffer, so no other item's vertex array may be bound meanwhile.
  TMesh(TProgram* AProgram, std::shared_ptr<IVertexArrayObject> AVAO,
        std::span<const std::uint32_t> AIndices, TTexture* ATexture);

  TProgram* Program() const { return FProgram; }
  const std::shared_ptr<IVertexArrayObject>& VAO() const { return FVAO; }
  TTexture* Texture() const { return FTexture; }
  int ArrayCount() const { return FArrayCount; }
  const std::shared_ptr<IBufferObject>& IndexBuffer() const { return FIndexBuffer; }

 protected:
  // Sets the program's MVPMatrix (the program must be current), binds the texture on unit 0 when
  // there is one, draws the triangles and leaves no vertex array bound.
  void DoRender(const TMatrix4f& AMVPMatrix) override;

  TProgram* FProgram;
  std::shared_ptr<IVertexArrayObject> FVAO;
  TTexture* FTexture;
  int FArrayCount;
  std::shared_ptr<IBufferObject> FIndexBuffer;
};

class TModel : public TRenderItem {
 public:
  TModel() = default;

  std::vector<std::unique_ptr<TMesh>>& Items() { return FItems; }
  const std::vector<std::unique_ptr<TMesh>>& Items() const { return FItems; }
  const TVector3f& Position() const { return FPosition; }
  void SetPosition(const TVector3f& AValue) { FPosition = AValue; }

 protected:
  // Applies the model's translation before the caller's matrix, then renders the meshes in order.
  void DoRender(const TMatrix4f& AMVPMatrix) override;

  std::vector<std::unique_ptr<TMesh>> FItems;
  TVector3f FPosition{{0, 0, 0}};
};
