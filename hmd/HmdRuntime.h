// HmdRuntime: the program's binding to the headset runtime (its life around the program's) and
// THeadset, the connection to one head-mounted display: tracking, the two eyes' render data inside
// one shared colour texture, and the frame. Depends on hmd/runtime (the hmd_ calls) and
// math/Errors.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>

#include "hmd/runtime/hmd_runtime.h"
#include "math/Errors.h"

struct SDL_Window;

// Display capabilities, in the order of the runtime's flag table.
enum THmdCap : std::uint8_t {
  hcPresent,
  hcAvailable,
  hcCaptured,
  hcExtendDesktop,
  hcNoMirrorToWindow,
  hcDisplayOff,
  hcLowPersistence,
  hcDynamicPrediction,
  hcNoVSync
};

// Distortion capabilities.
enum TDistortionCap : std::uint8_t {
  dcChromatic,
  dcTimeWarp,
  dcVignette,
  dcNoRestore,
  dcFlipInput,
  dcSRGB,
  dcOverdrive,
  dcHqDistortion,
  dcProfileNoTimewarpSpinWaits
};

// Tracking capabilities.
enum TTrackingCap : std::uint8_t { tcOrientation, tcMagYawCorrection, tcPosition, tcIdle };

// A set of enumeration values (one bit per element's ordinal), built from a brace list:
// THmdCaps{hcLowPersistence, hcDynamicPrediction}.
template <typename TElement>
class TCapSet {
 public:
  constexpr TCapSet() = default;
  constexpr TCapSet(std::initializer_list<TElement> AElements) {
    for (TElement E : AElements) FBits |= 1u << unsigned(E);
  }
  constexpr bool Contains(TElement AElement) const { return FBits >> unsigned(AElement) & 1u; }
  constexpr void Include(TElement AElement) { FBits |= 1u << unsigned(AElement); }
  constexpr void Exclude(TElement AElement) { FBits &= ~(1u << unsigned(AElement)); }
  constexpr bool operator==(const TCapSet&) const = default;

 private:
  std::uint32_t FBits = 0;
};

using THmdCaps = TCapSet<THmdCap>;
using TDistortionCaps = TCapSet<TDistortionCap>;
using TTrackingCaps = TCapSet<TTrackingCap>;

// The runtime's flag word of a set: the OR of its members' bits.
unsigned FlagWord(THmdCaps ACaps);
unsigned FlagWord(TDistortionCaps ACaps);
unsigned FlagWord(TTrackingCaps ACaps);

using TeyeRenderDescOut = std::array<hmdEyeRenderDesc, 2>;
using TeyeRenderViewport = std::array<hmdRecti, 2>;
using TeyeTexture = std::array<hmdTexture, 2>;
using TrenderPose = std::array<hmdPosef, 2>;

// Draws one eye: its pose, field of view, offset from the head centre and rectangle in the
// shared texture.
using TRenderFrameProc =
    std::function<void(const hmdPosef& APose, const hmdFovPort& AFov,
                       const hmdVector3f& AViewAdjust, const hmdRecti& AViewport)>;

// The runtime's life around the program's: create one before the main window and let it go after
// the window is gone. Starting also keeps floating-point exceptions masked for the process.
class THmdRuntimeLifetime {
 public:
  THmdRuntimeLifetime();
  ~THmdRuntimeLifetime();
  THmdRuntimeLifetime(const THmdRuntimeLifetime&) = delete;
  THmdRuntimeLifetime& operator=(const THmdRuntimeLifetime&) = delete;
};

// Masks every floating-point exception (invalid, division by zero, overflow, underflow, inexact,
// denormal) so that degenerate arithmetic yields infinities or NaN instead of a trap. Never
// unmasks.
void MaskFloatingPointExceptions();

// Connection to one head-mounted display. Order of use: construct (Create) on the window; once the
// GL context and the colour texture exist, InitializeOpenGL; Resize with the window's client size
// at start and after every change; per frame BeginFrame, RenderFrame, EndFrame; DismissHSWDisplay
// and RecenterPose between frames. Destruction releases the device.
class THeadset {
 public:
  // Opens device 0 for the window; throws Exception("Failed to create handle.").
  explicit THeadset(SDL_Window* AWindowHandle);
  // The same with a simulated device of the runtime (no hardware needed).
  static std::unique_ptr<THeadset> CreateDebug(SDL_Window* AWindowHandle);
  ~THeadset();
  THeadset(const THeadset&) = delete;
  THeadset& operator=(const THeadset&) = delete;

  // Eye viewports and textures for the shared texture ATexture (a GL texture name), display caps,
  // tracking; throws Exception("Failed to configure tracking parameters.").
  void InitializeOpenGL(unsigned ATexture);
  // Distortion rendering for a window client area of that size; throws
  // Exception("Failed to configure rendering parameters.").
  void Resize(int AWidth, int AHeight);
  hmdSizei GetFovTextureSize(hmdEyeType AEye) const;
  // Both eyes side by side: the widths added, the larger height.
  hmdSizei GetRenderTargetSize() const;
  void SetEnabledCaps(THmdCaps AHmdCaps);
  bool ConfigureRendering(const hmdRenderAPIConfig& AConfig, TDistortionCaps ADistortionCaps);
  bool ConfigureTracking(TTrackingCaps ATrackingCap);
  void BeginFrame();
  // Calls AProc once per eye in the runtime's preferred order, with that eye's fresh pose; the
  // poses are kept for EndFrame. An error from AProc leaves the later eye's pose as it was.
  void RenderFrame(const TRenderFrameProc& AProc);
  void EndFrame();
  void DismissHSWDisplay();
  void RecenterPose();

  hmdHandle Handle() const { return FHandle; }
  SDL_Window* WindowHandle() const { return FWindowHandle; }
  // Per-eye state, indexed by eye; an index other than 0 or 1 raises ERangeError.
  const hmdEyeRenderDesc& EyeRenderDesc(hmdEyeType AEye) const { return FEyeRenderDesc[Eye(AEye)]; }
  const hmdRecti& EyeRenderViewport(hmdEyeType AEye) const { return FEyeRenderViewport[Eye(AEye)]; }
  const hmdTexture& EyeTexture(hmdEyeType AEye) const { return FEyeTexture[Eye(AEye)]; }
  // The pose the eye was last drawn with (zeros before the first RenderFrame).
  const hmdPosef& EyeRenderPose(hmdEyeType AEye) const { return FEyeRenderPose[Eye(AEye)]; }

  // The two eye rectangles of a shared texture: left and right halves of width w div 2; with an
  // odd width the middle column belongs to neither.
  static TeyeRenderViewport EyeViewports(hmdSizei ATargetSize);

 private:
  struct TDebugDevice {};
  THeadset(SDL_Window* AWindowHandle, TDebugDevice);
  static std::size_t Eye(hmdEyeType AEye);
  void Attach(SDL_Window* AWindowHandle);

  hmdHandle FHandle = nullptr;
  SDL_Window* FWindowHandle = nullptr;
  TeyeRenderDescOut FEyeRenderDesc{};
  TeyeRenderViewport FEyeRenderViewport{};
  TeyeTexture FEyeTexture{};
  TrenderPose FEyeRenderPose{};
};
