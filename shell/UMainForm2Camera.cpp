#include "shell/UMainForm2Camera.h"

#include <cmath>
#include <filesystem>

#include "character/UPmxController.h"
#include "shell/UMainForm2.h"

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

void ViewerAnglesOf(const TVec3f& AEye, const TVec3f& ATarget, float& AYaw, float& APitch) {
  // The walking view looks along (-cos p sin y, sin p, -cos p cos y) for yaw y and pitch p.
  const TVec3f D = (ATarget - AEye).Normalize();
  APitch = std::asin(std::fmax(-1.0f, std::fmin(1.0f, D.Y)));
  AYaw = std::atan2(-D.X, -D.Z);
}

// ---------------------------------------------------------------------------------------------
// TForm2: the camera track

void TForm2::LoadCamera(const TVmd* ACameraFile) {
  // Without a camera file the camera keys of any of the merged motions drive the camera.
  static const TVmd NoMotion;
  const TVmd& Motion = FMotion ? *FMotion : NoMotion;
  FCamera = TCameraMotion(ACameraFile ? ACameraFile->CameraMotions() : Motion.CameraMotions());
  // A camera track plays from the start; walking is a key away.
  FCameraOn = !FCamera.Empty();
}

bool TForm2::CameraPlaying() const {
  return FCameraOn && !FCamera.Empty() && !IsHeadsetMode();
}

void TForm2::UpdateCamera() {
  if (!CameraPlaying()) return;
  const std::uint32_t DanceFrames = FPmxController ? FPmxController->Core().FrameCount() : 0;
  FCameraPose = FCamera.Sample(
      CameraFrameAt(HeldMotionTime(FDanceTime, DanceFrames * kMotionFrameMilliseconds),
                    DanceFrames, FCamera.FrameCount()));
}

void TForm2::ToggleCamera() {
  if (FCamera.Empty() || IsHeadsetMode()) return;
  if (CameraPlaying()) {
    // Walking starts where the camera stands, looking where it looked.
    ViewerPosition = FCameraPose.Eye;
    ViewerAnglesOf(FCameraPose.Eye, FCameraPose.Target, ViewerYaw, ViewerPitch);
    FCameraOn = false;
  } else {
    FCameraOn = true;
  }
  // Mouse turns made meanwhile belong to neither.
  PendingYaw = PendingPitch = 0.0f;
}
