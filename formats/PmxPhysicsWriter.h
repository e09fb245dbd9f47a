// PmxPhysicsWriter: rigid bodies and joints for generated models, given in the viewer's frame and
// written the way a file holds them (the reader keeps them unconverted), plus a pendulum chain rig.
// The demo generator and tests use it; header-only, depends on formats/PmxWriter.h.
#pragma once

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "formats/PmxWriter.h"

// File frame of a viewer-frame place: scaled up, Z mirrored; X and Y turns negated.
inline TVector3f FilePosition(const TVector3f& A) {
  return TVector3f{{A.X / PositionScale, A.Y / PositionScale, -A.Z / PositionScale}};
}
inline TVector3f FileRotation(const TVector3f& A) {
  return TVector3f{{-A.X, -A.Y, A.Z}};
}

struct TBodySpec {
  int Bone = -1;
  int Mode = 1;  // 0 follows the bone, 1 drives it, 2 drives its rotation
  TPmxRigidBodyShapeType Shape = stBox;
  TVector3f Size{{0.1f, 0.1f, 0.1f}};
  TVector3f Position{{0, 0, 0}}, Rotation{{0, 0, 0}};
  float Mass = 1.0f, LinearDamping = 0.0f, AngularDamping = 0.0f;
  uint8_t Group = 0;
  uint16_t NoCollisionMask = 0;  // bit j set: no collision with group j
};

inline int AddBody(TPmxBuilder& AModel, const TBodySpec& S) {
  TPmxRigidBody R{};
  R.NameJp = "body" + std::to_string(AModel.RigidBodies.size());
  R.RelatedBoneIndex = S.Bone;
  R.Group = S.Group;
  R.CollisionlessGroupFlag = S.NoCollisionMask;
  R.Shape = S.Shape;
  R.Size =
      TVector3f{{S.Size.X / PositionScale, S.Size.Y / PositionScale, S.Size.Z / PositionScale}};
  R.Position = FilePosition(S.Position);
  R.Rotation = FileRotation(S.Rotation);
  R.Mass = S.Mass;
  R.TranslateDecay = S.LinearDamping;
  R.RotateDecay = S.AngularDamping;
  R.Repulsion = 0.0f;
  R.Friction = 0.5f;
  R.PhysicsOperation = static_cast<uint8_t>(S.Mode);
  AModel.RigidBodies.push_back(R);
  return static_cast<int>(AModel.RigidBodies.size()) - 1;
}

struct TJointSpec {
  int A = 0, B = 1;
  TVector3f Position{{0, 0, 0}}, Rotation{{0, 0, 0}};
  // Viewer-frame limits; lower above upper leaves the axis free.
  TVector3f MoveLower{{0, 0, 0}}, MoveUpper{{0, 0, 0}};
  TVector3f TurnLower{{1, 1, 1}}, TurnUpper{{0, 0, 0}};
  TVector3f MoveSpring{{0, 0, 0}}, TurnSpring{{0, 0, 0}};
};

inline int AddJoint(TPmxBuilder& AModel, const TJointSpec& S) {
  TPmxJoint J{};
  J.NameJp = "joint" + std::to_string(AModel.Joints.size());
  J.JointKind = jkSpring6DOF;
  TPmxJointSpring6DOF& D = J.Data.Spring6DOF;
  D.RigidBodyAIndex = S.A;
  D.RigidBodyBIndex = S.B;
  D.Position = FilePosition(S.Position);
  D.Rotation = FileRotation(S.Rotation);
  // Mirrored components: negated with their ends swapped (an inverted range stays inverted).
  const float Sc = 1.0f / PositionScale;
  D.TranslateLowerLimit = TVector3f{{S.MoveLower.X * Sc, S.MoveLower.Y * Sc, -S.MoveUpper.Z * Sc}};
  D.TranslateUpperLimit = TVector3f{{S.MoveUpper.X * Sc, S.MoveUpper.Y * Sc, -S.MoveLower.Z * Sc}};
  D.RotateLowerLimit = TVector3f{{-S.TurnUpper.X, -S.TurnUpper.Y, S.TurnLower.Z}};
  D.RotateUpperLimit = TVector3f{{-S.TurnLower.X, -S.TurnLower.Y, S.TurnUpper.Z}};
  D.TranslationSpringConstant = S.MoveSpring;
  D.RotationSpringConstant = TVector3f{{S.TurnSpring.X, S.TurnSpring.Y, S.TurnSpring.Z}};
  AModel.Joints.push_back(J);
  return static_cast<int>(AModel.Joints.size()) - 1;
}

// A root bone at ATop holding a kinematic anchor body, then ALinks boxes of length ALength laid
// out along +X (horizontal at rest), each on its own bone, each hinged to the one before at its
// start with free turns and locked moves, no springs. Bone i + 1 carries box i. A vertex on every
// bone's start so that skinning has something to move.
inline TPmxBuilder PendulumModel(int ALinks = 3, float ALength = 1.0f,
                                 TVector3f ATop = TVector3f{{0, 5, 0}}, int AMode = 1,
                                 float ADamping = 0.5f, bool AHanging = false) {
  // Laid out along +X, or straight down (AHanging) with each box along Y.
  const TVector3f Step = AHanging ? TVector3f{{0, -ALength, 0}} : TVector3f{{ALength, 0, 0}};
  auto Along = [&](float AT) {
    return TVector3f{{ATop.X + Step.X * AT, ATop.Y + Step.Y * AT, ATop.Z + Step.Z * AT}};
  };
  TPmxBuilder M;
  M.AddBone("root", ATop);
  for (int I = 0; I < ALinks; ++I)
    M.AddBone("link" + std::to_string(I), Along(static_cast<float>(I)), I);
  for (int I = 0; I <= ALinks; ++I)
    M.AddVertex(M.Bones[I].Position, TVector3f{{0, 1, 0}}, {0, 0}, I);
  TBodySpec Anchor;
  Anchor.Bone = 0;
  Anchor.Mode = 0;
  Anchor.Size = TVector3f{{0.05f, 0.05f, 0.05f}};
  Anchor.Position = ATop;
  Anchor.Group = 0;
  Anchor.NoCollisionMask = 0xFFFF;
  AddBody(M, Anchor);
  for (int I = 0; I < ALinks; ++I) {
    TBodySpec Box;
    Box.Bone = I + 1;
    Box.Mode = AMode;
    Box.Size = AHanging ? TVector3f{{0.05f, ALength * 0.45f, 0.05f}}
                        : TVector3f{{ALength * 0.45f, 0.05f, 0.05f}};
    Box.Position = Along(I + 0.5f);
    Box.LinearDamping = ADamping;
    Box.AngularDamping = ADamping;
    Box.Group = 1;
    Box.NoCollisionMask = 0xFFFF;  // the links overlap at the hinges
    AddBody(M, Box);
    TJointSpec J;
    J.A = I;
    J.B = I + 1;
    J.Position = Along(static_cast<float>(I));
    AddJoint(M, J);
  }
  return M;
}
