// quenlor-inspect's sampling forms run as a real process: a small model posed by a motion with
// known keys (--pose) and a motion's camera (--camera), their JSON read back and checked against
// values worked out by hand; malformed arguments are usage errors.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>

#include "formats/PmxPhysicsWriter.h"
#include "tests/formats/FormatsTestUtil.h"
#include "tests/formats/InspectorProcess.h"
#include "tests/formats/JsonReader.h"

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
      Files.Model + " --skinned --frames 1",  // skinning needs a pose
      Camera + " --skinned --frames 1",
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

// --skinned: a model and motion written as files hold them (file units, left-handed, Z as
// stored): "base" at the origin, "arm" 10 up (its child). Vertex 0 on base at (2, 0, 3), normal
// +Z; vertex 1 on arm at (0, 20, 5), normal +Z, moved (10, 0, 0) by the morph "pout"; vertex 2
// blended 1/4 arm, 3/4 base at (4, 10, -4), normal +Y. The arm turns a quarter about the file's X
// by frame 10 while pout goes from 0 to 1. Expected values are worked in the file's frame (the
// arm's turn about its origin, the morph before it, the blend of the two bones' results) and then
// taken into the viewer's: x 0.1, Z negated.
TEST(InspectorPose, SkinnedPrintsEveryVertexAfterMorphsAndSkinning) {
  const std::string Model = TempPath("inspect_skinned_model.pmx");
  const std::string Motion = TempPath("inspect_skinned_motion.vmd");
  TPmxBuilder M;
  M.Settings.FileFrame = true;
  const int Base = M.AddBone("base", NewVector3f(0, 0, 0));
  const int Arm = M.AddBone("arm", NewVector3f(0, 10, 0), Base);
  const int V0 = M.AddVertex(NewVector3f(2, 0, 3), NewVector3f(0, 0, 1), PmxFloat2{0, 0}, Base);
  const int V1 = M.AddVertex(NewVector3f(0, 20, 5), NewVector3f(0, 0, 1), PmxFloat2{0, 0}, Arm);
  const int V2 = M.AddVertexBDEF2(NewVector3f(4, 10, -4), Arm, Base, 0.25f, NewVector3f(0, 1, 0));
  M.AddTriangle(V0, V1, V2);
  M.AddMaterial("body", 3);
  M.AddVertexMorphOffset(M.AddMorph("pout", mkVertex), V1, NewVector3f(10, 0, 0));
  M.SaveToFile(Model);
  TVmdBuilder B;
  B.FileFrame = true;
  B.AddBoneKey("arm", 0);
  B.AddBoneKey("arm", 10, NewVector3f(0, 0, 0), TurnQuaternion(1, 0, 0, std::numbers::pi / 2));
  B.AddMorphKey("pout", 0, 0.0f);
  B.AddMorphKey("pout", 10, 1.0f);
  B.SaveToFile(Motion);

  const std::string Pose = Model + " --pose " + Motion;
  const TRun R = Inspect(Pose + " --skinned --frames 10,0,5");
  const TRun Played = Inspect(Pose + " --physics --skinned --frames 5,10");
  const TRun Plain = Inspect(Pose + " --frames 10");
  std::remove(Model.c_str());
  std::remove(Motion.c_str());
  ASSERT_EQ(R.ExitCode, 0) << R.Err;
  ASSERT_EQ(Played.ExitCode, 0) << Played.Err;
  ASSERT_EQ(Plain.ExitCode, 0) << Plain.Err;

  using TV = std::array<double, 3>;
  // Turned by A about X (file frame): y cos - z sin, y sin + z cos.
  auto TurnX = [](const TV& P, double A) {
    return TV{P[0], P[1] * std::cos(A) - P[2] * std::sin(A),
              P[1] * std::sin(A) + P[2] * std::cos(A)};
  };
  auto ArmTurn = [&](const TV& P, double A) {  // about the arm's origin (0, 10, 0)
    const TV T = TurnX({P[0], P[1] - 10, P[2]}, A);
    return TV{T[0], T[1] + 10, T[2]};
  };
  auto Mix = [](const TV& P, double W, const TV& Q) {  // W P + (1 - W) Q
    return TV{W * P[0] + (1 - W) * Q[0], W * P[1] + (1 - W) * Q[1], W * P[2] + (1 - W) * Q[2]};
  };
  auto Row = [](const TV& P, const TV& N) {  // into the viewer's frame
    return std::vector<double>{0.1 * P[0], 0.1 * P[1], -0.1 * P[2], N[0], N[1], -N[2]};
  };
  struct TCase {
    double Frame, Angle, Pout;
  } Cases[] = {{10, std::numbers::pi / 2, 1}, {0, 0, 0}, {5, std::numbers::pi / 4, 0.5}};
  const TJson Doc = ParseJson(R.Out), PlayedDoc = ParseJson(Played.Out);
  ASSERT_EQ(Doc["frames"].Items.size(), std::size(Cases));
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const TCase& C = Cases[I];
    SCOPED_TRACE(C.Frame);
    const TJson& Vertices = Doc["frames"][I]["vertices"];
    ASSERT_EQ(Vertices.Items.size(), 3u);
    ExpectNumbers(Vertices[0], Row({2, 0, 3}, {0, 0, 1}), "vertex 0 (base)");
    ExpectNumbers(Vertices[1],
                  Row(ArmTurn({10 * C.Pout, 20, 5}, C.Angle), TurnX({0, 0, 1}, C.Angle)),
                  "vertex 1 (arm, morphed)");
    ExpectNumbers(Vertices[2],
                  Row(Mix(ArmTurn({4, 10, -4}, C.Angle), 0.25, {4, 10, -4}),
                      Mix(TurnX({0, 1, 0}, C.Angle), 0.25, {0, 1, 0})),
                  "vertex 2 (blend)");
  }
  // With physics (this model has no bodies) the played frames skin the same.
  ASSERT_EQ(PlayedDoc["frames"].Items.size(), 2u);
  for (size_t I = 0; I < 2; ++I) EXPECT_EQ(PlayedDoc["frames"][I]["vertices"].Items.size(), 3u);
  for (size_t V = 0; V < 3; ++V) {
    EXPECT_EQ(PlayedDoc["frames"][0]["vertices"][V].Numbers(),
              Doc["frames"][2]["vertices"][V].Numbers());
    EXPECT_EQ(PlayedDoc["frames"][1]["vertices"][V].Numbers(),
              Doc["frames"][0]["vertices"][V].Numbers());
  }
  // Without --skinned no vertices.
  EXPECT_EQ(ParseJson(Plain.Out)["frames"][0].Members.count("vertices"), 0u);
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
