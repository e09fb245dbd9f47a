// The model's render objects: the shared vertex arrays (TPmxVAO for the model, TSimpleVAO for the
// ground, TBoneVAO for one bone line), one TPmxMesh per material, the ground plane TPmxPlane, and
// the bone overlay item TBone. Depends on gl/UCommon2 (buffers, items, textures), shading/UShader
// (the two programs), formats/pmxlib (the model records) and the vector math.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "formats/pmxlib.h"
#include "gl/UCommon2.h"
#include "math/VectorTypes.h"
#include "shading/UShader.h"

// Every vertex of the model: positions and normals (rewritten by skinning) and texture
// coordinates, three tightly packed float buffers in vertex order.
class TPmxVAO : public TVertexArrayObject {
 public:
  TPmxVAO(TMainProgram* AProgram, const TPmx& APmx);
  const std::shared_ptr<IBufferObject>& PositionBuffer() const { return FPositionBuffer; }
  const std::shared_ptr<IBufferObject>& TexCoordBuffer() const { return FTexCoordBuffer; }
  const std::shared_ptr<IBufferObject>& NormalBuffer() const { return FNormalBuffer; }

 private:
  std::shared_ptr<IBufferObject> FPositionBuffer;
  std::shared_ptr<IBufferObject> FTexCoordBuffer;
  std::shared_ptr<IBufferObject> FNormalBuffer;
};

// The six vertices of one bone line: its position buffer for the bone program.
class TBoneVAO : public TVertexArrayObject {
 public:
  TBoneVAO(TBoneProgram* AProgram, std::span<const float> AVertices);
  const std::shared_ptr<IBufferObject>& PositionBuffer() const { return FPositionBuffer; }

 private:
  std::shared_ptr<IBufferObject> FPositionBuffer;
};

// A static vertex array from three plain float arrays (positions, texture coordinates, normals).
class TSimpleVAO : public TVertexArrayObject {
 public:
  TSimpleVAO(TMainProgram* AProgram, std::span<const float> AVertices,
             std::span<const float> ATexCoords, std::span<const float> ANormals);

 private:
  std::shared_ptr<IBufferObject> FPositionBuffer;
  std::shared_ptr<IBufferObject> FTexCoordBuffer;
  std::shared_ptr<IBufferObject> FNormalBuffer;
};

// One material of the model: its colours, textures (not owned) and sidedness.
class TPmxMesh : public TMesh {
 public:
  TPmxMesh(TMainProgram* AProgram, std::shared_ptr<IVertexArrayObject> AVAO,
           std::span<const uint32_t> AIndices, TTexture* ATexture, TTexture* AToonTexture,
           const TPmxMaterial* AMaterial);

  bool TwoSide() const { return FTwoSide; }
  bool SelfShadow() const { return FSelfShadow; }
  TTexture* ToonTexture() const { return FToonTexture; }
  const PmxFloat4& Diffuse() const { return FDiffuse; }
  const PmxFloat3& Specular() const { return FSpecular; }
  float Shininess() const { return FShininess; }
  const PmxFloat3& Ambient() const { return FAmbient; }

 protected:
  // Material uniforms, toon ramp on unit 1, culling off around a two-sided material.
  void DoRender(const TMatrix4f& AMVPMatrix) override;

 private:
  bool FTwoSide;
  bool FSelfShadow;  // recorded, not consulted when drawing
  TTexture* FToonTexture;
  PmxFloat4 FDiffuse;
  PmxFloat3 FSpecular;
  float FShininess;
  PmxFloat3 FAmbient;
};

// The 20 x 20 ground square at height 0, facing up, receiving the shadow.
class TPmxPlane : public TMesh {
 public:
  explicit TPmxPlane(TMainProgram* AProgram);

 protected:
  void DoRender(const TMatrix4f& AMVPMatrix) override;
};

// The wire shape of one displayed bone: a small square ring near the base joined to the base and
// to the tip, drawn as 12 lines over the scene regardless of depth.
class TBone : public TRenderItem {
 public:
  TBone(TBoneProgram* AProgram, const TVector3f& APosition1, const TVector3f& APosition2,
        const TVector4f& AColor);

  // Each writer stores the point and rewrites the line's vertex buffer.
  void SetPosition1(const TVector3f& AValue);
  void SetPosition2(const TVector3f& AValue);
  // Both points with one buffer write (what the per-frame update uses).
  void SetPositions(const TVector3f& APosition1, const TVector3f& APosition2);

  const TVector3f& Position1() const { return FPosition1; }
  const TVector3f& Position2() const { return FPosition2; }
  const TVector4f& Color() const { return FColor; }
  const std::shared_ptr<IVertexArrayObject>& VAO() const { return FVAO; }
  const std::shared_ptr<IBufferObject>& IndexBuffer() const { return FIndexBuffer; }

  // The six model-space vertices (18 floats) of a bone from APosition1 (base) to APosition2 (tip).
  static std::array<float, 18> BuildVertices(const TVector3f& APosition1,
                                             const TVector3f& APosition2);
  // The 24 line indices: 0-1, 0-2, 0-3, 0-4, 1-2, 2-4, 4-3, 3-1, 1-5, 2-5, 3-5, 4-5.
  static const std::array<uint32_t, 24> LineIndices;

 protected:
  void DoRender(const TMatrix4f& AMVPMatrix) override;

 private:
  void WriteVertices();

  TBoneProgram* FProgram;
  std::shared_ptr<IVertexArrayObject> FVAO;
  TBoneVAO* FBoneVAO;  // the same object as FVAO, for its position buffer
  std::shared_ptr<IBufferObject> FIndexBuffer;
  GLint FVertexColorLocation;
  TVector3f FPosition1;
  TVector3f FPosition2;
  TVector4f FColor;
};
