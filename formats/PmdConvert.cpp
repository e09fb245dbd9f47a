// A PMD model seen as PMX: the records of the PMX model it describes, converted into the system's
// frame the way the PMX reader converts (positions x 0.1 and Z mirrored, normals and winding
// mirrored, IK limits through DeriveIKLinkLimits; fixed axes, rigid bodies and joints kept in the
// file's frame, as the PMX reader keeps them).
#include <algorithm>
#include <cmath>
#include <numbers>
#include <string_view>

#include "formats/Pmd.h"
#include "math/VectorGeometry.h"

namespace {

// Display flags of every bone a PMD model shows.
constexpr TPmxBoneFlags kVisibleBone = FlagBit(bfDisplay) | FlagBit(bfCanOperate);

// The knees: the IK links whose name holds this turn about their X axis only, bent one way.
constexpr std::string_view kKneeName = "ひざ";
// Knee limits in the file's frame (radians): -180 degrees to -0.5 degrees about X.
constexpr float kKneeLowerX = -std::numbers::pi_v<float>;
constexpr float kKneeUpperX = -0.5f * std::numbers::pi_v<float> / 180.0f;

// PMX's limit angle per IK step is four times PMD's.
constexpr float kIKLimitScale = 4.0f;

// Sphere modes of PMX.
constexpr uint8_t kSphereMultiply = 1, kSphereAdd = 2;

bool EndsWithNoCase(std::string_view AText, std::string_view AEnd) {
  if (AText.size() < AEnd.size()) return false;
  for (size_t I = 0; I < AEnd.size(); ++I) {
    char C = AText[AText.size() - AEnd.size() + I];
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
    if (C != AEnd[I]) return false;
  }
  return true;
}

bool IsSphereName(std::string_view AName) {
  return EndsWithNoCase(AName, ".sph") || EndsWithNoCase(AName, ".spa");
}

// The shared ramp a toon file name stands for (0..9 for "toon01.bmp".."toon10.bmp", any case),
// or -1 for a file of the model's own.
int SharedToonNumber(std::string_view AName) {
  for (int I = 0; I < PmdToonCount; ++I) {
    const std::string Standard = StandardPmdToonFile(I);
    if (AName.size() == Standard.size() && EndsWithNoCase(AName, Standard)) return I;
  }
  return -1;
}

// Smallest PMX index size that holds every index of a list of ACount elements (signed, -1 for
// none; vertex indices unsigned), so that the header describes a PMX file that could hold it.
uint8_t IndexSize(size_t ACount, bool AUnsigned) {
  const size_t Max1 = AUnsigned ? 0xFF : 0x7F, Max2 = AUnsigned ? 0xFFFF : 0x7FFF;
  if (ACount <= Max1) return 1;
  if (ACount <= Max2) return 2;
  return 4;
}

int32_t BoneOrNone(uint16_t AIndex) {
  return AIndex == PmdNoBone ? -1 : AIndex;
}

class TTextureList {
 public:
  explicit TTextureList(std::vector<std::string>& AList) : FList(AList) {}
  // Index of APath, added the first time; "" is no texture (-1).
  int32_t IndexOf(std::string APath) {
    if (APath.empty()) return -1;
    std::replace(APath.begin(), APath.end(), '/', '\\');
    for (size_t I = 0; I < FList.size(); ++I)
      if (FList[I] == APath) return static_cast<int32_t>(I);
    FList.push_back(APath);
    return static_cast<int32_t>(FList.size() - 1);
  }

 private:
  std::vector<std::string>& FList;
};

TPmxMaterial ConvertMaterial(const TPmdMaterial& AMat, const TPmdModel& AModel,
                             TTextureList& ATextures) {
  TPmxMaterial R{};
  R.Diffuse = AMat.Diffuse;
  R.Specular = AMat.Specular;
  R.Shininess = AMat.Power;
  R.Ambient = AMat.Ambient;
  // Every PMD material casts and takes shadows; a see-through one shows both faces.
  R.RenderFlags = static_cast<TPmxRenderFlags>(
      FlagBit(rfGroundShadow) | FlagBit(rfShadowMapping) | FlagBit(rfSelfShadow) |
      (AMat.Diffuse.W < 1.0f ? FlagBit(rfTwoSide) : 0) | (AMat.Edge != 0 ? FlagBit(rfEdge) : 0));
  R.EdgeColor = NewVector4f(0, 0, 0, 1);
  R.EdgeSize = 1.0f;

  // "texture", "sphere" or "texture*sphere"; the sphere is told by its extension.
  std::string_view Field = AMat.Texture, Texture, Sphere;
  const size_t Star = Field.find('*');
  if (Star != std::string_view::npos) {
    Texture = Field.substr(0, Star);
    Sphere = Field.substr(Star + 1);
    if (IsSphereName(Texture) && !IsSphereName(Sphere)) std::swap(Texture, Sphere);
  } else if (IsSphereName(Field)) {
    Sphere = Field;
  } else {
    Texture = Field;
  }
  R.TextureIndex = ATextures.IndexOf(std::string(Texture));
  R.SphereTextureIndex = ATextures.IndexOf(std::string(Sphere));
  if (R.SphereTextureIndex >= 0)
    R.SphereMode = EndsWithNoCase(Sphere, ".spa") ? kSphereAdd : kSphereMultiply;

  // Toon: through the toon list; the standard names are the shared ramps.
  R.ToonTexture.ToonTextureIndex = -1;
  if (AMat.Toon < PmdToonCount) {
    const std::string& File = AModel.ToonFiles[AMat.Toon];
    const int Shared = SharedToonNumber(File);
    if (Shared >= 0) {
      R.SharedToonFlag = 1;
      R.ToonTexture.ToonTextureIndex = 0;
      R.ToonTexture.SharedToonTextureIndex = static_cast<uint8_t>(Shared);
    } else {
      R.ToonTexture.ToonTextureIndex = ATextures.IndexOf(File);
    }
  }
  R.NumberOfVertex = static_cast<int32_t>(AMat.IndexCount);
  return R;
}

TPmxBone ConvertBone(const TPmdModel& AModel, size_t AIndex) {
  const TPmdBone& B = AModel.Bones[AIndex];
  TPmxBone R{};
  R.NameJp = B.Name;
  R.NameEn = B.NameEn;
  R.Position = B.Position;
  ConvertPosition(R.Position);
  R.ParentIndex = BoneOrNone(B.Parent);
  R.Flags = FlagBit(bfCanRotate) | FlagBit(bfConnection);
  if (B.Kind != pbkHidden) R.Flags |= kVisibleBone;
  if (B.Kind == pbkRotateMove || B.Kind == pbkIK) R.Flags |= FlagBit(bfCanTranslate);
  // The display line points at the tail bone (0: none), except where the tail is the bone a
  // scaled turn comes from.
  R.ConnectionBoneIndex = -1;
  if (B.Kind != pbkRotationScaled && B.Tail != 0) R.ConnectionBoneIndex = BoneOrNone(B.Tail);
  R.AddParentBoneIndex = -1;
  if (B.Kind == pbkRotationFollow) {
    R.Flags |= FlagBit(bfAddRotation);
    R.AddParentBoneIndex = B.Link;
    R.AddPower = 1.0f;
  } else if (B.Kind == pbkRotationScaled) {
    R.Flags |= FlagBit(bfAddRotation);
    R.AddParentBoneIndex = B.Tail;
    R.AddPower = static_cast<float>(B.Link) / 100.0f;
  } else if (B.Kind == pbkTwist) {
    // The axis from the bone to its tail, in the file's frame as PMX stores a fixed axis.
    const PmxFloat3& To = AModel.Bones[B.Tail].Position;
    const float D[3] = {To.X - B.Position.X, To.Y - B.Position.Y, To.Z - B.Position.Z};
    const float Length = std::sqrt(D[0] * D[0] + D[1] * D[1] + D[2] * D[2]);
    if (Length > 0) {
      R.Flags |= FlagBit(bfFixedAxis);
      R.FixedAxisDirection = NewVector3f(D[0] / Length, D[1] / Length, D[2] / Length);
    }
  }
  return R;
}

void ConvertIK(const TPmdModel& AModel, const TPmdIK& AIK, TPmxBone& ABone) {
  ABone.Flags |= FlagBit(bfIK);
  ABone.IKTargetBoneIndex = AIK.Target;
  ABone.IKLoopCount = AIK.Loops;
  ABone.IKLoopLimitAngle = kIKLimitScale * AIK.Limit;
  ABone.IKLinks.resize(AIK.Links.size());
  for (size_t I = 0; I < AIK.Links.size(); ++I) {
    TPmxIKLink& L = ABone.IKLinks[I];
    L.LinkBoneIndex = AIK.Links[I];
    if (AModel.Bones[AIK.Links[I]].Name.find(kKneeName) != std::string::npos) {
      L.AngleLimit = 1;
      DeriveIKLinkLimits(L, NewVector3f(kKneeLowerX, 0, 0), NewVector3f(kKneeUpperX, 0, 0));
    }
  }
}

TPmxRigidBody ConvertRigidBody(const TPmdModel& AModel, const TPmdRigidBody& ABody) {
  TPmxRigidBody R{};
  R.NameJp = ABody.Name;
  R.RelatedBoneIndex = BoneOrNone(ABody.Bone);
  R.Group = ABody.Group;
  R.CollisionlessGroupFlag = ABody.Mask;
  R.Shape = static_cast<TPmxRigidBodyShapeType>(ABody.Shape);
  R.Size = ABody.Size;
  // Made absolute from the bone's position (bone 0's for a body without a bone), in file units.
  R.Position = ABody.Position;
  const int32_t Bone = ABody.Bone == PmdNoBone ? 0 : ABody.Bone;
  if (Bone < static_cast<int32_t>(AModel.Bones.size())) {
    const PmxFloat3& At = AModel.Bones[Bone].Position;
    for (int C = 0; C < 3; ++C) R.Position.V[C] += At.V[C];
  }
  R.Rotation = ABody.Rotation;
  R.Mass = ABody.Mass;
  R.TranslateDecay = ABody.LinearDamping;
  R.RotateDecay = ABody.AngularDamping;
  R.Repulsion = ABody.Restitution;
  R.Friction = ABody.Friction;
  R.PhysicsOperation = ABody.Mode;
  return R;
}

TPmxJoint ConvertJoint(const TPmdJoint& AJoint) {
  TPmxJoint R{};
  R.NameJp = AJoint.Name;
  R.JointKind = jkSpring6DOF;
  TPmxJointSpring6DOF& D = R.Data.Spring6DOF;
  D.RigidBodyAIndex = static_cast<int32_t>(AJoint.BodyA);
  D.RigidBodyBIndex = static_cast<int32_t>(AJoint.BodyB);
  D.Position = AJoint.Position;
  D.Rotation = AJoint.Rotation;
  D.TranslateLowerLimit = AJoint.MoveLower;
  D.TranslateUpperLimit = AJoint.MoveUpper;
  D.RotateLowerLimit = AJoint.TurnLower;
  D.RotateUpperLimit = AJoint.TurnUpper;
  D.TranslationSpringConstant = AJoint.MoveSpring;
  D.RotationSpringConstant = AJoint.TurnSpring;
  return R;
}

TPmxDisplayFrameElement FrameElement(uint8_t ATarget, int32_t AIndex) {
  TPmxDisplayFrameElement E{};
  E.Target = ATarget;
  E.BoneIndex = AIndex;
  return E;
}

}  // namespace

void ConvertPmdModel(const TPmdModel& M, TPmx& P) {
  P.FFormat = TModelFormat::mfPmd;
  P.FModelNameJp = M.Name;
  P.FCommentJp = M.Comment;
  P.FModelNameEn = M.NameEn;
  P.FCommentEn = M.CommentEn;

  P.FVertexList.resize(M.Vertices.size());
  for (size_t I = 0; I < M.Vertices.size(); ++I) {
    const TPmdVertex& V = M.Vertices[I];
    TPmxVertex& R = P.FVertexList[I];
    R.Position = V.Position;
    ConvertPosition(R.Position);
    R.Normal = V.Normal;
    if (MirrorZ) R.Normal.Z = -R.Normal.Z;
    R.UV = V.UV;
    if (V.Bone[0] == V.Bone[1] || V.Weight == 100 || V.Weight == 0) {
      R.BoneWeightMethod = bwBDEF1;
      R.BoneWeight.BDEF1.BoneIndex = V.Weight == 0 ? V.Bone[1] : V.Bone[0];
    } else {
      R.BoneWeightMethod = bwBDEF2;
      R.BoneWeight.BDEF2.Bone1Index = V.Bone[0];
      R.BoneWeight.BDEF2.Bone2Index = V.Bone[1];
      R.BoneWeight.BDEF2.Bone1Weight = static_cast<float>(V.Weight) / 100.0f;
    }
    R.MagnificationOfEdge = V.NoEdge != 0 ? 0.0f : 1.0f;
  }

  P.FFaceList.assign(M.Faces.begin(), M.Faces.end());
  if (MirrorZ)
    for (size_t T = 0; T + 2 < P.FFaceList.size(); T += 3)
      std::swap(P.FFaceList[T + 1], P.FFaceList[T + 2]);

  TTextureList Textures(P.FTextureList);
  for (const TPmdMaterial& Mat : M.Materials)
    P.FMaterialList.push_back(ConvertMaterial(Mat, M, Textures));

  for (size_t I = 0; I < M.Bones.size(); ++I) P.FBoneList.push_back(ConvertBone(M, I));
  for (const TPmdIK& K : M.IKs) ConvertIK(M, K, P.FBoneList[K.Bone]);

  // The base morph is not a morph: its entries resolve the others' into vertex indices.
  const bool HasBase = !M.Morphs.empty() && M.Morphs[0].Panel == 0;
  const size_t FirstMorph = HasBase ? 1 : 0;
  for (size_t I = FirstMorph; I < M.Morphs.size(); ++I) {
    const TPmdMorph& F = M.Morphs[I];
    TPmxMorph R{};
    R.NameJp = F.Name;
    R.NameEn = F.NameEn;
    R.Target = static_cast<TPmxMorphTarget>(F.Panel);
    R.Kind = mkVertex;
    R.Data.resize(F.Entries.size());
    for (size_t D = 0; D < F.Entries.size(); ++D) {
      R.Data[D].Vertex.VertexIndex =
          static_cast<int32_t>(M.Morphs[0].Entries[F.Entries[D].Index].Index);
      R.Data[D].Vertex.PositionOffset = F.Entries[D].Offset;
      ConvertPosition(R.Data[D].Vertex.PositionOffset);
    }
    P.FMorphList.push_back(std::move(R));
  }

  // Display frames: the root holding bone 0, the facial frame, then one per bone group.
  TPmxDisplayFrame Root{};
  Root.NameJp = Root.NameEn = "Root";
  Root.SpecialFlag = 1;
  if (!M.Bones.empty()) Root.Elements.push_back(FrameElement(0, 0));
  P.FDisplayFrameList.push_back(std::move(Root));
  TPmxDisplayFrame Facial{};
  Facial.NameJp = "表情";
  Facial.NameEn = "Exp";
  Facial.SpecialFlag = 1;
  for (uint16_t Morph : M.MorphPanel)
    if (Morph >= FirstMorph)  // the base morph is not shown
      Facial.Elements.push_back(FrameElement(1, Morph - static_cast<int32_t>(FirstMorph)));
  P.FDisplayFrameList.push_back(std::move(Facial));
  for (size_t G = 0; G < M.BoneGroups.size(); ++G) {
    TPmxDisplayFrame Frame{};
    Frame.NameJp = M.BoneGroups[G].Name;
    Frame.NameEn = M.BoneGroups[G].NameEn;
    for (const TPmdGroupMember& Member : M.GroupMembers)
      if (Member.Group == G + 1) Frame.Elements.push_back(FrameElement(0, Member.Bone));
    P.FDisplayFrameList.push_back(std::move(Frame));
  }

  for (const TPmdRigidBody& B : M.RigidBodies) P.FRigidBodyList.push_back(ConvertRigidBody(M, B));
  for (const TPmdJoint& J : M.Joints) P.FJointList.push_back(ConvertJoint(J));

  // The PMX header that would hold this model: UTF-8 texts (as decoded), no additional UVs.
  TPmxHeader& H = P.FHeader;
  H.Version = 2.0f;
  H.Encoding = 1;
  H.AdditionalUVCount = 0;
  H.VertexIndexSize = IndexSize(P.FVertexList.size(), true);
  H.TextureIndexSize = IndexSize(P.FTextureList.size(), false);
  H.MaterialIndexSize = IndexSize(P.FMaterialList.size(), false);
  H.BoneIndexSize = IndexSize(P.FBoneList.size(), false);
  H.MorphIndexSize = IndexSize(P.FMorphList.size(), false);
  H.RigidBodyIndexSize = IndexSize(P.FRigidBodyList.size(), false);
}
