// TVec3f and the VectorMath functions (quaternions, camera matrices).
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "MathTestUtil.h"
#include "math/VectorMath.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

TQuaternion Negated(const TQuaternion& Q) {
  return Quat(-Q.ImagPart.X, -Q.ImagPart.Y, -Q.ImagPart.Z, -Q.RealPart);
}

// A spread of unit quaternions for the round trips.
std::vector<TQuaternion> SomeRotations() {
  std::vector<TQuaternion> R;
  const TVec3f Axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {-0.3f, 0.9f, -0.1f}};
  for (const TVec3f& Axis : Axes)
    for (float Angle : {0.1f, 1.0f, 2.5f, -3.0f}) R.push_back(QuaternionFromAxisAngle(Axis, Angle));
  return R;
}

// ---- TVec3f -------------------------------------------------------------------------------------

TEST(TVec3f, MembersOnExactValues) {
  const TVec3f A = TVec3f::Create(1, 2, 3), B(-4, 5, 0.5f);
  EXPECT_TRUE(SameBits(A.Cross(B), TVec3f(-14, -12.5f, 13)));
  EXPECT_EQ(A.Dot(B), 7.5f);
  EXPECT_EQ(TVec3f(2, 3, 6).Length(), 7.0f);
  EXPECT_EQ(TVec3f(1, 1, 1).Distance(TVec3f(3, 4, 7)), 7.0f);
  EXPECT_TRUE(SameBits(A.Lerp(B, 0.5f), TVec3f(-1.5f, 3.5f, 1.75f)));
  EXPECT_TRUE(SameBits(TVec3f(-2, 0.5f, 9).Clamp(0, 1), TVec3f(0, 0.5f, 1)));
  EXPECT_TRUE(SameBits(-A, TVec3f(-1, -2, -3)));
  EXPECT_TRUE(SameBits(A + B, TVec3f(-3, 7, 3.5f)));
  EXPECT_TRUE(SameBits(A - B, TVec3f(5, -3, 2.5f)));
  EXPECT_TRUE(SameBits(A * 2.0f, TVec3f(2, 4, 6)));
  EXPECT_TRUE(SameBits(2.0f * A, TVec3f(2, 4, 6)));
  EXPECT_EQ(A.V[2], 3.0f);
  EXPECT_EQ(A[1], 2.0f);
}

TEST(TVec3f, NormalizeLeavesAZeroLengthVectorUnchanged) {
  ExpectVecNear(TVec3f(0, 3, -4).Normalize(), TVec3f(0, 0.6f, -0.8f), 1e-7f);
  EXPECT_TRUE(SameBits(TVec3f(0, 0, 0).Normalize(), TVec3f(0, 0, 0)));
  // Its length underflows to 0, so it comes back as it is (Normalized3f would zero it).
  EXPECT_TRUE(SameBits(TVec3f(1e-30f, 0, -1e-30f).Normalize(), TVec3f(1e-30f, 0, -1e-30f)));
}

TEST(TVec3f, ReflectAndRefract) {
  const TVec3f N(0, 1, 0);
  EXPECT_TRUE(SameBits(TVec3f(1, -1, 0).Reflect(N), TVec3f(1, 1, 0)));
  // Eta 1 passes straight through.
  const TVec3f In = TVec3f(1, -1, 0).Normalize();
  ExpectVecNear(In.Refract(N, 1.0f), In);
  // Into a denser medium the ray bends toward the normal: sin of the angle scales by Eta.
  const TVec3f Bent = In.Refract(N, 0.5f);
  EXPECT_NEAR(Bent.Length(), 1.0f, 1e-6f);
  EXPECT_NEAR(Bent.X, 0.5f * In.X, 1e-6f);
  EXPECT_LT(Bent.Y, 0.0f);
  // Total internal reflection (k < 0) gives the zero vector.
  EXPECT_TRUE(SameBits(In.Refract(N, 1.5f), TVec3f(0, 0, 0)));
}

TEST(TVec3f, ConversionFromAnArrayFillsMissingComponentsWithZero) {
  const TVec3f Empty = {};
  EXPECT_TRUE(SameBits(Empty, TVec3f(0, 0, 0)));
  const TVec3f Two = {1, 2};
  EXPECT_TRUE(SameBits(Two, TVec3f(1, 2, 0)));
  const TVec3f Four = {1, 2, 3, 4};
  EXPECT_TRUE(SameBits(Four, TVec3f(1, 2, 3)));
  const std::vector<float> None, One{7};
  EXPECT_TRUE(SameBits(TVec3f(std::span<const float>(None)), TVec3f(0, 0, 0)));
  EXPECT_TRUE(SameBits(TVec3f(std::span<const float>(One)), TVec3f(7, 0, 0)));
  // To and from the geometry record by copying X, Y, Z.
  EXPECT_TRUE(SameBits(TVec3f(NewVector3f(4, 5, 6)), TVec3f(4, 5, 6)));
  EXPECT_TRUE(SameBits(ToVector3f(TVec3f(4, 5, 6)), NewVector3f(4, 5, 6)));
}

TEST(LerpSingle, IsAPlusBMinusATimesT) {
  EXPECT_EQ(LerpSingle(2, 6, 0.25f), 3.0f);
  EXPECT_EQ(LerpSingle(2, 6, 1.5f), 8.0f);
  EXPECT_EQ(LerpSingle(2, 6, -1.0f), -2.0f);
}

// ---- matrices -----------------------------------------------------------------------------------

TEST(VectorMathMatrices, TransformPointMatchesTheGeometryVariant) {
  const TMatrix4f M = MulMatrix4f(UnitQuaternionToMatrix4f(QuaternionFromEulerYXZ(0.3f, -1.1f, 2)),
                                  TranslationMatrix4f(NewVector3f(1, -2, 7)));
  const TVec3f P(0.25f, -3, 9.5f);
  EXPECT_TRUE(SameBits(ToVector3f(TransformPoint3f(P, M)), TransformPoint3f(ToVector3f(P), M)));
  EXPECT_TRUE(SameBits(TransformPoint3f(P, TranslationMatrix4f(NewVector3f(1, 2, 3))),
                       TVec3f(1.25f, -1, 12.5f)));
}

TEST(VectorMathMatrices, LookAtVariantsAgree) {
  struct Case {
    TVec3f Eye, Target, Up;
  };
  const Case Cases[] = {
      {{0, 0, 5}, {0, 0, 0}, {0, 1, 0}},
      {{1, 2, 3}, {4, 2, -1}, {0, 1, 0}},
      {{-3, 10, 2}, {0, 1.5f, 0}, {0.1f, 1, 0}},  // Up need not be unit or perpendicular
  };
  for (const Case& C : Cases) {
    const TMatrix4f M = LookAtMatrix4f(C.Eye, C.Target, C.Up);
    const TMatrix4f G = LookAtMatrix4f(ExtendVector3f(ToVector3f(C.Eye), 1),
                                       ExtendVector3f(ToVector3f(C.Target), 1),
                                       ExtendVector3f(ToVector3f(C.Up), 0));
    ExpectMatNear(M, G, 1e-6f);
    ExpectVecNear(TransformPoint3f(C.Eye, M), TVec3f(0, 0, 0), 1e-5f);
    const float Dist = C.Eye.Distance(C.Target);
    ExpectVecNear(TransformPoint3f(C.Target, M), TVec3f(0, 0, -Dist), 1e-5f);
  }
  // The plain case exactly (up to the sign of zeros): no rotation, the eye's offset in row W.
  ExpectMatNear(LookAtMatrix4f(TVec3f(0, 0, 5), TVec3f(0, 0, 0), TVec3f(0, 1, 0)),
                Mat({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5, 1}), 0.0f);
}

TEST(VectorMathMatrices, PerspectiveEntriesAndClipW) {
  const float Fov = kPi / 3, Aspect = 1.5f, N = 0.1f, F = 100;
  const TMatrix4f M = PerspectiveMatrix4f(Fov, Aspect, N, F);
  const float T = std::tan(Fov / 2);
  EXPECT_FLOAT_EQ(M.X.X, 1 / (Aspect * T));
  EXPECT_FLOAT_EQ(M.Y.Y, 1 / T);
  EXPECT_FLOAT_EQ(M.Z.Z, -(F + N) / (F - N));
  EXPECT_EQ(M.Z.W, -1.0f);
  EXPECT_FLOAT_EQ(M.W.Z, -2 * F * N / (F - N));
  int NonZero = 0;
  for (float V : M.V) NonZero += V != 0.0f;
  EXPECT_EQ(NonZero, 5);
  const TVector4f Clip = RowTimesMatrix4f(NewVector4f(0.3f, 0.2f, -7, 1), M);
  EXPECT_FLOAT_EQ(Clip.W, 7.0f);
  EXPECT_TRUE(std::isinf(PerspectiveMatrix4f(Fov, 0, N, F).X.X));  // no guard on aspect 0
}

// ---- quaternions --------------------------------------------------------------------------------

TEST(QuaternionFromAxisAngle, HalfAngleAboutTheNormalisedAxis) {
  const float H = std::sqrt(0.5f);
  ExpectQuatNear(QuaternionFromAxisAngle(TVec3f(0, 0, 1), kPi / 2), Quat(0, 0, H, H));
  ExpectQuatNear(QuaternionFromAxisAngle(TVec3f(0, 5, 0), kPi / 2), Quat(0, H, 0, H));
  EXPECT_TRUE(SameBits(QuaternionFromAxisAngle(TVec3f(1, 0, 0), 0), Quat(0, 0, 0, 1)));
  ExpectQuatNear(QuaternionFromAxisAngle(TVec3f(0, 0, 1), kPi / 2),
                 QuaternionFromAxisAngleDeg(NewVector3f(0, 0, 1), 90));
  // A zero axis is not caught: 0 * (sin / 0) is NaN.
  EXPECT_TRUE(std::isnan(QuaternionFromAxisAngle(TVec3f(0, 0, 0), 1).ImagPart.X));
}

TEST(QuaternionFromEulerYXZ, TurnsAboutZThenXThenY) {
  EXPECT_TRUE(SameBits(QuaternionFromEulerYXZ(0, 0, 0), Quat(0, 0, 0, 1)));
  for (float A : {0.5f, -2.0f, 3.0f}) {
    ExpectQuatNear(QuaternionFromEulerYXZ(A, 0, 0), QuaternionFromAxisAngle(TVec3f(0, 1, 0), A));
    ExpectQuatNear(QuaternionFromEulerYXZ(0, A, 0), QuaternionFromAxisAngle(TVec3f(1, 0, 0), A));
    ExpectQuatNear(QuaternionFromEulerYXZ(0, 0, A), QuaternionFromAxisAngle(TVec3f(0, 0, 1), A));
  }
  const float Y = 0.7f, X = -0.4f, Z = 1.2f;
  const TQuaternion Q = QuaternionFromEulerYXZ(Y, X, Z);
  const TVec3f V(0.3f, -1, 2);
  const TVec3f Stepwise = RotateVectorByQuaternion(
      RotateVectorByQuaternion(
          RotateVectorByQuaternion(V, QuaternionFromAxisAngle(TVec3f(0, 0, 1), Z)),
          QuaternionFromAxisAngle(TVec3f(1, 0, 0), X)),
      QuaternionFromAxisAngle(TVec3f(0, 1, 0), Y));
  ExpectVecNear(RotateVectorByQuaternion(V, Q), Stepwise, 1e-5f);
  // The angle readers recover X and Y of a YXZ rotation without Z.
  const TQuaternion XOnly = QuaternionFromEulerYXZ(0, X, 0);
  EXPECT_NEAR(QuaternionAngleX(XOnly), X, 1e-6f);
  EXPECT_NEAR(QuaternionAngleY(QuaternionFromEulerYXZ(Y, 0, 0)), Y, 1e-6f);
}

TEST(QuaternionAngles, FollowTheirFormulasWithoutClamping) {
  struct Case {
    TQuaternion Q;
    float X, Y;
  };
  const Case Cases[] = {
      {Quat(0, 0, 0, 1), 0, 0},
      {QuaternionFromAxisAngle(TVec3f(1, 0, 0), 0.3f), 0.3f, 0},
      {QuaternionFromAxisAngle(TVec3f(0, 1, 0), -0.4f), 0, -0.4f},
      {QuaternionFromAxisAngle(TVec3f(1, 0, 0), kPi), kPi, 0},
  };
  for (const Case& C : Cases) {
    EXPECT_NEAR(std::fabs(QuaternionAngleX(C.Q)), std::fabs(C.X), 1e-6f);
    EXPECT_NEAR(QuaternionAngleY(C.Q), C.Y, 1e-6f);
  }
  // An unnormalised quaternion can push the arc sine's argument past 1: NaN, not clamped.
  EXPECT_TRUE(std::isnan(QuaternionAngleY(Quat(0, 2, 0, 2))));
}

// A head turned and tilted at once, as headset walking reads it: the tilt and the turn read back
// are the ones put in (for turns within a quarter turn either way), and the view rebuilt from the
// two readings looks where the head looks: (-sin Y cos X, sin X, -cos Y cos X) for the forward
// axis -Z tilted about X, then turned about Y.
TEST(QuaternionAngles, ReadBackTheTiltAndTurnOfAHeadThatDoesBoth) {
  for (float Yaw : {0.3f, -0.7f, 1.2f, -1.5f}) {
    for (float Pitch : {0.4f, -0.9f, 1.3f, -0.2f, 2.0f}) {
      const TQuaternion Head = QuaternionFromEulerYXZ(Yaw, Pitch, 0);
      const float X = QuaternionAngleX(Head), Y = QuaternionAngleY(Head);
      EXPECT_NEAR(X, Pitch, 1e-5f) << "yaw " << Yaw << ", pitch " << Pitch;
      EXPECT_NEAR(Y, Yaw, 1e-5f) << "yaw " << Yaw << ", pitch " << Pitch;
      const TVec3f Looks(-std::sin(Yaw) * std::cos(Pitch), std::sin(Pitch),
                         -std::cos(Yaw) * std::cos(Pitch));
      ExpectVecNear(RotateVectorByQuaternion(TVec3f(0, 0, -1), Head), Looks, 1e-5f);
      ExpectVecNear(RotateVectorByQuaternion(TVec3f(0, 0, -1), QuaternionFromEulerYXZ(Y, X, 0)),
                    Looks, 1e-5f);
    }
  }
}

TEST(QuaternionFromTo, ShortestArcAndItsDegenerateCases) {
  struct Case {
    TVec3f From, To;
    TQuaternion Expected;
  };
  const float H = std::sqrt(0.5f);
  const Case Cases[] = {
      {{0, 0, 1}, {0, 0, 1}, Quat(0, 0, 0, 1)},
      {{0, 0, 2}, {0, 0, 0.5f}, Quat(0, 0, 0, 1)},  // lengths do not matter
      {{0, 0, 1}, {0, 0, -1}, Quat(1, 0, 0, 0)},    // opposite: half turn about X
      {{1, 0, 0}, {-1, 0, 0}, Quat(1, 0, 0, 0)},    // also about X, leaving (1, 0, 0) put
      {{0, 0, 0}, {0, 1, 0}, Quat(1, 0, 0, 0)},     // zero input
      {{1, 0, 0}, {0, 1, 0}, Quat(0, 0, H, H)},
      {{2, 0, 0}, {0, 0, 3}, Quat(0, -H, 0, H)},
  };
  for (const Case& C : Cases) ExpectQuatNear(QuaternionFromTo(C.From, C.To), C.Expected);
  // A general pair: the result turns From onto To's direction.
  const TVec3f From(0.2f, -1, 0.7f), To(-3, 0.5f, 1);
  ExpectVecNear(RotateVectorByQuaternion(From.Normalize(), QuaternionFromTo(From, To)),
                To.Normalize(), 1e-6f);
}

TEST(NormalizedQuaternion, ZeroOrNaNLengthGivesAHalfTurnAboutX) {
  ExpectQuatNear(NormalizedQuaternion(Quat(0, 3, 0, 4)), Quat(0, 0.6f, 0, 0.8f), 1e-7f);
  EXPECT_TRUE(SameBits(NormalizedQuaternion(Quat(0, 0, 0, 0)), Quat(1, 0, 0, 0)));
  EXPECT_TRUE(SameBits(NormalizedQuaternion(Quat(kNaN, 0, 0, 1)), Quat(1, 0, 0, 0)));
}

TEST(QuaternionRoundTrips, MatrixAndDirectRotationAgree) {
  const TVec3f Points[] = {{1, 0, 0}, {0, 1, 0}, {0.3f, -2, 5}};
  for (const TQuaternion& Q : SomeRotations()) {
    const TMatrix4f M = UnitQuaternionToMatrix4f(Q);
    for (const TVec3f& P : Points) {
      ExpectVecNear(TransformPoint3f(P, M), RotateVectorByQuaternion(P, Q), 1e-5f);
      // Q and -Q are the same rotation.
      ExpectVecNear(RotateVectorByQuaternion(P, Negated(Q)), RotateVectorByQuaternion(P, Q), 1e-5f);
    }
    // Rotating by A (x) B is rotating by B, then by A.
    const TQuaternion B = QuaternionFromEulerYXZ(0.4f, 1.3f, -0.6f);
    for (const TVec3f& P : Points)
      ExpectVecNear(RotateVectorByQuaternion(P, MulQuaternion(Q, B)),
                    RotateVectorByQuaternion(RotateVectorByQuaternion(P, B), Q), 1e-5f);
    // Inverse rotation through the conjugate brings a point back.
    const TQuaternion Conj = Quat(-Q.ImagPart.X, -Q.ImagPart.Y, -Q.ImagPart.Z, Q.RealPart);
    ExpectQuatNear(MulQuaternion(Q, Conj), Quat(0, 0, 0, 1), 1e-6f);
    // Through the matrix and the normalising variant: a unit quaternion gives the same matrix.
    ExpectMatNear(QuaternionToMatrix4f(Q), M, 1e-6f);
    ExpectMatNear(MulMatrix4f(M, InvertedMatrix4f(M)), IdentityMatrix4f, 1e-5f);
  }
}

}  // namespace
