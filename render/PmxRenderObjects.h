// The model's render objects: the shared vertex arrays (TPmxVAO for the model, TSimpleVAO for the
// ground, TBoneVAO for one bone line), one TPmxMesh per material, the ground plane TPmxPlane, and
// the bone overlay item TBone. Depends on gl/UCommon2 (buffers, items, textures), shading/UShader
// (the two programs), formats/pmxlib (the model records), the controller core's per-material state
// (character/core/PmxControllerCore.h) and the vector math.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "character/core/PmxControllerCore.h"
#include "formats/pmxlib.h"
#include "gl/UCommon2.h"
#include "math/VectorTypes.h"
#include "shading/UShader.h"

// Every vertex of the model: positions and normals (rewritten by skinning), texture coordinates
// and additional UV 1 (xy; rewritten by UV morphs), and the outline scale, tightly packed float
// buffers in vertex order.
class TPmxVAO : public TVertexArrayObject {
 public:
  TPmxVAO(TMainProgram* AProgram, const TPmx& APmx);
  const std::shared_ptr<IBufferObject>& PositionBuffer() const { return FPositionBuffer; }
  const std::shared_ptr<IBufferObject>& TexCoordBuffer() const { return FTexCoordBuffer; }
  const std::shared_ptr<IBufferObject>& NormalBuffer() const { return FNormalBuffer; }
  const std::shared_ptr<IBufferObject>& EdgeScaleBuffer() const { return FEdgeScaleBuffer; }
  const std::shared_ptr<IBufferObject>& UV1Buffer() const { return FUV1Buffer; }

 private:
  std::shared_ptr<IBufferObject> FPositionBuffer;
  std::shared_ptr<IBufferObject> FTexCoordBuffer;
  std::shared_ptr<IBufferObject> FNormalBuffer;
  std::shared_ptr<IBufferObject> FEdgeScaleBuffer;
  std::shared_ptr<IBufferObject> FUV1Buffer;
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

// One material of the model: its colours, textures (not owned), render flags and outline.
class TPmxMesh : public TMesh {
 public:
  TPmxMesh(TMainProgram* AProgram, std::shared_ptr<IVertexArrayObject> AVAO,
           std::span<const uint32_t> AIndices, TTexture* ATexture, TTexture* AToonTexture,
           const TPmxMaterial* AMaterial, TTexture* ASphereTexture = nullptr);

  // The morphed values drawn instead of the material's own: entry AIndex of AStates (not owned;
  // the vector must outlive the mesh's draws). While the vector has no such entry, the material's
  // own values with neutral tints are drawn.
  void SetMaterialStates(const std::vector<TMaterialMorphState>* AStates, int AIndex) {
    FStates = AStates;
    FStateIndex = AIndex;
  }
  // The values the next draw uses.
  TMaterialMorphState CurrentState() const;

  bool TwoSide() const { return FTwoSide; }
  bool SelfShadow() const { return FSelfShadow; }
  bool CastsShadow() const { return FCastsShadow; }
  bool Edge() const { return FEdge; }
  int SphereMode() const { return FSphereMode; }
  TTexture* ToonTexture() const { return FToonTexture; }
  TTexture* SphereTexture() const { return FSphereTexture; }
  const PmxFloat4& Diffuse() const { return FBase.Diffuse; }
  const PmxFloat3& Specular() const { return FBase.Specular; }
  float Shininess() const { return FBase.Shininess; }
  const PmxFloat3& Ambient() const { return FBase.Ambient; }

 protected:
  // Depth pass: only shadow casters. Lit pass: material uniforms, toon ramp on unit 1, sphere map
  // on unit 3, culling off around a two-sided material, then the outline when the material has
  // one.
  void DoRender(const TMatrix4f& AMVPMatrix) override;

 private:
  // The mesh again with front faces culled, pushed out along the normals, in the edge colour.
  void DrawEdge(const TMatrix4f& AMVPMatrix, const TMaterialMorphState& AState);

  bool FTwoSide;
  bool FSelfShadow;
  bool FCastsShadow;  // ground shadow or shadow-map casting: drawn into the one shadow map
  bool FEdge;
  int FSphereMode;  // smNone when the material has no (readable) sphere texture
  TTexture* FToonTexture;
  TTexture* FSphereTexture;
  TMaterialMorphState FBase;  // the material's own values, neutral tints
  const std::vector<TMaterialMorphState>* FStates = nullptr;
  int FStateIndex = 0;
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
