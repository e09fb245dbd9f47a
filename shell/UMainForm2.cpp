#include "shell/UMainForm2.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "character/UPmxController.h"
#include "gl/Bitmap.h"
#include "gl/UCommon2.h"
#include "gl/loader/OpenGLApis.h"
#include "hmd/HmdRuntime.h"
#include "hmd/OpenXrSession.h"
#include "math/Errors.h"
#include "math/VectorGeometry.h"
#include "shading/UShader.h"
#include "shell/Overlay.h"
#include "shell/SongPlayer.h"

// ---------------------------------------------------------------------------------------------
// TForm2: window and life cycle

namespace {

// The directory of the running executable with a trailing separator.
std::string ExecutableDirectory() {
  std::error_code Error;
  const std::filesystem::path Exe = std::filesystem::read_symlink("/proc/self/exe", Error);
  if (!Error) return Exe.parent_path().string() + "/";
  std::string Result;
  if (char* Base = SDL_GetBasePath()) {
    Result = Base;
    SDL_free(Base);
  }
  return Result;
}

}  // namespace

TForm2::TForm2(const TViewerOptions& AOptions) : FOptions(AOptions) {
  // Design-time defaults: caption "Quenlor", top-left corner at (0, 0), a sizeable border.
  // FormCreate sizes the window to half its monitor.
  // A size from the command line from the start: the offscreen driver's surface keeps the size
  // the window was made with.
  const bool Sized = FOptions.Width > 0;
  // A window larger than the screen would open partly off it; a rendered picture has no screen.
  if (Sized && !FOptions.Rendering()) Application.FitToScreen(FOptions.Width, FOptions.Height);
  FWindow = CreateGLWindow("Quenlor", 0, 0, Sized ? FOptions.Width : 800,
                           Sized ? FOptions.Height : 480, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
  Application.SetMainWindow(FWindow);
  Application.SetOnEvent([this](const SDL_Event& AEvent) { Dispatch(AEvent); });
  // An error in FormCreate is reported; the window is still completed and shown.
  Application.Guarded([this] { FormCreate(); });
}

TForm2::~TForm2() {
  Application.Guarded([this] { FormDestroy(); });
  Application.SetOnIdle(nullptr);
  Application.SetOnEvent(nullptr);
  Application.SetMainWindow(nullptr);
  if (FWindow) SDL_DestroyWindow(FWindow);
}

void TForm2::FormCreate() {
  // Client size: half the monitor the window is on, truncated.
  const int Display = std::max(0, SDL_GetWindowDisplayIndex(FWindow));
  SDL_Rect Bounds{0, 0, 1600, 960};
  SDL_GetDisplayBounds(Display, &Bounds);
  if (FOptions.Width > 0)
    SDL_SetWindowSize(FWindow, FOptions.Width, FOptions.Height);
  else
    SDL_SetWindowSize(FWindow, Bounds.w / 2, Bounds.h / 2);
  FormResize();

  FBaseDirectory = ExecutableDirectory();

  // Scene start-up.
  FOpenGL = std::make_unique<TOpenGL>(FWindow);
  // OpenXR, the legacy runtime or the window (UMainForm2Headset.cpp).
  if (!CreateSceneForDisplay()) return;
  CreateSharedScene();
}

void TForm2::CreateDesktopScene() {
  FDefaultFBO = std::make_unique<TFrameBufferObject>();
  FShadowFBO = std::make_unique<TShadowFBO>();
  ViewerPosition.Y = 1.7f;
  if (FOptions.FullScreen) SDL_SetWindowFullscreen(FWindow, SDL_WINDOW_FULLSCREEN_DESKTOP);
  Application.SetOnIdle([this](bool& ADone) { AppIdleForDesktop(ADone); });
}

void TForm2::CreateSharedScene() {
  FProgram = std::make_unique<TMainProgram>(FOpenGL.get());
  FBoneProgram = std::make_unique<TBoneProgram>(FOpenGL.get());
  const TSceneFiles Files = ResolveSceneFiles(FOptions, FBaseDirectory);
  FProgram->Light().SetPosition(NewVector3f(5.0f, 10.0f, 10.0f));
  // The window's camera file and the motions are read before the character, so that one that
  // cannot be read leaves an empty scene, as a broken model does. The headset has no camera.
  if (!FHeadset && !Files.CameraPath.empty()) {
    auto CameraFile = std::make_unique<TVmd>();
    CameraFile->LoadFromFile(Files.CameraPath);
    FCameraFile = std::move(CameraFile);
  }
  TMotionSet Motions;
  for (const std::string& Path : Files.MotionPaths) Motions.Add(Path);
  FModelPath = Files.ModelPath;
  FPmxController =
      std::make_unique<TPmxController>(FOpenGL.get(), FProgram.get(), FBoneProgram.get(),
                                       Files.ModelPath, std::string(), FBaseDirectory);
  SetMotions(std::move(Motions));
  if (!FHeadset) LoadCamera(FCameraFile.get());
  FOpenGL->SetColor(0xFFFFFF);
  FClock.Stop();
  FClock.Seek(0.0);
  // The song last: one that cannot be played is reported with the dance in place.
  if (!Files.AudioPath.empty()) LoadSong(Files.AudioPath);
}

void TForm2::SetMotions(TMotionSet AMotions) {
  std::unique_ptr<TVmd> Merged = AMotions.Merged();
  if (FPmxController) LoadMotionInto(*FPmxController, *Merged);
  FMotion = std::move(Merged);
  FMotions = std::move(AMotions);
  FClock.SetMotionLength(FMotion->FrameCount() * kMotionFrameMilliseconds);
  // Paused or not, the next frame shows the motion where the timeline stands (frame 0 at start),
  // not the rest pose the controller was built in.
  FPoseDue = true;
}

void TForm2::LoadMotionInto(TPmxController& AController, const TVmd& AMotion) {
  LoadMotionReportingMissingMorphs(AController.Core(), AMotion);
}

void TForm2::FormDestroy() {
  FClock.SetSong(nullptr, 0.0);
  FSong.reset();
  TSongPlayer::CloseAudio();
  // Programs first (their items refer to the controller's textures), the context last but the
  // display connection; every GL object goes while the context still exists.
  FProgram.reset();
  FBoneProgram.reset();
  if (FPmxController) {
    std::unique_ptr<TPmxController> Controller = std::move(FPmxController);
    Controller.reset();
  }
  FFrameBuffer.reset();
  FShadowFBO.reset();
  FDefaultFBO.reset();
  // The runtime's swapchains are GL textures: they go while the context exists.
  ShutDownOpenXr();
  FOpenGL.reset();
  FHeadset.reset();
}

void TForm2::FormActivate() {
  SDL_ShowCursor(SDL_DISABLE);
}

void TForm2::FormDeactivate() {
  SDL_ShowCursor(SDL_ENABLE);
}

void TForm2::FormResize() {
  int Width = 0, Height = 0;
  SDL_GetWindowSize(FWindow, &Width, &Height);
  ScreenCenter = ClientToScreen(Width / 2, Height / 2);
  // The runtime's distortion output follows the client area.
  if (FHeadset) ResizeHeadset();
}

void TForm2::ClientSize(int& AWidth, int& AHeight) const {
  SDL_GL_GetDrawableSize(FWindow, &AWidth, &AHeight);
}

TPoint TForm2::ClientToScreen(int AX, int AY) const {
  int Left = 0, Top = 0;
  SDL_GetWindowPosition(FWindow, &Left, &Top);
  return TPoint{Left + AX, Top + AY};
}

bool TForm2::IsActive() const {
  return (SDL_GetWindowFlags(FWindow) & SDL_WINDOW_INPUT_FOCUS) != 0;
}

bool TForm2::IsMinimized() const {
  return (SDL_GetWindowFlags(FWindow) & SDL_WINDOW_MINIMIZED) != 0;
}

void TForm2::Dispatch(const SDL_Event& AEvent) {
  switch (AEvent.type) {
    case SDL_WINDOWEVENT:
      if (AEvent.window.windowID != SDL_GetWindowID(FWindow)) break;
      switch (AEvent.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          FormResize();
          break;
        // The window's position moves the client centre in screen coordinates too.
        case SDL_WINDOWEVENT_MOVED:
          FormResize();
          break;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          FormActivate();
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          FormDeactivate();
          break;
        case SDL_WINDOWEVENT_CLOSE:
          Application.Terminate();
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN:
      FormKeyDown(VirtualKeyOf(AEvent.key.keysym.sym), ShiftStateOf(AEvent.key.keysym.mod));
      break;
    case SDL_KEYUP:
      FormKeyUp(VirtualKeyOf(AEvent.key.keysym.sym), ShiftStateOf(AEvent.key.keysym.mod));
      break;
    case SDL_MOUSEMOTION:
      if (FMouseMoveAttached)
        FormMouseMove(ShiftStateOf(SDL_GetModState()), AEvent.motion.x, AEvent.motion.y);
      break;
    case SDL_MOUSEBUTTONDOWN:
      // Every second click of a series is a double click, as on the original platform.
      if (AEvent.button.clicks >= 2 && AEvent.button.clicks % 2 == 0) FormDblClick();
      break;
    case SDL_DROPFILE:
      // A file dropped on the window (UMainForm2Drop.cpp); SDL hands over the name's memory.
      if (AEvent.drop.file) {
        const std::string File = AEvent.drop.file;
        SDL_free(AEvent.drop.file);
        DropFile(File);
      }
      break;
    default:
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Frame loop

bool DesktopFrameDue(std::uint32_t ANow, std::uint32_t APrevTick) {
  // Unsigned difference: the tick's wrap-around after 49.7 days is harmless.
  return static_cast<std::uint32_t>(ANow - APrevTick) >= 13u;
}

void TForm2::AppIdleForDesktop(bool& ADone) {
  ADone = false;
  const std::uint32_t Now = SDL_GetTicks();
  if (!DesktopFrameDue(Now, FPrevTick)) {
    SDL_Delay(0);
    return;
  }
  FPrevTick = Now;
  FDanceTime = FClock.Position();
  CountFrame(Now);
  // Read every frame, also while the camera has the view, so that walking on starts afresh.
  const float MoveTime = FrameMoveSeconds();
  if (CameraPlaying()) {
    // The camera has the view: keys and mouse do not move the walking viewer meanwhile.
    PendingYaw = PendingPitch = 0.0f;
    UpdateCamera();
    SDL_SetWindowTitle(FWindow, PositionCaption(FCameraPose.Eye).c_str());
  } else {
    MoveViewer(ViewerYaw, ViewerPitch, ViewerPosition, IdentityQuaternion, MoveTime);
    SDL_SetWindowTitle(FWindow, PositionCaption(ViewerPosition).c_str());
  }
  RenderDesktopFrame();
  if (IsMinimized()) SDL_Delay(10);
}

float TForm2::FrameMoveSeconds() {
  const std::uint32_t Now = SDL_GetTicks();
  const float Seconds = FMovedBefore ? MoveSeconds(FPrevMoveTick, Now) : 0.0f;
  FPrevMoveTick = Now;
  FMovedBefore = true;
  return Seconds;
}

void TForm2::UpdateEyeTracking() {
  if (!FEyeTracking || !FPmxController) return;
  FPmxController->FaceTurn(IsHeadsetMode()   ? HeadsetEyeMidpoint()
                           : CameraPlaying() ? FCameraPose.Eye
                                             : ViewerPosition);
}

void TForm2::UpdateMotion() {
  // Paused, the pose changes only when the timeline moved.
  if (!FPmxController || (!FEnableMotion && !FPoseDue)) return;
  FPoseDue = false;
  const double Length = FPmxController->Core().FrameCount() * kMotionFrameMilliseconds;
  FPmxController->ApplyMotionByTime(HeldMotionTime(FDanceTime, Length));
}

void TForm2::ShadowPass() {
  FProgram->Activate();
  FShadowFBO->Bind();
  FShadowFBO->Clear({cmDepth});
  FShadowFBO->SetViewport(0, 0, FShadowFBO->Width(), FShadowFBO->Height());
  FProgram->ActivateRenderPass1();
  glEnable(GL_CULL_FACE);
  glCullFace(GL_FRONT);
  glPolygonOffset(1.1f, 4.0f);
  glEnable(GL_POLYGON_OFFSET_FILL);
  FProgram->Render(FProgram->Light().MVPMatrix());
  glDisable(GL_POLYGON_OFFSET_FILL);
  glFlush();
  glFinish();
}

void TForm2::MainPass(const TMatrix4f& AView, const TMatrix4f& AProjection, int AViewportWidth,
                      int AViewportHeight) {
  const TMatrix4f MVP = MulMatrix4f(AView, AProjection);
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

void TForm2::PoseFrame() {
  if (!FPmxController) return;
  // Face turn and motion are posed together and skinned once, also when one of them throws.
  FPmxController->BeginFrame();
  struct TEndFrame {
    TPmxController* Controller;
    ~TEndFrame() { Controller->EndFrame(); }
  } End{FPmxController.get()};
  // The window's frame reads the clock before its camera; the headset's here.
  if (IsHeadsetMode()) FDanceTime = FClock.Position();
  UpdateEyeTracking();
  UpdateMotion();
}

void TForm2::RenderDesktopFrame() {
  PoseFrame();

  int Width = 0, Height = 0;
  ClientSize(Width, Height);

  // A start-up that failed before the programs existed leaves an empty window that keeps
  // running: it is cleared and presented, and nothing else is touched.
  if (!FProgram || !FBoneProgram || !FShadowFBO || !FDefaultFBO) {
    if (FDefaultFBO) {
      FDefaultFBO->Bind();
      FDefaultFBO->SetViewport(0, 0, Width, Height);
      FDefaultFBO->Clear({cmColor, cmDepth});
      glFlush();
      PresentDesktopFrame();
    }
    return;
  }

  ShadowPass();

  FDefaultFBO->Bind();
  FDefaultFBO->Clear({cmColor, cmDepth});
  FDefaultFBO->SetViewport(0, 0, Width, Height);

  const float Aspect = static_cast<float>(Width) / static_cast<float>(Height);
  TMatrix4f View, Projection;
  if (CameraPlaying()) {
    View = LookAtMatrix4f(FCameraPose.Eye, FCameraPose.Target, FCameraPose.Up);
    Projection = PerspectiveMatrix4f(FCameraPose.FovY * static_cast<float>(M_PI / 180.0), Aspect,
                                     0.01f, 10000.0f);
  } else {
    const TMatrix4f Body =
        UnitQuaternionToMatrix4f(QuaternionFromEulerYXZ(ViewerYaw, ViewerPitch, 0.0f));
    const TVec3f Up = TransformPoint3f(TVec3f(0.0f, 1.0f, 0.0f), Body);
    const TVec3f Forward = TransformPoint3f(TVec3f(0.0f, 0.0f, -1.0f), Body);
    View = LookAtMatrix4f(ViewerPosition, ViewerPosition + Forward, Up);
    Projection = PerspectiveMatrix4f(static_cast<float>(M_PI / 4.0), Aspect, 0.01f, 10000.0f);
  }
  MainPass(View, Projection, Width, Height);

  glFlush();
  PresentDesktopFrame();
}

void TForm2::PresentDesktopFrame() {
  // The frame is shown also when writing a screenshot fails (that error goes on to the report).
  struct TSwapOnExit {
    SDL_Window* Window;
    ~TSwapOnExit() { SDL_GL_SwapWindow(Window); }
  } Swap{FWindow};
  // The back buffer's content after a swap is undefined, so the screenshot is read here.
  if (FScreenShotPending) SaveDesktopScreenShot();
  if (FCapture) CaptureFrame();
  // After the screenshot, before the swap: no picture file holds the overlay.
  DrawOverlay();
}

// ---------------------------------------------------------------------------------------------
// Commands

void TForm2::FormKeyDown(std::uint16_t AKey, TShiftState AShift) {
  // Any key first dismisses the headset's safety notice.
  if (FHeadset) FHeadset->DismissHSWDisplay();
  if (TimelineKeyDown(AKey, FClock)) {
    // A frame step pauses; the new place is posed by the next frame.
    FEnableMotion = FClock.Running();
    FPoseDue = true;
    return;
  }
  switch (AKey) {
    case VK_LEFT:
      StepLight(0.1f);
      break;
    case VK_RIGHT:
      StepLight(-0.1f);
      break;
    case VK_UP:
      ForwardKeys |= 2;
      break;
    case VK_DOWN:
      BackwardKeys |= 2;
      break;
    case 'W':
      ForwardKeys |= 1;
      break;
    case 'S':
      BackwardKeys |= 1;
      break;
    case 'A':
      LeftKeys |= 1;
      break;
    case 'D':
      RightKeys |= 1;
      break;
    case '5':
      LowerKey = true;
      break;
    case '6':
      RaiseKey = true;
      break;
    case 'Q':
      if (AShift & ssCtrl) Application.Terminate();
      break;
    case 'R':
      if (FHeadset) FHeadset->RecenterPose();
      if (FXrSession) RecenterOpenXr();
      break;
    default:
      break;
  }
}

void TForm2::FormKeyUp(std::uint16_t AKey, TShiftState /*AShift*/) {
  switch (AKey) {
    case VK_UP:
      ForwardKeys &= static_cast<std::uint8_t>(~2u);
      break;
    case VK_DOWN:
      BackwardKeys &= static_cast<std::uint8_t>(~2u);
      break;
    case 'W':
      ForwardKeys &= static_cast<std::uint8_t>(~1u);
      break;
    case 'S':
      BackwardKeys &= static_cast<std::uint8_t>(~1u);
      break;
    case 'A':
      LeftKeys &= static_cast<std::uint8_t>(~1u);
      break;
    case 'D':
      RightKeys &= static_cast<std::uint8_t>(~1u);
      break;
    case '5':
      LowerKey = false;
      break;
    case '6':
      RaiseKey = false;
      break;
    case VK_ESCAPE:
      Application.Terminate();
      break;
    case 'B':
      ToggleBoneOverlay();
      break;
    case 'C':
      // The motion's camera or walking from where it stands (window only).
      ToggleCamera();
      break;
    case 'E':
      FEyeTracking = !FEyeTracking;
      break;
    case 'M':
      ToggleMultisample();
      break;
    case 'P':
      ToggleMotion();
      break;
    case VK_F1:
      // The on-screen display (UMainForm2Drop.cpp); the window's only.
      if (!IsHeadsetMode()) ToggleOverlay();
      break;
    case 'X':
      // Rigid-body physics on / off; off, the bones follow the motion only.
      if (FPmxController) FPmxController->SetPhysicsEnabled(!FPmxController->PhysicsEnabled());
      break;
    case VK_SNAPSHOT:
      // The headset's two-eye target keeps its picture; the window's is read by the next frame
      // before its swap.
      if (IsHeadsetMode())
        SaveHeadsetScreenShot();
      else
        FScreenShotPending = true;
      break;
    default:
      break;
  }
}

void TForm2::StepLight(float ADeltaX) {
  if (!FProgram) return;
  TVector3f Position = FProgram->Light().Position();
  Position.X += ADeltaX;
  FProgram->Light().SetPosition(Position);
}

void TForm2::ToggleBoneOverlay() {
  if (!FBoneProgram) return;
  for (const std::unique_ptr<TRenderItem>& Item : FBoneProgram->Items())
    if (auto* Bone = dynamic_cast<TBone*>(Item.get())) Bone->SetVisible(!Bone->Visible());
}

void TForm2::ToggleMultisample() {
  if (!FOpenGL) return;
  if (glIsEnabled(GL_MULTISAMPLE))
    glDisable(GL_MULTISAMPLE);
  else
    glEnable(GL_MULTISAMPLE);
}

void TForm2::ToggleMotion() {
  FEnableMotion = !FEnableMotion;
  if (FEnableMotion)
    FClock.Start();
  else
    FClock.Stop();
}

void TForm2::SaveDesktopScreenShot() {
  FScreenShotPending = false;
  const std::time_t Now = std::time(nullptr);
  std::tm Local{};
  localtime_r(&Now, &Local);
  const std::filesystem::path FileName = UniqueFilePath(".", ScreenShotFileName(Local));

  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  if (Width <= 0 || Height <= 0) return;
  const std::size_t RowBytes = static_cast<std::size_t>(Width) * 3;
  std::vector<std::uint8_t> Buffer(RowBytes * static_cast<std::size_t>(Height));

  // Rows tightly packed: exactly Width * 3 bytes each, whatever the width.
  GLint PackAlignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &PackAlignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, Width, Height, GL_BGR, GL_UNSIGNED_BYTE, Buffer.data());
  glPixelStorei(GL_PACK_ALIGNMENT, PackAlignment);

  // GL rows run bottom-up, bitmap rows top-down.
  TBitmap Bitmap(Width, Height, pf24bit);
  for (int B = 0; B < Height; ++B)
    std::copy_n(Buffer.data() + static_cast<std::size_t>(B) * RowBytes, RowBytes,
                Bitmap.ScanLine(Height - 1 - B));
  Bitmap.SaveToFile(FileName.lexically_normal());
}

void TForm2::FormMouseMove(TShiftState /*AShift*/, int AX, int AY) {
  if (!IsActive()) return;
  // Detached while it runs: the warp below produces a mouse move of its own.
  FMouseMoveAttached = false;
  struct TReattach {
    bool& Flag;
    ~TReattach() { Flag = true; }
  } Reattach{FMouseMoveAttached};

  const TPoint P = ClientToScreen(AX, AY);
  if (P == ScreenCenter) return;  // the event of the last re-centring
  const TPoint Origin = ClientToScreen(0, 0);
  SDL_WarpMouseInWindow(FWindow, ScreenCenter.X - Origin.X, ScreenCenter.Y - Origin.Y);
  PendingYaw -= static_cast<float>(P.X - ScreenCenter.X) * MouseSensitivity / 360.0f;
  if (!IsHeadsetMode())
    PendingPitch -= static_cast<float>(P.Y - ScreenCenter.Y) * MouseSensitivity / 360.0f;
}

void TForm2::FormDblClick() {
  // Full screen on the headset's monitor exists only in headset mode.
  if (!FHeadset || FHeadsetMonitor < 0) return;
  ToggleHeadsetFullScreen();
}
