// The fast path of the controller core against the literal reference: the same model, motion and
// calls must give the same floats to the bit in every piece of pose state and in both vertex
// buffers, frame after frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "character/core/MemorySkinTarget.h"
#include "character/core/PmxControllerCore.h"
#include "tools/testbed/GeneratedCharacter.h"
#include "tools/testbed/PmxReferenceCore.h"
#include "tools/testbed/RiggedCharacter.h"

namespace {

// Byte equality of two float arrays, reporting the first differing float.
template <class T>
::testing::AssertionResult SameBits(const char* AWhat, const std::vector<T>& A,
                                    const std::vector<T>& B) {
  if (A.size() != B.size())
    return ::testing::AssertionFailure() << AWhat << ": sizes " << A.size() << " vs " << B.size();
  const size_t Floats = A.size() * sizeof(T) / sizeof(float);
  const auto* FA = reinterpret_cast<const float*>(A.data());
  const auto* FB = reinterpret_cast<const float*>(B.data());
  for (size_t I = 0; I < Floats; ++I)
    if (std::memcmp(FA + I, FB + I, sizeof(float)) != 0)
      return ::testing::AssertionFailure()
             << AWhat << ": float " << I << " (element " << I / (sizeof(T) / sizeof(float))
             << ") differs: fast " << FA[I] << " vs reference " << FB[I];
  return ::testing::AssertionSuccess();
}

struct TPathPair {
  TPmx Pmx;
  TVmd Vmd;
  std::unique_ptr<TPmxControllerCore> Fast;
  std::unique_ptr<TPmxReferenceCore> Reference;
  std::unique_ptr<TMemorySkinTarget> FastOut, ReferenceOut;

  explicit TPathPair(const TGeneratedCharacter& AGen) {
    Pmx.LoadFromBytes(AGen.Model.Build());
    Vmd.LoadFromBytes(AGen.Motion.Build());
    Fast = std::make_unique<TPmxControllerCore>(Pmx);
    Reference = std::make_unique<TPmxReferenceCore>(Pmx);
    FastOut = std::make_unique<TMemorySkinTarget>(Pmx.VertexCount());
    ReferenceOut = std::make_unique<TMemorySkinTarget>(Pmx.VertexCount());
    Fast->SetSkinTarget(FastOut.get());
    Reference->SetSkinTarget(ReferenceOut.get());
    for (TPmxControllerCore* C : {static_cast<TPmxControllerCore*>(Fast.get()),
                                  static_cast<TPmxControllerCore*>(Reference.get())}) {
      C->ApplyMorph();
      C->UpdateBoneMatrix();
    }
  }

  ::testing::AssertionResult Same() const {
    const TPmxControllerCore& F = *Fast;
    const TPmxControllerCore& R = *Reference;
    for (auto Result :
         {SameBits("rotations", F.BoneRotations(), R.BoneRotations()),
          SameBits("translations", F.BoneTranslations(), R.BoneTranslations()),
          SameBits("global matrices", F.BoneGlobalMatrix(), R.BoneGlobalMatrix()),
          SameBits("skin matrices", F.SkinMatrix(), R.SkinMatrix()),
          SameBits("skin vertices", F.SkinVertices(), R.SkinVertices()),
          SameBits("morph rates", F.MorphRates(), R.MorphRates()),
          SameBits("effective rates", F.EffectiveMorphRates(), R.EffectiveMorphRates()),
          SameBits("material states", F.MaterialStates(), R.MaterialStates()),
          SameBits("UV", F.MorphedUVs(0), R.MorphedUVs(0)),
          SameBits("additional UV 1", F.MorphedUVs(1), R.MorphedUVs(1)),
          SameBits("additional UV 4", F.MorphedUVs(4), R.MorphedUVs(4)),
          SameBits("positions", FastOut->Positions, ReferenceOut->Positions),
          SameBits("normals", FastOut->Normals, ReferenceOut->Normals)})
      if (!Result) return Result;
    if (F.UVsChanged() != R.UVsChanged())
      return ::testing::AssertionFailure() << "UVs changed: fast " << F.UVsChanged();
    if (FastOut->PositionWrites != ReferenceOut->PositionWrites)
      return ::testing::AssertionFailure() << "different number of skinning passes";
    return ::testing::AssertionSuccess();
  }

  template <class TCall>
  void Both(TCall ACall) {
    ACall(static_cast<TPmxControllerCore&>(*Fast));
    ACall(static_cast<TPmxControllerCore&>(*Reference));
  }
};

TGeneratedCharacterOptions LargeOptions() {
  TGeneratedCharacterOptions O;
  O.VertexCount = 30000;
  O.BoneCount = 300;
  O.VertexMorphCount = 50;
  O.OffsetsPerMorph = 400;
  O.BoneKeyCount = 20000;
  O.MorphKeyCount = 3000;
  O.FrameSpan = 600;
  O.ExtraIKChains = 6;
  return O;
}

void RunScenario(TPathPair& Pair, int ASteps);

}  // namespace

TEST(CoreEquivalence, FastPathMatchesReferenceToTheBitOverManyFrames) {
  const TGeneratedCharacter Gen = GenerateCharacter(LargeOptions());
  TPathPair Pair(Gen);
  ASSERT_GE(Pair.Pmx.BoneCount(), 300);
  // All three Euler orders and a fixed link are among the chains.
  int Orders[3] = {0, 0, 0}, Fixed = 0;
  for (const TPmxBone& Bone : Pair.Pmx.BoneList())
    for (const TPmxIKLink& Link : Bone.IKLinks) {
      if (Link.AngleLimit) ++Orders[Link.Euler];
      if (Link.AxisType == atFixed) ++Fixed;
    }
  ASSERT_TRUE(Orders[etXYZ] && Orders[etYZX] && Orders[etZXY] && Fixed);
  ASSERT_TRUE(Pair.Same()) << "rest pose";

  std::vector<std::string> Unmatched;
  Pair.Both([&](TPmxControllerCore& C) {
    C.LoadMotion(Pair.Vmd, [&](std::span<const uint8_t> ARaw) {
      Unmatched.emplace_back(reinterpret_cast<const char*>(ARaw.data()), ARaw.size());
    });
  });
  ASSERT_EQ(Unmatched.size(), 2u);  // one unmatched morph key, reported by each core
  ASSERT_GT(Pair.Fast->FrameCount(), 0u);

  RunScenario(Pair, 160);
}

// With only one half of the buffers to write, the fast path streams through its narrow loop; each
// half must still match the reference.
TEST(CoreEquivalence, OneHalfSkinningMatchesReferenceToTheBit) {
  TGeneratedCharacterOptions Options = LargeOptions();
  Options.VertexCount = 6000;
  Options.BoneKeyCount = 4000;
  const TGeneratedCharacter Gen = GenerateCharacter(Options);
  for (bool Positions : {true, false}) {
    TPathPair Pair(Gen);
    Pair.FastOut->WithPositions = Positions;
    Pair.FastOut->WithNormals = !Positions;
    Pair.Both([&](TPmxControllerCore& C) { C.LoadMotion(Pair.Vmd); });
    // Compare the written half only.
    auto& Withheld = Positions ? Pair.ReferenceOut->Normals : Pair.ReferenceOut->Positions;
    auto& FastWithheld = Positions ? Pair.FastOut->Normals : Pair.FastOut->Positions;
    for (int Step = 0; Step < 40; ++Step) {
      Pair.Both([&](TPmxControllerCore& C) { C.ApplyMotionByFrame(Step * 7.3); });
      std::fill(Withheld.begin(), Withheld.end(), 0.0f);
      std::fill(FastWithheld.begin(), FastWithheld.end(), 0.0f);
      ASSERT_TRUE(Pair.Same()) << (Positions ? "positions" : "normals") << " step " << Step;
    }
  }
}

// With physics the fast path skins the vertices the bodies cannot move while the step runs and
// the others after it, from two streams of its own; the reference steps, then skins everything.
TEST(CoreEquivalence, SkinningAroundThePhysicsStepMatchesReferenceToTheBit) {
  TGeneratedCharacterOptions Options = LargeOptions();
  Options.VertexCount = 12000;
  Options.BoneKeyCount = 6000;
  TGeneratedCharacter Gen = GenerateCharacter(Options);
  AddGeneratedRig(Gen.Model, TGeneratedRig{20, 60, 100});
  TPathPair Pair(Gen);
  ASSERT_TRUE(Pair.Same()) << "rest pose";
  Pair.Both([&](TPmxControllerCore& C) { C.LoadMotion(Pair.Vmd); });
  int Awake = 0;
  double Frame = 10.0;
  for (int Step = 0; Step < 60; ++Step) {
    // Half a frame a draw (one step each), a seek now and then (a reset), a frame with face
    // tracking, and physics switched off for a while.
    Frame = Step % 25 == 24 ? Frame - 40.0 : Frame + 0.5;
    if (Step == 40) Pair.Both([](TPmxControllerCore& C) { C.SetPhysicsEnabled(false); });
    if (Step == 45) Pair.Both([](TPmxControllerCore& C) { C.SetPhysicsEnabled(true); });
    Pair.Both([&](TPmxControllerCore& C) {
      C.BeginFrame();
      if (Step % 3 == 0) C.FaceTurn(TVec3f(0.3f, 1.5f, 2.0f));
      C.ApplyMotionByFrame(Frame);
      C.EndFrame();
    });
    Awake = std::max(Awake, Pair.Fast->Physics()->AwakeBodyCount());
    ASSERT_TRUE(Pair.Same()) << "step " << Step << " frame " << Frame;
  }
  EXPECT_GT(Awake, 30);  // the bodies did swing
}

namespace {

void RunScenario(TPathPair& Pair, int ASteps) {
  TGeneratorRandom Rnd(99);
  for (int Step = 0; Step < ASteps; ++Step) {
    // Whole, fractional, wrapped and out-of-range frames.
    const double Frame =
        Step % 11 == 0 ? static_cast<double>(Rnd.Below(700)) : Rnd.Range(-2.0f, 1300.0f);
    Pair.Both([&](TPmxControllerCore& C) { C.ApplyMotionByFrame(Frame); });
    ASSERT_TRUE(Pair.Same()) << "step " << Step << " frame " << Frame;
    switch (Step % 8) {
      case 1: {
        const int M = Rnd.Below(Pair.Fast->MorphCount());
        const float W = Rnd.Range(-0.5f, 1.5f);
        Pair.Both([&](TPmxControllerCore& C) { C.SetMorphRate(M, W); });
        break;
      }
      case 2: {
        // One frame of the viewer: face tracking and the motion posed and skinned once.
        const TVec3f Eye(Rnd.Range(-1, 1), Rnd.Range(0.5f, 2.0f), Rnd.Range(-1, 3));
        const double At = Rnd.Range(0.0f, 700.0f);
        Pair.Both([&](TPmxControllerCore& C) {
          C.BeginFrame();
          C.FaceTurn(Eye);
          C.ApplyMotionByFrame(At);
          C.EndFrame();
        });
        break;
      }
      case 3: {
        const TVec3f Eye(Rnd.Range(-1, 1), Rnd.Range(0.5f, 2.0f), Rnd.Range(-1, 3));
        Pair.Both([&](TPmxControllerCore& C) { C.FaceTurn(Eye); });
        break;
      }
      case 5: {
        const float Angle = Rnd.Range(-20, 20);
        Pair.Both([&](TPmxControllerCore& C) { C.CockHead(Angle); });
        break;
      }
      case 6:
        Pair.Both([&](TPmxControllerCore& C) { C.NextFrame(); });
        break;
      case 7:
        Pair.Both([&](TPmxControllerCore& C) {
          C.PrevFrame();
          C.Mabataki(0.5f);
          C.ApplyMotionByTime(Step * 123.4);
        });
        break;
      default:
        break;
    }
    ASSERT_TRUE(Pair.Same()) << "after the call of step " << Step;
  }
}

}  // namespace
