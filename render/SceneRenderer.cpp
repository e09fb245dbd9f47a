#include "render/SceneRenderer.h"

#include <algorithm>
#include <cmath>

#include "gl/loader/OpenGLApis.h"
#include "math/VectorGeometry.h"

TSceneRenderer::TSceneRenderer(TOpenGL* AOpenGL, std::string ABaseDir)
    : FOpenGL(AOpenGL), FBaseDir(std::move(ABaseDir)) {
  FLight.SetPosition(kDefaultLightPosition);
  FProgram = std::make_unique<TMainProgram>(FOpenGL);
  FBoneProgram = std::make_unique<TBoneProgram>(FOpenGL);
  FShadowFBO = std::make_unique<TShadowFBO>();
  FOpenGL->SetColor(0xFFFFFF);
}

TSceneRenderer::~TSceneRenderer() {
  FDrawings.clear();
  FProgram.reset();
  FBoneProgram.reset();
}

std::unique_ptr<TModelDrawing> TSceneRenderer::MakeDrawing(TSceneModel& AModel) {
  return std::make_unique<TModelDrawing>(FOpenGL, FProgram.get(), FBoneProgram.get(), AModel,
                                         FBaseDir, &FTextures);
}

void TSceneRenderer::AddDrawing(std::unique_ptr<TModelDrawing> ADrawing) {
  // The ground comes with the first model (a scene that failed to load stays blank), and first
  // in the list: it is drawn before every model.
  if (!FGround) {
    auto Ground = std::make_unique<TPmxPlane>(FProgram.get());
    FGround = Ground.get();
    FProgram->Items().insert(FProgram->Items().begin(), std::move(Ground));
  }
  FDrawings.push_back(std::move(ADrawing));
}

void TSceneRenderer::RemoveDrawingOf(const TSceneModel* AModel) {
  std::erase_if(FDrawings, [AModel](const std::unique_ptr<TModelDrawing>& D) {
    return &D->SceneModel() == AModel;
  });
}

void TSceneRenderer::AddDrawingsFor(TScene& AScene) {
  for (const std::unique_ptr<TSceneModel>& Model : AScene.Models())
    if (!DrawingOf(Model.get())) AddDrawing(MakeDrawing(*Model));
}

TModelDrawing* TSceneRenderer::DrawingOf(const TSceneModel* AModel) const {
  for (const std::unique_ptr<TModelDrawing>& D : FDrawings)
    if (&D->SceneModel() == AModel) return D.get();
  return nullptr;
}

bool TSceneRenderer::GroundShown() const {
  if (!FGround) return false;
  for (const std::unique_ptr<TModelDrawing>& D : FDrawings)
    if (D->SceneModel().Stage()) return false;
  return true;
}

namespace {

// The ground square's corners (TPmxPlane).
constexpr float kGroundHalfSize = 10.0f;
// The fitted window's longer side in shadow-map texels.
constexpr float kFittedShadowTexels = 1024.0f;
// tan(22.5 degrees): the sides of the default 45-degree frustum.
constexpr float kDefaultShadowSlope = 0.41421356f;

}  // namespace

void TSceneRenderer::FitShadowFrustum() {
  TShadowFit Fit(FLight.ViewMatrix());
  for (const std::unique_ptr<TModelDrawing>& D : FDrawings)
    if (D->Shown()) D->AddBoundsTo(Fit, !D->SceneModel().Stage());
  if (GroundShown())
    for (float X : {-kGroundHalfSize, kGroundHalfSize})
      for (float Z : {-kGroundHalfSize, kGroundHalfSize})
        Fit.AddReceiver(NewVector3f(X, 0.0f, Z), 0.0f);
  TLightFrustum Frustum;
  FShadowViewportWidth = FShadowFBO->Width(), FShadowViewportHeight = FShadowFBO->Height();
  if (Fit.Fit(Frustum)) {
    // The software rasteriser pays for every texel drawn: the dancers get kFittedShadowTexels
    // along the longer side of their window, square texels, never fewer per unit than the
    // default frustum gives, and at most the whole map.
    const float Size = static_cast<float>(FShadowFBO->Width());
    const float Width = Frustum.Right - Frustum.Left, Height = Frustum.Top - Frustum.Bottom;
    const float Density = std::max(kFittedShadowTexels / std::max(Width, Height),
                                   Size / (2.0f * kDefaultShadowSlope));
    FShadowViewportWidth = static_cast<int>(std::min(Size, std::ceil(Width * Density)));
    FShadowViewportHeight = static_cast<int>(std::min(Size, std::ceil(Height * Density)));
    Frustum.MapWidth = static_cast<float>(FShadowViewportWidth) / Size;
    Frustum.MapHeight = static_cast<float>(FShadowViewportHeight) / Size;
    if (!FLight.Frustum() || !(*FLight.Frustum() == Frustum)) FLight.SetFrustum(Frustum);
  } else if (FLight.Frustum()) {
    FLight.ResetFrustum();
  }
}

void TSceneRenderer::StepLight(float ADeltaX) {
  TVector3f Position = FLight.Position();
  Position.X += ADeltaX;
  FLight.SetPosition(Position);
}

void TSceneRenderer::ToggleBoneOverlay(const TSceneModel* AModel) {
  const TModelDrawing* Drawing = DrawingOf(AModel);
  if (!Drawing) return;
  for (TBone* Bone : Drawing->RefBones()) Bone->SetVisible(!Bone->Visible());
}

void TSceneRenderer::ShadowPass() {
  FitShadowFrustum();
  // The program uploads its copy of the light on activation.
  FProgram->Light() = FLight;
  FProgram->Activate();
  FShadowFBO->Bind();
  // Only the corner this frame draws and the one the last frame drew are cleared: the rest of the
  // map still holds the far depth of an earlier clear. On the software rasteriser clearing all 16
  // million texels each frame cost more than drawing the dancers.
  const int ClearWidth = std::max(FShadowViewportWidth, FShadowDrawnWidth);
  const int ClearHeight = std::max(FShadowViewportHeight, FShadowDrawnHeight);
  const bool Scissored = ClearWidth < FShadowFBO->Width() || ClearHeight < FShadowFBO->Height();
  if (Scissored) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, ClearWidth, ClearHeight);
  }
  FShadowFBO->Clear({cmDepth});
  if (Scissored) glDisable(GL_SCISSOR_TEST);
  FShadowDrawnWidth = FShadowViewportWidth;
  FShadowDrawnHeight = FShadowViewportHeight;
  FShadowFBO->SetViewport(0, 0, FShadowViewportWidth, FShadowViewportHeight);
  FProgram->ActivateRenderPass1();
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  glPolygonOffset(1.1f, 4.0f);
  glEnable(GL_POLYGON_OFFSET_FILL);
  // The depth pass reads no light position or shadow matrix: only the placed matrix changes.
  const TMatrix4f& LightMVP = FLight.MVPMatrix();
  // The ground casts onto nothing (it lies under everything), so it stays out: on the software
  // rasteriser it would cost as many texels as the whole frustum.
  for (const std::unique_ptr<TModelDrawing>& D : FDrawings)
    D->RenderModel(MulMatrix4f(D->Placement(), LightMVP));
  glDisable(GL_POLYGON_OFFSET_FILL);
  glFlush();
  glFinish();
}

void TSceneRenderer::MainPass(const TMatrix4f& AView, const TMatrix4f& AProjection,
                              int AViewportWidth, int AViewportHeight) {
  const TMatrix4f MVP = MulMatrix4f(AView, AProjection);
  FProgram->Light() = FLight;
  FProgram->Activate();
  FProgram->SetViewTransform(AView, AProjection.Y.Y, AViewportWidth, AViewportHeight);
  FShadowFBO->BindTexture();
  glBindSampler(2, FOpenGL->ShadowSampler());
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  FProgram->ActivateRenderPass2();
  // The ground first, under every model; each item with its own placement.
  if (GroundShown()) {
    FProgram->SetPlacement(IdentityMatrix4f);
    FGround->Render(MVP);
  }
  for (const std::unique_ptr<TModelDrawing>& D : FDrawings) {
    FProgram->SetPlacement(D->Placement());
    D->RenderModel(MulMatrix4f(D->Placement(), MVP));
  }
  FBoneProgram->Activate();
  for (const std::unique_ptr<TModelDrawing>& D : FDrawings)
    D->RenderBones(MulMatrix4f(D->Placement(), MVP));
}

void TSceneRenderer::DrawFrame(TFrameBufferObject& ATarget, int AWidth, int AHeight,
                               const TMatrix4f& AView, const TMatrix4f& AProjection) {
  ShadowPass();
  ATarget.Bind();
  ATarget.Clear({cmColor, cmDepth});
  ATarget.SetViewport(0, 0, AWidth, AHeight);
  MainPass(AView, AProjection, AWidth, AHeight);
  glFlush();
}

void ReadFramePixels(int AWidth, int AHeight, GLenum AFormat, std::vector<std::uint8_t>& APixels) {
  APixels.resize(static_cast<std::size_t>(std::max(AWidth, 0)) * std::max(AHeight, 0) * 3);
  if (APixels.empty()) return;
  // Rows tightly packed: exactly Width * 3 bytes each, whatever the width.
  GLint Pack = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &Pack);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, AWidth, AHeight, AFormat, GL_UNSIGNED_BYTE, APixels.data());
  glPixelStorei(GL_PACK_ALIGNMENT, Pack);
}
