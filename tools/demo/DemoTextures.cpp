// The default character's textures, painted in code, and the ten shared toon ramps.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "tools/demo/DemoCharacter.h"

namespace {

std::uint8_t Byte(float AValue) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(AValue, 0.0f, 1.0f) * 255.0f));
}
TRgba Rgb(float R, float G, float B, float A = 1.0f) {
  return TRgba{Byte(R), Byte(G), Byte(B), Byte(A)};
}

// Repeatable value noise in [0, 1).
float Hash(int AX, int AY) {
  std::uint32_t H =
      static_cast<std::uint32_t>(AX) * 374761393u + static_cast<std::uint32_t>(AY) * 668265263u;
  H = (H ^ (H >> 13)) * 1274126177u;
  return static_cast<float>((H ^ (H >> 16)) & 0xFFFF) / 65536.0f;
}

TCanvas PaintSkin() {
  TCanvas C(64, 64);
  for (int Y = 0; Y < 64; ++Y)
    for (int X = 0; X < 64; ++X) {
      const float N = 0.015f * (Hash(X / 4, Y / 4) - 0.5f);
      C.At(X, Y) = Rgb(1.0f + N, 0.985f + N, 0.975f + N);
    }
  return C;
}

// Anime iris: dark at the top, a bright teal below, pupil, the lash line above. The highlights
// are on their own layer (PaintHighlight).
TCanvas PaintEye() {
  const int S = 128;
  TCanvas C(S, S, Rgb(1, 1, 1));
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const float U = (X + 0.5f) / S - 0.5f, V = (Y + 0.5f) / S - 0.5f;
      const float Iris = (U * U) / (0.36f * 0.36f) + ((V - 0.04f) * (V - 0.04f)) / (0.42f * 0.42f);
      TRgba P = Rgb(1, 1, 1);
      if (Iris < 1) {
        const float T = std::clamp((V + 0.38f) / 0.84f, 0.0f, 1.0f);
        P = Rgb(0.10f + 0.15f * T, 0.18f + 0.55f * T, 0.32f + 0.45f * T);
        const float Ring = std::sqrt(Iris);
        if (Ring > 0.86f) P = Rgb(0.08f, 0.14f, 0.25f);
        const float Pupil = (U * U) / (0.14f * 0.14f) + ((V - 0.06f) * (V - 0.06f)) / (0.2f * 0.2f);
        if (Pupil < 1) P = Rgb(0.05f, 0.07f, 0.15f);
      }
      if (V < -0.36f) P = Rgb(0.18f, 0.10f, 0.14f);
      C.At(X, Y) = P;
    }
  return C;
}

// The eyes' highlights, placed like the iris texture: a large round one upper left, a small one
// lower right, on clear white (white also in the clear texels, so filtering leaves no dark fringe).
TCanvas PaintHighlight() {
  const int S = 128;
  TCanvas C(S, S, Rgb(1, 1, 1, 0));
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const float U = (X + 0.5f) / S - 0.5f, V = (Y + 0.5f) / S - 0.5f;
      const float H1 = std::hypot(U + 0.13f, V + 0.14f) / 0.085f;
      const float H2 = std::hypot(U - 0.12f, V - 0.22f) / 0.04f;
      // Soft over the outer fifth of each spot.
      const float A = std::max(std::clamp((1.0f - H1) * 5.0f, 0.0f, 1.0f),
                               std::clamp((1.0f - H2) * 5.0f, 0.0f, 1.0f));
      C.At(X, Y) = Rgb(1, 1, 1, A);
    }
  return C;
}

// Sphere map of the hair (added): black but for a soft bright band across the upper half, where
// the normals face up and towards the viewer: the ring of shine on the crown.
TCanvas PaintHairSphere() {
  const int S = 64;
  TCanvas C(S, S);
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const float U = (X + 0.5f) / S * 2 - 1, V = (Y + 0.5f) / S * 2 - 1;  // V -1: top row
      const float R = std::hypot(U, V);
      const float Band = std::exp(-std::pow((R - 0.62f) / 0.14f, 2.0f)) *
                         std::clamp(-V * 1.6f, 0.0f, 1.0f) * (R < 1 ? 1.0f : 0.0f);
      C.At(X, Y) = Rgb(0.30f * Band, 0.34f * Band, 0.34f * Band);
    }
  return C;
}

// Sphere map of the eyes (multiplied): clear where the eye faces the viewer, a little darker and
// bluer towards the rim, which gives the iris a glassy curve.
TCanvas PaintEyeSphere() {
  const int S = 64;
  TCanvas C(S, S);
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const float U = (X + 0.5f) / S * 2 - 1, V = (Y + 0.5f) / S * 2 - 1;
      const float R = std::min(1.0f, std::hypot(U, V));
      const float Dark = R * R;
      C.At(X, Y) = Rgb(1 - 0.30f * Dark, 1 - 0.22f * Dark, 1 - 0.10f * Dark);
    }
  return C;
}

// Grey strands in runs of four texels (the material gives the hue), a shine band near the top,
// darker towards the ends.
TCanvas PaintHair() {
  const int S = 128;
  TCanvas C(S, S);
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const float V = (Y + 0.5f) / S;
      const float Strand = 0.86f + 0.14f * Hash(X / 4, 7);
      const float Shine = 0.25f * std::exp(-std::pow((V - 0.27f) / 0.035f, 2.0f)) *
                          (Hash(X / 4, 3) > 0.3f ? 1.0f : 0.4f);
      const float Shade = 1.0f - 0.18f * std::max(0.0f, V - 0.6f) / 0.4f;
      const float L = std::round((Strand * Shade + Shine) * 32.0f) / 32.0f;
      C.At(X, Y) = Rgb(L, L, L);
    }
  return C;
}

// The blouse: white, navy bands at the hem and cuffs (top rows) and a sailor collar at the
// neckline (bottom rows), each with a white stripe.
TCanvas PaintCloth() {
  const int S = 128;
  TCanvas C(S, S);
  const TRgba Navy = Rgb(0.13f, 0.17f, 0.38f);
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const float Fold = 0.97f + 0.03f * std::sin(X * 3.14159f / 8.0f);
      TRgba P = Rgb(Fold, Fold, Fold);
      if (Y < 10) P = (Y == 5 || Y == 6) ? Rgb(1, 1, 1) : Navy;
      if (Y >= 104) P = (Y == 110 || Y == 111) ? Rgb(1, 1, 1) : Navy;
      C.At(X, Y) = P;
    }
  return C;
}

// The skirt: navy pleats (a shade line per fold) with a white stripe above the hem.
TCanvas PaintSkirt() {
  const int S = 128;
  TCanvas C(S, S);
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const float Fold = X % 32;
      const float Shade = 0.85f + 0.15f * std::fabs(Fold - 16.0f) / 16.0f;
      TRgba P = Rgb(0.16f * Shade, 0.21f * Shade, 0.45f * Shade);
      if (Y >= 104 && Y < 110) P = Rgb(0.95f, 0.95f, 0.97f);
      C.At(X, Y) = P;
    }
  return C;
}

TCanvas PaintRibbon() {
  const int S = 32;
  TCanvas C(S, S);
  for (int Y = 0; Y < S; ++Y)
    for (int X = 0; X < S; ++X) {
      const bool Edge = Y < 3 || Y >= S - 3;
      C.At(X, Y) = Edge ? Rgb(0.62f, 0.06f, 0.12f) : Rgb(0.88f, 0.16f, 0.24f);
    }
  return C;
}

}  // namespace

std::vector<TDemoTexture> BuildDemoTextures() {
  return {
      {"tex/skin.png", EncodePng(PaintSkin())},
      {"tex/eye.png", EncodePng(PaintEye())},
      {"tex/hair.tga", EncodeTgaRle(PaintHair(), 32, "Quenlor hair")},
      {"tex/cloth.dds", EncodeDds(PaintCloth(), false)},
      {"tex/skirt.dds", EncodeDds(PaintSkirt(), true)},
      {"tex/ribbon.tga", EncodeTgaRle(PaintRibbon(), 24, "")},
      {"tex/highlight.png", EncodePng(PaintHighlight())},
      // Sphere files hold ordinary picture data under their own extensions.
      {"tex/hair.spa", EncodePng(PaintHairSphere())},
      {"tex/eye.sph", EncodeBmp24(PaintEyeSphere())},
  };
}

std::vector<TDemoTexture> BuildToonRamps() {
  // The shade colour of each ramp; the lit half is white. A cel edge a little past the
  // terminator, softened over a few rows. Tall ramps keep the wrap of the top row onto the
  // bottom (the sampler repeats) to a sliver.
  const float Shades[10][3] = {{0.80f, 0.80f, 0.90f}, {0.96f, 0.80f, 0.78f}, {0.84f, 0.84f, 0.84f},
                               {0.70f, 0.80f, 0.90f}, {0.86f, 0.78f, 0.92f}, {0.78f, 0.88f, 0.96f},
                               {0.94f, 0.90f, 0.78f}, {0.62f, 0.62f, 0.68f}, {0.92f, 0.82f, 0.84f},
                               {1.0f, 1.0f, 1.0f}};
  std::vector<TDemoTexture> Result;
  for (int I = 0; I < 10; ++I) {
    TCanvas C(8, 256);
    for (int Y = 0; Y < 256; ++Y) {
      const float T = (Y + 0.5f) / 256.0f;
      const float Edge = std::clamp((T - 0.54f) / 0.06f, 0.0f, 1.0f);
      const TRgba P = Rgb(1 + (Shades[I][0] - 1) * Edge, 1 + (Shades[I][1] - 1) * Edge,
                          1 + (Shades[I][2] - 1) * Edge);
      for (int X = 0; X < 8; ++X) C.At(X, Y) = P;
    }
    char Name[32];
    std::snprintf(Name, sizeof Name, "Toon/toon%02d.bmp", I + 1);
    Result.push_back({Name, EncodeBmp24(C)});
  }
  return Result;
}

bool WriteDemoFile(const std::string& AOutputFolder, const std::string& ARelative,
                   const TBytes& ABytes, std::string& AError) {
  namespace fs = std::filesystem;
  const fs::path Path = fs::path(AOutputFolder) / ARelative;
  std::error_code Error;
  fs::create_directories(Path.parent_path(), Error);
  if (!WriteFileBytes(Path.string(), ABytes)) {
    AError = "cannot write " + Path.string();
    return false;
  }
  return true;
}

bool WriteDemoAssets(const std::string& AOutputFolder, std::string& AError) {
  auto Write = [&](const std::string& ARelative, const TBytes& ABytes) {
    return WriteDemoFile(AOutputFolder, ARelative, ABytes, AError);
  };
  try {
    for (const TDemoTexture& T : BuildToonRamps())
      if (!Write(T.Path, T.Bytes)) return false;
    for (const TDemoTexture& T : BuildDemoTextures())
      if (!Write(std::string("mmd/model/") + T.Path, T.Bytes)) return false;
    if (!Write(kDemoModelPath, BuildDemoModel().Build())) return false;
    if (!Write(kDemoMotionPath, BuildDemoMotion().Build())) return false;
    if (!Write(kDemoCameraPath, BuildDemoCamera().Build())) return false;
  } catch (const std::exception& E) {
    AError = E.what();
    return false;
  }
  return true;
}
