// DemoImages: the picture encoders of the demo-asset generator (PNG, run-length TGA, DXT1/DXT5
// DDS with a mip chain, 24-bit BMP) and a small RGBA canvas the textures are painted on.
// Depends on the C++ standard library only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TRgba {
  std::uint8_t R = 0, G = 0, B = 0, A = 255;
  bool operator==(const TRgba&) const = default;
};

// Straight-alpha RGBA pixels, row 0 at the top.
class TCanvas {
 public:
  TCanvas(int AWidth, int AHeight, TRgba AFill = {});
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TRgba& At(int AX, int AY) { return FPixels[static_cast<std::size_t>(AY) * FWidth + AX]; }
  const TRgba& At(int AX, int AY) const {
    return FPixels[static_cast<std::size_t>(AY) * FWidth + AX];
  }
  // Half the size (at least 1 x 1), each pixel the mean of its 2 x 2 source block.
  TCanvas HalfSize() const;

 private:
  int FWidth, FHeight;
  std::vector<TRgba> FPixels;
};

using TBytes = std::vector<std::uint8_t>;

// PNG, 8-bit RGBA, zlib stream of stored blocks (valid, uncompressed).
TBytes EncodePng(const TCanvas& ACanvas);
// TGA image type 10 (run-length true colour), 24 or 32 bits, bottom row first, with an ID field.
TBytes EncodeTgaRle(const TCanvas& ACanvas, int ABitsPerPixel, const std::string& AImageId);
// DDS with FourCC "DXT1" or "DXT5" and the whole mip chain down to 1 x 1, top row first.
TBytes EncodeDds(const TCanvas& ACanvas, bool ADxt5);
// Uncompressed 24-bit Windows BMP, bottom-up rows padded to 4 bytes.
TBytes EncodeBmp24(const TCanvas& ACanvas);

// The 4 x 4 block encoders (exposed for tests): 8 bytes of colour, 8 bytes of DXT5 alpha.
void EncodeDxtColorBlock(const TRgba ABlock[16], std::uint8_t AOut[8]);
void EncodeDxt5AlphaBlock(const TRgba ABlock[16], std::uint8_t AOut[8]);

bool WriteFileBytes(const std::string& APath, const TBytes& ABytes);
