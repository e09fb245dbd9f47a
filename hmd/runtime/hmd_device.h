// Inside the runtime: the simulated headset's numbers, its lens model and device state, and the
// GL distortion renderer. Not part of the runtime's interface.
#pragma once

#include <memory>
#include <string>

#include "hmd/runtime/hmd_runtime.h"

namespace hmdsim {

// The panel: one 1920 x 1080 screen, the left eye on its left half.
constexpr int kPanelWidth = 1920;
constexpr int kPanelHeight = 1080;
constexpr int kEyePanelWidth = kPanelWidth / 2;

// Lens model. A panel point at distance d from its lens centre (in units of kLensUnitPixels panel
// pixels) shows the direction whose tangent is d * kLensScale * (1 + kK1 d^2 + kK2 d^4): the
// picture is pre-distorted with a barrel so that the lens's pincushion straightens it. The lens
// aperture is the circle d <= 1. The lens centre sits kLensCentreFromOuterEdge pixels from the
// eye's outer panel edge (slightly towards the nose) and at half the panel height.
constexpr float kLensUnitPixels = 540.0f;
constexpr float kLensScale = 0.9f;
constexpr float kK1 = 0.22f;
constexpr float kK2 = 0.24f;
constexpr float kLensCentreFromOuterEdge = 490.0f;
// Panel pixels per unit tangent at the lens centre: the density of one texel per panel pixel there.
constexpr float kPixelsPerTanAtCentre = kLensUnitPixels / kLensScale;  // 600

// Lateral chromatic aberration: red and blue sample at these multiples of green's tangent
// (base + per d^2), so that the lens's colour fringes cancel.
constexpr float kRedScale = 0.996f, kRedScaleR2 = -0.004f;
constexpr float kBlueScale = 1.010f, kBlueScaleR2 = 0.008f;

// The default field of view of each eye: 100.4 degrees vertically, 88.4 horizontally (46.4 to the
// outer side, 42.0 to the nose).
constexpr float kUpTan = 1.20f, kDownTan = 1.20f, kOuterTan = 1.05f, kInnerTan = 0.90f;

// User profile values.
constexpr float kEyeHeight = 1.675f;  // metres above the floor
constexpr float kIPD = 0.064f;        // interpupillary distance in metres
constexpr float kPlayerHeight = 1.778f;

// The display refresh the frames are paced to, unless no-vsync is enabled.
constexpr double kRefreshHz = 75.0;

// Tangent shown at lens distance d.
inline float TanAtLensDistance(float d) {
  const float d2 = d * d;
  return d * kLensScale * (1.0f + kK1 * d2 + kK2 * d2 * d2);
}

// The lens centre of an eye in panel pixels inside that eye's half (x from the half's left edge).
inline float LensCentreX(hmdEyeType AEye) {
  return AEye == hmdEye_Left ? kLensCentreFromOuterEdge : kEyePanelWidth - kLensCentreFromOuterEdge;
}

class DistortionRenderer;

// Everything the frame's distortion pass needs for one eye.
struct EyeDraw {
  hmdFovPort Fov;
  float LensCentreX;
  unsigned Texture;   // GL texture name, 0: nothing to show
  float TexRect[4];   // eye picture in normalised texture coordinates: x, y, width, height
  float TimeWarp[9];  // column-major 3x3: rendered-frame direction from current-frame direction
  int Viewport[4];    // window pixels: x, y, width, height
};

struct FrameDraw {
  EyeDraw Eyes[2];
  int WindowWidth, WindowHeight;
  bool Chromatic, Vignette, FlipInput, HqDistortion, SRGB, Restore, DisplayOff, Notice;
};

// The GL part: programs, a vertex array and a sampler of its own, made in the GL context that is
// current at the first frame and made again when a different context is current.
class DistortionRenderer {
 public:
  DistortionRenderer();
  ~DistortionRenderer();
  DistortionRenderer(const DistortionRenderer&) = delete;
  DistortionRenderer& operator=(const DistortionRenderer&) = delete;
  // Draws into the current context's default framebuffer; false when no context is current. An
  // eye whose program does not build stays black.
  bool Draw(const FrameDraw& AFrame);

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace hmdsim
