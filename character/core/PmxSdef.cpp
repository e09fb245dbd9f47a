// The rotation of an SDEF bone's skinning matrix (the rest of the SDEF math is inline in
// PmxSdef.h).
#include "character/core/PmxSdef.h"

#include <cmath>

TQuaternion SkinMatrixRotation(const TMatrix4f& AM) {
  auto E = [&AM](int ARow, int ACol) { return AM.V[4 * ARow + ACol]; };
  const float Trace = E(0, 0) + E(1, 1) + E(2, 2);
  float X, Y, Z, W;
  if (Trace >= E(0, 0) && Trace >= E(1, 1) && Trace >= E(2, 2)) {
    const float S = 2.0f * std::sqrt(1.0f + Trace);  // 4w
    W = 0.25f * S;
    X = (E(1, 2) - E(2, 1)) / S;
    Y = (E(2, 0) - E(0, 2)) / S;
    Z = (E(0, 1) - E(1, 0)) / S;
  } else if (E(0, 0) >= E(1, 1) && E(0, 0) >= E(2, 2)) {
    const float S = 2.0f * std::sqrt(1.0f + E(0, 0) - E(1, 1) - E(2, 2));  // 4x
    X = 0.25f * S;
    W = (E(1, 2) - E(2, 1)) / S;
    Y = (E(0, 1) + E(1, 0)) / S;
    Z = (E(0, 2) + E(2, 0)) / S;
  } else if (E(1, 1) >= E(2, 2)) {
    const float S = 2.0f * std::sqrt(1.0f - E(0, 0) + E(1, 1) - E(2, 2));  // 4y
    Y = 0.25f * S;
    W = (E(2, 0) - E(0, 2)) / S;
    X = (E(0, 1) + E(1, 0)) / S;
    Z = (E(1, 2) + E(2, 1)) / S;
  } else {
    const float S = 2.0f * std::sqrt(1.0f - E(0, 0) - E(1, 1) + E(2, 2));  // 4z
    Z = 0.25f * S;
    W = (E(0, 1) - E(1, 0)) / S;
    X = (E(0, 2) + E(2, 0)) / S;
    Y = (E(1, 2) + E(2, 1)) / S;
  }
  TQuaternion Q{{{X, Y, Z}}, W};
  NormalizeQuaternionInPlace(Q);
  return Q;
}
