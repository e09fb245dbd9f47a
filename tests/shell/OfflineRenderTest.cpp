// --render's arithmetic and commands: which frames a range holds, the ffmpeg command line with the
// song placed against the first frame, the progress line, the checks of a video's file name.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell/OfflineRender.h"

namespace {

TEST(OfflineRender, FramesAreThoseWhoseTimeLiesInTheRange) {
  struct TCase {
    double From, To, LengthMs;
    int Fps;
    std::int64_t First, Count;
  } Cases[] = {
      {0, -1, 12000, 30, 0, 360},      // the whole loop
      {0, -1, 12010, 30, 0, 361},      // a part frame at the end is a frame
      {5, 5.5, 0, 30, 150, 15},        // 5.0 .. 5.4666
      {1.1, 2.2, 0, 30, 33, 33},       // decimal seconds are not shifted by a rounding error
      {0.01, 1, 0, 60, 1, 59},         // the first frame at or after --from
      {0, 2, 99999, 60, 0, 120},       // --to before the end wins over the length
      {11.9, 600, 12000, 30, 357, 3},  // --to past the end is the end
      {11, 12.5, 12010, 60, 660, 61},  // ... a part frame at the end still counts
      {3, -1, 2000, 30, 90, 0},        // nothing left
  };
  for (const TCase& C : Cases) {
    const TRenderFrames F = RenderFrames(C.From, C.To, C.LengthMs, C.Fps);
    EXPECT_EQ(F.First, C.First) << C.From << " " << C.To;
    EXPECT_EQ(F.Count, C.Count) << C.From << " " << C.To;
  }
}

TEST(OfflineRender, FfmpegCommandPlacesTheSongAgainstTheFirstFrame) {
  const std::string NoSong =
      FfmpegCommand("/usr/bin/ffmpeg", 1920, 1080, 60, "", 0, 12.5, "out/a b.mp4");
  EXPECT_NE(NoSong.find("'/usr/bin/ffmpeg'"), std::string::npos) << NoSong;
  EXPECT_NE(NoSong.find("-f rawvideo -pix_fmt rgb24 -s 1920x1080 -r 60 -i -"), std::string::npos);
  EXPECT_NE(NoSong.find("-vf vflip"), std::string::npos) << "GL rows run bottom-up";
  EXPECT_NE(NoSong.find("-t 12.500"), std::string::npos) << NoSong;
  EXPECT_EQ(NoSong.find("-map"), std::string::npos);
  EXPECT_EQ(NoSong.substr(NoSong.size() - 13), "'out/a b.mp4'");

  // The song's time at the first frame: 4.5 s in, or starting 0.25 s after it.
  const std::string Later = FfmpegCommand("ffmpeg", 64, 36, 30, "it's 曲.ogg", 4500, 1, "x.mp4");
  EXPECT_NE(Later.find("-ss 4.500 -i 'it'\\''s 曲.ogg' -map 0:v -map 1:a"), std::string::npos)
      << Later;
  const std::string Delayed = FfmpegCommand("ffmpeg", 64, 36, 30, "s.wav", -250, 1, "x.mp4");
  EXPECT_NE(Delayed.find("-itsoffset 0.250 -i 's.wav'"), std::string::npos) << Delayed;
}

// From the command line to the song's place in the video. A positive --audio-offset starts the
// song after the dance: at the dance's time t the song is at t - offset. So a range from 0 waits
// 2 s for the song, a negative offset starts 2 s into it, and --from 10 with the song 2 s late is
// 8 s into it.
TEST(OfflineRender, SongOffsetPlacesTheSongInTheVideo) {
  struct TCase {
    std::vector<std::string> Args;
    const char* SongPart;
  } Cases[] = {
      {{"--audio-offset", "+2000"}, " -itsoffset 2.000 -i 's.ogg'"},
      {{"--audio-offset", "-2000"}, " -ss 2.000 -i 's.ogg'"},
      {{"--audio-offset", "2000", "--from", "10"}, " -ss 8.000 -i 's.ogg'"},
      {{"--audio-offset", "500", "--from", "2", "--fps", "60"}, " -ss 1.500 -i 's.ogg'"},
      {{"--audio-offset", "12500", "--from", "10"}, " -itsoffset 2.500 -i 's.ogg'"},
  };
  for (const TCase& C : Cases) {
    std::vector<std::string> Args = {"--render", "out.mp4", "m.pmx", "d.vmd", "s.ogg"};
    Args.insert(Args.end(), C.Args.begin(), C.Args.end());
    const TViewerOptions O = ParseCommandLine(Args);
    const TRenderFrames Frames = RenderFrames(O.FromSeconds, O.ToSeconds, 60000, O.Fps);
    const std::string Command =
        RenderFfmpegCommand(O, "ffmpeg", 64, 36, Frames, O.AudioPath, O.AudioOffsetMs);
    EXPECT_NE(Command.find(C.SongPart), std::string::npos) << C.Args[1] << ": " << Command;
  }
}

TEST(OfflineRender, ProgressLineShowsFramesRateAndTimeLeft) {
  EXPECT_EQ(ProgressLine(150, 300, 25.0),
            "[###############...............] 150/300 frames  25.0 frames/s  0:06 left");
  EXPECT_EQ(ProgressLine(300, 300, 7.46),
            "[##############################] 300/300 frames  7.5 frames/s  0:00 left");
  EXPECT_EQ(ProgressLine(0, 5400, 2.0).substr(0, 32), "[..............................]");
  EXPECT_NE(ProgressLine(0, 5400, 2.0).find("45:00 left"), std::string::npos);
  EXPECT_TRUE(IsVideoOutput("x/clip.MP4"));
  EXPECT_FALSE(IsVideoOutput("frames.mp4/"));
  EXPECT_FALSE(IsVideoOutput("frames"));
}

// A video is checked before any frame is drawn: its folder must exist and be writable, and the
// name must not be a folder.
TEST(OfflineRender, OutputFileProblemNamesWhyAVideoCannotBeWritten) {
  namespace fs = std::filesystem;
  const fs::path Dir = fs::temp_directory_path() / ("render_out_" + std::to_string(getpid()));
  fs::create_directories(Dir / "taken.mp4");
  std::ofstream(Dir / "file") << "x";
  struct TCase {
    fs::path Out;
    const char* Problem;  // a part of the answer; "" for none
  } Cases[] = {
      {Dir / "clip.mp4", ""},
      {Dir / "missing" / "clip.mp4", "does not exist"},
      {Dir / "file" / "clip.mp4", "is not a folder"},
      {Dir / "taken.mp4", "it is a folder"},
  };
  for (const TCase& C : Cases) {
    const std::string Problem = OutputFileProblem(C.Out.string());
    if (*C.Problem == '\0')
      EXPECT_EQ(Problem, "") << C.Out;
    else
      EXPECT_NE(Problem.find(C.Problem), std::string::npos) << C.Out << ": " << Problem;
  }
  // A plain name lies in the current folder.
  EXPECT_EQ(OutputFileProblem("clip.mp4"), "");
  fs::remove_all(Dir);
}

}  // namespace
