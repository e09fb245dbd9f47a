// VectorMath: the 3-vector TVec3f with its methods and operators, plus quaternion and camera-matrix
// functions, for the camera code, skinning, morphs, face turning and the bone overlay.
// Depends on math/VectorGeometry.h (which also supplies MulMatrix4f, TransposedMatrix4f,
// MulQuaternion and UnitQuaternionToMatrix4f for users of this module).
#pragma once

#include <cmath>
#include <initializer_list>
#include <span>

#include "math/VectorGeometry.h"
#include "math/VectorTypes.h"

// Same layout as TVector3f; values move between the two by copying X, Y, Z (explicit conversions).
union TVec3f {
  struct {
    float X, Y, Z;
  };
  float V[3];

  TVec3f() = default;
  constexpr TVec3f(float AX, float AY, float AZ) : X(AX), Y(AY), Z(AZ) {}
  // From an array of floats: the first three values, missing components 0.
  TVec3f(std::initializer_list<float> Values) : TVec3f(0.0f, 0.0f, 0.0f) {
    int I = 0;
    for (float Value : Values) {
      if (I == 3) break;
      V[I++] = Value;
    }
  }
  constexpr TVec3f(std::span<const float> Values)
      : TVec3f(Values.size() > 0 ? Values[0] : 0.0f, Values.size() > 1 ? Values[1] : 0.0f,
               Values.size() > 2 ? Values[2] : 0.0f) {}
  explicit constexpr TVec3f(const TVector3f& AV) : TVec3f(AV.X, AV.Y, AV.Z) {}
  explicit constexpr TVec3f(const TVector4f& AV) : TVec3f(AV.X, AV.Y, AV.Z) {}

  static constexpr TVec3f Create(float AX, float AY, float AZ) { return TVec3f(AX, AY, AZ); }

  float& operator[](int AIndex) { return V[AIndex]; }
  const float& operator[](int AIndex) const { return V[AIndex]; }

  // Per component: Min if below Min, else Max if above Max, else unchanged.
  [[nodiscard]] TVec3f Clamp(float AMin, float AMax) const {
    return TVec3f(ClampSingle(X, AMin, AMax), ClampSingle(Y, AMin, AMax),
                  ClampSingle(Z, AMin, AMax));
  }
  [[nodiscard]] TVec3f Cross(const TVec3f& AVec) const {
    return TVec3f(Y * AVec.Z - Z * AVec.Y, Z * AVec.X - X * AVec.Z, X * AVec.Y - Y * AVec.X);
  }
  [[nodiscard]] float Dot(const TVec3f& AVec) const { return X * AVec.X + Y * AVec.Y + Z * AVec.Z; }
  [[nodiscard]] float Length() const { return std::sqrt(Dot(*this)); }
  [[nodiscard]] float Distance(const TVec3f& AVec) const {
    return TVec3f(X - AVec.X, Y - AVec.Y, Z - AVec.Z).Length();
  }
  [[nodiscard]] TVec3f Lerp(const TVec3f& AVec, float ARate) const {
    return TVec3f(X + (AVec.X - X) * ARate, Y + (AVec.Y - Y) * ARate, Z + (AVec.Z - Z) * ARate);
  }
  // Divided by its length; returned unchanged when the length is exactly 0.
  [[nodiscard]] TVec3f Normalize() const {
    const float L = Length();
    if (L == 0.0f) return *this;
    return TVec3f(X / L, Y / L, Z / L);
  }
  // Mirror about the plane with normal AVec (expected unit length).
  [[nodiscard]] TVec3f Reflect(const TVec3f& AVec) const {
    const float F = 2.0f * Dot(AVec);
    return TVec3f(X - F * AVec.X, Y - F * AVec.Y, Z - F * AVec.Z);
  }
  // Refraction through the surface with normal AVec; zero on total internal reflection.
  [[nodiscard]] TVec3f Refract(const TVec3f& AVec, float AEta) const {
    const float D = Dot(AVec);
    const float K = 1.0f - AEta * AEta * (1.0f - D * D);
    if (K < 0.0f) return TVec3f(0.0f, 0.0f, 0.0f);
    const float F = AEta * D + std::sqrt(K);
    return TVec3f(AEta * X - F * AVec.X, AEta * Y - F * AVec.Y, AEta * Z - F * AVec.Z);
  }
};

static_assert(sizeof(TVec3f) == 12 && std::is_trivially_copyable_v<TVec3f>);

inline TVector3f ToVector3f(const TVec3f& AV) {
  return TVector3f{{AV.X, AV.Y, AV.Z}};
}

inline TVec3f operator-(const TVec3f& AVec) {
  return TVec3f(-AVec.X, -AVec.Y, -AVec.Z);
}
inline TVec3f operator+(const TVec3f& A, const TVec3f& B) {
  return TVec3f(A.X + B.X, A.Y + B.Y, A.Z + B.Z);
}
inline TVec3f operator-(const TVec3f& A, const TVec3f& B) {
  return TVec3f(A.X - B.X, A.Y - B.Y, A.Z - B.Z);
}
inline TVec3f operator*(const TVec3f& AVec, float AValue) {
  return TVec3f(AVec.X * AValue, AVec.Y * AValue, AVec.Z * AValue);
}
inline TVec3f operator*(float AValue, const TVec3f& AVec) {
  return AVec * AValue;
}

inline float LerpSingle(float A, float B, float T) {
  return A + (B - A) * T;
}

// (P.x, P.y, P.z, 1) * M, keeping X, Y, Z; no division by w.
inline TVec3f TransformPoint3f(const TVec3f& P, const TMatrix4f& M) {
  return TVec3f(P.X * M.V[0] + P.Y * M.V[4] + P.Z * M.V[8] + M.V[12],
                P.X * M.V[1] + P.Y * M.V[5] + P.Z * M.V[9] + M.V[13],
                P.X * M.V[2] + P.Y * M.V[6] + P.Z * M.V[10] + M.V[14]);
}

// View matrix: the camera at Eye looks at Target (along -Z of view space), Up roughly +Y.
TMatrix4f LookAtMatrix4f(const TVec3f& AEye, const TVec3f& ATarget, const TVec3f& AUp);
// Symmetric projection from a vertical field of view in radians; clip w = -z of the view point.
TMatrix4f PerspectiveMatrix4f(float AFovY, float AAspect, float AZNear, float AZFar);

// Rotation by Angle (radians) about Axis; the axis is divided by its length, not checked.
inline TQuaternion QuaternionFromAxisAngle(const TVec3f& AAxis, float AAngle) {
  const float Half = AAngle / 2.0f;
  const float S = std::sin(Half) / AAxis.Length();
  return TQuaternion{{{AAxis.X * S, AAxis.Y * S, AAxis.Z * S}}, std::cos(Half)};
}

// qY (x) (qX (x) qZ): turns about Z first, then X, then Y (fixed axes).
inline TQuaternion QuaternionFromEulerYXZ(float AAngleY, float AAngleX, float AAngleZ) {
  const TQuaternion QY = QuaternionFromAxisAngle(TVec3f(0.0f, 1.0f, 0.0f), AAngleY);
  const TQuaternion QX = QuaternionFromAxisAngle(TVec3f(1.0f, 0.0f, 0.0f), AAngleX);
  const TQuaternion QZ = QuaternionFromAxisAngle(TVec3f(0.0f, 0.0f, 1.0f), AAngleZ);
  return MulQuaternion(QY, MulQuaternion(QX, QZ));
}

// Q / |Q|; a zero (or NaN) length gives (1, 0, 0, 0).
inline TQuaternion NormalizedQuaternion(const TQuaternion& Q) {
  const float x = Q.ImagPart.X, y = Q.ImagPart.Y, z = Q.ImagPart.Z, w = Q.RealPart;
  const float L = std::sqrt(x * x + y * y + z * z + w * w);
  if (L > 0.0f) {
    const float Inv = 1.0f / L;
    return TQuaternion{{{x * Inv, y * Inv, z * Inv}}, w * Inv};
  }
  return TQuaternion{{{1.0f, 0.0f, 0.0f}}, 0.0f};
}

// Shortest-arc rotation taking the direction From to To. Opposite directions (or a zero input)
// give (1, 0, 0, 0), a half turn about X.
inline TQuaternion QuaternionFromTo(const TVec3f& AFrom, const TVec3f& ATo) {
  const TVec3f C = AFrom.Cross(ATo);
  const float D = AFrom.Dot(ATo);
  const float L = std::sqrt(C.X * C.X + C.Y * C.Y + C.Z * C.Z + D * D);
  return NormalizedQuaternion(TQuaternion{{{C.X, C.Y, C.Z}}, D + L});
}

// V + 2 (w (u x V) + u x (u x V)) with u the imaginary part of Q.
inline TVec3f RotateVectorByQuaternion(const TVec3f& AV, const TQuaternion& Q) {
  const TVec3f U(Q.ImagPart.X, Q.ImagPart.Y, Q.ImagPart.Z);
  const TVec3f T1 = U.Cross(AV);
  const TVec3f T2 = U.Cross(T1);
  const float W = Q.RealPart;
  return TVec3f(AV.X + 2.0f * (W * T1.X + T2.X), AV.Y + 2.0f * (W * T1.Y + T2.Y),
                AV.Z + 2.0f * (W * T1.Z + T2.Z));
}

// Rotation about X of Q read as Euler angles (radians).
inline float QuaternionAngleX(const TQuaternion& Q) {
  const float x = Q.ImagPart.X, y = Q.ImagPart.Y, z = Q.ImagPart.Z, w = Q.RealPart;
  return std::atan2(2.0f * (y * z + w * x), w * w - x * x - y * y + z * z);
}
// Rotation about Y of Q read as Euler angles (radians); NaN when the argument leaves [-1, 1].
inline float QuaternionAngleY(const TQuaternion& Q) {
  const float x = Q.ImagPart.X, y = Q.ImagPart.Y, z = Q.ImagPart.Z, w = Q.RealPart;
  return std::asin(-2.0f * (x * z - w * y));
}
