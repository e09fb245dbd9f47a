// Motion sampling and the key tables: keys matched by name, sorted by frame, sampled at and between
// keys, ramped in before the first key, held after the last, looped over the motion's length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "character/core/PmxKeyInterpolation.h"
#include "tests/character/CoreFixture.h"

namespace {

// Bones "single" (one key at frame 10), "pair" (keys at 0 and 10), "late" (a key at 299, so the
// motion has 300 frames); morph "smile" with a key of weight 1.5 at frame 20.
struct TMotionModel {
  TPmxBuilder Model;
  TVmdBuilder Motion;
  int Single, Pair, Late, Smile;
  TQuaternion PairRot0 = TurnAbout(0, 1, 0, 0.2f), PairRot10 = TurnAbout(1, 0, 0, 1.0f);
  TMotionModel() {
    Single = Model.AddBone("single", NewVector3f(0, 0, 0));
    Pair = Model.AddBone("pair", NewVector3f(0, 1, 0));
    Late = Model.AddBone("late", NewVector3f(0, 2, 0));
    Model.AddVertex(NewVector3f(0, 1, 0), NewVector3f(0, 1, 0), PmxFloat2{0, 0}, Pair);
    Smile = Model.AddMorph("smile", mkVertex);
    Model.AddVertexMorphOffset(Smile, 0, NewVector3f(0, 1, 0));
    Motion.AddBoneKey("single", 10, NewVector3f(0, 2, 0));
    Motion.AddBoneKey("pair", 10, NewVector3f(4, 0, 0), AsVector4(PairRot10));
    Motion.AddBoneKey("pair", 0, NewVector3f(2, 0, 0), AsVector4(PairRot0));
    Motion.AddBoneKey("late", 299, NewVector3f(0, 0, 1));
    Motion.AddMorphKey("smile", 20, 1.5f);
  }
};

// The key as the reader returned it (after the file's unit conversion).
const TVmdMotion& KeyOf(const TVmd& AVmd, int AIndex) {
  return *AVmd.GetMotion(AIndex);
}

double Dot4(const TQuaternion& A, const TQuaternion& B) {
  return double(A.ImagPart.X) * B.ImagPart.X + double(A.ImagPart.Y) * B.ImagPart.Y +
         double(A.ImagPart.Z) * B.ImagPart.Z + double(A.RealPart) * B.RealPart;
}

::testing::AssertionResult SameState(const TPmxControllerCore& A, const TPmxControllerCore& B) {
  auto Same = [](const auto& X, const auto& Y) {
    return X.size() == Y.size() && std::memcmp(X.data(), Y.data(), X.size() * sizeof(X[0])) == 0;
  };
  if (!Same(A.BoneRotations(), B.BoneRotations()))
    return ::testing::AssertionFailure() << "rotations";
  if (!Same(A.BoneTranslations(), B.BoneTranslations()))
    return ::testing::AssertionFailure() << "translations";
  if (!Same(A.MorphRates(), B.MorphRates())) return ::testing::AssertionFailure() << "morph rates";
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(MotionSampling, FirstKeyIsRampedInFromTheRestPoseAndHeldAfterwards) {
  TMotionModel M;
  for (bool Reference : {false, true}) {
    TCoreRig Rig(M.Model, &M.Motion, Reference);
    ASSERT_EQ(Rig.Core->FrameCount(), 300u);
    const TVector3f Key = KeyOf(Rig.Vmd, 0).Position;
    Rig.Core->ApplyMotionByFrame(4);
    EXPECT_EQ(Rig.Core->BoneTranslations()[M.Single].Y, Key.Y * static_cast<float>(5.0 / 11.0));
    EXPECT_NEAR(Rig.Core->BoneTranslations()[M.Single].Y, 10.0f / 11.0f, 1e-5f);
    for (double Frame : {10.0, 10.5, 200.0, 299.0}) {
      Rig.Core->ApplyMotionByFrame(Frame);
      EXPECT_EQ(std::memcmp(&Rig.Core->BoneTranslations()[M.Single], &Key, sizeof Key), 0) << Frame;
    }
    // Frame -1 is the rest pose itself.
    Rig.Core->ApplyMotionByFrame(-1);
    EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[M.Pair], IdentityQuaternion));
    EXPECT_TRUE(Near3(Rig.Core->BoneTranslations()[M.Pair], NewVector3f(0, 0, 0)));
  }
}

TEST(MotionSampling, KeysAreCopiedExactlyAndInterpolatedBetween) {
  TMotionModel M;
  for (bool Reference : {false, true}) {
    TCoreRig Rig(M.Model, &M.Motion, Reference);
    // The table holds the "pair" keys sorted: frame 0 (stored second) first.
    const auto& List = Rig.Core->MotionList()->at(M.Pair);
    ASSERT_EQ(List.size(), 2u);
    const TVmdMotion K0 = *List[0], K10 = *List[1];
    // Packed fields are copied out: a reference to one would be misaligned.
    EXPECT_EQ(uint32_t(K0.FrameNum), 0u);
    EXPECT_EQ(uint32_t(K10.FrameNum), 10u);

    Rig.Core->ApplyMotionByFrame(0);
    EXPECT_EQ(std::memcmp(&Rig.Core->BoneTranslations()[M.Pair], &K0.Position, 12), 0);
    EXPECT_EQ(std::memcmp(&Rig.Core->BoneRotations()[M.Pair], &K0.Rotation, 16), 0);
    Rig.Core->ApplyMotionByFrame(10);
    EXPECT_EQ(std::memcmp(&Rig.Core->BoneTranslations()[M.Pair], &K10.Position, 12), 0);
    EXPECT_EQ(std::memcmp(&Rig.Core->BoneRotations()[M.Pair], &K10.Rotation, 16), 0);
    // The keys turn 0.2 about Y and 1.0 about X: as unit quaternions they lie an angle Omega apart
    // with cos Omega = cos 0.1 cos 0.5. Between them the sampled turn lies on the arc joining
    // them, the fraction T of Omega from the first key and 1 - T from the second.
    const double Omega = std::acos(std::cos(0.1) * std::cos(0.5));
    EXPECT_NEAR(std::acos(Dot4(KeyRotation(K0), KeyRotation(K10))), Omega, 1e-6);
    for (int Frame : {2, 5, 9}) {
      Rig.Core->ApplyMotionByFrame(Frame);
      const TQuaternion R = Rig.Core->BoneRotations()[M.Pair];
      const double T = Frame / 10.0;
      EXPECT_NEAR(Dot4(R, R), 1.0, 1e-6) << Frame;
      EXPECT_NEAR(std::acos(std::min(1.0, Dot4(R, KeyRotation(K0)))), T * Omega, 1e-5) << Frame;
      EXPECT_NEAR(std::acos(std::min(1.0, Dot4(R, KeyRotation(K10)))), (1 - T) * Omega, 1e-5)
          << Frame;
    }
    Rig.Core->ApplyMotionByFrame(5);
    EXPECT_TRUE(Near3(Rig.Core->BoneTranslations()[M.Pair], NewVector3f(3, 0, 0)));
    // The skinned vertex follows the sampled pose (and the ramped-in morph).
    const TVector3f Local =
        Sub3f(ToVector3f(Rig.Core->SkinVertices()[0]), Rig.Pmx.GetBone(M.Pair)->Position);
    EXPECT_TRUE(Near3(Rig.Position(0),
                      TVec3f(TransformPoint3f(Local, Rig.Core->BoneGlobalMatrix()[M.Pair]))));
  }
}

TEST(MotionSampling, FramesAndTimesWrapAroundTheMotionsLength) {
  TMotionModel M;
  TCoreRig Rig(M.Model, &M.Motion), Expected(M.Model, &M.Motion);
  struct TCase {
    double Frame;   // sampled by frame ...
    double TimeMs;  // ... or by time when not negative
    double SameAs;  // the frame it must equal
  };
  const TCase Cases[] = {
      {300, -1, 0}, {450.5, -1, 150.5}, {-1, 10000, 0}, {-1, 1000, 30}, {899.25, -1, 299.25},
  };
  for (const TCase& C : Cases) {
    if (C.TimeMs >= 0)
      Rig.Core->ApplyMotionByTime(C.TimeMs);
    else
      Rig.Core->ApplyMotionByFrame(C.Frame);
    Expected.Core->ApplyMotionByFrame(C.SameAs);
    EXPECT_TRUE(SameState(*Rig.Core, *Expected.Core)) << C.Frame << " / " << C.TimeMs << " ms";
  }
}

TEST(MotionSampling, MorphWeightsAreStoredAsSampledWithoutClamping) {
  TMotionModel M;
  TCoreRig Rig(M.Model, &M.Motion);
  Rig.Core->ApplyMotionByFrame(20);
  EXPECT_EQ(Rig.Core->MorphRates()[M.Smile], 1.5f);
  EXPECT_NEAR(Rig.Core->SkinVertices()[0].Y, Rig.Pmx.GetVertex(0)->Position.Y + 1.5f, 1e-5f);
  Rig.Core->ApplyMotionByFrame(9);
  EXPECT_NEAR(Rig.Core->MorphRates()[M.Smile], 1.5f * 10.0f / 21.0f, 1e-6f);
}

TEST(MotionSampling, FrameSteppingWrapsBothWays) {
  TMotionModel M;
  TCoreRig Rig(M.Model, &M.Motion), Expected(M.Model, &M.Motion);
  EXPECT_EQ(Rig.Core->FrameIndex(), 0u);
  Rig.Core->PrevFrame();
  EXPECT_EQ(Rig.Core->FrameIndex(), 299u);
  Expected.Core->ApplyMotionByFrame(299);
  EXPECT_TRUE(SameState(*Rig.Core, *Expected.Core));
  Rig.Core->NextFrame();
  EXPECT_EQ(Rig.Core->FrameIndex(), 0u);
  Rig.Core->NextFrame();
  EXPECT_EQ(Rig.Core->FrameIndex(), 1u);
  Expected.Core->ApplyMotionByFrame(1);
  EXPECT_TRUE(SameState(*Rig.Core, *Expected.Core));
  Rig.Core->PrevFrame();
  EXPECT_EQ(Rig.Core->FrameIndex(), 0u);
}

TEST(MotionSampling, WithoutAMotionNothingIsSampledOrSkinned) {
  TMotionModel M;
  TCoreRig Rig(M.Model);
  EXPECT_FALSE(Rig.Core->HasMotion());
  EXPECT_EQ(Rig.Core->MotionList(), nullptr);
  EXPECT_EQ(Rig.Core->SkinMotionList(), nullptr);
  const int Writes = Rig.Out->PositionWrites;
  Rig.Core->ApplyMotionByTime(5000);
  Rig.Core->ApplyMotionByFrame(3);
  Rig.Core->NextFrame();
  Rig.Core->PrevFrame();
  EXPECT_EQ(Rig.Out->PositionWrites, Writes);
  EXPECT_EQ(Rig.Core->FrameIndex(), 0u);
}

TEST(MotionTables, KeysAreMatchedByNameSortedByFrameAndUnmatchedOnesDropped) {
  TPmxBuilder Model;
  const int Twin = Model.AddBone("腕", NewVector3f(0, 0, 0));
  Model.AddBone("腕", NewVector3f(1, 0, 0));  // same name: keys go to the lower index
  const int Blink = Model.AddMorph("まばたき", mkVertex);
  TVmdBuilder Motion;
  for (uint32_t Frame : {30u, 0u, 15u}) Motion.AddBoneKey("腕", Frame);
  Motion.AddBoneKey("ない骨", 7);
  Motion.AddMorphKey("まばたき", 40, 1.0f);
  Motion.AddMorphKey("まばたき", 5, 0.0f);
  Motion.AddMorphKey("笑い", 3, 1.0f);
  TCoreRig Rig(Model, &Motion);

  const TPmxMotionTable& Bones = *Rig.Core->MotionList();
  ASSERT_EQ(Bones.size(), 1u);
  const auto& Keys = Bones.at(Twin);
  ASSERT_EQ(Keys.size(), 3u);
  EXPECT_EQ(uint32_t(Keys[0]->FrameNum), 0u);
  EXPECT_EQ(uint32_t(Keys[1]->FrameNum), 15u);
  EXPECT_EQ(uint32_t(Keys[2]->FrameNum), 30u);
  const TPmxSkinMotionTable& Morphs = *Rig.Core->SkinMotionList();
  ASSERT_EQ(Morphs.size(), 1u);
  EXPECT_EQ(uint32_t(Morphs.at(Blink)[0]->FrameNum), 5u);
  EXPECT_EQ(uint32_t(Morphs.at(Blink)[1]->FrameNum), 40u);
  // The unmatched morph key's raw name (code page 932 bytes) is reported; the bone key is not.
  ASSERT_EQ(Rig.Unmatched.size(), 1u);
  EXPECT_EQ(
      DecodeVmdName(std::span<const uint8_t>(
          reinterpret_cast<const uint8_t*>(Rig.Unmatched[0].data()), Rig.Unmatched[0].size())),
      "笑い");
  EXPECT_EQ(Rig.Core->FrameCount(), 41u);
  // The motion is not applied by loading it.
  EXPECT_TRUE(SameTurn(Rig.Core->BoneRotations()[Twin], IdentityQuaternion));
}

TEST(MotionTables, KeysOnTheSameFrameKeepTheirFileOrder) {
  TPmxBuilder Model;
  Model.AddBone("b", NewVector3f(0, 0, 0));
  TVmdBuilder Motion;
  Motion.AddBoneKey("b", 5, NewVector3f(1, 0, 0));
  Motion.AddBoneKey("b", 5, NewVector3f(2, 0, 0));
  Motion.AddBoneKey("b", 1, NewVector3f(3, 0, 0));
  TCoreRig Rig(Model, &Motion);
  const auto& Keys = Rig.Core->MotionList()->at(0);
  EXPECT_NEAR(Keys[1]->Position.X, 1.0f, 1e-5f);
  EXPECT_NEAR(Keys[2]->Position.X, 2.0f, 1e-5f);
}

TEST(MotionTables, FramesMoreThanTwoToThe31ApartStillSortAndSample) {
  TPmxBuilder Model;
  Model.AddBone("b", NewVector3f(0, 0, 0));
  TVmdBuilder Motion;
  Motion.AddBoneKey("b", 3000000000u, NewVector3f(0, 4, 0));
  Motion.AddBoneKey("b", 5, NewVector3f(0, 2, 0));
  for (bool Reference : {false, true}) {
    TCoreRig Rig(Model, &Motion, Reference);
    const auto& Keys = Rig.Core->MotionList()->at(0);
    EXPECT_EQ(uint32_t(Keys[0]->FrameNum), 5u);
    EXPECT_EQ(uint32_t(Keys[1]->FrameNum), 3000000000u);
    EXPECT_EQ(Rig.Core->FrameCount(), 3000000001u);
    Rig.Core->ApplyMotionByFrame(5);
    EXPECT_NEAR(Rig.Core->BoneTranslations()[0].Y, 2.0f, 1e-5f);
    Rig.Core->ApplyMotionByFrame(1500000002.5);
    EXPECT_NEAR(Rig.Core->BoneTranslations()[0].Y, 3.0f, 1e-5f);
    Rig.Core->ApplyMotionByFrame(3000000000.0);
    EXPECT_NEAR(Rig.Core->BoneTranslations()[0].Y, 4.0f, 1e-5f);
  }
}
