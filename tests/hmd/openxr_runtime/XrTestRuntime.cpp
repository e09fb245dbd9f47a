// A small OpenXR runtime for tests, reached through the Khronos loader (XR_RUNTIME_JSON names its
// manifest): one head-mounted system with two 320x288 eyes, asymmetric fields of view and a
// scripted head; XR_KHR_opengl_enable with the Xlib binding, swapchains of GL textures made in the
// application's context (which OpenXR requires to be current for those calls); it records what
// is submitted and reads the eye images back. QUENLOR_XRTEST holds comma-separated switches:
// no-hmd, mono (no stereo views), fail-session, fail-swapchain, unorm (no sRGB formats),
// untracked (views located without a valid orientation or position, their poses garbage),
// uneven-eyes (the right eye recommends 352x256, the left keeps 320x288), gl-min=MAJOR.MINOR,
// lose-after=N and exit-after=N (frames); QUENLOR_XRTEST_LOG names a file for a line per event.
// Depends on the OpenXR headers and GL/GLX through libepoxy.
#include <epoxy/gl.h>
#include <epoxy/glx.h>
#define XR_USE_PLATFORM_XLIB
#define XR_USE_GRAPHICS_API_OPENGL
#include <openxr/openxr.h>
#include <openxr/openxr_platform.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/hmd/openxr_runtime/XrTestRuntime.h"

#define XRTEST_EXPORT extern "C" __attribute__((visibility("default")))

// The loader's negotiation records, as the loader's runtime interface (version 1) lays them out.
enum XrLoaderInterfaceStructs {
  XR_LOADER_INTERFACE_STRUCT_UNINTIALIZED = 0,
  XR_LOADER_INTERFACE_STRUCT_LOADER_INFO,
  XR_LOADER_INTERFACE_STRUCT_API_LAYER_REQUEST,
  XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST,
};
struct XrNegotiateLoaderInfo {
  XrLoaderInterfaceStructs structType;
  uint32_t structVersion;
  size_t structSize;
  uint32_t minInterfaceVersion;
  uint32_t maxInterfaceVersion;
  XrVersion minApiVersion;
  XrVersion maxApiVersion;
};
struct XrNegotiateRuntimeRequest {
  XrLoaderInterfaceStructs structType;
  uint32_t structVersion;
  size_t structSize;
  uint32_t runtimeInterfaceVersion;
  XrVersion runtimeApiVersion;
  PFN_xrGetInstanceProcAddr getInstanceProcAddr;
};

namespace {

constexpr XrSystemId kSystemId = 0x51;
constexpr int kEyeWidth = 320;
constexpr int kEyeHeight = 288;
// The right eye's recommended size with uneven-eyes: wider but lower than the left.
constexpr int kUnevenRightWidth = 352;
constexpr int kUnevenRightHeight = 256;
constexpr float kIpd = 0.064f;
constexpr XrTime kFramePeriod = 11111111;  // 90 Hz in nanoseconds
// Left eye's angles; the right eye mirrors them (wider towards the nose on each side).
constexpr XrFovf kLeftFov = {-0.90f, 0.70f, 0.80f, -0.85f};
constexpr XrFovf kRightFov = {-0.70f, 0.90f, 0.80f, -0.85f};
constexpr uint32_t kImagesPerSwapchain = 3;

// ---- settings

struct TSettings {
  bool NoHmd = false, Mono = false, FailSession = false, FailSwapchain = false, Unorm = false,
       Untracked = false, UnevenEyes = false;
  int GlMinMajor = 3, GlMinMinor = 3;
  long LoseAfter = -1, ExitAfter = -1;
};

TSettings ReadSettings() {
  TSettings S;
  const char* Env = std::getenv("QUENLOR_XRTEST");
  std::string Text = Env ? Env : "";
  std::size_t Start = 0;
  while (Start <= Text.size()) {
    std::size_t End = Text.find(',', Start);
    if (End == std::string::npos) End = Text.size();
    const std::string Word = Text.substr(Start, End - Start);
    if (Word == "no-hmd") S.NoHmd = true;
    if (Word == "mono") S.Mono = true;
    if (Word == "fail-session") S.FailSession = true;
    if (Word == "fail-swapchain") S.FailSwapchain = true;
    if (Word == "unorm") S.Unorm = true;
    if (Word == "untracked") S.Untracked = true;
    if (Word == "uneven-eyes") S.UnevenEyes = true;
    if (Word.rfind("gl-min=", 0) == 0)
      std::sscanf(Word.c_str() + 7, "%d.%d", &S.GlMinMajor, &S.GlMinMinor);
    if (Word.rfind("lose-after=", 0) == 0) S.LoseAfter = std::atol(Word.c_str() + 11);
    if (Word.rfind("exit-after=", 0) == 0) S.ExitAfter = std::atol(Word.c_str() + 11);
    Start = End + 1;
  }
  return S;
}

// ---- pose arithmetic (unit quaternions, x y z w)

XrQuaternionf Mul(const XrQuaternionf& A, const XrQuaternionf& B) {
  return {
      A.w * B.x + A.x * B.w + A.y * B.z - A.z * B.y, A.w * B.y - A.x * B.z + A.y * B.w + A.z * B.x,
      A.w * B.z + A.x * B.y - A.y * B.x + A.z * B.w, A.w * B.w - A.x * B.x - A.y * B.y - A.z * B.z};
}
XrQuaternionf Conjugate(const XrQuaternionf& Q) {
  return {-Q.x, -Q.y, -Q.z, Q.w};
}
XrVector3f Rotate(const XrQuaternionf& Q, const XrVector3f& V) {
  const XrQuaternionf P = Mul(Mul(Q, {V.x, V.y, V.z, 0.0f}), Conjugate(Q));
  return {P.x, P.y, P.z};
}
XrVector3f Add(const XrVector3f& A, const XrVector3f& B) {
  return {A.x + B.x, A.y + B.y, A.z + B.z};
}
// A then B: B is given in A's frame.
XrPosef Compose(const XrPosef& A, const XrPosef& B) {
  return {Mul(A.orientation, B.orientation), Add(A.position, Rotate(A.orientation, B.position))};
}
XrPosef Inverse(const XrPosef& P) {
  const XrQuaternionf C = Conjugate(P.orientation);
  const XrVector3f T = Rotate(C, P.position);
  return {C, {-T.x, -T.y, -T.z}};
}
bool IsUnit(const XrQuaternionf& Q) {
  const float N = Q.x * Q.x + Q.y * Q.y + Q.z * Q.z + Q.w * Q.w;
  return std::fabs(N - 1.0f) < 1e-3f;
}

// ---- objects

enum class TKind { Instance, Session, Space, Swapchain };

struct TSwapchain {
  uint64_t Session = 0;
  int64_t Format = 0;
  int Width = 0, Height = 0;
  GLuint Images[kImagesPerSwapchain] = {};
  std::deque<uint32_t> Acquired;  // acquisition order
  bool Waited = false;
  int LastReleased = -1;
  uint32_t Next = 0;
};

struct TSpace {
  uint64_t Session = 0;
  XrReferenceSpaceType Type = XR_REFERENCE_SPACE_TYPE_LOCAL;
  XrPosef Pose{};  // in the reference space's natural origin
};

struct TSession {
  uint64_t Instance = 0;
  XrSessionState State = XR_SESSION_STATE_UNKNOWN;
  bool Running = false;
  bool ExitRequested = false;
  bool Lost = false;
  bool FrameWaited = false, FrameBegun = false;
  XrTime Time = 0;
  long FramesEnded = 0;
  Display* XDisplay = nullptr;
  GLXContext Context = nullptr;
};

struct TInstance {
  bool OpenGLEnabled = false;
  bool SystemAsked = false;
  bool RequirementsAsked = false;
  std::deque<XrEventDataBuffer> Events;
};

struct TRuntime {
  std::recursive_mutex Lock;
  TSettings Settings = ReadSettings();
  uint64_t NextHandle = 0x1000;
  std::map<uint64_t, TKind> Kinds;
  std::map<uint64_t, TInstance> Instances;
  std::map<uint64_t, TSession> Sessions;
  std::map<uint64_t, TSpace> Spaces;
  std::map<uint64_t, TSwapchain> Swapchains;
  XrPosef Head{{0, 0, 0, 1}, {0, 0, 0}};
  TXrTestRecord Record{};
  std::vector<uint8_t> EyeImage[2];
  FILE* Log = nullptr;
  ~TRuntime() {
    if (Log) std::fclose(Log);
  }
};

// The runtime's state lives as long as the library: the loader unloads it with its last instance.
TRuntime& R() {
  static TRuntime Runtime;
  return Runtime;
}

void Log(const char* AFormat, ...) __attribute__((format(printf, 1, 2)));
void Log(const char* AFormat, ...) {
  TRuntime& Rt = R();
  if (!Rt.Log) {
    const char* Path = std::getenv("QUENLOR_XRTEST_LOG");
    if (!Path || !*Path) return;
    Rt.Log = std::fopen(Path, "a");
    if (!Rt.Log) return;
  }
  va_list Args;
  va_start(Args, AFormat);
  std::vfprintf(Rt.Log, AFormat, Args);
  va_end(Args);
  std::fputc('\n', Rt.Log);
  std::fflush(Rt.Log);
}

uint64_t NewHandle(TKind AKind) {
  TRuntime& Rt = R();
  const uint64_t H = Rt.NextHandle;
  Rt.NextHandle += 0x10;
  Rt.Kinds[H] = AKind;
  return H;
}

template <typename T>
T* Find(std::map<uint64_t, T>& AMap, uint64_t AHandle) {
  auto It = AMap.find(AHandle);
  return It == AMap.end() ? nullptr : &It->second;
}

uint64_t H(XrInstance A) {
  return reinterpret_cast<uint64_t>(A);
}
uint64_t H(XrSession A) {
  return reinterpret_cast<uint64_t>(A);
}
uint64_t H(XrSpace A) {
  return reinterpret_cast<uint64_t>(A);
}
uint64_t H(XrSwapchain A) {
  return reinterpret_cast<uint64_t>(A);
}
template <typename T>
T As(uint64_t AHandle) {
  return reinterpret_cast<T>(AHandle);
}

// The two-call idiom: the count always, the items when there is room for all of them.
template <typename T, typename TFill>
XrResult TwoCall(uint32_t ACapacity, uint32_t* ACount, T* AItems, uint32_t ATotal, TFill AFill) {
  if (!ACount) return XR_ERROR_VALIDATION_FAILURE;
  *ACount = ATotal;
  if (ACapacity == 0) return XR_SUCCESS;
  if (ACapacity < ATotal) return XR_ERROR_SIZE_INSUFFICIENT;
  if (!AItems) return XR_ERROR_VALIDATION_FAILURE;
  for (uint32_t I = 0; I < ATotal; ++I) AFill(AItems[I], I);
  return XR_SUCCESS;
}

void QueueState(TSession& S, uint64_t ASession, XrSessionState AState) {
  TRuntime& Rt = R();
  S.State = AState;
  TInstance* I = Find(Rt.Instances, S.Instance);
  if (!I) return;
  XrEventDataBuffer Buffer{};
  auto* E = reinterpret_cast<XrEventDataSessionStateChanged*>(&Buffer);
  E->type = XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED;
  E->session = As<XrSession>(ASession);
  E->state = AState;
  E->time = S.Time;
  I->Events.push_back(Buffer);
  if (Rt.Record.StateCount < 32) Rt.Record.States[Rt.Record.StateCount++] = AState;
  Log("state %d", int(AState));
}

// Leaves the running states towards STOPPING (the application then calls xrEndSession).
void QueueStop(TSession& S, uint64_t ASession) {
  if (S.State == XR_SESSION_STATE_FOCUSED) QueueState(S, ASession, XR_SESSION_STATE_VISIBLE);
  if (S.State == XR_SESSION_STATE_VISIBLE) QueueState(S, ASession, XR_SESSION_STATE_SYNCHRONIZED);
  if (S.State == XR_SESSION_STATE_SYNCHRONIZED || S.State == XR_SESSION_STATE_READY)
    QueueState(S, ASession, XR_SESSION_STATE_STOPPING);
}

void Lose(TSession& S, uint64_t ASession) {
  if (S.Lost) return;
  S.Lost = true;
  QueueState(S, ASession, XR_SESSION_STATE_LOSS_PENDING);
}

// The head's eye in the tracking origin.
XrPosef EyePose(int AEye) {
  const XrPosef Offset{{0, 0, 0, 1}, {AEye == 0 ? -kIpd / 2 : kIpd / 2, 0, 0}};
  return Compose(R().Head, Offset);
}

// A reference space's pose in the tracking origin (VIEW follows the head).
XrPosef SpaceInOrigin(const TSpace& ASpace) {
  if (ASpace.Type == XR_REFERENCE_SPACE_TYPE_VIEW) return Compose(R().Head, ASpace.Pose);
  return ASpace.Pose;
}

// The current GL context must be the session's (OpenXR's rule for the GL calls).
bool ContextCurrent(const TSession& S) {
  return glXGetCurrentContext() == S.Context;
}

// Reads one swapchain image's rectangle back as RGBA, bottom row first.
void ReadBack(const TSwapchain& AChain, GLuint ATexture, const XrRect2Di& ARect,
              std::vector<uint8_t>& AOut) {
  std::vector<uint8_t> All(std::size_t(AChain.Width) * AChain.Height * 4);
  GLint Bound = 0, Alignment = 4, PackBuffer = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &Bound);
  glGetIntegerv(GL_PACK_ALIGNMENT, &Alignment);
  glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &PackBuffer);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glBindTexture(GL_TEXTURE_2D, ATexture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, All.data());
  glBindTexture(GL_TEXTURE_2D, GLuint(Bound));
  glPixelStorei(GL_PACK_ALIGNMENT, Alignment);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, GLuint(PackBuffer));
  AOut.assign(std::size_t(ARect.extent.width) * ARect.extent.height * 4, 0);
  for (int Y = 0; Y < ARect.extent.height; ++Y)
    std::memcpy(AOut.data() + std::size_t(Y) * ARect.extent.width * 4,
                All.data() + (std::size_t(Y + ARect.offset.y) * AChain.Width + ARect.offset.x) * 4,
                std::size_t(ARect.extent.width) * 4);
}

#define LOCK std::lock_guard<std::recursive_mutex> Guard(R().Lock)

// ---- the calls

XRAPI_ATTR XrResult XRAPI_CALL GetInstanceProcAddr(XrInstance, const char*, PFN_xrVoidFunction*);

XRAPI_ATTR XrResult XRAPI_CALL EnumerateInstanceExtensionProperties(const char* ALayer,
                                                                    uint32_t ACapacity,
                                                                    uint32_t* ACount,
                                                                    XrExtensionProperties* AProps) {
  if (ALayer) return XR_ERROR_API_LAYER_NOT_PRESENT;
  return TwoCall(ACapacity, ACount, AProps, 1, [](XrExtensionProperties& P, uint32_t) {
    if (P.type != XR_TYPE_EXTENSION_PROPERTIES) return;
    std::snprintf(P.extensionName, sizeof P.extensionName, "%s",
                  XR_KHR_OPENGL_ENABLE_EXTENSION_NAME);
    P.extensionVersion = 10;
  });
}

XRAPI_ATTR XrResult XRAPI_CALL CreateInstance(const XrInstanceCreateInfo* AInfo,
                                              XrInstance* AInstance) {
  LOCK;
  if (!AInfo || AInfo->type != XR_TYPE_INSTANCE_CREATE_INFO || !AInstance)
    return XR_ERROR_VALIDATION_FAILURE;
  if (XR_VERSION_MAJOR(AInfo->applicationInfo.apiVersion) != 1)
    return XR_ERROR_API_VERSION_UNSUPPORTED;
  TInstance I;
  for (uint32_t E = 0; E < AInfo->enabledExtensionCount; ++E) {
    if (std::strcmp(AInfo->enabledExtensionNames[E], XR_KHR_OPENGL_ENABLE_EXTENSION_NAME) != 0)
      return XR_ERROR_EXTENSION_NOT_PRESENT;
    I.OpenGLEnabled = true;
  }
  const uint64_t Handle = NewHandle(TKind::Instance);
  R().Instances[Handle] = std::move(I);
  *AInstance = As<XrInstance>(Handle);
  Log("instance");
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL DestroyInstance(XrInstance AInstance) {
  LOCK;
  TRuntime& Rt = R();
  if (!Find(Rt.Instances, H(AInstance))) return XR_ERROR_HANDLE_INVALID;
  // Children go with their parent.
  for (auto It = Rt.Sessions.begin(); It != Rt.Sessions.end();)
    if (It->second.Instance == H(AInstance)) {
      ++Rt.Record.SessionsDestroyed;
      It = Rt.Sessions.erase(It);
    } else {
      ++It;
    }
  Rt.Instances.erase(H(AInstance));
  ++Rt.Record.InstancesDestroyed;
  Log("instance destroyed");
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL GetInstanceProperties(XrInstance AInstance,
                                                     XrInstanceProperties* AProps) {
  LOCK;
  if (!Find(R().Instances, H(AInstance))) return XR_ERROR_HANDLE_INVALID;
  if (!AProps || AProps->type != XR_TYPE_INSTANCE_PROPERTIES) return XR_ERROR_VALIDATION_FAILURE;
  AProps->runtimeVersion = XR_MAKE_VERSION(0, 1, 0);
  std::snprintf(AProps->runtimeName, sizeof AProps->runtimeName, "Quenlor test runtime");
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL PollEvent(XrInstance AInstance, XrEventDataBuffer* ABuffer) {
  LOCK;
  TInstance* I = Find(R().Instances, H(AInstance));
  if (!I) return XR_ERROR_HANDLE_INVALID;
  if (!ABuffer || ABuffer->type != XR_TYPE_EVENT_DATA_BUFFER) return XR_ERROR_VALIDATION_FAILURE;
  if (I->Events.empty()) return XR_EVENT_UNAVAILABLE;
  *ABuffer = I->Events.front();
  I->Events.pop_front();
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL ResultToString(XrInstance AInstance, XrResult AResult,
                                              char AOut[XR_MAX_RESULT_STRING_SIZE]) {
  if (!Find(R().Instances, H(AInstance))) return XR_ERROR_HANDLE_INVALID;
  std::snprintf(AOut, XR_MAX_RESULT_STRING_SIZE, "XR_RESULT_%d", int(AResult));
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL GetSystem(XrInstance AInstance, const XrSystemGetInfo* AInfo,
                                         XrSystemId* ASystem) {
  LOCK;
  TInstance* I = Find(R().Instances, H(AInstance));
  if (!I) return XR_ERROR_HANDLE_INVALID;
  if (!AInfo || AInfo->type != XR_TYPE_SYSTEM_GET_INFO || !ASystem)
    return XR_ERROR_VALIDATION_FAILURE;
  if (AInfo->formFactor != XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY &&
      AInfo->formFactor != XR_FORM_FACTOR_HANDHELD_DISPLAY)
    return XR_ERROR_FORM_FACTOR_UNSUPPORTED;
  if (AInfo->formFactor != XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY || R().Settings.NoHmd)
    return XR_ERROR_FORM_FACTOR_UNAVAILABLE;
  I->SystemAsked = true;
  *ASystem = kSystemId;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL GetSystemProperties(XrInstance AInstance, XrSystemId ASystem,
                                                   XrSystemProperties* AProps) {
  LOCK;
  if (!Find(R().Instances, H(AInstance))) return XR_ERROR_HANDLE_INVALID;
  if (ASystem != kSystemId) return XR_ERROR_SYSTEM_INVALID;
  if (!AProps || AProps->type != XR_TYPE_SYSTEM_PROPERTIES) return XR_ERROR_VALIDATION_FAILURE;
  AProps->systemId = kSystemId;
  AProps->vendorId = 0;
  std::snprintf(AProps->systemName, sizeof AProps->systemName, "Quenlor test headset");
  AProps->graphicsProperties = {kEyeWidth * 2, kEyeHeight * 2, 0};
  AProps->trackingProperties = {XR_TRUE, XR_TRUE};
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL EnumerateViewConfigurations(XrInstance AInstance, XrSystemId ASystem,
                                                           uint32_t ACapacity, uint32_t* ACount,
                                                           XrViewConfigurationType* ATypes) {
  LOCK;
  if (!Find(R().Instances, H(AInstance))) return XR_ERROR_HANDLE_INVALID;
  if (ASystem != kSystemId) return XR_ERROR_SYSTEM_INVALID;
  return TwoCall(ACapacity, ACount, ATypes, 1, [](XrViewConfigurationType& T, uint32_t) {
    T = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
  });
}

XRAPI_ATTR XrResult XRAPI_CALL EnumerateViewConfigurationViews(XrInstance AInstance,
                                                               XrSystemId ASystem,
                                                               XrViewConfigurationType AType,
                                                               uint32_t ACapacity, uint32_t* ACount,
                                                               XrViewConfigurationView* AViews) {
  LOCK;
  if (!Find(R().Instances, H(AInstance))) return XR_ERROR_HANDLE_INVALID;
  if (ASystem != kSystemId) return XR_ERROR_SYSTEM_INVALID;
  if (AType != XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO || R().Settings.Mono)
    return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
  if (ACapacity && AViews)
    for (uint32_t V = 0; V < ACapacity && V < 2; ++V)
      if (AViews[V].type != XR_TYPE_VIEW_CONFIGURATION_VIEW) return XR_ERROR_VALIDATION_FAILURE;
  const bool Uneven = R().Settings.UnevenEyes;
  return TwoCall(ACapacity, ACount, AViews, 2, [Uneven](XrViewConfigurationView& V, uint32_t I) {
    const bool Right = Uneven && I == 1;
    V.recommendedImageRectWidth = Right ? kUnevenRightWidth : kEyeWidth;
    V.recommendedImageRectHeight = Right ? kUnevenRightHeight : kEyeHeight;
    V.maxImageRectWidth = kEyeWidth * 2;
    V.maxImageRectHeight = kEyeHeight * 2;
    V.recommendedSwapchainSampleCount = 1;
    V.maxSwapchainSampleCount = 1;
  });
}

XRAPI_ATTR XrResult XRAPI_CALL EnumerateEnvironmentBlendModes(XrInstance AInstance,
                                                              XrSystemId ASystem,
                                                              XrViewConfigurationType AType,
                                                              uint32_t ACapacity, uint32_t* ACount,
                                                              XrEnvironmentBlendMode* AModes) {
  LOCK;
  if (!Find(R().Instances, H(AInstance))) return XR_ERROR_HANDLE_INVALID;
  if (ASystem != kSystemId) return XR_ERROR_SYSTEM_INVALID;
  if (AType != XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO)
    return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
  return TwoCall(ACapacity, ACount, AModes, 1,
                 [](XrEnvironmentBlendMode& M, uint32_t) { M = XR_ENVIRONMENT_BLEND_MODE_OPAQUE; });
}

XRAPI_ATTR XrResult XRAPI_CALL GetOpenGLGraphicsRequirementsKHR(
    XrInstance AInstance, XrSystemId ASystem, XrGraphicsRequirementsOpenGLKHR* AReq) {
  LOCK;
  TInstance* I = Find(R().Instances, H(AInstance));
  if (!I) return XR_ERROR_HANDLE_INVALID;
  if (ASystem != kSystemId) return XR_ERROR_SYSTEM_INVALID;
  if (!AReq || AReq->type != XR_TYPE_GRAPHICS_REQUIREMENTS_OPENGL_KHR)
    return XR_ERROR_VALIDATION_FAILURE;
  const TSettings& S = R().Settings;
  AReq->minApiVersionSupported = XR_MAKE_VERSION(S.GlMinMajor, S.GlMinMinor, 0);
  AReq->maxApiVersionSupported = XR_MAKE_VERSION(4, 6, 0);
  I->RequirementsAsked = true;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL CreateSession(XrInstance AInstance, const XrSessionCreateInfo* AInfo,
                                             XrSession* ASession) {
  LOCK;
  TRuntime& Rt = R();
  TInstance* I = Find(Rt.Instances, H(AInstance));
  if (!I) return XR_ERROR_HANDLE_INVALID;
  if (!AInfo || AInfo->type != XR_TYPE_SESSION_CREATE_INFO || !ASession)
    return XR_ERROR_VALIDATION_FAILURE;
  if (AInfo->systemId != kSystemId) return XR_ERROR_SYSTEM_INVALID;
  if (!I->RequirementsAsked) return XR_ERROR_GRAPHICS_REQUIREMENTS_CALL_MISSING;
  const auto* Binding = static_cast<const XrGraphicsBindingOpenGLXlibKHR*>(AInfo->next);
  if (!Binding || Binding->type != XR_TYPE_GRAPHICS_BINDING_OPENGL_XLIB_KHR)
    return XR_ERROR_GRAPHICS_DEVICE_INVALID;
  if (!Binding->xDisplay || !Binding->glxContext || !Binding->glxDrawable || !Binding->glxFBConfig)
    return XR_ERROR_GRAPHICS_DEVICE_INVALID;
  if (glXGetCurrentContext() != Binding->glxContext) return XR_ERROR_GRAPHICS_DEVICE_INVALID;
  if (Rt.Settings.FailSession) return XR_ERROR_RUNTIME_FAILURE;
  TSession S;
  S.Instance = H(AInstance);
  S.XDisplay = Binding->xDisplay;
  S.Context = Binding->glxContext;
  S.Time = kFramePeriod;
  const uint64_t Handle = NewHandle(TKind::Session);
  TSession& Stored = Rt.Sessions[Handle] = S;
  ++Rt.Record.SessionsCreated;
  QueueState(Stored, Handle, XR_SESSION_STATE_IDLE);
  QueueState(Stored, Handle, XR_SESSION_STATE_READY);
  *ASession = As<XrSession>(Handle);
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL DestroySession(XrSession ASession) {
  LOCK;
  TRuntime& Rt = R();
  if (!Find(Rt.Sessions, H(ASession))) return XR_ERROR_HANDLE_INVALID;
  for (auto It = Rt.Swapchains.begin(); It != Rt.Swapchains.end();)
    if (It->second.Session == H(ASession)) {
      glDeleteTextures(kImagesPerSwapchain, It->second.Images);
      It = Rt.Swapchains.erase(It);
    } else {
      ++It;
    }
  for (auto It = Rt.Spaces.begin(); It != Rt.Spaces.end();)
    It = It->second.Session == H(ASession) ? Rt.Spaces.erase(It) : std::next(It);
  Rt.Sessions.erase(H(ASession));
  ++Rt.Record.SessionsDestroyed;
  Log("session destroyed");
  return XR_SUCCESS;
}

// The session of a call, or the error that call returns.
XrResult SessionOf(XrSession ASession, TSession*& AOut) {
  AOut = Find(R().Sessions, H(ASession));
  if (!AOut) return XR_ERROR_HANDLE_INVALID;
  if (AOut->Lost && AOut->State != XR_SESSION_STATE_LOSS_PENDING) return XR_ERROR_SESSION_LOST;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL BeginSession(XrSession ASession, const XrSessionBeginInfo* AInfo) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!AInfo || AInfo->type != XR_TYPE_SESSION_BEGIN_INFO) return XR_ERROR_VALIDATION_FAILURE;
  if (AInfo->primaryViewConfigurationType != XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO)
    return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
  if (S->Running) return XR_ERROR_SESSION_RUNNING;
  if (S->State != XR_SESSION_STATE_READY) return XR_ERROR_SESSION_NOT_READY;
  S->Running = true;
  Log("begin");
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL EndSession(XrSession ASession) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!S->Running) return XR_ERROR_SESSION_NOT_RUNNING;
  if (S->State != XR_SESSION_STATE_STOPPING) return XR_ERROR_SESSION_NOT_STOPPING;
  S->Running = false;
  S->FrameWaited = S->FrameBegun = false;
  QueueState(*S, H(ASession), XR_SESSION_STATE_IDLE);
  // This runtime offers no second run: every stop ends in EXITING.
  QueueState(*S, H(ASession), XR_SESSION_STATE_EXITING);
  Log("end");
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL RequestExitSession(XrSession ASession) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!S->Running) return XR_ERROR_SESSION_NOT_RUNNING;
  S->ExitRequested = true;
  QueueStop(*S, H(ASession));
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL EnumerateReferenceSpaces(XrSession ASession, uint32_t ACapacity,
                                                        uint32_t* ACount,
                                                        XrReferenceSpaceType* ATypes) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  static const XrReferenceSpaceType Types[] = {
      XR_REFERENCE_SPACE_TYPE_VIEW, XR_REFERENCE_SPACE_TYPE_LOCAL, XR_REFERENCE_SPACE_TYPE_STAGE};
  return TwoCall(ACapacity, ACount, ATypes, 3,
                 [](XrReferenceSpaceType& T, uint32_t I) { T = Types[I]; });
}

XRAPI_ATTR XrResult XRAPI_CALL CreateReferenceSpace(XrSession ASession,
                                                    const XrReferenceSpaceCreateInfo* AInfo,
                                                    XrSpace* ASpace) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!AInfo || AInfo->type != XR_TYPE_REFERENCE_SPACE_CREATE_INFO || !ASpace)
    return XR_ERROR_VALIDATION_FAILURE;
  if (AInfo->referenceSpaceType != XR_REFERENCE_SPACE_TYPE_VIEW &&
      AInfo->referenceSpaceType != XR_REFERENCE_SPACE_TYPE_LOCAL &&
      AInfo->referenceSpaceType != XR_REFERENCE_SPACE_TYPE_STAGE)
    return XR_ERROR_REFERENCE_SPACE_UNSUPPORTED;
  if (!IsUnit(AInfo->poseInReferenceSpace.orientation)) return XR_ERROR_POSE_INVALID;
  TSpace Space{H(ASession), AInfo->referenceSpaceType, AInfo->poseInReferenceSpace};
  const uint64_t Handle = NewHandle(TKind::Space);
  R().Spaces[Handle] = Space;
  *ASpace = As<XrSpace>(Handle);
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL DestroySpace(XrSpace ASpace) {
  LOCK;
  if (!R().Spaces.erase(H(ASpace))) return XR_ERROR_HANDLE_INVALID;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL LocateSpace(XrSpace ASpace, XrSpace ABase, XrTime ATime,
                                           XrSpaceLocation* ALocation) {
  LOCK;
  TSpace* Space = Find(R().Spaces, H(ASpace));
  TSpace* Base = Find(R().Spaces, H(ABase));
  if (!Space || !Base) return XR_ERROR_HANDLE_INVALID;
  if (ATime <= 0) return XR_ERROR_TIME_INVALID;
  if (!ALocation || ALocation->type != XR_TYPE_SPACE_LOCATION) return XR_ERROR_VALIDATION_FAILURE;
  ALocation->pose = Compose(Inverse(SpaceInOrigin(*Base)), SpaceInOrigin(*Space));
  ALocation->locationFlags =
      XR_SPACE_LOCATION_ORIENTATION_VALID_BIT | XR_SPACE_LOCATION_POSITION_VALID_BIT |
      XR_SPACE_LOCATION_ORIENTATION_TRACKED_BIT | XR_SPACE_LOCATION_POSITION_TRACKED_BIT;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL LocateViews(XrSession ASession, const XrViewLocateInfo* AInfo,
                                           XrViewState* AState, uint32_t ACapacity,
                                           uint32_t* ACount, XrView* AViews) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!AInfo || AInfo->type != XR_TYPE_VIEW_LOCATE_INFO || !AState ||
      AState->type != XR_TYPE_VIEW_STATE)
    return XR_ERROR_VALIDATION_FAILURE;
  if (AInfo->viewConfigurationType != XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO)
    return XR_ERROR_VIEW_CONFIGURATION_TYPE_UNSUPPORTED;
  if (AInfo->displayTime <= 0) return XR_ERROR_TIME_INVALID;
  TSpace* Space = Find(R().Spaces, H(AInfo->space));
  if (!Space || Space->Session != H(ASession)) return XR_ERROR_HANDLE_INVALID;
  if (ACapacity && AViews)
    for (uint32_t V = 0; V < ACapacity && V < 2; ++V)
      if (AViews[V].type != XR_TYPE_VIEW) return XR_ERROR_VALIDATION_FAILURE;
  // Untracked: no flag set, and the poses are whatever the runtime had (here a zero quaternion,
  // which a layer must not carry).
  const bool Untracked = R().Settings.Untracked;
  AState->viewStateFlags =
      Untracked ? 0
                : XR_VIEW_STATE_ORIENTATION_VALID_BIT | XR_VIEW_STATE_POSITION_VALID_BIT |
                      XR_VIEW_STATE_ORIENTATION_TRACKED_BIT | XR_VIEW_STATE_POSITION_TRACKED_BIT;
  const XrPosef ToSpace = Inverse(SpaceInOrigin(*Space));
  return TwoCall(ACapacity, ACount, AViews, 2, [&](XrView& V, uint32_t I) {
    V.pose = Untracked ? XrPosef{{0, 0, 0, 0}, {0, 0, 0}} : Compose(ToSpace, EyePose(int(I)));
    V.fov = I == 0 ? kLeftFov : kRightFov;
  });
}

XRAPI_ATTR XrResult XRAPI_CALL EnumerateSwapchainFormats(XrSession ASession, uint32_t ACapacity,
                                                         uint32_t* ACount, int64_t* AFormats) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  // In the runtime's order of preference.
  static const int64_t Srgb[] = {GL_SRGB8_ALPHA8, GL_RGBA8, GL_RGB10_A2};
  static const int64_t Unorm[] = {GL_RGBA8, GL_RGB10_A2};
  const bool U = R().Settings.Unorm;
  return TwoCall(ACapacity, ACount, AFormats, U ? 2 : 3,
                 [&](int64_t& F, uint32_t I) { F = U ? Unorm[I] : Srgb[I]; });
}

XRAPI_ATTR XrResult XRAPI_CALL CreateSwapchain(XrSession ASession,
                                               const XrSwapchainCreateInfo* AInfo,
                                               XrSwapchain* ASwapchain) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!AInfo || AInfo->type != XR_TYPE_SWAPCHAIN_CREATE_INFO || !ASwapchain)
    return XR_ERROR_VALIDATION_FAILURE;
  if (AInfo->format != GL_SRGB8_ALPHA8 && AInfo->format != GL_RGBA8 && AInfo->format != GL_RGB10_A2)
    return XR_ERROR_SWAPCHAIN_FORMAT_UNSUPPORTED;
  if (R().Settings.Unorm && AInfo->format == GL_SRGB8_ALPHA8)
    return XR_ERROR_SWAPCHAIN_FORMAT_UNSUPPORTED;
  if (AInfo->width == 0 || AInfo->height == 0 || AInfo->width > kEyeWidth * 2 ||
      AInfo->height > kEyeHeight * 2 || AInfo->faceCount != 1 || AInfo->arraySize != 1 ||
      AInfo->mipCount != 1 || AInfo->sampleCount != 1)
    return XR_ERROR_VALIDATION_FAILURE;
  if (!ContextCurrent(*S)) return XR_ERROR_GRAPHICS_DEVICE_INVALID;
  if (R().Settings.FailSwapchain) return XR_ERROR_RUNTIME_FAILURE;
  TSwapchain C;
  C.Session = H(ASession);
  C.Format = AInfo->format;
  C.Width = int(AInfo->width);
  C.Height = int(AInfo->height);
  GLint Bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &Bound);
  glGenTextures(kImagesPerSwapchain, C.Images);
  for (GLuint Image : C.Images) {
    glBindTexture(GL_TEXTURE_2D, Image);
    glTexStorage2D(GL_TEXTURE_2D, 1, GLenum(C.Format), C.Width, C.Height);
  }
  glBindTexture(GL_TEXTURE_2D, GLuint(Bound));
  const uint64_t Handle = NewHandle(TKind::Swapchain);
  R().Swapchains[Handle] = C;
  *ASwapchain = As<XrSwapchain>(Handle);
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL DestroySwapchain(XrSwapchain ASwapchain) {
  LOCK;
  TSwapchain* C = Find(R().Swapchains, H(ASwapchain));
  if (!C) return XR_ERROR_HANDLE_INVALID;
  glDeleteTextures(kImagesPerSwapchain, C->Images);
  R().Swapchains.erase(H(ASwapchain));
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL EnumerateSwapchainImages(XrSwapchain ASwapchain, uint32_t ACapacity,
                                                        uint32_t* ACount,
                                                        XrSwapchainImageBaseHeader* AImages) {
  LOCK;
  TSwapchain* C = Find(R().Swapchains, H(ASwapchain));
  if (!C) return XR_ERROR_HANDLE_INVALID;
  auto* Images = reinterpret_cast<XrSwapchainImageOpenGLKHR*>(AImages);
  if (ACapacity >= kImagesPerSwapchain && Images)
    for (uint32_t I = 0; I < kImagesPerSwapchain; ++I)
      if (Images[I].type != XR_TYPE_SWAPCHAIN_IMAGE_OPENGL_KHR) return XR_ERROR_VALIDATION_FAILURE;
  return TwoCall(ACapacity, ACount, Images, kImagesPerSwapchain,
                 [&](XrSwapchainImageOpenGLKHR& I, uint32_t N) { I.image = C->Images[N]; });
}

XRAPI_ATTR XrResult XRAPI_CALL AcquireSwapchainImage(XrSwapchain ASwapchain,
                                                     const XrSwapchainImageAcquireInfo*,
                                                     uint32_t* AIndex) {
  LOCK;
  TSwapchain* C = Find(R().Swapchains, H(ASwapchain));
  if (!C) return XR_ERROR_HANDLE_INVALID;
  if (!AIndex) return XR_ERROR_VALIDATION_FAILURE;
  if (C->Acquired.size() >= kImagesPerSwapchain) return XR_ERROR_CALL_ORDER_INVALID;
  *AIndex = C->Next;
  C->Acquired.push_back(C->Next);
  C->Next = (C->Next + 1) % kImagesPerSwapchain;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL WaitSwapchainImage(XrSwapchain ASwapchain,
                                                  const XrSwapchainImageWaitInfo* AInfo) {
  LOCK;
  TSwapchain* C = Find(R().Swapchains, H(ASwapchain));
  if (!C) return XR_ERROR_HANDLE_INVALID;
  if (!AInfo || AInfo->type != XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO)
    return XR_ERROR_VALIDATION_FAILURE;
  if (C->Acquired.empty() || C->Waited) return XR_ERROR_CALL_ORDER_INVALID;
  C->Waited = true;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL ReleaseSwapchainImage(XrSwapchain ASwapchain,
                                                     const XrSwapchainImageReleaseInfo*) {
  LOCK;
  TSwapchain* C = Find(R().Swapchains, H(ASwapchain));
  if (!C) return XR_ERROR_HANDLE_INVALID;
  if (C->Acquired.empty() || !C->Waited) return XR_ERROR_CALL_ORDER_INVALID;
  C->LastReleased = int(C->Acquired.front());
  C->Acquired.pop_front();
  C->Waited = false;
  return XR_SUCCESS;
}

// The result of a frame call while the session goes: LOSS_PENDING still answers, then LOST.
XRAPI_ATTR XrResult XRAPI_CALL WaitFrame(XrSession ASession, const XrFrameWaitInfo*,
                                         XrFrameState* AState) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!AState || AState->type != XR_TYPE_FRAME_STATE) return XR_ERROR_VALIDATION_FAILURE;
  if (!S->Running) return XR_ERROR_SESSION_NOT_RUNNING;
  S->Time += kFramePeriod;
  S->FrameWaited = true;
  AState->predictedDisplayTime = S->Time;
  AState->predictedDisplayPeriod = kFramePeriod;
  AState->shouldRender =
      S->State == XR_SESSION_STATE_VISIBLE || S->State == XR_SESSION_STATE_FOCUSED;
  return S->Lost ? XR_SESSION_LOSS_PENDING : XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL BeginFrame(XrSession ASession, const XrFrameBeginInfo*) {
  LOCK;
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!S->Running) return XR_ERROR_SESSION_NOT_RUNNING;
  if (!S->FrameWaited) return XR_ERROR_CALL_ORDER_INVALID;
  S->FrameWaited = false;
  const bool Discarded = S->FrameBegun;
  S->FrameBegun = true;
  if (S->Lost) return XR_SESSION_LOSS_PENDING;
  return Discarded ? XR_FRAME_DISCARDED : XR_SUCCESS;
}

XrResult CheckLayer(const TSession& S, uint64_t ASession,
                    const XrCompositionLayerBaseHeader* ALayer) {
  TRuntime& Rt = R();
  if (!ALayer) return XR_ERROR_LAYER_INVALID;
  if (ALayer->type != XR_TYPE_COMPOSITION_LAYER_PROJECTION) return XR_ERROR_LAYER_INVALID;
  const auto* P = reinterpret_cast<const XrCompositionLayerProjection*>(ALayer);
  const TSpace* Space = Find(Rt.Spaces, H(P->space));
  if (!Space || Space->Session != ASession) return XR_ERROR_HANDLE_INVALID;
  if (P->viewCount != 2 || !P->views) return XR_ERROR_VALIDATION_FAILURE;
  for (uint32_t V = 0; V < 2; ++V) {
    const XrCompositionLayerProjectionView& View = P->views[V];
    if (View.type != XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW) return XR_ERROR_VALIDATION_FAILURE;
    if (!IsUnit(View.pose.orientation)) return XR_ERROR_POSE_INVALID;
    const TSwapchain* C = Find(Rt.Swapchains, H(View.subImage.swapchain));
    if (!C) return XR_ERROR_HANDLE_INVALID;
    if (C->LastReleased < 0) return XR_ERROR_LAYER_INVALID;
    const XrRect2Di& Rect = View.subImage.imageRect;
    if (Rect.offset.x < 0 || Rect.offset.y < 0 || Rect.extent.width <= 0 ||
        Rect.extent.height <= 0 || Rect.offset.x + Rect.extent.width > C->Width ||
        Rect.offset.y + Rect.extent.height > C->Height)
      return XR_ERROR_SWAPCHAIN_RECT_INVALID;
    if (View.subImage.imageArrayIndex != 0) return XR_ERROR_VALIDATION_FAILURE;
  }
  (void)S;
  return XR_SUCCESS;
}

XRAPI_ATTR XrResult XRAPI_CALL EndFrame(XrSession ASession, const XrFrameEndInfo* AInfo) {
  LOCK;
  TRuntime& Rt = R();
  TSession* S = nullptr;
  if (XrResult Res = SessionOf(ASession, S); Res != XR_SUCCESS) return Res;
  if (!AInfo || AInfo->type != XR_TYPE_FRAME_END_INFO) return XR_ERROR_VALIDATION_FAILURE;
  if (!S->Running) return XR_ERROR_SESSION_NOT_RUNNING;
  if (!S->FrameBegun) return XR_ERROR_CALL_ORDER_INVALID;
  if (AInfo->displayTime <= 0) return XR_ERROR_TIME_INVALID;
  if (AInfo->environmentBlendMode != XR_ENVIRONMENT_BLEND_MODE_OPAQUE)
    return XR_ERROR_ENVIRONMENT_BLEND_MODE_UNSUPPORTED;
  if (AInfo->layerCount > 0 && !AInfo->layers) return XR_ERROR_VALIDATION_FAILURE;
  for (uint32_t L = 0; L < AInfo->layerCount; ++L)
    if (XrResult Res = CheckLayer(*S, H(ASession), AInfo->layers[L]); Res != XR_SUCCESS) return Res;
  if (!ContextCurrent(*S)) return XR_ERROR_GRAPHICS_DEVICE_INVALID;
  S->FrameBegun = false;
  ++S->FramesEnded;
  ++Rt.Record.Frames;
  if (AInfo->layerCount > 0) {
    const auto* P = reinterpret_cast<const XrCompositionLayerProjection*>(AInfo->layers[0]);
    ++Rt.Record.LayerFrames;
    Rt.Record.LayerSpace = P->space;
    for (int V = 0; V < 2; ++V) {
      Rt.Record.Views[V] = P->views[V];
      Rt.Record.Views[V].next = nullptr;
      const TSwapchain& C = *Find(Rt.Swapchains, H(P->views[V].subImage.swapchain));
      Rt.Record.SwapchainFormat = C.Format;
      Rt.Record.EyeWidth[V] = P->views[V].subImage.imageRect.extent.width;
      Rt.Record.EyeHeight[V] = P->views[V].subImage.imageRect.extent.height;
      ReadBack(C, C.Images[C.LastReleased], P->views[V].subImage.imageRect, Rt.EyeImage[V]);
    }
  }
  Log("frame %ld layers %u", S->FramesEnded, AInfo->layerCount);
  // The session's states move on as a compositor's would once frames arrive.
  if (S->State == XR_SESSION_STATE_READY && !S->ExitRequested) {
    QueueState(*S, H(ASession), XR_SESSION_STATE_SYNCHRONIZED);
    QueueState(*S, H(ASession), XR_SESSION_STATE_VISIBLE);
    QueueState(*S, H(ASession), XR_SESSION_STATE_FOCUSED);
  }
  if (Rt.Settings.ExitAfter >= 0 && S->FramesEnded == Rt.Settings.ExitAfter) {
    S->ExitRequested = true;
    QueueStop(*S, H(ASession));
  }
  if (Rt.Settings.LoseAfter >= 0 && S->FramesEnded == Rt.Settings.LoseAfter) Lose(*S, H(ASession));
  return S->Lost ? XR_SESSION_LOSS_PENDING : XR_SUCCESS;
}

struct TEntry {
  const char* Name;
  PFN_xrVoidFunction Function;
  bool NeedsOpenGL;
};

#define ENTRY(NAME) \
  { "xr" #NAME, reinterpret_cast<PFN_xrVoidFunction>(NAME), false }
const TEntry kEntries[] = {
    ENTRY(GetInstanceProcAddr),
    ENTRY(EnumerateInstanceExtensionProperties),
    ENTRY(CreateInstance),
    ENTRY(DestroyInstance),
    ENTRY(GetInstanceProperties),
    ENTRY(PollEvent),
    ENTRY(ResultToString),
    ENTRY(GetSystem),
    ENTRY(GetSystemProperties),
    ENTRY(EnumerateViewConfigurations),
    ENTRY(EnumerateViewConfigurationViews),
    ENTRY(EnumerateEnvironmentBlendModes),
    ENTRY(CreateSession),
    ENTRY(DestroySession),
    ENTRY(BeginSession),
    ENTRY(EndSession),
    ENTRY(RequestExitSession),
    ENTRY(EnumerateReferenceSpaces),
    ENTRY(CreateReferenceSpace),
    ENTRY(DestroySpace),
    ENTRY(LocateSpace),
    ENTRY(LocateViews),
    ENTRY(EnumerateSwapchainFormats),
    ENTRY(CreateSwapchain),
    ENTRY(DestroySwapchain),
    ENTRY(EnumerateSwapchainImages),
    ENTRY(AcquireSwapchainImage),
    ENTRY(WaitSwapchainImage),
    ENTRY(ReleaseSwapchainImage),
    ENTRY(WaitFrame),
    ENTRY(BeginFrame),
    ENTRY(EndFrame),
    {"xrGetOpenGLGraphicsRequirementsKHR",
     reinterpret_cast<PFN_xrVoidFunction>(GetOpenGLGraphicsRequirementsKHR), true},
};
#undef ENTRY

XRAPI_ATTR XrResult XRAPI_CALL GetInstanceProcAddr(XrInstance AInstance, const char* AName,
                                                   PFN_xrVoidFunction* AFunction) {
  LOCK;
  if (!AName || !AFunction) return XR_ERROR_VALIDATION_FAILURE;
  *AFunction = nullptr;
  // Without an instance only the calls that create one or ask about extensions are offered.
  if (AInstance == XR_NULL_HANDLE) {
    if (std::strcmp(AName, "xrCreateInstance") == 0 ||
        std::strcmp(AName, "xrEnumerateInstanceExtensionProperties") == 0 ||
        std::strcmp(AName, "xrGetInstanceProcAddr") == 0) {
      for (const TEntry& E : kEntries)
        if (std::strcmp(E.Name, AName) == 0) *AFunction = E.Function;
      return XR_SUCCESS;
    }
    return XR_ERROR_HANDLE_INVALID;
  }
  const TInstance* I = Find(R().Instances, H(AInstance));
  if (!I) return XR_ERROR_HANDLE_INVALID;
  for (const TEntry& E : kEntries)
    if (std::strcmp(E.Name, AName) == 0) {
      if (E.NeedsOpenGL && !I->OpenGLEnabled) return XR_ERROR_FUNCTION_UNSUPPORTED;
      *AFunction = E.Function;
      return XR_SUCCESS;
    }
  return XR_ERROR_FUNCTION_UNSUPPORTED;
}

}  // namespace

XRTEST_EXPORT XrResult xrNegotiateLoaderRuntimeInterface(const XrNegotiateLoaderInfo* AInfo,
                                                         XrNegotiateRuntimeRequest* ARequest) {
  if (!AInfo || AInfo->structType != XR_LOADER_INTERFACE_STRUCT_LOADER_INFO ||
      AInfo->structVersion != 1 || AInfo->structSize != sizeof(XrNegotiateLoaderInfo))
    return XR_ERROR_INITIALIZATION_FAILED;
  if (!ARequest || ARequest->structType != XR_LOADER_INTERFACE_STRUCT_RUNTIME_REQUEST ||
      ARequest->structVersion != 1 || ARequest->structSize != sizeof(XrNegotiateRuntimeRequest))
    return XR_ERROR_INITIALIZATION_FAILED;
  if (AInfo->minInterfaceVersion > 1 || AInfo->maxInterfaceVersion < 1)
    return XR_ERROR_INITIALIZATION_FAILED;
  if (AInfo->maxApiVersion < XR_MAKE_VERSION(1, 0, 0) ||
      AInfo->minApiVersion > XR_CURRENT_API_VERSION)
    return XR_ERROR_INITIALIZATION_FAILED;
  ARequest->runtimeInterfaceVersion = 1;
  ARequest->runtimeApiVersion = XR_CURRENT_API_VERSION;
  ARequest->getInstanceProcAddr = GetInstanceProcAddr;
  return XR_SUCCESS;
}

XRTEST_EXPORT void xrtest_GetRecord(TXrTestRecord* ARecord) {
  LOCK;
  *ARecord = R().Record;
}

XRTEST_EXPORT int xrtest_GetEyeImage(int AEye, std::uint8_t* AOut, int ACapacity) {
  LOCK;
  if (AEye < 0 || AEye > 1) return 0;
  const std::vector<uint8_t>& Image = R().EyeImage[AEye];
  std::memcpy(AOut, Image.data(),
              std::min<std::size_t>(Image.size(), std::size_t(std::max(ACapacity, 0))));
  return int(Image.size());
}

XRTEST_EXPORT void xrtest_SetHead(float AX, float AY, float AZ, float AYawDegrees,
                                  float APitchDegrees) {
  LOCK;
  const float Yaw = AYawDegrees * float(M_PI) / 360.0f,
              Pitch = APitchDegrees * float(M_PI) / 360.0f;
  const XrQuaternionf QYaw{0, std::sin(Yaw), 0, std::cos(Yaw)};
  const XrQuaternionf QPitch{std::sin(Pitch), 0, 0, std::cos(Pitch)};
  R().Head = {Mul(QYaw, QPitch), {AX, AY, AZ}};
}

XRTEST_EXPORT void xrtest_RequestExit() {
  LOCK;
  for (auto& [Handle, S] : R().Sessions)
    if (S.Running) {
      S.ExitRequested = true;
      QueueStop(S, Handle);
    }
}

XRTEST_EXPORT void xrtest_SetVisible(int AVisible) {
  LOCK;
  for (auto& [Handle, S] : R().Sessions) {
    if (!S.Running) continue;
    if (!AVisible && S.State == XR_SESSION_STATE_FOCUSED) {
      QueueState(S, Handle, XR_SESSION_STATE_VISIBLE);
      QueueState(S, Handle, XR_SESSION_STATE_SYNCHRONIZED);
    } else if (AVisible && S.State == XR_SESSION_STATE_SYNCHRONIZED) {
      QueueState(S, Handle, XR_SESSION_STATE_VISIBLE);
      QueueState(S, Handle, XR_SESSION_STATE_FOCUSED);
    }
  }
}

XRTEST_EXPORT void xrtest_LoseSession() {
  LOCK;
  for (auto& [Handle, S] : R().Sessions) Lose(S, Handle);
}

XRTEST_EXPORT void xrtest_Reset() {
  LOCK;
  R().Record = TXrTestRecord{};
  R().EyeImage[0].clear();
  R().EyeImage[1].clear();
  R().Head = {{0, 0, 0, 1}, {0, 0, 0}};
  R().Settings = ReadSettings();
}
