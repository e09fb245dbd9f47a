// Key interpolation both paths of the controller core share: the straight and spherical blends
// with exact ends, the ramp from the rest pose to a track's first key, and a key's place between
// two others. Internal to character/core (and its tests).
#pragma once

#include "formats/pmxlib.h"
#include "math/VectorGeometry.h"
#include "math/VectorMath.h"
#include "math/VectorTypes.h"

// A when T is 0, B when T is 1, the straight line between otherwise.
inline TVector3f InterpolateVector(const TVector3f& A, const TVector3f& B, float T) {
  if (T == 0.0f) return A;
  if (T == 1.0f) return B;
  return Lerp3f(A, B, T);
}
// Per axis: each component follows its own fraction, with the same exact ends; equal fractions
// give the same floats as the single-fraction form.
inline float InterpolateScalar(float A, float B, float T) {
  if (T == 0.0f) return A;
  if (T == 1.0f) return B;
  return A + (B - A) * T;
}
inline TVector3f InterpolateVector(const TVector3f& A, const TVector3f& B, float TX, float TY,
                                   float TZ) {
  return TVector3f{{InterpolateScalar(A.X, B.X, TX), InterpolateScalar(A.Y, B.Y, TY),
                    InterpolateScalar(A.Z, B.Z, TZ)}};
}
// A when T is 0, B when T is 1, the short spherical arc between otherwise.
inline TQuaternion InterpolateQuaternion(const TQuaternion& A, const TQuaternion& B, float T) {
  if (T == 0.0f) return A;
  if (T == 1.0f) return B;
  return SlerpQuaternion(A, B, T);
}

// Ramp from the rest pose at frame -1 to the first key at AKeyFrame (a frame number widened to
// double, so that a key at frame 2^32 - 1 cannot wrap).
inline float FirstKeyRamp(double AFrame, double AKeyFrame) {
  return static_cast<float>((AFrame + 1.0) / (AKeyFrame + 1.0));
}
inline float FirstKeyWeight(float AWeight, double AFrame, double AKeyFrame) {
  return static_cast<float>(static_cast<double>(AWeight) * (AFrame + 1.0) / (AKeyFrame + 1.0));
}
// Position of AFrame between the keys at APrev < AFrame <= ANext.
inline float SegmentRatio(double AFrame, double APrev, double ANext) {
  if (ANext == AFrame) return 1.0f;
  return static_cast<float>((AFrame - APrev) / (ANext - APrev));
}
inline TQuaternion KeyRotation(const TVmdMotion& AKey) {
  return TQuaternion{{{AKey.Rotation.X, AKey.Rotation.Y, AKey.Rotation.Z}}, AKey.Rotation.W};
}
