// TGA reader: raw and run-length data at 16/24/32 bits, header fields that are skipped, origin
// bits, and malformed files that must fail cleanly.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "gl/tgaimage.h"
#include "tests/gl/ImageFixtures.h"

using fixtures::Bytes;
using fixtures::Pixel;
using fixtures::TgaSpec;

namespace {

// The bytes of pixel (AX, ARow) of a bitmap, ARow 0 = top.
Bytes PixelAt(const TBitmap& ABitmap, int AX, int ARow) {
  const int b = BytesPerPixel(ABitmap.PixelFormat());
  const std::uint8_t* p = ABitmap.ScanLine(ARow) + AX * b;
  return Bytes(p, p + b);
}

struct TgaCase {
  const char* Name;
  std::uint8_t Type;
  int Bits;
  TPixelFormat Format;
};

void PrintTo(const TgaCase& ACase, std::ostream* AOut) {
  *AOut << ACase.Name;
}

class TgaDecode : public ::testing::TestWithParam<TgaCase> {};

// A 3 x 2 image whose first stored row is the bottom one. The run-length variant mixes a raw
// packet, a repeat packet that crosses from the first stored row into the second, and a raw tail.
TEST_P(TgaDecode, PlacesEveryPixelBottomRowFirstWithBytesUnchanged) {
  const TgaCase c = GetParam();
  const int b = c.Bits / 8;
  TgaSpec spec;
  spec.Type = c.Type;
  spec.Width = 3;
  spec.Height = 2;
  spec.Bits = c.Bits;
  Bytes file = fixtures::TgaHeader(spec);
  std::vector<Bytes> expected;  // in stored order
  if (c.Type == 2) {
    for (int i = 0; i < 6; ++i) {
      expected.push_back(Pixel(b, i));
      const Bytes p = Pixel(b, i);
      file.insert(file.end(), p.begin(), p.end());
    }
  } else {
    const Bytes p0 = Pixel(b, 0), p1 = Pixel(b, 1), x = Pixel(b, 9), p5 = Pixel(b, 5);
    file.push_back(0x01);  // raw, 2 pixels
    file.insert(file.end(), p0.begin(), p0.end());
    file.insert(file.end(), p1.begin(), p1.end());
    file.push_back(0x82);  // repeat, 3 pixels: the last of row 0 and two of row 1
    file.insert(file.end(), x.begin(), x.end());
    file.push_back(0x00);  // raw, 1 pixel
    file.insert(file.end(), p5.begin(), p5.end());
    expected = {p0, p1, x, x, x, p5};
  }
  TTGAImage image;
  image.LoadFromBytes(file);
  const TBitmap& bmp = image.Bitmap();
  ASSERT_EQ(bmp.PixelFormat(), c.Format);
  ASSERT_EQ(bmp.Width(), 3);
  ASSERT_EQ(bmp.Height(), 2);
  EXPECT_EQ(image.Header().DataTypeCode, c.Type);
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(PixelAt(bmp, i % 3, 1 - i / 3), expected[i]) << "stored pixel " << i;
}

INSTANTIATE_TEST_SUITE_P(
    RawAndRle, TgaDecode,
    ::testing::Values(TgaCase{"raw16", 2, 16, pf15bit}, TgaCase{"raw24", 2, 24, pf24bit},
                      TgaCase{"raw32", 2, 32, pf32bit}, TgaCase{"rle16", 10, 16, pf15bit},
                      TgaCase{"rle24", 10, 24, pf24bit}, TgaCase{"rle32", 10, 32, pf32bit}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// Raw packets that start at the last column of a row and run on into the next: a 3 x 3 image
// stored as raw 2 | raw 3 | raw 3 | raw 1, so that the second and third packets each start at
// column 2. Every origin: the row the packet runs into is above or below in memory, and a packet
// that kept writing along its first row would leave the rows after it unwritten.
TEST(TgaImage, RawPacketsCrossFromTheLastColumnIntoTheNextRow) {
  for (int bits : {16, 24, 32}) {
    for (std::uint8_t descriptor : {0x00, 0x20, 0x10, 0x30}) {
      const int b = bits / 8;
      TgaSpec spec;
      spec.Type = 10;
      spec.Width = 3;
      spec.Height = 3;
      spec.Bits = bits;
      spec.Descriptor = descriptor;
      Bytes file = fixtures::TgaHeader(spec);
      int stored = 0;
      for (int count : {2, 3, 3, 1}) {
        file.push_back(std::uint8_t(count - 1));
        for (int k = 0; k < count; ++k, ++stored) {
          const Bytes p = Pixel(b, stored);
          file.insert(file.end(), p.begin(), p.end());
        }
      }
      TTGAImage image;
      image.LoadFromBytes(file);
      const bool topDown = descriptor & 0x20, rightToLeft = descriptor & 0x10;
      for (int i = 0; i < 9; ++i) {
        // Stored pixel i is in stored row i / 3, stored column i % 3.
        const int row = topDown ? i / 3 : 2 - i / 3;
        const int x = rightToLeft ? 2 - i % 3 : i % 3;
        EXPECT_EQ(PixelAt(image.Bitmap(), x, row), Pixel(b, i))
            << bits << " bits, descriptor " << int(descriptor) << ", stored pixel " << i;
      }
    }
  }
}

Bytes RawImage(TgaSpec ASpec) {
  Bytes file = fixtures::TgaHeader(ASpec);
  const int b = ASpec.Bits / 8;
  for (int i = 0; i < ASpec.Width * ASpec.Height; ++i) {
    const Bytes p = Pixel(b, i);
    file.insert(file.end(), p.begin(), p.end());
  }
  return file;
}

TEST(TgaImage, IdFieldAndColourMapAreSkipped) {
  TgaSpec plain;
  plain.Width = 2;
  plain.Height = 2;
  TgaSpec withExtras = plain;
  withExtras.Id = "hello";
  withExtras.ColorMapEntries = 3;
  withExtras.ColorMapBits = 15;  // 2 bytes per entry
  TTGAImage a, b;
  a.LoadFromBytes(RawImage(plain));
  b.LoadFromBytes(RawImage(withExtras));
  EXPECT_EQ(b.Header().IDLength, 5);
  for (int r = 0; r < 2; ++r)
    EXPECT_EQ(0, std::memcmp(a.Bitmap().ScanLine(r), b.Bitmap().ScanLine(r), 6)) << r;
}

TEST(TgaImage, RunLengthPacketByteGivesRepeatOrRawPixels) {
  TgaSpec spec;
  spec.Type = 10;
  spec.Width = 6;
  spec.Height = 1;
  Bytes file = fixtures::TgaHeader(spec);
  file.insert(file.end(), {0x82, 10, 20, 30, 0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9});
  TTGAImage image;
  image.LoadFromBytes(file);
  const std::uint8_t* row = image.Bitmap().ScanLine(0);
  const std::uint8_t want[18] = {10, 20, 30, 10, 20, 30, 10, 20, 30, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(0, std::memcmp(row, want, 18));
}

// Bit 5 of the descriptor marks a file stored top row first, bit 4 one stored right to left.
TEST(TgaImage, OriginBitsSetRowAndColumnOrder) {
  struct {
    std::uint8_t Descriptor;
    int TopLeftStoredIndex;  // which stored pixel ends up at the top-left of a 2 x 2 image
    int TopRightStoredIndex;
  } cases[] = {{0x00, 2, 3}, {0x20, 0, 1}, {0x10, 3, 2}, {0x30, 1, 0}};
  for (const auto& c : cases) {
    for (std::uint8_t type : {std::uint8_t(2), std::uint8_t(10)}) {
      TgaSpec spec;
      spec.Type = type;
      spec.Width = 2;
      spec.Height = 2;
      spec.Descriptor = c.Descriptor;
      Bytes file = fixtures::TgaHeader(spec);
      if (type == 10) file.push_back(0x03);  // one raw packet of all four pixels
      for (int i = 0; i < 4; ++i) {
        const Bytes p = Pixel(3, i);
        file.insert(file.end(), p.begin(), p.end());
      }
      TTGAImage image;
      image.LoadFromBytes(file);
      EXPECT_EQ(PixelAt(image.Bitmap(), 0, 0), Pixel(3, c.TopLeftStoredIndex))
          << "descriptor " << int(c.Descriptor) << " type " << int(type);
      EXPECT_EQ(PixelAt(image.Bitmap(), 1, 0), Pixel(3, c.TopRightStoredIndex))
          << "descriptor " << int(c.Descriptor) << " type " << int(type);
    }
  }
}

TEST(TgaImage, StreamFileAndRegistryRoutesDecodeTheSameImage) {
  TgaSpec spec;
  spec.Width = 3;
  spec.Height = 2;
  spec.Bits = 32;
  const Bytes file = RawImage(spec);
  TTGAImage fromBytes;
  fromBytes.LoadFromBytes(file);

  std::istringstream stream(std::string(file.begin(), file.end()));
  TTGAImage fromStream;
  fromStream.LoadFromStream(stream);

  const auto dir = fixtures::TempDir("tga_file");
  fixtures::WriteFile(dir / "a.tga", file);
  TTGAImage fromFile;
  fromFile.LoadFromFile(dir / "a.tga");

  const std::optional<TPictureFormat> format = FindFileFormat(".tga");
  ASSERT_TRUE(format.has_value());
  EXPECT_EQ(format->Extension, "TGA");
  EXPECT_EQ(format->Description, "Truevision Graphics Adapter");
  const TBitmap fromRegistry = format->Reader(file);

  for (const TBitmap* b : {&fromStream.Bitmap(), &fromFile.Bitmap(), &fromRegistry}) {
    ASSERT_EQ(b->Width(), 3);
    ASSERT_EQ(b->Height(), 2);
    for (int r = 0; r < 2; ++r)
      EXPECT_EQ(0, std::memcmp(b->ScanLine(r), fromBytes.Bitmap().ScanLine(r), 12));
  }
  std::filesystem::remove_all(dir);
}

TEST(TgaImage, WritingAndClipboardAreNotSupported) {
  TTGAImage image;
  std::ostringstream out;
  std::uint16_t format = 0;
  std::uintptr_t data = 0, palette = 0;
  EXPECT_TRUE(fixtures::ThrowsWith<ENotSupportedException>([&] { image.SaveToStream(out); },
                                                           "Not supported."));
  EXPECT_TRUE(fixtures::ThrowsWith<ENotSupportedException>(
      [&] { image.LoadFromClipboardFormat(1, 0, 0); }, "Not supported."));
  EXPECT_TRUE(fixtures::ThrowsWith<ENotSupportedException>(
      [&] { image.SaveToClipboardFormat(format, data, palette); }, "Not supported."));
}

TEST(TgaImage, AssignCopiesThroughTheInternalBitmap) {
  TBitmap source(2, 1, pf24bit);
  source.ScanLine(0)[4] = 77;
  TTGAImage a;
  a.Assign(source);
  EXPECT_EQ(a.Width(), 2);
  EXPECT_FALSE(a.Empty());
  TTGAImage b;
  b.Assign(a);
  TBitmap out;
  b.AssignTo(out);
  EXPECT_EQ(out.ScanLine(0)[4], 77);
  b.SetHeight(3);
  EXPECT_EQ(b.Bitmap().Height(), 3);
}

struct BadTga {
  const char* Name;
  Bytes File;
  enum { Read, NotSupported, Invalid } Kind;
  const char* Message;
};

Bytes WithHeader(TgaSpec ASpec, Bytes AData) {
  Bytes f = fixtures::TgaHeader(ASpec);
  f.insert(f.end(), AData.begin(), AData.end());
  return f;
}

std::vector<BadTga> BadTgaCases() {
  TgaSpec s3x2;
  s3x2.Width = 3;
  s3x2.Height = 2;
  TgaSpec rle = s3x2;
  rle.Type = 10;
  TgaSpec typeColorMapped = s3x2;
  typeColorMapped.Type = 1;
  TgaSpec typeGrey = s3x2;
  typeGrey.Type = 3;
  TgaSpec bits8 = s3x2;
  bits8.Bits = 8;
  TgaSpec bits15 = s3x2;
  bits15.Bits = 15;
  TgaSpec width0 = s3x2;
  width0.Width = 0;
  TgaSpec height0 = s3x2;
  height0.Height = 0;
  TgaSpec huge = s3x2;
  huge.Width = 65535;
  huge.Height = 65535;
  TgaSpec bigRle = rle;  // within the limits, but far more pixels than the data could give
  bigRle.Width = 8192;
  bigRle.Height = 8192;
  Bytes longId = fixtures::TgaHeader(s3x2);
  longId[0] = 200;  // an ID field longer than the file
  Bytes longMap = fixtures::TgaHeader(s3x2);
  longMap[1] = 1;
  longMap[5] = 0xFF;  // 65535 entries (negative as a signed field): read as a count
  longMap[6] = 0xFF;
  longMap[7] = 24;
  longMap.resize(longMap.size() + 18, 0);
  const Bytes px(3, 0x40);
  return {
      {"header cut short", Bytes(10, 0), BadTga::Read, SReadError},
      {"colour-mapped type", WithHeader(typeColorMapped, Bytes(18, 0)), BadTga::NotSupported,
       SNotSupported},
      {"grey type", WithHeader(typeGrey, Bytes(18, 0)), BadTga::NotSupported, SNotSupported},
      {"8 bits", WithHeader(bits8, Bytes(18, 0)), BadTga::NotSupported, SNotSupported},
      {"15 bits", WithHeader(bits15, Bytes(18, 0)), BadTga::NotSupported, SNotSupported},
      {"width 0", fixtures::TgaHeader(width0), BadTga::Invalid, SInvalidImageSize},
      {"height 0", fixtures::TgaHeader(height0), BadTga::Invalid, SInvalidImageSize},
      {"65535 x 65535", WithHeader(huge, Bytes(100, 0)), BadTga::Invalid, SInvalidImageSize},
      {"raw data one byte short", WithHeader(s3x2, Bytes(17, 0)), BadTga::Read, SReadError},
      {"ID field past the end", longId, BadTga::Read, SReadError},
      {"colour map past the end", longMap, BadTga::Read, SReadError},
      {"repeat packet past the last pixel", WithHeader(rle, {0x86, 1, 2, 3}), BadTga::Invalid,
       STGAPacketPastImage},
      {"raw packet past the last pixel",
       WithHeader(rle, {0x04, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5, 0x01, 6, 6, 6, 7, 7, 7}),
       BadTga::Invalid, STGAPacketPastImage},
      {"data ends inside a raw packet", WithHeader(rle, {0x05, 1, 1, 1, 2, 2, 2, 3, 3}),
       BadTga::Read, SReadError},
      {"data ends before a packet byte", WithHeader(rle, {0x81, 1, 1, 1, 0x81, 2, 2, 2}),
       BadTga::Read, SReadError},
      {"huge run-length image from a few bytes", WithHeader(bigRle, {0xFF, 1, 2, 3}), BadTga::Read,
       SReadError},
  };
}

TEST(TgaImage, MalformedFilesFailWithTheirErrorAndKeepTheImage) {
  TgaSpec good;
  good.Width = 1;
  good.Height = 1;
  for (const BadTga& c : BadTgaCases()) {
    TTGAImage image;
    image.LoadFromBytes(RawImage(good));
    auto load = [&] { image.LoadFromBytes(c.File); };
    switch (c.Kind) {
      case BadTga::Read:
        EXPECT_TRUE(fixtures::ThrowsWith<EReadError>(load, c.Message)) << c.Name;
        break;
      case BadTga::NotSupported:
        EXPECT_TRUE(fixtures::ThrowsWith<ENotSupportedException>(load, c.Message)) << c.Name;
        break;
      case BadTga::Invalid:
        EXPECT_TRUE(fixtures::ThrowsWith<EInvalidGraphic>(load, c.Message)) << c.Name;
        break;
    }
    EXPECT_EQ(image.Width(), 1) << c.Name;
    EXPECT_EQ(image.Header().Width, 1) << c.Name;
  }
}

TEST(TgaImage, MissingFileFailsWithOpenError) {
  TTGAImage image;
  EXPECT_THROW(image.LoadFromFile("/nonexistent/dir/x.tga"), EFOpenError);
}

}  // namespace

namespace {

Bytes RleSample() {
  TgaSpec spec;
  spec.Type = 10;
  spec.Width = 5;
  spec.Height = 3;
  spec.Bits = 32;
  spec.Id = "id";
  spec.ColorMapEntries = 2;
  Bytes file = fixtures::TgaHeader(spec);
  file.insert(file.end(), {0x86, 1, 2, 3, 4, 0x03});  // 7 repeated, then 4 raw, then 4 repeated
  for (int i = 0; i < 16; ++i) file.push_back(std::uint8_t(i));
  file.insert(file.end(), {0x83, 9, 9, 9, 9});
  return file;
}

// Every prefix of a valid file is missing data, and says so; nothing is read past the prefix
// (the sanitizer builds check the memory side).
TEST(TgaImage, EveryTruncationOfAValidFileIsAReadError) {
  TgaSpec raw;
  raw.Width = 3;
  raw.Height = 2;
  raw.Id = "x";
  for (const Bytes& full : {RawImage(raw), RleSample()}) {
    TTGAImage image;
    ASSERT_NO_THROW(image.LoadFromBytes(full));
    for (std::size_t n = 0; n < full.size(); ++n) {
      const Bytes prefix(full.begin(), full.begin() + n);
      EXPECT_TRUE(
          fixtures::ThrowsWith<EReadError>([&] { image.LoadFromBytes(prefix); }, SReadError))
          << "prefix of " << n << " bytes";
    }
  }
}

// The error a load raises, as "type: message"; "" when it succeeds.
std::string LoadOutcome(TTGAImage& AImage, const Bytes& AFile) {
  try {
    AImage.LoadFromBytes(AFile);
  } catch (const EReadError& e) {
    return std::string("read: ") + e.what();
  } catch (const ENotSupportedException& e) {
    return std::string("not supported: ") + e.what();
  } catch (const EInvalidGraphic& e) {
    return std::string("invalid: ") + e.what();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "";
}

// Corrupted files either decode into the picture their header describes, or fail with one of the
// reader's own errors and keep the picture loaded before.
TEST(TgaImage, CorruptedFilesFailOnlyWithTheSystemsErrors) {
  const Bytes base = RleSample();
  const std::set<std::string> errors = {
      std::string("read: ") + SReadError, std::string("not supported: ") + SNotSupported,
      std::string("invalid: ") + SInvalidImageSize, std::string("invalid: ") + STGAPacketPastImage};
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  int loaded = 0, failed = 0;
  for (int round = 0; round < 3000; ++round) {
    Bytes file = base;
    const int flips = 1 + int(next() % 4);
    for (int k = 0; k < flips; ++k) file[next() % file.size()] = std::uint8_t(next() >> 24);
    if (next() % 4 == 0) file.resize(next() % file.size());
    TTGAImage image;
    image.LoadFromBytes(base);
    const std::string outcome = LoadOutcome(image, file);
    if (outcome.empty()) {
      ++loaded;
      // Width, height and depth as the file's header bytes give them.
      const int width = file[12] | file[13] << 8, height = file[14] | file[15] << 8;
      const TPixelFormat format = file[16] == 16 ? pf15bit : file[16] == 24 ? pf24bit : pf32bit;
      ASSERT_EQ(image.Bitmap().Width(), width) << "round " << round;
      ASSERT_EQ(image.Bitmap().Height(), height) << "round " << round;
      ASSERT_EQ(image.Bitmap().PixelFormat(), format) << "round " << round;
      EXPECT_TRUE(file[2] == 2 || file[2] == 10) << "round " << round;
    } else {
      ++failed;
      EXPECT_TRUE(errors.count(outcome)) << "round " << round << ": " << outcome;
      EXPECT_EQ(image.Bitmap().Width(), 5) << "round " << round;
      EXPECT_EQ(image.Header().Width, 5) << "round " << round;
    }
  }
  // The sweep reaches both outcomes.
  EXPECT_GT(loaded, 100);
  EXPECT_GT(failed, 100);
}

}  // namespace
