// The viewer on OpenXR as a user runs it: the real quenlor process under Xvfb with XR_RUNTIME_JSON
// pointing at the test runtime, driven with xdotool, judged by the runtime's log of states and
// frames, the two-eye screenshot, the window's mirror, standard error and the exit status; and
// the choice of display when runtimes fail or are missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/shell/E2EPicture.h"
#include "tests/shell/E2EProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using e2e::kBin;
using e2e::Shell;
using e2e::WaitFor;
using e2e::Xdo;

// The test runtime's eye images and field of view (left eye; the right one mirrors it).
constexpr int kEyeWidth = 320, kEyeHeight = 288;
constexpr double kLeftTan = 1.2601582175503392;   // tan(0.90)
constexpr double kRightTan = 0.8422883804630794;  // tan(0.70)

// The window's client width on the suite's 1920-pixel screen: half the monitor.
constexpr int kWindowWidth = 960;

using e2e::DifferentPixels;
using e2e::ReadBmp;
using e2e::TPicture;
using e2e::TRgb;

bool White(const TRgb& C) {
  return C[0] >= 235 && C[1] >= 235 && C[2] >= 235;
}
bool Green(const TRgb& C) {
  return C[1] >= 170 && C[1] >= C[0] + 60 && C[1] >= C[2] + 30;
}
bool Figure(const TRgb& C) {
  return !White(C) && !Green(C);
}
int Count(const TPicture& P, bool (*APred)(const TRgb&)) {
  return int(std::count_if(P.Pixels.begin(), P.Pixels.end(), APred));
}
// The ground and her shadow on it: green, lit or not.
bool Greenish(const TRgb& C) {
  return C[1] >= C[0] + 40 && C[1] >= C[2] + 20;
}
// Mean column of the character's pixels. She is shorter than the eyes are high, so she stands
// wholly below the horizon (the ground's first row in that column), where everything else is
// ground and shadow.
struct TCharacter {
  double CentreX = -1;
};
TCharacter FindCharacter(const TPicture& P) {
  double Sum = 0;
  int N = 0;
  for (int X = 0; X < P.Width; ++X) {
    int Horizon = 0;
    while (Horizon < P.Height && !Green(P.At(X, Horizon))) ++Horizon;
    for (int Y = Horizon + 3; Y < P.Height; ++Y)
      if (!White(P.At(X, Y)) && !Greenish(P.At(X, Y))) Sum += X, ++N;
  }
  return {N ? Sum / N : -1};
}

// One viewer process with the given environment (name, value; a null value unsets it) and
// arguments, in its own working directory with its own standard error file.
class TViewer : public e2e::TViewerProcess {
 public:
  TViewer(const fs::path& AWorkDir, std::vector<std::pair<std::string, const char*>> AEnv,
          std::vector<std::string> AArgs = {})
      : TViewerProcess(kBin / "quenlor", AWorkDir, AWorkDir / "stderr.txt", WithoutDevice(AEnv),
                       AArgs) {}
  bool FindWindow() { return !TViewerProcess::FindWindow("Pos: ", 30s).empty(); }
  const std::string& Window() const { return FWindow; }
  std::string Caption() { return Shell("xdotool getwindowname " + FWindow + " 2>/dev/null"); }
  void Key(const std::string& AKey) {
    Xdo("windowfocus --sync " + FWindow);
    Xdo("key " + AKey);
  }
  fs::path ScreenShot() {
    const std::vector<fs::path> Before = ScreenShots();
    Key("Print");
    fs::path Result;
    WaitFor(
        [&] {
          for (const fs::path& P : ScreenShots())
            if (std::find(Before.begin(), Before.end(), P) == Before.end()) Result = P;
          return !Result.empty();
        },
        15s);
    std::this_thread::sleep_for(300ms);
    return Result;
  }
  int WaitForExit(std::chrono::milliseconds ATimeout = 20s) {
    return TViewerProcess::WaitForExit(ATimeout);
  }

 private:
  // The legacy runtime's device is never asked for here: only OpenXR or the window.
  static std::vector<std::pair<std::string, const char*>> WithoutDevice(
      std::vector<std::pair<std::string, const char*>> AEnv) {
    AEnv.insert(AEnv.begin(), {"HMD_RUNTIME_DEVICE", nullptr});
    return AEnv;
  }
};

int CountLines(const std::string& AText, const std::string& APart) {
  std::istringstream In(AText);
  int N = 0;
  for (std::string Line; std::getline(In, Line);) N += Line.find(APart) != std::string::npos;
  return N;
}

class OpenXrEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    ASSERT_TRUE(fs::exists(kBin / "quenlor"));
    FRoot = fs::temp_directory_path() /
            ("quenlor_openxr_e2e_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(FRoot);
  }
  fs::path Work(const std::string& AName = "work") const { return FRoot / AName; }
  std::string Log() const {
    std::ifstream In(FRoot / "xr.log");
    return std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  }
  // The test runtime with these switches, logging to the test's folder.
  std::vector<std::pair<std::string, const char*>> Runtime(const char* ASwitches) {
    FLogPath = (FRoot / "xr.log").string();
    return {{"XR_RUNTIME_JSON", QUENLOR_XRTEST_MANIFEST},
            {"QUENLOR_XRTEST", ASwitches},
            {"QUENLOR_XRTEST_LOG", FLogPath.c_str()}};
  }

  fs::path FRoot;
  std::string FLogPath;
};

TEST_F(OpenXrEndToEndTest, RendersFramesToTheRuntimeSavesBothEyesAndEscExitsZero) {
  TViewer V(Work(), Runtime(""));
  ASSERT_TRUE(V.FindWindow()) << V.Stderr();
  ASSERT_TRUE(WaitFor([&] { return CountLines(Log(), "layers 1") >= 10; }, 60s)) << Log();
  // The viewer stands at eye height where the headset started.
  EXPECT_EQ(V.Caption(), "Pos: (0.00, 1.70, 2.00)");

  const TPicture Shot = ReadBmp(V.ScreenShot());
  ASSERT_EQ(Shot.Width, 2 * kEyeWidth) << "both eyes side by side";
  ASSERT_EQ(Shot.Height, kEyeHeight);
  TCharacter Character[2];
  for (int Eye = 0; Eye < 2; ++Eye) {
    SCOPED_TRACE(Eye == 0 ? "left eye" : "right eye");
    const TPicture Part = Shot.Crop(Eye * kEyeWidth, 0, kEyeWidth, kEyeHeight);
    const int Area = kEyeWidth * kEyeHeight;
    EXPECT_GT(Count(Part, White), Area / 10) << "background";
    EXPECT_GT(Count(Part, Green), Area / 10) << "ground";
    EXPECT_GT(Count(Part, Figure), 300) << "the character";
    Character[Eye] = FindCharacter(Part);
  }
  // She stands ahead on the axis between the eyes. The asymmetric fields put her right of the
  // middle in the left eye and left of it in the right eye, (Left - Right) / (Left + Right) of
  // the half width each; the eyes' 64 mm apart add her parallax on top: a few pixels more at her
  // distance of some metres (swapped eyes or no offset fall below, a wrong scale beyond).
  const double WithoutParallax =
      2 * (kLeftTan - kRightTan) / (kLeftTan + kRightTan) * kEyeWidth / 2;
  const double Apart = Character[0].CentreX - Character[1].CentreX;
  EXPECT_GT(Apart, WithoutParallax + 0.5)
      << "centres " << Character[0].CentreX << ", " << Character[1].CentreX;
  EXPECT_LT(Apart, WithoutParallax + 6.0);

  // R recentres; W walks ahead (towards her, -Z) as the head looks; the runtime keeps getting
  // frames.
  V.Key("r");
  // Held long enough that a loaded machine's slow frames still see it down.
  Xdo("keydown w");
  std::this_thread::sleep_for(1500ms);
  Xdo("keyup w");
  float X = 0, Y = 0, Z = 9;
  EXPECT_TRUE(WaitFor(
      [&] {
        return std::sscanf(V.Caption().c_str(), "Pos: (%f, %f, %f)", &X, &Y, &Z) == 3 && Z < 1.9f;
      },
      10s))
      << V.Caption();
  EXPECT_NEAR(X, 0.0f, 1e-6f);
  const int Frames = CountLines(Log(), "layers 1");
  EXPECT_TRUE(WaitFor([&] { return CountLines(Log(), "layers 1") > Frames + 5; }, 30s));
  EXPECT_TRUE(V.Alive());

  V.Key("Escape");
  EXPECT_EQ(V.WaitForExit(), 0) << V.Stderr();
  EXPECT_EQ(V.Stderr(), "");
  // The session was ended the runtime's way before it went.
  const std::string L = Log();
  EXPECT_NE(L.find("end\nsession destroyed\ninstance destroyed"), std::string::npos) << L;
}

// E turns her face to the midpoint of the runtime's two eyes, and the mouse turns the view, as in
// the legacy headset mode.
TEST_F(OpenXrEndToEndTest, FaceTrackingTurnsHerFaceToTheHeadsetAndTheMouseTurnsTheView) {
  TViewer V(Work(), Runtime(""));
  ASSERT_TRUE(V.FindWindow()) << V.Stderr();
  ASSERT_TRUE(WaitFor([&] { return CountLines(Log(), "layers 1") >= 10; }, 60s)) << Log();
  // Step to the side so that she has to turn to look at the viewer.
  Xdo("windowfocus --sync " + V.Window());
  Xdo("keydown a");
  std::this_thread::sleep_for(1500ms);
  Xdo("keyup a");
  ASSERT_TRUE(WaitFor([&] { return V.Caption().find("(-") != std::string::npos; }, 5s))
      << V.Caption();
  std::this_thread::sleep_for(300ms);
  const TPicture Still1 = ReadBmp(V.ScreenShot());
  const TPicture Still2 = ReadBmp(V.ScreenShot());
  ASSERT_GT(Still1.Width, 0);
  EXPECT_EQ(DifferentPixels(Still1, Still2), 0) << "nothing moves on its own";
  V.Key("e");
  std::this_thread::sleep_for(500ms);
  const TPicture Tracking = ReadBmp(V.ScreenShot());
  EXPECT_GT(DifferentPixels(Still1, Tracking), 100) << "her face turns";
  V.Key("e");
  // The pointer into the window first: the viewer turns by its moves from the window's centre.
  Xdo("mousemove --window " + V.Window() + " 200 150");
  std::this_thread::sleep_for(300ms);
  const TPicture Before = ReadBmp(V.ScreenShot());
  Xdo("mousemove_relative -- 50 0");
  std::this_thread::sleep_for(500ms);
  EXPECT_GT(DifferentPixels(Before, ReadBmp(V.ScreenShot())), 1000) << "the view turns";
  V.Key("Escape");
  EXPECT_EQ(V.WaitForExit(), 0) << V.Stderr();
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(OpenXrEndToEndTest, TheRuntimeEndingTheSessionEndsTheViewer) {
  TViewer V(Work(), Runtime("exit-after=20"));
  ASSERT_TRUE(V.FindWindow()) << V.Stderr();
  EXPECT_EQ(V.WaitForExit(60s), 0) << V.Stderr();
  EXPECT_EQ(V.Stderr(), "");
  // STOPPING (6) answered with xrEndSession, which leads to IDLE (1) and EXITING (8).
  EXPECT_NE(Log().find("state 6\nstate 1\nstate 8\nend"), std::string::npos) << Log();
}

TEST_F(OpenXrEndToEndTest, ARuntimeFailingPartWayLeavesTheWindowWithOneLine) {
  struct TCase {
    const char* Switches;
    const char* Reason;  // part of the one stderr line
  };
  const TCase Cases[] = {{"fail-session", "xrCreateSession"},
                         {"fail-swapchain", "xrCreateSwapchain"},
                         {"gl-min=9.9", "needs OpenGL 9.9"},
                         {"lose-after=15", "lost"}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Switches);
    fs::remove(FRoot / "xr.log");
    TViewer V(Work(C.Switches), Runtime(C.Switches));
    ASSERT_TRUE(V.FindWindow()) << V.Stderr();
    // The window's own picture: its size, not the eyes'.
    EXPECT_TRUE(
        WaitFor([&] { return V.Stderr().find("Showing the window") != std::string::npos; }, 30s));
    const TPicture Shot = ReadBmp(V.ScreenShot());
    EXPECT_EQ(Shot.Width, kWindowWidth);
    V.Key("Escape");
    EXPECT_EQ(V.WaitForExit(), 0);
    const std::string Err = V.Stderr();
    EXPECT_EQ(CountLines(Err, ""), 1) << Err;
    EXPECT_NE(Err.find(C.Reason), std::string::npos) << Err;
  }
}

TEST_F(OpenXrEndToEndTest, TheDisplayIsOpenXrThenTheLegacyRuntimeThenTheWindow) {
  struct TCase {
    const char* Name;
    bool Runtime;          // XR_RUNTIME_JSON names the test runtime (else a missing file)
    const char* Legacy;    // HMD_RUNTIME_DEVICE
    const char* Argument;  // nullptr: none
    int ShotWidth;         // the screenshot's width; -1: the legacy runtime's two eyes
    bool OneLine;          // one line on stderr
  };
  const TCase Cases[] = {
      {"no OpenXR runtime: the legacy one", false, "simulated", nullptr, -1, false},
      {"no runtime at all: the window", false, nullptr, nullptr, kWindowWidth, false},
      {"OpenXR first", true, "simulated", nullptr, 2 * kEyeWidth, false},
      {"--headset legacy passes OpenXR by", true, "simulated", "--headset=legacy", -1, false},
      {"--headset openxr without a runtime", false, "simulated", "--headset=openxr", kWindowWidth,
       true},
      {"--no-headset", true, "simulated", "--no-headset", kWindowWidth, false},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::vector<std::pair<std::string, const char*>> Env = Runtime("");
    if (!C.Runtime) Env[0].second = "/nonexistent/openxr_runtime.json";
    Env.push_back({"HMD_RUNTIME_DEVICE", C.Legacy});
    std::vector<std::string> Args;
    if (C.Argument) Args.push_back(C.Argument);
    TViewer V(Work(C.Name), Env, Args);
    ASSERT_TRUE(V.FindWindow()) << V.Stderr();
    const TPicture Shot = ReadBmp(V.ScreenShot());
    ASSERT_GT(Shot.Width, 0);
    if (C.ShotWidth > 0) {
      EXPECT_EQ(Shot.Width, C.ShotWidth);
    }
    // The legacy headset's two-eye target: neither the window nor the OpenXR eyes.
    if (C.ShotWidth < 0) {
      EXPECT_NE(Shot.Width, kWindowWidth);
      EXPECT_NE(Shot.Width, 2 * kEyeWidth);
    }
    V.Key("Escape");
    EXPECT_EQ(V.WaitForExit(), 0);
    EXPECT_EQ(CountLines(V.Stderr(), ""), C.OneLine ? 1 : 0) << V.Stderr();
  }
}

}  // namespace
