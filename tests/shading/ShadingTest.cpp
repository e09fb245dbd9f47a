// The light, the main toon/shadow program and the bone program on the real driver: names, matrices,
// both render passes drawn into real targets and read back.
#include <gmock/gmock.h>

#include <cmath>
#include <vector>

#include "math/VectorGeometry.h"
#include "shading/UShader.h"
#include "tests/gl/GLCoreFixture.h"

namespace {

struct TMaterial {
  TVector4f Diffuse{{1, 1, 1, 1}};
  TVector3f Ambient{{0, 0, 0}};
  TTexture* Texture = nullptr;
  TTexture* Toon = nullptr;
  bool SelfShadow = false;
};

// The ground plane's material: lit it shows (0.3, 0.9, 0.55), fully shadowed (0.1, 0.4, 0.25).
const TMaterial kGround{{{0.2f, 0.5f, 0.3f, 1.0f}}, {{0.1f, 0.4f, 0.25f}}, nullptr, nullptr, true};

// A mesh that sets its material on the main program before drawing, as the model's meshes do.
struct TMaterialMesh : TMesh {
  TMaterialMesh(TMainProgram* AProgram, std::shared_ptr<IVertexArrayObject> AVAO,
                std::span<const std::uint32_t> AIndices, const TMaterial& AMaterial)
      : TMesh(AProgram, std::move(AVAO), AIndices, AMaterial.Texture), FMaterial(AMaterial) {}
  void DoRender(const TMatrix4f& AMVPMatrix) override {
    auto* Main = static_cast<TMainProgram*>(FProgram);
    Main->SetDiffuse(FMaterial.Diffuse);
    Main->SetSpecular(TVector3f{{1, 1, 1}});
    Main->SetShininess(1);
    Main->SetAmbient(FMaterial.Ambient);
    Main->SetHasTexture(FMaterial.Texture != nullptr);
    Main->SetHasToonTexture(FMaterial.Toon != nullptr);
    Main->SetSelfShadow(FMaterial.SelfShadow);
    if (FMaterial.Toon) {
      glActiveTexture(GL_TEXTURE1);
      FMaterial.Toon->Bind(1);
    }
    TMesh::DoRender(AMVPMatrix);
  }
  TMaterial FMaterial;
};

// Looks straight down -Y onto the ground: x in [-10, 10] to the right, z in [-10, 10] upwards
// reversed (far z at the top), height towards the viewer.
const TMatrix4f kTopDown{
    {{{0.1f, 0, 0, 0}}, {{0, 0, -0.01f, 0}}, {{0, -0.1f, 0, 0}}, {{0, 0, 0, 1}}}};

constexpr int kTargetSize = 64;

class ShadingTest : public TOpenGLTest {
 protected:
  void SetUp() override {
    TOpenGLTest::SetUp();
    FMain = std::make_unique<TMainProgram>(FGL.get());
    FTarget = std::make_unique<TColorFBO>(FGL->Sampler(), kTargetSize, kTargetSize);
  }
  void TearDown() override {
    FMain.reset();
    FTarget.reset();
    FShadow.reset();
    FTextures.clear();
    FBuffers.clear();
    TOpenGLTest::TearDown();
  }

  // A horizontal quad at height AY over [AX0, AX1] x [AZ0, AZ1] with normal ANormal, facing up
  // (counter-clockwise seen from +Y) or down.
  void AddQuad(float AX0, float AX1, float AZ0, float AZ1, float AY, TVector3f ANormal,
               bool AFacingUp, const TMaterial& AMaterial) {
    auto Vao = std::make_shared<TVertexArrayObject>();
    Vao->Bind();
    const float Positions[] = {AX0, AY, AZ0, AX1, AY, AZ0, AX0, AY, AZ1, AX1, AY, AZ1};
    const float TexCoords[] = {0, 0, 1, 0, 0, 1, 1, 1};
    const float Normals[] = {ANormal.X, ANormal.Y, ANormal.Z, ANormal.X, ANormal.Y, ANormal.Z,
                             ANormal.X, ANormal.Y, ANormal.Z, ANormal.X, ANormal.Y, ANormal.Z};
    FMain->SetPosition(Keep(NewBufferObject<float>(btArray, Positions, buStatic)));
    FMain->SetTexCoord(Keep(NewBufferObject<float>(btArray, TexCoords, buStatic)));
    FMain->SetNormal(Keep(NewBufferObject<float>(btArray, Normals, buStatic)));
    Vao->Unbind();
    const std::vector<std::uint32_t> Up = {0, 2, 1, 1, 2, 3}, Down = {0, 1, 2, 1, 3, 2};
    FMain->Items().push_back(
        std::make_unique<TMaterialMesh>(FMain.get(), Vao, AFacingUp ? Up : Down, AMaterial));
  }

  // A texture of AWidth x rows from RGB bytes, top row first.
  TTexture* MakeTexture(int AWidth, const std::vector<std::array<std::uint8_t, 3>>& ARows) {
    TBitmap Bitmap(AWidth, static_cast<int>(ARows.size()), pf24bit);
    for (int r = 0; r < Bitmap.Height(); ++r)
      for (int x = 0; x < AWidth; ++x) {
        std::uint8_t* P = Bitmap.ScanLine(r) + 3 * x;
        P[0] = ARows[r][2], P[1] = ARows[r][1], P[2] = ARows[r][0];
      }
    FTextures.push_back(TTexture::CreateFromBitmap(FGL->Sampler(), Bitmap));
    return FTextures.back().get();
  }

  // Pass 1 as the frame loop runs it: depth from the light, front faces culled, polygon offset.
  void ShadowPass() {
    if (!FShadow) FShadow = std::make_unique<TShadowFBO>();
    FMain->Activate();
    FShadow->Bind();
    FShadow->Clear({cmDepth});
    FShadow->SetViewport(0, 0, FShadow->Width(), FShadow->Height());
    FMain->ActivateRenderPass1();
    glCullFace(GL_FRONT);
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(1.1f, 4.0f);
    FMain->Render(FMain->Light().MVPMatrix());
    glDisable(GL_POLYGON_OFFSET_FILL);
  }

  // Pass 2 into the colour target, reading the shadow map on unit 2.
  void LitPass(const TMatrix4f& ACamera) {
    FTarget->Bind();
    FGL->SetColor(0x000000);
    FTarget->Clear({cmColor, cmDepth});
    FTarget->SetViewport(0, 0, kTargetSize, kTargetSize);
    FMain->Activate();
    if (FShadow) FShadow->BindTexture();
    glBindSampler(2, FGL->ShadowSampler());
    glCullFace(GL_BACK);
    FMain->ActivateRenderPass2();
    FMain->Render(ACamera);
  }

  // The target's pixel under the ground point (AX, 0, AZ) of the top-down camera.
  static std::array<float, 4> GroundPixel(float AX, float AZ) {
    const int Px = static_cast<int>((AX / 10 * 0.5f + 0.5f) * kTargetSize);
    const int Py = static_cast<int>((-AZ / 10 * 0.5f + 0.5f) * kTargetSize);
    return ReadPixel(Px, Py);
  }

  // Holds a vertex buffer for the test's length: a buffer deleted while its vertex array is bound
  // would be detached from it.
  std::shared_ptr<IBufferObject> Keep(std::shared_ptr<IBufferObject> ABuffer) {
    FBuffers.push_back(ABuffer);
    return ABuffer;
  }

  // The point's shadow-map coordinates after the division by w.
  TVector3f ShadowCoord(TVector3f APoint) const {
    const TVector4f C = RowTimesMatrix4f(ExtendVector3f(APoint, 1), FMain->Light().ShadowMatrix());
    return TVector3f{{C.X / C.W, C.Y / C.W, C.Z / C.W}};
  }

  std::unique_ptr<TMainProgram> FMain;
  std::unique_ptr<TColorFBO> FTarget;
  std::unique_ptr<TShadowFBO> FShadow;
  std::vector<std::unique_ptr<TTexture>> FTextures;
  std::vector<std::shared_ptr<IBufferObject>> FBuffers;
};

MATCHER_P3(ColorNear, R, G, B, "") {
  const float Tolerance = 2.5f / 255;
  return std::fabs(arg[0] - R) <= Tolerance && std::fabs(arg[1] - G) <= Tolerance &&
         std::fabs(arg[2] - B) <= Tolerance;
}

TEST_F(ShadingTest, BothProgramsCompileLinkAndResolveTheirNames) {
  for (GLint Location :
       {FMain->PositionLocation(), FMain->TexCoordLocation(), FMain->NormalLocation()})
    EXPECT_GE(Location, 0);
  for (const char* Name :
       {"MVPMatrix", "ShadowMatrix", "LightPosition", "LightColor", "DiffuseColor", "AmbientColor",
        "HasTexture", "HasToonTexture", "SelfShadow"})
    EXPECT_GE(FMain->GetUniformLocation(Name), 0) << Name;
  struct {
    const char* Name;
    GLint Unit;
  } const Samplers[] = {{"Texture2D", 0}, {"ToonTexture2D", 1}, {"ShadowMap", 2}};
  for (const auto& S : Samplers) {
    GLint Unit = -1;
    glGetUniformiv(FMain->Handle(), FMain->GetUniformLocation(S.Name), &Unit);
    EXPECT_EQ(Unit, S.Unit) << S.Name;
  }
  for (TProgramSubroutineType Stage : {stVertex, stFragment}) {
    const GLuint Depth = FMain->GetSubroutineIndex(Stage, "recordDepth");
    const GLuint Shade = FMain->GetSubroutineIndex(Stage, "shadeWithShadow");
    EXPECT_NE(Depth, GL_INVALID_INDEX);
    EXPECT_NE(Shade, GL_INVALID_INDEX);
    EXPECT_NE(Depth, Shade);
  }
  // Pass selection picks the named subroutine in both stages.
  FMain->Activate();
  FMain->ActivateRenderPass1();
  GLuint Selected = 0;
  glGetUniformSubroutineuiv(GL_FRAGMENT_SHADER, 0, &Selected);
  EXPECT_EQ(Selected, FMain->GetSubroutineIndex(stFragment, "recordDepth"));
  FMain->ActivateRenderPass2();
  glGetUniformSubroutineuiv(GL_VERTEX_SHADER, 0, &Selected);
  EXPECT_EQ(Selected, FMain->GetSubroutineIndex(stVertex, "shadeWithShadow"));

  TBoneProgram Bones(FGL.get());
  EXPECT_GE(Bones.PositionLocation(), 0);
  EXPECT_GE(Bones.GetUniformLocation("VertexColor"), 0);
  EXPECT_GE(Bones.GetUniformLocation("MVPMatrix"), 0);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ShadingTest, LightMatricesFollowPositionAndCenterButNotColor) {
  TLight& Light = FMain->Light();
  EXPECT_THAT(Light.Position().V, ::testing::ElementsAre(0, 10, 10));
  EXPECT_THAT(Light.Center().V, ::testing::ElementsAre(0, 0, 0));
  EXPECT_THAT(Light.Color().V, ::testing::ElementsAre(1, 1, 1, 1));

  Light.SetPosition(TVector3f{{5, 10, 10}});
  // The light at L = (5, 10, 10) looks at the origin, 15 away: forward f = (-1, -2, -2) / 3; right
  // r = f x (0, 1, 0) normalised = (2, 0, -1) / sqrt(5); up u = r x f = (-2, 5, -4) / (3 sqrt(5)).
  // A 45 degree frustum, square, from 1 to 250: a point at distance d along f lands at depth
  // 251/249 - 500 / (249 d), i.e. -1 at d = 1, +1 at d = 250, 3265/3735 = 0.8741633 at d = 15; one
  // d tan(22.5 deg) = d (sqrt(2) - 1) to the right (or up) of the axis lands on the right (or top)
  // edge. The shadow matrix maps each coordinate v to v / 2 + 0.5.
  const float Sqrt5 = std::sqrt(5.0f), Edge = 15 * (std::sqrt(2.0f) - 1);
  const TVector3f L{{5, 10, 10}}, F{{-1.0f / 3, -2.0f / 3, -2.0f / 3}},
      R{{2 / Sqrt5, 0, -1 / Sqrt5}}, U{{-2 / (3 * Sqrt5), 5 / (3 * Sqrt5), -4 / (3 * Sqrt5)}};
  auto At = [](const TVector3f& AFrom, float AT, const TVector3f& ADir) {
    return TVector3f{{AFrom.X + AT * ADir.X, AFrom.Y + AT * ADir.Y, AFrom.Z + AT * ADir.Z}};
  };
  auto Project = [](const TVector3f& P, const TMatrix4f& M) {
    const TVector4f C = RowTimesMatrix4f(ExtendVector3f(P, 1), M);
    return TVector3f{{C.X / C.W, C.Y / C.W, C.Z / C.W}};
  };
  const float Mid = 3265.0f / 3735;
  struct {
    const char* Name;
    TVector3f Point, Clip;
  } const Points[] = {
      {"centre", TVector3f{{0, 0, 0}}, TVector3f{{0, 0, Mid}}},
      {"near", At(L, 1, F), TVector3f{{0, 0, -1}}},
      {"far", At(L, 250, F), TVector3f{{0, 0, 1}}},
      {"right edge", At(TVector3f{{0, 0, 0}}, Edge, R), TVector3f{{1, 0, Mid}}},
      {"top edge", At(TVector3f{{0, 0, 0}}, Edge, U), TVector3f{{0, 1, Mid}}},
      {"left half way", At(TVector3f{{0, 0, 0}}, -Edge / 2, R), TVector3f{{-0.5f, 0, Mid}}},
  };
  for (const auto& P : Points) {
    const TVector3f Clip = Project(P.Point, Light.MVPMatrix()), Map = ShadowCoord(P.Point);
    for (int C = 0; C < 3; ++C) {
      EXPECT_NEAR(Clip.V[C], P.Clip.V[C], 2e-5f) << P.Name << " " << C;
      EXPECT_NEAR(Map.V[C], P.Clip.V[C] / 2 + 0.5f, 2e-5f) << P.Name << " " << C;
    }
  }
  const TMatrix4f ShadowBefore = Light.ShadowMatrix();

  const TMatrix4f Before = Light.MVPMatrix();
  Light.SetColor(TVector4f{{0.5f, 0.25f, 1, 1}});
  EXPECT_THAT(Light.MVPMatrix().V, ::testing::ElementsAreArray(Before.V));
  Light.SetCenter(TVector3f{{1, 0, 0}});
  EXPECT_THAT(Light.MVPMatrix().V, ::testing::Not(::testing::ElementsAreArray(Before.V)));
  EXPECT_THAT(Light.ShadowMatrix().V, ::testing::Not(::testing::ElementsAreArray(ShadowBefore.V)));

  // Activate uploads the light on every call, also when the program is already current.
  FMain->Activate();
  FMain->Activate();
  GLfloat Color[4], Position[3], Shadow[16];
  glGetUniformfv(FMain->Handle(), FMain->GetUniformLocation("LightColor"), Color);
  glGetUniformfv(FMain->Handle(), FMain->GetUniformLocation("LightPosition"), Position);
  glGetUniformfv(FMain->Handle(), FMain->GetUniformLocation("ShadowMatrix"), Shadow);
  EXPECT_THAT(Color, ::testing::ElementsAre(0.5f, 0.25f, 1, 1));
  EXPECT_THAT(Position, ::testing::ElementsAre(5, 10, 10));
  EXPECT_THAT(Shadow, ::testing::ElementsAreArray(Light.ShadowMatrix().V));
}

TEST_F(ShadingTest, GroundIsLitOrShadowedAndLitOutsideTheShadowMap) {
  FMain->Light().SetPosition(TVector3f{{5, 10, 10}});
  AddQuad(-10, 10, -10, 10, 0, TVector3f{{0, 1, 0}}, true, kGround);
  // A ceiling at height 1 over x <= 0, facing down: the light sees its back, the camera nothing.
  AddQuad(-100, 0, -100, 100, 1, TVector3f{{0, -1, 0}}, false, kGround);
  ShadowPass();
  LitPass(kTopDown);

  // Ground points with x < -0.56 see the light through the ceiling.
  EXPECT_THAT(GroundPixel(3, 0), ColorNear(0.3f, 0.9f, 0.55f));
  EXPECT_THAT(GroundPixel(6, -6), ColorNear(0.3f, 0.9f, 0.55f));
  EXPECT_THAT(GroundPixel(-3, 0), ColorNear(0.1f, 0.4f, 0.25f));
  EXPECT_THAT(GroundPixel(-4, 2), ColorNear(0.1f, 0.4f, 0.25f));

  // Far beyond the map's edge, on the ceiling's side: the border depth makes it lit, where clamping
  // to the edge texels (the ceiling's depth) would shadow it.
  const TVector3f Outside = ShadowCoord(TVector3f{{-9.5f, 0, 6.5f}});
  ASSERT_TRUE(Outside.X < 0 || Outside.X > 1 || Outside.Y < 0 || Outside.Y > 1);
  EXPECT_THAT(GroundPixel(-9.5f, 6.5f), ColorNear(0.3f, 0.9f, 0.55f));
}

TEST_F(ShadingTest, UnshadowedFlatColourIsDiffuseTimesLightPlusAmbientWithDiffuseAlpha) {
  FMain->Light().SetColor(TVector4f{{0.5f, 1.0f, 0.25f, 0.1f}});
  TMaterial Flat{{{0.8f, 0.6f, 1.0f, 0.6f}}, {{0.1f, 0.5f, 0.0f}}, nullptr, nullptr, false};
  AddQuad(-10, 10, -10, 10, 0, TVector3f{{0, 1, 0}}, true, Flat);
  glDisable(GL_BLEND);  // read what the shader wrote, alpha included
  LitPass(kTopDown);
  glEnable(GL_BLEND);
  const auto P = GroundPixel(1, 1);
  EXPECT_THAT(P, ColorNear(0.5f, 1.0f, 0.25f));
  EXPECT_NEAR(P[3], 0.6f, 1.5f / 255);
}

TEST_F(ShadingTest, TexturedToonRampedQuadsReadTheRampTopWhenFacingTheLight) {
  FMain->Light().SetPosition(TVector3f{{0, 1000, 1}});
  // Ramp rows, top first: two of A, then two of B.
  const std::array<std::uint8_t, 3> A = {255, 204, 153}, B = {128, 255, 64}, T = {204, 128, 255};
  TTexture* Ramp = MakeTexture(1, {A, A, B, B});
  TTexture* Texture = MakeTexture(2, {T, T});
  TMaterial Material{{{0.5f, 0.4f, 0.3f, 1.0f}}, {{0.2f, 0.2f, 0.2f}}, Texture, Ramp, false};
  // Normals 60 degrees from the light direction (towards it / away from it): toon value 0.25 /
  // 0.75.
  AddQuad(-10, 0, -10, 10, 0, TVector3f{{0.8660254f, 0.5f, 0}}, true, Material);
  AddQuad(0, 10, -10, 10, 0, TVector3f{{0.8660254f, -0.5f, 0}}, true, Material);
  LitPass(kTopDown);

  // Facing the light: (diffuse + ambient) x texture x ramp, with diffuse + ambient =
  // (0.5 + 0.2, 0.4 + 0.2, 0.3 + 0.2) = (0.7, 0.6, 0.5) and T = (0.8, 128/255, 1):
  // ramp A = (1, 0.8, 0.6): (0.7 x 0.8, 0.6 x 0.50196 x 0.8, 0.5 x 0.6) = (0.56, 0.24094, 0.3);
  // ramp B = (128/255, 1, 64/255): (0.56 x 0.50196, 0.6 x 0.50196, 0.5 x 0.25098)
  //                              = (0.28110, 0.30118, 0.12549).
  EXPECT_THAT(GroundPixel(-5, 3), ColorNear(0.56f, 0.24094f, 0.3f));
  EXPECT_THAT(GroundPixel(5, -3), ColorNear(0.28110f, 0.30118f, 0.12549f));
}

TEST_F(ShadingTest, ShadowPassWritesDepthsThatSaveImageMapsToGreyLevels) {
  // Quads given in clip space: the top half at window depth 0.95, the bottom-left quarter at 0.5.
  auto AddClipQuad = [&](float AX0, float AX1, float AY0, float AY1) {
    auto Vao = std::make_shared<TVertexArrayObject>();
    Vao->Bind();
    const float Positions[] = {AX0, AY0, 0, AX1, AY0, 0, AX0, AY1, 0, AX1, AY1, 0};
    FMain->SetPosition(Keep(NewBufferObject<float>(btArray, Positions, buStatic)));
    Vao->Unbind();
    const std::uint32_t Indices[] = {0, 2, 1, 1, 2, 3};  // clockwise: drawn with front faces culled
    return std::make_shared<TMaterialMesh>(FMain.get(), Vao, Indices, kGround);
  };
  auto Top = AddClipQuad(-1, 1, 0, 1);
  auto BottomLeft = AddClipQuad(-1, 0, -1, 0);
  FShadow = std::make_unique<TShadowFBO>();
  FMain->Activate();
  FShadow->Bind();
  FShadow->Clear({cmDepth});
  FShadow->SetViewport(0, 0, 4096, 4096);
  FMain->ActivateRenderPass1();
  glCullFace(GL_FRONT);
  TMatrix4f AtDepth = IdentityMatrix4f;
  AtDepth.Z = TVector4f{{0, 0, 0, 0}};
  AtDepth.W = TVector4f{{0, 0, 0.9f, 1}};  // clip z 0.9: window depth 0.95
  Top->Render(AtDepth);
  AtDepth.W = TVector4f{{0, 0, 0, 1}};  // window depth 0.5, below the picture's range
  BottomLeft->Render(AtDepth);
  glCullFace(GL_BACK);
  FShadow->Unbind();

  const auto Path = TempFile("shadow_map");
  FShadow->SaveImage(Path);
  const TBmpFile Bmp = ReadBmp(Path);
  std::filesystem::remove(Path);
  ASSERT_EQ(Bmp.Bytes.size(), 54u + 4096u * 4096u * 3u);
  EXPECT_EQ(Bmp.Width(), 4096);
  EXPECT_EQ(Bmp.Height(), 4096);
  EXPECT_EQ(Bmp.U16(28), 24);
  struct {
    int X, Row;
    std::uint8_t Grey;
  } const Cases[] = {{0, 0, 148},     {4095, 2047, 148}, {0, 2048, 0},
                     {2047, 4095, 0}, {2048, 2048, 255}, {4095, 4095, 255}};
  for (const auto& C : Cases)
    EXPECT_THAT(Bmp.Pixel(C.X, C.Row), ::testing::ElementsAre(C.Grey, C.Grey, C.Grey))
        << "column " << C.X << " row " << C.Row;
}

TEST_F(ShadingTest, BoneColourIsFlatAndBlendsByItsAlpha) {
  TBoneProgram Bones(FGL.get());
  auto Vao = std::make_shared<TVertexArrayObject>();
  Vao->Bind();
  const float Positions[] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
  Bones.SetPosition(Keep(NewBufferObject<float>(btArray, Positions, buStatic)));
  Vao->Unbind();
  const std::uint32_t Indices[] = {0, 1, 2, 1, 3, 2};
  Bones.Items().push_back(std::make_unique<TMesh>(&Bones, Vao, Indices, nullptr));

  FTarget->Bind();
  FTarget->SetViewport(0, 0, kTargetSize, kTargetSize);
  FGL->SetColor(0xFFFFFF);
  FTarget->Clear({cmColor, cmDepth});
  Bones.Activate();
  Bones.SetVertexColor(TVector4f{{1, 0, 0, 0.5f}});
  Bones.Items()[0]->SetVisible(false);
  Bones.Render(IdentityMatrix4f);
  EXPECT_THAT(ReadPixel(10, 10), ColorNear(1.0f, 1.0f, 1.0f));
  Bones.Items()[0]->SetVisible(true);
  Bones.Render(IdentityMatrix4f);
  EXPECT_THAT(ReadPixel(10, 10), ColorNear(1.0f, 0.5f, 0.5f));
}

}  // namespace
