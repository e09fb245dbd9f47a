// The runtime stand-in through its C calls: device selection, test switches, the simulated
// headset's description, texture sizes, projection, tracking with recentring, rendering set-up.
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "tests/hmd/HmdTestSupport.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct DetectCase {
  const char* Env;  // nullptr: unset
  int Devices;
};

void PrintTo(const DetectCase& ACase, std::ostream* AOut) {
  *AOut << (ACase.Env ? ACase.Env : "(unset)");
}

class RuntimeDetect : public ::testing::TestWithParam<DetectCase> {};

TEST_P(RuntimeDetect, DeviceCountFollowsTheEnvironmentWord) {
  const DetectCase& C = GetParam();
  ScopedDeviceEnv Env(C.Env ? std::optional<std::string>(C.Env) : std::nullopt);
  EXPECT_EQ(hmd_Detect(), C.Devices);
  hmdHandle H = hmd_Create(0);
  EXPECT_EQ(H != nullptr, C.Devices > 0);
  hmd_Destroy(H);
  EXPECT_EQ(hmd_Create(1), nullptr) << "only device 0 exists";
}

INSTANTIATE_TEST_SUITE_P(Words, RuntimeDetect,
                         ::testing::Values(DetectCase{nullptr, 0}, DetectCase{"", 0},
                                           DetectCase{"simulated", 1},
                                           DetectCase{"simulated,right-first", 1},
                                           DetectCase{" simulated , fail-tracking", 1},
                                           DetectCase{"Simulated", 0}, DetectCase{"real", 0},
                                           DetectCase{"simulatedx", 0},
                                           DetectCase{"right-first,simulated", 0}),
                         [](const ::testing::TestParamInfo<DetectCase>& AInfo) {
                           if (!AInfo.param.Env) return std::string("Unset");
                           std::string Name;
                           for (const char* C = AInfo.param.Env; *C; ++C)
                             Name += std::isalnum(static_cast<unsigned char>(*C)) ? *C : '_';
                           return "Case" + std::to_string(AInfo.index) + "_" + Name;
                         });

// One simulated device opened for a test, closed afterwards.
class SimulatedDevice {
 public:
  explicit SimulatedDevice(const char* AEnv = "simulated") : FEnv(std::string(AEnv)) {
    FHandle = hmd_Create(0);
  }
  ~SimulatedDevice() { hmd_Destroy(FHandle); }
  hmdHandle Handle() const { return FHandle; }

 private:
  ScopedDeviceEnv FEnv;
  hmdHandle FHandle = nullptr;
};

hmdRenderAPIConfig GlConfig(int AWidth, int AHeight, void* AWindow = nullptr) {
  hmdRenderAPIConfig Config{};
  Config.Header.API = hmdRenderAPI_OpenGL;
  Config.Header.RTSize = {AWidth, AHeight};
  Config.Header.Multisample = 1;
  Config.PlatformData[0] = reinterpret_cast<uintptr_t>(AWindow);
  return Config;
}

TEST(RuntimeSwitches, EachSwitchFailsOnlyItsCall) {
  {
    ScopedDeviceEnv Env(std::string("simulated,fail-create"));
    EXPECT_EQ(hmd_Detect(), 1) << "the device is there, it only cannot be opened";
    EXPECT_EQ(hmd_Create(0), nullptr);
    EXPECT_EQ(hmd_CreateDebug(hmdHmd_DK2), nullptr);
  }
  struct Case {
    const char* Env;
    bool Tracking, Rendering;
  } Cases[] = {{"simulated", true, true},
               {"simulated,fail-tracking", false, true},
               {"simulated,fail-rendering", true, false},
               {"simulated,fail-tracking,fail-rendering", false, false}};
  for (const Case& C : Cases) {
    SimulatedDevice D(C.Env);
    ASSERT_NE(D.Handle(), nullptr) << C.Env;
    EXPECT_EQ(hmd_ConfigureTracking(D.Handle(), 0x70, 0) != 0, C.Tracking) << C.Env;
    const hmdRenderAPIConfig Config = GlConfig(800, 480);
    hmdEyeRenderDesc Desc[2];
    EXPECT_EQ(
        hmd_ConfigureRendering(D.Handle(), &Config, 0x18B, D.Handle()->DefaultEyeFov, Desc) != 0,
        C.Rendering)
        << C.Env;
  }
}

TEST(RuntimeSwitches, RightFirstFlipsTheEyeRenderOrder) {
  SimulatedDevice Plain("simulated");
  SimulatedDevice Flipped("simulated,right-first");
  ASSERT_TRUE(Plain.Handle() && Flipped.Handle());
  EXPECT_EQ(Plain.Handle()->EyeRenderOrder[0], hmdEye_Left);
  EXPECT_EQ(Plain.Handle()->EyeRenderOrder[1], hmdEye_Right);
  EXPECT_EQ(Flipped.Handle()->EyeRenderOrder[0], hmdEye_Right);
  EXPECT_EQ(Flipped.Handle()->EyeRenderOrder[1], hmdEye_Left);
}

TEST(RuntimeDevices, DebugDeviceNeedsNoEnvironmentButAKnownType) {
  ScopedDeviceEnv Env(std::nullopt);
  hmdHandle H = hmd_CreateDebug(hmdHmd_DK2);
  ASSERT_NE(H, nullptr);
  EXPECT_EQ(H->Type, hmdHmd_DK2);
  hmd_Destroy(H);
  EXPECT_EQ(hmd_CreateDebug(hmdHmd_None), nullptr);
  EXPECT_EQ(hmd_CreateDebug(hmdHmdType(99)), nullptr);
}

TEST(RuntimeDevices, StaleAndNullHandlesAreHarmless) {
  hmdHandle Stale;
  {
    SimulatedDevice D;
    Stale = D.Handle();
  }
  for (hmdHandle H : {hmdHandle(nullptr), Stale}) {
    EXPECT_EQ(hmd_ConfigureTracking(H, 0x70, 0), 0);
    EXPECT_FLOAT_EQ(hmd_GetFloat(H, "EyeHeight", 0.5f), 0.5f);
    const hmdPosef P = hmd_GetEyePose(H, hmdEye_Left);
    EXPECT_EQ(P.Orientation.w, 1.0f);
    hmd_RecenterPose(H);
    hmd_EndFrame(H, nullptr, nullptr);
    EXPECT_EQ(hmd_DismissHSWDisplay(H), 0);
    hmd_Destroy(H);
  }
}

TEST(SimulatedHeadset, DescribesAFullHdPanelWithAHundredDegreeView) {
  SimulatedDevice D;
  ASSERT_NE(D.Handle(), nullptr);
  const hmdDesc& Desc = *D.Handle();
  EXPECT_EQ(Desc.Resolution.w, 1920);
  EXPECT_EQ(Desc.Resolution.h, 1080);
  for (int E = 0; E < 2; ++E) {
    const hmdFovPort& F = Desc.DefaultEyeFov[E];
    const double Vertical = (std::atan(F.UpTan) + std::atan(F.DownTan)) * 180 / kPi;
    const double Horizontal = (std::atan(F.LeftTan) + std::atan(F.RightTan)) * 180 / kPi;
    EXPECT_NEAR(Vertical, 100, 5);
    EXPECT_NEAR(Horizontal, 90, 10);
    const hmdFovPort& M = Desc.MaxEyeFov[E];
    EXPECT_LE(F.UpTan, M.UpTan);
    EXPECT_LE(F.DownTan, M.DownTan);
    EXPECT_LE(F.LeftTan, M.LeftTan);
    EXPECT_LE(F.RightTan, M.RightTan);
  }
  // The eyes are mirror images: each sees further to its outer side than towards the nose.
  const hmdFovPort& L = Desc.DefaultEyeFov[hmdEye_Left];
  const hmdFovPort& R = Desc.DefaultEyeFov[hmdEye_Right];
  EXPECT_GT(L.LeftTan, L.RightTan);
  EXPECT_EQ(L.LeftTan, R.RightTan);
  EXPECT_EQ(L.RightTan, R.LeftTan);
  EXPECT_EQ(L.UpTan, R.UpTan);
}

TEST(SimulatedHeadset, UserProfileHasAnEyeHeightAndUnknownNamesGiveTheDefault) {
  SimulatedDevice D;
  const float EyeHeight = hmd_GetFloat(D.Handle(), "EyeHeight", 0.0f);
  EXPECT_GT(EyeHeight, 1.4f);
  EXPECT_LT(EyeHeight, 1.9f);
  EXPECT_FLOAT_EQ(hmd_GetFloat(D.Handle(), "NoSuchValue", 3.5f), 3.5f);
  EXPECT_FLOAT_EQ(hmd_GetFloat(D.Handle(), nullptr, 2.5f), 2.5f);
  EXPECT_NEAR(hmd_GetFloat(D.Handle(), "IPD", 0.0f), 0.064f, 0.01f);
}

TEST(SimulatedHeadset, DisplayDeviceNameContainsTheLastMonitorsName) {
  GLTestWindow Window;  // SDL video is up, as it is in the viewer when the device is opened
  SimulatedDevice D;
  const int Last = SDL_GetNumVideoDisplays() - 1;
  ASSERT_GE(Last, 0);
  const char* Monitor = SDL_GetDisplayName(Last);
  ASSERT_NE(Monitor, nullptr);
  ASSERT_NE(Monitor[0], '\0');
  EXPECT_NE(std::strstr(D.Handle()->DisplayDeviceName, Monitor), nullptr)
      << D.Handle()->DisplayDeviceName << " / " << Monitor;
  EXPECT_EQ(D.Handle()->DisplayId, Last);
}

TEST(SimulatedHeadset, RecommendedTextureSizeIsTheFovAtTheLensCentreDensity) {
  SimulatedDevice D;
  const hmdFovPort Fov = D.Handle()->DefaultEyeFov[hmdEye_Left];
  const hmdSizei Size = hmd_GetFovTextureSize(D.Handle(), hmdEye_Left, Fov, 1.0f);
  EXPECT_EQ(Size.w, 1170);
  EXPECT_EQ(Size.h, 1440);
  const hmdSizei Right =
      hmd_GetFovTextureSize(D.Handle(), hmdEye_Right, D.Handle()->DefaultEyeFov[1], 1.0f);
  EXPECT_EQ(Right.w, Size.w);
  EXPECT_EQ(Right.h, Size.h);

  // Density 1.0 means one texel per panel pixel at the lens centre: the size is the tangent
  // span times the centre's pixels per tangent that rendering reports for a panel-sized window.
  const hmdRenderAPIConfig Config = GlConfig(1920, 1080);
  hmdEyeRenderDesc Desc[2];
  ASSERT_TRUE(hmd_ConfigureRendering(D.Handle(), &Config, 0, D.Handle()->DefaultEyeFov, Desc));
  EXPECT_EQ(
      Size.w,
      int(std::ceil((Fov.LeftTan + Fov.RightTan) * Desc[0].PixelsPerTanAngleAtCenter.x - 1e-3)));
  EXPECT_EQ(Size.h,
            int(std::ceil((Fov.UpTan + Fov.DownTan) * Desc[0].PixelsPerTanAngleAtCenter.y - 1e-3)));

  const hmdSizei HalfDensity = hmd_GetFovTextureSize(D.Handle(), hmdEye_Left, Fov, 0.5f);
  EXPECT_EQ(HalfDensity.w, 585);
  EXPECT_EQ(HalfDensity.h, 720);
  // Nonsense input still gives a usable size.
  const float Nan = std::nanf("");
  for (hmdFovPort Bad : {hmdFovPort{Nan, Nan, Nan, Nan}, hmdFovPort{-1, -1, -1, -1},
                         hmdFovPort{0, 0, 0, 0}, hmdFovPort{1e30f, 1e30f, 1e30f, 1e30f}}) {
    const hmdSizei S = hmd_GetFovTextureSize(D.Handle(), hmdEye_Left, Bad, 1.0f);
    EXPECT_GE(S.w, 1);
    EXPECT_GE(S.h, 1);
    EXPECT_LE(S.w, 16384);
    EXPECT_LE(S.h, 16384);
  }
}

TEST(SimulatedHeadset, LowResSwitchRecommendsAQuarterOfTheDensity) {
  SimulatedDevice D("simulated,low-res");
  const hmdSizei Size =
      hmd_GetFovTextureSize(D.Handle(), hmdEye_Left, D.Handle()->DefaultEyeFov[0], 1.0f);
  EXPECT_EQ(Size.w, 293);  // ceil(1.95 * 150)
  EXPECT_EQ(Size.h, 360);
}

TEST(Projection, MatchesTheHandComputedOffAxisMatrix) {
  const hmdFovPort Fov{1.0f, 0.5f, 0.8f, 1.2f};  // up, down, left, right
  const float N = 0.01f, F = 10000.0f;
  const hmdMatrix4f M = hmdMatrix4f_Projection(Fov, N, F, hmdTrue);
  // x: 2 / (0.8 + 1.2) = 1, offset (1.2 - 0.8) / 2 = 0.2; y: 2 / 1.5, offset 0.5 / 1.5.
  const float Expected[4][4] = {{1.0f, 0, 0.2f, 0},
                                {0, 2.0f / 1.5f, 1.0f / 3.0f, 0},
                                {0, 0, -(F + N) / (F - N), -2 * F * N / (F - N)},
                                {0, 0, -1, 0}};
  for (int R = 0; R < 4; ++R)
    for (int C = 0; C < 4; ++C) EXPECT_NEAR(M.M[R][C], Expected[R][C], 1e-6) << R << "," << C;

  // Left-handed: the eye looks along +Z, so the z column changes sign.
  const hmdMatrix4f L = hmdMatrix4f_Projection(Fov, N, F, hmdFalse);
  EXPECT_NEAR(L.M[0][2], -0.2f, 1e-6);
  EXPECT_NEAR(L.M[1][2], -1.0f / 3.0f, 1e-6);
  EXPECT_NEAR(L.M[2][2], (F + N) / (F - N), 1e-6);
  EXPECT_EQ(L.M[3][2], 1.0f);
}

TEST(Projection, FovEdgesAndDepthRangeLandOnTheClipBoundaries) {
  const hmdFovPort Fov{1.2f, 1.2f, 1.05f, 0.9f};
  const float N = 0.5f, F = 20.0f;
  const hmdMatrix4f M = hmdMatrix4f_Projection(Fov, N, F, hmdTrue);
  auto Ndc = [&](float X, float Y, float Z) {
    const float V[4] = {X, Y, Z, 1};
    float Out[4] = {};
    for (int R = 0; R < 4; ++R)
      for (int C = 0; C < 4; ++C) Out[R] += M.M[R][C] * V[C];
    return hmdVector3f{Out[0] / Out[3], Out[1] / Out[3], Out[2] / Out[3]};
  };
  struct Case {
    float X, Y, Z;
    float NdcX, NdcY, NdcZ;
  } Cases[] = {
      {-1.05f * 2, 0, -2, -1, std::nanf(""), std::nanf("")},  // left edge
      {0.9f * 2, 0, -2, 1, std::nanf(""), std::nanf("")},     // right edge
      {0, 1.2f * 3, -3, std::nanf(""), 1, std::nanf("")},     // top edge
      {0, -1.2f * 3, -3, std::nanf(""), -1, std::nanf("")},   // bottom edge
      {0, 0, -N, std::nanf(""), std::nanf(""), -1},           // near plane
      {0, 0, -F, std::nanf(""), std::nanf(""), 1},            // far plane
  };
  for (const Case& C : Cases) {
    const hmdVector3f P = Ndc(C.X, C.Y, C.Z);
    if (!std::isnan(C.NdcX)) {
      EXPECT_NEAR(P.x, C.NdcX, 1e-5);
    }
    if (!std::isnan(C.NdcY)) {
      EXPECT_NEAR(P.y, C.NdcY, 1e-5);
    }
    if (!std::isnan(C.NdcZ)) {
      EXPECT_NEAR(P.z, C.NdcZ, 1e-4);
    }
  }
}

void ExpectPose(const hmdPosef& AActual, const hmdPosef& AExpected, const char* AWhat) {
  // q and -q are the same rotation.
  const float Dot = AActual.Orientation.x * AExpected.Orientation.x +
                    AActual.Orientation.y * AExpected.Orientation.y +
                    AActual.Orientation.z * AExpected.Orientation.z +
                    AActual.Orientation.w * AExpected.Orientation.w;
  EXPECT_NEAR(std::fabs(Dot), 1.0f, 1e-5) << AWhat;
  EXPECT_NEAR(AActual.Position.x, AExpected.Position.x, 1e-5) << AWhat;
  EXPECT_NEAR(AActual.Position.y, AExpected.Position.y, 1e-5) << AWhat;
  EXPECT_NEAR(AActual.Position.z, AExpected.Position.z, 1e-5) << AWhat;
}

TEST(Tracking, PosesAreTheHeadAtRestUntilItMovesAndOnlyWhileTracking) {
  SimulatedDevice D;
  const hmdPosef Turned{QuatAboutAxis(0, 1, 0, 0.5f), {0.1f, 0.2f, 0.3f}};
  hmd_SetSimulatedHeadPose(D.Handle(), Turned);
  // Without tracking the runtime knows nothing of the head.
  ExpectPose(hmd_GetEyePose(D.Handle(), hmdEye_Left), IdentityPose(), "untracked");
  ASSERT_TRUE(hmd_ConfigureTracking(D.Handle(), 0x70, 0));
  for (hmdEyeType E : {hmdEye_Left, hmdEye_Right})
    ExpectPose(hmd_GetEyePose(D.Handle(), E), Turned, "tracked");
  // Orientation-only tracking reports no position.
  ASSERT_TRUE(hmd_ConfigureTracking(D.Handle(), 0x10, 0));
  ExpectPose(hmd_GetEyePose(D.Handle(), hmdEye_Left), {Turned.Orientation, {0, 0, 0}},
             "orientation only");
  // A required capability the device lacks fails.
  EXPECT_FALSE(hmd_ConfigureTracking(D.Handle(), 0x70, 0x1000));
}

TEST(Tracking, RecentringMakesTheCurrentHeadingAndPositionTheOrigin) {
  SimulatedDevice D;
  ASSERT_TRUE(hmd_ConfigureTracking(D.Handle(), 0x70, 0));
  const float Yaw = 0.6f, Pitch = 0.3f;
  // Yaw about the world's vertical first, then pitch about the head's own X axis.
  const hmdQuatf Q = [&] {
    const hmdQuatf A = QuatAboutAxis(0, 1, 0, Yaw), B = QuatAboutAxis(1, 0, 0, Pitch);
    return hmdQuatf{A.w * B.x + A.x * B.w + A.y * B.z - A.z * B.y,
                    A.w * B.y - A.x * B.z + A.y * B.w + A.z * B.x,
                    A.w * B.z + A.x * B.y - A.y * B.x + A.z * B.w,
                    A.w * B.w - A.x * B.x - A.y * B.y - A.z * B.z};
  }();
  const hmdVector3f Where{0.2f, 1.1f, -0.4f};
  hmd_SetSimulatedHeadPose(D.Handle(), {Q, Where});
  hmd_RecenterPose(D.Handle());

  // Position zero, heading straight along -Z; the pitch stays (it is relative to gravity).
  const hmdPosef P = hmd_GetEyePose(D.Handle(), hmdEye_Left);
  ExpectPose(P, {QuatAboutAxis(1, 0, 0, Pitch), {0, 0, 0}}, "after recentring");
  const hmdVector3f Forward = Rotate(P.Orientation, {0, 0, -1});
  EXPECT_NEAR(Forward.x, 0, 1e-5);
  EXPECT_NEAR(Forward.y, std::sin(Pitch), 1e-5);

  // Stepping along the old heading is now stepping along -Z.
  const hmdVector3f Step = Rotate(QuatAboutAxis(0, 1, 0, Yaw), {0, 0, -0.5f});
  hmd_SetSimulatedHeadPose(D.Handle(), {Q, {Where.x + Step.x, Where.y + Step.y, Where.z + Step.z}});
  ExpectPose(hmd_GetEyePose(D.Handle(), hmdEye_Right),
             {QuatAboutAxis(1, 0, 0, Pitch), {0, 0, -0.5f}}, "after a step");
}

TEST(Rendering, EyeDescriptionsGiveEachEyeItsHalfFovAndOffset) {
  SimulatedDevice D;
  const hmdRenderAPIConfig Config = GlConfig(801, 480);
  hmdEyeRenderDesc Desc[2];
  ASSERT_TRUE(hmd_ConfigureRendering(D.Handle(), &Config, 0x18B, D.Handle()->DefaultEyeFov, Desc));
  const float Ipd = hmd_GetFloat(D.Handle(), "IPD", 0);
  for (int E = 0; E < 2; ++E) {
    EXPECT_EQ(Desc[E].Eye, E);
    EXPECT_EQ(std::memcmp(&Desc[E].Fov, &D.Handle()->DefaultEyeFov[E], sizeof(hmdFovPort)), 0);
    EXPECT_FLOAT_EQ(Desc[E].ViewAdjust.x, E == 0 ? -Ipd / 2 : Ipd / 2);
    EXPECT_EQ(Desc[E].ViewAdjust.y, 0);
    EXPECT_EQ(Desc[E].ViewAdjust.z, 0);
  }
  EXPECT_EQ(Desc[0].DistortedViewport.Size.w + Desc[1].DistortedViewport.Size.w, 801);
  EXPECT_EQ(Desc[1].DistortedViewport.Pos.x, Desc[0].DistortedViewport.Size.w);

  // A wider view than the lens shows is cut to what it shows.
  const hmdFovPort Wide[2] = {{5, 5, 5, 5}, {5, 5, 5, 5}};
  ASSERT_TRUE(hmd_ConfigureRendering(D.Handle(), &Config, 0x18B, Wide, Desc));
  EXPECT_EQ(Desc[0].Fov.UpTan, D.Handle()->MaxEyeFov[0].UpTan);
  EXPECT_EQ(Desc[1].Fov.RightTan, D.Handle()->MaxEyeFov[1].RightTan);

  // A minimised window (zero size) is a valid configuration; another API is not supported.
  const hmdRenderAPIConfig Empty = GlConfig(0, 0);
  EXPECT_TRUE(hmd_ConfigureRendering(D.Handle(), &Empty, 0x18B, D.Handle()->DefaultEyeFov, Desc));
  hmdRenderAPIConfig D3D = GlConfig(800, 480);
  D3D.Header.API = hmdRenderAPI_D3D11;
  EXPECT_FALSE(hmd_ConfigureRendering(D.Handle(), &D3D, 0x18B, D.Handle()->DefaultEyeFov, Desc));
  EXPECT_FALSE(hmd_ConfigureRendering(D.Handle(), nullptr, 0x18B, D.Handle()->DefaultEyeFov, Desc));
}

TEST(Rendering, EnabledCapsKeepTheSettableOnes) {
  SimulatedDevice D;
  hmd_SetEnabledCaps(D.Handle(), 0x280);
  EXPECT_EQ(hmd_GetEnabledCaps(D.Handle()) & 0x280u, 0x280u);
  hmd_SetEnabledCaps(D.Handle(), 0);
  EXPECT_EQ(hmd_GetEnabledCaps(D.Handle()) & 0x280u, 0u);
}

}  // namespace
