// Easing curves of motion keys.
#include "math/BezierCurve.h"

#include <cmath>

TBezierCurve BezierFromBytes(uint8_t AX1, uint8_t AY1, uint8_t AX2, uint8_t AY2) {
  return TBezierCurve{AX1 / 127.0f, AY1 / 127.0f, AX2 / 127.0f, AY2 / 127.0f};
}

namespace {

// One coordinate of the curve at parameter S, for control values A (first) and B (second).
inline double Cubic(double A, double B, double S) {
  const double R = 1.0 - S;
  return 3.0 * R * R * S * A + 3.0 * R * S * S * B + S * S * S;
}
inline double CubicSlope(double A, double B, double S) {
  const double R = 1.0 - S;
  return 3.0 * R * R * A + 6.0 * R * S * (B - A) + 3.0 * S * S * (1.0 - B);
}

}  // namespace

// Newton's method inside a bracket that shrinks every step, falling back to bisection where a
// Newton step would leave it (flat spots of x(s) at control points 0 or 1): converges in a few
// steps for ordinary curves and never fails for degenerate ones.
float BezierFraction(const TBezierCurve& ACurve, float AT) {
  if (IsLinearBezier(ACurve) || !(AT > 0.0f && AT < 1.0f)) return AT;
  const double X1 = ACurve.X1, X2 = ACurve.X2, T = AT;
  double Lo = 0.0, Hi = 1.0, S = T;
  for (int I = 0; I < 64; ++I) {
    const double Err = Cubic(X1, X2, S) - T;
    if (Err == 0.0) break;
    if (Err > 0.0)
      Hi = S;
    else
      Lo = S;
    if (Hi - Lo < 1e-15) break;
    const double Slope = CubicSlope(X1, X2, S);
    double Next = Slope > 0.0 ? S - Err / Slope : Lo - 1.0;
    if (!(Next > Lo && Next < Hi)) Next = 0.5 * (Lo + Hi);
    const bool Settled = std::fabs(Next - S) < 1e-14;
    S = Next;
    if (Settled) break;
  }
  return static_cast<float>(Cubic(ACurve.Y1, ACurve.Y2, S));
}
