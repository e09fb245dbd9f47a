// THeadsetOutput: the legacy headset runtime as an output of the scene: the device opened for the
// window, the two-eye colour target the runtime distorts, and one call that walks the viewer by
// the head, poses the scene and draws both eyes. Part of the shell; depends on hmd (THeadset),
// render (TSceneRenderer), scene and SDL2 for the window and its monitors.
#pragma once

#include <SDL.h>

#include <memory>

#include "gl/UCommon2.h"
#include "hmd/HmdRuntime.h"
#include "render/SceneRenderer.h"
#include "scene/Scene.h"
#include "shell/ViewerState.h"

class THeadsetOutput {
 public:
  // Opens device 0 for AWindow (throws when it cannot) and finds the headset's monitor.
  explicit THeadsetOutput(SDL_Window* AWindow);
  // Makes the two-eye target and hands it to the runtime (throws when tracking cannot be set up).
  void Start(TOpenGL& AOpenGL);

  // The two-eye target goes while the GL context exists; the device goes after the context.
  void ReleaseTarget() { FTarget.reset(); }

  THeadset& Headset() { return *FHeadset; }
  // SDL display index of the headset's monitor, -1 when none.
  int Monitor() const { return FMonitor; }
  // The runtime's standing eye height, ADefault when it has none.
  float EyeHeight(float ADefault) const;
  // The distortion output follows the window's drawable; throws as the constructor.
  void Resize(int AWidth, int AHeight);

  // One frame inside the runtime's frame bracket: the viewer walks with the head's turn of the
  // previous frame for AMoveSeconds, AScene is posed at its clock's time with the face turned to
  // the point between the eyes, and both eyes are drawn through ARenderer (empty eye pictures
  // without a scene). The runtime's frame is ended also when drawing throws.
  void DrawFrame(TScene* AScene, TSceneRenderer* ARenderer, TViewerState& AViewer,
                 float AMoveSeconds);
  // The point between the eyes, both asked afresh (left, then right).
  TVec3f FacePoint(const TViewerState& AViewer) const;
  // Both eyes side by side as drawn, before the lens distortion, as a new screenshot file.
  void SaveScreenShot() const;

 private:
  std::unique_ptr<THeadset> FHeadset;
  int FMonitor = -1;
  std::unique_ptr<TColorFBO> FTarget;
};
