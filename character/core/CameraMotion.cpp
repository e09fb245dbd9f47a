#include "character/core/CameraMotion.h"

#include <algorithm>

namespace {

// A at 0 and B at 1 exactly, the straight line between otherwise.
float LerpExact(float A, float B, float T) {
  if (T == 0.0f) return A;
  if (T == 1.0f) return B;
  return A + (B - A) * T;
}

float ChannelFraction(const TVmdCameraMotion& AKey, TVmdCameraChannel AChannel, float AT) {
  return BezierFraction(VmdCameraCurve(AKey, AChannel), AT);
}

TCameraPose PoseOfKey(const TVmdCameraMotion& AKey) {
  // Copies first: the record's fields are unaligned.
  const TVector3f Target = AKey.Target, Rotation = AKey.Rotation;
  return CameraPoseOf(Target, AKey.Distance, Rotation, static_cast<float>(AKey.ViewAngle));
}

}  // namespace

// The angles are those of the view, which turns the world in front of the camera: the camera
// itself turns the opposite way (a positive pitch looks down from above the target, a positive yaw
// moves the eye towards -X). Roll first, then pitch, then yaw.
TCameraPose CameraPoseOf(const TVector3f& ATarget, float ADistance, const TVector3f& ARotation,
                         float AFovY) {
  const TQuaternion R = QuaternionFromEulerYXZ(-ARotation.Y, -ARotation.X, -ARotation.Z);
  TCameraPose Pose;
  Pose.Target = TVec3f(ATarget);
  Pose.Eye = Pose.Target + RotateVectorByQuaternion(TVec3f(0.0f, 0.0f, ADistance), R);
  Pose.Up = RotateVectorByQuaternion(TVec3f(0.0f, 1.0f, 0.0f), R);
  Pose.FovY = AFovY;
  return Pose;
}

TCameraMotion::TCameraMotion(const std::vector<TVmdCameraMotion>& AKeys) : FKeys(AKeys) {
  std::stable_sort(
      FKeys.begin(), FKeys.end(),
      [](const TVmdCameraMotion& A, const TVmdCameraMotion& B) { return A.FrameNum < B.FrameNum; });
  // Unsigned arithmetic, as the motion's own frame count.
  for (const TVmdCameraMotion& K : FKeys)
    if (K.FrameNum + 1u > FFrameCount) FFrameCount = K.FrameNum + 1u;
}

TCameraPose TCameraMotion::Sample(double AFrame) const {
  if (FKeys.empty()) {
    // No track: the authoring tools' starting camera, a standing model seen from the front.
    return CameraPoseOf(TVector3f{{0.0f, 1.0f, 0.0f}}, 4.5f, TVector3f{{0.0f, 0.0f, 0.0f}}, 30.0f);
  }
  if (AFrame <= static_cast<double>(FKeys.front().FrameNum)) return PoseOfKey(FKeys.front());
  if (AFrame > static_cast<double>(FKeys.back().FrameNum)) return PoseOfKey(FKeys.back());

  // K: the first key at or after AFrame; P the one before it, so P.frame < AFrame <= K.frame.
  const auto It = std::lower_bound(FKeys.begin(), FKeys.end(), AFrame,
                                   [](const TVmdCameraMotion& AKey, double AF) {
                                     return static_cast<double>(AKey.FrameNum) < AF;
                                   });
  const TVmdCameraMotion& K = *It;
  const TVmdCameraMotion& P = *(It - 1);
  const double PrevFrame = P.FrameNum, NextFrame = K.FrameNum;
  if (AFrame == NextFrame) return PoseOfKey(K);
  // Keys on neighbouring frames are a cut: no blended view between them.
  if (NextFrame - PrevFrame == 1.0) return PoseOfKey(P);

  const float T = static_cast<float>((AFrame - PrevFrame) / (NextFrame - PrevFrame));
  const TVector3f PT = P.Target, KT = K.Target, PR = P.Rotation, KR = K.Rotation;
  const TVector3f Target{{LerpExact(PT.X, KT.X, ChannelFraction(K, ccX, T)),
                          LerpExact(PT.Y, KT.Y, ChannelFraction(K, ccY, T)),
                          LerpExact(PT.Z, KT.Z, ChannelFraction(K, ccZ, T))}};
  // The angles are blended one by one, not as a rotation: a key may turn more than half a turn.
  const float RF = ChannelFraction(K, ccRotation, T);
  const TVector3f Rotation{
      {LerpExact(PR.X, KR.X, RF), LerpExact(PR.Y, KR.Y, RF), LerpExact(PR.Z, KR.Z, RF)}};
  const float Distance = LerpExact(P.Distance, K.Distance, ChannelFraction(K, ccDistance, T));
  const float FovY = LerpExact(static_cast<float>(P.ViewAngle), static_cast<float>(K.ViewAngle),
                               ChannelFraction(K, ccViewAngle, T));
  return CameraPoseOf(Target, Distance, Rotation, FovY);
}
