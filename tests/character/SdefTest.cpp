// SDEF skinning: a vertex turns about its centre C by the blend of its two bones' rotations instead
// of averaging the two bones' places, so a bent joint keeps its thickness. Checked against
// BDEF1/BDEF2 twins, a hand-worked turn about Z, a ring around a 90-degree elbow, and the two
// core paths against each other.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "tests/character/CoreFixture.h"
#include "tools/testbed/GeneratedCharacter.h"

namespace {

constexpr float Pi = std::numbers::pi_v<float>;

// Two root bones: the forearm at the elbow (1, 0, 0) and the upper arm at the origin. Vertices
// name the forearm first (weight w0) and the upper arm second (w1 = 1 - w0).
constexpr int Forearm = 0, UpperArm = 1;
TPmxBuilder ElbowRig() {
  TPmxBuilder B;
  B.AddBone("ひじ", NewVector3f(1, 0, 0));
  B.AddBone("腕", NewVector3f(0, 0, 0));
  return B;
}

// Turn about Z by AAngle: (x cos - y sin, x sin + y cos, z).
TVec3f TurnZ(TVec3f AV, float AAngle) {
  const float C = std::cos(AAngle), S = std::sin(AAngle);
  return TVec3f(AV.X * C - AV.Y * S, AV.X * S + AV.Y * C, AV.Z);
}

float Distance(TVec3f A, TVec3f B) {
  return std::sqrt((A.X - B.X) * (A.X - B.X) + (A.Y - B.Y) * (A.Y - B.Y) +
                   (A.Z - B.Z) * (A.Z - B.Z));
}

TVector3f V3(float X, float Y, float Z) {
  return NewVector3f(X, Y, Z);
}

}  // namespace

// With w0 = 1 an SDEF vertex is its first bone's alone, and with equal rotations (translations
// differing) it is the plain weighted blend: each beside a BDEF1 or BDEF2 twin, whatever C, R0, R1.
TEST(Sdef, ReducesToBdef1AndToBdef2) {
  struct TCase {
    const char* Name;
    float W0;
    TQuaternion Q0, Q1;
    TVector3f T0, T1;
  };
  const TQuaternion Tilt = TurnAbout(1, 2, 3, 0.7f);
  const TCase Cases[] = {
      {"w0 = 1, bones apart", 1.0f, TurnAbout(0, 0, 1, 1.2f), TurnAbout(1, 0, 0, -0.4f),
       V3(0.1f, 0.2f, 0), V3(0, 0, 0.3f)},
      {"w0 = 1, half-turn apart", 1.0f, TurnAbout(0, 1, 0, 3.0f), TurnAbout(0, 1, 0, -3.0f),
       V3(0, 0, 0), V3(0, 0, 0)},
      {"equal rotations, w0 = 0.3", 0.3f, Tilt, Tilt, V3(0.1f, -0.2f, 0.05f), V3(-0.3f, 0, 0.2f)},
      {"equal rotations, w0 = 0.8", 0.8f, Tilt, Tilt, V3(0, 0, 0), V3(0.5f, 0.5f, -0.5f)},
  };
  const TVector3f P = V3(0.9f, 0.15f, -0.1f), N = Normalized3f(V3(0.2f, 1, 0.4f));
  const TVector3f C = V3(1.0f, 0.05f, 0.0f), R0 = V3(1.3f, 0.1f, 0.02f), R1 = V3(0.6f, -0.1f, 0);
  for (bool Reference : {false, true}) {
    for (const TCase& K : Cases) {
      TPmxBuilder B = ElbowRig();
      const int Sdef = B.AddVertexSDEF(P, Forearm, UpperArm, K.W0, C, R0, R1, N);
      const int Twin = K.W0 == 1.0f ? B.AddVertex(P, N, PmxFloat2{0, 0}, Forearm)
                                    : B.AddVertexBDEF2(P, Forearm, UpperArm, K.W0, N);
      TCoreRig Rig(B, nullptr, Reference);
      Rig.Core->BoneRotations()[Forearm] = K.Q0;
      Rig.Core->BoneRotations()[UpperArm] = K.Q1;
      Rig.Core->BoneTranslations()[Forearm] = K.T0;
      Rig.Core->BoneTranslations()[UpperArm] = K.T1;
      Rig.Core->UpdateBoneMatrix();
      const char* Path = Reference ? " (reference)" : " (fast)";
      EXPECT_TRUE(Near3(Rig.Position(Sdef), Rig.Position(Twin), 1e-6f)) << K.Name << Path;
      EXPECT_TRUE(Near3(Rig.Normal(Sdef), Rig.Normal(Twin), 1e-6f)) << K.Name << Path;
    }
  }
}

// Turns about Z worked by hand: the rotation is the bones' angles blended along the short way
// (shortest path across the half-turn), the point turns about C, cr0 and cr1 ride on their bones.
TEST(Sdef, TurnsAboutTheCentreByTheBlendedRotation) {
  struct TCase {
    const char* Name;
    float A0, A1;  // the bones' angles about Z
    float W0;
    TVector3f C, R0, R1;
    float Blended;  // the expected turn about Z
  };
  const TCase Cases[] = {
      {"bent 90, halfway, R at C", Pi / 2, 0, 0.5f, V3(1, 0, 0), V3(1, 0, 0), V3(1, 0, 0), Pi / 4},
      {"bent 90, quarter, R at C", Pi / 2, 0, 0.25f, V3(1, 0, 0), V3(1, 0, 0), V3(1, 0, 0), Pi / 8},
      {"bent 90, R along the bones", Pi / 2, 0, 0.5f, V3(1, 0, 0), V3(1.2f, 0, 0), V3(0.8f, 0, 0),
       Pi / 4},
      {"C off the bones", Pi / 2, -Pi / 6, 0.75f, V3(0.9f, 0.1f, 0.05f), V3(1.3f, 0.2f, 0),
       V3(0.5f, 0, 0.1f), Pi / 2 * 0.75f - Pi / 6 * 0.25f},
      // +170 and -170 degrees: the short way passes through 180, not through 0.
      {"across the half-turn", Pi * 17 / 18, -Pi * 17 / 18, 0.5f, V3(1, 0, 0), V3(1, 0, 0),
       V3(1, 0, 0), Pi},
      // +120 and -80 degrees, read back from the matrices as quaternions with a negative dot
      // product: the blend still takes the short way (160 degrees through the half-turn).
      {"short way between opposite quaternions", Pi * 2 / 3, -Pi * 4 / 9, 0.5f, V3(1, 0, 0),
       V3(1, 0, 0), V3(1, 0, 0), Pi * 10 / 9},
  };
  const TVec3f P(0.95f, 0.2f, 0.1f), N(0.0f, 0.6f, 0.8f);
  for (bool Reference : {false, true})
    for (const TCase& K : Cases) {
      TPmxBuilder B = ElbowRig();
      B.AddVertexSDEF(ToVector3f(P), Forearm, UpperArm, K.W0, K.C, K.R0, K.R1, ToVector3f(N));
      TCoreRig Rig(B, nullptr, Reference);
      Rig.Core->BoneRotations()[Forearm] = TurnAbout(0, 0, 1, K.A0);
      Rig.Core->BoneRotations()[UpperArm] = TurnAbout(0, 0, 1, K.A1);
      Rig.Core->UpdateBoneMatrix();
      // Each bone turns about its own place: the forearm about (1, 0, 0), the upper arm about 0.
      const TVec3f Elbow(1, 0, 0);
      auto M0 = [&](TVec3f X) { return TurnZ(X - Elbow, K.A0) + Elbow; };
      auto M1 = [&](TVec3f X) { return TurnZ(X, K.A1); };
      const TVec3f C(K.C), R0(K.R0), R1(K.R1);
      const float W0 = K.W0, W1 = 1 - K.W0;
      const TVec3f Rw = R0 * W0 + R1 * W1;
      const TVec3f Cr0 = (C + (C + R0 - Rw)) * 0.5f, Cr1 = (C + (C + R1 - Rw)) * 0.5f;
      const TVec3f Expected = TurnZ(P - C, K.Blended) + M0(Cr0) * W0 + M1(Cr1) * W1;
      const char* Path = Reference ? " (reference)" : " (fast)";
      EXPECT_TRUE(Near3(Rig.Position(0), Expected)) << K.Name << Path;
      EXPECT_TRUE(Near3(Rig.Normal(0), TurnZ(N, K.Blended))) << K.Name << Path;
    }
}

// A ring of radius 0.2 around the elbow, bent 90 degrees: as SDEF every vertex stays 0.2 from C
// (R0 = R1 = C), at every weight across the joint; as BDEF2 the ring's side toward the bend
// collapses toward C.
TEST(Sdef, NinetyDegreeElbowKeepsItsVolumeWhereBdef2Collapses) {
  const float Radius = 0.2f;
  const TVector3f C = V3(1, 0, 0);
  for (bool Reference : {false, true}) {
    TPmxBuilder B = ElbowRig();
    const float Weights[] = {0.1f, 0.3f, 0.5f, 0.7f, 0.9f};
    for (float W0 : Weights)
      for (int K = 0; K < 16; ++K) {
        const float A = 2 * Pi * static_cast<float>(K) / 16;
        const TVector3f P = V3(1, Radius * std::cos(A), Radius * std::sin(A));
        const TVector3f N = V3(0, std::cos(A), std::sin(A));
        B.AddVertexSDEF(P, Forearm, UpperArm, W0, C, C, C, N);
        B.AddVertexBDEF2(P, Forearm, UpperArm, W0, N);
      }
    TCoreRig Rig(B, nullptr, Reference);
    Rig.Core->BoneRotations()[Forearm] = TurnAbout(0, 0, 1, Pi / 2);
    Rig.Core->UpdateBoneMatrix();
    float SdefMin = 1, SdefMax = 0, Bdef2Min = 1;
    for (int V = 0; V < Rig.Pmx.VertexCount(); V += 2) {
      const float D = Distance(Rig.Position(V), TVec3f(C));
      SdefMin = std::min(SdefMin, D);
      SdefMax = std::max(SdefMax, D);
      Bdef2Min = std::min(Bdef2Min, Distance(Rig.Position(V + 1), TVec3f(C)));
      // The normal points away from C, as the vertex does.
      const TVec3f Out = (Rig.Position(V) - TVec3f(C)) * (1 / Radius);
      EXPECT_TRUE(Near3(Rig.Normal(V), Out, 1e-4f)) << "vertex " << V;
    }
    EXPECT_NEAR(SdefMin, Radius, 1e-5f);
    EXPECT_NEAR(SdefMax, Radius, 1e-5f);
    EXPECT_LT(Bdef2Min, 0.8f * Radius);  // the halfway ring shrinks to 1/sqrt(2)
  }
}

// The fast path against the reference on SDEF vertices of every sort: random poses, weights
// outside [0, 1], a slot without a bone, both bones the same; every float to the bit.
TEST(Sdef, FastPathMatchesReferenceToTheBit) {
  TPmxBuilder B = ElbowRig();
  const int Hand = B.AddBone("手首", NewVector3f(1.5f, 0, 0), Forearm);
  TGeneratorRandom Rnd(7);
  for (int V = 0; V < 300; ++V) {
    const int Bones[3] = {Forearm, UpperArm, Hand};
    const int B0 = Bones[V % 3], B1 = V % 17 == 0 ? -1 : Bones[(V / 3) % 3];
    const float W0 = V % 23 == 0 ? 1.4f : Rnd.Unit();
    const TVector3f P = V3(Rnd.Unit() * 2, Rnd.Unit() - 0.5f, Rnd.Unit() - 0.5f);
    const TVector3f C = V3(1, 0, 0), R0 = V3(1 + Rnd.Unit() * 0.3f, 0, 0),
                    R1 = V3(1 - Rnd.Unit() * 0.3f, 0, 0);
    B.AddVertexSDEF(P, B0, B1, W0, C, R0, R1, Normalized3f(P));
  }
  TCoreRig Fast(B), Reference(B, nullptr, true);
  for (int Step = 0; Step < 12; ++Step) {
    for (int Bone = 0; Bone < 3; ++Bone) {
      const TQuaternion Q = TurnAbout(Rnd.Unit() - 0.5f, Rnd.Unit() - 0.5f, Rnd.Unit() - 0.5f,
                                      (Rnd.Unit() - 0.5f) * 2 * Pi);
      const TVector3f T = V3(Rnd.Unit() * 0.1f, 0, Rnd.Unit() * 0.1f);
      for (TCoreRig* Rig : {&Fast, &Reference}) {
        Rig->Core->BoneRotations()[Bone] = Q;
        Rig->Core->BoneTranslations()[Bone] = T;
      }
    }
    Fast.Core->UpdateBoneMatrix();
    Reference.Core->UpdateBoneMatrix();
    ASSERT_EQ(0, std::memcmp(Fast.Out->Positions.data(), Reference.Out->Positions.data(),
                             Fast.Out->Positions.size() * sizeof(float)))
        << "positions, step " << Step;
    ASSERT_EQ(0, std::memcmp(Fast.Out->Normals.data(), Reference.Out->Normals.data(),
                             Fast.Out->Normals.size() * sizeof(float)))
        << "normals, step " << Step;
  }
}

// A left arm as a real file stores it: file units (a 1.6 m figure is 16 units tall), Z as the
// file has it, SDEF points beside the positions in the same units. Rings of radius 0.45 units
// (4.5 cm) round the elbow, each vertex once as SDEF and once as its BDEF2 twin; the upper arm
// lowered 30 degrees and the elbow bent 90. Worked without the skinning code:
// - with R0 = R1 = C (the elbow), both bones carry C to the posed elbow and the vertex turns
//   about it, so every SDEF vertex lies as far from the posed elbow as it lay from the elbow;
// - with R0, R1 along the forearm and the upper arm, as modelling tools place them, an SDEF vertex
//   stays within the ring's reach of its BDEF2 twin: never farther than the forearm is long.
// Points used as stored (x10 and Z mirrored from the vertices) throw the arm metres away.
TEST(Sdef, PointsStoredInFileUnitsBendTheArmInPlace) {
  const TVector3f Shoulder = V3(1.8f, 14.2f, 0.4f), Elbow = V3(4.3f, 12.6f, 0.6f),
                  Wrist = V3(6.6f, 11.2f, 0.3f);
  const float Radius = 0.45f;  // file units
  const TVec3f Axis = (TVec3f(Wrist) - TVec3f(Elbow)).Normalize();
  // Two unit vectors across the forearm's axis span each ring.
  const TVec3f Side = Axis.Cross(TVec3f(0, 0, 1)).Normalize(), Up = Axis.Cross(Side);
  for (bool Reference : {false, true})
    for (bool PointsAtElbow : {true, false}) {
      TPmxBuilder B;
      B.Settings.FileFrame = true;  // every value below is the file's own
      const int UpperArm = B.AddBone("左腕", Shoulder);
      const int Forearm = B.AddBone("左ひじ", Elbow, UpperArm);
      B.AddBone("左手首", Wrist, Forearm);
      const TVector3f R0 = PointsAtElbow ? Elbow : ToVector3f(TVec3f(Elbow) + Axis * 1.2f);
      const TVector3f R1 =
          PointsAtElbow ? Elbow
                        : ToVector3f(TVec3f(Elbow) + (TVec3f(Shoulder) - TVec3f(Elbow)) * 0.4f);
      std::vector<float> Reach;  // each ring vertex's distance from the elbow, in file units
      for (float Along : {-0.6f, -0.3f, 0.0f, 0.3f, 0.6f}) {
        const float W0 = 0.5f + Along * 0.7f;  // the forearm's share grows toward the wrist
        for (int K = 0; K < 12; ++K) {
          const float A = 2 * Pi * static_cast<float>(K) / 12;
          const TVec3f Out = Side * std::cos(A) + Up * std::sin(A);
          const TVector3f P = ToVector3f(TVec3f(Elbow) + Axis * Along + Out * Radius);
          B.AddVertexSDEF(P, Forearm, UpperArm, W0, Elbow, R0, R1, ToVector3f(Out));
          B.AddVertexBDEF2(P, Forearm, UpperArm, W0, ToVector3f(Out));
          Reach.push_back(std::sqrt(Along * Along + Radius * Radius));
        }
      }
      TCoreRig Rig(B, nullptr, Reference);
      Rig.Core->BoneRotations()[UpperArm] = TurnAbout(0, 0, 1, -Pi / 6);
      Rig.Core->BoneRotations()[Forearm] = TurnAbout(0, 1, 0, Pi / 2);
      Rig.Core->UpdateBoneMatrix();
      const TVec3f PosedElbow(Rig.BonePosition(Forearm));
      const float ForearmLength = TVec3f(Wrist).Distance(TVec3f(Elbow)) * 0.1f;
      const char* Path = Reference ? " (reference)" : " (fast)";
      for (int V = 0; V < Rig.Pmx.VertexCount(); V += 2) {
        if (PointsAtElbow) {
          EXPECT_NEAR(Rig.Position(V).Distance(PosedElbow), Reach[V / 2] * 0.1f, 1e-5f)
              << "vertex " << V << Path;
        }
        EXPECT_LT(Rig.Position(V).Distance(Rig.Position(V + 1)), ForearmLength)
            << "vertex " << V << Path;
      }
    }
}
