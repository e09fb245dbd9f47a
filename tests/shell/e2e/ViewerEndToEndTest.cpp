// The viewer as a user runs it: the real quenlor process on an X server (Xvfb), driven with
// xdotool, judged by its caption, its exit status and the screenshots it writes.
#include "tests/shell/e2e/ViewerE2E.h"

using namespace viewer_e2e;

namespace {

TEST_F(ViewerEndToEndTest, OpensAtHalfTheScreenWithTheStartCaptionAndWalksWithW) {
  TViewer V(Walking(), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  EXPECT_EQ(V.Caption(), "Pos: (0.00, 1.70, 2.00)");
  const std::string Geometry =
      Shell("xdotool getwindowgeometry " + std::string(V.FindMainWindow()));
  EXPECT_NE(Geometry.find("960x540"), std::string::npos) << Geometry;

  V.Focus();
  Xdo("keydown w");
  std::this_thread::sleep_for(600ms);
  Xdo("keyup w");
  std::this_thread::sleep_for(200ms);
  const float AfterWalk = V.CaptionZ();
  EXPECT_LT(AfterWalk, 2.0f);
  EXPECT_NE(V.Caption().find("1.70"), std::string::npos);

  // The same time with Shift held covers several times the distance.
  Xdo("keydown shift keydown w");
  std::this_thread::sleep_for(600ms);
  Xdo("keyup w keyup shift");
  std::this_thread::sleep_for(200ms);
  const float Walk = 2.0f - AfterWalk, Run = AfterWalk - V.CaptionZ();
  EXPECT_GT(Run, 3.0f * Walk) << "walk " << Walk << ", run " << Run;

  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

// A window asked larger than the 1920x1080 screen keeps its shape and fits: 3000x2000 is x0.54.
TEST_F(ViewerEndToEndTest, AWindowLargerThanTheScreenIsMadeToFitIt) {
  TViewer V(Walking(), FRoot / "work", {}, {"--size", "3000x2000"});
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  const std::string Geometry =
      Shell("xdotool getwindowgeometry " + std::string(V.FindMainWindow()));
  EXPECT_NE(Geometry.find("1620x1080"), std::string::npos) << Geometry;
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(),
            "Quenlor: a 3000x2000 window does not fit the screen's 1920x1080; it opens at "
            "1620x1080\n");
}

TEST_F(ViewerEndToEndTest, QAloneDoesNothingWhileCtrlQQuitsAlsoWithShiftHeld) {
  TViewer V(kBin / "quenlor", FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  Xdo("key q");
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(V.Alive());
  Xdo("key ctrl+shift+q");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(ViewerEndToEndTest, MouseLooksAroundAndTheCursorStaysCentred) {
  TViewer V(Walking(), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  Xdo("mousemove --sync 480 270");
  std::this_thread::sleep_for(200ms);
  // 90 pixels to the right: a quarter radian to the right; then walking forward heads right too.
  Xdo("mousemove_relative --sync 90 0");
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Shell("xdotool getmouselocation --shell | head -2 | tr '\\n' ' '"), "X=480 Y=270 ");
  Xdo("keydown w");
  std::this_thread::sleep_for(500ms);
  Xdo("keyup w");
  std::this_thread::sleep_for(200ms);
  float X = 0, Y = 0, Z = 0;
  ASSERT_EQ(std::sscanf(V.Caption().c_str(), "Pos: (%f, %f, %f)", &X, &Y, &Z), 3) << V.Caption();
  EXPECT_GT(X, 0.0f);
  EXPECT_LT(Z, 2.0f);
  // Forward along yaw -0.25: X / (2 - Z) = tan 0.25.
  EXPECT_NEAR(X / (2.0f - Z), std::tan(0.25f), 0.03f);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, PrintScreenSavesTheWindowWithGroundShadowAndCharacter) {
  TViewer V(Walking(), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  const fs::path Shot = V.ScreenShot();
  ASSERT_FALSE(Shot.empty());
  // "ScreenShot_" + 14 digits of the local date and time + ".bmp".
  const std::string Name = Shot.filename().string();
  ASSERT_EQ(Name.size(), 11u + 14u + 4u) << Name;
  EXPECT_EQ(Name.substr(0, 11), "ScreenShot_");
  EXPECT_TRUE(std::all_of(Name.begin() + 11, Name.begin() + 25, [](char C) {
    return C >= '0' && C <= '9';
  })) << Name;
  EXPECT_EQ(Name.substr(25), ".bmp");
  const TPixels P = ReadBmp(Shot);
  ASSERT_EQ(P.Width, 960);
  ASSERT_EQ(P.Height, 540);
  // White background above the ground's far edge, the lit green plane at the bottom corners.
  EXPECT_TRUE(Near(P.At(10, 10), 255, 255, 255, 2));
  EXPECT_TRUE(Near(P.At(P.Width - 10, 100), 255, 255, 255, 2));
  EXPECT_TRUE(Near(P.At(20, P.Height - 20), 77, 230, 140, 6));
  EXPECT_TRUE(Near(P.At(P.Width - 20, P.Height - 20), 77, 230, 140, 6));
  // Her shadow: the fully shadowed plane colour, left of and behind her.
  EXPECT_GT(Count(P, [](auto C) { return Near(C, 26, 102, 64, 8); }), 500);
  // The character: many pixels that are neither background nor plane nor shadow.
  const int Figure = Count(
      P,
      [](auto C) {
        return !Near(C, 255, 255, 255, 10) && !Near(C, 77, 230, 140, 20) &&
               !Near(C, 26, 102, 64, 20);
      },
      kCharX0, kCharY0, kCharX1, kCharY1);
  EXPECT_GT(Figure, 3000);

  // A second screenshot in the same second keeps the first.
  const fs::path Second = V.ScreenShot();
  ASSERT_FALSE(Second.empty());
  EXPECT_TRUE(fs::exists(Shot));
  Xdo("key ctrl+q");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, ScreenshotOfAnOddWidthWindowKeepsItsRowsStraight) {
  TViewer V(Walking(), FRoot / "work");
  const std::string Window = V.FindMainWindow();
  ASSERT_FALSE(Window.empty()) << V.Stderr();
  Xdo("windowsize --sync " + Window + " 801 451");
  std::this_thread::sleep_for(500ms);
  const TPixels P = ReadBmp(V.ScreenShot());
  ASSERT_EQ(P.Width, 801);
  ASSERT_EQ(P.Height, 451);
  // The ground's far edge is level in the picture: the first green row is the same at the left
  // and the right border (a row read with the wrong length would slant it).
  auto FirstGreen = [&](int AX) {
    for (int Y = 0; Y < P.Height; ++Y)
      if (Near(P.At(AX, Y), 77, 230, 140, 20)) return Y;
    return -1;
  };
  EXPECT_GT(FirstGreen(3), 0);
  EXPECT_NEAR(FirstGreen(3), FirstGreen(797), 1);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, AScreenshotThatCannotBeWrittenIsReportedAndTheViewerGoesOn) {
  const bool BoxCanShow =
      !Shell("xlsfonts -fn '-*-*-medium-r-normal--*-120-*-*-*-*-*-*' 2>/dev/null").empty();
  TViewer V(Walking(), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  // The working directory goes away under the running viewer (permissions would not stop root).
  fs::remove_all(FRoot / "work");
  V.Focus();
  Xdo("key Print");
  const std::string Box = BoxCanShow ? FindErrorBox(V, 100) : std::string();
  std::this_thread::sleep_for(300ms);
  EXPECT_NE(V.Stderr().find("ScreenShot_"), std::string::npos) << V.Stderr();
  if (BoxCanShow) {
    ASSERT_FALSE(Box.empty()) << "no error box";
    Xdo("windowfocus --sync " + Box);
    Xdo("key Return");
  }
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(V.Alive());
  // Frames go on: walking still updates the caption.
  V.Focus();
  Xdo("keydown w");
  std::this_thread::sleep_for(300ms);
  Xdo("keyup w");
  std::this_thread::sleep_for(200ms);
  EXPECT_LT(V.CaptionZ(), 2.0f);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, PPlaysTheDanceAndPauses) {
  TViewer V(kBin / "quenlor", FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  const TPixels Rest1 = ReadBmp(V.ScreenShot());
  std::this_thread::sleep_for(300ms);
  const TPixels Rest2 = ReadBmp(V.ScreenShot());
  EXPECT_EQ(DifferentPixelsNearHer(Rest1, Rest2), 0) << "the motion starts paused";

  V.Focus();
  Xdo("key p");
  std::this_thread::sleep_for(700ms);
  const TPixels Dance1 = ReadBmp(V.ScreenShot());
  std::this_thread::sleep_for(400ms);
  const TPixels Dance2 = ReadBmp(V.ScreenShot());
  EXPECT_GT(DifferentPixelsNearHer(Dance1, Dance2), 300);
  EXPECT_GT(DifferentPixelsNearHer(Rest2, Dance2), 300);

  V.Focus();
  Xdo("key p");
  std::this_thread::sleep_for(300ms);
  const TPixels Held1 = ReadBmp(V.ScreenShot());
  std::this_thread::sleep_for(400ms);
  const TPixels Held2 = ReadBmp(V.ScreenShot());
  EXPECT_EQ(DifferentPixelsNearHer(Held1, Held2), 0) << "pausing holds the pose";
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

// Paused mid-dance with her tails swung by the physics, X switches physics off: the tails drop
// back to where the bones alone put them (the skirt and chest ribbon too, and with them their
// shadows on her) while her head stays exactly where it is; X again brings the physics back (from
// the bones' pose, settled). Paused, nothing moves in between. Boxes in the walking view
// (960 x 540): her face, and beside it either tail.
TEST_F(ViewerEndToEndTest, XSwitchesPhysicsTheTailsMoveTheBodyStandsStill) {
  constexpr int Face[4] = {468, 300, 502, 340};
  constexpr int LeftTail[4] = {425, 300, 462, 400}, RightTail[4] = {503, 300, 540, 400};
  auto In = [](const TPixels& A, const TPixels& B, const int(&ABox)[4]) {
    return DifferentPixelsIn(A, B, ABox[0], ABox[1], ABox[2], ABox[3]);
  };
  TViewer V(Walking(), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  Xdo("key p");
  std::this_thread::sleep_for(1500ms);
  V.Focus();
  Xdo("key p");
  std::this_thread::sleep_for(300ms);
  const TPixels Swung = ReadBmp(V.ScreenShot());
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(DifferentPixelsNearHer(Swung, ReadBmp(V.ScreenShot())), 0)
      << "paused, the physics holds";

  // Off: the next frames show the tails where the bones put them.
  auto Switch = [&](const TPixels& ABefore) {
    V.Focus();
    Xdo("key x");
    TPixels After;
    EXPECT_TRUE(e2e::WaitFor(
        [&] {
          After = ReadBmp(V.ScreenShot());
          return DifferentPixelsNearHer(ABefore, After) > 0;
        },
        10s));
    std::this_thread::sleep_for(300ms);
    return ReadBmp(V.ScreenShot());
  };
  const TPixels Off = Switch(Swung);
  std::printf("physics off: face %d, tails %d and %d pixels changed\n", In(Swung, Off, Face),
              In(Swung, Off, LeftTail), In(Swung, Off, RightTail));
  EXPECT_EQ(In(Swung, Off, Face), 0);
  EXPECT_GT(In(Swung, Off, LeftTail) + In(Swung, Off, RightTail), 150);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(DifferentPixelsNearHer(Off, ReadBmp(V.ScreenShot())), 0) << "off and paused: still";

  // On again: reset at the bones' pose and settled; her face still unmoved.
  const TPixels On = Switch(Off);
  EXPECT_EQ(In(Off, On, Face), 0);
  EXPECT_GT(In(Off, On, LeftTail) + In(Off, On, RightTail), 0);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(ViewerEndToEndTest, ETurnsHerFaceToTheViewerAndMSwitchesMultisampling) {
  TViewer V(Walking(), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  // Step aside so that turning towards the viewer is a visible turn.
  V.Focus();
  Xdo("keydown a");
  std::this_thread::sleep_for(500ms);
  Xdo("keyup a");
  std::this_thread::sleep_for(200ms);
  const TPixels Ahead = ReadBmp(V.ScreenShot());
  V.Focus();
  Xdo("key e");
  std::this_thread::sleep_for(300ms);
  const TPixels Turned = ReadBmp(V.ScreenShot());
  EXPECT_GT(DifferentPixelsNearHer(Ahead, Turned), 100) << "the head turns with face tracking on";

  // Without multisampling the silhouette against the white background loses its blended
  // in-between colours: only the pixels next to the background are counted, so that shading
  // inside the figure (sphere maps, self-shadow) does not drown the difference.
  auto EdgeColours = [](const TPixels& P) {
    const e2e::TRgb White{255, 255, 255};
    std::set<e2e::TRgb> Colours;
    for (int Y = 1; Y + 1 < P.Height; ++Y)
      for (int X = 1; X + 1 < P.Width; ++X)
        if (P.At(X, Y) != White && (P.At(X - 1, Y) == White || P.At(X + 1, Y) == White ||
                                    P.At(X, Y - 1) == White || P.At(X, Y + 1) == White))
          Colours.insert(P.At(X, Y));
    return Colours.size();
  };
  V.Focus();
  Xdo("key m");
  // A loaded machine may take a few frames to show the switch. The edges change; how many blended
  // colours the silhouette loses depends on the driver's sample pattern, so it is printed only.
  const size_t Smooth = EdgeColours(Turned);
  TPixels Aliased;
  EXPECT_TRUE(e2e::WaitFor(
      [&] {
        Aliased = ReadBmp(V.ScreenShot());
        return DifferentPixelsNearHer(Turned, Aliased) > 0;
      },
      10s));
  std::printf("silhouette colours: %zu with multisampling, %zu without\n", Smooth,
              EdgeColours(Aliased));
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, ArrowKeysMoveTheLightAndWithItTheShadow) {
  TViewer V(Walking(), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  auto Shadow = [](const TPixels& P) {
    long Sum = 0, N = 0;  // mean column of the shadow's pixels
    for (int Y = 0; Y < P.Height; ++Y)
      for (int X = 0; X < P.Width; ++X)
        if (Near(P.At(X, Y), 26, 102, 64, 8)) Sum += X, ++N;
    return N ? static_cast<double>(Sum) / N : -1.0;
  };
  const double Before = Shadow(ReadBmp(V.ScreenShot()));
  V.Focus();
  Xdo("key --repeat 15 --delay 20 Left");  // light X + 1.5: the light moves right, the shadow left
  std::this_thread::sleep_for(300ms);
  const double Left = Shadow(ReadBmp(V.ScreenShot()));
  V.Focus();
  Xdo("key --repeat 30 --delay 20 Right");  // light X - 1.5 from the start
  std::this_thread::sleep_for(300ms);
  const double Right = Shadow(ReadBmp(V.ScreenShot()));
  ASSERT_GT(Before, 0);
  EXPECT_LT(Left, Before - 5);
  EXPECT_GT(Right, Before + 5);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, BShowsTheBoneOverlay) {
  TViewer V(kBin / "quenlor", FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  auto Orange = [](auto C) { return C[0] > 200 && C[1] > 90 && C[1] < 170 && C[2] < 80; };
  auto Grey = [](auto C) {
    return std::abs(C[0] - C[1]) <= 4 && std::abs(C[1] - C[2]) <= 4 && C[0] >= 90 && C[0] <= 215;
  };
  const TPixels Before = ReadBmp(V.ScreenShot());
  V.Focus();
  Xdo("key b");
  std::this_thread::sleep_for(300ms);
  const TPixels After = ReadBmp(V.ScreenShot());
  EXPECT_EQ(Count(Before, Orange), 0);
  EXPECT_GT(Count(After, Orange), 20) << "IK bones are orange";
  EXPECT_GT(Count(After, Grey), Count(Before, Grey) + 50) << "the other bones are grey";
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

// "Pos: (x, y, z)" as numbers; false when the caption is not one.
bool CaptionPosition(const std::string& ACaption, float& AX, float& AY, float& AZ) {
  return std::sscanf(ACaption.c_str(), "Pos: (%f, %f, %f)", &AX, &AY, &AZ) == 3;
}

TEST_F(ViewerEndToEndTest, CSwitchesBetweenTheCameraAndWalkingFromWhereItStands) {
  TViewer V(kBin / "quenlor", FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  // The camera has the view from the start; while the dance waits it holds its first key, and
  // the walking keys do nothing.
  EXPECT_EQ(V.Caption(), kCameraStartCaption);
  V.Focus();
  Xdo("keydown w");
  std::this_thread::sleep_for(400ms);
  Xdo("keyup w");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(V.Caption(), kCameraStartCaption);

  // It plays with the dance: the caption follows the camera's eye.
  Xdo("key p");
  ASSERT_TRUE(e2e::WaitFor([&] { return V.Caption() != kCameraStartCaption; }, 5s));
  std::this_thread::sleep_for(800ms);
  const std::string Moving = V.Caption();
  std::this_thread::sleep_for(500ms);
  EXPECT_NE(V.Caption(), Moving);

  // C: walking, from where the camera stood; the caption holds still until she walks.
  V.Focus();
  Xdo("key c");
  std::this_thread::sleep_for(300ms);
  const std::string Held = V.Caption();
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(V.Caption(), Held);
  float X0 = 0, Y0 = 0, Z0 = 0, X1 = 0, Y1 = 0, Z1 = 0;
  ASSERT_TRUE(CaptionPosition(Held, X0, Y0, Z0)) << Held;
  const float Away0 = std::hypot(X0, Z0 + 2.5f);
  EXPECT_GT(Away0, 1.5f) << Held;
  EXPECT_LT(Away0, 6.0f) << Held;
  // Forward is where the camera looked: towards her.
  Xdo("keydown w");
  std::this_thread::sleep_for(400ms);
  Xdo("keyup w");
  std::this_thread::sleep_for(200ms);
  ASSERT_TRUE(CaptionPosition(V.Caption(), X1, Y1, Z1)) << V.Caption();
  const float Walked = std::hypot(X1 - X0, Y1 - Y0, Z1 - Z0);
  EXPECT_GT(Walked, 0.1f);
  EXPECT_LT(Walked, 2.0f);
  EXPECT_LT(std::hypot(X1, Z1 + 2.5f), Away0 - 0.5f * Walked) << Held << " -> " << V.Caption();

  // C again: the camera, which went on meanwhile.
  const std::string Walking = V.Caption();
  V.Focus();
  Xdo("key c");
  ASSERT_TRUE(e2e::WaitFor([&] { return V.Caption() != Walking; }, 3s));
  const std::string Again = V.Caption();
  std::this_thread::sleep_for(500ms);
  EXPECT_NE(V.Caption(), Again);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(ViewerEndToEndTest, TheGeneratedCameraKeepsHerInViewThroughTheDance) {
  TViewer V(kBin / "quenlor", FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  Xdo("key p");
  std::set<std::string> Eyes;
  // Six pictures spread over the 12 s loop: close-ups, low and high shots, both sides.
  for (int I = 0; I < 6; ++I) {
    std::this_thread::sleep_for(1600ms);
    Eyes.insert(V.Caption());
    const TPixels P = ReadBmp(V.ScreenShot());
    ASSERT_GT(P.Width, 0);
    // Her pixels: neither background nor ground nor shadow; most of them in the middle third,
    // where the camera aims.
    auto Her = [](auto C) {
      return !Near(C, 255, 255, 255, 10) && !Near(C, 77, 230, 140, 20) && !Near(C, 26, 102, 64, 20);
    };
    const int Figure = Count(P, Her);
    const int Middle = Count(P, Her, P.Width / 3, 0, 2 * P.Width / 3, P.Height);
    EXPECT_GT(Figure, 4000) << "picture " << I;
    EXPECT_GT(Middle, Figure / 2) << "picture " << I;
  }
  EXPECT_GE(Eyes.size(), 5u) << "the camera moves";
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, WithoutACameraFileTheMotionsOwnCameraKeysPlay) {
  // A motion of camera keys only: the default camera file in the motion's place.
  const fs::path Exe = Walking();
  fs::copy_file(kBin / "mmd/motion/camera.vmd", Exe.parent_path() / "mmd/motion/motion.vmd",
                fs::copy_options::overwrite_existing);
  TViewer V(Exe, FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  EXPECT_EQ(V.Caption(), kCameraStartCaption);
  V.Focus();
  Xdo("key p");
  EXPECT_TRUE(e2e::WaitFor([&] { return V.Caption() != kCameraStartCaption; }, 5s));
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

struct TBrokenInput {
  const char* Name;
  const char* Missing;                 // a part of the install left out, or ""
  const char* Overwrite;               // a file replaced by garbage, or ""
  const char* Message[2];              // texts the report contains
  std::vector<std::string> Args = {};  // the viewer's command line
};

class ViewerBrokenInputTest : public ViewerEndToEndTest,
                              public ::testing::WithParamInterface<TBrokenInput> {};

TEST_P(ViewerBrokenInputTest, ReportsTheReadersMessageAndKeepsAnEmptyWindowRunning) {
  const TBrokenInput& Input = GetParam();
  // SDL draws its error box with a core X font; without one (a bare Xvfb lacking xfonts-base) no
  // box can be shown and stderr alone carries the message.
  const bool BoxCanShow =
      !Shell("xlsfonts -fn '-*-*-medium-r-normal--*-120-*-*-*-*-*-*' 2>/dev/null").empty();
  std::vector<std::string> Missing;
  if (*Input.Missing) Missing.push_back(Input.Missing);
  const fs::path Exe = InstallWithout(Missing);
  if (*Input.Overwrite)
    std::ofstream(Exe.parent_path() / Input.Overwrite, std::ios::binary) << "not a model at all";
  TViewer V(Exe, FRoot / "work", {}, Input.Args);
  const std::string Box = FindErrorBox(V, BoxCanShow ? 200 : 30);
  for (const char* Text : Input.Message)
    EXPECT_NE(V.Stderr().find(Text), std::string::npos) << V.Stderr();
  if (BoxCanShow) {
    ASSERT_FALSE(Box.empty()) << "no error box";
    Xdo("windowfocus --sync " + Box);
    Xdo("key Return");
  } else {
    std::cout << "[ NOTE     ] no core X font: the error went to stderr only\n";
  }
  ASSERT_FALSE(V.FindMainWindow().empty()) << "the window does not run after the error";
  const TPixels P = ReadBmp(V.ScreenShot());
  ASSERT_GT(P.Width, 0);
  EXPECT_TRUE(V.Alive());
  EXPECT_EQ(V.Caption(), "Pos: (0.00, 1.70, 2.00)");
  // An empty scene: nothing of the character or the ground is drawn.
  EXPECT_EQ(Count(P, [&](auto C) { return C != P.At(0, 0); }), 0);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ViewerBrokenInputTest,
    ::testing::Values(
        TBrokenInput{"MissingModel", "mmd/model", "", {"Cannot open file", "model.pmx"}},
        // The report names the file, keeps the reader's text and says what it means.
        TBrokenInput{"BrokenModel",
                     "",
                     "mmd/model/model.pmx",
                     {"Cannot read model \"",
                      "/mmd/model/model.pmx\": 未知のシグネチャ (not ) (not a PMX file)"}},
        TBrokenInput{"MissingToonRamp", "Toon", "", {"Cannot open file", "toon01.bmp"}},
        // A motion that exists but cannot be read fails the character as a whole.
        TBrokenInput{
            "BrokenMotion",
            "",
            "mmd/motion/motion.vmd",
            {"Cannot read motion \"",
             "/mmd/motion/motion.vmd\": ストリームからの読み取りエラー (the file ends early)"}},
        // So does a camera file that cannot be read.
        TBrokenInput{
            "BrokenCamera",
            "",
            "mmd/motion/camera.vmd",
            {"Cannot read motion \"",
             "/mmd/motion/camera.vmd\": ストリームからの読み取りエラー (the file ends early)"}},
        // Files named on the command line, relative to the working directory.
        TBrokenInput{"NamedMissingMotion",
                     "",
                     "",
                     {"Cannot open file", "/work/gone dance.vmd"},
                     {"gone dance.vmd"}},
        TBrokenInput{"NamedMissingCamera",
                     "",
                     "",
                     {"Cannot open file", "/work/カメラ なし.vmd"},
                     {"--camera", "カメラ なし.vmd"}},
        TBrokenInput{"NamedBrokenModel",
                     "",
                     "mmd/model/model.pmx",
                     {"Cannot read model \"", "/install/mmd/model/model.pmx\": 未知のシグネチャ"},
                     {"../install/mmd/model/model.pmx", "../install/mmd/motion/motion.vmd"}}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST_F(ViewerEndToEndTest, BrokenTexturesDrawUntexturedWithoutAnyReport) {
  const fs::path Exe = Walking();
  for (const char* Texture :
       {"mmd/model/tex/skin.png", "mmd/model/tex/hair.tga", "mmd/model/tex/cloth.dds"})
    std::ofstream(Exe.parent_path() / Texture, std::ios::binary) << "broken";
  TViewer V(Exe, FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  const TPixels P = ReadBmp(V.ScreenShot());
  EXPECT_GT(Count(
                P,
                [](auto C) {
                  return !Near(C, 255, 255, 255, 10) && !Near(C, 77, 230, 140, 20) &&
                         !Near(C, 26, 102, 64, 20);
                },
                kCharX0, kCharY0, kCharX1, kCharY1),
            3000);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

TEST_F(ViewerEndToEndTest, CaptionUsesTheLocalesDecimalSeparator) {
  // A German numeric locale, compiled for this test (the system may have none installed).
  const fs::path Locales = FRoot / "locales";
  fs::create_directories(Locales);
  // (Without the sanitizer runtime a test run may preload: localedef is not built with it.)
  const std::string Build = "env -u LD_PRELOAD localedef -i de_DE -f UTF-8 " +
                            (Locales / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
  if (std::system(Build.c_str()) != 0) GTEST_SKIP() << "localedef cannot build de_DE.UTF-8 here";
  TViewer V(Walking(), FRoot / "work", {{"LOCPATH", Locales.string()}, {"LC_ALL", "de_DE.UTF-8"}});
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  EXPECT_EQ(V.Caption(), "Pos: (0,00, 1,70, 2,00)");
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

TEST_F(ViewerEndToEndTest, MissingMotionIsNoErrorAndTheCharacterStandsStill) {
  TViewer V(InstallWithout({"mmd/motion"}), FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  Xdo("key p");
  std::this_thread::sleep_for(500ms);
  const TPixels A = ReadBmp(V.ScreenShot());
  std::this_thread::sleep_for(400ms);
  const TPixels B = ReadBmp(V.ScreenShot());
  EXPECT_GT(Count(
                A,
                [](auto C) {
                  return !Near(C, 255, 255, 255, 10) && !Near(C, 77, 230, 140, 20) &&
                         !Near(C, 26, 102, 64, 20);
                },
                kCharX0, kCharY0, kCharX1, kCharY1),
            3000);
  EXPECT_EQ(DifferentPixelsNearHer(A, B), 0);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

// Her lit skin (the skin material's colour in full light) against its outline colour (0.46, 0.28,
// 0.26): the outline rims the skin and never covers it.
struct TSkinCount {
  int Skin, Outline;
};
TSkinCount CountSkin(const TPixels& P) {
  return {Count(P, [](auto C) { return Near(C, 253, 228, 210, 12); }),
          Count(P, [](auto C) { return Near(C, 117, 71, 66, 12); })};
}

// Before P the window shows the dance's frame 0, as stepping there does, and draws her skin as a
// playing dance does; so does a model opened without a motion.
TEST_F(ViewerEndToEndTest, BeforePlayingSheStandsInFrameZeroWithHerSkinUncovered) {
  {
    TViewer V(kBin / "quenlor", FRoot / "work");
    ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
    V.Focus();
    // Physics off: the pictures then depend on the dance's time alone.
    Xdo("key x");
    const TPixels Start = ReadBmp(V.ScreenShot());
    const TSkinCount Skin = CountSkin(Start);
    EXPECT_GT(Skin.Skin, 3000);
    EXPECT_LT(Skin.Outline, Skin.Skin / 4);
    // One frame on and back: frame 0 posed by the timeline.
    V.Focus();
    Xdo("key period");
    ASSERT_TRUE(e2e::WaitFor([&] { return V.Caption() != kCameraStartCaption; }, 3s));
    V.Focus();
    Xdo("key comma");
    ASSERT_TRUE(e2e::WaitFor([&] { return V.Caption() == kCameraStartCaption; }, 3s));
    EXPECT_EQ(DifferentPixelsNearHer(Start, ReadBmp(V.ScreenShot())), 0);
    Xdo("key Escape");
    EXPECT_EQ(V.WaitForExit(), 0);
  }
  TViewer Alone(InstallWithout({"mmd/motion"}), FRoot / "alone");
  ASSERT_FALSE(Alone.FindMainWindow().empty()) << Alone.Stderr();
  const TSkinCount Skin = CountSkin(ReadBmp(Alone.ScreenShot()));
  EXPECT_GT(Skin.Skin, 1000);
  EXPECT_LT(Skin.Outline, Skin.Skin / 4);
  Xdo("key Escape");
  EXPECT_EQ(Alone.WaitForExit(), 0);
  EXPECT_EQ(Alone.Stderr(), "");
}

// Pixels that differ clearly between two pictures of the same size (multisampling may shift a few
// edge pixels by a little from run to run).
}  // namespace
