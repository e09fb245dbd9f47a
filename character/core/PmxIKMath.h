// The IK routines both paths of the controller core call: the iteration cap of a chain, the angle
// limits of a link, and the turn of one link toward the goal. Internal to character/core (and its
// tests).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "formats/pmxlib.h"
#include "math/VectorTypes.h"

// Iterations one IK chain may run in one pose: its loop count, cut only where a file's count (up
// to 2^31 - 1) would let the link visits of all chains pass 2^16 per pose and stall every frame.
// Models use tens of iterations; no chain is cut below 256.
inline int IKIterationLimit(int ALoopCount, size_t AChainCount, size_t ALinkCount) {
  constexpr int64_t LinkVisitBudget = int64_t(1) << 16;
  constexpr int64_t Floor = 256;
  const int64_t Visits = static_cast<int64_t>(std::max<size_t>(1, AChainCount)) *
                         static_cast<int64_t>(std::max<size_t>(1, ALinkCount));
  const int64_t Limit = std::max(Floor, LinkVisitBudget / Visits);
  return static_cast<int>(std::min<int64_t>(ALoopCount, Limit));
}

// Keeps the Euler angles A (radians, X, Y, Z) inside the link's limits: an angle beyond a bound
// is mirrored back into the range when AReflect is set and the mirror image fits, else clamped.
void LimitAngles(TVector3f& A, const TPmxIKLink& ALink, bool AReflect);
// The new rotation of a limited link turned to AC: AC decomposed into Euler angles of the link's
// order (middle angle clamped to +-88 degrees), limited, recomposed. False when the link's order
// is none of the three (the rotation is then left alone).
bool LimitedLinkRotation(const TQuaternion& AC, const TPmxIKLink& ALink, bool AReflect,
                         TQuaternion& AResult);
// The turn of one IK link whose model-space matrix is ALinkGlobal so that the effector at AEffector
// points toward AGoal: false when the link is not turned (the angle is at most 1e-5 radians or the
// turn has no axis), else the turn, its angle capped at ALimitAngle.
bool IKLinkTurn(const TMatrix4f& ALinkGlobal, const TVector3f& AEffector, const TVector3f& AGoal,
                float ALimitAngle, TQuaternion& ATurn);
