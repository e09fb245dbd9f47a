#include "scene/SceneDescription.h"

#include <cmath>

#include "formats/PmxSettings.h"
#include "math/VectorGeometry.h"

TMatrix4f PlacementMatrix(const TModelPlacement& APlacement) {
  constexpr double kPi = 3.14159265358979323846;
  const double Half = APlacement.YawDegrees * kPi / 360.0;
  // A turn about Y in the file's frame; the Z mirror turns it the other way round.
  TQuaternion Turn{{{0.0f, static_cast<float>(std::sin(Half)), 0.0f}},
                   static_cast<float>(std::cos(Half))};
  if (MirrorZ) Turn.ImagPart.Y = -Turn.ImagPart.Y;
  TMatrix4f M = UnitQuaternionToMatrix4f(Turn);
  M.W = TVector4f{{APlacement.At[0] * PositionScale, APlacement.At[1] * PositionScale,
                   (MirrorZ ? -APlacement.At[2] : APlacement.At[2]) * PositionScale, 1.0f}};
  return M;
}
