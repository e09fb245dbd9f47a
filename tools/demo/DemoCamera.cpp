// The default dance's camera: a shot every one to two seconds that circles her, goes close for the
// wave and the wink and high for the turn, with two cuts. Each shot is written down as where the
// eye stands and what it looks at, and turned into the file's target, distance and angles here.
#include <cmath>

#include "tools/demo/DemoCharacter.h"

namespace {

constexpr float kPi = 3.14159265358979f;

struct TShot {
  uint32_t Frame;
  float Yaw;     // degrees around her, 0 in front, positive towards her left (+X)
  float Height;  // eye height, metres
  float Across;  // horizontal distance from the target, metres
  float LookAt;  // target height, metres
  uint32_t Fov;  // vertical view angle, degrees
};

// Frames one apart are a cut: the first ends a shot, the second starts the next one.
constexpr TShot kShots[] = {
    {0, 0, 1.35f, 4.0f, 1.0f, 30},       // the whole figure from the front
    {45, 30, 1.1f, 3.4f, 0.85f, 32},     // her left, low: the knee lifts
    {90, -25, 0.6f, 3.2f, 0.85f, 36},    // from below on her right
    {119, -35, 0.7f, 3.0f, 0.9f, 36},    // ...drifting on
    {120, 5, 1.45f, 2.4f, 1.3f, 32},     // cut: the upper body, arms over the head
    {150, -10, 1.45f, 2.0f, 1.35f, 25},  // close for the wink
    {180, -40, 1.5f, 3.0f, 1.15f, 30},
    {225, -75, 1.7f, 3.8f, 1.0f, 32},  // her right side
    {239, -80, 1.75f, 3.9f, 1.0f, 32},
    {240, 20, 2.9f, 3.9f, 0.9f, 35},  // cut: high in front for the turn
    {285, 50, 2.4f, 4.2f, 0.95f, 35},
    {315, 35, 1.6f, 3.8f, 1.0f, 32},
    {kDemoMotionFrames, 0, 1.35f, 4.0f, 1.0f, 30},  // back to the start for the loop
};

}  // namespace

TVmdBuilder BuildDemoCamera() {
  TVmdBuilder M;
  M.ModelName = "カメラ・照明";
  for (const TShot& S : kShots) {
    // The key's angles are the view's: the camera turns by their negatives, so a positive pitch
    // looks down from above and a positive yaw puts the eye towards -X, her right. The eye stands
    // at Target + Distance (-sin yaw cos pitch, sin pitch, cos yaw cos pitch).
    const float Yaw = -S.Yaw * kPi / 180.0f;
    const float Rise = S.Height - S.LookAt;
    const float Distance = std::hypot(S.Across, Rise);
    const float Pitch = std::asin(Rise / Distance);
    const int I = M.AddCameraKey(S.Frame, TVector3f{{0.0f, S.LookAt, kDemoStandZ}}, Distance,
                                 TVector3f{{Pitch, Yaw, 0.0f}}, S.Fov);
    // Every channel eases in and out a little, so the camera settles at each key.
    for (TVmdCameraChannel C : {ccX, ccY, ccZ, ccRotation, ccDistance, ccViewAngle})
      SetVmdCameraCurve(M.CameraMotions[I], C, 40, 15, 87, 112);
  }
  return M;
}
