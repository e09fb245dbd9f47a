// VectorGeometry: free functions over the records of VectorTypes (3- and 4-vectors, row-vector
// matrices, quaternions) used by the camera, light, render items and the character controller.
// Depends on math/VectorTypes.h and <cmath> only. Hot operations are inline; all arithmetic is
// float in the order written, so results are reproducible to the bit.
#pragma once

#include <cmath>
#include <type_traits>

#include "math/VectorTypes.h"

// ---- construction -------------------------------------------------------------------------------

inline TVector3f NewVector3f(float AX, float AY, float AZ) {
  return TVector3f{{AX, AY, AZ}};
}
inline TVector4f NewVector4f(float AX, float AY, float AZ, float AW) {
  return TVector4f{{AX, AY, AZ, AW}};
}
inline TVector4f ExtendVector3f(const TVector3f& AV, float AW) {
  return TVector4f{{AV.X, AV.Y, AV.Z, AW}};
}
// A TVector4f stands in wherever a 3-vector is read: only X, Y, Z are taken.
inline TVector3f XYZ3f(const TVector4f& AV) {
  return TVector3f{{AV.X, AV.Y, AV.Z}};
}
inline const TVector3f& XYZ3f(const TVector3f& AV) {
  return AV;
}

// The records a 3-vector operation accepts; the overload templates below take any mix of them.
template <class T>
concept CVector3Operand = std::is_same_v<T, TVector3f> || std::is_same_v<T, TVector4f>;

// Copies X, Y, Z; a 4-vector destination keeps its W. Works for any of the vector records.
template <class TSrc, class TDst>
inline void CopyXYZ(const TSrc& ASrc, TDst& ADst) {
  ADst.X = ASrc.X;
  ADst.Y = ASrc.Y;
  ADst.Z = ASrc.Z;
}

// ---- 3-vectors (overloads on TVector4f read only X, Y, Z) ---------------------------------------

inline TVector3f Add3f(const TVector3f& A, const TVector3f& B) {
  return TVector3f{{A.X + B.X, A.Y + B.Y, A.Z + B.Z}};
}
template <CVector3Operand TA, CVector3Operand TB>
inline TVector3f Add3f(const TA& A, const TB& B) {
  return Add3f(XYZ3f(A), XYZ3f(B));
}
inline TVector3f Sub3f(const TVector3f& A, const TVector3f& B) {
  return TVector3f{{A.X - B.X, A.Y - B.Y, A.Z - B.Z}};
}
template <CVector3Operand TA, CVector3Operand TB>
inline TVector3f Sub3f(const TA& A, const TB& B) {
  return Sub3f(XYZ3f(A), XYZ3f(B));
}
inline float Dot3f(const TVector3f& A, const TVector3f& B) {
  return A.X * B.X + A.Y * B.Y + A.Z * B.Z;
}
template <CVector3Operand TA, CVector3Operand TB>
inline float Dot3f(const TA& A, const TB& B) {
  return Dot3f(XYZ3f(A), XYZ3f(B));
}
inline TVector3f Cross3f(const TVector3f& A, const TVector3f& B) {
  return TVector3f{{A.Y * B.Z - A.Z * B.Y, A.Z * B.X - A.X * B.Z, A.X * B.Y - A.Y * B.X}};
}
template <CVector3Operand TA, CVector3Operand TB>
inline TVector3f Cross3f(const TA& A, const TB& B) {
  return Cross3f(XYZ3f(A), XYZ3f(B));
}
inline TVector3f Lerp3f(const TVector3f& A, const TVector3f& B, float T) {
  return TVector3f{{A.X + (B.X - A.X) * T, A.Y + (B.Y - A.Y) * T, A.Z + (B.Z - A.Z) * T}};
}
template <CVector3Operand TA, CVector3Operand TB>
inline TVector3f Lerp3f(const TA& A, const TB& B, float T) {
  return Lerp3f(XYZ3f(A), XYZ3f(B), T);
}
inline float Length3f(const TVector3f& AV) {
  return std::sqrt(AV.X * AV.X + AV.Y * AV.Y + AV.Z * AV.Z);
}
inline float Length3f(const TVector4f& AV) {
  return Length3f(XYZ3f(AV));
}

// V * (1 / |V|); only a squared length of exactly 0 is caught (the result is then zero).
inline TVector3f Normalized3f(const TVector3f& AV) {
  const float Sq = AV.X * AV.X + AV.Y * AV.Y + AV.Z * AV.Z;
  if (Sq == 0.0f) return TVector3f{{0.0f, 0.0f, 0.0f}};
  const float Inv = 1.0f / std::sqrt(Sq);
  return TVector3f{{AV.X * Inv, AV.Y * Inv, AV.Z * Inv}};
}
inline TVector3f Normalized3f(const TVector4f& AV) {
  return Normalized3f(XYZ3f(AV));
}
inline void NormalizeInPlace3f(TVector3f& AV) {
  AV = Normalized3f(AV);
}
// Normalises X, Y, Z and keeps W.
inline void NormalizeInPlace3f(TVector4f& AV) {
  CopyXYZ(Normalized3f(XYZ3f(AV)), AV);
}

inline TVector3f Negated3f(const TVector3f& AV) {
  return TVector3f{{-AV.X, -AV.Y, -AV.Z}};
}
inline TVector3f Negated3f(const TVector4f& AV) {
  return Negated3f(XYZ3f(AV));
}
inline TVector3f Scaled3f(const TVector3f& AV, float S) {
  return TVector3f{{AV.X * S, AV.Y * S, AV.Z * S}};
}
inline TVector3f Scaled3f(const TVector4f& AV, float S) {
  return Scaled3f(XYZ3f(AV), S);
}
inline float DistanceSquared3f(const TVector3f& A, const TVector3f& B) {
  const TVector3f D = Sub3f(A, B);
  return D.X * D.X + D.Y * D.Y + D.Z * D.Z;
}
template <CVector3Operand TA, CVector3Operand TB>
inline float DistanceSquared3f(const TA& A, const TB& B) {
  return DistanceSquared3f(XYZ3f(A), XYZ3f(B));
}
inline float Distance3f(const TVector3f& A, const TVector3f& B) {
  return Length3f(Sub3f(A, B));
}
template <CVector3Operand TA, CVector3Operand TB>
inline float Distance3f(const TA& A, const TB& B) {
  return Distance3f(XYZ3f(A), XYZ3f(B));
}

// ---- matrices -----------------------------------------------------------------------------------

// R[r][c] = sum over k of A[r][k] * B[k][c]: applies A first, then B. Each row of R is a sum of
// rows of B scaled by A's entries, added in k order, which the compiler can keep in vector
// registers without changing any rounding.
inline TMatrix4f MulMatrix4f(const TMatrix4f& A, const TMatrix4f& B) {
  TMatrix4f R;
  for (int Row = 0; Row < 4; ++Row) {
    const float A0 = A.V[4 * Row], A1 = A.V[4 * Row + 1], A2 = A.V[4 * Row + 2],
                A3 = A.V[4 * Row + 3];
    for (int Col = 0; Col < 4; ++Col)
      R.V[4 * Row + Col] =
          A0 * B.V[Col] + A1 * B.V[4 + Col] + A2 * B.V[8 + Col] + A3 * B.V[12 + Col];
  }
  return R;
}

inline TMatrix4f TransposedMatrix4f(const TMatrix4f& M) {
  TMatrix4f R;
  for (int Row = 0; Row < 4; ++Row)
    for (int Col = 0; Col < 4; ++Col) R.V[4 * Row + Col] = M.V[4 * Col + Row];
  return R;
}

// Identity with the translation in row W.
inline TMatrix4f TranslationMatrix4f(const TVector3f& AV) {
  TMatrix4f R = IdentityMatrix4f;
  R.W.X = AV.X;
  R.W.Y = AV.Y;
  R.W.Z = AV.Z;
  return R;
}
inline TMatrix4f TranslationMatrix4f(const TVector4f& AV) {
  return TranslationMatrix4f(XYZ3f(AV));
}

// R[c] = sum over k of V[k] * M[k][c].
inline TVector4f RowTimesMatrix4f(const TVector4f& AV, const TMatrix4f& M) {
  TVector4f R;
  for (int Col = 0; Col < 4; ++Col)
    R.V[Col] = AV.X * M.V[Col] + AV.Y * M.V[4 + Col] + AV.Z * M.V[8 + Col] + AV.W * M.V[12 + Col];
  return R;
}

// (P.x, P.y, P.z, 1) * M, keeping X, Y, Z; no division by w.
inline TVector3f TransformPoint3f(const TVector3f& P, const TMatrix4f& M) {
  TVector3f R;
  for (int Col = 0; Col < 3; ++Col)
    R.V[Col] = P.X * M.V[Col] + P.Y * M.V[4 + Col] + P.Z * M.V[8 + Col] + M.V[12 + Col];
  return R;
}
inline TVector3f TransformPoint3f(const TVector4f& P, const TMatrix4f& M) {
  return TransformPoint3f(XYZ3f(P), M);
}

// General inverse by the adjugate; a determinant below 1e-40 in magnitude gives the identity.
TMatrix4f InvertedMatrix4f(const TMatrix4f& M);

// View matrix: the camera at Eye looks at Target (along -Z of view space), Up roughly +Y.
// Only X, Y, Z of the inputs are read.
TMatrix4f LookAtMatrix4f(const TVector4f& AEye, const TVector4f& ATarget, const TVector4f& AUp);

// OpenGL-style projection of the view frustum; clip w = -z of the view-space point.
TMatrix4f FrustumMatrix4f(float ALeft, float ARight, float ABottom, float ATop, float AZNear,
                          float AZFar);
// Symmetric frustum from a vertical field of view in degrees, clamped to [0, 179.9].
TMatrix4f PerspectiveMatrix4fDeg(float AFovY, float AAspect, float AZNear, float AZFar);

// ---- quaternions --------------------------------------------------------------------------------

// Hamilton product A (x) B: rotating by it applies B first, then A.
inline TQuaternion MulQuaternion(const TQuaternion& A, const TQuaternion& B) {
  const float Ax = A.ImagPart.X, Ay = A.ImagPart.Y, Az = A.ImagPart.Z, Aw = A.RealPart;
  const float Bx = B.ImagPart.X, By = B.ImagPart.Y, Bz = B.ImagPart.Z, Bw = B.RealPart;
  return TQuaternion{{{Aw * Bx + Ax * Bw + Ay * Bz - Az * By, Aw * By + Ay * Bw + Az * Bx - Ax * Bz,
                       Aw * Bz + Az * Bw + Ax * By - Ay * Bx}},
                     Aw * Bw - Ax * Bx - Ay * By - Az * Bz};
}

// Rotation matrix of Q taken as a unit quaternion (no normalisation): P * M rotates P by Q.
inline TMatrix4f UnitQuaternionToMatrix4f(const TQuaternion& Q) {
  const float x = Q.ImagPart.X, y = Q.ImagPart.Y, z = Q.ImagPart.Z, w = Q.RealPart;
  TMatrix4f R;
  R.X = TVector4f{
      {1.0f - 2.0f * (y * y + z * z), 2.0f * (x * y + w * z), 2.0f * (x * z - w * y), 0.0f}};
  R.Y = TVector4f{
      {2.0f * (x * y - w * z), 1.0f - 2.0f * (x * x + z * z), 2.0f * (y * z + w * x), 0.0f}};
  R.Z = TVector4f{
      {2.0f * (x * z + w * y), 2.0f * (y * z - w * x), 1.0f - 2.0f * (x * x + y * y), 0.0f}};
  R.W = TVector4f{{0.0f, 0.0f, 0.0f, 1.0f}};
  return R;
}

// Scales Q to unit length; a magnitude of 1e-30 or less (or NaN) makes it the identity.
inline void NormalizeQuaternionInPlace(TQuaternion& Q) {
  const float x = Q.ImagPart.X, y = Q.ImagPart.Y, z = Q.ImagPart.Z, w = Q.RealPart;
  const float M = std::sqrt(x * x + y * y + z * z + w * w);
  if (M > 1e-30f) {
    const float Inv = 1.0f / M;
    Q = TQuaternion{{{x * Inv, y * Inv, z * Inv}}, w * Inv};
  } else {
    Q = IdentityQuaternion;
  }
}

inline TMatrix4f QuaternionToMatrix4f(const TQuaternion& Q) {
  TQuaternion N = Q;
  NormalizeQuaternionInPlace(N);
  return UnitQuaternionToMatrix4f(N);
}

// Axis need not be unit length (it is divided by its length); Angle in degrees.
TQuaternion QuaternionFromAxisAngleDeg(const TVector3f& AAxis, float AAngle);

// ---- scalars ------------------------------------------------------------------------------------

inline float ClampSingle(float AValue, float AMin, float AMax) {
  return AValue < AMin ? AMin : (AValue > AMax ? AMax : AValue);
}
inline float RadiansToDegrees(float AR) {
  return AR * 57.295780181884766f;
}
// Arc cosine and arc sine through atan2: a value outside [-1, 1] gives NaN.
inline float ArcCosSingle(float AX) {
  return std::atan2(std::sqrt(1.0f - AX * AX), AX);
}
inline float ArcSinSingle(float AX) {
  return std::atan2(AX, std::sqrt(1.0f - AX * AX));
}
inline float ArcTan2Single(float AY, float AX) {
  return std::atan2(AY, AX);
}
// Rounds toward zero and stays a float (2.7 -> 2, -2.7 -> -2).
inline float TruncToFloat(float AX) {
  return std::trunc(AX);
}

// Spherical interpolation along the short arc; the result is normalised.
inline TQuaternion SlerpQuaternion(const TQuaternion& A, const TQuaternion& B, float T) {
  float Bx = B.ImagPart.X, By = B.ImagPart.Y, Bz = B.ImagPart.Z, Bw = B.RealPart;
  float CosOm = A.ImagPart.X * Bx + A.ImagPart.Y * By + A.ImagPart.Z * Bz + A.RealPart * Bw;
  if (CosOm < 0.0f) {
    CosOm = -CosOm;
    Bx = -Bx;
    By = -By;
    Bz = -Bz;
    Bw = -Bw;
  }
  float S0, S1;
  if (1.0f - CosOm > 1e-30f) {
    const float Omega = ArcCosSingle(CosOm);
    const float SinOm = std::sin(Omega);
    S0 = std::sin((1.0f - T) * Omega) / SinOm;
    S1 = std::sin(T * Omega) / SinOm;
  } else {
    S0 = 1.0f - T;
    S1 = T;
  }
  TQuaternion R{
      {{S0 * A.ImagPart.X + S1 * Bx, S0 * A.ImagPart.Y + S1 * By, S0 * A.ImagPart.Z + S1 * Bz}},
      S0 * A.RealPart + S1 * Bw};
  NormalizeQuaternionInPlace(R);
  return R;
}
