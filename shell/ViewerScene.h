// TViewerScene: the scene the viewer shows together with its drawing and its music: made from the
// command line's files, changed by files dropped later. Keeps the scene (TScene), the renderer's
// drawings and the song in step, so that a file that fails leaves all three as they were. Used by
// the main window and the offline render alike. Part of the shell; depends on scene, render and
// the song player (SDL_mixer).
#pragma once

#include <memory>
#include <string>

#include "gl/UCommon2.h"
#include "render/SceneRenderer.h"
#include "scene/Scene.h"
#include "shell/CommandLine.h"
#include "shell/SongPlayer.h"
#include "shell/ViewerState.h"

// The folder of the running executable with a trailing separator.
std::string ExecutableDirectory();
// Milliseconds of the system's monotonic clock: the dance's clock in a window.
double SteadyMilliseconds();

// The view and projection of a window of AWidth x AHeight pixels: the scene's camera while it
// plays, else the walking viewer's eye (a 45-degree vertical field of view).
void DesktopView(const TScene& AScene, const TViewerState& AViewer, int AWidth, int AHeight,
                 TMatrix4f& AView, TMatrix4f& AProjection);

class TViewerScene {
 public:
  // An empty scene on the system's clock.
  TViewerScene(const TViewerOptions& AOptions, std::string ABaseDirectory);
  // The song first, then the drawings while the GL context still exists.
  ~TViewerScene();
  TViewerScene(const TViewerScene&) = delete;
  TViewerScene& operator=(const TViewerScene&) = delete;

  // Makes the renderer on AOpenGL, then reads the command line's files (or the fixed folder's)
  // into the scene and draws them; the song last, so that one that cannot be played is reported
  // (thrown) with the dance in place. A model or motion that cannot be read throws with the scene
  // left empty.
  void Load(TOpenGL* AOpenGL);

  // A file dropped on the window: a model replaces the character, a motion joins or replaces the
  // motions, a song becomes the music. Each throws the reader's error with nothing changed.
  void ReplaceModel(const std::string& APath);
  void AddMotionFile(const std::string& APath);
  void LoadSong(const std::string& APath);

  // Also to set the scene's switches before Load (a headset has no camera track).
  TScene& Scene() { return FScene; }
  const TScene& Scene() const { return FScene; }
  // nullptr when start-up failed before the programs existed.
  TSceneRenderer* Renderer() const { return FRenderer.get(); }
  const TSongPlayer* Song() const { return FSong.get(); }
  const std::string& BaseDirectory() const { return FBaseDirectory; }
  // The model file of the scene (named even when it could not be read).
  const std::string& ModelPath() const { return FModelPath; }

 private:
  TViewerOptions FOptions;
  std::string FBaseDirectory;
  std::string FModelPath;
  TScene FScene;
  std::unique_ptr<TSceneRenderer> FRenderer;
  std::unique_ptr<TSongPlayer> FSong;  // the music the clock follows; nullptr: none
};
