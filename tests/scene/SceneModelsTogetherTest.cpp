// Several models in one scene, each with rigid bodies, advanced together (side by side on the
// worker threads): every model moves exactly as it would alone, bit for bit. Two copies standing
// close enough for their bodies to touch in a shared world move alike; a stage whose big bodies
// fill the dancer's space leaves her alone; three different dancers with the face turn, a jump and
// physics match three scenes of one; the skin targets are called on the caller's thread only; a
// model whose frame fails reaches the caller while the others still get their frame. Loading
// (also side by side) keeps the scene's order for the models, the failures and the warnings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "character/core/MemorySkinTarget.h"
#include "formats/PmxPhysicsWriter.h"
#include "scene/Scene.h"
#include "tools/testbed/GeneratedCharacter.h"
#include "tools/testbed/RiggedCharacter.h"

namespace fs = std::filesystem;

namespace {

// A skin target that notes every call made from a thread other than the one that built it (a GL
// context is current on one thread only), and how often the bones were posed.
class TThreadBoundTarget : public TMemorySkinTarget {
 public:
  explicit TThreadBoundTarget(int AVertexCount) : TMemorySkinTarget(AVertexCount) {}
  void BonesPosed(const TPmxControllerCore&) override {
    Note();
    ++Posed;
    if (ThrowOnPose) {
      ThrowOnPose = false;
      throw std::runtime_error("lost the context");
    }
  }
  float* MapPositions() override {
    Note();
    ++Mapped;
    return TMemorySkinTarget::MapPositions();
  }
  void UnmapPositions() override {
    Note();
    ++Unmapped;
  }
  float* MapNormals() override {
    Note();
    ++Mapped;
    return TMemorySkinTarget::MapNormals();
  }
  void UnmapNormals() override {
    Note();
    ++Unmapped;
  }

  int ForeignCalls = 0, Posed = 0, Mapped = 0, Unmapped = 0;
  bool ThrowOnPose = false;

 private:
  void Note() {
    if (std::this_thread::get_id() != FOwner) ++ForeignCalls;
  }
  std::thread::id FOwner = std::this_thread::get_id();
};

// One model's state after a frame: bone matrices and skinned vertices.
struct TModelState {
  std::vector<TMatrix4f> Bones;
  std::vector<float> Positions, Normals;
};

bool SameBits(const TModelState& A, const TModelState& B) {
  auto Same = [](const auto& X, const auto& Y) {
    return X.size() == Y.size() &&
           std::memcmp(X.data(), Y.data(), X.size() * sizeof(X.front())) == 0;
  };
  return Same(A.Bones, B.Bones) && Same(A.Positions, B.Positions) && Same(A.Normals, B.Normals);
}

// A scene on a clock the test moves, every model skinning into a target of its own.
struct TTestScene {
  double Now = 0.0;
  TScene Scene{[this] { return Now; }};
  std::vector<std::unique_ptr<TThreadBoundTarget>> Targets;

  explicit TTestScene(const TSceneDescription& ADescription, bool AFaceTurn = false) {
    const std::vector<std::string> Failures = Scene.Load(ADescription);
    EXPECT_TRUE(Failures.empty()) << Failures.front();
    for (const std::unique_ptr<TSceneModel>& Model : Scene.Models()) {
      Targets.push_back(std::make_unique<TThreadBoundTarget>(Model->Core().VertexCount()));
      Model->Core().SetSkinTarget(Targets.back().get());
    }
    if (AFaceTurn) Scene.ToggleFaceTurn();
    Scene.TogglePlaying();
  }
  // One 60 Hz frame on.
  void Frame() {
    Now += 1000.0 / 60.0;
    Scene.AdvanceTo(Scene.Clock().Position(), TVec3f(0.3f, 1.4f, 2.5f));
  }
  TModelState State(size_t AModel) const {
    return {Scene.Models()[AModel]->Core().BoneGlobalMatrix(), Targets[AModel]->Positions,
            Targets[AModel]->Normals};
  }
};

class SceneModelsTogetherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("quenlor_scenemodels_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  // The generated character (a humanoid with hair and skirt chains, the blush morph the face turn
  // needs) cut down to a few thousand vertices, with a rig of bone-following capsules and chains
  // of simulated spheres, and its own dance; ASeed makes another dancer and dance.
  TSceneEntry Dancer(uint64_t ASeed) const {
    TGeneratedCharacterOptions O;
    O.VertexCount = 3000;
    O.BoneCount = 120;
    O.OffsetsPerMorph = 100;
    O.BoneKeyCount = 3000;
    O.MorphKeyCount = 300;
    O.FrameSpan = 600;
    O.CameraKeyCount = 0;
    O.Seed = ASeed;
    TGeneratedCharacter Gen = GenerateCharacter(O);
    AddGeneratedRig(Gen.Model, TGeneratedRig{30, 50, 70});
    const std::string Name = "dancer" + std::to_string(ASeed);
    Gen.Model.SaveToFile((FDir / (Name + ".pmx")).string());
    Gen.Motion.SaveToFile((FDir / (Name + ".vmd")).string());
    return TSceneEntry{
        (FDir / (Name + ".pmx")).string(), {(FDir / (Name + ".vmd")).string()}, {}, false};
  }
  // A stage without a motion: a static box two units wide round the dancer's place and a heavy
  // simulated ball at her chest, both colliding with every group.
  TSceneEntry Stage() const {
    TPmxBuilder B;
    const int Root = B.AddBone("全ての親", NewVector3f(0, 0, 0));
    const int Ball = B.AddBone("球", NewVector3f(0, 1.2f, 0), Root);
    TBodySpec Box;
    Box.Bone = Root, Box.Mode = 0, Box.Shape = stBox;
    Box.Size = NewVector3f(1, 1, 1), Box.Position = NewVector3f(0, 1, 0);
    AddBody(B, Box);
    TBodySpec Heavy;
    Heavy.Bone = Ball, Heavy.Mode = 1, Heavy.Shape = stSphere, Heavy.Mass = 50;
    Heavy.Size = NewVector3f(0.5f, 0, 0), Heavy.Position = NewVector3f(0, 1.2f, 0);
    AddBody(B, Heavy);
    const std::string Path = (FDir / "stage.pmx").string();
    B.SaveToFile(Path);
    return TSceneEntry{Path, {}, {}, true};
  }

  fs::path FDir;
};

TEST_F(SceneModelsTogetherTest, TwoCopiesSideBySideMoveAlikeFrameAfterFrame) {
  const TSceneEntry Her = Dancer(1);
  TSceneDescription Two;
  Two.Models = {Her, Her};
  // A tenth of a unit apart: her chains reach further than that.
  Two.Models[1].Placement.At = {1.0f, 0.0f, 0.0f};
  TTestScene Together(Two);
  TSceneDescription Still;
  Still.Models = {Her};
  TTestScene Rigid(Still);
  Rigid.Scene.TogglePhysics();
  bool Swung = false;
  for (int F = 0; F < 90; ++F) {
    Together.Frame();
    Rigid.Frame();
    ASSERT_TRUE(SameBits(Together.State(0), Together.State(1))) << "frame " << F;
    Swung = Swung || !SameBits(Together.State(0), Rigid.State(0));
  }
  EXPECT_TRUE(Swung) << "the bodies move her chains, else the comparison says nothing";
}

TEST_F(SceneModelsTogetherTest, AStageFillingHerSpaceLeavesTheDancerAlone) {
  const TSceneEntry Her = Dancer(2);
  TSceneDescription Alone, WithStage;
  Alone.Models = {Her};
  WithStage.Models = {Her, Stage()};
  TTestScene A(Alone), B(WithStage);
  for (int F = 0; F < 90; ++F) {
    A.Frame();
    B.Frame();
    ASSERT_TRUE(SameBits(A.State(0), B.State(0))) << "frame " << F;
  }
  // The ball fell in the stage's own world.
  const int Ball = B.Scene.Models()[1]->Pmx().IndexOfBone("球");
  EXPECT_LT(B.Scene.Models()[1]->Core().BoneGlobalMatrix()[Ball].W.Y, 0.0f);
}

// Three different dancers with the face turn on, a jump in the middle (the bodies reset): the
// scene of three equals three scenes of one, where each model is advanced alone on this thread.
// The targets hear of every pose, on this thread only, and are unmapped as often as mapped.
TEST_F(SceneModelsTogetherTest, ThreeDancersTogetherMatchEachDancingAlone) {
  TSceneDescription Three;
  Three.Models = {Dancer(3), Dancer(4), Dancer(5)};
  Three.Models[1].Placement = {{8.0f, 0.0f, -3.0f}, 30.0f};
  Three.Models[2].Placement = {{-8.0f, 0.0f, 2.0f}, -45.0f};
  TTestScene Together(Three, true);
  std::vector<std::unique_ptr<TTestScene>> Alone;
  for (const TSceneEntry& Entry : Three.Models) {
    TSceneDescription One;
    One.Models = {Entry};
    Alone.push_back(std::make_unique<TTestScene>(One, true));
  }
  for (int F = 0; F < 120; ++F) {
    if (F == 60) {
      for (TScene* S : {&Together.Scene, &Alone[0]->Scene, &Alone[1]->Scene, &Alone[2]->Scene}) {
        S->Clock().Seek(7000.0);
        S->TimelineMoved();
      }
    }
    Together.Frame();
    for (size_t M = 0; M < 3; ++M) {
      Alone[M]->Frame();
      ASSERT_TRUE(SameBits(Together.State(M), Alone[M]->State(0)))
          << "model " << M << ", frame " << F;
    }
  }
  for (size_t M = 0; M < 3; ++M) {
    const TThreadBoundTarget& T = *Together.Targets[M];
    EXPECT_EQ(T.ForeignCalls, 0) << "model " << M;
    EXPECT_EQ(T.Posed, Alone[M]->Targets[0]->Posed) << "model " << M;
    EXPECT_EQ(T.Mapped, T.Unmapped) << "model " << M;
  }
}

// The second model's target fails once: the caller hears of it, the first and third model are
// still posed, every buffer is unmapped, and the next frame runs as usual.
TEST_F(SceneModelsTogetherTest, AFailingModelReachesTheCallerAndTheOthersStillMove) {
  TSceneDescription Three;
  Three.Models = {Dancer(6), Dancer(6), Dancer(6)};
  TTestScene S(Three);
  S.Frame();
  const std::vector<int> Before = {S.Targets[0]->Posed, S.Targets[1]->Posed, S.Targets[2]->Posed};
  S.Targets[1]->ThrowOnPose = true;
  EXPECT_THROW(S.Frame(), std::runtime_error);
  for (size_t M = 0; M < 3; ++M) {
    EXPECT_EQ(S.Targets[M]->Posed, Before[M] + 1) << "model " << M;
    EXPECT_EQ(S.Targets[M]->Mapped, S.Targets[M]->Unmapped) << "model " << M;
  }
  S.Frame();
  EXPECT_TRUE(SameBits(S.State(0), S.State(1)));
  EXPECT_TRUE(SameBits(S.State(0), S.State(2)));
}

// Five entries read side by side: the models that load keep the scene's order, each one that
// fails is named once in that order, and the warnings of missing morphs arrive on this thread in
// the models' order (two of the dancers' motions key a morph of their own that they lack).
TEST_F(SceneModelsTogetherTest, LoadingKeepsTheScenesOrderForModelsFailuresAndWarnings) {
  auto MotionKeying = [&](const std::string& AMorph) {
    TVmdBuilder Face;
    Face.AddMorphKey(AMorph, 0, 1.0f);
    const std::string Path = (FDir / (AMorph + ".vmd")).string();
    Face.SaveToFile(Path);
    return Path;
  };
  TSceneDescription Five;
  Five.Models = {Dancer(7), Dancer(7), Dancer(8), Dancer(9), Dancer(10)};
  Five.Models[1].Path = (FDir / "missing.pmx").string();
  Five.Models[2].MotionPaths.push_back((FDir / "missing.vmd").string());
  Five.Models[3].MotionPaths.push_back(MotionKeying("ないモーフ1"));
  Five.Models[4].MotionPaths.push_back(MotionKeying("ないモーフ2"));
  std::vector<std::string> Warnings;
  int ForeignWarnings = 0;
  const std::thread::id Here = std::this_thread::get_id();
  TScene Scene;
  Scene.SetOnWarning([&](const std::string& AText) {
    if (std::this_thread::get_id() != Here) ++ForeignWarnings;
    Warnings.push_back(AText);
  });
  const std::vector<std::string> Failures = Scene.Load(Five);
  ASSERT_EQ(Scene.Models().size(), 3u);
  EXPECT_EQ(Scene.Models()[0]->Path(), Five.Models[0].Path);
  EXPECT_EQ(Scene.Models()[1]->Path(), Five.Models[3].Path);
  EXPECT_EQ(Scene.Models()[2]->Path(), Five.Models[4].Path);
  ASSERT_EQ(Failures.size(), 2u);
  EXPECT_NE(Failures[0].find("missing.pmx"), std::string::npos) << Failures[0];
  EXPECT_NE(Failures[1].find("missing.vmd"), std::string::npos) << Failures[1];
  // Each generated dance keys one morph no model has: one warning per model, in order.
  ASSERT_EQ(Warnings.size(), 3u);
  EXPECT_EQ(Warnings[0].find("ないモーフ"), std::string::npos) << Warnings[0];
  EXPECT_NE(Warnings[1].find("ないモーフ1"), std::string::npos) << Warnings[1];
  EXPECT_NE(Warnings[2].find("ないモーフ2"), std::string::npos) << Warnings[2];
  EXPECT_EQ(ForeignWarnings, 0);
}

}  // namespace
