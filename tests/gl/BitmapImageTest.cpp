// Platform bitmap and its BMP writer; the stb_image route into 32-bit BGRA bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "gl/Bitmap.h"
#include "gl/Textures.h"
#include "tests/gl/ImageFixtures.h"

using fixtures::Bytes;

namespace {

std::uint32_t U32At(const Bytes& ABytes, std::size_t AOffset) {
  return ABytes[AOffset] | ABytes[AOffset + 1] << 8 | ABytes[AOffset + 2] << 16 |
         std::uint32_t(ABytes[AOffset + 3]) << 24;
}

TEST(Bitmap, RowsArePaddedToFourBytesAndBoundsChecked) {
  struct {
    int Width;
    TPixelFormat Format;
    std::size_t Stride;
  } cases[] = {{3, pf24bit, 12}, {4, pf24bit, 12}, {1, pf15bit, 4},
               {3, pf15bit, 8},  {3, pf32bit, 12}, {5, pfCustom, 0}};
  for (const auto& c : cases) {
    TBitmap b(c.Width, 2, c.Format);
    EXPECT_EQ(b.RowStride(), c.Stride) << c.Width << " " << c.Format;
    if (c.Format == pfCustom) {
      EXPECT_THROW(b.ScanLine(0), ERangeError);
    } else {
      EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), std::ptrdiff_t(c.Stride));
      EXPECT_THROW(b.ScanLine(2), ERangeError);
      EXPECT_THROW(b.ScanLine(-1), ERangeError);
    }
  }
}

TEST(Bitmap, SizeBeyondTheLimitsIsRefused) {
  // pfCustom holds no pixels, so the limits can be probed without allocating.
  EXPECT_NO_THROW(TBitmap(MaxImageDimension, 4096, pfCustom));
  EXPECT_NO_THROW(TBitmap(0, 0, pf24bit));
  for (auto size : {std::pair{MaxImageDimension + 1, 1}, std::pair{1, MaxImageDimension + 1},
                    std::pair{MaxImageDimension, 4097}, std::pair{-1, 1}}) {
    // Plain copies: clang 14 lambdas cannot capture structured bindings.
    const int w = size.first, h = size.second;
    EXPECT_TRUE(
        fixtures::ThrowsWith<EInvalidGraphic>([&] { TBitmap(w, h, pfCustom); }, SInvalidImageSize))
        << w << " x " << h;
  }
  TBitmap b(2, 2, pf24bit);
  EXPECT_THROW(b.SetWidth(MaxImageDimension + 1), EInvalidGraphic);
}

// A 3 x 2 picture: rows of 9 bytes are stored in 12 with zero padding, bottom row first.
TEST(Bitmap, BmpWriterStoresRowsBottomUpPaddedToFourBytes) {
  TBitmap b(3, 2, pf24bit);
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < 9; ++i) b.ScanLine(r)[i] = std::uint8_t(10 * (r + 1) + i);
  const Bytes bmp = b.SaveToBytes();
  ASSERT_EQ(bmp.size(), 54u + 24u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(U32At(bmp, 2), 78u);   // file size
  EXPECT_EQ(U32At(bmp, 10), 54u);  // pixel data offset
  EXPECT_EQ(U32At(bmp, 14), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(U32At(bmp, 18), 3u);
  EXPECT_EQ(U32At(bmp, 22), 2u);  // positive: bottom-up
  EXPECT_EQ(bmp[26] | bmp[27] << 8, 1);
  EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);
  EXPECT_EQ(U32At(bmp, 30), 0u);   // BI_RGB
  EXPECT_EQ(U32At(bmp, 34), 24u);  // image bytes
  for (int stored = 0; stored < 2; ++stored) {
    const int row = 1 - stored;
    const std::uint8_t* p = bmp.data() + 54 + stored * 12;
    EXPECT_EQ(0, std::memcmp(p, b.ScanLine(row), 9)) << "stored row " << stored;
    EXPECT_EQ(p[9] | p[10] | p[11], 0) << "padding of stored row " << stored;
  }
}

TEST(Bitmap, BmpWriterWidensEveryFormatTo24Bits) {
  TBitmap b32(2, 1, pf32bit);
  const std::uint8_t px32[8] = {1, 2, 3, 200, 4, 5, 6, 0};
  std::memcpy(b32.ScanLine(0), px32, 8);
  const Bytes out32 = b32.SaveToBytes();
  const std::uint8_t want32[8] = {1, 2, 3, 4, 5, 6, 0, 0};  // alpha dropped, row padded
  EXPECT_EQ(0, std::memcmp(out32.data() + 54, want32, 8));

  TBitmap b15(3, 1, pf15bit);
  const std::uint16_t words[3] = {0x7FFF, 0x001F, 0x0022};  // white; pure blue; 1 in G, 2 in B
  for (int i = 0; i < 3; ++i) {
    b15.ScanLine(0)[2 * i] = std::uint8_t(words[i]);
    b15.ScanLine(0)[2 * i + 1] = std::uint8_t(words[i] >> 8);
  }
  const Bytes out15 = b15.SaveToBytes();
  const std::uint8_t want15[9] = {255, 255, 255, 255, 0, 0, 16, 8, 0};
  EXPECT_EQ(0, std::memcmp(out15.data() + 54, want15, 9));

  EXPECT_THROW(TBitmap(1, 1, pfCustom).SaveToBytes(), EInvalidGraphic);
}

TEST(Bitmap, SaveToFileWritesTheBmpAndReportsUnwritablePaths) {
  const auto dir = fixtures::TempDir("bmp_file");
  TBitmap b(5, 3, pf24bit);
  b.ScanLine(2)[14] = 99;
  b.SaveToFile(dir / "shot.png");  // the extension does not change the format
  std::ifstream f(dir / "shot.png", std::ios::binary);
  const Bytes written{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  EXPECT_EQ(written, b.SaveToBytes());
  EXPECT_THROW(b.SaveToFile(dir / "missing" / "x.bmp"), EFOpenError);
  std::filesystem::remove_all(dir);
}

TEST(ImageCodec, BmpFromTheWriterDecodesToTheSamePixelsTopRowFirst) {
  TBitmap b(3, 2, pf24bit);
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < 9; ++i) b.ScanLine(r)[i] = std::uint8_t(30 * r + 3 * i + 1);
  const TBitmap decoded = DecodeImageBytes(b.SaveToBytes());
  ASSERT_EQ(decoded.PixelFormat(), pf32bit);
  ASSERT_EQ(decoded.Width(), 3);
  ASSERT_EQ(decoded.Height(), 2);
  for (int r = 0; r < 2; ++r)
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t* d = decoded.ScanLine(r) + 4 * x;
      const std::uint8_t* s = b.ScanLine(r) + 3 * x;
      EXPECT_EQ(Bytes(d, d + 4), (Bytes{s[0], s[1], s[2], 255})) << r << "," << x;
    }
}

// Straight alpha: the colour of a transparent pixel survives unchanged.
TEST(ImageCodec, PngDecodesToBgraWithStraightAlpha) {
  const Bytes rgba = {255, 0,  0,  255, 0,  255, 0,  128, 0,  0,   255, 0,  // top row
                      10,  20, 30, 40,  50, 60,  70, 80,  90, 100, 110, 120};
  const TBitmap decoded = DecodeImageBytes(fixtures::EncodePng(3, 2, 4, rgba));
  ASSERT_EQ(decoded.PixelFormat(), pf32bit);
  ASSERT_EQ(decoded.Width(), 3);
  ASSERT_EQ(decoded.Height(), 2);
  for (int r = 0; r < 2; ++r)
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t* s = rgba.data() + (r * 3 + x) * 4;
      const std::uint8_t* d = decoded.ScanLine(r) + 4 * x;
      EXPECT_EQ(Bytes(d, d + 4), (Bytes{s[2], s[1], s[0], s[3]})) << r << "," << x;
    }
}

TEST(ImageCodec, JpegDecodesTopRowFirst) {
  // Top half red, bottom half blue, 16 x 16: far from block edges the colours are near exact.
  Bytes rgb;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) {
      rgb.push_back(y < 8 ? 255 : 0);
      rgb.push_back(0);
      rgb.push_back(y < 8 ? 0 : 255);
    }
  const TBitmap decoded = DecodeImageBytes(fixtures::EncodeJpg(16, 16, rgb));
  ASSERT_EQ(decoded.Width(), 16);
  ASSERT_EQ(decoded.Height(), 16);
  const std::uint8_t* top = decoded.ScanLine(1) + 4 * 4;
  const std::uint8_t* bottom = decoded.ScanLine(14) + 4 * 4;
  EXPECT_LT(top[0], 40);   // blue
  EXPECT_GT(top[2], 215);  // red
  EXPECT_GT(bottom[0], 215);
  EXPECT_LT(bottom[2], 40);
  EXPECT_EQ(top[3], 255);
}

TEST(ImageCodec, UndecodableOrAbsurdDataFailsCleanly) {
  Bytes png = fixtures::EncodePng(2, 2, 3, Bytes(12, 7));
  const Bytes truncated(png.begin(), png.begin() + png.size() / 2);
  // A PNG header claiming 100000 x 1 pixels: the size is refused before anything is decoded.
  Bytes wide = png;
  wide[16] = 0;
  wide[17] = 0x01;
  wide[18] = 0x86;
  wide[19] = 0xA0;
  // A 30-byte GIF whose screen and frame claim 4112 x 4112 pixels: within the size limits, but far
  // more than 30 bytes can encode, so it is refused before the codec allocates the picture.
  const Bytes gif = {'G',  'I', 'F',  '8',  '9', 'a',  0x10, 0x10, 0x10, 0x10, 0, 0, 0,  // screen
                     0x2C, 0,   0,    0,    0,   0x10, 0x10, 0x10, 0x10, 0,              // frame
                     2,    2,   0x44, 0x01, 0,   0x3B};  // data, end
  // A complete PNG of 2 x 2 pixels whose header is edited to 4000 x 4000.
  Bytes tall = png;
  tall[16] = tall[20] = 0;
  tall[17] = tall[21] = 0;
  tall[18] = tall[22] = 0x0F;
  tall[19] = tall[23] = 0xA0;
  struct {
    const char* Name;
    Bytes Data;
    bool SizeError;
  } cases[] = {{"empty", {}, false},
               {"garbage", Bytes(64, 0x5A), false},
               {"truncated png", truncated, false},
               {"png 100000 wide", wide, true},
               {"gif 4112 x 4112 in 30 bytes", gif, true},
               {"png of 2 x 2 pixels claiming 4000 x 4000", tall, true}};
  for (const auto& c : cases) {
    try {
      DecodeImageBytes(c.Data);
      ADD_FAILURE() << c.Name << ": nothing thrown";
    } catch (const EInvalidGraphic& e) {
      EXPECT_TRUE(c.SizeError) << c.Name;
      EXPECT_STREQ(e.what(), SInvalidImageSize);
    } catch (const EReadError& e) {
      EXPECT_FALSE(c.SizeError) << c.Name;
      EXPECT_EQ(std::string(e.what()).rfind(SReadError, 0), 0u) << c.Name << ": " << e.what();
    }
  }
}

// The codec would grow its buffer to a chunk's declared length before reading it: a PNG whose
// data chunk claims 1.5 GB is refused by the chunk check, before the codec sees it.
TEST(ImageCodec, PngChunkLongerThanTheDataIsRefusedBeforeDecoding) {
  Bytes png = fixtures::EncodePng(5, 3, 1, Bytes(15, 9));
  ASSERT_EQ(std::string(png.begin() + 37, png.begin() + 41), "IDAT");
  png[33] = 0x5D;
  png[34] = 0x00;
  png[35] = 0x9A;
  png[36] = 0x11;
  EXPECT_TRUE(fixtures::ThrowsWith<EReadError>(
      [&] { DecodeImageBytes(png); }, std::string(SReadError) + ": PNG chunk runs past the data"));
}

// 16-bit PNM files are widened to RGBA here, not by the codec (which overruns its buffer on them):
// each sample becomes one byte (both bytes of each sample here are equal, so the codec's byte order
// does not matter).
TEST(ImageCodec, SixteenBitPnmIsWidenedToBgra) {
  auto pnm = [](const std::string& AHeader, const Bytes& ASamples) {
    Bytes out(AHeader.begin(), AHeader.end());
    out.insert(out.end(), ASamples.begin(), ASamples.end());
    return out;
  };
  const TBitmap grey = DecodeImageBytes(pnm("P5\n2 1\n65535\n", {0x12, 0x12, 0xAB, 0xAB}));
  ASSERT_EQ(grey.Width(), 2);
  const std::uint8_t* row = grey.ScanLine(0);
  EXPECT_EQ(Bytes(row, row + 8), (Bytes{0x12, 0x12, 0x12, 255, 0xAB, 0xAB, 0xAB, 255}));
  const TBitmap rgb =
      DecodeImageBytes(pnm("P6\n1 1\n65535\n", {0x10, 0x10, 0x20, 0x20, 0x30, 0x30}));
  row = rgb.ScanLine(0);
  EXPECT_EQ(Bytes(row, row + 4), (Bytes{0x30, 0x20, 0x10, 255}));  // B, G, R, A
}

Bytes Concat(const std::string& AHeader, const Bytes& ABody) {
  Bytes out(AHeader.begin(), AHeader.end());
  out.insert(out.end(), ABody.begin(), ABody.end());
  return out;
}

// A Radiance HDR file of AWidth x 2 pixels from the writer (run-length encoded from 8 pixels wide).
Bytes Hdr(int AWidth) {
  std::vector<float> values(std::size_t(AWidth) * 2 * 3);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = float(i % 7) * 0.1f;
  Bytes out;
  stbi_write_hdr_to_func(
      [](void* AOut, void* AData, int ASize) {
        auto* bytes = static_cast<std::uint8_t*>(AData);
        static_cast<Bytes*>(AOut)->insert(static_cast<Bytes*>(AOut)->end(), bytes, bytes + ASize);
      },
      &out, AWidth, 2, 3, values.data());
  return out;
}

// Formats the codec reads in one piece without checking the length (binary PNM, flat HDR) would
// leave the picture's memory uninitialised when the data ends early, and a run-length HDR count of
// 0 (which is also what the codec reads past the end) never moves on: such data is refused, while
// complete files of the same kinds still decode.
TEST(ImageCodec, PictureDataThatEndsEarlyOrNeverEndsIsRefused) {
  const Bytes rgb(2 * 2 * 3, 0x40);
  const Bytes hdrRle = Hdr(9), hdrFlat = Hdr(3);
  // The rows start after the resolution line, "-Y 2 +X 9".
  const std::string text(hdrRle.begin(), hdrRle.end());
  const std::size_t rleData = text.find('\n', text.find("+X ")) + 1;
  Bytes zeroCount(hdrRle.begin(), hdrRle.end());
  zeroCount[rleData + 4] = 0;  // a dump of nothing as the first row's first count
  struct {
    const char* Name;
    Bytes Data;
    bool Decodes;
  } cases[] = {
      {"complete 8-bit PNM with a comment", Concat("P6\n# made here\n2 2\n255\n", rgb), true},
      {"8-bit PNM one byte short", Concat("P6\n2 2\n255\n", Bytes(rgb.begin(), rgb.end() - 1)),
       false},
      {"8-bit PNM header only", Concat("P5\n5453 5\n255\n", {}), false},
      {"16-bit PNM one sample short", Concat("P5\n5453 5\n4553\n", {0xB4, 0xB4}), false},
      {"complete run-length HDR", hdrRle, true},
      {"complete flat HDR", hdrFlat, true},
      {"flat HDR one byte short", Bytes(hdrFlat.begin(), hdrFlat.end() - 1), false},
      {"run-length HDR ending inside its rows", Bytes(hdrRle.begin(), hdrRle.end() - 5), false},
      {"run-length HDR ending after its first row marker",
       Bytes(hdrRle.begin(), hdrRle.begin() + std::ptrdiff_t(rleData) + 4), false},
      {"run-length HDR with a zero count", zeroCount, false},
  };
  for (const auto& c : cases) {
    if (c.Decodes) {
      const TBitmap bitmap = DecodeImageBytes(c.Data);
      EXPECT_GT(bitmap.Width(), 0) << c.Name;
      continue;
    }
    EXPECT_TRUE(fixtures::ThrowsWith<EReadError>(
        [&] { DecodeImageBytes(c.Data); },
        std::string(SReadError) + ": the picture data ends early or is corrupt"))
        << c.Name;
  }
  // Every cut of the run-length file inside its data is refused, not decoded or spun on.
  for (std::size_t cut = rleData; cut < hdrRle.size(); ++cut)
    EXPECT_THROW(DecodeImageBytes(Bytes(hdrRle.begin(), hdrRle.begin() + std::ptrdiff_t(cut))),
                 EReadError)
        << cut;
}

}  // namespace
