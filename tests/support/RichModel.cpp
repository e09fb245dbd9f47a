#include "tests/support/RichModel.h"

#include "math/VectorGeometry.h"

TPmxBuilder RichModel(float AVersion) {
  TPmxBuilder B;
  B.Settings.Version = AVersion;
  B.ModelNameJp = "テストモデル";
  B.ModelNameEn = "Test model";
  B.CommentJp = "コメント\n二行目";
  B.CommentEn = "comment";

  const int Center = B.AddBone("センター", NewVector3f(0, 1, 0));
  const int Upper = B.AddBone("上半身", NewVector3f(0, 1.5f, 0), Center,
                              FlagBit(bfConnection) | FlagBit(bfCanRotate) | FlagBit(bfDisplay));
  const int Neck = B.AddBone("首", NewVector3f(0, 2, -0.5f), Upper);
  const int Leg = B.AddBone("左ひざ", NewVector3f(1, 0.5f, 0), Center);
  const int Ankle = B.AddBone("左足首", NewVector3f(1, 0, 0.5f), Leg);
  const int Ik = B.AddBone("左足ＩＫ", NewVector3f(1, 0, 0.5f), Center);
  B.Bones[Upper].ConnectionBoneIndex = Neck;
  TPmxBone& N = B.Bones[Neck];
  N.Flags |= FlagBit(bfAddRotation) | FlagBit(bfAddTranslation) | FlagBit(bfFixedAxis) |
             FlagBit(bfLocalAxis) | FlagBit(bfTransformByExternalParent);
  N.PositionOffset = NewVector3f(0, 0.5f, 0.25f);
  N.AddParentBoneIndex = Center;
  N.AddPower = 0.5f;
  N.FixedAxisDirection = NewVector3f(0, 0, 1);
  N.LocalAxisXDirection = NewVector3f(1, 0, 0);
  N.LocalAxisZDirection = NewVector3f(0, 0, 1);
  N.ExternalParentKey = 7;
  N.TransformationLevel = 2;
  B.MakeIK(Ik, Ankle, 40, 0.5f);
  B.AddIKLink(Ik, Leg, NewVector3f(0.5f, 0, 0), NewVector3f(1, 0, 0));
  B.AddIKLink(Ik, Center);

  B.Settings.AdditionalUVCount = 2;
  const int V0 =
      B.AddVertex(NewVector3f(0, 0, 0), NewVector3f(0, 0, -1), PmxFloat2{0.25f, 0.5f}, Center);
  const int V1 = B.AddVertexBDEF2(NewVector3f(1, 0, 0.5f), Center, Leg, 0.75f);
  const int V2 = B.AddVertex(NewVector3f(0, 1, 0));
  TPmxVertex& W4 = B.Vertices[V2];
  W4.BoneWeightMethod = bwBDEF4;
  W4.BoneWeight.BDEF4 = TPmxBoneWeightBDEF4{Center, Leg, Ankle, -1, 0.5f, 0.25f, 0.25f, 0};
  const int V3 = B.AddVertex(NewVector3f(0.5f, 0.5f, 0.5f));
  TPmxVertex& S = B.Vertices[V3];
  S.BoneWeightMethod = bwSDEF;
  S.BoneWeight.SDEF.Bone1Index = Leg;
  S.BoneWeight.SDEF.Bone2Index = Ankle;
  S.BoneWeight.SDEF.Bone1Weight = 0.5f;
  S.BoneWeight.SDEF.SDEF_C = NewVector3f(1, 2, 3);
  S.BoneWeight.SDEF.SDEF_R0 = NewVector3f(4, 5, 6);
  S.BoneWeight.SDEF.SDEF_R1 = NewVector3f(7, 8, 9);
  const int V4 = B.AddVertex(NewVector3f(-1, 0, 0));
  TPmxVertex& Q = B.Vertices[V4];
  Q.BoneWeightMethod = bwQDEF;
  Q.BoneWeight.QDEF = TPmxBoneWeightBDEF4{Leg, -1, -1, -1, 1, 0, 0, 0};
  const int V5 = B.AddVertex(NewVector3f(0, -1, 0));
  B.Vertices[V5].BoneWeightMethod = 7;  // unknown: no weight data in the file
  B.Vertices[V5].BoneWeight.BDEF1.BoneIndex = 0;
  B.Vertices[V0].AdditionalUV = {NewVector4f(1, 2, 3, 4), NewVector4f(5, 6, 7, 8)};
  B.Vertices[V1].MagnificationOfEdge = 0.5f;

  B.AddTriangle(V0, V1, V2);
  B.AddTriangle(V3, V4, V5);

  const int Body = B.AddTexture("tex\\body.png");
  const int Toon = B.AddTexture("toon\\t.bmp");
  const int M0 = B.AddMaterial("体", 3, Body);
  B.Materials[M0].SharedToonFlag = 1;
  B.Materials[M0].ToonTexture.ToonTextureIndex = 0;
  B.Materials[M0].ToonTexture.SharedToonTextureIndex = 3;
  B.Materials[M0].Memo = "メモ";
  const int M1 = B.AddMaterial("髪", 3);
  B.Materials[M1].ToonTexture.ToonTextureIndex = Toon;
  B.Materials[M1].SphereTextureIndex = Body;
  B.Materials[M1].SphereMode = 2;
  B.Materials[M1].RenderFlags = 0xFF;
  B.Materials[M1].Diffuse = NewVector4f(0.5f, 0.25f, 1, 0.75f);

  const int Group = B.AddMorph("グループ", mkGroup, mtOther);
  const int Blink = B.AddMorph("まばたき", mkVertex, mtEyes);
  B.AddVertexMorphOffset(Blink, V1, NewVector3f(0, 0.5f, -1));
  B.AddVertexMorphOffset(Blink, V2, NewVector3f(0.25f, 0, 0));
  TPmxMorphData D{};
  D.Group = TPmxMorphGroup{Blink, 0.5f};
  B.Morphs[Group].Data.push_back(D);
  const int BoneMorph = B.AddMorph("ボーン", mkBone, mtOther);
  D = TPmxMorphData{};
  D.Bone.BoneIndex = Neck;
  D.Bone.TranslateValue = NewVector3f(1, 0, 0.5f);
  D.Bone.RotateValue = NewVector4f(0, 0, 0.6f, 0.8f);
  B.Morphs[BoneMorph].Data.push_back(D);
  for (TPmxMorphKind K : {mkUV, mkAddUV1, mkAddUV2, mkAddUV3, mkAddUV4}) {
    const int M = B.AddMorph("UV" + std::to_string(K), K, mtMouth);
    D = TPmxMorphData{};
    D.UV.VertexIndex = V3;
    D.UV.UVOffset = NewVector4f(0.25f, 0.5f, 0, 1);
    B.Morphs[M].Data.push_back(D);
  }
  const int MatMorph = B.AddMorph("材質", mkMaterial, mtBrows);
  D = TPmxMorphData{};
  D.Material.MaterialIndex = M1;
  D.Material.OffsetType = 1;
  D.Material.Diffuse = NewVector4f(1, 0, 0, 1);
  D.Material.Specular = NewVector3f(0.5f, 0.5f, 0.5f);
  D.Material.Shininess = 2;
  D.Material.Ambient = NewVector3f(0.25f, 0.25f, 0.25f);
  D.Material.EdgeColor = NewVector4f(0, 0, 1, 1);
  D.Material.EdgeSize = 3;
  D.Material.TextureFactor = NewVector4f(1, 1, 1, 0.5f);
  D.Material.SphereTextureFactor = NewVector4f(0.5f, 1, 1, 1);
  D.Material.ToonTextureFactor = NewVector4f(1, 0.5f, 1, 1);
  B.Morphs[MatMorph].Data.push_back(D);
  const int Flip = B.AddMorph("フリップ", mkFlip, mtOther);
  D = TPmxMorphData{};
  D.Flip = TPmxMorphGroup{Group, 1};
  B.Morphs[Flip].Data.push_back(D);
  const int Impulse = B.AddMorph("インパルス", mkImpulse, mtOther);
  D = TPmxMorphData{};
  D.Impulse.RigidBodyIndex = 0;
  D.Impulse.LocalFlag = 1;
  D.Impulse.TranslationSpeed = NewVector3f(1, 2, 3);
  D.Impulse.RotationTorque = NewVector3f(4, 5, 6);
  B.Morphs[Impulse].Data.push_back(D);
  const int Unknown = B.AddMorph("未知", static_cast<TPmxMorphKind>(11), mtReserved);
  B.Morphs[Unknown].Data.resize(3);  // no bytes in the file; read back as three zero entries

  TPmxDisplayFrame Root{};
  Root.NameJp = "Root";
  Root.NameEn = "Root";
  Root.SpecialFlag = 1;
  TPmxDisplayFrameElement E{};
  E.Target = 0;
  E.BoneIndex = Center;
  Root.Elements.push_back(E);
  B.DisplayFrames.push_back(Root);
  TPmxDisplayFrame Face{};
  Face.NameJp = "表情";
  Face.NameEn = "Exp";
  E = TPmxDisplayFrameElement{};
  E.Target = 1;
  E.MorphIndex = Blink;
  Face.Elements.push_back(E);
  E = TPmxDisplayFrameElement{};
  E.Target = 2;  // unknown: nothing follows
  Face.Elements.push_back(E);
  B.DisplayFrames.push_back(Face);

  TPmxRigidBody R{};
  R.NameJp = "頭";
  R.NameEn = "head";
  R.RelatedBoneIndex = Neck;
  R.Group = 3;
  R.CollisionlessGroupFlag = 0xFFF0;
  R.Shape = stCapsule;
  R.Size = NewVector3f(1, 2, 3);
  R.Position = NewVector3f(0, 15, -2);
  R.Rotation = NewVector3f(0.5f, 0, 0);
  R.Mass = 1;
  R.TranslateDecay = 0.5f;
  R.RotateDecay = 0.5f;
  R.Repulsion = 0;
  R.Friction = 0.5f;
  R.PhysicsOperation = 1;
  B.RigidBodies.push_back(R);

  TPmxJoint J{};
  J.NameJp = "関節";
  J.NameEn = "joint";
  J.JointKind = jkSpring6DOF;
  J.Data.Spring6DOF.RigidBodyAIndex = 0;
  J.Data.Spring6DOF.RigidBodyBIndex = -1;
  J.Data.Spring6DOF.Position = NewVector3f(1, 2, 3);
  J.Data.Spring6DOF.RotationSpringConstant = NewVector3f(7, 8, 9);
  B.Joints.push_back(J);
  TPmxJoint Unknown6{};
  Unknown6.NameJp = "未知";
  Unknown6.JointKind = static_cast<TPmxJointKind>(6);  // nothing follows the kind
  B.Joints.push_back(Unknown6);

  TPmxSoftBody SB{};
  SB.NameJp = "布";
  SB.NameEn = "cloth";
  SB.Shape = 1;
  SB.RelatedMaterialIndex = M1;
  SB.Group = 2;
  SB.CollisionlessGroupFlag = 0x00FF;
  SB.Flags = 0x05;
  SB.BLinkDistance = 2;
  SB.NumberOfCluster = 3;
  SB.TotalMass = 1.5f;
  SB.CollisionMargin = 0.25f;
  SB.AeroModel = 1;
  SB.Config.VCF = 1;
  SB.Config.AHR = 12;
  SB.Cluster.SRHR_CL = 0.5f;
  SB.Cluster.SS_SPLT_CL = 6;
  SB.Iteration = TPmxSoftBodyIteration{1, 2, 3, 4};
  SB.Material = TPmxSoftBodyMaterial{0.25f, 0.5f, 0.75f};
  SB.AnchorRigidBodies.push_back(TPmxAnchorRigidBody{0, V3, 1});
  SB.PinVertices.push_back(TPmxPinVertex{V4});
  SB.PinVertices.push_back(TPmxPinVertex{V5});
  B.SoftBodies.push_back(SB);
  return B;
}
