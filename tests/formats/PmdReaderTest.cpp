// The PMD reader: every section read back as the PMX model it describes, the optional blocks,
// the conversion rules (bone kinds, knee limits, base morph, texture field, toon list, rigid body
// positions), and hostile or truncated files. Expected values are worked by hand from the file's
// values (x 0.1, Z mirrored).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "formats/Pmd.h"
#include "formats/PmdWriter.h"
#include "tests/formats/FormatsTestUtil.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

void ExpectVec(const TVector3f& AActual, float AX, float AY, float AZ, const char* AWhat) {
  EXPECT_NEAR(AActual.X, AX, 1e-5f) << AWhat;
  EXPECT_NEAR(AActual.Y, AY, 1e-5f) << AWhat;
  EXPECT_NEAR(AActual.Z, AZ, 1e-5f) << AWhat;
}

// A small leg-and-arm model in file units and the file's frame.
//   bones: 0 センター, 1 左足, 2 左ひざ, 3 左足首, 4 左足ＩＫ, 5 左腕, 6 左腕捩, 7 左手首
//   three vertices, one triangle, one material; a base morph and one vertex morph.
TPmdBuilder SmallModel() {
  TPmdBuilder B;
  TPmdModel& M = B.Model;
  M.Name = "小さいモデル";
  M.Comment = "コメント\nもう一行";
  B.AddBone("センター", NewVector3f(0, 8, 0), PmdNoBone, pbkRotateMove);
  B.AddBone("左足", NewVector3f(1, 10, 2), 0, pbkRotate, 2);
  B.AddBone("左ひざ", NewVector3f(1, 5, 2), 1, pbkIKLinked, 3);
  B.AddBone("左足首", NewVector3f(1, 1, 2), 2, pbkIKLinked);
  B.AddBone("左足ＩＫ", NewVector3f(1, 1, 2), 0, pbkIK);
  B.AddBone("左腕", NewVector3f(3, 15, 0), 0, pbkRotate, 7);
  B.AddBone("左腕捩", NewVector3f(5, 14, 0), 5, pbkTwist, 7);
  B.AddBone("左手首", NewVector3f(8, 10, 0), 6);
  B.AddIK(4, 3, {2, 1}, 40, 0.5f);
  B.AddVertex(NewVector3f(10, 20, 30), 1, 1, 100, NewVector3f(0, 0.6f, 0.8f));
  B.AddVertex(NewVector3f(-10, 0, 5), 1, 2, 30);
  B.AddVertex(NewVector3f(0, 5, -5), 3, 2, 0);
  M.Vertices[0].UV = PmxFloat2{0.25f, 0.75f};
  M.Vertices[2].NoEdge = 1;
  B.AddTriangle(0, 1, 2);
  B.AddMaterial(3, "skin.bmp*light.spa", 1);
  TPmdMaterial& Mat = M.Materials[0];
  Mat.Diffuse = NewVector4f(0.8f, 0.7f, 0.6f, 0.5f);
  Mat.Power = 12;
  Mat.Specular = NewVector3f(0.1f, 0.2f, 0.3f);
  Mat.Ambient = NewVector3f(0.4f, 0.3f, 0.2f);
  Mat.Edge = 0;
  const int Base = B.AddMorph("base", 0);
  M.Morphs[Base].Entries = {{2, NewVector3f(0, 5, -5)}, {0, NewVector3f(10, 20, 30)}};
  const int Blink = B.AddMorph("まばたき", 2);
  M.Morphs[Blink].Entries = {{1, NewVector3f(0, 0, 10)}, {0, NewVector3f(10, 0, 0)}};
  M.MorphPanel = {1, 0};
  M.BoneGroups = {{"足", "Legs"}, {"腕", "Arms"}};
  M.GroupMembers = {{5, 2}, {1, 1}, {4, 1}};
  M.HasEnglish = true;
  M.NameEn = "Small";
  M.CommentEn = "comment";
  const char* English[] = {"center",   "leg_L", "knee_L",      "ankle_L",
                           "leg IK_L", "arm_L", "arm twist_L", "wrist_L"};
  for (size_t I = 0; I < M.Bones.size(); ++I) M.Bones[I].NameEn = English[I];
  M.Morphs[Blink].NameEn = "blink";
  return B;
}

TPmx LoadPmd(const TPmdBuilder& ABuilder) {
  return LoadPmx(ABuilder.Build());
}

}  // namespace

TEST(PmdReader, EverySectionReadsBackAsThePmxModel) {
  const TPmx Pmx = LoadPmd(SmallModel());
  EXPECT_EQ(Pmx.Format(), TModelFormat::mfPmd);
  // Fixed fields end at the zero (junk after it), a trailing line feed is not part of a name.
  EXPECT_EQ(Pmx.ModelNameJp(), "小さいモデル");
  EXPECT_EQ(Pmx.CommentJp(), "コメント\nもう一行");
  EXPECT_EQ(Pmx.ModelNameEn(), "Small");
  EXPECT_EQ(Pmx.CommentEn(), "comment");
  EXPECT_EQ(Pmx.Header().Encoding, 1);
  EXPECT_EQ(Pmx.Header().AdditionalUVCount, 0);

  ASSERT_EQ(Pmx.VertexCount(), 3);
  const TPmxVertex& V0 = *Pmx.GetVertex(0);
  ExpectVec(V0.Position, 1, 2, -3, "vertex 0 position");
  ExpectVec(V0.Normal, 0, 0.6f, -0.8f, "vertex 0 normal");
  EXPECT_EQ(V0.UV.X, 0.25f);
  EXPECT_EQ(V0.UV.Y, 0.75f);
  EXPECT_TRUE(V0.AdditionalUV.empty());
  EXPECT_EQ(V0.BoneWeightMethod, bwBDEF1);  // both bones the same
  EXPECT_EQ(V0.BoneWeight.BDEF1.BoneIndex, 1);
  EXPECT_EQ(V0.MagnificationOfEdge, 1.0f);
  const TPmxVertex& V1 = *Pmx.GetVertex(1);
  EXPECT_EQ(V1.BoneWeightMethod, bwBDEF2);
  EXPECT_EQ(V1.BoneWeight.BDEF2.Bone1Index, 1);
  EXPECT_EQ(V1.BoneWeight.BDEF2.Bone2Index, 2);
  EXPECT_FLOAT_EQ(V1.BoneWeight.BDEF2.Bone1Weight, 0.3f);
  const TPmxVertex& V2 = *Pmx.GetVertex(2);
  EXPECT_EQ(V2.BoneWeightMethod, bwBDEF1);  // weight 0: all on the second bone
  EXPECT_EQ(V2.BoneWeight.BDEF1.BoneIndex, 2);
  EXPECT_EQ(V2.MagnificationOfEdge, 0.0f);

  // The winding reverses with the mirror, as for PMX.
  ASSERT_EQ(Pmx.FaceCount(), 1);
  EXPECT_EQ(Pmx.FaceList(), (std::vector<int32_t>{0, 2, 1}));

  ASSERT_EQ(Pmx.MaterialCount(), 1);
  const TPmxMaterial& Mat = *Pmx.GetMaterial(0);
  EXPECT_EQ(Mat.Diffuse.W, 0.5f);
  EXPECT_EQ(Mat.Diffuse.X, 0.8f);
  EXPECT_EQ(Mat.Shininess, 12.0f);
  EXPECT_EQ(Mat.Specular.Z, 0.3f);
  EXPECT_EQ(Mat.Ambient.X, 0.4f);
  // Alpha below 1: both faces; edge 0: no outline; shadows always.
  EXPECT_EQ(Mat.RenderFlags, FlagBit(rfTwoSide) | FlagBit(rfGroundShadow) |
                                 FlagBit(rfShadowMapping) | FlagBit(rfSelfShadow));
  EXPECT_EQ(Mat.EdgeSize, 1.0f);
  EXPECT_EQ(Mat.EdgeColor.W, 1.0f);
  EXPECT_EQ(Mat.NumberOfVertex, 3);
  ASSERT_EQ(Pmx.TextureCount(), 2);
  EXPECT_EQ(Pmx.GetTexture(Mat.TextureIndex), "skin.bmp");
  EXPECT_EQ(Pmx.GetTexture(Mat.SphereTextureIndex), "light.spa");
  EXPECT_EQ(Mat.SphereMode, 2);  // .spa adds
  EXPECT_EQ(Mat.SharedToonFlag, 1);
  EXPECT_EQ(Mat.ToonTexture.SharedToonTextureIndex, 1);  // toon02.bmp

  ASSERT_EQ(Pmx.BoneCount(), 8);
  const TPmxBone& Leg = *Pmx.GetBone(1);
  EXPECT_EQ(Leg.NameJp, "左足");
  EXPECT_EQ(Leg.NameEn, "leg_L");
  ExpectVec(Leg.Position, 0.1f, 1.0f, -0.2f, "leg position");
  EXPECT_EQ(Leg.ParentIndex, 0);
  EXPECT_EQ(Leg.ConnectionBoneIndex, 2);
  EXPECT_EQ(Pmx.GetBone(0)->ParentIndex, -1);
  EXPECT_EQ(Pmx.GetBone(0)->ConnectionBoneIndex, -1);  // tail 0: none
  // The twist bone's axis: towards the wrist, (3, -4, 0) / 5 in the file's frame.
  const TPmxBone& Twist = *Pmx.GetBone(6);
  ASSERT_TRUE(HasFlag(Twist.Flags, bfFixedAxis));
  ExpectVec(Twist.FixedAxisDirection, 0.6f, -0.8f, 0, "twist axis");

  // The IK chain on its bone: target, loops, four times the limit, links from the target up.
  const TPmxBone& IK = *Pmx.GetBone(4);
  ASSERT_TRUE(HasFlag(IK.Flags, bfIK));
  EXPECT_EQ(IK.IKTargetBoneIndex, 3);
  EXPECT_EQ(IK.IKLoopCount, 40);
  EXPECT_FLOAT_EQ(IK.IKLoopLimitAngle, 2.0f);
  ASSERT_EQ(IK.IKLinks.size(), 2u);
  EXPECT_EQ(IK.IKLinks[0].LinkBoneIndex, 2);
  EXPECT_EQ(IK.IKLinks[1].LinkBoneIndex, 1);
  EXPECT_EQ(IK.IKLinks[1].AngleLimit, 0);  // not a knee
  // The knee: X only, (-180, -0.5) degrees in the file; mirrored about X: (0.5, 180) degrees.
  const TPmxIKLink& Knee = IK.IKLinks[0];
  EXPECT_EQ(Knee.AngleLimit, 1);
  ExpectVec(Knee.LowerLimit, 0.5f * kPi / 180, 0, 0, "knee lower");
  ExpectVec(Knee.UpperLimit, kPi, 0, 0, "knee upper");
  EXPECT_EQ(Knee.AxisType, atFlowedX);
  EXPECT_EQ(Knee.Euler, etXYZ);

  // The base morph is left out; the blink's entries count into it.
  ASSERT_EQ(Pmx.MorphCount(), 1);
  const TPmxMorph& Blink = *Pmx.GetMorph(0);
  EXPECT_EQ(Blink.NameJp, "まばたき");
  EXPECT_EQ(Blink.NameEn, "blink");
  EXPECT_EQ(Blink.Kind, mkVertex);
  EXPECT_EQ(Blink.Target, mtEyes);
  ASSERT_EQ(Blink.Data.size(), 2u);
  EXPECT_EQ(Blink.Data[0].Vertex.VertexIndex, 0);  // base entry 1
  ExpectVec(Blink.Data[0].Vertex.PositionOffset, 0, 0, -1, "blink offset 0");
  EXPECT_EQ(Blink.Data[1].Vertex.VertexIndex, 2);  // base entry 0
  ExpectVec(Blink.Data[1].Vertex.PositionOffset, 1, 0, 0, "blink offset 1");

  // Frames: root with bone 0, facial with the panel list (the base not shown), one per group.
  ASSERT_EQ(Pmx.DisplayFrameCount(), 4);
  const TPmxDisplayFrame& Root = *Pmx.GetDisplayFrame(0);
  EXPECT_EQ(Root.SpecialFlag, 1);
  ASSERT_EQ(Root.Elements.size(), 1u);
  EXPECT_EQ(Root.Elements[0].Target, 0);
  EXPECT_EQ(Root.Elements[0].BoneIndex, 0);
  const TPmxDisplayFrame& Facial = *Pmx.GetDisplayFrame(1);
  EXPECT_EQ(Facial.NameJp, "表情");
  EXPECT_EQ(Facial.SpecialFlag, 1);
  ASSERT_EQ(Facial.Elements.size(), 1u);
  EXPECT_EQ(Facial.Elements[0].Target, 1);
  EXPECT_EQ(Facial.Elements[0].MorphIndex, 0);
  const TPmxDisplayFrame& Legs = *Pmx.GetDisplayFrame(2);
  EXPECT_EQ(Legs.NameJp, "足");  // the line feed after the group name is dropped
  EXPECT_EQ(Legs.NameEn, "Legs");
  EXPECT_EQ(Legs.SpecialFlag, 0);
  ASSERT_EQ(Legs.Elements.size(), 2u);
  EXPECT_EQ(Legs.Elements[0].BoneIndex, 1);
  EXPECT_EQ(Legs.Elements[1].BoneIndex, 4);
  const TPmxDisplayFrame& Arms = *Pmx.GetDisplayFrame(3);
  ASSERT_EQ(Arms.Elements.size(), 1u);
  EXPECT_EQ(Arms.Elements[0].BoneIndex, 5);
  EXPECT_EQ(Pmx.RigidBodyCount(), 0);
  EXPECT_EQ(Pmx.JointCount(), 0);
}

TEST(PmdReader, BoneKindsBecomePmxFlags) {
  // Flags: connection 0x1, rotate 0x2, move 0x4, visible 0x8, operable 0x10, IK 0x20,
  // appended rotation 0x100, fixed axis 0x400.
  struct TCase {
    uint8_t Kind;
    uint16_t Flags;
  } Cases[] = {
      {pbkRotate, 0x1B},   {pbkRotateMove, 0x1F},      {pbkIK, 0x1F},       {pbkUnused, 0x1B},
      {pbkIKLinked, 0x1B}, {pbkRotationFollow, 0x11B}, {pbkIKTarget, 0x1B}, {pbkHidden, 0x03},
      {pbkTwist, 0x41B},   {pbkRotationScaled, 0x11B},
  };
  for (const TCase& C : Cases) {
    TPmdBuilder B;
    B.AddBone("親", NewVector3f(0, 0, 0));
    B.AddBone("先", NewVector3f(0, 10, 0), 0);
    // Kind 9 reads its source from the tail and its weight from the link; kind 5 from the link.
    B.AddBone("骨", NewVector3f(0, 5, 0), 0, C.Kind, 1, C.Kind == pbkRotationScaled ? 40 : 1);
    const TPmx Pmx = LoadPmd(B);
    ASSERT_EQ(Pmx.BoneCount(), 3);
    const TPmxBone& Bone = *Pmx.GetBone(2);
    EXPECT_EQ(Bone.Flags, C.Flags) << "kind " << int(C.Kind);
    if (C.Kind == pbkRotationFollow) {
      EXPECT_EQ(Bone.AddParentBoneIndex, 1);
      EXPECT_EQ(Bone.AddPower, 1.0f);
    }
    if (C.Kind == pbkRotationScaled) {
      EXPECT_EQ(Bone.AddParentBoneIndex, 1);
      EXPECT_FLOAT_EQ(Bone.AddPower, 0.4f);
      EXPECT_EQ(Bone.ConnectionBoneIndex, -1);  // the tail is the source, not a display line
    } else {
      EXPECT_EQ(Bone.ConnectionBoneIndex, 1) << "kind " << int(C.Kind);
    }
  }
  // An IK bone leads its chain only through the IK list; a kind-2 bone with a chain has bfIK.
  EXPECT_EQ(LoadPmd(SmallModel()).GetBone(4)->Flags, 0x3F);
}

TEST(PmdReader, TextureFieldSplitsIntoTextureAndSphere) {
  struct TCase {
    const char* Field;
    const char* Texture;  // "" none
    const char* Sphere;
    uint8_t Mode;
  } Cases[] = {
      {"", "", "", 0},
      {"body.png", "body.png", "", 0},
      {"shine.sph", "", "shine.sph", 1},
      {"glow.SPA", "", "glow.SPA", 2},
      {"body.bmp*shine.sph", "body.bmp", "shine.sph", 1},
      {"t/body.bmp*glow.spa", "t\\body.bmp", "glow.spa", 2},
      {"glow.spa*body.bmp", "body.bmp", "glow.spa", 2},
  };
  for (const TCase& C : Cases) {
    TPmdBuilder B;
    B.AddBone("センター", NewVector3f(0, 0, 0));
    B.AddMaterial(0, C.Field);
    const TPmx Pmx = LoadPmd(B);
    const TPmxMaterial& M = *Pmx.GetMaterial(0);
    auto Name = [&](int32_t AIndex) { return AIndex < 0 ? std::string() : Pmx.GetTexture(AIndex); };
    EXPECT_EQ(Name(M.TextureIndex), C.Texture) << C.Field;
    EXPECT_EQ(Name(M.SphereTextureIndex), C.Sphere) << C.Field;
    EXPECT_EQ(M.SphereMode, C.Mode) << C.Field;
  }
}

TEST(PmdReader, ToonIndicesGoThroughTheToonList) {
  TPmdBuilder B;
  B.AddBone("センター", NewVector3f(0, 0, 0));
  B.Model.ToonFiles[0] = "toon05.bmp";  // a standard ramp in another slot
  B.Model.ToonFiles[1] = "mine.bmp";    // the model's own
  B.Model.ToonFiles[2] = "TOON10.BMP";
  B.AddMaterial(0, "skin.bmp", 0);
  B.AddMaterial(0, "", 1);
  B.AddMaterial(0, "", 2);
  B.AddMaterial(0, "", 9);  // slot 9 keeps toon10.bmp
  B.AddMaterial(0, "", PmdNoToon);
  B.AddMaterial(0, "", 1);  // the same own file again: one texture
  const TPmx Pmx = LoadPmd(B);
  struct TExpected {
    uint8_t Shared;
    int32_t Index;
  } Expected[] = {{1, 4}, {0, 1}, {1, 9}, {1, 9}, {0, -1}, {0, 1}};
  for (int I = 0; I < 6; ++I) {
    const TPmxMaterial& M = *Pmx.GetMaterial(I);
    EXPECT_EQ(M.SharedToonFlag, Expected[I].Shared) << "material " << I;
    EXPECT_EQ(M.ToonTexture.ToonTextureIndex, Expected[I].Index) << "material " << I;
  }
  ASSERT_EQ(Pmx.TextureCount(), 2);
  EXPECT_EQ(Pmx.GetTexture(1), "mine.bmp");

  // Without the toon block the standard list applies.
  B.OptionalBlocks = 1;
  const TPmx Standard = LoadPmd(B);
  EXPECT_EQ(Standard.GetMaterial(1)->SharedToonFlag, 1);
  EXPECT_EQ(Standard.GetMaterial(1)->ToonTexture.SharedToonTextureIndex, 1);
}

TEST(PmdReader, RigidBodiesAreMadeAbsoluteAndJointsKept) {
  TPmdBuilder B = SmallModel();
  TPmdRigidBody Body{};
  Body.Name = "足";
  Body.Bone = 1;  // at (1, 10, 2)
  Body.Group = 3;
  Body.Mask = 0xFFF7;
  Body.Shape = 2;
  Body.Size = NewVector3f(1, 4, 0);
  Body.Position = NewVector3f(0.5f, 1, -2);
  Body.Rotation = NewVector3f(0.1f, 0.2f, 0.3f);
  Body.Mass = 2;
  Body.LinearDamping = 0.5f;
  Body.AngularDamping = 0.6f;
  Body.Restitution = 0.1f;
  Body.Friction = 0.7f;
  Body.Mode = 1;
  B.Model.RigidBodies.push_back(Body);
  Body.Name = "無所属";
  Body.Bone = PmdNoBone;  // placed from bone 0, at (0, 8, 0)
  Body.Position = NewVector3f(1, 1, 1);
  B.Model.RigidBodies.push_back(Body);
  TPmdJoint Joint{};
  Joint.Name = "関節";
  Joint.BodyA = 0;
  Joint.BodyB = 1;
  Joint.Position = NewVector3f(1, 9, 2);
  Joint.TurnLower = NewVector3f(-0.5f, -0.1f, -0.2f);
  Joint.TurnUpper = NewVector3f(0.5f, 0.1f, 0.2f);
  Joint.MoveSpring = NewVector3f(1, 2, 3);
  B.Model.Joints.push_back(Joint);
  const TPmx Pmx = LoadPmd(B);

  // Kept in the file's frame as the PMX reader keeps bodies, positions now absolute.
  ASSERT_EQ(Pmx.RigidBodyCount(), 2);
  const TPmxRigidBody& R0 = *Pmx.GetRigidBody(0);
  EXPECT_EQ(R0.NameJp, "足");
  EXPECT_EQ(R0.RelatedBoneIndex, 1);
  ExpectVec(R0.Position, 1.5f, 11, 0, "body 0 position");
  ExpectVec(R0.Size, 1, 4, 0, "body 0 size");
  ExpectVec(R0.Rotation, 0.1f, 0.2f, 0.3f, "body 0 rotation");
  EXPECT_EQ(R0.Group, 3);
  EXPECT_EQ(R0.CollisionlessGroupFlag, 0xFFF7);
  EXPECT_EQ(R0.Shape, stCapsule);
  EXPECT_EQ(R0.Mass, 2.0f);
  EXPECT_EQ(R0.TranslateDecay, 0.5f);
  EXPECT_EQ(R0.RotateDecay, 0.6f);
  EXPECT_EQ(R0.Repulsion, 0.1f);
  EXPECT_EQ(R0.Friction, 0.7f);
  EXPECT_EQ(R0.PhysicsOperation, 1);
  const TPmxRigidBody& R1 = *Pmx.GetRigidBody(1);
  EXPECT_EQ(R1.RelatedBoneIndex, -1);
  ExpectVec(R1.Position, 1, 9, 1, "body 1 position");

  ASSERT_EQ(Pmx.JointCount(), 1);
  const TPmxJoint& J = *Pmx.GetJoint(0);
  EXPECT_EQ(J.NameJp, "関節");
  EXPECT_EQ(J.JointKind, jkSpring6DOF);
  EXPECT_EQ(J.Data.Spring6DOF.RigidBodyAIndex, 0);
  EXPECT_EQ(J.Data.Spring6DOF.RigidBodyBIndex, 1);
  ExpectVec(J.Data.Spring6DOF.Position, 1, 9, 2, "joint position");
  ExpectVec(J.Data.Spring6DOF.RotateLowerLimit, -0.5f, -0.1f, -0.2f, "joint turn lower");
  ExpectVec(J.Data.Spring6DOF.TranslationSpringConstant, 1, 2, 3, "joint move spring");
}

TEST(PmdReader, EachOptionalBlockMayBeAbsent) {
  TPmdBuilder B = SmallModel();
  B.Model.ToonFiles[1] = "own.bmp";
  B.Model.RigidBodies.push_back(TPmdRigidBody{});
  B.Model.RigidBodies.push_back(TPmdRigidBody{});
  TPmdJoint Joint{};
  Joint.BodyB = 1;
  B.Model.Joints.push_back(Joint);
  for (int Blocks = 0; Blocks <= 4; ++Blocks) {
    B.OptionalBlocks = Blocks;
    const TPmx Pmx = LoadPmd(B);
    EXPECT_EQ(Pmx.ModelNameEn(), Blocks >= 1 ? "Small" : "") << Blocks;
    EXPECT_EQ(Pmx.GetBone(1)->NameEn, Blocks >= 1 ? "leg_L" : "") << Blocks;
    EXPECT_EQ(Pmx.GetMorph(0)->NameEn, Blocks >= 1 ? "blink" : "") << Blocks;
    EXPECT_EQ(Pmx.GetDisplayFrame(3)->NameEn, Blocks >= 1 ? "Arms" : "") << Blocks;
    // Toon 1: the own "own.bmp" with the list, the shared toon02 without.
    EXPECT_EQ(Pmx.GetMaterial(0)->SharedToonFlag, Blocks >= 2 ? 0 : 1) << Blocks;
    EXPECT_EQ(Pmx.RigidBodyCount(), Blocks >= 3 ? 2 : 0) << Blocks;
    EXPECT_EQ(Pmx.JointCount(), Blocks >= 4 ? 1 : 0) << Blocks;
  }
  // The English block may say it is absent and still be followed by the others.
  B.OptionalBlocks = 4;
  B.Model.HasEnglish = false;
  const TPmx Pmx = LoadPmd(B);
  EXPECT_EQ(Pmx.ModelNameEn(), "");
  EXPECT_EQ(Pmx.JointCount(), 1);
  EXPECT_EQ(Pmx.GetMaterial(0)->SharedToonFlag, 0);
}

TEST(PmdReader, HostileAndTruncatedFilesAreRejectedWithTheirMessage) {
  const std::string Range = "PMD index out of range: ";
  struct TCase {
    const char* Name;
    std::function<void(TPmdBuilder&)> Edit;
    std::string Message;
  } Cases[] = {
      {"version 2", [](TPmdBuilder& B) { B.Model.Version = 2.0f; }, "未知のPMDバージョン (2.00)"},
      {"face vertex", [](TPmdBuilder& B) { B.Model.Faces[2] = 3; },
       Range + "face 0: vertex index 3 (the model has 3 vertices)"},
      {"face count", [](TPmdBuilder& B) { B.Model.Faces.push_back(0); },
       "PMD value out of range: face index count 4 is not a multiple of 3"},
      {"material cover short", [](TPmdBuilder& B) { B.Model.Materials[0].IndexCount = 2; },
       "PMD value out of range: the materials cover 2 face indices (the model has 3)"},
      {"material cover long", [](TPmdBuilder& B) { B.Model.Materials[0].IndexCount = 0xFFFFFFFF; },
       "PMD value out of range: the materials cover 4294967295 face indices (the model has 3)"},
      {"vertex bone", [](TPmdBuilder& B) { B.Model.Vertices[1].Bone[1] = 8; },
       Range + "vertex 1: bone 2 index 8 (the model has 8 bones)"},
      {"vertex weight", [](TPmdBuilder& B) { B.Model.Vertices[1].Weight = 101; },
       "PMD value out of range: vertex 1: weight 101 above 100"},
      {"bone parent", [](TPmdBuilder& B) { B.Model.Bones[3].Parent = 9; },
       Range + "bone 3 \"左足首\": parent index 9 (the model has 8 bones)"},
      {"parent loop", [](TPmdBuilder& B) { B.Model.Bones[0].Parent = 1; },
       Range + "bone 1 \"左足\": parent index 0 closes a loop in the parent chain"},
      {"bone tail", [](TPmdBuilder& B) { B.Model.Bones[1].Tail = 8; },
       Range + "bone 1 \"左足\": tail bone index 8 (the model has 8 bones)"},
      {"twist without tail", [](TPmdBuilder& B) { B.Model.Bones[6].Tail = PmdNoBone; },
       Range + "bone 6 \"左腕捩\": tail bone index 65535 (the model has 8 bones)"},
      {"follow link",
       [](TPmdBuilder& B) {
         B.Model.Bones[7].Kind = pbkRotationFollow;
         B.Model.Bones[7].Link = 20;
       },
       Range + "bone 7 \"左手首\": link bone index 20 (the model has 8 bones)"},
      {"IK bone", [](TPmdBuilder& B) { B.Model.IKs[0].Bone = 8; },
       Range + "IK chain 0: IK bone index 8 (the model has 8 bones)"},
      {"IK target", [](TPmdBuilder& B) { B.Model.IKs[0].Target = PmdNoBone; },
       Range + "IK chain 0: target bone index 65535 (the model has 8 bones)"},
      {"IK link", [](TPmdBuilder& B) { B.Model.IKs[0].Links[1] = 100; },
       Range + "IK chain 0: link 1: bone index 100 (the model has 8 bones)"},
      {"IK twice", [](TPmdBuilder& B) { B.Model.IKs.push_back(B.Model.IKs[0]); },
       "PMD value out of range: IK chain 1: bone 4 already leads an IK chain"},
      {"base vertex", [](TPmdBuilder& B) { B.Model.Morphs[0].Entries[1].Index = 3; },
       Range + "morph 0 \"base\": entry 1: vertex index 3 (the model has 3 vertices)"},
      {"morph base entry", [](TPmdBuilder& B) { B.Model.Morphs[1].Entries[0].Index = 2; },
       Range + "morph 1 \"まばたき\": entry 0: base entry index 2 (the base morph has 2 entries)"},
      // Without a base (the first morph not on panel 0) every morph counts into an empty list.
      {"no base", [](TPmdBuilder& B) { B.Model.Morphs[0].Panel = 1; },
       Range + "morph 0 \"base\": entry 0: base entry index 2 (the base morph has 0 entries)"},
      {"panel list", [](TPmdBuilder& B) { B.Model.MorphPanel[0] = 2; },
       Range + "morph panel entry 0: morph index 2 (the model has 2 morphs)"},
      {"group member bone", [](TPmdBuilder& B) { B.Model.GroupMembers[2].Bone = 8; },
       Range + "bone group member 2: bone index 8 (the model has 8 bones)"},
      {"group number 0", [](TPmdBuilder& B) { B.Model.GroupMembers[0].Group = 0; },
       Range +
           "bone group member 0: group number 0 (the model has 2 bone groups, numbered from 1)"},
      {"group number 3", [](TPmdBuilder& B) { B.Model.GroupMembers[1].Group = 3; },
       Range +
           "bone group member 1: group number 3 (the model has 2 bone groups, numbered from 1)"},
      {"body bone",
       [](TPmdBuilder& B) {
         TPmdRigidBody Body{};
         Body.Name = "体";
         Body.Bone = 8;
         B.Model.RigidBodies.push_back(Body);
       },
       Range + "rigid body 0 \"体\": bone index 8 (the model has 8 bones)"},
      {"joint body",
       [](TPmdBuilder& B) {
         B.Model.RigidBodies.push_back(TPmdRigidBody{});
         TPmdJoint J{};
         J.BodyB = 1;
         B.Model.Joints.push_back(J);
       },
       Range + "joint 0: rigid body B index 1 (the model has 1 rigid bodies)"},
  };
  for (const TCase& C : Cases) {
    TPmdBuilder B = SmallModel();
    C.Edit(B);
    EXPECT_EQ(PmxLoadError(B.Build()), C.Message) << C.Name;
  }
}

TEST(PmdReader, CountsBeyondTheDataAndTruncatedFilesFailAsTheStreamEnds) {
  const std::vector<uint8_t> Valid = SmallModel().Build();
  // Offsets of the counts: vertex count right after the 283-byte header.
  const size_t VertexCount = 3 + 4 + 20 + 256;
  auto Patched = [&](size_t AOffset, std::vector<uint8_t> ABytes) {
    std::vector<uint8_t> R = Valid;
    std::copy(ABytes.begin(), ABytes.end(), R.begin() + AOffset);
    return R;
  };
  const size_t FaceCount = VertexCount + 4 + 3 * 38;
  const size_t MaterialCount = FaceCount + 4 + 3 * 2;
  const size_t BoneCount = MaterialCount + 4 + 70;
  EXPECT_EQ(PmxLoadError(Patched(VertexCount, {0xFF, 0xFF, 0xFF, 0xFF})), StreamError);
  EXPECT_EQ(PmxLoadError(Patched(FaceCount, {0xFF, 0xFF, 0xFF, 0x7F})), StreamError);
  EXPECT_EQ(PmxLoadError(Patched(MaterialCount, {0x00, 0x00, 0x01, 0x00})), StreamError);
  EXPECT_EQ(PmxLoadError(Patched(BoneCount, {0xFF, 0xFF})), StreamError);
  // The counts are where they were computed: the bone count reads back as 8.
  EXPECT_EQ(Valid[BoneCount], 8);

  // Cut anywhere: the stream ends early, except at the end of the required sections or of an
  // optional block (a block once begun must be whole).
  TPmdBuilder Blocks = SmallModel();
  std::vector<size_t> Ends;
  for (int N = 0; N <= 4; ++N) {
    Blocks.OptionalBlocks = N;
    Ends.push_back(Blocks.Build().size());
  }
  // Header 283, English 1 + 20 + 256 + 8 bones + 1 morph + 2 groups, toons 10 x 100, two counts.
  EXPECT_EQ(Ends[1] - Ends[0], 1u + 20 + 256 + 8 * 20 + 20 + 2 * 50);
  EXPECT_EQ(Ends[2] - Ends[1], 1000u);
  EXPECT_EQ(Ends[4], Valid.size());
  for (size_t Cut = 0; Cut <= Valid.size(); ++Cut) {
    const std::vector<uint8_t> Part(Valid.begin(), Valid.begin() + Cut);
    const bool AtAnEnd = std::find(Ends.begin(), Ends.end(), Cut) != Ends.end();
    EXPECT_EQ(PmxLoadError(Part), AtAnEnd ? "" : StreamError) << "cut at " << Cut;
  }
}
