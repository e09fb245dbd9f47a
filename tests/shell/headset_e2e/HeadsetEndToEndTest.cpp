// The viewer with the simulated headset as a user runs it: the real quenlor process on an X server
// (Xvfb), driven with xdotool, judged by the lens-distorted picture in its window (read from the
// screen file Xvfb keeps), its screenshots, its window geometry and its exit status.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "hmd/runtime/hmd_runtime.h"
#include "tests/shell/E2EPicture.h"
#include "tests/shell/E2EProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using e2e::kBin;
using e2e::Shell;
using e2e::WaitFor;
using e2e::Xdo;

using e2e::DifferentPixels;
using e2e::ReadBmp;
using e2e::TPicture;
using e2e::TRgb;

std::vector<unsigned char> ReadFile(const fs::path& APath) {
  std::ifstream In(APath, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(In)),
                                    std::istreambuf_iterator<char>());
}

// The X server's whole screen as Xvfb keeps it in its screen file (an XWD image of 32-bit
// true-colour pixels); empty when there is none.
TPicture ReadScreen() {
  const char* File = std::getenv("QUENLOR_SCREEN_FILE");
  TPicture P;
  if (!File) return P;
  const std::vector<unsigned char> D = ReadFile(File);
  auto U32 = [&](std::size_t AField) {  // header fields are big-endian
    const std::size_t O = 4 * AField;
    return uint32_t(D[O]) << 24 | uint32_t(D[O + 1]) << 16 | uint32_t(D[O + 2]) << 8 |
           uint32_t(D[O + 3]);
  };
  if (D.size() < 100) return P;
  const uint32_t HeaderSize = U32(0), Width = U32(4), Height = U32(5), ByteOrder = U32(7),
                 BitsPerPixel = U32(11), BytesPerLine = U32(12), RedMask = U32(14),
                 GreenMask = U32(15), BlueMask = U32(16), ColourCount = U32(19);
  const std::size_t Offset = HeaderSize + std::size_t(ColourCount) * 12;
  if (BitsPerPixel != 32 || !RedMask || !GreenMask || !BlueMask ||
      D.size() < Offset + std::size_t(BytesPerLine) * Height || BytesPerLine < 4 * Width)
    return P;
  P.Width = int(Width), P.Height = int(Height);
  P.Pixels.resize(std::size_t(Width) * Height);
  auto Channel = [](uint32_t AValue, uint32_t AMask) {
    return int((AValue & AMask) >> std::countr_zero(AMask));
  };
  for (uint32_t Y = 0; Y < Height; ++Y)
    for (uint32_t X = 0; X < Width; ++X) {
      const unsigned char* S = &D[Offset + std::size_t(Y) * BytesPerLine + 4 * X];
      const uint32_t V =
          ByteOrder == 0
              ? uint32_t(S[0]) | uint32_t(S[1]) << 8 | uint32_t(S[2]) << 16 | uint32_t(S[3]) << 24
              : uint32_t(S[0]) << 24 | uint32_t(S[1]) << 16 | uint32_t(S[2]) << 8 | uint32_t(S[3]);
      P.Pixels[std::size_t(Y) * Width + X] = {Channel(V, RedMask), Channel(V, GreenMask),
                                              Channel(V, BlueMask)};
    }
  return P;
}

bool Black(const TRgb& C) {
  return C[0] <= 12 && C[1] <= 12 && C[2] <= 12;
}
bool White(const TRgb& C) {
  return C[0] >= 235 && C[1] >= 235 && C[2] >= 235;
}
// The lit ground plane.
bool Green(const TRgb& C) {
  return C[1] >= 170 && C[1] >= C[0] + 60 && C[1] >= C[2] + 30;
}
// The dark blue panel of the runtime's health and safety notice.
bool NoticePanel(const TRgb& C) {
  return C[0] <= 45 && C[1] <= 55 && C[2] >= 50 && C[2] <= 95 && C[2] >= C[0] + 20;
}
// Neither background, ground, nor the black outside the lenses: the character and her shadow.
bool Figure(const TRgb& C) {
  return !White(C) && !Green(C) && !Black(C);
}

int Count(const TPicture& P, bool (*APred)(const TRgb&)) {
  return int(std::count_if(P.Pixels.begin(), P.Pixels.end(), APred));
}

int CountInRow(const TPicture& P, int AY, bool (*APred)(const TRgb&)) {
  int N = 0;
  for (int X = 0; X < P.Width; ++X) N += APred(P.At(X, AY)) ? 1 : 0;
  return N;
}

// The first row from the top in column AX that shows the ground (-1 when none does).
int HorizonRow(const TPicture& P, int AX) {
  for (int Y = 0; Y < P.Height; ++Y)
    if (Green(P.At(AX, Y))) return Y;
  return -1;
}

// Mean column of the figure's pixels.
double FigureCentreX(const TPicture& P) {
  double Sum = 0;
  int N = 0;
  for (int Y = 0; Y < P.Height; ++Y)
    for (int X = 0; X < P.Width; ++X)
      if (Figure(P.At(X, Y))) Sum += X, ++N;
  return N ? Sum / N : -1;
}

// The simulated device's numbers, asked from the runtime itself.
struct TDeviceNumbers {
  hmdSizei RenderTarget{};
  float EyeHeight = 0;
};

const TDeviceNumbers& SimulatedDevice() {
  static const TDeviceNumbers Numbers = [] {
    TDeviceNumbers N;
    setenv("HMD_RUNTIME_DEVICE", "simulated", 1);
    hmd_Initialize();
    if (hmdHandle H = hmd_Create(0)) {
      const hmdSizei L = hmd_GetFovTextureSize(H, hmdEye_Left, H->DefaultEyeFov[0], 1.0f);
      const hmdSizei R = hmd_GetFovTextureSize(H, hmdEye_Right, H->DefaultEyeFov[1], 1.0f);
      N.RenderTarget = {L.w + R.w, std::max(L.h, R.h)};
      N.EyeHeight = hmd_GetFloat(H, "EyeHeight", 0.0f);
      hmd_Destroy(H);
    }
    hmd_Shutdown();
    unsetenv("HMD_RUNTIME_DEVICE");
    return N;
  }();
  return Numbers;
}

std::string CaptionAt(float AX, float AY, float AZ) {
  char Buffer[96];
  std::snprintf(Buffer, sizeof Buffer, "Pos: (%.2f, %.2f, %.2f)", double(AX), double(AY),
                double(AZ));
  return Buffer;
}

struct TGeometry {
  int X = -1, Y = -1, Width = 0, Height = 0;
  bool operator==(const TGeometry&) const = default;
};

std::ostream& operator<<(std::ostream& AOut, const TGeometry& G) {
  return AOut << G.Width << "x" << G.Height << "+" << G.X << "+" << G.Y;
}

// One viewer process with the headset switch as given (nullptr: the variable is unset), started
// from the build's bin/ with its own working directory and standard error file.
class TViewer : public e2e::TViewerProcess {
 public:
  // SDL stamps a click when it pumps the event, not when the server saw it: on a loaded machine a
  // full-screen headset frame can outlast the default 500 ms, splitting a real double click in
  // two. Give the test's double clicks room.
  TViewer(const fs::path& AWorkDir, const char* ADevice)
      : TViewerProcess(kBin / "quenlor", AWorkDir, AWorkDir / "stderr.txt",
                       {{"HMD_RUNTIME_DEVICE", ADevice}, {"SDL_MOUSE_DOUBLE_CLICK_TIME", "3000"}},
                       {}) {}

  // The process's visible window whose caption starts with APrefix ("Pos: " once frames run).
  std::string FindWindow(const std::string& APrefix = "Pos: ",
                         std::chrono::milliseconds ATimeout = 30s) {
    return TViewerProcess::FindWindow(APrefix, ATimeout);
  }
  const std::string& Window() const { return FWindow; }
  void Focus() { Xdo("windowfocus --sync " + FWindow); }
  std::string Caption() { return Shell("xdotool getwindowname " + FWindow + " 2>/dev/null"); }
  float CaptionZ() {
    float X = 0, Y = 0, Z = 0;
    std::sscanf(Caption().c_str(), "Pos: (%f, %f, %f)", &X, &Y, &Z);
    return Z;
  }
  TGeometry Geometry() {
    std::istringstream Lines(Shell("xdotool getwindowgeometry --shell " + FWindow));
    TGeometry G;
    for (std::string Line; std::getline(Lines, Line);) {
      if (Line.rfind("X=", 0) == 0) G.X = std::stoi(Line.substr(2));
      if (Line.rfind("Y=", 0) == 0) G.Y = std::stoi(Line.substr(2));
      if (Line.rfind("WIDTH=", 0) == 0) G.Width = std::stoi(Line.substr(6));
      if (Line.rfind("HEIGHT=", 0) == 0) G.Height = std::stoi(Line.substr(7));
    }
    return G;
  }
  // What the window shows on the screen now.
  TPicture WindowPicture() {
    const TGeometry G = Geometry();
    return ReadScreen().Crop(G.X, G.Y, G.Width, G.Height);
  }
  // The third field of the window's Motif hints: 1 with decorations, 0 without; -1 when unset.
  int Decorations() {
    const std::string Hints = Shell("xprop -id " + FWindow + " _MOTIF_WM_HINTS 2>/dev/null");
    unsigned Flags = 0, Functions = 0, Decorations = 0;
    const std::size_t Eq = Hints.find('=');
    if (Eq == std::string::npos ||
        std::sscanf(Hints.c_str() + Eq + 1, " %x, %x, %x", &Flags, &Functions, &Decorations) != 3)
      return -1;
    return int(Decorations);
  }

  // Presses Print Screen and returns the new screenshot (empty when none appears).
  fs::path ScreenShot() {
    const std::vector<fs::path> Before = ScreenShots();
    Focus();
    Xdo("key Print");
    fs::path Result;
    WaitFor(
        [&] {
          for (const fs::path& P : ScreenShots())
            if (std::find(Before.begin(), Before.end(), P) == Before.end()) Result = P;
          return !Result.empty();
        },
        15s);
    std::this_thread::sleep_for(300ms);  // let the writer finish
    return Result;
  }
  // The exit status, or -1 when the process did not end in time.
  int WaitForExit(std::chrono::milliseconds ATimeout = 15s) {
    return TViewerProcess::WaitForExit(ATimeout);
  }
};

class HeadsetEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    if (ReadScreen().Pixels.empty())
      GTEST_SKIP() << "needs the server's screen file (QUENLOR_SCREEN_FILE, Xvfb -fbdir)";
    ASSERT_TRUE(fs::exists(kBin / "quenlor"));
    ASSERT_GT(SimulatedDevice().RenderTarget.w, 0);
    FRoot = fs::temp_directory_path() /
            ("quenlor_headset_e2e_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FRoot);
    fs::create_directories(FRoot);
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(FRoot);
  }
  fs::path Work() const { return FRoot / "work"; }

  fs::path FRoot;
};

// The window's picture once the runtime has presented a frame into it.
TPicture FirstPresentedPicture(TViewer& V) {
  TPicture P;
  WaitFor(
      [&] {
        P = V.WindowPicture();
        return Count(P, White) > P.Area() / 20;
      },
      30s);
  return P;
}

// One eye's part of the window as seen through a round lens: black corners, a full middle row,
// a narrower top row.
void ExpectLensShaped(const TPicture& AEye) {
  const int W = AEye.Width, H = AEye.Height;
  for (auto [X, Y] : {std::pair{2, 2}, {W - 3, 2}, {2, H - 3}, {W - 3, H - 3}})
    EXPECT_TRUE(Black(AEye.At(X, Y))) << "corner " << X << "," << Y;
  const int Middle = W - CountInRow(AEye, H / 2, Black);
  const int Top = W - CountInRow(AEye, H / 25, Black);
  EXPECT_GT(Middle, W * 6 / 10);
  EXPECT_LT(Top, Middle * 8 / 10);
}

TEST_F(HeadsetEndToEndTest,
       BothEyesShowThroughTheLensesWithTheNoticeUntilAKeyAndKeysKeepItRunning) {
  TViewer V(Work(), "simulated");
  ASSERT_FALSE(V.FindWindow().empty()) << V.Stderr();
  // The eye height comes from the runtime.
  EXPECT_EQ(V.Caption(), CaptionAt(0.0f, SimulatedDevice().EyeHeight, 2.0f));
  EXPECT_EQ(V.Geometry().Width, 960);

  const TPicture Window = FirstPresentedPicture(V);
  ASSERT_EQ(Window.Width, 960) << "no picture";
  const int Half = Window.Width / 2;
  for (int Eye = 0; Eye < 2; ++Eye) {
    SCOPED_TRACE(Eye == 0 ? "left eye" : "right eye");
    const TPicture Part = Window.Crop(Eye * Half, 0, Half, Window.Height);
    ExpectLensShaped(Part);
    EXPECT_GT(Count(Part, White), Part.Area() / 10);
    EXPECT_GT(Count(Part, Green), Part.Area() / 10);
    EXPECT_GT(Count(Part, NoticePanel), 2000) << "the health and safety notice";
  }

  // Any key dismisses the notice: its panel's pixels go (the scene's own dark blues, her skirt
  // in shadow, stay).
  const int WithNotice = Count(Window, NoticePanel);
  V.Focus();
  Xdo("key x");
  EXPECT_TRUE(
      WaitFor([&] { return Count(V.WindowPicture(), NoticePanel) < WithNotice - 3000; }, 10s))
      << Count(V.WindowPicture(), NoticePanel) << " panel-coloured pixels of " << WithNotice;

  // R recentres; other keys and walking keep the viewer running.
  for (const char* Key : {"r", "space", "1", "Left", "Return", "r"}) Xdo(std::string("key ") + Key);
  Xdo("keydown w");
  std::this_thread::sleep_for(800ms);
  Xdo("keyup w");
  EXPECT_TRUE(WaitFor([&] { return V.CaptionZ() < 1.99f; }, 5s)) << V.Caption();
  EXPECT_TRUE(V.Alive());
  const TPicture After = V.WindowPicture();
  EXPECT_GT(Count(After, Green), After.Area() / 10);

  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(HeadsetEndToEndTest, PrintScreenSavesBothUndistortedEyeViewsAndTheMouseTurnsOnlyAboutY) {
  TViewer V(Work(), "simulated");
  ASSERT_FALSE(V.FindWindow().empty()) << V.Stderr();
  ASSERT_FALSE(FirstPresentedPicture(V).Pixels.empty());

  const TPicture Shot = ReadBmp(V.ScreenShot());
  const hmdSizei Target = SimulatedDevice().RenderTarget;
  ASSERT_EQ(Shot.Width, Target.w);
  ASSERT_EQ(Shot.Height, Target.h);
  // The eye halves as the display connection lays them out (an odd middle column is neither's).
  const int Half = Shot.Width / 2, RightX = (Shot.Width + 1) / 2;
  auto Eyes = [&](const TPicture& P) {
    return std::array{P.Crop(0, 0, Half, P.Height), P.Crop(RightX, 0, Half, P.Height)};
  };
  const auto Views = Eyes(Shot);
  // Columns clear of the character, where the ground's far edge crosses the view.
  const std::array<int, 3> Columns{Half / 5, Half * 7 / 20, Half * 4 / 5};
  for (int Eye = 0; Eye < 2; ++Eye) {
    SCOPED_TRACE(Eye == 0 ? "left eye" : "right eye");
    const TPicture& P = Views[Eye];
    // No lens: the corners show the background and the ground, nothing is black.
    EXPECT_TRUE(White(P.At(3, 3)));
    EXPECT_TRUE(White(P.At(P.Width - 4, 3)));
    EXPECT_TRUE(Green(P.At(3, P.Height - 4)));
    EXPECT_TRUE(Green(P.At(P.Width - 4, P.Height - 4)));
    EXPECT_LT(Count(P, Black), P.Area() / 100);
    EXPECT_GT(Count(P, Figure), 1000) << "the character";
    // Undistorted: the ground's straight far edge is one row across the view.
    const int Row = HorizonRow(P, Columns[0]);
    EXPECT_GT(Row, P.Height / 4);
    EXPECT_LT(Row, P.Height * 3 / 4);
    for (int X : Columns) EXPECT_NEAR(HorizonRow(P, X), Row, 1) << "column " << X;
  }
  // Two eyes, two slightly different views.
  EXPECT_NE(FigureCentreX(Views[0]), FigureCentreX(Views[1]));

  // Moving the mouse up and down does not tilt the view: the head does that.
  const TGeometry G = V.Geometry();
  const int CentreX = G.X + G.Width / 2, CentreY = G.Y + G.Height / 2;
  V.Focus();
  Xdo("mousemove " + std::to_string(CentreX) + " " + std::to_string(CentreY));
  std::this_thread::sleep_for(300ms);
  const auto Before = Eyes(ReadBmp(V.ScreenShot()));
  for (int I = 0; I < 3; ++I) {
    Xdo("mousemove_relative -- 0 60");
    std::this_thread::sleep_for(150ms);
  }
  std::this_thread::sleep_for(300ms);
  const auto Tilted = Eyes(ReadBmp(V.ScreenShot()));
  // Moving it sideways turns the view about the vertical axis: to the right, the character
  // moves left in both eyes.
  Xdo("mousemove_relative -- 50 0");
  std::this_thread::sleep_for(500ms);
  const auto Turned = Eyes(ReadBmp(V.ScreenShot()));
  for (int Eye = 0; Eye < 2; ++Eye) {
    SCOPED_TRACE(Eye == 0 ? "left eye" : "right eye");
    ASSERT_EQ(Tilted[Eye].Width, Half);
    ASSERT_EQ(Turned[Eye].Width, Half);
    EXPECT_EQ(HorizonRow(Tilted[Eye], Columns[0]), HorizonRow(Before[Eye], Columns[0]));
    EXPECT_NEAR(FigureCentreX(Tilted[Eye]), FigureCentreX(Before[Eye]), 0.5);
    EXPECT_LT(FigureCentreX(Turned[Eye]), FigureCentreX(Before[Eye]) - 50);
  }

  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(HeadsetEndToEndTest, EyesDrawnRightFirstGiveTheSamePicture) {
  // Each eye is drawn with its own pose, field of view, offset and rectangle whatever the order
  // the runtime asks for.
  TPicture Shots[2];
  const char* Devices[2] = {"simulated", "simulated,right-first"};
  for (int I = 0; I < 2; ++I) {
    TViewer V(Work() / std::to_string(I), Devices[I]);
    ASSERT_FALSE(V.FindWindow().empty()) << V.Stderr();
    ASSERT_FALSE(FirstPresentedPicture(V).Pixels.empty());
    Shots[I] = ReadBmp(V.ScreenShot());
    Xdo("key Escape");
    EXPECT_EQ(V.WaitForExit(), 0);
  }
  ASSERT_EQ(Shots[0].Width, SimulatedDevice().RenderTarget.w);
  EXPECT_EQ(DifferentPixels(Shots[0], Shots[1]), 0);
}

TEST_F(HeadsetEndToEndTest, FaceTrackingTurnsHerFaceToTheHeadset) {
  TViewer V(Work(), "simulated");
  ASSERT_FALSE(V.FindWindow().empty()) << V.Stderr();
  ASSERT_FALSE(FirstPresentedPicture(V).Pixels.empty());
  // Step to the side so that she has to turn to look at the viewer.
  V.Focus();
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
  Xdo("key e");
  std::this_thread::sleep_for(500ms);
  const TPicture Tracking = ReadBmp(V.ScreenShot());
  EXPECT_GT(DifferentPixels(Still1, Tracking), 100);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(HeadsetEndToEndTest, DoubleClickTogglesBorderlessFullScreenOnTheHeadsetsMonitorAndBack) {
  TViewer V(Work(), "simulated");
  ASSERT_FALSE(V.FindWindow().empty()) << V.Stderr();
  ASSERT_FALSE(FirstPresentedPicture(V).Pixels.empty());
  // Without a window manager the server knows no Motif hints until someone names them; with the
  // name known, the window's border state shows in its hints.
  Shell("xprop -root -f _MOTIF_WM_HINTS 32c -set _MOTIF_WM_HINTS 0");
  const TPicture Screen = ReadScreen();
  // The simulated panel is the server's only monitor.
  const TGeometry Monitor{0, 0, Screen.Width, Screen.Height};

  // A window moved away from the corner remembers where it was.
  Xdo("windowmove " + V.Window() + " 100 60");
  ASSERT_TRUE(WaitFor([&] { return V.Geometry().X == 100; }, 5s));
  const TGeometry Windowed = V.Geometry();
  auto DoubleClick = [&] {
    const TGeometry G = V.Geometry();
    V.Focus();
    Xdo("mousemove " + std::to_string(G.X + G.Width / 2) + " " +
        std::to_string(G.Y + G.Height / 2));
    std::this_thread::sleep_for(300ms);
    Xdo("click --repeat 2 --delay 80 1");
  };

  DoubleClick();
  EXPECT_TRUE(WaitFor([&] { return V.Geometry() == Monitor; }, 10s)) << V.Geometry();
  EXPECT_EQ(V.Decorations(), 0);
  // The runtime's output follows: both lenses spread over the whole monitor.
  EXPECT_TRUE(WaitFor(
      [&] {
        const TPicture P = ReadScreen();
        const TPicture Right = P.Crop(P.Width / 2, 0, P.Width / 2, P.Height);
        return Count(Right, White) + Count(Right, Green) > Right.Area() / 3;
      },
      15s));

  DoubleClick();
  const TGeometry Back{Windowed.X, Windowed.Y, 800, 480};
  EXPECT_TRUE(WaitFor([&] { return V.Geometry() == Back; }, 10s)) << V.Geometry();
  EXPECT_EQ(V.Decorations(), 1);
  EXPECT_TRUE(WaitFor(
      [&] {
        const TPicture P = V.WindowPicture();
        return P.Width == 800 && Black(P.At(2, 2)) &&
               Count(P.Crop(400, 0, 400, 480), Green) > 400 * 480 / 10;
      },
      15s));
  EXPECT_TRUE(V.Alive());

  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

class HeadsetStartFailureTest : public HeadsetEndToEndTest,
                                public ::testing::WithParamInterface<const char*> {};

TEST_P(HeadsetStartFailureTest, EndsSilentlyWithStatusZero) {
  TViewer V(Work(), GetParam());
  EXPECT_EQ(V.WaitForExit(30s), 0);
  // The error report always writes to standard error before its box: nothing was reported.
  EXPECT_EQ(V.Stderr(), "");
}

INSTANTIATE_TEST_SUITE_P(DeviceSwitches, HeadsetStartFailureTest,
                         ::testing::Values("simulated,fail-create", "simulated,fail-rendering"),
                         [](const auto& AInfo) {
                           return std::string(AInfo.index == 0 ? "OpenFails" : "RenderingFails");
                         });

// SDL's error box: a visible window titled "Quenlor" while the main window is still unmapped. The
// title is only in the UTF-8 name property, so every visible window is read.
std::string FindErrorBox(TViewer& AViewer, std::chrono::milliseconds ATimeout) {
  std::string Box;
  WaitFor(
      [&] {
        std::istringstream Ids(Shell("xdotool search --onlyvisible --class '.*' 2>/dev/null"));
        for (std::string Id; Ids >> Id;)
          if (Shell("xdotool getwindowname " + Id + " 2>/dev/null") == "Quenlor") Box = Id;
        return !Box.empty() || !AViewer.Alive();
      },
      ATimeout);
  return Box;
}

TEST_F(HeadsetEndToEndTest, TrackingFailureShowsItsMessageAndRendersNothing) {
  // SDL draws its box with a core X font; without one no box can be shown and standard error
  // alone carries the message.
  const bool BoxCanShow =
      !Shell("xlsfonts -fn '-*-*-medium-r-normal--*-120-*-*-*-*-*-*' 2>/dev/null").empty();
  TViewer V(Work(), "simulated,fail-tracking");
  const std::string Box = FindErrorBox(V, BoxCanShow ? 30s : 3s);
  EXPECT_NE(V.Stderr().find("Failed to configure tracking parameters."), std::string::npos)
      << V.Stderr();
  if (BoxCanShow) {
    ASSERT_FALSE(Box.empty()) << "no error box; stderr: " << V.Stderr();
    Xdo("windowfocus --sync " + Box);
    Xdo("key Return");
  } else {
    std::cout << "[ NOTE     ] no core X font: the error went to stderr only\n";
  }

  // The window runs, but no frame is ever drawn: the caption is never rewritten and neither
  // background nor ground appears.
  ASSERT_FALSE(V.FindWindow("Quenlor").empty());
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(V.Alive());
  EXPECT_EQ(V.Caption(), "Quenlor");
  const TPicture P = V.WindowPicture();
  ASSERT_GT(P.Area(), 0);
  EXPECT_EQ(Count(P, Green), 0);
  EXPECT_LT(Count(P, White), P.Area() / 100);

  V.Focus();
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(HeadsetEndToEndTest, WithoutTheSwitchTheViewerStartsInDesktopMode) {
  TViewer V(Work(), nullptr);
  ASSERT_FALSE(V.FindWindow().empty()) << V.Stderr();
  // The window plays the default motion's camera: the caption shows its first eye (the headset
  // ignores the camera and shows the head's position instead).
  EXPECT_EQ(V.Caption(), CaptionAt(0.0f, 1.35f, 1.5f));
  // The scene fills the window: white corners above, no lens.
  EXPECT_TRUE(WaitFor(
      [&] {
        const TPicture P = V.WindowPicture();
        return P.Area() > 0 && White(P.At(2, 2)) && White(P.At(P.Width - 3, 2));
      },
      20s));
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

}  // namespace
