// TScene: what the viewer shows, without any drawing: the models with their motions, the camera
// track, the dance's clock, and the switches for play, physics and the face turn. AdvanceTo poses
// everything at one time, read from the clock once per frame by whoever draws the scene.
// Depends on scene (files, clock, models), character/core (the camera track); no GL, no SDL.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "character/core/CameraMotion.h"
#include "math/VectorMath.h"
#include "scene/PlaybackClock.h"
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

  // The camera file (when the camera is allowed) and the motions are read before the model, so
  // that one that cannot be read leaves an empty scene, as a broken model does. The song is the
  // shell's. Throws the reader's error.
  void Load(const TSceneFiles& AFiles);
  // Empties the scene: no models, motions or camera track (a scene whose drawing failed).
  void Clear();
  // Puts AModel in place of the first model (or adds it to an empty scene): the motion plays on
  // it from where the timeline stands.
  void ReplaceModel(std::unique_ptr<TSceneModel> AModel);
  // Reads APath and adds it to the motions by the merge-or-replace rule; camera keys in it take
  // over from a camera file. The reader's error leaves the scene as it was.
  void AddMotionFile(const std::string& APath);

  const std::vector<std::unique_ptr<TSceneModel>>& Models() const { return FModels; }
  // The first model, or nullptr in an empty scene.
  TSceneModel* Model() const { return FModels.empty() ? nullptr : FModels.front().get(); }
  const TMotionSet& Motions() const { return FMotions; }

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
  // Rigid-body physics of every model (the first model's state is the scene's).
  bool PhysicsEnabled() const;
  void TogglePhysics();

  // Poses the scene at AMilliseconds of the dance: the camera, then for each model the face turn
  // towards the camera's eye while it plays, else towards AViewerEye (when the face turn is on),
  // and the motion while it plays or after the timeline moved (always when AForceMotion), each
  // model skinned once. A motion shorter than the loop holds its last frame.
  void AdvanceTo(double AMilliseconds, const TVec3f& AViewerEye, bool AForceMotion = false);

 private:
  void SetMotions(TMotionSet AMotions);
  // The camera track of the camera file, or of the merged motion's camera keys without one.
  void LoadCamera();

  TSceneWarning FWarn;
  bool FCameraAllowed = true;
  std::vector<std::unique_ptr<TSceneModel>> FModels;
  TMotionSet FMotions;
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
