// The overlay's text and picture: the lines it shows, the time format, the progress bar, and
// Japanese names drawn with the system font's glyphs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/Overlay.h"

namespace {

TEST(Overlay, PlaybackTimeIsMinutesSecondsAndTenths) {
  const std::pair<double, const char*> Cases[] = {
      {0, "0:00.0"},     {49, "0:00.0"},       {51, "0:00.1"}, {59999, "1:00.0"},
      {61234, "1:01.2"}, {3599950, "60:00.0"}, {-5, "0:00.0"},
  };
  for (const auto& [Ms, Text] : Cases) EXPECT_EQ(FormatPlaybackTime(Ms), Text) << Ms;
}

TEST(Overlay, LinesShowTimeFrameNamesPhysicsAndKeys) {
  TOverlayInfo Info;
  Info.TimeMilliseconds = 61234;  // frame 1837.02
  Info.LengthMilliseconds = 200000;
  Info.FramesPerSecond = 59.6;
  Info.ModelName = "初音ミク";
  Info.MotionNames = {"ダンス.vmd", "表情.vmd"};
  Info.SongName = "曲.ogg";
  Info.Physics = 1;
  Info.Playing = true;
  const std::vector<std::string> Lines = OverlayLines(Info);
  const std::vector<std::string> Expected = {
      "1:01.2 / 3:20.0  playing",
      "frame 1837  60 fps",
      "model: 初音ミク",
      "motion: ダンス.vmd + 表情.vmd",
      "song: 曲.ogg",
      "physics: on",
      "P play  Home  PgUp/PgDn 5 s  , . frame  C camera  X physics  F1 hide"};
  EXPECT_EQ(Lines, Expected);
  Info.Physics = -1;
  Info.SongName.clear();
  Info.MotionNames.clear();
  Info.Playing = false;
  const std::vector<std::string> Bare = OverlayLines(Info);
  EXPECT_EQ(Bare.size(), 5u);
  EXPECT_EQ(Bare[0], "1:01.2 / 3:20.0  paused");
  EXPECT_EQ(Bare[3], "motion: -");
  EXPECT_NEAR(OverlayProgress(Info), 61234.0 / 200000.0, 1e-12);
  // Several models: listed after the selected one's motions, the selected one marked.
  Info.SceneModels = {"初音ミク", "ルカ", "ステージ (stage)"};
  Info.Selected = 1;
  const std::vector<std::string> Scene = OverlayLines(Info);
  const std::vector<std::string> Listed(Scene.begin() + 4, Scene.begin() + 8);
  EXPECT_EQ(Listed, (std::vector<std::string>{"models (Tab selects):", "  初音ミク", "> ルカ",
                                              "  ステージ (stage)"}));
}

// The frame shown is the one being played: 30 per second, counted down (1.999 frames in is frame
// 1), not to the nearest.
TEST(Overlay, FrameNumberIsTheWholeFramesPlayed) {
  const std::pair<double, const char*> Cases[] = {
      {0, "frame 0  30 fps"},          {16.7, "frame 0  30 fps"},      // half a frame
      {33.3, "frame 0  30 fps"},       {66.63, "frame 1  30 fps"},     // 1.999 frames
      {200, "frame 6  30 fps"},        {1016.65, "frame 30  30 fps"},  // 30.4995 frames
      {59999.9, "frame 1799  30 fps"},
  };
  for (const auto& [Ms, Text] : Cases) {
    TOverlayInfo Info;
    Info.TimeMilliseconds = Ms;
    Info.LengthMilliseconds = 100000;
    Info.FramesPerSecond = 30;
    EXPECT_EQ(OverlayLines(Info).at(1), Text) << Ms;
  }
}

// Bright pixels of the composed picture in a band of rows.
int Bright(const TRgbaImage& AImage, int AY0, int AY1) {
  int N = 0;
  for (int Y = AY0; Y < AY1; ++Y)
    for (int X = 0; X < AImage.Width; ++X) N += AImage.Pixels[(Y * AImage.Width + X) * 4] > 200;
  return N;
}

TEST(Overlay, JapaneseNamesAreDrawnAndTheBarFillsWithTheTime) {
  if (FindJapaneseFont().empty()) GTEST_SKIP() << "no font with Japanese glyphs installed";
  const TOverlay Overlay;
  ASSERT_TRUE(Overlay.HasFont());
  TOverlayInfo Info;
  Info.LengthMilliseconds = 10000;
  Info.ModelName = "-";
  const TRgbaImage Plain = Overlay.Compose(Info);
  Info.ModelName = "初音ミク";
  const TRgbaImage Named = Overlay.Compose(Info);
  ASSERT_EQ(Named.Height, Plain.Height);
  // The model's line (the third) gains the ink of four Japanese glyphs.
  const int LineHeight = (Plain.Height - 6 - 24) / 5;
  const int Y0 = 8 + 2 * LineHeight, Y1 = Y0 + LineHeight;
  EXPECT_GT(Bright(Named, Y0, Y1), Bright(Plain, Y0, Y1) + 60);
  // The bar: a quarter against three quarters filled.
  const int BarY = Plain.Height - 8 - 6;
  Info.TimeMilliseconds = 2500;
  const int Quarter = Bright(Overlay.Compose(Info), BarY, BarY + 6);
  Info.TimeMilliseconds = 7500;
  const int ThreeQuarters = Bright(Overlay.Compose(Info), BarY, BarY + 6);
  EXPECT_NEAR(static_cast<double>(ThreeQuarters) / Quarter, 3.0, 0.2);
}

}  // namespace
