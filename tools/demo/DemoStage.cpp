// The demo stage: a round platform of planks with a gilt curb, an arc of backdrop behind it and a
// truss over the front edge with four lamps that pan on their own bones, each throwing a faint
// beam onto the floor. Built in the viewer's frame like the character (DemoShapes.h) and centred
// where she stands, so that dancers placed about the middle stand on it.
#include "tools/demo/DemoStage.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/demo/DemoShapes.h"

using namespace demoshape;

namespace {

constexpr float kToViewer = 0.1f;  // file units to the viewer's
const float kRadius = kStageRadius * kToViewer;
const float kTop = kStageTopLift * kToViewer;
const float kCurbInner = kRadius - 0.15f;  // the curb is 15 cm wide and 3 cm high
const float kCurbTop = kTop + 0.03f;
const float kBackdropRadius = kRadius - 0.3f;
const float kBackdropHalfArc = 75.0f * kPi / 180.0f;
const float kBarHeight = 3.1f, kBarZ = 1.45f, kBarHalfLength = 2.0f, kPostX = 1.95f;
const float kLampX[kStageLampCount] = {-1.2f, -0.4f, 0.4f, 1.2f};

// A triangle of APart turned so that it faces AOutward.
void Face(TPart& APart, int A, int B, int C, V3 AOutward) {
  const V3 N = Cross(APart.P[B] - APart.P[A], APart.P[C] - APart.P[A]);
  if (Dot(N, AOutward) < 0) std::swap(B, C);
  APart.T.push_back({A, B, C});
}

// A (ACols + 1) x (ARows + 1) grid of points APoint(u, v), u and v from 0 to 1, in two triangles
// per cell facing AOutward at the cell's centre; texture coordinates u x AURepeat, v x AVRepeat.
void Grid(TPart& APart, int ACols, int ARows, const std::function<V3(float, float)>& APoint,
          const std::function<V3(V3)>& AOutward, const TWeights& AW, float AURepeat = 1,
          float AVRepeat = 1) {
  const int Base = static_cast<int>(APart.P.size());
  for (int R = 0; R <= ARows; ++R)
    for (int C = 0; C <= ACols; ++C) {
      const float U = static_cast<float>(C) / ACols, V = static_cast<float>(R) / ARows;
      APart.Add(APoint(U, V), U * AURepeat, V * AVRepeat, AW);
    }
  for (int R = 0; R < ARows; ++R)
    for (int C = 0; C < ACols; ++C) {
      const int A = Base + R * (ACols + 1) + C, B = A + 1, D = A + ACols + 1, E = D + 1;
      const V3 Out = AOutward((APart.P[A] + APart.P[E]) * 0.5f);
      Face(APart, A, B, E, Out);
      Face(APart, A, E, D, Out);
    }
}

V3 Polar(float ARadius, float AAngle, float AY) {
  return V3{ARadius * std::sin(AAngle), AY, ARadius * std::cos(AAngle)};
}
V3 Up(V3) {
  return V3{0, 1, 0};
}

// The floor: a disc of planks up to the curb, the texture laid flat across it.
TPart Floor(int ARoot) {
  TPart P;
  const int Segments = 64, Rings = 6;
  const int Centre = P.Add(V3{0, kTop, 0}, 0.5f, 0.5f, One(ARoot));
  auto UV = [](V3 AP) {
    return PmxFloat2{0.5f + AP.X / (2 * kRadius), 0.5f - AP.Z / (2 * kRadius)};
  };
  for (int R = 1; R <= Rings; ++R)
    for (int S = 0; S < Segments; ++S) {
      const V3 Pos = Polar(kCurbInner * R / Rings, 2 * kPi * S / Segments, kTop);
      const PmxFloat2 T = UV(Pos);
      P.Add(Pos, T.X, T.Y, One(ARoot));
    }
  auto At = [&](int R, int S) { return 1 + (R - 1) * Segments + (S % Segments); };
  for (int S = 0; S < Segments; ++S) Face(P, Centre, At(1, S), At(1, S + 1), V3{0, 1, 0});
  for (int R = 1; R < Rings; ++R)
    for (int S = 0; S < Segments; ++S) {
      Face(P, At(R, S), At(R + 1, S), At(R + 1, S + 1), V3{0, 1, 0});
      Face(P, At(R, S), At(R + 1, S + 1), At(R, S + 1), V3{0, 1, 0});
    }
  return P;
}

// The curb around the floor: its inner face, its top, and its outer face, which runs on down as
// the platform's side (a part of its own, so that the edges stay sharp).
std::vector<TPart> Curb(int ARoot) {
  const int Segments = 64;
  auto Around = [](float ARadius, float AY0, float AY1) {
    return [=](float U, float V) { return Polar(ARadius, 2 * kPi * U, AY0 + (AY1 - AY0) * V); };
  };
  auto Outwards = [](V3 AP) { return Normalized(V3{AP.X, 0, AP.Z}); };
  auto Inwards = [](V3 AP) { return Normalized(V3{-AP.X, 0, -AP.Z}); };
  std::vector<TPart> Parts(3);
  Grid(Parts[0], Segments, 1, Around(kCurbInner, kTop, kCurbTop), Inwards, One(ARoot), 16);
  Grid(
      Parts[1], Segments, 1,
      [](float U, float V) {
        return Polar(kCurbInner + (kRadius - kCurbInner) * V, 2 * kPi * U, kCurbTop);
      },
      Up, One(ARoot), 16);
  Grid(Parts[2], Segments, 2, Around(kRadius, kCurbTop, kTop - kStageDepth * kToViewer), Outwards,
       One(ARoot), 16);
  return Parts;
}

// The backdrop: an arc of wall behind the dancers, facing them, standing on the floor.
TPart Backdrop(int ARoot) {
  TPart P;
  const float H = kStageBackdropHeight * kToViewer;
  Grid(
      P, 40, 6,
      [H](float U, float V) {
        return Polar(kBackdropRadius, kPi + kBackdropHalfArc * (2 * U - 1), kTop + H * (1 - V));
      },
      [](V3 AP) {
        return Normalized(V3{-AP.X, 0, -AP.Z});
      },
      One(ARoot));
  return P;
}

// A straight rod from AFrom to ATo of radius AR, capped at both ends.
void Rod(TPart& APart, V3 AFrom, V3 ATo, float AR, V3 ARef, const TWeights& AW,
         int ASegments = 12) {
  const V3 Axis = Normalized(ATo - AFrom);
  Tube(APart, {TStation{AFrom, Axis, AR, AR, 0, AW}, TStation{ATo, Axis, AR, AR, 1, AW}}, ASegments,
       ARef, true, true);
}

// The truss: two posts standing on the curb and the bar across their tops.
TPart Truss(int ARoot, int ABar) {
  TPart P;
  for (float S : {-1.0f, 1.0f})
    Rod(P, V3{S * kPostX, kCurbTop, kBarZ}, V3{S * kPostX, kBarHeight + 0.06f, kBarZ}, 0.035f,
        V3{0, 0, 1}, One(ARoot));
  Rod(P, V3{-kBarHalfLength, kBarHeight, kBarZ}, V3{kBarHalfLength, kBarHeight, kBarZ}, 0.04f,
      V3{0, 1, 0}, One(ABar));
  return P;
}

// Where lamp AIndex hangs (its bone) and where it points at rest: down and back, towards the
// floor in front of the backdrop.
V3 LampPivot(int AIndex) {
  return V3{kLampX[AIndex], kBarHeight - 0.04f, kBarZ};
}
V3 LampAim(int AIndex) {
  const V3 Target{kLampX[AIndex] * 0.4f, kTop, -0.3f};
  return Normalized(Target - (LampPivot(AIndex) + V3{0, -0.14f, 0}));
}

struct TLampParts {
  TPart Body, Lens, Beam;
};

// A lamp: a stem down from the bar, a can pointing along its aim, the lens in the can's mouth and
// a cone of light from the lens to the floor.
void Lamp(TLampParts& AParts, int AIndex, int ABone) {
  const TWeights W = One(ABone);
  const V3 Pivot = LampPivot(AIndex), Aim = LampAim(AIndex);
  const V3 Back = Pivot + V3{0, -0.14f, 0} - Aim * 0.1f;
  const V3 Mouth = Back + Aim * 0.28f;
  const V3 Side{1, 0, 0};
  Rod(AParts.Body, Pivot, Pivot + V3{0, -0.14f, 0}, 0.015f, V3{0, 0, 1}, W, 8);
  // The can, open at the mouth, with a flared rim.
  Tube(AParts.Body,
       {TStation{Back, Aim, 0.075f, 0.075f, 0, W}, TStation{Mouth, Aim, 0.085f, 0.085f, 0.9f, W},
        TStation{Mouth + Aim * 0.01f, Aim, 0.1f, 0.1f, 1, W}},
       16, Side, true, false);
  // The lens sits a little inside the mouth, facing out.
  const V3 LensAt = Mouth - Aim * 0.015f;
  Tube(AParts.Lens,
       {TStation{LensAt - Aim * 0.005f, Aim, 0.078f, 0.078f, 0, W},
        TStation{LensAt, Aim, 0.078f, 0.078f, 1, W}},
       16, Side, false, true);
  // The beam widens to half a metre across where it meets the floor.
  const float Length = (kTop - Mouth.Y) / Aim.Y;
  Tube(AParts.Beam,
       {TStation{Mouth, Aim, 0.08f, 0.08f, 0, W},
        TStation{Mouth + Aim * Length, Aim, 0.3f, 0.3f, 1, W}},
       20, Side, false, false);
}

}  // namespace

std::string StageLampBone(int AIndex) {
  return "照明" + std::to_string(AIndex + 1);
}

TPmxBuilder BuildDemoStage() {
  TCharacter St;
  TPmxBuilder& B = St.B;
  B.ModelNameJp = "クエンロール小ステージ";
  B.ModelNameEn = "Quenlor small stage";
  B.CommentJp = "Quenlor のデモ用ステージ（コードで生成）";
  B.CommentEn = "The demo stage of Quenlor, generated in code.";

  const int TexFloor = B.AddTexture("tex/floor.png");
  const int TexBackdrop = B.AddTexture("tex/backdrop.png");

  // Materials in drawing order, the beams last so that they blend over everything behind them.
  const int MatFloor = Material(B, "床", "floor", {1, 1, 1}, 1, TexFloor, 6);
  const int MatCurb = Material(B, "縁", "curb", {0.92f, 0.74f, 0.32f}, 1, -1, 6);
  const int MatSide = Material(B, "側面", "side", {0.42f, 0.08f, 0.12f}, 1, -1, 7);
  const int MatBackdrop = Material(B, "背景", "backdrop", {1, 1, 1}, 1, TexBackdrop, 4, true);
  const int MatTruss = Material(B, "トラス", "truss", {0.55f, 0.56f, 0.6f}, 1, -1, 7);
  const int MatLamp = Material(B, "照明", "lamps", {0.14f, 0.14f, 0.16f}, 1, -1, 7);
  const int MatLens = Material(B, "レンズ", "lenses", {1.0f, 0.96f, 0.78f}, 1, -1, 9);
  const int MatBeam = Material(B, "光", "beams", {1.0f, 0.95f, 0.7f}, 0.16f, -1, 9, true);
  // Everything on the stage catches the dancers' shadows but throws none: the shadow map is fitted
  // to the dancers, a floor that cast would shade itself, and the truss would streak the backdrop.
  // The lenses and beams glow: all ambient, no shadow either way.
  for (int M : {MatFloor, MatCurb, MatSide, MatBackdrop, MatTruss, MatLamp, MatLens, MatBeam})
    NoShadowCast(B, M);
  for (int M : {MatLens, MatBeam}) {
    TPmxMaterial& Mat = B.Materials[M];
    Mat.RenderFlags &= static_cast<TPmxRenderFlags>(~FlagBit(rfSelfShadow));
    Mat.Ambient = TVector3f{{Mat.Diffuse.X / 0.6f, Mat.Diffuse.Y / 0.6f, Mat.Diffuse.Z / 0.6f}};
    Mat.Diffuse = TVector4f{{0, 0, 0, Mat.Diffuse.W}};
    Mat.Specular = TVector3f{{0, 0, 0}};
  }

  // Bones: the root in the platform's middle, the bar bone on the bar, a lamp bone where each
  // lamp hangs from it.
  const int Root = St.Bone(kStageRootBone, "master", {0, 0, 0}, -1, true);
  St.TailOffset(Root, {0, 0.3f, 0});
  const int Bar = St.Bone(kStageBarBone, "light bar", {0, kBarHeight, kBarZ}, Root);
  St.TailOffset(Bar, {0.3f, 0, 0});
  int Lamps[kStageLampCount];
  for (int I = 0; I < kStageLampCount; ++I) {
    Lamps[I] = St.Bone(StageLampBone(I).c_str(), ("lamp" + std::to_string(I + 1)).c_str(),
                       LampPivot(I), Bar);
    St.TailOffset(Lamps[I], LampAim(I) * 0.3f);
  }

  St.Emit(Floor(Root), MatFloor);
  const std::vector<TPart> CurbParts = Curb(Root);
  St.Emit(CurbParts[0], MatCurb);
  St.Emit(CurbParts[1], MatCurb);
  St.Emit(CurbParts[2], MatSide);
  St.Emit(Backdrop(Root), MatBackdrop);
  St.Emit(Truss(Root, Bar), MatTruss);
  for (int I = 0; I < kStageLampCount; ++I) {
    TLampParts L;
    Lamp(L, I, Lamps[I]);
    St.Emit(L.Body, MatLamp);
    St.Emit(L.Lens, MatLens);
    St.Emit(L.Beam, MatBeam);
  }
  St.FinishFaces();
  return B;
}

namespace {

std::uint8_t Byte(float AValue) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(AValue, 0.0f, 1.0f) * 255.0f));
}
TRgba Rgb(float R, float G, float B) {
  return TRgba{Byte(R), Byte(G), Byte(B), 255};
}
// Repeatable value noise in [0, 1).
float Noise(int AX, int AY) {
  std::uint32_t H = static_cast<std::uint32_t>(AX) * 2246822519u +
                    static_cast<std::uint32_t>(AY) * 3266489917u + 374761393u;
  H = (H ^ (H >> 15)) * 2654435761u;
  return static_cast<float>((H ^ (H >> 13)) & 0xFFFF) / 65536.0f;
}

// Honey-coloured planks running front to back, each of its own shade, with dark seams and grain.
TCanvas PaintFloor() {
  const int S = 256, Plank = 16;
  TCanvas C(S, S);
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const int Row = X / Plank;
      // Plank ends are staggered from one row to the next.
      const int Length = 96, Shift = static_cast<int>(Noise(Row, 7) * Length);
      const int Piece = (Y + Shift) / Length;
      const float Shade = 0.85f + 0.2f * Noise(Row, Piece);
      const float Grain =
          0.06f * std::sin(0.35f * Y + 3.0f * Noise(X / 3, Row)) + 0.04f * (Noise(X, Y / 6) - 0.5f);
      const bool Seam = X % Plank == 0 || (Y + Shift) % Length == 0;
      const float K = Seam ? 0.45f : Shade + Grain;
      C.At(X, Y) = Rgb(0.80f * K, 0.58f * K, 0.36f * K);
    }
  return C;
}

// Night-blue drapes: deep at the top, violet towards the floor, folds in soft vertical bands and
// a scatter of small stars.
TCanvas PaintBackdrop() {
  const int W = 256, H = 256;
  TCanvas C(W, H);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      const float T = static_cast<float>(Y) / (H - 1);
      const float Fold = 0.82f + 0.18f * std::cos(2 * kPi * X / 32.0f);
      TRgba P =
          Rgb((0.10f + 0.30f * T) * Fold, (0.10f + 0.10f * T) * Fold, (0.32f + 0.22f * T) * Fold);
      if (Noise(X, Y) > 0.996f && T < 0.75f) P = Rgb(1.0f, 0.95f, 0.8f);
      C.At(X, Y) = P;
    }
  return C;
}

}  // namespace

std::vector<TDemoTexture> BuildDemoStageTextures() {
  return {{"tex/floor.png", EncodePng(PaintFloor())},
          {"tex/backdrop.png", EncodePng(PaintBackdrop())}};
}
