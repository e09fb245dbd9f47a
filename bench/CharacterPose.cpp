// The character controller core on a generated heavy character (100,000 vertices with BDEF1/2/4,
// SDEF (a fifth) and QDEF mixed, 300 bones, 4 IK chains of 40 iterations with knee limits, 50
// morphs (25 vertex, 10 group, 5 bone, 5 material, 5 UV) all keyed,
// 20,000 bone keys each eased on every channel, 3,000 morph keys, IK switches and a 100-key
// camera track): one ApplyMotionByFrame (sampling, morphs, IK, append, matrices, skinning of
// positions and normals), a whole viewer frame (face tracking, motion and camera, skinned once),
// and skinning alone, for the literal reference and the fast path.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "character/core/CameraMotion.h"
#include "character/core/MemorySkinTarget.h"
#include "character/core/ParallelChunks.h"
#include "character/core/PmxControllerCore.h"
#include "tools/testbed/GeneratedCharacter.h"
#include "tools/testbed/PmxReferenceCore.h"

namespace {

struct THeavyCharacter {
  TPmx Pmx;
  TVmd Vmd;
  explicit THeavyCharacter(const TGeneratedCharacterOptions& AOptions) {
    const TGeneratedCharacter Gen = GenerateCharacter(AOptions);
    Pmx.LoadFromBytes(Gen.Model.Build());
    Vmd.LoadFromBytes(Gen.Motion.Build());
  }
};

template <class TChange>
TGeneratedCharacterOptions Options(TChange AChange) {
  TGeneratedCharacterOptions O;
  AChange(O);
  return O;
}

const THeavyCharacter& Heavy() {
  static const THeavyCharacter Instance{TGeneratedCharacterOptions{}};
  return Instance;
}
// The same character with linear keys only: what the curves cost.
const THeavyCharacter& Linear() {
  static const THeavyCharacter Instance(
      Options([](TGeneratedCharacterOptions& O) { O.CurvedKeys = false; }));
  return Instance;
}
// The same character without SDEF vertices (their runs BDEF1/2/4 or QDEF): what SDEF costs.
const THeavyCharacter& NoSdef() {
  static const THeavyCharacter Instance(
      Options([](TGeneratedCharacterOptions& O) { O.SdefPercent = 0; }));
  return Instance;
}
// Without SDEF and with 50 vertex morphs only, as the character was before SDEF and the other morph
// kinds: what the eased keys cost on their own.
void PlainSkinning(TGeneratedCharacterOptions& O) {
  O.SdefPercent = 0;
  O.VertexMorphCount = 50;
  O.GroupMorphCount = O.BoneMorphCount = O.MaterialMorphCount = O.UVMorphCount = 0;
}
const THeavyCharacter& Plain() {
  static const THeavyCharacter Instance(Options(PlainSkinning));
  return Instance;
}
const THeavyCharacter& PlainLinear() {
  static const THeavyCharacter Instance(Options([](TGeneratedCharacterOptions& O) {
    PlainSkinning(O);
    O.CurvedKeys = false;
  }));
  return Instance;
}
// The same character with the feet's goals out of reach: all four chains run 40 iterations.
const THeavyCharacter& Stretched() {
  static const THeavyCharacter Instance(
      Options([](TGeneratedCharacterOptions& O) { O.IKGoalScale = 20.0f; }));
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

template <class TCore, const THeavyCharacter& (*ACharacter)() = Heavy>
void Skinning(benchmark::State& AState) {
  const THeavyCharacter& H = ACharacter();
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

// The bytes Skinning/fast moves, moved without arithmetic: the vertex stream (weight methods,
// bones, weights, SDEF points, each SDEF vertex's bone pair and weight), the morphed rest positions
// and the rest normals read, positions and normals written, block by block in vertex order as the
// skinning goes. The skinning's yardstick: what this machine's memory allows.
struct TStreamCopy {
  const THeavyCharacter& H = Heavy();
  const TPmxControllerCore Core{H.Pmx};
  const size_t Vertices = static_cast<size_t>(H.Pmx.VertexCount());
  const size_t Words = Core.SkinStreamBytes() / sizeof(uint32_t);
  std::vector<uint32_t> Stream;
  std::vector<TVector3f> Normals;
  TMemorySkinTarget Out{H.Pmx.VertexCount()};
  std::atomic<uint32_t> Seen{0};
  TStreamCopy() : Stream(Words), Normals(Vertices) {
    for (size_t I = 0; I < Words; ++I) Stream[I] = static_cast<uint32_t>(I * 2654435761u);
    for (size_t V = 0; V < Vertices; ++V) Normals[V] = H.Pmx.GetVertex(static_cast<int>(V))->Normal;
  }
  // The vertices [AFirst, AFirst + ACount) and their share of the stream.
  void Block(size_t AFirst, size_t ACount) {
    uint32_t Bits = 0;
    for (size_t W = AFirst * Words / Vertices; W < (AFirst + ACount) * Words / Vertices; ++W)
      Bits |= Stream[W];
    std::memcpy(Out.Positions.data() + 3 * AFirst, &Core.SkinVertices()[AFirst].X,
                3 * ACount * sizeof(float));
    std::memcpy(Out.Normals.data() + 3 * AFirst, &Normals[AFirst].X, 3 * ACount * sizeof(float));
    Seen.fetch_or(Bits, std::memory_order_relaxed);
  }
  void Report(benchmark::State& AState) {
    benchmark::DoNotOptimize(Seen.load());
    AState.counters["bytes"] = static_cast<double>(Words * 4 + Vertices * 4 * 12);
  }
};

void StreamCopy(benchmark::State& AState) {
  TStreamCopy Copy;
  constexpr size_t Block = 512;
  for (auto _ : AState) {
    for (size_t V = 0; V < Copy.Vertices; V += Block)
      Copy.Block(V, std::min(Block, Copy.Vertices - V));
    benchmark::DoNotOptimize(Copy.Out.Positions.data());
    benchmark::DoNotOptimize(Copy.Out.Normals.data());
  }
  Copy.Report(AState);
}

// StreamCopy in the skinning's chunks spread over its threads: the bandwidth the threaded
// skinning could at best reach.
void StreamCopyThreaded(benchmark::State& AState) {
  TStreamCopy Copy;
  static constexpr size_t Chunk = 2048;
  for (auto _ : AState) {
    RunChunks((Copy.Vertices + Chunk - 1) / Chunk,
              [](void* ACopy, size_t AIndex) {
                TStreamCopy& C = *static_cast<TStreamCopy*>(ACopy);
                C.Block(AIndex * Chunk, std::min(Chunk, C.Vertices - AIndex * Chunk));
              },
              &Copy);
    benchmark::DoNotOptimize(Copy.Out.Positions.data());
    benchmark::DoNotOptimize(Copy.Out.Normals.data());
  }
  Copy.Report(AState);
  AState.counters["threads"] = static_cast<double>(ChunkThreads());
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
BENCHMARK(ApplyMotionByFrame<TPmxControllerCore, Plain>)
    ->Name("ApplyMotionByFrame/fast/vertex-morphs-no-SDEF")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ApplyMotionByFrame<TPmxControllerCore, PlainLinear>)
    ->Name("ApplyMotionByFrame/fast/vertex-morphs-no-SDEF/linear-keys")
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
BENCHMARK(Skinning<TPmxControllerCore, NoSdef>)
    ->Name("Skinning/fast/no-SDEF")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(StreamCopy)->Name("StreamCopy")->Unit(benchmark::kMillisecond);
BENCHMARK(StreamCopyThreaded)->Name("StreamCopy/threads")->Unit(benchmark::kMillisecond);
BENCHMARK(Morphing<TPmxReferenceCore>)->Name("ApplyMorph/reference")->Unit(benchmark::kMillisecond);
BENCHMARK(Morphing<TPmxControllerCore>)->Name("ApplyMorph/fast")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
