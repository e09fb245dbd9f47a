// PmxWriter: builds PMX (2.0 / 2.1) and VMD files in memory from the readers' own records: the
// demo-asset generator writes the default character with it, and tests and benchmarks build their
// models and motions with it. Depends on formats/pmxlib.h only (no files but the one it saves).
//
// The records are given as the readers return them, in the system's frame (positions already
// x 0.1 and Z-mirrored, faces in the reader's winding, IK limits as derived): the writer inverts
// the conversion, so that reading the written file gives the records back (within float rounding of
// the x 10 / x 0.1 round trip). SDEF points are positions too and are written in file units, but
// the reader keeps them as stored: FromDocument converts them back into the system's frame. Set
// FileFrame to write the values exactly as given instead, to test the conversion itself.
//
// Typical use:
//   TPmxBuilder B;
//   int Root = B.AddBone("センター", NewVector3f(0, 0, 0));
//   int V0 = B.AddVertex(NewVector3f(0, 0, 0)), V1 = ..., V2 = ...;
//   B.AddTriangle(V0, V1, V2);
//   B.AddMaterial("body", 3);                  // covers the next 3 face indices
//   std::vector<uint8_t> Bytes = B.Build();     // or B.SaveToFile(path)
//   TPmx Pmx; Pmx.LoadFromBytes(Bytes);
//
//   TVmdBuilder M;
//   M.AddBoneKey("センター", 0, NewVector3f(0, 1, 0));   // names in UTF-8, written as CP932
//   M.AddMorphKey("まばたき", 10, 1.0f);
//   M.SaveToFile(path);
//
// Every list is a public member: add through the helpers, then edit the records directly for
// anything the helpers do not set. Build() throws std::logic_error when an index does not fit the
// index size chosen in Settings (set the size explicitly to write out-of-range test indices).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/pmxlib.h"

struct TPmxWriteSettings {
  float Version = 2.0f;  // 2.1 also writes the soft-body section
  // 0 UTF-16LE, 1 UTF-8; texts are UTF-8 strings and are written as UTF-8 bytes for every value
  // other than 0 (so a bad encoding value or malformed bytes can be written on purpose).
  uint8_t Encoding = 0;
  // Additional UVs per vertex; -1: the largest AdditionalUV size among the vertices. Each vertex
  // is written with exactly this many (missing ones as zero).
  int AdditionalUVCount = -1;
  // Index sizes (1, 2 or 4; other values are written as they are, with that many bytes per index).
  // 0: the smallest size that holds every index of the list's length (vertex indices unsigned,
  // the others signed with -1 for none).
  uint8_t VertexIndexSize = 0, TextureIndexSize = 0, MaterialIndexSize = 0, BoneIndexSize = 0,
          MorphIndexSize = 0, RigidBodyIndexSize = 0;
  bool FileFrame = false;  // true: write positions, rotations, winding and IK limits unconverted
};

class TPmxBuilder {
 public:
  TPmxWriteSettings Settings;
  std::string ModelNameJp, ModelNameEn, CommentJp, CommentEn;
  std::vector<TPmxVertex> Vertices;
  std::vector<int32_t> Faces;  // three vertex indices per triangle, in the reader's winding
  std::vector<std::string> Textures;
  std::vector<TPmxMaterial> Materials;
  std::vector<TPmxBone> Bones;
  std::vector<TPmxMorph> Morphs;
  std::vector<TPmxDisplayFrame> DisplayFrames;
  std::vector<TPmxRigidBody> RigidBodies;
  std::vector<TPmxJoint> Joints;
  std::vector<TPmxSoftBody> SoftBodies;  // written for versions above 2.0 only

  // A BDEF1 vertex bound to ABone (index of the new vertex).
  int AddVertex(const TVector3f& APosition, const TVector3f& ANormal = TVector3f{{0, 1, 0}},
                PmxFloat2 AUV = PmxFloat2{0, 0}, int32_t ABone = 0);
  // A BDEF2 vertex: ABone1 with AWeight1, ABone2 with 1 - AWeight1.
  int AddVertexBDEF2(const TVector3f& APosition, int32_t ABone1, int32_t ABone2, float AWeight1,
                     const TVector3f& ANormal = TVector3f{{0, 1, 0}});
  // An SDEF vertex: ABone1 with AWeight1, ABone2 with 1 - AWeight1, centre AC and the points AR0,
  // AR1 (all in the system's frame, converted like positions when written).
  int AddVertexSDEF(const TVector3f& APosition, int32_t ABone1, int32_t ABone2, float AWeight1,
                    const TVector3f& AC, const TVector3f& AR0, const TVector3f& AR1,
                    const TVector3f& ANormal = TVector3f{{0, 1, 0}});
  // Three face indices (index of the new triangle).
  int AddTriangle(int32_t AV0, int32_t AV1, int32_t AV2);
  int AddTexture(const std::string& APath);
  // A white, opaque material covering the next AFaceIndexCount face indices.
  int AddMaterial(const std::string& AName, int32_t AFaceIndexCount, int32_t ATextureIndex = -1);
  // A bone with the given flags (default: can rotate, visible, operable; not a connection bone,
  // so PositionOffset is used as the tail).
  int AddBone(const std::string& AName, const TVector3f& APosition, int32_t AParent = -1,
              TPmxBoneFlags AFlags = FlagBit(bfCanRotate) | FlagBit(bfDisplay) |
                                     FlagBit(bfCanOperate));
  // Turns bone ABone into an IK bone with target ATarget (sets bfIK); add links with AddIKLink.
  void MakeIK(int ABone, int32_t ATarget, int32_t ALoopCount = 40, float ALimitAngle = 0.5f);
  // A link without limits, or one with AngleLimit 1 and the limits in the system's frame.
  void AddIKLink(int ABone, int32_t ALinkBone);
  void AddIKLink(int ABone, int32_t ALinkBone, const TVector3f& ALower, const TVector3f& AUpper);
  // A morph of the given kind without offsets; push TPmxMorphData into Morphs[i].Data.
  int AddMorph(const std::string& AName, TPmxMorphKind AKind, TPmxMorphTarget ATarget = mtOther);
  // A vertex morph offset (AOffset in the system's frame).
  void AddVertexMorphOffset(int AMorph, int32_t AVertex, const TVector3f& AOffset);

  // The file's bytes.
  std::vector<uint8_t> Build() const;
  void SaveToFile(const std::string& AFileName) const;

  // Everything a loaded document holds, with the header settings it was read with.
  static TPmxBuilder FromDocument(const TPmx& APmx);
};

class TVmdBuilder {
 public:
  std::string Signature = VmdSignature;  // written into the 30-byte field, NUL padded
  std::string ModelName;                 // UTF-8, written as CP932 into 20 bytes
  bool FileFrame = false;                // true: write positions and rotations unconverted
  std::vector<TVmdMotion> Motions;       // as the reader returns them
  std::vector<TVmdSkinMotion> SkinMotions;
  // The optional sections, as the reader returns them (converted unless FileFrame).
  std::vector<TVmdCameraMotion> CameraMotions;
  std::vector<TVmdLightMotion> LightMotions;
  std::vector<TVmdSelfShadowMotion> SelfShadowMotions;
  std::vector<TVmdShowIKMotion> ShowIKMotions;
  // How many optional sections to write after the morph keys (0-4), empty ones as a count of 0;
  // -1: up to the last non-empty one.
  int OptionalSections = -1;
  std::vector<uint8_t> Trailer;  // raw bytes after everything else

  // Name in UTF-8, stored as CP932 (cut to 15 bytes). Returns the key's index.
  int AddBoneKey(std::string_view AName, uint32_t AFrame,
                 const TVector3f& APosition = TVector3f{{0, 0, 0}},
                 const TVector4f& ARotation = TVector4f{{0, 0, 0, 1}});
  int AddMorphKey(std::string_view AName, uint32_t AFrame, float AWeight);
  // A camera key with linear curves (20, 107, 20, 107 on every channel); values in the system's
  // frame. Returns the key's index.
  int AddCameraKey(uint32_t AFrame, const TVector3f& ATarget, float ADistance,
                   const TVector3f& ARotation, uint32_t AViewAngle = 30);
  // A show/IK key; AIK: UTF-8 IK bone names with their switch.
  int AddShowIKKey(uint32_t AFrame, bool AShow,
                   const std::vector<std::pair<std::string, bool>>& AIK = {});

  std::vector<uint8_t> Build() const;
  void SaveToFile(const std::string& AFileName) const;

  static TVmdBuilder FromDocument(const TVmd& AVmd);
};

// Copies ACp932 into a 15-byte name field: cut at 15 bytes, the rest NUL.
void SetVmdName(char (&AField)[15], std::string_view ACp932);

void WriteBytesToFile(const std::string& AFileName, const std::vector<uint8_t>& ABytes);
