#include "shell/OpenXrOutput.h"

#include <ctime>

#include "gl/loader/OpenGLApis.h"
#include "math/VectorGeometry.h"
#include "shell/HeadsetViews.h"

TOpenXrOutput::TOpenXrOutput(std::unique_ptr<TOpenXrSession> ASession, TOpenGL& AOpenGL)
    : FSession(std::move(ASession)) {
  const hmdSizei Eye = FSession->EyeSize();
  // Both eyes side by side, as the legacy path draws them: Print Screen saves this picture.
  FTarget = std::make_unique<TColorFBO>(AOpenGL.Sampler(), Eye.w * 2, Eye.h);
}

TOpenXrOutput::~TOpenXrOutput() {
  FTarget.reset();
  // The runtime leads the way out: STOPPING is answered with xrEndSession, then EXITING. Frames
  // without layers keep a runtime that waits for them moving; a bounded number of rounds.
  try {
    FSession->RequestExit();
    for (int Round = 0; Round < 100 && FSession->RunState() == TXrRunState::xsRunning; ++Round) {
      FSession->PollEvents();
      if (FSession->RunState() != TXrRunState::xsRunning) break;
      FSession->BeginFrame();
      FSession->EndFrame();
    }
  } catch (const std::exception&) {
    // Going anyway: destroying the session is allowed in any state.
  }
  // The runtime's swapchains are GL textures: they go here, while the context exists.
  FSession.reset();
}

TXrStep TOpenXrOutput::DrawFrame(SDL_Window* AWindow, TScene* AScene, TSceneRenderer* ARenderer,
                                 TViewerState& AViewer, float AMoveSeconds) {
  try {
    FSession->PollEvents();
    switch (FSession->RunState()) {
      case TXrRunState::xsExiting:
        // The runtime ended the session (the user left it there).
        return TXrStep::xoExit;
      case TXrRunState::xsLost:
        FFailReason = "OpenXR: the headset's session was lost.";
        return TXrStep::xoLost;
      case TXrRunState::xsWaiting:
        return TXrStep::xoWaiting;
      case TXrRunState::xsRunning:
        break;
    }
    RenderFrame(AWindow, AScene, ARenderer, AViewer, AMoveSeconds);
  } catch (const EOpenXrError& E) {
    FFailReason = E.what();
    return TXrStep::xoLost;
  }
  return TXrStep::xoDrawn;
}

void TOpenXrOutput::RenderFrame(SDL_Window* AWindow, TScene* AScene, TSceneRenderer* ARenderer,
                                TViewerState& AViewer, float AMoveSeconds) {
  const bool Draw = FSession->BeginFrame();
  // Whatever the drawing raises, the runtime's frame is ended; the error is reported afterwards.
  try {
    // The head's turn of the last located frame steers the walk.
    MoveViewer(AViewer, ToQuaternion(FSession->EyePose(hmdEye_Right).Orientation), AMoveSeconds);
    // Not visible or not focused: nothing is drawn, the runtime still gets its frame.
    if (Draw) {
      const bool HasScene = AScene && ARenderer;
      if (HasScene) {
        AScene->AdvanceTo(AScene->Clock().Position(), FacePoint(AViewer));
        ARenderer->ShadowPass();
      }
      const hmdSizei Eye = FSession->EyeSize();
      FTarget->Bind();
      FTarget->Clear({cmColor, cmDepth});
      for (int E = 0; E < 2; ++E) {
        // The located eye pose already holds the eye's offset from the head centre.
        const THeadsetEyeCamera C = HeadsetEyeCamera(AViewer.Yaw, AViewer.Pitch, AViewer.Position,
                                                     FSession->EyePose(E), hmdVector3f{0, 0, 0});
        const TMatrix4f View = LookAtMatrix4f(C.Eye, C.Eye + C.Forward, C.Up);
        FTarget->SetViewport(E * Eye.w, 0, Eye.w, Eye.h);
        if (HasScene)
          ARenderer->MainPass(View, HeadsetProjection(FSession->EyeFov(E)), Eye.w, Eye.h);
      }
      FTarget->Unbind();
      for (int E = 0; E < 2; ++E) FSession->SubmitEye(E, FTarget->Texture().Handle(), E * Eye.w, 0);
    }
  } catch (...) {
    FTarget->Unbind();
    FSession->EndFrame();
    throw;
  }
  FSession->EndFrame();
  // The window mirrors both eyes as drawn, without the lenses' correction.
  int Width = 0, Height = 0;
  SDL_GL_GetDrawableSize(AWindow, &Width, &Height);
  FSession->MirrorToWindow(FTarget->Texture().Handle(), FTarget->Width(), FTarget->Height(), Width,
                           Height);
  SDL_GL_SwapWindow(AWindow);
}

bool TOpenXrOutput::Recenter() {
  try {
    FSession->Recenter();
  } catch (const EOpenXrError& E) {
    FFailReason = E.what();
    return false;
  }
  return true;
}

TVec3f TOpenXrOutput::FacePoint(const TViewerState& AViewer) const {
  return HeadsetFacePoint(AViewer.Yaw, AViewer.Pitch, AViewer.Position, FSession->EyePose(0),
                          FSession->EyePose(1));
}

void TOpenXrOutput::SaveScreenShot() const {
  const std::time_t Now = std::time(nullptr);
  std::tm Local{};
  localtime_r(&Now, &Local);
  FTarget->SaveImage(UniqueFilePath(".", ScreenShotFileName(Local)).lexically_normal());
}
