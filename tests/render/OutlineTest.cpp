// The outline on the real driver, measured on the picture: a sphere with the edge flag drawn in
// perspective at the picture's centre, its pixels counted and walked along rays from the centre.
// The line must be unbroken, lie outside the surface and keep its width in pixels near and far, and
// scale with the picture's height.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/PmxWriter.h"
#include "math/VectorMath.h"
#include "render/ModelDrawing.h"
#include "tests/gl/GLCoreFixture.h"

namespace fs = std::filesystem;

namespace {

constexpr float Pi = 3.14159265f;

// The model drawn.
enum TShape {
  shRound,    // a sphere with its own normals
  shLeaning,  // a sphere whose normals lean toward the model's front like a face's smoothed ones
  shBowl      // the far half of a sphere, open toward the viewer, drawn on both sides
};

// A sphere in the file's frame (left-handed, tenths of a scene unit): radius 10 (one scene unit)
// about the origin, 48 slices around the Y axis and 24 stacks, faces wound the file's way (the
// cross product of the edges points outward in the file's own frame). Leaning normals add
// (0, 0, -sqrt 3) to the round one before normalising: on the rim seen from the front the normal
// then leans 60 degrees toward the viewer, so only half of it is across the line of sight. The
// bowl turns the axis to +Z (away from a viewer in front of the model) and stops at the equator,
// with 12 stacks. Returns the face index count.
int AddFileSphere(TPmxBuilder& AB, TShape AShape) {
  constexpr int Slices = 48;
  constexpr float Radius = 10.0f;
  const bool Bowl = AShape == shBowl;
  const int Stacks = Bowl ? 12 : 24;
  const float Span = Bowl ? Pi / 2 : Pi;
  const int First = static_cast<int>(AB.Vertices.size());
  for (int I = 0; I <= Stacks; ++I) {
    const float Theta = Span * static_cast<float>(I) / static_cast<float>(Stacks);
    for (int J = 0; J <= Slices; ++J) {
      const float Phi = 2 * Pi * static_cast<float>(J) / Slices;
      const float A = std::sin(Theta) * std::cos(Phi), B = std::sin(Theta) * std::sin(Phi),
                  Pole = std::cos(Theta);
      const TVector3f R = Bowl ? NewVector3f(A, B, Pole) : NewVector3f(A, Pole, B);
      const TVector3f N =
          AShape == shLeaning ? Normalized3f(Add3f(R, NewVector3f(0, 0, -std::sqrt(3.0f)))) : R;
      AB.AddVertex(Scaled3f(R, Radius), N);
    }
  }
  int Count = 0;
  auto Triangle = [&](int A, int B, int C) {
    const TVector3f PA = AB.Vertices[A].Position, PB = AB.Vertices[B].Position,
                    PC = AB.Vertices[C].Position;
    const TVector3f Geometric = Cross3f(Sub3f(PB, PA), Sub3f(PC, PA));
    if (Dot3f(Geometric, Add3f(Add3f(PA, PB), PC)) > 0)
      AB.AddTriangle(A, B, C);
    else
      AB.AddTriangle(A, C, B);
    Count += 3;
  };
  for (int I = 0; I < Stacks; ++I)
    for (int J = 0; J < Slices; ++J) {
      const int A = First + I * (Slices + 1) + J, B = A + 1, C = A + Slices + 1, D = C + 1;
      if (I > 0) Triangle(A, B, C);
      if (Bowl || I < Stacks - 1) Triangle(B, D, C);
    }
  return Count;
}

// What a pixel of the picture shows.
enum TKind { kBackground, kSurface, kEdge, kOther };

// The picture read back, bottom row first, classified by colour: blue background, grey 0.4
// surface (ambient only), green outline.
struct TPicture {
  int Width = 0, Height = 0;
  std::vector<TKind> Kinds;

  TKind At(int AX, int AY) const {
    if (AX < 0 || AY < 0 || AX >= Width || AY >= Height) return kBackground;
    return Kinds[static_cast<size_t>(AY) * Width + AX];
  }
  size_t Count(TKind AKind) const {
    return static_cast<size_t>(std::count(Kinds.begin(), Kinds.end(), AKind));
  }
};

TPicture ReadPicture(int AWidth, int AHeight) {
  std::vector<uint8_t> Rgba(static_cast<size_t>(AWidth) * AHeight * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, AWidth, AHeight, GL_RGBA, GL_UNSIGNED_BYTE, Rgba.data());
  TPicture P;
  P.Width = AWidth, P.Height = AHeight;
  P.Kinds.resize(static_cast<size_t>(AWidth) * AHeight);
  auto Near = [](uint8_t AValue, int ATarget) { return std::abs(AValue - ATarget) <= 3; };
  for (size_t I = 0; I < P.Kinds.size(); ++I) {
    const uint8_t *C = &Rgba[4 * I], R = C[0], G = C[1], B = C[2];
    if (Near(R, 0) && Near(G, 0) && Near(B, 255))
      P.Kinds[I] = kBackground;
    else if (Near(R, 102) && Near(G, 102) && Near(B, 102))
      P.Kinds[I] = kSurface;
    else if (Near(R, 0) && Near(G, 255) && Near(B, 0))
      P.Kinds[I] = kEdge;
    else
      P.Kinds[I] = kOther;
  }
  return P;
}

// Surface pixels with the background beside them (left, right, above or below): the outline is
// broken there. A line one pixel wide may step diagonally, so corners do not count.
int Gaps(const TPicture& AP) {
  int Count = 0;
  for (int Y = 0; Y < AP.Height; ++Y)
    for (int X = 0; X < AP.Width; ++X)
      if (AP.At(X, Y) == kSurface &&
          (AP.At(X - 1, Y) == kBackground || AP.At(X + 1, Y) == kBackground ||
           AP.At(X, Y - 1) == kBackground || AP.At(X, Y + 1) == kBackground))
        ++Count;
  return Count;
}

// One ray from the picture's centre outward, sampled every quarter pixel: the outline's run
// (from its first sample to the first background sample), and whether the surface showed again
// after the outline began.
struct TRay {
  bool SurfaceOutside = false;
  float Run = 0;
};

TRay WalkRay(const TPicture& AP, float AAngle) {
  const float CX = 0.5f * AP.Width, CY = 0.5f * AP.Height;
  const float DX = std::cos(AAngle), DY = std::sin(AAngle);
  TRay Ray;
  float EdgeStart = -1;
  for (float T = 0; T < AP.Width; T += 0.25f) {
    const TKind K =
        AP.At(static_cast<int>(std::floor(CX + T * DX)), static_cast<int>(std::floor(CY + T * DY)));
    if (K == kEdge && EdgeStart < 0) EdgeStart = T;
    if (K == kSurface && EdgeStart >= 0) Ray.SurfaceOutside = true;
    if (K == kBackground) {
      Ray.Run = EdgeStart < 0 ? 0 : T - EdgeStart;
      break;
    }
  }
  return Ray;
}

class OutlineTest : public TOpenGLTest {
 protected:
  void SetUp() override {
    TOpenGLTest::SetUp();
    FMain = std::make_unique<TMainProgram>(FGL.get());
    FBones = std::make_unique<TBoneProgram>(FGL.get());
    FDir = fs::temp_directory_path() / ("quenlor_outline_" + std::to_string(::getpid()));
    // The shared toon ramps the controller loads with every model (white: they do not tint).
    fs::create_directories(FDir / "Toon");
    for (int I = 1; I <= 10; ++I) {
      TBitmap Ramp(2, 2, pf24bit);
      for (int R = 0; R < 2; ++R) std::memset(Ramp.ScanLine(R), 255, 6);
      char Name[16];
      std::snprintf(Name, sizeof Name, "toon%02d.bmp", I);
      Ramp.SaveToFile(FDir / "Toon" / Name);
    }
    FShadow = std::make_unique<TShadowFBO>();
    FShadow->Bind();
    FShadow->Clear({cmDepth});
    FShadow->Unbind();
  }
  void TearDown() override {
    // The drawing takes its items out of the programs first.
    FController.reset();
    FModel.reset();
    FMain.reset();
    FBones.reset();
    FShadow.reset();
    fs::remove_all(FDir);
    TOpenGLTest::TearDown();
  }

  void Create(TShape AShape) {
    TPmxBuilder B;
    B.Settings.FileFrame = true;
    B.AddBone("root", NewVector3f(0, 0, 0));
    const int M = B.AddMaterial("m", AddFileSphere(B, AShape));
    TPmxMaterial& Mat = B.Materials[M];
    Mat.RenderFlags =
        static_cast<TPmxRenderFlags>(FlagBit(rfEdge) | (AShape == shBowl ? FlagBit(rfTwoSide) : 0));
    Mat.Diffuse = NewVector4f(0, 0, 0, 1);
    Mat.Ambient = NewVector3f(0.4f, 0.4f, 0.4f);
    Mat.EdgeColor = NewVector4f(0, 1, 0, 1);
    Mat.EdgeSize = 1;  // every vertex has edge scale 1
    const std::string Path = (FDir / "sphere.pmx").string();
    B.SaveToFile(Path);
    FController.reset();
    FModel = std::make_unique<TSceneModel>(Path);
    FController = std::make_unique<TModelDrawing>(FGL.get(), FMain.get(), FBones.get(), *FModel,
                                                  FDir.string() + "/");
  }

  // The model alone (no ground), as a frame draws it: 45-degree vertical field of view, the eye
  // ADistance in front of the sphere's centre (on the model's front side), into AWidth x AHeight.
  TPicture Render(float ADistance, int AWidth, int AHeight) {
    TColorFBO Target(FGL->Sampler(), AWidth, AHeight);
    Target.Bind();
    glClearColor(0, 0, 1, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    Target.SetViewport(0, 0, AWidth, AHeight);
    const TMatrix4f View =
        LookAtMatrix4f(TVec3f(0, 0, ADistance), TVec3f(0, 0, 0), TVec3f(0, 1, 0));
    const TMatrix4f Projection = PerspectiveMatrix4f(
        Pi / 4, static_cast<float>(AWidth) / static_cast<float>(AHeight), 0.1f, 100.0f);
    FMain->Activate();
    FMain->SetViewTransform(View, Projection.Y.Y, AWidth, AHeight);
    FShadow->BindTexture();
    glBindSampler(2, FGL->ShadowSampler());
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    FMain->ActivateRenderPass2();
    FController->Model()->Render(MulMatrix4f(View, Projection));
    TPicture P = ReadPicture(AWidth, AHeight);
    Target.Unbind();
    return P;
  }

  std::unique_ptr<TMainProgram> FMain;
  std::unique_ptr<TBoneProgram> FBones;
  std::unique_ptr<TSceneModel> FModel;
  std::unique_ptr<TModelDrawing> FController;
  std::unique_ptr<TShadowFBO> FShadow;
  fs::path FDir;
};

}  // namespace

TEST_F(OutlineTest, IsAnUnbrokenLineOfSteadyWidthNearAndFarScaledWithTheHeight) {
  // Edge size 1 is 2 pixels at 1080 lines and 1 pixel at 540. The width is measured from areas:
  // radii of the discs covered by the surface, and by surface and outline together, so the
  // rounding of single pixels averages out. No surface pixel may touch the background. Along each
  // of 720 rays the outline's run may be a pixel longer (a sample falls on a pixel whose centre is
  // up to 0.7 pixel off the ray), and the surface must not show again beyond the outline.
  // The sphere spans about 340 pixels of radius at distance 4, about 110 at distance 12.
  struct TCase {
    const char* Name;
    TShape Shape;
    float Distance;
    int Width, Height;
    float MinWidth, MaxWidth;
  };
  const TCase Cases[] = {
      {"round, near", shRound, 4, 1920, 1080, 1.7f, 2.3f},
      {"round, far", shRound, 12, 1920, 1080, 1.7f, 2.3f},
      {"leaning, near", shLeaning, 4, 1920, 1080, 1.7f, 2.3f},
      {"leaning, far", shLeaning, 12, 1920, 1080, 1.7f, 2.3f},
      {"round, near, 540 lines", shRound, 4, 960, 540, 0.7f, 1.3f},
      {"leaning, far, 540 lines", shLeaning, 12, 960, 540, 0.7f, 1.3f},
  };
  TShape Built = shRound;
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    if (!FController || Built != C.Shape) Create(C.Shape), Built = C.Shape;
    const TPicture P = Render(C.Distance, C.Width, C.Height);
    EXPECT_EQ(P.Count(kOther), 0u);
    const float Inner = std::sqrt(static_cast<float>(P.Count(kSurface)) / Pi);
    const float Outer = std::sqrt(static_cast<float>(P.Count(kSurface) + P.Count(kEdge)) / Pi);
    EXPECT_GE(Outer - Inner, C.MinWidth) << "surface radius " << Inner;
    EXPECT_LE(Outer - Inner, C.MaxWidth) << "surface radius " << Inner;
    EXPECT_EQ(Gaps(P), 0) << "surface pixels beside the background";
    int Inside = 0, TooWide = 0;
    float Longest = 0;
    for (int I = 0; I < 720; ++I) {
      const TRay R = WalkRay(P, 2 * Pi * static_cast<float>(I) / 720);
      Inside += R.SurfaceOutside;
      TooWide += R.Run > C.MaxWidth + 1.0f;
      Longest = std::max(Longest, R.Run);
    }
    EXPECT_EQ(Inside, 0) << "rays that meet the surface again outside the outline";
    EXPECT_EQ(TooWide, 0) << "longest run " << Longest;
  }
}

TEST_F(OutlineTest, ASurfaceSeenFromBehindStaysInFrontOfItsOwnOutline) {
  // Looking into a two-sided bowl, the inside is the far side of its faces: the outline pass
  // draws it too, moved sideways on screen. It must stay behind the inside (which is drawn at
  // the same depth) and show only around the rim: no outline colour within the surface's disc.
  Create(shBowl);
  for (const float Distance : {4.0f, 12.0f}) {
    SCOPED_TRACE(Distance);
    const TPicture P = Render(Distance, 1920, 1080);
    EXPECT_EQ(P.Count(kOther), 0u);
    const float Inner = std::sqrt(static_cast<float>(P.Count(kSurface)) / Pi);
    EXPECT_GT(Inner, 100.0f);
    int Inside = 0, Ring = 0;
    for (int Y = 0; Y < P.Height; ++Y)
      for (int X = 0; X < P.Width; ++X) {
        if (P.At(X, Y) != kEdge) continue;
        const float R = std::hypot(X + 0.5f - 0.5f * P.Width, Y + 0.5f - 0.5f * P.Height);
        (R < Inner - 1.0f ? Inside : Ring) += 1;
      }
    EXPECT_EQ(Inside, 0);
    EXPECT_GT(Ring, 0);
    EXPECT_EQ(Gaps(P), 0);
  }
}
