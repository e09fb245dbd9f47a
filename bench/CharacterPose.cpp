// The character controller core on a generated heavy character (100,000 vertices with BDEF1/2/4,
// SDEF and QDEF mixed, 300 bones, 4 IK chains of 40 iterations with knee limits, 50 vertex morphs,
// 20,000 bone keys each eased on every channel, 3,000 morph keys, IK switches and a 100-key
// camera track): one ApplyMotionByFrame (sampling, morphs, IK, append, matrices, skinning of
// positions and normals), a whole viewer frame (face tracking, motion and camera, skinned once),
// and skinning alone, for the literal reference and the fast path.
#include <benchmark/benchmark.h>

#include <memory>

#include "character/core/CameraMotion.h"
#include "character/core/PmxControllerCore.h"
#include "character/core/PmxReferenceCore.h"
#include "tests/character/GeneratedCharacter.h"

namespace {

struct THeavyCharacter {
  TPmx Pmx;
  TVmd Vmd;
  explicit THeavyCharacter(float AIKGoalScale, bool ACurvedKeys = true) {
    TGeneratedCharacterOptions Options;
    Options.IKGoalScale = AIKGoalScale;
    Options.CurvedKeys = ACurvedKeys;
    const TGeneratedCharacter Gen = GenerateCharacter(Options);
    Pmx.LoadFromBytes(Gen.Model.Build());
    Vmd.LoadFromBytes(Gen.Motion.Build());
  }
};

const THeavyCharacter& Heavy() {
  static const THeavyCharacter Instance(1.0f);
  return Instance;
}
// The same character with linear keys only: what the curves cost.
const THeavyCharacter& Linear() {
  static const THeavyCharacter Instance(1.0f, false);
  return Instance;
}
// The same character with the feet's goals out of reach: all four chains run 40 iterations.
const THeavyCharacter& Stretched() {
  static const THeavyCharacter Instance(20.0f);
  return Instance;
}

// Opens the skinning step alone to the benchmark.
template <class TCore>
struct TSkinOnly : TCore {
  using TCore::Skin;
  using TCore::TCore;
};

template <class TCore, const THeavyCharacter& (*ACharacter)() = Heavy>
void ApplyMotionByFrame(benchmark::State& AState) {
  const THeavyCharacter& H = ACharacter();
  TCore Core(H.Pmx);
  TMemorySkinTarget Out(H.Pmx.VertexCount());
  Core.SetSkinTarget(&Out);
  Core.ApplyMorph();
  Core.UpdateBoneMatrix();
  Core.LoadMotion(H.Vmd);
  double Frame = 0.0;
  for (auto _ : AState) {
    Core.ApplyMotionByFrame(Frame);
    benchmark::DoNotOptimize(Out.Positions.data());
    Frame += 1.37;
  }
  AState.counters["vertices"] = H.Pmx.VertexCount();
  AState.counters["bones"] = H.Pmx.BoneCount();
}

// One desktop frame as the viewer runs it: the face turned toward the eye, the motion sampled,
// both posed and skinned once, and the camera sampled.
template <class TCore>
void ViewerFrame(benchmark::State& AState) {
  const THeavyCharacter& H = Heavy();
  TCore Core(H.Pmx);
  TMemorySkinTarget Out(H.Pmx.VertexCount());
  Core.SetSkinTarget(&Out);
  Core.ApplyMorph();
  Core.UpdateBoneMatrix();
  Core.LoadMotion(H.Vmd);
  const TCameraMotion Camera(H.Vmd.CameraMotions());
  double Frame = 0.0;
  for (auto _ : AState) {
    Core.BeginFrame();
    Core.FaceTurn(TVec3f(0.0f, 1.5f, 3.0f));
    Core.ApplyMotionByFrame(Frame);
    Core.EndFrame();
    benchmark::DoNotOptimize(Camera.Sample(Frame));
    benchmark::DoNotOptimize(Out.Positions.data());
    Frame += 1.37;
  }
}

template <class TCore>
void Skinning(benchmark::State& AState) {
  const THeavyCharacter& H = Heavy();
  TSkinOnly<TCore> Core(H.Pmx);
  TMemorySkinTarget Out(H.Pmx.VertexCount());
  Core.SetSkinTarget(&Out);
  Core.LoadMotion(H.Vmd);
  Core.ApplyMotionByFrame(100.5);
  for (auto _ : AState) {
    Core.Skin(Out);
    benchmark::DoNotOptimize(Out.Positions.data());
  }
}

template <class TCore>
void Morphing(benchmark::State& AState) {
  const THeavyCharacter& H = Heavy();
  TCore Core(H.Pmx);
  TMemorySkinTarget Out(H.Pmx.VertexCount());
  Core.SetSkinTarget(&Out);
  Core.LoadMotion(H.Vmd);
  Core.ApplyMotionByFrame(100.5);
  for (auto _ : AState) {
    Core.ApplyMorph();
    benchmark::DoNotOptimize(Core.SkinVertices().data());
  }
}

}  // namespace

BENCHMARK(ApplyMotionByFrame<TPmxReferenceCore>)
    ->Name("ApplyMotionByFrame/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ApplyMotionByFrame<TPmxControllerCore>)
    ->Name("ApplyMotionByFrame/fast")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ApplyMotionByFrame<TPmxControllerCore, Linear>)
    ->Name("ApplyMotionByFrame/fast/linear-keys")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ViewerFrame<TPmxReferenceCore>)
    ->Name("ViewerFrame/reference")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ViewerFrame<TPmxControllerCore>)->Name("ViewerFrame/fast")->Unit(benchmark::kMillisecond);
BENCHMARK(ApplyMotionByFrame<TPmxReferenceCore, Stretched>)
    ->Name("ApplyMotionByFrame/reference/IK-out-of-reach")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ApplyMotionByFrame<TPmxControllerCore, Stretched>)
    ->Name("ApplyMotionByFrame/fast/IK-out-of-reach")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Skinning<TPmxReferenceCore>)->Name("Skinning/reference")->Unit(benchmark::kMillisecond);
BENCHMARK(Skinning<TPmxControllerCore>)->Name("Skinning/fast")->Unit(benchmark::kMillisecond);
BENCHMARK(Morphing<TPmxReferenceCore>)->Name("ApplyMorph/reference")->Unit(benchmark::kMillisecond);
BENCHMARK(Morphing<TPmxControllerCore>)->Name("ApplyMorph/fast")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
