// The duet around the demo stage: the stage model reads back with its platform, backdrop and lamps
// where a real stage has them, its motion pans the lamps, the mirrored dance poses the default
// character as the mirror image of the dance, and the scene file names all of it by paths that
// resolve beside it.
#include <gtest/gtest.h>
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "character/core/PmxControllerCore.h"
#include "formats/TextDecoding.h"
#include "formats/pmxlib.h"
#include "tools/demo/DemoStage.h"

namespace {

constexpr float kPi = 3.14159265f;

struct TV {
  float X, Y, Z;
};
// A position read by the reader, back in the file's units and frame (x 10, Z not mirrored).
TV FileUnits(const TVector3f& AP) {
  return TV{AP.X * 10, AP.Y * 10, -AP.Z * 10};
}
TV Cross(TV A, TV B) {
  return TV{A.Y * B.Z - A.Z * B.Y, A.Z * B.X - A.X * B.Z, A.X * B.Y - A.Y * B.X};
}

std::string KeyName(const char (&AField)[15]) {
  return DecodeVmdName({reinterpret_cast<const uint8_t*>(AField), 15});
}

class DemoStageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Stage = new TPmx;
    Stage->LoadFromBytes(BuildDemoStage().Build());
    Character = new TPmx;
    Character->LoadFromBytes(BuildDemoModel().Build());
  }
  static void TearDownTestSuite() {
    delete Stage;
    delete Character;
  }
  // The material of each face (material runs in order over the face list).
  static std::vector<std::pair<std::string, std::array<int, 3>>> FacesByMaterial() {
    std::vector<std::pair<std::string, std::array<int, 3>>> Result;
    size_t Face = 0;
    for (const TPmxMaterial& M : Stage->MaterialList())
      for (int I = 0; I < M.NumberOfVertex; I += 3, Face += 3)
        Result.push_back(
            {M.NameJp,
             {Stage->FaceList()[Face], Stage->FaceList()[Face + 1], Stage->FaceList()[Face + 2]}});
    return Result;
  }
  static TPmx* Stage;
  static TPmx* Character;
};
TPmx* DemoStageTest::Stage = nullptr;
TPmx* DemoStageTest::Character = nullptr;

TEST_F(DemoStageTest, StageHasItsPartsInFileUnitsCentredWhereTheCharacterStands) {
  EXPECT_GT(Stage->VertexList().size(), 500u);
  EXPECT_LT(Stage->VertexList().size(), 5000u);
  // Bones: the root, the bar under it, four lamps hung from the bar.
  const int Root = Stage->IndexOfBone("全ての親"), Bar = Stage->IndexOfBone("照明バー");
  ASSERT_GE(Root, 0);
  ASSERT_GE(Bar, 0);
  EXPECT_EQ(Stage->GetBone(Root)->ParentIndex, -1);
  EXPECT_EQ(Stage->GetBone(Bar)->ParentIndex, Root);
  for (const char* Lamp : {"照明1", "照明2", "照明3", "照明4"}) {
    const int I = Stage->IndexOfBone(Lamp);
    ASSERT_GE(I, 0) << Lamp;
    EXPECT_EQ(Stage->GetBone(I)->ParentIndex, Bar) << Lamp;
  }

  // Where the default character stands: between her ankles, in file units.
  const TV L = FileUnits(Character->GetBone(Character->IndexOfBone("左足首"))->Position);
  const TV R = FileUnits(Character->GetBone(Character->IndexOfBone("右足首"))->Position);
  const float StandX = (L.X + R.X) / 2, StandZ = (L.Z + R.Z) / 2;

  // Per material: the extent of its vertices in file units about the stand point.
  struct TBox {
    float Lo[3] = {1e9f, 1e9f, 1e9f}, Hi[3] = {-1e9f, -1e9f, -1e9f};
    float RadiusMax = 0;
  };
  std::map<std::string, TBox> Boxes;
  int FaceIndices = 0;
  for (const auto& [Name, Face] : FacesByMaterial()) {
    TBox& B = Boxes[Name];
    FaceIndices += 3;
    for (int V : Face) {
      const TV P = FileUnits(Stage->GetVertex(V)->Position);
      const float C[3] = {P.X - StandX, P.Y, P.Z - StandZ};
      for (int K = 0; K < 3; ++K)
        B.Lo[K] = std::min(B.Lo[K], C[K]), B.Hi[K] = std::max(B.Hi[K], C[K]);
      B.RadiusMax = std::max(B.RadiusMax, std::hypot(C[0], C[2]));
    }
  }
  EXPECT_EQ(FaceIndices, static_cast<int>(Stage->FaceList().size()));
  for (const char* Name : {"床", "縁", "側面", "背景", "トラス", "照明", "レンズ", "光"})
    EXPECT_TRUE(Boxes.count(Name)) << Name;
  // The floor: flat at the ground's height, round about the stand point, about 25 across.
  const TBox& Floor = Boxes["床"];
  EXPECT_NEAR(Floor.Lo[1], 0.0f, 0.1f);
  EXPECT_NEAR(Floor.Hi[1], 0.0f, 0.1f);
  EXPECT_GT(Floor.Lo[1], 0.0f) << "a floor exactly at the ground's height fights it for depth";
  for (int K : {0, 2}) {
    EXPECT_NEAR(Floor.Lo[K], -Floor.Hi[K], 0.1f) << K;
    EXPECT_GT(Floor.Hi[K], 20.0f) << K;
  }
  // The platform's side runs from the curb down below the ground, 25 out.
  const TBox& Side = Boxes["側面"];
  EXPECT_NEAR(Side.RadiusMax, 25.0f, 0.1f);
  EXPECT_LT(Side.Lo[1], -2.0f);
  EXPECT_GT(Side.Hi[1], 0.0f);
  // Everything stays over the platform, inside its edge.
  for (const auto& [Name, B] : Boxes) EXPECT_LE(B.RadiusMax, 25.01f) << Name;
  // The backdrop stands behind the dancers (the file's +Z is behind a model facing the front)
  // and twice as tall as one.
  const TBox& Backdrop = Boxes["背景"];
  EXPECT_GT(Backdrop.Lo[2], 0.0f);
  EXPECT_GT(Backdrop.Hi[1], 28.0f);
  EXPECT_LT(Backdrop.Hi[1], 40.0f);
  // The lamps hang above a dancer's head at the front.
  for (const char* Name : {"照明", "レンズ"}) {
    EXPECT_GT(Boxes[Name].Lo[1], 22.0f) << Name;
    EXPECT_LT(Boxes[Name].Hi[2], -5.0f) << Name;
  }
}

TEST_F(DemoStageTest, FloorFacesUpBackdropFacesTheDancersAndLampsHangOnTheirBones) {
  // Front faces are counter-clockwise seen from the front in the viewer's frame, where the reader
  // puts the positions: the winding's normal points to the side that shows.
  int FloorFaces = 0, BackdropFaces = 0;
  for (const auto& [Name, Face] : FacesByMaterial()) {
    const TVector3f& A = Stage->GetVertex(Face[0])->Position;
    const TVector3f& B = Stage->GetVertex(Face[1])->Position;
    const TVector3f& C = Stage->GetVertex(Face[2])->Position;
    const TV N = Cross(TV{B.X - A.X, B.Y - A.Y, B.Z - A.Z}, TV{C.X - A.X, C.Y - A.Y, C.Z - A.Z});
    if (Name == "床") {
      ++FloorFaces;
      ASSERT_GT(N.Y, 0.0f);
    } else if (Name == "背景") {
      // Towards the stage's middle (the vertical through the character's stand point).
      ++BackdropFaces;
      const TV Inwards{-A.X, 0, kDemoStandZ - A.Z};
      ASSERT_GT(N.X * Inwards.X + N.Z * Inwards.Z, 0.0f);
    }
  }
  EXPECT_GT(FloorFaces, 100);
  EXPECT_GT(BackdropFaces, 100);

  // Every vertex of a lamp's body, lens and beam follows that lamp's bone alone: the lamp whose
  // vertices lie nearest to it in X.
  std::map<int, int> LampVertices;
  for (const auto& [Name, Face] : FacesByMaterial()) {
    if (Name != "照明" && Name != "レンズ" && Name != "光") continue;
    for (int V : Face) {
      const TPmxVertex& Vtx = *Stage->GetVertex(V);
      ASSERT_EQ(Vtx.BoneWeightMethod, bwBDEF1);
      const int Bone = Vtx.BoneWeight.BDEF1.BoneIndex;
      int Nearest = -1;
      float Best = 1e9f;
      for (int I = 1; I <= kStageLampCount; ++I) {
        const int L = Stage->IndexOfBone("照明" + std::to_string(I));
        const float D = std::fabs(Stage->GetBone(L)->Position.X - Vtx.Position.X);
        if (Name != "光" && D < Best) Best = D, Nearest = L;
      }
      if (Name != "光") {
        ASSERT_EQ(Bone, Nearest);
      }
      ++LampVertices[Bone];
    }
  }
  EXPECT_EQ(LampVertices.size(), static_cast<size_t>(kStageLampCount));
}

TEST_F(DemoStageTest, StageCatchesShadowsAndCastsNoneWithTexturesItShips) {
  struct TCase {
    const char* Name;
    bool Receives;
  };
  // The platform and backdrop catch the dancers' shadows; the lenses and beams glow.
  const TCase Cases[] = {{"床", true},     {"縁", true},   {"側面", true},    {"背景", true},
                         {"トラス", true}, {"照明", true}, {"レンズ", false}, {"光", false}};
  std::set<std::string> Shipped;
  for (const TDemoTexture& T : BuildDemoStageTextures()) Shipped.insert(T.Path);
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const auto It = std::find_if(Stage->MaterialList().begin(), Stage->MaterialList().end(),
                                 [&](const TPmxMaterial& M) { return M.NameJp == C.Name; });
    ASSERT_NE(It, Stage->MaterialList().end());
    EXPECT_EQ(HasFlag(It->RenderFlags, rfSelfShadow), C.Receives);
    EXPECT_FALSE(HasFlag(It->RenderFlags, rfShadowMapping));
    EXPECT_FALSE(HasFlag(It->RenderFlags, rfGroundShadow));
    if (It->TextureIndex >= 0) {
      std::string Path = Stage->GetTexture(It->TextureIndex);
      std::replace(Path.begin(), Path.end(), '\\', '/');
      EXPECT_TRUE(Shipped.count(Path)) << Path;
    }
  }
  // Floor and backdrop are textured; the beams are faint.
  for (const char* Name : {"床", "背景"})
    EXPECT_GE(std::find_if(Stage->MaterialList().begin(), Stage->MaterialList().end(),
                           [&](const TPmxMaterial& M) { return M.NameJp == Name; })
                  ->TextureIndex,
              0)
        << Name;
}

// A model posed by a motion on the controller core, bones only, physics off.
struct TRig {
  TRig(const TPmx& APmx, const TVmdBuilder& AMotion) : Core(APmx) {
    Motion.LoadFromBytes(AMotion.Build());
    Core.SetPhysicsEnabled(false);
    Core.ApplyMorph();
    Core.UpdateBoneMatrix();
    Core.LoadMotion(Motion);
  }
  const TMatrix4f& At(int ABone) const { return Core.BoneGlobalMatrix()[ABone]; }
  TVmd Motion;
  TPmxControllerCore Core;
};

TEST_F(DemoStageTest, StageMotionPansEachLampAboutTheVerticalAndLoops) {
  const TVmdBuilder Lights = BuildDemoStageMotion();
  std::map<std::string, int> Keys;
  for (const TVmdMotion& K : Lights.Motions) {
    ASSERT_GE(Stage->IndexOfBone(KeyName(K.BoneName)), 0) << KeyName(K.BoneName);
    ++Keys[KeyName(K.BoneName)];
    if (K.FrameNum > 0) {
      EXPECT_FALSE(BoneKeyCurves(K).Linear) << "a lamp eases between its keys";
    }
  }
  TRig Rig(*Stage, Lights);
  for (int I = 1; I <= kStageLampCount; ++I) {
    const std::string Name = "照明" + std::to_string(I);
    SCOPED_TRACE(Name);
    EXPECT_GE(Keys[Name], 3);
    const int Bone = Stage->IndexOfBone(Name);
    float Lo = 1e9f, Hi = -1e9f;
    for (int F = 0; F <= kDemoMotionFrames; F += 5) {
      Rig.Core.ApplyMotionByFrame(F);
      const TMatrix4f& M = Rig.At(Bone);
      // A pan about the vertical: the bone's up stays up, so the beam's foot stays on the floor.
      ASSERT_NEAR(M.Y.Y, 1.0f, 1e-4f) << F;
      // The angle of the pan, from where the bone's X axis points.
      const float Pan = std::atan2(-M.X.Z, M.X.X) * 180 / kPi;
      Lo = std::min(Lo, Pan), Hi = std::max(Hi, Pan);
    }
    EXPECT_GT(Hi - Lo, 30.0f) << "the lamp sweeps";
    EXPECT_LT(Hi - Lo, 60.0f) << "the beam stays on the stage";
    Rig.Core.ApplyMotionByFrame(0);
    const TMatrix4f First = Rig.At(Bone);
    Rig.Core.ApplyMotionByFrame(kDemoMotionFrames);
    EXPECT_NEAR(Rig.At(Bone).X.X, First.X.X, 1e-4f) << "the last frame meets the first";
    EXPECT_NEAR(Rig.At(Bone).X.Z, First.X.Z, 1e-4f);
  }
}

// A quaternion turning a vector, (x, y, z, w): v + 2 w (q x v) + 2 q x (q x v).
TV Turn(const TVector4f& Q, TV V) {
  const TV A{Q.X, Q.Y, Q.Z};
  const TV C1 = Cross(A, V);
  const TV C2 = Cross(A, C1);
  return TV{V.X + 2 * (Q.W * C1.X + C2.X), V.Y + 2 * (Q.W * C1.Y + C2.Y),
            V.Z + 2 * (Q.W * C1.Z + C2.Z)};
}

TEST(DemoMirrorTest, KeysMoveToTheOtherSideWithMirroredTurnsAndPositions) {
  const float S = std::sqrt(0.5f);
  TVmdBuilder M;
  // Her left arm raised by a quarter turn about Z (out to +X, then up); her right elbow folded
  // forward a quarter turn about X; the head turned a quarter about Y; the centre and the left
  // foot's IK moved; a morph key; a name cut inside its last character by the file's 15 bytes.
  M.AddBoneKey("左腕", 10, TVector3f{{0, 0, 0}}, TVector4f{{0, 0, S, S}});
  M.AddBoneKey("右ひじ", 10, TVector3f{{0, 0, 0}}, TVector4f{{S, 0, 0, S}});
  M.AddBoneKey("頭", 10, TVector3f{{0, 0, 0}}, TVector4f{{0, S, 0, S}});
  M.AddBoneKey("センター", 10, TVector3f{{0.1f, 0.2f, 0.3f}});
  M.AddBoneKey("左足ＩＫ", 10, TVector3f{{0.05f, 0.01f, -0.02f}});
  M.AddBoneKey("右袖先ちょっと長め", 10);
  M.AddMorphKey(kDemoLongMorphName, 10, 1.0f);
  M.AddShowIKKey(10, true, {{"左足ＩＫ", false}, {"右足ＩＫ", true}});
  const TVmdBuilder R = MirrorMotion(M);
  auto RotationOf = [&](size_t AKey) -> TVector4f { return R.Motions[AKey].Rotation; };

  // Expected by hand. The right arm points to -X; raised, it points up: a quarter turn about Z
  // the other way, (0, 0, -s, s). A fold about X is the same on both sides. The head turns the
  // other way about Y. Positions: X negated.
  struct TCase {
    const char* Name;
    std::array<float, 3> Position;
    std::array<float, 4> Rotation;
  };
  const TCase Cases[] = {
      {"右腕", {0, 0, 0}, {0, 0, -S, S}},
      {"左ひじ", {0, 0, 0}, {S, 0, 0, S}},
      {"頭", {0, 0, 0}, {0, -S, 0, S}},
      {"センター", {-0.1f, 0.2f, 0.3f}, {0, 0, 0, 1}},
      {"右足ＩＫ", {-0.05f, 0.01f, -0.02f}, {0, 0, 0, 1}},
  };
  ASSERT_EQ(R.Motions.size(), M.Motions.size());
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const TCase& C = Cases[I];
    SCOPED_TRACE(C.Name);
    const TVmdMotion& K = R.Motions[I];
    EXPECT_EQ(KeyName(K.BoneName), C.Name);
    EXPECT_EQ(static_cast<std::uint32_t>(K.FrameNum), 10u);  // a packed field: copied first
    const TVector3f P = K.Position;
    const TVector4f Q = K.Rotation;
    for (int A = 0; A < 3; ++A) EXPECT_NEAR(P.V[A], C.Position[A], 1e-6f) << A;
    for (int A = 0; A < 4; ++A) EXPECT_NEAR(Q.V[A], C.Rotation[A], 1e-6f) << A;
  }
  // The raised right arm really points up: the mirrored turn takes -X to +Y.
  const TV Up = Turn(RotationOf(0), TV{-1, 0, 0});
  EXPECT_NEAR(Up.Y, 1.0f, 1e-5f);
  // The cut name swaps its first character and keeps its 15 bytes, the split one included.
  const std::string Cut = Utf8ToCp932("左袖先ちょっと長め").substr(0, 15);
  EXPECT_EQ(std::string(R.Motions[5].BoneName, 15), Cut);
  // Morph keys stay; the IK switches follow their bones.
  EXPECT_EQ(std::memcmp(R.SkinMotions[0].MorphName, M.SkinMotions[0].MorphName, 15), 0);
  ASSERT_EQ(R.ShowIKMotions.size(), 1u);
  ASSERT_EQ(R.ShowIKMotions[0].IK.size(), 2u);
  EXPECT_EQ(std::string(R.ShowIKMotions[0].IK[0].Name), Utf8ToCp932("右足ＩＫ"));
  EXPECT_FALSE(R.ShowIKMotions[0].IK[0].Enabled);
  EXPECT_EQ(std::string(R.ShowIKMotions[0].IK[1].Name), Utf8ToCp932("左足ＩＫ"));
  EXPECT_TRUE(R.ShowIKMotions[0].IK[1].Enabled);

  // Any turn: the mirrored one turns a mirrored vector to the mirror of the turned vector.
  const float H = 0.5f;
  const TVector4f Any{
      {H * 0.3f, H * -0.6f, H * std::sqrt(1 - 0.09f - 0.36f), std::sqrt(1 - H * H)}};
  TVmdBuilder One;
  One.AddBoneKey("左手首", 0, TVector3f{{0, 0, 0}}, Any);
  const TVector4f Mirrored = [&]() -> TVector4f { return MirrorMotion(One).Motions[0].Rotation; }();
  for (const TV V : {TV{1, 0, 0}, TV{0, 1, 0}, TV{0.3f, -0.4f, 0.8f}}) {
    const TV A = Turn(Any, V), B = Turn(Mirrored, TV{-V.X, V.Y, V.Z});
    EXPECT_NEAR(B.X, -A.X, 1e-5f);
    EXPECT_NEAR(B.Y, A.Y, 1e-5f);
    EXPECT_NEAR(B.Z, A.Z, 1e-5f);
  }
}

TEST_F(DemoStageTest, MirroredDancePosesTheMirrorImageAndTheDuetKeepsApart) {
  const TVmdBuilder Dance = BuildDemoMotion();
  TRig A(*Character, Dance), B(*Character, MirrorMotion(Dance));
  // Every bone and its counterpart (itself when it has no side).
  std::vector<std::pair<int, int>> Pairs;
  for (int I = 0; I < Character->BoneCount(); ++I) {
    const std::string Name = Character->GetBone(I)->NameJp;
    std::string Other;
    for (size_t K = 0; K < Name.size();) {
      const size_t Length = Name.compare(K, 3, "左") == 0 || Name.compare(K, 3, "右") == 0 ? 3 : 1;
      Other += Length == 1 ? Name.substr(K, 1) : Name.compare(K, 3, "左") == 0 ? "右" : "左";
      K += Length;
    }
    const int J = Character->IndexOfBone(Other);
    ASSERT_GE(J, 0) << Name;
    // Bones named by number around the body (the skirt's) have no counterpart by name.
    const TVector3f P = Character->GetBone(I)->Position, Q = Character->GetBone(J)->Position;
    if (std::fabs(P.X + Q.X) + std::fabs(P.Y - Q.Y) + std::fabs(P.Z - Q.Z) < 1e-4f)
      Pairs.push_back({I, J});
  }
  EXPECT_GT(Pairs.size(), 25u);
  // Through the arms' swing, the leg IK off, the wave, and the turn.
  float Reach = -1e9f;
  for (int F : {0, 20, 75, 150, 200, 266, 282, 300}) {
    SCOPED_TRACE(F);
    A.Core.ApplyMotionByFrame(F);
    B.Core.ApplyMotionByFrame(F);
    for (auto [I, J] : Pairs) {
      const TVector4f P = A.At(I).W, Q = B.At(J).W;
      ASSERT_NEAR(Q.X, -P.X, 0.005f) << Character->GetBone(I)->NameJp;
      ASSERT_NEAR(Q.Y, P.Y, 0.005f) << Character->GetBone(I)->NameJp;
      ASSERT_NEAR(Q.Z, P.Z, 0.005f) << Character->GetBone(I)->NameJp;
    }
    for (const char* Wrist : {"左手首", "右手首"})
      Reach = std::max(Reach, A.At(Character->IndexOfBone(Wrist)).W.X);
  }
  // The dancer on the left (at -spacing) reaches towards the one on the right no further than
  // the mirror plane between them, less a hand's breadth (viewer units: a tenth of the file's).
  EXPECT_LT(Reach - kDuetSpacing * 0.1f, -0.1f);
}

std::string ReadText(const std::filesystem::path& APath) {
  std::ifstream In(APath, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

TEST(DemoSceneFileTest, NamesTheDuetAndItsStageByPathsThatResolveBesideIt) {
  namespace fs = std::filesystem;
  const std::string Text = BuildDuetSceneText();
  const fs::path Bin = fs::path(QUENLOR_BINARY_DIR) / "bin";
  // The build wrote it beside the viewer, with every file it names.
  ASSERT_EQ(ReadText(Bin / "mmd/duet.scene.toml"), Text);
  const fs::path Folder = Bin / "mmd";

  toml::table Scene;
  try {
    Scene = toml::parse(Text);
  } catch (const toml::parse_error& E) {
    FAIL() << E.what();
  }
  EXPECT_FALSE(Scene.contains("song")) << "the demo has no song";
  auto Resolves = [&](const toml::node* ANode, const char* AWanted) {
    ASSERT_NE(ANode, nullptr) << AWanted;
    const std::optional<std::string> Path = ANode->value<std::string>();
    ASSERT_TRUE(Path) << AWanted;
    EXPECT_TRUE(fs::path(*Path).is_relative()) << *Path;
    EXPECT_EQ(*Path, AWanted);
    EXPECT_TRUE(fs::is_regular_file(Folder / *Path)) << *Path;
  };
  Resolves(Scene.get("camera"), "motion/camera.vmd");

  const toml::array* Models = Scene["model"].as_array();
  ASSERT_NE(Models, nullptr);
  ASSERT_EQ(Models->size(), 2u);
  const char* Motions[2] = {"motion/motion.vmd", "motion/motion_mirror.vmd"};
  const double At[2] = {-8.0, 8.0};
  for (size_t I = 0; I < 2; ++I) {
    SCOPED_TRACE(I);
    const toml::table& M = *Models->get(I)->as_table();
    Resolves(M.get("file"), "model/model.pmx");
    const toml::array* List = M["motions"].as_array();
    ASSERT_NE(List, nullptr);
    ASSERT_EQ(List->size(), 1u);
    Resolves(List->get(0), Motions[I]);
    const toml::array* Place = M["at"].as_array();
    ASSERT_NE(Place, nullptr);
    ASSERT_EQ(Place->size(), 3u);
    EXPECT_EQ(Place->get(0)->value_or(NAN), At[I]);
    EXPECT_EQ(Place->get(1)->value_or(NAN), 0.0);
    EXPECT_EQ(Place->get(2)->value_or(NAN), 0.0);
  }
  const toml::array* Stages = Scene["stage"].as_array();
  ASSERT_NE(Stages, nullptr);
  ASSERT_EQ(Stages->size(), 1u);
  const toml::table& St = *Stages->get(0)->as_table();
  Resolves(St.get("file"), "stage/stage.pmx");
  ASSERT_NE(St["motions"].as_array(), nullptr);
  Resolves(St["motions"].as_array()->get(0), "motion/stage_lights.vmd");
  EXPECT_FALSE(St.contains("at")) << "the stage stands where the dancers' origin is";
}

}  // namespace
