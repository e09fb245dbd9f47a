// UMainForm2: the viewer's main window TForm2 over SDL2: the window, the keyboard and mouse, and
// the choice of output (the window itself, the legacy headset or OpenXR). The scene, its drawing
// and its music are a TViewerScene; each output draws a frame of it with one call.
// Depends on shell (ViewerScene, ViewerState, the two headset outputs, Overlay), gl and SDL2.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>

#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "shell/ViewerScene.h"
#include "shell/ViewerState.h"

class TOpenGL;
class TFrameBufferObject;
class THeadsetOutput;
class TOpenXrOutput;
class TOverlay;

class TForm2 {
 public:
  // Creates the window and runs FormCreate with the command line's choices; an error in it is
  // reported, the window stays.
  explicit TForm2(const TViewerOptions& AOptions = TViewerOptions());
  // FormDestroy, then the window goes.
  ~TForm2();
  TForm2(const TForm2&) = delete;
  TForm2& operator=(const TForm2&) = delete;

  SDL_Window* Handle() const { return FWindow; }
  // Routes one SDL event to the handlers below.
  void Dispatch(const SDL_Event& AEvent);

  void FormCreate();
  void FormDestroy();
  void FormResize();
  void FormKeyDown(std::uint16_t AKey, TShiftState AShift);
  void FormKeyUp(std::uint16_t AKey, TShiftState AShift);
  void FormMouseMove(TShiftState AShift, int AX, int AY);
  void FormDblClick();

  // Idle hook of the window: paces frames 13 ms apart and draws one.
  void AppIdleForDesktop(bool& ADone);
  // Idle hook of the legacy headset: one frame inside the runtime's frame bracket.
  void AppIdleForHeadset(bool& ADone);
  // Idle hook of OpenXR: the runtime's events, then one frame when the session runs.
  void AppIdleForOpenXr(bool& ADone);

  // A file dropped on the window or named later: a model replaces the character, a motion joins
  // or replaces the motions, a song becomes the music. A file that fails is reported and the
  // scene stays as it was.
  void DropFile(const std::string& APath);

  // Read access for tests.
  const TViewerScene& Scene() const { return *FScene; }
  const TViewerState& Viewer() const { return FViewer; }
  bool IsHeadsetMode() const { return FHeadset != nullptr || FXr != nullptr; }
  bool OverlayVisible() const;

 private:
  void CreateDesktopOutput();
  // OpenXR, the legacy runtime or the window, as the headset choice and the runtimes found
  // allow; false when start-up ends there (a legacy device that cannot be opened: quit silently).
  bool CreateOutput();
  bool CreateHeadsetOutput();
  // The OpenXR runtime failed or went: one line on stderr, and the window from now on.
  void FallBackToWindow(const std::string& AReason);
  // Seconds since the previous frame for walking (0 on the first frame), clamped.
  float FrameMoveSeconds();
  // Where the face turns to: the point between the headset's eyes, else the walking viewer.
  TVec3f ViewerEye() const;
  void DrawDesktopFrame();
  // Saves a pending screenshot of the back buffer, reads the frame for the overlay, then swaps.
  void PresentDesktopFrame();
  void ToggleCamera();
  // O: the orbit view around the selected model, or walking on from it.
  void ToggleOrbit();
  // Ctrl+S: saves the scene and says where in the caption.
  void SaveScene();
  // The caption: the eye's position, then a note (where the scene was saved) while it lasts.
  std::string Caption(const TVec3f& AEye);
  void ToggleHeadsetFullScreen();
  void ToggleOverlay();
  void DrawOverlay();
  // The frames per second the overlay shows, over the last second of window frames.
  void CountFrame(std::uint32_t ANow);
  void SaveDesktopScreenShot();
  void ClientSize(int& AWidth, int& AHeight) const;
  TPoint ClientToScreen(int AX, int AY) const;
  bool IsActive() const;
  bool IsMinimized() const;

  SDL_Window* FWindow = nullptr;
  TViewerOptions FOptions;
  TViewerState FViewer;
  std::uint32_t FPrevTick = 0;
  // The tick of the last frame that moved (or could have moved) the viewer; none before the first.
  std::uint32_t FPrevMoveTick = 0;
  bool FMovedBefore = false;
  int FPrevLeft = 0;
  int FPrevTop = 0;

  // In the order of the tear-down (see FormDestroy).
  std::unique_ptr<THeadsetOutput> FHeadset;
  std::unique_ptr<TOpenXrOutput> FXr;
  std::unique_ptr<TOpenGL> FOpenGL;
  std::unique_ptr<TFrameBufferObject> FDefaultFBO;
  std::unique_ptr<TViewerScene> FScene;

  // Mouse look: false while the handler runs, so the cursor warp it causes cannot re-enter it.
  bool FMouseMoveAttached = true;
  // Print Screen in the window: the next frame saves its picture before the swap.
  bool FScreenShotPending = false;
  static constexpr std::uint32_t kCaptionNoteMilliseconds = 5000;
  std::string FCaptionNote;
  std::uint32_t FCaptionNoteUntil = 0;
  std::unique_ptr<TOverlay> FOverlay;
  std::uint32_t FFpsSince = 0;
  int FFpsFrames = 0;
  double FFps = 0.0;
};
