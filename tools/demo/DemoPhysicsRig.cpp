// The default character's rig: bodies along her tails, skirt panels and ribbon tails that the
// physics swings, and bone-following bodies (head, chest, hips, legs) that keep them off her.
// Groups: 0 head, chest and hips; 1 tails; 2 skirt; 3 ribbon; 4 legs; 5 the anchors the chains
// hang from (colliding with nothing).
#include "tools/demo/DemoPhysicsRig.h"

#include <cmath>
#include <string>

#include "formats/PmxPhysicsWriter.h"

namespace {

constexpr uint16_t Bit(int AGroup) {
  return static_cast<uint16_t>(1u << AGroup);
}
constexpr uint16_t NoneBut(uint16_t AGroups) {
  return static_cast<uint16_t>(~AGroups & 0xFFFFu);
}

TVector3f Sub(const TVector3f& A, const TVector3f& B) {
  return TVector3f{{A.X - B.X, A.Y - B.Y, A.Z - B.Z}};
}
TVector3f Mid(const TVector3f& A, const TVector3f& B) {
  return TVector3f{{(A.X + B.X) * 0.5f, (A.Y + B.Y) * 0.5f, (A.Z + B.Z) * 0.5f}};
}
float Len(const TVector3f& A) {
  return std::sqrt(A.X * A.X + A.Y * A.Y + A.Z * A.Z);
}

// The Euler turn (Z, then X) that carries a body's +Y axis onto the direction from A to B:
// its capsules and panels lie along their bones.
TVector3f AlongRotation(const TVector3f& A, const TVector3f& B) {
  TVector3f D = Sub(B, A);
  const float L = Len(D);
  if (L <= 0) return TVector3f{{0, 0, 0}};
  D = TVector3f{{D.X / L, D.Y / L, D.Z / L}};
  return TVector3f{{std::atan2(D.Z, D.Y), 0, -std::asin(std::fmax(-1.0f, std::fmin(1.0f, D.X)))}};
}

class TRig {
 public:
  explicit TRig(TPmxBuilder& AB) : B(AB) {}
  TVector3f At(int ABone) const { return B.Bones[ABone].Position; }

  int Follower(int ABone, TPmxRigidBodyShapeType AShape, TVector3f ASize, TVector3f APos,
               TVector3f ARot, uint8_t AGroup, uint16_t ANoCollide) {
    TBodySpec S;
    S.Bone = ABone, S.Mode = 0, S.Shape = AShape, S.Size = ASize;
    S.Position = APos, S.Rotation = ARot;
    S.Group = AGroup, S.NoCollisionMask = ANoCollide;
    return AddBody(B, S);
  }
  // A capsule from A to B on ABone, simulated (mode 1).
  int Link(int ABone, const TVector3f& A, const TVector3f& AEnd, float ARadius, float AMass,
           float ADamping, uint8_t AGroup, uint16_t ANoCollide) {
    TBodySpec S;
    S.Bone = ABone, S.Mode = 1, S.Shape = stCapsule;
    const float L = Len(Sub(AEnd, A));
    S.Size = TVector3f{{ARadius, std::fmax(0.0f, L - 2 * ARadius), 0}};
    S.Position = Mid(A, AEnd);
    S.Rotation = AlongRotation(A, AEnd);
    S.Mass = AMass;
    S.LinearDamping = ADamping, S.AngularDamping = ADamping;
    S.Group = AGroup, S.NoCollisionMask = ANoCollide;
    return AddBody(B, S);
  }
  // A hinge at APos: locked moves, turns within +-ASwing about X and Z and +-ATwist about Y, a
  // spring of AStiffness pulling back toward the rest pose.
  void Hinge(int ABodyA, int ABodyB, const TVector3f& APos, float ASwing, float ATwist,
             float AStiffness, const TVector3f& ARotation = TVector3f{{0, 0, 0}}) {
    TJointSpec J;
    J.A = ABodyA, J.B = ABodyB, J.Position = APos, J.Rotation = ARotation;
    J.TurnLower = TVector3f{{-ASwing, -ATwist, -ASwing}};
    J.TurnUpper = TVector3f{{ASwing, ATwist, ASwing}};
    J.TurnSpring = TVector3f{{AStiffness, AStiffness, AStiffness}};
    AddJoint(B, J);
  }

  TPmxBuilder& B;
};

}  // namespace

void AddDemoPhysicsRig(TPmxBuilder& AB, const TDemoRigBones& A) {
  TRig R(AB);
  const TVector3f Zero{{0, 0, 0}};
  auto Offset = [](const TVector3f& P, float X, float Y, float Z) {
    return TVector3f{{P.X + X, P.Y + Y, P.Z + Z}};
  };
  // Bone-following colliders.
  const TVector3f HeadAt = R.At(A.Head);
  const int HeadBody = R.Follower(A.Head, stSphere, TVector3f{{0.118f, 0, 0}},
                                  Offset(HeadAt, 0, 0.085f, -0.01f), Zero, 0, NoneBut(Bit(1)));
  (void)HeadBody;
  const TVector3f ChestAt = R.At(A.Upper2);
  const int Chest = R.Follower(A.Upper2, stCapsule, TVector3f{{0.105f, 0.10f, 0}},
                               Offset(ChestAt, 0, 0.04f, -0.005f), Zero, 0, NoneBut(Bit(1)));
  R.Follower(A.Upper, stCapsule, TVector3f{{0.095f, 0.06f, 0}}, Offset(R.At(A.Upper), 0, 0.02f, 0),
             Zero, 0, NoneBut(Bit(1)));
  const int Hips = R.Follower(A.Lower, stSphere, TVector3f{{0.12f, 0, 0}},
                              Offset(R.At(A.Lower), 0, -0.04f, 0), Zero, 0, NoneBut(Bit(1)));
  for (int K = 0; K < 2; ++K) {
    const TVector3f Hip = R.At(A.Leg[K]), Knee = R.At(A.Knee[K]);
    const float L = Len(Sub(Knee, Hip));
    R.Follower(A.Leg[K], stCapsule, TVector3f{{0.055f, std::fmax(0.0f, L - 0.1f), 0}},
               Mid(Hip, Knee), AlongRotation(Hip, Knee), 4, NoneBut(Bit(2)));
  }

  // Twin tails: an anchor on the tail's root, then a capsule per chain bone hinged to the one
  // above. Light, well damped links that swing a little and settle within a second or two.
  for (int K = 0; K < 2; ++K) {
    const std::vector<int>& Chain = A.Tail[K];
    if (Chain.empty()) continue;
    int Above =
        R.Follower(A.Hair[K], stSphere, TVector3f{{0.02f, 0, 0}}, R.At(A.Hair[K]), Zero, 5, 0xFFFF);
    for (size_t I = 0; I < Chain.size(); ++I) {
      const TVector3f From = R.At(Chain[I]);
      const TVector3f To = I + 1 < Chain.size()
                               ? R.At(Chain[I + 1])
                               : TVector3f{{A.TailTip[K][0], A.TailTip[K][1], A.TailTip[K][2]}};
      const float Radius = 0.045f - 0.007f * static_cast<float>(I);
      const int Body = R.Link(Chain[I], From, To, Radius, 0.4f - 0.05f * static_cast<float>(I),
                              0.95f, 1, Bit(1) | Bit(2) | Bit(3) | Bit(4) | Bit(5));
      R.Hinge(Above, Body, From, I == 0 ? 0.35f : 0.45f, 0.08f, 8.0f);
      Above = Body;
    }
  }

  // Skirt: per pleat column a panel from the waist and one below it, hinged to the hips and to each
  // other, springs pulling them back into the skirt's flare; they keep off the legs.
  for (int C = 0; C < kDemoSkirtColumns; ++C) {
    const TVector3f Top = R.At(A.SkirtTop[C]), Bottom = R.At(A.SkirtBottom[C]);
    // The hem: the bottom panel continues the top one's slope.
    const TVector3f Hem = Offset(Bottom, Bottom.X - Top.X, Bottom.Y - Top.Y, Bottom.Z - Top.Z);
    const uint16_t NoCollide = NoneBut(Bit(4));
    // Only the lower panels reach the legs.
    const int Upper = R.Link(A.SkirtTop[C], Top, Bottom, 0.035f, 0.3f, 0.99f, 2, 0xFFFF);
    const int Lower = R.Link(A.SkirtBottom[C], Bottom, Hem, 0.03f, 0.2f, 0.99f, 2, NoCollide);
    // Joint frames along the panels: the twist is about the panel itself.
    R.Hinge(Hips, Upper, Top, 0.8f, 0.6f, 25.0f, AlongRotation(Top, Bottom));
    R.Hinge(Upper, Lower, Bottom, 0.8f, 0.6f, 15.0f, AlongRotation(Bottom, Hem));
  }

  // Chest ribbon: each tail a small panel hanging from the knot on a stiff spring.
  for (int K = 0; K < 2; ++K) {
    if (A.Ribbon[K] < 0) continue;
    const TVector3f From = R.At(A.Ribbon[K]);
    const TVector3f To{{A.RibbonTip[K][0], A.RibbonTip[K][1], A.RibbonTip[K][2]}};
    const int Body = R.Link(A.Ribbon[K], From, To, 0.012f, 0.05f, 0.8f, 3, 0xFFFF);
    R.Hinge(Chest, Body, From, 0.5f, 0.05f, 15.0f);
  }
}
