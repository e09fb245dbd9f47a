// VMD motion reader.
#include "formats/Vmd.h"

#include <cstring>

#include "formats/FileBytes.h"

void TVmd::LoadFromFile(const std::string& AFileName) {
  const std::vector<uint8_t> Bytes = ReadFileBytes(AFileName);
  LoadFromBytes(Bytes);
}

void TVmd::LoadFromBytes(std::span<const uint8_t> ABytes) {
  TByteStream Stream(ABytes);
  LoadFromStream(Stream);
}

void TVmd::LoadFromStream(TByteStream& AStream) {
  FFrameCount = 0;
  FMotionList.clear();
  FSkinMotionList.clear();

  // The signature is the text up to the first NUL of its 30-byte field.
  char Signature[30];
  AStream.Read(Signature, sizeof(Signature));
  if (strnlen(Signature, sizeof(Signature)) != std::strlen(VmdSignature) ||
      std::memcmp(Signature, VmdSignature, std::strlen(VmdSignature)) != 0)
    throw Exception("未対応のヘッダ");
  AStream.Skip(20);  // model name

  const int32_t MotionCount = AStream.ReadI32();
  AStream.RequireElements(MotionCount, sizeof(TVmdMotion));
  FMotionList.resize(static_cast<size_t>(MotionCount));
  AStream.Read(FMotionList.data(), FMotionList.size() * sizeof(TVmdMotion));

  const int32_t SkinCount = AStream.ReadI32();
  AStream.RequireElements(SkinCount, sizeof(TVmdSkinMotion));
  FSkinMotionList.resize(static_cast<size_t>(SkinCount));
  AStream.Read(FSkinMotionList.data(), FSkinMotionList.size() * sizeof(TVmdSkinMotion));

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
}
