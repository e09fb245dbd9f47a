#include "render/ShadowFit.h"

#include <algorithm>
#include <cmath>

#include "math/VectorGeometry.h"

namespace {

// The least and the greatest slope (offset / depth) of the points of a sphere seen from the
// light, along one side axis: AOffset is its centre's offset on that axis, ADepth the centre's
// depth; the sphere must lie ahead of the light (ADepth - ARadius > 0). The box of the sphere
// gives bounds that are safe: the least offset over the least depth when it is negative, over
// the greatest when it is positive, and the same for the greatest.
void SlopeRange(float AOffset, float ADepth, float ARadius, float& AMin, float& AMax) {
  const float Low = AOffset - ARadius, High = AOffset + ARadius;
  AMin = Low / (Low < 0 ? ADepth - ARadius : ADepth + ARadius);
  AMax = High / (High > 0 ? ADepth - ARadius : ADepth + ARadius);
}

}  // namespace

void TShadowFit::AddCaster(const TVector3f& AWorldCentre, float ARadius) {
  const TVector3f C = TransformPoint3f(AWorldCentre, FLightView);
  const float Depth = -C.Z;
  if (Depth - ARadius < kMinNear) {
    FBehind = true;
    return;
  }
  float XMin, XMax, YMin, YMax;
  SlopeRange(C.X, Depth, ARadius, XMin, XMax);
  SlopeRange(C.Y, Depth, ARadius, YMin, YMax);
  if (FCasters++ == 0) {
    FLeft = XMin, FRight = XMax, FBottom = YMin, FTop = YMax;
    FNear = Depth - ARadius;
    FFar = std::max(FFar, Depth + ARadius);
    return;
  }
  FLeft = std::min(FLeft, XMin), FRight = std::max(FRight, XMax);
  FBottom = std::min(FBottom, YMin), FTop = std::max(FTop, YMax);
  FNear = std::min(FNear, Depth - ARadius);
  FFar = std::max(FFar, Depth + ARadius);
}

void TShadowFit::AddReceiver(const TVector3f& AWorldCentre, float ARadius) {
  const TVector3f C = TransformPoint3f(AWorldCentre, FLightView);
  FFar = std::max(FFar, -C.Z + ARadius);
}

bool TShadowFit::Fit(TLightFrustum& AOut) const {
  if (FCasters == 0 || FBehind) return false;
  // A little room on every side: the shadow lookup blends neighbouring texels, and a caster's
  // silhouette must not touch the map's edge.
  const float MarginX = 0.02f * (FRight - FLeft) + 1e-4f;
  const float MarginY = 0.02f * (FTop - FBottom) + 1e-4f;
  AOut.Left = FLeft - MarginX, AOut.Right = FRight + MarginX;
  AOut.Bottom = FBottom - MarginY, AOut.Top = FTop + MarginY;
  AOut.Near = std::max(kMinNear, 0.98f * FNear);
  // A receiver beyond the far plane would read as shadowed: the far depth goes past them all.
  AOut.Far = std::max(1.02f * FFar, AOut.Near + 0.01f);
  // The window and the depth range move and grow in steps (a power of two near an eighth of their
  // size), not with every swing of a tail: the shadow's texels and depths stay where they were, so
  // its edges do not shimmer and a body that stands still keeps exactly its shading.
  auto Snap = [](float& ALow, float& AHigh) {
    const float Step = std::exp2(std::ceil(std::log2((AHigh - ALow) / 8.0f)));
    ALow = std::floor(ALow / Step) * Step;
    AHigh = std::ceil(AHigh / Step) * Step;
  };
  Snap(AOut.Left, AOut.Right);
  Snap(AOut.Bottom, AOut.Top);
  const float Near = AOut.Near;
  Snap(AOut.Near, AOut.Far);
  if (AOut.Near < kMinNear) AOut.Near = std::max(kMinNear, 0.5f * Near);
  return true;
}
