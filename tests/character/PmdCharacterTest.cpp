// A PMD character poses and dances as the same character written as PMX: the PMX one is written
// by hand with the PMX meaning of every PMD rule (knee limits, turn-following bones, the base
// morph, x 0.1 and the Z mirror), and both go through the controller core with one motion.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "formats/PmdWriter.h"
#include "tests/character/CoreFixture.h"

namespace {

struct TBoneSpec {
  const char* Name;
  float X, Y, Z;  // file units, the file's frame
  uint16_t Parent;
  uint8_t Kind;
  uint16_t Tail, Link;
};

// Leg with knee IK, arm with elbow, twist bones of both kinds, an eye that follows the arm, a
// hidden bone.
constexpr TBoneSpec kBones[] = {
    {"センター", 0, 8, 0, PmdNoBone, pbkRotateMove, 0, 0},
    {"左足", 1, 10, 2, 0, pbkRotate, 2, 0},
    {"左ひざ", 1, 5, 1.5f, 1, pbkIKLinked, 3, 0},
    {"左足首", 1, 1, 2, 2, pbkIKTarget, 0, 0},
    {"左足ＩＫ", 1, 1, 2, 0, pbkIK, 0, 0},
    {"左腕", 3, 15, 0, 0, pbkRotate, 6, 0},
    {"左ひじ", 6, 12, 1, 5, pbkRotate, 9, 0},
    {"左腕捩", 4.5f, 13.5f, 0.5f, 5, pbkTwist, 6, 0},
    {"左目", 0, 16, -1, 0, pbkRotationFollow, 0, 5},
    {"左手捩", 7, 11, 1, 6, pbkRotationScaled, 5, 50},
    {"非表示", 0, 0, 0, 0, pbkHidden, 0, 0},
};
constexpr int kBoneCount = sizeof(kBones) / sizeof(kBones[0]);
constexpr uint16_t kIKBone = 4, kAnkle = 3, kKnee = 2, kLeg = 1;

// Vertex I sits near bone I, on it and the next bone with this weight (percent).
uint8_t WeightOf(int AVertex) {
  const uint8_t Weights[] = {100, 70, 0, 55, 30};
  return Weights[AVertex % 5];
}
TVector3f VertexAt(int AVertex) {
  const TBoneSpec& B = kBones[AVertex % kBoneCount];
  return NewVector3f(B.X + 0.5f, B.Y - 0.25f * static_cast<float>(AVertex % 3), B.Z - 0.75f);
}
constexpr int kVertexCount = 2 * kBoneCount;
// The base lists these vertices; the mouth morph moves base entries 1 and 2.
constexpr uint32_t kBaseVertices[] = {4, 9, 13};

TVector3f ToSystem(const TVector3f& AFile) {
  return NewVector3f(0.1f * AFile.X, 0.1f * AFile.Y, -0.1f * AFile.Z);
}

std::vector<uint8_t> PmdCharacter() {
  TPmdBuilder B;
  B.Model.Name = "PMD人形";
  for (const TBoneSpec& S : kBones)
    B.AddBone(S.Name, NewVector3f(S.X, S.Y, S.Z), S.Parent, S.Kind, S.Tail, S.Link);
  B.AddIK(kIKBone, kAnkle, {kKnee, kLeg}, 30, 0.3f);
  for (int I = 0; I < kVertexCount; ++I)
    B.AddVertex(VertexAt(I), static_cast<uint16_t>(I % kBoneCount),
                static_cast<uint16_t>((I + 1) % kBoneCount), WeightOf(I));
  for (int I = 0; I + 2 < kVertexCount; I += 3)
    B.AddTriangle(static_cast<uint16_t>(I), static_cast<uint16_t>(I + 1),
                  static_cast<uint16_t>(I + 2));
  B.AddMaterial(static_cast<uint32_t>(B.Model.Faces.size()));
  B.AddMorph("base", 0);
  for (uint32_t V : kBaseVertices) B.Model.Morphs[0].Entries.push_back({V, VertexAt(V)});
  B.AddMorph("あ", 3);
  B.Model.Morphs[1].Entries = {{1, NewVector3f(0, 1, 0)}, {2, NewVector3f(1, 0, 2)}};
  return B.Build();
}

// The same character as a PMX model, in the system's frame.
TPmxBuilder PmxCharacter() {
  TPmxBuilder B;
  for (const TBoneSpec& S : kBones) {
    TPmxBoneFlags Flags = FlagBit(bfCanRotate) | FlagBit(bfConnection);
    if (S.Kind != pbkHidden) Flags |= FlagBit(bfDisplay) | FlagBit(bfCanOperate);
    if (S.Kind == pbkRotateMove || S.Kind == pbkIK) Flags |= FlagBit(bfCanTranslate);
    const int I = B.AddBone(S.Name, ToSystem(NewVector3f(S.X, S.Y, S.Z)),
                            S.Parent == PmdNoBone ? -1 : S.Parent, Flags);
    TPmxBone& Bone = B.Bones[I];
    Bone.ConnectionBoneIndex = S.Tail == 0 || S.Kind == pbkRotationScaled ? -1 : S.Tail;
    if (S.Kind == pbkRotationFollow || S.Kind == pbkRotationScaled) {
      Bone.Flags |= FlagBit(bfAddRotation);
      Bone.AddParentBoneIndex = 5;  // the arm, for both
      Bone.AddPower = S.Kind == pbkRotationFollow ? 1.0f : 0.5f;
    }
  }
  B.MakeIK(kIKBone, kAnkle, 30, 1.2f);
  // The knee bends one way about X: 0.5 to 180 degrees once mirrored.
  B.AddIKLink(kIKBone, kKnee, NewVector3f(0.5f * std::numbers::pi_v<float> / 180, 0, 0),
              NewVector3f(std::numbers::pi_v<float>, 0, 0));
  B.AddIKLink(kIKBone, kLeg);
  for (int I = 0; I < kVertexCount; ++I) {
    const int Bone0 = I % kBoneCount, Bone1 = (I + 1) % kBoneCount;
    const uint8_t W = WeightOf(I);
    if (W == 100)
      B.AddVertex(ToSystem(VertexAt(I)), NewVector3f(0, 1, 0), PmxFloat2{0, 0}, Bone0);
    else if (W == 0)
      B.AddVertex(ToSystem(VertexAt(I)), NewVector3f(0, 1, 0), PmxFloat2{0, 0}, Bone1);
    else
      B.AddVertexBDEF2(ToSystem(VertexAt(I)), Bone0, Bone1, W / 100.0f);
  }
  for (int I = 0; I + 2 < kVertexCount; I += 3) B.AddTriangle(I, I + 2, I + 1);
  B.AddMaterial("", static_cast<int32_t>(B.Faces.size()));
  const int Mouth = B.AddMorph("あ", mkVertex, mtMouth);
  B.AddVertexMorphOffset(Mouth, 9, ToSystem(NewVector3f(0, 1, 0)));
  B.AddVertexMorphOffset(Mouth, 13, ToSystem(NewVector3f(1, 0, 2)));
  return B;
}

TVmdBuilder Dance() {
  TVmdBuilder M;
  M.AddBoneKey("センター", 0);
  M.AddBoneKey("センター", 30, NewVector3f(0.2f, -0.3f, 0.1f));
  M.AddBoneKey("左足ＩＫ", 0);
  M.AddBoneKey("左足ＩＫ", 30, NewVector3f(0.1f, 0.35f, -0.25f));
  M.AddBoneKey("左腕", 0);
  M.AddBoneKey("左腕", 30, NewVector3f(0, 0, 0), AsVector4(TurnAbout(0.3f, 0.2f, 0.9f, 0.8f)));
  M.AddBoneKey("左ひじ", 30, NewVector3f(0, 0, 0), AsVector4(TurnAbout(0, 1, 0, -0.6f)));
  M.AddMorphKey("あ", 0, 0.0f);
  M.AddMorphKey("あ", 30, 1.0f);
  return M;
}

// A core over a loaded document, skinning into memory.
struct TDocumentRig {
  TPmx Pmx;
  TVmd Vmd;
  std::unique_ptr<TPmxControllerCore> Core;
  std::unique_ptr<TMemorySkinTarget> Out;
  TDocumentRig(const std::vector<uint8_t>& AModel, const TVmdBuilder& AMotion) {
    Pmx.LoadFromBytes(AModel);
    Core = std::make_unique<TPmxControllerCore>(Pmx);
    Out = std::make_unique<TMemorySkinTarget>(Pmx.VertexCount());
    Core->SetSkinTarget(Out.get());
    Core->ApplyMorph();
    Core->UpdateBoneMatrix();
    Vmd.LoadFromBytes(AMotion.Build());
    Core->LoadMotion(Vmd);
  }
  TVec3f Position(int AVertex) const {
    const float* P = &Out->Positions[3 * AVertex];
    return TVec3f(P[0], P[1], P[2]);
  }
  TVec3f Normal(int AVertex) const {
    const float* N = &Out->Normals[3 * AVertex];
    return TVec3f(N[0], N[1], N[2]);
  }
  void Pose(double AFrame) {
    Core->ApplyMotionByFrame(AFrame);
    Core->UpdateBoneMatrix();
  }
};

}  // namespace

TEST(PmdCharacter, PosesAndDancesAsTheSameCharacterWrittenAsPmx) {
  TDocumentRig Pmd(PmdCharacter(), Dance());
  TDocumentRig Pmx(PmxCharacter().Build(), Dance());
  ASSERT_EQ(Pmd.Pmx.BoneCount(), kBoneCount);
  ASSERT_EQ(Pmd.Pmx.VertexCount(), kVertexCount);
  for (double Frame : {0.0, 7.5, 15.0, 30.0}) {
    Pmd.Pose(Frame);
    Pmx.Pose(Frame);
    for (int B = 0; B < kBoneCount; ++B) {
      EXPECT_TRUE(SameTurn(Pmd.Core->BoneRotations()[B], Pmx.Core->BoneRotations()[B]))
          << "frame " << Frame << " bone " << B;
      const TMatrix4f& A = Pmd.Core->BoneGlobalMatrix()[B];
      const TMatrix4f& E = Pmx.Core->BoneGlobalMatrix()[B];
      EXPECT_TRUE(Near3(XYZ3f(A.W), XYZ3f(E.W))) << "frame " << Frame << " bone " << B;
      EXPECT_TRUE(Near3(XYZ3f(A.X), XYZ3f(E.X))) << "frame " << Frame << " bone " << B;
      EXPECT_TRUE(Near3(XYZ3f(A.Y), XYZ3f(E.Y))) << "frame " << Frame << " bone " << B;
    }
    for (int V = 0; V < kVertexCount; ++V) {
      EXPECT_TRUE(Near3(Pmd.Position(V), Pmx.Position(V))) << "frame " << Frame << " vertex " << V;
      EXPECT_TRUE(Near3(Pmd.Normal(V), Pmx.Normal(V))) << "frame " << Frame << " vertex " << V;
    }
  }
  // The dance moves things: the knee bent by IK, the eye turned with the arm, the mouth open.
  Pmd.Pose(30);
  EXPECT_FALSE(SameTurn(Pmd.Core->BoneRotations()[kKnee], IdentityQuaternion));
  EXPECT_TRUE(SameTurn(Pmd.Core->BoneRotations()[8], Pmd.Core->BoneRotations()[5]));
  EXPECT_FALSE(SameTurn(Pmd.Core->BoneRotations()[5], IdentityQuaternion));
}
