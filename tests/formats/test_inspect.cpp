// quenlor-inspect run as a real process on fixture files.
#include <gtest/gtest.h>

#include "tests/formats/FormatsTestUtil.h"
#include "tests/formats/InspectorProcess.h"

namespace {

using TRun = TInspectorRun;

void ExpectContains(const std::string& AText, const std::vector<std::string>& AParts) {
  for (const std::string& Part : AParts)
    EXPECT_NE(AText.find(Part), std::string::npos) << "missing: " << Part;
}

}  // namespace

TEST(Inspector, PrintsTheModelAsReadWithIKDerivedLimits) {
  const std::string Path = TempPath("inspect_model.pmx");
  RichModel(2.1f).SaveToFile(Path);
  const TRun R = Inspect(Path);
  EXPECT_EQ(R.ExitCode, 0) << R.Err;
  EXPECT_EQ(R.Err, "");
  ExpectContains(R.Out, {
                            "\"format\": \"pmx\"",
                            "\"version\": 2.1",
                            "\"encoding\": \"UTF-16LE\"",
                            "\"additionalUVCount\": 2",
                            "\"modelNameJp\": \"テストモデル\"",
                            "\"commentJp\": \"コメント\\n二行目\"",
                            "\"vertices\": 6",
                            "\"faces\": 2",
                            "\"morphs\": 12",
                            "\"softBodies\": 1",
                            "\"tex\\\\body.png\"",
                            "\"sharedToonTextureIndex\": 3",
                            "\"nameJp\": \"左足ＩＫ\"",
                            "\"targetBoneIndex\": 4",
                            "\"lowerLimit\": [0.5, 0, 0]",
                            "\"upperLimit\": [1, 0, 0]",
                            "\"euler\": \"ZXY\"",
                            "\"axisType\": \"flowedX\"",
                            "\"kind\": \"material\"",
                            "\"kind\": \"11\"",
                            "\"elementCount\": 3",
                            "\"target\": \"morph\"",
                        });
  EXPECT_EQ(R.Out.find("\"weightMethod\""), std::string::npos);  // vertices only on request
  EXPECT_EQ(R.Out.back(), '\n');

  const TRun V = Inspect("--vertices " + Path);
  EXPECT_EQ(V.ExitCode, 0);
  ExpectContains(V.Out,
                 {"\"weightMethod\": \"SDEF\"", "\"sdefR1\": [7, 8, 9]", "\"bones\": [0, 3, 4, -1]",
                  "\"additionalUV\": [[1, 2, 3, 4], [5, 6, 7, 8]]",
                  "\"faces\": [\n    [0, 1, 2],\n    [3, 4, 5]\n  ]"});
  std::remove(Path.c_str());
}

TEST(Inspector, PrintsMotionCountsPerNameAndKeysOnRequest) {
  const std::string Path = TempPath("inspect_motion.vmd");
  TVmdBuilder B;
  B.AddBoneKey("センター", 0, NewVector3f(1, 2, 3));
  B.AddBoneKey("左足ＩＫ", 10);
  B.AddBoneKey("センター", 41);
  B.AddMorphKey("まばたき", 5, 0.5f);
  B.SaveToFile(Path);
  const TRun R = Inspect(Path);
  EXPECT_EQ(R.ExitCode, 0) << R.Err;
  ExpectContains(R.Out, {"\"format\": \"vmd\"", "\"frameCount\": 42", "\"boneKeyCount\": 3",
                         "\"morphKeyCount\": 1", "\"name\": \"センター\",\n      \"keyCount\": 2",
                         "\"name\": \"まばたき\",\n      \"keyCount\": 1"});
  EXPECT_EQ(R.Out.find("\"boneKeys\""), std::string::npos);
  const TRun K = Inspect("--keys " + Path);
  ExpectContains(K.Out,
                 {"\"boneKeys\"", "\"frame\": 41", "\"position\": [1, 2, 3]", "\"weight\": 0.5"});
  std::remove(Path.c_str());
}

TEST(Inspector, PrintsEveryOptionalMotionSection) {
  const std::string Path = TempPath("inspect_scene.vmd");
  TVmdBuilder B;
  B.AddBoneKey("センター", 3);
  B.AddCameraKey(0, NewVector3f(0, 1, -0.5f), 4.5f, NewVector3f(0.25f, -0.5f, 0), 30);
  B.AddCameraKey(90, NewVector3f(0, 1, 0), 2, NewVector3f(0, 0, 0), 45);
  B.LightMotions.push_back(TVmdLightMotion{5, {{0.5f, 0.25f, 1}}, {{-0.5f, -1, 0.5f}}});
  B.SelfShadowMotions.push_back(TVmdSelfShadowMotion{7, 2, 0.125f});
  B.AddShowIKKey(0, true, {{"左足ＩＫ", true}, {"右足ＩＫ", false}});
  B.AddShowIKKey(20, false, {{"左足ＩＫ", false}});
  B.SaveToFile(Path);
  const TRun R = Inspect(Path);
  EXPECT_EQ(R.ExitCode, 0) << R.Err;
  ExpectContains(R.Out,
                 {"\"frameCount\": 4", "\"cameraKeyCount\": 2", "\"cameraFrameCount\": 91",
                  "\"lightKeyCount\": 1", "\"selfShadowKeyCount\": 1", "\"showIKKeyCount\": 2",
                  "\"name\": \"左足ＩＫ\",\n      \"keyCount\": 2"});
  for (const char* Keys :
       {"\"cameraKeys\"", "\"lightKeys\"", "\"selfShadowKeys\"", "\"showIKKeys\""})
    EXPECT_EQ(R.Out.find(Keys), std::string::npos) << Keys;
  const TRun K = Inspect("--keys " + Path);
  EXPECT_EQ(K.ExitCode, 0) << K.Err;
  ExpectContains(K.Out,
                 {"\"frame\": 90", "\"distance\": 4.5", "\"target\": [0, 1, -0.5]",
                  "\"rotation\": [0.25, -0.5, 0]", "\"viewAngle\": 45", "\"perspective\": 0",
                  "\"interpolation\": [20, 107, 20, 107, 20, 107, 20, 107, 20, 107, 20, 107, "
                  "20, 107, 20, 107, 20, 107, 20, 107, 20, 107, 20, 107]",
                  "\"color\": [0.5, 0.25, 1]", "\"direction\": [-0.5, -1, 0.5]", "\"mode\": 2",
                  "\"distance\": 0.125", "\"show\": false",
                  "\"name\": \"右足ＩＫ\",\n          \"enabled\": false"});
  std::remove(Path.c_str());
}

TEST(Inspector, AFileTheReaderRejectsPrintsItsMessageAndExits1) {
  const std::string Path = TempPath("inspect_broken.pmx");
  std::vector<uint8_t> Bytes = RichModel().Build();
  Bytes.resize(Bytes.size() / 2);
  WriteBytesToFile(Path, Bytes);
  const TRun Cut = Inspect(Path);
  EXPECT_EQ(Cut.ExitCode, 1);
  EXPECT_EQ(Cut.Out, "");
  EXPECT_EQ(Cut.Err, StreamError + "\n");

  TPmxBuilder Bad = RichModel();
  Bad.Faces[0] = 6;
  Bad.SaveToFile(Path);
  const TRun Index = Inspect(Path);
  EXPECT_EQ(Index.ExitCode, 1);
  EXPECT_EQ(Index.Err,
            "PMX index out of range: face 0: vertex index 6 (the model has 6 vertices)\n");

  const TRun Missing = Inspect(TempPath("no_such_file.vmd"));
  EXPECT_EQ(Missing.ExitCode, 1);
  EXPECT_NE(Missing.Err.find("no_such_file.vmd"), std::string::npos);
  EXPECT_EQ(Inspect("").ExitCode, 2);
  EXPECT_EQ(Inspect("--bogus " + Path).ExitCode, 2);
  std::remove(Path.c_str());
}
