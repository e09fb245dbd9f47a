#include "shell/ViewerScene.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "math/Errors.h"
#include "math/VectorGeometry.h"
#include "scene/SceneFile.h"

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

TVec3f ModelCentre(const TSceneModel& AModel) {
  const std::vector<TMatrix4f>& Bones = AModel.Core().BoneGlobalMatrix();
  if (Bones.empty()) return TransformPoint3f(TVec3f(0, 0, 0), AModel.PlacementMatrix());
  TVec3f Low(Bones[0].W.X, Bones[0].W.Y, Bones[0].W.Z), High = Low;
  for (const TMatrix4f& Bone : Bones) {
    Low =
        TVec3f(std::fmin(Low.X, Bone.W.X), std::fmin(Low.Y, Bone.W.Y), std::fmin(Low.Z, Bone.W.Z));
    High = TVec3f(std::fmax(High.X, Bone.W.X), std::fmax(High.Y, Bone.W.Y),
                  std::fmax(High.Z, Bone.W.Z));
  }
  return TransformPoint3f((Low + High) * 0.5f, AModel.PlacementMatrix());
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
  if (AViewer.Orbit.On) {
    AView = LookAtMatrix4f(OrbitEye(AViewer.Orbit), AViewer.Orbit.Target, TVec3f(0.0f, 1.0f, 0.0f));
    AProjection = PerspectiveMatrix4f(static_cast<float>(M_PI / 4.0), Aspect, 0.01f, 10000.0f);
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
    : FOptions(AOptions),
      FBaseDirectory(std::move(ABaseDirectory)),
      FSongOffsetMs(AOptions.AudioOffsetMs),
      FScene(SteadyMilliseconds) {
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

namespace {

// One message for the files that could not be read, each on its own line.
std::string Joined(const std::vector<std::string>& AMessages) {
  std::string Text;
  for (const std::string& Message : AMessages) Text += (Text.empty() ? "" : "\n") + Message;
  return Text;
}

}  // namespace

void TViewerScene::Load(TOpenGL* AOpenGL) {
  FRenderer = std::make_unique<TSceneRenderer>(AOpenGL, FBaseDirectory);
  TSceneDescription Named = FOptions.Description();
  if (!FOptions.ScenePath.empty()) {
    // Named even when it cannot be read: Ctrl+S writes a scene there again.
    FScenePath = std::filesystem::absolute(FOptions.ScenePath).lexically_normal().string();
    Named = ReadSceneFile(FScenePath);
  }
  const TSceneDescription Resolved = ResolveScene(Named, FBaseDirectory);
  // Named even when it cannot be read: the on-screen display says what was asked for.
  if (!Resolved.Models.empty()) FModelPath = Resolved.Models.front().Path;
  const std::vector<std::string> Failures = LoadResolved(Resolved);
  FSongOffsetMs = Resolved.SongOffsetMs;
  if (!Resolved.SongPath.empty()) LoadSong(Resolved.SongPath);
  if (!Failures.empty()) throw Exception(Joined(Failures));
}

void TViewerScene::OpenScene(const std::string& APath) {
  if (!FRenderer) throw Exception("No scene to load \"" + APath + "\" into");
  const std::string Path = std::filesystem::absolute(APath).lexically_normal().string();
  const TSceneDescription Resolved = ResolveScene(ReadSceneFile(Path), FBaseDirectory);
  // The camera file is read before anything changes: one that fails leaves the scene as it was.
  if (!Resolved.CameraPath.empty()) TVmd().LoadFromFile(Resolved.CameraPath);
  FScenePath = Path;
  const std::vector<std::string> Failures = LoadResolved(Resolved);
  TakeSongOf(Resolved);
  if (!Failures.empty()) throw Exception(Joined(Failures));
}

void TViewerScene::TakeSongOf(const TSceneDescription& AResolved) {
  FScene.Clock().SetSong(nullptr, 0.0);
  FSong.reset();
  FSongOffsetMs = AResolved.SongOffsetMs;
  if (!AResolved.SongPath.empty()) LoadSong(AResolved.SongPath);
}

std::string TViewerScene::SaveScene() {
  std::string Path = FScenePath;
  if (Path.empty()) {
    std::error_code Error;
    Path = (std::filesystem::current_path(Error) / "scene.toml").string();
    Path = UniqueFilePath(std::filesystem::path(Path).parent_path(), "scene.toml").string();
  }
  WriteSceneFile(Describe(), Path);
  FScenePath = Path;
  return Path;
}

std::vector<std::string> TViewerScene::LoadResolved(const TSceneDescription& AResolved) {
  for (const std::unique_ptr<TSceneModel>& Model : FScene.Models())
    FRenderer->RemoveDrawingOf(Model.get());
  std::vector<std::string> Failures;
  try {
    Failures = FScene.Load(AResolved);
  } catch (...) {
    FScene.Clear();
    throw;
  }
  DrawModels(Failures);
  // Nothing could be shown: an empty scene, without the camera track either.
  if (FScene.Models().empty()) FScene.Clear();
  if (const TSceneModel* Selected = FScene.Selected()) FModelPath = Selected->Path();
  return Failures;
}

void TViewerScene::DrawModels(std::vector<std::string>& AFailures) {
  // A model that cannot be drawn (a toon ramp missing) leaves the scene, as one that cannot be
  // read does.
  for (std::size_t I = 0; I < FScene.Models().size();) {
    TSceneModel* Model = FScene.Models()[I].get();
    try {
      if (!FRenderer->DrawingOf(Model)) FRenderer->AddDrawing(FRenderer->MakeDrawing(*Model));
      ++I;
    } catch (const std::exception& E) {
      AFailures.emplace_back(E.what());
      while (FScene.Selected() != Model) FScene.SelectNext();
      FScene.RemoveSelected();
    }
  }
  while (FScene.SelectedIndex() != 0) FScene.SelectNext();
}

void TViewerScene::ReplaceModel(const std::string& APath) {
  if (!FRenderer) throw Exception("No scene to load \"" + APath + "\" into");
  // The new model stands complete, drawing and all, before the old one goes.
  auto Model = std::make_unique<TSceneModel>(APath);
  std::unique_ptr<TModelDrawing> Drawing = FRenderer->MakeDrawing(*Model);
  FRenderer->RemoveDrawingOf(FScene.Selected());
  FScene.ReplaceModel(std::move(Model));
  FRenderer->AddDrawing(std::move(Drawing));
  FModelPath = APath;
}

void TViewerScene::AddModel(const std::string& APath) {
  if (!FRenderer) throw Exception("No scene to load \"" + APath + "\" into");
  auto Model = std::make_unique<TSceneModel>(APath);
  std::unique_ptr<TModelDrawing> Drawing = FRenderer->MakeDrawing(*Model);
  FScene.AddModel(std::move(Model));
  FRenderer->AddDrawing(std::move(Drawing));
  FModelPath = APath;
}

void TViewerScene::RemoveSelected() {
  if (!FRenderer || !FScene.Selected()) return;
  // The drawing refers to the model: it goes first.
  FRenderer->RemoveDrawingOf(FScene.Selected());
  FScene.RemoveSelected();
  FModelPath = FScene.Selected() ? FScene.Selected()->Path() : std::string();
}

void TViewerScene::AddMotionFile(const std::string& APath) {
  FScene.AddMotionFile(APath);
}

TSceneDescription TViewerScene::Describe() const {
  TSceneDescription Scene = FScene.Describe();
  if (FSong) {
    Scene.SongPath = FSong->FileName();
    Scene.SongOffsetMs = FSongOffsetMs;
  }
  return Scene;
}

void TViewerScene::LoadSong(const std::string& APath) {
  // Without an audio device the dance goes on silently (said once on stderr).
  if (!TSongPlayer::OpenAudio()) return;
  auto Song = std::make_unique<TSongPlayer>(APath);
  FScene.Clock().SetSong(nullptr, 0.0);
  FSong = std::move(Song);
  FScene.Clock().SetSong(FSong.get(), FSongOffsetMs);
}

TOverlayInfo OverlayInfoOf(const TViewerScene& AViewer, double AFramesPerSecond) {
  const TScene& Scene = AViewer.Scene();
  TOverlayInfo Info;
  Info.TimeMilliseconds = Scene.DanceTime();
  Info.LengthMilliseconds = Scene.Clock().Length();
  Info.FramesPerSecond = AFramesPerSecond;
  Info.Playing = Scene.Playing();
  if (const TSceneModel* Model = Scene.Selected()) {
    Info.ModelName = Model->Pmx().ModelNameJp();
    Info.Physics = Model->Core().PhysicsEnabled() ? 1 : 0;
  }
  for (const std::unique_ptr<TSceneModel>& Model : Scene.Models()) {
    std::string Name = Model->Pmx().ModelNameJp();
    if (Name.empty()) Name = std::filesystem::path(Model->Path()).filename().string();
    Info.SceneModels.push_back(Model->Stage() ? Name + " (stage)" : Name);
  }
  Info.Selected = Scene.SelectedIndex();
  if (Info.ModelName.empty())
    Info.ModelName = std::filesystem::path(AViewer.ModelPath()).filename().string();
  for (const std::string& File : Scene.Motions().FileNames())
    Info.MotionNames.push_back(std::filesystem::path(File).filename().string());
  if (const TSongPlayer* Song = AViewer.Song())
    Info.SongName = std::filesystem::path(Song->FileName()).filename().string();
  return Info;
}
