// The default character's rig in her dance, on the controller core (no window): the tails and the
// skirt swing behind the motion, keep off her body and legs, and a reset at a frame always ends in
// the same state however long she danced before.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "character/core/PmxControllerCore.h"
#include "tools/demo/DemoCharacter.h"

namespace {

struct TDancer {
  TPmx Pmx;
  TVmd Vmd;
  TDancer() {
    Pmx.LoadFromBytes(BuildDemoModel().Build());
    Vmd.LoadFromBytes(BuildDemoMotion().Build());
  }
  std::unique_ptr<TPmxControllerCore> Core(bool APhysics) const {
    auto C = std::make_unique<TPmxControllerCore>(Pmx);
    C->SetPhysicsEnabled(APhysics);
    C->UpdateBoneMatrix();
    C->LoadMotion(Vmd);
    return C;
  }
  int Bone(const char* AName) const {
    const int I = Pmx.IndexOfBone(AName);
    EXPECT_GE(I, 0) << AName;
    return I;
  }
};

TVector3f At(const TPmxControllerCore& C, int ABone) {
  return XYZ3f(C.BoneGlobalMatrix()[ABone].W);
}
float Distance(const TVector3f& A, const TVector3f& B) {
  return std::sqrt((A.X - B.X) * (A.X - B.X) + (A.Y - B.Y) * (A.Y - B.Y) +
                   (A.Z - B.Z) * (A.Z - B.Z));
}
// Distance from P to the segment A-B.
float SegmentDistance(const TVector3f& P, const TVector3f& A, const TVector3f& B) {
  const TVector3f AB{{B.X - A.X, B.Y - A.Y, B.Z - A.Z}}, AP{{P.X - A.X, P.Y - A.Y, P.Z - A.Z}};
  const float L = AB.X * AB.X + AB.Y * AB.Y + AB.Z * AB.Z;
  const float T =
      L > 0 ? std::fmax(0.0f, std::fmin(1.0f, (AB.X * AP.X + AB.Y * AP.Y + AB.Z * AP.Z) / L)) : 0;
  return Distance(P, TVector3f{{A.X + AB.X * T, A.Y + AB.Y * T, A.Z + AB.Z * T}});
}

TEST(DefaultCharacterPhysics, TailsAndSkirtSwingAndKeepOffHerBody) {
  const TDancer D;
  auto With = D.Core(true), Without = D.Core(false);
  ASSERT_NE(With->Physics(), nullptr);
  EXPECT_GE(With->Physics()->ActiveJointCount(), 8 + 16 + 2);
  const int Chest = D.Bone("上半身2"), Hips = D.Bone("下半身");
  const int Legs[2][2] = {{D.Bone("左足"), D.Bone("左ひざ")}, {D.Bone("右足"), D.Bone("右ひざ")}};
  std::vector<int> Tails, Skirt;
  for (const char* Side : {"左髪", "右髪"})
    for (int I = 2; I <= 4; ++I) Tails.push_back(D.Bone((Side + std::to_string(I)).c_str()));
  for (int C = 1; C <= 8; ++C) Skirt.push_back(D.Bone(("スカート下" + std::to_string(C)).c_str()));
  float TailSwing = 0, SkirtSwing = 0, TailClearance = 1e9f, SkirtClearance = 1e9f;
  for (int F = 0; F < static_cast<int>(With->FrameCount()); ++F) {
    With->ApplyMotionByFrame(F);
    Without->ApplyMotionByFrame(F);
    for (int B : Tails) {
      TailSwing = std::fmax(TailSwing, Distance(At(*With, B), At(*Without, B)));
      TailClearance = std::fmin(TailClearance,
                                SegmentDistance(At(*With, B), At(*With, Chest), At(*With, Hips)));
    }
    for (int B : Skirt) {
      SkirtSwing = std::fmax(SkirtSwing, Distance(At(*With, B), At(*Without, B)));
      for (const auto& Leg : Legs)
        SkirtClearance = std::fmin(
            SkirtClearance, SegmentDistance(At(*With, B), At(*With, Leg[0]), At(*With, Leg[1])));
    }
    for (const TMatrix4f& M : With->BoneGlobalMatrix())
      for (float V : M.V) ASSERT_TRUE(std::isfinite(V)) << "frame " << F;
  }
  std::printf(
      "largest swing: tails %.3f, skirt %.3f; closest: tails to the spine %.3f, skirt "
      "to a leg %.3f\n",
      TailSwing, SkirtSwing, TailClearance, SkirtClearance);
  EXPECT_GT(TailSwing, 0.05f);
  EXPECT_GT(SkirtSwing, 0.01f);
  // The chest and hips colliders are 0.105 and 0.12 across the spine; the legs' 0.055.
  EXPECT_GT(TailClearance, 0.1f);
  EXPECT_GT(SkirtClearance, 0.05f);
}

// Her rig has contacts (skirt on legs): a reset must not keep any of them from before.
TEST(DefaultCharacterPhysics, AResetAtAFrameAlwaysEndsTheSame) {
  const TDancer D;
  std::vector<TMatrix4f> Seen[2];
  for (int Run = 0; Run < 2; ++Run) {
    auto C = D.Core(true);
    for (int F = 0; F <= 30 + 60 * Run; ++F) C->ApplyMotionByFrame(F);
    C->ApplyMotionByFrame(0);
    for (int B = 0; B < C->Physics()->BodyCount(); ++B)
      Seen[Run].push_back(C->Physics()->BodyMatrix(B));
  }
  EXPECT_EQ(std::memcmp(Seen[0].data(), Seen[1].data(), Seen[0].size() * sizeof(TMatrix4f)), 0);
}

}  // namespace
