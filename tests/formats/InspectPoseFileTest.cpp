// quenlor-inspect on VPD poses, run as a real process: a pose printed as read (bones and morphs in
// the viewer's frame), a malformed one rejected with the viewer's message, and a model posed by a
// pose file (--pose POSE.vpd) with its values worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "formats/VpdWriter.h"
#include "tests/formats/FormatsTestUtil.h"
#include "tests/formats/InspectorProcess.h"
#include "tests/formats/JsonReader.h"

namespace {

using TRun = TInspectorRun;

const float S45 = static_cast<float>(std::numbers::sqrt2 / 2);

// In the file's frame and units: "root" moved 20 along X, "arm" a quarter turn about X, the morph
// "smile" at 0.75.
TVpdBuilder ArmPose() {
  TVpdBuilder P;
  P.ModelName = "初音ミク.osm";
  P.AddBone("root", NewVector3f(20, 0, -5));
  P.AddBone("arm", NewVector3f(0, 0, 0), NewVector4f(S45, 0, 0, S45));
  P.AddMorph("smile", 0.75f);
  return P;
}

}  // namespace

TEST(InspectorPoseFile, PrintsThePoseInTheViewersFrameAndRejectsAMalformedOne) {
  const std::string Path = TempPath("inspect_pose.vpd");
  const std::string Bare = TempPath("inspect_pose_no_extension");
  ArmPose().SaveToFile(Path);
  ArmPose().SaveToFile(Bare);
  const TRun R = Inspect(Path);
  const TRun ByText = Inspect(Bare);  // no known extension: the first line says what it is
  ASSERT_EQ(R.ExitCode, 0) << R.Err;
  EXPECT_EQ(R.Err, "");
  EXPECT_EQ(ByText.Out, R.Out);
  const TJson Doc = ParseJson(R.Out);
  EXPECT_EQ(Doc["format"].Text, "vpd");
  EXPECT_EQ(Doc["modelName"].Text, "初音ミク.osm");
  EXPECT_EQ(Doc["boneCount"].Number, 2);
  EXPECT_EQ(Doc["morphCount"].Number, 1);
  ASSERT_EQ(Doc["bones"].Items.size(), 2u);
  EXPECT_EQ(Doc["bones"][0]["name"].Text, "root");
  // x 0.1, Z negated; the quaternion's Z and W negated.
  ExpectNumbers(Doc["bones"][0]["position"], {2, 0, 0.5}, "root position");
  ExpectNumbers(Doc["bones"][0]["rotation"], {0, 0, 0, -1}, "root rotation");
  EXPECT_EQ(Doc["bones"][1]["name"].Text, "arm");
  ExpectNumbers(Doc["bones"][1]["rotation"], {S45, 0, 0, -S45}, "arm rotation");
  ASSERT_EQ(Doc["morphs"].Items.size(), 1u);
  EXPECT_EQ(Doc["morphs"][0]["name"].Text, "smile");
  EXPECT_EQ(Doc["morphs"][0]["weight"].Number, 0.75);

  TVpdBuilder Broken = ArmPose();
  Broken.Comments = false;
  std::string Text;
  for (const std::string& Line : Broken.Lines()) Text += Line + "\r\n";
  Text.replace(Text.find("}"), 1, "end");  // line 9 closes bone 0's block
  Text = Utf8ToCp932(Text);
  WriteBytesToFile(Path, std::vector<uint8_t>(Text.begin(), Text.end()));
  const TRun Bad = Inspect(Path);
  std::remove(Path.c_str());
  std::remove(Bare.c_str());
  EXPECT_EQ(Bad.ExitCode, 1);
  EXPECT_EQ(Bad.Out, "");
  EXPECT_EQ(Bad.Err, "Cannot read motion \"" + Path +
                         "\": line 9: expected \"}\" (the end of bone 0's block)\n");
}

// The model: "root" at the origin, "arm" 10 up (its child), a vertex morph "smile"; in the file's
// frame. Posed: root at (2, 0, 0.5) in the viewer's frame, unturned; the arm's origin one up from
// it; the arm turned a quarter about the file's X, which the mirror makes a quarter the other way
// about the viewer's X: (-s, 0, 0, s) with w >= 0. The pose holds at every frame.
TEST(InspectorPoseFile, PosesAModelWithAPoseFileAtFrameZeroOrTheFramesGiven) {
  const std::string Model = TempPath("inspect_posefile_model.pmx");
  const std::string Pose = TempPath("inspect_posefile.vpd");
  TPmxBuilder M;
  M.Settings.FileFrame = true;
  const int Root = M.AddBone("root", NewVector3f(0, 0, 0));
  M.AddBone("arm", NewVector3f(0, 10, 0), Root);
  const int V = M.AddVertex(NewVector3f(0, 0, 0));
  M.AddTriangle(V, V, V);
  M.AddMaterial("body", 3);
  M.AddVertexMorphOffset(M.AddMorph("smile", mkVertex), V, NewVector3f(0, 1, 0));
  M.SaveToFile(Model);
  ArmPose().SaveToFile(Pose);
  const TRun AtZero = Inspect(Model + " --pose " + Pose);
  const TRun Frames = Inspect(Model + " --pose " + Pose + " --frames 0,15.5");
  std::remove(Model.c_str());
  std::remove(Pose.c_str());
  ASSERT_EQ(AtZero.ExitCode, 0) << AtZero.Err;
  ASSERT_EQ(Frames.ExitCode, 0) << Frames.Err;

  const TJson Zero = ParseJson(AtZero.Out), Both = ParseJson(Frames.Out);
  ASSERT_EQ(Zero["frames"].Items.size(), 1u);
  EXPECT_EQ(Zero["frames"][0]["frame"].Number, 0);
  ASSERT_EQ(Both["frames"].Items.size(), 2u);
  for (const TJson* F : {&Zero["frames"][0], &Both["frames"][0], &Both["frames"][1]}) {
    SCOPED_TRACE((*F)["frame"].Number);
    const TJson& Bones = (*F)["bones"];
    ASSERT_EQ(Bones.Items.size(), 2u);
    ExpectNumbers(Bones[0]["global"]["position"], {2, 0, 0.5}, "root position");
    ExpectNumbers(Bones[0]["global"]["rotation"], {0, 0, 0, 1}, "root rotation");
    ExpectNumbers(Bones[1]["global"]["position"], {2, 1, 0.5}, "arm position");
    ExpectNumbers(Bones[1]["global"]["rotation"], {-S45, 0, 0, S45}, "arm rotation");
    EXPECT_NEAR((*F)["morphs"][0]["weight"].Number, 0.75, 1e-6);
  }
}
