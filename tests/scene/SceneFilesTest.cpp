// The scene's files: kinds by extension, the command line's files against the fixed folder, and
// the merge-or-replace rule of dropped motion files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/PmxWriter.h"
#include "formats/VpdWriter.h"
#include "math/VectorGeometry.h"
#include "scene/SceneFiles.h"

namespace fs = std::filesystem;

namespace {

TEST(SceneFiles, KindOfFileByExtensionInAnyCase) {
  const std::pair<const char*, TFileKind> Cases[] = {
      {"a/ミク.pmx", TFileKind::fkModel},     {"A.PMX", TFileKind::fkModel},
      {"d.vmd", TFileKind::fkMotion},         {"d.Vmd", TFileKind::fkMotion},
      {"s.wav", TFileKind::fkSong},           {"s.OGG", TFileKind::fkSong},
      {"s.mp3", TFileKind::fkSong},           {"s.flac", TFileKind::fkSong},
      {"シーン/s.toml", TFileKind::fkScene},  {"S.TOML", TFileKind::fkScene},
      {"s.Toml", TFileKind::fkScene},         {"toml", TFileKind::fkUnknown},
      {"s.toml.bak", TFileKind::fkUnknown},   {"x.pmd", TFileKind::fkModel},
      {"pmx", TFileKind::fkUnknown},          {"古い/X.PMD", TFileKind::fkModel},
      {"dir.vmd/file", TFileKind::fkUnknown}, {"ポーズ/p.vpd", TFileKind::fkMotion},
      {"P.VPD", TFileKind::fkMotion},
  };
  for (const auto& [Path, Kind] : Cases) EXPECT_EQ(KindOfFile(Path), Kind) << Path;
}

class SceneFilesResolve : public ::testing::Test {
 protected:
  void SetUp() override {
    FBase = fs::temp_directory_path() / ("quenlor_scene_" + std::to_string(getpid()));
    fs::remove_all(FBase);
    fs::create_directories(FBase / "mmd/motion");
    FBaseText = FBase.string() + "/";
  }
  void TearDown() override { fs::remove_all(FBase); }
  void Touch(const char* AName) { WriteBytesToFile((FBase / AName).string(), {1}); }
  fs::path FBase;
  std::string FBaseText;
};

TEST_F(SceneFilesResolve, WithoutFilesTheFixedFolderWithWhatExistsThere) {
  const TSceneDescription Bare = ResolveScene(TSceneDescription(), FBaseText);
  ASSERT_EQ(Bare.Models.size(), 1u);
  EXPECT_EQ(Bare.Models[0].Path, FBaseText + "mmd/model/model.pmx");
  EXPECT_TRUE(Bare.Models[0].MotionPaths.empty());
  EXPECT_EQ(Bare.CameraPath, "");
  EXPECT_FALSE(Bare.Named);
  Touch("mmd/motion/motion.vmd");
  Touch("mmd/motion/camera.vmd");
  const TSceneDescription Full = ResolveScene(TSceneDescription(), FBaseText);
  EXPECT_EQ(Full.Models[0].MotionPaths,
            std::vector<std::string>{FBaseText + "mmd/motion/motion.vmd"});
  EXPECT_EQ(Full.CameraPath, FBaseText + "mmd/motion/camera.vmd");
}

TEST_F(SceneFilesResolve, NamedFilesAreMadeAbsoluteAndLeaveTheFixedMotionAlone) {
  Touch("mmd/motion/motion.vmd");
  Touch("mmd/motion/camera.vmd");
  const std::string Cwd = fs::current_path().string();
  TSceneDescription ModelOnly;
  ModelOnly.Models.push_back(TSceneEntry{"モデル 1/a.pmx", {}, {}, false});
  const TSceneDescription M = ResolveScene(ModelOnly, FBaseText);
  ASSERT_EQ(M.Models.size(), 1u);
  EXPECT_EQ(M.Models[0].Path, Cwd + "/モデル 1/a.pmx");
  EXPECT_TRUE(M.Models[0].MotionPaths.empty()) << "a model alone stands still";
  EXPECT_EQ(M.CameraPath, "");
  EXPECT_TRUE(M.Named);

  // Motions before any model: the default character's; then a stage placed and moving.
  TSceneDescription Named;
  Named.Models = {
      TSceneEntry{"", {"../x/body.vmd", "/abs/face.vmd"}, {}, false},
      TSceneEntry{"s/stage.pmx", {"s/lights.vmd"}, TModelPlacement{{1, 2, 3}, 45}, true}};
  Named.SongPath = "./song.ogg";
  Named.SongOffsetMs = 120;
  const TSceneDescription D = ResolveScene(Named, FBaseText);
  ASSERT_EQ(D.Models.size(), 2u);
  EXPECT_EQ(D.Models[0].Path, FBaseText + "mmd/model/model.pmx");
  EXPECT_EQ(D.Models[0].MotionPaths,
            (std::vector<std::string>{(fs::current_path().parent_path() / "x/body.vmd").string(),
                                      "/abs/face.vmd"}));
  EXPECT_EQ(
      D.Models[1],
      (TSceneEntry{
          Cwd + "/s/stage.pmx", {Cwd + "/s/lights.vmd"}, TModelPlacement{{1, 2, 3}, 45}, true}));
  EXPECT_EQ(D.SongPath, Cwd + "/song.ogg");
  EXPECT_EQ(D.SongOffsetMs, 120);
  EXPECT_EQ(D.CameraPath, "");
}

std::unique_ptr<TVmd> Motion(const TVmdBuilder& ABuilder) {
  auto Vmd = std::make_unique<TVmd>();
  Vmd->LoadFromBytes(ABuilder.Build());
  return Vmd;
}

// Dropped motions one after another: which of the loaded files stay.
TEST(MotionSet, ADroppedFileReplacesTheFilesItSharesATrackWith) {
  TVmdBuilder Body, Body2, Face, Camera, BodyAndCamera;
  Body.AddBoneKey("センター", 0);
  Body.AddBoneKey("左足", 30);
  Body2.AddBoneKey("左足", 5);
  Face.AddMorphKey("あ", 10, 1.0f);
  Face.AddBoneKey("両目", 4);
  Camera.AddCameraKey(0, NewVector3f(0, 10, 0), -30, NewVector3f(0, 0, 0));
  BodyAndCamera.AddBoneKey("センター", 2);
  BodyAndCamera.AddCameraKey(0, NewVector3f(0, 10, 0), -30, NewVector3f(0, 0, 0));
  const std::pair<const char*, const TVmdBuilder*> Files[] = {{"body", &Body},
                                                              {"body2", &Body2},
                                                              {"face", &Face},
                                                              {"camera", &Camera},
                                                              {"both", &BodyAndCamera}};
  auto Of = [&](const std::string& AName) {
    for (const auto& [Name, Builder] : Files)
      if (AName == Name) return Motion(*Builder);
    return std::unique_ptr<TVmd>();
  };
  struct TCase {
    std::vector<std::string> Drops;
    std::vector<std::string> Loaded;  // what stays, in order
    int LastReplaced;
  } Cases[] = {
      {{"body", "face"}, {"body", "face"}, 0},
      {{"body", "body2"}, {"body2"}, 1},  // one shared bone is enough
      {{"body", "face", "camera"}, {"body", "face", "camera"}, 0},
      {{"camera", "face", "both"}, {"face", "both"}, 1},
      {{"body", "camera", "face", "both"}, {"face", "both"}, 2},
  };
  for (const TCase& C : Cases) {
    TMotionSet Set;
    int Replaced = -1;
    for (const std::string& Drop : C.Drops) Replaced = Set.AddOrReplace(Drop, Of(Drop));
    EXPECT_EQ(Set.FileNames(), C.Loaded) << C.Drops.back();
    EXPECT_EQ(Replaced, C.LastReplaced) << C.Drops.back();
    // The merged motion holds exactly the keys of what stays.
    int Bones = 0, Morphs = 0;
    std::size_t Cameras = 0;
    for (const std::string& Name : C.Loaded) {
      const std::unique_ptr<TVmd> V = Of(Name);
      Bones += V->MotionCount();
      Morphs += V->SkinMotionCount();
      Cameras += V->CameraMotions().size();
    }
    const std::unique_ptr<TVmd> Merged = Set.Merged();
    EXPECT_EQ(Merged->MotionCount(), Bones);
    EXPECT_EQ(Merged->SkinMotionCount(), Morphs);
    EXPECT_EQ(Merged->CameraMotions().size(), Cameras);
  }
}

// A key's name field ends at its first NUL: authoring tools leave old bytes after it, which are
// not part of the name. A name that fills all 15 bytes has no NUL and is whole.
TEST(MotionSet, TrackNamesEndAtTheFirstZeroByte) {
  // A bone key and a morph key named AName, with AJunk written into the field after the NUL.
  auto Keys = [](const char* AName, std::string_view AJunk) {
    TVmdBuilder B;
    B.AddBoneKey(AName, 0);
    B.AddMorphKey(AName, 0, 1.0f);
    for (char* Field : {B.Motions[0].BoneName, B.SkinMotions[0].MorphName}) {
      const std::size_t End = strnlen(Field, 15);
      for (std::size_t I = 0; I < AJunk.size() && End + 1 + I < 15; ++I)
        Field[End + 1 + I] = AJunk[I];
    }
    return Motion(B);
  };
  const std::string Long = "abcdefghijklmno";  // 15 bytes: no room for a NUL
  struct TCase {
    const char *First, *Second;
    std::string_view FirstJunk, SecondJunk;
    int Replaced;
  } Cases[] = {
      {"センター", "センター", "", "\x81\x40junk", 1},  // same name, garbage after the NUL
      {"左足", "左足", "old bone", "other", 1},         // different garbage on both sides
      {"左足", "左足ＩＫ", "", "", 0},                  // a longer name is another track
      {"左足ＩＫ", "左足", "", "", 0},
      {Long.c_str(), Long.c_str(), "", "", 1},
      {Long.c_str(), "abcdefghijklmn", "", "", 0},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(std::string(C.First) + " / " + C.Second);
    TMotionSet Set;
    EXPECT_EQ(Set.AddOrReplace("first", Keys(C.First, C.FirstJunk)), 0);
    EXPECT_EQ(Set.AddOrReplace("second", Keys(C.Second, C.SecondJunk)), C.Replaced);
  }
}

// A pose file dropped on a dancing model: a pose that names a bone of the dance replaces the
// dance file (the model holds the pose), a pose of the face alone replaces only the facial motion.
TEST(MotionSet, ADroppedPoseFileReplacesTheMotionsItSharesATrackWith) {
  const fs::path Dir = fs::temp_directory_path() / ("quenlor_pose_" + std::to_string(getpid()));
  fs::create_directories(Dir);
  const std::string Dance = (Dir / "dance.vmd").string(), Face = (Dir / "face.vmd").string();
  const std::string Pose = (Dir / "pose.vpd").string(), Smile = (Dir / "smile.VPD").string();
  TVmdBuilder DanceKeys, FaceKeys;
  DanceKeys.AddBoneKey("センター", 0);
  DanceKeys.AddBoneKey("左腕", 90);
  FaceKeys.AddMorphKey("あ", 10, 1.0f);
  DanceKeys.SaveToFile(Dance);
  FaceKeys.SaveToFile(Face);
  TVpdBuilder PoseText, SmileText;
  PoseText.AddBone("左腕");
  PoseText.AddBone("右腕");
  SmileText.AddMorph("あ", 0.5f);
  PoseText.SaveToFile(Pose);
  SmileText.SaveToFile(Smile);

  TMotionSet Set;
  EXPECT_EQ(Set.AddOrReplace(Dance), 0);
  EXPECT_EQ(Set.AddOrReplace(Face), 0);
  EXPECT_EQ(Set.AddOrReplace(Smile), 1);
  EXPECT_EQ(Set.FileNames(), (std::vector<std::string>{Dance, Smile}));
  EXPECT_EQ(Set.Merged()->FrameCount(), 91u);  // the dance still runs, the face held
  EXPECT_EQ(Set.AddOrReplace(Pose), 1);
  EXPECT_EQ(Set.FileNames(), (std::vector<std::string>{Smile, Pose}));
  const std::unique_ptr<TVmd> Merged = Set.Merged();
  EXPECT_EQ(Merged->MotionCount(), 2);
  EXPECT_EQ(Merged->SkinMotionCount(), 1);
  EXPECT_EQ(Merged->FrameCount(), 1u);
  fs::remove_all(Dir);
}

TEST(MotionSet, AFileThatCannotBeReadLeavesTheSetAsItWas) {
  TMotionSet Set;
  TVmdBuilder Body;
  Body.AddBoneKey("センター", 0);
  Set.Add("body", Motion(Body));
  const fs::path Broken =
      fs::temp_directory_path() / ("quenlor_broken_" + std::to_string(getpid()) + ".vmd");
  WriteBytesToFile(Broken.string(), {'x', 'y'});
  EXPECT_ANY_THROW(Set.AddOrReplace(Broken.string()));
  EXPECT_ANY_THROW(Set.Add((Broken.string() + ".missing")));
  fs::remove(Broken);
  EXPECT_EQ(Set.FileNames(), std::vector<std::string>{"body"});
  EXPECT_EQ(Set.Merged()->MotionCount(), 1);
}

}  // namespace
