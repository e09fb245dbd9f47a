// The math of SDEF vertices, shared by the fast path and the literal one: the rotation of a bone's
// skinning matrix, the short arc between two bones' rotations and the matrix of a point on it, and
// the fixed points C, cr0, cr1 of a vertex. Internal to character/core (and its tests).
#pragma once

#include <cmath>

#include "formats/pmxlib.h"
#include "math/VectorGeometry.h"
#include "math/VectorMath.h"
#include "math/VectorTypes.h"

// sin X by its Taylor series up to X^11, given X and X2 = X * X, into ASin: for a float or, lane
// by lane, for a vector of floats (the vector extensions round every lane as the float operation
// would). Not returned: a 256-bit vector returned from a function built without AVX would change
// the calling convention.
template <class TV>
[[gnu::always_inline]] inline void SinPolynomial(const TV& X, const TV& X2, TV& ASin) {
  ASin =
      X * (1.0f + X2 * (-0.16666667f +
                        X2 * (0.0083333333f +
                              X2 * (-1.984127e-4f + X2 * (2.7557319e-6f + X2 * -2.5052108e-8f)))));
}

// sin X by SinPolynomial for |X| <= pi/2 (error below 1e-7), std::sin beyond: the slerps of SDEF
// vertices stay inline and need no library call.
[[gnu::always_inline]] inline float ShortArcSin(float X) {
  if (!(std::fabs(X) <= 1.5707964f)) return std::sin(X);
  float Sin;
  SinPolynomial(X, X * X, Sin);
  return Sin;
}

// The short arc between two unit quaternions (the slerp between them), set up once for many
// points on it: one arc cosine per arc, two sines per point.
struct TRotationArc {
  TQuaternion From, To;  // To negated when the two point apart
  float Omega;           // the angle between them
  bool Straight;         // (nearly) the same rotation: the straight line between them
};
inline TRotationArc RotationArc(const TQuaternion& A, const TQuaternion& B) {
  TRotationArc R{A, B, 0.0f, true};
  float CosOm = A.ImagPart.X * B.ImagPart.X + A.ImagPart.Y * B.ImagPart.Y +
                A.ImagPart.Z * B.ImagPart.Z + A.RealPart * B.RealPart;
  if (CosOm < 0.0f) {
    CosOm = -CosOm;
    R.To = TQuaternion{{{-B.ImagPart.X, -B.ImagPart.Y, -B.ImagPart.Z}}, -B.RealPart};
  }
  if (1.0f - CosOm > 1e-30f) {
    R.Straight = false;
    R.Omega = ArcCosSingle(CosOm);
  }
  return R;
}
// The rotation matrix (rows X, Y, Z; row-vector convention) of the point at T on the arc. The
// point is sin((1 - T) w) From + sin(T w) To, which is the slerp up to its length; the matrix
// divides the length out (entries scaled by 2 / |q|^2), so no square root and no division by
// sin w. A point of length 0 (only for T far outside [0, 1]) gives the identity.
[[gnu::always_inline]] inline TMatrix4f RotationArcMatrix(const TRotationArc& AArc, float T) {
  float S0, S1;
  if (!AArc.Straight) {
    S0 = ShortArcSin((1.0f - T) * AArc.Omega);
    S1 = ShortArcSin(T * AArc.Omega);
  } else {
    S0 = 1.0f - T;
    S1 = T;
  }
  const TQuaternion &A = AArc.From, &B = AArc.To;
  const float x = S0 * A.ImagPart.X + S1 * B.ImagPart.X, y = S0 * A.ImagPart.Y + S1 * B.ImagPart.Y,
              z = S0 * A.ImagPart.Z + S1 * B.ImagPart.Z, w = S0 * A.RealPart + S1 * B.RealPart;
  const float N = x * x + y * y + z * z + w * w;
  if (!(N > 1e-30f)) return IdentityMatrix4f;
  const float S = 2.0f / N;
  TMatrix4f R;
  R.X = TVector4f{{1.0f - S * (y * y + z * z), S * (x * y + w * z), S * (x * z - w * y), 0.0f}};
  R.Y = TVector4f{{S * (x * y - w * z), 1.0f - S * (x * x + z * z), S * (y * z + w * x), 0.0f}};
  R.Z = TVector4f{{S * (x * z + w * y), S * (y * z - w * x), 1.0f - S * (x * x + y * y), 0.0f}};
  R.W = TVector4f{{0.0f, 0.0f, 0.0f, 1.0f}};
  return R;
}

// The rotation of a skinning matrix whose rows X, Y, Z are a rotation (row-vector convention, as
// UnitQuaternionToMatrix4f builds them): the inverse bind is a pure translation, so this is the
// bone's model-space rotation. Read from the largest of w, x, y, z so that no division is by a
// small number; normalised.
TQuaternion SkinMatrixRotation(const TMatrix4f& AM);
// AV turned by the rotation rows of AR, summed in the order x, y, z (no translation row).
inline TVector3f RotateVector(const TVector3f& AV, const TMatrix4f& AR) {
  TVector3f R;
  for (int Col = 0; Col < 3; ++Col)
    R.V[Col] = AV.X * AR.V[Col] + AV.Y * AR.V[4 + Col] + AV.Z * AR.V[8 + Col];
  return R;
}
// The fixed points of an SDEF vertex: its centre C and the points cr0, cr1 that bone 1 and bone 2
// carry (halfway between C and R0, R1 moved so that their weighted mean is C). The reader keeps C,
// R0 and R1 as the file stores them, in file units with Z unmirrored: they are positions, so they
// are scaled and mirrored here like every vertex position before they meet one.
struct TSdefPoints {
  TVector3f C, Cr0, Cr1;
};
inline TSdefPoints SdefPoints(const TPmxBoneWeightSDEF& AW) {
  const float W0 = AW.Bone1Weight, W1 = 1.0f - W0;
  TVector3f C = AW.SDEF_C, R0 = AW.SDEF_R0, R1 = AW.SDEF_R1;
  ConvertPosition(C);
  ConvertPosition(R0);
  ConvertPosition(R1);
  const TVector3f Rw = Add3f(Scaled3f(R0, W0), Scaled3f(R1, W1));
  const TVector3f Rr0 = Sub3f(Add3f(C, R0), Rw), Rr1 = Sub3f(Add3f(C, R1), Rw);
  return TSdefPoints{C, Scaled3f(Add3f(C, Rr0), 0.5f), Scaled3f(Add3f(C, Rr1), 0.5f)};
}
