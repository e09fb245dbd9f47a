#include "scene/SceneFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <string_view>

#include "scene/SceneCamera.h"

namespace fs = std::filesystem;

namespace {

std::string LowerExtension(const std::string& APath) {
  std::string Ext = fs::path(APath).extension().string();
  std::transform(Ext.begin(), Ext.end(), Ext.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return Ext;
}

std::string Absolute(const std::string& APath) {
  if (APath.empty()) return APath;
  std::error_code Error;
  const fs::path Result = fs::absolute(fs::path(APath), Error);
  return Error ? APath : Result.lexically_normal().string();
}

// Raw name bytes of every bone and morph a motion keys, and "camera" for camera keys (a name no
// 15-byte key field can hold with its NUL prefix).
std::set<std::string> TracksOf(const TVmd& AVmd) {
  std::set<std::string> Tracks;
  auto Raw = [](const char(&AName)[15], char APrefix) {
    const std::size_t Length = strnlen(AName, sizeof AName);
    return std::string(1, APrefix) + std::string(AName, Length);
  };
  for (int K = 0; K < AVmd.MotionCount(); ++K) Tracks.insert(Raw(AVmd.GetMotion(K)->BoneName, 'b'));
  for (int K = 0; K < AVmd.SkinMotionCount(); ++K)
    Tracks.insert(Raw(AVmd.GetSkinMotion(K)->MorphName, 'm'));
  if (!AVmd.CameraMotions().empty()) Tracks.insert(std::string(1, '\0') + "camera");
  return Tracks;
}

}  // namespace

bool IsSongFile(const std::string& APath) {
  const std::string Ext = LowerExtension(APath);
  return Ext == ".wav" || Ext == ".ogg" || Ext == ".mp3" || Ext == ".flac";
}

TFileKind KindOfFile(const std::string& APath) {
  const std::string Ext = LowerExtension(APath);
  if (Ext == ".pmx" || Ext == ".pmd") return TFileKind::fkModel;
  // A pose (.vpd) reads as a motion of one frame.
  if (Ext == ".vmd" || Ext == ".vpd") return TFileKind::fkMotion;
  if (IsSongFile(APath)) return TFileKind::fkSong;
  if (Ext == ".toml") return TFileKind::fkScene;
  return TFileKind::fkUnknown;
}

TSceneDescription ResolveScene(const TSceneDescription& ANamed, const std::string& ABaseDirectory) {
  TSceneDescription Scene = ANamed;
  Scene.Named = !ANamed.Models.empty();
  for (TSceneEntry& Entry : Scene.Models) {
    Entry.Path = Entry.Path.empty() ? ABaseDirectory + kFixedModel : Absolute(Entry.Path);
    for (std::string& Motion : Entry.MotionPaths) Motion = Absolute(Motion);
  }
  Scene.CameraPath = Absolute(ANamed.CameraPath);
  Scene.SongPath = Absolute(ANamed.SongPath);
  if (!Scene.Named) {
    TSceneEntry Fixed;
    Fixed.Path = ABaseDirectory + kFixedModel;
    std::error_code Error;
    const std::string Motion = ABaseDirectory + kFixedMotionFolder + kFixedMotion;
    const std::string Camera = ABaseDirectory + kFixedMotionFolder + kDefaultCameraFileName;
    if (fs::exists(Motion, Error)) Fixed.MotionPaths.push_back(Motion);
    if (Scene.CameraPath.empty() && fs::exists(Camera, Error)) Scene.CameraPath = Camera;
    Scene.Models.push_back(std::move(Fixed));
  }
  return Scene;
}

void TMotionSet::Add(const std::string& AFileName) {
  auto Vmd = std::make_unique<TVmd>();
  Vmd->LoadFromFile(AFileName);
  Add(AFileName, std::move(Vmd));
}

int TMotionSet::AddOrReplace(const std::string& AFileName) {
  auto Vmd = std::make_unique<TVmd>();
  Vmd->LoadFromFile(AFileName);
  return AddOrReplace(AFileName, std::move(Vmd));
}

void TMotionSet::Add(const std::string& AFileName, std::unique_ptr<TVmd> AVmd) {
  FFileNames.push_back(AFileName);
  FFiles.push_back(std::move(AVmd));
}

int TMotionSet::AddOrReplace(const std::string& AFileName, std::unique_ptr<TVmd> AVmd) {
  const std::set<std::string> New = TracksOf(*AVmd);
  int Replaced = 0;
  for (std::size_t I = FFiles.size(); I-- > 0;) {
    const std::set<std::string> Old = TracksOf(*FFiles[I]);
    const bool Shares = std::any_of(
        Old.begin(), Old.end(), [&](const std::string& ATrack) { return New.count(ATrack) != 0; });
    if (!Shares) continue;
    FFiles.erase(FFiles.begin() + static_cast<std::ptrdiff_t>(I));
    FFileNames.erase(FFileNames.begin() + static_cast<std::ptrdiff_t>(I));
    ++Replaced;
  }
  Add(AFileName, std::move(AVmd));
  return Replaced;
}

std::unique_ptr<TVmd> TMotionSet::Merged() const {
  auto Result = std::make_unique<TVmd>();
  for (const auto& File : FFiles) Result->Append(*File);
  return Result;
}
