// Easing curves of motion keys.
#include "math/BezierCurve.h"

#include <cmath>

TBezierCurve BezierFromBytes(uint8_t AX1, uint8_t AY1, uint8_t AX2, uint8_t AY2) {
  return TBezierCurve{AX1 / 127.0f, AY1 / 127.0f, AX2 / 127.0f, AY2 / 127.0f};
}

namespace {

// One coordinate of the curve, 3 (1-s)^2 s A + 3 (1-s) s^2 B + s^3, as a polynomial in s
// (Horner's scheme: a short chain of operations per step of the solver).
struct TCubic {
  double A, B, C;  // ((A s + B) s + C) s
  TCubic(double AFirst, double ASecond)
      : A(1.0 + 3.0 * AFirst - 3.0 * ASecond), B(3.0 * ASecond - 6.0 * AFirst), C(3.0 * AFirst) {}
  double At(double S) const { return ((A * S + B) * S + C) * S; }
  double Slope(double S) const { return (3.0 * A * S + 2.0 * B) * S + C; }
};

}  // namespace

// Newton's method inside a bracket that shrinks every step, falling back to bisection where a
// Newton step would leave it (flat spots of x(s) at control points 0 or 1): converges in a few
// steps for ordinary curves and never fails for degenerate ones. It stops once a step is below
// 1e-7: a Newton step that short leaves s exact to double precision where x(s) is steep, and
// where x(s) is flat (slow convergence) s is off by about one step, y by a few times 1e-7.
float BezierFraction(const TBezierCurve& ACurve, float AT) {
  if (IsLinearBezier(ACurve) || !(AT > 0.0f && AT < 1.0f)) return AT;
  const TCubic X(ACurve.X1, ACurve.X2);
  const double T = AT;
  double Lo = 0.0, Hi = 1.0, S = T;
  for (int I = 0; I < 64; ++I) {
    const double Err = X.At(S) - T;
    if (Err == 0.0) break;
    if (Err > 0.0)
      Hi = S;
    else
      Lo = S;
    if (Hi - Lo < 1e-15) break;
    const double Slope = X.Slope(S);
    double Next = Slope > 0.0 ? S - Err / Slope : Lo - 1.0;
    if (!(Next > Lo && Next < Hi)) Next = 0.5 * (Lo + Hi);
    const bool Settled = std::fabs(Next - S) < 1e-7;
    S = Next;
    if (Settled) break;
  }
  return static_cast<float>(TCubic(ACurve.Y1, ACurve.Y2).At(S));
}
