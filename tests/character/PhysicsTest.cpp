// The physics world on its own: bodies driven by bone matrices handed in, stepped, and bones
// handed back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "character/physics/PmxPhysics.h"
#include "formats/PmxPhysicsWriter.h"
#include "math/VectorGeometry.h"
#include "math/VectorMath.h"

namespace {

// A loaded model, its world and the bones' matrices at rest (fixtures list parents first).
struct TWorldRig {
  TPmx Pmx;
  std::vector<int> Parent, Order;
  std::vector<TMatrix4f> Globals;
  std::vector<std::string> Notes;
  std::unique_ptr<TPmxPhysics> Physics;

  explicit TWorldRig(const TPmxBuilder& AModel) {
    Pmx.LoadFromBytes(AModel.Build());
    for (int I = 0; I < Pmx.BoneCount(); ++I) {
      const int P = Pmx.GetBone(I)->ParentIndex;
      Parent.push_back(P >= 0 && P < I ? P : -1);
      Order.push_back(I);
    }
    Physics = std::make_unique<TPmxPhysics>(Pmx, Parent, Order,
                                            [this](const std::string& N) { Notes.push_back(N); });
    RestGlobals();
    Physics->Reset(Globals);
  }
  void RestGlobals() {
    Globals.clear();
    for (int I = 0; I < Pmx.BoneCount(); ++I)
      Globals.push_back(TranslationMatrix4f(Pmx.GetBone(I)->Position));
  }
  // AFrames frames at 30 per second, the bones put back at rest before each (the pose's job).
  void Run(int AFrames) {
    for (int F = 0; F < AFrames; ++F) {
      RestGlobals();
      Physics->Update(Globals, 1.0 / 30.0);
    }
  }
  TVector3f BodyPosition(int ABody) const { return XYZ3f(Physics->BodyMatrix(ABody).W); }
};

bool AllFinite(const TMatrix4f& M) {
  for (float F : M.V)
    if (!std::isfinite(F)) return false;
  return true;
}

// The turn of a body about Z from its rest direction +X: the angle of its X row in the XY plane.
float TurnAboutZ(const TMatrix4f& M) {
  return std::atan2(M.X.Y, M.X.X);
}

TEST(Physics, PendulumChainComesToRestHangingStraightDown) {
  const float L = 1.0f;
  const TVector3f Top{{0, 5, 0}};
  TWorldRig R(PendulumModel(3, L, Top));
  ASSERT_EQ(R.Physics->ActiveJointCount(), 3);
  // It swings first: the tip passes below the hinge's height well before it settles.
  R.Run(10);
  EXPECT_LT(R.BodyPosition(3).Y, Top.Y - 0.5f * L);
  R.Run(600);
  // Hanging: box i centred (i + 0.5) lengths below the top, each turned a quarter down.
  for (int I = 0; I < 3; ++I) {
    const TVector3f P = R.BodyPosition(I + 1);
    EXPECT_NEAR(P.X, Top.X, 0.03f) << "box " << I;
    EXPECT_NEAR(P.Y, Top.Y - L * (I + 0.5f), 0.03f) << "box " << I;
    EXPECT_NEAR(P.Z, Top.Z, 0.03f) << "box " << I;
    EXPECT_NEAR(std::fabs(TurnAboutZ(R.Physics->BodyMatrix(I + 1))), 1.5707963f, 0.03f);
  }
  // The bones follow: link i's bone (i + 1) sits at the start of box i.
  for (int I = 0; I < 3; ++I) {
    const TVector3f B = XYZ3f(R.Globals[I + 1].W);
    EXPECT_NEAR(B.X, Top.X, 0.03f);
    EXPECT_NEAR(B.Y, Top.Y - L * I, 0.03f);
  }
}

TEST(Physics, KinematicBodyFollowsItsBoneExactly) {
  TPmxBuilder M;
  M.AddBone("root", TVector3f{{0, 1, 0}});
  TBodySpec S;
  S.Bone = 0;
  S.Mode = 0;
  S.Position = TVector3f{{0.5f, 1.25f, -0.25f}};  // offset (0.5, 0.25, -0.25) from the bone
  AddBody(M, S);
  TWorldRig R(M);
  const TQuaternion Turn = QuaternionFromAxisAngle(TVec3f(0.3f, 1.0f, 0.2f), 0.9f);
  for (int F = 0; F < 5; ++F) {
    // Bone turned and moved further every frame.
    TMatrix4f G = MulMatrix4f(QuaternionToMatrix4f(Turn),
                              TranslationMatrix4f(TVector3f{{0.1f * F, 1.0f + 0.2f * F, 0.3f}}));
    for (int K = 0; K < F; ++K) G = MulMatrix4f(QuaternionToMatrix4f(Turn), G);
    R.Globals[0] = G;
    R.Physics->Update(R.Globals, 1.0 / 30.0);
    // The body sits at its rest offset carried by the bone's matrix (row vector times matrix).
    const TVector3f Offset{{0.5f, 0.25f, -0.25f}};
    const TVector3f Expected{{Offset.X * G.X.X + Offset.Y * G.Y.X + Offset.Z * G.Z.X + G.W.X,
                              Offset.X * G.X.Y + Offset.Y * G.Y.Y + Offset.Z * G.Z.Y + G.W.Y,
                              Offset.X * G.X.Z + Offset.Y * G.Y.Z + Offset.Z * G.Z.Z + G.W.Z}};
    const TMatrix4f B = R.Physics->BodyMatrix(0);
    for (int C = 0; C < 3; ++C) {
      EXPECT_NEAR(B.W.V[C], Expected.V[C], 1e-5f) << "frame " << F;
      for (int Row = 0; Row < 3; ++Row) EXPECT_NEAR(B.Rows[Row].V[C], G.Rows[Row].V[C], 1e-5f);
    }
    EXPECT_EQ(R.Globals[0].V[12], G.V[12]);  // a followed bone is left alone
  }
}

// Mode 1 carries its bone to the body; mode 2 only turns it, the bone stays where the pose puts
// it. A child bone keeps its place relative to the moved bone in both.
TEST(Physics, SimulatedBodiesDriveTheirBones) {
  for (int Mode : {1, 2}) {
    SCOPED_TRACE(Mode);
    TPmxBuilder M = PendulumModel(1, 1.0f, TVector3f{{0, 5, 0}}, Mode);
    M.AddBone("tip", TVector3f{{1, 5, 0}}, 1);
    TWorldRig R(M);
    R.Run(90);
    const TMatrix4f Body = R.Physics->BodyMatrix(1);
    const TMatrix4f& Bone = R.Globals[1];
    // It swung: the box points down now.
    ASSERT_LT(Body.X.Y, -0.9f);
    for (int Row = 0; Row < 3; ++Row)
      for (int C = 0; C < 3; ++C) EXPECT_NEAR(Bone.Rows[Row].V[C], Body.Rows[Row].V[C], 1e-5f);
    // The box starts at its bone: half a box length back along the box's X row.
    const TVector3f BodyStart = Sub3f(XYZ3f(Body.W), Scaled3f(XYZ3f(Body.X), 0.5f));
    if (Mode == 1) {
      EXPECT_NEAR(Bone.W.X, BodyStart.X, 1e-4f);
      EXPECT_NEAR(Bone.W.Y, BodyStart.Y, 1e-4f);
    } else {
      EXPECT_EQ(Bone.W.X, 0.0f);
      EXPECT_EQ(Bone.W.Y, 5.0f);
    }
    // The tip one unit along the bone's X row.
    const TVector3f Tip = XYZ3f(R.Globals[2].W);
    EXPECT_NEAR(Tip.X, Bone.W.X + Bone.X.X, 1e-4f);
    EXPECT_NEAR(Tip.Y, Bone.W.Y + Bone.X.Y, 1e-4f);
  }
}

// The bones an update may change: those of simulated bodies and every bone below one, whatever
// body hangs there (a bone-following body's bone below a simulated one is carried all the same).
// Bones under bone-following bodies only, or under no body, stay the pose's.
TEST(Physics, MovedBonesAreTheSimulatedOnesAndAllBelowThem) {
  struct TRow {
    const char* Name;
    int Parent;
    TVector3f Position;
    int BodyMode;  // -1: no body
    float Mass;
    bool Moved;
  } Rows[] = {
      {"root", -1, {{0, 10, 0}}, 0, 1, false},
      {"hair", 0, {{0, 9, 0}}, 1, 1, true},
      {"ribbon", 1, {{0, 8, 0}}, 0, 1, true},  // follows a bone that hair carries
      {"ribbon tip", 2, {{0, 7, 0}}, -1, 1, true},
      {"arm", 0, {{1, 9, 0}}, 0, 1, false},
      {"hand", 4, {{2, 9, 0}}, -1, 1, false},
      {"skirt", 0, {{0, 8.5f, 0.5f}}, 2, 1, true},  // turned only, still changed
      {"hem", 6, {{0, 8, 0.5f}}, -1, 1, true},
      {"massless", 0, {{-1, 9, 0}}, 1, 0, false},  // no mass: made to follow its bone
      {"below massless", 8, {{-2, 9, 0}}, -1, 1, false},
      {"lone", -1, {{5, 0, 0}}, -1, 1, false},
  };
  TPmxBuilder M;
  for (const TRow& Row : Rows) {
    const int Bone = M.AddBone(Row.Name, Row.Position, Row.Parent);
    if (Row.BodyMode < 0) continue;
    TBodySpec S;
    S.Bone = Bone;
    S.Mode = Row.BodyMode;
    S.Mass = Row.Mass;
    S.Position = Row.Position;
    S.NoCollisionMask = 0xFFFF;
    AddBody(M, S);
  }
  TWorldRig R(M);
  const std::vector<uint8_t>& Moved = R.Physics->MovedBones();
  ASSERT_EQ(Moved.size(), std::size(Rows));
  for (size_t I = 0; I < std::size(Rows); ++I)
    EXPECT_EQ(Moved[I] != 0, Rows[I].Moved) << Rows[I].Name;
}

// A ball dropped onto a floor: groups and masks decide whether it lands or falls through. Either
// body's mask naming the other's group keeps them apart.
TEST(Physics, CollisionMasksDecideWhoCollides) {
  struct TCase {
    const char* Name;
    uint16_t BallMask, FloorMask;
    bool Lands;
  } Cases[] = {
      {"both collide", 0x0000, 0x0000, true},
      {"ball ignores the floor's group", 1 << 2, 0x0000, false},
      {"floor ignores the ball's group", 0x0000, 1 << 5, false},
      {"masks name other groups", 1 << 3, 1 << 4, true},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TPmxBuilder M;
    M.AddBone("root", TVector3f{{0, 0, 0}});
    TBodySpec Floor;
    Floor.Mode = 0;
    Floor.Size = TVector3f{{2, 0.1f, 2}};
    Floor.Group = 2;
    Floor.NoCollisionMask = C.FloorMask;
    AddBody(M, Floor);
    TBodySpec Ball;
    Ball.Shape = stSphere;
    Ball.Size = TVector3f{{0.2f, 0, 0}};
    Ball.Position = TVector3f{{0, 1, 0}};
    Ball.Group = 5;
    Ball.NoCollisionMask = C.BallMask;
    AddBody(M, Ball);
    TWorldRig R(M);
    // (Not so long that a falling ball counts as far away and is put back.)
    R.Run(20);
    const float Y = R.BodyPosition(1).Y;
    if (C.Lands)
      EXPECT_NEAR(Y, 0.1f + 0.2f, 0.03f);
    else
      EXPECT_LT(Y, -1.0f);
  }
}

// One box hinged at its start, horizontal at rest: gravity turns it down about Z until the
// joint's limit stops it; an inverted range leaves it free to hang straight down. The limits
// bound the turn of A's joint frame as seen from B's (the rigs' and Bullet's sense), so the box
// turning down by an angle a is held by -a <= upper.
TEST(Physics, JointRotationLimitsHold) {
  struct TCase {
    float Lower, Upper, Expected;
  } Cases[] = {
      {-0.4f, 0.4f, -0.4f}, {-1.0f, 0.2f, -0.2f}, {-0.2f, 1.0f, -1.0f}, {1.0f, 0.0f, -1.5707963f}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Lower);
    TPmxBuilder M = PendulumModel(1, 1.0f, TVector3f{{0, 5, 0}}, 1, 0.9f);
    M.Joints.clear();
    TJointSpec Limited;
    Limited.A = 0;
    Limited.B = 1;
    Limited.Position = TVector3f{{0, 5, 0}};
    Limited.TurnLower = TVector3f{{0, 0, C.Lower}};
    Limited.TurnUpper = TVector3f{{0, 0, C.Upper}};
    AddJoint(M, Limited);
    TWorldRig R(M);
    float Lowest = 0.0f;
    for (int F = 0; F < 240; ++F) {
      R.Run(1);
      Lowest = std::min(Lowest, TurnAboutZ(R.Physics->BodyMatrix(1)));
    }
    EXPECT_NEAR(TurnAboutZ(R.Physics->BodyMatrix(1)), C.Expected, 0.03f);
    if (C.Lower <= C.Upper) {
      EXPECT_GT(Lowest, C.Expected - 0.05f);  // never swung past it
    }
  }
}

// Broken rigs: every body and bone stays finite, the world keeps stepping, and each kind of
// fault is noted once however many bodies or joints have it.
TEST(Physics, HostileValuesStayFinite) {
  // Joints whose ends both follow bones are left out without a note: real rigs have many.
  const float NaN = std::numeric_limits<float>::quiet_NaN();
  const float Inf = std::numeric_limits<float>::infinity();
  struct TCase {
    const char* Name;
    std::function<void(TPmxBuilder&)> Break;
    int Notes;  // distinct notes expected
  } Cases[] = {
      // (The first link made kinematic leaves its joint with two kinematic ends: left out quietly.)
      {"zero mass", [](TPmxBuilder& M) { M.RigidBodies[1].Mass = 0; }, 1},
      {"negative masses",
       [](TPmxBuilder& M) { M.RigidBodies[1].Mass = M.RigidBodies[2].Mass = -3; }, 1},
      {"NaN mass", [&](TPmxBuilder& M) { M.RigidBodies[2].Mass = NaN; }, 1},
      {"NaN size", [&](TPmxBuilder& M) { M.RigidBodies[2].Size.X = NaN; }, 2},
      {"enormous size", [](TPmxBuilder& M) { M.RigidBodies[1].Size.Y = 1e30f; }, 2},
      {"zero size",
       [](TPmxBuilder& M) {
         M.RigidBodies[3].Size = TVector3f{{0, 0, 0}};
       },
       2},
      {"infinite place", [&](TPmxBuilder& M) { M.RigidBodies[3].Position.Y = Inf; }, 2},
      {"NaN rotation", [&](TPmxBuilder& M) { M.RigidBodies[1].Rotation.Z = NaN; }, 2},
      {"unknown shape", [](TPmxBuilder& M) { M.RigidBodies[2].Shape = TPmxRigidBodyShapeType(9); },
       2},
      {"unknown mode", [](TPmxBuilder& M) { M.RigidBodies[2].PhysicsOperation = 7; }, 1},
      {"bone out of range",
       [](TPmxBuilder& M) {
         M.Settings.BoneIndexSize = 2;
         M.RigidBodies[2].RelatedBoneIndex = 999;
       },
       1},
      {"NaN damping and friction",
       [&](TPmxBuilder& M) {
         M.RigidBodies[1].TranslateDecay = NaN;
         M.RigidBodies[2].RotateDecay = Inf;
         M.RigidBodies[3].Friction = NaN;
         M.RigidBodies[3].Repulsion = -Inf;
       },
       0},
      {"inverted move limits",
       [](TPmxBuilder& M) {
         for (TPmxJoint& J : M.Joints) {
           J.Data.Spring6DOF.TranslateLowerLimit = TVector3f{{5, 5, 5}};
           J.Data.Spring6DOF.TranslateUpperLimit = TVector3f{{-5, -5, -5}};
         }
       },
       0},
      {"huge limits and springs",
       [](TPmxBuilder& M) {
         for (TPmxJoint& J : M.Joints) {
           J.Data.Spring6DOF.RotateLowerLimit = TVector3f{{-1e30f, -1e30f, -1e30f}};
           J.Data.Spring6DOF.RotateUpperLimit = TVector3f{{1e30f, 1e30f, 1e30f}};
           J.Data.Spring6DOF.RotationSpringConstant = TVector3f{{1e30f, -1e30f, 1e30f}};
           J.Data.Spring6DOF.TranslationSpringConstant = TVector3f{{1e30f, 0, 0}};
         }
       },
       0},
      {"NaN joint values",
       [&](TPmxBuilder& M) {
         M.Joints[0].Data.Spring6DOF.Position.X = NaN;
         M.Joints[1].Data.Spring6DOF.RotationSpringConstant.Y = NaN;
       },
       1},
      {"joint on the same body",
       [](TPmxBuilder& M) { M.Joints[1].Data.Spring6DOF.RigidBodyBIndex = 1; }, 1},
      {"joint between two kinematic bodies",
       [](TPmxBuilder& M) {
         M.RigidBodies[1].PhysicsOperation = 0;
         M.Joints[0].Data.Spring6DOF.RigidBodyAIndex = 0;
         M.Joints[0].Data.Spring6DOF.RigidBodyBIndex = 1;
       },
       0},
      {"joint to a missing body",
       [](TPmxBuilder& M) { M.Joints[2].Data.Spring6DOF.RigidBodyBIndex = 40; }, 1},
      {"other joint kinds",
       [](TPmxBuilder& M) {
         M.Joints[2].JointKind = jkHinge;
         M.Joints[1].JointKind = jkP2P;
       },
       1},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TPmxBuilder M = PendulumModel(3, 1.0f);
    C.Break(M);
    TWorldRig R(M);
    EXPECT_EQ(static_cast<int>(R.Notes.size()), C.Notes);
    // The root jumps far in one frame and back, and is turned wildly.
    for (int F = 0; F < 60; ++F) {
      R.RestGlobals();
      if (F == 20) R.Globals[0] = TranslationMatrix4f(TVector3f{{1e6f, -1e6f, 3e5f}});
      if (F > 30)
        R.Globals[0] =
            MulMatrix4f(QuaternionToMatrix4f(QuaternionFromAxisAngle(TVec3f(1, 0.5f, 0), 0.7f * F)),
                        R.Globals[0]);
      R.Physics->Update(R.Globals, 1.0 / 30.0);
      for (int B = 0; B < R.Pmx.BoneCount(); ++B) ASSERT_TRUE(AllFinite(R.Globals[B])) << F;
      for (int B = 0; B < R.Physics->BodyCount(); ++B)
        ASSERT_TRUE(AllFinite(R.Physics->BodyMatrix(B))) << F;
    }
  }
}

}  // namespace

namespace {

// A rig hanging at rest sleeps once reset: standing still it does not move at all; the first
// move of a followed bone wakes it, and it swings.
TEST(Physics, ARigAtRestSleepsUntilItsBoneMoves) {
  TWorldRig R(PendulumModel(3, 1.0f, TVector3f{{0, 5, 0}}, 1, 0.5f, true));
  EXPECT_EQ(R.Physics->AwakeBodyCount(), 0);
  const TMatrix4f Tip = R.Physics->BodyMatrix(3);
  R.Run(30);
  const TMatrix4f Still = R.Physics->BodyMatrix(3);
  EXPECT_EQ(std::memcmp(&Tip, &Still, sizeof Tip), 0);
  for (int F = 0; F < 20; ++F) {
    R.RestGlobals();
    R.Globals[0] = TranslationMatrix4f(TVector3f{{0.3f, 5, 0}});
    R.Physics->Update(R.Globals, 1.0 / 30.0);
    if (F == 0) {
      EXPECT_EQ(R.Physics->AwakeBodyCount(), 3);
    }
    if (F == 4) {
      EXPECT_GT(R.Physics->BodyMatrix(1).W.X, 0.05f);  // the top link went with the root
    }
  }
  // The tip follows (first whipping back a little, as a jerked chain does).
  EXPECT_GT(R.Physics->BodyMatrix(3).W.X, Still.W.X + 0.03f);
}

}  // namespace

namespace {

// A rig laid out like a real model's (sizes, masses, damping, limits, springs and collision groups
// as real rigs have them): a bone-following head with three hair chains of six capsules hanging
// from it (two of them close enough to touch), and a skirt of twelve columns and three rows of
// boxes around a bone-following hip, hung by vertical joints and tied round by crossing joints
// between neighbours. The skirt's top row follows its bones at the back and turns with physics
// elsewhere; a few boxes below turn their bones only. Neighbouring boxes overlap and collide with
// each other, and a bone-following tie knot pokes into the front of the skirt.
struct TRealRig {
  static constexpr int HairChains = 3, HairLinks = 6;
  static constexpr int SkirtColumns = 12, SkirtRows = 3;
  static constexpr float Pi = 3.14159265f;
  TPmxBuilder Model;
  int Head = -1, Hips = -1;
  std::vector<int> HairTips, SkirtHems;

  TRealRig() {
    TPmxBuilder& M = Model;
    M.AddBone("root", TVector3f{{0, 0, 0}});
    Hips = M.AddBone("hips", TVector3f{{0, 1.0f, 0}}, 0);
    Head = M.AddBone("head", TVector3f{{0, 1.5f, 0}}, 0);
    M.AddVertex(TVector3f{{0, 1.5f, 0}}, TVector3f{{0, 1, 0}}, {0, 0}, Head);
    TBodySpec HeadBody;
    HeadBody.Bone = Head;
    HeadBody.Mode = 0;
    HeadBody.Shape = stSphere;
    HeadBody.Size = TVector3f{{0.1f, 0, 0}};
    HeadBody.Position = TVector3f{{0, 1.5f, 0}};
    HeadBody.NoCollisionMask = 1 << 0;
    const int HeadIndex = AddBody(M, HeadBody);
    AddHair(HeadIndex);
    AddSkirt();
  }

  // Chains from x 0.10, 0.15 (touching: radius 0.03, 0.05 apart) and -0.12, laid out 25 degrees
  // out from straight down as modelled (gravity pulls them further down once simulated), each bone
  // 0.2 along from the one before, turning up to 20-60 degrees a joint, no springs.
  void AddHair(int AHeadBody) {
    TPmxBuilder& M = Model;
    const float Xs[HairChains] = {0.10f, 0.15f, -0.12f};
    const float Limits[HairChains] = {0.35f, 0.6f, 1.05f};
    for (int C = 0; C < HairChains; ++C) {
      const float Out = Xs[C] > 0 ? 0.4363f : -0.4363f;
      const TVector3f Along{{0.2f * std::sin(Out), -0.2f * std::cos(Out), 0}};
      int Parent = Head, Above = AHeadBody;
      for (int L = 0; L <= HairLinks; ++L) {
        const TVector3f At{{Xs[C] + Along.X * L, 1.55f + Along.Y * L, 0.05f}};
        Parent = M.AddBone("hair" + std::to_string(C) + "_" + std::to_string(L), At, Parent);
        M.AddVertex(At, TVector3f{{0, 1, 0}}, {0, 0}, Parent);
        if (L == HairLinks) {
          HairTips.push_back(Parent);
          break;
        }
        TBodySpec Link;
        Link.Bone = Parent;
        Link.Shape = stCapsule;
        Link.Size = TVector3f{{0.03f, 0.15f, 0}};
        Link.Position = TVector3f{{At.X + Along.X / 2, At.Y + Along.Y / 2, At.Z}};
        Link.Rotation = TVector3f{{0, 0, Out}};  // the capsule's axis along the chain
        Link.LinearDamping = Link.AngularDamping = 0.5f;
        Link.Group = 3;
        Link.NoCollisionMask = (1 << 0) | (1 << 1) | (1 << 4);  // hair touches hair
        const int Body = AddBody(M, Link);
        TJointSpec J;
        J.A = Above;
        J.B = Body;
        J.Position = At;
        J.TurnLower = TVector3f{{-Limits[C], -Limits[C], -Limits[C]}};
        J.TurnUpper = TVector3f{{Limits[C], Limits[C], Limits[C]}};
        AddJoint(M, J);
        Above = Body;
      }
    }
  }

  // Ring point of a skirt row (row SkirtRows: the hem) and the panel's turn there.
  static TVector3f RingPoint(int ARow, float AAngle) {
    const float R = 0.13f + 0.035f * ARow;
    return TVector3f{{R * std::sin(AAngle), 1.0f - 0.09f * ARow, R * std::cos(AAngle)}};
  }
  static TVector3f PanelTurn(float AAngle) {
    // Local Y up along the flaring panel, local X along the ring.
    return TVector3f{{-std::atan2(0.035f, 0.09f), AAngle, 0}};
  }

  void AddSkirt() {
    TPmxBuilder& M = Model;
    TBodySpec Hip;
    Hip.Bone = Hips;
    Hip.Mode = 0;
    Hip.Shape = stSphere;
    Hip.Size = TVector3f{{0.12f, 0, 0}};
    Hip.Position = TVector3f{{0, 1.0f, 0}};
    Hip.Group = 1;
    Hip.NoCollisionMask = 1 << 4;
    const int HipBody = AddBody(M, Hip);
    TBodySpec Knot;  // a tie's knot, resting against the front of the skirt's top
    Knot.Bone = Hips;
    Knot.Mode = 0;
    Knot.Size = TVector3f{{0.04f, 0.04f, 0.03f}};
    Knot.Position = TVector3f{{0, 0.97f, 0.13f}};
    Knot.Group = 7;
    AddBody(M, Knot);

    int Body[SkirtRows][SkirtColumns];
    TVector3f Centre[SkirtRows][SkirtColumns];
    for (int C = 0; C < SkirtColumns; ++C) {
      const float Angle = 2.0f * Pi * C / SkirtColumns;
      int Parent = Hips;
      for (int Row = 0; Row <= SkirtRows; ++Row) {
        const TVector3f At = RingPoint(Row, Angle);
        Parent = M.AddBone("skirt" + std::to_string(Row) + "_" + std::to_string(C), At, Parent);
        M.AddVertex(At, TVector3f{{0, 1, 0}}, {0, 0}, Parent);
        if (Row == SkirtRows) {
          SkirtHems.push_back(Parent);
          break;
        }
        const TVector3f Below = RingPoint(Row + 1, Angle);
        const bool Back = std::cos(Angle) < -0.8f;
        TBodySpec Panel;
        Panel.Bone = Parent;
        Panel.Mode = Row == 0 ? (Back ? 0 : 2) : (Row == 1 && C % 4 == 1 ? 2 : 1);
        // 10% wider than the gap to the next column and as tall as a row: neighbours overlap.
        const float Radius = 0.13f + 0.035f * (Row + 0.5f);
        Panel.Size = TVector3f{{1.1f * Pi * Radius / SkirtColumns, 0.05f, 0.015f}};
        Panel.Position = Centre[Row][C] =
            TVector3f{{(At.X + Below.X) / 2, (At.Y + Below.Y) / 2, (At.Z + Below.Z) / 2}};
        Panel.Rotation = PanelTurn(Angle);
        Panel.LinearDamping = Panel.AngularDamping = 0.9f;
        Panel.Group = 4;
        Panel.NoCollisionMask = (1 << 1) | (1 << 3);  // skirt touches skirt
        Body[Row][C] = AddBody(M, Panel);
        TJointSpec J;
        J.A = Row == 0 ? HipBody : Body[Row - 1][C];
        J.B = Body[Row][C];
        J.Position = At;
        J.Rotation = TVector3f{{0, Angle, 0}};
        J.TurnLower = TVector3f{{-1.57f, -0.03f, -0.26f - 0.13f * Row}};
        J.TurnUpper = TVector3f{{0.4f * Row, 0.03f, 0.26f + 0.13f * Row}};
        J.MoveSpring = TVector3f{{5, 5, 5}};
        J.TurnSpring = TVector3f{{1, 10, 10}};
        AddJoint(M, J);
      }
    }
    // Crossing joints round each row, between the centres of neighbouring boxes.
    for (int Row = 0; Row < SkirtRows; ++Row)
      for (int C = 0; C < SkirtColumns; ++C) {
        const int Next = (C + 1) % SkirtColumns;
        const TVector3f &A = Centre[Row][C], &B = Centre[Row][Next];
        TJointSpec J;
        J.A = Body[Row][C];
        J.B = Body[Row][Next];
        J.Position = TVector3f{{(A.X + B.X) / 2, (A.Y + B.Y) / 2, (A.Z + B.Z) / 2}};
        J.Rotation = TVector3f{{0, 2.0f * Pi * (C + 0.5f) / SkirtColumns, 0}};
        J.MoveLower = TVector3f{{-0.01f, -0.01f, -0.01f}};
        J.MoveUpper = TVector3f{{0.01f, 0.01f, 0}};
        J.TurnLower = TVector3f{{-0.52f, -0.52f, -1.05f}};
        J.TurnUpper = TVector3f{{0.52f, 0.52f, 1.05f}};
        J.MoveSpring = TVector3f{{10, 10, 10}};
        J.TurnSpring = TVector3f{{5, 5, 1}};
        AddJoint(M, J);
      }
  }
};

// The largest distance any bone moved from one frame to the next over AFrames frames at 30 a
// second, the bones put back at rest before each frame and then moved by AMove (frame, matrices).
float LargestBoneStep(TWorldRig& R, int AFrames,
                      const std::function<void(int, std::vector<TMatrix4f>&)>& AMove = {}) {
  float Largest = 0.0f;
  std::vector<TMatrix4f> Last = R.Globals;
  for (int F = 0; F < AFrames; ++F) {
    R.RestGlobals();
    if (AMove) AMove(F, R.Globals);
    R.Physics->Update(R.Globals, 1.0 / 30.0);
    for (size_t B = 0; B < Last.size(); ++B)
      Largest = std::max(Largest, Length3f(Sub3f(XYZ3f(R.Globals[B].W), XYZ3f(Last[B].W))));
    Last = R.Globals;
  }
  return Largest;
}

// The whole figure carried AX sideways (the pose before physics moves every bone).
void Shifted(std::vector<TMatrix4f>& AGlobals, float AX) {
  for (TMatrix4f& M : AGlobals) M.W.X += AX;
}

}  // namespace

namespace {

// Standing still, a real rig's bones come to rest and stay there: at 30 frames a second none
// moves a millimetre (0.001) from one frame to the next, from five seconds after a reset in the
// rest pose on, and after a sway of the figure once its swing has died away (the hair's light
// damping keeps it swinging for several seconds, as it should).
TEST(Physics, ARealRigStandingStillComesToRest) {
  struct TCase {
    const char* Name;
    float Sway;
  } Cases[] = {{"reset in the rest pose", 0.0f}, {"after a sway", 0.15f}};
  const TRealRig Rig;
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TWorldRig R(Rig.Model);
    ASSERT_TRUE(R.Notes.empty());
    // Every joint but the five between the three bone-following panels at the back and the hip.
    ASSERT_EQ(R.Physics->ActiveJointCount(), 3 * 6 + 2 * 3 * 12 - 5);
    // One second: the figure goes sideways and back.
    LargestBoneStep(R, 30, [&](int F, std::vector<TMatrix4f>& G) {
      Shifted(G, C.Sway * std::sin(3.14159265f * F / 30.0f));
    });
    LargestBoneStep(R, 120);
    const float From5To10 = LargestBoneStep(R, 150);
    LargestBoneStep(R, 300);
    const float At20 = LargestBoneStep(R, 30);
    LargestBoneStep(R, 570);
    const float At40 = LargestBoneStep(R, 30);
    std::printf("%s: largest bone step a frame 5-10 s %.6f, at 20 s %.6f, at 40 s %.6f\n", C.Name,
                From5To10, At20, At40);
    if (C.Sway == 0.0f) {
      EXPECT_LE(From5To10, 0.001f);
    } else {
      EXPECT_GT(From5To10, 0.003f);  // still swinging: the settle's damping is gone
    }
    EXPECT_LE(At20, 0.001f);
    EXPECT_LE(At40, 0.001f);
  }
}

// Come to rest, the same rig still swings: the figure steps sideways and stays there, the hair
// tips and the hem trail behind and swing, then hang at rest again where they hung before (give
// or take what the hair's joint limits let it keep of its swing).
TEST(Physics, ARealRigAtRestStillSwingsWhenMoved) {
  const TRealRig Rig;
  TWorldRig R(Rig.Model);
  LargestBoneStep(R, 300);
  std::vector<TVector3f> Rest;
  for (const TMatrix4f& M : R.Globals) Rest.push_back(XYZ3f(M.W));
  const float Step = 0.1f;
  // A third of a second to get there, smoothly.
  int Frame = 0;
  float Now = 0.0f;
  auto Moved = [&](int, std::vector<TMatrix4f>& G) {
    const float T = std::min(1.0f, ++Frame / 10.0f);
    Now = Step * T * T * (3 - 2 * T);
    Shifted(G, Now);
  };
  // The largest lag of the hair tips and of the hem behind where the step carries them, over the
  // first second.
  float HairLag = 0.0f, HemLag = 0.0f;
  for (int F = 0; F < 30; ++F) {
    LargestBoneStep(R, 1, Moved);
    for (int B : Rig.HairTips) HairLag = std::max(HairLag, Rest[B].X + Now - R.Globals[B].W.X);
    for (int B : Rig.SkirtHems) HemLag = std::max(HemLag, Rest[B].X + Now - R.Globals[B].W.X);
  }
  LargestBoneStep(R, 540, Moved);
  const float At20 = LargestBoneStep(R, 30, Moved);
  std::printf("lag: hair tips %.4f, hem %.4f; largest bone step a frame 20 s later %.6f\n", HairLag,
              HemLag, At20);
  EXPECT_GT(HairLag, 0.03f);
  EXPECT_GT(HemLag, 0.003f);
  EXPECT_LE(At20, 0.001f);
  // Hanging as before, carried by the step.
  for (const std::vector<int>& Tips : {Rig.HairTips, Rig.SkirtHems})
    for (int B : Tips) {
      EXPECT_NEAR(R.Globals[B].W.X, Rest[B].X + Step, 0.03f) << R.Pmx.GetBone(B)->NameJp;
      EXPECT_NEAR(R.Globals[B].W.Y, Rest[B].Y, 0.03f) << R.Pmx.GetBone(B)->NameJp;
    }
}

}  // namespace
