// TScene: what the viewer shows, without any drawing: the models with their motions, the camera
// track, the dance's clock, and the switches for play, physics and the face turn. AdvanceTo poses
// everything at one time, read from the clock once per frame by whoever draws the scene.
// Depends on scene (files, clock, models), character/core (the camera track); no GL, no SDL.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "character/core/CameraMotion.h"
#include "math/VectorMath.h"
#include "scene/PlaybackClock.h"
#include "scene/SceneDescription.h"
#include "scene/SceneFiles.h"
#include "scene/SceneModel.h"

class TScene {
 public:
  explicit TScene(TPlaybackClock::TTimeSource ANow = {});
  TScene(const TScene&) = delete;
  TScene& operator=(const TScene&) = delete;

  // Where warnings go (missing morphs); nothing when unset.
  void SetOnWarning(TSceneWarning AWarn) { FWarn = std::move(AWarn); }
  // A headset has no camera track: the head is the camera. Set before Load.
  void SetCameraAllowed(bool AValue) { FCameraAllowed = AValue; }

  // Reads the scene AScene names (paths absolute, ResolveScene): the camera file (when the camera
  // is allowed), then each model with its motions, placement and kind. A camera file that cannot
  // be read throws with the scene left empty. A model (or its motion) that cannot be read is left
  // out and the rest of the scene stays: the returned messages name each such file (empty when
  // all loaded). The song is the shell's. The models' files are read side by side on the worker
  // threads; the warnings come on this thread, in the models' order.
  std::vector<std::string> Load(const TSceneDescription& AScene);
  // Empties the scene: no models, motions or camera track (a scene whose drawing failed).
  void Clear();
  // Puts AModel in place of the selected model (or adds it to an empty scene), with the selected
  // model's motions, placement and kind: the motion plays on it from where the timeline stands.
  void ReplaceModel(std::unique_ptr<TSceneModel> AModel);
  // Adds AModel after the others (its motions, placement and kind as set on it) and selects it.
  void AddModel(std::unique_ptr<TSceneModel> AModel);
  // Takes the selected model out of the scene and returns it (the caller drops its drawing
  // first); the next one is selected. nullptr in an empty scene.
  std::unique_ptr<TSceneModel> RemoveSelected();
  // Reads APath and adds it to the selected model's motions by the merge-or-replace rule; camera
  // keys in it take over from a camera file. The reader's error leaves the scene as it was.
  void AddMotionFile(const std::string& APath);

  const std::vector<std::unique_ptr<TSceneModel>>& Models() const { return FModels; }
  // The first model, or nullptr in an empty scene.
  TSceneModel* Model() const { return FModels.empty() ? nullptr : FModels.front().get(); }
  // Tab: the model the window's commands act on (dropped files, Delete, bones).
  TSceneModel* Selected() const { return FModels.empty() ? nullptr : FModels[FSelected].get(); }
  int SelectedIndex() const { return static_cast<int>(FSelected); }
  void SelectNext();
  // The motions of the selected model.
  const TMotionSet& Motions() const;
  // The scene as files name it (paths as loaded); song and offset are the shell's to fill in.
  TSceneDescription Describe() const;
  // The longest of the models' motions in milliseconds: what the loop runs over with the song.
  double MotionLength() const;

  // ---- time ----
  TPlaybackClock& Clock() { return FClock; }
  const TPlaybackClock& Clock() const { return FClock; }
  // The time of the last AdvanceTo.
  double DanceTime() const { return FDanceTime; }
  bool Playing() const { return FPlaying; }
  // P: play or pause, the clock with it.
  void TogglePlaying();
  // The timeline moved the clock (a jump or a frame step): play follows the clock, and a paused
  // dance shows the new place at the next frame.
  void TimelineMoved();

  // ---- camera ----
  bool HasCamera() const { return !FCamera.Empty(); }
  // The camera track drives the view: there is one, it is allowed, and C has not switched to
  // walking.
  bool CameraPlaying() const { return FCameraOn && FCameraAllowed && !FCamera.Empty(); }
  void SetCameraOn(bool AValue) { FCameraOn = AValue; }
  // The camera of the last AdvanceTo while it plays.
  const TCameraPose& CameraPose() const { return FCameraPose; }
  const TCameraMotion& Camera() const { return FCamera; }

  // ---- switches ----
  bool FaceTurn() const { return FFaceTurn; }
  void ToggleFaceTurn() { FFaceTurn = !FFaceTurn; }
  // Rigid-body physics of every model (the first model's state is the scene's); each model's
  // bodies live in a world of their own.
  bool PhysicsEnabled() const;
  void TogglePhysics();

  // Poses the scene at AMilliseconds of the dance: the camera, then for each model the face turn
  // towards the camera's eye while it plays, else towards AViewerEye (when the face turn is on;
  // never a stage's), and the motion while it plays or after the timeline moved (always when
  // AForceMotion), each model skinned once. A motion shorter than the loop holds its last frame.
  // Several models are posed side by side on the worker threads; their skin targets are called on
  // this thread only. When a model's frame throws, every other model still gets its frame and the
  // first failing model's error is thrown.
  void AdvanceTo(double AMilliseconds, const TVec3f& AViewerEye, bool AForceMotion = false);

 private:
  // What every model's frame takes from the scene.
  struct TModelFrameInputs {
    TVec3f Eye;  // in the scene
    double Milliseconds;
    bool Move, FaceTurn;
  };
  void AdvanceModelsInParallel(const TModelFrameInputs& AInputs);
  // A model's frame in two halves: the changes (a frame bracket opened), then the pose, physics
  // step and skinning. An error goes to AError (the first one kept); the bracket always closes.
  static void BeginModelFrame(TSceneModel& AModel, const TModelFrameInputs& AInputs,
                              std::exception_ptr& AError) noexcept;
  static void EndModelFrame(TSceneModel& AModel, std::exception_ptr& AError) noexcept;
  // The models' motions changed: the loop's length, the camera, and a pose at the next frame.
  void MotionsChanged();
  // The camera track of the camera file, or of the camera keys of the models' motions without one.
  void LoadCamera();

  TSceneWarning FWarn;
  bool FCameraAllowed = true;
  std::vector<std::unique_ptr<TSceneModel>> FModels;
  std::size_t FSelected = 0;
  std::string FCameraPath;
  std::unique_ptr<TVmd> FCameraFile;  // nullptr: the motions' own camera keys
  TPlaybackClock FClock;
  double FDanceTime = 0.0;
  bool FPlaying = false;
  bool FPoseDue = false;  // the timeline or what it plays changed while paused: pose once
  TCameraMotion FCamera;
  bool FCameraOn = false;
  TCameraPose FCameraPose;
  bool FFaceTurn = false;
};
