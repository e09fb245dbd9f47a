// The command line: what each argument list means, and which ones are usage errors (exit 2).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shell/CommandLine.h"

namespace {

struct TParseCase {
  const char* Name;
  std::vector<std::string> Args;
  // What the options must hold afterwards.
  std::string Model;
  std::vector<std::string> Motions;
  std::string Camera;
  std::string Audio;
  double OffsetMs;
  int Width, Height;
  bool FullScreen;
  THeadsetChoice Headset;
  std::string Render;
  int Fps;
  double From, To;
};

const THeadsetChoice Auto = THeadsetChoice::hcAuto;

const TParseCase kParseCases[] = {
    {"Nothing", {}, "", {}, "", "", 0, 0, 0, false, Auto, "", 30, 0, -1},
    {"ModelAndTwoMotionsKeepOrder",
     {"a b/ミク.pmx", "dance.vmd", "../face.VMD"},
     "a b/ミク.pmx",
     {"dance.vmd", "../face.VMD"},
     "",
     "",
     0,
     0,
     0,
     false,
     Auto,
     "",
     30,
     0,
     -1},
    {"MotionsOnly", {"x.vmd"}, "", {"x.vmd"}, "", "", 0, 0, 0, false, Auto, "", 30, 0, -1},
    {"PosesAreMotions",
     {"m.pmx", "dance.vmd", "ポーズ.VPD"},
     "m.pmx",
     {"dance.vmd", "ポーズ.VPD"},
     "",
     "",
     0,
     0,
     0,
     false,
     Auto,
     "",
     30,
     0,
     -1},
    {"CameraAudioOffsetSize",
     {"m.PMX", "--camera", "cam.vmd", "--audio", "曲 1.ogg", "--audio-offset", "-250.5", "--size",
      "640x360"},
     "m.PMX",
     {},
     "cam.vmd",
     "曲 1.ogg",
     -250.5,
     640,
     360,
     false,
     Auto,
     "",
     30,
     0,
     -1},
    {"EqualsForms",
     {"--audio=s.wav", "--size=1920X1080", "--headset=legacy", "--fps=60", "--render=out",
      "--from=1.5", "--to=3"},
     "",
     {},
     "",
     "s.wav",
     0,
     1920,
     1080,
     false,
     THeadsetChoice::hcLegacy,
     "out",
     60,
     1.5,
     3},
    {"SongByExtension",
     {"song.FLAC"},
     "",
     {},
     "",
     "song.FLAC",
     0,
     0,
     0,
     false,
     Auto,
     "",
     30,
     0,
     -1},
    // What --audio takes is what a bare argument is taken as a song by.
    {"AudioInAnyLetterCase",
     {"--audio", "Mix.Mp3", "--headset", "openxr"},
     "",
     {},
     "",
     "Mix.Mp3",
     0,
     0,
     0,
     false,
     THeadsetChoice::hcOpenXR,
     "",
     30,
     0,
     -1},
    {"HeadsetOpenXR",
     {"--headset", "openxr"},
     "",
     {},
     "",
     "",
     0,
     0,
     0,
     false,
     THeadsetChoice::hcOpenXR,
     "",
     30,
     0,
     -1},
    // A bare --headset leaves a following file alone.
    {"HeadsetBareThenFile",
     {"--headset", "m.pmx"},
     "m.pmx",
     {},
     "",
     "",
     0,
     0,
     0,
     false,
     Auto,
     "",
     30,
     0,
     -1},
    {"NoHeadsetFullscreen",
     {"--no-headset", "--fullscreen"},
     "",
     {},
     "",
     "",
     0,
     0,
     0,
     true,
     THeadsetChoice::hcOff,
     "",
     30,
     0,
     -1},
    {"DashDashMakesFiles",
     {"--", "--odd.vmd"},
     "",
     {"--odd.vmd"},
     "",
     "",
     0,
     0,
     0,
     false,
     Auto,
     "",
     30,
     0,
     -1},
    {"RenderMp4",
     {"--render", "out dir/clip.mp4", "--fps", "60", "m.pmx"},
     "m.pmx",
     {},
     "",
     "",
     0,
     0,
     0,
     false,
     Auto,
     "out dir/clip.mp4",
     60,
     0,
     -1},
};

class CommandLineParse : public ::testing::TestWithParam<TParseCase> {};

TEST_P(CommandLineParse, FillsTheOptions) {
  const TParseCase& C = GetParam();
  const TViewerOptions O = ParseCommandLine(C.Args);
  ASSERT_LE(O.Models.size(), 1u);
  EXPECT_EQ(O.Models.empty() ? "" : O.Models[0].Path, C.Model);
  EXPECT_EQ(O.Models.empty() ? std::vector<std::string>() : O.Models[0].MotionPaths, C.Motions);
  EXPECT_EQ(O.CameraPath, C.Camera);
  EXPECT_EQ(O.AudioPath, C.Audio);
  EXPECT_DOUBLE_EQ(O.AudioOffsetMs, C.OffsetMs);
  EXPECT_EQ(O.Width, C.Width);
  EXPECT_EQ(O.Height, C.Height);
  EXPECT_EQ(O.FullScreen, C.FullScreen);
  EXPECT_EQ(O.Headset, C.Headset);
  EXPECT_EQ(O.RenderOut, C.Render);
  EXPECT_EQ(O.Fps, C.Fps);
  EXPECT_DOUBLE_EQ(O.FromSeconds, C.From);
  EXPECT_DOUBLE_EQ(O.ToSeconds, C.To);
  EXPECT_FALSE(O.ShowHelp);
  EXPECT_FALSE(O.ShowVersion);
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineParse, ::testing::ValuesIn(kParseCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

struct TErrorCase {
  const char* Name;
  std::vector<std::string> Args;
  const char* MessagePart;  // the one line names what was wrong
};

const TErrorCase kErrorCases[] = {
    {"UnknownOption", {"--bogus"}, "--bogus"},
    {"MissingValue", {"m.pmx", "--camera"}, "--camera needs a value"},
    {"AtBeforeAnyModel", {"--at", "1,2,3", "a.pmx"}, "--at places the model named before it"},
    {"AtAfterDefaultCharactersMotion", {"d.vmd", "--at", "1,2,3"}, "named before it"},
    {"AtTwice", {"a.pmx", "--at", "1,2,3", "--at=4,5,6"}, "one --at for each model: 4,5,6"},
    {"AtTwoNumbers", {"a.pmx", "--at", "1,2"}, "'1,2'"},
    {"AtFiveNumbers", {"a.pmx", "--at", "1,2,3,4,5"}, "'1,2,3,4,5'"},
    {"AtEmptyPart", {"a.pmx", "--at", "1,,3"}, "'1,,3'"},
    {"AtNotANumber", {"a.pmx", "--at", "1,2,z"}, "'1,2,z'"},
    {"AtHuge", {"a.pmx", "--at", "1e9,0,0"}, "'1e9,0,0'"},
    {"StageNotAModel", {"--stage", "s.vmd"}, "--stage wants a model (.pmx or .pmd): s.vmd"},
    {"TwoSceneFiles", {"a.toml", "b.toml"}, "only one scene file: b.toml"},
    {"SceneFileWithModels", {"a.toml", "m.pmx"}, "a scene file opens alone"},
    {"SceneFileWithSong", {"--audio", "s.ogg", "a.toml"}, "a scene file opens alone"},
    {"TwoSongs", {"a.wav", "--audio", "b.mp3"}, "b.mp3"},
    {"UnknownFileType", {"notes.txt"}, "notes.txt"},
    {"SizeWithoutX", {"--size", "640"}, "'640'"},
    {"SizeZero", {"--size", "0x480"}, "'0x480'"},
    {"SizeNegative", {"--size", "-640x480"}, "'-640x480'"},
    {"SizeHuge", {"--size", "99999x10"}, "'99999x10'"},
    {"SizeTrailing", {"--size", "640x480p"}, "'640x480p'"},
    {"OffsetNotANumber", {"--audio-offset", "12ms"}, "'12ms'"},
    {"FpsOther", {"--render", "o", "--fps", "25"}, "'25'"},
    {"HeadsetBadBackend", {"--headset=vive"}, "unknown headset kind 'vive'"},
    // A word after --headset that is neither an option nor a file is a kind, and not a known one.
    {"HeadsetUnknownKind", {"--headset", "bogus", "m.pmx"}, "unknown headset kind 'bogus'"},
    // A song is a song by one rule, bare or after --audio: the same words for both.
    {"SongOfUnknownKindBare", {"tune.mid"}, "a song (WAV, OGG, MP3, FLAC): tune.mid"},
    {"SongOfUnknownKindAfterAudio",
     {"--audio", "tune.mid"},
     "cannot play this kind of file (WAV, OGG, MP3, FLAC are supported): tune.mid"},
    {"SongWithoutExtensionAfterAudio", {"--audio=music"}, "are supported): music"},
    {"FlagWithValue", {"--fullscreen=yes"}, "--fullscreen takes no value"},
    {"FromNegative", {"--render", "o", "--from", "-1"}, "'-1'"},
    {"ToNotAfterFrom", {"--render", "o", "--from", "5", "--to", "5"}, "later than --from"},
    {"FromWithoutRender", {"--from", "2"}, "--render"},
    {"RenderFullscreen", {"--render", "o", "--fullscreen"}, "--fullscreen"},
    {"RenderEmpty", {"--render="}, "--render"},
};

class CommandLineError : public ::testing::TestWithParam<TErrorCase> {};

TEST_P(CommandLineError, IsAUsageErrorNamingTheProblem) {
  const TErrorCase& C = GetParam();
  try {
    ParseCommandLine(C.Args);
    FAIL() << "accepted";
  } catch (const EUsageError& E) {
    const std::string Message = E.what();
    EXPECT_NE(Message.find(C.MessagePart), std::string::npos) << Message;
    EXPECT_EQ(Message.find('\n'), std::string::npos) << "one line: " << Message;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineError, ::testing::ValuesIn(kErrorCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// Several models: each model file (or --stage) starts one, the motions after it are its own,
// --at places the one before it, motions before any model are the default character's.
TEST(CommandLineScene, GroupsMotionsAndPlacementsWithTheModelBeforeThem) {
  struct TCase {
    std::vector<std::string> Args;
    std::vector<TSceneEntry> Models;
    std::string Camera, Audio, Scene;
  } Cases[] = {
      {{"A.pmx", "a.vmd", "a_face.vmd", "B.pmx", "b.vmd", "--stage", "S.pmx", "s.vmd", "--camera",
        "cam.vmd", "--audio", "song.ogg"},
       {{"A.pmx", {"a.vmd", "a_face.vmd"}, {}, false},
        {"B.pmx", {"b.vmd"}, {}, false},
        {"S.pmx", {"s.vmd"}, {}, true}},
       "cam.vmd",
       "song.ogg",
       ""},
      {{"d.vmd", "f.vpd", "B.pmx", "--at", "-8,0,2.5", "b.vmd"},
       {{"", {"d.vmd", "f.vpd"}, {}, false}, {"B.pmx", {"b.vmd"}, {{-8, 0, 2.5f}, 0}, false}},
       "",
       "",
       ""},
      {{"--stage=S1.pmx", "--at", "0,0,-30,180", "--stage", "S2.pmx", "A.pmx", "--at=5,0,0,-90"},
       {{"S1.pmx", {}, {{0, 0, -30}, 180}, true},
        {"S2.pmx", {}, {}, true},
        {"A.pmx", {}, {{5, 0, 0}, -90}, false}},
       "",
       "",
       ""},
      {{"old.PMD", "o.vmd", "--stage", "S.pmd"},
       {{"old.PMD", {"o.vmd"}, {}, false}, {"S.pmd", {}, {}, true}},
       "",
       "",
       ""},
      {{"--size", "640x360", "my.scene.TOML"}, {}, "", "", "my.scene.TOML"},
  };
  for (const TCase& C : Cases) {
    const TViewerOptions O = ParseCommandLine(C.Args);
    EXPECT_EQ(O.Models, C.Models) << C.Args[0];
    EXPECT_EQ(O.CameraPath, C.Camera);
    EXPECT_EQ(O.AudioPath, C.Audio);
    EXPECT_EQ(O.ScenePath, C.Scene);
    EXPECT_TRUE(O.HasFiles());
    const TSceneDescription D = O.Description();
    EXPECT_EQ(D.Models, C.Models);
    EXPECT_EQ(D.CameraPath, C.Camera);
    EXPECT_EQ(D.SongPath, C.Audio);
  }
}

// A window asked larger than the screen keeps its shape and shrinks until both sides fit.
TEST(CommandLineSize, FitsTheScreenKeepingItsShape) {
  struct TCase {
    int Width, Height, ScreenWidth, ScreenHeight;
    bool Changed;
    int FitWidth, FitHeight;  // worked out by hand
  } Cases[] = {
      {640, 360, 1920, 1080, false, 640, 360},      // fits
      {1920, 1080, 1920, 1080, false, 1920, 1080},  // exactly the screen
      {3000, 2000, 1920, 1080, true, 1620, 1080},   // height limits: 2000 -> 1080 is x0.54
      {3840, 1080, 1920, 1080, true, 1920, 540},    // width limits: x0.5
      {1921, 100, 1920, 1080, true, 1920, 99},      // 100 x 1920 / 1921 = 99.95, down
      {16384, 1, 1920, 1080, true, 1920, 1},        // never below one pixel
      {3000, 2000, 0, 0, false, 3000, 2000},        // screen unknown: left alone
  };
  for (const TCase& C : Cases) {
    int Width = C.Width, Height = C.Height;
    EXPECT_EQ(FitSizeToScreen(Width, Height, C.ScreenWidth, C.ScreenHeight), C.Changed)
        << C.Width << "x" << C.Height;
    EXPECT_EQ(Width, C.FitWidth) << C.Width << "x" << C.Height;
    EXPECT_EQ(Height, C.FitHeight) << C.Width << "x" << C.Height;
  }
}

// --help lists the keys of the README's key table, each as the table names it, in its order:
// the table's first column, row by row, is the start of the help's key lines.
TEST(CommandLineHelp, ListsExactlyTheKeysOfTheReadmeTable) {
  std::ifstream Readme(std::string(QUENLOR_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(Readme) << "README.md";
  std::vector<std::string> TableKeys;
  bool InTable = false;
  for (std::string Line; std::getline(Readme, Line);) {
    if (Line == "| Key | Action |") {
      InTable = true;
      continue;
    }
    if (!InTable) continue;
    if (Line.rfind("|", 0) != 0) break;
    if (Line.rfind("|---", 0) == 0) continue;
    TableKeys.push_back(Line.substr(2, Line.find(" | ") - 2));
  }
  ASSERT_GT(TableKeys.size(), 10u);

  std::vector<std::string> HelpKeys;
  std::istringstream Help(KeyTable());
  for (std::string Line; std::getline(Help, Line);) {
    if (Line.rfind("  ", 0) != 0) continue;
    // The keys end where two spaces start the action.
    HelpKeys.push_back(Line.substr(2, Line.find("  ", 2) - 2));
  }
  EXPECT_EQ(HelpKeys, TableKeys);
}

// What main does: exit statuses and where the text goes.
TEST(CommandLineHandle, HelpVersionAndUsageErrorExitStatuses) {
  struct TCase {
    std::vector<const char*> Argv;
    int Status;
    std::string Stdout, Stderr;  // parts that must appear
  } Cases[] = {
      {{"quenlor", "--help"}, 0, "Page Up / Page Down", ""},
      {{"quenlor", "-h"}, 0, "Usage: quenlor", ""},
      {{"quenlor", "--version"}, 0, std::string("quenlor ") + kQuenlorVersion, ""},
      {{"quenlor", "--fps"}, 2, "", "quenlor: --fps needs a value\nUsage: quenlor"},
      {{"quenlor", "m.pmx"}, -1, "", ""},
  };
  for (const TCase& C : Cases) {
    TViewerOptions Options;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int Status = HandleCommandLine(static_cast<int>(C.Argv.size()), C.Argv.data(), Options);
    const std::string Out = ::testing::internal::GetCapturedStdout();
    const std::string Err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Status, C.Status) << C.Argv[1];
    EXPECT_NE(Out.find(C.Stdout), std::string::npos) << Out;
    EXPECT_NE(Err.find(C.Stderr), std::string::npos) << Err;
    if (C.Status == -1) {
      EXPECT_TRUE(Out.empty() && Err.empty());
      ASSERT_EQ(Options.Models.size(), 1u);
      EXPECT_EQ(Options.Models[0].Path, "m.pmx");
    }
  }
}

}  // namespace
