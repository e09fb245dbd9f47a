// THeadset, the display connection, over the simulated headset of the runtime.
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "hmd/HmdRuntime.h"
#include "tests/hmd/HmdTestSupport.h"

namespace {

TEST(CapabilitySets, EachElementMapsToItsRuntimeBit) {
  const std::pair<THmdCap, unsigned> Hmd[] = {
      {hcPresent, 0x1},         {hcAvailable, 0x2},           {hcCaptured, 0x4},
      {hcExtendDesktop, 0x8},   {hcNoMirrorToWindow, 0x2000}, {hcDisplayOff, 0x40},
      {hcLowPersistence, 0x80}, {hcDynamicPrediction, 0x200}, {hcNoVSync, 0x1000}};
  unsigned All = 0;
  THmdCaps AllSet;
  for (auto [Cap, Bit] : Hmd) {
    EXPECT_EQ(FlagWord(THmdCaps{Cap}), Bit) << int(Cap);
    All |= Bit;
    AllSet.Include(Cap);
  }
  EXPECT_EQ(FlagWord(AllSet), All);

  const std::pair<TDistortionCap, unsigned> Distortion[] = {
      {dcChromatic, 0x1},  {dcTimeWarp, 0x2},       {dcVignette, 0x8},
      {dcNoRestore, 0x10}, {dcFlipInput, 0x20},     {dcSRGB, 0x40},
      {dcOverdrive, 0x80}, {dcHqDistortion, 0x100}, {dcProfileNoTimewarpSpinWaits, 0x10000}};
  for (auto [Cap, Bit] : Distortion) EXPECT_EQ(FlagWord(TDistortionCaps{Cap}), Bit) << int(Cap);

  const std::pair<TTrackingCap, unsigned> Tracking[] = {
      {tcOrientation, 0x10}, {tcMagYawCorrection, 0x20}, {tcPosition, 0x40}, {tcIdle, 0x100}};
  for (auto [Cap, Bit] : Tracking) EXPECT_EQ(FlagWord(TTrackingCaps{Cap}), Bit) << int(Cap);
  EXPECT_EQ(FlagWord(THmdCaps{}), 0u);
}

TEST(CapabilitySets, TheConnectionsSetsGiveTheRuntimesWords) {
  EXPECT_EQ(FlagWord(THmdCaps{hcLowPersistence, hcDynamicPrediction}), 0x280u);
  EXPECT_EQ(FlagWord(TTrackingCaps{tcOrientation, tcMagYawCorrection, tcPosition}), 0x70u);
  EXPECT_EQ(
      FlagWord(TDistortionCaps{dcChromatic, dcTimeWarp, dcVignette, dcOverdrive, dcHqDistortion}),
      0x18Bu);
}

std::string MessageOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const Exception& E) {
    return E.what();
  }
  return "(no error)";
}

TEST(HeadsetErrors, EachFailingStepRaisesItsMessage) {
  {
    ScopedDeviceEnv Env(std::nullopt);
    EXPECT_EQ(MessageOf([] { THeadset H(nullptr); }), "Failed to create handle.");
    EXPECT_EQ(MessageOf([] { THeadset::CreateDebug(nullptr); }), "(no error)")
        << "a debug device needs no hardware";
  }
  {
    ScopedDeviceEnv Env(std::string("simulated,fail-create"));
    EXPECT_EQ(MessageOf([] { THeadset H(nullptr); }), "Failed to create handle.");
    EXPECT_EQ(MessageOf([] { THeadset::CreateDebug(nullptr); }), "Failed to create handle.");
  }
  {
    ScopedDeviceEnv Env(std::string("simulated,fail-tracking"));
    THeadset H(nullptr);
    EXPECT_EQ(MessageOf([&] { H.InitializeOpenGL(1); }),
              "Failed to configure tracking parameters.");
    EXPECT_EQ(MessageOf([&] { H.Resize(800, 480); }), "(no error)");
  }
  {
    ScopedDeviceEnv Env(std::string("simulated,fail-rendering"));
    THeadset H(nullptr);
    EXPECT_EQ(MessageOf([&] { H.InitializeOpenGL(1); }), "(no error)");
    EXPECT_EQ(MessageOf([&] { H.Resize(800, 480); }), "Failed to configure rendering parameters.");
  }
  {
    ScopedDeviceEnv Env(std::string("simulated"));
    THeadset H(nullptr);
    EXPECT_EQ(MessageOf([&] { H.Resize(0, 0); }), "(no error)") << "a minimised window is valid";
    EXPECT_THROW(H.GetFovTextureSize(hmdEyeType(2)), ERangeError);
    EXPECT_THROW(H.EyeRenderPose(hmdEyeType(-1)), ERangeError);
  }
}

TEST(HeadsetViewports, OddWidthLeavesTheMiddleColumnToNeitherEye) {
  struct Case {
    int W;
    int LeftW, RightX;
  } Cases[] = {{2365, 1182, 1183}, {2364, 1182, 1182}, {2340, 1170, 1170}, {1, 0, 1}, {0, 0, 0}};
  for (const Case& C : Cases) {
    const TeyeRenderViewport V = THeadset::EyeViewports({C.W, 77});
    EXPECT_EQ(V[hmdEye_Left].Pos.x, 0) << C.W;
    EXPECT_EQ(V[hmdEye_Left].Pos.y, 0) << C.W;
    EXPECT_EQ(V[hmdEye_Left].Size.w, C.LeftW) << C.W;
    EXPECT_EQ(V[hmdEye_Right].Pos.x, C.RightX) << C.W;
    EXPECT_EQ(V[hmdEye_Right].Pos.y, 0) << C.W;
    EXPECT_EQ(V[hmdEye_Right].Size.w, C.LeftW) << C.W;
    EXPECT_EQ(V[hmdEye_Left].Size.h, 77);
    EXPECT_EQ(V[hmdEye_Right].Size.h, 77);
    EXPECT_LE(V[hmdEye_Right].Pos.x + V[hmdEye_Right].Size.w, C.W);
  }
}

TEST(HeadsetOpenGL, BothEyeTexturesNameTheOneSharedTexture) {
  ScopedDeviceEnv Env(std::string("simulated"));
  THeadset H(nullptr);
  const hmdSizei Left = H.GetFovTextureSize(hmdEye_Left);
  const hmdSizei Right = H.GetFovTextureSize(hmdEye_Right);
  const hmdSizei Size = H.GetRenderTargetSize();
  EXPECT_EQ(Size.w, Left.w + Right.w);
  EXPECT_EQ(Size.h, std::max(Left.h, Right.h));
  EXPECT_EQ(Size.w, 2340);
  EXPECT_EQ(Size.h, 1440);

  H.InitializeOpenGL(42);
  for (hmdEyeType E : {hmdEye_Left, hmdEye_Right}) {
    const hmdTexture& T = H.EyeTexture(E);
    EXPECT_EQ(T.Header.API, hmdRenderAPI_OpenGL);
    EXPECT_EQ(T.Header.TextureSize.w, Size.w);
    EXPECT_EQ(T.Header.TextureSize.h, Size.h);
    EXPECT_EQ(std::memcmp(&T.Header.RenderViewport, &H.EyeRenderViewport(E), sizeof(hmdRecti)), 0);
    EXPECT_EQ(T.PlatformData[0], 42u);
    for (int I = 1; I < 8; ++I) EXPECT_EQ(T.PlatformData[I], 0u);
  }
  EXPECT_EQ(H.EyeRenderViewport(hmdEye_Right).Pos.x, 1170);
  EXPECT_EQ(hmd_GetEnabledCaps(H.Handle()) & 0x280u, 0x280u);
}

struct EyeCall {
  hmdEyeType Eye;  // recognised from the viewport
  hmdPosef Pose;
  hmdFovPort Fov;
  hmdVector3f ViewAdjust;
  hmdRecti Viewport;
};

struct OrderCase {
  const char* Env;
  hmdEyeType First, Second;
};

void PrintTo(const OrderCase& ACase, std::ostream* AOut) {
  *AOut << ACase.Env;
}

class HeadsetRenderFrame : public ::testing::TestWithParam<OrderCase> {};

TEST_P(HeadsetRenderFrame, CallsBackPerEyeInTheRuntimesOrderWithThatEyesData) {
  ScopedDeviceEnv Env(std::string(GetParam().Env));
  THeadset H(nullptr);
  H.InitializeOpenGL(7);
  H.Resize(800, 480);
  const hmdPosef Head{QuatAboutAxis(0, 1, 0, 0.3f), {0.05f, -0.02f, 0.1f}};
  hmd_SetSimulatedHeadPose(H.Handle(), Head);

  std::vector<EyeCall> Calls;
  H.BeginFrame();
  H.RenderFrame([&](const hmdPosef& APose, const hmdFovPort& AFov, const hmdVector3f& AViewAdjust,
                    const hmdRecti& AViewport) {
    Calls.push_back(
        {AViewport.Pos.x == 0 ? hmdEye_Left : hmdEye_Right, APose, AFov, AViewAdjust, AViewport});
  });
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_EQ(Calls[0].Eye, GetParam().First);
  EXPECT_EQ(Calls[1].Eye, GetParam().Second);
  for (const EyeCall& C : Calls) {
    const hmdEyeRenderDesc& Desc = H.EyeRenderDesc(C.Eye);
    EXPECT_EQ(std::memcmp(&C.Fov, &Desc.Fov, sizeof(hmdFovPort)), 0);
    EXPECT_EQ(std::memcmp(&C.Fov, &H.Handle()->DefaultEyeFov[C.Eye], sizeof(hmdFovPort)), 0);
    EXPECT_EQ(C.ViewAdjust.x, Desc.ViewAdjust.x);
    EXPECT_EQ(C.ViewAdjust.x < 0, C.Eye == hmdEye_Left) << "each eye on its own side";
    EXPECT_EQ(std::memcmp(&C.Viewport, &H.EyeRenderViewport(C.Eye), sizeof(hmdRecti)), 0);
    const hmdPosef Fresh = hmd_GetEyePose(H.Handle(), C.Eye);
    EXPECT_EQ(std::memcmp(&C.Pose, &Fresh, sizeof(hmdPosef)), 0);
    EXPECT_EQ(std::memcmp(&H.EyeRenderPose(C.Eye), &Fresh, sizeof(hmdPosef)), 0)
        << "kept for the end of the frame";
    EXPECT_NEAR(C.Pose.Orientation.y, Head.Orientation.y, 1e-6);
    EXPECT_NEAR(C.Pose.Position.x, Head.Position.x, 1e-6);
  }
  // The left eye's field of view reaches further to the left (its outer side).
  const EyeCall& LeftCall = Calls[0].Eye == hmdEye_Left ? Calls[0] : Calls[1];
  EXPECT_GT(LeftCall.Fov.LeftTan, LeftCall.Fov.RightTan);
  H.EndFrame();
}

INSTANTIATE_TEST_SUITE_P(Orders, HeadsetRenderFrame,
                         ::testing::Values(OrderCase{"simulated", hmdEye_Left, hmdEye_Right},
                                           OrderCase{"simulated,right-first", hmdEye_Right,
                                                     hmdEye_Left}),
                         [](const ::testing::TestParamInfo<OrderCase>& AInfo) {
                           return std::string(AInfo.param.First == hmdEye_Left ? "LeftFirst"
                                                                               : "RightFirst");
                         });

TEST(HeadsetFrame, AnErrorInTheFirstEyeLeavesTheOtherEyesOldPoseForTheEndOfTheFrame) {
  ScopedDeviceEnv Env(std::string("simulated,right-first"));
  THeadset H(nullptr);
  H.InitializeOpenGL(7);
  H.Resize(800, 480);
  hmd_SetSimulatedHeadPose(H.Handle(), {QuatAboutAxis(0, 1, 0, 0.3f), {0.1f, 0, 0}});
  const hmdPosef Zero{};
  EXPECT_EQ(std::memcmp(&H.EyeRenderPose(hmdEye_Left), &Zero, sizeof(hmdPosef)), 0);
  int Calls = 0;
  H.BeginFrame();
  EXPECT_THROW(
      H.RenderFrame([&](const hmdPosef&, const hmdFovPort&, const hmdVector3f&, const hmdRecti&) {
        ++Calls;
        throw std::runtime_error("eye failed");
      }),
      std::runtime_error);
  EXPECT_EQ(Calls, 1);
  EXPECT_NEAR(H.EyeRenderPose(hmdEye_Right).Position.x, 0.1f, 1e-6) << "drawn first: fresh";
  EXPECT_EQ(std::memcmp(&H.EyeRenderPose(hmdEye_Left), &Zero, sizeof(hmdPosef)), 0)
      << "never reached: still the previous frame's";
  H.EndFrame();  // the frame still ends, with the poses as they are
}

TEST(HeadsetFrame, RecenterPoseMakesTheCurrentHeadTheOrigin) {
  ScopedDeviceEnv Env(std::string("simulated"));
  THeadset H(nullptr);
  H.InitializeOpenGL(7);
  hmd_SetSimulatedHeadPose(H.Handle(), {QuatAboutAxis(0, 1, 0, -0.7f), {0.3f, 0.1f, -0.2f}});
  H.RecenterPose();
  H.RenderFrame([](const hmdPosef&, const hmdFovPort&, const hmdVector3f&, const hmdRecti&) {});
  for (hmdEyeType E : {hmdEye_Left, hmdEye_Right}) {
    const hmdPosef& P = H.EyeRenderPose(E);
    EXPECT_NEAR(P.Orientation.w, 1.0f, 1e-6);
    EXPECT_NEAR(P.Orientation.y, 0.0f, 1e-6);
    EXPECT_NEAR(P.Position.x, 0.0f, 1e-6);
    EXPECT_NEAR(P.Position.z, 0.0f, 1e-6);
  }
}

// The whole road on the GL driver: each eye drawn into its half of a colour texture by the
// callback, then distorted into the window.
TEST(HeadsetFrame, EyesDrawnIntoTheSharedTextureAppearInTheirLenses) {
  ScopedDeviceEnv Env(std::string("simulated"));
  constexpr int kW = 480, kH = 270;
  GLTestContext Context(kW, kH);
  THeadset H(Context.Window());
  const hmdSizei Size = H.GetRenderTargetSize();
  GLuint Texture, Fbo;
  glGenTextures(1, &Texture);
  glBindTexture(GL_TEXTURE_2D, Texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, Size.w, Size.h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glGenFramebuffers(1, &Fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, Fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, Texture, 0);
  ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));

  H.InitializeOpenGL(Texture);
  H.Resize(kW, kH);
  H.DismissHSWDisplay();
  H.BeginFrame();
  glBindFramebuffer(GL_FRAMEBUFFER, Fbo);
  glClearColor(1, 1, 1, 1);
  glClear(GL_COLOR_BUFFER_BIT);
  H.RenderFrame([](const hmdPosef&, const hmdFovPort&, const hmdVector3f& AViewAdjust,
                   const hmdRecti& AViewport) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(AViewport.Pos.x, AViewport.Pos.y, AViewport.Size.w, AViewport.Size.h);
    if (AViewAdjust.x < 0)
      glClearColor(0.8f, 0.2f, 0.1f, 1);
    else
      glClearColor(0.1f, 0.7f, 0.3f, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
  });
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  H.EndFrame();
  const PixelImage Image = ReadWindow(kW, kH);
  EXPECT_TRUE(ColourIs(Image.At(122, 135), {204, 51, 26}, 4));
  EXPECT_TRUE(ColourIs(Image.At(357, 135), {26, 178, 77}, 4));
  EXPECT_TRUE(IsBlack(Image.At(0, 0)));
  EXPECT_TRUE(IsBlack(Image.At(240, 135)));

  glDeleteFramebuffers(1, &Fbo);
  glDeleteTextures(1, &Texture);
}

TEST(RuntimeLifetime, StartingMasksFloatingPointTraps) {
  THmdRuntimeLifetime Runtime;
  volatile float Zero = 0.0f;
  volatile float One = 1.0f;
  EXPECT_TRUE(std::isinf(One / Zero));
  EXPECT_TRUE(std::isnan(Zero / Zero));
}

}  // namespace
