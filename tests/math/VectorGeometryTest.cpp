// Records, matrix conventions and the VectorGeometry operations.
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>

#include "MathTestUtil.h"
#include "math/VectorGeometry.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// ---- layout and conventions ---------------------------------------------------------------------

TEST(MathLayout, FieldsOverlayTheirArraysInMemoryOrder) {
  static_assert(offsetof(TQuaternion, ImagPart) == 0 && offsetof(TQuaternion, RealPart) == 12);
  TMatrix4f M{};
  for (int I = 0; I < 16; ++I) M.V[I] = static_cast<float>(I);
  EXPECT_EQ(M.X.X, 0.0f);
  EXPECT_EQ(M.Y.Z, 6.0f);
  EXPECT_EQ(M.W.Y, 13.0f);  // M[r][c] is V[4r + c]
  for (int R = 0; R < 4; ++R)
    for (int C = 0; C < 4; ++C) EXPECT_EQ(M[R][C], static_cast<float>(4 * R + C));

  const TVector4f V = NewVector4f(1, 2, 3, 4);
  EXPECT_EQ(V.V[0], 1.0f);
  EXPECT_EQ(V.V[3], 4.0f);
  const TQuaternion Q = Quat(1, 2, 3, 4);
  float Raw[4];
  std::memcpy(Raw, &Q, sizeof(Raw));
  EXPECT_EQ(Raw[0], 1.0f);
  EXPECT_EQ(Raw[3], 4.0f);  // x, y, z, then w
}

// A GL column-major array puts the translation at elements 12..14 and the perspective -1 at 11.
TEST(MathLayout, MemoryOrderIsTheColumnMajorArrayOfOpenGL) {
  const TMatrix4f T = TranslationMatrix4f(NewVector3f(5, 6, 7));
  EXPECT_EQ(T.V[12], 5.0f);
  EXPECT_EQ(T.V[13], 6.0f);
  EXPECT_EQ(T.V[14], 7.0f);
  EXPECT_EQ(T.V[15], 1.0f);
  EXPECT_EQ(T.V[3], 0.0f);
  const TMatrix4f P = FrustumMatrix4f(-1, 1, -1, 1, 1, 10);
  EXPECT_EQ(P.V[11], -1.0f);
  EXPECT_EQ(P.V[15], 0.0f);
}

TEST(MathConventions, TranslationMatrixMovesAPointAndComposesByAddition) {
  const TVector3f P = NewVector3f(1, -2, 3);
  const TVector3f A = NewVector3f(10, 20, 30), B = NewVector3f(-4, 0.5f, 8);
  EXPECT_TRUE(SameBits(TransformPoint3f(P, TranslationMatrix4f(A)), NewVector3f(11, 18, 33)));
  // The 4-vector variant reads only X, Y, Z of the point: W does not scale the translation.
  EXPECT_TRUE(SameBits(TransformPoint3f(NewVector4f(1, -2, 3, 0), TranslationMatrix4f(A)),
                       NewVector3f(11, 18, 33)));
  const TMatrix4f AB = MulMatrix4f(TranslationMatrix4f(A), TranslationMatrix4f(B));
  EXPECT_TRUE(SameBits(AB, TranslationMatrix4f(NewVector3f(6, 20.5f, 38))));
  // A row vector with w = 1 picks up the translation, with w = 0 (a direction) it does not.
  EXPECT_TRUE(SameBits(RowTimesMatrix4f(NewVector4f(1, -2, 3, 1), TranslationMatrix4f(A)),
                       NewVector4f(11, 18, 33, 1)));
  EXPECT_TRUE(SameBits(RowTimesMatrix4f(NewVector4f(1, -2, 3, 0), TranslationMatrix4f(A)),
                       NewVector4f(1, -2, 3, 0)));
}

TEST(MathConventions, ProductAppliesTheLeftMatrixFirst) {
  const TMatrix4f Move = TranslationMatrix4f(NewVector3f(1, 0, 0));
  const TMatrix4f Turn = UnitQuaternionToMatrix4f(Quat(0, 0, std::sqrt(0.5f), std::sqrt(0.5f)));
  const TVector3f P = NewVector3f(0, 0, 0);
  // Move then turn 90 degrees about Z: (1, 0, 0) ends at (0, 1, 0).
  ExpectVecNear(TransformPoint3f(P, MulMatrix4f(Move, Turn)), NewVector3f(0, 1, 0));
  // Turn then move: the origin stays put by the turn and ends at (1, 0, 0).
  ExpectVecNear(TransformPoint3f(P, MulMatrix4f(Turn, Move)), NewVector3f(1, 0, 0));
}

// ---- matrices -----------------------------------------------------------------------------------

TEST(MulMatrix4f, MatchesTheRowByColumnSum) {
  const TMatrix4f A = Mat({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const TMatrix4f B = Mat({2, 0, 1, 0, -1, 3, 0, 1, 0, 1, -2, 4, 5, 0, 0, -1});
  // Exact integer results, worked by hand row by column.
  const TMatrix4f AB = Mat({20, 9, -5, 10, 44, 25, -9, 26, 68, 41, -13, 42, 92, 57, -17, 58});
  EXPECT_TRUE(SameBits(MulMatrix4f(A, B), AB));
  EXPECT_FALSE(SameBits(MulMatrix4f(B, A), AB));
  EXPECT_TRUE(SameBits(MulMatrix4f(A, IdentityMatrix4f), A));
  EXPECT_TRUE(SameBits(MulMatrix4f(IdentityMatrix4f, A), A));
}

TEST(TransposedMatrix4f, SwapsRowsAndColumns) {
  const TMatrix4f A = Mat({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
  const TMatrix4f T = TransposedMatrix4f(A);
  for (int R = 0; R < 4; ++R)
    for (int C = 0; C < 4; ++C) EXPECT_EQ(T[R][C], A[C][R]);
  EXPECT_TRUE(SameBits(TransposedMatrix4f(T), A));
}

TEST(InvertedMatrix4f, InvertsGeneralMatrices) {
  const TMatrix4f Cases[] = {
      MulMatrix4f(UnitQuaternionToMatrix4f(Quat(0.5f, 0.5f, 0.5f, 0.5f)),
                  TranslationMatrix4f(NewVector3f(3, -4, 5))),
      Mat({2, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, -4, 0, 1, 2, 3, 1}),
      Mat({4, 7, 2, 3, 0, 5, 1, 9, 8, 1, 6, 2, 3, 3, 0, 1}),  // dense, not affine
      FrustumMatrix4f(-1, 2, -0.5f, 1, 0.5f, 50),             // projective: no affine shortcut
  };
  for (const TMatrix4f& M : Cases) {
    ExpectMatNear(MulMatrix4f(M, InvertedMatrix4f(M)), IdentityMatrix4f, 1e-5f);
    ExpectMatNear(MulMatrix4f(InvertedMatrix4f(M), M), IdentityMatrix4f, 1e-5f);
  }
  ExpectMatNear(InvertedMatrix4f(IdentityMatrix4f), IdentityMatrix4f, 0.0f);  // up to -0
}

TEST(InvertedMatrix4f, OnlyADeterminantBelow1e40GivesTheIdentity) {
  const TMatrix4f Zero{};
  EXPECT_TRUE(SameBits(InvertedMatrix4f(Zero), IdentityMatrix4f));
  // Rank 3: two equal rows.
  const TMatrix4f Singular = Mat({1, 2, 3, 4, 1, 2, 3, 4, 0, 1, 0, 0, 0, 0, 0, 1});
  EXPECT_TRUE(SameBits(InvertedMatrix4f(Singular), IdentityMatrix4f));
  // det = 1e-44: below the threshold.
  const TMatrix4f Tiny = Mat({1e-11f, 0, 0, 0, 0, 1e-11f, 0, 0, 0, 0, 1e-11f, 0, 0, 0, 0, 1e-11f});
  EXPECT_TRUE(SameBits(InvertedMatrix4f(Tiny), IdentityMatrix4f));
  // det = 1e-36: small but above it, so a real inverse (no relative tolerance is applied).
  const TMatrix4f Small = Mat({1e-9f, 0, 0, 0, 0, 1e-9f, 0, 0, 0, 0, 1e-9f, 0, 0, 0, 0, 1e-9f});
  const TMatrix4f Inv = InvertedMatrix4f(Small);
  EXPECT_NEAR(Inv.X.X, 1e9f, 1e3f);
  EXPECT_NEAR(Inv.W.W, 1e9f, 1e3f);
}

TEST(FrustumMatrix4f, EntriesAndClipW) {
  const float L = -1, R = 3, B = -2, T = 1, N = 0.5f, F = 100;
  const TMatrix4f M = FrustumMatrix4f(L, R, B, T, N, F);
  TMatrix4f E{};
  E.X.X = 2 * N / (R - L);
  E.Y.Y = 2 * N / (T - B);
  E.Z.X = (R + L) / (R - L);
  E.Z.Y = (T + B) / (T - B);
  E.Z.Z = -(F + N) / (F - N);
  E.Z.W = -1;
  E.W.Z = -2 * F * N / (F - N);
  EXPECT_TRUE(SameBits(M, E));
  // The near plane's corner maps to NDC (-1, -1, -1), a far-plane point to z = +1; clip w = -z.
  const TVector4f Near = RowTimesMatrix4f(NewVector4f(L, B, -N, 1), M);
  EXPECT_FLOAT_EQ(Near.W, N);
  EXPECT_NEAR(Near.X / Near.W, -1.0f, 1e-6f);
  EXPECT_NEAR(Near.Y / Near.W, -1.0f, 1e-6f);
  EXPECT_NEAR(Near.Z / Near.W, -1.0f, 1e-5f);
  const TVector4f Far = RowTimesMatrix4f(NewVector4f(0, 0, -F, 1), M);
  EXPECT_FLOAT_EQ(Far.W, F);
  EXPECT_NEAR(Far.Z / Far.W, 1.0f, 1e-5f);
}

TEST(PerspectiveMatrix4fDeg, ClampsTheFieldOfViewTo0Through179_9) {
  EXPECT_TRUE(SameBits(PerspectiveMatrix4fDeg(200, 1.5f, 0.1f, 100),
                       PerspectiveMatrix4fDeg(179.9f, 1.5f, 0.1f, 100)));
  EXPECT_TRUE(SameBits(PerspectiveMatrix4fDeg(180, 1.5f, 0.1f, 100),
                       PerspectiveMatrix4fDeg(179.9f, 1.5f, 0.1f, 100)));
  // Below 0 it is 0: a zero-width frustum whose scale entries are infinite, not an error.
  const TMatrix4f Neg = PerspectiveMatrix4fDeg(-30, 1.5f, 0.1f, 100);
  EXPECT_TRUE(SameBits(Neg, PerspectiveMatrix4fDeg(0, 1.5f, 0.1f, 100)));
  EXPECT_TRUE(std::isinf(Neg.X.X));
  // Inside the range nothing is clamped.
  EXPECT_FALSE(SameBits(PerspectiveMatrix4fDeg(179.0f, 1.5f, 0.1f, 100),
                        PerspectiveMatrix4fDeg(179.9f, 1.5f, 0.1f, 100)));
}

TEST(PerspectiveMatrix4fDeg, AgreesWithTheRadianVariantAndTheFrustum) {
  ExpectMatNear(PerspectiveMatrix4fDeg(45, 1, 1, 250), PerspectiveMatrix4f(kPi / 4, 1, 1, 250),
                1e-5f);
  ExpectMatNear(PerspectiveMatrix4fDeg(60, 16.0f / 9.0f, 0.05f, 1000),
                PerspectiveMatrix4f(kPi / 3, 16.0f / 9.0f, 0.05f, 1000), 1e-5f);
  const float YMax = 0.5f * std::tan(90 * 0.01745329238474369f * 0.5f);
  ExpectMatNear(PerspectiveMatrix4fDeg(90, 2, 0.5f, 10),
                FrustumMatrix4f(-YMax * 2, YMax * 2, -YMax, YMax, 0.5f, 10));
}

TEST(LookAtMatrix4f, PutsTheEyeAtTheOriginLookingDownMinusZ) {
  const TVector4f Eye = NewVector4f(1, 2, 3, 1), Target = NewVector4f(4, 2, -1, 1);
  const TVector4f Up = NewVector4f(0, 1, 0, 0);
  const TMatrix4f M = LookAtMatrix4f(Eye, Target, Up);
  ExpectVecNear(TransformPoint3f(Eye, M), NewVector3f(0, 0, 0), 1e-6f);
  ExpectVecNear(TransformPoint3f(Target, M), NewVector3f(0, 0, -5), 1e-5f);
  // A point above the eye stays above it; a point to the right of the view is at +X.
  ExpectVecNear(TransformPoint3f(NewVector4f(1, 3, 3, 1), M), NewVector3f(0, 1, 0), 1e-6f);
  ExpectVecNear(TransformPoint3f(Add3f(Eye, NewVector3f(0.8f, 0, 0.6f)), M), NewVector3f(1, 0, 0),
                1e-6f);
  EXPECT_EQ(M.W.W, 1.0f);
  EXPECT_EQ(M.X.W, 0.0f);
}

TEST(LookAtMatrix4f, IgnoresTheWComponentsOfItsInputs) {
  const TMatrix4f A =
      LookAtMatrix4f(NewVector4f(1, 2, 3, 1), NewVector4f(0, 0, 0, 1), NewVector4f(0, 1, 0, 0));
  const TMatrix4f B = LookAtMatrix4f(NewVector4f(1, 2, 3, -7), NewVector4f(0, 0, 0, kNaN),
                                     NewVector4f(0, 1, 0, 123));
  EXPECT_TRUE(SameBits(A, B));
}

// ---- 3-vectors ----------------------------------------------------------------------------------

TEST(Vector3f, OperationsOnExactValues) {
  const TVector3f A = NewVector3f(1, 2, 3), B = NewVector3f(-4, 5, 0.5f);
  EXPECT_TRUE(SameBits(Add3f(A, B), NewVector3f(-3, 7, 3.5f)));
  EXPECT_TRUE(SameBits(Sub3f(A, B), NewVector3f(5, -3, 2.5f)));
  EXPECT_EQ(Dot3f(A, B), 7.5f);
  EXPECT_TRUE(SameBits(Cross3f(A, B), NewVector3f(-14, -12.5f, 13)));
  EXPECT_TRUE(SameBits(Cross3f(NewVector3f(1, 0, 0), NewVector3f(0, 1, 0)), NewVector3f(0, 0, 1)));
  EXPECT_TRUE(SameBits(Lerp3f(A, B, 0.5f), NewVector3f(-1.5f, 3.5f, 1.75f)));
  EXPECT_TRUE(SameBits(Lerp3f(A, B, 2.0f), NewVector3f(-9, 8, -2)));  // not clamped
  EXPECT_EQ(Length3f(NewVector3f(2, 3, 6)), 7.0f);
  EXPECT_TRUE(SameBits(Negated3f(A), NewVector3f(-1, -2, -3)));
  EXPECT_TRUE(SameBits(Scaled3f(A, -2), NewVector3f(-2, -4, -6)));
  EXPECT_EQ(Distance3f(NewVector3f(1, 1, 1), NewVector3f(3, 4, 7)), 7.0f);
  EXPECT_EQ(DistanceSquared3f(NewVector3f(1, 1, 1), NewVector3f(3, 4, 7)), 49.0f);
}

TEST(Vector3f, AFourVectorStandsInWithItsWIgnored) {
  const TVector4f A4 = NewVector4f(1, 2, 3, 100), B4 = NewVector4f(-4, 5, 0.5f, -9);
  const TVector3f A = NewVector3f(1, 2, 3), B = NewVector3f(-4, 5, 0.5f);
  EXPECT_EQ(Dot3f(A4, B4), Dot3f(A, B));
  EXPECT_EQ(Dot3f(A4, B), Dot3f(A, B));
  EXPECT_TRUE(SameBits(Cross3f(A, B4), Cross3f(A, B)));
  EXPECT_TRUE(SameBits(Add3f(A4, B4), Add3f(A, B)));
  EXPECT_TRUE(SameBits(Sub3f(A4, B), Sub3f(A, B)));
  EXPECT_EQ(Length3f(A4), Length3f(A));
  EXPECT_EQ(Distance3f(A4, B4), Distance3f(A, B));
  EXPECT_TRUE(SameBits(ExtendVector3f(A, 7), NewVector4f(1, 2, 3, 7)));

  TVector4f Dst = NewVector4f(0, 0, 0, 42);
  CopyXYZ(A, Dst);
  EXPECT_TRUE(SameBits(Dst, NewVector4f(1, 2, 3, 42)));
  TVector4f N = NewVector4f(0, 3, 4, 9);
  NormalizeInPlace3f(N);
  EXPECT_NEAR(N.Y, 0.6f, 1e-7f);
  EXPECT_NEAR(N.Z, 0.8f, 1e-7f);
  EXPECT_EQ(N.W, 9.0f);
}

TEST(Normalized3f, OnlyAnExactlyZeroSquaredLengthIsCaught) {
  ExpectVecNear(Normalized3f(NewVector3f(0, -3, 4)), NewVector3f(0, -0.6f, 0.8f), 1e-7f);
  EXPECT_TRUE(SameBits(Normalized3f(NewVector3f(0, 0, 0)), NewVector3f(0, 0, 0)));
  // The squares underflow to 0, so this tiny non-zero vector becomes zero too.
  EXPECT_TRUE(SameBits(Normalized3f(NewVector3f(1e-30f, 0, 0)), NewVector3f(0, 0, 0)));
  // Smallest squares that survive: normalised, not zeroed.
  EXPECT_NEAR(Normalized3f(NewVector3f(1e-19f, 0, 0)).X, 1.0f, 1e-6f);
  TVector3f V = NewVector3f(0, 0, 0);
  NormalizeInPlace3f(V);
  EXPECT_TRUE(SameBits(V, NewVector3f(0, 0, 0)));
}

// ---- scalars ------------------------------------------------------------------------------------

TEST(ScalarHelpers, ClampRadiansAndTrunc) {
  struct Case {
    float Value, Min, Max, Expected;
  };
  for (const Case& C : {Case{5, 0, 1, 1}, Case{-5, 0, 1, 0}, Case{0.25f, 0, 1, 0.25f},
                        Case{2, 3, 1, 3}})  // Min wins when the bounds cross
    EXPECT_EQ(ClampSingle(C.Value, C.Min, C.Max), C.Expected) << C.Value;
  EXPECT_EQ(RadiansToDegrees(1.0f), 57.295780181884766f);
  EXPECT_NEAR(RadiansToDegrees(kPi), 180.0f, 1e-4f);
  EXPECT_EQ(TruncToFloat(2.7f), 2.0f);
  EXPECT_EQ(TruncToFloat(-2.7f), -2.0f);
  EXPECT_EQ(TruncToFloat(0.5f), 0.0f);
  EXPECT_EQ(TruncToFloat(3e9f), 3e9f);  // beyond the int range it stays a float
  EXPECT_EQ(TruncToFloat(-1e20f), -1e20f);
}

TEST(ScalarHelpers, ArcCosAndArcSinFollowTheirAtan2Forms) {
  struct Case {
    float X, Acos, Asin;
  };
  for (const Case& C : {Case{1, 0, kPi / 2}, Case{-1, kPi, -kPi / 2}, Case{0, kPi / 2, 0},
                        Case{0.5f, kPi / 3, kPi / 6}, Case{-0.5f, 2 * kPi / 3, -kPi / 6}}) {
    EXPECT_NEAR(ArcCosSingle(C.X), C.Acos, 1e-6f) << C.X;
    EXPECT_NEAR(ArcSinSingle(C.X), C.Asin, 1e-6f) << C.X;
  }
  // No clamping of the argument: outside [-1, 1] the square root yields NaN.
  EXPECT_TRUE(std::isnan(ArcCosSingle(1.0001f)));
  EXPECT_TRUE(std::isnan(ArcSinSingle(-1.5f)));
  EXPECT_EQ(ArcTan2Single(1, -1), std::atan2(1.0f, -1.0f));
}

// ---- quaternions --------------------------------------------------------------------------------

TEST(MulQuaternion, HamiltonProduct) {
  struct Case {
    TQuaternion A, B, Expected;
  };
  const Case Cases[] = {
      {Quat(1, 0, 0, 0), Quat(0, 1, 0, 0), Quat(0, 0, 1, 0)},   // i j = k
      {Quat(0, 1, 0, 0), Quat(1, 0, 0, 0), Quat(0, 0, -1, 0)},  // j i = -k
      {Quat(1, 0, 0, 0), Quat(1, 0, 0, 0), Quat(0, 0, 0, -1)},  // i i = -1
      {Quat(1, 2, 3, 4), Quat(5, 6, 7, 8), Quat(24, 48, 48, -6)},
      {Quat(1, 2, 3, 4), Quat(0, 0, 0, 1), Quat(1, 2, 3, 4)},
  };
  for (const Case& C : Cases) EXPECT_TRUE(SameBits(MulQuaternion(C.A, C.B), C.Expected));
}

TEST(UnitQuaternionToMatrix4f, RotatesRowVectorsAndDoesNotNormalise) {
  const float H = std::sqrt(0.5f);
  // 90 degrees about Z maps (1, 0, 0) to (0, 1, 0).
  ExpectVecNear(TransformPoint3f(NewVector3f(1, 0, 0), UnitQuaternionToMatrix4f(Quat(0, 0, H, H))),
                NewVector3f(0, 1, 0));
  // 120 degrees about (1, 1, 1) cycles the axes exactly: x -> y -> z -> x.
  const TMatrix4f Cycle = UnitQuaternionToMatrix4f(Quat(0.5f, 0.5f, 0.5f, 0.5f));
  EXPECT_TRUE(SameBits(Cycle, Mat({0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1})));
  // (1, 0, 0, 1) has length sqrt 2: taken as it is, its matrix is not a rotation.
  const TMatrix4f Raw = UnitQuaternionToMatrix4f(Quat(1, 0, 0, 1));
  EXPECT_TRUE(SameBits(Raw, Mat({1, 0, 0, 0, 0, -1, 2, 0, 0, -2, -1, 0, 0, 0, 0, 1})));
  // QuaternionToMatrix4f normalises a copy first: 90 degrees about X.
  ExpectMatNear(QuaternionToMatrix4f(Quat(1, 0, 0, 1)),
                Mat({1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1}));
  // Below the magnitude threshold the copy becomes the identity.
  EXPECT_TRUE(SameBits(QuaternionToMatrix4f(Quat(0, 0, 0, 0)), IdentityMatrix4f));
}

TEST(QuaternionMatrices, ProductOfQuaternionsIsTheReversedMatrixProduct) {
  const TQuaternion A = QuaternionFromAxisAngleDeg(NewVector3f(1, 2, 3), 40);
  const TQuaternion B = QuaternionFromAxisAngleDeg(NewVector3f(-2, 0.5f, 1), 75);
  // A (x) B turns by B first; with row vectors B's matrix comes first in the product.
  ExpectMatNear(UnitQuaternionToMatrix4f(MulQuaternion(A, B)),
                MulMatrix4f(UnitQuaternionToMatrix4f(B), UnitQuaternionToMatrix4f(A)));
  // A rotation matrix's inverse is its transpose.
  const TMatrix4f M = UnitQuaternionToMatrix4f(A);
  ExpectMatNear(InvertedMatrix4f(M), TransposedMatrix4f(M), 1e-6f);
}

TEST(NormalizeQuaternionInPlace, ScalesToUnitOrFallsBackToIdentity) {
  struct Case {
    TQuaternion In, Expected;
  };
  const Case Cases[] = {
      {Quat(3, 0, 4, 0), Quat(0.6f, 0, 0.8f, 0)},
      {Quat(0, 0, 0, -2), Quat(0, 0, 0, -1)},  // the sign is kept
      {Quat(0, 0, 0, 0), Quat(0, 0, 0, 1)},
      {Quat(1e-31f, 0, 0, 1e-31f), Quat(0, 0, 0, 1)},
      {Quat(kNaN, 0, 0, 1), Quat(0, 0, 0, 1)},  // a NaN magnitude fails the test too
  };
  for (const Case& C : Cases) {
    TQuaternion Q = C.In;
    NormalizeQuaternionInPlace(Q);
    ExpectQuatNear(Q, C.Expected, 1e-7f);
  }
}

TEST(SlerpQuaternion, EndsShortPathAndSignFlip) {
  const TQuaternion I = Quat(0, 0, 0, 1);
  const TQuaternion Z90 = QuaternionFromAxisAngleDeg(NewVector3f(0, 0, 1), 90);
  const TQuaternion Z45 = QuaternionFromAxisAngleDeg(NewVector3f(0, 0, 1), 45);
  const TQuaternion Z30 = QuaternionFromAxisAngleDeg(NewVector3f(0, 0, 1), 30);
  ExpectQuatNear(SlerpQuaternion(I, Z90, 0), I);
  ExpectQuatNear(SlerpQuaternion(I, Z90, 1), Z90);
  ExpectQuatNear(SlerpQuaternion(I, Z90, 0.5f), Z45);
  ExpectQuatNear(SlerpQuaternion(I, Z90, 1.0f / 3.0f), Z30);
  // -Z90 is the same rotation: the path is flipped to the short way and ends on +Z90.
  const TQuaternion NegZ90 = Quat(-Z90.ImagPart.X, -Z90.ImagPart.Y, -Z90.ImagPart.Z, -Z90.RealPart);
  ExpectQuatNear(SlerpQuaternion(I, NegZ90, 0.5f), Z45);
  ExpectQuatNear(SlerpQuaternion(I, NegZ90, 1), Z90);
  // A is normalised at T = 0; A with -A is A normalised for every T.
  const TQuaternion A = Quat(2, 0, 0, 2), AN = Quat(std::sqrt(0.5f), 0, 0, std::sqrt(0.5f));
  for (float T : {0.0f, 0.25f, 0.5f, 1.0f}) {
    ExpectQuatNear(SlerpQuaternion(A, Quat(-2, 0, 0, -2), T), AN);
    ExpectQuatNear(SlerpQuaternion(A, A, T), AN);  // equal ends take the linear branch
  }
}

TEST(QuaternionFromAxisAngleDeg, HalfAngleAboutTheNormalisedAxis) {
  const float H = std::sqrt(0.5f);
  ExpectQuatNear(QuaternionFromAxisAngleDeg(NewVector3f(0, 0, 2), 90), Quat(0, 0, H, H));
  ExpectQuatNear(QuaternionFromAxisAngleDeg(NewVector3f(3, 0, 0), 180), Quat(1, 0, 0, 0));
  ExpectQuatNear(QuaternionFromAxisAngleDeg(NewVector3f(0, 1, 0), -60),
                 Quat(0, -0.5f, 0, 0.8660254f));
  // A zero axis is divided by its zero length: NaN flows into the result.
  const TQuaternion Q = QuaternionFromAxisAngleDeg(NewVector3f(0, 0, 0), 90);
  EXPECT_TRUE(std::isnan(Q.ImagPart.X));
  EXPECT_FLOAT_EQ(Q.RealPart, H);
}

TEST(NoExtraGuards, DivisionByZeroFlowsIntoTheResult) {
  EXPECT_TRUE(std::isinf(PerspectiveMatrix4fDeg(60, 0, 1, 10).X.X));  // aspect 0
  EXPECT_TRUE(std::isinf(FrustumMatrix4f(-1, 1, -1, 1, 1, 1).Z.Z));   // near = far
  EXPECT_EQ(FrustumMatrix4f(1, 1, -1, 1, 1, 10).X.X, kInf);           // zero width
}

}  // namespace
