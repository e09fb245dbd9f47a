// The PMD writer: fixed-size records in file order, the optional blocks as asked.
#include "formats/PmdWriter.h"

#include <algorithm>

#include "formats/ByteSink.h"
#include "formats/TextDecoding.h"
#include "math/VectorGeometry.h"

namespace {

// AText in Shift-JIS, cut to the field, then a zero and junk up to the field's size.
void FixedText(TByteSink& S, const std::string& AText, size_t ASize, const std::string& AJunk) {
  std::string Bytes = Utf8ToCp932(AText);
  if (Bytes.size() > ASize) Bytes.resize(ASize);
  std::string Field = Bytes;
  if (Field.size() < ASize) {
    Field.push_back('\0');
    Field += AJunk;
    Field.resize(ASize, '\0');
  }
  S.Raw(Field.data(), ASize);
}

}  // namespace

int TPmdBuilder::AddVertex(const TVector3f& APosition, uint16_t ABone0, uint16_t ABone1,
                           uint8_t AWeight, const TVector3f& ANormal) {
  TPmdVertex V{};
  V.Position = APosition;
  V.Normal = ANormal;
  V.Bone[0] = ABone0;
  V.Bone[1] = ABone1;
  V.Weight = AWeight;
  Model.Vertices.push_back(V);
  return static_cast<int>(Model.Vertices.size() - 1);
}

int TPmdBuilder::AddTriangle(uint16_t AV0, uint16_t AV1, uint16_t AV2) {
  Model.Faces.insert(Model.Faces.end(), {AV0, AV1, AV2});
  return static_cast<int>(Model.Faces.size() / 3 - 1);
}

int TPmdBuilder::AddMaterial(uint32_t AIndexCount, const std::string& ATexture, uint8_t AToon) {
  TPmdMaterial M{};
  M.Diffuse = NewVector4f(1, 1, 1, 1);
  M.Power = 5;
  M.Ambient = NewVector3f(0.5f, 0.5f, 0.5f);
  M.Toon = AToon;
  M.Edge = 1;
  M.IndexCount = AIndexCount;
  M.Texture = ATexture;
  Model.Materials.push_back(M);
  return static_cast<int>(Model.Materials.size() - 1);
}

int TPmdBuilder::AddBone(const std::string& AName, const TVector3f& APosition, uint16_t AParent,
                         uint8_t AKind, uint16_t ATail, uint16_t ALink) {
  TPmdBone B{};
  B.Name = AName;
  B.Parent = AParent;
  B.Tail = ATail;
  B.Kind = AKind;
  B.Link = ALink;
  B.Position = APosition;
  Model.Bones.push_back(B);
  return static_cast<int>(Model.Bones.size() - 1);
}

int TPmdBuilder::AddIK(uint16_t ABone, uint16_t ATarget, const std::vector<uint16_t>& ALinks,
                       uint16_t ALoops, float ALimit) {
  Model.IKs.push_back(TPmdIK{ABone, ATarget, ALoops, ALimit, ALinks});
  return static_cast<int>(Model.IKs.size() - 1);
}

int TPmdBuilder::AddMorph(const std::string& AName, uint8_t APanel) {
  TPmdMorph M{};
  M.Name = AName;
  M.Panel = APanel;
  Model.Morphs.push_back(M);
  return static_cast<int>(Model.Morphs.size() - 1);
}

std::vector<uint8_t> TPmdBuilder::Build() const {
  const TPmdModel& M = Model;
  TByteSink S;
  S.Raw("Pmd", 3);
  S.F32(M.Version);
  FixedText(S, M.Name, 20, Junk);
  FixedText(S, M.Comment, 256, Junk);

  S.U32(static_cast<uint32_t>(M.Vertices.size()));
  for (const TPmdVertex& V : M.Vertices) {
    S.F3(V.Position);
    S.F3(V.Normal);
    S.F2(V.UV);
    S.U16(V.Bone[0]);
    S.U16(V.Bone[1]);
    S.U8(V.Weight);
    S.U8(V.NoEdge);
  }
  S.U32(static_cast<uint32_t>(M.Faces.size()));
  for (uint16_t F : M.Faces) S.U16(F);

  S.U32(static_cast<uint32_t>(M.Materials.size()));
  for (const TPmdMaterial& Mat : M.Materials) {
    S.F4(Mat.Diffuse);
    S.F32(Mat.Power);
    S.F3(Mat.Specular);
    S.F3(Mat.Ambient);
    S.U8(Mat.Toon);
    S.U8(Mat.Edge);
    S.U32(Mat.IndexCount);
    FixedText(S, Mat.Texture, 20, Junk);
  }

  S.U16(static_cast<uint16_t>(M.Bones.size()));
  for (const TPmdBone& B : M.Bones) {
    FixedText(S, B.Name, 20, Junk);
    S.U16(B.Parent);
    S.U16(B.Tail);
    S.U8(B.Kind);
    S.U16(B.Link);
    S.F3(B.Position);
  }

  S.U16(static_cast<uint16_t>(M.IKs.size()));
  for (const TPmdIK& K : M.IKs) {
    S.U16(K.Bone);
    S.U16(K.Target);
    S.U8(static_cast<uint8_t>(K.Links.size()));
    S.U16(K.Loops);
    S.F32(K.Limit);
    for (uint16_t L : K.Links) S.U16(L);
  }

  S.U16(static_cast<uint16_t>(M.Morphs.size()));
  for (const TPmdMorph& F : M.Morphs) {
    FixedText(S, F.Name, 20, Junk);
    S.U32(static_cast<uint32_t>(F.Entries.size()));
    S.U8(F.Panel);
    for (const TPmdMorphEntry& E : F.Entries) {
      S.U32(E.Index);
      S.F3(E.Offset);
    }
  }

  S.U8(static_cast<uint8_t>(M.MorphPanel.size()));
  for (uint16_t I : M.MorphPanel) S.U16(I);
  S.U8(static_cast<uint8_t>(M.BoneGroups.size()));
  // Group names end with a line feed in real files.
  for (const TPmdBoneGroup& G : M.BoneGroups) FixedText(S, G.Name + "\n", 50, Junk);
  S.U32(static_cast<uint32_t>(M.GroupMembers.size()));
  for (const TPmdGroupMember& G : M.GroupMembers) {
    S.U16(G.Bone);
    S.U8(G.Group);
  }

  if (OptionalBlocks >= 1) {
    S.U8(M.HasEnglish ? 1 : 0);
    if (M.HasEnglish) {
      FixedText(S, M.NameEn, 20, Junk);
      FixedText(S, M.CommentEn, 256, Junk);
      for (const TPmdBone& B : M.Bones) FixedText(S, B.NameEn, 20, Junk);
      for (size_t I = 1; I < M.Morphs.size(); ++I) FixedText(S, M.Morphs[I].NameEn, 20, Junk);
      for (const TPmdBoneGroup& G : M.BoneGroups) FixedText(S, G.NameEn, 50, Junk);
    }
  }
  if (OptionalBlocks >= 2)
    for (const std::string& T : M.ToonFiles) FixedText(S, T, 100, Junk);
  if (OptionalBlocks >= 3) {
    S.U32(static_cast<uint32_t>(M.RigidBodies.size()));
    for (const TPmdRigidBody& R : M.RigidBodies) {
      FixedText(S, R.Name, 20, Junk);
      S.U16(R.Bone);
      S.U8(R.Group);
      S.U16(R.Mask);
      S.U8(R.Shape);
      S.F3(R.Size);
      S.F3(R.Position);
      S.F3(R.Rotation);
      for (float F : {R.Mass, R.LinearDamping, R.AngularDamping, R.Restitution, R.Friction})
        S.F32(F);
      S.U8(R.Mode);
    }
  }
  if (OptionalBlocks >= 4) {
    S.U32(static_cast<uint32_t>(M.Joints.size()));
    for (const TPmdJoint& J : M.Joints) {
      FixedText(S, J.Name, 20, Junk);
      S.U32(J.BodyA);
      S.U32(J.BodyB);
      for (const PmxFloat3* F : {&J.Position, &J.Rotation, &J.MoveLower, &J.MoveUpper, &J.TurnLower,
                                 &J.TurnUpper, &J.MoveSpring, &J.TurnSpring})
        S.F3(*F);
    }
  }
  return S.Bytes;
}
