// The PMX reader: layout, conversion, IK-limit derivation, errors and index validation.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "formats/PmxPhysicsFrame.h"
#include "tests/formats/FormatsTestUtil.h"

namespace {

void ExpectVec(const PmxFloat3& A, float X, float Y, float Z) {
  EXPECT_FLOAT_EQ(A.X, X);
  EXPECT_FLOAT_EQ(A.Y, Y);
  EXPECT_FLOAT_EQ(A.Z, Z);
}

// A hand-assembled model (UTF-8 texts, all index sizes 1), independent of the writer.
TBytes HandMadeModel() {
  TBytes B = PmxHeader(2.0f, 1, 1, 1);
  B.Text8("モデル").Text8("model").Text8("").Text8("c");
  B.I32(3);  // vertices
  for (int I = 0; I < 3; ++I) {
    B.F3(10, 20, 30).F3(0, 0, 1).F32(0.25f).F32(0.75f);  // position, normal, UV
    B.U8(0).U8(0);                                       // BDEF1, bone 0
    B.F32(1);                                            // edge magnification
  }
  B.I32(3).Raw({0, 1, 2});         // faces
  B.I32(1).Text8("tex/face.png");  // textures
  B.I32(1);                        // materials
  B.Text8("mat").Text8("");
  B.F32(1).F32(1).F32(1).F32(1);         // diffuse
  B.F3(0, 0, 0).F32(5);                  // specular, shininess
  B.F3(0.5f, 0.5f, 0.5f);                // ambient
  B.U8(0x11);                            // render flags
  B.F32(0).F32(0).F32(0).F32(1).F32(1);  // edge colour, edge size
  B.U8(0).U8(0xFF);                      // texture 0, sphere none
  B.U8(0).U8(0).U8(0xFF);                // sphere mode, own toon, toon none
  B.Text8("memo").I32(3);
  B.I32(1);  // bones
  B.Text8("センター").Text8("center").F3(0, 10, 20).U8(0xFF).I32(0).U16(0x001A);
  B.F3(0, 10, 0);                 // position offset
  B.I32(0).I32(0).I32(0).I32(0);  // morphs, display frames, rigid bodies, joints
  return B;
}

}  // namespace

TEST(PmxReader, ReadsAHandMadeFileFieldByField) {
  const TPmx Pmx = LoadPmx(HandMadeModel().Data);
  EXPECT_EQ(Pmx.ModelNameJp(), "モデル");
  EXPECT_EQ(Pmx.ModelNameEn(), "model");
  EXPECT_EQ(Pmx.CommentJp(), "");
  EXPECT_EQ(Pmx.CommentEn(), "c");
  ASSERT_EQ(Pmx.VertexCount(), 3);
  // Position scaled by 0.1 and mirrored in Z, normal mirrored, UV unchanged.
  ExpectVec(Pmx.GetVertex(0)->Position, 1, 2, -3);
  ExpectVec(Pmx.GetVertex(0)->Normal, 0, 0, -1);
  EXPECT_EQ(Pmx.GetVertex(0)->UV.X, 0.25f);
  EXPECT_EQ(Pmx.GetVertex(0)->UV.Y, 0.75f);
  EXPECT_EQ(Pmx.GetVertex(2)->BoneWeightMethod, bwBDEF1);
  EXPECT_EQ(Pmx.GetVertex(2)->MagnificationOfEdge, 1.0f);
  ASSERT_EQ(Pmx.FaceCount(), 1);
  EXPECT_EQ(Pmx.GetFace(0)->X, 0);  // winding reversed
  EXPECT_EQ(Pmx.GetFace(0)->Y, 2);
  EXPECT_EQ(Pmx.GetFace(0)->Z, 1);
  ASSERT_EQ(Pmx.TextureCount(), 1);
  EXPECT_EQ(Pmx.GetTexture(0), "tex\\face.png");
  ASSERT_EQ(Pmx.MaterialCount(), 1);
  const TPmxMaterial& M = *Pmx.GetMaterial(0);
  EXPECT_EQ(M.NameJp, "mat");
  EXPECT_EQ(M.RenderFlags, 0x11);
  EXPECT_EQ(M.TextureIndex, 0);
  EXPECT_EQ(M.SphereTextureIndex, -1);
  EXPECT_EQ(M.ToonTexture.ToonTextureIndex, -1);
  EXPECT_EQ(M.Memo, "memo");
  EXPECT_EQ(M.NumberOfVertex, 3);
  ASSERT_EQ(Pmx.BoneCount(), 1);
  const TPmxBone& Bone = *Pmx.GetBone(0);
  EXPECT_EQ(Bone.NameJp, "センター");
  EXPECT_EQ(Bone.ParentIndex, -1);
  EXPECT_EQ(Bone.Flags, 0x001A);
  ExpectVec(Bone.Position, 0, 1, -2);
  ExpectVec(Bone.PositionOffset, 0, 1, 0);
  EXPECT_EQ(Bone.AddParentBoneIndex, 0);  // no add flags: stays zero
  EXPECT_TRUE(Bone.IKLinks.empty());
  EXPECT_EQ(Pmx.MorphCount() + Pmx.DisplayFrameCount() + Pmx.RigidBodyCount() + Pmx.JointCount() +
                Pmx.SoftBodyCount(),
            0);
}

TEST(PmxReader, EmptyModelLoadsInBothEncodings) {
  for (uint8_t Encoding : {0, 1}) {
    TPmxBuilder B;
    B.Settings.Encoding = Encoding;
    B.ModelNameJp = "空のモデル";
    B.CommentEn = "𝄞 outside the BMP";
    const TPmx Pmx = LoadPmx(B.Build());
    EXPECT_EQ(Pmx.ModelNameJp(), "空のモデル");
    EXPECT_EQ(Pmx.CommentEn(), "𝄞 outside the BMP");
    EXPECT_EQ(Pmx.Header().Encoding, Encoding);
    EXPECT_EQ(Pmx.VertexCount() + Pmx.FaceCount() + Pmx.TextureCount() + Pmx.MaterialCount() +
                  Pmx.BoneCount() + Pmx.MorphCount() + Pmx.DisplayFrameCount() +
                  Pmx.RigidBodyCount() + Pmx.JointCount() + Pmx.SoftBodyCount(),
              0);
  }
}

TEST(PmxReader, EverySectionRoundTripsThroughTheWriter) {
  for (float Version : {2.0f, 2.1f}) {
    SCOPED_TRACE(Version);
    const std::vector<uint8_t> First = RichModel(Version).Build();
    const TPmx Pmx = LoadPmx(First);
    EXPECT_EQ(Pmx.SoftBodyCount(), Version > 2.0f ? 1 : 0);
    EXPECT_EQ(TPmxBuilder::FromDocument(Pmx).Build(), First);
  }
}

TEST(PmxReader, RichModelRecordsReadBackAsBuilt) {
  const TPmxBuilder B = RichModel();
  const TPmx Pmx = LoadPmx(B.Build());
  ASSERT_EQ(Pmx.VertexCount(), 6);
  EXPECT_EQ(Pmx.Header().AdditionalUVCount, 2);
  ASSERT_EQ(Pmx.GetVertex(0)->AdditionalUV.size(), 2u);
  EXPECT_EQ(Pmx.GetVertex(0)->AdditionalUV[1].W, 8.0f);
  EXPECT_EQ(Pmx.GetVertex(1)->AdditionalUV.size(), 2u);  // every vertex gets the header's count
  EXPECT_EQ(Pmx.GetVertex(1)->BoneWeight.BDEF2.Bone2Index, 3);
  EXPECT_EQ(Pmx.GetVertex(1)->BoneWeight.BDEF2.Bone1Weight, 0.75f);
  EXPECT_EQ(Pmx.GetVertex(2)->BoneWeight.BDEF4.Bone4Index, -1);
  // The SDEF points are written in file units like positions, and the reader keeps them so.
  ExpectVec(Pmx.GetVertex(3)->BoneWeight.SDEF.SDEF_R1, 70, 80, -90);
  EXPECT_EQ(Pmx.GetVertex(4)->BoneWeight.QDEF.Bone1Index, 3);
  EXPECT_EQ(Pmx.GetVertex(5)->BoneWeightMethod, 7);
  ExpectVec(Pmx.GetVertex(1)->Position, 1, 0, 0.5f);

  const TPmxMaterial& Shared = *Pmx.GetMaterial(0);
  EXPECT_EQ(Shared.SharedToonFlag, 1);
  EXPECT_EQ(Shared.ToonTexture.ToonTextureIndex, 3);  // the other bytes stay 0
  EXPECT_EQ(Pmx.GetMaterial(1)->ToonTexture.ToonTextureIndex, 1);

  const TPmxBone& Upper = *Pmx.GetBone(1);
  EXPECT_EQ(Upper.ConnectionBoneIndex, 2);
  ExpectVec(Upper.PositionOffset, 0, 0, 0);  // a connection bone has no offset
  const TPmxBone& Neck = *Pmx.GetBone(2);
  ExpectVec(Neck.PositionOffset, 0, 0.5f, 0.25f);
  EXPECT_EQ(Neck.AddParentBoneIndex, 0);
  EXPECT_EQ(Neck.AddPower, 0.5f);
  EXPECT_EQ(Neck.ExternalParentKey, 7);
  EXPECT_EQ(Neck.TransformationLevel, 2);
  ExpectVec(Neck.LocalAxisZDirection, 0, 0, 1);
  const TPmxBone& Ik = *Pmx.GetBone(5);
  EXPECT_EQ(Ik.IKTargetBoneIndex, 4);
  EXPECT_EQ(Ik.IKLoopCount, 40);
  ASSERT_EQ(Ik.IKLinks.size(), 2u);
  EXPECT_EQ(Ik.IKLinks[1].AngleLimit, 0);
  EXPECT_EQ(Ik.IKLinks[1].Euler, etXYZ);
  EXPECT_EQ(Ik.IKLinks[1].AxisType, atNone);

  ASSERT_EQ(Pmx.MorphCount(), 12);
  const TPmxMorph& BoneMorph = *Pmx.GetMorph(2);
  EXPECT_EQ(BoneMorph.Kind, mkBone);
  EXPECT_FLOAT_EQ(BoneMorph.Data[0].Bone.RotateValue.Z, 0.6f);
  const TPmxMorph& Unknown = *Pmx.GetMorph(11);
  EXPECT_EQ(Unknown.Kind, 11);
  ASSERT_EQ(Unknown.Data.size(), 3u);
  EXPECT_EQ(Unknown.Data[2].Material.MaterialIndex, 0);
  EXPECT_EQ(Pmx.GetDisplayFrame(1)->Elements.size(), 2u);
  EXPECT_EQ(Pmx.GetDisplayFrame(1)->Elements[1].Target, 2);
  EXPECT_EQ(Pmx.GetRigidBody(0)->CollisionlessGroupFlag, 0xFFF0);
  EXPECT_EQ(Pmx.GetJoint(1)->JointKind, 6);
  EXPECT_EQ(Pmx.GetSoftBody(0)->PinVertices.size(), 2u);
  EXPECT_EQ(Pmx.GetSoftBody(0)->Material.VST, 0.75f);
}

TEST(PmxReader, ConvertsPositionsRotationsAndWindingFromTheFileFrame) {
  TPmxBuilder B;
  B.Settings.FileFrame = true;  // values below are the file's
  const int Bone = B.AddBone("b", NewVector3f(10, 20, 30));
  B.Bones[Bone].PositionOffset = NewVector3f(0, 0, 10);
  for (int I = 0; I < 7; ++I) B.AddVertex(NewVector3f(10, 20, 30), NewVector3f(0, 0, 1));
  B.Vertices[5].BoneWeightMethod = bwSDEF;
  B.Vertices[5].BoneWeight.SDEF = TPmxBoneWeightSDEF{
      0, 0, 0.5f, NewVector3f(10, 20, 30), NewVector3f(1, 2, 3), NewVector3f(4, 5, 6)};
  B.Faces = {0, 1, 2, 3, 4, 5, 6};  // seven indices: two triangles and one left over
  B.AddMaterial("m", 6);
  B.AddTexture("tex/face.png");
  const int VM = B.AddMorph("v", mkVertex);
  B.AddVertexMorphOffset(VM, 6, NewVector3f(10, 0, 5));
  const int BM = B.AddMorph("b", mkBone);
  TPmxMorphData D{};
  const float S = std::sqrt(0.5f);
  D.Bone.TranslateValue = NewVector3f(0, 10, 20);
  D.Bone.RotateValue = NewVector4f(0, 0, S, S);
  B.Morphs[BM].Data.push_back(D);

  const TPmx Pmx = LoadPmx(B.Build());
  ExpectVec(Pmx.GetBone(0)->Position, 1, 2, -3);
  ExpectVec(Pmx.GetBone(0)->PositionOffset, 0, 0, -1);
  ExpectVec(Pmx.GetVertex(6)->Position, 1, 2, -3);
  ExpectVec(Pmx.GetVertex(6)->Normal, 0, 0, -1);
  // SDEF points are kept as the file has them; the controller converts them where it skins.
  ExpectVec(Pmx.GetVertex(5)->BoneWeight.SDEF.SDEF_C, 10, 20, 30);
  ExpectVec(Pmx.GetVertex(5)->BoneWeight.SDEF.SDEF_R1, 4, 5, 6);
  EXPECT_EQ(Pmx.FaceCount(), 2);
  EXPECT_EQ(Pmx.FaceList(), (std::vector<int32_t>{0, 2, 1, 3, 5, 4, 6}));
  EXPECT_EQ(Pmx.GetTexture(0), "tex\\face.png");
  ExpectVec(Pmx.GetMorph(0)->Data[0].Vertex.PositionOffset, 1, 0, -0.5f);
  ExpectVec(Pmx.GetMorph(1)->Data[0].Bone.TranslateValue, 0, 1, -2);
  const PmxFloat4& R = Pmx.GetMorph(1)->Data[0].Bone.RotateValue;
  EXPECT_EQ(R.X, 0.0f);
  EXPECT_EQ(R.Y, 0.0f);
  EXPECT_EQ(R.Z, -S);
  EXPECT_EQ(R.W, -S);
}

TEST(PmxReader, IndexSizesAreZeroOrSignExtendedByKind) {
  struct TCase {
    std::vector<uint8_t> Bytes;
    uint8_t Size;
    int32_t Vertex, Signed;
  } Cases[] = {
      {{0xFF}, 1, 255, -1},
      {{0x7F}, 1, 127, 127},
      {{0x80}, 1, 128, -128},
      {{0xFF, 0xFF}, 2, 65535, -1},
      {{0x34, 0x12}, 2, 0x1234, 0x1234},
      {{0xFF, 0xFF, 0xFF, 0xFF}, 4, -1, -1},
      {{0x01, 0x00, 0x01, 0x00}, 4, 65537, 65537},
  };
  for (const TCase& C : Cases) {
    TByteStream S1(C.Bytes), S2(C.Bytes);
    EXPECT_EQ(ReadVertexIndex(S1, C.Size), C.Vertex);
    EXPECT_EQ(ReadSignedIndex(S2, C.Size), C.Signed);
    EXPECT_EQ(S1.Remaining(), 0u);
  }
  for (uint8_t Bad : {0, 3, 5, 8}) {
    const std::vector<uint8_t> Bytes(8, 0);
    TByteStream S(Bytes);
    EXPECT_EQ(ErrorOf([&] { ReadVertexIndex(S, Bad); }), "未対応のサイズ");
    EXPECT_EQ(ErrorOf([&] { ReadSignedIndex(S, Bad); }), "未対応のサイズ");
  }
}

TEST(PmxReader, MaterialToonIsSharedByteOrOwnTextureIndex) {
  TPmxBuilder B;
  B.AddTexture("a.png");
  B.AddMaterial("shared", 0);
  B.Materials[0].SharedToonFlag = 1;
  B.Materials[0].ToonTexture.SharedToonTextureIndex = 3;
  B.AddMaterial("own none", 0);  // own toon -1 is the byte 0xFF with a 1-byte index
  const TPmx Pmx = LoadPmx(B.Build());
  EXPECT_EQ(Pmx.GetMaterial(0)->ToonTexture.ToonTextureIndex, 3);
  EXPECT_EQ(Pmx.GetMaterial(1)->ToonTexture.ToonTextureIndex, -1);
}

TEST(PmxReader, IKLinkLimitsAreMirroredOrderedAndClassified) {
  const float HalfPiF = 1.5707963705062866f;  // the float nearest pi/2, just above it
  struct TCase {
    PmxFloat3 FileLower, FileUpper;
    PmxFloat3 Lower, Upper;
    TEulerType Euler;
    TAxisType Axis;
  } Cases[] = {
      // X and Y change sign, then each component is ordered.
      {{{-1, 0, 0}}, {{-0.5f, 0, 0}}, {{0.5f, 0, 0}}, {{1, 0, 0}}, etZXY, atFlowedX},
      {{{0, 0, 0}}, {{0, 0, 0}}, {{0, 0, 0}}, {{0, 0, 0}}, etZXY, atFixed},
      {{{0, -1, 0}}, {{0, 1, 0}}, {{0, -1, 0}}, {{0, 1, 0}}, etZXY, atFlowedY},
      {{{0, 0, -1}}, {{0, 0, 0.5f}}, {{0, 0, -1}}, {{0, 0, 0.5f}}, etZXY, atFlowedZ},
      {{{-1, -1, 0}}, {{1, 1, 0}}, {{-1, -1, 0}}, {{1, 1, 0}}, etZXY, atNone},
      // X reaching pi/2 (as the float above it) rules out ZXY.
      {{{-HalfPiF, 0, 0}}, {{0, 0, 0}}, {{0, 0, 0}}, {{HalfPiF, 0, 0}}, etXYZ, atFlowedX},
      {{{-3, -0.5f, 0}}, {{0, 0, 0}}, {{0, 0, 0}}, {{3, 0.5f, 0}}, etXYZ, atNone},
      {{{-3, -2, 0}}, {{0, 0, 0}}, {{0, 0, 0}}, {{3, 2, 0}}, etYZX, atNone},
      {{{-1.5f, 0, 0}}, {{1.5f, 0, 0}}, {{-1.5f, 0, 0}}, {{1.5f, 0, 0}}, etZXY, atFlowedX},
  };
  for (const TCase& C : Cases) {
    TPmxIKLink L{};
    DeriveIKLinkLimits(L, C.FileLower, C.FileUpper);
    SCOPED_TRACE(testing::Message()
                 << C.FileLower.X << "," << C.FileLower.Y << "," << C.FileLower.Z);
    for (int I = 0; I < 3; ++I) {
      EXPECT_EQ(L.LowerLimit.V[I], C.Lower.V[I]);
      EXPECT_EQ(L.UpperLimit.V[I], C.Upper.V[I]);
    }
    EXPECT_EQ(L.Euler, C.Euler);
    EXPECT_EQ(L.AxisType, C.Axis);
  }

  // Through a file: a link with AngleLimit 2 reads no limits and keeps the defaults.
  TPmxBuilder B;
  B.Settings.FileFrame = true;
  B.AddBone("a", NewVector3f(0, 0, 0));
  B.AddBone("ik", NewVector3f(0, 0, 0));
  B.MakeIK(1, 0);
  B.AddIKLink(1, 0, NewVector3f(-1, 0, 0), NewVector3f(-0.5f, 0, 0));
  B.AddIKLink(1, 0);
  B.Bones[1].IKLinks[1].AngleLimit = 2;
  B.Bones[1].IKLinks[1].LowerLimit = NewVector3f(9, 9, 9);  // not written
  const TPmx Pmx = LoadPmx(B.Build());
  const TPmxIKLink& Limited = Pmx.GetBone(1)->IKLinks[0];
  ExpectVec(Limited.LowerLimit, 0.5f, 0, 0);
  ExpectVec(Limited.UpperLimit, 1, 0, 0);
  EXPECT_EQ(Limited.Euler, etZXY);
  EXPECT_EQ(Limited.AxisType, atFlowedX);
  const TPmxIKLink& Other = Pmx.GetBone(1)->IKLinks[1];
  EXPECT_EQ(Other.AngleLimit, 2);
  ExpectVec(Other.LowerLimit, 0, 0, 0);
  EXPECT_EQ(Other.Euler, etXYZ);
  EXPECT_EQ(Other.AxisType, atNone);
}

// Joints and bodies stay as the file has them; the physics converts them. Under the Z mirror a
// turn about X or Y changes sign and a move along Z does, so those limits are negated and their
// ends swapped (lower stays below upper); Z turns and X, Y moves are only scaled or kept.
TEST(PmxPhysicsFrame, JointLimitsAndPlacesConvertFromTheFileFrame) {
  const float Deg = std::numbers::pi_v<float> / 180.0f;
  TPmxBuilder B;
  B.Settings.FileFrame = true;  // values below are the file's
  B.AddBone("b", NewVector3f(0, 0, 0));
  TPmxRigidBody Body{};
  Body.NameJp = "body";
  Body.Shape = stBox;
  Body.Position = NewVector3f(10, 20, 30);
  Body.Rotation = NewVector3f(0.1f, 0.2f, 0.3f);
  Body.Size = NewVector3f(1, 2, 3);
  Body.Mass = 1;
  B.RigidBodies = {Body, Body};
  TPmxJoint J{};
  J.NameJp = "joint";
  J.JointKind = jkSpring6DOF;
  TPmxJointSpring6DOF& D = J.Data.Spring6DOF;
  D.RigidBodyAIndex = 0;
  D.RigidBodyBIndex = 1;
  D.Position = NewVector3f(10, 20, 30);
  D.Rotation = NewVector3f(0.1f, 0.2f, 0.3f);
  D.TranslateLowerLimit = NewVector3f(-10, -20, -30);
  D.TranslateUpperLimit = NewVector3f(40, 50, 60);
  D.RotateLowerLimit = NewVector3f(-10 * Deg, -20 * Deg, -5 * Deg);
  D.RotateUpperLimit = NewVector3f(30 * Deg, 40 * Deg, 15 * Deg);
  D.TranslationSpringConstant = NewVector3f(1, 2, 3);
  D.RotationSpringConstant = NewVector3f(4, 5, 6);
  B.Joints.push_back(J);
  // A free range (lower above upper) on every component stays free.
  D.TranslateLowerLimit = NewVector3f(10, 10, 10);
  D.TranslateUpperLimit = NewVector3f(0, 0, 0);
  D.RotateLowerLimit = NewVector3f(1, 1, 1);
  D.RotateUpperLimit = NewVector3f(0, 0, 0);
  B.Joints.push_back(J);
  const TPmx Pmx = LoadPmx(B.Build());

  const TPmxRigidBody R = RigidBodyInViewerFrame(*Pmx.GetRigidBody(0));
  ExpectVec(R.Position, 1, 2, -3);
  ExpectVec(R.Rotation, -0.1f, -0.2f, 0.3f);
  ExpectVec(R.Size, 0.1f, 0.2f, 0.3f);

  const TPmxJointSpring6DOF Limited = JointInViewerFrame(*Pmx.GetJoint(0)).Data.Spring6DOF;
  ExpectVec(Limited.Position, 1, 2, -3);
  ExpectVec(Limited.Rotation, -0.1f, -0.2f, 0.3f);
  ExpectVec(Limited.TranslateLowerLimit, -1, -2, -6);
  ExpectVec(Limited.TranslateUpperLimit, 4, 5, 3);
  ExpectVec(Limited.RotateLowerLimit, -30 * Deg, -40 * Deg, -5 * Deg);
  ExpectVec(Limited.RotateUpperLimit, 10 * Deg, 20 * Deg, 15 * Deg);
  ExpectVec(Limited.TranslationSpringConstant, 1, 2, 3);
  ExpectVec(Limited.RotationSpringConstant, 4, 5, 6);

  const TPmxJointSpring6DOF Free = JointInViewerFrame(*Pmx.GetJoint(1)).Data.Spring6DOF;
  ExpectVec(Free.TranslateLowerLimit, 1, 1, 0);
  ExpectVec(Free.TranslateUpperLimit, 0, 0, -1);
  ExpectVec(Free.RotateLowerLimit, 0, 0, 1);
  ExpectVec(Free.RotateUpperLimit, -1, -1, 0);
}

TEST(PmxReader, IndexOfFindsTheFirstExactName) {
  TPmxBuilder B;
  B.AddBone("左足ＩＫ", NewVector3f(0, 0, 0));
  B.AddBone("dup", NewVector3f(0, 0, 0));
  B.AddBone("dup", NewVector3f(0, 0, 0));
  B.AddMorph("まばたき", mkVertex);
  B.AddMorph("あ", mkVertex);
  B.AddMorph("あ", mkVertex);
  const TPmx Pmx = LoadPmx(B.Build());
  EXPECT_EQ(Pmx.IndexOfBone("dup"), 1);
  EXPECT_EQ(Pmx.IndexOfBone("左足ＩＫ"), 0);
  EXPECT_EQ(Pmx.IndexOfBone("左足IK"), -1);  // half-width letters are other characters
  EXPECT_EQ(Pmx.IndexOfBone("Dup"), -1);
  EXPECT_EQ(Pmx.IndexOfMorph("あ"), 1);
  EXPECT_EQ(Pmx.IndexOfMorph("まばたき"), 0);
  EXPECT_EQ(Pmx.IndexOfMorph(""), -1);
}

TEST(PmxReader, Version20StopsAfterTheJointsAnd21ReadsSoftBodies) {
  // Bytes after the joints of a 2.0 file are never looked at.
  std::vector<uint8_t> Bytes20 = RichModel(2.0f).Build();
  Bytes20.insert(Bytes20.end(), {0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
  EXPECT_EQ(LoadPmx(Bytes20).SoftBodyCount(), 0);
  TByteStream Stream(Bytes20);
  TPmx FromStream;
  FromStream.LoadFromStream(Stream);
  EXPECT_EQ(Stream.Remaining(), 7u);  // the stream is left right after the joints
  // A 2.1 file needs its soft-body section; trailing bytes after it are ignored.
  std::vector<uint8_t> Bytes21 = RichModel(2.1f).Build();
  Bytes21.push_back(0xAB);
  EXPECT_EQ(LoadPmx(Bytes21).SoftBodyCount(), 1);
  TPmxBuilder NoSoft = RichModel(2.0f);
  NoSoft.Settings.Version = 2.1f;
  std::vector<uint8_t> Missing = NoSoft.Build();
  Missing.resize(Missing.size() - 4);  // drop the soft-body count
  EXPECT_EQ(PmxLoadError(Missing), StreamError);
}

TEST(PmxReader, ValuesBeyondTheListedOnesAreStoredNotErrors) {
  TPmxBuilder B;
  B.AddBone("b", NewVector3f(0, 0, 0));
  B.AddVertex(NewVector3f(0, 0, 0));
  B.Vertices[0].BoneWeightMethod = 200;
  B.AddMorph("m", static_cast<TPmxMorphKind>(42), static_cast<TPmxMorphTarget>(9));
  B.Morphs[0].Data.resize(5);
  const TPmx Pmx = LoadPmx(B.Build());
  EXPECT_EQ(Pmx.GetVertex(0)->BoneWeightMethod, 200);
  EXPECT_EQ(Pmx.GetMorph(0)->Kind, 42);
  EXPECT_EQ(Pmx.GetMorph(0)->Target, 9);
  EXPECT_EQ(Pmx.GetMorph(0)->Data.size(), 5u);
}

TEST(PmxReader, HeaderAndTextErrorsCarryTheirMessages) {
  const std::vector<uint8_t> Valid = HandMadeModel().Data;
  auto Patched = [&](size_t AOffset, std::vector<uint8_t> ABytes) {
    std::vector<uint8_t> R = Valid;
    std::copy(ABytes.begin(), ABytes.end(), R.begin() + AOffset);
    return R;
  };
  auto Version = [&](float AVersion) {
    uint8_t B[4];
    std::memcpy(B, &AVersion, 4);
    return Patched(4, {B[0], B[1], B[2], B[3]});
  };
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    std::string Message;
  } Cases[] = {
      {"signature", Patched(0, {'P', 'M', 'D', ' '}), "未知のシグネチャ (PMD )"},
      {"signature with control bytes", Patched(0, {0, 'M', 'X', '\n'}),
       "未知のシグネチャ (00 4D 58 0A)"},
      {"version 1.0", Version(1.0f), "未知のバージョン (1.00)"},
      {"version 2.2", Version(2.2f), "未知のバージョン (2.20)"},
      {"version near 2.1", Version(2.1000001f), "未知のバージョン (2.10)"},
      {"header size 7", Patched(8, {7}), "8以外のヘッダバイト列サイズには未対応"},
      {"encoding 2", Patched(9, {2}), "未知のエンコーディング (2)"},
      {"encoding 255", Patched(9, {255}), "未知のエンコーディング (255)"},
      {"vertex index size 3", Patched(11, {3}), "未対応のサイズ"},
      {"bone index size 0", Patched(14, {0}), "未対応のサイズ"},
      {"texture index size 8", Patched(12, {8}), "未対応のサイズ"},
      {"empty", {}, StreamError},
      {"signature only", {'P', 'M', 'X', ' '}, StreamError},
  };
  for (const TCase& C : Cases) EXPECT_EQ(PmxLoadError(C.Bytes), C.Message) << C.Name;

  // A bad size in a section that reads no index of that kind goes unnoticed.
  EXPECT_EQ(PmxLoadError(Patched(16, {3})), "");  // rigid-body index size, no rigid bodies
  EXPECT_EQ(PmxLoadError(Patched(15, {0})), "");  // morph index size, no morphs
}

TEST(PmxReader, LoadFromFileReadsTheFileAndNamesAMissingOne) {
  const std::string Path = TempPath("quenlor_formats_model.pmx");
  RichModel().SaveToFile(Path);
  TPmx Pmx;
  EXPECT_EQ(ErrorOf([&] { Pmx.LoadFromFile(Path); }), "");
  EXPECT_EQ(Pmx.BoneCount(), 6);
  std::remove(Path.c_str());
  const std::string Error = ErrorOf([&] { Pmx.LoadFromFile(Path); });
  EXPECT_NE(Error.find(Path), std::string::npos) << Error;
  EXPECT_NE(Error.find("No such file or directory"), std::string::npos) << Error;
  EXPECT_NE(ErrorOf([&] { Pmx.LoadFromFile(testing::TempDir()); }), "");  // a directory
}

TEST(PmxReader, AFailedLoadKeepsWhatWasReadAndAReloadReplacesEverything) {
  std::vector<uint8_t> Bytes = RichModel().Build();
  TPmx Pmx;
  EXPECT_EQ(PmxLoadError(Bytes, &Pmx), "");
  EXPECT_EQ(Pmx.SoftBodyCount(), 1);
  TPmxBuilder Small;
  Small.AddBone("only", NewVector3f(0, 0, 0));
  std::vector<uint8_t> SmallBytes = Small.Build();
  SmallBytes.resize(SmallBytes.size() - 5);  // cut inside the rigid-body count
  EXPECT_EQ(PmxLoadError(SmallBytes, &Pmx), StreamError);
  EXPECT_EQ(Pmx.BoneCount(), 1);
  EXPECT_EQ(Pmx.VertexCount(), 0);
  EXPECT_EQ(Pmx.SoftBodyCount(), 0);
}

// ---- index validation -------------------------------------------------------------------------

namespace {

// Three bones in a chain, three vertices, one triangle, one material.
TPmxBuilder ValidBase() {
  TPmxBuilder B;
  B.AddBone("root", NewVector3f(0, 0, 0));
  B.AddBone("arm", NewVector3f(0, 1, 0), 0);
  B.AddBone("hand", NewVector3f(0, 2, 0), 1);
  for (int I = 0; I < 3; ++I) B.AddVertex(NewVector3f(float(I), 0, 0), NewVector3f(0, 1, 0), {}, 0);
  B.AddTriangle(0, 1, 2);
  B.AddTexture("a.png");
  B.AddMaterial("m", 3, 0);
  B.Settings.VertexIndexSize = 4;
  B.Settings.BoneIndexSize = 4;
  B.Settings.TextureIndexSize = 4;
  return B;
}

}  // namespace

TEST(PmxIndexValidation, OutOfRangeIndicesFailNamingSectionElementAndIndex) {
  struct TCase {
    const char* Name;
    void (*Break)(TPmxBuilder&);
    std::string Message;
  } Cases[] = {
      {"face vertex", [](TPmxBuilder& B) { B.Faces[2] = 3; },
       "PMX index out of range: face 0: vertex index 3 (the model has 3 vertices)"},
      {"negative face vertex", [](TPmxBuilder& B) { B.Faces[1] = -1; },
       "PMX index out of range: face 0: vertex index -1 (the model has 3 vertices)"},
      {"BDEF1 bone", [](TPmxBuilder& B) { B.Vertices[1].BoneWeight.BDEF1.BoneIndex = 3; },
       "PMX index out of range: vertex 1: weight slot 1: bone index 3 (the model has 3 bones)"},
      {"BDEF2 second bone",
       [](TPmxBuilder& B) {
         B.Vertices[2].BoneWeightMethod = bwBDEF2;
         B.Vertices[2].BoneWeight.BDEF2 = {0, 7, 1};
       },
       "PMX index out of range: vertex 2: weight slot 2: bone index 7 (the model has 3 bones)"},
      {"SDEF bone",
       [](TPmxBuilder& B) {
         B.Vertices[0].BoneWeightMethod = bwSDEF;
         B.Vertices[0].BoneWeight.SDEF.Bone1Index = -2;
       },
       "PMX index out of range: vertex 0: weight slot 1: bone index -2 (the model has 3 bones)"},
      {"QDEF fourth bone",
       [](TPmxBuilder& B) {
         B.Vertices[0].BoneWeightMethod = bwQDEF;
         B.Vertices[0].BoneWeight.QDEF = {0, -1, -1, 99, 1, 0, 0, 0};
       },
       "PMX index out of range: vertex 0: weight slot 4: bone index 99 (the model has 3 bones)"},
      {"parent", [](TPmxBuilder& B) { B.Bones[2].ParentIndex = 5; },
       "PMX index out of range: bone 2 \"hand\": parent index 5 (the model has 3 bones)"},
      {"connection",
       [](TPmxBuilder& B) {
         B.Bones[1].Flags |= FlagBit(bfConnection);
         B.Bones[1].ConnectionBoneIndex = 3;
       },
       "PMX index out of range: bone 1 \"arm\": connection bone index 3 (the model has 3 bones)"},
      {"append parent",
       [](TPmxBuilder& B) {
         B.Bones[2].Flags |= FlagBit(bfAddTranslation);
         B.Bones[2].AddParentBoneIndex = 40;
       },
       "PMX index out of range: bone 2 \"hand\": append parent bone index 40 (the model has 3 "
       "bones)"},
      {"IK target",
       [](TPmxBuilder& B) {
         B.MakeIK(0, 3);
         B.AddIKLink(0, 1);
       },
       "PMX index out of range: bone 0 \"root\": IK target bone index 3 (the model has 3 bones)"},
      {"IK target none", [](TPmxBuilder& B) { B.MakeIK(0, -1); },
       "PMX index out of range: bone 0 \"root\": IK target bone index -1 (the model has 3 bones)"},
      {"IK link",
       [](TPmxBuilder& B) {
         B.MakeIK(0, 2);
         B.AddIKLink(0, 1);
         B.AddIKLink(0, -1);
       },
       "PMX index out of range: bone 0 \"root\": IK link 1: bone index -1 (the model has 3 "
       "bones)"},
      {"parent loop", [](TPmxBuilder& B) { B.Bones[0].ParentIndex = 2; },
       "PMX index out of range: bone 1 \"arm\": parent index 0 closes a loop in the parent "
       "chain"},
      {"own parent", [](TPmxBuilder& B) { B.Bones[1].ParentIndex = 1; },
       "PMX index out of range: bone 1 \"arm\": parent index 1 closes a loop in the parent chain"},
      {"vertex morph",
       [](TPmxBuilder& B) {
         const int M = B.AddMorph("あ", mkVertex);
         B.AddVertexMorphOffset(M, 0, NewVector3f(0, 1, 0));
         B.AddVertexMorphOffset(M, 3, NewVector3f(0, 1, 0));
       },
       "PMX index out of range: morph 0 \"あ\": offset 1: vertex index 3 (the model has 3 "
       "vertices)"},
      {"material face count", [](TPmxBuilder& B) { B.AddMaterial("extra", 3); },
       "PMX index out of range: material 1 \"extra\": face index count 3 starting at face index 3 "
       "runs past the face list (the model has 3 face indices)"},
      {"negative material face count", [](TPmxBuilder& B) { B.Materials[0].NumberOfVertex = -3; },
       "PMX index out of range: material 0 \"m\": face index count -3 starting at face index 0 "
       "runs past the face list (the model has 3 face indices)"},
  };
  EXPECT_EQ(PmxLoadError(ValidBase().Build()), "");
  for (const TCase& C : Cases) {
    TPmxBuilder B = ValidBase();
    C.Break(B);
    EXPECT_EQ(PmxLoadError(B.Build()), C.Message) << C.Name;
  }
}

TEST(PmxIndexValidation, NoneMarkersAndIndicesNobodyFollowsAreAccepted) {
  TPmxBuilder B = ValidBase();
  B.Vertices[0].BoneWeightMethod = bwBDEF4;  // unused slots carry bone -1, weight 0
  B.Vertices[0].BoneWeight.BDEF4 = {0, -1, -1, -1, 1, 0, 0, 0};
  B.Vertices[1].BoneWeight.BDEF1.BoneIndex = -1;
  B.Bones[1].Flags |= FlagBit(bfConnection);
  B.Bones[1].ConnectionBoneIndex = -1;
  B.Bones[2].Flags |= FlagBit(bfAddRotation);
  B.Bones[2].AddParentBoneIndex = -1;
  B.Bones[0].AddParentBoneIndex = 77;          // not an append bone: the field is not even written
  const int G = B.AddMorph("group", mkGroup);  // indices of other morph kinds are not followed
  TPmxMorphData D{};
  D.Group.MorphIndex = 9;
  B.Morphs[G].Data.push_back(D);
  B.Materials[0].NumberOfVertex = 0;  // materials may cover less than the face list
  const TPmx Pmx = LoadPmx(B.Build());
  EXPECT_EQ(Pmx.GetBone(1)->ConnectionBoneIndex, -1);
}

TEST(PmxIndexValidation, OutOfRangeTextureIndicesBecomeNone) {
  TPmxBuilder B = ValidBase();
  B.Materials[0].TextureIndex = 1;  // one texture only
  B.Materials[0].SphereTextureIndex = -5;
  B.Materials[0].ToonTexture.ToonTextureIndex = 300;
  B.AddMaterial("shared toon", 0, 0);
  B.Materials[1].SharedToonFlag = 1;
  B.Materials[1].ToonTexture.SharedToonTextureIndex = 200;  // shared numbers are left alone
  const TPmx Pmx = LoadPmx(B.Build());
  EXPECT_EQ(Pmx.GetMaterial(0)->TextureIndex, -1);
  EXPECT_EQ(Pmx.GetMaterial(0)->SphereTextureIndex, -1);
  EXPECT_EQ(Pmx.GetMaterial(0)->ToonTexture.ToonTextureIndex, -1);
  EXPECT_EQ(Pmx.GetMaterial(1)->TextureIndex, 0);
  EXPECT_EQ(Pmx.GetMaterial(1)->ToonTexture.SharedToonTextureIndex, 200);
}
