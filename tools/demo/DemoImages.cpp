#include "tools/demo/DemoImages.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

TCanvas::TCanvas(int AWidth, int AHeight, TRgba AFill)
    : FWidth(AWidth),
      FHeight(AHeight),
      FPixels(static_cast<std::size_t>(AWidth) * AHeight, AFill) {}

TCanvas TCanvas::HalfSize() const {
  const int W = std::max(1, FWidth / 2), H = std::max(1, FHeight / 2);
  TCanvas Result(W, H);
  for (int Y = 0; Y < H; ++Y)
    for (int X = 0; X < W; ++X) {
      int Sum[4] = {0, 0, 0, 0}, Count = 0;
      for (int DY = 0; DY < 2; ++DY)
        for (int DX = 0; DX < 2; ++DX) {
          const int SX = std::min(FWidth - 1, 2 * X + DX), SY = std::min(FHeight - 1, 2 * Y + DY);
          const TRgba& P = At(SX, SY);
          Sum[0] += P.R, Sum[1] += P.G, Sum[2] += P.B, Sum[3] += P.A, ++Count;
        }
      Result.At(X, Y) = TRgba{static_cast<std::uint8_t>((Sum[0] + Count / 2) / Count),
                              static_cast<std::uint8_t>((Sum[1] + Count / 2) / Count),
                              static_cast<std::uint8_t>((Sum[2] + Count / 2) / Count),
                              static_cast<std::uint8_t>((Sum[3] + Count / 2) / Count)};
    }
  return Result;
}

namespace {

void PutU16LE(TBytes& AOut, std::uint32_t AValue) {
  AOut.push_back(static_cast<std::uint8_t>(AValue));
  AOut.push_back(static_cast<std::uint8_t>(AValue >> 8));
}
void PutU32LE(TBytes& AOut, std::uint32_t AValue) {
  PutU16LE(AOut, AValue & 0xFFFF);
  PutU16LE(AOut, AValue >> 16);
}
void PutU32BE(TBytes& AOut, std::uint32_t AValue) {
  for (int Shift = 24; Shift >= 0; Shift -= 8)
    AOut.push_back(static_cast<std::uint8_t>(AValue >> Shift));
}

std::uint32_t Crc32(const std::uint8_t* AData, std::size_t ASize, std::uint32_t ACrc = 0) {
  static const std::array<std::uint32_t, 256> Table = [] {
    std::array<std::uint32_t, 256> T{};
    for (std::uint32_t N = 0; N < 256; ++N) {
      std::uint32_t C = N;
      for (int K = 0; K < 8; ++K) C = (C & 1) ? 0xEDB88320u ^ (C >> 1) : C >> 1;
      T[N] = C;
    }
    return T;
  }();
  std::uint32_t C = ~ACrc;
  for (std::size_t I = 0; I < ASize; ++I) C = Table[(C ^ AData[I]) & 0xFF] ^ (C >> 8);
  return ~C;
}

void PutPngChunk(TBytes& AOut, const char AType[4], const TBytes& AData) {
  PutU32BE(AOut, static_cast<std::uint32_t>(AData.size()));
  const std::size_t Start = AOut.size();
  AOut.insert(AOut.end(), AType, AType + 4);
  AOut.insert(AOut.end(), AData.begin(), AData.end());
  PutU32BE(AOut, Crc32(AOut.data() + Start, AOut.size() - Start));
}

std::uint16_t To565(int R, int G, int B) {
  return static_cast<std::uint16_t>(((R * 31 + 127) / 255) << 11 | ((G * 63 + 127) / 255) << 5 |
                                    ((B * 31 + 127) / 255));
}
void From565(std::uint16_t C, int& R, int& G, int& B) {
  const int R5 = C >> 11, G6 = (C >> 5) & 63, B5 = C & 31;
  R = (R5 << 3) | (R5 >> 2);
  G = (G6 << 2) | (G6 >> 4);
  B = (B5 << 3) | (B5 >> 2);
}

}  // namespace

TBytes EncodePng(const TCanvas& ACanvas) {
  const int W = ACanvas.Width(), H = ACanvas.Height();
  TBytes Raw;  // filter byte 0, then the row's RGBA bytes
  Raw.reserve(static_cast<std::size_t>(H) * (1 + 4 * W));
  for (int Y = 0; Y < H; ++Y) {
    Raw.push_back(0);
    for (int X = 0; X < W; ++X) {
      const TRgba& P = ACanvas.At(X, Y);
      Raw.insert(Raw.end(), {P.R, P.G, P.B, P.A});
    }
  }
  // zlib: header, stored deflate blocks of at most 65535 bytes, Adler-32.
  TBytes Zlib{0x78, 0x01};
  std::size_t Pos = 0;
  do {
    const std::size_t Len = std::min<std::size_t>(65535, Raw.size() - Pos);
    const bool Final = Pos + Len == Raw.size();
    Zlib.push_back(Final ? 1 : 0);
    PutU16LE(Zlib, static_cast<std::uint32_t>(Len));
    PutU16LE(Zlib, static_cast<std::uint32_t>(~Len & 0xFFFF));
    Zlib.insert(Zlib.end(), Raw.begin() + static_cast<std::ptrdiff_t>(Pos),
                Raw.begin() + static_cast<std::ptrdiff_t>(Pos + Len));
    Pos += Len;
  } while (Pos < Raw.size());
  std::uint32_t A = 1, B = 0;
  for (std::uint8_t Byte : Raw) {
    A = (A + Byte) % 65521;
    B = (B + A) % 65521;
  }
  PutU32BE(Zlib, (B << 16) | A);

  TBytes Out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  TBytes Header;
  PutU32BE(Header, static_cast<std::uint32_t>(W));
  PutU32BE(Header, static_cast<std::uint32_t>(H));
  Header.insert(Header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  PutPngChunk(Out, "IHDR", Header);
  PutPngChunk(Out, "IDAT", Zlib);
  PutPngChunk(Out, "IEND", {});
  return Out;
}

TBytes EncodeTgaRle(const TCanvas& ACanvas, int ABitsPerPixel, const std::string& AImageId) {
  const int W = ACanvas.Width(), H = ACanvas.Height();
  const int Bpp = ABitsPerPixel / 8;
  TBytes Out;
  Out.push_back(static_cast<std::uint8_t>(AImageId.size()));
  Out.push_back(0);             // no colour map
  Out.push_back(10);            // run-length true colour
  Out.insert(Out.end(), 5, 0);  // colour map spec
  PutU16LE(Out, 0);             // x origin
  PutU16LE(Out, 0);             // y origin
  PutU16LE(Out, static_cast<std::uint32_t>(W));
  PutU16LE(Out, static_cast<std::uint32_t>(H));
  Out.push_back(static_cast<std::uint8_t>(ABitsPerPixel));
  Out.push_back(Bpp == 4 ? 8 : 0);  // alpha bits; origin bottom-left
  Out.insert(Out.end(), AImageId.begin(), AImageId.end());

  auto PutPixel = [&](const TRgba& P) {
    Out.insert(Out.end(), {P.B, P.G, P.R});
    if (Bpp == 4) Out.push_back(P.A);
  };
  // Packets never cross a row: runs of 2..128 equal pixels, raw packets of 1..128 otherwise.
  for (int Row = H - 1; Row >= 0; --Row) {
    int X = 0;
    while (X < W) {
      int Run = 1;
      while (X + Run < W && Run < 128 && ACanvas.At(X + Run, Row) == ACanvas.At(X, Row)) ++Run;
      if (Run >= 2) {
        Out.push_back(static_cast<std::uint8_t>(0x80 | (Run - 1)));
        PutPixel(ACanvas.At(X, Row));
        X += Run;
        continue;
      }
      int Raw = 1;
      while (X + Raw < W && Raw < 128 &&
             !(X + Raw + 1 < W && ACanvas.At(X + Raw, Row) == ACanvas.At(X + Raw + 1, Row)))
        ++Raw;
      Out.push_back(static_cast<std::uint8_t>(Raw - 1));
      for (int K = 0; K < Raw; ++K) PutPixel(ACanvas.At(X + K, Row));
      X += Raw;
    }
  }
  return Out;
}

void EncodeDxtColorBlock(const TRgba ABlock[16], std::uint8_t AOut[8]) {
  // End points: the two texels farthest apart, so that a block of two colours (or a gradient
  // between two) keeps them whatever direction they differ in.
  int First = 0, Second = 0, Widest = -1;
  for (int I = 0; I < 16; ++I)
    for (int J = I + 1; J < 16; ++J) {
      const int DR = ABlock[I].R - ABlock[J].R, DG = ABlock[I].G - ABlock[J].G,
                DB = ABlock[I].B - ABlock[J].B;
      const int Dist = DR * DR + DG * DG + DB * DB;
      if (Dist > Widest) Widest = Dist, First = I, Second = J;
    }
  std::uint16_t C0 = To565(ABlock[First].R, ABlock[First].G, ABlock[First].B);
  std::uint16_t C1 = To565(ABlock[Second].R, ABlock[Second].G, ABlock[Second].B);
  if (C0 < C1) std::swap(C0, C1);
  std::uint32_t Indices = 0;
  if (C0 != C1) {
    // Four-colour mode (C0 > C1): C0, C1, 2/3 C0 + 1/3 C1, 1/3 C0 + 2/3 C1.
    int P[4][3];
    From565(C0, P[0][0], P[0][1], P[0][2]);
    From565(C1, P[1][0], P[1][1], P[1][2]);
    for (int K = 0; K < 3; ++K) {
      P[2][K] = (2 * P[0][K] + P[1][K]) / 3;
      P[3][K] = (P[0][K] + 2 * P[1][K]) / 3;
    }
    for (int I = 0; I < 16; ++I) {
      const int C[3] = {ABlock[I].R, ABlock[I].G, ABlock[I].B};
      int Best = 0, BestDist = 1 << 30;
      for (int E = 0; E < 4; ++E) {
        int Dist = 0;
        for (int K = 0; K < 3; ++K) Dist += (C[K] - P[E][K]) * (C[K] - P[E][K]);
        if (Dist < BestDist) BestDist = Dist, Best = E;
      }
      Indices |= static_cast<std::uint32_t>(Best) << (2 * I);
    }
  }
  AOut[0] = static_cast<std::uint8_t>(C0), AOut[1] = static_cast<std::uint8_t>(C0 >> 8);
  AOut[2] = static_cast<std::uint8_t>(C1), AOut[3] = static_cast<std::uint8_t>(C1 >> 8);
  for (int K = 0; K < 4; ++K) AOut[4 + K] = static_cast<std::uint8_t>(Indices >> (8 * K));
}

void EncodeDxt5AlphaBlock(const TRgba ABlock[16], std::uint8_t AOut[8]) {
  int A0 = 0, A1 = 255;
  for (int I = 0; I < 16; ++I)
    A0 = std::max<int>(A0, ABlock[I].A), A1 = std::min<int>(A1, ABlock[I].A);
  std::uint64_t Bits = 0;
  if (A0 != A1) {
    // Eight-value mode (A0 > A1): code 0 = A0, 1 = A1, 2..7 interpolate from A0 towards A1.
    int Values[8] = {A0, A1};
    for (int K = 2; K < 8; ++K) Values[K] = ((8 - K) * A0 + (K - 1) * A1) / 7;
    for (int I = 0; I < 16; ++I) {
      int Best = 0, BestDist = 1 << 30;
      for (int K = 0; K < 8; ++K) {
        const int Dist = std::abs(ABlock[I].A - Values[K]);
        if (Dist < BestDist) BestDist = Dist, Best = K;
      }
      Bits |= static_cast<std::uint64_t>(Best) << (3 * I);
    }
  }
  AOut[0] = static_cast<std::uint8_t>(A0);
  AOut[1] = static_cast<std::uint8_t>(A1);
  for (int K = 0; K < 6; ++K) AOut[2 + K] = static_cast<std::uint8_t>(Bits >> (8 * K));
}

TBytes EncodeDds(const TCanvas& ACanvas, bool ADxt5) {
  std::vector<TCanvas> Levels{ACanvas};
  while (Levels.back().Width() > 1 || Levels.back().Height() > 1)
    Levels.push_back(Levels.back().HalfSize());
  const int BlockBytes = ADxt5 ? 16 : 8;
  const std::uint32_t TopSize = static_cast<std::uint32_t>(
      BlockBytes * ((ACanvas.Width() + 3) / 4) * ((ACanvas.Height() + 3) / 4));
  TBytes Out{'D', 'D', 'S', ' '};
  PutU32LE(Out, 124);
  PutU32LE(Out, 0x1 | 0x2 | 0x4 | 0x1000 | 0x20000 |
                    0x80000);  // caps, height, width, format, mips, linear size
  PutU32LE(Out, static_cast<std::uint32_t>(ACanvas.Height()));
  PutU32LE(Out, static_cast<std::uint32_t>(ACanvas.Width()));
  PutU32LE(Out, TopSize);
  PutU32LE(Out, 0);  // depth
  PutU32LE(Out, static_cast<std::uint32_t>(Levels.size()));
  for (int K = 0; K < 11; ++K) PutU32LE(Out, 0);
  PutU32LE(Out, 32);   // pixel format size
  PutU32LE(Out, 0x4);  // FourCC
  Out.insert(Out.end(), {'D', 'X', 'T', static_cast<std::uint8_t>(ADxt5 ? '5' : '1')});
  for (int K = 0; K < 5; ++K) PutU32LE(Out, 0);
  PutU32LE(Out, 0x1000 | 0x8 | 0x400000);  // texture, complex, mip map
  for (int K = 0; K < 4; ++K) PutU32LE(Out, 0);

  for (const TCanvas& Level : Levels) {
    for (int BY = 0; BY < (Level.Height() + 3) / 4; ++BY)
      for (int BX = 0; BX < (Level.Width() + 3) / 4; ++BX) {
        TRgba Block[16];
        for (int I = 0; I < 16; ++I) {
          const int X = std::min(Level.Width() - 1, BX * 4 + I % 4);
          const int Y = std::min(Level.Height() - 1, BY * 4 + I / 4);
          Block[I] = Level.At(X, Y);
        }
        std::uint8_t Bytes[8];
        if (ADxt5) {
          EncodeDxt5AlphaBlock(Block, Bytes);
          Out.insert(Out.end(), Bytes, Bytes + 8);
        }
        EncodeDxtColorBlock(Block, Bytes);
        Out.insert(Out.end(), Bytes, Bytes + 8);
      }
  }
  return Out;
}

TBytes EncodeBmp24(const TCanvas& ACanvas) {
  const int W = ACanvas.Width(), H = ACanvas.Height();
  const std::uint32_t Stride = (static_cast<std::uint32_t>(W) * 3 + 3) & ~3u;
  const std::uint32_t ImageSize = Stride * static_cast<std::uint32_t>(H);
  TBytes Out{'B', 'M'};
  PutU32LE(Out, 54 + ImageSize);
  PutU32LE(Out, 0);
  PutU32LE(Out, 54);
  PutU32LE(Out, 40);
  PutU32LE(Out, static_cast<std::uint32_t>(W));
  PutU32LE(Out, static_cast<std::uint32_t>(H));
  PutU16LE(Out, 1);
  PutU16LE(Out, 24);
  PutU32LE(Out, 0);
  PutU32LE(Out, ImageSize);
  PutU32LE(Out, 2835);
  PutU32LE(Out, 2835);
  PutU32LE(Out, 0);
  PutU32LE(Out, 0);
  for (int Row = H - 1; Row >= 0; --Row) {
    for (int X = 0; X < W; ++X) {
      const TRgba& P = ACanvas.At(X, Row);
      Out.insert(Out.end(), {P.B, P.G, P.R});
    }
    Out.insert(Out.end(), Stride - static_cast<std::uint32_t>(W) * 3, 0);
  }
  return Out;
}

bool WriteFileBytes(const std::string& APath, const TBytes& ABytes) {
  std::FILE* File = std::fopen(APath.c_str(), "wb");
  if (!File) return false;
  const bool Ok = std::fwrite(ABytes.data(), 1, ABytes.size(), File) == ABytes.size();
  return std::fclose(File) == 0 && Ok;
}
