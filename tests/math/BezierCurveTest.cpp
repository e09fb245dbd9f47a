// The key easing curve: linear curves give t exactly; eased curves match a long double
// evaluation made here by bisection, independently of the solver under test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "math/BezierCurve.h"

namespace {

struct TCurveBytes {
  uint8_t X1, Y1, X2, Y2;
};

long double Cubic(long double A, long double B, long double S) {
  const long double R = 1.0L - S;
  return 3.0L * R * R * S * A + 3.0L * R * S * S * B + S * S * S;
}

// y where x(s) = AT, control values byte / 127 in long double; x(s) never decreases for control
// points in the unit square, so halving the bracket on s finds the one root.
long double ReferenceFraction(const TCurveBytes& AC, long double AT) {
  const long double X1 = AC.X1 / 127.0L, X2 = AC.X2 / 127.0L;
  long double Lo = 0.0L, Hi = 1.0L;
  for (int I = 0; I < 200; ++I) {
    const long double Mid = 0.5L * (Lo + Hi);
    if (Cubic(X1, X2, Mid) < AT)
      Lo = Mid;
    else
      Hi = Mid;
  }
  return Cubic(AC.Y1 / 127.0L, AC.Y2 / 127.0L, 0.5L * (Lo + Hi));
}

// The same for the curve's own (float) control values: what the solver is given, so that only its
// own error and the final rounding to float remain.
long double ReferenceFraction(const TBezierCurve& AC, long double AT) {
  long double Lo = 0.0L, Hi = 1.0L;
  for (int I = 0; I < 200; ++I) {
    const long double Mid = 0.5L * (Lo + Hi);
    if (Cubic(AC.X1, AC.X2, Mid) < AT)
      Lo = Mid;
    else
      Hi = Mid;
  }
  return Cubic(AC.Y1, AC.Y2, 0.5L * (Lo + Hi));
}

const float Times[] = {0.0f, 1e-6f, 0.001f, 0.05f, 0.1f,  0.25f,   0.3333333f,
                       0.5f, 0.6f,  0.75f,  0.9f,  0.99f, 0.9999f, 1.0f};

}  // namespace

TEST(BezierCurve, ControlPointsOnTheDiagonalGiveTExactly) {
  const TCurveBytes Linear[] = {
      {20, 20, 107, 107},  // what authoring tools write for "linear"
      {0, 0, 127, 127},   {127, 127, 0, 0}, {64, 64, 64, 64}, {0, 0, 0, 0}, {127, 127, 127, 127},
  };
  for (const TCurveBytes& C : Linear) {
    const TBezierCurve Curve = BezierFromBytes(C.X1, C.Y1, C.X2, C.Y2);
    EXPECT_TRUE(IsLinearBezier(Curve));
    for (float T : Times) EXPECT_EQ(BezierFraction(Curve, T), T) << int(C.X1) << " " << T;
    for (int I = 0; I <= 1000; ++I) {
      const float T = I / 1000.0f;
      ASSERT_EQ(BezierFraction(Curve, T), T);
    }
  }
}

TEST(BezierCurve, EasedCurvesMatchAHighPrecisionEvaluation) {
  const TCurveBytes Eased[] = {
      {64, 0, 64, 127},    // ease in and out
      {127, 0, 0, 127},    // steepest ease in and out: x flat in the middle
      {0, 127, 127, 0},    // the opposite: fast start and end, flat middle
      {0, 0, 127, 0},      // x flat at s = 0, y flat at s = 1
      {127, 127, 127, 0},  // x flat at s = 1
      {10, 100, 30, 120},  // ease out
      {100, 5, 120, 40},   // ease in
      {64, 100, 64, 20},   // y overshoots back (non-monotonic y inside the square)
      {0, 127, 0, 127},    // x control points both 0
  };
  for (const TCurveBytes& C : Eased) {
    const TBezierCurve Curve = BezierFromBytes(C.X1, C.Y1, C.X2, C.Y2);
    EXPECT_FALSE(IsLinearBezier(Curve));
    for (float T : Times) {
      const float Expected = static_cast<float>(ReferenceFraction(C, T));
      EXPECT_NEAR(BezierFraction(Curve, T), Expected, 2e-6f)
          << int(C.X1) << " " << int(C.Y1) << " " << int(C.X2) << " " << int(C.Y2) << " at " << T;
    }
    // The ends are exact whatever the curve.
    EXPECT_EQ(BezierFraction(Curve, 0.0f), 0.0f);
    EXPECT_EQ(BezierFraction(Curve, 1.0f), 1.0f);
  }
}

// Random curves solved to the end: the result is the exact value rounded to float, give or take
// that rounding (half a float step near 1 is 2^-25). A quarter of the x control points sit at 0 or
// 127, where x(s) is flat at an end and the solver converges slowly, and a quarter of the times lie
// down to 1e-12 where that flat end matters; a solver that stops a little early misses there.
TEST(BezierCurve, RandomCurvesMatchTheExactValueToFloatRounding) {
  std::mt19937 Random(20240611);  // the engine's output is fixed by the standard
  auto Byte = [&] { return uint8_t(Random() % 128); };
  auto Unit = [&] { return float(Random() >> 8) / 16777216.0f; };  // [0, 1) in 2^-24 steps
  const float Tolerance = 4e-8f;
  int Checked = 0;
  for (int Curve = 0; Curve < 1500; ++Curve) {
    TCurveBytes C{Byte(), Byte(), Byte(), Byte()};
    for (uint8_t* X : {&C.X1, &C.X2})
      if (const unsigned Pick = Random() % 4; Pick < 2) *X = Pick == 0 ? 0 : 127;
    const TBezierCurve Eased = BezierFromBytes(C.X1, C.Y1, C.X2, C.Y2);
    if (IsLinearBezier(Eased)) continue;
    for (int K = 0; K < 40; ++K) {
      const unsigned Kind = Random() % 4;
      const float U = Unit();
      const float T = Kind < 2    ? U
                      : Kind == 2 ? std::pow(10.0f, -12.0f * U)
                                  : 1.0f - std::pow(10.0f, -7.0f * U);
      if (!(T > 0.0f && T < 1.0f)) continue;
      const long double Expected = ReferenceFraction(Eased, T);
      ASSERT_LE(std::fabs(BezierFraction(Eased, T) - Expected), Tolerance)
          << int(C.X1) << " " << int(C.Y1) << " " << int(C.X2) << " " << int(C.Y2) << " at " << T;
      ++Checked;
    }
  }
  EXPECT_GT(Checked, 50000);  // the draw really covered that many (curve, time) pairs
}

TEST(BezierCurve, KnownPointsOfSymmetricCurves) {
  // A curve symmetric about (1/2, 1/2) (x2 = 1 - x1, y2 = 1 - y1) passes through it, and
  // y(1 - t) = 1 - y(t).
  const TCurveBytes Symmetric[] = {{64, 0, 63, 127}, {127, 0, 0, 127}, {30, 90, 97, 37}};
  for (const TCurveBytes& C : Symmetric) {
    const TBezierCurve Curve = BezierFromBytes(C.X1, C.Y1, C.X2, C.Y2);
    EXPECT_NEAR(BezierFraction(Curve, 0.5f), 0.5f, 1e-6f);
    for (float T : {0.1f, 0.2f, 0.3f, 0.4f})
      EXPECT_NEAR(BezierFraction(Curve, T) + BezierFraction(Curve, 1.0f - T), 1.0f, 2e-6f);
  }
}

TEST(BezierCurve, TimesOutsideTheUnitIntervalPassThrough) {
  const TBezierCurve Eased = BezierFromBytes(64, 0, 64, 127);
  for (float T : {-0.5f, -1e-7f, 1.0000001f, 2.0f}) EXPECT_EQ(BezierFraction(Eased, T), T);
  EXPECT_TRUE(std::isnan(BezierFraction(Eased, std::numeric_limits<float>::quiet_NaN())));
}
