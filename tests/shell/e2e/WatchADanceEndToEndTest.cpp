// Watching a dance from the command line: files by path, merged motions, the timeline keys,
// rendering to pictures and video, and the song without an audio device; the real viewer on
// an X server as in the other desktop suite.
#include "tests/shell/e2e/ViewerE2E.h"

using namespace viewer_e2e;

namespace {

bool ClearlyDifferent(const e2e::TRgb& A, const e2e::TRgb& B) {
  for (int C = 0; C < 3; ++C)
    if (std::abs(A[C] - B[C]) > 40) return true;
  return false;
}

int ClearlyDifferentPixels(const TPixels& A, const TPixels& B) {
  if (A.Width != B.Width || A.Height != B.Height || A.Width == 0) return -1;
  int N = 0;
  for (std::size_t I = 0; I < A.Pixels.size(); ++I) N += ClearlyDifferent(A.Pixels[I], B.Pixels[I]);
  return N;
}

// The same inside the box [AX0, AX1) x [AY0, AY1) (the pictures the same size).
int ClearlyDifferentPixelsIn(const TPixels& A, const TPixels& B, int AX0, int AY0, int AX1,
                             int AY1) {
  int N = 0;
  for (int Y = AY0; Y < AY1; ++Y)
    for (int X = AX0; X < AX1; ++X) N += ClearlyDifferent(A.At(X, Y), B.At(X, Y));
  return N;
}

// The dance opened by relative paths into a folder with spaces and Japanese in its names, the
// fixed folder beside the viewer holding only the toon ramps: the same picture as the default
// files give, textures from the model's own folder, the camera file driving the view.
TEST_F(ViewerEndToEndTest, FilesGivenByRelativePathsWithSpacesAndJapanese) {
  const fs::path Exe = InstallWithout({"mmd/model", "mmd/motion"});
  const fs::path Dance = FRoot / "踊り ファイル";
  fs::create_directories(Dance);
  fs::copy(kBin / "mmd/model", Dance / "モデル 1", fs::copy_options::recursive);
  fs::rename(Dance / "モデル 1/model.pmx", Dance / "モデル 1/ミク さん.pmx");
  fs::copy_file(kBin / "mmd/motion/motion.vmd", Dance / "ダンス 本体.vmd");
  fs::copy_file(kBin / "mmd/motion/camera.vmd", Dance / "カメラ.vmd");

  TPixels Reference;
  {
    TViewer Default(kBin / "quenlor", FRoot / "default");
    ASSERT_FALSE(Default.FindMainWindow().empty()) << Default.Stderr();
    Reference = ReadBmp(Default.ScreenShot());
    Xdo("key Escape");
    EXPECT_EQ(Default.WaitForExit(), 0);
  }
  TViewer V(Exe, FRoot / "work", {},
            {"../踊り ファイル/モデル 1/ミク さん.pmx", "../踊り ファイル/ダンス 本体.vmd",
             "--camera", "../踊り ファイル/カメラ.vmd"});
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  EXPECT_EQ(V.Caption(), kCameraStartCaption);
  const TPixels Named = ReadBmp(V.ScreenShot());
  ASSERT_GT(Reference.Width, 0);
  EXPECT_LT(ClearlyDifferentPixels(Reference, Named), Named.Width * Named.Height / 200);
  // The motion is there: P sets her and the camera going.
  V.Focus();
  Xdo("key p");
  EXPECT_TRUE(e2e::WaitFor([&] { return V.Caption() != kCameraStartCaption; }, 3s));
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

// Two motion files merge (the dance and a file of camera keys only): the camera keys of either
// drive the view, and she dances.
TEST_F(ViewerEndToEndTest, TwoMotionFilesMergeAndTheCameraKeysOfEitherDriveTheView) {
  const fs::path Exe = InstallWithout({"mmd/motion"});
  TViewer V(Exe, FRoot / "work", {},
            {(kBin / "mmd/motion/camera.vmd").string(), (kBin / "mmd/motion/motion.vmd").string()});
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  EXPECT_EQ(V.Caption(), kCameraStartCaption);
  const TPixels Rest = ReadBmp(V.ScreenShot());
  V.Focus();
  Xdo("key p");
  std::this_thread::sleep_for(700ms);
  Xdo("key p");
  std::this_thread::sleep_for(300ms);
  EXPECT_NE(V.Caption(), kCameraStartCaption);
  const TPixels Danced = ReadBmp(V.ScreenShot());
  EXPECT_GT(ClearlyDifferentPixels(Rest, Danced), 300);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

// The timeline keys on the paused dance, seen through the camera (which follows the dance's clock)
// and the pictures: period and comma step a frame, PageDown and PageUp 5 s, Home restarts.
TEST_F(ViewerEndToEndTest, TimelineKeysMoveTheDanceAndItsCameraWhilePaused) {
  TViewer V(kBin / "quenlor", FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  ASSERT_EQ(V.Caption(), kCameraStartCaption);
  auto Press = [&](const char* AKey) {
    V.Focus();
    Xdo(std::string("key ") + AKey);
  };
  auto Moved = [&] { return V.Caption() != kCameraStartCaption; };
  auto Back = [&] { return V.Caption() == kCameraStartCaption; };
  // Physics off: the pictures then depend on the dance's time alone.
  Press("x");

  Press("period");
  ASSERT_TRUE(e2e::WaitFor(Moved, 3s));
  const std::string OneFrame = V.Caption();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(V.Caption(), OneFrame) << "a step leaves the dance paused";
  Press("comma");
  ASSERT_TRUE(e2e::WaitFor(Back, 3s)) << V.Caption();
  const TPixels First = ReadBmp(V.ScreenShot());

  Press("Next");
  ASSERT_TRUE(e2e::WaitFor(Moved, 3s));
  const std::string FiveSeconds = V.Caption();
  EXPECT_NE(FiveSeconds, OneFrame);
  const TPixels Later = ReadBmp(V.ScreenShot());
  EXPECT_GT(DifferentPixelsNearHer(First, Later), 300);
  Press("Prior");
  ASSERT_TRUE(e2e::WaitFor(Back, 3s)) << V.Caption();
  EXPECT_EQ(DifferentPixelsNearHer(First, ReadBmp(V.ScreenShot())), 0) << "the same pose at 0 s";

  Press("Next");
  Press("Next");
  ASSERT_TRUE(e2e::WaitFor(Moved, 3s));
  Press("Home");
  ASSERT_TRUE(e2e::WaitFor(Back, 3s)) << V.Caption();
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  EXPECT_EQ(V.Stderr(), "");
}

// An RGB picture read from a PNG (row 0 at the top).
TPixels ReadPng(const fs::path& APath) {
  TPixels P;
  int W = 0, H = 0, N = 0;
  unsigned char* Data = stbi_load(APath.c_str(), &W, &H, &N, 3);
  if (!Data) return P;
  P.Width = W, P.Height = H;
  P.Pixels.resize(static_cast<size_t>(W) * H);
  for (size_t I = 0; I < P.Pixels.size(); ++I)
    P.Pixels[I] = {Data[3 * I], Data[3 * I + 1], Data[3 * I + 2]};
  stbi_image_free(Data);
  return P;
}

// Pixels at the rim of the white sky (the first not-white one after a white one, along a row
// either way) that lie between the sky and the pixel beyond them in every channel and clearly
// apart from both: the blended edge pixels of an anti-aliased picture. An aliased picture has
// next to none (only where shading happens to fall that way).
struct TRimCount {
  int Rim = 0;
  int Blended = 0;
};
TRimCount BlendedRimPixels(const TPixels& P) {
  TRimCount N;
  for (int Y = 0; Y < P.Height; ++Y)
    for (int Dir : {1, -1})
      for (int X = 0; X + 2 < P.Width; ++X) {
        auto At = [&](int I) { return P.At(Dir > 0 ? X + I : P.Width - 1 - X - I, Y); };
        const e2e::TRgb A = At(0), B = At(1), C = At(2);
        if (A != e2e::TRgb{255, 255, 255} || B == e2e::TRgb{255, 255, 255}) continue;
        ++N.Rim;
        bool Between = true;
        int Apart = 0;
        for (int K = 0; K < 3; ++K) {
          Between = Between && B[K] >= C[K] - 2;
          Apart = std::max(Apart, std::min(255 - B[K], B[K] - C[K]));
        }
        if (Between && Apart > 12) ++N.Blended;
      }
  return N;
}

// --render without a display: one PNG per frame of the range, the character in them, anti-aliased,
// and frame 150 at 30 frames per second the picture the window shows at 5 s (reached with
// PageDown) but for the hair and skirt: the window starts its physics afresh at the jump, the
// render carries it over from the dance's start (measured 2.4 % of the pixels; a flipped,
// mis-framed or mistimed picture differs in far more).
TEST_F(ViewerEndToEndTest, RenderWritesEveryFrameOfTheRangeAsTheWindowShowsIt) {
  const fs::path Out = FRoot / "フレーム out";
  const std::string Render = Shell(
      "cd " + FRoot.string() + " && env -u DISPLAY timeout 120 " + (kBin / "quenlor").string() +
      " --render 'フレーム out' --size 960x540 --from 5 --to 5.5 2>&1; echo status=$?");
  ASSERT_NE(Render.find("status=0"), std::string::npos) << Render;
  EXPECT_NE(Render.find("15/15 frames"), std::string::npos) << "the progress bar: " << Render;
  std::vector<std::string> Names;
  for (const auto& E : fs::directory_iterator(Out)) Names.push_back(E.path().filename().string());
  std::sort(Names.begin(), Names.end());
  ASSERT_EQ(Names.size(), 15u);
  EXPECT_EQ(Names.front(), "000150.png");
  EXPECT_EQ(Names.back(), "000164.png");
  const TPixels Rendered = ReadPng(Out / "000150.png");
  ASSERT_EQ(Rendered.Width, 960);
  ASSERT_EQ(Rendered.Height, 540);
  auto Her = [](auto C) {
    return !Near(C, 255, 255, 255, 10) && !Near(C, 77, 230, 140, 20) && !Near(C, 26, 102, 64, 20);
  };
  EXPECT_GT(Count(Rendered, Her), 4000);
  EXPECT_GT(ClearlyDifferentPixels(Rendered, ReadPng(Out / "000164.png")), 300) << "she dances";
  // Anti-aliased: her outline and the horizon blend into the sky.
  const TRimCount Rim = BlendedRimPixels(Rendered);
  EXPECT_GT(Rim.Rim, 500);
  EXPECT_GT(Rim.Blended, Rim.Rim / 4) << Rim.Blended << " of " << Rim.Rim;

  TViewer V(kBin / "quenlor", FRoot / "work");
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  Xdo("key Next");
  ASSERT_TRUE(e2e::WaitFor([&] { return V.Caption() != kCameraStartCaption; }, 3s));
  const TPixels Shown = ReadBmp(V.ScreenShot());
  ASSERT_EQ(Shown.Width, 960);
  EXPECT_LT(ClearlyDifferentPixels(Rendered, Shown), 960 * 540 / 25);
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
}

// --render OUT.mp4 pipes the frames to ffmpeg with the song muxed in; without ffmpeg on the PATH it
// is a clear error with exit status 1.
TEST_F(ViewerEndToEndTest, RenderToMp4WithTheSongOrAClearErrorWithoutFfmpeg) {
  // A second of a generated tone is the song.
  const fs::path Song = FRoot / "曲.wav";
  {
    std::vector<int16_t> Samples;
    for (int I = 0; I < 44100; ++I)
      Samples.push_back(static_cast<int16_t>(8000 * std::sin(I * 2 * M_PI * 440 / 44100)));
    std::ofstream Out(Song, std::ios::binary);
    auto U32 = [&](uint32_t V) { Out.write(reinterpret_cast<const char*>(&V), 4); };
    auto U16 = [&](uint16_t V) { Out.write(reinterpret_cast<const char*>(&V), 2); };
    Out.write("RIFF", 4), U32(36 + 88200), Out.write("WAVEfmt ", 8), U32(16), U16(1), U16(1);
    U32(44100), U32(88200), U16(2), U16(16), Out.write("data", 4), U32(88200);
    Out.write(reinterpret_cast<const char*>(Samples.data()), 88200);
  }
  const std::string Quenlor = (kBin / "quenlor").string();
  const std::string Missing =
      Shell("cd " + FRoot.string() + " && env -u DISPLAY PATH=/nonexistent " + Quenlor +
            " --render clip.mp4 2>&1; echo status=$?");
  EXPECT_NE(Missing.find("needs ffmpeg"), std::string::npos) << Missing;
  EXPECT_NE(Missing.find("status=1"), std::string::npos) << Missing;
  EXPECT_FALSE(fs::exists(FRoot / "clip.mp4"));
  // So do a file that cannot be read and a range without frames.
  const std::pair<const char*, const char*> Failures[] = {
      {"gone.pmx --render frames", "Cannot open file"},
      {"--render frames --from 100", "Nothing to render"}};
  for (const auto& [Args, Message] : Failures) {
    const std::string Out = Shell("cd " + FRoot.string() + " && env -u DISPLAY timeout 60 " +
                                  Quenlor + " " + Args + " 2>&1; echo status=$?");
    EXPECT_NE(Out.find(Message), std::string::npos) << Out;
    EXPECT_NE(Out.find("status=1"), std::string::npos) << Out;
  }

  if (Shell("command -v ffmpeg").empty() || Shell("command -v ffprobe").empty())
    GTEST_SKIP() << "no ffmpeg/ffprobe here";
  const std::string Render =
      Shell("cd " + FRoot.string() + " && env -u DISPLAY timeout 120 " + Quenlor +
            " --render clip.mp4 --size 320x180 --to 2 --audio 曲.wav --audio-offset 500 2>&1; echo "
            "status=$?");
  ASSERT_NE(Render.find("status=0"), std::string::npos) << Render;
  const std::string Probe = Shell(
      "ffprobe -v error -show_entries stream=codec_type,width,height,nb_frames -show_entries "
      "format=duration -of compact " +
      (FRoot / "clip.mp4").string());
  EXPECT_NE(Probe.find("codec_type=video|width=320|height=180|nb_frames=60"), std::string::npos)
      << Probe;
  EXPECT_NE(Probe.find("codec_type=audio"), std::string::npos) << Probe;
  double Duration = 0;
  const size_t At = Probe.find("duration=");
  ASSERT_NE(At, std::string::npos) << Probe;
  Duration = std::atof(Probe.c_str() + At + 9);
  EXPECT_NEAR(Duration, 2.0, 0.1) << Probe;
}

// A range shows what the whole dance shows: the physics runs from the dance's start up to --from,
// so frame 90 is the same picture whether the render starts there or a little earlier (the hair
// and skirt swing from what came before). --to past the dance's end is its end.
TEST_F(ViewerEndToEndTest, RenderedRangesMatchTheWholeDanceAndEndWithIt) {
  auto Render = [&](const std::string& AFolder, const std::string& ARange) {
    return Shell("cd " + FRoot.string() + " && env -u DISPLAY timeout 120 " +
                 (kBin / "quenlor").string() + " --render " + AFolder + " --size 320x180 " +
                 ARange + " 2>&1; echo status=$?");
  };
  const std::string Late = Render("late", "--from 3 --to 3.04");
  ASSERT_NE(Late.find("status=0"), std::string::npos) << Late;
  const std::string Early = Render("early", "--from 2.8 --to 3.04");
  ASSERT_NE(Early.find("status=0"), std::string::npos) << Early;
  const TPixels A = ReadPng(FRoot / "late/000090.png"), B = ReadPng(FRoot / "early/000090.png");
  ASSERT_EQ(A.Width, 320);
  ASSERT_EQ(B.Width, 320);
  int Different = 0;
  for (std::size_t I = 0; I < A.Pixels.size(); ++I) Different += A.Pixels[I] != B.Pixels[I];
  EXPECT_EQ(Different, 0);

  // The loop's 361 motion frames (its last at 12 s meets the first): frames 357 to 360.
  const std::string Past = Render("end", "--from 11.9 --to 600");
  ASSERT_NE(Past.find("status=0"), std::string::npos) << Past;
  EXPECT_NE(Past.find("4/4 frames"), std::string::npos) << Past;
  EXPECT_TRUE(fs::exists(FRoot / "end/000360.png"));
  EXPECT_FALSE(fs::exists(FRoot / "end/000361.png"));
}

// A video that cannot be written is said before any frame is drawn; an ffmpeg that fails on the
// way (here: writing onto a full device) is an error with its words, status 1, never SIGPIPE.
TEST_F(ViewerEndToEndTest, RenderToAVideoThatCannotBeWrittenFailsClearly) {
  if (Shell("command -v ffmpeg").empty()) GTEST_SKIP() << "no ffmpeg here";
  const std::string Quenlor = (kBin / "quenlor").string();
  const std::string Missing =
      Shell("cd " + FRoot.string() + " && env -u DISPLAY timeout 60 " + Quenlor +
            " --render 'no folder/clip.mp4' 2>&1; echo status=$?");
  EXPECT_NE(Missing.find("Quenlor: cannot write \"no folder/clip.mp4\": the folder \"no folder\" "
                         "does not exist"),
            std::string::npos)
      << Missing;
  EXPECT_EQ(Missing.find("frames"), std::string::npos) << "before rendering: " << Missing;
  EXPECT_NE(Missing.find("status=1"), std::string::npos) << Missing;

  fs::create_symlink("/dev/full", FRoot / "full.mp4");
  const std::string Full =
      Shell("cd " + FRoot.string() + " && env -u DISPLAY timeout 120 " + Quenlor +
            " --render full.mp4 --size 320x180 --to 6 2>&1; echo status=$?");
  EXPECT_NE(Full.find("status=1"), std::string::npos) << Full;
  EXPECT_EQ(Full.find("status=141"), std::string::npos) << "SIGPIPE: " << Full;
  EXPECT_NE(Full.find("\nQuenlor: ffmpeg"), std::string::npos) << "on a line of its own: " << Full;
  EXPECT_NE(Full.find("No space left on device"), std::string::npos) << "ffmpeg's words: " << Full;
}

// Ctrl+C (SIGINT) stops a render at once: exit status 130, a line that says what was kept, and a
// video of the frames rendered that plays.
TEST_F(ViewerEndToEndTest, InterruptedRenderKeepsAPlayableVideo) {
  if (Shell("command -v ffmpeg").empty() || Shell("command -v ffprobe").empty())
    GTEST_SKIP() << "no ffmpeg/ffprobe here";
  // The whole dance would take minutes; the signal comes once a few frames are done.
  const std::string Out =
      Shell("cd " + FRoot.string() + " && { env -u DISPLAY " + (kBin / "quenlor").string() +
            " --render stopped.mp4 --size 320x180 2>err.txt & P=$!; for I in $(seq 1200); do "
            "grep -qE '\\] ([3-9]|[1-9][0-9]+)/' err.txt && break; sleep 0.1; done; kill -INT $P; "
            "wait $P; echo status=$?; cat err.txt; }");
  EXPECT_NE(Out.find("status=130"), std::string::npos) << Out;
  EXPECT_NE(Out.find("Quenlor: stopped by SIGINT; stopped.mp4 holds the "), std::string::npos)
      << Out;
  const std::string Probe =
      Shell("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 " +
            (FRoot / "stopped.mp4").string() + " 2>&1");
  EXPECT_GE(std::atoi(Probe.c_str()), 3) << Probe;
}

// A song without an audio device: one line on stderr, and the dance plays silently.
TEST_F(ViewerEndToEndTest, WithoutAnAudioDeviceTheDancePlaysSilentlyWithOneLine) {
  const fs::path Song = FRoot / "song.wav";
  {
    std::ofstream Out(Song, std::ios::binary);
    auto U32 = [&](uint32_t V) { Out.write(reinterpret_cast<const char*>(&V), 4); };
    auto U16 = [&](uint16_t V) { Out.write(reinterpret_cast<const char*>(&V), 2); };
    Out.write("RIFF", 4), U32(36 + 8820), Out.write("WAVEfmt ", 8), U32(16), U16(1), U16(1);
    U32(44100), U32(88200), U16(2), U16(16), Out.write("data", 4), U32(8820);
    Out << std::string(8820, '\0');
  }
  TViewer V(kBin / "quenlor", FRoot / "work", {{"SDL_AUDIODRIVER", "no-such-driver"}},
            {"--audio", Song.string()});
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  Xdo("key p");
  EXPECT_TRUE(e2e::WaitFor([&] { return V.Caption() != kCameraStartCaption; }, 3s));
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  const std::string Err = V.Stderr();
  EXPECT_NE(Err.find("no audio device"), std::string::npos) << Err;
  EXPECT_EQ(std::count(Err.begin(), Err.end(), '\n'), 1) << Err;
}

}  // namespace

namespace {

// Help, version and usage errors need no display.
TEST(ViewerCommandLineTest, HelpVersionAndUsageErrors) {
  struct TCase {
    const char* Args;
    int Status;
    const char* Out;  // a part of what it prints (stdout and stderr together)
  } Cases[] = {
      {"--help", 0, "X                               physics on / off"},
      {"--headset bogus", 2, "quenlor: unknown headset kind 'bogus'"},
      {"--version", 0, "quenlor "},
      {"--size 12", 2, "quenlor: --size wants WIDTHxHEIGHT"},
      {"--at 1,2,3 a.pmx", 2, "Usage: quenlor"},
  };
  for (const TCase& C : Cases) {
    const std::string Out = Shell("env -u DISPLAY timeout 20 " + (kBin / "quenlor").string() + " " +
                                  C.Args + " 2>&1; echo status=$?");
    EXPECT_NE(Out.find(C.Out), std::string::npos) << Out;
    EXPECT_NE(Out.find("status=" + std::to_string(C.Status)), std::string::npos) << Out;
  }
}

TEST(ViewerWithoutDisplayTest, EndsWithAMessageInsteadOfRunningUnseen) {
  ASSERT_TRUE(fs::exists(kBin / "quenlor"));
  const std::string Out =
      Shell("cd " + fs::temp_directory_path().string() +
            " && env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout 20 " +
            (kBin / "quenlor").string() + " 2>&1; echo status=$?");
  EXPECT_NE(Out.find("No display found"), std::string::npos) << Out;
  EXPECT_NE(Out.find("status=1"), std::string::npos) << Out;
}

// A scene file naming two default characters placed apart on the demo stage (absolute paths; no
// camera, so the viewer walks from (0, 1.7, 2)).
fs::path WriteDuetScene(const fs::path& AFolder, bool ASecondDancer = true) {
  fs::create_directories(AFolder);
  const fs::path Mmd = kBin / "mmd";
  std::ofstream Out(AFolder / "duet.scene.toml");
  auto Model = [&](const char* ATable, const fs::path& AFile, const fs::path& AMotion,
                   const char* AAt) {
    Out << "[[" << ATable << "]]\nfile = \"" << AFile.string() << "\"\nmotions = [\""
        << AMotion.string() << "\"]\n"
        << AAt << "\n";
  };
  Model("model", Mmd / "model/model.pmx", Mmd / "motion/motion.vmd", "at = [-8, 0, 0]");
  if (ASecondDancer)
    Model("model", Mmd / "model/model.pmx", Mmd / "motion/motion_mirror.vmd", "at = [8, 0, 0]");
  Model("stage", Mmd / "stage/stage.pmx", Mmd / "motion/stage_lights.vmd", "");
  return AFolder / "duet.scene.toml";
}

// Where the two dancers stand in a 960 x 540 window from the walking start: 0.8 units either side
// of the middle, 4.5 units ahead (about 116 pixels either side of the centre).
constexpr int kLeftDancerX0 = 300, kLeftDancerX1 = 420, kRightDancerX0 = 540, kRightDancerX1 = 660;
constexpr int kDancerY0 = 170, kDancerY1 = 420;

// A scene file from the command line: two dancers on the stage and no ground plane; Tab and Delete
// take the second dancer out; Ctrl+S saves the scene over its file (the caption says so), and
// opening the saved file shows the same picture.
TEST_F(ViewerEndToEndTest, ASceneFileOpensEditsSavesAndReopensTheSame) {
  const fs::path Scene = WriteDuetScene(FRoot / "scene");
  TViewer V(kBin / "quenlor", FRoot / "work", {}, {Scene.string()});
  ASSERT_FALSE(V.FindMainWindow().empty()) << V.Stderr();
  V.Focus();
  // Physics off: the poses follow the paused motion alone, the same in both processes.
  Xdo("key x");
  const TPixels Both = ReadBmp(V.ScreenShot());
  ASSERT_EQ(Both.Width, 960);
  EXPECT_EQ(Count(Both, [](auto C) { return Near(C, 77, 230, 140, 6); }), 0) << "no ground plane";

  Xdo("key Tab");
  Xdo("key Delete");
  const TPixels One = ReadBmp(V.ScreenShot());
  EXPECT_GT(DifferentPixelsIn(One, Both, kRightDancerX0, kDancerY0, kRightDancerX1, kDancerY1),
            3000)
      << "the second dancer is gone";
  // The shadow map is fitted to the dancers that are left: her own shading may shift a little.
  EXPECT_LT(ClearlyDifferentPixelsIn(One, Both, kLeftDancerX0, kDancerY0, kLeftDancerX1, kDancerY1),
            150)
      << "the first one stays";

  Xdo("key ctrl+s");
  ASSERT_TRUE(e2e::WaitFor(
      [&] { return V.Caption().find("Saved " + Scene.string()) != std::string::npos; }, 5s))
      << V.Caption();
  const TPixels Saved = ReadBmp(V.ScreenShot());
  Xdo("key Escape");
  EXPECT_EQ(V.WaitForExit(), 0);
  std::ifstream In(Scene);
  const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
  EXPECT_EQ(Text.find("motion_mirror"), std::string::npos) << Text;
  EXPECT_EQ(Text.find("file = \"/"), std::string::npos) << "paths relative to the file: " << Text;
  EXPECT_NE(Text.find("file = \"../"), std::string::npos) << Text;

  TViewer Again(kBin / "quenlor", FRoot / "again", {}, {Scene.string()});
  ASSERT_FALSE(Again.FindMainWindow().empty()) << Again.Stderr();
  Again.Focus();
  Xdo("key x");
  EXPECT_EQ(e2e::DifferentPixels(ReadBmp(Again.ScreenShot()), Saved), 0);
  Xdo("key Escape");
  EXPECT_EQ(Again.WaitForExit(), 0);
}

// --render of a scene file draws the whole scene: both dancers on the stage.
TEST_F(ViewerEndToEndTest, RenderOfASceneFileShowsEveryModel) {
  const fs::path Duet = WriteDuetScene(FRoot / "duet"),
                 Solo = WriteDuetScene(FRoot / "solo", false);
  auto Render = [&](const fs::path& AScene, const char* AOut) {
    const std::string Out =
        Shell("cd " + FRoot.string() + " && env -u DISPLAY timeout 120 " +
              (kBin / "quenlor").string() + " '" + AScene.string() + "' --render " + AOut +
              " --size 960x540 --from 1 --to 1.03 2>&1; echo status=$?");
    EXPECT_NE(Out.find("status=0"), std::string::npos) << Out;
    return ReadPng(FRoot / AOut / "000030.png");
  };
  const TPixels Two = Render(Duet, "two"), One = Render(Solo, "one");
  ASSERT_EQ(Two.Width, 960);
  EXPECT_EQ(Count(Two, [](auto C) { return Near(C, 77, 230, 140, 6); }), 0) << "no ground plane";
  EXPECT_GT(DifferentPixelsIn(Two, One, kRightDancerX0, kDancerY0, kRightDancerX1, kDancerY1), 3000)
      << "the second dancer";
  EXPECT_LT(ClearlyDifferentPixelsIn(Two, One, kLeftDancerX0, kDancerY0, kLeftDancerX1, kDancerY1),
            150)
      << "the first one in both";
}

}  // namespace
