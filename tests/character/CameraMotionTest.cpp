// The camera track: keys sorted by frame, sampled at and between keys with one curve per channel,
// cuts between keys on neighbouring frames, held before the first and after the last key; the eye,
// up vector and field of view of a target, distance and Euler angles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "character/core/CameraMotion.h"
#include "tests/character/CoreFixture.h"

namespace {

constexpr float Pi = std::numbers::pi_v<float>;

// A key with straight-line curves on every channel.
TVmdCameraMotion CameraKey(uint32_t AFrame, TVector3f ATarget, float ADistance, TVector3f ARotation,
                           uint32_t AViewAngle = 30) {
  TVmdCameraMotion K;
  std::memset(&K, 0, sizeof(K));
  K.FrameNum = AFrame;
  K.Target = ATarget;
  K.Distance = ADistance;
  K.Rotation = ARotation;
  K.ViewAngle = AViewAngle;
  for (int C = ccX; C <= ccViewAngle; ++C)
    SetVmdCameraCurve(K, static_cast<TVmdCameraChannel>(C), 20, 20, 107, 107);
  return K;
}

// y where x = AT on the curve with control bytes (x1, y1), (x2, y2), found by bisection on the
// curve's parameter in double.
double CurveFraction(uint8_t AX1, uint8_t AY1, uint8_t AX2, uint8_t AY2, double AT) {
  const double X1 = AX1 / 127.0, Y1 = AY1 / 127.0, X2 = AX2 / 127.0, Y2 = AY2 / 127.0;
  auto Cubic = [](double A, double B, double S) {
    return 3 * (1 - S) * (1 - S) * S * A + 3 * (1 - S) * S * S * B + S * S * S;
  };
  double Lo = 0, Hi = 1;
  for (int I = 0; I < 60; ++I) {
    const double Mid = (Lo + Hi) / 2;
    (Cubic(X1, X2, Mid) < AT ? Lo : Hi) = Mid;
  }
  return Cubic(Y1, Y2, (Lo + Hi) / 2);
}

// Eye and up of a camera with yaw a and roll r (no pitch), worked out by hand. The angles are the
// view's, so the camera turns by -r about Z, then by -a about Y. The roll leaves the view axis
// alone and tips up to (sin r, cos r, 0); the yaw then takes (x, y, z) to
// (x cos a - z sin a, y, x sin a + z cos a).
TVec3f YawRollEye(TVec3f ATarget, float ADistance, float AYaw) {
  return ATarget + TVec3f(-ADistance * std::sin(AYaw), 0.0f, ADistance * std::cos(AYaw));
}
TVec3f YawRollUp(float AYaw, float ARoll) {
  return TVec3f(std::sin(ARoll) * std::cos(AYaw), std::cos(ARoll),
                std::sin(ARoll) * std::sin(AYaw));
}

::testing::AssertionResult SamePose(const TCameraPose& A, const TCameraPose& B) {
  if (std::memcmp(&A.Eye, &B.Eye, sizeof(A.Eye)) != 0)
    return ::testing::AssertionFailure() << "eye";
  if (std::memcmp(&A.Target, &B.Target, sizeof(A.Target)) != 0)
    return ::testing::AssertionFailure() << "target";
  if (std::memcmp(&A.Up, &B.Up, sizeof(A.Up)) != 0) return ::testing::AssertionFailure() << "up";
  if (A.FovY != B.FovY) return ::testing::AssertionFailure() << "fov " << A.FovY << " " << B.FovY;
  return ::testing::AssertionSuccess();
}

TCameraPose PoseOfKey(const TVmdCameraMotion& AKey) {
  const TVector3f Target = AKey.Target, Rotation = AKey.Rotation;
  return CameraPoseOf(Target, AKey.Distance, Rotation, static_cast<float>(AKey.ViewAngle));
}

}  // namespace

TEST(CameraPose, EyeAndUpOfKnownAnglesAndDistances) {
  const float Q = Pi / 2, Pitch = Pi / 6;
  struct TCase {
    const char* Name;
    TVector3f Target;
    float Distance;
    TVector3f Rotation;  // x pitch, y yaw, z roll
    TVec3f Eye, Up;
  } Cases[] = {
      {"no turn", {{1, 2, 3}}, 5, {{0, 0, 0}}, {1, 2, 8}, {0, 1, 0}},
      {"negative distance: in front", {{0, 1, 0}}, -3, {{0, 0, 0}}, {0, 1, -3}, {0, 1, 0}},
      {"yaw 90", {{0, 1, 0}}, 4, {{0, Q, 0}}, {-4, 1, 0}, {0, 1, 0}},
      {"yaw -90", {{0, 1, 0}}, 4, {{0, -Q, 0}}, {4, 1, 0}, {0, 1, 0}},
      // The camera turns by -30 degrees about X: the view axis (0, 0, 1) goes to (0, sin, cos),
      // above the target, up (0, 1, 0) to (0, cos, -sin).
      {"pitch 30: from above",
       {{0, 0, 0}},
       2,
       {{Pitch, 0, 0}},
       {0, 1, std::sqrt(3.0f)},
       {0, std::sqrt(3.0f) / 2, -0.5f}},
      {"roll 90 keeps the eye", {{0, 0, 0}}, 2, {{0, 0, Q}}, {0, 0, 2}, {1, 0, 0}},
      // Pitch before yaw: the axis rises to (0, 1, 0), which the yaw leaves; up goes from
      // (0, 0, -1) to (1, 0, 0). Yaw first would have put the eye on -X.
      {"pitch 90 then yaw 90", {{0, 0, 0}}, 1, {{Q, Q, 0}}, {0, 1, 0}, {1, 0, 0}},
      // Roll before yaw: up tips to (1, 0, 0), then turns to (0, 0, 1).
      {"roll 90 then yaw 90", {{0, 0, 0}}, 1, {{0, Q, Q}}, {-1, 0, 0}, {0, 0, 1}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const TCameraPose P = CameraPoseOf(C.Target, C.Distance, C.Rotation, 27.5f);
    EXPECT_TRUE(Near3(P.Eye, C.Eye, 1e-5f));
    EXPECT_TRUE(Near3(P.Up, C.Up, 1e-5f));
    EXPECT_TRUE(Near3(P.Target, TVec3f(C.Target)));
    EXPECT_EQ(P.FovY, 27.5f);
  }
}

TEST(CameraMotion, KeysAreSampledAtTheirFramesAndBlendedLinearlyBetween) {
  const TVector3f TargetA{{1, 2, 3}}, TargetB{{3, 0, -1}};
  const float YawA = 0.5f, YawB = 4.5f;  // more than half a turn apart: angles, not a slerp
  const float RollA = 0.2f, RollB = -0.4f;
  const TVmdCameraMotion A = CameraKey(10, TargetA, 2, {{0, YawA, RollA}}, 20);
  const TVmdCameraMotion B = CameraKey(30, TargetB, 6, {{0, YawB, RollB}}, 60);
  const TCameraMotion Track({B, A});  // out of order
  EXPECT_FALSE(Track.Empty());
  EXPECT_EQ(Track.FrameCount(), 31u);
  EXPECT_TRUE(SamePose(Track.Sample(10), PoseOfKey(A)));
  EXPECT_TRUE(SamePose(Track.Sample(30), PoseOfKey(B)));

  for (double Frame : {15.0, 20.0, 27.5, 29.9}) {
    SCOPED_TRACE(Frame);
    const float T = static_cast<float>((Frame - 10) / 20);
    const TCameraPose P = Track.Sample(Frame);
    const TVec3f Target = TVec3f(TargetA).Lerp(TVec3f(TargetB), T);
    const float Yaw = YawA + (YawB - YawA) * T, Roll = RollA + (RollB - RollA) * T;
    EXPECT_TRUE(Near3(P.Target, Target));
    EXPECT_TRUE(Near3(P.Eye, YawRollEye(Target, 2 + 4 * T, Yaw), 1e-4f));
    EXPECT_TRUE(Near3(P.Up, YawRollUp(Yaw, Roll), 1e-5f));
    EXPECT_NEAR(P.FovY, 20 + 40 * T, 1e-4f);
  }
}

TEST(CameraMotion, EachChannelFollowsItsOwnCurveOfTheLaterKey) {
  struct TCurve {
    uint8_t X1, Y1, X2, Y2;
  };
  const TCurve Curves[6] = {{64, 0, 127, 127},  {0, 64, 64, 127}, {100, 10, 110, 50},
                            {10, 100, 30, 120}, {127, 0, 0, 127}, {40, 0, 127, 90}};
  const TVector3f TargetA{{0, 0, 0}}, TargetB{{8, -4, 2}};
  TVmdCameraMotion A = CameraKey(10, TargetA, 1, {{0, 0, 0}}, 10);
  TVmdCameraMotion B = CameraKey(50, TargetB, 9, {{0, 2, 1}}, 90);
  for (int C = 0; C < 6; ++C) {
    const TCurve& K = Curves[C];
    SetVmdCameraCurve(B, static_cast<TVmdCameraChannel>(C), K.X1, K.Y1, K.X2, K.Y2);
    // The earlier key's curves are not used: make them different.
    SetVmdCameraCurve(A, static_cast<TVmdCameraChannel>(C), 127, 0, 127, 0);
  }
  const TCameraMotion Track({A, B});
  for (double Frame : {12.0, 20.0, 33.0, 47.5}) {
    SCOPED_TRACE(Frame);
    const double T = (Frame - 10) / 40;
    double F[6];
    for (int C = 0; C < 6; ++C)
      F[C] = CurveFraction(Curves[C].X1, Curves[C].Y1, Curves[C].X2, Curves[C].Y2, T);
    const TCameraPose P = Track.Sample(Frame);
    const TVec3f Target(static_cast<float>(8 * F[ccX]), static_cast<float>(-4 * F[ccY]),
                        static_cast<float>(2 * F[ccZ]));
    const float Yaw = static_cast<float>(2 * F[ccRotation]);
    const float Roll = static_cast<float>(F[ccRotation]);
    const float Distance = static_cast<float>(1 + 8 * F[ccDistance]);
    EXPECT_TRUE(Near3(P.Target, Target, 1e-4f));
    EXPECT_TRUE(Near3(P.Eye, YawRollEye(Target, Distance, Yaw), 1e-3f));
    EXPECT_TRUE(Near3(P.Up, YawRollUp(Yaw, Roll), 1e-4f));
    EXPECT_NEAR(P.FovY, 10 + 80 * F[ccViewAngle], 1e-3);
  }
}

TEST(CameraMotion, KeysOnNeighbouringFramesAreACut) {
  const TVmdCameraMotion A = CameraKey(10, {{0, 0, 0}}, 2, {{0, 0, 0}}, 30);
  const TVmdCameraMotion B = CameraKey(11, {{5, 5, 5}}, 7, {{0.3f, 1, 0}}, 50);
  const TVmdCameraMotion C = CameraKey(13, {{1, 1, 1}}, 3, {{0, 0, 0}}, 40);
  const TCameraMotion Track({A, B, C});
  for (double Frame : {10.0, 10.25, 10.5, 10.999})
    EXPECT_TRUE(SamePose(Track.Sample(Frame), PoseOfKey(A))) << Frame;
  EXPECT_TRUE(SamePose(Track.Sample(11), PoseOfKey(B)));
  // Two frames apart is a move, not a cut: frame 12 lies halfway.
  const TCameraPose Mid = Track.Sample(12);
  EXPECT_TRUE(Near3(Mid.Target, TVec3f(3, 3, 3)));
  EXPECT_NEAR(Mid.FovY, 45.0f, 1e-5f);
}

TEST(CameraMotion, BeforeTheFirstKeyAndAfterTheLastTheEndKeysHold) {
  const TVmdCameraMotion A = CameraKey(20, {{0, 1, 0}}, 3, {{0.1f, 0.2f, 0.3f}}, 25);
  const TVmdCameraMotion B = CameraKey(40, {{2, 1, 0}}, 5, {{0, 1, 0}}, 35);
  const TCameraMotion Track({A, B});
  for (double Frame : {-5.0, 0.0, 19.5, 20.0})
    EXPECT_TRUE(SamePose(Track.Sample(Frame), PoseOfKey(A))) << Frame;
  // Not wrapped over the track's length.
  for (double Frame : {40.0, 40.5, 41.0, 61.0, 1e6})
    EXPECT_TRUE(SamePose(Track.Sample(Frame), PoseOfKey(B))) << Frame;

  const TCameraMotion One({B});
  for (double Frame : {0.0, 40.0, 100.0})
    EXPECT_TRUE(SamePose(One.Sample(Frame), PoseOfKey(B))) << Frame;

  const TCameraMotion None;
  EXPECT_TRUE(None.Empty());
  EXPECT_EQ(None.FrameCount(), 0u);
  const TCameraPose P = None.Sample(10);  // some usable camera: eye apart from the target
  EXPECT_GT(P.Eye.Distance(P.Target), 0.0f);
  EXPECT_GT(P.FovY, 0.0f);
}

TEST(CameraMotion, KeysOnOneFrameKeepTheirOrder) {
  // Enough keys on frame 10 that an unstable sort would reorder them; the last of them in the
  // given order is where the move towards frame 20 starts.
  std::vector<TVmdCameraMotion> Keys{CameraKey(20, {{0, 0, 0}}, 100, {{0, 0, 0}})};
  for (int I = 0; I < 40; ++I) {
    Keys.push_back(CameraKey(10, {{0, 0, 0}}, static_cast<float>(I), {{0, 0, 0}}));
    if (I == 20) Keys.push_back(CameraKey(0, {{0, 0, 0}}, -1, {{0, 0, 0}}));
  }
  const TCameraMotion Track(Keys);
  EXPECT_EQ(Track.FrameCount(), 21u);
  EXPECT_NEAR(Track.Sample(15).Eye.Z, (39.0f + 100.0f) / 2, 1e-4f);
  EXPECT_NEAR(Track.Sample(5).Eye.Z, -0.5f, 1e-5f);  // from frame 0 to the first key on 10
}
