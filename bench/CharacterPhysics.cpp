// The heavy generated character (see CharacterPose.cpp) with a rig of 180 rigid bodies (60 that
// follow the humanoid's bones, 120 simulated on the chain bones) and 230 spring joints: a whole
// frame of the production path (motion, morphs, IK, physics, skinning) with physics on and off, at
// a 60 Hz display (half a motion frame a frame: one physics step) and at 30 Hz (two steps), and
// the physics step alone.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "character/core/MemorySkinTarget.h"
#include "character/core/PmxControllerCore.h"
#include "character/physics/PmxPhysics.h"
#include "tools/testbed/GeneratedCharacter.h"
#include "tools/testbed/RiggedCharacter.h"

namespace {

struct TRiggedCharacter {
  TPmx Pmx;
  TVmd Vmd;
  TRiggedCharacter() {
    TGeneratedCharacter Gen = GenerateCharacter(TGeneratedCharacterOptions{});
    TPmxBuilder& B = Gen.Model;
    AddGeneratedRig(B);
    Pmx.LoadFromBytes(B.Build());
    Vmd.LoadFromBytes(Gen.Motion.Build());
  }
};

const TRiggedCharacter& Rigged() {
  static const TRiggedCharacter Instance;
  return Instance;
}

// One viewer frame: the motion sampled AFramesPerDraw frames on, posed, physics, skinned once.
void FullFrame(benchmark::State& AState, bool APhysics, double AFramesPerDraw) {
  const TRiggedCharacter& H = Rigged();
  TPmxControllerCore Core(H.Pmx);
  TMemorySkinTarget Out(H.Pmx.VertexCount());
  Core.SetSkinTarget(&Out);
  Core.SetPhysicsEnabled(APhysics);
  Core.ApplyMorph();
  Core.UpdateBoneMatrix();
  Core.LoadMotion(H.Vmd);
  // The first frame resets the bodies (and settles them): not part of a frame in the dance.
  Core.ApplyMotionByFrame(0.0);
  double Frame = AFramesPerDraw;
  for (auto _ : AState) {
    Core.BeginFrame();
    Core.ApplyMotionByFrame(Frame);
    Core.EndFrame();
    benchmark::DoNotOptimize(Out.Positions.data());
    Frame += AFramesPerDraw;
  }
  AState.counters["bodies"] = H.Pmx.RigidBodyCount();
  AState.counters["joints"] = H.Pmx.JointCount();
  if (Core.Physics()) AState.counters["activeJoints"] = Core.Physics()->ActiveJointCount();
}
void FullFrame60Hz(benchmark::State& AState) {
  FullFrame(AState, true, 0.5);
}
void FullFrame30Hz(benchmark::State& AState) {
  FullFrame(AState, true, 1.0);
}
void FullFrameNoPhysics(benchmark::State& AState) {
  FullFrame(AState, false, 0.5);
}

// The physics alone: the bone-following bodies to the bones, one 1/60 s step, the simulated
// bodies' bones written back (the pose is the motion's, sampled once per iteration beforehand).
void PhysicsStep(benchmark::State& AState) {
  const TRiggedCharacter& H = Rigged();
  TPmxControllerCore Core(H.Pmx);
  Core.SetPhysicsEnabled(false);
  Core.LoadMotion(H.Vmd);
  std::vector<int> Parent, Order;
  for (int I = 0; I < Core.BoneCount(); ++I) Parent.push_back(Core.BoneParent(I));
  // Parents before children: by depth.
  std::vector<int> Depth(static_cast<size_t>(Core.BoneCount()), 0);
  for (int I = 0; I < Core.BoneCount(); ++I)
    for (int P = Parent[I]; P >= 0; P = Parent[P]) ++Depth[I];
  for (int D = 0, Placed = 0; Placed < Core.BoneCount(); ++D)
    for (int I = 0; I < Core.BoneCount(); ++I)
      if (Depth[I] == D) Order.push_back(I), ++Placed;
  TPmxPhysics Physics(H.Pmx, Parent, Order);
  double Frame = 0.0;
  Core.ApplyMotionByFrame(Frame);
  std::vector<TMatrix4f> Globals = Core.BoneGlobalMatrix();
  Physics.Reset(Globals);
  for (auto _ : AState) {
    AState.PauseTiming();
    Frame += 0.5;
    Core.ApplyMotionByFrame(Frame);
    Globals = Core.BoneGlobalMatrix();
    AState.ResumeTiming();
    benchmark::DoNotOptimize(Physics.Update(Globals, PhysicsStepSeconds).data());
  }
}

}  // namespace

BENCHMARK(FullFrame60Hz)->Unit(benchmark::kMicrosecond);
BENCHMARK(FullFrame30Hz)->Unit(benchmark::kMicrosecond);
BENCHMARK(FullFrameNoPhysics)->Unit(benchmark::kMicrosecond);
BENCHMARK(PhysicsStep)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
