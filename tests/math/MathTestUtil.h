// Helpers shared by the math tests: comparisons of vectors, matrices and quaternions.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "math/VectorMath.h"

inline TQuaternion Quat(float AX, float AY, float AZ, float AW) {
  return TQuaternion{{{AX, AY, AZ}}, AW};
}

inline TMatrix4f Mat(std::initializer_list<float> AValues) {
  TMatrix4f M{};
  int I = 0;
  for (float Value : AValues) M.V[I++] = Value;
  return M;
}

// Bitwise equality (tells +0 from -0 and compares NaN payloads as stored).
template <class T>
bool SameBits(const T& A, const T& B) {
  return std::memcmp(&A, &B, sizeof(T)) == 0;
}

inline void ExpectNear(const float* AActual, const float* AExpected, int ACount, float ATol,
                       const char* AWhat) {
  for (int I = 0; I < ACount; ++I)
    EXPECT_NEAR(AActual[I], AExpected[I], ATol) << AWhat << " element " << I;
}

inline void ExpectVecNear(const TVec3f& A, const TVec3f& E, float ATol = 1e-6f) {
  ExpectNear(A.V, E.V, 3, ATol, "vector");
}
inline void ExpectVecNear(const TVector3f& A, const TVector3f& E, float ATol = 1e-6f) {
  ExpectNear(A.V, E.V, 3, ATol, "vector");
}
inline void ExpectMatNear(const TMatrix4f& A, const TMatrix4f& E, float ATol = 1e-6f) {
  ExpectNear(A.V, E.V, 16, ATol, "matrix");
}
inline void ExpectQuatNear(const TQuaternion& A, const TQuaternion& E, float ATol = 1e-6f) {
  const float Av[4] = {A.ImagPart.X, A.ImagPart.Y, A.ImagPart.Z, A.RealPart};
  const float Ev[4] = {E.ImagPart.X, E.ImagPart.Y, E.ImagPart.Z, E.RealPart};
  ExpectNear(Av, Ev, 4, ATol, "quaternion");
}
