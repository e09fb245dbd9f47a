// PMD models (version 1.0): the file's records as they are stored, the reader that fills them
// through the bounded cursor and checks every index, and the conversion into the PMX document
// (TPmx), so that everything after loading sees a PMD model as the PMX model it describes.
// TPmx::LoadFromBytes reads a PMD when the bytes start with "Pmd".
// Depends on formats/Pmx.h.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/ByteStream.h"
#include "formats/Pmx.h"

// 0xFFFF in a 16-bit bone field: no bone.
inline constexpr uint16_t PmdNoBone = 0xFFFF;
// Toon index of a material without a toon ramp.
inline constexpr uint8_t PmdNoToon = 255;
inline constexpr int PmdToonCount = 10;

// Bone kinds.
enum TPmdBoneKind : uint8_t {
  pbkRotate = 0,
  pbkRotateMove = 1,
  pbkIK = 2,
  pbkUnused = 3,
  pbkIKLinked = 4,
  pbkRotationFollow = 5,  // takes the turn of bone Link
  pbkIKTarget = 6,
  pbkHidden = 7,
  pbkTwist = 8,           // turns about the line to bone Tail only
  pbkRotationScaled = 9,  // takes the turn of bone Tail, times Link / 100
};

// Every record holds the file's values: file units, the file's left-handed frame; texts decoded
// from Shift-JIS into UTF-8 (up to the first zero byte, without a trailing line feed).
struct TPmdVertex {
  PmxFloat3 Position, Normal;
  PmxFloat2 UV;
  uint16_t Bone[2];
  uint8_t Weight;  // percent of Bone[0]
  uint8_t NoEdge;
};

struct TPmdMaterial {
  PmxFloat4 Diffuse;
  float Power;
  PmxFloat3 Specular, Ambient;
  uint8_t Toon;  // index into the toon list, PmdNoToon: none
  uint8_t Edge;
  uint32_t IndexCount;
  std::string Texture;  // "texture", "sphere" or "texture*sphere"
};

struct TPmdBone {
  std::string Name, NameEn;
  uint16_t Parent, Tail;
  uint8_t Kind;
  uint16_t Link;
  PmxFloat3 Position;
};

struct TPmdIK {
  uint16_t Bone, Target;
  uint16_t Loops;
  float Limit;                  // radians per step, a quarter of PMX's limit angle
  std::vector<uint16_t> Links;  // from the target upward
};

struct TPmdMorphEntry {
  uint32_t Index;  // base morph: vertex index; other morphs: index into the base's entries
  PmxFloat3 Offset;
};

struct TPmdMorph {
  std::string Name, NameEn;
  uint8_t Panel;  // 0 base, 1 brows, 2 eyes, 3 mouth, 4 other
  std::vector<TPmdMorphEntry> Entries;
};

struct TPmdBoneGroup {
  std::string Name, NameEn;
};

struct TPmdGroupMember {
  uint16_t Bone;
  uint8_t Group;  // counts from 1
};

struct TPmdRigidBody {
  std::string Name;
  uint16_t Bone;
  uint8_t Group;
  uint16_t Mask;
  uint8_t Shape;
  PmxFloat3 Size, Position, Rotation;  // Position relative to the bone's position
  float Mass, LinearDamping, AngularDamping, Restitution, Friction;
  uint8_t Mode;
};

struct TPmdJoint {
  std::string Name;
  uint32_t BodyA, BodyB;
  PmxFloat3 Position, Rotation, MoveLower, MoveUpper, TurnLower, TurnUpper, MoveSpring, TurnSpring;
};

struct TPmdModel {
  float Version = 1.0f;
  std::string Name, Comment, NameEn, CommentEn;
  std::vector<TPmdVertex> Vertices;
  std::vector<uint16_t> Faces;  // 3 per triangle, the file's winding
  std::vector<TPmdMaterial> Materials;
  std::vector<TPmdBone> Bones;
  std::vector<TPmdIK> IKs;
  std::vector<TPmdMorph> Morphs;
  std::vector<uint16_t> MorphPanel;  // morph indices shown in the facial frame
  std::vector<TPmdBoneGroup> BoneGroups;
  std::vector<TPmdGroupMember> GroupMembers;
  // The optional blocks, in file order; a file may end before any of them.
  bool HasEnglish = false;  // English names of the model, bones, morphs (not the base), groups
  bool HasToonList = false;
  std::array<std::string, PmdToonCount> ToonFiles;  // the standard list when absent
  bool HasRigidBodies = false;
  std::vector<TPmdRigidBody> RigidBodies;
  bool HasJoints = false;
  std::vector<TPmdJoint> Joints;
};

// The standard toon file of index 0..9: "toon01.bmp" .. "toon10.bmp".
std::string StandardPmdToonFile(int AIndex);

// Reads a PMD file from the stream's position (the "Pmd" signature) to its end, then checks every
// index the conversion follows; fails with the reader's message naming the section, element and
// index (or the stream error for a file that ends early).
TPmdModel ReadPmd(TByteStream& AStream);

// The PMX model the PMD model describes, converted into the system's frame as the PMX reader
// converts (ConvertPmdModel in formats/PmdConvert.cpp; called by TPmx::LoadFromStream).
void ConvertPmdModel(const TPmdModel& AModel, TPmx& APmx);
