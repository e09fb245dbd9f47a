// The viewer's camera playback, the parts that need no window: which frame of a motion's camera
// track the dance's clock shows, and the walking viewer's yaw and pitch that look along a camera's
// line of sight. Part of the UMainForm2 module; depends on the vector math only.
#pragma once

#include <cstdint>

#include "math/VectorMath.h"

// The camera file beside the motion; without it the motion's own camera keys are used.
inline constexpr const char* kDefaultCameraFileName = "camera.vmd";

// The camera frame at AElapsedMilliseconds of the dance's clock (30 frames per second, as the
// motion is sampled), wrapped by the dance's frame count so that camera and dance loop together;
// by the camera's own frame count when the dance has no keys. 0 when both counts are 0.
double CameraFrameAt(double AElapsedMilliseconds, std::uint32_t ADanceFrames,
                     std::uint32_t ACameraFrames);

// The yaw and pitch (radians) that make the walking viewer look from AEye towards ATarget (roll
// is lost: walking has none). Direction (0, 0, -1) is yaw 0, pitch 0.
void ViewerAnglesOf(const TVec3f& AEye, const TVec3f& ATarget, float& AYaw, float& APitch);
