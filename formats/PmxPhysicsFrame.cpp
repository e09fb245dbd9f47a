// Rigid bodies and joints converted into the viewer's frame.
#include "formats/PmxPhysicsFrame.h"

#include <utility>

namespace {

PmxFloat3 Rotation(PmxFloat3 A) {
  if (MirrorZ) A.X = -A.X, A.Y = -A.Y;
  return A;
}

// Limits of one component: scaled, and negated with swapped ends where the mirror flips it.
void Limits(PmxFloat3& ALower, PmxFloat3& AUpper, float AScale, bool AFlipX, bool AFlipY,
            bool AFlipZ) {
  const bool Flip[3] = {AFlipX, AFlipY, AFlipZ};
  for (int C = 0; C < 3; ++C) {
    float L = ALower.V[C] * AScale, U = AUpper.V[C] * AScale;
    if (Flip[C]) {
      L = -L, U = -U;
      std::swap(L, U);
    }
    ALower.V[C] = L;
    AUpper.V[C] = U;
  }
}

}  // namespace

TPmxRigidBody RigidBodyInViewerFrame(const TPmxRigidBody& ABody) {
  TPmxRigidBody R = ABody;
  ConvertPosition(R.Position);
  R.Rotation = Rotation(R.Rotation);
  for (float& C : R.Size.V) C *= PositionScale;
  return R;
}

TPmxJoint JointInViewerFrame(const TPmxJoint& AJoint) {
  TPmxJoint J = AJoint;
  TPmxJointSpring6DOF& D = J.Data.Spring6DOF;
  ConvertPosition(D.Position);
  D.Rotation = Rotation(D.Rotation);
  Limits(D.TranslateLowerLimit, D.TranslateUpperLimit, PositionScale, false, false, MirrorZ);
  Limits(D.RotateLowerLimit, D.RotateUpperLimit, 1.0f, MirrorZ, MirrorZ, false);
  return J;
}
