#include "shading/UShader.h"

#include <algorithm>
#include <cmath>

#include "math/VectorGeometry.h"

namespace {

// Points attribute ALocation at ABuffer: ASize floats per vertex, tightly packed, and enables it.
// An attribute the driver dropped (location -1) is left alone.
void PointAttribute(GLint ALocation, const std::shared_ptr<IBufferObject>& ABuffer, GLint ASize) {
  if (ABuffer && ABuffer->Type() == btArray) ABuffer->Bind();
  if (ALocation < 0) return;
  glVertexAttribPointer(static_cast<GLuint>(ALocation), ASize, GL_FLOAT, GL_FALSE, 0, nullptr);
  glEnableVertexAttribArray(static_cast<GLuint>(ALocation));
}

}  // namespace

// ---- TLight ----

TLight::TLight() {
  UpdateMatrices();
}

void TLight::SetCenter(const TVector3f& AValue) {
  FCenter = AValue;
  UpdateMatrices();
}

void TLight::SetPosition(const TVector3f& AValue) {
  FPosition = AValue;
  UpdateMatrices();
}

void TLight::SetFrustum(const TLightFrustum& AFrustum) {
  FFrustum = AFrustum;
  FFitted = true;
  UpdateMatrices();
}

void TLight::ResetFrustum() {
  FFitted = false;
  UpdateMatrices();
}

void TLight::UpdateMatrices() {
  FViewMatrix = LookAtMatrix4f(ExtendVector3f(FPosition, 1), ExtendVector3f(FCenter, 1),
                               TVector4f{{0, 1, 0, 0}});
  const TLightFrustum& F = FFrustum;
  const TMatrix4f Projection =
      FFitted ? FrustumMatrix4f(F.Left * F.Near, F.Right * F.Near, F.Bottom * F.Near,
                                F.Top * F.Near, F.Near, F.Far)
              : PerspectiveMatrix4fDeg(45, 1, 1, 250);
  FMVPMatrix = MulMatrix4f(FViewMatrix, Projection);
  TMatrix4f Bias = ShadowBiasMatrix;
  if (FFitted) {
    Bias.X.X *= F.MapWidth, Bias.W.X *= F.MapWidth;
    Bias.Y.Y *= F.MapHeight, Bias.W.Y *= F.MapHeight;
  }
  FShadowMatrix = MulMatrix4f(FMVPMatrix, Bias);
}

// ---- TMainProgram ----

TMainProgram::TMainProgram(TOpenGL* AOwner)
    : TProgram(AOwner, MainVertexShaderSource, MainFragmentShaderSource),
      FLight(std::make_unique<TLight>()) {
  FPositionLocation = GetAttribLocation("VertexPosition");
  FTexCoordLocation = GetAttribLocation("VertexTexCoord");
  FNormalLocation = GetAttribLocation("VertexNormal");
  FLightPositionLocation = GetUniformLocation("LightPosition");
  FLightColorLocation = GetUniformLocation("LightColor");
  FShadowMatrixLocation = GetUniformLocation("ShadowMatrix");
  FDiffuseLocation = GetUniformLocation("DiffuseColor");
  FSpecularLocation = GetUniformLocation("SpecularColor");
  FShininessLocation = GetUniformLocation("Shininess");
  FAmbientLocation = GetUniformLocation("AmbientColor");
  FHasTextureLocation = GetUniformLocation("HasTexture");
  FHasToonTextureLocation = GetUniformLocation("HasToonTexture");
  FSelfShadowLocation = GetUniformLocation("SelfShadow");
  FEdgeScaleLocation = GetAttribLocation("VertexEdgeScale");
  FUV1Location = GetAttribLocation("VertexUV1");
  FViewMatrixLocation = GetUniformLocation("ViewMatrix");
  FEdgeWidthScaleLocation = GetUniformLocation("EdgeWidthScale");
  FEdgePixelsLocation = GetUniformLocation("EdgePixels");
  FViewportSizeLocation = GetUniformLocation("ViewportSize");
  FSphereModeLocation = GetUniformLocation("SphereMode");
  FTextureMulLocation = GetUniformLocation("TextureMulColor");
  FTextureAddLocation = GetUniformLocation("TextureAddColor");
  FSphereMulLocation = GetUniformLocation("SphereMulColor");
  FSphereAddLocation = GetUniformLocation("SphereAddColor");
  FToonMulLocation = GetUniformLocation("ToonMulColor");
  FToonAddLocation = GetUniformLocation("ToonAddColor");
  FEdgeColorLocation = GetUniformLocation("EdgeColor");
  FEdgeSizeLocation = GetUniformLocation("EdgeSize");

  // The base constructor left this program current.
  glUniform1i(GetUniformLocation("Texture2D"), 0);
  glUniform1i(GetUniformLocation("ToonTexture2D"), 1);
  glUniform1i(GetUniformLocation("ShadowMap"), 2);
  glUniform1i(GetUniformLocation("SphereTexture2D"), 3);
  // Items that set only the plain material uniforms draw as before: no sphere map, neutral tints.
  const TVector4f One{{1, 1, 1, 1}}, Zero{{0, 0, 0, 0}};
  SetSphereMode(smNone);
  SetTextureTint(One, Zero);
  SetSphereTint(One, Zero);
  SetToonTint(One, Zero);
  SetViewTransform(IdentityMatrix4f, 1.0f, 1920, 1080);

  FVertexRenderPass1Index = GetSubroutineIndex(stVertex, "recordDepth");
  FVertexRenderPass2Index = GetSubroutineIndex(stVertex, "shadeWithShadow");
  FFragmentRenderPass1Index = GetSubroutineIndex(stFragment, "recordDepth");
  FFragmentRenderPass2Index = GetSubroutineIndex(stFragment, "shadeWithShadow");
  FVertexEdgePassIndex = GetSubroutineIndex(stVertex, "drawEdge");
  FFragmentEdgePassIndex = GetSubroutineIndex(stFragment, "drawEdge");
}

TMainProgram::~TMainProgram() = default;

// Runs only after construction (the base constructor makes the program current without it),
// so the locations are always known here.
void TMainProgram::Activate() {
  TProgram::Activate();
  const TVector3f& P = FLight->Position();
  const TVector4f& C = FLight->Color();
  glUniform3f(FLightPositionLocation, P.X, P.Y, P.Z);
  glUniform4f(FLightColorLocation, C.X, C.Y, C.Z, C.W);
  glUniformMatrix4fv(FShadowMatrixLocation, 1, GL_FALSE, FLight->ShadowMatrix().V);
}

void TMainProgram::SetPlacement(const TMatrix4f& APlacement) {
  const TVector3f P = TransformPoint3f(FLight->Position(), InvertedMatrix4f(APlacement));
  glUniform3f(FLightPositionLocation, P.X, P.Y, P.Z);
  glUniformMatrix4fv(FShadowMatrixLocation, 1, GL_FALSE,
                     MulMatrix4f(APlacement, FLight->ShadowMatrix()).V);
  glUniformMatrix4fv(FViewMatrixLocation, 1, GL_FALSE, MulMatrix4f(APlacement, FViewMatrix).V);
}

void TMainProgram::ActivateRenderPass1() {
  glUniformSubroutinesuiv(GL_VERTEX_SHADER, 1, &FVertexRenderPass1Index);
  glUniformSubroutinesuiv(GL_FRAGMENT_SHADER, 1, &FFragmentRenderPass1Index);
  FRenderPass = 1;
}

void TMainProgram::ActivateRenderPass2() {
  glUniformSubroutinesuiv(GL_VERTEX_SHADER, 1, &FVertexRenderPass2Index);
  glUniformSubroutinesuiv(GL_FRAGMENT_SHADER, 1, &FFragmentRenderPass2Index);
  FRenderPass = 2;
}

void TMainProgram::ActivateEdgePass() {
  glUniformSubroutinesuiv(GL_VERTEX_SHADER, 1, &FVertexEdgePassIndex);
  glUniformSubroutinesuiv(GL_FRAGMENT_SHADER, 1, &FFragmentEdgePassIndex);
  FRenderPass = 3;
}

// Two pixels per unit of edge size at 1080 lines, in proportion to the height elsewhere, so the
// line keeps its share of the picture; never below one pixel per unit (540 lines and less), as a
// thinner line breaks into dashes.
float TMainProgram::EdgePixelsPerUnit(int AViewportHeight) {
  return std::max(1.0f, 2.0f * static_cast<float>(AViewportHeight) / 1080.0f);
}

// A model-space length d at clip-space w spans d * P11 / w of the half-height in normalised
// device coordinates, i.e. d * P11 * H / (2 w) pixels.
float TMainProgram::EdgeWidthScale(float AProjectionScaleY, int AViewportHeight) {
  const float Height = static_cast<float>(std::max(AViewportHeight, 1));
  const float Scale = std::fabs(AProjectionScaleY) > 0 ? std::fabs(AProjectionScaleY) : 1.0f;
  return 2.0f * EdgePixelsPerUnit(AViewportHeight) / (Scale * Height);
}

void TMainProgram::SetViewTransform(const TMatrix4f& AView, float AProjectionScaleY,
                                    int AViewportWidth, int AViewportHeight) {
  FViewMatrix = AView;
  glUniformMatrix4fv(FViewMatrixLocation, 1, GL_FALSE, AView.V);
  glUniform1f(FEdgeWidthScaleLocation, EdgeWidthScale(AProjectionScaleY, AViewportHeight));
  glUniform1f(FEdgePixelsLocation, EdgePixelsPerUnit(AViewportHeight));
  glUniform2f(FViewportSizeLocation, static_cast<float>(std::max(AViewportWidth, 1)),
              static_cast<float>(std::max(AViewportHeight, 1)));
}

void TMainProgram::SetPosition(const std::shared_ptr<IBufferObject>& ABuffer) {
  PointAttribute(FPositionLocation, ABuffer, 3);
}
void TMainProgram::SetTexCoord(const std::shared_ptr<IBufferObject>& ABuffer) {
  PointAttribute(FTexCoordLocation, ABuffer, 2);
}
void TMainProgram::SetNormal(const std::shared_ptr<IBufferObject>& ABuffer) {
  PointAttribute(FNormalLocation, ABuffer, 3);
}
void TMainProgram::SetEdgeScale(const std::shared_ptr<IBufferObject>& ABuffer) {
  PointAttribute(FEdgeScaleLocation, ABuffer, 1);
}
void TMainProgram::SetUV1(const std::shared_ptr<IBufferObject>& ABuffer) {
  PointAttribute(FUV1Location, ABuffer, 2);
}
void TMainProgram::SetDiffuse(const TVector4f& AValue) {
  glUniform4f(FDiffuseLocation, AValue.X, AValue.Y, AValue.Z, AValue.W);
}
void TMainProgram::SetSpecular(const TVector3f& AValue) {
  glUniform3f(FSpecularLocation, AValue.X, AValue.Y, AValue.Z);
}
void TMainProgram::SetShininess(float AValue) {
  glUniform1f(FShininessLocation, AValue);
}
void TMainProgram::SetAmbient(const TVector3f& AValue) {
  glUniform3f(FAmbientLocation, AValue.X, AValue.Y, AValue.Z);
}
void TMainProgram::SetHasTexture(bool AValue) {
  glUniform1i(FHasTextureLocation, AValue ? 1 : 0);
}
void TMainProgram::SetHasToonTexture(bool AValue) {
  glUniform1i(FHasToonTextureLocation, AValue ? 1 : 0);
}
void TMainProgram::SetSelfShadow(bool AValue) {
  glUniform1i(FSelfShadowLocation, AValue ? 1 : 0);
}
void TMainProgram::SetSphereMode(int AValue) {
  glUniform1i(FSphereModeLocation, AValue);
}
void TMainProgram::SetTextureTint(const TVector4f& AMul, const TVector4f& AAdd) {
  glUniform4fv(FTextureMulLocation, 1, AMul.V);
  glUniform4fv(FTextureAddLocation, 1, AAdd.V);
}
void TMainProgram::SetSphereTint(const TVector4f& AMul, const TVector4f& AAdd) {
  glUniform4fv(FSphereMulLocation, 1, AMul.V);
  glUniform4fv(FSphereAddLocation, 1, AAdd.V);
}
void TMainProgram::SetToonTint(const TVector4f& AMul, const TVector4f& AAdd) {
  glUniform4fv(FToonMulLocation, 1, AMul.V);
  glUniform4fv(FToonAddLocation, 1, AAdd.V);
}
void TMainProgram::SetEdgeColor(const TVector4f& AValue) {
  glUniform4fv(FEdgeColorLocation, 1, AValue.V);
}
void TMainProgram::SetEdgeSize(float AValue) {
  glUniform1f(FEdgeSizeLocation, AValue);
}

// ---- TBoneProgram ----

TBoneProgram::TBoneProgram(TOpenGL* AOwner)
    : TProgram(AOwner, BoneVertexShaderSource, BoneFragmentShaderSource) {
  Activate();
  FPositionLocation = GetAttribLocation("VertexPosition");
  FVertexColorLocation = GetUniformLocation("VertexColor");
}

void TBoneProgram::SetPosition(const std::shared_ptr<IBufferObject>& ABuffer) {
  PointAttribute(FPositionLocation, ABuffer, 3);
}

void TBoneProgram::SetVertexColor(const TVector4f& AValue) {
  glUniform4f(FVertexColorLocation, AValue.X, AValue.Y, AValue.Z, AValue.W);
}
