#include "scene/Scene.h"

#include "scene/SceneCamera.h"

TScene::TScene(TPlaybackClock::TTimeSource ANow) : FClock(std::move(ANow)) {}

void TScene::Load(const TSceneFiles& AFiles) {
  if (FCameraAllowed && !AFiles.CameraPath.empty()) {
    auto CameraFile = std::make_unique<TVmd>();
    CameraFile->LoadFromFile(AFiles.CameraPath);
    FCameraFile = std::move(CameraFile);
  }
  TMotionSet Motions;
  for (const std::string& Path : AFiles.MotionPaths) Motions.Add(Path);
  auto Model = std::make_unique<TSceneModel>(AFiles.ModelPath);
  FModels.clear();
  FModels.push_back(std::move(Model));
  SetMotions(std::move(Motions));
  FClock.Stop();
  FClock.Seek(0.0);
}

void TScene::Clear() {
  FModels.clear();
  FMotions = TMotionSet();
  FCameraFile.reset();
  FCamera = TCameraMotion();
  FCameraOn = false;
  FClock.SetMotionLength(0.0);
}

void TScene::ReplaceModel(std::unique_ptr<TSceneModel> AModel) {
  AModel->SetMotions(FMotions, FWarn);
  if (FModels.empty())
    FModels.push_back(std::move(AModel));
  else
    FModels.front() = std::move(AModel);
  FPoseDue = true;
  LoadCamera();
}

void TScene::AddMotionFile(const std::string& APath) {
  auto File = std::make_unique<TVmd>();
  File->LoadFromFile(APath);
  const bool HasCameraKeys = !File->CameraMotions().empty();
  TMotionSet Motions = FMotions;
  Motions.AddOrReplace(APath, std::move(File));
  SetMotions(std::move(Motions));
  // Camera keys in the dropped file take the camera over from a camera file.
  if (HasCameraKeys) FCameraFile.reset();
  LoadCamera();
  FClock.Seek(FClock.Position());
}

void TScene::SetMotions(TMotionSet AMotions) {
  for (const std::unique_ptr<TSceneModel>& Model : FModels) Model->SetMotions(AMotions, FWarn);
  FMotions = std::move(AMotions);
  const TSceneModel* First = Model();
  FClock.SetMotionLength(First ? First->MotionLength() : 0.0);
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
    // Without a camera file the camera keys of any of the merged motions drive the camera.
    const std::unique_ptr<TVmd> Merged = FMotions.Merged();
    FCamera = TCameraMotion(Merged->CameraMotions());
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
  const TSceneModel* First = Model();
  const double Length = First ? First->MotionLength() : 0.0;
  const double MotionTime = HeldMotionTime(AMilliseconds, Length);
  if (CameraPlaying()) {
    const std::uint32_t DanceFrames = First ? First->Core().FrameCount() : 0;
    FCameraPose = FCamera.Sample(CameraFrameAt(MotionTime, DanceFrames, FCamera.FrameCount()));
  }
  // Paused, the pose changes only when the timeline moved.
  const bool Move = FPlaying || FPoseDue || AForceMotion;
  FPoseDue = false;
  for (const std::unique_ptr<TSceneModel>& Model : FModels) {
    TPmxControllerCore& Core = Model->Core();
    // Face turn and motion are posed together and skinned once, also when one of them throws.
    Core.BeginFrame();
    struct TEndFrame {
      TPmxControllerCore& Core;
      ~TEndFrame() { Core.EndFrame(); }
    } End{Core};
    if (FFaceTurn) Core.FaceTurn(CameraPlaying() ? FCameraPose.Eye : AViewerEye);
    if (Move) Core.ApplyMotionByTime(HeldMotionTime(AMilliseconds, Model->MotionLength()));
  }
}
