#include "shell/ViewerScene.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "math/Errors.h"
#include "math/VectorGeometry.h"

std::string ExecutableDirectory() {
  std::error_code Error;
  const std::filesystem::path Exe = std::filesystem::read_symlink("/proc/self/exe", Error);
  if (!Error) return Exe.parent_path().string() + "/";
  std::string Result;
  if (char* Base = SDL_GetBasePath()) {
    Result = Base;
    SDL_free(Base);
  }
  return Result;
}

double SteadyMilliseconds() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void DesktopView(const TScene& AScene, const TViewerState& AViewer, int AWidth, int AHeight,
                 TMatrix4f& AView, TMatrix4f& AProjection) {
  const float Aspect = static_cast<float>(AWidth) / static_cast<float>(AHeight);
  if (AScene.CameraPlaying()) {
    const TCameraPose& Camera = AScene.CameraPose();
    AView = LookAtMatrix4f(Camera.Eye, Camera.Target, Camera.Up);
    AProjection = PerspectiveMatrix4f(Camera.FovY * static_cast<float>(M_PI / 180.0), Aspect, 0.01f,
                                      10000.0f);
    return;
  }
  const TMatrix4f Body =
      UnitQuaternionToMatrix4f(QuaternionFromEulerYXZ(AViewer.Yaw, AViewer.Pitch, 0.0f));
  const TVec3f Up = TransformPoint3f(TVec3f(0.0f, 1.0f, 0.0f), Body);
  const TVec3f Forward = TransformPoint3f(TVec3f(0.0f, 0.0f, -1.0f), Body);
  AView = LookAtMatrix4f(AViewer.Position, AViewer.Position + Forward, Up);
  AProjection = PerspectiveMatrix4f(static_cast<float>(M_PI / 4.0), Aspect, 0.01f, 10000.0f);
}

TViewerScene::TViewerScene(const TViewerOptions& AOptions, std::string ABaseDirectory)
    : FOptions(AOptions), FBaseDirectory(std::move(ABaseDirectory)), FScene(SteadyMilliseconds) {
  FScene.SetOnWarning([](const std::string& AText) {
    std::fputs(AText.c_str(), stderr);
    std::fflush(stderr);
  });
}

TViewerScene::~TViewerScene() {
  FScene.Clock().SetSong(nullptr, 0.0);
  FSong.reset();
  TSongPlayer::CloseAudio();
  // The drawings refer to the scene's models: they go first.
  FRenderer.reset();
}

void TViewerScene::Load(TOpenGL* AOpenGL) {
  FRenderer = std::make_unique<TSceneRenderer>(AOpenGL, FBaseDirectory);
  const TSceneFiles Files = ResolveSceneFiles(FOptions.NamedFiles(), FBaseDirectory);
  FModelPath = Files.ModelPath;
  FScene.Load(Files);
  try {
    FRenderer->AddDrawingsFor(FScene);
  } catch (...) {
    // A character that cannot be drawn (a toon ramp missing) leaves an empty scene, as a model
    // that cannot be read does.
    for (const std::unique_ptr<TSceneModel>& Model : FScene.Models())
      FRenderer->RemoveDrawingOf(Model.get());
    FScene.Clear();
    throw;
  }
  if (!Files.AudioPath.empty()) LoadSong(Files.AudioPath);
}

void TViewerScene::ReplaceModel(const std::string& APath) {
  if (!FRenderer) throw Exception("No scene to load \"" + APath + "\" into");
  // The new character stands complete, drawing and all, before the old one goes.
  auto Model = std::make_unique<TSceneModel>(APath);
  std::unique_ptr<TModelDrawing> Drawing = FRenderer->MakeDrawing(*Model);
  FRenderer->RemoveDrawingOf(FScene.Model());
  FScene.ReplaceModel(std::move(Model));
  FRenderer->AddDrawing(std::move(Drawing));
  FModelPath = APath;
}

void TViewerScene::AddMotionFile(const std::string& APath) {
  FScene.AddMotionFile(APath);
}

void TViewerScene::LoadSong(const std::string& APath) {
  // Without an audio device the dance goes on silently (said once on stderr).
  if (!TSongPlayer::OpenAudio()) return;
  auto Song = std::make_unique<TSongPlayer>(APath);
  FScene.Clock().SetSong(nullptr, 0.0);
  FSong = std::move(Song);
  FScene.Clock().SetSong(FSong.get(), FOptions.AudioOffsetMs);
}
