#include "shell/HeadsetViews.h"

#include <cstring>

#include "math/VectorGeometry.h"

int MatchHeadsetMonitor(const std::string& ADisplayDeviceName,
                        const std::vector<std::string>& AMonitorNames) {
  int Result = -1;
  // No early exit: when several names occur, the last one wins.
  for (std::size_t I = 0; I < AMonitorNames.size(); ++I) {
    const std::string& Name = AMonitorNames[I];
    if (!Name.empty() && ADisplayDeviceName.find(Name) != std::string::npos)
      Result = static_cast<int>(I);
  }
  return Result;
}

TMatrix4f HeadsetProjection(const hmdFovPort& AFov) {
  const hmdMatrix4f Runtime = hmdMatrix4f_Projection(AFov, kHeadsetZNear, kHeadsetZFar, hmdTrue);
  // The runtime's rows for column vectors, copied float for float, are this program's columns.
  TMatrix4f M;
  static_assert(sizeof(Runtime.M) == sizeof(M.V));
  std::memcpy(M.V, Runtime.M, sizeof(M.V));
  return TransposedMatrix4f(M);
}

THeadsetEyeCamera HeadsetEyeCamera(float AYaw, float APitch, const TVec3f& APosition,
                                   const hmdPosef& APose, const hmdVector3f& AViewAdjust) {
  const TMatrix4f Body = UnitQuaternionToMatrix4f(QuaternionFromEulerYXZ(AYaw, APitch, 0.0f));
  const TMatrix4f Head = UnitQuaternionToMatrix4f(ToQuaternion(APose.Orientation));
  // The head's rotation first, then the viewer's.
  const TMatrix4f R = MulMatrix4f(Head, Body);
  THeadsetEyeCamera Camera;
  Camera.Up = TransformPoint3f(TVec3f(0.0f, 1.0f, 0.0f), R);
  Camera.Forward = TransformPoint3f(TVec3f(0.0f, 0.0f, -1.0f), R);
  Camera.Eye = APosition + TransformPoint3f(ToVec3f(APose.Position), Body) +
               TransformPoint3f(ToVec3f(AViewAdjust), R);
  return Camera;
}

TVec3f HeadsetFacePoint(float AYaw, float APitch, const TVec3f& APosition, const hmdPosef& ALeft,
                        const hmdPosef& ARight) {
  const TVec3f Between = ToVec3f(ALeft.Position).Lerp(ToVec3f(ARight.Position), 0.5f);
  return RotateVectorByQuaternion(Between, QuaternionFromEulerYXZ(AYaw, APitch, 0.0f)) + APosition;
}
