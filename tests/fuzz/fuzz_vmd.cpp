// Fuzz target: the VMD reader on arbitrary bytes (Exception is the only accepted failure), then
// every key curve a loaded motion holds, evaluated across the key span.
#include <cstdlib>

#include "formats/pmxlib.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

// Whatever the control bytes, a curve maps time in [0, 1] to a fraction in [0, 1]: the reader
// keeps control points inside the unit square.
void CheckCurve(const TBezierCurve& ACurve) {
  for (float T : {0.0f, 0.01f, 0.25f, 0.5f, 0.75f, 0.99f, 1.0f}) {
    const float Y = BezierFraction(ACurve, T);
    if (!(Y >= 0.0f && Y <= 1.0f)) std::abort();
  }
  if (BezierFraction(ACurve, 0.0f) != 0.0f || BezierFraction(ACurve, 1.0f) != 1.0f) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TVmd Vmd;
  try {
    Vmd.LoadFromBytes(FuzzBytes(AData, ASize));
  } catch (const Exception&) {
    return 0;
  }
  // Every key the document counts must be there, and the decoded names must be readable.
  auto Name = [](const char* AField, std::size_t ASize) {
    return DecodeVmdName({reinterpret_cast<const std::uint8_t*>(AField), ASize});
  };
  for (int i = 0; i < Vmd.MotionCount(); ++i) {
    const TVmdMotion& M = *Vmd.GetMotion(i);
    (void)Name(M.BoneName, sizeof(M.BoneName));
    for (int C = bcX; C <= bcRotation; ++C)
      CheckCurve(VmdBoneCurve(M, static_cast<TVmdBoneChannel>(C)));
  }
  for (int i = 0; i < Vmd.SkinMotionCount(); ++i)
    (void)Name(Vmd.GetSkinMotion(i)->MorphName, sizeof(TVmdSkinMotion::MorphName));
  std::uint32_t CameraFrames = 0;
  for (const TVmdCameraMotion& M : Vmd.CameraMotions()) {
    for (int C = ccX; C <= ccViewAngle; ++C)
      CheckCurve(VmdCameraCurve(M, static_cast<TVmdCameraChannel>(C)));
    if (M.FrameNum + 1u > CameraFrames) CameraFrames = M.FrameNum + 1u;
  }
  if (CameraFrames != Vmd.CameraFrameCount()) std::abort();
  TouchBytes(reinterpret_cast<const std::uint8_t*>(Vmd.LightMotions().data()),
             Vmd.LightMotions().size() * sizeof(TVmdLightMotion));
  TouchBytes(reinterpret_cast<const std::uint8_t*>(Vmd.SelfShadowMotions().data()),
             Vmd.SelfShadowMotions().size() * sizeof(TVmdSelfShadowMotion));
  for (const TVmdShowIKMotion& M : Vmd.ShowIKMotions())
    for (const TVmdIKState& S : M.IK) (void)Name(S.Name, sizeof(S.Name));
  return 0;
}
