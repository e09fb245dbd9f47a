// The OpenXR display connection through the real Khronos loader against the test runtime
// (XR_RUNTIME_JSON names its manifest), on a GLX context under Xvfb: the session's states to a
// clean exit, the eye images and layer it submits (eyes of unequal size, frames without tracking),
// the located views and their projection, recentring, and the runtimes that fail or are missing.
#include <dlfcn.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "hmd/OpenXrSession.h"
#include "tests/hmd/openxr_runtime/XrTestRuntime.h"
#include "tests/support/GLTestContext.h"

namespace {

// The test runtime's head: eyes 64 mm apart, these angles (left, right, up, down) per eye.
constexpr float kIpd = 0.064f;
constexpr float kLeftAngles[4] = {-0.90f, 0.70f, 0.80f, -0.85f};
constexpr float kRightAngles[4] = {-0.70f, 0.90f, 0.80f, -0.85f};
constexpr float kDegree = std::numbers::pi_v<float> / 180.0f;

// The inspection calls of the runtime the loader loaded (dlopen of the same path shares it).
struct TRuntimeProbe {
  void* Library = nullptr;
  decltype(&xrtest_GetRecord) GetRecord = nullptr;
  decltype(&xrtest_GetEyeImage) GetEyeImage = nullptr;
  decltype(&xrtest_SetHead) SetHead = nullptr;
  decltype(&xrtest_RequestExit) RequestExit = nullptr;
  decltype(&xrtest_LoseSession) LoseSession = nullptr;
  decltype(&xrtest_SetVisible) SetVisible = nullptr;
  decltype(&xrtest_Reset) Reset = nullptr;

  TRuntimeProbe() {
    Library = dlopen(QUENLOR_XRTEST_LIBRARY, RTLD_NOW);
    if (!Library) return;
    GetRecord = reinterpret_cast<decltype(GetRecord)>(dlsym(Library, "xrtest_GetRecord"));
    GetEyeImage = reinterpret_cast<decltype(GetEyeImage)>(dlsym(Library, "xrtest_GetEyeImage"));
    SetHead = reinterpret_cast<decltype(SetHead)>(dlsym(Library, "xrtest_SetHead"));
    RequestExit = reinterpret_cast<decltype(RequestExit)>(dlsym(Library, "xrtest_RequestExit"));
    LoseSession = reinterpret_cast<decltype(LoseSession)>(dlsym(Library, "xrtest_LoseSession"));
    SetVisible = reinterpret_cast<decltype(SetVisible)>(dlsym(Library, "xrtest_SetVisible"));
    Reset = reinterpret_cast<decltype(Reset)>(dlsym(Library, "xrtest_Reset"));
  }
  TXrTestRecord Record() const {
    TXrTestRecord R{};
    GetRecord(&R);
    return R;
  }
};

class OpenXrSessionTest : public ::testing::Test {
 protected:
  // AFailures: the runtime's switches for this test.
  void Use(const char* AFailures) {
    setenv("XR_RUNTIME_JSON", QUENLOR_XRTEST_MANIFEST, 1);
    setenv("QUENLOR_XRTEST", AFailures, 1);
    ASSERT_NE(Probe.Library, nullptr) << dlerror();
    Probe.Reset();
  }
  void SetUp() override { Use(""); }
  void TearDown() override { unsetenv("QUENLOR_XRTEST"); }

  std::unique_ptr<TOpenXrSession> OpenAndStart() {
    std::string Why;
    std::unique_ptr<TOpenXrSession> S = TOpenXrSession::Open(Why);
    EXPECT_NE(S, nullptr) << Why;
    if (S) S->Start();
    return S;
  }

  // Polls and runs frames until the session shows its picture (at most a few frames).
  bool RunUntilVisible(TOpenXrSession& S) {
    for (int I = 0; I < 10; ++I) {
      S.PollEvents();
      if (S.RunState() != TXrRunState::xsRunning) continue;
      const bool Draw = S.BeginFrame();
      S.EndFrame();
      if (Draw) return true;
    }
    return false;
  }

  // One drawn frame with both eyes from the texture of EyeTexture(), submitted.
  void DrawnFrame(TOpenXrSession& S, GLuint ATexture) {
    S.PollEvents();
    ASSERT_TRUE(S.BeginFrame());
    S.SubmitEye(0, ATexture, 0, 0);
    S.SubmitEye(1, ATexture, S.EyeSize().w, 0);
    S.EndFrame();
  }

  // Both eyes side by side: the left a solid colour, the right another.
  GLuint EyeTexture(const hmdSizei& AEye, const std::uint8_t ALeft[4],
                    const std::uint8_t ARight[4]) {
    std::vector<std::uint8_t> Pixels(std::size_t(AEye.w) * 2 * AEye.h * 4);
    for (int Y = 0; Y < AEye.h; ++Y)
      for (int X = 0; X < AEye.w * 2; ++X)
        for (int C = 0; C < 4; ++C)
          Pixels[(std::size_t(Y) * AEye.w * 2 + X) * 4 + C] = X < AEye.w ? ALeft[C] : ARight[C];
    GLuint Texture = 0;
    glGenTextures(1, &Texture);
    glBindTexture(GL_TEXTURE_2D, Texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, AEye.w * 2, AEye.h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 Pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    Textures.push_back(Texture);
    return Texture;
  }
  ~OpenXrSessionTest() override {
    if (!Textures.empty()) glDeleteTextures(GLsizei(Textures.size()), Textures.data());
  }

  GLTestContext Context{64, 64};
  TRuntimeProbe Probe;
  std::vector<GLuint> Textures;
};

TEST_F(OpenXrSessionTest, SessionRunsThroughItsStatesToACleanExit) {
  {
    std::unique_ptr<TOpenXrSession> S = OpenAndStart();
    ASSERT_NE(S, nullptr);
    EXPECT_EQ(S->RuntimeName(), "Quenlor test runtime");
    EXPECT_EQ(S->RunState(), TXrRunState::xsWaiting);
    ASSERT_TRUE(RunUntilVisible(*S));
    EXPECT_TRUE(S->Visible());
    // The runtime ends the session: STOPPING is answered with xrEndSession, EXITING ends it.
    Probe.RequestExit();
    for (int I = 0; I < 5 && S->RunState() == TXrRunState::xsRunning; ++I) S->PollEvents();
    S->PollEvents();
    EXPECT_EQ(S->RunState(), TXrRunState::xsExiting);
    EXPECT_FALSE(S->Visible());
  }
  const TXrTestRecord R = Probe.Record();
  const int Expected[] = {XR_SESSION_STATE_IDLE,         XR_SESSION_STATE_READY,
                          XR_SESSION_STATE_SYNCHRONIZED, XR_SESSION_STATE_VISIBLE,
                          XR_SESSION_STATE_FOCUSED,      XR_SESSION_STATE_VISIBLE,
                          XR_SESSION_STATE_SYNCHRONIZED, XR_SESSION_STATE_STOPPING,
                          XR_SESSION_STATE_IDLE,         XR_SESSION_STATE_EXITING};
  ASSERT_EQ(R.StateCount, int(std::size(Expected)));
  for (int I = 0; I < R.StateCount; ++I) EXPECT_EQ(R.States[I], Expected[I]) << I;
  // Every handle went back: the session and the instance.
  EXPECT_EQ(R.SessionsCreated, 1);
  EXPECT_EQ(R.SessionsDestroyed, 1);
  EXPECT_EQ(R.InstancesDestroyed, 1);
}

TEST_F(OpenXrSessionTest, EachEyeGetsItsHalfOfThePictureAndTheLayerCarriesTheLocatedViews) {
  struct TCase {
    const char* Switches;
    std::int64_t Format;  // the runtime's first 8-bit RGBA choice
    hmdSizei Eye;         // no smaller than either eye's recommended size
  };
  const TCase Cases[] = {{"", GL_SRGB8_ALPHA8, {320, 288}},
                         {"unorm", GL_RGBA8, {320, 288}},
                         // Left 320x288, right 352x256: each eye gets at least what it asks for.
                         {"uneven-eyes", GL_SRGB8_ALPHA8, {352, 288}}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Switches);
    Use(C.Switches);
    std::unique_ptr<TOpenXrSession> S = OpenAndStart();
    ASSERT_NE(S, nullptr);
    EXPECT_EQ(S->SwapchainFormat(), C.Format);
    EXPECT_EQ(S->EyeSize().w, C.Eye.w);
    EXPECT_EQ(S->EyeSize().h, C.Eye.h);
    ASSERT_TRUE(RunUntilVisible(*S));
    const std::uint8_t Left[4] = {200, 30, 40, 255}, Right[4] = {10, 180, 90, 255};
    DrawnFrame(*S, EyeTexture(S->EyeSize(), Left, Right));

    const TXrTestRecord R = Probe.Record();
    EXPECT_EQ(R.SwapchainFormat, C.Format);
    const std::uint8_t* Colours[2] = {Left, Right};
    for (int E = 0; E < 2; ++E) {
      EXPECT_EQ(R.EyeWidth[E], S->EyeSize().w);
      EXPECT_EQ(R.EyeHeight[E], S->EyeSize().h);
      std::vector<std::uint8_t> Image(std::size_t(R.EyeWidth[E]) * R.EyeHeight[E] * 4);
      ASSERT_EQ(Probe.GetEyeImage(E, Image.data(), int(Image.size())), int(Image.size()));
      int Wrong = 0;
      for (std::size_t P = 0; P < Image.size(); P += 4)
        for (int K = 0; K < 3; ++K) Wrong += Image[P + K] != Colours[E][K];
      EXPECT_EQ(Wrong, 0) << "eye " << E;
      // The layer's views are the views the frame located, in the LOCAL space.
      const hmdPosef& Pose = S->EyePose(E);
      EXPECT_FLOAT_EQ(R.Views[E].pose.position.x, Pose.Position.x);
      EXPECT_FLOAT_EQ(R.Views[E].pose.orientation.w, Pose.Orientation.w);
      EXPECT_FLOAT_EQ(R.Views[E].fov.angleLeft, (E == 0 ? kLeftAngles : kRightAngles)[0]);
    }
  }
}

TEST_F(OpenXrSessionTest, WhileTheRuntimeHidesThePictureFramesGoOnWithoutLayers) {
  std::unique_ptr<TOpenXrSession> S = OpenAndStart();
  ASSERT_NE(S, nullptr);
  ASSERT_TRUE(RunUntilVisible(*S));
  const std::uint8_t Left[4] = {90, 90, 200, 255}, Right[4] = {200, 90, 90, 255};
  const GLuint Texture = EyeTexture(S->EyeSize(), Left, Right);
  DrawnFrame(*S, Texture);
  Probe.SetVisible(0);
  S->PollEvents();
  EXPECT_FALSE(S->Visible());
  const TXrTestRecord Before = Probe.Record();
  for (int I = 0; I < 3; ++I) {
    EXPECT_FALSE(S->BeginFrame());
    S->EndFrame();
  }
  TXrTestRecord R = Probe.Record();
  EXPECT_EQ(R.Frames, Before.Frames + 3);
  EXPECT_EQ(R.LayerFrames, Before.LayerFrames);
  // Shown again: frames with a layer.
  Probe.SetVisible(1);
  DrawnFrame(*S, Texture);
  R = Probe.Record();
  EXPECT_EQ(R.LayerFrames, Before.LayerFrames + 1);
  EXPECT_EQ(R.States[R.StateCount - 1], XR_SESSION_STATE_FOCUSED);
}

// While the head's orientation is not tracked there is nothing to show it: frames go on (the
// runtime keeps its timing) but carry no layer, even when eyes were drawn and handed over anyway;
// the runtime's untracked poses (a zero quaternion here) would be refused in a layer.
TEST_F(OpenXrSessionTest, FramesWithoutATrackedOrientationCarryNoLayer) {
  Use("untracked");
  std::unique_ptr<TOpenXrSession> S = OpenAndStart();
  ASSERT_NE(S, nullptr);
  for (int I = 0; I < 4; ++I) {
    S->PollEvents();
    ASSERT_EQ(S->RunState(), TXrRunState::xsRunning);
    EXPECT_FALSE(S->BeginFrame()) << "frame " << I;
    S->EndFrame();
  }
  EXPECT_TRUE(S->Visible());  // shown by the runtime: only the tracking is missing
  const std::uint8_t Left[4] = {250, 0, 0, 255}, Right[4] = {0, 250, 0, 255};
  const GLuint Texture = EyeTexture(S->EyeSize(), Left, Right);
  S->PollEvents();
  EXPECT_FALSE(S->BeginFrame());
  S->SubmitEye(0, Texture, 0, 0);
  S->SubmitEye(1, Texture, S->EyeSize().w, 0);
  EXPECT_NO_THROW(S->EndFrame());
  const TXrTestRecord R = Probe.Record();
  EXPECT_EQ(R.Frames, 5);
  EXPECT_EQ(R.LayerFrames, 0);
}

TEST_F(OpenXrSessionTest, LocatedViewsFollowTheHeadAndTheProjectionMatchesTheRuntimesFov) {
  std::unique_ptr<TOpenXrSession> S = OpenAndStart();
  ASSERT_NE(S, nullptr);
  ASSERT_TRUE(RunUntilVisible(*S));
  // Head 10 cm right, 20 cm up, 30 cm forward, turned 30 degrees left (about +Y).
  Probe.SetHead(0.1f, 0.2f, -0.3f, 30.0f, 0.0f);
  S->PollEvents();
  ASSERT_TRUE(S->BeginFrame());
  S->EndFrame();
  const hmdPosef& L = S->EyePose(0);
  const hmdPosef& R = S->EyePose(1);
  EXPECT_NEAR((L.Position.x + R.Position.x) / 2, 0.1f, 1e-6f);
  EXPECT_NEAR((L.Position.y + R.Position.y) / 2, 0.2f, 1e-6f);
  EXPECT_NEAR((L.Position.z + R.Position.z) / 2, -0.3f, 1e-6f);
  // Left to right eye: the head's +X turned 30 degrees about +Y, IPD long.
  EXPECT_NEAR(R.Position.x - L.Position.x, kIpd * std::cos(30 * kDegree), 1e-6f);
  EXPECT_NEAR(R.Position.z - L.Position.z, -kIpd * std::sin(30 * kDegree), 1e-6f);
  EXPECT_NEAR(L.Orientation.y, std::sin(15 * kDegree), 1e-6f);

  for (int E = 0; E < 2; ++E) {
    const float* A = E == 0 ? kLeftAngles : kRightAngles;
    const hmdFovPort& F = S->EyeFov(E);
    // Through the projection the viewer draws with, the field's edges land on the clip borders.
    const hmdMatrix4f P = hmdMatrix4f_Projection(F, 0.01f, 10000.0f, hmdTrue);
    auto Ndc = [&](float AX, float AY, int ARow) {
      const float Z = -2.0f;
      const float V[4] = {AX * -Z, AY * -Z, Z, 1.0f};
      float Clip[4] = {};
      for (int Row = 0; Row < 4; ++Row)
        for (int K = 0; K < 4; ++K) Clip[Row] += P.M[Row][K] * V[K];
      return Clip[ARow] / Clip[3];
    };
    EXPECT_NEAR(Ndc(std::tan(A[0]), 0, 0), -1.0f, 1e-5f) << E;
    EXPECT_NEAR(Ndc(std::tan(A[1]), 0, 0), 1.0f, 1e-5f) << E;
    EXPECT_NEAR(Ndc(0, std::tan(A[2]), 1), 1.0f, 1e-5f) << E;
    EXPECT_NEAR(Ndc(0, std::tan(A[3]), 1), -1.0f, 1e-5f) << E;
  }
}

TEST_F(OpenXrSessionTest, RecentringPutsTheHeadAtTheOriginFacingForwardButKeepsItsTilt) {
  std::unique_ptr<TOpenXrSession> S = OpenAndStart();
  ASSERT_NE(S, nullptr);
  ASSERT_TRUE(RunUntilVisible(*S));
  Probe.SetHead(0.2f, 0.1f, -0.3f, 40.0f, 10.0f);
  S->PollEvents();
  ASSERT_TRUE(S->BeginFrame());
  S->EndFrame();
  S->Recenter();
  // Twice: the second recentring starts from the first one's space.
  for (int Round = 0; Round < 2; ++Round) {
    S->PollEvents();
    ASSERT_TRUE(S->BeginFrame());
    S->EndFrame();
    const hmdPosef& L = S->EyePose(0);
    const hmdPosef& R = S->EyePose(1);
    EXPECT_NEAR((L.Position.x + R.Position.x) / 2, 0.0f, 1e-5f);
    EXPECT_NEAR((L.Position.y + R.Position.y) / 2, 0.0f, 1e-5f);
    EXPECT_NEAR((L.Position.z + R.Position.z) / 2, 0.0f, 1e-5f);
    // Eyes level along X, the gaze tilted 10 degrees up (about +X only).
    EXPECT_NEAR(R.Position.x - L.Position.x, kIpd, 1e-5f);
    EXPECT_NEAR(L.Orientation.x, std::sin(5 * kDegree), 1e-5f);
    EXPECT_NEAR(L.Orientation.y, 0.0f, 1e-5f);
    S->Recenter();
  }
}

TEST_F(OpenXrSessionTest, FailuresAtEachStepThrowOrReportNoHeadset) {
  struct TCase {
    const char* Name;
    const char* RuntimeJson;  // nullptr: the test runtime's manifest
    const char* Switches;
    bool Opens;              // a runtime with a headset is found
    const char* StartError;  // part of Start's message, nullptr when Start succeeds
  };
  const TCase Cases[] = {
      {"no runtime", "/nonexistent/runtime.json", "", false, nullptr},
      {"no headset", nullptr, "no-hmd", false, nullptr},
      {"no stereo views", nullptr, "mono", false, nullptr},
      {"session refused", nullptr, "fail-session", true, "xrCreateSession"},
      {"swapchain refused", nullptr, "fail-swapchain", true, "xrCreateSwapchain"},
      {"GL too old", nullptr, "gl-min=9.1", true, "needs OpenGL 9.1"},
      {"all well", nullptr, "", true, nullptr},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    Use(C.Switches);
    if (C.RuntimeJson) setenv("XR_RUNTIME_JSON", C.RuntimeJson, 1);
    std::string Why;
    std::unique_ptr<TOpenXrSession> S = TOpenXrSession::Open(Why);
    ASSERT_EQ(S != nullptr, C.Opens) << Why;
    if (!S) {
      EXPECT_FALSE(Why.empty());
      continue;
    }
    if (C.StartError) {
      try {
        S->Start();
        ADD_FAILURE() << "Start did not throw";
      } catch (const EOpenXrError& E) {
        EXPECT_NE(std::string(E.what()).find(C.StartError), std::string::npos) << E.what();
      }
    } else {
      EXPECT_NO_THROW(S->Start());
    }
  }
}

TEST_F(OpenXrSessionTest, ALostSessionEndsHeadsetModeAndLetsGoOfEverything) {
  struct TCase {
    const char* Name;
    const char* Switches;
    bool LoseByHand;
  };
  const TCase Cases[] = {{"lost after three frames", "lose-after=3", false},
                         {"lost while running", "", true}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    Use(C.Switches);
    {
      std::unique_ptr<TOpenXrSession> S = OpenAndStart();
      ASSERT_NE(S, nullptr);
      ASSERT_TRUE(RunUntilVisible(*S));
      if (C.LoseByHand) Probe.LoseSession();
      for (int I = 0; I < 10 && S->RunState() == TXrRunState::xsRunning; ++I) {
        S->PollEvents();
        if (S->RunState() != TXrRunState::xsRunning) break;
        S->BeginFrame();
        S->EndFrame();
      }
      EXPECT_EQ(S->RunState(), TXrRunState::xsLost);
    }
    const TXrTestRecord R = Probe.Record();
    EXPECT_EQ(R.States[R.StateCount - 1], XR_SESSION_STATE_LOSS_PENDING);
    EXPECT_EQ(R.SessionsDestroyed, R.SessionsCreated);
  }
}

}  // namespace
