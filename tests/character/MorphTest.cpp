// Morph weights and vertex morphs, and the three behaviours (blink, head tilt, face turn).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "math/Errors.h"
#include "tests/character/CoreFixture.h"

namespace {

// Ten vertices on one bone; "up" and "up2" move vertex 7 by (0, 1, 0), "group" is a group morph.
struct TMorphModel {
  TPmxBuilder B;
  int Up, Up2, Group;
  TMorphModel() {
    B.AddBone("root", NewVector3f(0, 0, 0));
    for (int V = 0; V < 10; ++V) B.AddVertex(NewVector3f(0.1f * V, 0, 0));
    Up = B.AddMorph("up", mkVertex);
    B.AddVertexMorphOffset(Up, 7, NewVector3f(0, 1, 0));
    Up2 = B.AddMorph("up2", mkVertex);
    B.AddVertexMorphOffset(Up2, 7, NewVector3f(0, 1, 0));
    Group = B.AddMorph("group", mkGroup);
    TPmxMorphData D{};
    D.Group.MorphIndex = Up;
    D.Group.MorphRate = 1.0f;
    B.Morphs[Group].Data.push_back(D);
  }
};

}  // namespace

TEST(Morphs, SetMorphRateClampsAndSkipsAnUnchangedValue) {
  TMorphModel M;
  TCoreRig Rig(M.B);
  struct TCase {
    float In, Stored;
  };
  const TCase Cases[] = {{2.0f, 1.0f},
                         {-0.5f, 0.0f},
                         {0.25f, 0.25f},
                         {std::numeric_limits<float>::quiet_NaN(), 0.0f},
                         {std::numeric_limits<float>::infinity(), 1.0f}};
  for (const TCase& C : Cases) {
    Rig.Core->SetMorphRate(M.Up, C.In);
    EXPECT_EQ(Rig.Core->GetMorphRate(M.Up), C.Stored) << C.In;
  }
  Rig.Core->SetMorphRate(M.Up, 0.5f);
  const int Writes = Rig.Out->PositionWrites;
  Rig.Core->SetMorphRate(M.Up, 0.5f);
  Rig.Core->SetMorphRate(M.Up, 0.5f);
  EXPECT_EQ(Rig.Out->PositionWrites, Writes);
  Rig.Core->SetMorphRate(M.Up, 0.75f);
  EXPECT_EQ(Rig.Out->PositionWrites, Writes + 1);
}

TEST(Morphs, IndexOutsideTheMorphsRaisesTheRangeError) {
  TMorphModel M;
  TCoreRig Rig(M.B);
  const int Count = Rig.Core->MorphCount();
  ASSERT_EQ(Count, 3);
  for (int Index : {-1, Count, 1 << 30}) {
    try {
      Rig.Core->GetMorphRate(Index);
      ADD_FAILURE() << "GetMorphRate(" << Index << ") did not raise";
    } catch (const ERangeError& E) {
      EXPECT_STREQ(E.what(), "モーフの範囲外インデックスを指定しました");
    }
    EXPECT_THROW(Rig.Core->SetMorphRate(Index, 0.5f), ERangeError);
  }
  for (float R : Rig.Core->MorphRates()) EXPECT_EQ(R, 0.0f);
}

TEST(Morphs, VertexOffsetsAddUpScaledByTheirWeightsAndFlipAndImpulseMorphsDoNothing) {
  TMorphModel M;
  // A flip morph is laid out as a group naming "up"; it is read, not applied. So is an impulse.
  const int Flip = M.B.AddMorph("flip", mkFlip);
  M.B.Morphs[Flip].Data = M.B.Morphs[M.Group].Data;
  const int Impulse = M.B.AddMorph("impulse", mkImpulse);
  M.B.Morphs[Impulse].Data.push_back(TPmxMorphData{});
  TCoreRig Rig(M.B);
  const TVec3f Rest(Rig.Pmx.GetVertex(7)->Position);
  const float Unit = Rig.Pmx.GetMorph(M.Up)->Data[0].Vertex.PositionOffset.Y;
  Rig.Core->SetMorphRate(Flip, 1.0f);
  Rig.Core->SetMorphRate(Impulse, 1.0f);
  EXPECT_TRUE(Near3(Rig.Core->SkinVertices()[7], Rest, 0));
  Rig.Core->SetMorphRate(M.Up, 0.5f);
  EXPECT_TRUE(Near3(Rig.Core->SkinVertices()[7], Rest + TVec3f(0, 0.5f * Unit, 0), 1e-6f));
  EXPECT_TRUE(Near3(Rig.Position(7), Rest + TVec3f(0, 0.5f * Unit, 0), 1e-6f));
  Rig.Core->SetMorphRate(M.Up, 1.0f);
  Rig.Core->SetMorphRate(M.Up2, 1.0f);
  EXPECT_TRUE(Near3(Rig.Core->SkinVertices()[7], Rest + TVec3f(0, 2 * Unit, 0), 1e-6f));
  // Taking the weights back restores the rest position exactly; other vertices never move.
  Rig.Core->SetMorphRate(M.Up, 0.0f);
  Rig.Core->SetMorphRate(M.Up2, 0.0f);
  for (int V = 0; V < 10; ++V)
    EXPECT_TRUE(Near3(Rig.Core->SkinVertices()[V], TVec3f(Rig.Pmx.GetVertex(V)->Position), 0)) << V;
}

TEST(Behaviours, MabatakiSetsTheBlinkMorphWhenThereIsOne) {
  TMorphModel Without;
  TCoreRig Plain(Without.B);
  const int Writes = Plain.Out->PositionWrites;
  Plain.Core->Mabataki(0.7f);
  EXPECT_EQ(Plain.Out->PositionWrites, Writes);
  EXPECT_EQ(Plain.Core->MabatakiMorphIndex(), -1);

  TMorphModel With;
  const int Blink = With.B.AddMorph("まばたき", mkVertex);
  TCoreRig Rig(With.B);
  EXPECT_EQ(Rig.Core->MabatakiMorphIndex(), Blink);
  Rig.Core->Mabataki(0.7f);
  EXPECT_EQ(Rig.Core->GetMorphRate(Blink), 0.7f);
  Rig.Core->Mabataki(3.0f);
  EXPECT_EQ(Rig.Core->GetMorphRate(Blink), 1.0f);
}

TEST(Behaviours, CockHeadAccumulatesTurnsOfTheNeckAboutY) {
  TPmxBuilder B;
  B.AddBone("センター", NewVector3f(0, 0, 0));
  const int Neck = B.AddBone("首", NewVector3f(0, 1.4f, 0), 0);
  TCoreRig Twice(B), Once(B);
  Twice.Core->CockHead(10);
  Twice.Core->CockHead(10);
  Once.Core->CockHead(20);
  EXPECT_TRUE(SameTurn(Twice.Core->BoneRotations()[Neck], Once.Core->BoneRotations()[Neck], 1e-6f));
  EXPECT_TRUE(
      SameTurn(Once.Core->BoneRotations()[Neck], TurnAbout(0, 1, 0, 20 * 3.14159265f / 180)));
  // Without a neck nothing happens.
  TPmxBuilder NoNeck;
  NoNeck.AddBone("root", NewVector3f(0, 0, 0));
  TCoreRig Plain(NoNeck);
  const int Writes = Plain.Out->PositionWrites;
  Plain.Core->CockHead(10);
  EXPECT_EQ(Plain.Out->PositionWrites, Writes);
}

namespace {

TPmxBuilder HeadModel(bool ATere) {
  TPmxBuilder B;
  B.AddBone("センター", NewVector3f(0, 0, 0));
  B.AddBone("頭", NewVector3f(0, 1.5f, 0), 0);
  B.AddVertex(NewVector3f(0, 1.6f, 0.1f), NewVector3f(0, 0, 1), PmxFloat2{0, 0}, 1);
  if (ATere) B.AddMorph("照れ", mkVertex);
  return B;
}

}  // namespace

TEST(Behaviours, FaceTurnTurnsTheHeadTowardAnEyeInFront) {
  TCoreRig Rig(HeadModel(true));
  const TVector3f Head = Rig.BonePosition(1);
  Rig.Core->BoneRotations()[1] = TurnAbout(0, 1, 0, 0.3f);
  // Straight ahead on the head's +Z side: the identity.
  Rig.Core->FaceTurn(TVec3f(Head.X, Head.Y, Head.Z + 5));
  EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[1], IdentityQuaternion, 1e-7f));
  // To the side but within reach: +Z turned onto the direction to the eye.
  const TVec3f Eye(Head.X + 1, Head.Y + 0.5f, Head.Z + 2);
  Rig.Core->FaceTurn(Eye);
  const TVec3f Dir = (Eye - TVec3f(Head)).Normalize();
  const TVec3f Turned = RotateVectorByQuaternion(TVec3f(0, 0, 1), Rig.Core->BoneRotations()[1]);
  EXPECT_TRUE(Near3(Turned, Dir, 1e-5f));
  EXPECT_TRUE(Near3(Rig.Normal(0), Dir, 1e-5f));
}

TEST(Behaviours, FaceTurnIgnoresAnEyeBehindOrBesideTheHead) {
  TCoreRig Rig(HeadModel(true));
  const TVector3f Head = Rig.BonePosition(1);
  const TQuaternion Before = TurnAbout(0, 1, 0, 0.3f);
  Rig.Core->BoneRotations()[1] = Before;
  const int Writes = Rig.Out->PositionWrites;
  for (const TVec3f Eye :
       {TVec3f(Head.X, Head.Y, Head.Z - 5), TVec3f(Head.X + 5, Head.Y, Head.Z + 1),
        TVec3f(Head.X, Head.Y, Head.Z)}) {
    Rig.Core->FaceTurn(Eye);
    EXPECT_EQ(std::memcmp(&Rig.Core->BoneRotations()[1], &Before, sizeof Before), 0);
  }
  EXPECT_EQ(Rig.Out->PositionWrites, Writes);
}

TEST(Behaviours, FaceTurnWithoutTheTereMorphReskinsButNeverTurns) {
  TCoreRig Rig(HeadModel(false));
  const TVector3f Head = Rig.BonePosition(1);
  const int Writes = Rig.Out->PositionWrites;
  Rig.Core->FaceTurn(TVec3f(Head.X + 1, Head.Y, Head.Z + 3));
  EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[1], IdentityQuaternion, 0));
  EXPECT_EQ(Rig.Out->PositionWrites, Writes + 1);
}
