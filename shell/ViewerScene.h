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
#include "shell/Overlay.h"
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

// The middle of AModel's bones as posed, where it stands in the scene: what the orbit view turns
// around. The origin when it has no bones.
TVec3f ModelCentre(const TSceneModel& AModel);

class TViewerScene {
 public:
  // An empty scene on the system's clock.
  TViewerScene(const TViewerOptions& AOptions, std::string ABaseDirectory);
  // The song first, then the drawings while the GL context still exists.
  ~TViewerScene();
  TViewerScene(const TViewerScene&) = delete;
  TViewerScene& operator=(const TViewerScene&) = delete;

  // Makes the renderer on AOpenGL, then reads the command line's files (or the fixed folder's)
  // into the scene and draws them; the song last. A camera file that cannot be read throws with
  // the scene left empty; a model that cannot be read or drawn is left out, and once the rest of
  // the scene stands, the error naming each such file is thrown. A song that cannot be played
  // is thrown with the dance in place.
  void Load(TOpenGL* AOpenGL);

  // Files dropped on the window. Each throws the reader's error with nothing changed.
  // A model in place of the selected one (its motions and placement go over to it).
  void ReplaceModel(const std::string& APath);
  // A model added to the scene (Shift held), standing at the origin, selected.
  void AddModel(const std::string& APath);
  // A motion for the selected model (joins or replaces its motions).
  void AddMotionFile(const std::string& APath);
  void LoadSong(const std::string& APath);
  // Delete: the selected model and its drawing go.
  void RemoveSelected();
  // A scene file dropped on the window: its scene in place of the one showing, its song (or
  // silence) in place of the music. A file that cannot be read leaves everything as it was; the
  // models that fail are left out and reported (thrown) once the rest stands.
  void OpenScene(const std::string& APath);
  // Ctrl+S: the scene showing saved as a scene file, over the one it came from or last went to,
  // else as scene.toml in the working folder (scene_2.toml, ... when that is taken). Returns where.
  std::string SaveScene();

  // Also to set the scene's switches before Load (a headset has no camera track).
  TScene& Scene() { return FScene; }
  const TScene& Scene() const { return FScene; }
  // nullptr when start-up failed before the programs existed.
  TSceneRenderer* Renderer() const { return FRenderer.get(); }
  const TSongPlayer* Song() const { return FSong.get(); }
  // How much later than the dance the song starts (the command line's or the scene file's).
  double SongOffsetMs() const { return FSongOffsetMs; }
  const std::string& BaseDirectory() const { return FBaseDirectory; }
  // The model file of the selected model (named even when it could not be read).
  const std::string& ModelPath() const { return FModelPath; }
  // The scene file the scene came from or was last saved to; empty when none.
  const std::string& ScenePath() const { return FScenePath; }
  // The scene as files name it: the models, the camera, the song and its offset.
  TSceneDescription Describe() const;

 private:
  // Reads AResolved into the scene and draws it; the models that failed are returned.
  std::vector<std::string> LoadResolved(const TSceneDescription& AResolved);
  // The song of a scene just loaded: AResolved's (with its offset), or none.
  void TakeSongOf(const TSceneDescription& AResolved);
  // Drawings for the scene's models; a model that cannot be drawn leaves the scene.
  void DrawModels(std::vector<std::string>& AFailures);

  TViewerOptions FOptions;
  std::string FBaseDirectory;
  std::string FModelPath;
  std::string FScenePath;
  double FSongOffsetMs = 0.0;
  TScene FScene;
  std::unique_ptr<TSceneRenderer> FRenderer;
  std::unique_ptr<TSongPlayer> FSong;  // the music the clock follows; nullptr: none
};

// What the on-screen display shows of AViewer's scene: the time, the selected model with its
// motions and physics, every model by name, the song.
TOverlayInfo OverlayInfoOf(const TViewerScene& AViewer, double AFramesPerSecond);
