// The scene file: texts people write and the scene each describes, texts with faults and the exact
// message each gives (file and line), and a scene saved and read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "scene/SceneFile.h"

namespace fs = std::filesystem;

namespace {

TSceneEntry Model(std::string APath, std::vector<std::string> AMotions = {},
                  std::array<float, 3> AAt = {0, 0, 0}, float AYaw = 0, bool AStage = false) {
  return TSceneEntry{std::move(APath), std::move(AMotions), TModelPlacement{AAt, AYaw}, AStage};
}
TSceneEntry Stage(std::string APath, std::vector<std::string> AMotions = {},
                  std::array<float, 3> AAt = {0, 0, 0}, float AYaw = 0) {
  return Model(std::move(APath), std::move(AMotions), AAt, AYaw, true);
}

void ExpectScene(const TSceneDescription& AGot, const TSceneDescription& AWanted) {
  EXPECT_EQ(AGot.SongPath, AWanted.SongPath);
  EXPECT_EQ(AGot.SongOffsetMs, AWanted.SongOffsetMs);
  EXPECT_EQ(AGot.CameraPath, AWanted.CameraPath);
  EXPECT_TRUE(AGot.Named);
  ASSERT_EQ(AGot.Models.size(), AWanted.Models.size());
  for (std::size_t I = 0; I < AGot.Models.size(); ++I) {
    SCOPED_TRACE("entry " + std::to_string(I));
    const TSceneEntry &Got = AGot.Models[I], &Wanted = AWanted.Models[I];
    EXPECT_EQ(Got.Path, Wanted.Path);
    EXPECT_EQ(Got.MotionPaths, Wanted.MotionPaths);
    EXPECT_EQ(Got.Placement.At, Wanted.Placement.At);
    EXPECT_EQ(Got.Placement.YawDegrees, Wanted.Placement.YawDegrees);
    EXPECT_EQ(Got.Stage, Wanted.Stage);
  }
  EXPECT_TRUE(AGot == AWanted);
}

TSceneDescription Scene(std::vector<TSceneEntry> AModels, std::string ASong = "",
                        double AOffset = 0, std::string ACamera = "") {
  TSceneDescription S;
  S.Models = std::move(AModels);
  S.SongPath = std::move(ASong);
  S.SongOffsetMs = AOffset;
  S.CameraPath = std::move(ACamera);
  return S;
}

TEST(SceneFile, TextsAndTheScenesTheyDescribe) {
  const std::string Cwd = fs::current_path().string();
  struct TCase {
    const char* Name;
    std::string Source;
    std::string Text;
    TSceneDescription Wanted;
  } Cases[] = {
      {"every key, paths relative, absolute and through ..", "/scenes/party/scene.toml",
       R"(song = "song.ogg"
song_offset_ms = 120
camera = "camera.vmd"

[[model]]
file = "dancer/dancer.pmx"
motions = ["dance.vmd", "../face/face.vmd"]
at = [10, -2.5, 0]   # integers are numbers too
yaw = 90

[[stage]]
file = "/stages/hall/hall.pmx"
motions = ["lights.vmd"]

[[model]]
file = "./ミク/初音ミク.pmx"
motions = ["モーション/踊り.vmd"]
at = [1.5, 0.0, -3.25]
yaw = -45.5
)",
       Scene({Model("/scenes/party/dancer/dancer.pmx",
                    {"/scenes/party/dance.vmd", "/scenes/face/face.vmd"}, {10, -2.5f, 0}, 90),
              Stage("/stages/hall/hall.pmx", {"/scenes/party/lights.vmd"}),
              Model("/scenes/party/ミク/初音ミク.pmx", {"/scenes/party/モーション/踊り.vmd"},
                    {1.5f, 0, -3.25f}, -45.5f)},
             "/scenes/party/song.ogg", 120, "/scenes/party/camera.vmd")},
      {"stages and models interleaved keep the file's order", "/scenes/party/scene.toml",
       R"(song_offset_ms = -33.5
[[stage]]
file = "stage.pmx"
[[model]]
file = "b.pmx"
[[model]]
file = "a.pmx"
[[stage]]
file = "s2/../s2b.pmx"
yaw = 180.25
)",
       Scene({Stage("/scenes/party/stage.pmx"), Model("/scenes/party/b.pmx"),
              Model("/scenes/party/a.pmx"), Stage("/scenes/party/s2b.pmx", {}, {0, 0, 0}, 180.25f)},
             "", -33.5)},
      {"inline tables, ordered by line and column; empty song and file", "/s/x.toml",
       "song = \"\"\nstage = [{ file = \"z.pmx\" }]\n"
       "model = [{ file = \"b.pmx\" }, { file = \"\", motions = [] }]\n",
       Scene({Stage("/s/z.pmx"), Model("/s/b.pmx"), Model("")})},
      {"an empty file", "/s/empty.toml", "", Scene({})},
      {"a relative scene path starts from the working folder", "rel/scene.toml",
       "camera = '../カメラ.vmd'\n[[model]]\nfile = 'm.pmx'\n",
       Scene({Model(Cwd + "/rel/m.pmx")}, "", 0, Cwd + "/カメラ.vmd")},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    try {
      ExpectScene(ParseSceneText(C.Text, C.Source), C.Wanted);
    } catch (const std::exception& E) {
      ADD_FAILURE() << E.what();
    }
  }
}

TEST(SceneFile, FaultsNameTheFileAndTheLine) {
  const std::pair<std::string, std::string> Cases[] = {
      {"[[model]]\nfiel = \"a.pmx\"\n",
       "bad.toml:2: unknown key \"fiel\" in [[model]], expected file, motions, at or yaw"},
      {"[[model]]\nfile = \"a.pmx\"\n\n[[stage]]\nfile = \"s.pmx\"\n\nmotion = [\"l.vmd\"]\n",
       "bad.toml:7: unknown key \"motion\" in [[stage]], expected file, motions, at or yaw"},
      {"song = \"s.ogg\"\n\n[[model]]\nfile = \"a.pmx\"\n\n[[model]]\nmotions = [\"a.vmd\"]\n",
       "bad.toml:6: no file in [[model]], expected file = \"<path>\""},
      {"[[stage]]\nfile = \"s.pmx\"\nat = [1, 2]\n",
       "bad.toml:3: at has 2 items, expected 3 numbers"},
      {"[[model]]\nfile = \"m.pmx\"\nat = 5\n",
       "bad.toml:3: at is an integer, expected an array of 3 numbers"},
      {"[[model]]\nfile = \"m.pmx\"\nat = [\n  1,\n  \"2\",\n  3]\n",
       "bad.toml:5: at[1] is a string, expected a number"},
      {"[[model]]\nfile = \"m.pmx\"\nat = [1e39, 0, 0]\n",
       "bad.toml:3: at[0] is not a finite number, expected a number"},
      {"[[model]]\nfile = \"m.pmx\"\nyaw = \"90\"\n",
       "bad.toml:3: yaw is a string, expected a number of degrees"},
      {"[[model]]\nfile = \"m.pmx\"\nyaw = nan\n",
       "bad.toml:3: yaw is not a finite number, expected a number of degrees"},
      {"[[model]]\nfile = \"m.pmx\"\nmotions = \"a.vmd\"\n",
       "bad.toml:3: motions is a string, expected an array of strings"},
      {"[[model]]\nfile = \"m.pmx\"\nmotions = [\"a.vmd\",\n  3]\n",
       "bad.toml:4: motions[1] is an integer, expected a string (a motion file)"},
      {"[[model]]\nfile = \"m.pmx\"\nmotions = [\"\"]\n",
       "bad.toml:3: motions[0] is empty, expected a motion file"},
      {"[[model]]\nfile = 3\n",
       "bad.toml:2: file is an integer, expected a string (the model file)"},
      {"song = 5\n", "bad.toml:1: song is an integer, expected a string (the song file)"},
      {"\n\nsong_offset_ms = -inf\n",
       "bad.toml:3: song_offset_ms is not a finite number, expected a number of milliseconds"},
      {"song_offset_ms = \"120\"\n",
       "bad.toml:1: song_offset_ms is a string, expected a number of milliseconds"},
      {"song = \"s.ogg\"\ntitel = \"x\"\n",
       "bad.toml:2: unknown key \"titel\", expected song, song_offset_ms, camera, [[model]] or "
       "[[stage]]"},
      {"[[model]]\nfile = \"m.pmx\"\n[models]\nfile = \"x\"\n",
       "bad.toml:3: unknown table [models], expected [[model]] or [[stage]]"},
      {"[[dancer]]\nfile = \"x\"\n",
       "bad.toml:1: unknown table [[dancer]], expected [[model]] or [[stage]]"},
      {"\n[model]\nfile = \"a.pmx\"\n", "bad.toml:2: model is a table, expected [[model]]"},
      {"model = [1]\n", "bad.toml:1: an item of model is an integer, expected a table [[model]]"},
      // TOML syntax: toml++'s own description at its line.
      {"song = \"a.ogg\"\n[[model]]\nfile = \"a.pmx\nyaw = 1\n",
       "bad.toml:3: Error while parsing string: unescaped control characters other than TAB "
       "(U+0009) are explicitly prohibited"},
      {"[[model]]\nfile = \"a.pmx\"\nfile = \"b.pmx\"\n",
       "bad.toml:3: Error while parsing key-value pair: cannot redefine existing string 'file'"},
  };
  for (const auto& [Text, Message] : Cases) {
    try {
      ParseSceneText(Text, "bad.toml");
      ADD_FAILURE() << "accepted:\n" << Text;
    } catch (const ESceneFileError& E) {
      EXPECT_EQ(std::string(E.what()), Message) << Text;
    }
  }
}

class SceneFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("quenlor_scenefile_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir / "scenes");
  }
  void TearDown() override { fs::remove_all(FDir); }
  std::string Path(const std::string& ARelative) const { return (FDir / ARelative).string(); }
  fs::path FDir;
};

TEST_F(SceneFileOnDisk, SavedAndReopenedGivesTheSameSceneWithPathsRelativeToTheFile) {
  const std::string ScenePath = Path("scenes/パーティー.toml");
  const TSceneDescription Saved =
      Scene({Model(Path("scenes/dancer/ミク.pmx"),
                   {Path("motions/踊り.vmd"), Path("scenes/face \"quoted\" \\ back.vmd")},
                   {0.1f, -1e-7f, 123456.79f}, 33.3f),
             Stage(Path("scenes/stage/hall.pmx"), {"/elsewhere/lights.vmd"}),
             Model(Path("scenes/b.pmx"), {}, {10, 0, -20})},
            Path("scenes/song.ogg"), 1234.5678, Path("camera.vmd"));
  WriteSceneFile(Saved, ScenePath);
  std::ifstream In(ScenePath, std::ios::binary);
  std::stringstream Text;
  Text << In.rdbuf();
  // Relative to the file's folder, forward slashes, defaults left out, entries in scene order.
  // From the scenes folder up to the root, then down.
  std::string Elsewhere;
  for (const auto& Part : (FDir / "scenes").relative_path()) {
    (void)Part;
    Elsewhere += "../";
  }
  Elsewhere += "elsewhere/lights.vmd";
  EXPECT_EQ(Text.str(),
            "song = \"song.ogg\"\n"
            "song_offset_ms = 1234.5678\n"
            "camera = \"../camera.vmd\"\n"
            "\n"
            "[[model]]\n"
            "file = \"dancer/ミク.pmx\"\n"
            "motions = [\"../motions/踊り.vmd\", \"face \\\"quoted\\\" \\\\ back.vmd\"]\n"
            "at = [0.1, -1e-07, 123456.79]\n"
            "yaw = 33.3\n"
            "\n"
            "[[stage]]\n"
            "file = \"stage/hall.pmx\"\n"
            "motions = [\"" +
                Elsewhere +
                "\"]\n"
                "\n"
                "[[model]]\n"
                "file = \"b.pmx\"\n"
                "at = [10.0, 0.0, -20.0]\n");
  ExpectScene(ReadSceneFile(ScenePath), Saved);
  // Nothing left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(FDir / "scenes"), fs::directory_iterator()), 1);
}

// Every float comes back as the same float: a spread of bit patterns over all exponents, both
// signs, subnormals and the largest finite value.
TEST_F(SceneFileOnDisk, NumbersReadBackExactly) {
  // 0x15AE43FD (7.038531e-26) is the one positive float whose shortest text, read as a double
  // and then rounded to a float, lands on the next float (found by trying all of them).
  std::vector<float> Values = {0.1f,
                               1.0f / 3.0f,
                               16777216.0f,
                               3.4028235e38f,
                               1e-45f,
                               -0.5f,
                               std::bit_cast<float>(0x15AE43FDu),
                               -std::bit_cast<float>(0x15AE43FDu)};
  for (std::uint32_t Bits = 1; Bits < 0x7F800000u; Bits += 0x0001F3A7u) {
    Values.push_back(std::bit_cast<float>(Bits));
    Values.push_back(-std::bit_cast<float>(Bits ^ 0x5A5u));
  }
  TSceneDescription Saved;
  for (std::size_t I = 0; I + 3 < Values.size(); I += 4)
    Saved.Models.push_back(
        Model("/m.pmx", {}, {Values[I], Values[I + 1], Values[I + 2]}, Values[I + 3]));
  Saved.SongOffsetMs = 0.1 + 0.2;  // a double with no short text
  const std::string ScenePath = Path("scenes/numbers.toml");
  WriteSceneFile(Saved, ScenePath);
  const TSceneDescription Read = ReadSceneFile(ScenePath);
  ASSERT_EQ(Read.Models.size(), Saved.Models.size());
  for (std::size_t I = 0; I < Read.Models.size(); ++I)
    ASSERT_EQ(Read.Models[I].Placement, Saved.Models[I].Placement) << I;
  EXPECT_EQ(Read.SongOffsetMs, Saved.SongOffsetMs);
}

TEST_F(SceneFileOnDisk, FilesThatCannotBeReadOrWrittenAreNamed) {
  const std::string Missing = Path("scenes/none.toml");
  try {
    ReadSceneFile(Missing);
    ADD_FAILURE() << "read a missing file";
  } catch (const ESceneFileError& E) {
    EXPECT_EQ(std::string(E.what()),
              "Cannot open file \"" + Missing + "\". No such file or directory");
  }
  // A fault inside a file read from disk names the path as given.
  const std::string Bad = Path("scenes/bad.toml");
  std::ofstream(Bad) << "[[model]]\nfile = \"a.pmx\"\nyaw = true\n";
  try {
    ReadSceneFile(Bad);
    ADD_FAILURE() << "accepted a boolean yaw";
  } catch (const ESceneFileError& E) {
    EXPECT_EQ(std::string(E.what()), Bad + ":3: yaw is a boolean, expected a number of degrees");
  }
  // No folder to write in: the message names the file and nothing is left behind.
  const std::string Unwritable = Path("no_folder/s.toml");
  try {
    WriteSceneFile(Scene({Model("/m.pmx")}), Unwritable);
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const ESceneFileError& E) {
    EXPECT_EQ(std::string(E.what()),
              "Cannot write file \"" + Unwritable + "\". No such file or directory");
  }
  // A save that fails leaves the old file whole: a folder stands where the file would go.
  fs::create_directories(Path("scenes/taken.toml/x"));
  EXPECT_THROW(WriteSceneFile(Scene({Model("/m.pmx")}), Path("scenes/taken.toml")),
               ESceneFileError);
  EXPECT_EQ(std::distance(fs::directory_iterator(FDir / "scenes"), fs::directory_iterator()), 2);
  // A number the file cannot hold is refused, not written.
  EXPECT_THROW(SceneFileText(Scene({Model("/m.pmx", {}, {0, NAN, 0})}), Path("s.toml")),
               ESceneFileError);
}

}  // namespace
