// TCameraMotion: a motion's camera track, sampled by frame into an eye, a target, an up vector and
// a vertical field of view in the system's frame. GL-free; the shell turns a sample into its view
// and projection. Depends on formats/pmxlib.h (the camera key records) and the vector math.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/pmxlib.h"
#include "math/VectorMath.h"
#include "math/VectorTypes.h"

// One sampled camera: where it stands, what it looks at, which way is up, how wide it sees.
struct TCameraPose {
  TVec3f Eye;
  TVec3f Target;
  TVec3f Up;
  float FovY = 45.0f;  // vertical, degrees
};

// The camera of a target, a distance and Euler angles (radians, system frame): the eye stands
// ADistance along the rotated +Z from the target (a file's negative distance puts it in front).
// The angles are the view's, so the camera turns by their negatives: roll first, then pitch, then
// yaw (a positive pitch looks down from above the target).
TCameraPose CameraPoseOf(const TVector3f& ATarget, float ADistance, const TVector3f& ARotation,
                         float AFovY);

class TCameraMotion {
 public:
  TCameraMotion() = default;
  // Copies the keys and orders them by frame (keys on the same frame keep their file order).
  explicit TCameraMotion(const std::vector<TVmdCameraMotion>& AKeys);

  bool Empty() const { return FKeys.empty(); }
  // One more than the highest key frame; 0 without keys.
  uint32_t FrameCount() const { return FFrameCount; }
  // The camera at AFrame, not wrapped: before the first key the first key's camera, after the
  // last the last one's. Between two keys each channel follows the later key's curve; keys one
  // frame apart are a cut, held until the later key's frame.
  TCameraPose Sample(double AFrame) const;

 private:
  std::vector<TVmdCameraMotion> FKeys;
  uint32_t FFrameCount = 0;
};
