// E2EPicture: the pictures the end-to-end suites read back from the viewer (screenshots as BMP)
// and compare: an RGB picture with row 0 at the top, cropping, and counting changed pixels.
// Header-only; standard library only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace e2e {

using TRgb = std::array<int, 3>;

struct TPicture {
  int Width = 0, Height = 0;
  std::vector<TRgb> Pixels;  // row 0 at the top
  const TRgb& At(int AX, int AY) const { return Pixels[std::size_t(AY) * Width + AX]; }
  int Area() const { return Width * Height; }
  // The rectangle, or an empty picture when it does not lie wholly inside.
  TPicture Crop(int AX, int AY, int AWidth, int AHeight) const {
    TPicture P;
    if (AX < 0 || AY < 0 || AWidth <= 0 || AHeight <= 0 || AX + AWidth > Width ||
        AY + AHeight > Height)
      return P;
    P.Width = AWidth, P.Height = AHeight;
    for (int Y = 0; Y < AHeight; ++Y)
      for (int X = 0; X < AWidth; ++X) P.Pixels.push_back(At(AX + X, AY + Y));
    return P;
  }
};

// An uncompressed 24-bit BMP (bottom-up rows padded to 4 bytes); empty when it is not one.
inline TPicture ReadBmp(const std::filesystem::path& APath) {
  std::ifstream In(APath, std::ios::binary);
  const std::vector<unsigned char> D((std::istreambuf_iterator<char>(In)),
                                     std::istreambuf_iterator<char>());
  TPicture P;
  if (D.size() < 54 || D[0] != 'B' || D[1] != 'M' || D[28] != 24) return P;
  auto U32 = [&](std::size_t O) {
    return uint32_t(D[O]) | uint32_t(D[O + 1]) << 8 | uint32_t(D[O + 2]) << 16 |
           uint32_t(D[O + 3]) << 24;
  };
  const int W = int(U32(18)), H = int(U32(22));
  const std::size_t Stride = (std::size_t(W) * 3 + 3) & ~std::size_t(3), Offset = U32(10);
  if (W <= 0 || H <= 0 || D.size() < Offset + Stride * H) return P;
  P.Width = W, P.Height = H;
  P.Pixels.resize(std::size_t(W) * H);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      const unsigned char* S = &D[Offset + (H - 1 - Y) * Stride + 3 * X];
      P.Pixels[std::size_t(Y) * W + X] = {S[2], S[1], S[0]};
    }
  return P;
}

// Pixels that differ at all; -1 when the sizes differ.
inline int DifferentPixels(const TPicture& A, const TPicture& B) {
  if (A.Width != B.Width || A.Height != B.Height) return -1;
  int N = 0;
  for (std::size_t I = 0; I < A.Pixels.size(); ++I) N += A.Pixels[I] != B.Pixels[I];
  return N;
}

}  // namespace e2e
