#include "shell/HeadsetOutput.h"

#include <ctime>
#include <string>
#include <vector>

#include "gl/loader/OpenGLApis.h"
#include "math/VectorGeometry.h"
#include "shell/HeadsetViews.h"

THeadsetOutput::THeadsetOutput(SDL_Window* AWindow)
    : FHeadset(std::make_unique<THeadset>(AWindow)) {
  // The headset's monitor: every monitor whose name is part of the display device name, the
  // last one winning.
  std::vector<std::string> Names;
  const int Count = SDL_GetNumVideoDisplays();
  for (int I = 0; I < Count; ++I) {
    const char* Name = SDL_GetDisplayName(I);
    Names.emplace_back(Name ? Name : "");
  }
  const char* DeviceName = FHeadset->Handle()->DisplayDeviceName;
  FMonitor = MatchHeadsetMonitor(DeviceName ? DeviceName : "", Names);
}

void THeadsetOutput::Start(TOpenGL& AOpenGL) {
  const hmdSizei TargetSize = FHeadset->GetRenderTargetSize();
  FTarget = std::make_unique<TColorFBO>(AOpenGL.Sampler(), TargetSize.w, TargetSize.h);
  FHeadset->InitializeOpenGL(FTarget->Texture().Handle());
}

float THeadsetOutput::EyeHeight(float ADefault) const {
  return hmd_GetFloat(FHeadset->Handle(), "EyeHeight", ADefault);
}

void THeadsetOutput::Resize(int AWidth, int AHeight) {
  FHeadset->Resize(AWidth, AHeight);
}

TVec3f THeadsetOutput::FacePoint(const TViewerState& AViewer) const {
  const hmdPosef Left = hmd_GetEyePose(FHeadset->Handle(), hmdEye_Left);
  const hmdPosef Right = hmd_GetEyePose(FHeadset->Handle(), hmdEye_Right);
  return HeadsetFacePoint(AViewer.Yaw, AViewer.Pitch, AViewer.Position, Left, Right);
}

void THeadsetOutput::DrawFrame(TScene* AScene, TSceneRenderer* ARenderer, TViewerState& AViewer,
                               float AMoveSeconds) {
  FHeadset->BeginFrame();
  try {
    // The head's turn of the previous frame steers the walk (zeros before the first frame).
    MoveViewer(AViewer, ToQuaternion(FHeadset->EyeRenderPose(hmdEye_Right).Orientation),
               AMoveSeconds);
    // A start-up that failed before the scene existed still runs the runtime's frames, with
    // empty eye pictures.
    const bool HasScene = AScene && ARenderer;
    if (HasScene) {
      AScene->AdvanceTo(AScene->Clock().Position(), FacePoint(AViewer));
      ARenderer->ShadowPass();
    }
    FTarget->Bind();
    FTarget->Clear({cmColor, cmDepth});
    FHeadset->RenderFrame([&](const hmdPosef& APose, const hmdFovPort& AFov,
                              const hmdVector3f& AViewAdjust, const hmdRecti& AViewport) {
      const THeadsetEyeCamera C =
          HeadsetEyeCamera(AViewer.Yaw, AViewer.Pitch, AViewer.Position, APose, AViewAdjust);
      const TMatrix4f View = LookAtMatrix4f(C.Eye, C.Eye + C.Forward, C.Up);
      FTarget->SetViewport(AViewport.Pos.x, AViewport.Pos.y, AViewport.Size.w, AViewport.Size.h);
      if (HasScene)
        ARenderer->MainPass(View, HeadsetProjection(AFov), AViewport.Size.w, AViewport.Size.h);
    });
    FTarget->Unbind();
  } catch (...) {
    FTarget->Unbind();
    FHeadset->EndFrame();
    throw;
  }
  FHeadset->EndFrame();
}

void THeadsetOutput::SaveScreenShot() const {
  const std::time_t Now = std::time(nullptr);
  std::tm Local{};
  localtime_r(&Now, &Local);
  FTarget->SaveImage(UniqueFilePath(".", ScreenShotFileName(Local)).lexically_normal());
}
