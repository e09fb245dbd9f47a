// Camera matrices of VectorMath (called once per view, so kept out of line).
#include "math/VectorMath.h"

TMatrix4f LookAtMatrix4f(const TVec3f& AEye, const TVec3f& ATarget, const TVec3f& AUp) {
  const TVec3f F = (ATarget - AEye).Normalize();
  const TVec3f S = F.Cross(AUp).Normalize();
  const TVec3f U = S.Cross(F);
  TMatrix4f M;
  M.X = NewVector4f(S.X, U.X, -F.X, 0.0f);
  M.Y = NewVector4f(S.Y, U.Y, -F.Y, 0.0f);
  M.Z = NewVector4f(S.Z, U.Z, -F.Z, 0.0f);
  M.W = NewVector4f(-S.Dot(AEye), -U.Dot(AEye), F.Dot(AEye), 1.0f);
  return M;
}

TMatrix4f PerspectiveMatrix4f(float AFovY, float AAspect, float AZNear, float AZFar) {
  const float T = std::tan(AFovY / 2.0f);
  TMatrix4f M{};
  M.X.X = 1.0f / (AAspect * T);
  M.Y.Y = 1.0f / T;
  M.Z.Z = -(AZFar + AZNear) / (AZFar - AZNear);
  M.Z.W = -1.0f;
  M.W.Z = -2.0f * AZFar * AZNear / (AZFar - AZNear);
  return M;
}
