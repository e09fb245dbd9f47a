// Overlay: the on-screen display F1 shows over the window's picture: the time and length with a
// progress bar, the frame and the frames per second, the model's and the motions' names (Japanese
// too, through a system font with Japanese glyphs and stb_truetype), physics on or off and a key
// reminder. Drawn after a screenshot is read and before the swap, so no picture file holds it.
// Part of the shell; depends on stb_truetype and GL (compatibility profile) for the drawing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct TOverlayInfo {
  double TimeMilliseconds = 0.0;
  double LengthMilliseconds = 0.0;
  double FramesPerSecond = 0.0;
  std::string ModelName;                 // the selected model's
  std::vector<std::string> MotionNames;  // the selected model's
  // Every model of the scene by name (a stage's marked), listed when there are several; the
  // selected one is marked.
  std::vector<std::string> SceneModels;
  int Selected = -1;
  std::string SongName;
  int Physics = -1;  // -1: the model has none to switch, 0: off, 1: on
  bool Playing = false;
};

// "m:ss.d" (minutes as many as it takes).
std::string FormatPlaybackTime(double AMilliseconds);
// The overlay's text lines, top to bottom.
std::vector<std::string> OverlayLines(const TOverlayInfo& AInfo);
// How far through the loop, 0 to 1.
double OverlayProgress(const TOverlayInfo& AInfo);

// The first of the usual Debian fonts with Japanese glyphs that exists; empty when none.
std::string FindJapaneseFont();

// An RGBA picture, row 0 at the top, 4 bytes a pixel.
struct TRgbaImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Pixels;
  TRgbaImage() = default;
  TRgbaImage(int AWidth, int AHeight)
      : Width(AWidth), Height(AHeight), Pixels(static_cast<std::size_t>(AWidth) * AHeight * 4) {}
  std::uint8_t* At(int AX, int AY) {
    return &Pixels[(static_cast<std::size_t>(AY) * Width + AX) * 4];
  }
};

class TTextRasterizer;

class TOverlay {
 public:
  // AFontFile empty: FindJapaneseFont. Without a font the overlay draws its panel and bar only.
  explicit TOverlay(const std::string& AFontFile = std::string());
  ~TOverlay();
  TOverlay(const TOverlay&) = delete;
  TOverlay& operator=(const TOverlay&) = delete;

  bool Visible() const { return FVisible; }
  void Toggle() { FVisible = !FVisible; }
  bool HasFont() const { return FText != nullptr; }

  // The overlay's picture: a translucent panel with the lines and the progress bar.
  TRgbaImage Compose(const TOverlayInfo& AInfo) const;
  // Blends Compose's picture over the bound framebuffer's top-left corner (a client area of
  // AWidth x AHeight pixels); leaves the GL state as it found it.
  void Draw(const TOverlayInfo& AInfo, int AWidth, int AHeight) const;

 private:
  std::unique_ptr<TTextRasterizer> FText;
  bool FVisible = false;
};
