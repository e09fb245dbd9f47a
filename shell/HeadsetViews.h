// The headset outputs' window-free parts: the monitor that shows the headset, one eye's camera
// from the tracked pose, and the point between the eyes. Part of the shell; depends on the vector
// math and the runtime's records (hmd/runtime).
#pragma once

#include <string>
#include <vector>

#include "hmd/runtime/hmd_runtime.h"
#include "math/VectorMath.h"
#include "math/VectorTypes.h"

// The runtime's near and far planes of an eye's projection.
inline constexpr float kHeadsetZNear = 0.01f;
inline constexpr float kHeadsetZFar = 10000.0f;
// The bordered window size the full-screen toggle returns to.
inline constexpr int kWindowedClientWidth = 800;
inline constexpr int kWindowedClientHeight = 480;

// Index of the monitor that shows the headset's picture: the last monitor, in the given order,
// whose name occurs in the display device name (case-sensitive; an empty name never matches);
// -1 when none does.
int MatchHeadsetMonitor(const std::string& ADisplayDeviceName,
                        const std::vector<std::string>& AMonitorNames);

inline TQuaternion ToQuaternion(const hmdQuatf& AQ) {
  return TQuaternion{{{AQ.x, AQ.y, AQ.z}}, AQ.w};
}
inline TVec3f ToVec3f(const hmdVector3f& AV) {
  return TVec3f(AV.x, AV.y, AV.z);
}

// The runtime's projection (column vectors) turned into this program's row-vector convention.
TMatrix4f HeadsetProjection(const hmdFovPort& AFov);

// Where one eye is and where it looks: the body turn of the viewer's yaw and pitch, the head's
// rotation applied before it; the tracked head position turned by the body only, the eye's offset
// from the head centre by both.
struct THeadsetEyeCamera {
  TVec3f Eye;
  TVec3f Forward;
  TVec3f Up;
};
THeadsetEyeCamera HeadsetEyeCamera(float AYaw, float APitch, const TVec3f& APosition,
                                   const hmdPosef& APose, const hmdVector3f& AViewAdjust);

// The point between the viewer's eyes in scene coordinates: the midpoint of both tracked eye
// positions, turned by the viewer's yaw and pitch, plus the viewer's position.
TVec3f HeadsetFacePoint(float AYaw, float APitch, const TVec3f& APosition, const hmdPosef& ALeft,
                        const hmdPosef& ARight);
