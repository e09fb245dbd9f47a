// Model texture path resolution: separators, case-insensitive components, and paths that must
// not leave the model's folder.
#include <gtest/gtest.h>

#include <optional>

#include "gl/TexturePath.h"
#include "tests/gl/ImageFixtures.h"

namespace fs = std::filesystem;

namespace {

TEST(TexturePath, ResolvesStoredPathsInsideTheModelFolderOnly) {
  const fs::path root = fixtures::TempDir("paths");
  const fs::path model = root / "model";
  for (const char* f : {"tex/face.png", "Tex2/Body.TGA", "a.bmp", "sub/deeper/x.dds",
                        "テクスチャ/顔.png", "ｔｅｘ/ａ.png", "Δ/Ж.png", "dup.png", "DUP.png"})
    fixtures::WriteFile(model / f, {1});
  fixtures::WriteFile(root / "outside.png", {1});
  fs::create_directories(model / "dirtex.png");

  const struct {
    std::string Stored;
    std::optional<std::string> Expected;  // relative to the model folder
  } cases[] = {
      {"tex\\face.png", "tex/face.png"},
      {"Tex\\Face.PNG", "tex/face.png"},
      {"tex2/body.tga", "Tex2/Body.TGA"},
      {"A.BMP", "a.bmp"},
      {".\\a.bmp", "a.bmp"},
      {"tex\\..\\a.bmp", "a.bmp"},
      {"SUB//DEEPER\\X.DDS", "sub/deeper/x.dds"},
      {"テクスチャ\\顔.png", "テクスチャ/顔.png"},
      {"ＴＥＸ\\Ａ.PNG", "ｔｅｘ/ａ.png"},
      {"δ\\ж.PNG", "Δ/Ж.png"},
      {"dup.png", "dup.png"},
      {"Dup.png", "DUP.png"},  // no exact entry: the first in sorted order
      {"..\\outside.png", std::nullopt},
      {"tex\\..\\..\\outside.png", std::nullopt},
      {(root / "outside.png").string(), std::nullopt},
      {(model / "a.bmp").string(), std::nullopt},
      {"C:\\model\\a.bmp", std::nullopt},
      {"c:a.bmp", std::nullopt},
      {"", std::nullopt},
      {".", std::nullopt},
      {"tex\\nothere.png", std::nullopt},
      {"nodir\\face.png", std::nullopt},
      {"dirtex.png", std::nullopt},
      {"a.bmp\\x", std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<fs::path> got = ResolveModelTexturePath(model, c.Stored);
    if (c.Expected) {
      ASSERT_TRUE(got.has_value()) << c.Stored;
      EXPECT_EQ(fs::relative(*got, model).generic_string(), *c.Expected) << c.Stored;
    } else {
      EXPECT_FALSE(got.has_value()) << c.Stored << " -> " << got->string();
    }
  }
  fs::remove_all(root);
}

TEST(TexturePath, FoldCaseLowersLettersOfCasedScriptsOnly) {
  EXPECT_EQ(FoldCase("Tex\\FACE.Png"), "tex\\face.png");
  EXPECT_EQ(FoldCase("ÀÉÖØÞ×"), "àéöøþ×");
  EXPECT_EQ(FoldCase("ΑΩЖЁ"), "αωжё");
  EXPECT_EQ(FoldCase("ＡＺ"), "ａｚ");
  EXPECT_EQ(FoldCase("顔テクスチャ"), "顔テクスチャ");
  EXPECT_EQ(FoldCase(std::string("A\xFF\xC3Z")), std::string("a\xFF\xC3z"));  // bad UTF-8 kept
}

}  // namespace
