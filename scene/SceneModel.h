// TSceneModel: one character of the scene without any drawing: its model file read, its controller
// core (pose, morphs, physics, skinning into whatever target a renderer gives it), and the motion
// files merged into the motion it plays. Depends on character/core and formats; no GL, no SDL.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "character/core/PmxControllerCore.h"
#include "formats/pmxlib.h"
#include "scene/SceneDescription.h"
#include "scene/SceneFiles.h"

// Where the scene's warnings go (the shell writes them on stderr); nothing when empty.
using TSceneWarning = std::function<void(const std::string&)>;

// The report of the morphs a motion keys that the model does not have: a heading line that says
// what the list is, then the names on one line, comma-separated. "" when the list is empty.
std::string MissingMorphsReport(const std::vector<std::string>& ANames);
// Loads AMotion's key tables into ACore, then hands MissingMorphsReport to AWarn when morphs are
// missing (keys of a missing morph are dropped; a real pair of files can miss dozens).
void LoadMotionReportingMissingMorphs(TPmxControllerCore& ACore, const TVmd& AMotion,
                                      const TSceneWarning& AWarn);

class TSceneModel {
 public:
  // Reads the model at APath (the reader's error, naming the file, propagates) and poses its rest
  // pose with every IK chain solved once. No motion until SetMotions.
  explicit TSceneModel(const std::string& APath);
  TSceneModel(const TSceneModel&) = delete;
  TSceneModel& operator=(const TSceneModel&) = delete;

  const std::string& Path() const { return FPath; }
  // The folder the model's textures are named from.
  std::string Folder() const;
  const TPmx& Pmx() const { return *FPmx; }
  TPmxControllerCore& Core() { return *FCore; }
  const TPmxControllerCore& Core() const { return *FCore; }

  // The motion files and the one motion they merge into (empty before SetMotions).
  const TMotionSet& Motions() const { return FMotions; }
  const TVmd& Motion() const { return *FMotion; }
  // Merges AMotions and loads the result into the core (morphs it keys that the model lacks go to
  // AWarn). The merged motion outlives the core's use of it: it is kept here.
  void SetMotions(TMotionSet AMotions, const TSceneWarning& AWarn);
  // The motion's length in milliseconds (30 frames a second), 0 without keys.
  double MotionLength() const;

  // Where the model stands in the scene; the core poses it about its own origin and the drawing
  // places it (PlacementMatrix).
  const TModelPlacement& Placement() const { return FPlacement; }
  const TMatrix4f& PlacementMatrix() const { return FPlacementMatrix; }
  void SetPlacement(const TModelPlacement& APlacement);
  // A stage: left alone by the face turn, and not what the shadow is fitted to.
  bool Stage() const { return FStage; }
  void SetStage(bool AValue) { FStage = AValue; }

 private:
  std::string FPath;
  std::unique_ptr<TPmx> FPmx;
  TMotionSet FMotions;
  std::unique_ptr<TVmd> FMotion;  // declared before the core, which samples it
  std::unique_ptr<TPmxControllerCore> FCore;
  TModelPlacement FPlacement;
  TMatrix4f FPlacementMatrix = IdentityMatrix4f;
  bool FStage = false;
};
