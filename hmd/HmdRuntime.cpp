// The runtime binding and the display connection.
#include "hmd/HmdRuntime.h"

#include <cfenv>

namespace {

// Flag bits of each set's elements, in element order.
constexpr unsigned kHmdCapBits[] = {0x1, 0x2, 0x4, 0x8, 0x2000, 0x40, 0x80, 0x200, 0x1000};
constexpr unsigned kDistortionCapBits[] = {0x1, 0x2, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x10000};
constexpr unsigned kTrackingCapBits[] = {0x10, 0x20, 0x40, 0x100};

template <typename TElement, std::size_t N>
unsigned Flags(TCapSet<TElement> ASet, const unsigned (&ABits)[N]) {
  unsigned Word = 0;
  for (std::size_t I = 0; I < N; ++I)
    if (ASet.Contains(TElement(I))) Word |= ABits[I];
  return Word;
}

}  // namespace

unsigned FlagWord(THmdCaps ACaps) {
  return Flags(ACaps, kHmdCapBits);
}
unsigned FlagWord(TDistortionCaps ACaps) {
  return Flags(ACaps, kDistortionCapBits);
}
unsigned FlagWord(TTrackingCaps ACaps) {
  return Flags(ACaps, kTrackingCapBits);
}

void MaskFloatingPointExceptions() {
  // Non-stop mode masks all six exceptions (denormal included on x86) and clears pending flags.
  std::fenv_t Previous;
  std::feholdexcept(&Previous);
}

THmdRuntimeLifetime::THmdRuntimeLifetime() {
  hmd_Initialize();
  MaskFloatingPointExceptions();
}

THmdRuntimeLifetime::~THmdRuntimeLifetime() {
  hmd_Shutdown();
}

THeadset::THeadset(SDL_Window* AWindowHandle) {
  FHandle = hmd_Create(0);
  if (!FHandle) throw Exception("Failed to create handle.");
  Attach(AWindowHandle);
}

THeadset::THeadset(SDL_Window* AWindowHandle, TDebugDevice) {
  FHandle = hmd_CreateDebug(hmdHmd_DK2);
  if (!FHandle) throw Exception("Failed to create handle.");
  Attach(AWindowHandle);
}

std::unique_ptr<THeadset> THeadset::CreateDebug(SDL_Window* AWindowHandle) {
  return std::unique_ptr<THeadset>(new THeadset(AWindowHandle, TDebugDevice{}));
}

void THeadset::Attach(SDL_Window* AWindowHandle) {
  FWindowHandle = AWindowHandle;
  hmd_AttachToWindow(FHandle, AWindowHandle, nullptr, nullptr);
}

THeadset::~THeadset() {
  if (FHandle) hmd_Destroy(FHandle);
}

std::size_t THeadset::Eye(hmdEyeType AEye) {
  if (AEye != hmdEye_Left && AEye != hmdEye_Right) throw ERangeError("Eye index out of range.");
  return std::size_t(AEye);
}

hmdSizei THeadset::GetFovTextureSize(hmdEyeType AEye) const {
  return hmd_GetFovTextureSize(FHandle, AEye, FHandle->DefaultEyeFov[Eye(AEye)], 1.0f);
}

hmdSizei THeadset::GetRenderTargetSize() const {
  const hmdSizei Left = GetFovTextureSize(hmdEye_Left);
  const hmdSizei Right = GetFovTextureSize(hmdEye_Right);
  return {Left.w + Right.w, Left.h > Right.h ? Left.h : Right.h};
}

TeyeRenderViewport THeadset::EyeViewports(hmdSizei ATargetSize) {
  const int Half = ATargetSize.w / 2;
  TeyeRenderViewport Result{};
  Result[hmdEye_Left] = {{0, 0}, {Half, ATargetSize.h}};
  Result[hmdEye_Right] = {{(ATargetSize.w + 1) / 2, 0}, {Half, ATargetSize.h}};
  return Result;
}

void THeadset::InitializeOpenGL(unsigned ATexture) {
  const hmdSizei Size = GetRenderTargetSize();
  FEyeRenderViewport = EyeViewports(Size);
  for (std::size_t E = 0; E < 2; ++E) {
    hmdTexture& Texture = FEyeTexture[E];
    Texture = hmdTexture{};
    Texture.Header.API = hmdRenderAPI_OpenGL;
    Texture.Header.TextureSize = Size;
    Texture.Header.RenderViewport = FEyeRenderViewport[E];
    Texture.PlatformData[0] = ATexture;  // both eyes name the one shared texture
  }
  SetEnabledCaps({hcLowPersistence, hcDynamicPrediction});
  if (!ConfigureTracking({tcOrientation, tcMagYawCorrection, tcPosition}))
    throw Exception("Failed to configure tracking parameters.");
}

void THeadset::Resize(int AWidth, int AHeight) {
  hmdRenderAPIConfig Config{};
  Config.Header.API = hmdRenderAPI_OpenGL;
  Config.Header.RTSize = {AWidth, AHeight};
  Config.Header.Multisample = 1;
  Config.PlatformData[0] = reinterpret_cast<std::uintptr_t>(FWindowHandle);
  Config.PlatformData[1] = 0;  // no device context on this platform
  if (!ConfigureRendering(Config,
                          {dcChromatic, dcTimeWarp, dcVignette, dcOverdrive, dcHqDistortion}))
    throw Exception("Failed to configure rendering parameters.");
}

void THeadset::SetEnabledCaps(THmdCaps AHmdCaps) {
  hmd_SetEnabledCaps(FHandle, FlagWord(AHmdCaps));
}

bool THeadset::ConfigureRendering(const hmdRenderAPIConfig& AConfig,
                                  TDistortionCaps ADistortionCaps) {
  const hmdFovPort EyeFov[2] = {FHandle->DefaultEyeFov[0], FHandle->DefaultEyeFov[1]};
  return hmd_ConfigureRendering(FHandle, &AConfig, FlagWord(ADistortionCaps), EyeFov,
                                FEyeRenderDesc.data()) != hmdFalse;
}

bool THeadset::ConfigureTracking(TTrackingCaps ATrackingCap) {
  return hmd_ConfigureTracking(FHandle, FlagWord(ATrackingCap), 0) != hmdFalse;
}

void THeadset::BeginFrame() {
  hmd_BeginFrame(FHandle, 0);
}

void THeadset::RenderFrame(const TRenderFrameProc& AProc) {
  for (int I = 0; I < 2; ++I) {
    const hmdEyeType EyeType = FHandle->EyeRenderOrder[I];
    const std::size_t E = Eye(EyeType);
    FEyeRenderPose[E] = hmd_GetEyePose(FHandle, EyeType);
    AProc(FEyeRenderPose[E], FEyeRenderDesc[E].Fov, FEyeRenderDesc[E].ViewAdjust,
          FEyeRenderViewport[E]);
  }
}

void THeadset::EndFrame() {
  hmd_EndFrame(FHandle, FEyeRenderPose.data(), FEyeTexture.data());
}

void THeadset::DismissHSWDisplay() {
  hmd_DismissHSWDisplay(FHandle);
}

void THeadset::RecenterPose() {
  hmd_RecenterPose(FHandle);
}
