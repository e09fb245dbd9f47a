// A pose file poses a model exactly as a motion file with the same keys at frame 0: the keys read
// the same, the core samples, solves IK, morphs and skins the same, and bones the pose does not
// name stay at rest.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "formats/VpdWriter.h"
#include "tests/character/CoreFixture.h"
#include "tools/testbed/GeneratedCharacter.h"

namespace {

template <class T>
bool SameBits(const std::vector<T>& A, const std::vector<T>& B) {
  return A.size() == B.size() && std::memcmp(A.data(), B.data(), A.size() * sizeof(T)) == 0;
}

// A core over APmx that has loaded AVmd and applied it at AFrame.
struct TPosed {
  std::unique_ptr<TPmxControllerCore> Core;
  std::unique_ptr<TMemorySkinTarget> Out;
  TPosed(const TPmx& APmx, const TVmd& AVmd, double AFrame) {
    Core = std::make_unique<TPmxControllerCore>(APmx);
    Out = std::make_unique<TMemorySkinTarget>(APmx.VertexCount());
    Core->SetSkinTarget(Out.get());
    Core->ApplyMorph();
    Core->UpdateBoneMatrix();
    Core->LoadMotion(AVmd);
    Core->ApplyMotionByFrame(AFrame);
  }
};

::testing::AssertionResult SamePose(const TPosed& A, const TPosed& B) {
  const TPmxControllerCore &X = *A.Core, &Y = *B.Core;
  if (!SameBits(X.BoneRotations(), Y.BoneRotations()))
    return ::testing::AssertionFailure() << "rotations";
  if (!SameBits(X.BoneTranslations(), Y.BoneTranslations()))
    return ::testing::AssertionFailure() << "translations";
  if (!SameBits(X.BoneGlobalMatrix(), Y.BoneGlobalMatrix()))
    return ::testing::AssertionFailure() << "global matrices";
  if (!SameBits(X.MorphRates(), Y.MorphRates())) return ::testing::AssertionFailure() << "morphs";
  if (!SameBits(A.Out->Positions, B.Out->Positions) || !SameBits(A.Out->Normals, B.Out->Normals))
    return ::testing::AssertionFailure() << "skinned vertices";
  return ::testing::AssertionSuccess();
}

bool SameKeys(const TVmd& A, const TVmd& B) {
  return A.FrameCount() == B.FrameCount() && A.MotionCount() == B.MotionCount() &&
         A.SkinMotionCount() == B.SkinMotionCount() &&
         (A.MotionCount() == 0 ||
          std::memcmp(A.GetMotion(0), B.GetMotion(0), sizeof(TVmdMotion) * A.MotionCount()) == 0) &&
         (A.SkinMotionCount() == 0 ||
          std::memcmp(A.GetSkinMotion(0), B.GetSkinMotion(0),
                      sizeof(TVmdSkinMotion) * A.SkinMotionCount()) == 0);
}

}  // namespace

// A model written as files hold it (file units, left-handed): "base" at the origin, "arm" 10 up
// (its child), "hand" 20 up (the arm's child, no key); vertex 0 on base at (2, 0, 3), vertex 1 on
// the arm at (0, 20, 5), moved (10, 0, 0) by the morph "pout". The pose turns the arm a quarter
// about the file's X and sets pout to 1; it also names a bone the model does not have. Worked in
// the file's frame: vertex 1 becomes (10, 20, 5), turned about the arm's origin (0, 10, 0):
// (10, 10 - 5, 10) = (10, 5, 10); in the viewer's frame (1, 0.5, -1).
TEST(PoseFile, PosesAModelAsTheSameKeysAtFrameZeroOfAMotionWould) {
  TPmxBuilder M;
  M.Settings.FileFrame = true;
  const int Base = M.AddBone("base", NewVector3f(0, 0, 0));
  const int Arm = M.AddBone("arm", NewVector3f(0, 10, 0), Base);
  const int Hand = M.AddBone("hand", NewVector3f(0, 20, 0), Arm);
  const int V0 = M.AddVertex(NewVector3f(2, 0, 3), NewVector3f(0, 0, 1), PmxFloat2{0, 0}, Base);
  const int V1 = M.AddVertex(NewVector3f(0, 20, 5), NewVector3f(0, 0, 1), PmxFloat2{0, 0}, Arm);
  M.AddTriangle(V0, V1, V1);
  M.AddMaterial("body", 3);
  M.AddVertexMorphOffset(M.AddMorph("pout", mkVertex), V1, NewVector3f(10, 0, 0));
  TPmx Pmx;
  Pmx.LoadFromBytes(M.Build());

  const float S = static_cast<float>(std::sin(std::numbers::pi / 4));
  TVpdBuilder Pose;
  Pose.AddBone("arm", NewVector3f(0, 0, 0), NewVector4f(S, 0, 0, S));
  Pose.AddBone("tail", NewVector3f(1, 2, 3));  // not in the model
  Pose.AddMorph("pout", 1);
  TVmdBuilder Motion;
  Motion.FileFrame = true;
  Motion.AddBoneKey("arm", 0, NewVector3f(0, 0, 0), NewVector4f(S, 0, 0, S));
  Motion.AddBoneKey("tail", 0, NewVector3f(1, 2, 3));
  Motion.AddMorphKey("pout", 0, 1);

  TVmd FromPose, FromMotion;
  FromPose.LoadFromBytes(Pose.Build());
  FromMotion.LoadFromBytes(Motion.Build());
  EXPECT_TRUE(SameKeys(FromPose, FromMotion));

  for (double Frame : {0.0, 0.5}) {  // a pose holds: any time within it is the pose
    SCOPED_TRACE(Frame);
    const TPosed A(Pmx, FromPose, Frame), B(Pmx, FromMotion, Frame);
    EXPECT_TRUE(SamePose(A, B));
    const TPmxControllerCore& C = *A.Core;
    EXPECT_TRUE(Near3(TVec3f(A.Out->Positions[3], A.Out->Positions[4], A.Out->Positions[5]),
                      TVec3f(1, 0.5f, -1)));
    EXPECT_TRUE(Near3(TVec3f(A.Out->Positions[0], A.Out->Positions[1], A.Out->Positions[2]),
                      TVec3f(0.2f, 0, -0.3f)));
    // Base is not named: at rest; the hand follows the arm's turn, its own turn at rest.
    EXPECT_TRUE(SameTurn(C.BoneRotations()[Base], IdentityQuaternion));
    EXPECT_TRUE(SameTurn(C.BoneRotations()[Hand], IdentityQuaternion));
    EXPECT_TRUE(Near3(C.BoneTranslations()[Base], NewVector3f(0, 0, 0)));
    EXPECT_TRUE(Near3(XYZ3f(C.BoneGlobalMatrix()[Hand].W), NewVector3f(0, 1, -1)));
  }
}

// The generated humanoid (leg and toe IK, twist and append bones, group and bone morphs) posed by
// every one of its bones and morphs: the pose file and the motion file give the same state to the
// bit, IK included.
TEST(PoseFile, AWholeCharacterPosedByAPoseMatchesTheMotionToTheBit) {
  TGeneratedCharacterOptions O;
  O.VertexCount = 3000;
  O.BoneCount = 90;
  O.OffsetsPerMorph = 100;
  O.BoneKeyCount = 10;
  O.MorphKeyCount = 10;
  O.CameraKeyCount = 0;
  const TGeneratedCharacter Gen = GenerateCharacter(O);
  TPmx Pmx;
  Pmx.LoadFromBytes(Gen.Model.Build());

  TVpdBuilder Pose;
  TVmdBuilder Motion;
  Motion.FileFrame = true;
  TGeneratorRandom Random(7);
  auto Unit = [&] { return static_cast<float>(Random.Next() % 2001) / 1000.0f - 1.0f; };
  for (const TPmxBone& B : Gen.Model.Bones) {
    const TVector3f P = NewVector3f(Unit(), Unit(), Unit());
    float Q[4] = {Unit() * 0.3f, Unit() * 0.3f, Unit() * 0.3f, 1};
    const float N = std::sqrt(Q[0] * Q[0] + Q[1] * Q[1] + Q[2] * Q[2] + 1);
    const TVector4f R = NewVector4f(Q[0] / N, Q[1] / N, Q[2] / N, Q[3] / N);
    Pose.AddBone(B.NameJp, P, R);
    Motion.AddBoneKey(B.NameJp, 0, P, R);
  }
  for (const TPmxMorph& M : Gen.Model.Morphs) {
    const float W = (Unit() + 1) / 2;
    Pose.AddMorph(M.NameJp, W);
    Motion.AddMorphKey(M.NameJp, 0, W);
  }
  TVmd FromPose, FromMotion;
  FromPose.LoadFromBytes(Pose.Build());
  FromMotion.LoadFromBytes(Motion.Build());
  ASSERT_EQ(FromPose.MotionCount(), static_cast<int>(Gen.Model.Bones.size()));
  EXPECT_TRUE(SameKeys(FromPose, FromMotion));
  EXPECT_TRUE(SamePose(TPosed(Pmx, FromPose, 0), TPosed(Pmx, FromMotion, 0)));
}
