// A scene of several placed models through TSceneRenderer on the real driver: two dancers apart
// (one turned round) on a stage, seen from above and from the side with orthographic cameras so
// that every expected pixel is worked out by hand from the placements; the light taken into each
// model's frame, the shadow map fitted to the dancers, the ground left out under a stage, and one
// texture for every drawing of one image file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/PmxWriter.h"
#include "math/VectorGeometry.h"
#include "render/SceneRenderer.h"
#include "render/ShadowFit.h"
#include "tests/gl/GLCoreFixture.h"

namespace fs = std::filesystem;

namespace {

constexpr TPmxRenderFlags kCasts =
    static_cast<TPmxRenderFlags>(FlagBit(rfGroundShadow) | FlagBit(rfShadowMapping));
constexpr TPmxRenderFlags kReceives = static_cast<TPmxRenderFlags>(FlagBit(rfSelfShadow));

// An axis-aligned box from ALow to AHigh (viewer units) following ABone, each face
// counter-clockwise seen from outside (as the reader returns a file's front faces), as one material
// of ADiffuse lit by ambient 0.1. Returns the material's index.
int AddBox(TPmxBuilder& AB, const TVector3f& ALow, const TVector3f& AHigh, int ABone,
           const TVector4f& ADiffuse, TPmxRenderFlags AFlags) {
  int Count = 0;
  for (int Axis = 0; Axis < 3; ++Axis)
    for (int Side = 0; Side < 2; ++Side) {
      TVector3f N{{0, 0, 0}};
      N.V[Axis] = Side ? 1.0f : -1.0f;
      const int U = (Axis + 1) % 3, W = (Axis + 2) % 3;
      int V[4];
      for (int K = 0; K < 4; ++K) {
        TVector3f P;
        P.V[Axis] = Side ? AHigh.V[Axis] : ALow.V[Axis];
        P.V[U] = (K & 1) ? AHigh.V[U] : ALow.V[U];
        P.V[W] = (K & 2) ? AHigh.V[W] : ALow.V[W];
        V[K] = AB.AddVertex(P, N, PmxFloat2{0, 0}, ABone);
      }
      for (const std::array<int, 3>& T :
           {std::array<int, 3>{V[0], V[1], V[2]}, {V[1], V[3], V[2]}}) {
        const TVector3f A = AB.Vertices[T[0]].Position, B = AB.Vertices[T[1]].Position,
                        C = AB.Vertices[T[2]].Position;
        if (Dot3f(Cross3f(Sub3f(B, A), Sub3f(C, A)), N) > 0)
          AB.AddTriangle(T[0], T[1], T[2]);
        else
          AB.AddTriangle(T[0], T[2], T[1]);
        Count += 3;
      }
    }
  const int M = AB.AddMaterial("box", Count);
  AB.Materials[M].Diffuse = ADiffuse;
  AB.Materials[M].Ambient = NewVector3f(0.1f, 0.1f, 0.1f);
  AB.Materials[M].RenderFlags = AFlags;
  return M;
}

// The dancer: a red body 0.4 x 1.6 x 0.4 standing on its origin, toon-shaded by "toon.bmp" (white
// where it faces the light, black where it faces away), and a blue arm 0.4 long on its +X side
// at 1.0 .. 1.2 high. Both cast shadows and receive none.
TPmxBuilder Dancer() {
  TPmxBuilder B;
  const int Bone = B.AddBone("センター", NewVector3f(0, 0.8f, 0));
  B.AddTexture("toon.bmp");
  const int Body = AddBox(B, NewVector3f(-0.2f, 0, -0.2f), NewVector3f(0.2f, 1.6f, 0.2f), Bone,
                          NewVector4f(0.8f, 0.2f, 0.2f, 1), kCasts);
  B.Materials[Body].ToonTexture.ToonTextureIndex = 0;
  AddBox(B, NewVector3f(0.2f, 1.0f, -0.1f), NewVector3f(0.6f, 1.2f, 0.1f), Bone,
         NewVector4f(0.1f, 0.1f, 0.8f, 1), kCasts);
  return B;
}

// The stage: a grey platform 8 x 0.2 x 8 with its top at height 0, receiving shadows.
TPmxBuilder Stage() {
  TPmxBuilder B;
  const int Bone = B.AddBone("センター", NewVector3f(0, 0, 0));
  AddBox(B, NewVector3f(-4, -0.2f, -4), NewVector3f(4, 0, 4), Bone,
         NewVector4f(0.8f, 0.8f, 0.8f, 1), kReceives);
  return B;
}

// A 2 x 16 BMP, top rows AUpper, bottom rows ALower.
void WriteRamp(const fs::path& APath, uint8_t AUpper, uint8_t ALower) {
  TBitmap Bitmap(2, 16, pf24bit);
  for (int R = 0; R < 16; ++R) std::memset(Bitmap.ScanLine(R), R < 8 ? AUpper : ALower, 6);
  Bitmap.SaveToFile(APath);
}

// Orthographic projection of a square ASize units wide (row vectors), depths 1 .. 40.
TMatrix4f Orthographic(float ASize) {
  TMatrix4f P = IdentityMatrix4f;
  P.X.X = P.Y.Y = 2.0f / ASize;
  P.Z.Z = -2.0f / 39.0f;
  P.W.Z = -41.0f / 39.0f;
  return P;
}

// Pictures are kN x kN pixels over kSize x kSize units: 8 pixels a unit, the look-at target at
// pixel (48, 48).
constexpr int kN = 96;
constexpr float kSize = 12.0f;

struct TPicture {
  std::vector<uint8_t> Pixels;  // RGB, bottom row first
  std::array<float, 3> At(int AColumn, int ARow) const {
    const uint8_t* P = &Pixels[3 * (static_cast<size_t>(ARow) * kN + AColumn)];
    return {P[0] / 255.0f, P[1] / 255.0f, P[2] / 255.0f};
  }
};

class PlacedSceneTest : public TOpenGLTest {
 protected:
  void SetUp() override {
    TOpenGLTest::SetUp();
    FDir = fs::temp_directory_path() /
           ("quenlor_placed_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir / "Toon");
    fs::create_directories(FDir / "dancer");
    fs::create_directories(FDir / "stage");
    for (int I = 1; I <= 10; ++I) {
      char Name[16];
      std::snprintf(Name, sizeof Name, "toon%02d.bmp", I);
      WriteRamp(FDir / "Toon" / Name, 255, 255);
    }
    WriteRamp(FDir / "dancer" / "toon.bmp", 255, 0);
    Dancer().SaveToFile((FDir / "dancer" / "dancer.pmx").string());
    Stage().SaveToFile((FDir / "stage" / "stage.pmx").string());
  }
  void TearDown() override {
    FRenderer.reset();
    FModels.clear();
    fs::remove_all(FDir);
    TOpenGLTest::TearDown();
  }

  TSceneModel& Add(const std::string& AFile, const TModelPlacement& APlacement, bool AStage) {
    FModels.push_back(std::make_unique<TSceneModel>((FDir / AFile).string()));
    FModels.back()->SetPlacement(APlacement);
    FModels.back()->SetStage(AStage);
    if (!FRenderer) FRenderer = std::make_unique<TSceneRenderer>(FGL.get(), FDir.string() + "/");
    FRenderer->AddDrawing(FRenderer->MakeDrawing(*FModels.back()));
    return *FModels.back();
  }
  // Dancer A 2 units left of the middle, dancer B 2 units right and 1 unit back (file Z 10 is
  // toward the back, -Z in the viewer) turned round, both on the stage.
  void BuildTwoDancersOnAStage() {
    Add("dancer/dancer.pmx", TModelPlacement{{-20.0f, 0.0f, 0.0f}, 0.0f}, false);
    Add("dancer/dancer.pmx", TModelPlacement{{20.0f, 0.0f, 10.0f}, 180.0f}, false);
    Add("stage/stage.pmx", TModelPlacement{}, true);
  }

  // One frame seen from AEye toward ATarget with AUp upward, orthographic.
  TPicture Draw(const TVector3f& AEye, const TVector3f& ATarget, const TVector3f& AUp) {
    TColorFBO Target(FGL->Sampler(), kN, kN);
    const TMatrix4f View =
        LookAtMatrix4f(ExtendVector3f(AEye, 1), ExtendVector3f(ATarget, 1), ExtendVector3f(AUp, 0));
    FRenderer->DrawFrame(Target, kN, kN, View, Orthographic(kSize));
    TPicture Out;
    ReadFramePixels(kN, kN, GL_RGB, Out.Pixels);
    return Out;
  }
  // From straight above: column 8x + 48, row -8z + 48.
  TPicture DrawFromAbove() {
    return Draw(NewVector3f(0, 20, 0), NewVector3f(0, 0, 0), NewVector3f(0, 0, -1));
  }

  fs::path FDir;
  // Declared before the renderer: a drawing goes while its model still exists.
  std::vector<std::unique_ptr<TSceneModel>> FModels;
  std::unique_ptr<TSceneRenderer> FRenderer;
};

bool Reddish(const std::array<float, 3>& C) {
  return C[0] > 0.6f && C[1] < 0.45f && C[2] < 0.45f;
}
bool Bluish(const std::array<float, 3>& C) {
  return C[2] > 0.6f && C[0] < 0.45f;
}

// The light stands at (5, 10, 10). A point of a dancer's axis 1 unit high at (x, 1, z) throws its
// shadow along the light's ray onto the stage's top (height 0): L + 10/9 (Q - L).
TEST_F(PlacedSceneTest, TwoPlacedDancersOnAStageEachWhereItsPlacementPutsItAndEachCastingAShadow) {
  BuildTwoDancersOnAStage();
  EXPECT_FALSE(FRenderer->GroundShown());
  const TPicture P = DrawFromAbove();
  struct TCase {
    const char* What;
    float X, Z;
    bool (*Check)(const std::array<float, 3>&);
  } Cases[] = {
      {"A's body top at (-2, 0)", -2.0f, 0.0f, Reddish},
      {"A's arm on its +X side at (-1.6, 0)", -1.6f, 0.0f, Bluish},
      {"B's body top at (2, -1)", 2.0f, -1.0f, Reddish},
      // B is turned round: its +X arm points to the world's -X.
      {"B's arm on the world's -X side at (1.6, -1)", 1.6f, -1.0f, Bluish},
      {"A's shadow on the stage at (-2.78, -1.11)", -2.778f, -1.111f,
       [](const std::array<float, 3>& C) { return C[0] < 0.3f && C[1] < 0.3f; }},
      {"B's shadow on the stage at (1.67, -2.22)", 1.667f, -2.222f,
       [](const std::array<float, 3>& C) { return C[0] < 0.3f && C[1] < 0.3f; }},
      {"the stage lit in front of them at (0, 2)", 0.0f, 2.0f,
       [](const std::array<float, 3>& C) { return C[0] > 0.8f && C[1] > 0.8f && C[2] > 0.8f; }},
      {"no arm on A's -X side at (-2.4, 0)", -2.4f, 0.0f,
       [](const std::array<float, 3>& C) { return !Bluish(C); }},
      {"no arm on B's world +X side at (2.4, -1)", 2.4f, -1.0f,
       [](const std::array<float, 3>& C) { return !Bluish(C); }},
      // Beyond the stage's edge (4) but on the 20 x 20 ground: only the white background.
      {"no ground beside the stage at (5, 5)", 5.0f, 5.0f,
       [](const std::array<float, 3>& C) { return C[0] == 1.0f && C[1] == 1.0f && C[2] == 1.0f; }},
  };
  for (const TCase& C : Cases) {
    const int Column = static_cast<int>(8 * C.X + 48), Row = static_cast<int>(-8 * C.Z + 48);
    const auto Colour = P.At(Column, Row);
    EXPECT_TRUE(C.Check(Colour)) << C.What << ": " << Colour[0] << " " << Colour[1] << " "
                                 << Colour[2];
  }
}

// Without a stage the ground is back, under the dancer.
TEST_F(PlacedSceneTest, TheGroundIsDrawnOnlyWhileNoModelIsAStage) {
  Add("dancer/dancer.pmx", TModelPlacement{}, false);
  EXPECT_TRUE(FRenderer->GroundShown());
  const auto Ground = DrawFromAbove().At(8 * 5 + 48, -8 * 5 + 48);
  EXPECT_GT(Ground[1], Ground[0] + 0.2f) << "green ground at (5, 5)";
  Add("stage/stage.pmx", TModelPlacement{}, true);
  EXPECT_FALSE(FRenderer->GroundShown());
  const auto Bare = DrawFromAbove().At(8 * 5 + 48, -8 * 5 + 48);
  EXPECT_EQ(Bare[1], 1.0f) << "white background at (5, 5)";
}

// The toon ramp is read by the angle between the surface and the light, in the model's frame.
// Seen from +X (column -8z + 48, row 8 (y - 0.8) + 48), the faces toward +X at 0.5 high: A's
// own +X face at (-1.8, 0.5, 0), v - L = (-6.8, -9.5, -10), reads the ramp at 0.28 (white); B's
// turned -X face at (2.2, 0.5, -1), v - L = (-2.8, -9.5, -11), at 0.41 (white). Taking the light
// in the world's frame to B's model frame instead gives (-5.2, -9.5, -10) against the model's
// -X normal: 0.68, black.
TEST_F(PlacedSceneTest, EachModelIsLitFromWhereTheLightStandsInItsOwnFrame) {
  BuildTwoDancersOnAStage();
  const TPicture P = Draw(NewVector3f(10, 0.8f, 0), NewVector3f(0, 0.8f, 0), NewVector3f(0, 1, 0));
  const int Row = static_cast<int>(8 * (0.5f - 0.8f) + 48);
  for (const auto& [What, Z] : {std::pair{"A", 0.0f}, std::pair{"B", -1.0f}}) {
    const auto C = P.At(static_cast<int>(-8 * Z + 48), Row);
    EXPECT_TRUE(Reddish(C)) << What << "'s face toward +X: " << C[0] << " " << C[1] << " " << C[2];
  }
}

// A model at the identity placement is drawn exactly as the program draws its items unplaced.
TEST_F(PlacedSceneTest, IdentityPlacementDrawsTheSameBytesAsTheUnplacedProgram) {
  Add("dancer/dancer.pmx", TModelPlacement{}, false);
  const TPicture Placed = Draw(NewVector3f(3, 2, 6), NewVector3f(0, 0.8f, 0), NewVector3f(0, 1, 0));
  // The same frame with every item of the program through one matrix and the light as activation
  // uploads it (the shadow map of the pass above still bound).
  TColorFBO Target(FGL->Sampler(), kN, kN);
  const TMatrix4f View =
      LookAtMatrix4f(NewVector4f(3, 2, 6, 1), NewVector4f(0, 0.8f, 0, 1), NewVector4f(0, 1, 0, 0));
  const TMatrix4f Projection = Orthographic(kSize);
  Target.Bind();
  Target.Clear({cmColor, cmDepth});
  Target.SetViewport(0, 0, kN, kN);
  TMainProgram& Program = FRenderer->Program();
  Program.Light() = FRenderer->Light();
  Program.Activate();
  Program.SetViewTransform(View, Projection.Y.Y, kN, kN);
  glActiveTexture(GL_TEXTURE2);
  glBindSampler(2, FGL->ShadowSampler());
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  Program.ActivateRenderPass2();
  Program.Render(MulMatrix4f(View, Projection));
  TPicture Unplaced;
  ReadFramePixels(kN, kN, GL_RGB, Unplaced.Pixels);
  EXPECT_EQ(Placed.Pixels, Unplaced.Pixels);
}

// Each fitted frustum holds every corner of both dancers (worked out from the placements) inside
// the shadow map and reaches past the stage's far corner, with far more texels on the dancers
// than the default 45-degree square.
TEST_F(PlacedSceneTest, TheShadowFrustumIsFittedToTheDancersAndReachesTheStage) {
  BuildTwoDancersOnAStage();
  FRenderer->ShadowPass();
  const TLight& Light = FRenderer->Light();
  ASSERT_NE(Light.Frustum(), nullptr);
  std::vector<TVector3f> Corners;
  for (const auto& [X, Z] : {std::pair{-2.0f, 0.0f}, std::pair{2.0f, -1.0f}})
    for (int K = 0; K < 8; ++K)
      Corners.push_back(NewVector3f(X + ((K & 1) ? 0.2f : -0.2f), (K & 2) ? 1.6f : 0.0f,
                                    Z + ((K & 4) ? 0.2f : -0.2f)));
  // A's arm reaches +X to -1.4, B's -X to 1.4.
  Corners.push_back(NewVector3f(-1.4f, 1.2f, 0.1f));
  Corners.push_back(NewVector3f(1.4f, 1.2f, -1.1f));
  float XMin = 1, XMax = -1;
  for (const TVector3f& C : Corners) {
    const TVector4f P = RowTimesMatrix4f(ExtendVector3f(C, 1), Light.MVPMatrix());
    for (int Axis = 0; Axis < 3; ++Axis)
      EXPECT_LT(std::fabs(P.V[Axis] / P.W), 1.0f) << "corner " << C.X << " " << C.Y << " " << C.Z;
    XMin = std::min(XMin, P.X / P.W), XMax = std::max(XMax, P.X / P.W);
  }
  // The stage's corner farthest from the light.
  const TVector4f Far = RowTimesMatrix4f(NewVector4f(-4, -0.2f, -4, 1), Light.MVPMatrix());
  EXPECT_LT(Far.Z / Far.W, 1.0f);
  // The dancers span at least half the map's width (under the default square, about a quarter).
  EXPECT_GT(XMax - XMin, 1.0f);
}

// The depths of the whole shadow map.
std::vector<float> ShadowDepths(const TSceneRenderer& ARenderer) {
  const TShadowFBO& Map = ARenderer.ShadowMap();
  std::vector<float> Depths(static_cast<std::size_t>(Map.Width()) * Map.Height());
  glBindTexture(GL_TEXTURE_2D, Map.DepthTexture());
  glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, Depths.data());
  return Depths;
}

// The shadow pass clears only the corner of the map it draws into and the one it drew into last:
// after the dancers come closer together (a smaller corner), the map holds exactly what a
// renderer that only ever drew the closer pair holds, the far depth everywhere else.
TEST_F(PlacedSceneTest, TheShadowMapHoldsOnlyThisFramesDepthsWhenTheFittedCornerShrinks) {
  TSceneModel& A = Add("dancer/dancer.pmx", TModelPlacement{{-40.0f, 0.0f, 0.0f}, 0.0f}, false);
  TSceneModel& B = Add("dancer/dancer.pmx", TModelPlacement{{40.0f, 0.0f, 0.0f}, 0.0f}, false);
  FRenderer->ShadowPass();
  const std::vector<float> Apart = ShadowDepths(*FRenderer);
  A.SetPlacement(TModelPlacement{{-5.0f, 0.0f, 0.0f}, 0.0f});
  B.SetPlacement(TModelPlacement{{5.0f, 0.0f, 0.0f}, 0.0f});
  FRenderer->ShadowPass();
  const std::vector<float> Close = ShadowDepths(*FRenderer);

  TSceneRenderer Fresh(FGL.get(), FDir.string() + "/");
  Fresh.AddDrawing(Fresh.MakeDrawing(A));
  Fresh.AddDrawing(Fresh.MakeDrawing(B));
  Fresh.ShadowPass();
  const std::vector<float> Reference = ShadowDepths(Fresh);
  ASSERT_EQ(Close.size(), Reference.size());
  std::size_t Drawn = 0, Differ = 0, Stale = 0;
  for (std::size_t I = 0; I < Close.size(); ++I) {
    Drawn += Close[I] < 1.0f;
    Differ += Close[I] != Reference[I];
    Stale += Apart[I] < 1.0f && Close[I] == Apart[I] && Reference[I] == 1.0f;
  }
  EXPECT_GT(Drawn, 1000u) << "the dancers are in the map";
  EXPECT_EQ(Differ, 0u);
  EXPECT_EQ(Stale, 0u) << "depths of the last frame left behind";
  // The fresh renderer's drawings go while their models still exist.
}

// The fit on its own, the light at the origin looking down -Z: a caster of radius 1 at depth 10
// spans slopes -1/9 .. 1/9 (its box's near face), depths 9 .. 11, with 2% of the width added on
// each side (+-0.1157) and the depths 0.98 and 1.02 times (8.82 .. 11.22); receivers only push the
// far depth.
TEST(ShadowFit, SidesAndDepthsHoldTheCastersAndTheFarDepthTheReceivers) {
  struct TCase {
    const char* What;
    std::vector<std::pair<TVector3f, float>> Casters, Receivers;
    bool Fits;
    TLightFrustum Expected;
  } Cases[] = {
      // Then both snap outward to steps, a power of two near an eighth of their size: the sides
      // +-0.1157 (0.2313 wide) to steps of 1/32, +-0.125; the depths 8.82 .. 11.22 (2.4 deep) to
      // steps of 0.5, 8.5 .. 11.5.
      {"one caster",
       {{NewVector3f(0, 0, -10), 1.0f}},
       {},
       true,
       {-0.125f, 0.125f, -0.125f, 0.125f, 8.5f, 11.5f}},
      // A little larger (a tail swinging out): 1.05 / 8.95 = 0.1173 a side, depths 8.77 .. 11.27:
      // inside the same steps, so the frustum stays exactly as it was.
      {"the same caster a little larger",
       {{NewVector3f(0, 0, -10), 1.05f}},
       {},
       true,
       {-0.125f, 0.125f, -0.125f, 0.125f, 8.5f, 11.5f}},
      // Depths 8.82 .. 30.6 (21.78 deep) in steps of 4: 8 .. 32.
      {"a receiver behind it",
       {{NewVector3f(0, 0, -10), 1.0f}},
       {{NewVector3f(50, 0, -30), 0}},
       true,
       {-0.125f, 0.125f, -0.125f, 0.125f, 8.0f, 32.0f}},
      {"no caster", {}, {{NewVector3f(0, 0, -30), 0}}, false, {}},
      {"a caster around the light",
       {{NewVector3f(0, 0, -10), 1.0f}, {NewVector3f(0, 0, 0), 1.0f}},
       {},
       false,
       {}},
  };
  for (const TCase& C : Cases) {
    TShadowFit Fit(IdentityMatrix4f);
    for (const auto& [Centre, Radius] : C.Casters) Fit.AddCaster(Centre, Radius);
    for (const auto& [Centre, Radius] : C.Receivers) Fit.AddReceiver(Centre, Radius);
    TLightFrustum F;
    ASSERT_EQ(Fit.Fit(F), C.Fits) << C.What;
    if (!C.Fits) continue;
    const float Got[] = {F.Left, F.Right, F.Bottom, F.Top, F.Near, F.Far};
    const float Want[] = {C.Expected.Left, C.Expected.Right, C.Expected.Bottom,
                          C.Expected.Top,  C.Expected.Near,  C.Expected.Far};
    for (int I = 0; I < 6; ++I) EXPECT_NEAR(Got[I], Want[I], 1e-5f) << C.What << " value " << I;
  }
}

// Two drawings of one model file hold the same texture objects; they go with the last drawing.
TEST_F(PlacedSceneTest, DrawingsOfOneFileShareTheirTexturesUntilTheLastGoes) {
  TSceneModel& First = Add("dancer/dancer.pmx", TModelPlacement{}, false);
  const int Count = FRenderer->Textures().Count();
  EXPECT_EQ(Count, 11) << "toon.bmp and the ten shared ramps";
  TSceneModel& Second = Add("dancer/dancer.pmx", TModelPlacement{{10, 0, 0}, 0}, false);
  EXPECT_EQ(FRenderer->Textures().Count(), Count);
  const TModelDrawing* A = FRenderer->DrawingOf(&First);
  const TModelDrawing* B = FRenderer->DrawingOf(&Second);
  ASSERT_TRUE(A->PmxTextures()[0]);
  EXPECT_EQ(A->PmxTextures()[0], B->PmxTextures()[0]);
  EXPECT_EQ(A->PmxSharedTextures()[3], B->PmxSharedTextures()[3]);
  const GLuint Handle = A->PmxTextures()[0]->Handle();
  FRenderer->RemoveDrawingOf(&First);
  EXPECT_EQ(FRenderer->Textures().Count(), Count) << "the second drawing still holds them";
  EXPECT_TRUE(glIsTexture(Handle));
  FRenderer->RemoveDrawingOf(&Second);
  EXPECT_EQ(FRenderer->Textures().Count(), 0);
  EXPECT_FALSE(glIsTexture(Handle));
}

}  // namespace
