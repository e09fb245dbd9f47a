// The physics inside the controller core: driven by the motion clock, reset on jumps, frozen while
// paused, switched off and on, and its bones skinned.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "formats/PmxPhysicsWriter.h"
#include "tests/character/CoreFixture.h"

namespace {

// A chain of three links hanging straight down from a root that the motion carries one unit
// sideways (frames 0-20 there, 20-40 back) and then holds still until frame 120.
struct TSwingRig : TCoreRig {
  static TVmdBuilder Motion() {
    TVmdBuilder V;
    V.AddBoneKey("root", 0);
    V.AddBoneKey("root", 20, TVector3f{{1, 0, 0}});
    V.AddBoneKey("root", 40);
    V.AddBoneKey("root", 120);
    return V;
  }
  explicit TSwingRig(float ADamping = 0.5f)
      : TCoreRig(PendulumModel(3, 1.0f, TVector3f{{0, 5, 0}}, 1, ADamping, true), &MotionStore()) {}
  static const TVmdBuilder& MotionStore() {
    static const TVmdBuilder V = Motion();
    return V;
  }
  TVector3f Tip() const { return BonePosition(3); }
};

float Distance(const TVector3f& A, const TVector3f& B) {
  return std::sqrt((A.X - B.X) * (A.X - B.X) + (A.Y - B.Y) * (A.Y - B.Y) +
                   (A.Z - B.Z) * (A.Z - B.Z));
}

TEST(CorePhysics, ChainSwingsBehindTheMotionAndIsSkinned) {
  TSwingRig R;
  ASSERT_NE(R.Core->Physics(), nullptr);
  float Lag = 0.0f;
  for (int F = 0; F <= 20; ++F) {
    R.Core->ApplyMotionByFrame(F);
    // The root follows the motion; the tip trails behind it.
    Lag = std::max(Lag, R.BonePosition(0).X - R.Tip().X);
  }
  EXPECT_NEAR(R.BonePosition(0).X, 1.0f, 1e-6f);
  EXPECT_GT(Lag, 0.1f);
  // Each link's vertex sits on its bone wherever physics put the bone.
  for (int B = 0; B < 4; ++B)
    EXPECT_TRUE(Near3(R.Position(B), TVec3f(R.BonePosition(B)), 1e-5f)) << B;
}

// At the loop the motion is back at rest and held there; the reset puts the bodies at the bones'
// pose, so nothing moves further than the chain moved in one frame while the motion ran.
TEST(CorePhysics, ResetOnLoopJumpsNoFurtherThanOneFrame) {
  TSwingRig R(0.8f);
  const int N = static_cast<int>(R.Core->FrameCount());
  ASSERT_GE(N, 120);
  float LargestStep = 0.0f, LoopStep = -1.0f;
  TVector3f Last{};
  const long StepsBefore = R.Core->Physics()->StepCount();
  for (int F = 0; F < 2 * N + 5; ++F) {
    R.Core->ApplyMotionByFrame(F);
    const TVector3f Tip = R.Tip();
    if (F > 0) {
      const float Step = Distance(Tip, Last);
      if (F >= 10 && F < N)  // (past the start, which resets too)
        LargestStep = std::max(LargestStep, Step);
      else if (F < N + 5)
        LoopStep = std::max(LoopStep, Step);  // the loop and the frames right after it
    }
    Last = Tip;
  }
  EXPECT_GT(LargestStep, 0.02f);  // it did swing
  EXPECT_GE(LoopStep, 0.0f);
  EXPECT_LE(LoopStep, LargestStep);
  // Three resets (the first frame and the two loops): each settles; every other frame two steps.
  EXPECT_EQ(R.Core->Physics()->StepCount() - StepsBefore,
            3 * PhysicsSettleSteps + 2L * (2 * N + 5 - 3));
}

// The motion clock decides: frames ahead step the world (two steps per frame), the same frame
// again steps nothing and changes nothing, a frame behind or far ahead resets (settle steps only).
TEST(CorePhysics, ClockStepsPausesAndResetsOnJumps) {
  struct TCase {
    const char* Name;
    double From, To;
    long Steps;
    bool Frozen;
  } Cases[] = {
      {"next frame", 10, 11, 2, false},
      {"two frames ahead", 10, 12, 4, false},
      {"half a frame ahead, then the rest", 10, 10.5, 1, false},
      {"paused", 10, 10, 0, true},
      {"previous frame", 10, 9, PhysicsSettleSteps, false},
      {"seek ahead", 10, 80, PhysicsSettleSteps, false},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TSwingRig R;
    for (int F = 0; F <= static_cast<int>(C.From); ++F) R.Core->ApplyMotionByFrame(F);
    const long Before = R.Core->Physics()->StepCount();
    const TMatrix4f Body = R.Core->Physics()->BodyMatrix(3);
    const TMatrix4f Bone = R.Core->BoneGlobalMatrix()[3];
    R.Core->ApplyMotionByFrame(C.To);
    R.Core->FaceTurn(TVec3f(0, 0, 5));  // a re-pose in between steps nothing either
    EXPECT_EQ(R.Core->Physics()->StepCount() - Before, C.Steps);
    if (C.Frozen) {
      const TMatrix4f After = R.Core->Physics()->BodyMatrix(3);
      EXPECT_EQ(std::memcmp(&Body, &After, sizeof Body), 0);
      EXPECT_EQ(std::memcmp(&Bone, &R.Core->BoneGlobalMatrix()[3], sizeof Bone), 0);
    }
  }
}

// A reset steps the settle steps and nothing else: motion time that piled up before it (frames
// played with the physics off, or the frame that asked for the reset) is not stepped after it.
// Only the frames after the reset step again, two per frame.
TEST(CorePhysics, AResetDropsTheTimeThatCameBeforeIt) {
  struct TCase {
    const char* Name;
    bool SwitchOff;    // off after frame 15, frames 16-18 played, then on again
    bool AskForReset;  // a reset asked after frame 15, then frame 16
  } Cases[] = {
      {"switched back on after three frames off", true, false},
      {"reset asked, then the next frame", false, true},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TSwingRig R;
    for (int F = 0; F <= 15; ++F) R.Core->ApplyMotionByFrame(F);
    const long Before = R.Core->Physics()->StepCount();
    int Next = 16;
    if (C.SwitchOff) {
      R.Core->SetPhysicsEnabled(false);
      for (; Next <= 18; ++Next) R.Core->ApplyMotionByFrame(Next);
      EXPECT_EQ(R.Core->Physics()->StepCount(), Before);
      R.Core->SetPhysicsEnabled(true);
    }
    if (C.AskForReset) {
      R.Core->ResetPhysics();
      R.Core->ApplyMotionByFrame(Next++);
    }
    EXPECT_EQ(R.Core->Physics()->StepCount() - Before, PhysicsSettleSteps);
    R.Core->ApplyMotionByFrame(Next);
    EXPECT_EQ(R.Core->Physics()->StepCount() - Before, PhysicsSettleSteps + 2);
  }
}

// Off, the bones follow the motion only: the same matrices as a model without rigid bodies. On
// again, the bodies restart from the bones' pose.
TEST(CorePhysics, SwitchingOffLeavesTheMotionsPose) {
  TSwingRig R;
  TPmxBuilder Plain = PendulumModel(3, 1.0f, TVector3f{{0, 5, 0}}, 1, 0.5f, true);
  Plain.RigidBodies.clear();
  Plain.Joints.clear();
  TCoreRig Without(Plain, &TSwingRig::MotionStore());
  for (int F = 0; F <= 15; ++F) R.Core->ApplyMotionByFrame(F);
  EXPECT_TRUE(R.Core->PhysicsEnabled());
  R.Core->SetPhysicsEnabled(false);
  EXPECT_FALSE(R.Core->PhysicsEnabled());
  for (int F = 16; F <= 18; ++F) {
    R.Core->ApplyMotionByFrame(F);
    Without.Core->ApplyMotionByFrame(F);
    for (int B = 0; B < 4; ++B)
      EXPECT_EQ(std::memcmp(&R.Core->BoneGlobalMatrix()[B], &Without.Core->BoneGlobalMatrix()[B],
                            sizeof(TMatrix4f)),
                0);
    EXPECT_EQ(R.Out->Positions, Without.Out->Positions);
  }
  R.Core->SetPhysicsEnabled(true);
  // Reset at the bones' pose: the tip hangs where the motion alone puts it, give or take the
  // settle steps' sag.
  EXPECT_LT(Distance(R.Tip(), Without.BonePosition(3)), 0.05f);
}

}  // namespace
