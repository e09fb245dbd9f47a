// TModelDrawing on the real driver: construction from a loaded model (textures, toon ramps,
// meshes, overlay items), the vertex buffers read back from GL, failure clean-up, drawing; and
// the scene renderer's ground.
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "math/Errors.h"
#include "render/ModelDrawing.h"
#include "render/SceneRenderer.h"
#include "tests/character/CoreFixture.h"
#include "tests/gl/GLCoreFixture.h"

namespace fs = std::filesystem;

namespace {

std::vector<float> ReadBuffer(const IBufferObject& ABuffer, size_t AFloats) {
  std::vector<float> Out(AFloats);
  glBindBuffer(GL_ARRAY_BUFFER, ABuffer.Handle());
  if (AFloats) glGetBufferSubData(GL_ARRAY_BUFFER, 0, AFloats * sizeof(float), Out.data());
  return Out;
}

GLint BufferSize(const IBufferObject& ABuffer) {
  GLint Size = -1;
  glBindBuffer(GL_ARRAY_BUFFER, ABuffer.Handle());
  glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &Size);
  return Size;
}

void WriteBmp(const fs::path& APath, uint8_t AShade) {
  TBitmap Bitmap(2, 2, pf24bit);
  for (int R = 0; R < 2; ++R) std::memset(Bitmap.ScanLine(R), AShade, 6);
  Bitmap.SaveToFile(APath);
}

// A 24-bit BMP from rows of RGB pixels, top row first (written under any name: sphere files are
// read by their content).
void WritePixelsBmp(const fs::path& APath,
                    const std::vector<std::vector<std::array<uint8_t, 3>>>& ARows) {
  TBitmap Bitmap(static_cast<int>(ARows[0].size()), static_cast<int>(ARows.size()), pf24bit);
  for (int R = 0; R < Bitmap.Height(); ++R)
    for (int X = 0; X < Bitmap.Width(); ++X) {
      uint8_t* P = Bitmap.ScanLine(R) + 3 * X;
      P[0] = ARows[R][X][2], P[1] = ARows[R][X][1], P[2] = ARows[R][X][0];
    }
  Bitmap.SaveToFile(APath);
}

// A sphere of radius ARadius about the origin with outward normals, 12 stacks and 24 slices (a
// vertex ring on the equator, a slice through +X), wound so that its outside faces a viewer at -Z
// under the identity matrix (clip space is left-handed: counter-clockwise on screen means the
// geometric normal points away from that viewer). Returns the face index count.
int AddSphere(TPmxBuilder& AB, float ARadius, float AEdgeScale = 1.0f) {
  constexpr int Stacks = 12, Slices = 24;
  const float Pi = 3.14159265f;
  const int First = static_cast<int>(AB.Vertices.size());
  for (int I = 0; I <= Stacks; ++I) {
    const float Theta = Pi * static_cast<float>(I) / Stacks;  // from +Y down
    for (int J = 0; J <= Slices; ++J) {
      const float Phi = 2 * Pi * static_cast<float>(J) / Slices;
      const TVector3f N = NewVector3f(std::sin(Theta) * std::cos(Phi), std::cos(Theta),
                                      std::sin(Theta) * std::sin(Phi));
      const int V = AB.AddVertex(Scaled3f(N, ARadius), N);
      AB.Vertices[V].MagnificationOfEdge = AEdgeScale;
    }
  }
  int Count = 0;
  auto Triangle = [&](int A, int B, int C) {
    const TVector3f PA = AB.Vertices[A].Position, PB = AB.Vertices[B].Position,
                    PC = AB.Vertices[C].Position;
    const TVector3f Geometric = Cross3f(Sub3f(PB, PA), Sub3f(PC, PA));
    const TVector3f Outward = Add3f(Add3f(PA, PB), PC);
    if (Dot3f(Geometric, Outward) > 0)
      AB.AddTriangle(A, C, B);
    else
      AB.AddTriangle(A, B, C);
    Count += 3;
  };
  for (int I = 0; I < Stacks; ++I)
    for (int J = 0; J < Slices; ++J) {
      const int A = First + I * (Slices + 1) + J, B = A + 1, C = A + Slices + 1, D = C + 1;
      if (I > 0) Triangle(A, B, C);
      if (I < Stacks - 1) Triangle(B, D, C);
    }
  return Count;
}

// A model with every construction case: textures present, missing and broken; materials with
// each toon selection; displayed bones with and without a connection, "ＩＫ" in the name, and a
// connection to nothing; a morph with a vertex offset.
struct TRigModel {
  TPmxBuilder B;
  int Root, Child, IKBone, Loose, Hidden;
  TRigModel() {
    Root = B.AddBone("センター", NewVector3f(0, 0, 0));
    Child = B.AddBone("左足ＩＫ親", NewVector3f(0, 1, 0), Root);
    IKBone = B.AddBone("IK", NewVector3f(0.5f, 0, 0), Root);  // ASCII letters: grey
    Loose = B.AddBone("loose", NewVector3f(1, 0, 0), Root);
    Hidden = B.AddBone("hidden", NewVector3f(1, 1, 0), Root, FlagBit(bfCanRotate));
    B.Bones[Root].Flags |= FlagBit(bfConnection);
    B.Bones[Root].ConnectionBoneIndex = Child;
    B.Bones[Child].PositionOffset = NewVector3f(0, 0.5f, 0);
    B.Bones[Loose].Flags |= FlagBit(bfConnection);
    B.Bones[Loose].ConnectionBoneIndex = -1;
    for (int I = 0; I < 12; ++I)
      B.AddVertexBDEF2(NewVector3f(0.1f * I, 0.05f * I, -0.02f * I), Root, Child, 0.1f * (I % 10),
                       Normalized3f(NewVector3f(1, 1, static_cast<float>(I))));
    for (int T = 0; T < 4; ++T) B.AddTriangle(3 * T, 3 * T + 1, 3 * T + 2);
    B.AddTexture("tex\\Face.PNG");  // present, other case on disk
    B.AddTexture("missing.png");    // absent
    B.AddTexture("broken.png");     // present, not an image
    // Material 0: texture 0, shared toon 3 (toon04); 1: missing texture, shared toon 10 (none);
    // 2: broken texture, model toon texture 0; 3: no texture, no toon, two-sided.
    B.AddMaterial("m0", 3, 0);
    B.Materials[0].SharedToonFlag = 1;
    B.Materials[0].ToonTexture.SharedToonTextureIndex = 3;
    B.AddMaterial("m1", 3, 1);
    B.Materials[1].SharedToonFlag = 1;
    B.Materials[1].ToonTexture.ToonTextureIndex = 0;
    B.Materials[1].ToonTexture.SharedToonTextureIndex = 10;
    B.AddMaterial("m2", 3, 2);
    B.Materials[2].ToonTexture.ToonTextureIndex = 0;
    B.AddMaterial("m3", 3, -1);
    B.Materials[3].RenderFlags |= FlagBit(rfTwoSide);
    B.Materials[3].Diffuse = NewVector4f(0.25f, 0.5f, 0.75f, 1.0f);
    const int Smile = B.AddMorph("smile", mkVertex);
    B.AddVertexMorphOffset(Smile, 4, NewVector3f(0, 0.5f, 0));
  }
};

class ControllerTest : public TOpenGLTest {
 protected:
  void SetUp() override {
    TOpenGLTest::SetUp();
    FMain = std::make_unique<TMainProgram>(FGL.get());
    FBones = std::make_unique<TBoneProgram>(FGL.get());
    FDir = fs::temp_directory_path() /
           ("quenlor_character_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir / "Toon");
    fs::create_directories(FDir / "model" / "tex");
    for (int I = 1; I <= 10; ++I) {
      char Name[16];
      std::snprintf(Name, sizeof Name, "toon%02d.bmp", I);
      WriteBmp(FDir / "Toon" / Name, static_cast<uint8_t>(20 * I));
    }
    WriteBmp(FDir / "model" / "tex" / "face.png", 200);  // a BMP under a .png name decodes too
    std::ofstream(FDir / "model" / "broken.png") << "not an image";
  }
  void TearDown() override {
    // The drawing takes its items out of the programs and leaves the model's core.
    FController.reset();
    FModel.reset();
    FMain.reset();
    FBones.reset();
    FShadow.reset();
    fs::remove_all(FDir);
    TOpenGLTest::TearDown();
  }

  std::string ModelPath() const { return (FDir / "model" / "model.pmx").string(); }
  std::string MotionPath() const { return (FDir / "motion.vmd").string(); }
  std::string BaseDir() const { return FDir.string() + "/"; }

  void Create(const TPmxBuilder& AModel, const TVmdBuilder* AMotion = nullptr) {
    AModel.SaveToFile(ModelPath());
    if (AMotion) AMotion->SaveToFile(MotionPath());
    FModel = std::make_unique<TSceneModel>(ModelPath());
    if (AMotion) {
      TMotionSet Motions;
      Motions.Add(MotionPath());
      FModel->SetMotions(std::move(Motions),
                         [](const std::string& AText) { std::fputs(AText.c_str(), stderr); });
    }
    FController =
        std::make_unique<TModelDrawing>(FGL.get(), FMain.get(), FBones.get(), *FModel, BaseDir());
  }

  // A 32 x 32 colour target, bound, cleared to black and set as the viewport, for one frame
  // drawn by hand.
  std::unique_ptr<TColorFBO> BlackTarget() {
    auto Target = std::make_unique<TColorFBO>(FGL->Sampler(), 32, 32);
    Target->Bind();
    FGL->SetColor(0x000000);
    Target->Clear({cmColor, cmDepth});
    Target->SetViewport(0, 0, 32, 32);
    return Target;
  }
  // The model's colour pass as a frame draws it, back faces culled, with an empty shadow map (all
  // lit) on unit 2 for the materials that receive self-shadow.
  void RenderModelPass(const TMatrix4f& AMVP = IdentityMatrix4f,
                       const TMatrix4f& AView = IdentityMatrix4f, float AProjectionScaleY = 1.0f) {
    if (!FShadow) {
      GLint Target = 0;
      glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &Target);
      FShadow = std::make_unique<TShadowFBO>();
      FShadow->Bind();
      FShadow->Clear({cmDepth});
      glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(Target));
    }
    FMain->Activate();
    FMain->SetViewTransform(AView, AProjectionScaleY, 32, 32);
    FShadow->BindTexture();
    glBindSampler(2, FGL->ShadowSampler());
    glCullFace(GL_BACK);
    FMain->ActivateRenderPass2();
    FMain->Render(AMVP);
  }
  // Drops the controller and its items for the next case of a table.
  void DropController() {
    FMain->Items().clear();
    FBones->Items().clear();
    FController.reset();
  }

  std::unique_ptr<TMainProgram> FMain;
  std::unique_ptr<TBoneProgram> FBones;
  std::unique_ptr<TSceneModel> FModel;
  std::unique_ptr<TModelDrawing> FController;
  std::unique_ptr<TShadowFBO> FShadow;
  fs::path FDir;
};

}  // namespace

TEST_F(ControllerTest, ConstructionAppendsTheModelAndHiddenBoneLines) {
  TRigModel M;
  Create(M.B);
  ASSERT_EQ(FMain->Items().size(), 1u);
  EXPECT_EQ(FMain->Items()[0].get(), FController->Model());
  ASSERT_EQ(FController->Model()->Items().size(), 4u);

  const auto& Ref = FController->RefBones();
  ASSERT_EQ(Ref.size(), 5u);
  EXPECT_EQ(Ref[M.Loose], nullptr);   // connection to nothing
  EXPECT_EQ(Ref[M.Hidden], nullptr);  // not displayed
  EXPECT_EQ(FBones->Items().size(), 3u);
  for (int Bone : {M.Root, M.Child, M.IKBone}) {
    ASSERT_NE(Ref[Bone], nullptr);
    EXPECT_FALSE(Ref[Bone]->Visible());
  }
  auto Color = [&](int ABone) { return Ref[ABone]->Color(); };
  EXPECT_EQ(Color(M.Child).X, 1.0f);  // "ＩＫ" inside the name
  EXPECT_EQ(Color(M.Child).W, 1.0f);
  EXPECT_EQ(Color(M.IKBone).X, 0.5f);  // ASCII "IK"
  EXPECT_EQ(Color(M.IKBone).W, 0.5f);
  // Head to connected bone, or head plus offset.
  EXPECT_TRUE(Near3(Ref[M.Root]->Position2(), FModel->Pmx().GetBone(M.Child)->Position));
  EXPECT_TRUE(Near3(Ref[M.Child]->Position2(),
                    Add3f(FModel->Pmx().GetBone(M.Child)->Position, NewVector3f(0, 0.5f, 0))));
}

TEST_F(ControllerTest, TexturesAreOptionalAndToonRampsAreChosenPerMaterial) {
  TRigModel M;
  Create(M.B);
  const auto& Tex = FController->PmxTextures();
  ASSERT_EQ(Tex.size(), 3u);
  EXPECT_NE(Tex[0], nullptr);  // found without regard to case
  EXPECT_EQ(Tex[1], nullptr);  // missing
  EXPECT_EQ(Tex[2], nullptr);  // broken
  for (const auto& Toon : FController->PmxSharedTextures()) EXPECT_NE(Toon, nullptr);

  auto Mesh = [&](int AIndex) {
    return static_cast<TPmxMesh*>(FController->Model()->Items()[AIndex].get());
  };
  EXPECT_EQ(Mesh(0)->Texture(), Tex[0].get());
  EXPECT_EQ(Mesh(0)->ToonTexture(), FController->PmxSharedTextures()[3].get());
  EXPECT_EQ(Mesh(1)->Texture(), nullptr);
  EXPECT_EQ(Mesh(1)->ToonTexture(), nullptr);  // shared index 10
  EXPECT_EQ(Mesh(2)->Texture(), nullptr);
  EXPECT_EQ(Mesh(2)->ToonTexture(), Tex[0].get());
  EXPECT_EQ(Mesh(3)->ToonTexture(), nullptr);
  EXPECT_TRUE(Mesh(3)->TwoSide());
  EXPECT_FALSE(Mesh(0)->TwoSide());
  EXPECT_EQ(Mesh(3)->Diffuse().Z, 0.75f);
  for (int I = 0; I < 4; ++I) EXPECT_EQ(Mesh(I)->ArrayCount(), 3);
}

TEST_F(ControllerTest, VertexBuffersHoldTheSkinnedPoseReadBackFromGL) {
  TRigModel M;
  TVmdBuilder Motion;
  Motion.AddBoneKey("センター", 0, NewVector3f(0, 0, 0), AsVector4(TurnAbout(0, 0, 1, 0.5f)));
  Motion.AddBoneKey("センター", 30, NewVector3f(1, 0, 0), AsVector4(TurnAbout(1, 0, 0, 0.5f)));
  Motion.AddMorphKey("smile", 10, 1.0f);
  Create(M.B, &Motion);
  auto VAO = FController->PmxVAO();
  ASSERT_NE(VAO, nullptr);
  const size_t N = static_cast<size_t>(FModel->Pmx().VertexCount());
  EXPECT_EQ(BufferSize(*VAO->PositionBuffer()), static_cast<GLint>(12 * N));
  EXPECT_EQ(BufferSize(*VAO->NormalBuffer()), static_cast<GLint>(12 * N));
  EXPECT_EQ(BufferSize(*VAO->TexCoordBuffer()), static_cast<GLint>(8 * N));

  // The same model and motion skinned into memory by the literal algorithm.
  TCoreRig Expected(M.B, &Motion, true);
  auto SameAsExpected = [&](const char* AWhen) {
    EXPECT_EQ(ReadBuffer(*VAO->PositionBuffer(), 3 * N), Expected.Out->Positions) << AWhen;
    EXPECT_EQ(ReadBuffer(*VAO->NormalBuffer(), 3 * N), Expected.Out->Normals) << AWhen;
  };
  SameAsExpected("rest pose");
  for (double Frame : {0.0, 7.5, 20.0, 31.0}) {
    FModel->Core().ApplyMotionByFrame(Frame);
    Expected.Core->ApplyMotionByFrame(Frame);
    SameAsExpected("motion");
  }
  FModel->Core().SetMorphRate(0, 0.0f);
  Expected.Core->SetMorphRate(0, 0.0f);
  SameAsExpected("morph");
  FModel->Core().FaceTurn(TVec3f(0, 1, 5));
  FModel->Core().CockHead(5);
  SameAsExpected("behaviours");

  // The overlay line of a bone without a connection keeps its rest offset; its buffer holds the
  // shape between its two points.
  TBone* Line = FController->RefBones()[M.Child];
  const TVector3f Head = XYZ3f(FModel->Core().BoneGlobalMatrix()[M.Child].W);
  EXPECT_TRUE(Near3(Line->Position1(), Head, 0));
  EXPECT_TRUE(
      Near3(Line->Position2(), Add3f(Head, FModel->Pmx().GetBone(M.Child)->PositionOffset), 0));
  auto* BoneVAO = static_cast<TBoneVAO*>(Line->VAO().get());
  const auto Shape = TBone::BuildVertices(Line->Position1(), Line->Position2());
  EXPECT_EQ(ReadBuffer(*BoneVAO->PositionBuffer(), 18),
            std::vector<float>(Shape.begin(), Shape.end()));
}

// The morphs a motion keys that the model lacks are listed once each, under a heading that says
// what the list is, on one line: a real pair of files can miss dozens.
TEST_F(ControllerTest, MotionFileIsOptionalAndUnmatchedMorphKeysGoToStderr) {
  TRigModel M;
  Create(M.B);
  EXPECT_EQ(FModel->Motion().FrameCount(), 0u);
  EXPECT_EQ(FModel->Core().MotionList(), nullptr);
  FMain->Items().clear();
  FBones->Items().clear();
  FController.reset();

  TVmdBuilder Motion;
  Motion.AddMorphKey("ウインク", 3, 1.0f);
  Motion.AddMorphKey("smile", 4, 1.0f);
  Motion.AddBoneKey("ない骨", 4);
  Motion.AddMorphKey("まばたき", 5, 1.0f);
  Motion.AddMorphKey("ウインク", 6, 0.0f);
  ::testing::internal::CaptureStderr();
  Create(M.B, &Motion);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Quenlor: the motion keys 2 morphs that the model does not have; their keys are "
            "ignored:\n  ウインク, まばたき\n");
  EXPECT_EQ(FModel->Motion().FrameCount(), 7u);
  EXPECT_EQ(FModel->Core().SkinMotionList()->size(), 1u);
}

TEST_F(ControllerTest, FailedConstructionTakesItsItemsOutOfThePrograms) {
  TRigModel M;
  fs::remove(FDir / "Toon" / "toon07.bmp");
  M.B.SaveToFile(ModelPath());
  TSceneModel Model(ModelPath());
  EXPECT_ANY_THROW(TModelDrawing(FGL.get(), FMain.get(), FBones.get(), Model, BaseDir()));
  EXPECT_TRUE(FMain->Items().empty());
  EXPECT_TRUE(FBones->Items().empty());

  // A missing model fails with the file layer's message; a bad motion with the reader's.
  try {
    TSceneModel Missing((FDir / "none.pmx").string());
    ADD_FAILURE() << "no error for a missing model";
  } catch (const std::exception& E) {
    EXPECT_NE(std::string(E.what()).find("none.pmx"), std::string::npos) << E.what();
  }
  WriteBmp(FDir / "Toon" / "toon07.bmp", 1);
  {
    // The older format's signature, then an empty motion.
    std::string Bytes(60, '\0');
    std::memcpy(Bytes.data(), "Vocaloid Motion Data file", 25);
    std::ofstream(MotionPath(), std::ios::binary) << Bytes;
  }
  try {
    TMotionSet Motions;
    Motions.Add(MotionPath());
    ADD_FAILURE() << "no error for a bad motion";
  } catch (const std::exception& E) {
    // Named, with the reader's own text.
    EXPECT_NE(std::string(E.what()).find("motion.vmd\": 未対応のヘッダ ("), std::string::npos)
        << E.what();
  }
  EXPECT_TRUE(FMain->Items().empty());
  EXPECT_TRUE(FBones->Items().empty());
}

TEST_F(ControllerTest, TwoSidedMaterialsDrawTheirBackFacesAndCullingIsRestored) {
  // One triangle facing away from the viewer in clip space; white material, ambient 0.5.
  for (bool TwoSide : {false, true}) {
    TPmxBuilder B;
    B.AddBone("root", NewVector3f(0, 0, 0));
    B.AddVertex(NewVector3f(-0.8f, -0.8f, 0));
    B.AddVertex(NewVector3f(0, 0.8f, 0));
    B.AddVertex(NewVector3f(0.8f, -0.8f, 0));
    B.AddTriangle(0, 1, 2);  // clockwise on screen
    B.AddMaterial("m", 3);
    if (TwoSide) B.Materials[0].RenderFlags |= FlagBit(rfTwoSide);
    Create(B);
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    RenderModelPass();
    const auto Pixel = ReadPixel(16, 12);
    EXPECT_EQ(Pixel[0], TwoSide ? 1.0f : 0.0f) << (TwoSide ? "two-sided" : "one-sided");
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    Target->Unbind();
    FMain->Items().clear();
    FBones->Items().clear();
    FController.reset();
  }
}

TEST(BoneShape, SixVerticesFromBaseToTip) {
  auto Vertex = [](const std::array<float, 18>& S, int K) {
    return TVec3f(S[3 * K], S[3 * K + 1], S[3 * K + 2]);
  };
  const auto Straight = TBone::BuildVertices(NewVector3f(0, 0, 0), NewVector3f(0, 0, -2));
  EXPECT_TRUE(Near3(Vertex(Straight, 5), TVec3f(0, 0, -2)));
  EXPECT_TRUE(Near3(Vertex(Straight, 1), TVec3f(-0.01f, 0.01f, -0.01f)));
  const auto Up = TBone::BuildVertices(NewVector3f(1, 2, 3), NewVector3f(1, 3, 3));
  EXPECT_TRUE(Near3(Vertex(Up, 0), TVec3f(1, 2, 3)));
  EXPECT_TRUE(Near3(Vertex(Up, 5), TVec3f(1, 3, 3)));
  // Coinciding points: a half turn about X, everything collapses near the base.
  const auto Point = TBone::BuildVertices(NewVector3f(1, 1, 1), NewVector3f(1, 1, 1));
  for (int K = 0; K < 6; ++K) EXPECT_TRUE(Near3(Vertex(Point, K), TVec3f(1, 1, 1), 0.02f)) << K;
  EXPECT_EQ(TBone::LineIndices.size(), 24u);
}

TEST_F(ControllerTest, AnEmptyModelBuildsAnEmptyModelItemAndAnswersEveryCall) {
  TPmxBuilder Empty;
  TVmdBuilder Motion;
  Motion.AddBoneKey("センター", 10);
  Motion.AddMorphKey("まばたき", 3, 1.0f);
  ::testing::internal::CaptureStderr();
  Create(Empty, &Motion);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Quenlor: the motion keys 1 morph that the model does not have; their keys are "
            "ignored:\n  まばたき\n");
  ASSERT_EQ(FMain->Items().size(), 1u);
  EXPECT_TRUE(FController->Model()->Items().empty());
  EXPECT_TRUE(FBones->Items().empty());
  EXPECT_EQ(FModel->Core().MorphCount(), 0);
  EXPECT_EQ(FModel->Motion().FrameCount(), 11u);
  FModel->Core().ApplyMotionByTime(1234);
  FModel->Core().NextFrame();
  FModel->Core().FaceTurn(TVec3f(0, 1, 5));
  FModel->Core().CockHead(10);
  FModel->Core().Mabataki(1);
  EXPECT_THROW(FModel->Core().SetMorphRate(0, 1), ERangeError);
  FController->SetPosition(NewVector3f(1, 2, 3));
  EXPECT_EQ(FController->Position().Y, 2.0f);
}

TEST_F(ControllerTest, MaterialTextureAndToonRampColourTheDrawnMesh) {
  struct TCase {
    const char* Name;
    int Texture;     // model texture index or -1
    int SharedToon;  // shared toon number (0-based) or -1
    float Expected;  // red of the drawn pixel
  };
  // White material with ambient 0.5: lit white; face.png is grey 200, toon01 grey 20.
  const TCase Cases[] = {
      {"plain", -1, -1, 1.0f},
      {"texture", 0, -1, 200 / 255.0f},
      {"toon", -1, 0, 20 / 255.0f},
      {"both", 0, 0, 200 / 255.0f * 20 / 255.0f},
  };
  for (const TCase& C : Cases) {
    TPmxBuilder B;
    B.AddBone("root", NewVector3f(0, 0, 0));
    B.AddVertex(NewVector3f(-0.8f, -0.8f, 0), NewVector3f(0, 0, 1));
    B.AddVertex(NewVector3f(0.8f, -0.8f, 0), NewVector3f(0, 0, 1));
    B.AddVertex(NewVector3f(0, 0.8f, 0), NewVector3f(0, 0, 1));
    B.AddTriangle(0, 1, 2);  // counter-clockwise on screen
    B.AddTexture("tex/face.png");
    B.AddMaterial("m", 3, C.Texture);
    if (C.SharedToon >= 0) {
      B.Materials[0].SharedToonFlag = 1;
      B.Materials[0].ToonTexture.SharedToonTextureIndex = static_cast<uint8_t>(C.SharedToon);
    }
    Create(B);
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    RenderModelPass();
    EXPECT_NEAR(ReadPixel(16, 12)[0], C.Expected, 2.5f / 255) << C.Name;
    Target->Unbind();
    FMain->Items().clear();
    FBones->Items().clear();
    FController.reset();
  }
}

TEST_F(ControllerTest, ShownBoneLinesDrawOverTheSceneAndHiddenOnesDrawNothing) {
  TPmxBuilder B;
  const int Root = B.AddBone("足ＩＫ", NewVector3f(0, -0.8f, 0));
  B.Bones[Root].PositionOffset = NewVector3f(0, 1.6f, 0);
  Create(B);
  TBone* Line = FController->RefBones()[Root];
  ASSERT_NE(Line, nullptr);
  for (bool Shown : {false, true}) {
    Line->SetVisible(Shown);
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    FBones->Activate();
    FBones->Render(IdentityMatrix4f);
    // The tip's ring is tiny; the long edges from the ring to the tip pass the centre column.
    float Red = 0;
    for (int X = 13; X <= 18; ++X) Red = std::max(Red, ReadPixel(X, 16)[0]);
    EXPECT_EQ(Red > 0.5f, Shown) << Red;
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    Target->Unbind();
  }
}

namespace {

// A model with one bone and a square over the whole picture (identity matrix), facing the viewer,
// its vertices with texture coordinates AUV and additional UV 1 AUV1.
void AddScreenQuad(TPmxBuilder& AB, PmxFloat2 AUV = PmxFloat2{0, 0},
                   TVector4f AUV1 = TVector4f{{0, 0, 0, 0}}) {
  if (AB.Bones.empty()) AB.AddBone("root", NewVector3f(0, 0, 0));
  const int First = static_cast<int>(AB.Vertices.size());
  for (const auto& [X, Y] : {std::pair{-1.0f, -1.0f}, {1.0f, -1.0f}, {-1.0f, 1.0f}, {1.0f, 1.0f}}) {
    const int V = AB.AddVertex(NewVector3f(X, Y, 0), NewVector3f(0, 0, -1), AUV);
    AB.Vertices[V].AdditionalUV = {AUV1};
  }
  AB.AddTriangle(First, First + 1, First + 2);  // counter-clockwise on screen
  AB.AddTriangle(First + 1, First + 3, First + 2);
}

// A material of AFaces indices with only AFlags, colour clamp(ADiffuse + AAmbient) when lit.
void AddPlainMaterial(TPmxBuilder& AB, int AFaces, uint8_t AFlags, float ADiffuse, float AAmbient,
                      int ATexture = -1) {
  const int M = AB.AddMaterial("m", AFaces, ATexture);
  AB.Materials[M].RenderFlags = static_cast<TPmxRenderFlags>(AFlags);
  AB.Materials[M].Diffuse = NewVector4f(ADiffuse, ADiffuse, ADiffuse, 1);
  AB.Materials[M].Ambient = NewVector3f(AAmbient, AAmbient, AAmbient);
}

MATCHER_P3(RgbNear, R, G, B, "") {
  const float Tolerance = 2.5f / 255;
  return std::fabs(arg[0] - R) <= Tolerance && std::fabs(arg[1] - G) <= Tolerance &&
         std::fabs(arg[2] - B) <= Tolerance;
}

}  // namespace

TEST_F(ControllerTest, EdgedMaterialsShowARingOfTheEdgeColourAroundTheirSilhouette) {
  // A sphere of radius 0.5 is 8 pixels wide on each side of the 32-pixel target's centre. On 32
  // lines (below 540) a unit of edge size is one pixel: an edge of size 3 is 3 pixels wide, pixels
  // 24-26 right of the centre column 16. Scaling the whole matrix by 2 doubles clip w and the
  // projection scale together: the ring stays 3 pixels wide.
  struct TCase {
    const char* Name;
    bool Edge;
    float Size, VertexScale, Alpha, MatrixScale;
    float Red;  // expected in the ring
  };
  const TCase Cases[] = {
      {"edge", true, 3, 1, 1, 1, 1.0f},           {"no edge flag", false, 3, 1, 1, 1, 0.0f},
      {"vertex scale 0", true, 3, 0, 1, 1, 0.0f}, {"half transparent", true, 3, 1, 0.5f, 1, 0.5f},
      {"clip w doubled", true, 3, 1, 1, 2, 1.0f},
  };
  for (const TCase& C : Cases) {
    TPmxBuilder B;
    B.AddBone("root", NewVector3f(0, 0, 0));
    const int Faces = AddSphere(B, 0.5f, C.VertexScale);
    AddPlainMaterial(B, Faces, C.Edge ? FlagBit(rfEdge) : 0, 0.0f, 0.4f);
    B.Materials[0].EdgeColor = NewVector4f(1, 0, 0, C.Alpha);
    B.Materials[0].EdgeSize = C.Size;
    Create(B);
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    TMatrix4f M = IdentityMatrix4f;
    for (float& V : M.V) V *= C.MatrixScale;
    RenderModelPass(M, IdentityMatrix4f, C.MatrixScale);
    EXPECT_THAT(ReadPixel(20, 16), RgbNear(0.4f, 0.4f, 0.4f)) << C.Name << ": the material";
    for (int X : {25, 26}) {
      EXPECT_THAT(ReadPixel(X, 16), RgbNear(C.Red, 0.0f, 0.0f)) << C.Name << ": ring at " << X;
      EXPECT_THAT(ReadPixel(31 - X, 16), RgbNear(C.Red, 0.0f, 0.0f)) << C.Name << ": left ring";
    }
    EXPECT_THAT(ReadPixel(28, 16), RgbNear(0.0f, 0.0f, 0.0f)) << C.Name << ": beyond the ring";
    // The outline leaves the pass as it found it.
    EXPECT_TRUE(glIsEnabled(GL_CULL_FACE));
    GLint Face = 0;
    glGetIntegerv(GL_CULL_FACE_MODE, &Face);
    EXPECT_EQ(Face, GL_BACK);
    GLuint Selected = 0;
    glGetUniformSubroutineuiv(GL_FRAGMENT_SHADER, 0, &Selected);
    EXPECT_EQ(Selected, FMain->GetSubroutineIndex(stFragment, "shadeWithShadow"));
    Target->Unbind();
    DropController();
  }
}

TEST_F(ControllerTest, SphereMapsAddAndMultiplyAtTheViewSpaceNormalTopRowUp) {
  // The sphere file holds a BMP under its own extension: rows A, A, B, B from the top. The sphere
  // is grey 0.5 unmapped; the pixel above the centre faces up (normal y 0.56: the image's upper
  // half), the one below faces down.
  const std::array<uint8_t, 3> A = {255, 128, 0}, Bc = {0, 128, 255};
  WritePixelsBmp(FDir / "model" / "tex" / "shine.sph", {{A}, {A}, {Bc}, {Bc}});
  const float a[3] = {1.0f, 128 / 255.0f, 0.0f}, b[3] = {0.0f, 128 / 255.0f, 1.0f};
  TMatrix4f HalfTurn = IdentityMatrix4f;  // about the view axis: up becomes down
  HalfTurn.X.X = HalfTurn.Y.Y = -1;
  struct TCase {
    const char* Name;
    uint8_t Mode;
    bool Turned;
    std::array<float, 3> Upper, Lower;
  };
  auto Mul = [](const float* T) {
    return std::array<float, 3>{0.5f * T[0], 0.5f * T[1], 0.5f * T[2]};
  };
  auto Add = [](const float* T) {
    return std::array<float, 3>{std::min(1.0f, 0.5f + T[0]), std::min(1.0f, 0.5f + T[1]),
                                std::min(1.0f, 0.5f + T[2])};
  };
  const std::array<float, 3> Grey = {0.5f, 0.5f, 0.5f};
  const TCase Cases[] = {
      {"none", 0, false, Grey, Grey},         {"multiply", 1, false, Mul(a), Mul(b)},
      {"add", 2, false, Add(a), Add(b)},      {"add, view turned", 2, true, Add(b), Add(a)},
      {"unknown mode", 7, false, Grey, Grey},
  };
  for (const TCase& C : Cases) {
    TPmxBuilder B;
    B.AddBone("root", NewVector3f(0, 0, 0));
    B.AddTexture("tex/shine.sph");
    AddPlainMaterial(B, AddSphere(B, 0.5f), 0, 0.25f, 0.25f);
    B.Materials[0].SphereTextureIndex = 0;
    B.Materials[0].SphereMode = C.Mode;
    Create(B);
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    RenderModelPass(IdentityMatrix4f, C.Turned ? HalfTurn : IdentityMatrix4f);
    EXPECT_THAT(ReadPixel(16, 20), RgbNear(C.Upper[0], C.Upper[1], C.Upper[2])) << C.Name;
    EXPECT_THAT(ReadPixel(16, 11), RgbNear(C.Lower[0], C.Lower[1], C.Lower[2])) << C.Name;
    Target->Unbind();
    DropController();
  }
}

TEST_F(ControllerTest, SubTextureMultipliesByTheSphereTextureAtAdditionalUV1) {
  // Left texel red, right texel blue; the texture coordinates point at the red one, additional
  // UV 1 at the blue one. A missing sphere file draws no sphere map and says nothing.
  WritePixelsBmp(FDir / "model" / "tex" / "sub.spa", {{{255, 0, 0}, {0, 0, 255}}});
  for (const char* File : {"tex/sub.spa", "tex/absent.spa"}) {
    TPmxBuilder B;
    AddScreenQuad(B, PmxFloat2{0.25f, 0.5f}, TVector4f{{0.75f, 0.5f, 0, 0}});
    B.AddTexture(File);
    AddPlainMaterial(B, 6, 0, 0.25f, 0.25f);
    B.Materials[0].SphereTextureIndex = 0;
    B.Materials[0].SphereMode = 3;
    ::testing::internal::CaptureStderr();
    Create(B);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    RenderModelPass();
    if (std::string(File) == "tex/sub.spa")
      EXPECT_THAT(ReadPixel(16, 16), RgbNear(0.0f, 0.0f, 0.5f)) << File;
    else
      EXPECT_THAT(ReadPixel(16, 16), RgbNear(0.5f, 0.5f, 0.5f)) << File;
    Target->Unbind();
    DropController();
  }
}

TEST_F(ControllerTest, OnlySelfShadowedMaterialsDarkenInTheShadowMap) {
  // A shadow map cleared to depth 0: every lookup is in shadow. Lit 0.5 + 0.25, shadowed 0.25.
  struct TCase {
    const char* Name;
    uint8_t Flags;
    float Red;
  };
  const TCase Cases[] = {
      {"self-shadow", FlagBit(rfSelfShadow), 0.25f},
      {"casts only", FlagBit(rfGroundShadow) | FlagBit(rfShadowMapping), 0.75f},
  };
  for (const TCase& C : Cases) {
    TPmxBuilder B;
    AddScreenQuad(B);
    AddPlainMaterial(B, 6, C.Flags, 0.5f, 0.25f);
    Create(B);
    FShadow = std::make_unique<TShadowFBO>();
    FShadow->Bind();
    glClearDepth(0.0);
    FShadow->Clear({cmDepth});
    glClearDepth(1.0);
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    RenderModelPass();
    EXPECT_NEAR(ReadPixel(16, 16)[0], C.Red, 2.5f / 255) << C.Name;
    Target->Unbind();
    DropController();
    FShadow.reset();
  }
}

TEST_F(ControllerTest, OnlyShadowCastingMaterialsAreDrawnIntoTheShadowMap) {
  // A two-sided square through the origin, which the light sees in the middle of its map.
  struct TCase {
    const char* Name;
    uint8_t Flags;
    bool Drawn;
  };
  const TCase Cases[] = {
      {"neither", 0, false},
      {"ground shadow", FlagBit(rfGroundShadow), true},
      {"shadow map", FlagBit(rfShadowMapping), true},
      {"both", FlagBit(rfGroundShadow) | FlagBit(rfShadowMapping), true},
  };
  for (const TCase& C : Cases) {
    TPmxBuilder B;
    AddScreenQuad(B);
    AddPlainMaterial(B, 6, C.Flags | FlagBit(rfTwoSide) | FlagBit(rfEdge), 0.5f, 0.25f);
    Create(B);
    TShadowFBO Shadow;
    FMain->Activate();
    Shadow.Bind();
    Shadow.Clear({cmDepth});
    Shadow.SetViewport(0, 0, Shadow.Width(), Shadow.Height());
    FMain->ActivateRenderPass1();
    glCullFace(GL_FRONT);
    FMain->Render(FMain->Light().MVPMatrix());
    glCullFace(GL_BACK);
    float Depth = -1;
    glReadPixels(Shadow.Width() / 2, Shadow.Height() / 2, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT,
                 &Depth);
    EXPECT_EQ(Depth < 1.0f, C.Drawn) << C.Name << " " << Depth;
    Shadow.Unbind();
    DropController();
  }
}

namespace {

// A material morph entry of operation AOperation on material 0 that changes nothing (multiply by
// 1 / add 0), for a case to set one field of.
TPmxMorphData NeutralMaterialEntry(uint8_t AOperation) {
  TPmxMorphData D{};
  TPmxMorphMaterial& M = D.Material;
  M.MaterialIndex = 0;
  M.OffsetType = AOperation;
  if (AOperation == 0) {
    const TVector4f One{{1, 1, 1, 1}};
    M.Diffuse = M.EdgeColor = M.TextureFactor = M.SphereTextureFactor = M.ToonTextureFactor = One;
    M.Specular = M.Ambient = NewVector3f(1, 1, 1);
    M.Shininess = M.EdgeSize = 1;
  }
  return D;
}

}  // namespace

TEST_F(ControllerTest, MaterialMorphsReachTheFragment) {
  // Lit white (diffuse 0.5 + ambient 0.5) times face.png (grey 200); toon01 is grey 20.
  const float T = 200 / 255.0f, Toon = 20 / 255.0f;
  struct TCase {
    const char* Name;
    uint8_t Operation;
    float Weight;
    bool WithToon;
    std::function<void(TPmxMorphMaterial&)> Set;
    float Red;
  };
  const TCase Cases[] = {
      {"no weight", 0, 0.0f, false, [](TPmxMorphMaterial& M) { M.TextureFactor.X = 0.5f; }, T},
      {"texture multiply", 0, 1.0f, false, [](TPmxMorphMaterial& M) { M.TextureFactor.X = 0.5f; },
       0.5f * T},
      {"texture add", 1, 0.5f, false, [](TPmxMorphMaterial& M) { M.TextureFactor.X = 0.1f; },
       T + 0.05f},
      {"diffuse multiply", 0, 1.0f, false, [](TPmxMorphMaterial& M) { M.Diffuse.X = 0.5f; },
       0.75f * T},
      {"toon add", 1, 1.0f, true, [](TPmxMorphMaterial& M) { M.ToonTextureFactor.X = 0.5f; },
       T * (Toon + 0.5f)},
  };
  for (const TCase& C : Cases) {
    TPmxBuilder B;
    AddScreenQuad(B);
    B.AddTexture("tex/face.png");
    AddPlainMaterial(B, 6, 0, 0.5f, 0.5f, 0);
    if (C.WithToon) {
      B.Materials[0].SharedToonFlag = 1;
      B.Materials[0].ToonTexture.SharedToonTextureIndex = 0;
    }
    const int Morph = B.AddMorph("blush", mkMaterial);
    TPmxMorphData Entry = NeutralMaterialEntry(C.Operation);
    C.Set(Entry.Material);
    B.Morphs[Morph].Data.push_back(Entry);
    Create(B);
    FModel->Core().SetMorphRate(Morph, C.Weight);
    const std::unique_ptr<TColorFBO> Target = BlackTarget();
    RenderModelPass();
    EXPECT_NEAR(ReadPixel(16, 16)[0], C.Red, 2.5f / 255) << C.Name;
    // The channels the morph leaves alone.
    EXPECT_NEAR(ReadPixel(16, 16)[1], C.WithToon ? T * Toon : T, 2.5f / 255) << C.Name;
    Target->Unbind();
    DropController();
  }
}

TEST_F(ControllerTest, UVMorphsRewriteTheUVBuffersOnlyWhenAUVChanged) {
  TPmxBuilder B;
  B.AddBone("root", NewVector3f(0, 0, 0));
  for (int I = 0; I < 3; ++I) {
    const int V =
        B.AddVertex(NewVector3f(0.1f * I, 0, 0), NewVector3f(0, 0, -1), PmxFloat2{0.1f * I, 0.2f});
    B.Vertices[V].AdditionalUV = {TVector4f{{0.3f, 0.4f * I, 0, 0}}};
  }
  B.AddTriangle(0, 1, 2);
  B.AddMaterial("m", 3);
  const int UV = B.AddMorph("uv", mkUV);
  TPmxMorphData E{};
  E.UV.VertexIndex = 1;
  E.UV.UVOffset = TVector4f{{0.5f, -0.25f, 0, 0}};
  B.Morphs[UV].Data.push_back(E);
  const int UV1 = B.AddMorph("uv1", mkAddUV1);
  E.UV.VertexIndex = 2;
  E.UV.UVOffset = TVector4f{{0.25f, 0.5f, 0, 0}};
  B.Morphs[UV1].Data.push_back(E);
  const int Shape = B.AddMorph("shape", mkVertex);
  B.AddVertexMorphOffset(Shape, 0, NewVector3f(0, 1, 0));
  Create(B);
  const std::shared_ptr<TPmxVAO> VAO = FController->PmxVAO();
  ASSERT_TRUE(VAO);
  const std::vector<float> RestUV = {0, 0.2f, 0.1f, 0.2f, 0.2f, 0.2f};
  const std::vector<float> RestUV1 = {0.3f, 0, 0.3f, 0.4f, 0.3f, 0.8f};
  EXPECT_EQ(ReadBuffer(*VAO->TexCoordBuffer(), 6), RestUV);
  EXPECT_EQ(ReadBuffer(*VAO->UV1Buffer(), 6), RestUV1);
  EXPECT_EQ(ReadBuffer(*VAO->EdgeScaleBuffer(), 3), std::vector<float>(3, 1.0f));

  // A marker in the buffer survives a vertex morph: only a changed UV rewrites it.
  const float Marker[2] = {9, 9};
  glBindBuffer(GL_ARRAY_BUFFER, VAO->TexCoordBuffer()->Handle());
  glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof Marker, Marker);
  FModel->Core().SetMorphRate(Shape, 1);
  EXPECT_EQ(ReadBuffer(*VAO->TexCoordBuffer(), 2), std::vector<float>({9, 9}));

  FModel->Core().SetMorphRate(UV, 0.5f);
  EXPECT_EQ(ReadBuffer(*VAO->TexCoordBuffer(), 6),
            std::vector<float>({0, 0.2f, 0.1f + 0.25f, 0.2f - 0.125f, 0.2f, 0.2f}));
  EXPECT_EQ(ReadBuffer(*VAO->UV1Buffer(), 6), RestUV1);
  FModel->Core().SetMorphRate(UV1, 1);
  EXPECT_EQ(ReadBuffer(*VAO->UV1Buffer(), 6),
            std::vector<float>({0.3f, 0, 0.3f, 0.4f, 0.3f + 0.25f, 0.8f + 0.5f}));
  EXPECT_FALSE(FModel->Core().UVsChanged());
}

// The ground is the renderer's, not a model's: it comes with the first model, first in the list
// (drawn before every model), stays one however often the model is replaced, and a scene whose
// model never loaded stays blank.
TEST_F(ControllerTest, TheRendererHasOneGroundThatComesWithTheFirstModel) {
  TRigModel M;
  M.B.SaveToFile(ModelPath());
  // Declared before the renderer: a drawing goes while its model still exists.
  std::unique_ptr<TSceneModel> Models[2];
  TSceneRenderer Renderer(FGL.get(), BaseDir());
  EXPECT_TRUE(Renderer.Program().Items().empty());
  auto Count = [&] {
    int N = 0;
    for (const auto& Item : Renderer.Program().Items())
      N += dynamic_cast<TPmxPlane*>(Item.get()) != nullptr;
    return N;
  };
  for (int Round = 0; Round < 2; ++Round) {
    Models[Round] = std::make_unique<TSceneModel>(ModelPath());
    auto Drawing = Renderer.MakeDrawing(*Models[Round]);
    if (Round > 0) Renderer.RemoveDrawingOf(Models[Round - 1].get());
    Renderer.AddDrawing(std::move(Drawing));
    ASSERT_EQ(Renderer.Program().Items().size(), 2u) << Round;
    EXPECT_NE(dynamic_cast<TPmxPlane*>(Renderer.Program().Items()[0].get()), nullptr) << Round;
    EXPECT_EQ(Renderer.Program().Items()[1].get(),
              Renderer.DrawingOf(Models[Round].get())->Model());
    EXPECT_EQ(Count(), 1) << Round;
  }
}
