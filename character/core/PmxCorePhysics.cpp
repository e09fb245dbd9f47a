// The controller core's side of the rigid-body physics: the world built from the model, the clock
// that the sampled motion frames drive, and the step between the pose and the skinning.
#include <cmath>

#include "character/core/PmxControllerCore.h"

namespace {
// A motion frame further ahead than this since the last one is a jump (a seek), not time passing.
constexpr double PhysicsJumpFrames = 5.0;
constexpr double FramesPerSecond = 30.0;
}  // namespace

void TPmxControllerCore::BuildPhysics() {
  if (FPmx.RigidBodyCount() > 0) FPhysics = std::make_unique<TPmxPhysics>(FPmx, FParent, FPreorder);
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

void TPmxControllerCore::ApplyPhysics() {
  if (!FPhysics || !FPhysicsEnabled) return;
  if (FPhysicsResetDue) {
    FPhysics->Reset(FBoneGlobalMatrix);
    FPhysicsResetDue = false;
    FPhysicsSeconds = 0.0;
  }
  const std::span<const int> Changed = FPhysics->Update(FBoneGlobalMatrix, FPhysicsSeconds);
  FPhysicsSeconds = 0.0;
  for (const int K : Changed)
    FSkinMatrix[K] = MulMatrix4f(FBoneInvertMatrix[K], FBoneGlobalMatrix[K]);
}
