// The runtime's calls: device detection from the environment, the simulated headset's description,
// tracking with recentring, rendering configuration, frame pacing and the projection matrix.
#include "hmd/runtime/hmd_runtime.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hmd/runtime/hmd_device.h"

using namespace hmdsim;

namespace {

// The test behaviour selected by the words after "simulated".
struct DeviceSettings {
  bool Present = false;
  bool RightFirst = false;
  bool FailCreate = false;
  bool FailTracking = false;
  bool FailRendering = false;
  // Recommended eye textures at a quarter of the panel's density, for long runs on a software
  // renderer (the soak test) where full-size eyes would make every frame slow.
  bool LowRes = false;
};

std::string Trim(const std::string& S) {
  const auto First = S.find_first_not_of(" \t");
  if (First == std::string::npos) return {};
  const auto Last = S.find_last_not_of(" \t");
  return S.substr(First, Last - First + 1);
}

// HMD_RUNTIME_DEVICE: "simulated" followed by comma-separated switches; anything else is no device.
DeviceSettings ReadSettings() {
  DeviceSettings Result;
  const char* Value = std::getenv("HMD_RUNTIME_DEVICE");
  if (!Value) return Result;
  const std::string Text = Value;
  std::vector<std::string> Words;
  std::size_t Start = 0;
  while (Start <= Text.size()) {
    std::size_t Comma = Text.find(',', Start);
    if (Comma == std::string::npos) Comma = Text.size();
    Words.push_back(Trim(Text.substr(Start, Comma - Start)));
    Start = Comma + 1;
  }
  if (Words.empty() || Words[0] != "simulated") return Result;
  Result.Present = true;
  for (std::size_t I = 1; I < Words.size(); ++I) {
    if (Words[I] == "right-first") Result.RightFirst = true;
    if (Words[I] == "fail-create") Result.FailCreate = true;
    if (Words[I] == "fail-tracking") Result.FailTracking = true;
    if (Words[I] == "fail-rendering") Result.FailRendering = true;
    if (Words[I] == "low-res") Result.LowRes = true;
  }
  return Result;
}

// --- Small rotation helpers (quaternions x, y, z, w; Hamilton product) ---

hmdQuatf QuatMul(const hmdQuatf& A, const hmdQuatf& B) {
  return {
      A.w * B.x + A.x * B.w + A.y * B.z - A.z * B.y, A.w * B.y - A.x * B.z + A.y * B.w + A.z * B.x,
      A.w * B.z + A.x * B.y - A.y * B.x + A.z * B.w, A.w * B.w - A.x * B.x - A.y * B.y - A.z * B.z};
}

// A unit quaternion; a zero, infinite or NaN one (an unset pose) becomes the identity.
hmdQuatf QuatNormalized(const hmdQuatf& Q) {
  const double Len =
      std::sqrt(double(Q.x) * Q.x + double(Q.y) * Q.y + double(Q.z) * Q.z + double(Q.w) * Q.w);
  if (!(Len > 1e-12) || !std::isfinite(Len)) return {0, 0, 0, 1};
  return {float(Q.x / Len), float(Q.y / Len), float(Q.z / Len), float(Q.w / Len)};
}

hmdQuatf QuatConjugate(const hmdQuatf& Q) {
  return {-Q.x, -Q.y, -Q.z, Q.w};
}

hmdVector3f QuatRotate(const hmdQuatf& Q, const hmdVector3f& V) {
  const hmdQuatf P{V.x, V.y, V.z, 0};
  const hmdQuatf R = QuatMul(QuatMul(Q, P), QuatConjugate(Q));
  return {R.x, R.y, R.z};
}

hmdQuatf QuatAboutY(float AAngle) {
  return {0, std::sin(AAngle / 2), 0, std::cos(AAngle / 2)};
}

// Heading of an orientation: the angle about +Y that turns -Z towards where the head looks.
float YawOf(const hmdQuatf& Q) {
  const hmdVector3f Forward = QuatRotate(Q, {0, 0, -1});
  if (std::fabs(Forward.x) < 1e-6f && std::fabs(Forward.z) < 1e-6f) {
    // Looking straight up or down: take the heading from the top of the head instead.
    const hmdVector3f Up = QuatRotate(Q, {0, 1, 0});
    return Forward.y < 0 ? std::atan2(-Up.x, -Up.z) : std::atan2(Up.x, Up.z);
  }
  return std::atan2(-Forward.x, -Forward.z);
}

// Column-major 3x3 rotation matrix of a unit quaternion.
void QuatToMatrix3(const hmdQuatf& Q, float AOut[9]) {
  const float X = Q.x, Y = Q.y, Z = Q.z, W = Q.w;
  AOut[0] = 1 - 2 * (Y * Y + Z * Z);
  AOut[1] = 2 * (X * Y + Z * W);
  AOut[2] = 2 * (X * Z - Y * W);
  AOut[3] = 2 * (X * Y - Z * W);
  AOut[4] = 1 - 2 * (X * X + Z * Z);
  AOut[5] = 2 * (Y * Z + X * W);
  AOut[6] = 2 * (X * Z + Y * W);
  AOut[7] = 2 * (Y * Z - X * W);
  AOut[8] = 1 - 2 * (X * X + Y * Y);
}

float ClampTan(float ATan, float AMax) {
  if (!(ATan >= 0)) return 0;  // negative or NaN
  return std::min(ATan, AMax);
}

double NowSeconds() {
  return double(SDL_GetPerformanceCounter()) / double(SDL_GetPerformanceFrequency());
}

constexpr unsigned kSettableHmdCaps = hmdHmdCap_DisplayOff | hmdHmdCap_LowPersistence |
                                      hmdHmdCap_DynamicPrediction | hmdHmdCap_NoVSync |
                                      hmdHmdCap_NoMirrorToWindow;

// One open simulated headset; its handle is the address of its description.
struct SimDevice {
  hmdDesc Desc{};
  std::string DisplayName;
  DeviceSettings Settings;
  unsigned EnabledCaps = 0;
  void* Window = nullptr;

  bool Tracking = false;
  unsigned TrackingCaps = 0;
  hmdPosef RawHead{{0, 0, 0, 1}, {0, 0, 0}};  // the simulated user's head, sensor frame
  float OriginYaw = 0;
  hmdVector3f OriginPosition{0, 0, 0};

  bool RenderingConfigured = false;
  hmdRenderAPIConfig Config{};
  unsigned DistortionCaps = 0;
  hmdFovPort EyeFov[2]{};

  bool NoticeShown = true;
  unsigned FrameIndex = 0;
  double LastPresent = 0;
  DistortionRenderer Renderer;
};

struct RuntimeState {
  std::vector<std::unique_ptr<SimDevice>> Devices;
};

RuntimeState& State() {
  static RuntimeState S;
  return S;
}

// The open device behind a handle; null for a null, stale or foreign handle.
SimDevice* DeviceOf(hmdHandle AHandle) {
  if (!AHandle) return nullptr;
  for (auto& D : State().Devices)
    if (&D->Desc == AHandle) return D.get();
  return nullptr;
}

// The monitor the simulated panel is: the last display SDL reports (a headset is an extra monitor
// added after the desktop's). Its name is part of the display device name.
std::string PanelMonitorName(hmdVector2i& APosition, int& ADisplayId) {
  APosition = {0, 0};
  ADisplayId = -1;
  if (!SDL_WasInit(SDL_INIT_VIDEO)) return {};
  const int Count = SDL_GetNumVideoDisplays();
  if (Count <= 0) return {};
  ADisplayId = Count - 1;
  SDL_Rect Bounds;
  if (SDL_GetDisplayBounds(ADisplayId, &Bounds) == 0) APosition = {Bounds.x, Bounds.y};
  const char* Name = SDL_GetDisplayName(ADisplayId);
  return Name ? Name : "";
}

hmdHandle OpenSimulated(hmdHmdType AType, const DeviceSettings& ASettings) {
  if (ASettings.FailCreate) return nullptr;
  auto Device = std::make_unique<SimDevice>();
  Device->Settings = ASettings;
  hmdDesc& D = Device->Desc;
  D.Type = AType;
  D.ProductName = "Quenlor Simulated HMD";
  D.Manufacturer = "Quenlor";
  D.VendorId = 0x7153;
  D.ProductId = 0x0004;
  std::strncpy(D.SerialNumber, "SIM00000001", sizeof(D.SerialNumber) - 1);
  D.FirmwareMajor = 0;
  D.FirmwareMinor = 4;
  D.HmdCaps = hmdHmdCap_Present | hmdHmdCap_Available | hmdHmdCap_ExtendDesktop | kSettableHmdCaps;
  D.TrackingCaps = hmdTrackingCap_Orientation | hmdTrackingCap_MagYawCorrection |
                   hmdTrackingCap_Position | hmdTrackingCap_Idle;
  D.DistortionCaps = hmdDistortionCap_Chromatic | hmdDistortionCap_TimeWarp |
                     hmdDistortionCap_Vignette | hmdDistortionCap_NoRestore |
                     hmdDistortionCap_FlipInput | hmdDistortionCap_SRGB |
                     hmdDistortionCap_Overdrive | hmdDistortionCap_HqDistortion |
                     hmdDistortionCap_ProfileNoTimewarpSpinWaits;
  // The widest view the panel shows through the lens: to the panel's edges, up to the aperture.
  const float MaxOuter = TanAtLensDistance(kLensCentreFromOuterEdge / kLensUnitPixels);
  const float MaxInner =
      TanAtLensDistance((kEyePanelWidth - kLensCentreFromOuterEdge) / kLensUnitPixels);
  const float MaxVertical = TanAtLensDistance(1.0f);
  D.DefaultEyeFov[hmdEye_Left] = {kUpTan, kDownTan, kOuterTan, kInnerTan};
  D.DefaultEyeFov[hmdEye_Right] = {kUpTan, kDownTan, kInnerTan, kOuterTan};
  D.MaxEyeFov[hmdEye_Left] = {MaxVertical, MaxVertical, MaxOuter, MaxInner};
  D.MaxEyeFov[hmdEye_Right] = {MaxVertical, MaxVertical, MaxInner, MaxOuter};
  D.EyeRenderOrder[0] = ASettings.RightFirst ? hmdEye_Right : hmdEye_Left;
  D.EyeRenderOrder[1] = ASettings.RightFirst ? hmdEye_Left : hmdEye_Right;
  D.Resolution = {kPanelWidth, kPanelHeight};
  const std::string Monitor = PanelMonitorName(D.WindowsPos, D.DisplayId);
  Device->DisplayName =
      Monitor.empty() ? "Quenlor Simulated HMD" : Monitor + " (Quenlor Simulated HMD)";
  D.DisplayDeviceName = Device->DisplayName.c_str();
  Device->EnabledCaps = 0;
  hmdHandle Handle = &Device->Desc;
  State().Devices.push_back(std::move(Device));
  return Handle;
}

// The head pose after recentring: position relative to the origin, yaw relative to its heading.
hmdPosef TrackedHead(const SimDevice& ADevice) {
  hmdPosef Pose{{0, 0, 0, 1}, {0, 0, 0}};
  if (!ADevice.Tracking) return Pose;
  const hmdQuatf Unyaw = QuatAboutY(-ADevice.OriginYaw);
  if (ADevice.TrackingCaps & hmdTrackingCap_Orientation)
    Pose.Orientation = QuatNormalized(QuatMul(Unyaw, QuatNormalized(ADevice.RawHead.Orientation)));
  if (ADevice.TrackingCaps & hmdTrackingCap_Position) {
    const hmdVector3f& P = ADevice.RawHead.Position;
    const hmdVector3f& O = ADevice.OriginPosition;
    Pose.Position = QuatRotate(Unyaw, {P.x - O.x, P.y - O.y, P.z - O.z});
  }
  return Pose;
}

}  // namespace

extern "C" {

hmdBool hmd_Initialize(void) {
  return hmdTrue;
}

void hmd_Shutdown(void) {
  // GL objects of devices still open go with their contexts; only the memory is released here.
  State().Devices.clear();
}

int hmd_Detect(void) {
  return ReadSettings().Present ? 1 : 0;
}

hmdHandle hmd_Create(int index) {
  const DeviceSettings Settings = ReadSettings();
  if (!Settings.Present || index != 0) return nullptr;
  return OpenSimulated(hmdHmd_DK2, Settings);
}

hmdHandle hmd_CreateDebug(hmdHmdType type) {
  if (type != hmdHmd_DK1 && type != hmdHmd_DKHD && type != hmdHmd_DK2) return nullptr;
  // A debug device needs no hardware; the test switches still apply to it.
  DeviceSettings Settings = ReadSettings();
  Settings.Present = true;
  return OpenSimulated(type, Settings);
}

void hmd_Destroy(hmdHandle hmd) {
  auto& Devices = State().Devices;
  for (auto It = Devices.begin(); It != Devices.end(); ++It) {
    if (&(*It)->Desc == hmd) {
      Devices.erase(It);
      return;
    }
  }
}

hmdBool hmd_AttachToWindow(hmdHandle hmd, void* window, const hmdRecti*, const hmdRecti*) {
  SimDevice* D = DeviceOf(hmd);
  if (!D || !window) return hmdFalse;
  D->Window = window;
  return hmdTrue;
}

unsigned int hmd_GetEnabledCaps(hmdHandle hmd) {
  const SimDevice* D = DeviceOf(hmd);
  if (!D) return 0;
  return D->EnabledCaps | hmdHmdCap_Present | hmdHmdCap_Available | hmdHmdCap_ExtendDesktop;
}

void hmd_SetEnabledCaps(hmdHandle hmd, unsigned int hmdCaps) {
  if (SimDevice* D = DeviceOf(hmd)) D->EnabledCaps = hmdCaps & kSettableHmdCaps;
}

hmdBool hmd_ConfigureTracking(hmdHandle hmd, unsigned int supportedTrackingCaps,
                              unsigned int requiredTrackingCaps) {
  SimDevice* D = DeviceOf(hmd);
  if (!D) return hmdFalse;
  if (D->Settings.FailTracking || (requiredTrackingCaps & ~D->Desc.TrackingCaps) != 0) {
    D->Tracking = false;
    return hmdFalse;
  }
  D->TrackingCaps = (supportedTrackingCaps | requiredTrackingCaps) & D->Desc.TrackingCaps;
  D->Tracking = D->TrackingCaps != 0;
  return hmdTrue;
}

void hmd_RecenterPose(hmdHandle hmd) {
  SimDevice* D = DeviceOf(hmd);
  if (!D) return;
  // Yaw and position only: pitch and roll stay relative to gravity.
  D->OriginYaw = YawOf(QuatNormalized(D->RawHead.Orientation));
  D->OriginPosition = D->RawHead.Position;
}

void hmd_SetSimulatedHeadPose(hmdHandle hmd, hmdPosef headPose) {
  if (SimDevice* D = DeviceOf(hmd)) D->RawHead = headPose;
}

hmdSizei hmd_GetFovTextureSize(hmdHandle hmd, hmdEyeType eye, hmdFovPort fov,
                               float pixelsPerDisplayPixel) {
  (void)eye;  // both lenses are alike, mirrored
  const SimDevice* D = DeviceOf(hmd);
  if (!D) return {0, 0};
  const double Density = double(pixelsPerDisplayPixel) * (D->Settings.LowRes ? 0.25 : 1.0);
  auto Side = [&](float ATanA, float ATanB) {
    const double Pixels = (double(ClampTan(ATanA, 1e3f)) + double(ClampTan(ATanB, 1e3f))) *
                          kPixelsPerTanAtCentre * Density;
    // A hair of tolerance so that float tangents do not round a whole pixel up.
    const double Size = std::ceil(Pixels - 1e-3);
    if (!(Size >= 1)) return 1;
    return int(std::min(Size, 16384.0));
  };
  return {Side(fov.LeftTan, fov.RightTan), Side(fov.UpTan, fov.DownTan)};
}

hmdBool hmd_ConfigureRendering(hmdHandle hmd, const hmdRenderAPIConfig* apiConfig,
                               unsigned int distortionCaps, const hmdFovPort eyeFovIn[2],
                               hmdEyeRenderDesc eyeRenderDescOut[2]) {
  SimDevice* D = DeviceOf(hmd);
  if (!D || !apiConfig || !eyeRenderDescOut) return hmdFalse;
  if (apiConfig->Header.API != hmdRenderAPI_OpenGL || D->Settings.FailRendering) {
    D->RenderingConfigured = false;
    return hmdFalse;
  }
  D->Config = *apiConfig;
  D->DistortionCaps = distortionCaps & D->Desc.DistortionCaps;
  const int W = std::max(apiConfig->Header.RTSize.w, 0);
  const int H = std::max(apiConfig->Header.RTSize.h, 0);
  for (int E = 0; E < 2; ++E) {
    const hmdFovPort& In = eyeFovIn ? eyeFovIn[E] : D->Desc.DefaultEyeFov[E];
    const hmdFovPort& Max = D->Desc.MaxEyeFov[E];
    hmdFovPort Fov{ClampTan(In.UpTan, Max.UpTan), ClampTan(In.DownTan, Max.DownTan),
                   ClampTan(In.LeftTan, Max.LeftTan), ClampTan(In.RightTan, Max.RightTan)};
    D->EyeFov[E] = Fov;
    hmdEyeRenderDesc& Out = eyeRenderDescOut[E];
    Out.Eye = hmdEyeType(E);
    Out.Fov = Fov;
    const int Half = W / 2;
    Out.DistortedViewport =
        E == hmdEye_Left ? hmdRecti{{0, 0}, {Half, H}} : hmdRecti{{Half, 0}, {W - Half, H}};
    Out.PixelsPerTanAngleAtCenter = {kPixelsPerTanAtCentre * float(W) / kPanelWidth,
                                     kPixelsPerTanAtCentre * float(H) / kPanelHeight};
    // The eye sits half the interpupillary distance to its side of the head's centre.
    Out.ViewAdjust = {E == hmdEye_Left ? -kIPD / 2 : kIPD / 2, 0, 0};
  }
  D->RenderingConfigured = true;
  return hmdTrue;
}

hmdFrameTiming hmd_BeginFrame(hmdHandle hmd, unsigned int frameIndex) {
  hmdFrameTiming Timing{};
  SimDevice* D = DeviceOf(hmd);
  if (!D) return Timing;
  D->FrameIndex = frameIndex != 0 ? frameIndex : D->FrameIndex + 1;
  const double Now = NowSeconds();
  const double Period = 1.0 / kRefreshHz;
  Timing.DeltaSeconds = D->LastPresent > 0 ? float(Now - D->LastPresent) : float(Period);
  Timing.ThisFrameSeconds = Now;
  Timing.NextFrameSeconds = Now + Period;
  Timing.TimewarpPointSeconds = Now + Period * 0.75;
  Timing.ScanoutMidpointSeconds = Now + Period * 1.5;
  Timing.EyeScanoutSeconds[0] = Now + Period * 1.25;
  Timing.EyeScanoutSeconds[1] = Now + Period * 1.75;
  return Timing;
}

hmdPosef hmd_GetEyePose(hmdHandle hmd, hmdEyeType eye) {
  (void)eye;  // both eyes see the same head; the eye offset is the description's ViewAdjust
  const SimDevice* D = DeviceOf(hmd);
  if (!D) return {{0, 0, 0, 1}, {0, 0, 0}};
  return TrackedHead(*D);
}

void hmd_EndFrame(hmdHandle hmd, const hmdPosef renderPose[2], const hmdTexture eyeTexture[2]) {
  SimDevice* D = DeviceOf(hmd);
  if (!D || !D->RenderingConfigured) return;
  const unsigned Caps = D->DistortionCaps;
  FrameDraw Frame{};
  Frame.WindowWidth = std::max(D->Config.Header.RTSize.w, 0);
  Frame.WindowHeight = std::max(D->Config.Header.RTSize.h, 0);
  Frame.Chromatic = Caps & hmdDistortionCap_Chromatic;
  Frame.Vignette = Caps & hmdDistortionCap_Vignette;
  Frame.FlipInput = Caps & hmdDistortionCap_FlipInput;
  Frame.HqDistortion = Caps & hmdDistortionCap_HqDistortion;
  Frame.SRGB = Caps & hmdDistortionCap_SRGB;
  Frame.Restore = !(Caps & hmdDistortionCap_NoRestore);
  Frame.DisplayOff = D->EnabledCaps & hmdHmdCap_DisplayOff;
  Frame.Notice = D->NoticeShown;
  const hmdPosef Head = TrackedHead(*D);
  const int Half = Frame.WindowWidth / 2;
  for (int E = 0; E < 2; ++E) {
    EyeDraw& Eye = Frame.Eyes[E];
    Eye.Fov = D->EyeFov[E];
    Eye.LensCentreX = LensCentreX(hmdEyeType(E));
    Eye.Viewport[0] = E == hmdEye_Left ? 0 : Half;
    Eye.Viewport[1] = 0;
    Eye.Viewport[2] = E == hmdEye_Left ? Half : Frame.WindowWidth - Half;
    Eye.Viewport[3] = Frame.WindowHeight;
    // Time warp turns each eye's picture by the head's turn since it was drawn.
    hmdQuatf Delta{0, 0, 0, 1};
    if ((Caps & hmdDistortionCap_TimeWarp) && renderPose)
      Delta = QuatMul(QuatConjugate(QuatNormalized(renderPose[E].Orientation)),
                      QuatNormalized(Head.Orientation));
    QuatToMatrix3(QuatNormalized(Delta), Eye.TimeWarp);
    Eye.Texture = 0;
    if (!eyeTexture) continue;
    const hmdTextureHeader& T = eyeTexture[E].Header;
    const uintptr_t Name = eyeTexture[E].PlatformData[0];
    if (T.API != hmdRenderAPI_OpenGL || T.TextureSize.w <= 0 || T.TextureSize.h <= 0 ||
        T.RenderViewport.Size.w <= 0 || T.RenderViewport.Size.h <= 0 || Name == 0 ||
        Name > 0xFFFFFFFFu)
      continue;
    Eye.Texture = unsigned(Name);
    Eye.TexRect[0] = float(T.RenderViewport.Pos.x) / float(T.TextureSize.w);
    Eye.TexRect[1] = float(T.RenderViewport.Pos.y) / float(T.TextureSize.h);
    Eye.TexRect[2] = float(T.RenderViewport.Size.w) / float(T.TextureSize.w);
    Eye.TexRect[3] = float(T.RenderViewport.Size.h) / float(T.TextureSize.h);
  }
  if (!D->Renderer.Draw(Frame)) return;
  SDL_Window* Window = reinterpret_cast<SDL_Window*>(D->Config.PlatformData[0]);
  if (!Window) Window = static_cast<SDL_Window*>(D->Window);
  if (!Window) Window = SDL_GL_GetCurrentWindow();
  if (Window) SDL_GL_SwapWindow(Window);
  // Pace the frames to the panel's refresh, as a vsynced swap to the headset would.
  const double Period = 1.0 / kRefreshHz;
  double Now = NowSeconds();
  if (!(D->EnabledCaps & hmdHmdCap_NoVSync) && D->LastPresent > 0 &&
      Now - D->LastPresent < Period) {
    SDL_Delay(Uint32((Period - (Now - D->LastPresent)) * 1000.0));
    Now = NowSeconds();
  }
  D->LastPresent = Now;
}

hmdBool hmd_GetHSWDisplayState(hmdHandle hmd) {
  const SimDevice* D = DeviceOf(hmd);
  return D && D->NoticeShown ? hmdTrue : hmdFalse;
}

hmdBool hmd_DismissHSWDisplay(hmdHandle hmd) {
  SimDevice* D = DeviceOf(hmd);
  if (!D || !D->NoticeShown) return hmdFalse;
  D->NoticeShown = false;
  return hmdTrue;
}

float hmd_GetFloat(hmdHandle hmd, const char* propertyName, float defaultVal) {
  if (!DeviceOf(hmd) || !propertyName) return defaultVal;
  if (std::strcmp(propertyName, "EyeHeight") == 0) return kEyeHeight;
  if (std::strcmp(propertyName, "IPD") == 0) return kIPD;
  if (std::strcmp(propertyName, "PlayerHeight") == 0) return kPlayerHeight;
  return defaultVal;
}

hmdMatrix4f hmdMatrix4f_Projection(hmdFovPort fov, float znear, float zfar, hmdBool rightHanded) {
  // A direction with tangents (tx, ty) lands at NDC x = (2 tx - (R - L)) / (L + R), likewise y;
  // depth znear..zfar maps to -1..1. Right-handed: the eye looks along -Z, so w = -z.
  const float Hand = rightHanded ? -1.0f : 1.0f;
  const float SumX = fov.LeftTan + fov.RightTan;
  const float SumY = fov.UpTan + fov.DownTan;
  hmdMatrix4f M{};
  M.M[0][0] = 2.0f / SumX;
  M.M[0][2] = -Hand * (fov.RightTan - fov.LeftTan) / SumX;
  M.M[1][1] = 2.0f / SumY;
  M.M[1][2] = -Hand * (fov.UpTan - fov.DownTan) / SumY;
  M.M[2][2] = Hand * (zfar + znear) / (zfar - znear);
  M.M[2][3] = -2.0f * zfar * znear / (zfar - znear);
  M.M[3][2] = Hand;
  return M;
}

}  // extern "C"
