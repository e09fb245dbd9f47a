// SceneFiles: which files make the viewer's scene: those named on the command line or dropped on
// the window, else the fixed folder beside the executable; the motion files merged into one
// motion by the rule that a file replaces the loaded ones it shares a track with.
// Part of the shell; depends on formats (the VMD reader) and the command line's options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "formats/Vmd.h"
#include "shell/CommandLine.h"

enum class TFileKind : std::uint8_t { fkModel, fkMotion, fkSong, fkUnknown };

// By the extension, in any letter case.
TFileKind KindOfFile(const std::string& APath);

struct TSceneFiles {
  std::string ModelPath;                 // absolute
  std::vector<std::string> MotionPaths;  // absolute, merged in this order
  std::string CameraPath;                // absolute; empty: the motions' own camera keys
  std::string AudioPath;                 // absolute; empty: no music
  // False for the fixed folder, where a missing motion or camera file just means none.
  bool Named = false;
};

// The command line's files made absolute (so that a model's folder is known whatever the working
// directory); without model and motions the fixed folder below ABaseDirectory ("/"-terminated).
// A model alone has no motion; motions alone go with the fixed folder's model.
TSceneFiles ResolveSceneFiles(const TViewerOptions& AOptions, const std::string& ABaseDirectory);

// The motion files of a scene, each kept whole, and the one motion they merge into.
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
  std::vector<std::unique_ptr<TVmd>> FFiles;
};
