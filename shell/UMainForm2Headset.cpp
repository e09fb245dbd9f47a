// TForm2 in headset mode: the display connection's start-up, the frame drawn once per eye into the
// two-eye colour target and handed to the runtime, and the commands that talk to the headset.
#include "shell/UMainForm2Headset.h"

#include <SDL.h>

#include <cstring>
#include <ctime>

#include "gl/UCommon2.h"
#include "gl/loader/OpenGLApis.h"
#include "hmd/HmdRuntime.h"
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
             ToQuaternion(FHeadset->EyeRenderPose(hmdEye_Right).Orientation));
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
    MainPass(View, HeadsetProjection(AFov), AViewport.Size.h);
}

TVec3f TForm2::HeadsetEyeMidpoint() const {
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

void TForm2::SaveHeadsetScreenShot() {
  if (!FFrameBuffer) return;
  const std::time_t Now = std::time(nullptr);
  std::tm Local{};
  localtime_r(&Now, &Local);
  // Both eyes side by side as drawn, before the lens distortion.
  FFrameBuffer->SaveImage(UniqueFilePath(".", ScreenShotFileName(Local)).lexically_normal());
}
