// A rigid-body rig for the generated character (GeneratedCharacter.h): capsules that follow the
// first bones, spheres simulated on the last ones (the hair and skirt chains), each hinged to its
// parent's body (a chain's root to the first follower), and cross links between simulated bodies
// seven apart, as skirts have. For the physics benchmark and the equivalence tests.
// Header-only; depends on the PMX writer's physics records (formats/PmxPhysicsWriter.h).
#pragma once

#include <cstdint>
#include <vector>

#include "formats/PmxPhysicsWriter.h"

struct TGeneratedRig {
  int FollowerBodies = 60, SimulatedBodies = 120, JointCount = 230;
};

inline void AddGeneratedRig(TPmxBuilder& B, const TGeneratedRig& ARig = TGeneratedRig{}) {
  const int BoneCount = static_cast<int>(B.Bones.size());
  std::vector<int> BodyOfBone(static_cast<size_t>(BoneCount), -1);
  for (int I = 0; I < ARig.FollowerBodies; ++I) {
    TBodySpec S;
    S.Bone = I, S.Mode = 0, S.Shape = stCapsule;
    S.Size = TVector3f{{0.04f, 0.1f, 0}};
    S.Position = B.Bones[I].Position;
    S.Group = 0, S.NoCollisionMask = static_cast<uint16_t>(1u << 0);
    BodyOfBone[I] = AddBody(B, S);
  }
  std::vector<int> Simulated;
  for (int I = BoneCount - ARig.SimulatedBodies; I < BoneCount; ++I) {
    TBodySpec S;
    S.Bone = I, S.Mode = 1, S.Shape = stSphere;
    S.Size = TVector3f{{0.03f, 0, 0}};
    S.Position = B.Bones[I].Position;
    S.Mass = 0.5f, S.LinearDamping = S.AngularDamping = 0.5f;
    S.Group = 1, S.NoCollisionMask = static_cast<uint16_t>(1u << 1);
    BodyOfBone[I] = AddBody(B, S);
    Simulated.push_back(I);
  }
  int Joints = 0;
  for (int I : Simulated) {
    const int P = B.Bones[I].ParentIndex;
    TJointSpec J;
    J.A = P >= 0 && BodyOfBone[P] >= 0 ? BodyOfBone[P] : 0;
    J.B = BodyOfBone[I];
    J.Position = B.Bones[I].Position;
    J.TurnLower = TVector3f{{-0.5f, -0.1f, -0.5f}};
    J.TurnUpper = TVector3f{{0.5f, 0.1f, 0.5f}};
    J.TurnSpring = TVector3f{{20, 20, 20}};
    AddJoint(B, J);
    ++Joints;
  }
  for (size_t I = 0; Joints < ARig.JointCount && !Simulated.empty(); ++I, ++Joints) {
    TJointSpec J;
    J.A = BodyOfBone[Simulated[I % Simulated.size()]];
    J.B = BodyOfBone[Simulated[(I + 7) % Simulated.size()]];
    J.Position = B.Bones[Simulated[I % Simulated.size()]].Position;
    J.MoveLower = TVector3f{{-0.2f, -0.2f, -0.2f}};
    J.MoveUpper = TVector3f{{0.2f, 0.2f, 0.2f}};
    J.TurnSpring = TVector3f{{5, 5, 5}};
    AddJoint(B, J);
  }
}
