// Files dropped on the main window: SDL drop events pushed into the queue of a real form (under
// Xvfb), good ones and bad ones; a bad one is reported and the scene that was there stays.
#include <SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "formats/PmxWriter.h"
#include "gl/loader/OpenGLApis.h"
#include "math/VectorGeometry.h"
#include "scene/SceneFile.h"
#include "scene/Timeline.h"
#include "shell/Application.h"
#include "shell/SongPlayer.h"
#include "shell/UMainForm2.h"
#include "shell/ViewerScene.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Every swap of the form passes here first (this definition is linked before SDL's): the corner
// where the overlay sits is read from the back buffer just before it is shown.
std::vector<std::uint8_t> GPresentedCorner;

extern "C" void SDL_GL_SwapWindow(SDL_Window* AWindow) {
  static const auto Real =
      reinterpret_cast<void (*)(SDL_Window*)>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
  int Width = 0, Height = 0;
  SDL_GL_GetDrawableSize(AWindow, &Width, &Height);
  GPresentedCorner.assign(300 * 120 * 3, 0);
  GLint Pack = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &Pack);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, Height - 120, 300, 120, GL_RGB, GL_UNSIGNED_BYTE, GPresentedCorner.data());
  glPixelStorei(GL_PACK_ALIGNMENT, Pack);
  Real(AWindow);
}

namespace {

void WriteSilentWav(const fs::path& APath, int AMilliseconds) {
  const std::uint32_t Frames = 44100u * static_cast<std::uint32_t>(AMilliseconds) / 1000u;
  const std::uint32_t Bytes = Frames * 4;
  std::ofstream Out(APath, std::ios::binary);
  auto U32 = [&](std::uint32_t V) { Out.write(reinterpret_cast<const char*>(&V), 4); };
  auto U16 = [&](std::uint16_t V) { Out.write(reinterpret_cast<const char*>(&V), 2); };
  Out.write("RIFF", 4);
  U32(36 + Bytes);
  Out.write("WAVEfmt ", 8);
  U32(16);
  U16(1);
  U16(2);
  U32(44100);
  U32(44100 * 4);
  U16(4);
  U16(16);
  Out.write("data", 4);
  U32(Bytes);
  const std::vector<char> Zeros(Bytes, 0);
  Out.write(Zeros.data(), Bytes);
}

class FormDropTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!std::getenv("DISPLAY")) return;
    setenv("SDL_AUDIODRIVER", "disk", 0);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 0);
    Application.Initialize();
  }
  static void TearDownTestSuite() { Application.Finalize(); }

  void SetUp() override {
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    FDir = fs::temp_directory_path() / ("quenlor_drop_" + std::to_string(getpid()) + " 落とす");
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    Application.SetOnReport([this](const std::string& AMessage) { FReports.push_back(AMessage); });
    FForm = std::make_unique<TForm2>();
    ASSERT_TRUE(FReports.empty()) << FReports[0];
    ASSERT_NE(Scene().Model(), nullptr);
    Frame();
  }
  void TearDown() override {
    FForm.reset();
    Application.SetOnReport(nullptr);
    fs::remove_all(FDir);
  }

  // Pushes a drop event for APath into SDL's queue and dispatches what the queue holds, as the
  // message loop does.
  void Drop(const fs::path& APath) {
    SDL_Event Event{};
    Event.type = SDL_DROPFILE;
    Event.drop.file = SDL_strdup(APath.c_str());
    Event.drop.windowID = SDL_GetWindowID(FForm->Handle());
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    SDL_Event Got;
    while (SDL_PollEvent(&Got)) FForm->Dispatch(Got);
  }
  // Runs the desktop idle hook until it has drawn a frame.
  void Frame() {
    std::this_thread::sleep_for(15ms);
    bool Done = false;
    FForm->AppIdleForDesktop(Done);
  }
  std::string Caption() const { return SDL_GetWindowTitle(FForm->Handle()); }
  const TScene& Scene() const { return FForm->Scene().Scene(); }

  fs::path FDir;
  std::vector<std::string> FReports;
  std::unique_ptr<TForm2> FForm;
};

int LoadedTextures(const TForm2& AForm, const TSceneModel* AModel) {
  int N = 0;
  for (const auto& Texture : AForm.Scene().Renderer()->DrawingOf(AModel)->PmxTextures())
    N += Texture != nullptr;
  return N;
}

TEST_F(FormDropTest, AModelReplacesTheCharacterWithTexturesFromItsFolder) {
  const fs::path Folder = FDir / "モデル 2";
  fs::copy(fs::path(FForm->Scene().BaseDirectory()) / "mmd/model", Folder,
           fs::copy_options::recursive);
  fs::rename(Folder / "model.pmx", Folder / "新しい モデル.pmx");
  const TSceneModel* Old = Scene().Model();
  const int OldTextures = LoadedTextures(*FForm, Old);
  ASSERT_GT(OldTextures, 0);
  const std::uint32_t Frames = Old->Core().FrameCount();

  Drop(Folder / "新しい モデル.pmx");
  EXPECT_TRUE(FReports.empty()) << FReports[0];
  EXPECT_EQ(Caption(), "Loading 新しい モデル.pmx ...");
  EXPECT_EQ(FForm->Scene().ModelPath(), (Folder / "新しい モデル.pmx").string());
  ASSERT_NE(Scene().Model(), nullptr);
  EXPECT_NE(Scene().Model(), Old);
  EXPECT_EQ(LoadedTextures(*FForm, Scene().Model()), OldTextures);
  EXPECT_EQ(Scene().Model()->Core().FrameCount(), Frames) << "the motion goes on";
  Frame();
  EXPECT_EQ(Caption().rfind("Pos: ", 0), 0u) << Caption();
}

TEST_F(FormDropTest, FilesThatFailAreReportedAndTheSceneStays) {
  std::ofstream(FDir / "kaputt.pmx") << "not a model";
  std::ofstream(FDir / "壊れた.vmd") << "not a motion";
  std::ofstream(FDir / "noise.ogg") << "not a song";
  std::ofstream(FDir / "readme.txt") << "text";
  struct TCase {
    const char* File;
    const char* Message;  // a part of the report
  } Cases[] = {
      {"kaputt.pmx", "kaputt.pmx\": 未知のシグネチャ (not ) (not a PMX file)"},
      {"壊れた.vmd", "Cannot read motion \""},
      // The decoder's own words for what it does not know are not shown.
      {"noise.ogg",
       "noise.ogg\": cannot play this kind of file (WAV, OGG, MP3, FLAC are supported)"},
      {"missing.vmd", "Cannot open file"},
      {"readme.txt",
       "is not a model (.pmx, .pmd), a motion (.vmd), a pose (.vpd), a scene (.toml) or a song"},
  };
  for (const TCase& C : Cases) {
    const TSceneModel* Controller = Scene().Model();
    const std::string Model = FForm->Scene().ModelPath();
    const std::vector<std::string> Motions = Scene().Motions().FileNames();
    const std::uint32_t CameraFrames = Scene().Camera().FrameCount();
    FReports.clear();
    Drop(FDir / C.File);
    ASSERT_EQ(FReports.size(), 1u) << C.File;
    EXPECT_NE(FReports[0].find(C.Message), std::string::npos) << FReports[0];
    EXPECT_EQ(Scene().Model(), Controller) << C.File;
    EXPECT_EQ(FForm->Scene().ModelPath(), Model);
    EXPECT_EQ(Scene().Motions().FileNames(), Motions);
    EXPECT_EQ(Scene().Camera().FrameCount(), CameraFrames);
    EXPECT_EQ(FForm->Scene().Song(), nullptr);
    Frame();
    EXPECT_EQ(Caption().rfind("Pos: ", 0), 0u) << Caption();
  }
}

TEST_F(FormDropTest, MotionsJoinOrReplaceAndTheirCameraKeysTakeTheCamera) {
  const std::vector<std::string> Start = Scene().Motions().FileNames();
  ASSERT_EQ(Start.size(), 1u);
  // A camera of its own: a file with camera keys only joins the dance and drives the camera.
  TVmdBuilder Camera;
  Camera.AddCameraKey(0, NewVector3f(0, 10, 0), -30, NewVector3f(0, 0, 0));
  Camera.AddCameraKey(776, NewVector3f(0, 12, 0), -40, NewVector3f(0, 0, 0));
  Camera.SaveToFile((FDir / "カメラ.vmd").string());
  Drop(FDir / "カメラ.vmd");
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  EXPECT_EQ(Scene().Motions().FileNames(),
            (std::vector<std::string>{Start[0], (FDir / "カメラ.vmd").string()}));
  EXPECT_EQ(Scene().Camera().FrameCount(), 777u);
  EXPECT_TRUE(Scene().CameraPlaying());

  // A body motion keying bones the dance keys too replaces the dance, not the camera.
  TVmdBuilder Body;
  Body.AddBoneKey("センター", 0);
  Body.AddBoneKey("センター", 59, NewVector3f(0, 1, 0));
  Body.SaveToFile((FDir / "body.vmd").string());
  Drop(FDir / "body.vmd");
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  EXPECT_EQ(
      Scene().Motions().FileNames(),
      (std::vector<std::string>{(FDir / "カメラ.vmd").string(), (FDir / "body.vmd").string()}));
  EXPECT_EQ(Scene().Model()->Core().FrameCount(), 60u);
  EXPECT_EQ(Scene().Camera().FrameCount(), 777u);
  Frame();
}

// Paused, what is dropped shows at the frame the timeline stands at: a motion poses her at once,
// and so does a new model under the motion.
TEST_F(FormDropTest, WhilePausedDroppedMotionsAndModelsShowTheTimelinesFrame) {
  ASSERT_FALSE(Scene().Playing());
  // The centre 1 unit (10 in the file) above its rest place all along.
  TVmdBuilder Body;
  Body.AddBoneKey("センター", 0, NewVector3f(0, 1, 0));
  Body.AddBoneKey("センター", 59, NewVector3f(0, 1, 0));
  Body.SaveToFile((FDir / "body.vmd").string());
  const fs::path Folder = FDir / "model";
  fs::copy(fs::path(FForm->Scene().BaseDirectory()) / "mmd/model", Folder,
           fs::copy_options::recursive);
  auto CentreRaised = [&] {
    const TSceneModel& C = *Scene().Model();
    const int Centre = C.Pmx().IndexOfBone("センター");
    EXPECT_GE(Centre, 0);
    if (Centre < 0) return -1.0f;
    return C.Core().BoneGlobalMatrix()[Centre].W.Y - C.Pmx().GetBone(Centre)->Position.Y;
  };
  Drop(FDir / "body.vmd");
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  Frame();
  EXPECT_NEAR(CentreRaised(), 1.0f, 1e-5f) << "the dropped motion";
  Drop(Folder / "model.pmx");
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  Frame();
  EXPECT_NEAR(CentreRaised(), 1.0f, 1e-5f) << "the dropped model";
  EXPECT_FALSE(Scene().Playing());
}

TEST_F(FormDropTest, ASongBecomesTheMusicAndTheLoopGrowsToIt) {
  const double Dance = Scene().Clock().Length();
  ASSERT_GT(Dance, 0.0);
  WriteSilentWav(FDir / "歌.wav", static_cast<int>(Dance) + 3000);
  Drop(FDir / "歌.wav");
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  ASSERT_NE(FForm->Scene().Song(), nullptr);
  EXPECT_EQ(FForm->Scene().Song()->FileName(), (FDir / "歌.wav").string());
  EXPECT_NEAR(Scene().Clock().Length(), Dance + 3000.0, 30.0);
  Frame();
}

// The window's size and full screen from the command line.
TEST_F(FormDropTest, SizeAndFullScreenFromTheCommandLine) {
  struct TCase {
    int Width, Height;
    bool FullScreen;
  } Cases[] = {{640, 360, false}, {1000, 500, true}};
  for (const TCase& C : Cases) {
    TViewerOptions Options;
    Options.Width = C.Width;
    Options.Height = C.Height;
    Options.FullScreen = C.FullScreen;
    FForm.reset();
    FForm = std::make_unique<TForm2>(Options);
    ASSERT_TRUE(FReports.empty()) << FReports[0];
    SDL_ShowWindow(FForm->Handle());
    SDL_Event Event;
    while (SDL_PollEvent(&Event)) FForm->Dispatch(Event);
    Frame();
    int Width = 0, Height = 0;
    SDL_GetWindowSize(FForm->Handle(), &Width, &Height);
    const bool FullScreen =
        (SDL_GetWindowFlags(FForm->Handle()) & SDL_WINDOW_FULLSCREEN_DESKTOP) != 0;
    EXPECT_EQ(FullScreen, C.FullScreen) << C.Width;
    if (!C.FullScreen) {
      EXPECT_EQ(Width, C.Width);
      EXPECT_EQ(Height, C.Height);
    }
  }
}

std::vector<std::uint8_t> FileBytes(const fs::path& APath) {
  std::ifstream In(APath, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(In)), {});
}

// What the window showed last: the top-left corner of the back buffer as it went to the screen.
std::vector<std::uint8_t> ShownCorner(const TForm2& /*AForm*/) {
  return GPresentedCorner;
}

TEST_F(FormDropTest, F1ShowsTheOverlayInTheWindowButNeverInAScreenshot) {
  const fs::path Before = fs::current_path();
  fs::current_path(FDir);  // screenshots land in the working directory
  auto ScreenShot = [&] {
    FForm->FormKeyUp(VK_SNAPSHOT, 0);
    Frame();
    std::vector<fs::path> Shots;
    for (const auto& E : fs::directory_iterator(FDir))
      if (E.path().filename().string().rfind("ScreenShot_", 0) == 0) Shots.push_back(E.path());
    std::sort(Shots.begin(), Shots.end());
    return Shots.empty() ? std::vector<std::uint8_t>() : FileBytes(Shots.back());
  };
  EXPECT_FALSE(FForm->OverlayVisible()) << "off at start";
  Frame();
  const std::vector<std::uint8_t> Plain = ShownCorner(*FForm);
  const std::vector<std::uint8_t> PlainShot = ScreenShot();
  ASSERT_FALSE(PlainShot.empty());

  FForm->FormKeyUp(VK_F1, 0);
  EXPECT_TRUE(FForm->OverlayVisible());
  Frame();
  const std::vector<std::uint8_t> Shown = ShownCorner(*FForm);
  int Changed = 0;
  for (std::size_t I = 0; I < Shown.size(); I += 3) Changed += Shown[I] != Plain[I];
  EXPECT_GT(Changed, 3000) << "the panel darkens the corner";
  const std::vector<std::uint8_t> OverlayShot = ScreenShot();
  EXPECT_TRUE(OverlayShot == PlainShot) << "the screenshot holds the scene only";

  FForm->FormKeyUp(VK_F1, 0);
  EXPECT_FALSE(FForm->OverlayVisible());
  Frame();
  EXPECT_TRUE(ShownCorner(*FForm) == Plain);
  fs::current_path(Before);
}

// A scene in the window: Shift+drop adds a model, Tab selects, a plain drop replaces the selected
// one (which keeps its place and motions), Delete removes it, Ctrl+S saves the scene and dropping
// the saved file opens the same scene; a scene file that cannot be read changes nothing.
TEST_F(FormDropTest, ModelsAreAddedReplacedRemovedSavedAndReopened) {
  const fs::path Before = fs::current_path();
  fs::current_path(FDir);  // the first save lands in the working directory
  const std::string Base = FForm->Scene().BaseDirectory();
  const fs::path Model = fs::path(Base) / "mmd/model/model.pmx";
  const fs::path Stage = fs::path(Base) / "mmd/stage/stage.pmx";
  auto Paths = [&] {
    std::vector<std::string> Result;
    for (const auto& M : Scene().Models()) Result.push_back(M->Path());
    return Result;
  };
  ASSERT_EQ(Scene().Models().size(), 1u);
  const std::vector<std::string> DefaultMotions = Scene().Models()[0]->Motions().FileNames();

  SDL_SetModState(KMOD_LSHIFT);
  Drop(Stage);
  SDL_SetModState(KMOD_NONE);
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  EXPECT_EQ(Paths(), (std::vector<std::string>{Model.string(), Stage.string()}));
  EXPECT_EQ(Scene().SelectedIndex(), 1) << "the added model is selected";
  EXPECT_EQ(FForm->Scene().Renderer()->Drawings().size(), 2u);
  Frame();

  // Tab round to the character, then a plain drop replaces her where she stands.
  FForm->FormKeyUp(VK_TAB, 0);
  EXPECT_EQ(Scene().SelectedIndex(), 0);
  Drop(Model);
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  EXPECT_EQ(Paths(), (std::vector<std::string>{Model.string(), Stage.string()}));
  EXPECT_EQ(Scene().Models()[0]->Motions().FileNames(), DefaultMotions);
  Frame();

  // Ctrl+S: scene.toml in the working folder, said in the caption.
  FForm->FormKeyDown('S', ssCtrl);
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  const fs::path Saved = FDir / "scene.toml";
  ASSERT_TRUE(fs::exists(Saved));
  Frame();
  EXPECT_NE(Caption().find("Saved " + Saved.string()), std::string::npos) << Caption();
  EXPECT_EQ(Caption().rfind("Pos: (", 0), 0u) << Caption();
  const TSceneDescription Described = FForm->Scene().Describe();

  // Delete the stage; an unreadable scene file changes nothing; the saved one brings it back.
  FForm->FormKeyUp(VK_TAB, 0);
  FForm->FormKeyUp(VK_DELETE, 0);
  EXPECT_EQ(Paths(), std::vector<std::string>{Model.string()});
  EXPECT_EQ(FForm->Scene().Renderer()->Drawings().size(), 1u);
  Frame();
  std::ofstream(FDir / "broken.toml") << "[[model]]\nfile = 3\n";
  Drop(FDir / "broken.toml");
  ASSERT_EQ(FReports.size(), 1u);
  EXPECT_NE(FReports[0].find("broken.toml:2:"), std::string::npos) << FReports[0];
  EXPECT_EQ(Paths(), std::vector<std::string>{Model.string()});
  FReports.clear();
  Drop(Saved);
  ASSERT_TRUE(FReports.empty()) << FReports[0];
  EXPECT_EQ(FForm->Scene().Describe(), Described);
  EXPECT_EQ(FForm->Scene().Renderer()->Drawings().size(), 2u);
  Frame();
  // A second save goes over the file the scene came from.
  FForm->FormKeyDown('S', ssCtrl);
  EXPECT_FALSE(fs::exists(FDir / "scene_2.toml"));
  EXPECT_EQ(ReadSceneFile(Saved.string()), Described);
  fs::current_path(Before);
}

}  // namespace
