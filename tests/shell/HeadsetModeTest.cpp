// Headset mode without a window: the monitor match, the eye camera from the tracked pose, the
// runtime's projection in this program's convention, and the point between the eyes.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "math/VectorGeometry.h"
#include "shell/HeadsetViews.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

void ExpectNear(const TVec3f& A, const TVec3f& B, float ATolerance = 1e-5f) {
  EXPECT_NEAR(A.X, B.X, ATolerance);
  EXPECT_NEAR(A.Y, B.Y, ATolerance);
  EXPECT_NEAR(A.Z, B.Z, ATolerance);
}

hmdPosef Pose(const TQuaternion& AOrientation, const TVec3f& APosition) {
  return hmdPosef{{AOrientation.ImagPart.X, AOrientation.ImagPart.Y, AOrientation.ImagPart.Z,
                   AOrientation.RealPart},
                  {APosition.X, APosition.Y, APosition.Z}};
}

// Clip coordinates of a point under a row-vector matrix, divided by w.
TVec3f Project(const TVec3f& APoint, const TMatrix4f& AMatrix) {
  const TVector4f C = RowTimesMatrix4f(TVector4f{{APoint.X, APoint.Y, APoint.Z, 1.0f}}, AMatrix);
  return TVec3f(C.X / C.W, C.Y / C.W, C.Z / C.W);
}

struct TMonitorCase {
  const char* Name;
  std::string DeviceName;
  std::vector<std::string> Monitors;
  int Expected;
};

TEST(HeadsetMonitorTest, LastMonitorWhoseNameOccursInTheDeviceNameWins) {
  const TMonitorCase Cases[] = {
      {"one match", "HDMI-1 (Quenlor Simulated HMD)", {"eDP-1", "HDMI-1"}, 1},
      {"first of two", "DP-2", {"DP-2", "HDMI-1"}, 0},
      {"both occur, the later wins", "DP-1 on DP-10", {"DP-10", "DP-1", "VGA"}, 1},
      {"both occur, order reversed", "DP-1 on DP-10", {"DP-1", "DP-10"}, 1},
      {"case matters", "hdmi-1 (headset)", {"HDMI-1"}, -1},
      {"an empty name never matches", "HDMI-1", {"", "VGA"}, -1},
      {"no monitors", "HDMI-1", {}, -1},
      {"empty device name", "", {"HDMI-1"}, -1},
      {"name longer than the device name", "DP", {"DP-1"}, -1},
  };
  for (const TMonitorCase& C : Cases)
    EXPECT_EQ(MatchHeadsetMonitor(C.DeviceName, C.Monitors), C.Expected) << C.Name;
}

TEST(HeadsetProjectionTest, FieldOfViewEdgesAndDepthRangeLandOnTheClipBorders) {
  // An off-axis view: 1.2 up, 0.9 down, 1.05 left, 0.8 right.
  const hmdFovPort Fov{1.2f, 0.9f, 1.05f, 0.8f};
  const TMatrix4f P = HeadsetProjection(Fov);
  // Each edge of the field at tangent t lies where x / -z = t, whatever the matrix's layout.

  const float Z = -3.0f;  // in front of the eye, which looks along -Z
  EXPECT_NEAR(Project(TVec3f(-Fov.LeftTan * 3, 0, Z), P).X, -1.0f, 1e-5f);
  EXPECT_NEAR(Project(TVec3f(Fov.RightTan * 3, 0, Z), P).X, 1.0f, 1e-5f);
  EXPECT_NEAR(Project(TVec3f(0, Fov.UpTan * 3, Z), P).Y, 1.0f, 1e-5f);
  EXPECT_NEAR(Project(TVec3f(0, -Fov.DownTan * 3, Z), P).Y, -1.0f, 1e-5f);
  EXPECT_NEAR(Project(TVec3f(0, 0, -kHeadsetZNear), P).Z, -1.0f, 1e-4f);
  EXPECT_NEAR(Project(TVec3f(0, 0, -kHeadsetZFar), P).Z, 1.0f, 1e-4f);
}

TEST(HeadsetEyeCameraTest, TrackedPositionTurnsWithTheBodyAndTheEyeOffsetWithHeadAndBody) {
  struct TCase {
    const char* Name;
    float Yaw, Pitch;
    TQuaternion Head;
    TVec3f HeadPosition;
    TVec3f ViewAdjust;
    TVec3f Eye, Forward, Up;
  };
  const TVec3f Viewer(0.5f, 1.6f, 2.0f);
  const TQuaternion Level = IdentityQuaternion;
  const TQuaternion HeadLeft = QuaternionFromEulerYXZ(kPi / 2, 0, 0);  // looks along -X
  const TCase Cases[] = {
      {"level, no turn", 0, 0, Level, TVec3f(0.1f, 0.2f, 0.3f), TVec3f(-0.032f, 0, 0),
       Viewer + TVec3f(0.1f - 0.032f, 0.2f, 0.3f), TVec3f(0, 0, -1), TVec3f(0, 1, 0)},
      // The body turned a quarter left: the head's step forward becomes a step along -X, and so
      // does the right eye's offset.
      {"body turned left", kPi / 2, 0, Level, TVec3f(0, 0, -1), TVec3f(0.032f, 0, 0),
       Viewer + TVec3f(-1, 0, -0.032f), TVec3f(-1, 0, 0), TVec3f(0, 1, 0)},
      // The head turned a quarter left: its tracked step stays where it was, the eye offset turns.
      {"head turned left", 0, 0, HeadLeft, TVec3f(0, 0, -1), TVec3f(0.032f, 0, 0),
       Viewer + TVec3f(0, 0, -1) + TVec3f(0, 0, -0.032f), TVec3f(-1, 0, 0), TVec3f(0, 1, 0)},
      // Looking up by the body's pitch tilts the tracked position too.
      {"body pitched up", 0, kPi / 2, Level, TVec3f(0, 0, -1), TVec3f(0, 0, 0),
       Viewer + TVec3f(0, 1, 0), TVec3f(0, 1, 0), TVec3f(0, 0, 1)},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const THeadsetEyeCamera Camera =
        HeadsetEyeCamera(C.Yaw, C.Pitch, Viewer, Pose(C.Head, C.HeadPosition),
                         hmdVector3f{C.ViewAdjust.X, C.ViewAdjust.Y, C.ViewAdjust.Z});
    ExpectNear(Camera.Eye, C.Eye);
    ExpectNear(Camera.Forward, C.Forward);
    ExpectNear(Camera.Up, C.Up);
  }
}

TEST(HeadsetEyeCameraTest, HeadRotationIsAppliedBeforeTheBodysTurn) {
  // Head pitched up 30 degrees, body turned 90 degrees: the view climbs and faces -X. Applied the
  // other way round, the head's pitch would tilt the view about the world's X axis instead.
  const float Yaw = kPi / 2, Pitch = 0;
  const TQuaternion Head = QuaternionFromEulerYXZ(0, kPi / 6, 0);
  const THeadsetEyeCamera Camera =
      HeadsetEyeCamera(Yaw, Pitch, TVec3f(0, 0, 0), Pose(Head, TVec3f(0, 0, 0)), {0, 0, 0});
  // Up by sin 30 degrees, along -X by cos 30 degrees.
  ExpectNear(Camera.Forward, TVec3f(-std::cos(kPi / 6), std::sin(kPi / 6), 0));
}

TEST(HeadsetFacePointTest, MidpointOfBothEyesTurnedByTheViewerAndMovedToItsPosition) {
  const hmdPosef Left = Pose(IdentityQuaternion, TVec3f(-0.032f, 0.1f, 0.0f));
  const hmdPosef Right = Pose(IdentityQuaternion, TVec3f(0.032f, 0.1f, 0.02f));
  const TVec3f Viewer(1, 1.6f, 2);
  ExpectNear(HeadsetFacePoint(0, 0, Viewer, Left, Right), Viewer + TVec3f(0, 0.1f, 0.01f));
  // Turned half round, the point in front of the head lies behind the viewer's start.
  ExpectNear(HeadsetFacePoint(kPi, 0, Viewer, Left, Right), Viewer + TVec3f(0, 0.1f, -0.01f));
  // Pitched up a quarter: up becomes backwards (+Z), forward (-Z) becomes up.
  ExpectNear(HeadsetFacePoint(0, kPi / 2, Viewer, Left, Right), Viewer + TVec3f(0, -0.01f, 0.1f));
}

}  // namespace
