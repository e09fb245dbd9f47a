// The less frequent VectorGeometry operations: general inverse, camera and projection matrices,
// quaternion from an axis and an angle in degrees.
#include "math/VectorGeometry.h"

#include <algorithm>
#include <numbers>

namespace {

// Determinant of the 3x3 matrix with rows (A, B, C), (D, E, F), (G, H, I).
inline float Det3(float A, float B, float C, float D, float E, float F, float G, float H, float I) {
  return A * (E * I - F * H) - B * (D * I - F * G) + C * (D * H - E * G);
}

// Minor of M without row ARow and column ACol.
float Minor(const TMatrix4f& M, int ARow, int ACol) {
  float S[9];
  int N = 0;
  for (int Row = 0; Row < 4; ++Row) {
    if (Row == ARow) continue;
    for (int Col = 0; Col < 4; ++Col)
      if (Col != ACol) S[N++] = M.V[4 * Row + Col];
  }
  return Det3(S[0], S[1], S[2], S[3], S[4], S[5], S[6], S[7], S[8]);
}

}  // namespace

TMatrix4f InvertedMatrix4f(const TMatrix4f& M) {
  // Cofactor expansion along row X.
  const float Det = M.V[0] * Minor(M, 0, 0) - M.V[1] * Minor(M, 0, 1) + M.V[2] * Minor(M, 0, 2) -
                    M.V[3] * Minor(M, 0, 3);
  // 1e-40 is a denormal: only a (nearly) exactly singular matrix is caught.
  if (std::fabs(Det) < 1e-40f) return IdentityMatrix4f;
  const float InvDet = 1.0f / Det;
  TMatrix4f R;
  for (int Row = 0; Row < 4; ++Row)
    for (int Col = 0; Col < 4; ++Col) {
      // Adjugate: the cofactor of the transposed position.
      const float Cofactor = ((Row + Col) & 1) ? -Minor(M, Col, Row) : Minor(M, Col, Row);
      R.V[4 * Row + Col] = Cofactor * InvDet;
    }
  return R;
}

TMatrix4f LookAtMatrix4f(const TVector4f& AEye, const TVector4f& ATarget, const TVector4f& AUp) {
  TVector3f F = Sub3f(ATarget, AEye);
  NormalizeInPlace3f(F);
  TVector3f S = Cross3f(F, XYZ3f(AUp));
  NormalizeInPlace3f(S);
  const TVector3f U = Cross3f(S, F);
  TMatrix4f M;
  M.X = ExtendVector3f(S, 0.0f);
  M.Y = ExtendVector3f(U, 0.0f);
  M.Z = ExtendVector3f(Negated3f(F), 0.0f);
  M.W = NewVector4f(0.0f, 0.0f, 0.0f, 1.0f);
  M = TransposedMatrix4f(M);
  M.W = RowTimesMatrix4f(NewVector4f(-AEye.X, -AEye.Y, -AEye.Z, 1.0f), M);
  return M;
}

TMatrix4f FrustumMatrix4f(float ALeft, float ARight, float ABottom, float ATop, float AZNear,
                          float AZFar) {
  TMatrix4f M{};
  M.X.X = 2.0f * AZNear / (ARight - ALeft);
  M.Y.Y = 2.0f * AZNear / (ATop - ABottom);
  M.Z.X = (ARight + ALeft) / (ARight - ALeft);
  M.Z.Y = (ATop + ABottom) / (ATop - ABottom);
  M.Z.Z = -(AZFar + AZNear) / (AZFar - AZNear);
  M.Z.W = -1.0f;
  M.W.Z = -2.0f * AZFar * AZNear / (AZFar - AZNear);
  return M;
}

TMatrix4f PerspectiveMatrix4fDeg(float AFovY, float AAspect, float AZNear, float AZFar) {
  const float FovY = std::min(std::max(AFovY, 0.0f), 179.9f);
  const float YMax = AZNear * std::tan(FovY * 0.01745329238474369f * 0.5f);
  const float XMax = YMax * AAspect;
  return FrustumMatrix4f(-XMax, XMax, -YMax, YMax, AZNear, AZFar);
}

TQuaternion QuaternionFromAxisAngleDeg(const TVector3f& AAxis, float AAngle) {
  // Extended precision for the degree conversion and the half-angle sine and cosine.
  const long double Half =
      static_cast<long double>(AAngle) * 0.5L * (std::numbers::pi_v<long double> / 180.0L);
  const long double S = std::sin(Half) / static_cast<long double>(Length3f(AAxis));
  return TQuaternion{{{static_cast<float>(AAxis.X * S), static_cast<float>(AAxis.Y * S),
                       static_cast<float>(AAxis.Z * S)}},
                     static_cast<float>(std::cos(Half))};
}
