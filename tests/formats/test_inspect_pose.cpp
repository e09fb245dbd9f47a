// quenlor-inspect's sampling forms run as a real process: a small model posed by a motion with
// known keys (--pose) and a motion's camera (--camera), their JSON read back and checked against
// values worked out by hand; malformed arguments are usage errors.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "tests/formats/FormatsTestUtil.h"
#include "tests/formats/InspectorProcess.h"
#include "tests/formats/JsonReader.h"
#include "tests/support/PmxPhysicsWriter.h"

namespace {

using TRun = TInspectorRun;

constexpr double S45 = std::numbers::sqrt2 / 2;  // sin and cos of 45 degrees

// A key's rotation: AAngle about the unit axis (AX, AY, AZ), as quaternion x, y, z, w.
TVector4f TurnQuaternion(double AX, double AY, double AZ, double AAngle) {
  const double S = std::sin(AAngle / 2), C = std::cos(AAngle / 2);
  return NewVector4f(static_cast<float>(AX * S), static_cast<float>(AY * S),
                     static_cast<float>(AZ * S), static_cast<float>(C));
}

// Bones: "root" at the origin, "arm" one up from it (its child), "follow" at (3, 0, 0) taking half
// of root's rotation; a morph "smile". Keys (straight-line curves): root at frame 0 at rest and at
// frame 10 moved to (2, 0, 0) and turned a quarter about Z; arm at frame 0 at rest and at frame 10
// turned a quarter about X; smile 0 at frame 0, 0.8 at frame 10. The motion is 11 frames long.
struct TPoseFiles {
  std::string Model = TempPath("inspect_pose_model.pmx");
  std::string Motion = TempPath("inspect_pose_motion.vmd");
  TPoseFiles() {
    TPmxBuilder M;
    const int Root = M.AddBone("root", NewVector3f(0, 0, 0));
    M.AddBone("arm", NewVector3f(0, 1, 0), Root);
    const int Follow =
        M.AddBone("follow", NewVector3f(3, 0, 0), -1,
                  FlagBit(bfCanRotate) | FlagBit(bfDisplay) | FlagBit(bfAddRotation));
    M.Bones[Follow].AddParentBoneIndex = Root;
    M.Bones[Follow].AddPower = 0.5f;
    const int V = M.AddVertex(NewVector3f(0, 0, 0));
    M.AddTriangle(V, V, V);
    M.AddMaterial("body", 3);
    const int Smile = M.AddMorph("smile", mkVertex);
    M.AddVertexMorphOffset(Smile, V, NewVector3f(0, 1, 0));
    M.SaveToFile(Model);

    TVmdBuilder B;
    B.AddBoneKey("root", 0);
    B.AddBoneKey("root", 10, NewVector3f(2, 0, 0), TurnQuaternion(0, 0, 1, std::numbers::pi / 2));
    B.AddBoneKey("arm", 0);
    // A quarter turn and a whole one: the arm's quarter turn, written with w < 0 (the inspector
    // prints every rotation with w >= 0).
    B.AddBoneKey("arm", 10, NewVector3f(0, 0, 0), TurnQuaternion(1, 0, 0, 2.5 * std::numbers::pi));
    B.AddMorphKey("smile", 0, 0.0f);
    B.AddMorphKey("smile", 10, 0.8f);
    B.SaveToFile(Motion);
  }
  ~TPoseFiles() {
    std::remove(Model.c_str());
    std::remove(Motion.c_str());
  }
};

}  // namespace

TEST(InspectorPose, PrintsSampledLocalsAndTheFinalModelSpacePosePerFrame) {
  const TPoseFiles Files;
  const TRun R = Inspect(Files.Model + " --pose " + Files.Motion + " --frames 10,5,2.5");
  ASSERT_EQ(R.ExitCode, 0) << R.Err;
  EXPECT_EQ(R.Err, "");
  const TJson Doc = ParseJson(R.Out);
  ASSERT_EQ(Doc["frames"].Items.size(), 3u);

  // Per frame: root's turn about Z and move along X, arm's turn about X, smile's weight.
  struct TExpected {
    double Frame, RootAngle, RootX, ArmAngle, Smile;
  } Cases[] = {{10, std::numbers::pi / 2, 2, std::numbers::pi / 2, 0.8},
               {5, std::numbers::pi / 4, 1, std::numbers::pi / 4, 0.4},
               {2.5, std::numbers::pi / 8, 0.5, std::numbers::pi / 8, 0.2}};
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const TExpected& E = Cases[I];
    SCOPED_TRACE(E.Frame);
    const TJson& F = Doc["frames"][I];
    EXPECT_EQ(F["frame"].Number, E.Frame);
    ASSERT_EQ(F["bones"].Items.size(), 3u);
    const TJson &Root = F["bones"][0], &Arm = F["bones"][1], &Follow = F["bones"][2];
    EXPECT_EQ(Root["name"].Text, "root");
    EXPECT_EQ(Arm["name"].Text, "arm");
    EXPECT_EQ(Follow["name"].Text, "follow");

    const double RS = std::sin(E.RootAngle / 2), RC = std::cos(E.RootAngle / 2);
    const double AS = std::sin(E.ArmAngle / 2), AC = std::cos(E.ArmAngle / 2);
    ExpectNumbers(Root["local"]["translation"], {E.RootX, 0, 0}, "root local translation");
    ExpectNumbers(Root["local"]["rotation"], {0, 0, RS, RC}, "root local rotation");
    ExpectNumbers(Root["global"]["position"], {E.RootX, 0, 0}, "root position");
    ExpectNumbers(Root["global"]["rotation"], {0, 0, RS, RC}, "root rotation");

    ExpectNumbers(Arm["local"]["translation"], {0, 0, 0}, "arm local translation");
    ExpectNumbers(Arm["local"]["rotation"], {AS, 0, 0, AC}, "arm local rotation");
    // The arm's origin, one up from root's, turns with root about Z: (-sin, cos, 0).
    ExpectNumbers(Arm["global"]["position"],
                  {E.RootX - std::sin(E.RootAngle), std::cos(E.RootAngle), 0}, "arm position");
    // The arm's turn about X, then root's about Z: q_root (x) q_arm.
    ExpectNumbers(Arm["global"]["rotation"], {RC * AS, RS * AS, RS * AC, RC * AC}, "arm rotation");

    // No key of its own: sampled at rest; the append transform gives it half of root's turn.
    ExpectNumbers(Follow["local"]["rotation"], {0, 0, 0, 1}, "follow local rotation");
    ExpectNumbers(Follow["global"]["position"], {3, 0, 0}, "follow position");
    ExpectNumbers(Follow["global"]["rotation"],
                  {0, 0, std::sin(E.RootAngle / 4), std::cos(E.RootAngle / 4)}, "follow rotation");

    ASSERT_EQ(F["morphs"].Items.size(), 1u);
    EXPECT_EQ(F["morphs"][0]["name"].Text, "smile");
    EXPECT_NEAR(F["morphs"][0]["weight"].Number, E.Smile, 1e-6);
  }
  // Frame 10 by hand: root's quarter turn is (0, 0, s, s), the arm's world turn (1/2, 1/2, 1/2,
  // 1/2), the arm's origin at (1, 0, 0).
  const TJson& Last = Doc["frames"][0]["bones"];
  ExpectNumbers(Last[0]["global"]["rotation"], {0, 0, S45, S45}, "root at 10");
  ExpectNumbers(Last[1]["global"]["rotation"], {0.5, 0.5, 0.5, 0.5}, "arm at 10");
  ExpectNumbers(Last[1]["global"]["position"], {1, 0, 0}, "arm origin at 10");
}

TEST(InspectorPose, PrintsTheCameraInTheViewersFrame) {
  const std::string Path = TempPath("inspect_camera.vmd");
  TVmdBuilder B;
  B.AddCameraKey(0, NewVector3f(0, 1, 0), 3, NewVector3f(0, 0, 0), 30);
  B.AddCameraKey(20, NewVector3f(2, 1, 0), 5, NewVector3f(0, std::numbers::pi / 2, 0), 50);
  B.SaveToFile(Path);
  const TRun R = Inspect(Path + " --camera --frames 0,10,20,30");
  ASSERT_EQ(R.ExitCode, 0) << R.Err;
  const TJson Doc = ParseJson(R.Out);
  ASSERT_EQ(Doc["frames"].Items.size(), 4u);
  // The eye stands the distance along +Z from the target, the view's yaw turning it towards -X:
  // halfway, distance 4 at 45 degrees.
  const double H = 4 * S45;
  struct TExpected {
    double Frame;
    std::vector<double> Eye, Target;
    double FovY;
  } Cases[] = {{0, {0, 1, 3}, {0, 1, 0}, 30},
               {10, {1 - H, 1, H}, {1, 1, 0}, 40},
               {20, {-3, 1, 0}, {2, 1, 0}, 50},
               {30, {-3, 1, 0}, {2, 1, 0}, 50}};
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const TExpected& E = Cases[I];
    SCOPED_TRACE(E.Frame);
    const TJson& F = Doc["frames"][I];
    EXPECT_EQ(F["frame"].Number, E.Frame);
    ExpectNumbers(F["eye"], E.Eye, "eye");
    ExpectNumbers(F["target"], E.Target, "target");
    ExpectNumbers(F["up"], {0, 1, 0}, "up");
    EXPECT_NEAR(F["fovY"].Number, E.FovY, 1e-5);
  }

  // A motion without camera keys has no camera to print.
  TVmdBuilder NoCamera;
  NoCamera.AddBoneKey("root", 0);
  NoCamera.SaveToFile(Path);
  const TRun None = Inspect(Path + " --camera --frames 0");
  EXPECT_EQ(None.ExitCode, 1);
  EXPECT_EQ(None.Out, "");
  EXPECT_NE(None.Err.find("no camera keys"), std::string::npos) << None.Err;
  std::remove(Path.c_str());
}

TEST(InspectorPose, MalformedArgumentsAreUsageErrors) {
  const TPoseFiles Files;
  const std::string Pose = Files.Model + " --pose " + Files.Motion;
  const std::string Camera = Files.Motion + " --camera";
  const std::string Cases[] = {
      Pose + " --frames 1,,2",
      Pose + " --frames ''",
      Pose + " --frames 1,2,",
      Pose + " --frames abc",
      Pose + " --frames 1x",
      Pose + " --frames -1",
      Pose + " --frames nan",
      Pose + " --frames inf",
      Pose + " --frames '1, 2'",
      Pose + " --frames '1;2'",
      Pose,
      Pose + " --frames",
      Camera,
      Camera + " --frames 1.5.2",
      Files.Model + " --frames 1",  // frames without a form
      Camera + " --pose " + Files.Motion + " --frames 1",
      Camera + " --keys --frames 1",
  };
  for (const std::string& C : Cases) {
    SCOPED_TRACE(C);
    const TRun R = Inspect(C);
    EXPECT_EQ(R.ExitCode, 2);
    EXPECT_EQ(R.Out, "");
    EXPECT_NE(R.Err.find("--frames F1,F2"), std::string::npos) << R.Err;
  }
  // A motion the reader cannot open is the reader's error, not a usage error.
  const TRun Missing =
      Inspect(Files.Model + " --pose " + TempPath("no_such_motion.vmd") + " --frames 1");
  EXPECT_EQ(Missing.ExitCode, 1);
  EXPECT_NE(Missing.Err.find("no_such_motion.vmd"), std::string::npos) << Missing.Err;
}

// --physics plays the rigid bodies from frame 0: a horizontal chain of three links on a still
// root (no motion: "--pose -") has swung down by the later frames, while --pose alone keeps the
// rest pose. A frame earlier than the one before starts over, so it prints the same as in order.
TEST(InspectorPose, PhysicsPlaysTheBodiesFromFrameZero) {
  const std::string Model = TempPath("inspect_physics_model.pmx");
  PendulumModel(3, 1.0f, NewVector3f(0, 5, 0)).SaveToFile(Model);
  const TRun Still = Inspect(Model + " --pose - --frames 45");
  const TRun Played = Inspect(Model + " --pose - --physics --frames 0,45,90");
  const TRun Back = Inspect(Model + " --pose - --physics --frames 90,45");
  const TRun NoPose = Inspect(Model + " --physics --frames 45");
  std::remove(Model.c_str());
  ASSERT_EQ(Still.ExitCode, 0) << Still.Err;
  ASSERT_EQ(Played.ExitCode, 0) << Played.Err;
  ASSERT_EQ(Back.ExitCode, 0) << Back.Err;
  EXPECT_EQ(NoPose.ExitCode, 2);

  ExpectNumbers(ParseJson(Still.Out)["frames"][0]["bones"][3]["global"]["position"], {2, 5, 0},
                "tip link without physics");
  const TJson Doc = ParseJson(Played.Out);
  ASSERT_EQ(Doc["frames"].Items.size(), 3u);
  for (size_t F = 0; F < 3; ++F) {
    ExpectNumbers(Doc["frames"][F]["bones"][0]["global"]["position"], {0, 5, 0}, "root");
    // The first link stays hinged at the root.
    const std::vector<double> First = Doc["frames"][F]["bones"][1]["global"]["position"].Numbers();
    EXPECT_NEAR(First[1], 5.0, 0.02);
  }
  // Frame 0 has run the settle steps: the chain has left its rest; by frame 45 it hangs well
  // below the root.
  EXPECT_LT(Doc["frames"][0]["bones"][3]["global"]["position"].Numbers()[1], 4.99);
  EXPECT_LT(Doc["frames"][1]["bones"][3]["global"]["position"].Numbers()[1], 4.0);
  const TJson Again = ParseJson(Back.Out);
  EXPECT_EQ(Again["frames"][1]["bones"][3]["global"]["position"].Numbers(),
            Doc["frames"][1]["bones"][3]["global"]["position"].Numbers());
}
