// TBezierCurve: the easing curve of a motion key, a cubic Bézier from (0, 0) to (1, 1) with two
// control points. Evaluated as y at a given x, so that time (x) maps to the fraction of the way
// (y). Depends on nothing.
#pragma once

#include <cstdint>

struct TBezierCurve {
  float X1 = 0.0f, Y1 = 0.0f, X2 = 1.0f, Y2 = 1.0f;
};

// A curve from four control bytes 0..127 (value = byte / 127), as motion files store them.
TBezierCurve BezierFromBytes(uint8_t AX1, uint8_t AY1, uint8_t AX2, uint8_t AY2);

// Control points on the diagonal: the curve is the straight line, y = x.
inline bool IsLinearBezier(const TBezierCurve& C) {
  return C.X1 == C.Y1 && C.X2 == C.Y2;
}

// y(s) where x(s) = AT, for AT in [0, 1]: exactly AT for a linear curve, exactly 0 and 1 at the
// ends; values outside [0, 1] (and NaN) are passed through unchanged. x(s) never decreases for
// control points inside the unit square, so the root is unique.
float BezierFraction(const TBezierCurve& ACurve, float AT);
