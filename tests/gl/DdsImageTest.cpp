// DDS reader: the mip chain laid out over the file, and files it must refuse.
#include <gtest/gtest.h>

#include "gl/Bitmap.h"
#include "gl/DDS.h"
#include "tests/gl/ImageFixtures.h"

using fixtures::Bytes;
using fixtures::Dds;

namespace {

struct ChainCase {
  const char* Name;
  const char* FourCC;
  std::uint32_t Width, Height, MipCount;
  std::uint32_t Format;
  std::vector<std::size_t> Sizes;
  std::vector<std::pair<int, int>> Dims;
};

TEST(DdsReader, LaysOutEveryDeclaredLevelBackToBackAfterTheHeader) {
  const ChainCase cases[] = {
      {"256 DXT1 x9",
       "DXT1",
       256,
       256,
       9,
       DDSFormatDXT1,
       {32768, 8192, 2048, 512, 128, 32, 8, 8, 8},
       {{256, 256}, {128, 128}, {64, 64}, {32, 32}, {16, 16}, {8, 8}, {4, 4}, {2, 2}, {1, 1}}},
      {"count 0 is one level", "DXT3", 64, 32, 0, DDSFormatDXT3, {2048}, {{64, 32}}},
      {"5x3 DXT5", "DXT5", 5, 3, 1, DDSFormatDXT5, {32}, {{5, 3}}},
      {"8x2 DXT1 non-square",
       "DXT1",
       8,
       2,
       4,
       DDSFormatDXT1,
       {16, 8, 8, 8},
       {{8, 2}, {4, 1}, {2, 1}, {1, 1}}},
      // Tall: the width reaches 1 first and stays there while the height goes on halving.
      {"2x8 DXT1 tall",
       "DXT1",
       2,
       8,
       4,
       DDSFormatDXT1,
       {16, 8, 8, 8},
       {{2, 8}, {1, 4}, {1, 2}, {1, 1}}},
  };
  for (const ChainCase& c : cases) {
    std::size_t total = 0;
    for (std::size_t s : c.Sizes) total += s;
    const Bytes file = Dds(c.FourCC, c.Width, c.Height, c.MipCount, total + 5);  // tail ignored
    const TDDSImage image = ReadDDS(file);
    EXPECT_EQ(image.InternalFormat, c.Format) << c.Name;
    EXPECT_EQ(image.Width, int(c.Width)) << c.Name;
    EXPECT_EQ(image.Height, int(c.Height)) << c.Name;
    ASSERT_EQ(image.Levels.size(), c.Sizes.size()) << c.Name;
    std::size_t offset = 128;
    for (std::size_t i = 0; i < c.Sizes.size(); ++i) {
      EXPECT_EQ(image.Levels[i].Offset, offset) << c.Name << " level " << i;
      EXPECT_EQ(image.Levels[i].Size, c.Sizes[i]) << c.Name << " level " << i;
      EXPECT_EQ(image.Levels[i].Width, c.Dims[i].first) << c.Name << " level " << i;
      EXPECT_EQ(image.Levels[i].Height, c.Dims[i].second) << c.Name << " level " << i;
      offset += c.Sizes[i];
    }
  }
}

TEST(DdsReader, BlockSizesPerFormat) {
  EXPECT_EQ(ReadDDS(Dds("DXT1", 4, 4, 1, 8)).BlockBytes, 8u);
  EXPECT_EQ(ReadDDS(Dds("DXT3", 4, 4, 1, 16)).BlockBytes, 16u);
  EXPECT_EQ(ReadDDS(Dds("DXT5", 4, 4, 1, 16)).BlockBytes, 16u);
  EXPECT_EQ(DDSLevelSize(16, 5, 3), 32u);
  EXPECT_EQ(DDSLevelSize(8, 1, 1), 8u);
}

TEST(DdsReader, MalformedFilesFailWithTheirError) {
  Bytes badMagic = Dds("DXT1", 4, 4, 1, 8);
  badMagic[3] = '_';
  Bytes badMagicAndFourCC = Dds("DX10", 4, 4, 1, 8);
  badMagicAndFourCC[0] = 'X';
  const Bytes full = Dds("DXT1", 4, 4, 1, 8);
  enum Kind { Header, FourCC, Read, Size };
  struct {
    const char* Name;
    Bytes File;
    Kind Expect;
  } cases[] = {
      {"empty file", {}, Header},
      {"three bytes", {'D', 'D', 'S'}, Header},
      {"wrong magic", badMagic, Header},
      {"wrong magic is reported before the FourCC", badMagicAndFourCC, Header},
      {"header cut short", Bytes(full.begin(), full.begin() + 100), Read},
      {"DX10", Dds("DX10", 4, 4, 1, 8), FourCC},
      {"ATI2", Dds("ATI2", 4, 4, 1, 16), FourCC},
      {"no FourCC", Dds("\0\0\0\0", 4, 4, 1, 8), FourCC},
      {"lower-case dxt1", Dds("dxt1", 4, 4, 1, 8), FourCC},
      {"width 0", Dds("DXT1", 0, 4, 1, 8), Size},
      {"height 0", Dds("DXT1", 4, 0, 1, 8), Size},
      {"width 2^20", Dds("DXT1", 1u << 20, 4, 1, 8), Size},
      {"width 2^31", Dds("DXT1", 0x80000000u, 0x80000000u, 1, 8), Size},
      {"no surface data", Dds("DXT1", 4, 4, 1, 0), Read},
      {"level 0 one byte short", Dds("DXT1", 8, 8, 1, 31), Read},
      {"last declared level one byte short", Dds("DXT1", 256, 256, 9, 43703), Read},
      {"count 2^32-1 over a few bytes", Dds("DXT1", 4, 4, 0xFFFFFFFFu, 64), Read},
  };
  for (const auto& c : cases) {
    auto read = [&] { ReadDDS(c.File); };
    switch (c.Expect) {
      case Header:
        EXPECT_TRUE(fixtures::ThrowsWith<Exception>(read, "不正なDDSヘッダ")) << c.Name;
        break;
      case FourCC:
        EXPECT_TRUE(fixtures::ThrowsWith<Exception>(read, "未対応のFOURCC")) << c.Name;
        break;
      case Read:
        EXPECT_TRUE(fixtures::ThrowsWith<EReadError>(read, SReadError)) << c.Name;
        break;
      case Size:
        EXPECT_TRUE(fixtures::ThrowsWith<EInvalidGraphic>(read, SInvalidImageSize)) << c.Name;
        break;
    }
  }
  EXPECT_NO_THROW(ReadDDS(Dds("DXT1", 256, 256, 9, 43704)));
}

}  // namespace

namespace {

TEST(DdsReader, EveryTruncationOfAValidFileFails) {
  const Bytes full = Dds("DXT5", 8, 4, 3, 32 + 16 + 16);
  ASSERT_NO_THROW(ReadDDS(full));
  for (std::size_t n = 0; n < full.size(); ++n) {
    const Bytes prefix(full.begin(), full.begin() + n);
    const char* message = n < 4 ? SInvalidDDSHeader : SReadError;
    EXPECT_TRUE(fixtures::ThrowsWith<Exception>([&] { ReadDDS(prefix); }, message)) << n;
  }
}

// Whatever the header says, every level the reader returns lies inside the file.
TEST(DdsReader, CorruptedHeadersNeverYieldLevelsOutsideTheFile) {
  const Bytes base = Dds("DXT1", 16, 16, 5, 128 + 32 + 8 + 8 + 8);
  std::uint32_t seed = 777;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 3000; ++round) {
    Bytes file = base;
    for (int k = 0; k < 3; ++k) {
      // A byte of the height (file offset 12), width (16) or mip count (28).
      const std::size_t fields[3] = {12, 16, 28};
      const std::size_t at = fields[next() % 3] + next() % 4;
      file[at] = std::uint8_t(next() >> 24);
    }
    try {
      const TDDSImage image = ReadDDS(file);
      for (const TDDSLevel& l : image.Levels) {
        EXPECT_LE(l.Offset + l.Size, file.size());
        EXPECT_EQ(l.Size, DDSLevelSize(image.BlockBytes, l.Width, l.Height));
      }
    } catch (const Exception&) {
    }
  }
}

}  // namespace
