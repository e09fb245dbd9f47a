// The dance's clock on simulated time with a simulated song: play and pause, the timeline's moves,
// the loop over the longer of motion and song, the offset, and the song as the master clock.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scene/PlaybackClock.h"
#include "scene/Timeline.h"

namespace {

// A song whose position runs at ARate of the simulated time (a sound card's clock is never
// exactly the system's).
class TSimulatedSong : public ISongPlayer {
 public:
  TSimulatedSong(const double& ANow, double ALength, double ARate = 1.0)
      : FNow(ANow), FLength(ALength), FRate(ARate) {}
  double LengthMilliseconds() const override { return FLength; }
  void PlayFrom(double AMilliseconds) override {
    FFrom = AMilliseconds;
    FStartedAt = FNow;
    FStarted = true;
    Starts.push_back(AMilliseconds);
  }
  void Stop() override {
    FStarted = false;
    ++Stops;
  }
  bool Playing() const override { return FStarted && Raw() < FLength; }
  double PositionMilliseconds() const override { return std::min(Raw(), FLength); }

  std::vector<double> Starts;
  int Stops = 0;

 private:
  double Raw() const { return FFrom + (FNow - FStartedAt) * FRate; }
  const double& FNow;
  double FLength, FRate;
  double FFrom = 0.0, FStartedAt = 0.0;
  bool FStarted = false;
};

class PlaybackClockTest : public ::testing::Test {
 protected:
  TPlaybackClock FClock{[this] { return FNow; }};
  double FNow = 1000.0;  // any origin
  // Advances the simulated time in frames of 16 ms, reading the clock each frame as the viewer
  // does.
  void Run(double AMilliseconds) {
    for (double T = 0; T < AMilliseconds; T += 16.0) {
      FNow += std::min(16.0, AMilliseconds - T);
      FClock.Position();
    }
  }
};

TEST_F(PlaybackClockTest, RunsPausesContinuesAndLoopsOverTheMotion) {
  FClock.SetMotionLength(3000.0);
  Run(500);
  EXPECT_EQ(FClock.Position(), 0.0) << "starts paused";
  FClock.Start();
  Run(1000);
  EXPECT_NEAR(FClock.Position(), 1000.0, 1e-6);
  FClock.Stop();
  Run(700);
  EXPECT_NEAR(FClock.Position(), 1000.0, 1e-6);
  FClock.Start();
  Run(2500);
  EXPECT_NEAR(FClock.Position(), 500.0, 1e-6) << "3500 ms is 500 ms into the second loop";
}

// Home, PageUp/PageDown and the frame steps from a given time of a 10 s loop.
TEST_F(PlaybackClockTest, TimelineMovesLandWhereTheKeysSay) {
  const double F = 100.0 / 3.0;
  struct TCase {
    const char* Key;
    double From;
    bool Running;
    double To;
    bool RunningAfter;
  } Cases[] = {
      {"Home", 7300, true, 0, true},
      {"Home", 7300, false, 0, false},
      {"PageUp", 7300, true, 2300, true},
      {"PageUp", 2000, false, 0, false},  // not before the start
      {"PageDown", 2000, false, 7000, false},
      {"PageDown", 8000, true, 3000, true},    // round the loop
      {"Period", 1010, false, 31 * F, false},  // from the nearest frame, 30
      {"Period", 1010, true, 31 * F, false},   // a step pauses
      {"Comma", 1010, false, 29 * F, false},
      {"Comma", 0, false, 10000 - F, false},  // back from the first frame: the last
      {"Period", 10000 - F, false, 0, false},
  };
  for (const TCase& C : Cases) {
    TPlaybackClock Clock([this] { return FNow; });
    Clock.SetMotionLength(10000.0);
    Clock.Seek(C.From);
    if (C.Running) Clock.Start();
    const std::string Key = C.Key;
    if (Key == "Home") Clock.Seek(0);
    if (Key == "PageUp") Clock.Jump(-5000);
    if (Key == "PageDown") Clock.Jump(5000);
    if (Key == "Period") Clock.StepFrames(1);
    if (Key == "Comma") Clock.StepFrames(-1);
    EXPECT_NEAR(Clock.Position(), C.To, 1e-6) << C.Key << " from " << C.From;
    EXPECT_EQ(Clock.Running(), C.RunningAfter) << C.Key << " from " << C.From;
  }
}

// Over a minute of a song whose clock runs 2 % slow, the dance stays on the song.
TEST_F(PlaybackClockTest, TheDanceFollowsTheSongWhileItPlays) {
  TSimulatedSong Song(FNow, 120000.0, 0.98);
  FClock.SetMotionLength(120000.0);
  FClock.SetSong(&Song, 0.0);
  FClock.Start();
  for (int Second = 1; Second <= 60; ++Second) {
    Run(1000);
    ASSERT_NEAR(FClock.Position(), Song.PositionMilliseconds(), 5.0) << "after " << Second << " s";
  }
  EXPECT_EQ(Song.Starts.size(), 1u) << "followed, not restarted";
}

TEST_F(PlaybackClockTest, TheOffsetStartsTheSongLaterOrFurtherIn) {
  struct TCase {
    double Offset;
    double RunFor;
    std::vector<double> Starts;  // where the song was started
    double SongAt;               // its position at the end (when it plays)
  } Cases[] = {
      {2000, 1500, {}, 0},         // not yet
      {2000, 2512, {0}, 512},      // started on the first frame past 2 s
      {-1500, 400, {1500}, 1900},  // the song's first 1.5 s are before the dance
  };
  for (const TCase& C : Cases) {
    TSimulatedSong Song(FNow, 60000.0);
    TPlaybackClock Clock([this] { return FNow; });
    Clock.SetMotionLength(30000.0);
    Clock.SetSong(&Song, C.Offset);
    Clock.Start();
    for (double T = 0; T < C.RunFor; T += 16.0) {
      FNow += std::min(16.0, C.RunFor - T);
      Clock.Position();
    }
    ASSERT_EQ(Song.Starts.size(), C.Starts.size()) << C.Offset;
    for (std::size_t I = 0; I < C.Starts.size(); ++I)
      EXPECT_NEAR(Song.Starts[I], C.Starts[I], 16.0) << C.Offset;
    if (!C.Starts.empty()) {
      EXPECT_TRUE(Song.Playing());
      EXPECT_NEAR(Song.PositionMilliseconds(), C.SongAt, 16.0) << C.Offset;
      EXPECT_NEAR(Clock.Position(), C.Offset + Song.PositionMilliseconds(), 1.0);
    }
  }
}

TEST_F(PlaybackClockTest, TheLoopRunsOverTheLongerAndBothRestartTogether) {
  struct TCase {
    double Motion, Song, Offset, Length;
  } Cases[] = {{5000, 8000, 0, 8000}, {9000, 8000, 0, 9000}, {5000, 4000, 2000, 6000}};
  for (const TCase& C : Cases) {
    TSimulatedSong Song(FNow, C.Song);
    TPlaybackClock Clock([this] { return FNow; });
    Clock.SetMotionLength(C.Motion);
    Clock.SetSong(&Song, C.Offset);
    EXPECT_EQ(Clock.Length(), C.Length);
    Clock.Start();
    for (double T = 0; T < C.Length + 300; T += 16.0) {
      FNow += 16.0;
      Clock.Position();
    }
    EXPECT_LT(Clock.Position(), 400.0) << C.Length;
    // The song went round with the dance: started again at the loop (from its start, or not yet
    // when it starts later than the dance).
    const std::size_t Expected = C.Offset > 0 ? 1u : 2u;
    ASSERT_EQ(Song.Starts.size(), Expected) << C.Length;
    EXPECT_NEAR(Song.Starts.back(), 0.0, 16.0);
  }
}

TEST_F(PlaybackClockTest, PauseSilencesTheSongAndResumeGoesOnFromTheSamePlace) {
  TSimulatedSong Song(FNow, 60000.0);
  FClock.SetMotionLength(60000.0);
  FClock.SetSong(&Song, 0.0);
  FClock.Start();
  Run(2000);
  FClock.Stop();
  EXPECT_FALSE(Song.Playing());
  const double Held = FClock.Position();
  Run(3000);
  EXPECT_EQ(FClock.Position(), Held);
  FClock.Start();
  ASSERT_EQ(Song.Starts.size(), 2u);
  EXPECT_NEAR(Song.Starts[1], Held, 1e-6);
  // A jump while playing starts the song at the new place.
  FClock.Jump(5000);
  ASSERT_EQ(Song.Starts.size(), 3u);
  EXPECT_NEAR(Song.Starts[2], Held + 5000, 1e-6);
}

TEST(HeldMotionTime, HoldsTheLastFrameWhileALongerSongPlaysOn) {
  const double F = 100.0 / 3.0;
  const double Cases[][3] = {{0, 3000, 0},
                             {2999, 3000, 2999},
                             {3000, 3000, 3000 - F},
                             {7000, 3000, 3000 - F},
                             {500, 0, 500}};
  for (const auto& C : Cases) EXPECT_NEAR(HeldMotionTime(C[0], C[1]), C[2], 1e-9) << C[0];
}

}  // namespace

namespace {

// The keys of the timeline on a paused 20 s dance at 7 s.
TEST(TimelineKeys, EachKeyMovesTheClockItsWayAndOthersDoNot) {
  const double F = 100.0 / 3.0;
  struct TCase {
    std::uint16_t Key;
    bool Handled;
    double To;
  } Cases[] = {
      {VK_HOME, true, 0},
      {VK_PRIOR, true, 2000},
      {VK_NEXT, true, 12000},
      {VK_OEM_COMMA, true, 209 * F},
      {VK_OEM_PERIOD, true, 211 * F},
      {'P', false, 7000},
      {VK_F1, false, 7000},
      {35 /* End */, false, 7000},
  };
  for (const TCase& C : Cases) {
    double Now = 0.0;
    TPlaybackClock Clock([&] { return Now; });
    Clock.SetMotionLength(20000.0);
    Clock.Seek(7000.0);
    EXPECT_EQ(TimelineKeyDown(C.Key, Clock), C.Handled) << C.Key;
    EXPECT_NEAR(Clock.Position(), C.To, 1e-6) << C.Key;
  }
}

}  // namespace
