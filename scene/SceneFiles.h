// SceneFiles: which files make the viewer's scene: those named on the command line or dropped on
// the window, else the fixed folder beside the executable; the motion files merged into one
// motion by the rule that a file replaces the loaded ones it shares a track with.
// Part of the scene; depends on formats (the VMD reader).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/Vmd.h"

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

// The files a user named (command line), as given; empty when not named.
struct TNamedFiles {
  std::string ModelPath;
  std::vector<std::string> MotionPaths;
  std::string CameraPath;
  std::string AudioPath;
};

struct TSceneFiles {
  std::string ModelPath;                 // absolute
  std::vector<std::string> MotionPaths;  // absolute, merged in this order
  std::string CameraPath;                // absolute; empty: the motions' own camera keys
  std::string AudioPath;                 // absolute; empty: no music
  // False for the fixed folder, where a missing motion or camera file just means none.
  bool Named = false;
};

// The named files made absolute (so that a model's folder is known whatever the working
// directory); without model and motions the fixed folder below ABaseDirectory ("/"-terminated).
// A model alone has no motion; motions alone go with the fixed folder's model.
TSceneFiles ResolveSceneFiles(const TNamedFiles& ANamed, const std::string& ABaseDirectory);

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
