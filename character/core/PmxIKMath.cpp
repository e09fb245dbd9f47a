// The IK routines both paths call: angle limits, limited link rotations and the turn of a link.
#include "character/core/PmxIKMath.h"

#include "math/VectorGeometry.h"
#include "math/VectorMath.h"

void LimitAngles(TVector3f& A, const TPmxIKLink& ALink, bool AReflect) {
  for (int C = 0; C < 3; ++C) {
    const float Lo = ALink.LowerLimit.V[C], Hi = ALink.UpperLimit.V[C];
    if (A.V[C] < Lo) {
      const float R = 2.0f * Lo - A.V[C];
      A.V[C] = (AReflect && R <= Hi) ? R : Lo;
    } else if (A.V[C] > Hi) {
      const float R = 2.0f * Hi - A.V[C];
      A.V[C] = (AReflect && R >= Lo) ? R : Hi;
    }
  }
}

namespace {

// +-88 degrees: the middle Euler angle never reaches the gimbal lock.
constexpr float MiddleAngleLimit = 1.535889744758606f;

// Arc sine of a matrix entry; rounding can push an entry of a rotation matrix just beyond +-1,
// which must not become NaN.
float SafeArcSin(float AX) {
  return ArcSinSingle(ClampSingle(AX, -1.0f, 1.0f));
}

TQuaternion AxisTurn(float AX, float AY, float AZ, float AAngle) {
  return QuaternionFromAxisAngle(TVec3f(AX, AY, AZ), AAngle);
}

}  // namespace

bool LimitedLinkRotation(const TQuaternion& AC, const TPmxIKLink& ALink, bool AReflect,
                         TQuaternion& AResult) {
  const TMatrix4f M = QuaternionToMatrix4f(AC);
  TVector3f A{{0.0f, 0.0f, 0.0f}};
  switch (ALink.Euler) {
    case etXYZ:
      A.Y = ClampSingle(SafeArcSin(-M.V[2]), -MiddleAngleLimit, MiddleAngleLimit);
      A.X = ArcTan2Single(M.V[6], M.V[10]);
      A.Z = ArcTan2Single(M.V[1], M.V[0]);
      LimitAngles(A, ALink, AReflect);
      AResult = MulQuaternion(MulQuaternion(AxisTurn(1, 0, 0, A.X), AxisTurn(0, 1, 0, A.Y)),
                              AxisTurn(0, 0, 1, A.Z));
      return true;
    case etYZX:
      A.Z = ClampSingle(SafeArcSin(-M.V[4]), -MiddleAngleLimit, MiddleAngleLimit);
      A.X = ArcTan2Single(M.V[6], M.V[5]);
      A.Y = ArcTan2Single(M.V[8], M.V[0]);
      LimitAngles(A, ALink, AReflect);
      AResult = MulQuaternion(MulQuaternion(AxisTurn(0, 1, 0, A.Y), AxisTurn(0, 0, 1, A.Z)),
                              AxisTurn(1, 0, 0, A.X));
      return true;
    case etZXY:
      A.X = ClampSingle(SafeArcSin(-M.V[9]), -MiddleAngleLimit, MiddleAngleLimit);
      A.Y = ArcTan2Single(M.V[8], M.V[10]);
      A.Z = ArcTan2Single(M.V[1], M.V[5]);
      LimitAngles(A, ALink, AReflect);
      AResult = MulQuaternion(MulQuaternion(AxisTurn(0, 0, 1, A.Z), AxisTurn(1, 0, 0, A.X)),
                              AxisTurn(0, 1, 0, A.Y));
      return true;
  }
  return false;
}

bool IKLinkTurn(const TMatrix4f& ALinkGlobal, const TVector3f& AEffector, const TVector3f& AGoal,
                float ALimitAngle, TQuaternion& ATurn) {
  const TMatrix4f Inv = InvertedMatrix4f(ALinkGlobal);
  const TVector3f E = Normalized3f(TransformPoint3f(AEffector, Inv));
  const TVector3f G = Normalized3f(TransformPoint3f(AGoal, Inv));
  // Rounding can put the dot product of two unit vectors just beyond +-1.
  float Angle = ArcCosSingle(ClampSingle(Dot3f(E, G), -1.0f, 1.0f));
  if (!(Angle > 1e-5f)) return false;
  if (Angle > ALimitAngle) Angle = ALimitAngle;
  TVector3f Axis = Cross3f(E, G);
  NormalizeInPlace3f(Axis);
  // Opposite directions (or a zero vector) give no axis; a turn about none would be NaN.
  if (Axis.X == 0.0f && Axis.Y == 0.0f && Axis.Z == 0.0f) return false;
  ATurn = QuaternionFromAxisAngleDeg(Axis, RadiansToDegrees(Angle));
  return true;
}
