// SceneCamera: which frame of a motion's camera track the dance's clock shows, so that the camera
// and the dance loop together. Part of the scene; depends on the standard library only.
#pragma once

#include <cstdint>

// The camera file beside the motion; without it the motion's own camera keys are used.
inline constexpr const char* kDefaultCameraFileName = "camera.vmd";

// The camera frame at AElapsedMilliseconds of the dance's clock (30 frames per second, as the
// motion is sampled), wrapped by the dance's frame count so that camera and dance loop together;
// by the camera's own frame count when the dance has no keys. 0 when both counts are 0.
double CameraFrameAt(double AElapsedMilliseconds, std::uint32_t ADanceFrames,
                     std::uint32_t ACameraFrames);
