// TForm2 in headset mode: the choice of display (OpenXR, the legacy runtime, the window), the
// display connection's start-up, the frame drawn once per eye into the two-eye colour target and
// handed to the runtime, and the commands that talk to the headset.
#include "shell/UMainForm2Headset.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "gl/UCommon2.h"
#include "gl/loader/OpenGLApis.h"
#include "hmd/HmdRuntime.h"
#include "hmd/OpenXrSession.h"
#include "math/VectorGeometry.h"
#include "shading/UShader.h"
#include "shell/UMainForm2.h"

// ---------------------------------------------------------------------------------------------
// Window-free parts

int MatchHeadsetMonitor(const std::string& ADisplayDeviceName,
                        const std::vector<std::string>& AMonitorNames) {
  int Result = -1;
  // No early exit: when several names occur, the last one wins.
  for (std::size_t I = 0; I < AMonitorNames.size(); ++I) {
    const std::string& Name = AMonitorNames[I];
    if (!Name.empty() && ADisplayDeviceName.find(Name) != std::string::npos)
      Result = static_cast<int>(I);
  }
  return Result;
}

TMatrix4f HeadsetProjection(const hmdFovPort& AFov) {
  const hmdMatrix4f Runtime = hmdMatrix4f_Projection(AFov, kHeadsetZNear, kHeadsetZFar, hmdTrue);
  // The runtime's rows for column vectors, copied float for float, are this program's columns.
  TMatrix4f M;
  static_assert(sizeof(Runtime.M) == sizeof(M.V));
  std::memcpy(M.V, Runtime.M, sizeof(M.V));
  return TransposedMatrix4f(M);
}

THeadsetEyeCamera HeadsetEyeCamera(float AYaw, float APitch, const TVec3f& APosition,
                                   const hmdPosef& APose, const hmdVector3f& AViewAdjust) {
  const TMatrix4f Body = UnitQuaternionToMatrix4f(QuaternionFromEulerYXZ(AYaw, APitch, 0.0f));
  const TMatrix4f Head = UnitQuaternionToMatrix4f(ToQuaternion(APose.Orientation));
  // The head's rotation first, then the viewer's.
  const TMatrix4f R = MulMatrix4f(Head, Body);
  THeadsetEyeCamera Camera;
  Camera.Up = TransformPoint3f(TVec3f(0.0f, 1.0f, 0.0f), R);
  Camera.Forward = TransformPoint3f(TVec3f(0.0f, 0.0f, -1.0f), R);
  Camera.Eye = APosition + TransformPoint3f(ToVec3f(APose.Position), Body) +
               TransformPoint3f(ToVec3f(AViewAdjust), R);
  return Camera;
}

TMatrix4f HeadsetEyeMVP(float AYaw, float APitch, const TVec3f& APosition, const hmdPosef& APose,
                        const hmdFovPort& AFov, const hmdVector3f& AViewAdjust) {
  const THeadsetEyeCamera C = HeadsetEyeCamera(AYaw, APitch, APosition, APose, AViewAdjust);
  const TMatrix4f View = LookAtMatrix4f(C.Eye, C.Eye + C.Forward, C.Up);
  return MulMatrix4f(View, HeadsetProjection(AFov));
}

TVec3f HeadsetFacePoint(float AYaw, float APitch, const TVec3f& APosition, const hmdPosef& ALeft,
                        const hmdPosef& ARight) {
  const TVec3f Between = ToVec3f(ALeft.Position).Lerp(ToVec3f(ARight.Position), 0.5f);
  return RotateVectorByQuaternion(Between, QuaternionFromEulerYXZ(AYaw, APitch, 0.0f)) + APosition;
}

// ---------------------------------------------------------------------------------------------
// TForm2: start-up

bool TForm2::CreateSceneForDisplay() {
  // --headset openxr|legacy asks only that one, --no-headset neither; without options OpenXR
  // first, then the legacy runtime, then the window.
  const THeadsetChoice Pick = FOptions.Headset;
  if (Pick == THeadsetChoice::hcAuto || Pick == THeadsetChoice::hcOpenXR) {
    // The loader's own error lines stay off unless the user asks for them: a missing runtime is
    // not an error, and a failing one gets the viewer's one line.
    setenv("XR_LOADER_DEBUG", "none", 0);
    std::string WhyNot;
    std::unique_ptr<TOpenXrSession> Session = TOpenXrSession::Open(WhyNot);
    if (Session) {
      try {
        Session->Start();
        FXrSession = std::move(Session);
        CreateOpenXrScene();
      } catch (const std::exception& E) {
        // Part-way: the session's objects go while the context exists, the window takes over.
        Session.reset();
        FXrSession.reset();
        std::fprintf(stderr, "%s Showing the window instead.\n", E.what());
        CreateDesktopScene();
      }
      return true;
    }
    if (Pick == THeadsetChoice::hcOpenXR) {
      std::fprintf(stderr, "OpenXR: %s. Showing the window instead.\n", WhyNot.c_str());
      CreateDesktopScene();
      return true;
    }
  }
  if (Pick == THeadsetChoice::hcAuto || Pick == THeadsetChoice::hcLegacy) {
    // A display connection or rendering set-up that fails ends the program here, silently.
    if (hmd_Detect() > 0) return CreateHeadsetScene();
    if (Pick == THeadsetChoice::hcLegacy)
      std::fprintf(stderr, "The legacy headset runtime reports no headset. Showing the window.\n");
  }
  CreateDesktopScene();
  return true;
}

void TForm2::CreateOpenXrScene() {
  const hmdSizei Eye = FXrSession->EyeSize();
  FShadowFBO = std::make_unique<TShadowFBO>();
  // Both eyes side by side, as the legacy path draws them: Print Screen saves this picture.
  FFrameBuffer = std::make_unique<TColorFBO>(FOpenGL->Sampler(), Eye.w * 2, Eye.h);
  // The LOCAL space starts at the head: the viewer stands at a standing eye height.
  ViewerPosition.Y = 1.7f;
  // xrWaitFrame paces the frames to the headset; the mirror must not wait for the monitor too.
  SDL_GL_SetSwapInterval(0);
  Application.SetOnIdle([this](bool& ADone) { AppIdleForOpenXr(ADone); });
}

void TForm2::FallBackToWindow(const std::string& AReason) {
  std::fprintf(stderr, "%s Showing the window instead.\n", AReason.c_str());
  FXrSession.reset();
  FFrameBuffer.reset();
  FDefaultFBO = std::make_unique<TFrameBufferObject>();
  if (!FShadowFBO) FShadowFBO = std::make_unique<TShadowFBO>();
  Application.SetOnIdle([this](bool& ADone) { AppIdleForDesktop(ADone); });
}

void TForm2::ShutDownOpenXr() {
  if (!FXrSession) return;
  // The runtime leads the way out: STOPPING is answered with xrEndSession, then EXITING. Frames
  // without layers keep a runtime that waits for them moving; a bounded number of rounds.
  try {
    FXrSession->RequestExit();
    for (int Round = 0; Round < 100 && FXrSession->RunState() == TXrRunState::xsRunning; ++Round) {
      FXrSession->PollEvents();
      if (FXrSession->RunState() != TXrRunState::xsRunning) break;
      FXrSession->BeginFrame();
      FXrSession->EndFrame();
    }
  } catch (const std::exception&) {
    // Going anyway: destroying the session is allowed in any state.
  }
  FXrSession.reset();
}

bool TForm2::CreateHeadsetScene() {
  // A device that is reported but cannot be opened ends the program without a word.
  try {
    FHeadset = std::make_unique<THeadset>(FWindow);
  } catch (...) {
    Application.Terminate();
    return false;
  }

  // The headset's monitor: every monitor whose name is part of the display device name, the
  // last one winning.
  std::vector<std::string> Names;
  const int Count = SDL_GetNumVideoDisplays();
  for (int I = 0; I < Count; ++I) {
    const char* Name = SDL_GetDisplayName(I);
    Names.emplace_back(Name ? Name : "");
  }
  const char* DeviceName = FHeadset->Handle()->DisplayDeviceName;
  FHeadsetMonitor = MatchHeadsetMonitor(DeviceName ? DeviceName : "", Names);

  const hmdSizei TargetSize = FHeadset->GetRenderTargetSize();
  FShadowFBO = std::make_unique<TShadowFBO>();
  FFrameBuffer = std::make_unique<TColorFBO>(FOpenGL->Sampler(), TargetSize.w, TargetSize.h);
  // Not guarded: a tracking failure is reported like any start-up error, and nothing is drawn.
  FHeadset->InitializeOpenGL(FFrameBuffer->Texture().Handle());
  ViewerPosition.Y = hmd_GetFloat(FHeadset->Handle(), "EyeHeight", ViewerPosition.Y);

  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  try {
    FHeadset->Resize(Width, Height);
  } catch (...) {
    Application.Terminate();
    return false;
  }
  Application.SetOnIdle([this](bool& ADone) { AppIdleForHeadset(ADone); });
  return true;
}

void TForm2::ResizeHeadset() {
  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  try {
    FHeadset->Resize(Width, Height);
  } catch (...) {
    Application.Terminate();
  }
}

// ---------------------------------------------------------------------------------------------
// TForm2: frame

void TForm2::AppIdleForOpenXr(bool& ADone) {
  ADone = false;
  try {
    FXrSession->PollEvents();
    switch (FXrSession->RunState()) {
      case TXrRunState::xsExiting:
        // The runtime ended the session (the user left it there): the program ends.
        Application.Terminate();
        return;
      case TXrRunState::xsLost:
        FallBackToWindow("OpenXR: the headset's session was lost.");
        return;
      case TXrRunState::xsWaiting:
        SDL_Delay(10);
        return;
      case TXrRunState::xsRunning:
        break;
    }
    RenderOpenXrFrame();
  } catch (const EOpenXrError& E) {
    FallBackToWindow(E.what());
  }
}

void TForm2::RenderOpenXrFrame() {
  const bool Draw = FXrSession->BeginFrame();
  // Whatever the drawing raises, the runtime's frame is ended; the error is reported afterwards.
  try {
    // The head's turn of the last located frame steers the walk.
    MoveViewer(ViewerYaw, ViewerPitch, ViewerPosition,
               ToQuaternion(FXrSession->EyePose(hmdEye_Right).Orientation), FrameMoveSeconds());
    SDL_SetWindowTitle(FWindow, PositionCaption(ViewerPosition).c_str());
    // Not visible or not focused: nothing is drawn, the runtime still gets its frame.
    if (Draw) {
      const bool HasScene = FProgram && FBoneProgram && FShadowFBO;
      if (HasScene) {
        PoseFrame();
        ShadowPass();
      }
      const hmdSizei Eye = FXrSession->EyeSize();
      FFrameBuffer->Bind();
      FFrameBuffer->Clear({cmColor, cmDepth});
      for (int E = 0; E < 2; ++E) {
        // The located eye pose already holds the eye's offset from the head centre.
        const THeadsetEyeCamera C = HeadsetEyeCamera(ViewerYaw, ViewerPitch, ViewerPosition,
                                                     FXrSession->EyePose(E), hmdVector3f{0, 0, 0});
        const TMatrix4f View = LookAtMatrix4f(C.Eye, C.Eye + C.Forward, C.Up);
        FFrameBuffer->SetViewport(E * Eye.w, 0, Eye.w, Eye.h);
        if (HasScene) MainPass(View, HeadsetProjection(FXrSession->EyeFov(E)), Eye.w, Eye.h);
      }
      FFrameBuffer->Unbind();
      for (int E = 0; E < 2; ++E)
        FXrSession->SubmitEye(E, FFrameBuffer->Texture().Handle(), E * Eye.w, 0);
    }
  } catch (...) {
    if (FFrameBuffer) FFrameBuffer->Unbind();
    FXrSession->EndFrame();
    throw;
  }
  FXrSession->EndFrame();
  // The window mirrors both eyes as drawn, without the lenses' correction.
  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  FXrSession->MirrorToWindow(FFrameBuffer->Texture().Handle(), FFrameBuffer->Width(),
                             FFrameBuffer->Height(), Width, Height);
  SDL_GL_SwapWindow(FWindow);
  if (IsMinimized()) SDL_Delay(10);
}

void TForm2::AppIdleForHeadset(bool& ADone) {
  ADone = false;
  FHeadset->BeginFrame();
  // Whatever the frame raises, the runtime's frame is ended; the error is reported afterwards.
  try {
    RenderHeadsetFrame();
  } catch (...) {
    if (FFrameBuffer) FFrameBuffer->Unbind();
    FHeadset->EndFrame();
    throw;
  }
  FHeadset->EndFrame();
  if (IsMinimized()) SDL_Delay(10);
}

void TForm2::RenderHeadsetFrame() {
  // The head's turn of the previous frame steers the walk (zeros before the first frame).
  MoveViewer(ViewerYaw, ViewerPitch, ViewerPosition,
             ToQuaternion(FHeadset->EyeRenderPose(hmdEye_Right).Orientation), FrameMoveSeconds());
  SDL_SetWindowTitle(FWindow, PositionCaption(ViewerPosition).c_str());

  // A start-up that failed before the programs existed still runs the runtime's frames, with
  // empty eye pictures.
  const bool HasScene = FProgram && FBoneProgram && FShadowFBO;
  if (HasScene) {
    PoseFrame();
    ShadowPass();
  }
  FFrameBuffer->Bind();
  FFrameBuffer->Clear({cmColor, cmDepth});
  FHeadset->RenderFrame(
      [this](const hmdPosef& APose, const hmdFovPort& AFov, const hmdVector3f& AViewAdjust,
             const hmdRecti& AViewport) { RenderEye(APose, AFov, AViewAdjust, AViewport); });
  FFrameBuffer->Unbind();
}

void TForm2::RenderEye(const hmdPosef& APose, const hmdFovPort& AFov,
                       const hmdVector3f& AViewAdjust, const hmdRecti& AViewport) {
  // The same view and projection as HeadsetEyeMVP, apart for the sphere maps and the outline.
  const THeadsetEyeCamera C =
      HeadsetEyeCamera(ViewerYaw, ViewerPitch, ViewerPosition, APose, AViewAdjust);
  const TMatrix4f View = LookAtMatrix4f(C.Eye, C.Eye + C.Forward, C.Up);
  FFrameBuffer->SetViewport(AViewport.Pos.x, AViewport.Pos.y, AViewport.Size.w, AViewport.Size.h);
  if (FProgram && FBoneProgram && FShadowFBO)
    MainPass(View, HeadsetProjection(AFov), AViewport.Size.w, AViewport.Size.h);
}

TVec3f TForm2::HeadsetEyeMidpoint() const {
  // OpenXR: the eyes this frame located.
  if (FXrSession)
    return HeadsetFacePoint(ViewerYaw, ViewerPitch, ViewerPosition, FXrSession->EyePose(0),
                            FXrSession->EyePose(1));
  // Both eyes asked afresh, left then right.
  const hmdPosef Left = hmd_GetEyePose(FHeadset->Handle(), hmdEye_Left);
  const hmdPosef Right = hmd_GetEyePose(FHeadset->Handle(), hmdEye_Right);
  return HeadsetFacePoint(ViewerYaw, ViewerPitch, ViewerPosition, Left, Right);
}

// ---------------------------------------------------------------------------------------------
// TForm2: commands

void TForm2::ToggleHeadsetFullScreen() {
  if (!FHeadset || FHeadsetMonitor < 0) return;
  // Desktop composition has no switch on X11; there is nothing to turn off or on.
  if ((SDL_GetWindowFlags(FWindow) & SDL_WINDOW_BORDERLESS) == 0) {
    SDL_Rect Monitor{0, 0, 0, 0};
    if (SDL_GetDisplayBounds(FHeadsetMonitor, &Monitor) != 0) return;
    SDL_GetWindowPosition(FWindow, &FPrevLeft, &FPrevTop);
    SDL_SetWindowBordered(FWindow, SDL_FALSE);
    SDL_SetWindowPosition(FWindow, Monitor.x, Monitor.y);
    SDL_SetWindowSize(FWindow, Monitor.w, Monitor.h);
  } else {
    SDL_SetWindowBordered(FWindow, SDL_TRUE);
    SDL_SetWindowSize(FWindow, kWindowedClientWidth, kWindowedClientHeight);
    SDL_SetWindowPosition(FWindow, FPrevLeft, FPrevTop);
  }
  // The size change reaches FormResize now, not only when the window system confirms it.
  FormResize();
}

void TForm2::RecenterOpenXr() {
  try {
    FXrSession->Recenter();
  } catch (const EOpenXrError& E) {
    FallBackToWindow(E.what());
  }
}

void TForm2::SaveHeadsetScreenShot() {
  if (!FFrameBuffer) return;
  const std::time_t Now = std::time(nullptr);
  std::tm Local{};
  localtime_r(&Now, &Local);
  // Both eyes side by side as drawn, before the lens distortion.
  FFrameBuffer->SaveImage(UniqueFilePath(".", ScreenShotFileName(Local)).lexically_normal());
}
