// TVmd: the VMD motion reader: bone and morph keyframes, then the optional camera, light,
// self-shadow and show/IK sections. Fixed-size keys are read in one block per list straight into
// records laid out like the file; positions, distances and rotations are converted into the
// system's frame. A VPD pose reads as a motion of one frame. Also the key curves' byte layouts.
// Depends on formats/PmxSettings.h, formats/Vpd.h, formats/ByteStream.h, math/VectorTypes.h and
// math/BezierCurve.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/ByteStream.h"
#include "formats/PmxSettings.h"
#include "formats/Vpd.h"
#include "math/BezierCurve.h"
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

// One camera keyframe, byte for byte the file's 61-byte record. The eye sits Distance from
// Target along the camera's rotated +Z (in the system's frame: a negative file distance, in front
// of the target, becomes a positive one behind the view direction after the Z mirror).
struct TVmdCameraMotion {
  uint32_t FrameNum;
  float Distance;      // scaled like positions; Z-mirrored
  TVector3f Target;    // scaled and Z-mirrored like bone positions
  TVector3f Rotation;  // Euler angles in radians: x pitch, y yaw, z roll; x and y negated (mirror)
  uint8_t Interpolation[24];  // six curves x1 x2 y1 y2: X, Y, Z, rotation, distance, view angle
  uint32_t ViewAngle;         // vertical field of view, degrees
  uint8_t Perspective;        // 0: perspective
};

// One light keyframe, the file's 28-byte record.
struct TVmdLightMotion {
  uint32_t FrameNum;
  TVector3f Color;      // 0..1 per channel
  TVector3f Direction;  // Z-mirrored, not scaled
};

// One self-shadow keyframe, the file's 9-byte record.
struct TVmdSelfShadowMotion {
  uint32_t FrameNum;
  uint8_t Mode;    // 0 off, 1 mode 1, 2 mode 2
  float Distance;  // the authoring tool's shadow range value, stored as read
};
#pragma pack(pop)

static_assert(sizeof(TVmdMotion) == 111, "bone key must match the file's 111-byte record");
static_assert(sizeof(TVmdSkinMotion) == 23, "morph key must match the file's 23-byte record");
static_assert(sizeof(TVmdCameraMotion) == 61, "camera key must match the file's 61-byte record");
static_assert(sizeof(TVmdLightMotion) == 28, "light key must match the file's 28-byte record");
static_assert(sizeof(TVmdSelfShadowMotion) == 9, "shadow key must match the file's 9-byte record");

// One IK bone's switch in a show/IK key.
struct TVmdIKState {
  char Name[20];  // code page 932 bytes, up to the first NUL or all 20
  bool Enabled;
};
// One show/IK keyframe (variable size in the file: frame, show, count, then 21 bytes per entry).
struct TVmdShowIKMotion {
  uint32_t FrameNum = 0;
  bool Show = true;
  std::vector<TVmdIKState> IK;
};

// The four curves of a bone key, in channel order.
enum TVmdBoneChannel { bcX = 0, bcY = 1, bcZ = 2, bcRotation = 3 };
// The six curves of a camera key, in file order.
enum TVmdCameraChannel {
  ccX = 0,
  ccY = 1,
  ccZ = 2,
  ccRotation = 3,
  ccDistance = 4,
  ccViewAngle = 5
};

// A bone key's curve for one channel. Row 0 of the 64-byte block holds X.x1 Y.x1 Z.x1 R.x1
// X.y1 ... R.y2; rows 1-3 repeat it shifted by one byte each. Newer files reuse row 0's bytes 2
// and 3 for flags, so Z.x1 and R.x1 are read from bytes 17 and 18, which all files agree on.
TBezierCurve VmdBoneCurve(const TVmdMotion& AKey, TVmdBoneChannel AChannel);
// Writes one channel's control bytes (0..127) in every row, as older authoring tools do.
void SetVmdBoneCurve(TVmdMotion& AKey, TVmdBoneChannel AChannel, uint8_t AX1, uint8_t AY1,
                     uint8_t AX2, uint8_t AY2);
// Straight-line curves on every channel (control points 20 and 107 in every row), as authoring
// tools write a key without easing.
void SetVmdLinearBoneCurves(TVmdMotion& AKey);
// A camera key's curve for one channel: four bytes x1 x2 y1 y2 at 4 * channel.
TBezierCurve VmdCameraCurve(const TVmdCameraMotion& AKey, TVmdCameraChannel AChannel);
void SetVmdCameraCurve(TVmdCameraMotion& AKey, TVmdCameraChannel AChannel, uint8_t AX1, uint8_t AY1,
                       uint8_t AX2, uint8_t AY2);
static_assert(sizeof(TVector3f) == 12 && sizeof(TVector4f) == 16);

using PVmdMotion = TVmdMotion*;
using PVmdSkinMotion = TVmdSkinMotion*;

// Signature text a supported motion file starts with (30-byte field, NUL padded).
inline constexpr const char* VmdSignature = "Vocaloid Motion Data 0002";

class TVmd {
 public:
  // Reads the whole file, then LoadFromStream on its bytes. Fails with the file layer's error
  // when the file cannot be read, otherwise with the reader's text in a message that names the
  // file and says what the text means (ReadFileErrorMessage).
  void LoadFromFile(const std::string& AFileName);
  // A VMD motion, or a VPD pose (text whose first line ends in "Pose Data file") read as the
  // motion it stands for (LoadFromPose).
  void LoadFromBytes(std::span<const uint8_t> ABytes);
  // A pose as a motion: one key at frame 0 per bone and morph it names, as a VMD with those keys
  // reads (names cut to the key's 15 bytes, straight-line curves); the pose's values are already
  // in the system's frame. Bones it does not name have no keys and stay at rest.
  void LoadFromPose(const TVpdPose& APose);
  // Reads a motion from the stream's position: the bone and morph keys, then each optional
  // section that follows (camera, light, self-shadow, show/IK). The data may end cleanly before
  // any optional section; a section that starts must be complete.
  void LoadFromStream(TByteStream& AStream);
  // Adds every key of AOther after this motion's own (a body and a facial motion are usually
  // separate files); the length becomes the longer of the two.
  void Append(const TVmd& AOther);

  PVmdMotion GetMotion(int AIndex) { return &FMotionList[AIndex]; }
  PVmdSkinMotion GetSkinMotion(int AIndex) { return &FSkinMotionList[AIndex]; }
  const TVmdMotion* GetMotion(int AIndex) const { return &FMotionList[AIndex]; }
  const TVmdSkinMotion* GetSkinMotion(int AIndex) const { return &FSkinMotionList[AIndex]; }

  // One more than the highest key frame number; 0 without keys.
  uint32_t FrameCount() const { return FFrameCount; }
  int MotionCount() const { return static_cast<int>(FMotionList.size()); }
  int SkinMotionCount() const { return static_cast<int>(FSkinMotionList.size()); }

  // The optional sections, in file order (empty when the file ends before them). Only bone and
  // morph keys count towards FrameCount, the length of the body's motion.
  const std::vector<TVmdCameraMotion>& CameraMotions() const { return FCameraMotionList; }
  const std::vector<TVmdLightMotion>& LightMotions() const { return FLightMotionList; }
  const std::vector<TVmdSelfShadowMotion>& SelfShadowMotions() const {
    return FSelfShadowMotionList;
  }
  const std::vector<TVmdShowIKMotion>& ShowIKMotions() const { return FShowIKMotionList; }
  // One more than the highest camera key frame number; 0 without camera keys.
  uint32_t CameraFrameCount() const;

 private:
  uint32_t FFrameCount = 0;
  std::vector<TVmdMotion> FMotionList;
  std::vector<TVmdSkinMotion> FSkinMotionList;
  std::vector<TVmdCameraMotion> FCameraMotionList;
  std::vector<TVmdLightMotion> FLightMotionList;
  std::vector<TVmdSelfShadowMotion> FSelfShadowMotionList;
  std::vector<TVmdShowIKMotion> FShowIKMotionList;
};
