#include "scene/SceneCamera.h"

#include <cmath>

double CameraFrameAt(double AElapsedMilliseconds, std::uint32_t ADanceFrames,
                     std::uint32_t ACameraFrames) {
  const std::uint32_t Count = ADanceFrames != 0 ? ADanceFrames : ACameraFrames;
  if (Count == 0) return 0.0;
  // 100/3 ms per frame at extended precision, wrapped like the motion's own frame.
  const double Frame =
      static_cast<double>(static_cast<long double>(AElapsedMilliseconds) / (100.0L / 3.0L));
  const double N = static_cast<double>(Count);
  return Frame - N * std::trunc(Frame / N);
}
