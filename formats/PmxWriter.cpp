// PMX writer: the reader's layout, written back out.
#include "formats/PmxWriter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "formats/ByteSink.h"

namespace {

uint8_t UnsignedSize(size_t ACount) {
  return ACount <= 0x100 ? 1 : ACount <= 0x10000 ? 2 : 4;
}
uint8_t SignedSize(size_t ACount) {
  return ACount <= 0x80 ? 1 : ACount <= 0x8000 ? 2 : 4;
}

}  // namespace

// ---- TPmxBuilder ------------------------------------------------------------------------------

int TPmxBuilder::AddVertex(const TVector3f& APosition, const TVector3f& ANormal, PmxFloat2 AUV,
                           int32_t ABone) {
  TPmxVertex V{};
  V.Position = APosition;
  V.Normal = ANormal;
  V.UV = AUV;
  V.BoneWeightMethod = bwBDEF1;
  V.BoneWeight.BDEF1.BoneIndex = ABone;
  V.MagnificationOfEdge = 1.0f;
  Vertices.push_back(V);
  return static_cast<int>(Vertices.size() - 1);
}

int TPmxBuilder::AddVertexBDEF2(const TVector3f& APosition, int32_t ABone1, int32_t ABone2,
                                float AWeight1, const TVector3f& ANormal) {
  const int I = AddVertex(APosition, ANormal, PmxFloat2{0, 0}, ABone1);
  TPmxVertex& V = Vertices[I];
  V.BoneWeightMethod = bwBDEF2;
  V.BoneWeight.BDEF2.Bone1Index = ABone1;
  V.BoneWeight.BDEF2.Bone2Index = ABone2;
  V.BoneWeight.BDEF2.Bone1Weight = AWeight1;
  return I;
}

int TPmxBuilder::AddVertexSDEF(const TVector3f& APosition, int32_t ABone1, int32_t ABone2,
                               float AWeight1, const TVector3f& AC, const TVector3f& AR0,
                               const TVector3f& AR1, const TVector3f& ANormal) {
  const int I = AddVertex(APosition, ANormal, PmxFloat2{0, 0}, ABone1);
  TPmxVertex& V = Vertices[I];
  V.BoneWeightMethod = bwSDEF;
  TPmxBoneWeightSDEF& W = V.BoneWeight.SDEF;
  W.Bone1Index = ABone1;
  W.Bone2Index = ABone2;
  W.Bone1Weight = AWeight1;
  W.SDEF_C = AC;
  W.SDEF_R0 = AR0;
  W.SDEF_R1 = AR1;
  return I;
}

int TPmxBuilder::AddTriangle(int32_t AV0, int32_t AV1, int32_t AV2) {
  Faces.insert(Faces.end(), {AV0, AV1, AV2});
  return static_cast<int>(Faces.size() / 3 - 1);
}

int TPmxBuilder::AddTexture(const std::string& APath) {
  Textures.push_back(APath);
  return static_cast<int>(Textures.size() - 1);
}

int TPmxBuilder::AddMaterial(const std::string& AName, int32_t AFaceIndexCount,
                             int32_t ATextureIndex) {
  TPmxMaterial M{};
  M.NameJp = AName;
  M.NameEn = AName;
  M.Diffuse = TVector4f{{1, 1, 1, 1}};
  M.Specular = TVector3f{{0, 0, 0}};
  M.Shininess = 5.0f;
  M.Ambient = TVector3f{{0.5f, 0.5f, 0.5f}};
  M.RenderFlags = static_cast<TPmxRenderFlags>(FlagBit(rfGroundShadow) | FlagBit(rfShadowMapping) |
                                               FlagBit(rfSelfShadow));
  M.EdgeColor = TVector4f{{0, 0, 0, 1}};
  M.EdgeSize = 1.0f;
  M.TextureIndex = ATextureIndex;
  M.SphereTextureIndex = -1;
  M.ToonTexture.ToonTextureIndex = -1;
  M.NumberOfVertex = AFaceIndexCount;
  Materials.push_back(M);
  return static_cast<int>(Materials.size() - 1);
}

int TPmxBuilder::AddBone(const std::string& AName, const TVector3f& APosition, int32_t AParent,
                         TPmxBoneFlags AFlags) {
  TPmxBone B{};
  B.NameJp = AName;
  B.NameEn = AName;
  B.Position = APosition;
  B.ParentIndex = AParent;
  B.Flags = AFlags;
  B.ConnectionBoneIndex = HasFlag(AFlags, bfConnection) ? -1 : 0;
  Bones.push_back(B);
  return static_cast<int>(Bones.size() - 1);
}

void TPmxBuilder::MakeIK(int ABone, int32_t ATarget, int32_t ALoopCount, float ALimitAngle) {
  TPmxBone& B = Bones.at(ABone);
  B.Flags = static_cast<TPmxBoneFlags>(B.Flags | FlagBit(bfIK));
  B.IKTargetBoneIndex = ATarget;
  B.IKLoopCount = ALoopCount;
  B.IKLoopLimitAngle = ALimitAngle;
}

void TPmxBuilder::AddIKLink(int ABone, int32_t ALinkBone) {
  TPmxIKLink L{};
  L.LinkBoneIndex = ALinkBone;
  L.Euler = etXYZ;
  L.AxisType = atNone;
  Bones.at(ABone).IKLinks.push_back(L);
}

void TPmxBuilder::AddIKLink(int ABone, int32_t ALinkBone, const TVector3f& ALower,
                            const TVector3f& AUpper) {
  TPmxIKLink L{};
  L.LinkBoneIndex = ALinkBone;
  L.AngleLimit = 1;
  L.LowerLimit = ALower;
  L.UpperLimit = AUpper;
  Bones.at(ABone).IKLinks.push_back(L);
}

int TPmxBuilder::AddMorph(const std::string& AName, TPmxMorphKind AKind, TPmxMorphTarget ATarget) {
  TPmxMorph M{};
  M.NameJp = AName;
  M.NameEn = AName;
  M.Kind = AKind;
  M.Target = ATarget;
  Morphs.push_back(M);
  return static_cast<int>(Morphs.size() - 1);
}

void TPmxBuilder::AddVertexMorphOffset(int AMorph, int32_t AVertex, const TVector3f& AOffset) {
  TPmxMorphData D{};
  D.Vertex.VertexIndex = AVertex;
  D.Vertex.PositionOffset = AOffset;
  Morphs.at(AMorph).Data.push_back(D);
}

std::vector<uint8_t> TPmxBuilder::Build() const {
  const bool Convert = !Settings.FileFrame;
  // Inverse of the reader's ConvertPosition.
  auto FilePosition = [&](PmxFloat3 P) {
    if (!Convert) return P;
    if (MirrorZ) P.Z = -P.Z;
    if (PositionScale != 1.0f) {
      P.X /= PositionScale;
      P.Y /= PositionScale;
      P.Z /= PositionScale;
    }
    return P;
  };

  size_t UVCount = 0;
  if (Settings.AdditionalUVCount >= 0) {
    UVCount = static_cast<size_t>(Settings.AdditionalUVCount);
  } else {
    for (const TPmxVertex& V : Vertices) UVCount = std::max(UVCount, V.AdditionalUV.size());
  }
  const uint8_t Enc = Settings.Encoding;
  auto Pick = [](uint8_t AGiven, uint8_t AAuto) { return AGiven != 0 ? AGiven : AAuto; };
  const uint8_t VSize = Pick(Settings.VertexIndexSize, UnsignedSize(Vertices.size()));
  const uint8_t TSize = Pick(Settings.TextureIndexSize, SignedSize(Textures.size()));
  const uint8_t MSize = Pick(Settings.MaterialIndexSize, SignedSize(Materials.size()));
  const uint8_t BSize = Pick(Settings.BoneIndexSize, SignedSize(Bones.size()));
  const uint8_t KSize = Pick(Settings.MorphIndexSize, SignedSize(Morphs.size()));
  const uint8_t RSize = Pick(Settings.RigidBodyIndexSize, SignedSize(RigidBodies.size()));

  TByteSink S;
  S.Raw("PMX ", 4);
  S.F32(Settings.Version);
  S.U8(8);
  for (uint8_t B : {Enc, static_cast<uint8_t>(UVCount), VSize, TSize, MSize, BSize, KSize, RSize})
    S.U8(B);
  S.Text(ModelNameJp, Enc);
  S.Text(ModelNameEn, Enc);
  S.Text(CommentJp, Enc);
  S.Text(CommentEn, Enc);

  S.I32(static_cast<int32_t>(Vertices.size()));
  for (const TPmxVertex& V : Vertices) {
    S.F3(FilePosition(V.Position));
    PmxFloat3 N = V.Normal;
    if (Convert && MirrorZ) N.Z = -N.Z;
    S.F3(N);
    S.F2(V.UV);
    for (size_t I = 0; I < UVCount; ++I)
      S.F4(I < V.AdditionalUV.size() ? V.AdditionalUV[I] : TVector4f{{0, 0, 0, 0}});
    S.U8(V.BoneWeightMethod);
    const TPmxBoneWeight& W = V.BoneWeight;
    switch (V.BoneWeightMethod) {
      case bwBDEF1:
        S.Index(W.BDEF1.BoneIndex, BSize, false, "bone");
        break;
      case bwBDEF2:
        S.Index(W.BDEF2.Bone1Index, BSize, false, "bone");
        S.Index(W.BDEF2.Bone2Index, BSize, false, "bone");
        S.F32(W.BDEF2.Bone1Weight);
        break;
      case bwBDEF4:
      case bwQDEF:
        for (int32_t B :
             {W.BDEF4.Bone1Index, W.BDEF4.Bone2Index, W.BDEF4.Bone3Index, W.BDEF4.Bone4Index})
          S.Index(B, BSize, false, "bone");
        for (float F :
             {W.BDEF4.Bone1Weight, W.BDEF4.Bone2Weight, W.BDEF4.Bone3Weight, W.BDEF4.Bone4Weight})
          S.F32(F);
        break;
      case bwSDEF:
        S.Index(W.SDEF.Bone1Index, BSize, false, "bone");
        S.Index(W.SDEF.Bone2Index, BSize, false, "bone");
        S.F32(W.SDEF.Bone1Weight);
        // The points are positions: a file stores them in its own units and handedness.
        S.F3(FilePosition(W.SDEF.SDEF_C));
        S.F3(FilePosition(W.SDEF.SDEF_R0));
        S.F3(FilePosition(W.SDEF.SDEF_R1));
        break;
      default:
        break;
    }
    S.F32(V.MagnificationOfEdge);
  }

  S.I32(static_cast<int32_t>(Faces.size()));
  for (size_t I = 0; I < Faces.size(); ++I) {
    size_t From = I;
    // The reader swaps the second and third index of every complete triangle.
    if (Convert && MirrorZ && I / 3 < Faces.size() / 3 && I % 3 != 0)
      From = I % 3 == 1 ? I + 1 : I - 1;
    S.Index(Faces[From], VSize, true, "vertex");
  }

  S.I32(static_cast<int32_t>(Textures.size()));
  for (const std::string& T : Textures) S.Text(T, Enc);

  S.I32(static_cast<int32_t>(Materials.size()));
  for (const TPmxMaterial& M : Materials) {
    S.Text(M.NameJp, Enc);
    S.Text(M.NameEn, Enc);
    S.F4(M.Diffuse);
    S.F3(M.Specular);
    S.F32(M.Shininess);
    S.F3(M.Ambient);
    S.U8(M.RenderFlags);
    S.F4(M.EdgeColor);
    S.F32(M.EdgeSize);
    S.Index(M.TextureIndex, TSize, false, "texture");
    S.Index(M.SphereTextureIndex, TSize, false, "texture");
    S.U8(M.SphereMode);
    S.U8(M.SharedToonFlag);
    if (M.SharedToonFlag != 0)
      S.U8(M.ToonTexture.SharedToonTextureIndex);
    else
      S.Index(M.ToonTexture.ToonTextureIndex, TSize, false, "texture");
    S.Text(M.Memo, Enc);
    S.I32(M.NumberOfVertex);
  }

  S.I32(static_cast<int32_t>(Bones.size()));
  for (const TPmxBone& B : Bones) {
    S.Text(B.NameJp, Enc);
    S.Text(B.NameEn, Enc);
    S.F3(FilePosition(B.Position));
    S.Index(B.ParentIndex, BSize, false, "bone");
    S.I32(B.TransformationLevel);
    S.U16(B.Flags);
    if (HasFlag(B.Flags, bfConnection))
      S.Index(B.ConnectionBoneIndex, BSize, false, "bone");
    else
      S.F3(FilePosition(B.PositionOffset));
    if (HasFlag(B.Flags, bfAddRotation) || HasFlag(B.Flags, bfAddTranslation)) {
      S.Index(B.AddParentBoneIndex, BSize, false, "bone");
      S.F32(B.AddPower);
    }
    if (HasFlag(B.Flags, bfFixedAxis)) S.F3(B.FixedAxisDirection);
    if (HasFlag(B.Flags, bfLocalAxis)) {
      S.F3(B.LocalAxisXDirection);
      S.F3(B.LocalAxisZDirection);
    }
    if (HasFlag(B.Flags, bfTransformByExternalParent)) S.I32(B.ExternalParentKey);
    if (HasFlag(B.Flags, bfIK)) {
      S.Index(B.IKTargetBoneIndex, BSize, false, "bone");
      S.I32(B.IKLoopCount);
      S.F32(B.IKLoopLimitAngle);
      S.I32(static_cast<int32_t>(B.IKLinks.size()));
      for (const TPmxIKLink& L : B.IKLinks) {
        S.Index(L.LinkBoneIndex, BSize, false, "bone");
        S.U8(L.AngleLimit);
        if (L.AngleLimit != 1) continue;
        PmxFloat3 Lower = L.LowerLimit, Upper = L.UpperLimit;
        if (Convert && MirrorZ) {
          // The reader negates X and Y and re-orders: the file's lower X/Y are the negated
          // upper ones.
          Lower = TVector3f{{-L.UpperLimit.X, -L.UpperLimit.Y, L.LowerLimit.Z}};
          Upper = TVector3f{{-L.LowerLimit.X, -L.LowerLimit.Y, L.UpperLimit.Z}};
        }
        S.F3(Lower);
        S.F3(Upper);
      }
    }
  }

  S.I32(static_cast<int32_t>(Morphs.size()));
  for (const TPmxMorph& M : Morphs) {
    S.Text(M.NameJp, Enc);
    S.Text(M.NameEn, Enc);
    S.U8(M.Target);
    S.U8(M.Kind);
    S.I32(static_cast<int32_t>(M.Data.size()));
    for (const TPmxMorphData& D : M.Data) {
      switch (M.Kind) {
        case mkGroup:
        case mkFlip:
          S.Index(D.Group.MorphIndex, KSize, false, "morph");
          S.F32(D.Group.MorphRate);
          break;
        case mkVertex:
          S.Index(D.Vertex.VertexIndex, VSize, true, "vertex");
          S.F3(FilePosition(D.Vertex.PositionOffset));
          break;
        case mkBone: {
          S.Index(D.Bone.BoneIndex, BSize, false, "bone");
          S.F3(FilePosition(D.Bone.TranslateValue));
          PmxFloat4 R = D.Bone.RotateValue;
          if (Convert && MirrorZ) {
            R.Z = -R.Z;
            R.W = -R.W;
          }
          S.F4(R);
          break;
        }
        case mkUV:
        case mkAddUV1:
        case mkAddUV2:
        case mkAddUV3:
        case mkAddUV4:
          S.Index(D.UV.VertexIndex, VSize, true, "vertex");
          S.F4(D.UV.UVOffset);
          break;
        case mkMaterial:
          S.Index(D.Material.MaterialIndex, MSize, false, "material");
          S.U8(D.Material.OffsetType);
          S.F4(D.Material.Diffuse);
          S.F3(D.Material.Specular);
          S.F32(D.Material.Shininess);
          S.F3(D.Material.Ambient);
          S.F4(D.Material.EdgeColor);
          S.F32(D.Material.EdgeSize);
          S.F4(D.Material.TextureFactor);
          S.F4(D.Material.SphereTextureFactor);
          S.F4(D.Material.ToonTextureFactor);
          break;
        case mkImpulse:
          S.Index(D.Impulse.RigidBodyIndex, RSize, false, "rigid body");
          S.U8(D.Impulse.LocalFlag);
          S.F3(D.Impulse.TranslationSpeed);
          S.F3(D.Impulse.RotationTorque);
          break;
        default:
          break;
      }
    }
  }

  S.I32(static_cast<int32_t>(DisplayFrames.size()));
  for (const TPmxDisplayFrame& F : DisplayFrames) {
    S.Text(F.NameJp, Enc);
    S.Text(F.NameEn, Enc);
    S.U8(F.SpecialFlag);
    S.I32(static_cast<int32_t>(F.Elements.size()));
    for (const TPmxDisplayFrameElement& E : F.Elements) {
      S.U8(E.Target);
      if (E.Target == 0)
        S.Index(E.BoneIndex, BSize, false, "bone");
      else if (E.Target == 1)
        S.Index(E.MorphIndex, KSize, false, "morph");
    }
  }

  S.I32(static_cast<int32_t>(RigidBodies.size()));
  for (const TPmxRigidBody& R : RigidBodies) {
    S.Text(R.NameJp, Enc);
    S.Text(R.NameEn, Enc);
    S.Index(R.RelatedBoneIndex, BSize, false, "bone");
    S.U8(R.Group);
    S.U16(R.CollisionlessGroupFlag);
    S.U8(R.Shape);
    S.F3(R.Size);
    S.F3(R.Position);
    S.F3(R.Rotation);
    for (float F : {R.Mass, R.TranslateDecay, R.RotateDecay, R.Repulsion, R.Friction}) S.F32(F);
    S.U8(R.PhysicsOperation);
  }

  S.I32(static_cast<int32_t>(Joints.size()));
  for (const TPmxJoint& J : Joints) {
    S.Text(J.NameJp, Enc);
    S.Text(J.NameEn, Enc);
    S.U8(J.JointKind);
    if (J.JointKind >= 6) continue;
    const TPmxJointSpring6DOF& D = J.Data.Spring6DOF;
    S.Index(D.RigidBodyAIndex, RSize, false, "rigid body");
    S.Index(D.RigidBodyBIndex, RSize, false, "rigid body");
    for (const PmxFloat3* P : {&D.Position, &D.Rotation, &D.TranslateLowerLimit,
                               &D.TranslateUpperLimit, &D.RotateLowerLimit, &D.RotateUpperLimit,
                               &D.TranslationSpringConstant, &D.RotationSpringConstant})
      S.F3(*P);
  }

  if (Settings.Version > 2.0f) {
    S.I32(static_cast<int32_t>(SoftBodies.size()));
    for (const TPmxSoftBody& B : SoftBodies) {
      S.Text(B.NameJp, Enc);
      S.Text(B.NameEn, Enc);
      S.U8(B.Shape);
      S.Index(B.RelatedMaterialIndex, MSize, false, "material");
      S.U8(B.Group);
      S.U16(B.CollisionlessGroupFlag);
      S.U8(B.Flags);
      S.I32(B.BLinkDistance);
      S.I32(B.NumberOfCluster);
      S.F32(B.TotalMass);
      S.F32(B.CollisionMargin);
      S.I32(B.AeroModel);
      S.Raw(&B.Config, sizeof(B.Config));
      S.Raw(&B.Cluster, sizeof(B.Cluster));
      S.Raw(&B.Iteration, sizeof(B.Iteration));
      S.Raw(&B.Material, sizeof(B.Material));
      S.I32(static_cast<int32_t>(B.AnchorRigidBodies.size()));
      for (const TPmxAnchorRigidBody& A : B.AnchorRigidBodies) {
        S.Index(A.RelatedRigidBodyIndex, RSize, false, "rigid body");
        S.Index(A.RelatedVertexIndex, VSize, true, "vertex");
        S.U8(A.NearMode);
      }
      S.I32(static_cast<int32_t>(B.PinVertices.size()));
      for (const TPmxPinVertex& P : B.PinVertices)
        S.Index(P.RelatedVertexIndex, VSize, true, "vertex");
    }
  }
  return std::move(S.Bytes);
}

void TPmxBuilder::SaveToFile(const std::string& AFileName) const {
  WriteBytesToFile(AFileName, Build());
}

TPmxBuilder TPmxBuilder::FromDocument(const TPmx& APmx) {
  TPmxBuilder B;
  const TPmxHeader& H = APmx.Header();
  B.Settings.Version = H.Version;
  B.Settings.Encoding = H.Encoding;
  B.Settings.AdditionalUVCount = H.AdditionalUVCount;
  B.Settings.VertexIndexSize = H.VertexIndexSize;
  B.Settings.TextureIndexSize = H.TextureIndexSize;
  B.Settings.MaterialIndexSize = H.MaterialIndexSize;
  B.Settings.BoneIndexSize = H.BoneIndexSize;
  B.Settings.MorphIndexSize = H.MorphIndexSize;
  B.Settings.RigidBodyIndexSize = H.RigidBodyIndexSize;
  B.ModelNameJp = APmx.ModelNameJp();
  B.ModelNameEn = APmx.ModelNameEn();
  B.CommentJp = APmx.CommentJp();
  B.CommentEn = APmx.CommentEn();
  B.Vertices = APmx.VertexList();
  // The reader keeps SDEF points as the file stores them; here they are positions like the others.
  for (TPmxVertex& V : B.Vertices)
    if (V.BoneWeightMethod == bwSDEF)
      for (PmxFloat3* P :
           {&V.BoneWeight.SDEF.SDEF_C, &V.BoneWeight.SDEF.SDEF_R0, &V.BoneWeight.SDEF.SDEF_R1})
        ConvertPosition(*P);
  B.Faces = APmx.FaceList();
  B.Textures = APmx.TextureList();
  B.Materials = APmx.MaterialList();
  B.Bones = APmx.BoneList();
  B.Morphs = APmx.MorphList();
  B.DisplayFrames = APmx.DisplayFrameList();
  B.RigidBodies = APmx.RigidBodyList();
  B.Joints = APmx.JointList();
  B.SoftBodies = APmx.SoftBodyList();
  return B;
}
