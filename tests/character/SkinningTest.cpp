// Pose and skinning: the weight methods, the rest pose, the append rules, bone matrices.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/character/CoreFixture.h"

namespace {

// Two root bones: A at the origin moved by (0, 1, 0); B at (1, 0, 0) turned 90 degrees about Z.
// PA and PB are where each bone alone takes a point; NA and NB where they take a normal.
TVec3f PA(TVec3f P) {
  return P + TVec3f(0, 1, 0);
}
TVec3f PB(TVec3f P) {
  return TVec3f(-P.Y + 1.0f, P.X - 1.0f, P.Z);
}
TVec3f NA(TVec3f N) {
  return N;
}
TVec3f NB(TVec3f N) {
  return TVec3f(-N.Y, N.X, N.Z);
}

struct TWeightCase {
  const char* Name;
  uint8_t Method;
  int32_t Bones[4];
  float Weights[4];
  // Expected result for input P with the per-bone maps A and B.
  TVec3f (*Expected)(TVec3f P, TVec3f (*A)(TVec3f), TVec3f (*B)(TVec3f));
};

const TWeightCase kWeightCases[] = {
    {"BDEF1 on A", bwBDEF1, {0}, {}, [](TVec3f P, auto A, auto) { return A(P); }},
    {"BDEF1 on B", bwBDEF1, {1}, {}, [](TVec3f P, auto, auto B) { return B(P); }},
    {"BDEF1 without a bone", bwBDEF1, {-1}, {}, [](TVec3f, auto, auto) { return TVec3f(0, 0, 0); }},
    {"BDEF2 quarter",
     bwBDEF2,
     {0, 1},
     {0.25f},
     [](TVec3f P, auto A, auto B) { return A(P) * 0.25f + B(P) * 0.75f; }},
    {"BDEF2 weight 1 follows bone 1",
     bwBDEF2,
     {1, 0},
     {1.0f},
     [](TVec3f P, auto, auto B) { return B(P); }},
    {"BDEF2 weight 0 follows bone 2",
     bwBDEF2,
     {1, 0},
     {0.0f},
     [](TVec3f P, auto A, auto) { return A(P); }},
    {"SDEF without its second bone falls back to BDEF2",
     bwSDEF,
     {0, -1},
     {0.25f},
     [](TVec3f P, auto A, auto) { return A(P) * 0.25f; }},
    {"BDEF4 not normalised",
     bwBDEF4,
     {0, 1, 0, 1},
     {0.1f, 0.1f, 0.1f, 0.2f},
     [](TVec3f P, auto A, auto B) { return A(P) * 0.2f + B(P) * 0.3f; }},
    {"QDEF as BDEF4",
     bwQDEF,
     {0, 1, 0, 1},
     {0.1f, 0.1f, 0.1f, 0.2f},
     [](TVec3f P, auto A, auto B) { return A(P) * 0.2f + B(P) * 0.3f; }},
    {"BDEF4 unused slot contributes nothing",
     bwBDEF4,
     {0, 1, -1, -1},
     {0.5f, 0.5f, 0.0f, 0.7f},
     [](TVec3f P, auto A, auto B) { return A(P) * 0.5f + B(P) * 0.5f; }},
    {"unknown method keeps the rest place", 5, {}, {}, [](TVec3f P, auto, auto) { return P; }},
};

TPmxBuilder TwoBoneModel() {
  TPmxBuilder B;
  B.AddBone("A", NewVector3f(0, 0, 0));
  B.AddBone("B", NewVector3f(1, 0, 0));
  for (const TWeightCase& C : kWeightCases) {
    const int V = B.AddVertex(NewVector3f(0.5f, 0.25f, -0.5f), Normalized3f(NewVector3f(1, 2, 3)));
    TPmxVertex& Vx = B.Vertices[V];
    Vx.BoneWeightMethod = C.Method;
    TPmxBoneWeightBDEF4& W = Vx.BoneWeight.BDEF4;
    W.Bone1Index = C.Bones[0];
    W.Bone2Index = C.Bones[1];
    W.Bone3Index = C.Bones[2];
    W.Bone4Index = C.Bones[3];
    if (C.Method == bwBDEF2 || C.Method == bwSDEF) {
      Vx.BoneWeight.BDEF2.Bone1Weight = C.Weights[0];
    } else {
      W.Bone1Weight = C.Weights[0];
      W.Bone2Weight = C.Weights[1];
      W.Bone3Weight = C.Weights[2];
      W.Bone4Weight = C.Weights[3];
    }
  }
  return B;
}

}  // namespace

TEST(Skinning, EachWeightMethodBlendsPositionsAndNormalsInBothPaths) {
  for (bool Reference : {false, true}) {
    TCoreRig Rig(TwoBoneModel(), nullptr, Reference);
    Rig.Core->BoneTranslations()[0] = NewVector3f(0, 1, 0);
    Rig.Core->BoneRotations()[1] = TurnAbout(0, 0, 1, 1.5707964f);
    Rig.Core->UpdateBoneMatrix();
    for (size_t I = 0; I < std::size(kWeightCases); ++I) {
      const TWeightCase& C = kWeightCases[I];
      const TPmxVertex& V = *Rig.Pmx.GetVertex(static_cast<int>(I));
      const TVec3f P(V.Position), N(V.Normal);
      EXPECT_TRUE(Near3(Rig.Position(static_cast<int>(I)), C.Expected(P, PA, PB)))
          << C.Name << (Reference ? " (reference)" : "");
      EXPECT_TRUE(Near3(Rig.Normal(static_cast<int>(I)), C.Expected(N, NA, NB)))
          << C.Name << (Reference ? " (reference)" : "");
    }
  }
}

TEST(Skinning, RestPoseLeavesPositionsAndNormalsAsTheyAre) {
  TPmxBuilder B = TwoBoneModel();
  // An IK chain whose effector already sits on its goal moves nothing.
  const int Upper = B.AddBone("上", NewVector3f(0, 2, 0));
  const int Lower = B.AddBone("下", NewVector3f(0, 1, 0), Upper);
  const int IK = B.AddBone("ＩＫ", NewVector3f(0, 1, 0));
  B.MakeIK(IK, Lower);
  B.AddIKLink(IK, Upper);
  TCoreRig Rig(B);
  for (const TMatrix4f& M : Rig.Core->SkinMatrix())
    for (int K = 0; K < 16; ++K) EXPECT_EQ(M.V[K], IdentityMatrix4f.V[K]);
  for (size_t I = 0; I < std::size(kWeightCases); ++I) {
    const TPmxVertex& V = *Rig.Pmx.GetVertex(static_cast<int>(I));
    const auto Id = [](TVec3f P) { return P; };
    EXPECT_TRUE(Near3(Rig.Position(static_cast<int>(I)),
                      kWeightCases[I].Expected(TVec3f(V.Position), Id, Id), 1e-6f))
        << kWeightCases[I].Name;
    EXPECT_TRUE(Near3(Rig.Normal(static_cast<int>(I)),
                      kWeightCases[I].Expected(TVec3f(V.Normal), Id, Id), 1e-6f))
        << kWeightCases[I].Name;
  }
}

TEST(Skinning, RootTurnedAboutZMovesAnOffsetPointOntoTheYAxis) {
  TPmxBuilder B;
  B.AddBone("root", NewVector3f(2, 3, 4));
  B.AddVertex(NewVector3f(3, 3, 4));
  TCoreRig Rig(B);
  const float S = std::sqrt(0.5f);
  Rig.Core->BoneRotations()[0] = TQuaternion{{{0, 0, S}}, S};
  Rig.Core->UpdateBoneMatrix();
  const TVector3f Bone = Rig.Pmx.GetBone(0)->Position;
  EXPECT_TRUE(Near3(Rig.Position(0), TVec3f(Bone.X, Bone.Y + 1, Bone.Z)));
}

TEST(Skinning, ChildFollowsParentsTurnAndItsOwnTranslation) {
  TPmxBuilder B;
  B.AddBone("parent", NewVector3f(0, 0, 0));
  B.AddBone("child", NewVector3f(0, 1, 0), 0);
  B.AddVertex(NewVector3f(0, 2, 0), NewVector3f(0, 1, 0), PmxFloat2{0, 0}, 1);
  TCoreRig Rig(B);
  Rig.Core->BoneRotations()[0] = TurnAbout(0, 0, 1, 1.5707964f);
  Rig.Core->BoneTranslations()[1] = NewVector3f(0, 0, 1);
  Rig.Core->UpdateBoneMatrix();
  // ((p - child) + child - parent + T(child)) turned by the parent: (0, 2, 1) -> (-2, 0, 1).
  EXPECT_TRUE(Near3(Rig.Position(0), TVec3f(-2, 0, 1)));
  EXPECT_TRUE(Near3(Rig.BonePosition(1), NewVector3f(-1, 0, 1)));
  EXPECT_TRUE(Near3(Rig.Normal(0), TVec3f(-1, 0, 0)));
}

// ---- append transforms --------------------------------------------------------------------------

namespace {

struct TAppendCase {
  const char* Name;
  bool Rotation, Translation;
  float Power;
};

}  // namespace

TEST(Append, RotationAndTranslationAreReplacedByTheScaledParentValues) {
  const TAppendCase Cases[] = {
      {"rotation power 1", true, false, 1.0f},   {"rotation power 0", true, false, 0.0f},
      {"rotation power 0.5", true, false, 0.5f}, {"translation power 0.5", false, true, 0.5f},
      {"both power 0.25", true, true, 0.25f},
  };
  for (const TAppendCase& C : Cases) {
    TPmxBuilder B;
    B.AddBone("source", NewVector3f(0, 0, 0));
    const int Follower = B.AddBone("follower", NewVector3f(1, 0, 0));
    if (C.Rotation) B.Bones[Follower].Flags |= FlagBit(bfAddRotation);
    if (C.Translation) B.Bones[Follower].Flags |= FlagBit(bfAddTranslation);
    B.Bones[Follower].AddParentBoneIndex = 0;
    B.Bones[Follower].AddPower = C.Power;
    TCoreRig Rig(B);
    const TQuaternion Q = TurnAbout(1, 1, 0, 1.2f);
    const TQuaternion Own = TurnAbout(0, 0, 1, 0.7f);
    Rig.Core->BoneRotations()[0] = Q;
    Rig.Core->BoneTranslations()[0] = NewVector3f(2, 4, 6);
    Rig.Core->BoneRotations()[1] = Own;
    Rig.Core->BoneTranslations()[1] = NewVector3f(1, 1, 1);
    Rig.Core->UpdateBoneMatrix();
    const TQuaternion& R = Rig.Core->BoneRotations()[1];
    const TVector3f& T = Rig.Core->BoneTranslations()[1];
    if (C.Rotation)
      EXPECT_TRUE(SameTurn(R, TurnAbout(1, 1, 0, 1.2f * C.Power))) << C.Name;
    else
      EXPECT_TRUE(SameTurn(R, Own)) << C.Name;
    if (C.Translation)
      EXPECT_TRUE(Near3(T, NewVector3f(2 * C.Power, 4 * C.Power, 6 * C.Power))) << C.Name;
    else
      EXPECT_TRUE(Near3(T, NewVector3f(1, 1, 1))) << C.Name;
  }
}

TEST(Append, AParentWithAHigherIndexIsReadBeforeItsOwnAppendStep) {
  TPmxBuilder B;
  const int First = B.AddBone("first", NewVector3f(0, 0, 0));
  const int Middle = B.AddBone("middle", NewVector3f(0, 0, 0));
  const int Last = B.AddBone("last", NewVector3f(0, 0, 0));
  for (auto [Bone, From] : {std::pair{First, Middle}, std::pair{Middle, Last}}) {
    B.Bones[Bone].Flags |= FlagBit(bfAddRotation);
    B.Bones[Bone].AddParentBoneIndex = From;
    B.Bones[Bone].AddPower = 1.0f;
  }
  for (bool Reference : {false, true}) {
    TCoreRig Rig(B, nullptr, Reference);
    const TQuaternion Q = TurnAbout(0, 1, 0, 0.9f);
    Rig.Core->BoneRotations()[Last] = Q;
    Rig.Core->UpdateBoneMatrix();
    EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[Middle], Q));
    EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[First], IdentityQuaternion));
    Rig.Core->UpdateBoneMatrix();
    EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[First], Q));
  }
}
