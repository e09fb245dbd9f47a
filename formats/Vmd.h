// TVmd: the VMD motion reader (bone and morph keyframes). Keys are read in one block per list
// straight into records laid out like the file; positions and rotations are converted into the
// system's frame. Depends on formats/PmxSettings.h, formats/ByteStream.h and math/VectorTypes.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/ByteStream.h"
#include "formats/PmxSettings.h"
#include "math/VectorTypes.h"

// The key records are packed: FrameNum and the vectors sit at unaligned offsets. Read and write
// them by value (`uint32_t F = Key->FrameNum; TVector3f P = Key->Position;`); do not bind
// references or pointers to these fields.
#pragma pack(push, 1)
// One bone keyframe, byte for byte the file's 111-byte record.
struct TVmdMotion {
  char BoneName[15];  // code page 932 bytes, up to the first NUL or all 15
  uint32_t FrameNum;
  TVector3f Position;  // translation from the rest position
  TVector4f Rotation;  // quaternion x, y, z, w
  uint8_t Interpolation[64];
};

// One morph keyframe, byte for byte the file's 23-byte record.
struct TVmdSkinMotion {
  char MorphName[15];  // code page 932 bytes, up to the first NUL or all 15
  uint32_t FrameNum;
  float Weight;
};
#pragma pack(pop)

static_assert(sizeof(TVmdMotion) == 111, "bone key must match the file's 111-byte record");
static_assert(sizeof(TVmdSkinMotion) == 23, "morph key must match the file's 23-byte record");
static_assert(sizeof(TVector3f) == 12 && sizeof(TVector4f) == 16);

using PVmdMotion = TVmdMotion*;
using PVmdSkinMotion = TVmdSkinMotion*;

// Signature text a supported motion file starts with (30-byte field, NUL padded).
inline constexpr const char* VmdSignature = "Vocaloid Motion Data 0002";

class TVmd {
 public:
  // Reads the whole file, then LoadFromStream on its bytes. Fails with the file layer's error
  // when the file cannot be read.
  void LoadFromFile(const std::string& AFileName);
  void LoadFromBytes(std::span<const uint8_t> ABytes);
  // Reads a motion from the stream's position; stops after the morph keyframes.
  void LoadFromStream(TByteStream& AStream);

  PVmdMotion GetMotion(int AIndex) { return &FMotionList[AIndex]; }
  PVmdSkinMotion GetSkinMotion(int AIndex) { return &FSkinMotionList[AIndex]; }
  const TVmdMotion* GetMotion(int AIndex) const { return &FMotionList[AIndex]; }
  const TVmdSkinMotion* GetSkinMotion(int AIndex) const { return &FSkinMotionList[AIndex]; }

  // One more than the highest key frame number; 0 without keys.
  uint32_t FrameCount() const { return FFrameCount; }
  int MotionCount() const { return static_cast<int>(FMotionList.size()); }
  int SkinMotionCount() const { return static_cast<int>(FSkinMotionList.size()); }

 private:
  uint32_t FFrameCount = 0;
  std::vector<TVmdMotion> FMotionList;
  std::vector<TVmdSkinMotion> FSkinMotionList;
};
