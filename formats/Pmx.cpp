// PMX model reader: header, the eleven sections, and the conversion into the system's frame.
#include "formats/Pmx.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "formats/FileBytes.h"
#include "formats/Pmd.h"
#include "formats/ReaderMessages.h"
#include "formats/TextDecoding.h"

namespace {

// Index size used when bounding a count: an unsupported size fails at its first read anyway, so
// one byte keeps the bound honest without deciding that error early.
size_t BoundSize(uint8_t ASize) {
  return (ASize == 1 || ASize == 2 || ASize == 4) ? ASize : 1;
}

// Least bytes one record of each list takes, so that a list's count can be checked against the
// data left before the list is allocated. Each is the sum of the record's fields in file order:
// a text counts only its 4-byte length, an index the size the header gives it, and a field that
// depends on a flag or a kind its shortest form.

// Position, normal, UV, additional UVs, weight method, edge scale (an unknown weight method
// carries no weights, so none are counted).
constexpr size_t VertexMinBytes(size_t AUVCount) {
  return 12 + 12 + 8 + 16 * AUVCount + 1 + 4;
}
// The path's length.
constexpr size_t TextureMinBytes = 4;
// Names, diffuse, specular, shininess, ambient, draw flags, edge colour, edge size, texture and
// sphere indices, sphere mode, shared-toon flag, toon number (1) or toon index (at least 1),
// memo, face index count.
constexpr size_t MaterialMinBytes(size_t ATextureIndex) {
  return 4 + 4 + 16 + 12 + 4 + 12 + 1 + 16 + 4 + 2 * ATextureIndex + 1 + 1 + 1 + 4 + 4;
}
// Names, position, parent index, level, flags, connection index or offset (12: at least the
// index); the appended, axis, external-parent and IK fields come only with their flags.
constexpr size_t BoneMinBytes(size_t ABoneIndex) {
  return 4 + 4 + 12 + ABoneIndex + 4 + 2 + ABoneIndex;
}
// Bone index, limit flag; the two limit vectors only when the flag is set.
constexpr size_t IKLinkMinBytes(size_t ABoneIndex) {
  return ABoneIndex + 1;
}
// Names, panel, kind, offset count.
constexpr size_t MorphMinBytes = 4 + 4 + 1 + 1 + 4;
// One offset of each morph kind. Group and flip: morph index, rate.
constexpr size_t GroupOffsetBytes(size_t AMorphIndex) {
  return AMorphIndex + 4;
}
// Vertex index, position offset.
constexpr size_t VertexOffsetBytes(size_t AVertexIndex) {
  return AVertexIndex + 12;
}
// Bone index, translation, rotation.
constexpr size_t BoneOffsetBytes(size_t ABoneIndex) {
  return ABoneIndex + 12 + 16;
}
// Vertex index, UV offset (4 floats).
constexpr size_t UVOffsetBytes(size_t AVertexIndex) {
  return AVertexIndex + 16;
}
// Material index, operation, diffuse, specular, shininess, ambient, edge colour, edge size,
// texture, sphere and toon factors.
constexpr size_t MaterialOffsetBytes(size_t AMaterialIndex) {
  return AMaterialIndex + 1 + 16 + 12 + 4 + 12 + 16 + 4 + 16 + 16 + 16;
}
// Rigid body index, local flag, speed, torque.
constexpr size_t ImpulseOffsetBytes(size_t ARigidBodyIndex) {
  return ARigidBodyIndex + 1 + 12 + 12;
}
// Names, special flag, element count.
constexpr size_t DisplayFrameMinBytes = 4 + 4 + 1 + 4;
// Target; the bone or morph index only for targets 0 and 1.
constexpr size_t DisplayElementMinBytes = 1;
// Names, bone index, group, non-collision mask, shape, size, position, rotation, mass, two
// decays, repulsion, friction, physics mode.
constexpr size_t RigidBodyMinBytes(size_t ABoneIndex) {
  return 4 + 4 + ABoneIndex + 1 + 2 + 1 + 12 + 12 + 12 + 4 + 4 + 4 + 4 + 4 + 1;
}
// Names, kind; the spring data only for kinds below 6.
constexpr size_t JointMinBytes = 4 + 4 + 1;
// Names, shape, material index, group, non-collision mask, flags, link distance, clusters, mass,
// margin, aero model, config, cluster, iteration and material blocks, anchor and pin counts.
constexpr size_t SoftBodyMinBytes(size_t AMaterialIndex) {
  return 4 + 4 + 1 + AMaterialIndex + 1 + 2 + 1 + 4 + 4 + 4 + 4 + 4 + 48 + 24 + 16 + 12 + 4 + 4;
}
// Rigid body index, vertex index, near mode.
constexpr size_t AnchorBytes(size_t ARigidBodyIndex, size_t AVertexIndex) {
  return ARigidBodyIndex + AVertexIndex + 1;
}

PmxFloat2 ReadFloat2(TByteStream& S) {
  PmxFloat2 R;
  R.X = S.ReadF32();
  R.Y = S.ReadF32();
  return R;
}
PmxFloat3 ReadFloat3(TByteStream& S) {
  PmxFloat3 R;
  S.Read(R.V, sizeof(R.V));
  return R;
}
PmxFloat4 ReadFloat4(TByteStream& S) {
  PmxFloat4 R;
  S.Read(R.V, sizeof(R.V));
  return R;
}

// A list count from the file, checked against what the remaining bytes can hold.
size_t ReadCount(TByteStream& S, size_t AMinElementSize) {
  const int32_t Count = S.ReadI32();
  S.RequireElements(Count, AMinElementSize);
  return static_cast<size_t>(Count);
}

[[noreturn]] void RaiseUnsupportedSize() {
  throw Exception("未対応のサイズ");
}

}  // namespace

int32_t ReadVertexIndex(TByteStream& AStream, uint8_t ASize) {
  switch (ASize) {
    case 1:
      return AStream.ReadU8();
    case 2:
      return AStream.ReadU16();
    case 4:
      return AStream.ReadI32();
    default:
      RaiseUnsupportedSize();
  }
}

int32_t ReadSignedIndex(TByteStream& AStream, uint8_t ASize) {
  switch (ASize) {
    case 1:
      return AStream.ReadI8();
    case 2:
      return AStream.ReadI16();
    case 4:
      return AStream.ReadI32();
    default:
      RaiseUnsupportedSize();
  }
}

std::string ReadPmxText(TByteStream& AStream, uint8_t AEncoding) {
  const int32_t Length = AStream.ReadI32();
  AStream.RequireElements(Length, 1);
  const std::span<const uint8_t> Bytes = AStream.ReadSpan(static_cast<size_t>(Length));
  switch (AEncoding) {
    case 0:
      return DecodeUtf16LE(Bytes);
    case 1:
      return DecodeUtf8(Bytes);
    default: {
      char Message[64];
      std::snprintf(Message, sizeof(Message), "未知のエンコーディング (%d)", AEncoding);
      throw Exception(Message);
    }
  }
}

void ConvertPosition(PmxFloat3& AP) {
  if (PositionScale != 1.0f) {
    AP.X *= PositionScale;
    AP.Y *= PositionScale;
    AP.Z *= PositionScale;
  }
  if (MirrorZ) AP.Z = -AP.Z;
}

void DeriveIKLinkLimits(TPmxIKLink& ALink, const PmxFloat3& AFileLower,
                        const PmxFloat3& AFileUpper) {
  PmxFloat3 Lo = AFileLower, Up = AFileUpper;
  if (MirrorZ) {
    // Rotations about X and Y change sign under the Z mirror; Z limits stay.
    Lo.X = -Lo.X;
    Lo.Y = -Lo.Y;
    Up.X = -Up.X;
    Up.Y = -Up.Y;
  }
  for (int I = 0; I < 3; ++I) {
    ALink.LowerLimit.V[I] = std::min(Lo.V[I], Up.V[I]);
    ALink.UpperLimit.V[I] = std::max(Lo.V[I], Up.V[I]);
  }
  const PmxFloat3& L = ALink.LowerLimit;
  const PmxFloat3& U = ALink.UpperLimit;
  // Compared in double: the float nearest pi/2 lies above pi/2 and must not count as below it.
  constexpr double HalfPi = std::numbers::pi / 2;
  auto Within = [&](int I) {
    return static_cast<double>(L.V[I]) > -HalfPi && static_cast<double>(U.V[I]) < HalfPi;
  };
  if (Within(0))
    ALink.Euler = etZXY;
  else if (Within(1))
    ALink.Euler = etXYZ;
  else
    ALink.Euler = etYZX;
  auto Zero = [&](int I) { return L.V[I] == 0 && U.V[I] == 0; };
  if (Zero(0) && Zero(1) && Zero(2))
    ALink.AxisType = atFixed;
  else if (Zero(1) && Zero(2))
    ALink.AxisType = atFlowedX;
  else if (Zero(0) && Zero(2))
    ALink.AxisType = atFlowedY;
  else if (Zero(0) && Zero(1))
    ALink.AxisType = atFlowedZ;
  else
    ALink.AxisType = atNone;
}

void TPmx::LoadFromFile(const std::string& AFileName) {
  const std::vector<uint8_t> Bytes = ReadFileBytes(AFileName);
  try {
    LoadFromBytes(Bytes);
  } catch (const Exception& E) {
    throw Exception(ReadFileErrorMessage(TReadFileRole::rfModel, AFileName, E.what()));
  }
}

void TPmx::LoadFromBytes(std::span<const uint8_t> ABytes) {
  TByteStream Stream(ABytes);
  LoadFromStream(Stream);
}

void TPmx::LoadFromStream(TByteStream& AStream) {
  Clear();
  TByteStream Peek = AStream;
  if (Peek.Remaining() >= 3 && std::memcmp(Peek.ReadSpan(3).data(), "Pmd", 3) == 0) {
    // The PMD reader checks its own indices; the checks below then hold the converted model to
    // what every later stage relies on (a loop of parents is found there).
    ConvertPmdModel(ReadPmd(AStream), *this);
  } else {
    ReadSections(AStream);
  }
  ValidateIndices();
}

void TPmx::Clear() {
  FHeader = TPmxHeader{};
  FFormat = TModelFormat::mfPmx;
  FModelNameJp.clear();
  FModelNameEn.clear();
  FCommentJp.clear();
  FCommentEn.clear();
  FVertexList.clear();
  FFaceList.clear();
  FTextureList.clear();
  FMaterialList.clear();
  FBoneList.clear();
  FMorphList.clear();
  FDisplayFrameList.clear();
  FRigidBodyList.clear();
  FJointList.clear();
  FSoftBodyList.clear();
}

void TPmx::ReadSections(TByteStream& S) {
  // 1. Header.
  uint8_t Signature[4];
  S.Read(Signature, sizeof(Signature));
  if (std::memcmp(Signature, "PMX ", 4) != 0) {
    // Binary bytes (a PNG's, say) would cut or garble the message; they are shown in hex.
    throw Exception("未知のシグネチャ (" + ShownSignature(Signature) + ")");
  }
  const float Version = S.ReadF32();
  if (Version != 2.0f && Version != 2.1f) {
    char Message[96];
    std::snprintf(Message, sizeof(Message), "未知のバージョン (%.2f)",
                  static_cast<double>(Version));
    throw Exception(Message);
  }
  if (S.ReadU8() != 8) throw Exception("8以外のヘッダバイト列サイズには未対応");
  FHeader.Version = Version;
  FHeader.Encoding = S.ReadU8();
  FHeader.AdditionalUVCount = S.ReadU8();
  FHeader.VertexIndexSize = S.ReadU8();
  FHeader.TextureIndexSize = S.ReadU8();
  FHeader.MaterialIndexSize = S.ReadU8();
  FHeader.BoneIndexSize = S.ReadU8();
  FHeader.MorphIndexSize = S.ReadU8();
  FHeader.RigidBodyIndexSize = S.ReadU8();
  const uint8_t Enc = FHeader.Encoding;
  const uint8_t VSize = FHeader.VertexIndexSize, TSize = FHeader.TextureIndexSize,
                MSize = FHeader.MaterialIndexSize, BSize = FHeader.BoneIndexSize,
                KSize = FHeader.MorphIndexSize, RSize = FHeader.RigidBodyIndexSize;
  FModelNameJp = ReadPmxText(S, Enc);
  FModelNameEn = ReadPmxText(S, Enc);
  FCommentJp = ReadPmxText(S, Enc);
  FCommentEn = ReadPmxText(S, Enc);

  // 2. Vertices.
  const size_t UVCount = FHeader.AdditionalUVCount;
  FVertexList.resize(ReadCount(S, VertexMinBytes(UVCount)));
  for (TPmxVertex& V : FVertexList) {
    V.Position = ReadFloat3(S);
    ConvertPosition(V.Position);
    V.Normal = ReadFloat3(S);
    if (MirrorZ) V.Normal.Z = -V.Normal.Z;
    V.UV = ReadFloat2(S);
    if (UVCount != 0) {
      V.AdditionalUV.resize(UVCount);
      S.Read(V.AdditionalUV.data(), UVCount * sizeof(PmxFloat4));
    }
    V.BoneWeightMethod = S.ReadU8();
    TPmxBoneWeight& W = V.BoneWeight;
    switch (V.BoneWeightMethod) {
      case bwBDEF1:
        W.BDEF1.BoneIndex = ReadSignedIndex(S, BSize);
        break;
      case bwBDEF2:
        W.BDEF2.Bone1Index = ReadSignedIndex(S, BSize);
        W.BDEF2.Bone2Index = ReadSignedIndex(S, BSize);
        W.BDEF2.Bone1Weight = S.ReadF32();
        break;
      case bwBDEF4:
      case bwQDEF: {
        TPmxBoneWeightBDEF4& B = V.BoneWeightMethod == bwBDEF4 ? W.BDEF4 : W.QDEF;
        B.Bone1Index = ReadSignedIndex(S, BSize);
        B.Bone2Index = ReadSignedIndex(S, BSize);
        B.Bone3Index = ReadSignedIndex(S, BSize);
        B.Bone4Index = ReadSignedIndex(S, BSize);
        B.Bone1Weight = S.ReadF32();
        B.Bone2Weight = S.ReadF32();
        B.Bone3Weight = S.ReadF32();
        B.Bone4Weight = S.ReadF32();
        break;
      }
      case bwSDEF:
        W.SDEF.Bone1Index = ReadSignedIndex(S, BSize);
        W.SDEF.Bone2Index = ReadSignedIndex(S, BSize);
        W.SDEF.Bone1Weight = S.ReadF32();
        W.SDEF.SDEF_C = ReadFloat3(S);
        W.SDEF.SDEF_R0 = ReadFloat3(S);
        W.SDEF.SDEF_R1 = ReadFloat3(S);
        break;
      default:
        break;  // unknown method: no weight data follows
    }
    V.MagnificationOfEdge = S.ReadF32();
  }

  // 3. Faces: read in one block, widened per index size.
  FFaceList.resize(ReadCount(S, BoundSize(VSize)));
  if (!FFaceList.empty()) {
    if (VSize != 1 && VSize != 2 && VSize != 4) RaiseUnsupportedSize();
    const std::span<const uint8_t> Raw = S.ReadSpan(FFaceList.size() * VSize);
    int32_t* Out = FFaceList.data();
    const size_t N = FFaceList.size();
    if (VSize == 1) {
      for (size_t I = 0; I < N; ++I) Out[I] = Raw[I];
    } else if (VSize == 2) {
      for (size_t I = 0; I < N; ++I) Out[I] = Raw[2 * I] | (Raw[2 * I + 1] << 8);
    } else {
      std::memcpy(Out, Raw.data(), N * 4);
    }
    if (MirrorZ) {
      for (size_t T = 0; T + 2 < N; T += 3) std::swap(Out[T + 1], Out[T + 2]);
    }
  }

  // 4. Textures: paths keep the model's own "\" separators.
  FTextureList.resize(ReadCount(S, TextureMinBytes));
  for (std::string& T : FTextureList) {
    T = ReadPmxText(S, Enc);
    std::replace(T.begin(), T.end(), '/', '\\');
  }

  // 5. Materials.
  FMaterialList.resize(ReadCount(S, MaterialMinBytes(BoundSize(TSize))));
  for (TPmxMaterial& M : FMaterialList) {
    M.NameJp = ReadPmxText(S, Enc);
    M.NameEn = ReadPmxText(S, Enc);
    M.Diffuse = ReadFloat4(S);
    M.Specular = ReadFloat3(S);
    M.Shininess = S.ReadF32();
    M.Ambient = ReadFloat3(S);
    M.RenderFlags = S.ReadU8();
    M.EdgeColor = ReadFloat4(S);
    M.EdgeSize = S.ReadF32();
    M.TextureIndex = ReadSignedIndex(S, TSize);
    M.SphereTextureIndex = ReadSignedIndex(S, TSize);
    M.SphereMode = S.ReadU8();
    M.SharedToonFlag = S.ReadU8();
    if (M.SharedToonFlag != 0)
      M.ToonTexture.SharedToonTextureIndex = S.ReadU8();
    else
      M.ToonTexture.ToonTextureIndex = ReadSignedIndex(S, TSize);
    M.Memo = ReadPmxText(S, Enc);
    M.NumberOfVertex = S.ReadI32();
  }

  // 6. Bones.
  FBoneList.resize(ReadCount(S, BoneMinBytes(BoundSize(BSize))));
  for (TPmxBone& B : FBoneList) {
    B.NameJp = ReadPmxText(S, Enc);
    B.NameEn = ReadPmxText(S, Enc);
    B.Position = ReadFloat3(S);
    B.ParentIndex = ReadSignedIndex(S, BSize);
    B.TransformationLevel = S.ReadI32();
    B.Flags = S.ReadU16();
    if (HasFlag(B.Flags, bfConnection))
      B.ConnectionBoneIndex = ReadSignedIndex(S, BSize);
    else
      B.PositionOffset = ReadFloat3(S);
    if (HasFlag(B.Flags, bfAddRotation) || HasFlag(B.Flags, bfAddTranslation)) {
      B.AddParentBoneIndex = ReadSignedIndex(S, BSize);
      B.AddPower = S.ReadF32();
    }
    if (HasFlag(B.Flags, bfFixedAxis)) B.FixedAxisDirection = ReadFloat3(S);
    if (HasFlag(B.Flags, bfLocalAxis)) {
      B.LocalAxisXDirection = ReadFloat3(S);
      B.LocalAxisZDirection = ReadFloat3(S);
    }
    if (HasFlag(B.Flags, bfTransformByExternalParent)) B.ExternalParentKey = S.ReadI32();
    if (HasFlag(B.Flags, bfIK)) {
      B.IKTargetBoneIndex = ReadSignedIndex(S, BSize);
      B.IKLoopCount = S.ReadI32();
      B.IKLoopLimitAngle = S.ReadF32();
      B.IKLinks.resize(ReadCount(S, IKLinkMinBytes(BoundSize(BSize))));
      for (TPmxIKLink& L : B.IKLinks) {
        L.LinkBoneIndex = ReadSignedIndex(S, BSize);
        L.AngleLimit = S.ReadU8();
        if (L.AngleLimit == 1) {
          const PmxFloat3 Lower = ReadFloat3(S);
          const PmxFloat3 Upper = ReadFloat3(S);
          DeriveIKLinkLimits(L, Lower, Upper);
        }
      }
    }
    ConvertPosition(B.Position);
    if (!HasFlag(B.Flags, bfConnection)) ConvertPosition(B.PositionOffset);
  }

  // 7. Morphs.
  FMorphList.resize(ReadCount(S, MorphMinBytes));
  // Offsets of an unknown kind occupy no bytes, so each such morph could claim the same remaining
  // data again; together they may claim no more entries than there were bytes left here.
  size_t EmptyOffsetBudget = S.Remaining();
  for (TPmxMorph& M : FMorphList) {
    M.NameJp = ReadPmxText(S, Enc);
    M.NameEn = ReadPmxText(S, Enc);
    M.Target = static_cast<TPmxMorphTarget>(S.ReadU8());
    M.Kind = static_cast<TPmxMorphKind>(S.ReadU8());
    size_t OffsetSize;
    switch (M.Kind) {
      case mkGroup:
      case mkFlip:
        OffsetSize = GroupOffsetBytes(BoundSize(KSize));
        break;
      case mkVertex:
        OffsetSize = VertexOffsetBytes(BoundSize(VSize));
        break;
      case mkBone:
        OffsetSize = BoneOffsetBytes(BoundSize(BSize));
        break;
      case mkUV:
      case mkAddUV1:
      case mkAddUV2:
      case mkAddUV3:
      case mkAddUV4:
        OffsetSize = UVOffsetBytes(BoundSize(VSize));
        break;
      case mkMaterial:
        OffsetSize = MaterialOffsetBytes(BoundSize(MSize));
        break;
      case mkImpulse:
        OffsetSize = ImpulseOffsetBytes(BoundSize(RSize));
        break;
      default:
        OffsetSize = 0;  // unknown kind: no data follows; entries stay zero
        break;
    }
    const size_t OffsetCount = ReadCount(S, OffsetSize);
    if (OffsetSize == 0) {
      if (OffsetCount > EmptyOffsetBudget) RaiseStreamReadError();
      EmptyOffsetBudget -= OffsetCount;
    }
    M.Data.resize(OffsetCount);
    for (TPmxMorphData& D : M.Data) {
      switch (M.Kind) {
        case mkGroup:
        case mkFlip:
          D.Group.MorphIndex = ReadSignedIndex(S, KSize);
          D.Group.MorphRate = S.ReadF32();
          break;
        case mkVertex:
          D.Vertex.VertexIndex = ReadVertexIndex(S, VSize);
          D.Vertex.PositionOffset = ReadFloat3(S);
          ConvertPosition(D.Vertex.PositionOffset);
          break;
        case mkBone:
          D.Bone.BoneIndex = ReadSignedIndex(S, BSize);
          D.Bone.TranslateValue = ReadFloat3(S);
          ConvertPosition(D.Bone.TranslateValue);
          D.Bone.RotateValue = ReadFloat4(S);
          if (MirrorZ) {
            D.Bone.RotateValue.Z = -D.Bone.RotateValue.Z;
            D.Bone.RotateValue.W = -D.Bone.RotateValue.W;
          }
          break;
        case mkUV:
        case mkAddUV1:
        case mkAddUV2:
        case mkAddUV3:
        case mkAddUV4:
          D.UV.VertexIndex = ReadVertexIndex(S, VSize);
          D.UV.UVOffset = ReadFloat4(S);
          break;
        case mkMaterial:
          D.Material.MaterialIndex = ReadSignedIndex(S, MSize);
          D.Material.OffsetType = S.ReadU8();
          D.Material.Diffuse = ReadFloat4(S);
          D.Material.Specular = ReadFloat3(S);
          D.Material.Shininess = S.ReadF32();
          D.Material.Ambient = ReadFloat3(S);
          D.Material.EdgeColor = ReadFloat4(S);
          D.Material.EdgeSize = S.ReadF32();
          D.Material.TextureFactor = ReadFloat4(S);
          D.Material.SphereTextureFactor = ReadFloat4(S);
          D.Material.ToonTextureFactor = ReadFloat4(S);
          break;
        case mkImpulse:
          D.Impulse.RigidBodyIndex = ReadSignedIndex(S, RSize);
          D.Impulse.LocalFlag = S.ReadU8();
          D.Impulse.TranslationSpeed = ReadFloat3(S);
          D.Impulse.RotationTorque = ReadFloat3(S);
          break;
        default:
          break;
      }
    }
  }

  // 8. Display frames.
  FDisplayFrameList.resize(ReadCount(S, DisplayFrameMinBytes));
  for (TPmxDisplayFrame& F : FDisplayFrameList) {
    F.NameJp = ReadPmxText(S, Enc);
    F.NameEn = ReadPmxText(S, Enc);
    F.SpecialFlag = S.ReadU8();
    F.Elements.resize(ReadCount(S, DisplayElementMinBytes));
    for (TPmxDisplayFrameElement& E : F.Elements) {
      E.Target = S.ReadU8();
      if (E.Target == 0)
        E.BoneIndex = ReadSignedIndex(S, BSize);
      else if (E.Target == 1)
        E.MorphIndex = ReadSignedIndex(S, KSize);
    }
  }

  // 9. Rigid bodies: stored as read.
  FRigidBodyList.resize(ReadCount(S, RigidBodyMinBytes(BoundSize(BSize))));
  for (TPmxRigidBody& R : FRigidBodyList) {
    R.NameJp = ReadPmxText(S, Enc);
    R.NameEn = ReadPmxText(S, Enc);
    R.RelatedBoneIndex = ReadSignedIndex(S, BSize);
    R.Group = S.ReadU8();
    R.CollisionlessGroupFlag = S.ReadU16();
    R.Shape = static_cast<TPmxRigidBodyShapeType>(S.ReadU8());
    R.Size = ReadFloat3(S);
    R.Position = ReadFloat3(S);
    R.Rotation = ReadFloat3(S);
    R.Mass = S.ReadF32();
    R.TranslateDecay = S.ReadF32();
    R.RotateDecay = S.ReadF32();
    R.Repulsion = S.ReadF32();
    R.Friction = S.ReadF32();
    R.PhysicsOperation = S.ReadU8();
  }

  // 10. Joints: stored as read.
  FJointList.resize(ReadCount(S, JointMinBytes));
  for (TPmxJoint& J : FJointList) {
    J.NameJp = ReadPmxText(S, Enc);
    J.NameEn = ReadPmxText(S, Enc);
    J.JointKind = static_cast<TPmxJointKind>(S.ReadU8());
    if (J.JointKind < 6) {
      TPmxJointSpring6DOF& D = J.Data.Spring6DOF;
      D.RigidBodyAIndex = ReadSignedIndex(S, RSize);
      D.RigidBodyBIndex = ReadSignedIndex(S, RSize);
      D.Position = ReadFloat3(S);
      D.Rotation = ReadFloat3(S);
      D.TranslateLowerLimit = ReadFloat3(S);
      D.TranslateUpperLimit = ReadFloat3(S);
      D.RotateLowerLimit = ReadFloat3(S);
      D.RotateUpperLimit = ReadFloat3(S);
      D.TranslationSpringConstant = ReadFloat3(S);
      D.RotationSpringConstant = ReadFloat3(S);
    }
  }

  // 11. Soft bodies (2.1 only).
  if (Version > 2.0f) {
    FSoftBodyList.resize(ReadCount(S, SoftBodyMinBytes(BoundSize(MSize))));
    for (TPmxSoftBody& B : FSoftBodyList) {
      B.NameJp = ReadPmxText(S, Enc);
      B.NameEn = ReadPmxText(S, Enc);
      B.Shape = S.ReadU8();
      B.RelatedMaterialIndex = ReadSignedIndex(S, MSize);
      B.Group = S.ReadU8();
      B.CollisionlessGroupFlag = S.ReadU16();
      B.Flags = S.ReadU8();
      B.BLinkDistance = S.ReadI32();
      B.NumberOfCluster = S.ReadI32();
      B.TotalMass = S.ReadF32();
      B.CollisionMargin = S.ReadF32();
      B.AeroModel = S.ReadI32();
      static_assert(sizeof(TPmxSoftBodyConfig) == 48 && sizeof(TPmxSoftBodyCluster) == 24 &&
                    sizeof(TPmxSoftBodyIteration) == 16 && sizeof(TPmxSoftBodyMaterial) == 12);
      S.Read(&B.Config, sizeof(B.Config));
      S.Read(&B.Cluster, sizeof(B.Cluster));
      S.Read(&B.Iteration, sizeof(B.Iteration));
      S.Read(&B.Material, sizeof(B.Material));
      B.AnchorRigidBodies.resize(ReadCount(S, AnchorBytes(BoundSize(RSize), BoundSize(VSize))));
      for (TPmxAnchorRigidBody& A : B.AnchorRigidBodies) {
        A.RelatedRigidBodyIndex = ReadSignedIndex(S, RSize);
        A.RelatedVertexIndex = ReadVertexIndex(S, VSize);
        A.NearMode = S.ReadU8();
      }
      B.PinVertices.resize(ReadCount(S, BoundSize(VSize)));
      for (TPmxPinVertex& P : B.PinVertices) P.RelatedVertexIndex = ReadVertexIndex(S, VSize);
    }
  }
}

int TPmx::IndexOfBone(std::string_view AName) const {
  for (size_t I = 0; I < FBoneList.size(); ++I)
    if (FBoneList[I].NameJp == AName) return static_cast<int>(I);
  return -1;
}

int TPmx::IndexOfMorph(std::string_view AName) const {
  for (size_t I = 0; I < FMorphList.size(); ++I)
    if (FMorphList[I].NameJp == AName) return static_cast<int>(I);
  return -1;
}
