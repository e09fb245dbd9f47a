// The OpenXR display connection.
#include "hmd/OpenXrSession.h"

#include <epoxy/gl.h>
#include <epoxy/glx.h>
#define XR_USE_PLATFORM_XLIB
#define XR_USE_GRAPHICS_API_OPENGL
#include <openxr/openxr.h>
#include <openxr/openxr_platform.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kEyes = 2;

// An OpenXR record with its type set and everything else zero.
template <typename T>
T Typed(XrStructureType AType) {
  T Record{};
  Record.type = AType;
  return Record;
}

std::string ResultName(XrResult AResult) {
  // The loader's names need an instance; the numbers are what the headers define.
  switch (AResult) {
    case XR_ERROR_RUNTIME_UNAVAILABLE:
      return "XR_ERROR_RUNTIME_UNAVAILABLE";
    case XR_ERROR_RUNTIME_FAILURE:
      return "XR_ERROR_RUNTIME_FAILURE";
    case XR_ERROR_INSTANCE_LOST:
      return "XR_ERROR_INSTANCE_LOST";
    case XR_ERROR_SESSION_LOST:
      return "XR_ERROR_SESSION_LOST";
    case XR_ERROR_FORM_FACTOR_UNAVAILABLE:
      return "XR_ERROR_FORM_FACTOR_UNAVAILABLE";
    case XR_ERROR_GRAPHICS_DEVICE_INVALID:
      return "XR_ERROR_GRAPHICS_DEVICE_INVALID";
    case XR_ERROR_HANDLE_INVALID:
      return "XR_ERROR_HANDLE_INVALID";
    case XR_ERROR_VALIDATION_FAILURE:
      return "XR_ERROR_VALIDATION_FAILURE";
    default:
      return "XrResult " + std::to_string(int(AResult));
  }
}

void Check(XrResult AResult, const char* ACall) {
  if (XR_FAILED(AResult))
    throw EOpenXrError(std::string("OpenXR: ") + ACall + " failed (" + ResultName(AResult) + ").");
}

// ---- poses (x y z w quaternions)

XrQuaternionf Mul(const XrQuaternionf& A, const XrQuaternionf& B) {
  return {
      A.w * B.x + A.x * B.w + A.y * B.z - A.z * B.y, A.w * B.y - A.x * B.z + A.y * B.w + A.z * B.x,
      A.w * B.z + A.x * B.y - A.y * B.x + A.z * B.w, A.w * B.w - A.x * B.x - A.y * B.y - A.z * B.z};
}
XrVector3f Rotate(const XrQuaternionf& Q, const XrVector3f& V) {
  const XrQuaternionf P = Mul(Mul(Q, {V.x, V.y, V.z, 0.0f}), {-Q.x, -Q.y, -Q.z, Q.w});
  return {P.x, P.y, P.z};
}
XrPosef Compose(const XrPosef& A, const XrPosef& B) {
  const XrVector3f T = Rotate(A.orientation, B.position);
  return {Mul(A.orientation, B.orientation),
          {A.position.x + T.x, A.position.y + T.y, A.position.z + T.z}};
}

hmdPosef ToHmd(const XrPosef& APose) {
  return {{APose.orientation.x, APose.orientation.y, APose.orientation.z, APose.orientation.w},
          {APose.position.x, APose.position.y, APose.position.z}};
}
// Angles (left and down negative) as the tangents of the half-angles, all positive outwards.
hmdFovPort ToHmd(const XrFovf& AFov) {
  return {std::tan(AFov.angleUp), std::tan(-AFov.angleDown), std::tan(-AFov.angleLeft),
          std::tan(AFov.angleRight)};
}

// The mirror's program: a triangle that covers the viewport, sampling the texture.
const char* const kMirrorVertex = R"(#version 330
out vec2 TexCoord;
void main() {
  vec2 P = vec2(float((gl_VertexID << 1) & 2), float(gl_VertexID & 2));
  TexCoord = P;
  gl_Position = vec4(P * 2.0 - 1.0, 0.0, 1.0);
}
)";
const char* const kMirrorFragment = R"(#version 330
in vec2 TexCoord;
uniform sampler2D Eyes;
out vec4 Color;
void main() { Color = vec4(texture(Eyes, TexCoord).rgb, 1.0); }
)";

GLuint CompileShader(GLenum AType, const char* ASource) {
  const GLuint Shader = glCreateShader(AType);
  glShaderSource(Shader, 1, &ASource, nullptr);
  glCompileShader(Shader);
  GLint Ok = 0;
  glGetShaderiv(Shader, GL_COMPILE_STATUS, &Ok);
  if (!Ok) {
    glDeleteShader(Shader);
    throw EOpenXrError("OpenXR: the mirror's shader does not compile.");
  }
  return Shader;
}

}  // namespace

struct TOpenXrSession::TImpl {
  XrInstance Instance = XR_NULL_HANDLE;
  XrSystemId System = XR_NULL_SYSTEM_ID;
  XrSession Session = XR_NULL_HANDLE;
  XrSpace Local = XR_NULL_HANDLE;
  XrSpace View = XR_NULL_HANDLE;
  XrPosef LocalPose{{0, 0, 0, 1}, {0, 0, 0}};
  XrSwapchain Swapchains[kEyes] = {XR_NULL_HANDLE, XR_NULL_HANDLE};
  std::vector<XrSwapchainImageOpenGLKHR> Images[kEyes];
  XrView Views[kEyes] = {Typed<XrView>(XR_TYPE_VIEW), Typed<XrView>(XR_TYPE_VIEW)};
  XrFrameState Frame = Typed<XrFrameState>(XR_TYPE_FRAME_STATE);
  XrTime LastTime = 0;
  bool FrameBegun = false;
  bool ViewsValid = false;
  bool Submitted[kEyes] = {false, false};
  XrSessionState State = XR_SESSION_STATE_UNKNOWN;
  XrEnvironmentBlendMode BlendMode = XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
  GLuint ReadFbo = 0, DrawFbo = 0;
  GLuint MirrorProgram = 0, MirrorVao = 0;
  PFN_xrGetOpenGLGraphicsRequirementsKHR GetRequirements = nullptr;

  ~TImpl() {
    // Children before their parents; the GL objects while the window's context is current.
    for (XrSwapchain& S : Swapchains)
      if (S != XR_NULL_HANDLE) xrDestroySwapchain(S);
    if (Local != XR_NULL_HANDLE) xrDestroySpace(Local);
    if (View != XR_NULL_HANDLE) xrDestroySpace(View);
    if (Session != XR_NULL_HANDLE) xrDestroySession(Session);
    if (Instance != XR_NULL_HANDLE) xrDestroyInstance(Instance);
    if (ReadFbo) glDeleteFramebuffers(1, &ReadFbo);
    if (DrawFbo) glDeleteFramebuffers(1, &DrawFbo);
    if (MirrorProgram) glDeleteProgram(MirrorProgram);
    if (MirrorVao) glDeleteVertexArrays(1, &MirrorVao);
  }

  void CreateLocal(const XrPosef& APose) {
    XrReferenceSpaceCreateInfo Info =
        Typed<XrReferenceSpaceCreateInfo>(XR_TYPE_REFERENCE_SPACE_CREATE_INFO);
    Info.referenceSpaceType = XR_REFERENCE_SPACE_TYPE_LOCAL;
    Info.poseInReferenceSpace = APose;
    XrSpace Space = XR_NULL_HANDLE;
    Check(xrCreateReferenceSpace(Session, &Info, &Space), "xrCreateReferenceSpace");
    if (Local != XR_NULL_HANDLE) xrDestroySpace(Local);
    Local = Space;
    LocalPose = APose;
  }
};

TOpenXrSession::TOpenXrSession() : FImpl(std::make_unique<TImpl>()) {}

TOpenXrSession::~TOpenXrSession() = default;

std::size_t TOpenXrSession::Eye(int AEye) {
  if (AEye != 0 && AEye != 1) throw ERangeError("Eye index out of range.");
  return std::size_t(AEye);
}

std::unique_ptr<TOpenXrSession> TOpenXrSession::Open(std::string& AWhyNot) {
  std::unique_ptr<TOpenXrSession> Result(new TOpenXrSession());
  TImpl& X = *Result->FImpl;

  // The runtime must offer the OpenGL binding; without it there is nothing to draw with.
  std::uint32_t Count = 0;
  XrResult Res = xrEnumerateInstanceExtensionProperties(nullptr, 0, &Count, nullptr);
  if (XR_FAILED(Res)) {
    AWhyNot = "no OpenXR runtime (" + ResultName(Res) + ")";
    return nullptr;
  }
  std::vector<XrExtensionProperties> Extensions(
      Count, Typed<XrExtensionProperties>(XR_TYPE_EXTENSION_PROPERTIES));
  Res = xrEnumerateInstanceExtensionProperties(nullptr, Count, &Count, Extensions.data());
  bool HasOpenGL = false;
  for (std::uint32_t I = 0; XR_SUCCEEDED(Res) && I < Count; ++I)
    HasOpenGL |= std::strcmp(Extensions[I].extensionName, XR_KHR_OPENGL_ENABLE_EXTENSION_NAME) == 0;
  if (!HasOpenGL) {
    AWhyNot = "the OpenXR runtime offers no OpenGL binding";
    return nullptr;
  }

  XrInstanceCreateInfo Info = Typed<XrInstanceCreateInfo>(XR_TYPE_INSTANCE_CREATE_INFO);
  std::snprintf(Info.applicationInfo.applicationName, XR_MAX_APPLICATION_NAME_SIZE, "Quenlor");
  Info.applicationInfo.applicationVersion = 1;
  std::snprintf(Info.applicationInfo.engineName, XR_MAX_ENGINE_NAME_SIZE, "Quenlor");
  Info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 0);
  const char* const Enabled[] = {XR_KHR_OPENGL_ENABLE_EXTENSION_NAME};
  Info.enabledExtensionCount = 1;
  Info.enabledExtensionNames = Enabled;
  Res = xrCreateInstance(&Info, &X.Instance);
  if (XR_FAILED(Res)) {
    X.Instance = XR_NULL_HANDLE;
    AWhyNot = "the OpenXR runtime refused an instance (" + ResultName(Res) + ")";
    return nullptr;
  }
  XrInstanceProperties Properties = Typed<XrInstanceProperties>(XR_TYPE_INSTANCE_PROPERTIES);
  if (XR_SUCCEEDED(xrGetInstanceProperties(X.Instance, &Properties)))
    Result->FRuntimeName = Properties.runtimeName;

  XrSystemGetInfo SystemInfo = Typed<XrSystemGetInfo>(XR_TYPE_SYSTEM_GET_INFO);
  SystemInfo.formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
  Res = xrGetSystem(X.Instance, &SystemInfo, &X.System);
  if (XR_FAILED(Res)) {
    AWhyNot = "the OpenXR runtime has no headset (" + ResultName(Res) + ")";
    return nullptr;
  }
  Res = xrGetInstanceProcAddr(X.Instance, "xrGetOpenGLGraphicsRequirementsKHR",
                              reinterpret_cast<PFN_xrVoidFunction*>(&X.GetRequirements));
  if (XR_FAILED(Res) || !X.GetRequirements) {
    AWhyNot = "the OpenXR runtime lacks xrGetOpenGLGraphicsRequirementsKHR";
    return nullptr;
  }

  // A stereo headset: two views (a failure here means no usable headset, not an error).
  std::uint32_t ViewCount = 0;
  Res = xrEnumerateViewConfigurationViews(
      X.Instance, X.System, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 0, &ViewCount, nullptr);
  std::vector<XrViewConfigurationView> Views(
      kEyes, Typed<XrViewConfigurationView>(XR_TYPE_VIEW_CONFIGURATION_VIEW));
  if (XR_SUCCEEDED(Res) && ViewCount == kEyes)
    Res = xrEnumerateViewConfigurationViews(X.Instance, X.System,
                                            XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, kEyes,
                                            &ViewCount, Views.data());
  if (XR_FAILED(Res) || ViewCount != kEyes) {
    AWhyNot = "the OpenXR headset shows no pair of stereo views";
    return nullptr;
  }
  // The runtime's first blend mode is its preference (opaque on a headset that shows only the
  // picture).
  std::uint32_t Modes = 0;
  Res = xrEnumerateEnvironmentBlendModes(
      X.Instance, X.System, XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, 0, &Modes, nullptr);
  std::vector<XrEnvironmentBlendMode> BlendModes(Modes);
  if (XR_SUCCEEDED(Res) && Modes > 0)
    Res = xrEnumerateEnvironmentBlendModes(X.Instance, X.System,
                                           XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO, Modes, &Modes,
                                           BlendModes.data());
  if (XR_FAILED(Res) || Modes == 0) {
    AWhyNot = "the OpenXR headset names no way to show a picture";
    return nullptr;
  }
  X.BlendMode = BlendModes[0];
  // One size for both eyes, so that they sit side by side in one picture.
  Result->FEyeSize = {
      int(std::max(Views[0].recommendedImageRectWidth, Views[1].recommendedImageRectWidth)),
      int(std::max(Views[0].recommendedImageRectHeight, Views[1].recommendedImageRectHeight))};
  return Result;
}

void TOpenXrSession::Start() {
  TImpl& X = *FImpl;
  XrGraphicsRequirementsOpenGLKHR Requirements =
      Typed<XrGraphicsRequirementsOpenGLKHR>(XR_TYPE_GRAPHICS_REQUIREMENTS_OPENGL_KHR);
  Check(X.GetRequirements(X.Instance, X.System, &Requirements),
        "xrGetOpenGLGraphicsRequirementsKHR");
  GLint Major = 0, Minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &Major);
  glGetIntegerv(GL_MINOR_VERSION, &Minor);
  const XrVersion Have = XR_MAKE_VERSION(Major, Minor, 0);
  if (Have < Requirements.minApiVersionSupported) {
    char Message[160];
    std::snprintf(Message, sizeof Message,
                  "OpenXR: the runtime needs OpenGL %d.%d; this driver offers %d.%d.",
                  int(XR_VERSION_MAJOR(Requirements.minApiVersionSupported)),
                  int(XR_VERSION_MINOR(Requirements.minApiVersionSupported)), Major, Minor);
    throw EOpenXrError(Message);
  }

  // The binding is the window's GLX context, as SDL made it on X11.
  XrGraphicsBindingOpenGLXlibKHR Binding =
      Typed<XrGraphicsBindingOpenGLXlibKHR>(XR_TYPE_GRAPHICS_BINDING_OPENGL_XLIB_KHR);
  Binding.xDisplay = glXGetCurrentDisplay();
  Binding.glxContext = glXGetCurrentContext();
  Binding.glxDrawable = glXGetCurrentDrawable();
  if (!Binding.xDisplay || !Binding.glxContext)
    throw EOpenXrError("OpenXR: the window has no GLX context (the Xlib binding needs one).");
  int ConfigId = 0;
  glXQueryContext(Binding.xDisplay, Binding.glxContext, GLX_FBCONFIG_ID, &ConfigId);
  const int Attributes[] = {GLX_FBCONFIG_ID, ConfigId, None};
  int Configs = 0;
  GLXFBConfig* Config =
      glXChooseFBConfig(Binding.xDisplay, DefaultScreen(Binding.xDisplay), Attributes, &Configs);
  if (Config && Configs > 0) {
    Binding.glxFBConfig = Config[0];
    int Visual = 0;
    glXGetFBConfigAttrib(Binding.xDisplay, Config[0], GLX_VISUAL_ID, &Visual);
    Binding.visualid = std::uint32_t(Visual);
  }
  if (Config) XFree(Config);

  XrSessionCreateInfo SessionInfo = Typed<XrSessionCreateInfo>(XR_TYPE_SESSION_CREATE_INFO);
  SessionInfo.next = &Binding;
  SessionInfo.systemId = X.System;
  Check(xrCreateSession(X.Instance, &SessionInfo, &X.Session), "xrCreateSession");

  X.CreateLocal({{0, 0, 0, 1}, {0, 0, 0}});
  XrReferenceSpaceCreateInfo ViewInfo =
      Typed<XrReferenceSpaceCreateInfo>(XR_TYPE_REFERENCE_SPACE_CREATE_INFO);
  ViewInfo.referenceSpaceType = XR_REFERENCE_SPACE_TYPE_VIEW;
  ViewInfo.poseInReferenceSpace = {{0, 0, 0, 1}, {0, 0, 0}};
  Check(xrCreateReferenceSpace(X.Session, &ViewInfo, &X.View), "xrCreateReferenceSpace");

  // The runtime's order is its preference; the scene's colours are already display-encoded, so
  // an sRGB image stores them as they are.
  std::uint32_t Count = 0;
  Check(xrEnumerateSwapchainFormats(X.Session, 0, &Count, nullptr), "xrEnumerateSwapchainFormats");
  std::vector<std::int64_t> Formats(Count);
  Check(xrEnumerateSwapchainFormats(X.Session, Count, &Count, Formats.data()),
        "xrEnumerateSwapchainFormats");
  FFormat = 0;
  for (std::int64_t F : Formats)
    if (F == GL_SRGB8_ALPHA8 || F == GL_RGBA8) {
      FFormat = F;
      break;
    }
  if (FFormat == 0) throw EOpenXrError("OpenXR: the runtime offers no 8-bit RGBA swapchain.");

  for (std::uint32_t E = 0; E < kEyes; ++E) {
    XrSwapchainCreateInfo Info = Typed<XrSwapchainCreateInfo>(XR_TYPE_SWAPCHAIN_CREATE_INFO);
    Info.usageFlags = XR_SWAPCHAIN_USAGE_COLOR_ATTACHMENT_BIT | XR_SWAPCHAIN_USAGE_TRANSFER_DST_BIT;
    Info.format = FFormat;
    Info.sampleCount = 1;
    Info.width = std::uint32_t(FEyeSize.w);
    Info.height = std::uint32_t(FEyeSize.h);
    Info.faceCount = 1;
    Info.arraySize = 1;
    Info.mipCount = 1;
    Check(xrCreateSwapchain(X.Session, &Info, &X.Swapchains[E]), "xrCreateSwapchain");
    std::uint32_t Images = 0;
    Check(xrEnumerateSwapchainImages(X.Swapchains[E], 0, &Images, nullptr),
          "xrEnumerateSwapchainImages");
    X.Images[E].assign(Images,
                       Typed<XrSwapchainImageOpenGLKHR>(XR_TYPE_SWAPCHAIN_IMAGE_OPENGL_KHR));
    Check(xrEnumerateSwapchainImages(
              X.Swapchains[E], Images, &Images,
              reinterpret_cast<XrSwapchainImageBaseHeader*>(X.Images[E].data())),
          "xrEnumerateSwapchainImages");
  }
  glGenFramebuffers(1, &X.ReadFbo);
  glGenFramebuffers(1, &X.DrawFbo);
}

void TOpenXrSession::PollEvents() {
  TImpl& X = *FImpl;
  for (;;) {
    XrEventDataBuffer Event = Typed<XrEventDataBuffer>(XR_TYPE_EVENT_DATA_BUFFER);
    const XrResult Res = xrPollEvent(X.Instance, &Event);
    if (Res == XR_EVENT_UNAVAILABLE) return;
    Check(Res, "xrPollEvent");
    if (Event.type == XR_TYPE_EVENT_DATA_INSTANCE_LOSS_PENDING) {
      FRunState = TXrRunState::xsLost;
      return;
    }
    if (Event.type != XR_TYPE_EVENT_DATA_SESSION_STATE_CHANGED) continue;
    const auto& Changed = reinterpret_cast<const XrEventDataSessionStateChanged&>(Event);
    X.State = Changed.state;
    FVisible = X.State == XR_SESSION_STATE_VISIBLE || X.State == XR_SESSION_STATE_FOCUSED;
    switch (X.State) {
      case XR_SESSION_STATE_READY: {
        XrSessionBeginInfo Info = Typed<XrSessionBeginInfo>(XR_TYPE_SESSION_BEGIN_INFO);
        Info.primaryViewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
        Check(xrBeginSession(X.Session, &Info), "xrBeginSession");
        FRunState = TXrRunState::xsRunning;
        break;
      }
      case XR_SESSION_STATE_STOPPING:
        Check(xrEndSession(X.Session), "xrEndSession");
        FRunState = TXrRunState::xsWaiting;
        break;
      case XR_SESSION_STATE_EXITING:
        FRunState = TXrRunState::xsExiting;
        return;
      case XR_SESSION_STATE_LOSS_PENDING:
        FRunState = TXrRunState::xsLost;
        return;
      default:
        break;
    }
  }
}

bool TOpenXrSession::BeginFrame() {
  TImpl& X = *FImpl;
  XrFrameWaitInfo WaitInfo = Typed<XrFrameWaitInfo>(XR_TYPE_FRAME_WAIT_INFO);
  X.Frame = Typed<XrFrameState>(XR_TYPE_FRAME_STATE);
  Check(xrWaitFrame(X.Session, &WaitInfo, &X.Frame), "xrWaitFrame");
  XrFrameBeginInfo BeginInfo = Typed<XrFrameBeginInfo>(XR_TYPE_FRAME_BEGIN_INFO);
  Check(xrBeginFrame(X.Session, &BeginInfo), "xrBeginFrame");
  X.FrameBegun = true;
  X.Submitted[0] = X.Submitted[1] = false;
  X.LastTime = X.Frame.predictedDisplayTime;
  if (!X.Frame.shouldRender || !FVisible) return false;

  XrViewLocateInfo Locate = Typed<XrViewLocateInfo>(XR_TYPE_VIEW_LOCATE_INFO);
  Locate.viewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
  Locate.displayTime = X.Frame.predictedDisplayTime;
  Locate.space = X.Local;
  XrViewState ViewState = Typed<XrViewState>(XR_TYPE_VIEW_STATE);
  std::uint32_t Count = 0;
  for (XrView& V : X.Views) V = Typed<XrView>(XR_TYPE_VIEW);
  Check(xrLocateViews(X.Session, &Locate, &ViewState, kEyes, &Count, X.Views), "xrLocateViews");
  // Untracked orientation: no picture this frame (the last poses stay for the walk).
  X.ViewsValid = Count == kEyes && (ViewState.viewStateFlags & XR_VIEW_STATE_ORIENTATION_VALID_BIT);
  if (!X.ViewsValid) return false;
  for (std::uint32_t E = 0; E < kEyes; ++E) {
    FEyePose[E] = ToHmd(X.Views[E].pose);
    FEyeFov[E] = ToHmd(X.Views[E].fov);
  }
  return true;
}

void TOpenXrSession::SubmitEye(int AEye, unsigned ATexture, int AX, int AY) {
  TImpl& X = *FImpl;
  const std::size_t E = Eye(AEye);
  std::uint32_t Index = 0;
  XrSwapchainImageAcquireInfo Acquire =
      Typed<XrSwapchainImageAcquireInfo>(XR_TYPE_SWAPCHAIN_IMAGE_ACQUIRE_INFO);
  Check(xrAcquireSwapchainImage(X.Swapchains[E], &Acquire, &Index), "xrAcquireSwapchainImage");
  XrSwapchainImageWaitInfo Wait =
      Typed<XrSwapchainImageWaitInfo>(XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO);
  Wait.timeout = XR_INFINITE_DURATION;
  Check(xrWaitSwapchainImage(X.Swapchains[E], &Wait), "xrWaitSwapchainImage");

  GLint Read = 0, Draw = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &Read);
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &Draw);
  const GLboolean Srgb = glIsEnabled(GL_FRAMEBUFFER_SRGB);
  const GLboolean Scissor = glIsEnabled(GL_SCISSOR_TEST);
  // A raw copy: the bytes are display-encoded whatever the image's format says.
  glDisable(GL_FRAMEBUFFER_SRGB);
  glDisable(GL_SCISSOR_TEST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, X.ReadFbo);
  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, ATexture, 0);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, X.DrawFbo);
  glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                         X.Images[E][Index].image, 0);
  glBlitFramebuffer(AX, AY, AX + FEyeSize.w, AY + FEyeSize.h, 0, 0, FEyeSize.w, FEyeSize.h,
                    GL_COLOR_BUFFER_BIT, GL_NEAREST);
  glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
  glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, GLuint(Read));
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(Draw));
  if (Srgb) glEnable(GL_FRAMEBUFFER_SRGB);
  if (Scissor) glEnable(GL_SCISSOR_TEST);

  XrSwapchainImageReleaseInfo Release =
      Typed<XrSwapchainImageReleaseInfo>(XR_TYPE_SWAPCHAIN_IMAGE_RELEASE_INFO);
  Check(xrReleaseSwapchainImage(X.Swapchains[E], &Release), "xrReleaseSwapchainImage");
  X.Submitted[E] = true;
}

void TOpenXrSession::EndFrame() {
  TImpl& X = *FImpl;
  if (!X.FrameBegun) return;
  X.FrameBegun = false;
  XrCompositionLayerProjectionView Views[kEyes];
  XrCompositionLayerProjection Layer =
      Typed<XrCompositionLayerProjection>(XR_TYPE_COMPOSITION_LAYER_PROJECTION);
  const XrCompositionLayerBaseHeader* Layers[1] = {
      reinterpret_cast<const XrCompositionLayerBaseHeader*>(&Layer)};
  XrFrameEndInfo Info = Typed<XrFrameEndInfo>(XR_TYPE_FRAME_END_INFO);
  Info.displayTime = X.Frame.predictedDisplayTime;
  Info.environmentBlendMode = X.BlendMode;
  if (X.ViewsValid && X.Submitted[0] && X.Submitted[1]) {
    for (std::uint32_t E = 0; E < kEyes; ++E) {
      Views[E] = Typed<XrCompositionLayerProjectionView>(XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW);
      Views[E].pose = X.Views[E].pose;
      Views[E].fov = X.Views[E].fov;
      Views[E].subImage.swapchain = X.Swapchains[E];
      Views[E].subImage.imageRect = {{0, 0}, {FEyeSize.w, FEyeSize.h}};
      Views[E].subImage.imageArrayIndex = 0;
    }
    Layer.space = X.Local;
    Layer.viewCount = kEyes;
    Layer.views = Views;
    Info.layerCount = 1;
    Info.layers = Layers;
  }
  Check(xrEndFrame(X.Session, &Info), "xrEndFrame");
}

void TOpenXrSession::Recenter() {
  TImpl& X = *FImpl;
  if (X.Session == XR_NULL_HANDLE || X.LastTime <= 0) return;
  XrSpaceLocation Location = Typed<XrSpaceLocation>(XR_TYPE_SPACE_LOCATION);
  Check(xrLocateSpace(X.View, X.Local, X.LastTime, &Location), "xrLocateSpace");
  const XrSpaceLocationFlags Needed =
      XR_SPACE_LOCATION_ORIENTATION_VALID_BIT | XR_SPACE_LOCATION_POSITION_VALID_BIT;
  if ((Location.locationFlags & Needed) != Needed) return;
  // The head's yaw alone: the new space stays level.
  const XrVector3f Gaze = Rotate(Location.pose.orientation, {0.0f, 0.0f, -1.0f});
  const float Yaw = std::atan2(-Gaze.x, -Gaze.z);
  const XrPosef Head{{0.0f, std::sin(Yaw / 2), 0.0f, std::cos(Yaw / 2)}, Location.pose.position};
  X.CreateLocal(Compose(X.LocalPose, Head));
}

void TOpenXrSession::RequestExit() {
  TImpl& X = *FImpl;
  if (X.Session != XR_NULL_HANDLE && FRunState == TXrRunState::xsRunning)
    xrRequestExitSession(X.Session);
}

void TOpenXrSession::MirrorToWindow(unsigned ATexture, int ASourceWidth, int ASourceHeight,
                                    int AWidth, int AHeight) {
  TImpl& X = *FImpl;
  if (AWidth <= 0 || AHeight <= 0 || ASourceWidth <= 0 || ASourceHeight <= 0) return;
  if (!X.MirrorProgram) {
    const GLuint Vertex = CompileShader(GL_VERTEX_SHADER, kMirrorVertex);
    const GLuint Fragment = CompileShader(GL_FRAGMENT_SHADER, kMirrorFragment);
    X.MirrorProgram = glCreateProgram();
    glAttachShader(X.MirrorProgram, Vertex);
    glAttachShader(X.MirrorProgram, Fragment);
    glLinkProgram(X.MirrorProgram);
    glDeleteShader(Vertex);
    glDeleteShader(Fragment);
    glGenVertexArrays(1, &X.MirrorVao);
  }
  GLint Program = 0, Vao = 0, Active = 0, Texture = 0, Sampler = 0, Draw = 0, Viewport[4] = {};
  glGetIntegerv(GL_CURRENT_PROGRAM, &Program);
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &Vao);
  glGetIntegerv(GL_ACTIVE_TEXTURE, &Active);
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &Draw);
  glGetIntegerv(GL_VIEWPORT, Viewport);
  GLfloat Clear[4] = {};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, Clear);
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &Texture);
  glGetIntegerv(GL_SAMPLER_BINDING, &Sampler);
  const GLenum Switches[] = {GL_DEPTH_TEST, GL_CULL_FACE, GL_BLEND, GL_SCISSOR_TEST,
                             GL_FRAMEBUFFER_SRGB};
  GLboolean Was[std::size(Switches)];
  for (std::size_t I = 0; I < std::size(Switches); ++I) {
    Was[I] = glIsEnabled(Switches[I]);
    glDisable(Switches[I]);
  }

  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
  glViewport(0, 0, AWidth, AHeight);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  // The largest rectangle of the picture's shape, centred.
  const double Scale = std::min(double(AWidth) / ASourceWidth, double(AHeight) / ASourceHeight);
  const int W = int(ASourceWidth * Scale), H = int(ASourceHeight * Scale);
  glViewport((AWidth - W) / 2, (AHeight - H) / 2, W, H);
  glUseProgram(X.MirrorProgram);
  glUniform1i(glGetUniformLocation(X.MirrorProgram, "Eyes"), 0);
  glBindTexture(GL_TEXTURE_2D, ATexture);
  glBindSampler(0, 0);
  glBindVertexArray(X.MirrorVao);
  glDrawArrays(GL_TRIANGLES, 0, 3);

  glBindVertexArray(GLuint(Vao));
  glBindSampler(0, GLuint(Sampler));
  glBindTexture(GL_TEXTURE_2D, GLuint(Texture));
  glActiveTexture(GLenum(Active));
  glUseProgram(GLuint(Program));
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, GLuint(Draw));
  glViewport(Viewport[0], Viewport[1], Viewport[2], Viewport[3]);
  glClearColor(Clear[0], Clear[1], Clear[2], Clear[3]);
  for (std::size_t I = 0; I < std::size(Switches); ++I)
    if (Was[I]) glEnable(Switches[I]);
}
