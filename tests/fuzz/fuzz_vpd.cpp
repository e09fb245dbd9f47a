// Fuzz target: the VPD pose reader on arbitrary bytes (Exception is the only accepted failure),
// then what a read pose promises: finite values, named bones and morphs, and the motion it reads
// as (through the motion reader's entry point) holding exactly its keys at frame 0.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "formats/pmxlib.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const std::span<const std::uint8_t> Bytes = FuzzBytes(AData, ASize);
  TVpdPose Pose;
  try {
    Pose = ReadVpd(Bytes);
  } catch (const Exception&) {
    return 0;
  }
  if (!IsVpdText(Bytes)) std::abort();
  for (const TVpdBone& B : Pose.Bones) {
    if (B.Name.empty()) std::abort();
    for (float V : B.Position.V)
      if (!std::isfinite(V)) std::abort();
    for (float V : B.Rotation.V)
      if (!std::isfinite(V)) std::abort();
  }
  for (const TVpdMorph& M : Pose.Morphs)
    if (M.Name.empty() || !std::isfinite(M.Weight)) std::abort();
  (void)Cp932ToUtf8(
      {reinterpret_cast<const std::uint8_t*>(Pose.ModelName.data()), Pose.ModelName.size()});

  TVmd Vmd;
  Vmd.LoadFromBytes(Bytes);  // the same text read again must not fail
  if (Vmd.MotionCount() != static_cast<int>(Pose.Bones.size()) ||
      Vmd.SkinMotionCount() != static_cast<int>(Pose.Morphs.size()))
    std::abort();
  if (Vmd.FrameCount() != (Pose.Bones.empty() && Pose.Morphs.empty() ? 0u : 1u)) std::abort();
  for (int I = 0; I < Vmd.MotionCount(); ++I) {
    const TVmdMotion& M = *Vmd.GetMotion(I);
    const TVpdBone& B = Pose.Bones[static_cast<size_t>(I)];
    const std::size_t Length = std::min<std::size_t>(B.Name.size(), sizeof(M.BoneName));
    if (M.FrameNum != 0 || std::memcmp(M.BoneName, B.Name.data(), Length) != 0) std::abort();
    const TVector4f R = M.Rotation;
    if (std::memcmp(&R, &B.Rotation, sizeof R) != 0) std::abort();
  }
  for (int I = 0; I < Vmd.SkinMotionCount(); ++I)
    if (Vmd.GetSkinMotion(I)->Weight != Pose.Morphs[static_cast<size_t>(I)].Weight) std::abort();
  return 0;
}
