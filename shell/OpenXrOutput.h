// TOpenXrOutput: an OpenXR session as an output of the scene: the two-eye target the eyes are
// drawn into and copied from, the session's state machine run once per idle call, and the
// mirror of both eyes in the window. Part of the shell; depends on hmd (TOpenXrSession), render
// (TSceneRenderer), scene and SDL2 for the window.
#pragma once

#include <SDL.h>

#include <memory>
#include <string>

#include "gl/UCommon2.h"
#include "hmd/OpenXrSession.h"
#include "render/SceneRenderer.h"
#include "scene/Scene.h"
#include "shell/ViewerState.h"

// What one idle call of the session came to.
enum class TXrStep : std::uint8_t {
  xoDrawn,    // a frame went to the runtime (drawn or, not visible, empty)
  xoWaiting,  // the session does not run yet: nothing to do for a while
  xoExit,     // the runtime ended the session: the program ends
  xoLost,     // the session failed or went: the window takes over (see FailReason)
};

class TOpenXrOutput {
 public:
  // Takes over a started session and makes the two-eye target of its eye size.
  TOpenXrOutput(std::unique_ptr<TOpenXrSession> ASession, TOpenGL& AOpenGL);
  // Ends a running session the way the runtime expects; the GL context must still exist.
  ~TOpenXrOutput();
  TOpenXrOutput(const TOpenXrOutput&) = delete;
  TOpenXrOutput& operator=(const TOpenXrOutput&) = delete;

  // The runtime's events, then, while the session runs, one frame: the viewer walks with the
  // head's turn for AMoveSeconds, AScene is posed at its clock's time with the face turned to the
  // located eyes, both eyes are drawn through ARenderer and submitted, and AWindow mirrors them.
  TXrStep DrawFrame(SDL_Window* AWindow, TScene* AScene, TSceneRenderer* ARenderer,
                    TViewerState& AViewer, float AMoveSeconds);
  // Why the last xoLost came (the line to show on stderr).
  const std::string& FailReason() const { return FFailReason; }
  // R: the LOCAL space starts again at the head; false (see FailReason) when the session failed.
  bool Recenter();
  // The point between the eyes this frame located.
  TVec3f FacePoint(const TViewerState& AViewer) const;
  // Both eyes side by side as drawn, as a new screenshot file.
  void SaveScreenShot() const;

 private:
  void RenderFrame(SDL_Window* AWindow, TScene* AScene, TSceneRenderer* ARenderer,
                   TViewerState& AViewer, float AMoveSeconds);

  std::unique_ptr<TOpenXrSession> FSession;
  std::unique_ptr<TColorFBO> FTarget;
  std::string FFailReason;
};
