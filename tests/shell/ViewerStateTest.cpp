// The viewer's movement, caption, key mapping, screenshot names and camera clock, without a window.
#include <SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "scene/SceneCamera.h"
#include "shell/ViewerState.h"

namespace {

constexpr float kStep = 1.0f / 30.0f;

class MoveViewerTest : public ::testing::Test {
 protected:
  void SetUp() override { SDL_SetModState(KMOD_NONE); }
  void TearDown() override { SDL_SetModState(KMOD_NONE); }
  // MoveViewer on the viewer V from the given yaw, pitch and position, written back.
  void Move(float& AYaw, float& APitch, TVec3f& APosition, const TQuaternion& AHead,
            float ASeconds) {
    V.Yaw = AYaw, V.Pitch = APitch, V.Position = APosition;
    MoveViewer(V, AHead, ASeconds);
    AYaw = V.Yaw, APitch = V.Pitch, APosition = V.Position;
  }
  // One frame of movement from (0, 1.7, 2) with yaw and pitch as given.
  TVec3f Step(float AYaw = 0, float APitch = 0) {
    float Yaw = AYaw, Pitch = APitch;
    TVec3f Position(0.0f, 1.7f, 2.0f);
    Move(Yaw, Pitch, Position, IdentityQuaternion, kNominalFrameSeconds);
    return Position - TVec3f(0.0f, 1.7f, 2.0f);
  }
  TViewerState V;
};

void ExpectNear(const TVec3f& A, const TVec3f& B) {
  EXPECT_NEAR(A.X, B.X, 1e-6f);
  EXPECT_NEAR(A.Y, B.Y, 1e-6f);
  EXPECT_NEAR(A.Z, B.Z, 1e-6f);
}

TEST_F(MoveViewerTest, HeldKeySetsMoveByTheirSumPerFrame) {
  struct TCase {
    const char* Name;
    std::uint8_t Forward, Backward, Left, Right;
    bool Raise, Lower;
    TVec3f Expected;
  };
  const TCase Cases[] = {
      {"nothing held", 0, 0, 0, 0, false, false, TVec3f(0, 0, 0)},
      {"W", 1, 0, 0, 0, false, false, TVec3f(0, 0, -kStep)},
      {"W and Up count once", 3, 0, 0, 0, false, false, TVec3f(0, 0, -kStep)},
      {"Down alone", 0, 2, 0, 0, false, false, TVec3f(0, 0, kStep)},
      {"W and S cancel", 1, 1, 0, 0, false, false, TVec3f(0, 0, 0)},
      {"W and D: diagonal, not normalised", 1, 0, 0, 1, false, false, TVec3f(kStep, 0, -kStep)},
      {"A", 0, 0, 1, 0, false, false, TVec3f(-kStep, 0, 0)},
      {"6 raises the eye", 0, 0, 0, 0, true, false, TVec3f(0, 0.01f, 0)},
      {"5 lowers the eye", 0, 0, 0, 0, false, true, TVec3f(0, -0.01f, 0)},
      {"5 and 6 cancel", 0, 0, 0, 0, true, true, TVec3f(0, 0, 0)},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    V.ForwardKeys = C.Forward, V.BackwardKeys = C.Backward, V.LeftKeys = C.Left,
    V.RightKeys = C.Right;
    V.RaiseKey = C.Raise, V.LowerKey = C.Lower;
    ExpectNear(Step(), C.Expected);
  }
}

TEST_F(MoveViewerTest, ShiftHeldAtFrameTimeMakesEveryStepEightTimesLonger) {
  V.ForwardKeys = 1;
  V.RaiseKey = true;
  SDL_SetModState(KMOD_LSHIFT);
  ExpectNear(Step(), TVec3f(0, 0.08f, -8 * kStep));
  SDL_SetModState(KMOD_NONE);
  ExpectNear(Step(), TVec3f(0, 0.01f, -kStep));
}

TEST_F(MoveViewerTest, ForwardFollowsYawAndPitch) {
  V.ForwardKeys = 1;
  // Turned a quarter to the left (yaw +pi/2 about +Y): forward is -X.
  ExpectNear(Step(static_cast<float>(M_PI / 2), 0), TVec3f(-kStep, 0, 0));
  // Looking straight up, forward is up.
  ExpectNear(Step(0, static_cast<float>(M_PI / 2)), TVec3f(0, kStep, 0));
}

// Walking follows the gaze of a head that is turned and tilted at once, also beyond a quarter
// turn, where reading the head back as Euler angles in the other order flips the tilt.
TEST_F(MoveViewerTest, HeadTurnedAndTiltedWalksWhereItLooks) {
  V.ForwardKeys = 1;
  for (float Yaw : {0.4f, -1.2f, 2.5f, -2.9f})
    for (float Pitch : {0.4f, -0.7f}) {
      SCOPED_TRACE(testing::Message() << "yaw " << Yaw << " pitch " << Pitch);
      float BodyYaw = 0, BodyPitch = 0;
      TVec3f Position(0, 0, 0);
      Move(BodyYaw, BodyPitch, Position, QuaternionFromEulerYXZ(Yaw, Pitch, 0.0f),
           kNominalFrameSeconds);
      // The gaze of a head turned by Yaw about +Y and tilted by Pitch about its own X.
      const TVec3f Gaze(-std::sin(Yaw) * std::cos(Pitch), std::sin(Pitch),
                        -std::cos(Yaw) * std::cos(Pitch));
      ExpectNear(Position, Gaze * kStep);
    }
}

TEST_F(MoveViewerTest, PendingTurnsAreAppliedOnceAndCleared) {
  V.PendingYaw = 0.25f;
  V.PendingPitch = -0.125f;
  float Yaw = 1.0f, Pitch = 0.5f;
  TVec3f Position(0, 0, 0);
  // No time passes: the turn comes from the mouse's motion alone.
  Move(Yaw, Pitch, Position, IdentityQuaternion, 0.0f);
  EXPECT_FLOAT_EQ(Yaw, 1.25f);
  EXPECT_FLOAT_EQ(Pitch, 0.375f);
  EXPECT_EQ(V.PendingYaw, 0.0f);
  EXPECT_EQ(V.PendingPitch, 0.0f);
  Move(Yaw, Pitch, Position, IdentityQuaternion, 0.5f);
  EXPECT_FLOAT_EQ(Yaw, 1.25f);
}

TEST_F(MoveViewerTest, AnAllZeroHeadOrientationAddsNoTurn) {
  V.ForwardKeys = 1;
  float Yaw = 0, Pitch = 0;
  TVec3f Position(0, 0, 0);
  Move(Yaw, Pitch, Position, TQuaternion{{{0, 0, 0}}, 0}, kNominalFrameSeconds);
  ExpectNear(Position, TVec3f(0, 0, -kStep));
}

// The same time held covers the same ground at any frame rate: 1/30 of a unit per 13 ms, i.e.
// 1 / (30 * 0.013) = 2.564 units a second walking, 0.01 / 0.013 = 0.769 a second up or down.
TEST_F(MoveViewerTest, DistanceFollowsTheTimeHeldNotTheNumberOfFrames) {
  constexpr float kWalkPerSecond = 1.0f / (30.0f * 0.013f);
  constexpr float kEyePerSecond = 0.01f / 0.013f;
  struct TCase {
    const char* Name;
    int Frames;
    float SecondsEach;
    bool Fast;
    float Seconds;  // the time held in all
  };
  const TCase Cases[] = {
      {"76 frames a second", 77, 0.013f, false, 1.001f},
      {"one frame a second", 1, 0.2f, false, 0.2f},
      {"a thousand frames a second", 500, 0.001f, false, 0.5f},
      {"uneven frames", 3, 0.1f, false, 0.3f},
      {"Shift: eight times as far", 10, 0.02f, true, 0.2f},
      {"no time: no step", 5, 0.0f, false, 0.0f},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    V.ForwardKeys = 1;
    V.RaiseKey = true;
    SDL_SetModState(C.Fast ? KMOD_LSHIFT : KMOD_NONE);
    float Yaw = 0, Pitch = 0;
    TVec3f Position(0, 0, 0);
    for (int F = 0; F < C.Frames; ++F)
      Move(Yaw, Pitch, Position, IdentityQuaternion, C.SecondsEach);
    const float Speed = C.Fast ? 8.0f : 1.0f;
    EXPECT_NEAR(Position.Z, -Speed * kWalkPerSecond * C.Seconds, 1e-4f);
    EXPECT_NEAR(Position.Y, Speed * kEyePerSecond * C.Seconds, 1e-4f);
    EXPECT_EQ(Position.X, 0.0f);
  }
}

// A stall between two frames moves the viewer as far as a quarter second does, not further.
TEST_F(MoveViewerTest, AFrameAfterAStallMovesAQuarterSecondAtMost) {
  V.ForwardKeys = 1;
  for (float Seconds : {0.25f, 3.0f, 1e6f}) {
    float Yaw = 0, Pitch = 0;
    TVec3f Position(0, 0, 0);
    Move(Yaw, Pitch, Position, IdentityQuaternion, Seconds);
    EXPECT_NEAR(Position.Z, -0.25f / (30.0f * 0.013f), 1e-5f) << Seconds;
  }
  float Yaw = 0, Pitch = 0;
  TVec3f Position(0, 0, 0);
  Move(Yaw, Pitch, Position, IdentityQuaternion, -1.0f);
  EXPECT_EQ(Position.Z, 0.0f) << "time never runs backwards";
}

TEST(MoveSecondsTest, TickDifferenceInSecondsAcrossTheWrapClampedToAQuarterSecond) {
  const struct {
    std::uint32_t Prev, Now;
    float Seconds;
  } Cases[] = {
      {1000, 1013, 0.013f}, {1000, 1000, 0.0f},   {0xFFFFFFF8u, 5, 0.013f}, {1000, 1250, 0.25f},
      {1000, 1251, 0.25f},  {1000, 61000, 0.25f}, {0, 0xFFFFFFFFu, 0.25f},
  };
  for (const auto& C : Cases)
    EXPECT_FLOAT_EQ(MoveSeconds(C.Prev, C.Now), C.Seconds) << C.Prev << " -> " << C.Now;
}

TEST(FramePacingTest, FramesAreAtLeastThirteenMillisecondsApartAcrossTheTickWrap) {
  const struct {
    std::uint32_t Prev, Now;
    bool Due;
  } Cases[] = {
      {1000, 1012, false},    {1000, 1013, true},
      {1000, 1000, false},    {0xFFFFFFF8u, 4, false},  // 12 ms across the wrap
      {0xFFFFFFF8u, 5, true},                           // 13 ms across the wrap
      {0, 0xFFFFFFFFu, true},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(DesktopFrameDue(C.Now, C.Prev), C.Due) << C.Prev << " -> " << C.Now;
}

TEST(PositionCaptionTest, TwoDecimalsOfEachCoordinate) {
  // The test runs in the C locale, whose decimal separator is the point.
  ASSERT_EQ(LocaleDecimalSeparator(), '.');
  EXPECT_EQ(PositionCaption(TVec3f(0.0f, 1.7f, 2.0f)), "Pos: (0.00, 1.70, 2.00)");
  EXPECT_EQ(PositionCaption(TVec3f(-0.004f, 12.345f, -1.0f / 3.0f)), "Pos: (-0.00, 12.35, -0.33)");
}

TEST(VirtualKeyTest, CommandKeysMapToTheirCodes) {
  const std::pair<SDL_Keycode, int> Cases[] = {
      {SDLK_LEFT, 37},
      {SDLK_UP, 38},
      {SDLK_RIGHT, 39},
      {SDLK_DOWN, 40},
      {SDLK_ESCAPE, 27},
      {SDLK_PRINTSCREEN, 44},
      {SDLK_w, 'W'},
      {SDLK_a, 'A'},
      {SDLK_s, 'S'},
      {SDLK_d, 'D'},
      {SDLK_5, 53},
      {SDLK_6, 54},
      {SDLK_q, 'Q'},
      {SDLK_p, 'P'},
      {SDLK_b, 'B'},
      {SDLK_o, 'O'},
      {SDLK_TAB, 9},
      {SDLK_DELETE, 46},
      // Keypad digits are not the main-row digits.
      {SDLK_KP_5, 0},
      {SDLK_KP_6, 0},
  };
  for (const auto& [Key, Code] : Cases) EXPECT_EQ(VirtualKeyOf(Key), Code) << SDL_GetKeyName(Key);
  EXPECT_EQ(ShiftStateOf(KMOD_LCTRL | KMOD_RSHIFT), ssCtrl | ssShift);
  EXPECT_EQ(ShiftStateOf(KMOD_RALT), ssAlt);
}

TEST(ScreenShotNameTest, LocalTimeWithLeadingZeros) {
  std::tm T{};
  T.tm_year = 2026 - 1900, T.tm_mon = 0, T.tm_mday = 5, T.tm_hour = 7, T.tm_min = 3, T.tm_sec = 9;
  EXPECT_EQ(ScreenShotFileName(T), "ScreenShot_20260105070309.bmp");
}

TEST(ScreenShotNameTest, AnExistingFileIsNeverReplaced) {
  namespace fs = std::filesystem;
  const fs::path Dir = fs::temp_directory_path() / ("quenlor_unique_" + std::to_string(::getpid()));
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  const std::string Name = "ScreenShot_20260105070309.bmp";
  EXPECT_EQ(UniqueFilePath(Dir, Name), Dir / Name);
  std::ofstream(Dir / Name) << "x";
  EXPECT_EQ(UniqueFilePath(Dir, Name), Dir / "ScreenShot_20260105070309_2.bmp");
  std::ofstream(Dir / "ScreenShot_20260105070309_2.bmp") << "x";
  EXPECT_EQ(UniqueFilePath(Dir, Name), Dir / "ScreenShot_20260105070309_3.bmp");
  fs::remove_all(Dir);
}

}  // namespace

namespace {

TEST(CameraClockTest, TheDancesClockWrappedByTheDanceOrElseByTheCamera) {
  struct TCase {
    double Milliseconds;
    uint32_t DanceFrames, CameraFrames;
    double Frame;
  } Cases[] = {
      {0.0, 361, 500, 0.0},     {1000.0, 361, 500, 30.0},  // 30 frames per second
      {12100.0, 361, 500, 2.0},  // frame 363 wraps with the dance, not the longer camera
      {12100.0, 0, 100, 63.0},   // a motion of camera keys only loops by itself
      {50.0, 361, 10, 1.5},      // between frames: the camera is sampled in between too
      {5000.0, 0, 0, 0.0},
  };
  for (const TCase& C : Cases)
    EXPECT_NEAR(CameraFrameAt(C.Milliseconds, C.DanceFrames, C.CameraFrames), C.Frame, 1e-9)
        << C.Milliseconds << " ms, " << C.DanceFrames << " / " << C.CameraFrames;
}

TEST_F(MoveViewerTest, WalkingFromACameraHeadsAlongItsLineOfSight) {
  const TVec3f Eye(0.5f, 2.0f, 1.0f);
  for (const TVec3f& Target : {TVec3f(0.0f, 1.0f, -2.5f), TVec3f(3.0f, 1.5f, 2.0f),
                               TVec3f(-1.0f, 2.5f, 4.0f), TVec3f(0.5f, 1.0f, 0.0f)}) {
    float Yaw = 0, Pitch = 0;
    ViewerAnglesOf(Eye, Target, Yaw, Pitch);
    // One step forward with the walking code moves straight along the camera's view.
    V.ForwardKeys = 1;
    const TVec3f Step = this->Step(Yaw, Pitch);
    V.ForwardKeys = 0;
    const TVec3f Along = Step.Normalize(), Sight = (Target - Eye).Normalize();
    EXPECT_NEAR(Along.X, Sight.X, 1e-5f);
    EXPECT_NEAR(Along.Y, Sight.Y, 1e-5f);
    EXPECT_NEAR(Along.Z, Sight.Z, 1e-5f);
  }
}

// The orbit view: it starts where the eye stands, goes round the target by dragging, pans with
// Shift, zooms with the wheel, and walking goes on from its eye looking at its target. Expected
// places worked by hand.
TEST(OrbitViewTest, StartsWhereTheEyeStandsTurnsPansZoomsAndWalksOn) {
  TViewerState V;
  StartOrbit(V, TVec3f(0.0f, 1.0f, 4.0f), TVec3f(0.0f, 1.0f, 0.0f));
  ASSERT_TRUE(V.Orbit.On);
  EXPECT_NEAR(V.Orbit.Distance, 4.0f, 1e-6f);
  auto Near = [](const TVec3f& A, const TVec3f& B) {
    return std::fabs(A.X - B.X) < 1e-4f && std::fabs(A.Y - B.Y) < 1e-4f &&
           std::fabs(A.Z - B.Z) < 1e-4f;
  };
  EXPECT_TRUE(Near(OrbitEye(V.Orbit), TVec3f(0, 1, 4))) << "the eye stays where it stood";

  // 157.08 pixels right at 0.01 radians a pixel: a quarter turn, the eye goes round to -X.
  OrbitDrag(V.Orbit, 157, 0, false);
  const TVec3f Quarter = OrbitEye(V.Orbit);
  EXPECT_NEAR(Quarter.X, -4.0f * std::sin(1.57f), 1e-4f);
  EXPECT_NEAR(Quarter.Z, 4.0f * std::cos(1.57f), 1e-4f);
  OrbitDrag(V.Orbit, -157, 0, false);
  // Up or down by far more than a quarter turn stops 1 degree short of straight above.
  OrbitDrag(V.Orbit, 0, 1000, false);
  EXPECT_NEAR(V.Orbit.Pitch, 89.0f * 3.14159265f / 180.0f, 1e-5f);
  OrbitDrag(V.Orbit, 0, -V.Orbit.Pitch / 0.01f, false);

  // Shift+drag 100 pixels right and 50 down at distance 4: the target moves 0.8 left and 0.4 up
  // (0.002 x 4 a pixel), the eye with it.
  const float Pitch = V.Orbit.Pitch;
  OrbitDrag(V.Orbit, 100, 50, true);
  EXPECT_NEAR(V.Orbit.Target.X, -0.8f, 1e-3f);
  EXPECT_NEAR(V.Orbit.Target.Y, 1.0f + 0.4f * std::cos(Pitch), 1e-3f);
  EXPECT_NEAR(V.Orbit.Distance, 4.0f, 1e-6f);

  // Two clicks in: 4 x 0.9 x 0.9; a thousand out stops at 500.
  OrbitZoom(V.Orbit, 2);
  EXPECT_NEAR(V.Orbit.Distance, 3.24f, 1e-5f);
  OrbitZoom(V.Orbit, -1000);
  EXPECT_NEAR(V.Orbit.Distance, 500.0f, 1e-3f);
  OrbitZoom(V.Orbit, -2 + 1000 + 1000);
  EXPECT_NEAR(V.Orbit.Distance, 0.2f, 1e-6f);

  // Walking on: from the orbit's eye, looking at its target.
  const TVec3f Eye = OrbitEye(V.Orbit), Target = V.Orbit.Target;
  StopOrbit(V);
  EXPECT_FALSE(V.Orbit.On);
  EXPECT_TRUE(Near(V.Position, Eye));
  float Yaw = 0, Pitch2 = 0;
  ViewerAnglesOf(Eye, Target, Yaw, Pitch2);
  EXPECT_NEAR(V.Yaw, Yaw, 1e-6f);
  EXPECT_NEAR(V.Pitch, Pitch2, 1e-6f);
}

}  // namespace
