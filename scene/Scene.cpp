#include "scene/Scene.h"

#include <algorithm>
#include <exception>

#include "character/core/ParallelChunks.h"
#include "math/VectorGeometry.h"
#include "scene/SceneCamera.h"

TScene::TScene(TPlaybackClock::TTimeSource ANow) : FClock(std::move(ANow)) {}

std::vector<std::string> TScene::Load(const TSceneDescription& AScene) {
  std::unique_ptr<TVmd> CameraFile;
  if (FCameraAllowed && !AScene.CameraPath.empty()) {
    CameraFile = std::make_unique<TVmd>();
    CameraFile->LoadFromFile(AScene.CameraPath);
  }
  // The models' files are read and their cores built side by side on the worker threads (each
  // model its own files, core and bodies' world). The outcome of each (model, failure, warnings)
  // is taken in the scene's order on this thread: the warning callback is the caller's.
  struct TLoaded {
    std::unique_ptr<TSceneModel> Model;
    std::string Failure;
    std::exception_ptr Error;  // not a reader's error: thrown on
    std::vector<std::string> Warnings;
  };
  struct TJob {
    const std::vector<TSceneEntry>& Entries;
    std::vector<TLoaded> Loaded;
  } Job{AScene.Models, std::vector<TLoaded>(AScene.Models.size())};
  RunChunks(
      AScene.Models.size(),
      [](void* AJob, std::size_t I) {
        TJob& J = *static_cast<TJob*>(AJob);
        const TSceneEntry& Entry = J.Entries[I];
        TLoaded& Out = J.Loaded[I];
        try {
          TMotionSet Motions;
          for (const std::string& Path : Entry.MotionPaths) Motions.Add(Path);
          auto Model = std::make_unique<TSceneModel>(Entry.Path);
          Model->SetPlacement(Entry.Placement);
          Model->SetStage(Entry.Stage);
          Model->SetMotions(std::move(Motions),
                            [&Out](const std::string& AText) { Out.Warnings.push_back(AText); });
          Out.Model = std::move(Model);
        } catch (const std::exception& E) {
          Out.Failure = E.what();
        } catch (...) {
          Out.Error = std::current_exception();
        }
      },
      &Job);
  std::vector<std::string> Failures;
  std::vector<std::unique_ptr<TSceneModel>> Models;
  for (TLoaded& Loaded : Job.Loaded) {
    if (Loaded.Error) std::rethrow_exception(Loaded.Error);
    if (FWarn)
      for (const std::string& Warning : Loaded.Warnings) FWarn(Warning);
    if (Loaded.Model)
      Models.push_back(std::move(Loaded.Model));
    else
      Failures.push_back(std::move(Loaded.Failure));
  }
  FModels = std::move(Models);
  FSelected = 0;
  // Nothing to show: no camera track either (the window shows an empty scene where it stands).
  if (FModels.empty()) CameraFile.reset();
  FCameraFile = std::move(CameraFile);
  FCameraPath = FCameraFile ? AScene.CameraPath : std::string();
  MotionsChanged();
  FClock.Stop();
  FClock.Seek(0.0);
  return Failures;
}

void TScene::Clear() {
  FModels.clear();
  FSelected = 0;
  FCameraFile.reset();
  FCameraPath.clear();
  FCamera = TCameraMotion();
  FCameraOn = false;
  FClock.SetMotionLength(0.0);
}

void TScene::ReplaceModel(std::unique_ptr<TSceneModel> AModel) {
  if (FModels.empty()) {
    AModel->SetMotions(TMotionSet(), FWarn);
    FModels.push_back(std::move(AModel));
    FSelected = 0;
  } else {
    TSceneModel& Old = *FModels[FSelected];
    AModel->SetPlacement(Old.Placement());
    AModel->SetStage(Old.Stage());
    AModel->SetMotions(Old.Motions(), FWarn);
    FModels[FSelected] = std::move(AModel);
  }
  MotionsChanged();
}

void TScene::AddModel(std::unique_ptr<TSceneModel> AModel) {
  FModels.push_back(std::move(AModel));
  FSelected = FModels.size() - 1;
  MotionsChanged();
}

std::unique_ptr<TSceneModel> TScene::RemoveSelected() {
  if (FModels.empty()) return nullptr;
  std::unique_ptr<TSceneModel> Removed = std::move(FModels[FSelected]);
  FModels.erase(FModels.begin() + static_cast<std::ptrdiff_t>(FSelected));
  if (FSelected >= FModels.size()) FSelected = 0;
  MotionsChanged();
  return Removed;
}

void TScene::SelectNext() {
  if (!FModels.empty()) FSelected = (FSelected + 1) % FModels.size();
}

const TMotionSet& TScene::Motions() const {
  static const TMotionSet kNone;
  const TSceneModel* Model = Selected();
  return Model ? Model->Motions() : kNone;
}

void TScene::AddMotionFile(const std::string& APath) {
  TSceneModel* Model = Selected();
  if (!Model) throw std::runtime_error("No model to add \"" + APath + "\" to");
  auto File = std::make_unique<TVmd>();
  File->LoadFromFile(APath);
  const bool HasCameraKeys = !File->CameraMotions().empty();
  TMotionSet Motions = Model->Motions();
  Motions.AddOrReplace(APath, std::move(File));
  Model->SetMotions(std::move(Motions), FWarn);
  // Camera keys in the dropped file take the camera over from a camera file.
  if (HasCameraKeys) {
    FCameraFile.reset();
    FCameraPath.clear();
  }
  MotionsChanged();
  FClock.Seek(FClock.Position());
}

TSceneDescription TScene::Describe() const {
  TSceneDescription Result;
  for (const std::unique_ptr<TSceneModel>& Model : FModels) {
    TSceneEntry Entry;
    Entry.Path = Model->Path();
    Entry.MotionPaths = Model->Motions().FileNames();
    Entry.Placement = Model->Placement();
    Entry.Stage = Model->Stage();
    Result.Models.push_back(std::move(Entry));
  }
  Result.CameraPath = FCameraPath;
  return Result;
}

double TScene::MotionLength() const {
  double Length = 0.0;
  for (const std::unique_ptr<TSceneModel>& Model : FModels)
    Length = std::max(Length, Model->MotionLength());
  return Length;
}

void TScene::MotionsChanged() {
  FClock.SetMotionLength(MotionLength());
  // Paused or not, the next frame shows the motion where the timeline stands (frame 0 at start),
  // not the rest pose the model was read in.
  FPoseDue = true;
  LoadCamera();
}

void TScene::LoadCamera() {
  if (!FCameraAllowed) return;
  if (FCameraFile) {
    FCamera = TCameraMotion(FCameraFile->CameraMotions());
  } else {
    // Without a camera file the camera keys of the models' motions drive the camera: the first
    // model's whose motions have any.
    FCamera = TCameraMotion();
    for (const std::unique_ptr<TSceneModel>& Model : FModels) {
      if (Model->Motion().CameraMotions().empty()) continue;
      FCamera = TCameraMotion(Model->Motion().CameraMotions());
      break;
    }
  }
  // A camera track plays from the start; walking is a key away.
  FCameraOn = !FCamera.Empty();
}

void TScene::TogglePlaying() {
  FPlaying = !FPlaying;
  if (FPlaying)
    FClock.Start();
  else
    FClock.Stop();
}

void TScene::TimelineMoved() {
  // A frame step pauses; the new place is posed by the next frame.
  FPlaying = FClock.Running();
  FPoseDue = true;
}

bool TScene::PhysicsEnabled() const {
  const TSceneModel* First = Model();
  return First && First->Core().PhysicsEnabled();
}

void TScene::TogglePhysics() {
  const bool On = !PhysicsEnabled();
  for (const std::unique_ptr<TSceneModel>& Model : FModels) Model->Core().SetPhysicsEnabled(On);
}

void TScene::AdvanceTo(double AMilliseconds, const TVec3f& AViewerEye, bool AForceMotion) {
  FDanceTime = AMilliseconds;
  const double Length = MotionLength();
  const double MotionTime = HeldMotionTime(AMilliseconds, Length);
  if (CameraPlaying()) {
    std::uint32_t DanceFrames = 0;
    for (const std::unique_ptr<TSceneModel>& Model : FModels)
      DanceFrames = std::max(DanceFrames, Model->Core().FrameCount());
    FCameraPose = FCamera.Sample(CameraFrameAt(MotionTime, DanceFrames, FCamera.FrameCount()));
  }
  // Paused, the pose changes only when the timeline moved.
  const bool Move = FPlaying || FPoseDue || AForceMotion;
  FPoseDue = false;
  const TModelFrameInputs Inputs{CameraPlaying() ? FCameraPose.Eye : AViewerEye, AMilliseconds,
                                 Move, FFaceTurn};
  if (FModels.size() < 2) {
    for (const std::unique_ptr<TSceneModel>& Model : FModels) {
      std::exception_ptr Error;
      BeginModelFrame(*Model, Inputs, Error);
      EndModelFrame(*Model, Error);
      if (Error) std::rethrow_exception(Error);
    }
    return;
  }
  AdvanceModelsInParallel(Inputs);
}

void TScene::AdvanceModelsInParallel(const TModelFrameInputs& AInputs) {
  // Each model's frame touches only that model (its core, its bodies' world, its buffers), so the
  // models run side by side, one per task; the skinning and the physics' overlap inside a task run
  // on that task's thread (ParallelChunks runs a call made during another one inline). Only the
  // skin targets stay on this thread: they may be GL buffers, mapped here before and told the pose
  // and unmapped here after.
  struct TJob {
    const std::vector<std::unique_ptr<TSceneModel>>& Models;
    const TModelFrameInputs& Inputs;
    std::vector<std::exception_ptr> Errors;
    std::vector<uint8_t> Ended;
  } Job{FModels, AInputs, std::vector<std::exception_ptr>(FModels.size()),
        std::vector<uint8_t>(FModels.size(), 0)};
  RunChunks(
      FModels.size(),
      [](void* AJob, std::size_t I) {
        TJob& J = *static_cast<TJob*>(AJob);
        BeginModelFrame(*J.Models[I], J.Inputs, J.Errors[I]);
      },
      &Job);
  for (std::size_t I = 0; I < FModels.size(); ++I) {
    try {
      FModels[I]->Core().LendSkinTarget();
    } catch (...) {
      // Not lent: its frame ends here, where the target may be called.
      if (!Job.Errors[I]) Job.Errors[I] = std::current_exception();
      EndModelFrame(*FModels[I], Job.Errors[I]);
      Job.Ended[I] = 1;
    }
  }
  RunChunks(
      FModels.size(),
      [](void* AJob, std::size_t I) {
        TJob& J = *static_cast<TJob*>(AJob);
        if (!J.Ended[I]) EndModelFrame(*J.Models[I], J.Errors[I]);
      },
      &Job);
  for (std::size_t I = 0; I < FModels.size(); ++I) {
    try {
      FModels[I]->Core().ReturnSkinTarget();
    } catch (...) {
      if (!Job.Errors[I]) Job.Errors[I] = std::current_exception();
    }
  }
  // Every model has its frame; the first model's failure is the caller's.
  for (const std::exception_ptr& Error : Job.Errors)
    if (Error) std::rethrow_exception(Error);
}

void TScene::BeginModelFrame(TSceneModel& AModel, const TModelFrameInputs& AInputs,
                             std::exception_ptr& AError) noexcept {
  TPmxControllerCore& Core = AModel.Core();
  // Face turn and motion are posed together and skinned once (EndModelFrame), also when one of
  // them throws.
  Core.BeginFrame();
  try {
    // The eye as the model sees it: about its own origin, before its placement.
    if (AInputs.FaceTurn && !AModel.Stage())
      Core.FaceTurn(TransformPoint3f(AInputs.Eye, InvertedMatrix4f(AModel.PlacementMatrix())));
    if (AInputs.Move)
      Core.ApplyMotionByTime(HeldMotionTime(AInputs.Milliseconds, AModel.MotionLength()));
  } catch (...) {
    AError = std::current_exception();
  }
}

void TScene::EndModelFrame(TSceneModel& AModel, std::exception_ptr& AError) noexcept {
  try {
    AModel.Core().EndFrame();
  } catch (...) {
    if (!AError) AError = std::current_exception();
  }
}
