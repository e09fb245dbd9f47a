#include "render/PmxRenderObjects.h"

#include <cstring>
#include <vector>

#include "math/VectorGeometry.h"
#include "math/VectorMath.h"

// ---- vertex arrays ------------------------------------------------------------------------------

TPmxVAO::TPmxVAO(TMainProgram* AProgram, const TPmx& APmx) {
  Bind();
  const size_t Count = static_cast<size_t>(APmx.VertexCount());
  std::vector<float> Positions(3 * Count), TexCoords(2 * Count), Normals(3 * Count),
      EdgeScales(Count), UV1(2 * Count);
  for (size_t I = 0; I < Count; ++I) {
    const TPmxVertex& V = *APmx.GetVertex(static_cast<int>(I));
    std::memcpy(&Positions[3 * I], V.Position.V, 3 * sizeof(float));
    TexCoords[2 * I] = V.UV.X;
    TexCoords[2 * I + 1] = V.UV.Y;
    std::memcpy(&Normals[3 * I], V.Normal.V, 3 * sizeof(float));
    EdgeScales[I] = V.MagnificationOfEdge;
    if (!V.AdditionalUV.empty()) {
      UV1[2 * I] = V.AdditionalUV[0].X;
      UV1[2 * I + 1] = V.AdditionalUV[0].Y;
    }
  }
  // Each attribute is pointed at its buffer right after the buffer is made, while it is bound.
  FPositionBuffer = NewBufferObject<float>(btArray, Positions, buDynamic);
  AProgram->SetPosition(FPositionBuffer);
  FTexCoordBuffer = NewBufferObject<float>(btArray, TexCoords, buDynamic);
  AProgram->SetTexCoord(FTexCoordBuffer);
  FNormalBuffer = NewBufferObject<float>(btArray, Normals, buDynamic);
  AProgram->SetNormal(FNormalBuffer);
  FEdgeScaleBuffer = NewBufferObject<float>(btArray, EdgeScales, buStatic);
  AProgram->SetEdgeScale(FEdgeScaleBuffer);
  FUV1Buffer = NewBufferObject<float>(btArray, UV1, buDynamic);
  AProgram->SetUV1(FUV1Buffer);
  Unbind();
}

TBoneVAO::TBoneVAO(TBoneProgram* AProgram, std::span<const float> AVertices) {
  Bind();
  FPositionBuffer = NewBufferObject<float>(btArray, AVertices, buStatic);
  AProgram->SetPosition(FPositionBuffer);
  Unbind();
}

TSimpleVAO::TSimpleVAO(TMainProgram* AProgram, std::span<const float> AVertices,
                       std::span<const float> ATexCoords, std::span<const float> ANormals) {
  Bind();
  FPositionBuffer = NewBufferObject<float>(btArray, AVertices, buStatic);
  AProgram->SetPosition(FPositionBuffer);
  FTexCoordBuffer = NewBufferObject<float>(btArray, ATexCoords, buStatic);
  AProgram->SetTexCoord(FTexCoordBuffer);
  FNormalBuffer = NewBufferObject<float>(btArray, ANormals, buStatic);
  AProgram->SetNormal(FNormalBuffer);
  Unbind();
}

// ---- meshes -------------------------------------------------------------------------------------

namespace {

const TVector4f NeutralMul{{1, 1, 1, 1}}, NeutralAdd{{0, 0, 0, 0}};

}  // namespace

TPmxMesh::TPmxMesh(TMainProgram* AProgram, std::shared_ptr<IVertexArrayObject> AVAO,
                   std::span<const uint32_t> AIndices, TTexture* ATexture, TTexture* AToonTexture,
                   const TPmxMaterial* AMaterial, TTexture* ASphereTexture)
    : TMesh(AProgram, std::move(AVAO), AIndices, ATexture),
      FTwoSide(HasFlag(AMaterial->RenderFlags, rfTwoSide)),
      FSelfShadow(HasFlag(AMaterial->RenderFlags, rfSelfShadow)),
      FCastsShadow(HasFlag(AMaterial->RenderFlags, rfGroundShadow) ||
                   HasFlag(AMaterial->RenderFlags, rfShadowMapping)),
      FEdge(HasFlag(AMaterial->RenderFlags, rfEdge)),
      FSphereMode(ASphereTexture && AMaterial->SphereMode >= smMultiply &&
                          AMaterial->SphereMode <= smSubTexture
                      ? static_cast<int>(AMaterial->SphereMode)
                      : static_cast<int>(smNone)),
      FToonTexture(AToonTexture),
      FSphereTexture(FSphereMode != smNone ? ASphereTexture : nullptr),
      FBase(MaterialBaseState(*AMaterial)) {}

TMaterialMorphState TPmxMesh::CurrentState() const {
  if (FStates && FStateIndex >= 0 && static_cast<size_t>(FStateIndex) < FStates->size())
    return (*FStates)[FStateIndex];
  return FBase;
}

void TPmxMesh::DoRender(const TMatrix4f& AMVPMatrix) {
  auto* Main = static_cast<TMainProgram*>(FProgram);
  // One shadow map serves the ground and the model: a material casting neither shadow stays out.
  const int Pass = Main->RenderPass();
  if (Pass == 1 && !FCastsShadow) return;
  const TMaterialMorphState State = CurrentState();
  if (FToonTexture) {
    glActiveTexture(GL_TEXTURE1);
    FToonTexture->Bind(1);
  }
  if (FSphereTexture) {
    glActiveTexture(GL_TEXTURE3);
    FSphereTexture->Bind(3);
    glActiveTexture(GL_TEXTURE0);
  }
  Main->SetDiffuse(State.Diffuse);
  Main->SetSpecular(State.Specular);
  Main->SetShininess(State.Shininess);
  Main->SetAmbient(State.Ambient);
  Main->SetHasTexture(FTexture != nullptr);
  Main->SetHasToonTexture(FToonTexture != nullptr);
  Main->SetSelfShadow(FSelfShadow);
  Main->SetSphereMode(FSphereMode);
  Main->SetTextureTint(State.TextureMul, State.TextureAdd);
  Main->SetSphereTint(State.SphereMul, State.SphereAdd);
  Main->SetToonTint(State.ToonMul, State.ToonAdd);
  if (FTwoSide) glDisable(GL_CULL_FACE);
  TMesh::DoRender(AMVPMatrix);
  if (FTwoSide) glEnable(GL_CULL_FACE);
  // An outline of no width or no opacity would only write depth.
  if (Pass == 2 && FEdge && State.EdgeSize > 0 && State.EdgeColor.W > 0)
    DrawEdge(AMVPMatrix, State);
}

void TPmxMesh::DrawEdge(const TMatrix4f& AMVPMatrix, const TMaterialMorphState& AState) {
  auto* Main = static_cast<TMainProgram*>(FProgram);
  Main->ActivateEdgePass();
  Main->SetEdgeColor(AState.EdgeColor);
  Main->SetEdgeSize(AState.EdgeSize);
  const GLboolean Culling = glIsEnabled(GL_CULL_FACE);
  GLint CullFace = GL_BACK;
  glGetIntegerv(GL_CULL_FACE_MODE, &CullFace);
  // Only the far side shows, around the silhouette, behind the material itself.
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  TMesh::DoRender(AMVPMatrix);
  glCullFace(static_cast<GLenum>(CullFace));
  if (!Culling) glDisable(GL_CULL_FACE);
  Main->ActivateRenderPass2();
}

namespace {

constexpr float PlanePositions[] = {-10, 0, -10, 10, 0, -10, -10, 0, 10, 10, 0, 10};
constexpr float PlaneTexCoords[] = {0, 0, 1, 0, 0, 1, 1, 1};
constexpr float PlaneNormals[] = {0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0};
// Counter-clockwise seen from +Y: the front faces up.
constexpr uint32_t PlaneIndices[] = {0, 2, 1, 1, 2, 3};

}  // namespace

TPmxPlane::TPmxPlane(TMainProgram* AProgram)
    : TMesh(AProgram,
            std::make_shared<TSimpleVAO>(AProgram, PlanePositions, PlaneTexCoords, PlaneNormals),
            PlaneIndices, nullptr) {}

void TPmxPlane::DoRender(const TMatrix4f& AMVPMatrix) {
  auto* Main = static_cast<TMainProgram*>(FProgram);
  Main->SetDiffuse(NewVector4f(0.2f, 0.5f, 0.3f, 1.0f));
  Main->SetSpecular(NewVector3f(1, 1, 1));
  Main->SetShininess(1.0f);
  Main->SetAmbient(NewVector3f(0.1f, 0.4f, 0.25f));
  Main->SetHasTexture(false);
  Main->SetHasToonTexture(false);
  Main->SetSelfShadow(true);
  // What a model material left set must not reach the ground.
  Main->SetSphereMode(smNone);
  Main->SetTextureTint(NeutralMul, NeutralAdd);
  Main->SetToonTint(NeutralMul, NeutralAdd);
  TMesh::DoRender(AMVPMatrix);
}

// ---- bone overlay -------------------------------------------------------------------------------

const std::array<uint32_t, 24> TBone::LineIndices = {0, 1, 0, 2, 0, 3, 0, 4, 1, 2, 2, 4,
                                                     4, 3, 3, 1, 1, 5, 2, 5, 3, 5, 4, 5};

std::array<float, 18> TBone::BuildVertices(const TVector3f& APosition1,
                                           const TVector3f& APosition2) {
  // The shape points along -Z from its base at the origin, 0.01 wide near the base.
  const float L = Distance3f(APosition1, APosition2);
  const TVector3f Local[6] = {{{0.0f, 0.0f, 0.0f}},      {{-0.01f, 0.01f, -0.01f}},
                              {{0.01f, 0.01f, -0.01f}},  {{-0.01f, -0.01f, -0.01f}},
                              {{0.01f, -0.01f, -0.01f}}, {{0.0f, 0.0f, -L}}};
  const TVector3f D = Normalized3f(Sub3f(APosition2, APosition1));
  const TQuaternion Q = QuaternionFromTo(TVec3f(0.0f, 0.0f, -1.0f), TVec3f(D));
  const TMatrix4f M = MulMatrix4f(QuaternionToMatrix4f(Q), TranslationMatrix4f(APosition1));
  std::array<float, 18> Out;
  for (int K = 0; K < 6; ++K) {
    const TVector3f P = TransformPoint3f(Local[K], M);
    Out[3 * K] = P.X;
    Out[3 * K + 1] = P.Y;
    Out[3 * K + 2] = P.Z;
  }
  return Out;
}

TBone::TBone(TBoneProgram* AProgram, const TVector3f& APosition1, const TVector3f& APosition2,
             const TVector4f& AColor)
    : FProgram(AProgram),
      FBoneVAO(nullptr),
      FVertexColorLocation(AProgram->GetUniformLocation("VertexColor")),
      FPosition1(APosition1),
      FPosition2(APosition2),
      FColor(AColor) {
  const std::array<float, 18> Vertices = BuildVertices(FPosition1, FPosition2);
  auto VAO = std::make_shared<TBoneVAO>(FProgram, Vertices);
  FBoneVAO = VAO.get();
  FVAO = std::move(VAO);
  // Made while the vertex array is bound, the element buffer becomes part of its state.
  FVAO->Bind();
  FIndexBuffer = NewBufferObject<uint32_t>(btElementArray, LineIndices, buStatic);
  FVAO->Unbind();
}

void TBone::WriteVertices() {
  const std::array<float, 18> Vertices = BuildVertices(FPosition1, FPosition2);
  const std::shared_ptr<IBufferObject>& Buffer = FBoneVAO->PositionBuffer();
  if (void* Storage = Buffer->Map(baWriteOnly)) {
    std::memcpy(Storage, Vertices.data(), sizeof Vertices);
    Buffer->Unmap();
  }
}

void TBone::SetPosition1(const TVector3f& AValue) {
  FPosition1 = AValue;
  WriteVertices();
}

void TBone::SetPosition2(const TVector3f& AValue) {
  FPosition2 = AValue;
  WriteVertices();
}

void TBone::SetPositions(const TVector3f& APosition1, const TVector3f& APosition2) {
  FPosition1 = APosition1;
  FPosition2 = APosition2;
  WriteVertices();
}

void TBone::DoRender(const TMatrix4f& AMVPMatrix) {
  FProgram->SetMVPMatrix(AMVPMatrix);
  FProgram->SetVertexColor(FColor);
  FVAO->Bind();
  glLineWidth(1.5f);
  glDisable(GL_DEPTH_TEST);
  glDrawElements(GL_LINES, static_cast<GLsizei>(LineIndices.size()), GL_UNSIGNED_INT, nullptr);
  glEnable(GL_DEPTH_TEST);
  glLineWidth(1.0f);
  glBindVertexArray(0);
}
