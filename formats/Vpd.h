// TVpdPose: the VPD pose reader. A pose is a Shift-JIS text: a signature line, the model's file
// name, a bone count, one block per bone (translation and quaternion) and, in newer files, any
// number of morph blocks (weight). Values are converted into the system's frame like VMD bone
// keys. Malformed text is rejected with its line number and what was expected there. Depends on
// formats/PmxSettings.h, math/Errors.h and math/VectorTypes.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "math/VectorTypes.h"

// The signature line ends with this text ("Vocaloid Pose Data file" in every file seen).
inline constexpr std::string_view VpdSignatureEnd = "Pose Data file";

struct TVpdBone {
  std::string Name;    // code page 932 bytes, whole (a motion key keeps the first 15)
  TVector3f Position;  // translation from the rest position, scaled and Z-mirrored
  TVector4f Rotation;  // quaternion x, y, z, w, Z-mirrored
};

struct TVpdMorph {
  std::string Name;  // code page 932 bytes, whole
  float Weight;
};

struct TVpdPose {
  std::string ModelName;  // code page 932 bytes: the model the pose was made on (informational)
  std::vector<TVpdBone> Bones;
  std::vector<TVpdMorph> Morphs;
};

// True when the text's first line ends with the VPD signature (a comment after it, trailing
// blanks and CR ignored): the one test ReadVpd applies to the signature.
bool IsVpdText(std::span<const uint8_t> ABytes);

// Reads a whole pose. Fails with an Exception whose text is `line N: expected ...`.
TVpdPose ReadVpd(std::span<const uint8_t> ABytes);
