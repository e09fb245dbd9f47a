#include "shell/Overlay.h"

#include <stb/stb_truetype.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "gl/loader/OpenGLApis.h"
#include "math/Errors.h"

namespace {

constexpr float kTextPixels = 18.0f;
constexpr int kPadding = 8;
constexpr int kBarHeight = 6;

// UTF-8 to code points; a malformed byte becomes U+FFFD.
std::vector<std::uint32_t> CodePoints(const std::string& AText) {
  std::vector<std::uint32_t> Result;
  for (std::size_t I = 0; I < AText.size();) {
    const auto B = static_cast<unsigned char>(AText[I]);
    int Length = B < 0x80 ? 1 : (B >> 5) == 6 ? 2 : (B >> 4) == 14 ? 3 : (B >> 3) == 30 ? 4 : 0;
    if (Length == 0 || I + Length > AText.size()) {
      Result.push_back(0xFFFD);
      ++I;
      continue;
    }
    std::uint32_t C = Length == 1 ? B : B & (0x7F >> Length);
    for (int K = 1; K < Length; ++K) C = C << 6 | (static_cast<unsigned char>(AText[I + K]) & 0x3F);
    Result.push_back(C);
    I += Length;
  }
  return Result;
}

}  // namespace

// One font at one size over stb_truetype: widths and glyphs blended into an RGBA picture.
class TTextRasterizer {
 public:
  explicit TTextRasterizer(const std::string& AFontFile) {
    std::ifstream In(AFontFile, std::ios::binary);
    FData.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
    const auto* Data = reinterpret_cast<const unsigned char*>(FData.data());
    if (FData.empty() || !stbtt_InitFont(&FFont, Data, stbtt_GetFontOffsetForIndex(Data, 0)))
      throw Exception("Cannot read the font \"" + AFontFile + "\"");
    FScale = stbtt_ScaleForPixelHeight(&FFont, kTextPixels);
    int Ascent = 0, Descent = 0, Gap = 0;
    stbtt_GetFontVMetrics(&FFont, &Ascent, &Descent, &Gap);
    FAscent = static_cast<int>(std::ceil(Ascent * FScale));
    FLineHeight = static_cast<int>(std::ceil((Ascent - Descent + Gap) * FScale));
  }
  int LineHeight() const { return FLineHeight; }
  int Ascent() const { return FAscent; }

  int Width(const std::string& AText) const {
    float X = 0.0f;
    for (std::uint32_t C : CodePoints(AText)) X += Advance(C);
    return static_cast<int>(std::ceil(X));
  }

  // White text with its top at ATop.
  void Draw(TRgbaImage& AImage, int AX, int ATop, const std::string& AText) const {
    float X = static_cast<float>(AX);
    const int Baseline = ATop + FAscent;
    for (std::uint32_t C : CodePoints(AText)) {
      int W = 0, H = 0, XOff = 0, YOff = 0;
      unsigned char* Glyph =
          stbtt_GetCodepointBitmap(&FFont, 0, FScale, static_cast<int>(C), &W, &H, &XOff, &YOff);
      for (int Y = 0; Y < H; ++Y)
        for (int GX = 0; GX < W; ++GX) {
          const int PX = static_cast<int>(X) + XOff + GX, PY = Baseline + YOff + Y;
          if (PX < 0 || PY < 0 || PX >= AImage.Width || PY >= AImage.Height) continue;
          const int Coverage = Glyph[Y * W + GX];
          std::uint8_t* P = AImage.At(PX, PY);
          for (int K = 0; K < 3; ++K)
            P[K] = static_cast<std::uint8_t>(P[K] + (255 - P[K]) * Coverage / 255);
          P[3] = static_cast<std::uint8_t>(std::max<int>(P[3], Coverage));
        }
      stbtt_FreeBitmap(Glyph, nullptr);
      X += Advance(C);
    }
  }

 private:
  float Advance(std::uint32_t C) const {
    int AdvanceWidth = 0, Bearing = 0;
    stbtt_GetCodepointHMetrics(&FFont, static_cast<int>(C), &AdvanceWidth, &Bearing);
    return AdvanceWidth * FScale;
  }
  std::string FData;
  stbtt_fontinfo FFont{};
  float FScale = 1.0f;
  int FAscent = 0;
  int FLineHeight = 0;
};

std::string FormatPlaybackTime(double AMilliseconds) {
  const long Tenths = std::lround(std::max(0.0, AMilliseconds) / 100.0);
  char Buffer[32];
  std::snprintf(Buffer, sizeof Buffer, "%ld:%02ld.%ld", Tenths / 600, Tenths / 10 % 60,
                Tenths % 10);
  return Buffer;
}

std::vector<std::string> OverlayLines(const TOverlayInfo& AInfo) {
  std::vector<std::string> Lines;
  const long Frame = std::lround(std::floor(AInfo.TimeMilliseconds * 3.0 / 100.0));
  char Buffer[96];
  std::snprintf(
      Buffer, sizeof Buffer, "%s / %s  %s", FormatPlaybackTime(AInfo.TimeMilliseconds).c_str(),
      FormatPlaybackTime(AInfo.LengthMilliseconds).c_str(), AInfo.Playing ? "playing" : "paused");
  Lines.push_back(Buffer);
  std::snprintf(Buffer, sizeof Buffer, "frame %ld  %.0f fps", Frame, AInfo.FramesPerSecond);
  Lines.push_back(Buffer);
  Lines.push_back("model: " + (AInfo.ModelName.empty() ? std::string("-") : AInfo.ModelName));
  std::string Motions;
  for (const std::string& Name : AInfo.MotionNames)
    Motions += (Motions.empty() ? "" : " + ") + Name;
  Lines.push_back("motion: " + (Motions.empty() ? std::string("-") : Motions));
  if (AInfo.SceneModels.size() > 1) {
    Lines.push_back("models (Tab selects):");
    for (std::size_t I = 0; I < AInfo.SceneModels.size(); ++I)
      Lines.push_back((static_cast<int>(I) == AInfo.Selected ? "> " : "  ") + AInfo.SceneModels[I]);
  }
  if (!AInfo.SongName.empty()) Lines.push_back("song: " + AInfo.SongName);
  if (AInfo.Physics >= 0) Lines.push_back(AInfo.Physics ? "physics: on" : "physics: off");
  Lines.push_back("P play  Home  PgUp/PgDn 5 s  , . frame  C camera  X physics  F1 hide");
  return Lines;
}

double OverlayProgress(const TOverlayInfo& AInfo) {
  if (AInfo.LengthMilliseconds <= 0.0) return 0.0;
  return std::clamp(AInfo.TimeMilliseconds / AInfo.LengthMilliseconds, 0.0, 1.0);
}

std::string FindJapaneseFont() {
  static const char* const kFonts[] = {
      "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
      "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf",
      "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
      "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf",
  };
  std::error_code Error;
  for (const char* Font : kFonts)
    if (std::filesystem::exists(Font, Error)) return Font;
  return {};
}

TOverlay::TOverlay(const std::string& AFontFile) {
  const std::string Font = AFontFile.empty() ? FindJapaneseFont() : AFontFile;
  try {
    if (!Font.empty()) FText = std::make_unique<TTextRasterizer>(Font);
  } catch (const std::exception&) {
    FText.reset();
  }
  if (!FText)
    std::fprintf(stderr,
                 "Quenlor: no font with Japanese glyphs found; the overlay shows no text\n");
}

TOverlay::~TOverlay() = default;

TRgbaImage TOverlay::Compose(const TOverlayInfo& AInfo) const {
  const std::vector<std::string> Lines = OverlayLines(AInfo);
  const int LineHeight = FText ? FText->LineHeight() : 0;
  int TextWidth = 240;
  if (FText)
    for (const std::string& Line : Lines) TextWidth = std::max(TextWidth, FText->Width(Line));
  const int Width = TextWidth + 2 * kPadding;
  const int Height = static_cast<int>(Lines.size()) * LineHeight + kBarHeight + 3 * kPadding;
  TRgbaImage Image(Width, Height);
  for (int Y = 0; Y < Height; ++Y)
    for (int X = 0; X < Width; ++X) {
      std::uint8_t* P = Image.At(X, Y);
      P[0] = P[1] = P[2] = 16;
      P[3] = 176;
    }
  // The progress bar under the time line's block: track and fill.
  const int BarTop = kPadding + LineHeight * static_cast<int>(Lines.size()) + kPadding;
  const int Filled = static_cast<int>(std::lround(OverlayProgress(AInfo) * TextWidth));
  for (int Y = BarTop; Y < BarTop + kBarHeight; ++Y)
    for (int X = 0; X < TextWidth; ++X) {
      std::uint8_t* P = Image.At(kPadding + X, Y);
      const std::uint8_t V = X < Filled ? 235 : 90;
      P[0] = P[1] = P[2] = V;
      P[3] = 230;
    }
  if (FText)
    for (std::size_t I = 0; I < Lines.size(); ++I)
      FText->Draw(Image, kPadding, kPadding + static_cast<int>(I) * LineHeight, Lines[I]);
  return Image;
}

void TOverlay::Draw(const TOverlayInfo& AInfo, int /*AWidth*/, int AHeight) const {
  TRgbaImage Image = Compose(AInfo);
  // GL's rows run bottom-up.
  std::vector<std::uint8_t> Rows(Image.Pixels.size());
  const std::size_t RowBytes = static_cast<std::size_t>(Image.Width) * 4;
  for (int Y = 0; Y < Image.Height; ++Y)
    std::copy_n(&Image.Pixels[Y * RowBytes], RowBytes, &Rows[(Image.Height - 1 - Y) * RowBytes]);

  GLint Program = 0, Unpack = 4;
  glGetIntegerv(GL_CURRENT_PROGRAM, &Program);
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &Unpack);
  const GLboolean Depth = glIsEnabled(GL_DEPTH_TEST), Blend = glIsEnabled(GL_BLEND);
  const GLboolean Cull = glIsEnabled(GL_CULL_FACE);
  glUseProgram(0);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_CULL_FACE);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  // Top-left corner, a margin from the edges.
  glWindowPos2i(10, std::max(0, AHeight - 10 - Image.Height));
  glDrawPixels(Image.Width, Image.Height, GL_RGBA, GL_UNSIGNED_BYTE, Rows.data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, Unpack);
  if (Depth) glEnable(GL_DEPTH_TEST);
  if (Cull) glEnable(GL_CULL_FACE);
  if (!Blend) glDisable(GL_BLEND);
  glUseProgram(static_cast<GLuint>(Program));
}
