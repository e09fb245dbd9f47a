#include "shell/UMainForm2.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "gl/Bitmap.h"
#include "gl/UCommon2.h"
#include "gl/loader/OpenGLApis.h"
#include "hmd/HmdRuntime.h"
#include "hmd/OpenXrSession.h"
#include "math/Errors.h"
#include "scene/Timeline.h"
#include "shell/HeadsetOutput.h"
#include "shell/HeadsetViews.h"
#include "shell/OpenXrOutput.h"
#include "shell/Overlay.h"

// ---------------------------------------------------------------------------------------------
// TForm2: window and life cycle

TForm2::TForm2(const TViewerOptions& AOptions)
    : FOptions(AOptions), FScene(std::make_unique<TViewerScene>(AOptions, ExecutableDirectory())) {
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

  FOpenGL = std::make_unique<TOpenGL>(FWindow);
  // OpenXR, the legacy runtime or the window.
  if (!CreateOutput()) return;
  // In a headset the head is the camera.
  FScene->Scene().SetCameraAllowed(!IsHeadsetMode());
  FScene->Load(FOpenGL.get());
}

void TForm2::CreateDesktopOutput() {
  FDefaultFBO = std::make_unique<TFrameBufferObject>();
  FViewer.Position.Y = 1.7f;
  if (FOptions.FullScreen) SDL_SetWindowFullscreen(FWindow, SDL_WINDOW_FULLSCREEN_DESKTOP);
  Application.SetOnIdle([this](bool& ADone) { AppIdleForDesktop(ADone); });
}

bool TForm2::CreateOutput() {
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
        FXr = std::make_unique<TOpenXrOutput>(std::move(Session), *FOpenGL);
        // The LOCAL space starts at the head: the viewer stands at a standing eye height.
        FViewer.Position.Y = 1.7f;
        // xrWaitFrame paces the frames to the headset; the mirror must not wait for the monitor.
        SDL_GL_SetSwapInterval(0);
        Application.SetOnIdle([this](bool& ADone) { AppIdleForOpenXr(ADone); });
      } catch (const std::exception& E) {
        // Part-way: the session's objects go while the context exists, the window takes over.
        Session.reset();
        FXr.reset();
        std::fprintf(stderr, "%s Showing the window instead.\n", E.what());
        CreateDesktopOutput();
      }
      return true;
    }
    if (Pick == THeadsetChoice::hcOpenXR) {
      std::fprintf(stderr, "OpenXR: %s. Showing the window instead.\n", WhyNot.c_str());
      CreateDesktopOutput();
      return true;
    }
  }
  if (Pick == THeadsetChoice::hcAuto || Pick == THeadsetChoice::hcLegacy) {
    // A display connection or rendering set-up that fails ends the program here, silently.
    if (hmd_Detect() > 0) return CreateHeadsetOutput();
    if (Pick == THeadsetChoice::hcLegacy)
      std::fprintf(stderr, "The legacy headset runtime reports no headset. Showing the window.\n");
  }
  CreateDesktopOutput();
  return true;
}

bool TForm2::CreateHeadsetOutput() {
  // A device that is reported but cannot be opened ends the program without a word.
  try {
    FHeadset = std::make_unique<THeadsetOutput>(FWindow);
  } catch (...) {
    Application.Terminate();
    return false;
  }
  // Not guarded: a tracking failure is reported like any start-up error, and nothing is drawn.
  FHeadset->Start(*FOpenGL);
  FViewer.Position.Y = FHeadset->EyeHeight(FViewer.Position.Y);
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

void TForm2::FallBackToWindow(const std::string& AReason) {
  std::fprintf(stderr, "%s Showing the window instead.\n", AReason.c_str());
  FXr.reset();
  // The scene was loaded without a camera track; it stays so.
  FDefaultFBO = std::make_unique<TFrameBufferObject>();
  Application.SetOnIdle([this](bool& ADone) { AppIdleForDesktop(ADone); });
}

void TForm2::FormDestroy() {
  // The song, the drawings and the programs go while the context exists; so do the runtime's
  // swapchains (GL textures). The context last but the display connection.
  FScene.reset();
  FDefaultFBO.reset();
  if (FHeadset) FHeadset->ReleaseTarget();
  FXr.reset();
  FOpenGL.reset();
  FHeadset.reset();
}

void TForm2::FormResize() {
  int Width = 0, Height = 0;
  SDL_GetWindowSize(FWindow, &Width, &Height);
  FViewer.ScreenCenter = ClientToScreen(Width / 2, Height / 2);
  // The runtime's distortion output follows the client area.
  if (FHeadset) {
    ClientSize(Width, Height);
    try {
      FHeadset->Resize(Width, Height);
    } catch (...) {
      Application.Terminate();
    }
  }
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
        // The cursor hides while the window has the focus (the mouse turns the viewer).
        case SDL_WINDOWEVENT_FOCUS_GAINED:
          if (!FViewer.Orbit.On) SDL_ShowCursor(SDL_DISABLE);
          break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
          SDL_ShowCursor(SDL_ENABLE);
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
      if (FViewer.Orbit.On) {
        // The orbit view: the cursor is free; a drag turns (Shift: pans) the view.
        if (FViewer.Orbit.Dragging)
          OrbitDrag(FViewer.Orbit, AEvent.motion.xrel, AEvent.motion.yrel,
                    (SDL_GetModState() & KMOD_SHIFT) != 0);
      } else if (FMouseMoveAttached) {
        FormMouseMove(ShiftStateOf(SDL_GetModState()), AEvent.motion.x, AEvent.motion.y);
      }
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (AEvent.button.button == SDL_BUTTON_LEFT) FViewer.Orbit.Dragging = FViewer.Orbit.On;
      // Every second click of a series is a double click, as on the original platform.
      if (AEvent.button.clicks >= 2 && AEvent.button.clicks % 2 == 0) FormDblClick();
      break;
    case SDL_MOUSEBUTTONUP:
      if (AEvent.button.button == SDL_BUTTON_LEFT) FViewer.Orbit.Dragging = false;
      break;
    case SDL_MOUSEWHEEL:
      if (FViewer.Orbit.On)
        OrbitZoom(FViewer.Orbit, AEvent.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -AEvent.wheel.y
                                                                                  : AEvent.wheel.y);
      break;
    case SDL_DROPFILE:
      // A file dropped on the window; SDL hands over the name's memory.
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

void TForm2::AppIdleForDesktop(bool& ADone) {
  ADone = false;
  const std::uint32_t Now = SDL_GetTicks();
  if (!DesktopFrameDue(Now, FPrevTick)) {
    SDL_Delay(0);
    return;
  }
  FPrevTick = Now;
  CountFrame(Now);
  TScene& Scene = FScene->Scene();
  // The clock is read once per frame.
  const double Time = Scene.Clock().Position();
  // Read every frame, also while the camera has the view, so that walking on starts afresh.
  const float MoveTime = FrameMoveSeconds();
  if (Scene.CameraPlaying() || FViewer.Orbit.On)
    // The camera or the orbit view has the view: keys and mouse do not walk meanwhile.
    FViewer.PendingYaw = FViewer.PendingPitch = 0.0f;
  else
    MoveViewer(FViewer, IdentityQuaternion, MoveTime);
  Scene.AdvanceTo(Time, FViewer.Position);
  SDL_SetWindowTitle(FWindow, Caption(Scene.CameraPlaying() ? Scene.CameraPose().Eye
                                      : FViewer.Orbit.On    ? OrbitEye(FViewer.Orbit)
                                                            : FViewer.Position)
                                  .c_str());
  DrawDesktopFrame();
  if (IsMinimized()) SDL_Delay(10);
}

void TForm2::AppIdleForHeadset(bool& ADone) {
  ADone = false;
  TScene& Scene = FScene->Scene();
  FHeadset->DrawFrame(&Scene, FScene->Renderer(), FViewer, FrameMoveSeconds());
  SDL_SetWindowTitle(FWindow, Caption(FViewer.Position).c_str());
  if (IsMinimized()) SDL_Delay(10);
}

void TForm2::AppIdleForOpenXr(bool& ADone) {
  ADone = false;
  switch (
      FXr->DrawFrame(FWindow, &FScene->Scene(), FScene->Renderer(), FViewer, FrameMoveSeconds())) {
    case TXrStep::xoDrawn:
      SDL_SetWindowTitle(FWindow, Caption(FViewer.Position).c_str());
      if (IsMinimized()) SDL_Delay(10);
      break;
    case TXrStep::xoWaiting:
      SDL_Delay(10);
      break;
    case TXrStep::xoExit:
      // The runtime ended the session (the user left it there): the program ends.
      Application.Terminate();
      break;
    case TXrStep::xoLost:
      FallBackToWindow(FXr->FailReason());
      break;
  }
}

float TForm2::FrameMoveSeconds() {
  const std::uint32_t Now = SDL_GetTicks();
  const float Seconds = FMovedBefore ? MoveSeconds(FPrevMoveTick, Now) : 0.0f;
  FPrevMoveTick = Now;
  FMovedBefore = true;
  return Seconds;
}

void TForm2::DrawDesktopFrame() {
  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  if (!FDefaultFBO) return;
  // A start-up that failed before the programs existed leaves an empty window that keeps
  // running: it is cleared and presented, and nothing else is touched.
  TSceneRenderer* Renderer = FScene->Renderer();
  if (!Renderer) {
    FDefaultFBO->Bind();
    FDefaultFBO->SetViewport(0, 0, Width, Height);
    FDefaultFBO->Clear({cmColor, cmDepth});
    glFlush();
    PresentDesktopFrame();
    return;
  }
  TMatrix4f View, Projection;
  DesktopView(FScene->Scene(), FViewer, Width, Height, View, Projection);
  Renderer->DrawFrame(*FDefaultFBO, Width, Height, View, Projection);
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
  // After the screenshot, before the swap: no picture file holds the overlay.
  DrawOverlay();
}

// ---------------------------------------------------------------------------------------------
// Commands

void TForm2::FormKeyDown(std::uint16_t AKey, TShiftState AShift) {
  // Any key first dismisses the headset's safety notice.
  if (FHeadset) FHeadset->Headset().DismissHSWDisplay();
  TScene& Scene = FScene->Scene();
  if (TimelineKeyDown(AKey, Scene.Clock())) {
    Scene.TimelineMoved();
    return;
  }
  switch (AKey) {
    case VK_LEFT:
      if (FScene->Renderer()) FScene->Renderer()->StepLight(0.1f);
      break;
    case VK_RIGHT:
      if (FScene->Renderer()) FScene->Renderer()->StepLight(-0.1f);
      break;
    case VK_UP:
      FViewer.ForwardKeys |= kArrowKey;
      break;
    case VK_DOWN:
      FViewer.BackwardKeys |= kArrowKey;
      break;
    case 'W':
      FViewer.ForwardKeys |= kLetterKey;
      break;
    case 'S':
      // Ctrl+S saves the scene; S alone walks back.
      if (AShift & ssCtrl)
        SaveScene();
      else
        FViewer.BackwardKeys |= kLetterKey;
      break;
    case 'A':
      FViewer.LeftKeys |= kLetterKey;
      break;
    case 'D':
      FViewer.RightKeys |= kLetterKey;
      break;
    case '5':
      FViewer.LowerKey = true;
      break;
    case '6':
      FViewer.RaiseKey = true;
      break;
    case 'Q':
      if (AShift & ssCtrl) Application.Terminate();
      break;
    case 'R':
      if (FHeadset) FHeadset->Headset().RecenterPose();
      if (FXr && !FXr->Recenter()) FallBackToWindow(FXr->FailReason());
      break;
    default:
      break;
  }
}

void TForm2::FormKeyUp(std::uint16_t AKey, TShiftState /*AShift*/) {
  switch (AKey) {
    case VK_UP:
      FViewer.ForwardKeys &= static_cast<std::uint8_t>(~kArrowKey);
      break;
    case VK_DOWN:
      FViewer.BackwardKeys &= static_cast<std::uint8_t>(~kArrowKey);
      break;
    case 'W':
      FViewer.ForwardKeys &= static_cast<std::uint8_t>(~kLetterKey);
      break;
    case 'S':
      FViewer.BackwardKeys &= static_cast<std::uint8_t>(~kLetterKey);
      break;
    case 'A':
      FViewer.LeftKeys &= static_cast<std::uint8_t>(~kLetterKey);
      break;
    case 'D':
      FViewer.RightKeys &= static_cast<std::uint8_t>(~kLetterKey);
      break;
    case '5':
      FViewer.LowerKey = false;
      break;
    case '6':
      FViewer.RaiseKey = false;
      break;
    case VK_ESCAPE:
      Application.Terminate();
      break;
    case 'B':
      // The selected model's bones.
      if (FScene->Renderer()) FScene->Renderer()->ToggleBoneOverlay(FScene->Scene().Selected());
      break;
    case VK_TAB:
      FScene->Scene().SelectNext();
      break;
    case VK_DELETE:
      FScene->RemoveSelected();
      break;
    case 'C':
      // The motion's camera or walking from where it stands (window only).
      ToggleCamera();
      break;
    case 'O':
      ToggleOrbit();
      break;
    case 'E':
      FScene->Scene().ToggleFaceTurn();
      break;
    case 'M':
      if (glIsEnabled(GL_MULTISAMPLE))
        glDisable(GL_MULTISAMPLE);
      else
        glEnable(GL_MULTISAMPLE);
      break;
    case 'P':
      FScene->Scene().TogglePlaying();
      break;
    case VK_F1:
      // The on-screen display; the window's only.
      if (!IsHeadsetMode()) ToggleOverlay();
      break;
    case 'X':
      // Rigid-body physics on / off; off, the bones follow the motion only.
      FScene->Scene().TogglePhysics();
      break;
    case VK_SNAPSHOT:
      // The headset's two-eye target keeps its picture; the window's is read by the next frame
      // before its swap.
      if (FHeadset)
        FHeadset->SaveScreenShot();
      else if (FXr)
        FXr->SaveScreenShot();
      else
        FScreenShotPending = true;
      break;
    default:
      break;
  }
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
  std::vector<std::uint8_t> Buffer;
  glReadBuffer(GL_BACK);
  ReadFramePixels(Width, Height, GL_BGR, Buffer);

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
  if (P == FViewer.ScreenCenter) return;  // the event of the last re-centring
  const TPoint Origin = ClientToScreen(0, 0);
  SDL_WarpMouseInWindow(FWindow, FViewer.ScreenCenter.X - Origin.X,
                        FViewer.ScreenCenter.Y - Origin.Y);
  FViewer.PendingYaw -=
      static_cast<float>(P.X - FViewer.ScreenCenter.X) * FViewer.MouseSensitivity / 360.0f;
  if (!IsHeadsetMode())
    FViewer.PendingPitch -=
        static_cast<float>(P.Y - FViewer.ScreenCenter.Y) * FViewer.MouseSensitivity / 360.0f;
}

void TForm2::FormDblClick() {
  // Full screen on the headset's monitor exists only in headset mode.
  if (!FHeadset || FHeadset->Monitor() < 0) return;
  ToggleHeadsetFullScreen();
}

void TForm2::ToggleHeadsetFullScreen() {
  // Desktop composition has no switch on X11; there is nothing to turn off or on.
  if ((SDL_GetWindowFlags(FWindow) & SDL_WINDOW_BORDERLESS) == 0) {
    SDL_Rect Monitor{0, 0, 0, 0};
    if (SDL_GetDisplayBounds(FHeadset->Monitor(), &Monitor) != 0) return;
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

void TForm2::SaveScene() {
  Application.Guarded([&] {
    const std::string Path = FScene->SaveScene();
    // The caption says where for a few seconds, after the position.
    FCaptionNote = "  Saved " + Path;
    FCaptionNoteUntil = SDL_GetTicks() + kCaptionNoteMilliseconds;
  });
}

std::string TForm2::Caption(const TVec3f& AEye) {
  std::string Text = PositionCaption(AEye);
  if (!FCaptionNote.empty()) {
    if (static_cast<std::int32_t>(SDL_GetTicks() - FCaptionNoteUntil) < 0)
      Text += FCaptionNote;
    else
      FCaptionNote.clear();
  }
  return Text;
}

void TForm2::ToggleOrbit() {
  if (IsHeadsetMode()) return;
  TScene& Scene = FScene->Scene();
  if (FViewer.Orbit.On) {
    StopOrbit(FViewer);
    SDL_ShowCursor(SDL_DISABLE);
    return;
  }
  // From where the view stands now (the camera's eye while it plays); the camera gives way.
  TVec3f Eye = FViewer.Position;
  if (Scene.CameraPlaying()) {
    Eye = Scene.CameraPose().Eye;
    Scene.SetCameraOn(false);
  }
  const TSceneModel* Selected = Scene.Selected();
  StartOrbit(FViewer, Eye, Selected ? ModelCentre(*Selected) : TVec3f(0.0f, 1.0f, 0.0f));
  SDL_ShowCursor(SDL_ENABLE);
}

void TForm2::ToggleCamera() {
  TScene& Scene = FScene->Scene();
  if (!Scene.HasCamera() || IsHeadsetMode()) return;
  if (Scene.CameraPlaying()) {
    // Walking starts where the camera stands, looking where it looked.
    const TCameraPose& Camera = Scene.CameraPose();
    FViewer.Position = Camera.Eye;
    ViewerAnglesOf(Camera.Eye, Camera.Target, FViewer.Yaw, FViewer.Pitch);
    Scene.SetCameraOn(false);
  } else {
    StopOrbit(FViewer);
    Scene.SetCameraOn(true);
  }
  // Mouse turns made meanwhile belong to neither.
  FViewer.PendingYaw = FViewer.PendingPitch = 0.0f;
}

// ---------------------------------------------------------------------------------------------
// Files dropped later, and the on-screen display

void TForm2::DropFile(const std::string& APath) {
  const std::string Name = std::filesystem::path(APath).filename().string();
  // The caption says what is loading until the next frame writes the position again.
  SDL_SetWindowTitle(FWindow, ("Loading " + Name + " ...").c_str());
  Application.Guarded([&] {
    switch (KindOfFile(APath)) {
      case TFileKind::fkModel:
        // With Shift held the model joins the scene; else it takes the selected one's place.
        if (SDL_GetModState() & KMOD_SHIFT)
          FScene->AddModel(APath);
        else
          FScene->ReplaceModel(APath);
        break;
      case TFileKind::fkMotion:
        FScene->AddMotionFile(APath);
        break;
      case TFileKind::fkSong:
        FScene->LoadSong(APath);
        break;
      case TFileKind::fkScene:
        FScene->OpenScene(APath);
        break;
      case TFileKind::fkUnknown:
        throw Exception("\"" + Name +
                        "\" is not a model (.pmx, .pmd), a motion (.vmd), a pose (.vpd), a scene "
                        "(.toml) or a song (WAV, OGG, MP3, FLAC)");
    }
  });
}

bool TForm2::OverlayVisible() const {
  return FOverlay && FOverlay->Visible();
}

void TForm2::ToggleOverlay() {
  if (!FOverlay) FOverlay = std::make_unique<TOverlay>();
  FOverlay->Toggle();
}

void TForm2::CountFrame(std::uint32_t ANow) {
  ++FFpsFrames;
  const std::uint32_t Span = ANow - FFpsSince;
  if (Span >= 1000u) {
    FFps = FFpsFrames * 1000.0 / Span;
    FFpsFrames = 0;
    FFpsSince = ANow;
  }
}

void TForm2::DrawOverlay() {
  if (!OverlayVisible() || IsHeadsetMode() || !FDefaultFBO) return;
  int Width = 0, Height = 0;
  ClientSize(Width, Height);
  FOverlay->Draw(OverlayInfoOf(*FScene, FFps), Width, Height);
}
