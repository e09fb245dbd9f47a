// The controller core's side of the rigid-body physics: the world built from the model, the clock
// that the sampled motion frames drive, and the step between the pose and the skinning.
#include <cmath>

#include "character/core/PmxControllerCore.h"
#include "character/core/PmxSkinStream.h"

namespace {
// A motion frame further ahead than this since the last one is a jump (a seek), not time passing.
constexpr double PhysicsJumpFrames = 5.0;
constexpr double FramesPerSecond = 30.0;
}  // namespace

void TPmxControllerCore::BuildPhysics() {
  if (FPmx.RigidBodyCount() == 0) return;
  FPhysics = std::make_unique<TPmxPhysics>(FPmx, FParent, FPreorder);
  BuildSkinParts(FPhysics->MovedBones());
}

// Splits the vertex stream by whether some slot's bone is one physics moves (a slot of weight 0
// counts too: the split only decides when a vertex is skinned, never how).
void TPmxControllerCore::BuildSkinParts(const std::vector<uint8_t>& AMovedBones) {
  FSkinBesideStep = TSkinPart{};
  FSkinAfterStep = TSkinPart{};
  std::vector<uint8_t> PairSeen(FSdefPairs.size(), 0);
  const uint32_t* Cursor = FSkinStream.data();
  size_t Sdef = 0;
  for (uint32_t V = 0; V < FSkinVertices.size(); ++V) {
    const uint32_t* Start = Cursor;
    const TSkinRecord Record = ReadSkinRecord(Cursor);
    bool Moved = false;
    for (uint32_t S = 0; S < Record.Count; ++S) {
      const int32_t Bone = Record.Bone(S);
      if (Bone >= 0 && static_cast<size_t>(Bone) < AMovedBones.size() && AMovedBones[Bone])
        Moved = true;
    }
    TSkinPart& Part = Moved ? FSkinAfterStep : FSkinBesideStep;
    if (Part.VertexOf.size() % SkinChunkVertices == 0)
      Part.Chunks.push_back({static_cast<uint32_t>(Part.VertexOf.size()),
                             static_cast<uint32_t>(Part.Stream.size()),
                             static_cast<uint32_t>(Part.SdefT.size())});
    Part.VertexOf.push_back(V);
    Part.Stream.insert(Part.Stream.end(), Start, Cursor);
    if (Record.Sdef()) {
      const uint32_t Pair = FSdefArcOf[Sdef];
      Part.SdefArcOf.push_back(Pair);
      Part.SdefT.push_back(FSdefT[Sdef]);
      if (!PairSeen[Pair]) Part.SdefPairs.push_back(Pair);
      PairSeen[Pair] = 1;
      ++Sdef;
    }
  }
}

void TPmxControllerCore::SetPhysicsEnabled(bool AValue) {
  if (AValue == FPhysicsEnabled) return;
  FPhysicsEnabled = AValue;
  if (!FPhysics) return;
  FPhysicsResetDue = true;
  PoseChanged();
}

void TPmxControllerCore::ResetPhysics() {
  FPhysicsResetDue = true;
}

void TPmxControllerCore::PhysicsClock(double AFrame) {
  const double Last = FPhysicsFrame;
  FPhysicsFrame = AFrame;
  if (!FPhysics) return;
  const double Ahead = AFrame - Last;
  // NaN (no frame yet, or a broken clock) fails both tests and resets too.
  if (Ahead >= 0.0 && Ahead <= PhysicsJumpFrames)
    FPhysicsSeconds += Ahead / FramesPerSecond;
  else
    FPhysicsResetDue = true;
}

void TPmxControllerCore::PhysicsWithoutMotion(double AFrame) {
  if (!FPhysics || !FPhysicsEnabled) return;
  PhysicsClock(AFrame);
  PoseChanged();
}

std::span<const int> TPmxControllerCore::ApplyPhysics() {
  if (!FPhysics || !FPhysicsEnabled) return {};
  if (FPhysicsResetDue) {
    FPhysics->Reset(FBoneGlobalMatrix);
    FPhysicsResetDue = false;
    FPhysicsSeconds = 0.0;
  }
  const std::span<const int> Changed = FPhysics->Update(FBoneGlobalMatrix, FPhysicsSeconds);
  FPhysicsSeconds = 0.0;
  for (const int K : Changed)
    FSkinMatrix[K] = MulMatrix4f(FBoneInvertMatrix[K], FBoneGlobalMatrix[K]);
  return Changed;
}
