// The scene without GL or SDL: a model and motions read from files written the way real ones are
// (file units, left-handed), posed at a time as the window's frame poses it: paused and playing,
// a motion shorter than the loop, the camera track and the face turn, files that fail.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/PmxWriter.h"
#include "math/VectorGeometry.h"
#include "scene/Scene.h"

namespace fs = std::filesystem;

namespace {

class SceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() /
           ("quenlor_scenetest_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    // A centre with a head 15 file units (1.5 units) above it; the morph 照れ lets the head turn.
    TPmxBuilder B;
    B.Settings.FileFrame = true;
    const int Centre = B.AddBone("センター", NewVector3f(0, 0, 0));
    B.AddBone("頭", NewVector3f(0, 15, 0), Centre);
    B.AddMorph("照れ", mkVertex);
    B.SaveToFile(Model());
    // The centre rises 10 file units (1 unit) from frame 0 to frame 30 on linear curves.
    TVmdBuilder Dance;
    Dance.FileFrame = true;
    Dance.AddBoneKey("センター", 0, NewVector3f(0, 0, 0));
    Dance.AddBoneKey("センター", 30, NewVector3f(0, 10, 0));
    Dance.SaveToFile(Motion());
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string Model() const { return (FDir / "model.pmx").string(); }
  std::string Motion() const { return (FDir / "dance.vmd").string(); }
  TSceneDescription Files() const {
    TSceneDescription Scene;
    Scene.Models.push_back(TSceneEntry{Model(), {Motion()}, {}, false});
    return Scene;
  }
  // How far the centre stands above its rest place in the first model.
  static float CentreRise(const TScene& AScene) {
    const TSceneModel& M = *AScene.Model();
    const int Centre = M.Pmx().IndexOfBone("センター");
    return M.Core().BoneGlobalMatrix()[Centre].W.Y;
  }

  fs::path FDir;
};

TEST_F(SceneTest, PausedTheTimelinesFrameIsPosedOnceAndPlayingFollowsTheTime) {
  double Now = 0;
  TScene Scene([&] { return Now; });
  Scene.Load(Files());
  const TVec3f Eye(0, 1.5f, 5);
  // Paused at start: the next frame shows frame 0 of the dance at any time asked.
  Scene.AdvanceTo(500, Eye);
  EXPECT_NEAR(CentreRise(Scene), 0.5f, 1e-5f) << "frame 15 of 30";
  Scene.AdvanceTo(900, Eye);
  EXPECT_NEAR(CentreRise(Scene), 0.5f, 1e-5f) << "paused: the pose stays";
  Scene.Clock().Seek(900);
  Scene.TimelineMoved();
  EXPECT_FALSE(Scene.Playing());
  Scene.AdvanceTo(Scene.Clock().Position(), Eye);
  EXPECT_NEAR(CentreRise(Scene), 0.9f, 1e-5f) << "frame 27 after a jump";
  Scene.TogglePlaying();
  EXPECT_TRUE(Scene.Clock().Running());
  Now += 100;
  Scene.AdvanceTo(Scene.Clock().Position(), Eye);
  EXPECT_DOUBLE_EQ(Scene.DanceTime(), 1000.0);
  EXPECT_NEAR(CentreRise(Scene), 1.0f, 1e-5f) << "frame 30";
  Scene.TogglePlaying();
  EXPECT_FALSE(Scene.Clock().Running());
}

// The dance is 31 frames long; a longer loop (a song) holds its last frame instead of starting
// it over, and the offline render's forced pose shows any time.
TEST_F(SceneTest, AMotionShorterThanTheLoopHoldsItsLastFrame) {
  TScene Scene;
  Scene.Load(Files());
  EXPECT_NEAR(Scene.Clock().Length(), 31 * 100.0 / 3.0, 1e-9);
  const struct {
    double Time;
    float Rise;
  } Cases[] = {{0, 0}, {250, 0.25f}, {1000, 1}, {1030, 1}, {1500, 1}, {60000, 1}};
  for (const auto& C : Cases) {
    Scene.AdvanceTo(C.Time, TVec3f(0, 1.5f, 5), true);
    EXPECT_NEAR(CentreRise(Scene), C.Rise, 1e-5f) << C.Time << " ms";
  }
}

// A camera track plays from the start and moves with the dance's time; the face turns to the
// camera's eye while it plays and to the viewer otherwise, and never without the switch.
TEST_F(SceneTest, TheFaceTurnsToTheCameraWhileItPlaysElseToTheViewer) {
  // As authoring tools write it: file units, a negative distance puts the eye in front of her.
  TVmdBuilder Camera;
  Camera.FileFrame = true;
  Camera.AddCameraKey(0, NewVector3f(0, 15, 0), -50, NewVector3f(0, 0, 0));
  Camera.AddCameraKey(30, NewVector3f(10, 15, 0), -50, NewVector3f(0, 0, 0));
  const std::string CameraPath = (FDir / "camera.vmd").string();
  Camera.SaveToFile(CameraPath);
  TSceneDescription Files = this->Files();
  Files.CameraPath = CameraPath;
  TScene Scene;
  Scene.Load(Files);
  ASSERT_TRUE(Scene.CameraPlaying());
  const TVec3f Viewer(-2, 1.5f, 4);
  // The head as a core of its own poses it at ATime, then in one more frame the face turned to
  // AEye (from where the head stands) and the motion again.
  auto HeadTurnedTo = [&](const TVec3f* AEye, double ATime) {
    TSceneModel Reference(Model());
    TMotionSet Motions;
    Motions.Add(Motion());
    Reference.SetMotions(std::move(Motions), {});
    Reference.Core().ApplyMotionByTime(ATime);
    Reference.Core().BeginFrame();
    if (AEye) Reference.Core().FaceTurn(*AEye);
    Reference.Core().ApplyMotionByTime(ATime);
    Reference.Core().EndFrame();
    return Reference.Core().BoneGlobalMatrix()[1];
  };
  auto SameHead = [&](const TMatrix4f& AExpected) {
    const TMatrix4f& Head = Scene.Model()->Core().BoneGlobalMatrix()[1];
    for (int I = 0; I < 16; ++I)
      if (std::fabs(Head.V[I] - AExpected.V[I]) > 1e-5f) return false;
    return true;
  };

  Scene.AdvanceTo(500, Viewer, true);
  const TCameraPose Half = Scene.CameraPose();
  EXPECT_NEAR(Half.Target.X, 0.5f, 1e-4f) << "the target halfway at frame 15";
  EXPECT_NEAR(Half.Eye.Z, 5.0f, 1e-4f) << "in front of her, 5 units away";
  EXPECT_TRUE(SameHead(HeadTurnedTo(nullptr, 500))) << "the switch is off";
  const TMatrix4f Still = Scene.Model()->Core().BoneGlobalMatrix()[1];

  Scene.ToggleFaceTurn();
  Scene.AdvanceTo(500, Viewer, true);
  EXPECT_TRUE(SameHead(HeadTurnedTo(&Half.Eye, 500))) << "to the camera";
  EXPECT_FALSE(SameHead(Still));
  Scene.SetCameraOn(false);
  EXPECT_FALSE(Scene.CameraPlaying());
  Scene.AdvanceTo(500, Viewer, true);
  EXPECT_TRUE(SameHead(HeadTurnedTo(&Viewer, 500))) << "to the viewer";
  EXPECT_FALSE(SameHead(HeadTurnedTo(&Half.Eye, 500)));

  // In a headset the head is the camera: the track is not even read.
  TScene Headset;
  Headset.SetCameraAllowed(false);
  Headset.Load(Files);
  EXPECT_FALSE(Headset.HasCamera());
  EXPECT_FALSE(Headset.CameraPlaying());
}

TEST_F(SceneTest, FilesThatFailLeaveTheSceneAsItWas) {
  std::ofstream(FDir / "broken.vmd") << "not a motion";
  std::ofstream(FDir / "broken.pmx") << "not a model";
  TScene Scene;
  Scene.Load(Files());
  const TSceneModel* Model = Scene.Model();
  const std::vector<std::string> Motions = Scene.Motions().FileNames();
  EXPECT_ANY_THROW(Scene.AddMotionFile((FDir / "broken.vmd").string()));
  EXPECT_ANY_THROW(Scene.AddMotionFile((FDir / "missing.vmd").string()));
  EXPECT_EQ(Scene.Model(), Model);
  EXPECT_EQ(Scene.Motions().FileNames(), Motions);
  EXPECT_EQ(Scene.Model()->Core().FrameCount(), 31u);
  EXPECT_ANY_THROW(TSceneModel((FDir / "broken.pmx").string()));

  // A scene whose model cannot be read stays empty and answers every call.
  TSceneDescription Bad = Files();
  Bad.Models[0].Path = (FDir / "broken.pmx").string();
  TScene Empty;
  const std::vector<std::string> Failures = Empty.Load(Bad);
  ASSERT_EQ(Failures.size(), 1u);
  EXPECT_NE(Failures[0].find("broken.pmx"), std::string::npos) << Failures[0];
  EXPECT_EQ(Empty.Model(), nullptr);
  Empty.AdvanceTo(100, TVec3f(0, 0, 0));
  Empty.TogglePhysics();
  EXPECT_FALSE(Empty.PhysicsEnabled());
}

// A model dropped in place of the first one dances the scene's motion from where the timeline
// stands; a motion dropped later joins, and its missing morphs are reported once.
TEST_F(SceneTest, AReplacedModelDancesTheMotionAndDroppedMotionsJoin) {
  std::vector<std::string> Warnings;
  TScene Scene;
  Scene.SetOnWarning([&](const std::string& AText) { Warnings.push_back(AText); });
  Scene.Load(Files());
  Scene.AdvanceTo(250, TVec3f(0, 1.5f, 5));
  Scene.ReplaceModel(std::make_unique<TSceneModel>(Model()));
  EXPECT_EQ(Scene.Models().size(), 1u);
  EXPECT_EQ(Scene.Model()->Core().FrameCount(), 31u);
  Scene.AdvanceTo(250, TVec3f(0, 1.5f, 5));
  EXPECT_NEAR(CentreRise(Scene), 0.25f, 1e-5f) << "paused, the new model shows the frame";

  TVmdBuilder Face;
  Face.AddMorphKey("照れ", 0, 1.0f);
  Face.AddMorphKey("まばたき", 40, 1.0f);
  Face.AddMorphKey("まばたき", 41, 0.0f);
  const std::string FacePath = (FDir / "face.vmd").string();
  Face.SaveToFile(FacePath);
  Scene.AddMotionFile(FacePath);
  EXPECT_EQ(Scene.Motions().FileNames(), (std::vector<std::string>{Motion(), FacePath}));
  EXPECT_EQ(Scene.Model()->Core().FrameCount(), 42u);
  EXPECT_NEAR(Scene.Clock().Length(), 42 * 100.0 / 3.0, 1e-9);
  ASSERT_EQ(Warnings.size(), 1u);
  EXPECT_EQ(Warnings[0],
            "Quenlor: the motion keys 1 morph that the model does not have; their keys are "
            "ignored:\n  まばたき\n");
}

}  // namespace

namespace {

// Several models: each dances its own motion (the loop runs over the longest, a shorter one holds
// its last frame), a model that cannot be read is reported and left out, the face turn reaches
// each dancer from where she stands and leaves the stage alone; Tab, Delete and Shift+drop.
TEST_F(SceneTest, ManyModelsDanceTheirOwnMotionsWhereTheyStand) {
  // A second dance twice as long: the centre rises 20 file units (2 units) over 60 frames.
  TVmdBuilder Long;
  Long.FileFrame = true;
  Long.AddBoneKey("センター", 0, NewVector3f(0, 0, 0));
  Long.AddBoneKey("センター", 60, NewVector3f(0, 20, 0));
  const std::string LongPath = (FDir / "long.vmd").string();
  Long.SaveToFile(LongPath);
  std::ofstream(FDir / "broken.pmx") << "not a model";

  TSceneDescription Description;
  Description.Models = {
      TSceneEntry{Model(), {Motion()}, {}, false},
      // 10 file units to the right, turned round to face the back.
      TSceneEntry{Model(), {LongPath}, TModelPlacement{{10, 0, 0}, 180}, false},
      TSceneEntry{(FDir / "broken.pmx").string(), {}, {}, false},
      TSceneEntry{Model(), {}, {}, true},
  };
  TScene Scene;
  const std::vector<std::string> Failures = Scene.Load(Description);
  ASSERT_EQ(Failures.size(), 1u);
  EXPECT_NE(Failures[0].find("broken.pmx"), std::string::npos) << Failures[0];
  ASSERT_EQ(Scene.Models().size(), 3u);
  EXPECT_TRUE(Scene.Models()[2]->Stage());
  EXPECT_NEAR(Scene.Clock().Length(), 61 * 100.0 / 3.0, 1e-9) << "the longest motion";

  auto Rise = [&](int AModel) {
    const TSceneModel& M = *Scene.Models()[AModel];
    return M.Core().BoneGlobalMatrix()[M.Pmx().IndexOfBone("センター")].W.Y;
  };
  Scene.AdvanceTo(1500, TVec3f(0, 1.5f, 5), true);
  EXPECT_NEAR(Rise(0), 1.0f, 1e-5f) << "the short dance holds its last frame";
  EXPECT_NEAR(Rise(1), 1.5f, 1e-5f) << "frame 45 of 60";
  EXPECT_NEAR(Rise(2), 0.0f, 1e-6f) << "the stage has no motion";

  // The eye at (1, 1.5, -5) stands 5 units in front of the turned dancer: in her own frame (by
  // hand: turned 180 degrees and moved 1 unit along X) that is (0, 1.5, 5).
  // The short dance is held at its last key (frame 30, 1000 ms); the long one plays on.
  auto HeadAfterTurnTo = [&](const TVec3f* AEye, const std::string& AMotion) {
    const double Time = AMotion == Motion() ? 1000 : 1500;
    TSceneModel Reference(Model());
    TMotionSet Motions;
    if (!AMotion.empty()) Motions.Add(AMotion);
    Reference.SetMotions(std::move(Motions), {});
    Reference.Core().ApplyMotionByTime(Time);
    Reference.Core().BeginFrame();
    if (AEye) Reference.Core().FaceTurn(*AEye);
    Reference.Core().ApplyMotionByTime(Time);
    Reference.Core().EndFrame();
    return Reference.Core().BoneGlobalMatrix()[1];
  };
  auto Head = [&](int AModel) { return Scene.Models()[AModel]->Core().BoneGlobalMatrix()[1]; };
  auto Same = [](const TMatrix4f& A, const TMatrix4f& B) {
    for (int I = 0; I < 16; ++I)
      if (std::fabs(A.V[I] - B.V[I]) > 1e-5f) return false;
    return true;
  };
  const TVec3f Eye(1, 1.5f, -5), Local(0, 1.5f, 5);
  Scene.ToggleFaceTurn();
  Scene.AdvanceTo(1500, Eye, true);
  EXPECT_TRUE(Same(Head(1), HeadAfterTurnTo(&Local, LongPath))) << "turned to the eye in her frame";
  EXPECT_FALSE(Same(Head(1), HeadAfterTurnTo(nullptr, LongPath)));
  // In front of the two at the origin, off to one side: the dancer turns, the stage does not.
  const TVec3f Front(1, 0.5f, 5);
  Scene.AdvanceTo(1500, Front, true);
  EXPECT_TRUE(Same(Head(0), HeadAfterTurnTo(&Front, Motion())));
  EXPECT_FALSE(Same(Head(0), HeadAfterTurnTo(nullptr, Motion())));
  EXPECT_TRUE(Same(Head(2), HeadAfterTurnTo(nullptr, ""))) << "a stage keeps its face";

  // Tab goes round; a dropped motion goes to the selected model only; Delete takes it out.
  EXPECT_EQ(Scene.Selected(), Scene.Models()[0].get());
  Scene.SelectNext();
  Scene.SelectNext();
  EXPECT_EQ(Scene.SelectedIndex(), 2);
  Scene.SelectNext();
  EXPECT_EQ(Scene.SelectedIndex(), 0);
  Scene.SelectNext();
  TVmdBuilder Face;
  Face.AddMorphKey("照れ", 0, 1.0f);
  const std::string FacePath = (FDir / "face.vmd").string();
  Face.SaveToFile(FacePath);
  Scene.AddMotionFile(FacePath);
  EXPECT_EQ(Scene.Models()[1]->Motions().FileNames(),
            (std::vector<std::string>{LongPath, FacePath}));
  EXPECT_EQ(Scene.Models()[0]->Motions().FileNames(), std::vector<std::string>{Motion()});
  const TSceneModel* Stage = Scene.Models()[2].get();
  const std::unique_ptr<TSceneModel> Removed = Scene.RemoveSelected();
  ASSERT_EQ(Scene.Models().size(), 2u);
  EXPECT_EQ(Scene.Selected(), Stage) << "the next one is selected";
  EXPECT_NEAR(Scene.Clock().Length(), 31 * 100.0 / 3.0, 1e-9) << "the loop follows what is left";
  Scene.AddModel(std::make_unique<TSceneModel>(Model()));
  EXPECT_EQ(Scene.SelectedIndex(), 2) << "an added model is selected";

  // What a saved scene holds: the models with their motions, placement and kind, in order.
  const TSceneDescription Saved = Scene.Describe();
  ASSERT_EQ(Saved.Models.size(), 3u);
  EXPECT_EQ(Saved.Models[0], (TSceneEntry{Model(), {Motion()}, {}, false}));
  EXPECT_EQ(Saved.Models[1], (TSceneEntry{Model(), {}, {}, true}));
  EXPECT_EQ(Saved.Models[2], (TSceneEntry{Model(), {}, {}, false}));
}

// The placement's matrix, worked by hand: file units are tenths and the file's Z is mirrored; a
// turn of +90 degrees about the file's vertical takes the file's +X to its -Z, the viewer's +Z.
TEST(ScenePlacement, MovesAndTurnsAsTheFileFrameSays) {
  struct TCase {
    TModelPlacement Placement;
    TVec3f Point, Expected;
  } Cases[] = {
      {{{10, 20, 30}, 0}, {0, 0, 0}, {1, 2, -3}},
      {{{0, 0, 0}, 90}, {1, 0, 0}, {0, 0, 1}},
      {{{0, 0, 0}, 90}, {0, 0, 1}, {-1, 0, 0}},
      {{{10, 0, 0}, 180}, {0, 1.5f, 5}, {1, 1.5f, -5}},
      {{{0, -5, 0}, -90}, {0, 0, 1}, {1, -0.5f, 0}},
  };
  for (const TCase& C : Cases) {
    const TVec3f P = TransformPoint3f(C.Point, PlacementMatrix(C.Placement));
    EXPECT_NEAR(P.X, C.Expected.X, 1e-6f) << C.Placement.YawDegrees;
    EXPECT_NEAR(P.Y, C.Expected.Y, 1e-6f) << C.Placement.YawDegrees;
    EXPECT_NEAR(P.Z, C.Expected.Z, 1e-6f) << C.Placement.YawDegrees;
  }
}

}  // namespace
