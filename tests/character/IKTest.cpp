// The IK solver: convergence, reach, angle limits with reflection and clamping, skipped chains and
// links, the step limit, and no NaN from degenerate turns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "character/core/PmxIKMath.h"
#include "tests/character/CoreFixture.h"

namespace {

// A leg: thigh at (0, 2, 0), knee at (0, 1, 0), ankle at (0, 0, 0); the IK bone starts on the
// ankle and its translation is the goal's offset.
struct TLeg {
  TPmxBuilder B;
  int Thigh, Knee, Ankle, IK;
  explicit TLeg(int ALoops = 40, float ALimit = 1.0f) {
    Thigh = B.AddBone("thigh", NewVector3f(0, 2, 0));
    Knee = B.AddBone("knee", NewVector3f(0, 1, 0), Thigh);
    Ankle = B.AddBone("ankle", NewVector3f(0, 0, 0), Knee);
    IK = B.AddBone("足ＩＫ", NewVector3f(0, 0, 0));
    B.MakeIK(IK, Ankle, ALoops, ALimit);
  }
};

float Angle(const TQuaternion& Q) {
  return 2.0f * std::atan2(std::sqrt(Q.ImagPart.X * Q.ImagPart.X + Q.ImagPart.Y * Q.ImagPart.Y +
                                     Q.ImagPart.Z * Q.ImagPart.Z),
                           std::fabs(Q.RealPart));
}

// V turned by the unit quaternion Q = (u, w): V + 2w (u x V) + 2 u x (u x V).
TVector3f Rotated(const TQuaternion& Q, const TVector3f& V) {
  const TVec3f U(Q.ImagPart.X, Q.ImagPart.Y, Q.ImagPart.Z), P(V.X, V.Y, V.Z);
  const TVec3f T = U.Cross(P) * (2.0f * Q.RealPart), T2 = U.Cross(U.Cross(P)) * 2.0f;
  return NewVector3f(P.X + T.X + T2.X, P.Y + T.Y + T2.Y, P.Z + T.Z + T2.Z);
}

bool Finite(const TQuaternion& Q) {
  return std::isfinite(Q.ImagPart.X) && std::isfinite(Q.ImagPart.Y) &&
         std::isfinite(Q.ImagPart.Z) && std::isfinite(Q.RealPart);
}

}  // namespace

TEST(IK, TwoLinkChainReachesAReachableGoal) {
  TLeg Leg;
  Leg.B.AddIKLink(Leg.IK, Leg.Knee);
  Leg.B.AddIKLink(Leg.IK, Leg.Thigh);
  for (bool Reference : {false, true}) {
    TCoreRig Rig(Leg.B, nullptr, Reference);
    Rig.Core->BoneTranslations()[Leg.IK] = NewVector3f(0.5f, 0.6f, 0.2f);
    Rig.Core->UpdateBoneMatrix();
    const TVector3f Goal = Rig.BonePosition(Leg.IK);
    EXPECT_LT(DistanceSquared3f(Rig.BonePosition(Leg.Ankle), Goal), 1e-6f);
    // The limbs keep their lengths.
    EXPECT_NEAR(Distance3f(Rig.BonePosition(Leg.Thigh), Rig.BonePosition(Leg.Knee)), 1.0f, 1e-5f);
    EXPECT_NEAR(Distance3f(Rig.BonePosition(Leg.Knee), Rig.BonePosition(Leg.Ankle)), 1.0f, 1e-5f);
  }
}

TEST(IK, GoalOutOfReachLeavesTheChainStretchedTowardIt) {
  TLeg Leg;
  Leg.B.AddIKLink(Leg.IK, Leg.Knee);
  Leg.B.AddIKLink(Leg.IK, Leg.Thigh);
  TCoreRig Rig(Leg.B);
  Rig.Core->BoneTranslations()[Leg.IK] = NewVector3f(3, -1, 0);
  Rig.Core->UpdateBoneMatrix();
  const TVector3f Thigh = Rig.BonePosition(Leg.Thigh);
  const TVector3f ToGoal = Normalized3f(Sub3f(Rig.BonePosition(Leg.IK), Thigh));
  const TVector3f ToAnkle = Sub3f(Rig.BonePosition(Leg.Ankle), Thigh);
  EXPECT_NEAR(Length3f(ToAnkle), 2.0f, 1e-3f);
  EXPECT_GT(Dot3f(Normalized3f(ToAnkle), ToGoal), 0.999f);
}

// A file may give any loop count up to 2^31 - 1; a goal out of reach never ends the loop early, so
// the solver must bound its work per pose rather than stall every frame.
TEST(IK, HugeLoopCountWithAnUnreachableGoalStillEndsThePose) {
  TLeg Leg(2147483647);
  Leg.B.AddIKLink(Leg.IK, Leg.Knee);
  Leg.B.AddIKLink(Leg.IK, Leg.Thigh);
  TCoreRig Rig(Leg.B), Reference(Leg.B, nullptr, true);
  for (TCoreRig* R : {&Rig, &Reference}) {
    R->Core->BoneTranslations()[Leg.IK] = NewVector3f(3, -1, 0);
    R->Core->UpdateBoneMatrix();
  }
  for (int Bone : {Leg.Thigh, Leg.Knee}) EXPECT_TRUE(Finite(Rig.Core->BoneRotations()[Bone]));
  const TVector3f Thigh = Rig.BonePosition(Leg.Thigh);
  const TVector3f ToGoal = Normalized3f(Sub3f(Rig.BonePosition(Leg.IK), Thigh));
  EXPECT_GT(Dot3f(Normalized3f(Sub3f(Rig.BonePosition(Leg.Ankle), Thigh)), ToGoal), 0.999f);
  // Both paths stop at the same iteration.
  EXPECT_EQ(std::memcmp(Rig.Core->BoneRotations().data(), Reference.Core->BoneRotations().data(),
                        Rig.Core->BoneRotations().size() * sizeof(TQuaternion)),
            0);
}

TEST(IK, IterationLimitOnlyCutsLoopCountsNoModelUses) {
  struct TCase {
    int Loops;
    size_t Chains, Links;
    int Expected;
  };
  const TCase Cases[] = {
      {40, 4, 2, 40},
      {255, 300, 8, 255},
      {1000, 300, 8, 256},
      {2147483647, 1, 2, 32768},
      {2147483647, 4, 0, 16384},
      {-5, 4, 2, -5},
  };
  for (const TCase& C : Cases)
    EXPECT_EQ(IKIterationLimit(C.Loops, C.Chains, C.Links), C.Expected)
        << C.Loops << " loops, " << C.Chains << " chains, " << C.Links << " links";
}

TEST(IK, ChainsThatCannotRunLeaveEveryRotationAlone) {
  struct TCase {
    const char* Name;
    int Loops;
    bool FixedLink;
    TVector3f Goal;
  };
  const TCase Cases[] = {
      {"loop count 0", 0, false, NewVector3f(0.5f, 0.5f, 0)},
      {"negative loop count", -3, false, NewVector3f(0.5f, 0.5f, 0)},
      {"only a fixed link", 40, true, NewVector3f(0.5f, 0.5f, 0)},
      {"goal already reached", 40, false, NewVector3f(0, 0, 0)},
  };
  for (const TCase& C : Cases) {
    TLeg Leg(C.Loops);
    if (C.FixedLink)
      Leg.B.AddIKLink(Leg.IK, Leg.Knee, NewVector3f(0, 0, 0), NewVector3f(0, 0, 0));
    else
      Leg.B.AddIKLink(Leg.IK, Leg.Knee);
    TCoreRig Rig(Leg.B);
    Rig.Core->BoneTranslations()[Leg.IK] = C.Goal;
    Rig.Core->UpdateBoneMatrix();
    for (const TQuaternion& Q : Rig.Core->BoneRotations())
      EXPECT_TRUE(SameTurn(Q, IdentityQuaternion)) << C.Name;
  }
}

TEST(IK, StepLimitCapsEachVisitOfAnUnlimitedLink) {
  TLeg Leg(1, 0.1f);
  Leg.B.AddIKLink(Leg.IK, Leg.Knee);
  TCoreRig Rig(Leg.B);
  Rig.Core->BoneTranslations()[Leg.IK] = NewVector3f(1, 0.5f, 0);
  Rig.Core->UpdateBoneMatrix();
  EXPECT_NEAR(Angle(Rig.Core->BoneRotations()[Leg.Knee]), 0.1f, 1e-5f);
  // The solution carries over: the next solve starts from where this one ended.
  Rig.Core->UpdateBoneMatrix();
  EXPECT_NEAR(Angle(Rig.Core->BoneRotations()[Leg.Knee]), 0.2f, 1e-5f);
}

TEST(IK, LimitedKneeKeepsItsOtherAnglesAtZeroAndItsBendInRange) {
  TLeg Leg;
  Leg.B.AddIKLink(Leg.IK, Leg.Knee, NewVector3f(-2.5f, 0, 0), NewVector3f(-0.5f, 0, 0));
  Leg.B.AddIKLink(Leg.IK, Leg.Thigh);
  for (bool Reference : {false, true}) {
    TCoreRig Rig(Leg.B, nullptr, Reference);
    ASSERT_EQ(Rig.Pmx.GetBone(Leg.IK)->IKLinks[0].Euler, etXYZ);
    for (const TVector3f Goal : {NewVector3f(0, 0.6f, 0.5f), NewVector3f(0, 0.6f, -0.5f),
                                 NewVector3f(0.3f, 1.2f, 0.1f), NewVector3f(0, 0, 0.01f)}) {
      Rig.Core->BoneTranslations()[Leg.IK] = Goal;
      Rig.Core->UpdateBoneMatrix();
      const TQuaternion& K = Rig.Core->BoneRotations()[Leg.Knee];
      EXPECT_EQ(K.ImagPart.Y, 0.0f);
      EXPECT_EQ(K.ImagPart.Z, 0.0f);
      const float X = 2.0f * std::atan2(K.ImagPart.X, K.RealPart);
      EXPECT_GE(X, -2.5f - 1e-5f);
      EXPECT_LE(X, -0.5f + 1e-5f);
    }
  }
}

TEST(IK, LimitAnglesReflectsInTheFirstHalfAndClampsInTheSecond) {
  TPmxIKLink Link{};
  Link.AngleLimit = 1;
  Link.LowerLimit = NewVector3f(-2.5f, 0, -1);
  Link.UpperLimit = NewVector3f(-0.5f, 0, 1);
  struct TCase {
    float In;
    bool Reflect;
    float Out;
  };
  const TCase Cases[] = {
      {0.1f, true, -1.1f},  {0.1f, false, -0.5f},  {-2.6f, true, -2.4f}, {-2.6f, false, -2.5f},
      {-1.0f, true, -1.0f}, {-1.0f, false, -1.0f}, {3.0f, true, -0.5f},  // mirror beyond the range
      {-5.0f, true, -2.5f},
  };
  for (const TCase& C : Cases) {
    TVector3f A = NewVector3f(C.In, 0.3f, -1.5f);
    LimitAngles(A, Link, C.Reflect);
    EXPECT_NEAR(A.X, C.Out, 1e-6f) << C.In << (C.Reflect ? " reflected" : " clamped");
    EXPECT_EQ(A.Y, 0.0f);
    EXPECT_NEAR(A.Z, C.Reflect ? -0.5f : -1.0f, 1e-6f);
  }
}

TEST(IK, EachEulerOrderDecomposesAndRecomposesByItsTable) {
  // Each order reads the link's rotation as a turn about one axis after another (fixed axes) and
  // recomposes it in the reverse order: XYZ reads X, then Y, then Z and gives Z first, then Y, then
  // X. The result is checked by where it takes the unit vectors, worked out by hand with
  // Rx(a): (x, y, z) -> (x, y c - z s, y s + z c), Ry(a): (x c + z s, y, -x s + z c),
  // Rz(a): (x c - y s, x s + y c, z); the middle angle is 30 degrees (c = 0.8660254, s = 0.5),
  // the outer ones +90 and -90 degrees.
  const float Right = 1.5707963f, Thirty = 0.5235988f, C = 0.8660254f, S = 0.5f;
  struct TCase {
    TEulerType Order;
    float X, Y, Z;
    TQuaternion Read;  // the turns in reading order
    TVector3f Ex, Ey, Ez;
  };
  auto Tx = [](float A) { return TurnAbout(1, 0, 0, A); };
  auto Ty = [](float A) { return TurnAbout(0, 1, 0, A); };
  auto Tz = [](float A) { return TurnAbout(0, 0, 1, A); };
  const TCase Cases[] = {
      // Rz(-90) then Ry(30) then Rx(90): ex -> (0, -1, 0) -> (0, -1, 0) -> (0, 0, -1);
      // ey -> (1, 0, 0) -> (c, 0, -s) -> (c, s, 0); ez -> ez -> (s, 0, c) -> (s, -c, 0).
      {etXYZ, Right, Thirty, -Right,
       MulQuaternion(Tz(-Right), MulQuaternion(Ty(Thirty), Tx(Right))), NewVector3f(0, 0, -1),
       NewVector3f(C, S, 0), NewVector3f(S, -C, 0)},
      // Rx(-90) then Rz(30) then Ry(90): ex -> ex -> (c, s, 0) -> (0, s, -c);
      // ey -> (0, 0, -1) -> (0, 0, -1) -> (-1, 0, 0); ez -> (0, 1, 0) -> (-s, c, 0) -> (0, c, s).
      {etYZX, -Right, Right, Thirty,
       MulQuaternion(Tx(-Right), MulQuaternion(Tz(Thirty), Ty(Right))), NewVector3f(0, S, -C),
       NewVector3f(-1, 0, 0), NewVector3f(0, C, S)},
      // Ry(-90) then Rx(30) then Rz(90): ex -> (0, 0, 1) -> (0, -s, c) -> (s, 0, c);
      // ey -> ey -> (0, c, s) -> (-c, 0, s); ez -> (-1, 0, 0) -> (-1, 0, 0) -> (0, -1, 0).
      {etZXY, Thirty, -Right, Right,
       MulQuaternion(Ty(-Right), MulQuaternion(Tx(Thirty), Tz(Right))), NewVector3f(S, 0, C),
       NewVector3f(-C, 0, S), NewVector3f(0, -1, 0)},
  };
  for (const TCase& K : Cases) {
    TPmxIKLink Link{};
    Link.AngleLimit = 1;
    Link.Euler = K.Order;
    Link.LowerLimit = NewVector3f(-3, -3, -3);
    Link.UpperLimit = NewVector3f(3, 3, 3);
    TQuaternion R;
    ASSERT_TRUE(LimitedLinkRotation(K.Read, Link, false, R));
    EXPECT_TRUE(Near3(Rotated(R, NewVector3f(1, 0, 0)), K.Ex)) << static_cast<int>(K.Order);
    EXPECT_TRUE(Near3(Rotated(R, NewVector3f(0, 1, 0)), K.Ey)) << static_cast<int>(K.Order);
    EXPECT_TRUE(Near3(Rotated(R, NewVector3f(0, 0, 1)), K.Ez)) << static_cast<int>(K.Order);
    // A turn about a single axis comes back unchanged.
    for (const TQuaternion& Single : {Tx(K.X), Ty(K.Y), Tz(K.Z)}) {
      ASSERT_TRUE(LimitedLinkRotation(Single, Link, false, R));
      EXPECT_TRUE(SameTurn(R, Single)) << static_cast<int>(K.Order);
    }
  }
  // The middle angle stops at 88 degrees (88 / 180 * pi = 1.5358897 radians).
  TPmxIKLink Link{};
  Link.AngleLimit = 1;
  Link.Euler = etXYZ;
  Link.LowerLimit = NewVector3f(-3, -3, -3);
  Link.UpperLimit = NewVector3f(3, 3, 3);
  TQuaternion R;
  ASSERT_TRUE(LimitedLinkRotation(TurnAbout(0, 1, 0, 1.56f), Link, false, R));
  EXPECT_TRUE(SameTurn(R, TurnAbout(0, 1, 0, 1.5358897f)));

  TPmxIKLink Unknown{};
  Unknown.Euler = static_cast<TEulerType>(7);
  EXPECT_FALSE(LimitedLinkRotation(TurnAbout(1, 0, 0, 0.4f), Unknown, false, R));
}

TEST(IK, OppositeDirectionsAndRoundingPutNoNaNIntoThePose) {
  // The effector straight above the link, the goal straight below it: no axis to turn about.
  TPmxBuilder B;
  const int Link = B.AddBone("link", NewVector3f(0, 1, 0));
  const int Tip = B.AddBone("tip", NewVector3f(0, 2, 0), Link);
  const int IK = B.AddBone("ＩＫ", NewVector3f(0, 2, 0));
  B.MakeIK(IK, Tip, 40, 4.0f);
  B.AddIKLink(IK, Link);
  for (bool Reference : {false, true}) {
    TCoreRig Rig(B, nullptr, Reference);
    Rig.Core->BoneTranslations()[IK] = NewVector3f(0, -2, 0);
    Rig.Core->UpdateBoneMatrix();
    for (const TQuaternion& Q : Rig.Core->BoneRotations()) EXPECT_TRUE(Finite(Q));
    // Nearly opposite and nearly aligned goals.
    for (float X : {1e-7f, -3e-8f, 1e-4f}) {
      Rig.Core->BoneTranslations()[IK] = NewVector3f(X, -2, 0);
      Rig.Core->UpdateBoneMatrix();
      Rig.Core->BoneTranslations()[IK] = NewVector3f(X, 0, 0);
      Rig.Core->UpdateBoneMatrix();
      for (const TQuaternion& Q : Rig.Core->BoneRotations()) EXPECT_TRUE(Finite(Q)) << X;
      for (float F : Rig.Out->Positions) EXPECT_TRUE(std::isfinite(F));
    }
  }
}
