#include "render/SceneRenderer.h"

#include <algorithm>

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
                                         FBaseDir);
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
  // The program uploads its copy of the light on activation.
  FProgram->Light() = FLight;
  FProgram->Activate();
  FShadowFBO->Bind();
  FShadowFBO->Clear({cmDepth});
  FShadowFBO->SetViewport(0, 0, FShadowFBO->Width(), FShadowFBO->Height());
  FProgram->ActivateRenderPass1();
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  glPolygonOffset(1.1f, 4.0f);
  glEnable(GL_POLYGON_OFFSET_FILL);
  FProgram->Render(FLight.MVPMatrix());
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
  FProgram->Render(MVP);
  FBoneProgram->Activate();
  FBoneProgram->Render(MVP);
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
