// The music through SDL's "disk" audio driver, which writes the mixed stream to a file in real
// time: the song's own samples from where the clock put it, silence while paused, and the dance's
// clock on the song. The song is written here: every stereo frame carries its own index (left: the
// low 15 bits, right: the rest), so the stream tells exactly which part of the song was played.
#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "scene/PlaybackClock.h"
#include "shell/SongPlayer.h"
#include "shell/ViewerScene.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 44100;

void WriteIndexWav(const fs::path& APath, int AFrames) {
  std::vector<std::int16_t> Samples;
  for (int I = 0; I < AFrames; ++I) {
    Samples.push_back(static_cast<std::int16_t>(I & 0x7FFF));
    Samples.push_back(static_cast<std::int16_t>(I >> 15));
  }
  const std::uint32_t DataBytes = static_cast<std::uint32_t>(Samples.size() * 2);
  std::ofstream Out(APath, std::ios::binary);
  auto U32 = [&](std::uint32_t V) { Out.write(reinterpret_cast<const char*>(&V), 4); };
  auto U16 = [&](std::uint16_t V) { Out.write(reinterpret_cast<const char*>(&V), 2); };
  Out.write("RIFF", 4);
  U32(36 + DataBytes);
  Out.write("WAVEfmt ", 8);
  U32(16);
  U16(1);  // PCM
  U16(2);
  U32(kRate);
  U32(kRate * 4);
  U16(4);
  U16(16);
  Out.write("data", 4);
  U32(DataBytes);
  Out.write(reinterpret_cast<const char*>(Samples.data()), DataBytes);
}

// A stretch of the written stream: silence, or the song's frames from First on, one after another.
struct TRun {
  bool Silent;
  long First;
  long Frames;
};

std::vector<TRun> ReadRuns(const fs::path& APath) {
  std::ifstream In(APath, std::ios::binary);
  std::vector<std::int16_t> S((std::istreambuf_iterator<char>(In)), {});
  std::vector<std::int16_t> Samples(S.size() / 2);
  std::vector<char> Bytes(S.begin(), S.end());
  std::memcpy(Samples.data(), Bytes.data(), Samples.size() * 2);
  std::vector<TRun> Runs;
  for (std::size_t F = 0; F + 1 < Samples.size(); F += 2) {
    const bool Silent = Samples[F] == 0 && Samples[F + 1] == 0;
    const long Index = static_cast<long>(Samples[F + 1]) << 15 | Samples[F];
    if (!Runs.empty() && Runs.back().Silent == Silent &&
        (Silent || Runs.back().First + Runs.back().Frames == Index)) {
      ++Runs.back().Frames;
      continue;
    }
    Runs.push_back({Silent, Silent ? 0 : Index, 1});
  }
  return Runs;
}

TEST(SongPlayer, DiskStreamHoldsTheSongFromWhereTheClockPutsItAndSilenceWhilePaused) {
  const fs::path Dir = fs::temp_directory_path() / ("quenlor_song_" + std::to_string(getpid()));
  fs::create_directories(Dir);
  const fs::path Song = Dir / "曲 test.wav", Stream = Dir / "stream.raw";
  WriteIndexWav(Song, 5 * kRate);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", Stream.c_str(), 1);
  ASSERT_TRUE(TSongPlayer::OpenAudio()) << SDL_GetError();
  {
    TSongPlayer Player(Song.string());
    EXPECT_NEAR(Player.LengthMilliseconds(), 5000.0, 1.0);

    // The song starts 500 ms into the dance.
    TPlaybackClock Clock(SteadyMilliseconds);
    Clock.SetMotionLength(4000.0);
    Clock.SetSong(&Player, 500.0);
    EXPECT_NEAR(Clock.Length(), 5500.0, 1.0);
    Clock.Seek(2500.0);
    Clock.Start();
    // The dance follows the song: each frame's time is the song's plus the offset.
    // (That the song plays at its own pace is seen in the stream below, sample for sample, not
    // against the wall clock, which a busy machine would make a lottery.)
    double Worst = 0.0;
    for (int Frame = 0; Frame < 40; ++Frame) {
      std::this_thread::sleep_for(10ms);
      const double Dance = Clock.Position();
      Worst = std::max(Worst, std::fabs(Dance - (500.0 + Player.PositionMilliseconds())));
    }
    EXPECT_LT(Worst, 50.0);  // the decoder reports in steps of 93 ms here
    EXPECT_GT(Clock.Position(), 2700.0);
    Clock.Stop();
    EXPECT_FALSE(Player.Playing());
    std::this_thread::sleep_for(300ms);
    Clock.Seek(1500.0);
    Clock.Start();
    std::this_thread::sleep_for(300ms);
    Clock.Stop();
    std::this_thread::sleep_for(100ms);
  }
  TSongPlayer::CloseAudio();

  std::vector<TRun> Runs = ReadRuns(Stream);
  // Leading and trailing silence aside: the song from 2.0 s, a pause, the song from 1.0 s.
  while (!Runs.empty() && Runs.back().Silent) Runs.pop_back();
  if (!Runs.empty() && Runs.front().Silent) Runs.erase(Runs.begin());
  ASSERT_EQ(Runs.size(), 3u);
  EXPECT_EQ(Runs[0].First, 2 * kRate);
  EXPECT_GT(Runs[0].Frames, kRate / 5);
  EXPECT_TRUE(Runs[1].Silent);
  EXPECT_GT(Runs[1].Frames, kRate / 5) << "silent while paused";
  EXPECT_FALSE(Runs[2].Silent);
  EXPECT_EQ(Runs[2].First, 1 * kRate);
  EXPECT_GT(Runs[2].Frames, kRate / 5);
  fs::remove_all(Dir);
}

// OGG, MP3 and FLAC made from a generated WAV by ffmpeg (when it is installed): each is read with
// its length.
TEST(SongPlayer, ReadsOggMp3AndFlacWithTheirLength) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg here";
  const fs::path Dir = fs::temp_directory_path() / ("quenlor_formats_" + std::to_string(getpid()));
  fs::create_directories(Dir);
  WriteIndexWav(Dir / "song.wav", 2 * kRate);
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  ASSERT_TRUE(TSongPlayer::OpenAudio());
  for (const char* Ext : {"ogg", "mp3", "flac"}) {
    const fs::path Song = Dir / (std::string("song.") + Ext);
    const std::string Convert = "ffmpeg -v error -y -i " + (Dir / "song.wav").string() + " " +
                                Song.string() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(Convert.c_str()), 0) << Ext;
    const TSongPlayer Player(Song.string());
    // MP3 encoders pad the start and the end by a frame or two.
    EXPECT_NEAR(Player.LengthMilliseconds(), 2000.0, 80.0) << Ext;
  }
  TSongPlayer::CloseAudio();
  fs::remove_all(Dir);
}

TEST(SongPlayer, AFileThatIsNoSongIsReportedWithItsName) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
  ASSERT_TRUE(TSongPlayer::OpenAudio());
  const fs::path Bad =
      fs::temp_directory_path() / ("quenlor_bad_" + std::to_string(getpid()) + ".ogg");
  std::ofstream(Bad) << "not a song";
  try {
    TSongPlayer Player(Bad.string());
    FAIL() << "accepted";
  } catch (const std::exception& E) {
    EXPECT_NE(std::string(E.what()).find(Bad.string()), std::string::npos) << E.what();
  }
  fs::remove(Bad);
  TSongPlayer::CloseAudio();
}

}  // namespace
