// The walking viewer and the main window's helpers that need no window: walking and turning, the
// caption, key codes, screenshot names.
#include "shell/ViewerState.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "math/VectorGeometry.h"
#include "scene/Timeline.h"

float MoveSeconds(std::uint32_t APrevTick, std::uint32_t ANow) {
  const std::uint32_t Milliseconds = ANow - APrevTick;
  return std::min(static_cast<float>(Milliseconds) / 1000.0f, kMaxMoveSeconds);
}

void MoveViewer(TViewerState& AViewer, const TQuaternion& AHeadOrientation, float ASeconds) {
  AViewer.Yaw += AViewer.PendingYaw;
  AViewer.PendingYaw = 0.0f;
  AViewer.Pitch += AViewer.PendingPitch;
  AViewer.PendingPitch = 0.0f;

  // The head's turn and tilt are read off the way it looks, so that walking follows the gaze
  // also when the head is turned more than a quarter turn (Euler angles read back as X-then-Y
  // would flip the tilt there and walk the wrong way). An all-zero orientation adds no turn.
  const TVec3f Gaze = RotateVectorByQuaternion(TVec3f(0.0f, 0.0f, -1.0f), AHeadOrientation);
  const float HeadYaw = std::atan2(-Gaze.X, -Gaze.Z);
  const float GazeLength = Gaze.Length();
  const float HeadPitch =
      GazeLength > 0.0f ? std::asin(std::clamp(Gaze.Y / GazeLength, -1.0f, 1.0f)) : 0.0f;
  const TMatrix4f Basis = UnitQuaternionToMatrix4f(
      QuaternionFromEulerYXZ(AViewer.Yaw + HeadYaw, AViewer.Pitch + HeadPitch, 0.0f));

  // The asynchronous state: Shift held at this moment, whatever the key events said.
  const bool Fast = (SDL_GetModState() & KMOD_SHIFT) != 0;
  // The speeds are per nominal frame; this frame stands for ASeconds of holding the keys.
  const float Frames = std::clamp(ASeconds, 0.0f, kMaxMoveSeconds) / kNominalFrameSeconds;
  const float Step = (Fast ? 8.0f : 1.0f) * Frames;

  // The key sets are only tested for being non-empty, and the sum is not normalised.
  TVec3f Move(0.0f, 0.0f, 0.0f);
  if (AViewer.ForwardKeys != 0) Move = Move + TVec3f(0.0f, 0.0f, -1.0f);
  if (AViewer.BackwardKeys != 0) Move = Move + TVec3f(0.0f, 0.0f, 1.0f);
  if (AViewer.RightKeys != 0) Move = Move + TVec3f(1.0f, 0.0f, 0.0f);
  if (AViewer.LeftKeys != 0) Move = Move + TVec3f(-1.0f, 0.0f, 0.0f);

  if (AViewer.LowerKey) AViewer.Position.Y -= Step * 0.01f;
  if (AViewer.RaiseKey) AViewer.Position.Y += Step * 0.01f;

  AViewer.Position = AViewer.Position + TransformPoint3f(Move, Basis) * (Step / 30.0f);
}

char LocaleDecimalSeparator() {
  static const char Separator = [] {
    char Result = '.';
    // The user's numeric locale from the environment, read without switching the process's own
    // locale (which stays "C" so that no other formatting or parsing changes).
    if (locale_t Loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0))) {
      const char* Radix = nl_langinfo_l(RADIXCHAR, Loc);
      if (Radix && Radix[0] != '\0' && Radix[1] == '\0') Result = Radix[0];
      freelocale(Loc);
    }
    return Result;
  }();
  return Separator;
}

std::string PositionCaption(const TVec3f& APosition) {
  char Buffer[128];
  std::snprintf(Buffer, sizeof Buffer, "Pos: (%.2f, %.2f, %.2f)", static_cast<double>(APosition.X),
                static_cast<double>(APosition.Y), static_cast<double>(APosition.Z));
  std::string Caption(Buffer);
  const char Separator = LocaleDecimalSeparator();
  if (Separator != '.') {
    // Only the three numbers carry a '.', so every one of them is a decimal point.
    for (char& C : Caption)
      if (C == '.') C = Separator;
  }
  return Caption;
}

std::uint16_t VirtualKeyOf(SDL_Keycode AKey) {
  if (AKey >= SDLK_a && AKey <= SDLK_z) return static_cast<std::uint16_t>('A' + (AKey - SDLK_a));
  if (AKey >= SDLK_0 && AKey <= SDLK_9) return static_cast<std::uint16_t>('0' + (AKey - SDLK_0));
  switch (AKey) {
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return VK_TAB;
    case SDLK_RETURN:
      return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 17;
    case SDLK_LALT:
    case SDLK_RALT:
      return 18;
    case SDLK_PAUSE:
      return 19;
    case SDLK_ESCAPE:
      return VK_ESCAPE;
    case SDLK_SPACE:
      return 32;
    case SDLK_PAGEUP:
      return 33;
    case SDLK_PAGEDOWN:
      return 34;
    case SDLK_END:
      return 35;
    case SDLK_HOME:
      return 36;
    case SDLK_LEFT:
      return VK_LEFT;
    case SDLK_UP:
      return VK_UP;
    case SDLK_RIGHT:
      return VK_RIGHT;
    case SDLK_DOWN:
      return VK_DOWN;
    case SDLK_PRINTSCREEN:
      return VK_SNAPSHOT;
    case SDLK_INSERT:
      return 45;
    case SDLK_DELETE:
      return VK_DELETE;
    case SDLK_F1:
      return VK_F1;
    case SDLK_COMMA:
      return VK_OEM_COMMA;
    case SDLK_PERIOD:
      return VK_OEM_PERIOD;
    default:
      return 0;
  }
}

TShiftState ShiftStateOf(Uint16 AKeyMod) {
  TShiftState State = 0;
  if (AKeyMod & KMOD_SHIFT) State |= ssShift;
  if (AKeyMod & KMOD_ALT) State |= ssAlt;
  if (AKeyMod & KMOD_CTRL) State |= ssCtrl;
  return State;
}

std::string ScreenShotFileName(const std::tm& ALocalTime) {
  char Buffer[64];
  std::snprintf(Buffer, sizeof Buffer, "ScreenShot_%04d%02d%02d%02d%02d%02d.bmp",
                ALocalTime.tm_year + 1900, ALocalTime.tm_mon + 1, ALocalTime.tm_mday,
                ALocalTime.tm_hour, ALocalTime.tm_min, ALocalTime.tm_sec);
  return Buffer;
}

std::filesystem::path UniqueFilePath(const std::filesystem::path& ADirectory,
                                     const std::string& AName) {
  namespace fs = std::filesystem;
  std::error_code Error;
  fs::path Path = ADirectory / AName;
  if (!fs::exists(Path, Error)) return Path;
  const fs::path Name(AName);
  const std::string Stem = Name.stem().string();
  const std::string Extension = Name.extension().string();
  for (int N = 2;; ++N) {
    Path = ADirectory / (Stem + "_" + std::to_string(N) + Extension);
    if (!fs::exists(Path, Error)) return Path;
  }
}

void ViewerAnglesOf(const TVec3f& AEye, const TVec3f& ATarget, float& AYaw, float& APitch) {
  // The walking view looks along (-cos p sin y, sin p, -cos p cos y) for yaw y and pitch p.
  const TVec3f D = (ATarget - AEye).Normalize();
  APitch = std::asin(std::fmax(-1.0f, std::fmin(1.0f, D.Y)));
  AYaw = std::atan2(-D.X, -D.Z);
}

bool DesktopFrameDue(std::uint32_t ANow, std::uint32_t APrevTick) {
  // Unsigned difference: the tick's wrap-around after 49.7 days is harmless.
  return static_cast<std::uint32_t>(ANow - APrevTick) >= 13u;
}

namespace {
constexpr float kOrbitTurnPerPixel = 0.01f;
constexpr float kOrbitPanPerPixel = 0.002f;
constexpr float kOrbitMaxPitch = 89.0f * 3.14159265f / 180.0f;
constexpr float kOrbitMinDistance = 0.2f;
constexpr float kOrbitMaxDistance = 500.0f;
}  // namespace

TVec3f OrbitEye(const TOrbitView& AOrbit) {
  const float C = std::cos(AOrbit.Pitch);
  return AOrbit.Target +
         TVec3f(C * std::sin(AOrbit.Yaw), std::sin(AOrbit.Pitch), C * std::cos(AOrbit.Yaw)) *
             AOrbit.Distance;
}

void StartOrbit(TViewerState& AViewer, const TVec3f& AEye, const TVec3f& ATarget) {
  TOrbitView& Orbit = AViewer.Orbit;
  const TVec3f Offset = AEye - ATarget;
  Orbit.Target = ATarget;
  Orbit.Distance =
      std::clamp(std::sqrt(Offset.X * Offset.X + Offset.Y * Offset.Y + Offset.Z * Offset.Z),
                 kOrbitMinDistance, kOrbitMaxDistance);
  Orbit.Yaw = std::atan2(Offset.X, Offset.Z);
  Orbit.Pitch = std::clamp(std::asin(std::clamp(Offset.Y / Orbit.Distance, -1.0f, 1.0f)),
                           -kOrbitMaxPitch, kOrbitMaxPitch);
  Orbit.Dragging = false;
  Orbit.On = true;
}

void StopOrbit(TViewerState& AViewer) {
  if (!AViewer.Orbit.On) return;
  AViewer.Position = OrbitEye(AViewer.Orbit);
  ViewerAnglesOf(AViewer.Position, AViewer.Orbit.Target, AViewer.Yaw, AViewer.Pitch);
  AViewer.Orbit.On = false;
  AViewer.Orbit.Dragging = false;
  // Mouse turns made meanwhile belong to neither.
  AViewer.PendingYaw = AViewer.PendingPitch = 0.0f;
}

void OrbitDrag(TOrbitView& AOrbit, int ADx, int ADy, bool APan) {
  if (!APan) {
    // Dragging right takes the eye round to the left, so that the model turns with the cursor.
    AOrbit.Yaw -= static_cast<float>(ADx) * kOrbitTurnPerPixel;
    AOrbit.Pitch = std::clamp(AOrbit.Pitch + static_cast<float>(ADy) * kOrbitTurnPerPixel,
                              -kOrbitMaxPitch, kOrbitMaxPitch);
    return;
  }
  // The view's right and up directions at the eye.
  const TVec3f Right(std::cos(AOrbit.Yaw), 0.0f, -std::sin(AOrbit.Yaw));
  const TVec3f Up(-std::sin(AOrbit.Pitch) * std::sin(AOrbit.Yaw), std::cos(AOrbit.Pitch),
                  -std::sin(AOrbit.Pitch) * std::cos(AOrbit.Yaw));
  const float Step = AOrbit.Distance * kOrbitPanPerPixel;
  // The picture follows the cursor: the target moves the other way.
  AOrbit.Target = AOrbit.Target - Right * (static_cast<float>(ADx) * Step) +
                  Up * (static_cast<float>(ADy) * Step);
}

void OrbitZoom(TOrbitView& AOrbit, int AClicks) {
  AOrbit.Distance = std::clamp(AOrbit.Distance * std::pow(0.9f, static_cast<float>(AClicks)),
                               kOrbitMinDistance, kOrbitMaxDistance);
}
