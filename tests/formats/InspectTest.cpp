// quenlor-inspect run as a real process on fixture files.
#include <gtest/gtest.h>

#include "tests/formats/FormatsTestUtil.h"
#include "tests/formats/InspectorProcess.h"
#include "tests/formats/JsonReader.h"

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
  ExpectContains(
      V.Out, {"\"weightMethod\": \"SDEF\"", "\"sdefR1\": [70, 80, -90]", "\"bones\": [0, 3, 4, -1]",
              "\"additionalUV\": [[1, 2, 3, 4], [5, 6, 7, 8]]",
              "\"faces\": [\n    [0, 1, 2],\n    [3, 4, 5]\n  ]"});
  std::remove(Path.c_str());
}

// Every morph kind's entries and the physics records, read back from the JSON. The rich model's
// morphs in order: group, vertex, bone, UV and additional UV 1-4, material, flip, impulse, an
// unknown kind with three entries. Its rigid body and first joint get values that show each
// conversion.
TEST(Inspector, PrintsEveryMorphEntryAndThePhysicsRecordsInFull) {
  const std::string Path = TempPath("inspect_physics.pmx");
  TPmxBuilder B = RichModel(2.1f);
  TPmxRigidBody& Body = B.RigidBodies[0];
  Body.Rotation = NewVector3f(0.5f, 0.25f, 0.125f);
  TPmxJointSpring6DOF& Joint = B.Joints[0].Data.Spring6DOF;
  Joint.Rotation = NewVector3f(0.5f, 0.25f, 0.125f);
  Joint.TranslateLowerLimit = NewVector3f(-1, -2, -3);
  Joint.TranslateUpperLimit = NewVector3f(1, 2, 4);
  Joint.RotateLowerLimit = NewVector3f(-0.5f, -0.25f, -0.125f);
  Joint.RotateUpperLimit = NewVector3f(0.25f, 0.5f, 1);
  Joint.TranslationSpringConstant = NewVector3f(1, 2, 3);
  B.SaveToFile(Path);
  const TRun R = Inspect(Path);
  std::remove(Path.c_str());
  ASSERT_EQ(R.ExitCode, 0) << R.Err;
  const TJson Doc = ParseJson(R.Out);

  const TJson& Morphs = Doc["morphs"];
  ASSERT_EQ(Morphs.Items.size(), 12u);
  struct TEntryCase {
    int Morph, Entry;
    const char* Key;
    std::vector<double> Values;
  };
  const TEntryCase Cases[] = {
      {0, 0, "morphIndex", {1}},
      {0, 0, "rate", {0.5}},
      {1, 0, "vertexIndex", {1}},
      {1, 0, "offset", {0, 0.5, -1}},
      {1, 1, "vertexIndex", {2}},
      {1, 1, "offset", {0.25, 0, 0}},
      {2, 0, "boneIndex", {2}},
      {2, 0, "translation", {1, 0, 0.5}},
      {2, 0, "rotation", {0, 0, 0.6, 0.8}},
      {3, 0, "vertexIndex", {3}},
      {3, 0, "offset", {0.25, 0.5, 0, 1}},
      {7, 0, "vertexIndex", {3}},
      {7, 0, "offset", {0.25, 0.5, 0, 1}},
      {8, 0, "materialIndex", {1}},
      {8, 0, "diffuse", {1, 0, 0, 1}},
      {8, 0, "specular", {0.5, 0.5, 0.5}},
      {8, 0, "shininess", {2}},
      {8, 0, "ambient", {0.25, 0.25, 0.25}},
      {8, 0, "edgeColor", {0, 0, 1, 1}},
      {8, 0, "edgeSize", {3}},
      {8, 0, "textureTint", {1, 1, 1, 0.5}},
      {8, 0, "sphereTint", {0.5, 1, 1, 1}},
      {8, 0, "toonTint", {1, 0.5, 1, 1}},
      {9, 0, "morphIndex", {0}},
      {9, 0, "rate", {1}},
      {10, 0, "rigidBodyIndex", {0}},
      {10, 0, "localFlag", {1}},
      {10, 0, "translationSpeed", {1, 2, 3}},
      {10, 0, "rotationTorque", {4, 5, 6}},
  };
  for (const TEntryCase& C : Cases) {
    SCOPED_TRACE(testing::Message() << "morph " << C.Morph << " entry " << C.Entry << " " << C.Key);
    const TJson& Value = Morphs[C.Morph]["entries"][C.Entry][C.Key];
    if (Value.Kind == TJson::jNumber)
      ExpectNumbers(TJson{TJson::jArray, 0, "", {Value}, {}}, C.Values, C.Key);
    else
      ExpectNumbers(Value, C.Values, C.Key);
  }
  for (int M = 0; M < 12; ++M)
    EXPECT_EQ(Morphs[M]["entries"].Items.size(),
              static_cast<size_t>(Morphs[M]["elementCount"].Number))
        << M;
  EXPECT_EQ(Morphs[1]["entries"].Items.size(), 2u);
  EXPECT_EQ(Morphs[8]["entries"][0]["operation"].Text, "add");
  for (const TJson& Unknown : Morphs[11]["entries"].Items) EXPECT_TRUE(Unknown.Members.empty());

  // Rigid bodies and joints in the viewer's frame: positions x0.1 with Z mirrored, sizes x0.1,
  // rotations about X and Y negated, ranges along mirrored axes with their ends swapped.
  ASSERT_EQ(Doc["rigidBodies"].Items.size(), 1u);
  const TJson& Rb = Doc["rigidBodies"][0];
  EXPECT_EQ(Rb["nameJp"].Text, "頭");
  EXPECT_EQ(Rb["nameEn"].Text, "head");
  EXPECT_EQ(Rb["shape"].Text, "capsule");
  ExpectNumbers(Rb["size"], {0.1, 0.2, 0.3}, "size");
  ExpectNumbers(Rb["position"], {0, 1.5, 0.2}, "position");
  ExpectNumbers(Rb["rotation"], {-0.5, -0.25, 0.125}, "rotation");
  const std::pair<const char*, double> BodyScalars[] = {{"relatedBoneIndex", 2},
                                                        {"group", 3},
                                                        {"collisionlessGroupFlag", 0xFFF0},
                                                        {"mass", 1},
                                                        {"translateDecay", 0.5},
                                                        {"rotateDecay", 0.5},
                                                        {"repulsion", 0},
                                                        {"friction", 0.5},
                                                        {"physicsOperation", 1}};
  for (const auto& [Key, Value] : BodyScalars) EXPECT_EQ(Rb[Key].Number, Value) << Key;

  ASSERT_EQ(Doc["joints"].Items.size(), 2u);
  const TJson& Jt = Doc["joints"][0];
  EXPECT_EQ(Jt["nameJp"].Text, "関節");
  EXPECT_EQ(Jt["kind"].Text, "spring6DOF");
  EXPECT_EQ(Jt["rigidBodyAIndex"].Number, 0);
  EXPECT_EQ(Jt["rigidBodyBIndex"].Number, -1);
  ExpectNumbers(Jt["position"], {0.1, 0.2, -0.3}, "position");
  ExpectNumbers(Jt["rotation"], {-0.5, -0.25, 0.125}, "rotation");
  ExpectNumbers(Jt["translateLowerLimit"], {-0.1, -0.2, -0.4}, "translateLowerLimit");
  ExpectNumbers(Jt["translateUpperLimit"], {0.1, 0.2, 0.3}, "translateUpperLimit");
  ExpectNumbers(Jt["rotateLowerLimit"], {-0.25, -0.5, -0.125}, "rotateLowerLimit");
  ExpectNumbers(Jt["rotateUpperLimit"], {0.5, 0.25, 1}, "rotateUpperLimit");
  ExpectNumbers(Jt["translationSpringConstant"], {1, 2, 3}, "translationSpringConstant");
  ExpectNumbers(Jt["rotationSpringConstant"], {7, 8, 9}, "rotationSpringConstant");
  EXPECT_EQ(Doc["joints"][1]["kind"].Text, "6");

  // Soft bodies hold indices and coefficients only: as read.
  ASSERT_EQ(Doc["softBodies"].Items.size(), 1u);
  const TJson& Sb = Doc["softBodies"][0];
  EXPECT_EQ(Sb["nameEn"].Text, "cloth");
  const std::pair<const char*, double> SoftScalars[] = {{"shape", 1},
                                                        {"relatedMaterialIndex", 1},
                                                        {"group", 2},
                                                        {"collisionlessGroupFlag", 0xFF},
                                                        {"flags", 5},
                                                        {"bLinkDistance", 2},
                                                        {"numberOfCluster", 3},
                                                        {"totalMass", 1.5},
                                                        {"collisionMargin", 0.25},
                                                        {"aeroModel", 1}};
  for (const auto& [Key, Value] : SoftScalars) EXPECT_EQ(Sb[Key].Number, Value) << Key;
  ASSERT_EQ(Sb["flagNames"].Items.size(), 2u);
  EXPECT_EQ(Sb["flagNames"][0].Text, "bLink");
  EXPECT_EQ(Sb["flagNames"][1].Text, "crossLink");
  EXPECT_EQ(Sb["config"]["VCF"].Number, 1);
  EXPECT_EQ(Sb["config"]["AHR"].Number, 12);
  EXPECT_EQ(Sb["config"]["DP"].Number, 0);
  EXPECT_EQ(Sb["config"].Members.size(), 12u);
  EXPECT_EQ(Sb["cluster"]["SRHR_CL"].Number, 0.5);
  EXPECT_EQ(Sb["cluster"]["SS_SPLT_CL"].Number, 6);
  EXPECT_EQ(Sb["cluster"].Members.size(), 6u);
  const std::pair<const char*, double> Iterations[] = {
      {"V_IT", 1}, {"P_IT", 2}, {"D_IT", 3}, {"C_IT", 4}};
  for (const auto& [Key, Value] : Iterations) EXPECT_EQ(Sb["iteration"][Key].Number, Value) << Key;
  const std::pair<const char*, double> Materials[] = {{"LST", 0.25}, {"AST", 0.5}, {"VST", 0.75}};
  for (const auto& [Key, Value] : Materials) EXPECT_EQ(Sb["material"][Key].Number, Value) << Key;
  ASSERT_EQ(Sb["anchorRigidBodies"].Items.size(), 1u);
  const TJson& Anchor = Sb["anchorRigidBodies"][0];
  EXPECT_EQ(Anchor["rigidBodyIndex"].Number, 0);
  EXPECT_EQ(Anchor["vertexIndex"].Number, 3);
  EXPECT_EQ(Anchor["nearMode"].Number, 1);
  ExpectNumbers(Sb["pinVertices"], {4, 5}, "pinVertices");
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
  // The viewer's message: the file, the reader's text and what it means.
  EXPECT_EQ(Cut.Err,
            "Cannot read model \"" + Path + "\": " + StreamError + " (the file ends early)\n");

  TPmxBuilder Bad = RichModel();
  Bad.Faces[0] = 6;
  Bad.SaveToFile(Path);
  const TRun Index = Inspect(Path);
  EXPECT_EQ(Index.ExitCode, 1);
  EXPECT_EQ(Index.Err, "Cannot read model \"" + Path +
                           "\": PMX index out of range: face 0: vertex index 6 (the model has 6 "
                           "vertices)\n");

  const TRun Missing = Inspect(TempPath("no_such_file.vmd"));
  EXPECT_EQ(Missing.ExitCode, 1);
  EXPECT_NE(Missing.Err.find("no_such_file.vmd"), std::string::npos);
  EXPECT_EQ(Inspect("").ExitCode, 2);
  EXPECT_EQ(Inspect("--bogus " + Path).ExitCode, 2);
  std::remove(Path.c_str());
}
