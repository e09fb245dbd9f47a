#include "scene/SceneModel.h"

#include <algorithm>
#include <filesystem>

#include "scene/PlaybackClock.h"

std::string MissingMorphsReport(const std::vector<std::string>& ANames) {
  if (ANames.empty()) return {};
  std::string Report = "Quenlor: the motion keys " + std::to_string(ANames.size()) +
                       (ANames.size() == 1 ? " morph" : " morphs") +
                       " that the model does not have; their keys are ignored:\n  ";
  for (size_t I = 0; I < ANames.size(); ++I) Report += (I == 0 ? "" : ", ") + ANames[I];
  return Report + "\n";
}

void LoadMotionReportingMissingMorphs(TPmxControllerCore& ACore, const TVmd& AMotion,
                                      const TSceneWarning& AWarn) {
  // The core names a missing morph at each of its keys; the list names it once, in the order of
  // its first key.
  std::vector<std::string> Missing;
  ACore.LoadMotion(AMotion, [&](std::span<const uint8_t> ARawName) {
    std::string Name = DecodeVmdName(ARawName);
    if (std::find(Missing.begin(), Missing.end(), Name) == Missing.end())
      Missing.push_back(std::move(Name));
  });
  const std::string Report = MissingMorphsReport(Missing);
  if (!Report.empty() && AWarn) AWarn(Report);
}

TSceneModel::TSceneModel(const std::string& APath)
    : FPath(APath), FPmx(std::make_unique<TPmx>()), FMotion(std::make_unique<TVmd>()) {
  FPmx->LoadFromFile(APath);
  FCore = std::make_unique<TPmxControllerCore>(*FPmx);
  // The rest pose with every IK chain solved once.
  FCore->ApplyMorph();
  FCore->UpdateBoneMatrix();
}

std::string TSceneModel::Folder() const {
  return std::filesystem::path(FPath).parent_path().string();
}

void TSceneModel::SetMotions(TMotionSet AMotions, const TSceneWarning& AWarn) {
  std::unique_ptr<TVmd> Merged = AMotions.Merged();
  LoadMotionReportingMissingMorphs(*FCore, *Merged, AWarn);
  FMotion = std::move(Merged);
  FMotions = std::move(AMotions);
}

double TSceneModel::MotionLength() const {
  return FCore->FrameCount() * kMotionFrameMilliseconds;
}

void TSceneModel::SetPlacement(const TModelPlacement& APlacement) {
  FPlacement = APlacement;
  FPlacementMatrix = ::PlacementMatrix(APlacement);
}
