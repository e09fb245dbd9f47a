// VMD motion reader.
#include "formats/Vmd.h"

#include <algorithm>
#include <cstring>

#include "formats/FileBytes.h"
#include "formats/ReaderMessages.h"

namespace {

// Control bytes are 0..127; anything above would put a control point outside the unit square,
// where the curve could leave [0, 1] and its time axis could run backwards. Clamp instead.
inline uint8_t ControlByte(uint8_t AByte) {
  return std::min<uint8_t>(AByte, 127);
}

// Row 0's byte for one value of one channel: x1, y1, x2, y2 are 4 bytes apart.
enum TBoneCurveValue { bvX1 = 0, bvY1 = 4, bvX2 = 8, bvY2 = 12 };

// A fixed-size key list read in one block; the count is checked against the record size first.
template <class T>
void ReadKeyBlock(TByteStream& AStream, int64_t ACount, std::vector<T>& AList) {
  AStream.RequireElements(ACount, sizeof(T));
  AList.resize(static_cast<size_t>(ACount));
  AStream.Read(AList.data(), AList.size() * sizeof(T));
}

// Frame, show flag and entry count: the smallest show/IK key the file can hold.
constexpr size_t ShowIKKeyMinSize = 4 + 1 + 4;
// An IK bone name and its switch.
constexpr size_t IKStateSize = sizeof(TVmdIKState::Name) + 1;

}  // namespace

TBezierCurve VmdBoneCurve(const TVmdMotion& AKey, TVmdBoneChannel AChannel) {
  auto At = [&](int AValue) { return ControlByte(AKey.Interpolation[AValue + AChannel]); };
  // X1 of Z and R: row 1 holds row 0 shifted by one byte, so row 0's bytes 2 and 3 (which newer
  // files overwrite with flags) are repeated at 17 and 18.
  const uint8_t X1 =
      AChannel >= bcZ ? ControlByte(AKey.Interpolation[16 + AChannel - 1]) : At(bvX1);
  return BezierFromBytes(X1, At(bvY1), At(bvX2), At(bvY2));
}

void SetVmdBoneCurve(TVmdMotion& AKey, TVmdBoneChannel AChannel, uint8_t AX1, uint8_t AY1,
                     uint8_t AX2, uint8_t AY2) {
  const std::pair<int, uint8_t> Values[] = {{bvX1, AX1}, {bvY1, AY1}, {bvX2, AX2}, {bvY2, AY2}};
  for (int Row = 0; Row < 4; ++Row)
    for (const auto& [Offset, Byte] : Values) {
      const int Column = Offset + AChannel - Row;
      if (Column >= 0) AKey.Interpolation[16 * Row + Column] = Byte;
    }
}

void SetVmdLinearBoneCurves(TVmdMotion& AKey) {
  for (int I = 0; I < 64; ++I) AKey.Interpolation[I] = (I % 16) < 8 ? 20 : 107;
}

TBezierCurve VmdCameraCurve(const TVmdCameraMotion& AKey, TVmdCameraChannel AChannel) {
  const uint8_t* C = AKey.Interpolation + 4 * AChannel;
  return BezierFromBytes(ControlByte(C[0]), ControlByte(C[2]), ControlByte(C[1]),
                         ControlByte(C[3]));
}

void SetVmdCameraCurve(TVmdCameraMotion& AKey, TVmdCameraChannel AChannel, uint8_t AX1, uint8_t AY1,
                       uint8_t AX2, uint8_t AY2) {
  uint8_t* C = AKey.Interpolation + 4 * AChannel;
  C[0] = AX1;
  C[1] = AX2;
  C[2] = AY1;
  C[3] = AY2;
}

void TVmd::LoadFromFile(const std::string& AFileName) {
  const std::vector<uint8_t> Bytes = ReadFileBytes(AFileName);
  try {
    LoadFromBytes(Bytes);
  } catch (const Exception& E) {
    throw Exception(ReadFileErrorMessage(TReadFileRole::rfMotion, AFileName, E.what()));
  }
}

void TVmd::LoadFromBytes(std::span<const uint8_t> ABytes) {
  if (IsVpdText(ABytes)) {
    LoadFromPose(ReadVpd(ABytes));
    return;
  }
  TByteStream Stream(ABytes);
  LoadFromStream(Stream);
}

void TVmd::LoadFromPose(const TVpdPose& APose) {
  *this = TVmd();
  // A name field holds the name's first bytes, NUL padded, as in a motion file.
  auto SetName = [](char(&AField)[15], const std::string& AName) {
    std::memset(AField, 0, sizeof(AField));
    std::memcpy(AField, AName.data(), std::min(AName.size(), sizeof(AField)));
  };
  FMotionList.resize(APose.Bones.size());
  for (size_t I = 0; I < APose.Bones.size(); ++I) {
    TVmdMotion& M = FMotionList[I];
    M = TVmdMotion{};
    SetName(M.BoneName, APose.Bones[I].Name);
    M.Position = APose.Bones[I].Position;
    M.Rotation = APose.Bones[I].Rotation;
    SetVmdLinearBoneCurves(M);
  }
  FSkinMotionList.resize(APose.Morphs.size());
  for (size_t I = 0; I < APose.Morphs.size(); ++I) {
    TVmdSkinMotion& M = FSkinMotionList[I];
    M = TVmdSkinMotion{};
    SetName(M.MorphName, APose.Morphs[I].Name);
    M.Weight = APose.Morphs[I].Weight;
  }
  // Every key sits at frame 0.
  FFrameCount = FMotionList.empty() && FSkinMotionList.empty() ? 0 : 1;
}

uint32_t TVmd::CameraFrameCount() const {
  // Unsigned arithmetic, as FrameCount: a key at frame 0xFFFFFFFF does not raise the count.
  uint32_t Frames = 0;
  for (const TVmdCameraMotion& M : FCameraMotionList)
    if (M.FrameNum + 1u > Frames) Frames = M.FrameNum + 1u;
  return Frames;
}

void TVmd::Append(const TVmd& AOther) {
  auto Add = [](auto& AList, const auto& AMore) {
    AList.insert(AList.end(), AMore.begin(), AMore.end());
  };
  Add(FMotionList, AOther.FMotionList);
  Add(FSkinMotionList, AOther.FSkinMotionList);
  Add(FCameraMotionList, AOther.FCameraMotionList);
  Add(FLightMotionList, AOther.FLightMotionList);
  Add(FSelfShadowMotionList, AOther.FSelfShadowMotionList);
  Add(FShowIKMotionList, AOther.FShowIKMotionList);
  FFrameCount = std::max(FFrameCount, AOther.FFrameCount);
}

void TVmd::LoadFromStream(TByteStream& AStream) {
  FFrameCount = 0;
  FMotionList.clear();
  FSkinMotionList.clear();
  FCameraMotionList.clear();
  FLightMotionList.clear();
  FSelfShadowMotionList.clear();
  FShowIKMotionList.clear();

  // The signature is the text up to the first NUL of its 30-byte field.
  char Signature[30];
  AStream.Read(Signature, sizeof(Signature));
  if (strnlen(Signature, sizeof(Signature)) != std::strlen(VmdSignature) ||
      std::memcmp(Signature, VmdSignature, std::strlen(VmdSignature)) != 0)
    throw Exception("未対応のヘッダ");
  AStream.Skip(20);  // model name

  ReadKeyBlock(AStream, AStream.ReadI32(), FMotionList);
  ReadKeyBlock(AStream, AStream.ReadI32(), FSkinMotionList);

  // Each optional section is a count and its records; the file may end before any of them.
  if (AStream.Remaining() != 0) ReadKeyBlock(AStream, AStream.ReadU32(), FCameraMotionList);
  if (AStream.Remaining() != 0) ReadKeyBlock(AStream, AStream.ReadU32(), FLightMotionList);
  if (AStream.Remaining() != 0) ReadKeyBlock(AStream, AStream.ReadU32(), FSelfShadowMotionList);
  if (AStream.Remaining() != 0) {
    const uint32_t Count = AStream.ReadU32();
    AStream.RequireElements(Count, ShowIKKeyMinSize);
    FShowIKMotionList.resize(Count);
    for (TVmdShowIKMotion& M : FShowIKMotionList) {
      M.FrameNum = AStream.ReadU32();
      M.Show = AStream.ReadU8() != 0;
      const uint32_t IKCount = AStream.ReadU32();
      AStream.RequireElements(IKCount, IKStateSize);
      M.IK.resize(IKCount);
      for (TVmdIKState& S : M.IK) {
        AStream.Read(S.Name, sizeof(S.Name));
        S.Enabled = AStream.ReadU8() != 0;
      }
    }
  }

  // Unsigned arithmetic: a key at frame 0xFFFFFFFF wraps to 0 and does not raise the count.
  uint32_t Frames = 0;
  for (const TVmdMotion& M : FMotionList)
    if (M.FrameNum + 1u > Frames) Frames = M.FrameNum + 1u;
  for (const TVmdSkinMotion& M : FSkinMotionList)
    if (M.FrameNum + 1u > Frames) Frames = M.FrameNum + 1u;
  FFrameCount = Frames;

  for (TVmdMotion& M : FMotionList) {
    if (PositionScale != 1.0f) {
      M.Position.X *= PositionScale;
      M.Position.Y *= PositionScale;
      M.Position.Z *= PositionScale;
    }
    if (MirrorZ) {
      M.Position.Z = -M.Position.Z;
      M.Rotation.Z = -M.Rotation.Z;
      M.Rotation.W = -M.Rotation.W;
    }
  }
  for (TVmdCameraMotion& M : FCameraMotionList) {
    if (PositionScale != 1.0f) {
      M.Target.X *= PositionScale;
      M.Target.Y *= PositionScale;
      M.Target.Z *= PositionScale;
      M.Distance *= PositionScale;
    }
    // Mirroring Z moves the eye to the other side of the target along Z and turns rotations
    // about X and Y the other way; roll about Z keeps its sense.
    if (MirrorZ) {
      M.Target.Z = -M.Target.Z;
      M.Distance = -M.Distance;
      M.Rotation.X = -M.Rotation.X;
      M.Rotation.Y = -M.Rotation.Y;
    }
  }
  if (MirrorZ)
    for (TVmdLightMotion& M : FLightMotionList) M.Direction.Z = -M.Direction.Z;
}
