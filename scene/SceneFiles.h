// SceneFiles: which files make the viewer's scene: those named on the command line or dropped on
// the window, else the fixed folder beside the executable; the motion files merged into one
// motion by the rule that a file replaces the loaded ones it shares a track with.
// Part of the scene; depends on formats (the VMD reader).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/Vmd.h"
#include "scene/SceneDescription.h"

// The fixed places of the model and the motion below the executable's folder.
inline constexpr const char* kFixedModel = "mmd/model/model.pmx";
inline constexpr const char* kFixedMotionFolder = "mmd/motion/";
inline constexpr const char* kFixedMotion = "motion.vmd";

// True when APath names a song the viewer plays: .wav, .ogg, .mp3 or .flac in any letter case.
// The one rule for songs, however the file was given.
bool IsSongFile(const std::string& APath);

enum class TFileKind : std::uint8_t { fkModel, fkMotion, fkSong, fkScene, fkUnknown };

// By the extension, in any letter case (.toml is a scene file).
TFileKind KindOfFile(const std::string& APath);

// The scene a user named (command line) with every path made absolute (so that a model's folder
// is known whatever the working directory). An entry without a model file is the default
// character (the fixed folder's model below ABaseDirectory, "/"-terminated). Without any model
// the fixed folder's model, with its motion and camera files when they are there (Named false).
TSceneDescription ResolveScene(const TSceneDescription& ANamed, const std::string& ABaseDirectory);

// The motion files of a scene, each kept whole and read once (copies of a set share the files),
// and the one motion they merge into.
class TMotionSet {
 public:
  // Reads AFileName (the reader's error propagates, the set unchanged) and adds it after the
  // others.
  void Add(const std::string& AFileName);
  // Reads AFileName and adds it in place of every loaded file that keys a bone or morph it keys
  // too, or also has camera keys: a body motion dropped on a body motion replaces it, a facial
  // motion joins it, a camera file replaces the camera. Returns how many files it replaced.
  int AddOrReplace(const std::string& AFileName);
  void Add(const std::string& AFileName, std::unique_ptr<TVmd> AVmd);
  int AddOrReplace(const std::string& AFileName, std::unique_ptr<TVmd> AVmd);

  // All files' keys in file order.
  std::unique_ptr<TVmd> Merged() const;
  const std::vector<std::string>& FileNames() const { return FFileNames; }
  bool Empty() const { return FFiles.empty(); }

 private:
  std::vector<std::string> FFileNames;
  std::vector<std::shared_ptr<const TVmd>> FFiles;
};
