// quenlor-inspect run as a real process on scene files: the scene printed resolved, and a file
// the scene reader rejects.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/formats/FormatsTestUtil.h"
#include "tests/formats/InspectorProcess.h"
#include "tests/formats/JsonReader.h"

namespace fs = std::filesystem;

namespace {

class InspectScene : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = TempPath("inspect_scene");
    fs::remove_all(FDir);
    fs::create_directories(FDir + "/シーン");
  }
  void TearDown() override { fs::remove_all(FDir); }
  std::string Write(const std::string& AName, const std::string& AText) {
    const std::string Path = FDir + "/" + AName;
    std::ofstream(Path, std::ios::binary) << AText;
    return Path;
  }
  std::string FDir;
};

TEST_F(InspectScene, PrintsTheSceneWithEveryPathAbsoluteAndEveryModelInFileOrder) {
  const std::string Path = Write("シーン/ダンス.toml", R"(song = "../song.ogg"
song_offset_ms = -120.5
camera = "camera.vmd"

[[stage]]
file = "/stages/hall.pmx"

[[model]]
file = "dancer/ミク.pmx"
motions = ["dance.vmd", "./face/face.vmd"]
at = [10, 0, -25.5]
yaw = 90
)");
  const TInspectorRun R = Inspect("'" + Path + "'");
  ASSERT_EQ(R.ExitCode, 0) << R.Err;
  EXPECT_EQ(R.Err, "");
  const TJson Scene = ParseJson(R.Out);
  const std::string Folder = FDir + "/シーン/";
  EXPECT_EQ(Scene["format"].Text, "scene");
  EXPECT_EQ(Scene["camera"].Text, Folder + "camera.vmd");
  EXPECT_EQ(Scene["song"].Text, FDir + "/song.ogg");
  EXPECT_EQ(Scene["song_offset_ms"].Number, -120.5);
  const TJson& Models = Scene["models"];
  ASSERT_EQ(Models.Items.size(), 2u);
  const TJson &Stage = Models[0], &Dancer = Models[1];
  EXPECT_EQ(Stage["file"].Text, "/stages/hall.pmx");
  EXPECT_EQ(Stage["stage"].Kind, TJson::jBool);
  EXPECT_TRUE(Stage["stage"].Flag);
  EXPECT_TRUE(Stage["motions"].Items.empty());
  ExpectNumbers(Stage["at"], {0, 0, 0}, "stage at");
  EXPECT_EQ(Stage["yaw"].Number, 0);
  EXPECT_EQ(Dancer["file"].Text, Folder + "dancer/ミク.pmx");
  EXPECT_EQ(Dancer["stage"].Kind, TJson::jBool);
  EXPECT_FALSE(Dancer["stage"].Flag);
  ASSERT_EQ(Dancer["motions"].Items.size(), 2u);
  EXPECT_EQ(Dancer["motions"][0].Text, Folder + "dance.vmd");
  EXPECT_EQ(Dancer["motions"][1].Text, Folder + "face/face.vmd");
  ExpectNumbers(Dancer["at"], {10, 0, -25.5}, "dancer at");  // file units, as written
  EXPECT_EQ(Dancer["yaw"].Number, 90);

  // Without camera and song: both null, no offset.
  const TInspectorRun Bare = Inspect(Write("bare.TOML", "[[model]]\nfile = \"m.pmx\"\n"));
  ASSERT_EQ(Bare.ExitCode, 0) << Bare.Err;
  const TJson B = ParseJson(Bare.Out);
  EXPECT_EQ(B["camera"].Kind, TJson::jNull);
  EXPECT_EQ(B["song"].Kind, TJson::jNull);
  EXPECT_EQ(B["song_offset_ms"].Number, 0);
  EXPECT_EQ(B["models"][0]["file"].Text, FDir + "/m.pmx");
}

// As for a model the reader rejects: the viewer's message on stderr, nothing on stdout, status 1.
TEST_F(InspectScene, AFileTheSceneReaderRejectsPrintsItsMessageAndExits1) {
  const std::string Path = Write("bad.toml", "[[model]]\nfile = \"m.pmx\"\n\nfiel = \"n.pmx\"\n");
  const TInspectorRun Bad = Inspect(Path);
  EXPECT_EQ(Bad.ExitCode, 1);
  EXPECT_EQ(Bad.Out, "");
  EXPECT_EQ(Bad.Err, Path +
                         ":4: unknown key \"fiel\" in [[model]], expected file, motions, at or "
                         "yaw\n");

  const std::string Missing = FDir + "/none.toml";
  const TInspectorRun None = Inspect(Missing);
  EXPECT_EQ(None.ExitCode, 1);
  EXPECT_EQ(None.Err, "Cannot open file \"" + Missing + "\". No such file or directory\n");
}

}  // namespace
