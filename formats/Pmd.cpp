// PMD model reader: the sections as stored, then every index the conversion follows.
#include "formats/Pmd.h"

#include <cstdio>
#include <cstring>

#include "formats/TextDecoding.h"

namespace {

// Bytes of one record of each fixed-size list, so that a count can be checked against the data
// left before the list is allocated.
constexpr size_t VertexBytes = 12 + 12 + 8 + 2 + 2 + 1 + 1;
constexpr size_t FaceIndexBytes = 2;
constexpr size_t MaterialBytes = 16 + 4 + 12 + 12 + 1 + 1 + 4 + 20;
constexpr size_t BoneBytes = 20 + 2 + 2 + 1 + 2 + 12;
// Bone, target, link count, loops, limit; the links follow.
constexpr size_t IKMinBytes = 2 + 2 + 1 + 2 + 4;
// Name, entry count, panel; the entries follow.
constexpr size_t MorphMinBytes = 20 + 4 + 1;
constexpr size_t MorphEntryBytes = 4 + 12;
constexpr size_t GroupNameBytes = 50;
constexpr size_t GroupMemberBytes = 2 + 1;
constexpr size_t RigidBodyBytes = 20 + 2 + 1 + 2 + 1 + 12 * 3 + 4 * 5 + 1;
constexpr size_t JointBytes = 20 + 4 + 4 + 12 * 8;
constexpr size_t NameBytes = 20, CommentBytes = 256, ToonFileBytes = 100;

static_assert(VertexBytes == 38 && MaterialBytes == 70 && BoneBytes == 39 && RigidBodyBytes == 83 &&
              JointBytes == 124);

// A fixed text field: the bytes up to the first zero (the rest is junk), without a trailing line
// feed, decoded from Shift-JIS.
std::string ReadFixedText(TByteStream& S, size_t ASize) {
  std::span<const uint8_t> Field = S.ReadSpan(ASize);
  const void* Zero = std::memchr(Field.data(), 0, Field.size());
  size_t Length =
      Zero ? static_cast<size_t>(static_cast<const uint8_t*>(Zero) - Field.data()) : Field.size();
  while (Length > 0 && (Field[Length - 1] == '\n' || Field[Length - 1] == '\r')) --Length;
  return Cp932ToUtf8(Field.first(Length));
}

PmxFloat3 ReadFloat3(TByteStream& S) {
  PmxFloat3 R;
  S.Read(R.V, sizeof(R.V));
  return R;
}

template <class TCount>
size_t ReadCount(TByteStream& S, size_t AElementBytes) {
  TCount Count;
  S.Read(&Count, sizeof(Count));
  S.RequireElements(static_cast<int64_t>(Count), AElementBytes);
  return Count;
}

// "bone 4 "左腕"": the section's element, with its name when it has one.
std::string Element(const char* ASection, size_t AIndex, const std::string* AName = nullptr) {
  std::string Result = std::string(ASection) + " " + std::to_string(AIndex);
  if (AName && !AName->empty()) Result += " \"" + *AName + "\"";
  return Result;
}

[[noreturn]] void RaiseIndexError(const std::string& AElement, const std::string& AWhat,
                                  int64_t AIndex, size_t ACount, const char* AUnit) {
  throw Exception("PMD index out of range: " + AElement + ": " + AWhat + " " +
                  std::to_string(AIndex) + " (the model has " + std::to_string(ACount) + " " +
                  AUnit + ")");
}

void CheckIndex(int64_t AIndex, size_t ACount, const std::string& AElement,
                const std::string& AWhat, const char* AUnit) {
  if (AIndex < 0 || static_cast<uint64_t>(AIndex) >= ACount)
    RaiseIndexError(AElement, AWhat, AIndex, ACount, AUnit);
}

void CheckBoneOrNone(uint16_t AIndex, size_t ABones, const std::string& AElement,
                     const char* AWhat) {
  if (AIndex != PmdNoBone) CheckIndex(AIndex, ABones, AElement, AWhat, "bones");
}

void ReadSections(TByteStream& S, TPmdModel& M) {
  uint8_t Signature[3];
  S.Read(Signature, sizeof(Signature));
  M.Version = S.ReadF32();
  if (M.Version != 1.0f) {
    char Message[96];
    std::snprintf(Message, sizeof(Message), "未知のPMDバージョン (%.2f)",
                  static_cast<double>(M.Version));
    throw Exception(Message);
  }
  M.Name = ReadFixedText(S, NameBytes);
  M.Comment = ReadFixedText(S, CommentBytes);

  M.Vertices.resize(ReadCount<uint32_t>(S, VertexBytes));
  for (TPmdVertex& V : M.Vertices) {
    V.Position = ReadFloat3(S);
    V.Normal = ReadFloat3(S);
    V.UV.X = S.ReadF32();
    V.UV.Y = S.ReadF32();
    V.Bone[0] = S.ReadU16();
    V.Bone[1] = S.ReadU16();
    V.Weight = S.ReadU8();
    V.NoEdge = S.ReadU8();
  }

  M.Faces.resize(ReadCount<uint32_t>(S, FaceIndexBytes));
  if (!M.Faces.empty()) S.Read(M.Faces.data(), M.Faces.size() * FaceIndexBytes);

  M.Materials.resize(ReadCount<uint32_t>(S, MaterialBytes));
  for (TPmdMaterial& Mat : M.Materials) {
    S.Read(Mat.Diffuse.V, sizeof(Mat.Diffuse.V));
    Mat.Power = S.ReadF32();
    Mat.Specular = ReadFloat3(S);
    Mat.Ambient = ReadFloat3(S);
    Mat.Toon = S.ReadU8();
    Mat.Edge = S.ReadU8();
    Mat.IndexCount = S.ReadU32();
    Mat.Texture = ReadFixedText(S, NameBytes);
  }

  M.Bones.resize(ReadCount<uint16_t>(S, BoneBytes));
  for (TPmdBone& B : M.Bones) {
    B.Name = ReadFixedText(S, NameBytes);
    B.Parent = S.ReadU16();
    B.Tail = S.ReadU16();
    B.Kind = S.ReadU8();
    B.Link = S.ReadU16();
    B.Position = ReadFloat3(S);
  }

  M.IKs.resize(ReadCount<uint16_t>(S, IKMinBytes));
  for (TPmdIK& K : M.IKs) {
    K.Bone = S.ReadU16();
    K.Target = S.ReadU16();
    const uint8_t Links = S.ReadU8();
    K.Loops = S.ReadU16();
    K.Limit = S.ReadF32();
    S.RequireElements(Links, 2);
    K.Links.resize(Links);
    if (Links != 0) S.Read(K.Links.data(), Links * 2u);
  }

  M.Morphs.resize(ReadCount<uint16_t>(S, MorphMinBytes));
  for (TPmdMorph& F : M.Morphs) {
    F.Name = ReadFixedText(S, NameBytes);
    const uint32_t Count = S.ReadU32();
    F.Panel = S.ReadU8();
    S.RequireElements(Count, MorphEntryBytes);
    F.Entries.resize(Count);
    for (TPmdMorphEntry& E : F.Entries) {
      E.Index = S.ReadU32();
      E.Offset = ReadFloat3(S);
    }
  }

  M.MorphPanel.resize(ReadCount<uint8_t>(S, 2));
  if (!M.MorphPanel.empty()) S.Read(M.MorphPanel.data(), M.MorphPanel.size() * 2);

  M.BoneGroups.resize(ReadCount<uint8_t>(S, GroupNameBytes));
  for (TPmdBoneGroup& G : M.BoneGroups) G.Name = ReadFixedText(S, GroupNameBytes);

  M.GroupMembers.resize(ReadCount<uint32_t>(S, GroupMemberBytes));
  for (TPmdGroupMember& G : M.GroupMembers) {
    G.Bone = S.ReadU16();
    G.Group = S.ReadU8();
  }

  // The optional blocks: each may be missing, and then so are the ones after it.
  for (int I = 0; I < PmdToonCount; ++I) M.ToonFiles[I] = StandardPmdToonFile(I);
  if (S.Remaining() == 0) return;
  M.HasEnglish = S.ReadU8() != 0;
  if (M.HasEnglish) {
    M.NameEn = ReadFixedText(S, NameBytes);
    M.CommentEn = ReadFixedText(S, CommentBytes);
    for (TPmdBone& B : M.Bones) B.NameEn = ReadFixedText(S, NameBytes);
    for (size_t I = 1; I < M.Morphs.size(); ++I) M.Morphs[I].NameEn = ReadFixedText(S, NameBytes);
    for (TPmdBoneGroup& G : M.BoneGroups) G.NameEn = ReadFixedText(S, GroupNameBytes);
  }
  if (S.Remaining() == 0) return;
  M.HasToonList = true;
  for (std::string& T : M.ToonFiles) T = ReadFixedText(S, ToonFileBytes);
  if (S.Remaining() == 0) return;
  M.HasRigidBodies = true;
  M.RigidBodies.resize(ReadCount<uint32_t>(S, RigidBodyBytes));
  for (TPmdRigidBody& R : M.RigidBodies) {
    R.Name = ReadFixedText(S, NameBytes);
    R.Bone = S.ReadU16();
    R.Group = S.ReadU8();
    R.Mask = S.ReadU16();
    R.Shape = S.ReadU8();
    R.Size = ReadFloat3(S);
    R.Position = ReadFloat3(S);
    R.Rotation = ReadFloat3(S);
    R.Mass = S.ReadF32();
    R.LinearDamping = S.ReadF32();
    R.AngularDamping = S.ReadF32();
    R.Restitution = S.ReadF32();
    R.Friction = S.ReadF32();
    R.Mode = S.ReadU8();
  }
  if (S.Remaining() == 0) return;
  M.HasJoints = true;
  M.Joints.resize(ReadCount<uint32_t>(S, JointBytes));
  for (TPmdJoint& J : M.Joints) {
    J.Name = ReadFixedText(S, NameBytes);
    J.BodyA = S.ReadU32();
    J.BodyB = S.ReadU32();
    for (PmxFloat3* F : {&J.Position, &J.Rotation, &J.MoveLower, &J.MoveUpper, &J.TurnLower,
                         &J.TurnUpper, &J.MoveSpring, &J.TurnSpring})
      *F = ReadFloat3(S);
  }
}

void Validate(const TPmdModel& M) {
  const size_t Vertices = M.Vertices.size(), Bones = M.Bones.size();
  // A slot without weight may name any bone: nothing follows it.
  for (size_t I = 0; I < Vertices; ++I) {
    const TPmdVertex& V = M.Vertices[I];
    if (V.Weight > 100)
      throw Exception("PMD value out of range: " + Element("vertex", I) + ": weight " +
                      std::to_string(V.Weight) + " above 100");
    if (V.Weight > 0) CheckIndex(V.Bone[0], Bones, Element("vertex", I), "bone 1 index", "bones");
    if (V.Weight < 100) CheckIndex(V.Bone[1], Bones, Element("vertex", I), "bone 2 index", "bones");
  }

  if (M.Faces.size() % 3 != 0)
    throw Exception("PMD value out of range: face index count " + std::to_string(M.Faces.size()) +
                    " is not a multiple of 3");
  for (size_t I = 0; I < M.Faces.size(); ++I)
    CheckIndex(M.Faces[I], Vertices, Element("face", I / 3), "vertex index", "vertices");

  uint64_t Covered = 0;
  for (const TPmdMaterial& Mat : M.Materials) Covered += Mat.IndexCount;
  if (Covered != M.Faces.size())
    throw Exception("PMD value out of range: the materials cover " + std::to_string(Covered) +
                    " face indices (the model has " + std::to_string(M.Faces.size()) + ")");

  for (size_t I = 0; I < Bones; ++I) {
    const TPmdBone& B = M.Bones[I];
    const std::string E = Element("bone", I, &B.Name);
    CheckBoneOrNone(B.Parent, Bones, E, "parent index");
    // Twist and scaled-turn bones follow their tail bone: it must exist.
    if (B.Kind == pbkTwist || B.Kind == pbkRotationScaled)
      CheckIndex(B.Tail, Bones, E, "tail bone index", "bones");
    else
      CheckBoneOrNone(B.Tail, Bones, E, "tail bone index");
    if (B.Kind == pbkRotationFollow) CheckIndex(B.Link, Bones, E, "link bone index", "bones");
  }

  std::vector<bool> HasChain(Bones, false);
  for (size_t I = 0; I < M.IKs.size(); ++I) {
    const TPmdIK& K = M.IKs[I];
    const std::string E = Element("IK chain", I);
    CheckIndex(K.Bone, Bones, E, "IK bone index", "bones");
    CheckIndex(K.Target, Bones, E, "target bone index", "bones");
    for (size_t L = 0; L < K.Links.size(); ++L)
      CheckIndex(K.Links[L], Bones, E, "link " + std::to_string(L) + ": bone index", "bones");
    if (HasChain[K.Bone])
      throw Exception("PMD value out of range: " + E + ": bone " + std::to_string(K.Bone) +
                      " already leads an IK chain");
    HasChain[K.Bone] = true;
  }

  // The base morph (the first, panel 0) lists real vertices; the others count into it.
  const bool HasBase = !M.Morphs.empty() && M.Morphs[0].Panel == 0;
  const size_t BaseEntries = HasBase ? M.Morphs[0].Entries.size() : 0;
  for (size_t I = 0; I < M.Morphs.size(); ++I) {
    const TPmdMorph& F = M.Morphs[I];
    const bool Base = HasBase && I == 0;
    for (size_t D = 0; D < F.Entries.size(); ++D) {
      if (Base)
        CheckIndex(F.Entries[D].Index, Vertices, Element("morph", I, &F.Name),
                   "entry " + std::to_string(D) + ": vertex index", "vertices");
      else if (F.Entries[D].Index >= BaseEntries)
        throw Exception("PMD index out of range: " + Element("morph", I, &F.Name) + ": entry " +
                        std::to_string(D) + ": base entry index " +
                        std::to_string(F.Entries[D].Index) + " (the base morph has " +
                        std::to_string(BaseEntries) + " entries)");
    }
  }
  for (size_t I = 0; I < M.MorphPanel.size(); ++I)
    CheckIndex(M.MorphPanel[I], M.Morphs.size(), Element("morph panel entry", I), "morph index",
               "morphs");

  for (size_t I = 0; I < M.GroupMembers.size(); ++I) {
    const TPmdGroupMember& G = M.GroupMembers[I];
    CheckIndex(G.Bone, Bones, Element("bone group member", I), "bone index", "bones");
    if (G.Group == 0 || G.Group > M.BoneGroups.size())
      RaiseIndexError(Element("bone group member", I), "group number", G.Group, M.BoneGroups.size(),
                      "bone groups, numbered from 1");
  }

  for (size_t I = 0; I < M.RigidBodies.size(); ++I) {
    const TPmdRigidBody& R = M.RigidBodies[I];
    CheckBoneOrNone(R.Bone, Bones, Element("rigid body", I, &R.Name), "bone index");
  }
  for (size_t I = 0; I < M.Joints.size(); ++I) {
    const TPmdJoint& J = M.Joints[I];
    const std::string E = Element("joint", I, &J.Name);
    CheckIndex(J.BodyA, M.RigidBodies.size(), E, "rigid body A index", "rigid bodies");
    CheckIndex(J.BodyB, M.RigidBodies.size(), E, "rigid body B index", "rigid bodies");
  }
}

}  // namespace

std::string StandardPmdToonFile(int AIndex) {
  char Name[32];
  std::snprintf(Name, sizeof(Name), "toon%02d.bmp", AIndex + 1);
  return Name;
}

TPmdModel ReadPmd(TByteStream& AStream) {
  TPmdModel Model;
  ReadSections(AStream, Model);
  Validate(Model);
  return Model;
}
