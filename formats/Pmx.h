// TPmx: the PMX model reader (versions 2.0 and 2.1) and its plain records. Converts the model
// into the system's frame while reading and validates every index later stages follow.
// Depends on formats/ByteStream.h, formats/PmxSettings.h and math/VectorTypes.h.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "formats/ByteStream.h"
#include "formats/PmxSettings.h"
#include "math/VectorTypes.h"

// ---- enumerations (one byte in the file; values beyond the listed ones are kept as read) -------

enum TPmxRenderFlag : uint8_t {
  rfTwoSide = 0,
  rfGroundShadow = 1,
  rfShadowMapping = 2,
  rfSelfShadow = 3,
  rfEdge = 4,
  rfVertexColor = 5,
  rfPoint = 6,
  rfLine = 7
};
enum TPmxBoneFlag : uint8_t {
  bfConnection = 0,
  bfCanRotate = 1,
  bfCanTranslate = 2,
  bfDisplay = 3,
  bfCanOperate = 4,
  bfIK = 5,
  bfUnused = 6,
  bfAddLocal = 7,
  bfAddRotation = 8,
  bfAddTranslation = 9,
  bfFixedAxis = 10,
  bfLocalAxis = 11,
  bfTransformAfterPhysics = 12,
  bfTransformByExternalParent = 13
};
enum TEulerType : uint8_t { etXYZ = 0, etYZX = 1, etZXY = 2 };
enum TAxisType : uint8_t { atNone = 0, atFixed = 1, atFlowedX = 2, atFlowedY = 3, atFlowedZ = 4 };
enum TPmxMorphTarget : uint8_t {
  mtReserved = 0,
  mtBrows = 1,
  mtEyes = 2,
  mtMouth = 3,
  mtOther = 4
};
enum TPmxMorphKind : uint8_t {
  mkGroup = 0,
  mkVertex = 1,
  mkBone = 2,
  mkUV = 3,
  mkAddUV1 = 4,
  mkAddUV2 = 5,
  mkAddUV3 = 6,
  mkAddUV4 = 7,
  mkMaterial = 8,
  mkFlip = 9,
  mkImpulse = 10
};
enum TPmxRigidBodyShapeType : uint8_t { stSphere = 0, stBox = 1, stCapsule = 2 };
enum TPmxJointKind : uint8_t {
  jkSpring6DOF = 0,
  jk6DOF = 1,
  jkP2P = 2,
  jkConeTwist = 3,
  jkSlider = 4,
  jkHinge = 5
};
enum TPmxSoftBodyFlag : uint8_t { sfBLink = 0, sfCluster = 1, sfCrossLink = 2 };

// Flag sets: flag value i is bit i, exactly the file's bit fields (bfIK is 0x0020).
using TPmxRenderFlags = uint8_t;
using TPmxBoneFlags = uint16_t;
using TPmxSoftBodyFlags = uint8_t;

template <class TFlag>
constexpr uint32_t FlagBit(TFlag AFlag) {
  return 1u << static_cast<unsigned>(AFlag);
}
// True when the set holds the flag: HasFlag(Bone.Flags, bfIK).
template <class TFlag>
constexpr bool HasFlag(uint32_t ASet, TFlag AFlag) {
  return (ASet & FlagBit(AFlag)) != 0;
}

// ---- records --------------------------------------------------------------------------------
// Every field the file does not supply for an element is zero (value-initialised records).

struct PmxFloat2 {
  float X, Y;
};
using PmxFloat3 = TVector3f;
using PmxFloat4 = TVector4f;

struct TPmxInt3 {
  int32_t X, Y, Z;
};

struct TPmxBoneWeightBDEF1 {
  int32_t BoneIndex;
};
struct TPmxBoneWeightBDEF2 {
  int32_t Bone1Index, Bone2Index;
  float Bone1Weight;
};
struct TPmxBoneWeightBDEF4 {
  int32_t Bone1Index, Bone2Index, Bone3Index, Bone4Index;
  float Bone1Weight, Bone2Weight, Bone3Weight, Bone4Weight;
};
struct TPmxBoneWeightSDEF {
  int32_t Bone1Index, Bone2Index;
  float Bone1Weight;
  PmxFloat3 SDEF_C, SDEF_R0, SDEF_R1;
};
// One storage, viewed by the vertex's BoneWeightMethod. The largest view comes first so that
// value-initialisation zeroes all of it.
union TPmxBoneWeight {
  TPmxBoneWeightSDEF SDEF;
  TPmxBoneWeightBDEF1 BDEF1;
  TPmxBoneWeightBDEF2 BDEF2;
  TPmxBoneWeightBDEF4 BDEF4;
  TPmxBoneWeightBDEF4 QDEF;
};
static_assert(sizeof(TPmxBoneWeight) == sizeof(TPmxBoneWeightSDEF));

// BoneWeightMethod values.
enum : uint8_t { bwBDEF1 = 0, bwBDEF2 = 1, bwBDEF4 = 2, bwSDEF = 3, bwQDEF = 4 };

struct TPmxVertex {
  PmxFloat3 Position;
  PmxFloat3 Normal;
  PmxFloat2 UV;
  std::vector<PmxFloat4> AdditionalUV;  // exactly the header's additional-UV count
  uint8_t BoneWeightMethod;
  TPmxBoneWeight BoneWeight;
  float MagnificationOfEdge;
};

// A file-local toon texture index, or (when SharedToonFlag is set) a shared toon number in the
// low byte; the other bytes are then 0, so ToonTextureIndex reads the same number.
union TPmxToonTexture {
  int32_t ToonTextureIndex;
  uint8_t SharedToonTextureIndex;
};

struct TPmxMaterial {
  std::string NameJp, NameEn;
  PmxFloat4 Diffuse;
  PmxFloat3 Specular;
  float Shininess;
  PmxFloat3 Ambient;
  TPmxRenderFlags RenderFlags;
  PmxFloat4 EdgeColor;
  float EdgeSize;
  int32_t TextureIndex, SphereTextureIndex;  // -1: none (also after an out-of-range index)
  uint8_t SphereMode, SharedToonFlag;
  TPmxToonTexture ToonTexture;
  std::string Memo;
  int32_t NumberOfVertex;  // face indices covered; materials cover consecutive runs of faces
};

struct TPmxIKLink {
  int32_t LinkBoneIndex;
  uint8_t AngleLimit;
  PmxFloat3 LowerLimit, UpperLimit;  // radians, in the system's frame, LowerLimit <= UpperLimit
  TEulerType Euler;
  TAxisType AxisType;
};

struct TPmxBone {
  std::string NameJp, NameEn;
  PmxFloat3 Position;
  int32_t ParentIndex;  // -1: root
  int32_t TransformationLevel;
  TPmxBoneFlags Flags;
  PmxFloat3 PositionOffset;
  int32_t ConnectionBoneIndex;  // with bfConnection; -1: none
  int32_t AddParentBoneIndex;   // with bfAddRotation / bfAddTranslation; -1: none
  float AddPower;
  PmxFloat3 FixedAxisDirection, LocalAxisXDirection, LocalAxisZDirection;
  int32_t ExternalParentKey;
  int32_t IKTargetBoneIndex;  // with bfIK; always a valid bone after loading
  int32_t IKLoopCount;
  float IKLoopLimitAngle;  // radians
  std::vector<TPmxIKLink> IKLinks;
};

struct TPmxMorphGroup {
  int32_t MorphIndex;
  float MorphRate;
};
struct TPmxMorphVertex {
  int32_t VertexIndex;
  PmxFloat3 PositionOffset;
};
struct TPmxMorphBone {
  int32_t BoneIndex;
  PmxFloat3 TranslateValue;
  PmxFloat4 RotateValue;  // quaternion x, y, z, w
};
struct TPmxMorphUV {
  int32_t VertexIndex;
  PmxFloat4 UVOffset;
};
struct TPmxMorphMaterial {
  int32_t MaterialIndex;
  uint8_t OffsetType;
  PmxFloat4 Diffuse;
  PmxFloat3 Specular;
  float Shininess;
  PmxFloat3 Ambient;
  PmxFloat4 EdgeColor;
  float EdgeSize;
  PmxFloat4 TextureFactor, SphereTextureFactor, ToonTextureFactor;
};
struct TPmxMorphImpulse {
  int32_t RigidBodyIndex;
  uint8_t LocalFlag;
  PmxFloat3 TranslationSpeed, RotationTorque;
};
// One morph offset, viewed by the morph's Kind (Flip is laid out as Group). The largest view comes
// first so that value-initialisation zeroes all of it.
union TPmxMorphData {
  TPmxMorphMaterial Material;
  TPmxMorphGroup Group;
  TPmxMorphVertex Vertex;
  TPmxMorphBone Bone;
  TPmxMorphUV UV;
  TPmxMorphGroup Flip;
  TPmxMorphImpulse Impulse;
};
static_assert(sizeof(TPmxMorphData) == sizeof(TPmxMorphMaterial));

struct TPmxMorph {
  std::string NameJp, NameEn;
  TPmxMorphTarget Target;
  TPmxMorphKind Kind;
  std::vector<TPmxMorphData> Data;
};

struct TPmxDisplayFrameElement {
  uint8_t Target;  // 0 bone, 1 morph
  union {
    int32_t BoneIndex;
    int32_t MorphIndex;
  };
};

struct TPmxDisplayFrame {
  std::string NameJp, NameEn;
  uint8_t SpecialFlag;
  std::vector<TPmxDisplayFrameElement> Elements;
};

struct TPmxRigidBody {
  std::string NameJp, NameEn;
  int32_t RelatedBoneIndex;
  uint8_t Group;
  uint16_t CollisionlessGroupFlag;
  TPmxRigidBodyShapeType Shape;
  PmxFloat3 Size, Position, Rotation;
  float Mass, TranslateDecay, RotateDecay, Repulsion, Friction;
  uint8_t PhysicsOperation;
};

struct TPmxJointSpring6DOF {
  int32_t RigidBodyAIndex, RigidBodyBIndex;
  PmxFloat3 Position, Rotation, TranslateLowerLimit, TranslateUpperLimit, RotateLowerLimit,
      RotateUpperLimit, TranslationSpringConstant, RotationSpringConstant;
};
// All six joint kinds share the one layout.
union TPmxJointData {
  TPmxJointSpring6DOF Spring6DOF;
};

struct TPmxJoint {
  std::string NameJp, NameEn;
  TPmxJointKind JointKind;
  TPmxJointData Data;
};

struct TPmxSoftBodyConfig {
  float VCF, DP, DG, LF, PR, VC, DF, MT, CHR, KHR, SHR, AHR;
};
struct TPmxSoftBodyCluster {
  float SRHR_CL, SKHR_CL, SSHR_CL, SR_SPLT_CL, SK_SPLT_CL, SS_SPLT_CL;
};
struct TPmxSoftBodyIteration {
  int32_t V_IT, P_IT, D_IT, C_IT;
};
struct TPmxSoftBodyMaterial {
  float LST, AST, VST;
};
struct TPmxAnchorRigidBody {
  int32_t RelatedRigidBodyIndex, RelatedVertexIndex;
  uint8_t NearMode;
};
struct TPmxPinVertex {
  int32_t RelatedVertexIndex;
};

struct TPmxSoftBody {
  std::string NameJp, NameEn;
  uint8_t Shape;
  int32_t RelatedMaterialIndex;
  uint8_t Group;
  uint16_t CollisionlessGroupFlag;
  TPmxSoftBodyFlags Flags;
  int32_t BLinkDistance, NumberOfCluster;
  float TotalMass, CollisionMargin;
  int32_t AeroModel;
  TPmxSoftBodyConfig Config;
  TPmxSoftBodyCluster Cluster;
  TPmxSoftBodyIteration Iteration;
  TPmxSoftBodyMaterial Material;
  std::vector<TPmxAnchorRigidBody> AnchorRigidBodies;
  std::vector<TPmxPinVertex> PinVertices;
};

using PPmxVertex = TPmxVertex*;
using PPmxInt3 = TPmxInt3*;
using PPmxMaterial = TPmxMaterial*;
using PPmxBone = TPmxBone*;
using PPmxMorph = TPmxMorph*;
using PPmxDisplayFrame = TPmxDisplayFrame*;
using PPmxRigidBody = TPmxRigidBody*;
using PPmxJoint = TPmxJoint*;
using PPmxSoftBody = TPmxSoftBody*;

// The header settings as read (kept for tools; loading uses them and nothing else does).
struct TPmxHeader {
  float Version;
  uint8_t Encoding;  // 0 UTF-16LE, 1 UTF-8
  uint8_t AdditionalUVCount;
  uint8_t VertexIndexSize, TextureIndexSize, MaterialIndexSize, BoneIndexSize, MorphIndexSize,
      RigidBodyIndexSize;
};

// ---- reading helpers, shared with tests ------------------------------------------------------

// Vertex indices: 1 and 2 bytes unsigned, 4 bytes signed. Other sizes fail with "未対応のサイズ".
int32_t ReadVertexIndex(TByteStream& AStream, uint8_t ASize);
// Other indices: 1 and 2 bytes sign-extended, so 0xFF / 0xFFFF are -1 (none).
int32_t ReadSignedIndex(TByteStream& AStream, uint8_t ASize);
// i32 byte count, then that many bytes decoded by AEncoding (0 UTF-16LE, 1 UTF-8) into UTF-8.
std::string ReadPmxText(TByteStream& AStream, uint8_t AEncoding);
// Scale by PositionScale, then mirror Z.
void ConvertPosition(PmxFloat3& AP);
// The IK link fields derived from the limits as read from the file: mirrors them into the
// system's frame, orders them, and picks the Euler order and the axis type the solver uses.
void DeriveIKLinkLimits(TPmxIKLink& ALink, const PmxFloat3& AFileLower,
                        const PmxFloat3& AFileUpper);

// ---- the document -----------------------------------------------------------------------------

// The file a document was read from: a PMX model, or a PMD model seen as the PMX model it
// describes (formats/Pmd.h).
enum class TModelFormat : uint8_t { mfPmx, mfPmd };

struct TPmdModel;

class TPmx {
 public:
  // Reads the whole file, then LoadFromBytes. Fails with the file layer's error when the file
  // cannot be read, otherwise as LoadFromStream with the message naming the file and saying what
  // the reader's text means (ReadFileErrorMessage).
  void LoadFromFile(const std::string& AFileName);
  void LoadFromBytes(std::span<const uint8_t> ABytes);
  // Reads a model (a PMD model when the stream starts with "Pmd": see formats/Pmd.h; its
  // messages name "PMD" where these name "PMX") from the stream's position (the signature) through
  // its last section, then validates every index that skinning, morphing, IK and drawing follow: an
  // index out of range fails the load with a message naming the section, the element and the index;
  // a material's texture, sphere or toon index out of range becomes -1 (none). On failure what was
  // read so far stays in the document.
  //
  // After a successful load:
  //  - face indices are in [0, VertexCount);
  //  - vertex weight bone indices are in [-1, BoneCount) (-1: unused slot, contributes nothing);
  //  - ParentIndex, ConnectionBoneIndex (with bfConnection) and AddParentBoneIndex (with
  //    bfAddRotation / bfAddTranslation) are in [-1, BoneCount); every parent chain ends at a root;
  //  - IKTargetBoneIndex and every LinkBoneIndex (with bfIK) are in [0, BoneCount);
  //  - vertex-morph VertexIndex is in [0, VertexCount);
  //  - every NumberOfVertex is >= 0 and, summed in material order, stays within the face list;
  //  - TextureIndex, SphereTextureIndex and an own ToonTextureIndex are in [-1, TextureCount).
  // Not checked (nothing follows them): the indices of other morph kinds, display frames, rigid
  // bodies, joints and soft bodies, and a shared toon number (0..255).
  void LoadFromStream(TByteStream& AStream);

  // First element whose NameJp equals AName byte for byte; -1 if none.
  int IndexOfBone(std::string_view AName) const;
  int IndexOfMorph(std::string_view AName) const;

  // Element pointers; no range check. Valid while the document lives and is not reloaded.
  PPmxVertex GetVertex(int AIndex) { return &FVertexList[AIndex]; }
  PPmxInt3 GetFace(int AIndex) { return reinterpret_cast<PPmxInt3>(&FFaceList[3 * AIndex]); }
  PPmxMaterial GetMaterial(int AIndex) { return &FMaterialList[AIndex]; }
  PPmxBone GetBone(int AIndex) { return &FBoneList[AIndex]; }
  PPmxMorph GetMorph(int AIndex) { return &FMorphList[AIndex]; }
  PPmxDisplayFrame GetDisplayFrame(int AIndex) { return &FDisplayFrameList[AIndex]; }
  PPmxRigidBody GetRigidBody(int AIndex) { return &FRigidBodyList[AIndex]; }
  PPmxJoint GetJoint(int AIndex) { return &FJointList[AIndex]; }
  PPmxSoftBody GetSoftBody(int AIndex) { return &FSoftBodyList[AIndex]; }
  const TPmxVertex* GetVertex(int AIndex) const { return &FVertexList[AIndex]; }
  const TPmxInt3* GetFace(int AIndex) const {
    return reinterpret_cast<const TPmxInt3*>(&FFaceList[3 * AIndex]);
  }
  const TPmxMaterial* GetMaterial(int AIndex) const { return &FMaterialList[AIndex]; }
  const TPmxBone* GetBone(int AIndex) const { return &FBoneList[AIndex]; }
  const TPmxMorph* GetMorph(int AIndex) const { return &FMorphList[AIndex]; }
  const TPmxDisplayFrame* GetDisplayFrame(int AIndex) const { return &FDisplayFrameList[AIndex]; }
  const TPmxRigidBody* GetRigidBody(int AIndex) const { return &FRigidBodyList[AIndex]; }
  const TPmxJoint* GetJoint(int AIndex) const { return &FJointList[AIndex]; }
  const TPmxSoftBody* GetSoftBody(int AIndex) const { return &FSoftBodyList[AIndex]; }
  // Texture path as stored: relative to the model's folder, with "\" separators.
  const std::string& GetTexture(int AIndex) const { return FTextureList[AIndex]; }

  const std::string& ModelNameJp() const { return FModelNameJp; }
  const std::string& ModelNameEn() const { return FModelNameEn; }
  const std::string& CommentJp() const { return FCommentJp; }
  const std::string& CommentEn() const { return FCommentEn; }
  void SetModelNameJp(const std::string& AValue) { FModelNameJp = AValue; }
  void SetModelNameEn(const std::string& AValue) { FModelNameEn = AValue; }
  void SetCommentJp(const std::string& AValue) { FCommentJp = AValue; }
  void SetCommentEn(const std::string& AValue) { FCommentEn = AValue; }

  int VertexCount() const { return static_cast<int>(FVertexList.size()); }
  int FaceCount() const { return static_cast<int>(FFaceList.size() / 3); }
  int TextureCount() const { return static_cast<int>(FTextureList.size()); }
  int MaterialCount() const { return static_cast<int>(FMaterialList.size()); }
  int BoneCount() const { return static_cast<int>(FBoneList.size()); }
  int MorphCount() const { return static_cast<int>(FMorphList.size()); }
  int DisplayFrameCount() const { return static_cast<int>(FDisplayFrameList.size()); }
  int RigidBodyCount() const { return static_cast<int>(FRigidBodyList.size()); }
  int JointCount() const { return static_cast<int>(FJointList.size()); }
  int SoftBodyCount() const { return static_cast<int>(FSoftBodyList.size()); }

  // Whole lists, for tools and for writing a document back out.
  const TPmxHeader& Header() const { return FHeader; }
  TModelFormat Format() const { return FFormat; }
  const std::vector<TPmxVertex>& VertexList() const { return FVertexList; }
  const std::vector<int32_t>& FaceList() const { return FFaceList; }  // 3 per triangle
  const std::vector<std::string>& TextureList() const { return FTextureList; }
  const std::vector<TPmxMaterial>& MaterialList() const { return FMaterialList; }
  const std::vector<TPmxBone>& BoneList() const { return FBoneList; }
  const std::vector<TPmxMorph>& MorphList() const { return FMorphList; }
  const std::vector<TPmxDisplayFrame>& DisplayFrameList() const { return FDisplayFrameList; }
  const std::vector<TPmxRigidBody>& RigidBodyList() const { return FRigidBodyList; }
  const std::vector<TPmxJoint>& JointList() const { return FJointList; }
  const std::vector<TPmxSoftBody>& SoftBodyList() const { return FSoftBodyList; }

 private:
  void Clear();
  void ReadSections(TByteStream& AStream);
  void ValidateIndices();
  friend void ConvertPmdModel(const TPmdModel& AModel, TPmx& APmx);

  TPmxHeader FHeader{};
  TModelFormat FFormat = TModelFormat::mfPmx;
  std::string FModelNameJp, FModelNameEn, FCommentJp, FCommentEn;
  std::vector<TPmxVertex> FVertexList;
  std::vector<int32_t> FFaceList;
  std::vector<std::string> FTextureList;
  std::vector<TPmxMaterial> FMaterialList;
  std::vector<TPmxBone> FBoneList;
  std::vector<TPmxMorph> FMorphList;
  std::vector<TPmxDisplayFrame> FDisplayFrameList;
  std::vector<TPmxRigidBody> FRigidBodyList;
  std::vector<TPmxJoint> FJointList;
  std::vector<TPmxSoftBody> FSoftBodyList;
};

static_assert(sizeof(TPmxInt3) == 3 * sizeof(int32_t) && std::is_standard_layout_v<TPmxInt3>);
