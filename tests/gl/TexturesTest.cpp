// Textures on the real driver: uploads from bitmaps and files (TGA, DDS mip chains, PNG/JPEG/BMP
// through the codec), sampler binding, and files that must fail without leaving a texture.
#include <gtest/gtest.h>

#include <cstring>

#include "gl/Textures.h"
#include "gl/tgaimage.h"
#include "tests/gl/ImageFixtures.h"
#include "tests/support/GLTestContext.h"

using fixtures::Bytes;

namespace {

class Textures : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fixtures::TempDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }

  std::string File(const std::string& AName, const Bytes& ABytes) {
    fixtures::WriteFile(FDir / AName, ABytes);
    return (FDir / AName).string();
  }

  static GLint Level(GLint ALevel, GLenum AParam) {
    GLint v = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, ALevel, AParam, &v);
    return v;
  }

  // Level 0 of the texture bound to GL_TEXTURE_2D as tightly packed BGRA, GL row 0 (t = 0) first.
  static Bytes ReadBgra(int AWidth, int AHeight) {
    Bytes out(std::size_t(AWidth) * AHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_BYTE, out.data());
    return out;
  }

  // No texture name of the first few hundred exists: nothing was left behind.
  static bool NoTextureNames() {
    for (GLuint n = 1; n < 512; ++n)
      if (glIsTexture(n)) return false;
    return true;
  }

  GLTestContext FContext;
  std::filesystem::path FDir;
};

TEST_F(Textures, BlankTextureIsRgbaOfTheGivenSizeAndBound) {
  auto t = TTexture::CreateBlank(0, 7, 5);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(GLuint(bound), t->Handle());
  EXPECT_EQ(Level(0, GL_TEXTURE_WIDTH), 7);
  EXPECT_EQ(Level(0, GL_TEXTURE_HEIGHT), 5);
  const GLint internal = Level(0, GL_TEXTURE_INTERNAL_FORMAT);
  EXPECT_TRUE(internal == GL_RGBA || internal == GL_RGBA8) << internal;
  const GLuint name = t->Handle();
  t.reset();
  EXPECT_FALSE(glIsTexture(name));
}

// Bitmap rows of 9 bytes sit in 12-byte rows; the upload packs them and puts the top row at t = 0.
TEST_F(Textures, Bitmap24UploadsTopRowFirstWithOpaqueAlpha) {
  TBitmap b(3, 2, pf24bit);
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < 9; ++i) b.ScanLine(r)[i] = std::uint8_t(40 * r + 4 * i + 1);
  auto t = TTexture::CreateFromBitmap(0, b);
  GLint alignment = 0;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  EXPECT_EQ(alignment, 1);
  const Bytes texels = ReadBgra(3, 2);
  for (int r = 0; r < 2; ++r)
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t* s = b.ScanLine(r) + 3 * x;
      const std::uint8_t* d = texels.data() + (r * 3 + x) * 4;
      EXPECT_EQ(Bytes(d, d + 4), (Bytes{s[0], s[1], s[2], 255})) << r << "," << x;
    }
}

TEST_F(Textures, Bitmap32KeepsAlpha) {
  TBitmap b(2, 2, pf32bit);
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < 8; ++i) b.ScanLine(r)[i] = std::uint8_t(100 * r + 11 * i);
  auto t = TTexture::CreateFromBitmap(0, b);
  GLint alignment = 0;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  EXPECT_EQ(alignment, 4);
  const Bytes texels = ReadBgra(2, 2);
  EXPECT_EQ(0, std::memcmp(texels.data(), b.ScanLine(0), 8));
  EXPECT_EQ(0, std::memcmp(texels.data() + 8, b.ScanLine(1), 8));
}

TEST_F(Textures, BitmapOfAnotherFormatFailsAndLeavesNoTexture) {
  for (TPixelFormat f : {pf15bit, pfCustom}) {
    const TBitmap b(2, 2, f);
    EXPECT_TRUE(fixtures::ThrowsWith<Exception>([&] { TTexture::CreateFromBitmap(0, b); },
                                                "テクスチャとなるビットマップ画像は24bitか32bit"
                                                "である必要があります"));
    EXPECT_TRUE(NoTextureNames());
  }
}

Bytes Tga3x2(int ABits) {
  fixtures::TgaSpec spec;
  spec.Width = 3;
  spec.Height = 2;
  spec.Bits = ABits;
  Bytes file = fixtures::TgaHeader(spec);
  for (int i = 0; i < 6 * ABits / 8; ++i) file.push_back(std::uint8_t(i + 1));
  return file;
}

// The first stored TGA row is the bottom of the picture, so it lands at t = 1 (GL row 1).
TEST_F(Textures, TgaFileNamesOfEitherCaseTakeTheTgaRoute) {
  for (const char* name : {"a.tga", "b.TGA", "c.Tga"}) {
    auto t = TTexture::CreateFromFile(0, File(name, Tga3x2(24)));
    const Bytes texels = ReadBgra(3, 2);
    for (int i = 0; i < 3; ++i) {
      const std::uint8_t* row1 = texels.data() + (3 + i) * 4;  // GL row 1
      const std::uint8_t* row0 = texels.data() + i * 4;
      EXPECT_EQ(Bytes(row1, row1 + 4), (Bytes{std::uint8_t(3 * i + 1), std::uint8_t(3 * i + 2),
                                              std::uint8_t(3 * i + 3), 255}))
          << name;
      EXPECT_EQ(row0[0], 10 + 3 * i) << name;
    }
  }
}

TEST_F(Textures, DdsUploadsTheWholeMipChainAsStored) {
  const struct {
    const char* Name;
    const char* FourCC;
    GLint Format;
    int Size, Count;
    std::vector<int> LevelBytes;
  } cases[] = {
      {"t1.dds", "DXT1", 0x83F1, 256, 9, {32768, 8192, 2048, 512, 128, 32, 8, 8, 8}},
      {"t3.DDS", "DXT3", 0x83F2, 16, 5, {256, 64, 16, 16, 16}},
      {"t5.Dds", "DXT5", 0x83F3, 8, 0, {64}},
  };
  for (const auto& c : cases) {
    std::size_t total = 0;
    for (int s : c.LevelBytes) total += s;
    const Bytes file = fixtures::Dds(c.FourCC, c.Size, c.Size, c.Count, total);
    auto t = TTexture::CreateFromFile(0, File(c.Name, file));
    std::size_t offset = 128;
    for (std::size_t i = 0; i < c.LevelBytes.size(); ++i) {
      const GLint level = GLint(i);
      const int side = std::max(1, c.Size >> i);
      EXPECT_EQ(Level(level, GL_TEXTURE_INTERNAL_FORMAT), c.Format) << c.Name << " " << i;
      EXPECT_EQ(Level(level, GL_TEXTURE_WIDTH), side) << c.Name << " " << i;
      EXPECT_EQ(Level(level, GL_TEXTURE_HEIGHT), side) << c.Name << " " << i;
      EXPECT_EQ(Level(level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE), c.LevelBytes[i])
          << c.Name << " " << i;
      Bytes stored(c.LevelBytes[i]);
      glGetCompressedTexImage(GL_TEXTURE_2D, level, stored.data());
      EXPECT_EQ(0, std::memcmp(stored.data(), file.data() + offset, stored.size()))
          << c.Name << " " << i;
      offset += c.LevelBytes[i];
    }
    // Nothing beyond the declared levels.
    EXPECT_EQ(Level(GLint(c.LevelBytes.size()), GL_TEXTURE_WIDTH), 0) << c.Name;
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Textures, OtherExtensionsGoThroughTheCodec) {
  TBitmap bmp(3, 2, pf24bit);
  for (int r = 0; r < 2; ++r)
    for (int i = 0; i < 9; ++i) bmp.ScanLine(r)[i] = std::uint8_t(50 * r + 5 * i);
  const Bytes png = fixtures::EncodePng(2, 2, 4,
                                        {255, 0, 0, 0, 0, 255, 0, 90,  //
                                         0, 0, 255, 180, 9, 8, 7, 255});
  Bytes rgb;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) rgb.insert(rgb.end(), {std::uint8_t(y < 8 ? 250 : 0), 0, 0});

  auto fromBmp = TTexture::CreateFromFile(0, File("toon01.bmp", bmp.SaveToBytes()));
  Bytes texels = ReadBgra(3, 2);
  for (int r = 0; r < 2; ++r)
    for (int x = 0; x < 3; ++x) {
      const std::uint8_t* s = bmp.ScanLine(r) + 3 * x;
      const std::uint8_t* d = texels.data() + (r * 3 + x) * 4;
      EXPECT_EQ(Bytes(d, d + 4), (Bytes{s[0], s[1], s[2], 255})) << r << "," << x;
    }

  auto fromPng = TTexture::CreateFromFile(0, File("face.PNG", png));
  texels = ReadBgra(2, 2);
  EXPECT_EQ(texels, (Bytes{0, 0, 255, 0, 0, 255, 0, 90, 255, 0, 0, 180, 7, 8, 9, 255}));

  auto fromJpg = TTexture::CreateFromFile(0, File("skin.jpeg", fixtures::EncodeJpg(16, 16, rgb)));
  EXPECT_EQ(Level(0, GL_TEXTURE_WIDTH), 16);
  texels = ReadBgra(16, 16);
  EXPECT_GT(texels[(1 * 16 + 4) * 4 + 2], 210);  // red on top
  EXPECT_LT(texels[(14 * 16 + 4) * 4 + 2], 40);
}

TEST_F(Textures, SphereFilesAreReadByTheirContent) {
  // .sph and .spa hold whatever their author saved: BMP, PNG or DDS data.
  TBitmap bmp(1, 1, pf24bit);
  bmp.ScanLine(0)[0] = 10, bmp.ScanLine(0)[1] = 20, bmp.ScanLine(0)[2] = 30;
  auto fromBmp = TTexture::CreateFromFile(0, File("metal.sph", bmp.SaveToBytes()));
  EXPECT_EQ(ReadBgra(1, 1), (Bytes{10, 20, 30, 255}));
  auto fromPng =
      TTexture::CreateFromFile(0, File("shine.spa", fixtures::EncodePng(1, 1, 4, {1, 2, 3, 4})));
  EXPECT_EQ(ReadBgra(1, 1), (Bytes{3, 2, 1, 4}));
  auto fromDds = TTexture::CreateFromFile(0, File("gloss.SPH", fixtures::Dds("DXT5", 4, 4, 1, 16)));
  EXPECT_EQ(Level(0, GL_TEXTURE_INTERNAL_FORMAT), 0x83F3);
  EXPECT_EQ(Level(0, GL_TEXTURE_COMPRESSED_IMAGE_SIZE), 16);
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(Textures, BindSetsTheSamplerOfTheGivenUnitOnlyWhenThereIsOne) {
  GLuint samplers[2];
  glGenSamplers(2, samplers);
  const TBitmap b(1, 1, pf32bit);
  auto withSampler = TTexture::CreateFromBitmap(samplers[0], b);
  auto withoutSampler = TTexture::CreateFromBitmap(0, b);
  auto samplerOf = [](GLenum AUnit) {
    glActiveTexture(AUnit);
    GLint s = -1;
    glGetIntegerv(GL_SAMPLER_BINDING, &s);
    return GLuint(s);
  };

  glBindSampler(1, samplers[1]);
  glActiveTexture(GL_TEXTURE1);
  withoutSampler->Bind(1);
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(GLuint(bound), withoutSampler->Handle());
  EXPECT_EQ(samplerOf(GL_TEXTURE1), samplers[1]);  // unchanged

  glActiveTexture(GL_TEXTURE1);
  withSampler->Bind(1);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(GLuint(bound), withSampler->Handle());
  EXPECT_EQ(samplerOf(GL_TEXTURE1), samplers[0]);
  EXPECT_EQ(samplerOf(GL_TEXTURE0), 0u);

  withSampler.reset();
  withoutSampler.reset();
  glDeleteSamplers(2, samplers);
  EXPECT_FALSE(glIsSampler(0));
}

TEST_F(Textures, FailedFilesRaiseTheirErrorAndLeaveNoTexture) {
  fixtures::TgaSpec rle;
  rle.Type = 10;
  rle.Width = 2;
  rle.Height = 1;
  Bytes rleOverrun = fixtures::TgaHeader(rle);
  rleOverrun.insert(rleOverrun.end(), {0x85, 1, 2, 3});
  Bytes badMagic = fixtures::Dds("DXT1", 4, 4, 1, 8);
  badMagic[0] = 'd';
  std::filesystem::create_directories(FDir / "folder.png");
  Bytes png = fixtures::EncodePng(4, 4, 3, Bytes(48, 1));
  png.resize(png.size() - 20);

  const struct {
    const char* Name;
    std::optional<Bytes> File;  // nothing: the file does not exist
    std::string Message;        // the whole message, or its beginning when it ends with "*"
  } cases[] = {
      {"missing.png", std::nullopt, "Cannot open file *"},
      {"folder.png", std::nullopt, "Cannot open file *"},
      {"magic.dds", badMagic, "不正なDDSヘッダ"},
      {"dx10.dds", fixtures::Dds("DX10", 4, 4, 1, 16), "未対応のFOURCC"},
      {"short.dds", fixtures::Dds("DXT1", 16, 16, 5, 100), SReadError},
      {"zero.dds", fixtures::Dds("DXT1", 0, 16, 1, 100), SInvalidImageSize},
      {"sixteen.tga", Tga3x2(16),
       "テクスチャとなるビットマップ画像は24bitか32bitである必要があります"},
      {"grey.tga",
       [] {
         Bytes b = Tga3x2(24);
         b[2] = 3;
         return b;
       }(),
       "Not supported."},
      {"short.tga",
       [] {
         Bytes b = Tga3x2(24);
         b.pop_back();
         return b;
       }(),
       SReadError},
      {"overrun.tga", rleOverrun, STGAPacketPastImage},
      {"cut.png", png, "Stream read error*"},
  };
  for (const auto& c : cases) {
    const std::string path = c.File ? File(c.Name, *c.File) : (FDir / c.Name).string();
    try {
      TTexture::CreateFromFile(0, path);
      ADD_FAILURE() << c.Name << ": nothing thrown";
    } catch (const Exception& e) {
      const std::string what = e.what();
      if (c.Message.back() == '*')
        EXPECT_EQ(what.rfind(c.Message.substr(0, c.Message.size() - 1), 0), 0u)
            << c.Name << ": " << what;
      else
        EXPECT_EQ(what, c.Message) << c.Name;
    }
    EXPECT_TRUE(NoTextureNames()) << c.Name;
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

}  // namespace
