// UMainForm2: the viewer's main window TForm2 over SDL2: start-up and shut-down of the scene, the
// frame loop with viewer movement, the per-frame scene pass and the keyboard and mouse commands.
// Depends on every subsystem: gl, shading, character, hmd and the vector math; SDL2 for the window.
#pragma once

#include <SDL.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "character/core/CameraMotion.h"
#include "math/VectorMath.h"
#include "math/VectorTypes.h"
#include "shell/Application.h"
#include "shell/CommandLine.h"
#include "shell/PlaybackClock.h"
#include "shell/SceneFiles.h"
#include "shell/Timeline.h"
#include "shell/UMainForm2Camera.h"
#include "shell/UMainForm2Headset.h"

class TOpenGL;
class TFrameBufferObject;
class TShadowFBO;
class TColorFBO;
class TMainProgram;
class TBoneProgram;
class TPmxController;
class THeadset;
class TOpenXrSession;
class TVmd;
class TSongPlayer;
class TOverlay;

// The fixed places of the model, the motion and the toon ramps below the executable's folder.
inline constexpr const char* kModelFolder = "mmd/model/";
inline constexpr const char* kMotionFolder = "mmd/motion/";
inline constexpr const char* kDefaultModelFileName = "model.pmx";
inline constexpr const char* kDefaultMotionFileName = "motion.vmd";

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

// Modifier set of key and mouse events.
enum TShiftStateFlag : std::uint8_t { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = std::uint8_t;

// Virtual-key codes the commands use (main-row digits and letters are their ASCII codes).
enum : std::uint16_t {
  VK_ESCAPE = 27,
  VK_SNAPSHOT = 44,
  VK_LEFT = 37,
  VK_UP = 38,
  VK_RIGHT = 39,
  VK_DOWN = 40,
};

// Viewer state shared by the frame loop and the input handlers; one per process.
extern float ViewerYaw;
extern float ViewerPitch;
extern TVec3f ViewerPosition;
extern float PendingYaw;
extern float PendingPitch;
extern float MouseSensitivity;
extern std::uint8_t ForwardKeys;   // bit 0: W, bit 1: Up arrow
extern std::uint8_t BackwardKeys;  // bit 0: S, bit 1: Down arrow
extern std::uint8_t LeftKeys;      // bit 0: A
extern std::uint8_t RightKeys;     // bit 0: D
extern bool RaiseKey;              // key 6
extern bool LowerKey;              // key 5
extern TPoint ScreenCenter;

// Puts the viewer state back to its start values (the process start, or a test's fresh start).
void ResetViewerState();

// Walking goes by time: a held key moves the viewer 1/30 of a unit (8/30 with Shift) and the eye
// height 0.01 (0.08) per 13 ms, the desktop's frame pace, whatever the frame rate really is.
inline constexpr float kNominalFrameSeconds = 0.013f;
// A longer gap between two frames (a stall, a slow start) moves the viewer only this far in time,
// so that one frame cannot carry it away.
inline constexpr float kMaxMoveSeconds = 0.25f;
// The time to move by between two frames at millisecond ticks APrevTick and ANow (unsigned 32-bit
// difference, so the tick's wrap-around is harmless), at most kMaxMoveSeconds.
float MoveSeconds(std::uint32_t APrevTick, std::uint32_t ANow);

// Applies the pending mouse turns and the held keys, held for ASeconds, to the viewer;
// AHeadOrientation adds the head's yaw and pitch to the walking direction (identity in a window).
// Shift is read now. Turning depends on the mouse's motion alone, not on the time.
void MoveViewer(float& AYaw, float& APitch, TVec3f& APosition, const TQuaternion& AHeadOrientation,
                float ASeconds);

// True when a desktop frame is due: at least 13 ms since the last one, in unsigned 32-bit tick
// arithmetic (so the tick's wrap-around is harmless).
bool DesktopFrameDue(std::uint32_t ANow, std::uint32_t APrevTick);

// "Pos: (x, y, z)" with two decimals and the user's locale decimal separator.
std::string PositionCaption(const TVec3f& APosition);
// The decimal separator of the user's numeric locale (from the environment), '.' when unknown.
char LocaleDecimalSeparator();

// The virtual-key code of an SDL key (0 for keys the viewer does not know); keypad digits are
// not main-row digits.
std::uint16_t VirtualKeyOf(SDL_Keycode AKey);
TShiftState ShiftStateOf(Uint16 AKeyMod);

// "ScreenShot_yyyymmddhhnnss.bmp" of a local time.
std::string ScreenShotFileName(const std::tm& ALocalTime);
// AName in ADirectory, or with "_2", "_3", ... before the extension when that file exists: an
// earlier screenshot is never replaced.
std::filesystem::path UniqueFilePath(const std::filesystem::path& ADirectory,
                                     const std::string& AName);

// Monotonic stopwatch for the motion clock: Start and Stop are idempotent and stopping keeps the
// elapsed time, so starting again continues from it.
class TStopwatch {
 public:
  void Start();
  void Stop();
  bool IsRunning() const { return FRunning; }
  double ElapsedMilliseconds() const;

 private:
  using TClock = std::chrono::steady_clock;
  TClock::duration FElapsed{};
  TClock::time_point FStartedAt{};
  bool FRunning = false;
};

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
  void FormActivate();
  void FormDeactivate();
  void FormResize();
  void FormKeyDown(std::uint16_t AKey, TShiftState AShift);
  void FormKeyUp(std::uint16_t AKey, TShiftState AShift);
  void FormMouseMove(TShiftState AShift, int AX, int AY);
  void FormDblClick();

  // Idle hook of the window mode: paces frames 13 ms apart and renders one.
  void AppIdleForDesktop(bool& ADone);
  // Idle hook of the headset mode: one frame inside the runtime's BeginFrame/EndFrame.
  void AppIdleForHeadset(bool& ADone);
  // Idle hook of the OpenXR headset mode: the runtime's events, then one frame when it runs.
  void AppIdleForOpenXr(bool& ADone);

  // A file dropped on the window or named later (UMainForm2Drop.cpp): a model replaces the
  // character, a motion joins or replaces the motions, a song becomes the music. A file that fails
  // is reported and the scene stays as it was.
  void DropFile(const std::string& APath);

  // Read access for tests and the headset mode.
  bool EyeTracking() const { return FEyeTracking; }
  bool EnableMotion() const { return FEnableMotion; }
  // The dance's clock (and the song's), and its time at the current frame.
  const TPlaybackClock& Clock() const { return FClock; }
  double DanceTime() const { return FDanceTime; }
  TPmxController* PmxController() const { return FPmxController.get(); }
  TMainProgram* Program() const { return FProgram.get(); }
  TBoneProgram* BoneProgram() const { return FBoneProgram.get(); }
  const std::string& BaseDirectory() const { return FBaseDirectory; }
  bool IsHeadsetMode() const { return FHeadset != nullptr || FXrSession != nullptr; }
  bool IsOpenXrMode() const { return FXrSession != nullptr; }
  // The motion's camera drives the window's view: there is a track, C has not switched to
  // walking, and the viewer runs in a window (in the headset the head is the camera).
  bool CameraPlaying() const;
  const TCameraMotion& Camera() const { return FCamera; }
  const TViewerOptions& Options() const { return FOptions; }
  // The files the scene was made of (the model and the motions merged into its motion).
  const std::string& ModelPath() const { return FModelPath; }
  const TMotionSet& Motions() const { return FMotions; }
  const TSongPlayer* Song() const { return FSong.get(); }
  bool OverlayVisible() const;
  // --render's frame (UMainForm2Render.cpp): the dance, camera and physics at AMilliseconds,
  // rendered and read back into ARgb (bottom row first, 3 bytes a pixel).
  // The same frame posed (camera, face turn, motion, physics) without drawing: the frames before a
  // render's range, so that its physics carries the whole dance's history.
  void PoseOfflineFrame(double AMilliseconds);
  void RenderOfflineFrame(double AMilliseconds, std::vector<std::uint8_t>& ARgb);

 private:
  void CreateDesktopScene();
  void CreateSharedScene();
  // Hands the merged motion of AMotions to the controller (which keeps a reference to it).
  void SetMotions(TMotionSet AMotions);
  static void LoadMotionInto(TPmxController& AController, const TVmd& AMotion);
  // Seconds since the previous frame for walking (0 on the first frame), clamped.
  float FrameMoveSeconds();
  void UpdateEyeTracking();
  void UpdateMotion();
  // UpdateEyeTracking and UpdateMotion inside the controller's frame bracket: one skinning.
  void PoseFrame();
  // Camera playback (UMainForm2Camera.cpp): the track of ACameraFile, or the motion's own camera
  // keys when it is nullptr; the camera at this frame's time; C's switch to walking and back.
  void LoadCamera(const TVmd* ACameraFile);
  void UpdateCamera();
  void ToggleCamera();
  void RenderDesktopFrame();
  // Saves a pending screenshot of the back buffer, then swaps.
  void PresentDesktopFrame();
  // Headset mode (UMainForm2Headset.cpp). CreateHeadsetScene returns false when start-up ends
  // there (quit requested, nothing reported).
  bool CreateHeadsetScene();
  // OpenXR, the legacy runtime or the window, as the headset choice and the runtimes found
  // allow; false when start-up ends there (as CreateHeadsetScene).
  bool CreateSceneForDisplay();
  void CreateOpenXrScene();
  void RenderOpenXrFrame();
  // The OpenXR runtime failed or went: one line on stderr, and the window from now on.
  void FallBackToWindow(const std::string& AReason);
  // Ends a running OpenXR session the way the runtime expects, then lets go of it.
  void ShutDownOpenXr();
  void RecenterOpenXr();
  void ResizeHeadset();
  void RenderHeadsetFrame();
  void RenderEye(const hmdPosef& APose, const hmdFovPort& AFov, const hmdVector3f& AViewAdjust,
                 const hmdRecti& AViewport);
  TVec3f HeadsetEyeMidpoint() const;
  void ToggleHeadsetFullScreen();
  void SaveHeadsetScreenShot();
  void ShadowPass();
  // The lit pass and the bone overlay seen through AView and AProjection on a viewport of
  // AViewportWidth x AViewportHeight pixels (the outline and the sphere maps depend on them).
  void MainPass(const TMatrix4f& AView, const TMatrix4f& AProjection, int AViewportWidth,
                int AViewportHeight);
  void ToggleBoneOverlay();
  void ToggleMultisample();
  void ToggleMotion();
  // Drops (UMainForm2Drop.cpp); each throws the reader's error with the scene unchanged.
  void ReplaceModel(const std::string& APath);
  void AddMotionFile(const std::string& APath);
  void LoadSong(const std::string& APath);
  // F1's on-screen display (UMainForm2Drop.cpp), made on its first use.
  void ToggleOverlay();
  void DrawOverlay();
  // The frames per second the overlay shows, over the last second of window frames.
  void CountFrame(std::uint32_t ANow);
  void CaptureFrame();
  // --render draws into an anti-aliased target of the window's size from its first frame on.
  void UseAntiAliasedTarget();
  void StepLight(float ADeltaX);
  void SaveDesktopScreenShot();
  void ClientSize(int& AWidth, int& AHeight) const;
  TPoint ClientToScreen(int AX, int AY) const;
  bool IsActive() const;
  bool IsMinimized() const;

  SDL_Window* FWindow = nullptr;
  std::uint32_t FPrevTick = 0;
  // The tick of the last frame that moved (or could have moved) the viewer; none before the first.
  std::uint32_t FPrevMoveTick = 0;
  bool FMovedBefore = false;
  int FPrevLeft = 0;
  int FPrevTop = 0;
  std::string FBaseDirectory;
  TViewerOptions FOptions;
  std::string FModelPath;
  TMotionSet FMotions;
  // The motion the controller samples: outlives it (declared before it, and FormDestroy frees the
  // controller first).
  std::unique_ptr<TVmd> FMotion;
  std::unique_ptr<TVmd> FCameraFile;   // --camera's file; nullptr: the motions' camera keys
  std::unique_ptr<TSongPlayer> FSong;  // the music the clock follows; nullptr: none

  // Scene objects, in the order they are declared for the tear-down (see FormDestroy).
  std::unique_ptr<THeadset> FHeadset;
  std::unique_ptr<TOpenXrSession> FXrSession;  // the OpenXR headset instead of FHeadset
  int FHeadsetMonitor = -1;  // SDL display index of the headset's monitor, -1 when none
  std::unique_ptr<TOpenGL> FOpenGL;
  std::unique_ptr<TFrameBufferObject> FDefaultFBO;
  std::unique_ptr<TShadowFBO> FShadowFBO;
  std::unique_ptr<TColorFBO> FFrameBuffer;
  std::unique_ptr<TMainProgram> FProgram;
  std::unique_ptr<TBoneProgram> FBoneProgram;
  std::unique_ptr<TPmxController> FPmxController;
  bool FEyeTracking = false;
  bool FEnableMotion = false;
  TPlaybackClock FClock;
  double FDanceTime = 0.0;  // the clock read once per frame
  bool FPoseDue = false;    // the timeline or what it plays changed while paused: pose once
  TCameraMotion FCamera;
  bool FCameraOn = false;
  TCameraPose FCameraPose;  // the camera of the current frame while it plays

  // Mouse look: false while the handler runs, so the cursor warp it causes cannot re-enter it.
  bool FMouseMoveAttached = true;
  // Print Screen in the window: the next frame saves its picture before the swap.
  bool FScreenShotPending = false;
  std::unique_ptr<TOverlay> FOverlay;
  std::vector<std::uint8_t>* FCapture = nullptr;  // RenderOfflineFrame's target while it renders
  std::uint32_t FFpsSince = 0;
  int FFpsFrames = 0;
  double FFps = 0.0;
};
