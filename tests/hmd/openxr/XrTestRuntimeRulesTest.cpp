// The test runtime keeps OpenXR's rules, so that a viewer breaking them fails against it: the
// two-call idiom, handles, the order of the session, frame and swapchain calls, and the checks of
// a submitted layer. Raw OpenXR calls through the Khronos loader, on a GLX context under Xvfb.
// GoogleTest before Xlib, whose macros (None, Bool) would clash with its templates.
#include <gtest/gtest.h>
// clang-format off
#include <epoxy/gl.h>
#include <epoxy/glx.h>
// clang-format on
#define XR_USE_PLATFORM_XLIB
#define XR_USE_GRAPHICS_API_OPENGL
#include <openxr/openxr.h>
#include <openxr/openxr_platform.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/support/GLTestContext.h"

namespace {

template <typename T>
T Typed(XrStructureType AType) {
  T Record{};
  Record.type = AType;
  return Record;
}

class XrTestRuntimeRulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XR_RUNTIME_JSON", QUENLOR_XRTEST_MANIFEST, 1);
    setenv("QUENLOR_XRTEST", "", 1);
    auto Info = Typed<XrInstanceCreateInfo>(XR_TYPE_INSTANCE_CREATE_INFO);
    std::snprintf(Info.applicationInfo.applicationName, XR_MAX_APPLICATION_NAME_SIZE, "rules");
    Info.applicationInfo.apiVersion = XR_MAKE_VERSION(1, 0, 0);
    const char* const Extensions[] = {XR_KHR_OPENGL_ENABLE_EXTENSION_NAME};
    Info.enabledExtensionCount = 1;
    Info.enabledExtensionNames = Extensions;
    ASSERT_EQ(xrCreateInstance(&Info, &Instance), XR_SUCCESS);
    auto SystemInfo = Typed<XrSystemGetInfo>(XR_TYPE_SYSTEM_GET_INFO);
    SystemInfo.formFactor = XR_FORM_FACTOR_HEAD_MOUNTED_DISPLAY;
    ASSERT_EQ(xrGetSystem(Instance, &SystemInfo, &System), XR_SUCCESS);
    ASSERT_EQ(xrGetInstanceProcAddr(Instance, "xrGetOpenGLGraphicsRequirementsKHR",
                                    reinterpret_cast<PFN_xrVoidFunction*>(&GetRequirements)),
              XR_SUCCESS);
    Binding.xDisplay = glXGetCurrentDisplay();
    Binding.glxContext = glXGetCurrentContext();
    Binding.glxDrawable = glXGetCurrentDrawable();
    int Count = 0;
    GLXFBConfig* Configs =
        glXGetFBConfigs(Binding.xDisplay, DefaultScreen(Binding.xDisplay), &Count);
    ASSERT_GT(Count, 0);
    Binding.glxFBConfig = Configs[0];
    XFree(Configs);
  }
  void TearDown() override {
    if (Instance != XR_NULL_HANDLE) xrDestroyInstance(Instance);
  }

  XrResult CreateSession() {
    auto Info = Typed<XrSessionCreateInfo>(XR_TYPE_SESSION_CREATE_INFO);
    Info.next = &Binding;
    Info.systemId = System;
    return xrCreateSession(Instance, &Info, &Session);
  }
  void Requirements() {
    auto Req = Typed<XrGraphicsRequirementsOpenGLKHR>(XR_TYPE_GRAPHICS_REQUIREMENTS_OPENGL_KHR);
    ASSERT_EQ(GetRequirements(Instance, System, &Req), XR_SUCCESS);
  }
  XrResult CreateSwapchain(std::int64_t AFormat, XrSwapchain& ASwapchain) {
    auto Info = Typed<XrSwapchainCreateInfo>(XR_TYPE_SWAPCHAIN_CREATE_INFO);
    Info.format = AFormat;
    Info.sampleCount = Info.faceCount = Info.arraySize = Info.mipCount = 1;
    Info.width = 64;
    Info.height = 32;
    return xrCreateSwapchain(Session, &Info, &ASwapchain);
  }
  void DrainEvents() {
    for (;;) {
      auto Event = Typed<XrEventDataBuffer>(XR_TYPE_EVENT_DATA_BUFFER);
      if (xrPollEvent(Instance, &Event) != XR_SUCCESS) return;
    }
  }

  GLTestContext Context{64, 64};
  XrInstance Instance = XR_NULL_HANDLE;
  XrSystemId System = XR_NULL_SYSTEM_ID;
  XrSession Session = XR_NULL_HANDLE;
  PFN_xrGetOpenGLGraphicsRequirementsKHR GetRequirements = nullptr;
  XrGraphicsBindingOpenGLXlibKHR Binding =
      Typed<XrGraphicsBindingOpenGLXlibKHR>(XR_TYPE_GRAPHICS_BINDING_OPENGL_XLIB_KHR);
};

TEST_F(XrTestRuntimeRulesTest, SessionCallsKeepTheirOrderAndHandlesAreChecked) {
  // The graphics requirements first.
  EXPECT_EQ(CreateSession(), XR_ERROR_GRAPHICS_REQUIREMENTS_CALL_MISSING);
  Requirements();
  // A handheld system is unavailable, a head-mounted one is there.
  auto Handheld = Typed<XrSystemGetInfo>(XR_TYPE_SYSTEM_GET_INFO);
  Handheld.formFactor = XR_FORM_FACTOR_HANDHELD_DISPLAY;
  XrSystemId Other = XR_NULL_SYSTEM_ID;
  EXPECT_EQ(xrGetSystem(Instance, &Handheld, &Other), XR_ERROR_FORM_FACTOR_UNAVAILABLE);
  ASSERT_EQ(CreateSession(), XR_SUCCESS);

  const XrSession Bogus = reinterpret_cast<XrSession>(std::uintptr_t(0xdead0));
  auto Begin = Typed<XrSessionBeginInfo>(XR_TYPE_SESSION_BEGIN_INFO);
  Begin.primaryViewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
  EXPECT_EQ(xrBeginSession(Bogus, &Begin), XR_ERROR_HANDLE_INVALID);
  EXPECT_EQ(xrDestroySpace(reinterpret_cast<XrSpace>(std::uintptr_t(0xdead0))),
            XR_ERROR_HANDLE_INVALID);
  // Frames before the session runs, then the begin.
  auto State = Typed<XrFrameState>(XR_TYPE_FRAME_STATE);
  EXPECT_EQ(xrWaitFrame(Session, nullptr, &State), XR_ERROR_SESSION_NOT_RUNNING);
  DrainEvents();
  ASSERT_EQ(xrBeginSession(Session, &Begin), XR_SUCCESS);
  EXPECT_EQ(xrBeginSession(Session, &Begin), XR_ERROR_SESSION_RUNNING);
  // Frame calls in order: wait, begin, end.
  auto FrameBegin = Typed<XrFrameBeginInfo>(XR_TYPE_FRAME_BEGIN_INFO);
  auto FrameEnd = Typed<XrFrameEndInfo>(XR_TYPE_FRAME_END_INFO);
  FrameEnd.environmentBlendMode = XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
  EXPECT_EQ(xrBeginFrame(Session, &FrameBegin), XR_ERROR_CALL_ORDER_INVALID);
  ASSERT_EQ(xrWaitFrame(Session, nullptr, &State), XR_SUCCESS);
  FrameEnd.displayTime = State.predictedDisplayTime;
  EXPECT_EQ(xrEndFrame(Session, &FrameEnd), XR_ERROR_CALL_ORDER_INVALID);
  ASSERT_EQ(xrBeginFrame(Session, &FrameBegin), XR_SUCCESS);
  FrameEnd.environmentBlendMode = XR_ENVIRONMENT_BLEND_MODE_ADDITIVE;
  EXPECT_EQ(xrEndFrame(Session, &FrameEnd), XR_ERROR_ENVIRONMENT_BLEND_MODE_UNSUPPORTED);
  FrameEnd.environmentBlendMode = XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
  EXPECT_EQ(xrEndFrame(Session, &FrameEnd), XR_SUCCESS);
  // Ending is for a stopping session only.
  EXPECT_EQ(xrEndSession(Session), XR_ERROR_SESSION_NOT_STOPPING);
  EXPECT_EQ(xrDestroySession(Session), XR_SUCCESS);
  EXPECT_EQ(xrDestroySession(Session), XR_ERROR_HANDLE_INVALID);
}

TEST_F(XrTestRuntimeRulesTest, TwoCallIdiomAndSwapchainImagesInOrder) {
  Requirements();
  ASSERT_EQ(CreateSession(), XR_SUCCESS);
  // The count alone, too little room, then all of them.
  std::uint32_t Count = 0;
  ASSERT_EQ(xrEnumerateSwapchainFormats(Session, 0, &Count, nullptr), XR_SUCCESS);
  ASSERT_GE(Count, 2u);
  std::vector<std::int64_t> Formats(Count);
  std::uint32_t Written = 0;
  EXPECT_EQ(xrEnumerateSwapchainFormats(Session, Count - 1, &Written, Formats.data()),
            XR_ERROR_SIZE_INSUFFICIENT);
  EXPECT_EQ(Written, Count);
  ASSERT_EQ(xrEnumerateSwapchainFormats(Session, Count, &Written, Formats.data()), XR_SUCCESS);
  EXPECT_EQ(Formats[0], GL_SRGB8_ALPHA8);

  XrSwapchain Chain = XR_NULL_HANDLE;
  EXPECT_EQ(CreateSwapchain(GL_RGBA16F, Chain), XR_ERROR_SWAPCHAIN_FORMAT_UNSUPPORTED);
  ASSERT_EQ(CreateSwapchain(GL_RGBA8, Chain), XR_SUCCESS);
  ASSERT_EQ(xrEnumerateSwapchainImages(Chain, 0, &Count, nullptr), XR_SUCCESS);
  std::vector<XrSwapchainImageOpenGLKHR> Images(
      Count, Typed<XrSwapchainImageOpenGLKHR>(XR_TYPE_SWAPCHAIN_IMAGE_OPENGL_KHR));
  auto* Base = reinterpret_cast<XrSwapchainImageBaseHeader*>(Images.data());
  EXPECT_EQ(xrEnumerateSwapchainImages(Chain, Count - 1, &Written, Base),
            XR_ERROR_SIZE_INSUFFICIENT);
  ASSERT_EQ(xrEnumerateSwapchainImages(Chain, Count, &Written, Base), XR_SUCCESS);
  for (const XrSwapchainImageOpenGLKHR& I : Images) EXPECT_TRUE(glIsTexture(I.image));

  // Acquire, wait, release: each only after the one before.
  auto Wait = Typed<XrSwapchainImageWaitInfo>(XR_TYPE_SWAPCHAIN_IMAGE_WAIT_INFO);
  Wait.timeout = XR_INFINITE_DURATION;
  EXPECT_EQ(xrWaitSwapchainImage(Chain, &Wait), XR_ERROR_CALL_ORDER_INVALID);
  std::uint32_t Index = 99;
  ASSERT_EQ(xrAcquireSwapchainImage(Chain, nullptr, &Index), XR_SUCCESS);
  EXPECT_LT(Index, Count);
  EXPECT_EQ(xrReleaseSwapchainImage(Chain, nullptr), XR_ERROR_CALL_ORDER_INVALID);
  EXPECT_EQ(xrWaitSwapchainImage(Chain, &Wait), XR_SUCCESS);
  EXPECT_EQ(xrReleaseSwapchainImage(Chain, nullptr), XR_SUCCESS);

  // A layer's rectangle must lie inside its swapchain.
  DrainEvents();
  auto Begin = Typed<XrSessionBeginInfo>(XR_TYPE_SESSION_BEGIN_INFO);
  Begin.primaryViewConfigurationType = XR_VIEW_CONFIGURATION_TYPE_PRIMARY_STEREO;
  ASSERT_EQ(xrBeginSession(Session, &Begin), XR_SUCCESS);
  auto SpaceInfo = Typed<XrReferenceSpaceCreateInfo>(XR_TYPE_REFERENCE_SPACE_CREATE_INFO);
  SpaceInfo.referenceSpaceType = XR_REFERENCE_SPACE_TYPE_LOCAL;
  SpaceInfo.poseInReferenceSpace.orientation.w = 1;
  XrSpace Local = XR_NULL_HANDLE;
  ASSERT_EQ(xrCreateReferenceSpace(Session, &SpaceInfo, &Local), XR_SUCCESS);
  auto State = Typed<XrFrameState>(XR_TYPE_FRAME_STATE);
  ASSERT_EQ(xrWaitFrame(Session, nullptr, &State), XR_SUCCESS);
  ASSERT_EQ(xrBeginFrame(Session, nullptr), XR_SUCCESS);
  XrCompositionLayerProjectionView Views[2];
  for (XrCompositionLayerProjectionView& V : Views) {
    V = Typed<XrCompositionLayerProjectionView>(XR_TYPE_COMPOSITION_LAYER_PROJECTION_VIEW);
    V.pose.orientation.w = 1;
    V.subImage.swapchain = Chain;
    V.subImage.imageRect = {{0, 0}, {64, 33}};  // one row too many
  }
  auto Layer = Typed<XrCompositionLayerProjection>(XR_TYPE_COMPOSITION_LAYER_PROJECTION);
  Layer.space = Local;
  Layer.viewCount = 2;
  Layer.views = Views;
  const XrCompositionLayerBaseHeader* Layers[] = {
      reinterpret_cast<const XrCompositionLayerBaseHeader*>(&Layer)};
  auto End = Typed<XrFrameEndInfo>(XR_TYPE_FRAME_END_INFO);
  End.displayTime = State.predictedDisplayTime;
  End.environmentBlendMode = XR_ENVIRONMENT_BLEND_MODE_OPAQUE;
  End.layerCount = 1;
  End.layers = Layers;
  EXPECT_EQ(xrEndFrame(Session, &End), XR_ERROR_SWAPCHAIN_RECT_INVALID);
  for (XrCompositionLayerProjectionView& V : Views) V.subImage.imageRect.extent.height = 32;
  EXPECT_EQ(xrEndFrame(Session, &End), XR_SUCCESS);
}

}  // namespace
