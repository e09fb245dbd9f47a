// ViewerState: the walking viewer (where it stands, where it looks, the keys held and the mouse
// turns not yet applied) and the window-free helpers of the main window: walking by time, the
// caption, key codes, screenshot names. Part of the shell; depends on SDL2's key codes and the
// vector math.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

#include "math/VectorMath.h"
#include "math/VectorTypes.h"

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

// Modifier set of key and mouse events.
enum TShiftStateFlag : std::uint8_t { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = std::uint8_t;

// Virtual-key codes the commands use (main-row digits and letters are their ASCII codes; the
// timeline's are in scene/Timeline.h).
enum : std::uint16_t {
  VK_TAB = 9,
  VK_DELETE = 46,
  VK_ESCAPE = 27,
  VK_SNAPSHOT = 44,
  VK_LEFT = 37,
  VK_UP = 38,
  VK_RIGHT = 39,
  VK_DOWN = 40,
};

// Bits of the walking key sets: each set moves while any of its keys is held.
inline constexpr std::uint8_t kLetterKey = 1;  // W, A, S or D
inline constexpr std::uint8_t kArrowKey = 2;   // Up or Down

// The orbit view (O): the eye looks at Target from Distance away, Yaw about the vertical (0: the
// eye on the target's +Z side) and Pitch above the horizontal (radians); the cursor stays free.
struct TOrbitView {
  bool On = false;
  TVec3f Target{0.0f, 1.0f, 0.0f};
  float Distance = 3.0f;
  float Yaw = 0.0f;
  float Pitch = 0.0f;
  bool Dragging = false;  // the left button is held
};

// The walking viewer; one per window.
struct TViewerState {
  float Yaw = 0.0f;
  float Pitch = 0.0f;
  TVec3f Position{0.0f, 0.0f, 2.0f};
  // Mouse turns since the last frame, applied by the next MoveViewer.
  float PendingYaw = 0.0f;
  float PendingPitch = 0.0f;
  float MouseSensitivity = 1.0f;
  std::uint8_t ForwardKeys = 0;   // kLetterKey: W, kArrowKey: Up
  std::uint8_t BackwardKeys = 0;  // kLetterKey: S, kArrowKey: Down
  std::uint8_t LeftKeys = 0;      // kLetterKey: A
  std::uint8_t RightKeys = 0;     // kLetterKey: D
  bool RaiseKey = false;          // key 6
  bool LowerKey = false;          // key 5
  // The window's centre in screen coordinates, where the mouse is kept.
  TPoint ScreenCenter;
  TOrbitView Orbit;
};

// Walking goes by time: a held key moves the viewer 1/30 of a unit (8/30 with Shift) and the eye
// height 0.01 (0.08) per 13 ms, the desktop's frame pace, whatever the frame rate really is.
inline constexpr float kNominalFrameSeconds = 0.013f;
// A longer gap between two frames (a stall, a slow start) moves the viewer only this far in time,
// so that one frame cannot carry it away.
inline constexpr float kMaxMoveSeconds = 0.25f;
// The time to move by between two frames at millisecond ticks APrevTick and ANow (unsigned 32-bit
// difference, so the tick's wrap-around is harmless), at most kMaxMoveSeconds.
float MoveSeconds(std::uint32_t APrevTick, std::uint32_t ANow);

// Applies the pending mouse turns and the held keys, held for ASeconds, to AViewer's yaw, pitch
// and position; AHeadOrientation adds the head's yaw and pitch to the walking direction (identity
// in a window). Shift is read now. Turning depends on the mouse's motion alone, not on the time.
void MoveViewer(TViewerState& AViewer, const TQuaternion& AHeadOrientation, float ASeconds);

// The yaw and pitch (radians) that make the walking viewer look from AEye towards ATarget (roll
// is lost: walking has none). Direction (0, 0, -1) is yaw 0, pitch 0.
void ViewerAnglesOf(const TVec3f& AEye, const TVec3f& ATarget, float& AYaw, float& APitch);

// Where the orbit view's eye stands.
TVec3f OrbitEye(const TOrbitView& AOrbit);
// O: the orbit view around ATarget from where AEye stands (the view turns to the target, the eye
// stays); O again: walking on from the orbit view's eye, looking at its target.
void StartOrbit(TViewerState& AViewer, const TVec3f& AEye, const TVec3f& ATarget);
void StopOrbit(TViewerState& AViewer);
// A drag of ADx, ADy pixels (right, down): the eye goes round the target (0.01 radians a pixel,
// the pitch kept within 89 degrees of level), or with APan the target and eye move together
// across the view (0.002 of the distance a pixel, so that the picture follows the cursor).
void OrbitDrag(TOrbitView& AOrbit, int ADx, int ADy, bool APan);
// AClicks of the wheel (positive: away from the user) zoom in by 10% each; the distance stays
// between 0.2 and 500 units.
void OrbitZoom(TOrbitView& AOrbit, int AClicks);

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
