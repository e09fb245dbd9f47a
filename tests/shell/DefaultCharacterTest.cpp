// The default character exercises the whole viewer: its model, motion, camera, textures and toon
// ramps read back through the system's own readers with everything the viewer relies on; the
// dance and its camera played through the GL-free controller core and camera track.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "character/core/CameraMotion.h"
#include "character/core/PmxControllerCore.h"
#include "formats/TextDecoding.h"
#include "formats/pmxlib.h"
#include "gl/Bitmap.h"
#include "gl/Textures.h"
#include "gl/tgaimage.h"
#include "tools/demo/DemoCharacter.h"

namespace {

class DefaultCharacterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::vector<uint8_t> ModelBytes = BuildDemoModel().Build();
    Model = new TPmx;
    Model->LoadFromBytes(ModelBytes);
    const std::vector<uint8_t> MotionBytes = BuildDemoMotion().Build();
    Motion = new TVmd;
    Motion->LoadFromBytes(MotionBytes);
  }
  static void TearDownTestSuite() {
    delete Model;
    delete Motion;
  }
  static const TPmxBone& Bone(const char* AName) {
    const int I = Model->IndexOfBone(AName);
    EXPECT_GE(I, 0) << AName;
    return *Model->GetBone(std::max(I, 0));
  }
  // The model's morph that a motion key's raw name (up to 15 bytes of code page 932) names: the
  // exact name, or for a full 15 bytes the first name whose code page 932 form starts with them.
  static int MorphOfKeyName(const char (&AName)[15]) {
    const std::string Raw(AName, strnlen(AName, 15));
    const int Exact = Model->IndexOfMorph(
        DecodeVmdName({reinterpret_cast<const uint8_t*>(Raw.data()), Raw.size()}));
    if (Exact >= 0 || Raw.size() < 15) return Exact;
    for (int I = 0; I < Model->MorphCount(); ++I)
      if (Utf8ToCp932(Model->GetMorph(I)->NameJp).starts_with(Raw)) return I;
    return -1;
  }
  static TPmx* Model;
  static TVmd* Motion;
};
TPmx* DefaultCharacterTest::Model = nullptr;
TVmd* DefaultCharacterTest::Motion = nullptr;

TEST_F(DefaultCharacterTest, HasTheConventionalSkeletonWithDisplayedBones) {
  for (const char* Name :
       {"全ての親", "センター", "上半身", "上半身2", "下半身", "首",       "頭",      "左肩",
        "左腕",     "左ひじ",   "左手首", "右肩",    "右腕",   "右ひじ",   "右手首",  "左足",
        "左ひざ",   "左足首",   "右足",   "右ひざ",  "右足首", "左足ＩＫ", "右足ＩＫ"}) {
    const TPmxBone& B = Bone(Name);
    EXPECT_TRUE(HasFlag(B.Flags, bfDisplay)) << Name;
  }
  // A parent always comes before its children, so the pose is built in one pass.
  for (int I = 0; I < Model->BoneCount(); ++I) EXPECT_LT(Model->GetBone(I)->ParentIndex, I);
  // She stands on the ground: the lowest vertex is at height 0 within a few millimetres.
  float Lowest = 1e9f;
  for (const TPmxVertex& V : Model->VertexList()) Lowest = std::min(Lowest, V.Position.Y);
  EXPECT_NEAR(Lowest, 0.0f, 0.01f);
}

TEST_F(DefaultCharacterTest, LegIKChainsEndAtTheAnklesWithBendingKnees) {
  for (const char* Side : {"左", "右"}) {
    const std::string Ik = std::string(Side) + "足ＩＫ";
    const TPmxBone& B = Bone(Ik.c_str());
    ASSERT_TRUE(HasFlag(B.Flags, bfIK)) << Ik;
    EXPECT_EQ(B.IKTargetBoneIndex, Model->IndexOfBone(std::string(Side) + "足首"));
    EXPECT_GT(B.IKLoopCount, 0);
    ASSERT_EQ(B.IKLinks.size(), 2u);
    const TPmxIKLink& Knee = B.IKLinks[0];
    EXPECT_EQ(Knee.LinkBoneIndex, Model->IndexOfBone(std::string(Side) + "ひざ"));
    EXPECT_EQ(Knee.AngleLimit, 1);
    EXPECT_GT(Knee.LowerLimit.X, 0.0f);
    EXPECT_NEAR(Knee.UpperLimit.X, 3.14159f, 1e-3f);
    EXPECT_EQ(Knee.AxisType, atFlowedX);
    EXPECT_EQ(B.IKLinks[1].LinkBoneIndex, Model->IndexOfBone(std::string(Side) + "足"));
    // The ankle is where the IK bone is, so the rest pose is already solved.
    const TPmxBone& Ankle = *Model->GetBone(B.IKTargetBoneIndex);
    EXPECT_FLOAT_EQ(Ankle.Position.Y, B.Position.Y);
  }
}

TEST_F(DefaultCharacterTest, MaterialsCoverEveryTextureKindAToonSharedAndATwoSidedSkirt) {
  std::set<std::string> Extensions;
  for (const std::string& Path : Model->TextureList())
    Extensions.insert(std::filesystem::path(Path).extension());
  EXPECT_EQ(Extensions, (std::set<std::string>{".png", ".tga", ".dds", ".spa", ".sph"}));
  int TwoSided = 0, Untextured = 0;
  std::multiset<int> Toons;
  int FaceIndices = 0;
  for (const TPmxMaterial& M : Model->MaterialList()) {
    EXPECT_GT(M.NumberOfVertex, 0) << M.NameJp;
    EXPECT_EQ(M.NumberOfVertex % 3, 0) << M.NameJp;
    FaceIndices += M.NumberOfVertex;
    TwoSided += HasFlag(M.RenderFlags, rfTwoSide);
    Untextured += M.TextureIndex < 0;
    EXPECT_NE(M.SharedToonFlag, 0) << M.NameJp;
    Toons.insert(M.ToonTexture.SharedToonTextureIndex);
    EXPECT_LT(M.ToonTexture.SharedToonTextureIndex, 10);
  }
  EXPECT_EQ(FaceIndices, static_cast<int>(Model->FaceList().size()));
  EXPECT_EQ(TwoSided, 1);
  EXPECT_GT(Untextured, 0);
  EXPECT_TRUE(std::any_of(Toons.begin(), Toons.end(), [&](int T) { return Toons.count(T) > 1; }));
}

TEST_F(DefaultCharacterTest, BlinkAndBlushAreVertexMorphs) {
  for (const char* Name : {"まばたき", "照れ"}) {
    const int I = Model->IndexOfMorph(Name);
    ASSERT_GE(I, 0) << Name;
    EXPECT_EQ(Model->GetMorph(I)->Kind, mkVertex);
    EXPECT_GT(Model->GetMorph(I)->Data.size(), 100u);
  }
}

TEST_F(DefaultCharacterTest, MotionLoopsForTwelveSecondsAndEveryKeyFindsItsTarget) {
  EXPECT_GE(Motion->FrameCount(), 300u);
  std::set<std::string> Bones, Morphs;
  for (int I = 0; I < Motion->MotionCount(); ++I) {
    const std::string Name =
        DecodeVmdName({reinterpret_cast<const uint8_t*>(Motion->GetMotion(I)->BoneName), 15});
    EXPECT_GE(Model->IndexOfBone(Name), 0) << Name;
    Bones.insert(Name);
  }
  for (int I = 0; I < Motion->SkinMotionCount(); ++I) {
    const int Morph = MorphOfKeyName(Motion->GetSkinMotion(I)->MorphName);
    ASSERT_GE(Morph, 0) << I;
    Morphs.insert(Model->GetMorph(Morph)->NameJp);
  }
  for (const char* Name : {"センター", "上半身", "頭", "左腕", "右ひじ", "左足ＩＫ", "右足ＩＫ"})
    EXPECT_TRUE(Bones.count(Name)) << Name;
  EXPECT_TRUE(Morphs.count("まばたき"));
  EXPECT_TRUE(Morphs.count(kDemoLongMorphName));
  // The foot IK keys really move the feet, and the last frame equals the first.
  float Lift = 0;
  for (int I = 0; I < Motion->MotionCount(); ++I) {
    const TVmdMotion& K = *Motion->GetMotion(I);
    // The key records are packed: their vectors are read by value, never through references.
    const TVector3f Position = K.Position;
    if (DecodeVmdName({reinterpret_cast<const uint8_t*>(K.BoneName), 15}) == "左足ＩＫ")
      Lift = std::max(Lift, Position.Y);
  }
  EXPECT_GT(Lift, 0.02f);
  for (int I = 0; I < Motion->MotionCount(); ++I) {
    const TVmdMotion& First = *Motion->GetMotion(I);
    if (First.FrameNum != 0) continue;
    for (int J = 0; J < Motion->MotionCount(); ++J) {
      const TVmdMotion& Last = *Motion->GetMotion(J);
      if (Last.FrameNum + 1 != Motion->FrameCount() ||
          std::memcmp(Last.BoneName, First.BoneName, 15) != 0)
        continue;
      const TVector3f LastPosition = Last.Position, FirstPosition = First.Position;
      const TVector4f LastRotation = Last.Rotation, FirstRotation = First.Rotation;
      for (int C = 0; C < 3; ++C) EXPECT_NEAR(LastPosition.V[C], FirstPosition.V[C], 1e-4f);
      // q and -q are the same rotation.
      float Dot = 0;
      for (int C = 0; C < 4; ++C) Dot += LastRotation.V[C] * FirstRotation.V[C];
      EXPECT_NEAR(std::fabs(Dot), 1.0f, 1e-4f);
    }
  }
}

// The dance on the controller core, bones only (nothing skinned), every unmatched morph key kept.
struct TDanceRig {
  explicit TDanceRig(const TPmx& APmx, const TVmd& AVmd) : Core(APmx) {
    Core.ApplyMorph();
    Core.UpdateBoneMatrix();
    Core.LoadMotion(AVmd,
                    [this](std::span<const uint8_t> ARaw) { Unmatched.push_back(ARaw.size()); });
  }
  TVec3f At(int ABone) const { return TVec3f(Core.BoneGlobalMatrix()[ABone].W); }
  TPmxControllerCore Core;
  std::vector<size_t> Unmatched;
};

TEST_F(DefaultCharacterTest, TheWinkIsKeyedByItsNameCutInsideACharacter) {
  const std::string Full = Utf8ToCp932(kDemoLongMorphName);
  ASSERT_GT(Full.size(), 15u);
  // The 15th byte leads a double-byte character: the cut splits it.
  const uint8_t Lead = static_cast<uint8_t>(Full[14]);
  EXPECT_TRUE((Lead >= 0x81 && Lead <= 0x9F) || (Lead >= 0xE0 && Lead <= 0xFC)) << int(Lead);
  int WinkKeys = 0;
  for (int I = 0; I < Motion->SkinMotionCount(); ++I)
    WinkKeys += std::memcmp(Motion->GetSkinMotion(I)->MorphName, Full.data(), 15) == 0;
  EXPECT_GE(WinkKeys, 4);
  ASSERT_GE(Model->IndexOfMorph(kDemoLongMorphName), 0);

  // The core finds the morph by the cut name: she winks at frame 160 and not at 100.
  TDanceRig Rig(*Model, *Motion);
  EXPECT_TRUE(Rig.Unmatched.empty());
  const int Wink = Model->IndexOfMorph(kDemoLongMorphName);
  Rig.Core.ApplyMotionByFrame(160);
  EXPECT_FLOAT_EQ(Rig.Core.GetMorphRate(Wink), 1.0f);
  Rig.Core.ApplyMotionByFrame(100);
  EXPECT_FLOAT_EQ(Rig.Core.GetMorphRate(Wink), 0.0f);
}

TEST_F(DefaultCharacterTest, FeetStayOnTheGroundAlsoWhileTheLegIKIsOff) {
  TDanceRig Rig(*Model, *Motion);
  const int Ankle[2] = {Model->IndexOfBone("左足首"), Model->IndexOfBone("右足首")};
  const int IK[2] = {Model->IndexOfBone("左足ＩＫ"), Model->IndexOfBone("右足ＩＫ")};
  TVec3f Rest[2];
  for (int K = 0; K < 2; ++K) Rest[K] = TVec3f(Model->GetBone(Ankle[K])->Position);
  float KneeLift = 0;
  for (int F = 0; F <= kDemoMotionFrames; ++F) {
    SCOPED_TRACE(F);
    Rig.Core.ApplyMotionByFrame(F);
    const bool Off = F >= static_cast<int>(kDemoIKOffFrom) && F < static_cast<int>(kDemoIKOffTo);
    for (int K = 0; K < 2; ++K) ASSERT_EQ(Rig.Core.IKEnabled(IK[K]), !Off);
    ASSERT_TRUE(Rig.Core.Visible());
    // One foot always stands at its rest height: neither sunk into the ground nor floating. The
    // legs' own keys put it there within millimetres; the IK's solution was seen to leave it up to
    // 11 mm low while the hips dip.
    const TVec3f A = Rig.At(Ankle[0]), B = Rig.At(Ankle[1]);
    ASSERT_NEAR(std::min(A.Y, B.Y), Rest[0].Y, Off ? 0.004f : 0.015f);
    if (!Off) continue;
    // Without IK the hips keep still, and the standing foot does not slide.
    float Slide = 1e9f;
    for (int K = 0; K < 2; ++K) {
      const TVec3f P = Rig.At(Ankle[K]);
      Slide = std::min(Slide, std::hypot(P.X - Rest[K].X, P.Z - Rest[K].Z));
      KneeLift = std::max(KneeLift, P.Y - Rest[K].Y);
    }
    ASSERT_LT(Slide, 0.015f);
  }
  EXPECT_GT(KneeLift, 0.06f) << "the free foot lifts while the legs follow their own keys";
}

TEST_F(DefaultCharacterTest, TheTurnEasesInAndOutAroundASteadyMiddle) {
  TDanceRig Rig(*Model, *Motion);
  const int Root = Model->IndexOfBone("全ての親");
  int Eased = 0;
  for (int I = 0; I < Motion->MotionCount(); ++I)
    Eased += !BoneKeyCurves(*Motion->GetMotion(I)).Linear;
  EXPECT_GE(Eased, 2);
  // The root's turn angle from its matrix (trace of the rotation: 1 + 2 cos angle).
  auto Turn = [&](int AFrame) {
    Rig.Core.ApplyMotionByFrame(AFrame);
    const TMatrix4f& M = Rig.Core.BoneGlobalMatrix()[Root];
    return std::acos(std::clamp((M.X.X + M.Y.Y + M.Z.Z - 1.0f) / 2.0f, -1.0f, 1.0f)) * 180.0f /
           3.14159265f;
  };
  // Thirds of 120 degrees over 16 frames from frame 258. A quarter into the first third a steady
  // turn would be at 30 degrees, halfway through the middle one at 180, a quarter before the end
  // 30 short of the full turn; easing in and out stays well short of 30 at both ends.
  EXPECT_LT(Turn(262), 15.0f);
  EXPECT_NEAR(Turn(282), 180.0f, 1.0f);
  EXPECT_LT(Turn(302), 15.0f);
  EXPECT_NEAR(Turn(250), 0.0f, 0.5f);
  EXPECT_NEAR(Turn(320), 0.0f, 0.5f);
}

const TPmxMaterial& MaterialNamed(const TPmx& APmx, const std::string& AName) {
  for (const TPmxMaterial& M : APmx.MaterialList())
    if (M.NameJp == AName) return M;
  ADD_FAILURE() << "no material " << AName;
  return APmx.MaterialList().front();
}

// The face-index runs of the materials: material of each vertex (-1 for none).
std::vector<int> VertexMaterials(const TPmx& APmx) {
  std::vector<int> Result(APmx.VertexList().size(), -1);
  size_t Face = 0;
  for (int M = 0; M < APmx.MaterialCount(); ++M) {
    const int Count = APmx.GetMaterial(M)->NumberOfVertex;
    for (int I = 0; I < Count; ++I) Result[APmx.FaceList()[Face + I]] = M;
    Face += Count;
  }
  return Result;
}

TEST_F(DefaultCharacterTest, HairClothesAndSkinHaveOutlinesAndHairAndEyesSphereMaps) {
  struct TCase {
    const char* Name;
    bool Edge;
    int SphereMode;          // 0 none, 1 multiply, 2 add
    const char* SphereFile;  // its texture's extension
  };
  const TCase Cases[] = {
      {"肌", true, 0, ""},       {"髪", true, 2, ".spa"},  {"服", true, 0, ""},
      {"スカート", true, 0, ""}, {"リボン", true, 0, ""},  {"靴下", true, 0, ""},
      {"靴", true, 0, ""},       {"目", false, 1, ".sph"}, {"ハイライト", false, 0, ""},
      {"口", false, 0, ""},      {"頬紅", false, 0, ""},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const TPmxMaterial& M = MaterialNamed(*Model, C.Name);
    EXPECT_EQ(HasFlag(M.RenderFlags, rfEdge), C.Edge);
    if (C.Edge) {
      // A dark, opaque line about a pixel wide.
      const TVector4f Color = M.EdgeColor;
      EXPECT_EQ(Color.W, 1.0f);
      EXPECT_LT(Color.X + Color.Y + Color.Z, 1.5f);
      EXPECT_GE(M.EdgeSize, 0.4f);
      EXPECT_LE(M.EdgeSize, 1.5f);
      // Whatever draws an outline casts a shadow too: she keeps her shadow on the ground.
      EXPECT_TRUE(HasFlag(M.RenderFlags, rfShadowMapping));
      EXPECT_TRUE(HasFlag(M.RenderFlags, rfGroundShadow));
    }
    EXPECT_TRUE(HasFlag(M.RenderFlags, rfSelfShadow));
    EXPECT_EQ(M.SphereMode, C.SphereMode);
    if (C.SphereMode == 0) {
      EXPECT_LT(M.SphereTextureIndex, 0);
    } else {
      ASSERT_GE(M.SphereTextureIndex, 0);
      ASSERT_LT(M.SphereTextureIndex, Model->TextureCount());
      EXPECT_EQ(std::filesystem::path(Model->GetTexture(M.SphereTextureIndex)).extension(),
                C.SphereFile);
    }
  }
  // Every vertex keeps the material's edge size as it is.
  for (const TPmxVertex& V : Model->VertexList()) ASSERT_EQ(V.MagnificationOfEdge, 1.0f);
}

TEST_F(DefaultCharacterTest, ElbowsAndKneesBendWithSdefAboutTheJoint) {
  struct TJoint {
    const char *Upper, *Joint, *Lower;
  };
  const TJoint Joints[] = {{"左腕", "左ひじ", "左手首"},
                           {"右腕", "右ひじ", "右手首"},
                           {"左足", "左ひざ", "左足首"},
                           {"右足", "右ひざ", "右足首"}};
  int Sdef[4] = {0, 0, 0, 0};
  for (const TPmxVertex& V : Model->VertexList()) {
    if (V.BoneWeightMethod != bwSDEF) {
      // No blend between a limb's two bones is left as BDEF2.
      if (V.BoneWeightMethod == bwBDEF2) {
        for (const TJoint& J : Joints) {
          ASSERT_FALSE(V.BoneWeight.BDEF2.Bone1Index == Model->IndexOfBone(J.Upper) &&
                       V.BoneWeight.BDEF2.Bone2Index == Model->IndexOfBone(J.Joint))
              << J.Joint;
        }
      }
      continue;
    }
    const TPmxBoneWeightSDEF& W = V.BoneWeight.SDEF;
    int Found = -1;
    for (int K = 0; K < 4; ++K)
      if (W.Bone1Index == Model->IndexOfBone(Joints[K].Upper) &&
          W.Bone2Index == Model->IndexOfBone(Joints[K].Joint))
        Found = K;
    ASSERT_GE(Found, 0) << "an SDEF vertex outside the elbows and knees";
    ++Sdef[Found];
    ASSERT_GT(W.Bone1Weight, 0.0f);
    ASSERT_LT(W.Bone1Weight, 1.0f);
    // The file stores the points in its own units and handedness, as real files do: converted
    // like positions, C is the joint itself; R0 lies towards the upper bone, R1 towards the lower
    // one, and the vertex is within the limb's reach of C.
    const TVec3f Joint(Model->GetBone(W.Bone2Index)->Position);
    const TVec3f Down =
        (TVec3f(Bone(Joints[Found].Lower).Position) - TVec3f(Bone(Joints[Found].Upper).Position))
            .Normalize();
    PmxFloat3 FileC = W.SDEF_C, FileR0 = W.SDEF_R0, FileR1 = W.SDEF_R1;
    ConvertPosition(FileC);
    ConvertPosition(FileR0);
    ConvertPosition(FileR1);
    const TVec3f C(FileC), R0(FileR0), R1(FileR1);
    ASSERT_LT(C.Distance(Joint), 1e-5f);
    ASSERT_LT((R0 - C).Dot(Down), -0.02f);
    ASSERT_GT((R1 - C).Dot(Down), 0.02f);
    ASSERT_LT(TVec3f(V.Position).Distance(C), 0.12f);
  }
  for (int K = 0; K < 4; ++K) EXPECT_GE(Sdef[K], 40) << Joints[K].Joint;
}

TEST_F(DefaultCharacterTest, GroupBoneMaterialAndUVMorphsAreBuiltAsTheirKindsNeed) {
  auto Morph = [&](const char* AName, TPmxMorphKind AKind) -> const TPmxMorph& {
    const int I = Model->IndexOfMorph(AName);
    EXPECT_GE(I, 0) << AName;
    const TPmxMorph& M = *Model->GetMorph(std::max(I, 0));
    EXPECT_EQ(M.Kind, AKind) << AName;
    EXPECT_FALSE(M.Data.empty()) << AName;
    return M;
  };
  // 笑い: the blink in full and a mouth morph.
  const TPmxMorph& Laugh = Morph(kDemoLaughMorph, mkGroup);
  ASSERT_EQ(Laugh.Data.size(), 2u);
  EXPECT_EQ(Laugh.Data[0].Group.MorphIndex, Model->IndexOfMorph("まばたき"));
  EXPECT_EQ(Laugh.Data[0].Group.MorphRate, 1.0f);
  const int Mouth = Laugh.Data[1].Group.MorphIndex;
  ASSERT_GE(Mouth, 0);
  ASSERT_LT(Mouth, Model->MorphCount());
  EXPECT_EQ(Model->GetMorph(Mouth)->Target, mtMouth);
  EXPECT_EQ(Model->GetMorph(Mouth)->Kind, mkVertex);
  EXPECT_GT(Laugh.Data[1].Group.MorphRate, 0.0f);
  const std::vector<int> Owner = VertexMaterials(*Model);
  const TPmxMaterial& MouthMaterial = MaterialNamed(*Model, "口");
  for (const TPmxMorphData& D : Model->GetMorph(Mouth)->Data) {
    const int Of = Owner[D.Vertex.VertexIndex];
    ASSERT_GE(Of, 0);
    ASSERT_EQ(Model->GetMaterial(Of), &MouthMaterial) << "the mouth morph moves the mouth only";
  }

  // 首かしげ: unit rotations that really turn, the head among the bones.
  const TPmxMorph& Tilt = Morph(kDemoTiltMorph, mkBone);
  bool Head = false;
  for (const TPmxMorphData& D : Tilt.Data) {
    const TVector4f Q = D.Bone.RotateValue;
    EXPECT_NEAR(Q.X * Q.X + Q.Y * Q.Y + Q.Z * Q.Z + Q.W * Q.W, 1.0f, 1e-5f);
    EXPECT_LT(std::fabs(Q.W), 0.999f) << "at least a few degrees";
    Head |= D.Bone.BoneIndex == Model->IndexOfBone("頭");
  }
  EXPECT_TRUE(Head);

  // 赤面: adds alpha to a material that is invisible at rest.
  const TPmxMorph& Flush = Morph(kDemoFlushMorph, mkMaterial);
  ASSERT_EQ(Flush.Data.size(), 1u);
  const TPmxMorphMaterial& F = Flush.Data[0].Material;
  ASSERT_GE(F.MaterialIndex, 0);
  ASSERT_LT(F.MaterialIndex, Model->MaterialCount());
  const TPmxMaterial& Cheek = *Model->GetMaterial(F.MaterialIndex);
  EXPECT_EQ(Cheek.Diffuse.W, 0.0f);
  EXPECT_EQ(F.OffsetType, 1);
  EXPECT_GT(F.Diffuse.W, 0.3f);
  EXPECT_FALSE(HasFlag(Cheek.RenderFlags, rfEdge))
      << "an invisible patch must not show its outline";

  // ハイライト移動: every vertex of the highlight layer, and nothing else; the blink folds the
  // layer with the eyes.
  const TPmxMorph& Glint = Morph(kDemoHighlightMorph, mkUV);
  const TPmxMaterial& HighlightMaterial = MaterialNamed(*Model, "ハイライト");
  std::set<int> Moved, Layer, Blinked;
  for (const TPmxMorphData& D : Glint.Data) {
    Moved.insert(D.UV.VertexIndex);
    EXPECT_GT(std::hypot(D.UV.UVOffset.X, D.UV.UVOffset.Y), 0.05f);
  }
  for (size_t V = 0; V < Owner.size(); ++V)
    if (Owner[V] >= 0 && Model->GetMaterial(Owner[V]) == &HighlightMaterial)
      Layer.insert(static_cast<int>(V));
  EXPECT_EQ(Moved, Layer);
  for (const TPmxMorphData& D : Model->GetMorph(Model->IndexOfMorph("まばたき"))->Data)
    if (Layer.count(D.Vertex.VertexIndex)) Blinked.insert(D.Vertex.VertexIndex);
  EXPECT_EQ(Blinked, Layer);

  // The highlight texture's spots move with that offset: most of the bright texels land where the
  // layer was clear before.
  ASSERT_GE(HighlightMaterial.TextureIndex, 0);
  const std::string Path = Model->GetTexture(HighlightMaterial.TextureIndex);
  std::string Slashed = Path;
  std::replace(Slashed.begin(), Slashed.end(), '\\', '/');
  TBitmap Spots;
  for (const TDemoTexture& T : BuildDemoTextures())
    if (T.Path == Slashed) Spots = DecodeImageBytes(T.Bytes);
  ASSERT_GT(Spots.Width(), 0) << Slashed;
  const TVector4f Offset = Glint.Data[0].UV.UVOffset;
  const int Dx = static_cast<int>(std::lround(Offset.X * Spots.Width()));
  const int Dy = static_cast<int>(std::lround(Offset.Y * Spots.Height()));
  auto Alpha = [&](int X, int Y) {
    X = (X % Spots.Width() + Spots.Width()) % Spots.Width();
    Y = (Y % Spots.Height() + Spots.Height()) % Spots.Height();
    return Spots.ScanLine(Y)[4 * X + 3];
  };
  int Bright = 0, StillBright = 0;
  for (int Y = 0; Y < Spots.Height(); ++Y)
    for (int X = 0; X < Spots.Width(); ++X) {
      if (Alpha(X, Y) < 128) continue;
      ++Bright;
      StillBright += Alpha(X - Dx, Y - Dy) >= 128;
    }
  EXPECT_GT(Bright, 50);
  EXPECT_LT(StillBright, Bright / 2);
}

TEST_F(DefaultCharacterTest, TheDanceKeysEveryNewMorphFromRestToFull) {
  TDanceRig Rig(*Model, *Motion);
  EXPECT_TRUE(Rig.Unmatched.empty());
  for (const char* Name :
       {kDemoLaughMorph, kDemoTiltMorph, kDemoFlushMorph, kDemoHighlightMorph, "あ"}) {
    SCOPED_TRACE(Name);
    const int Morph = Model->IndexOfMorph(Name);
    ASSERT_GE(Morph, 0);
    std::vector<std::pair<uint32_t, float>> Keys;
    for (int I = 0; I < Motion->SkinMotionCount(); ++I)
      if (MorphOfKeyName(Motion->GetSkinMotion(I)->MorphName) == Morph)
        Keys.emplace_back(static_cast<uint32_t>(Motion->GetSkinMotion(I)->FrameNum),
                          static_cast<float>(Motion->GetSkinMotion(I)->Weight));
    if (std::string(Name) == "あ") {
      EXPECT_TRUE(Keys.empty()) << "the mouth moves through the laugh only";
      continue;
    }
    ASSERT_GE(Keys.size(), 3u);
    std::sort(Keys.begin(), Keys.end());
    EXPECT_EQ(Keys.front().first, 0u);
    EXPECT_EQ(Keys.front().second, 0.0f);
    EXPECT_EQ(Keys.back().first, static_cast<uint32_t>(kDemoMotionFrames));
    EXPECT_EQ(Keys.back().second, 0.0f) << "the loop ends where it starts";
    int Full = 0;
    for (auto [Frame, Weight] : Keys)
      if (Weight == 1.0f) {
        ++Full;
        Rig.Core.ApplyMotionByFrame(Frame);
        EXPECT_FLOAT_EQ(Rig.Core.GetMorphRate(Morph), 1.0f) << Frame;
      }
    EXPECT_GE(Full, 1);
  }
}

// Whether APoint shows in the camera's picture at an aspect ratio of AAspect, with a margin of
// AMargin of the half-height kept free at the borders.
bool InView(const TCameraPose& ACamera, const TVec3f& APoint, float AAspect, float AMargin) {
  const TVec3f Forward = (ACamera.Target - ACamera.Eye).Normalize();
  const TVec3f Right = Forward.Cross(ACamera.Up).Normalize();
  const TVec3f Up = Right.Cross(Forward);
  const TVec3f P = APoint - ACamera.Eye;
  const float Depth = P.Dot(Forward);
  if (Depth < 0.1f) return false;
  const float Half = std::tan(ACamera.FovY * 3.14159265f / 360.0f) * (1.0f - AMargin);
  return std::fabs(P.Dot(Up)) / Depth <= Half && std::fabs(P.Dot(Right)) / Depth <= Half * AAspect;
}

TEST_F(DefaultCharacterTest, TheCameraFollowsHerAndKeepsHerHeadInView) {
  TVmd Camera;
  Camera.LoadFromBytes(BuildDemoCamera().Build());
  EXPECT_EQ(Camera.MotionCount(), 0);
  EXPECT_EQ(Camera.SkinMotionCount(), 0);
  ASSERT_GE(Camera.CameraMotions().size(), 6u);
  EXPECT_EQ(Camera.CameraFrameCount(), Motion->FrameCount()) << "it loops with the dance";
  std::vector<uint32_t> Frames;
  for (const TVmdCameraMotion& K : Camera.CameraMotions()) {
    // Packed record: the fields are copied out before they are compared.
    const float Distance = K.Distance;
    const uint32_t ViewAngle = K.ViewAngle;
    Frames.push_back(static_cast<uint32_t>(K.FrameNum));
    // In front of her (the file's distance is negative), 2 to 5 m, a 25 to 40 degree view, eased.
    EXPECT_GE(Distance, 2.0f);
    EXPECT_LE(Distance, 5.0f);
    EXPECT_GE(ViewAngle, 25u);
    EXPECT_LE(ViewAngle, 40u);
    EXPECT_FALSE(IsLinearBezier(VmdCameraCurve(K, ccRotation)));
  }
  std::sort(Frames.begin(), Frames.end());
  int Cuts = 0;
  for (size_t I = 1; I < Frames.size(); ++I) {
    EXPECT_LE(Frames[I] - Frames[I - 1], 60u) << "a key at least every two seconds";
    Cuts += Frames[I] - Frames[I - 1] == 1;
  }
  EXPECT_GE(Cuts, 1);

  const TCameraMotion Track(Camera.CameraMotions());
  TDanceRig Rig(*Model, *Motion);
  const int Head = Model->IndexOfBone("頭");
  float MinYaw = 0, MaxYaw = 0;
  for (int F = 0; F <= kDemoMotionFrames; ++F) {
    SCOPED_TRACE(F);
    Rig.Core.ApplyMotionByFrame(F);
    const TCameraPose Pose = Track.Sample(F);
    const TVec3f HeadAt = Rig.At(Head);
    // Her head and its top, with some room to the borders of a 4:3 picture (the window is wider).
    ASSERT_TRUE(InView(Pose, HeadAt, 4.0f / 3.0f, 0.1f));
    ASSERT_TRUE(InView(Pose, HeadAt + TVec3f(0.0f, 0.18f, 0.0f), 4.0f / 3.0f, 0.05f));
    ASSERT_GT(Pose.Eye.Y, 0.3f) << "above the ground";
    const float Away = Pose.Eye.Distance(HeadAt);
    ASSERT_GT(Away, 1.5f);
    ASSERT_LT(Away, 6.0f);
    // Where the camera stands around her: 0 in front, positive towards her left.
    const float Yaw = std::atan2(Pose.Eye.X, Pose.Eye.Z - kDemoStandZ) * 180.0f / 3.14159265f;
    MinYaw = std::min(MinYaw, Yaw);
    MaxYaw = std::max(MaxYaw, Yaw);
  }
  EXPECT_LT(MinYaw, -60.0f) << "the camera goes round to her right side";
  EXPECT_GT(MaxYaw, 30.0f) << "and to her left";
}

TEST_F(DefaultCharacterTest, TexturesAndToonRampsDecodeWithTheViewersReaders) {
  for (const TDemoTexture& T : BuildDemoTextures()) {
    SCOPED_TRACE(T.Path);
    const std::string Ext = std::filesystem::path(T.Path).extension();
    if (Ext == ".spa" || Ext == ".sph") {
      // Sphere maps hold PNG (the hair's) or BMP (the eyes') data, read by their content.
      const bool Png = T.Bytes.size() > 8 && T.Bytes[1] == 'P' && T.Bytes[2] == 'N';
      const bool Bmp = T.Bytes.size() > 2 && T.Bytes[0] == 'B' && T.Bytes[1] == 'M';
      EXPECT_TRUE(Ext == ".spa" ? Png : Bmp);
      const TBitmap B = DecodeImageBytes(T.Bytes);
      EXPECT_GT(B.Width(), 0);
    } else if (Ext == ".png") {
      const TBitmap B = DecodeImageBytes(T.Bytes);
      EXPECT_GT(B.Width(), 0);
    } else if (Ext == ".tga") {
      TTGAImage Image;
      Image.LoadFromBytes(T.Bytes);
      EXPECT_EQ(T.Bytes[2], 10);  // run-length
      EXPECT_GT(Image.Bitmap().Width(), 0);
    } else {
      ASSERT_EQ(Ext, ".dds");
      ASSERT_GT(T.Bytes.size(), 128u);
      EXPECT_EQ(std::string(T.Bytes.begin(), T.Bytes.begin() + 4), "DDS ");
      const std::string FourCC(T.Bytes.begin() + 84, T.Bytes.begin() + 88);
      EXPECT_TRUE(FourCC == "DXT1" || FourCC == "DXT5") << FourCC;
    }
  }
  const std::vector<TDemoTexture> Toons = BuildToonRamps();
  ASSERT_EQ(Toons.size(), 10u);
  EXPECT_EQ(Toons.front().Path, "Toon/toon01.bmp");
  EXPECT_EQ(Toons.back().Path, "Toon/toon10.bmp");
  for (const TDemoTexture& T : Toons) {
    const TBitmap B = DecodeImageBytes(T.Bytes);
    // Lit at the top, shaded at the bottom.
    const uint8_t* Top = B.ScanLine(0);
    const uint8_t* Bottom = B.ScanLine(B.Height() - 1);
    EXPECT_EQ(Top[0] + Top[1] + Top[2], 3 * 255) << T.Path;
    EXPECT_LE(Bottom[0] + Bottom[1] + Bottom[2], 3 * 255) << T.Path;
  }
}

// Decodes one DXT1-style colour block (four-colour mode) into RGB triples.
std::array<std::array<int, 3>, 16> DecodeColorBlock(const uint8_t ABlock[8]) {
  auto Expand = [](uint16_t C) {
    const int R = C >> 11, G = (C >> 5) & 63, B = C & 31;
    return std::array<int, 3>{(R << 3) | (R >> 2), (G << 2) | (G >> 4), (B << 3) | (B >> 2)};
  };
  const uint16_t C0 = uint16_t(ABlock[0] | ABlock[1] << 8),
                 C1 = uint16_t(ABlock[2] | ABlock[3] << 8);
  std::array<std::array<int, 3>, 4> P{Expand(C0), Expand(C1)};
  for (int K = 0; K < 3; ++K) {
    P[2][K] = (2 * P[0][K] + P[1][K]) / 3;
    P[3][K] = (P[0][K] + 2 * P[1][K]) / 3;
  }
  const uint32_t Bits = uint32_t(ABlock[4]) | uint32_t(ABlock[5]) << 8 | uint32_t(ABlock[6]) << 16 |
                        uint32_t(ABlock[7]) << 24;
  std::array<std::array<int, 3>, 16> Out;
  for (int I = 0; I < 16; ++I) Out[I] = P[(Bits >> (2 * I)) & 3];
  return Out;
}

TEST(DemoTextureEncoderTest, DxtBlocksKeepTheirColoursAndAlpha) {
  // Two colours that 5-6-5 holds exactly, in a checker: every texel decodes to its own colour.
  TRgba Block[16];
  const TRgba A{247, 243, 0, 255}, B{8, 32, 255, 10};
  for (int I = 0; I < 16; ++I) Block[I] = (I + I / 4) % 2 ? A : B;
  uint8_t Color[8], Alpha[8];
  EncodeDxtColorBlock(Block, Color);
  EXPECT_GT(Color[0] | Color[1] << 8, Color[2] | Color[3] << 8) << "four-colour mode";
  const auto Decoded = DecodeColorBlock(Color);
  for (int I = 0; I < 16; ++I) {
    EXPECT_EQ(Decoded[I][0], Block[I].R) << I;
    EXPECT_EQ(Decoded[I][1], Block[I].G) << I;
    EXPECT_EQ(Decoded[I][2], Block[I].B) << I;
  }
  // DXT5 alpha: the two extremes are the end points and come back exactly.
  EncodeDxt5AlphaBlock(Block, Alpha);
  EXPECT_EQ(Alpha[0], 255);
  EXPECT_EQ(Alpha[1], 10);
  uint64_t Bits = 0;
  for (int K = 0; K < 6; ++K) Bits |= uint64_t(Alpha[2 + K]) << (8 * K);
  for (int I = 0; I < 16; ++I) EXPECT_EQ((Bits >> (3 * I)) & 7, Block[I].A == 255 ? 0u : 1u) << I;
  // A flat block: both end points equal, every index 0.
  for (TRgba& P : Block) P = TRgba{100, 150, 200, 255};
  EncodeDxtColorBlock(Block, Color);
  EXPECT_EQ(Color[0] | Color[1] << 8, Color[2] | Color[3] << 8);
  EXPECT_EQ(Color[4] | Color[5] | Color[6] | Color[7], 0);
}

TEST(DemoTextureEncoderTest, RunLengthTgaAndPngDecodeToThePaintedPixels) {
  TCanvas Canvas(37, 5);  // odd width: runs and raw packets end at every row
  for (int Y = 0; Y < 5; ++Y)
    for (int X = 0; X < 37; ++X)
      Canvas.At(X, Y) = X < 20 ? TRgba{uint8_t(10 * Y), 200, 30, 255}
                               : TRgba{uint8_t(X), uint8_t(Y), 7, uint8_t(X * 6)};
  TTGAImage Tga;
  Tga.LoadFromBytes(EncodeTgaRle(Canvas, 32, "id"));
  const TBitmap Png = DecodeImageBytes(EncodePng(Canvas));
  for (const TBitmap* B : {&Tga.Bitmap(), &Png}) {
    ASSERT_EQ(B->Width(), 37);
    ASSERT_EQ(B->Height(), 5);
    ASSERT_EQ(B->PixelFormat(), pf32bit);
    for (int Y = 0; Y < 5; ++Y)
      for (int X = 0; X < 37; ++X) {
        const uint8_t* P = B->ScanLine(Y) + 4 * X;  // B, G, R, A; row 0 at the top
        const TRgba& C = Canvas.At(X, Y);
        ASSERT_EQ((std::array<int, 4>{P[2], P[1], P[0], P[3]}),
                  (std::array<int, 4>{C.R, C.G, C.B, C.A}))
            << X << ", " << Y;
      }
  }
}

TEST(DefaultCharacterLayoutTest, TheBuildLaysTheAssetsOutBesideTheViewer) {
  const std::filesystem::path Bin = std::filesystem::path(QUENLOR_BINARY_DIR) / "bin";
  TPmx Pmx;
  Pmx.LoadFromFile((Bin / kDemoModelPath).string());
  for (const std::string& Path : Pmx.TextureList()) {
    std::string Slashed = Path;
    std::replace(Slashed.begin(), Slashed.end(), '\\', '/');
    EXPECT_TRUE(std::filesystem::exists(Bin / "mmd/model" / Slashed)) << Slashed;
  }
  TVmd Vmd;
  Vmd.LoadFromFile((Bin / kDemoMotionPath).string());
  EXPECT_GE(Vmd.FrameCount(), 300u);
  TVmd Camera;
  Camera.LoadFromFile((Bin / kDemoCameraPath).string());
  EXPECT_EQ(Camera.CameraFrameCount(), Vmd.FrameCount());
  for (int I = 1; I <= 10; ++I) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "Toon/toon%02d.bmp", I);
    EXPECT_TRUE(std::filesystem::exists(Bin / Name)) << Name;
  }
}

}  // namespace
