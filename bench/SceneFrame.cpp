// A scene of one and of four copies of the heavy character with its rig of rigid bodies (see
// CharacterPhysics.cpp), read from files as the viewer reads them and placed ten file units apart:
// one frame of a 60 Hz display while the dance plays with physics on (every model's motion, pose,
// physics step and skinning). The four models run side by side on the worker threads.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "character/core/MemorySkinTarget.h"
#include "character/core/ParallelChunks.h"
#include "scene/Scene.h"
#include "tools/testbed/GeneratedCharacter.h"
#include "tools/testbed/RiggedCharacter.h"

namespace fs = std::filesystem;

namespace {

// The rigged character and its dance written once into a folder of their own.
class TSceneFiles {
 public:
  TSceneFiles() {
    FDir = fs::temp_directory_path() / ("quenlor_bench_scene_" + std::to_string(::getpid()));
    fs::create_directories(FDir);
    TGeneratedCharacter Gen = GenerateCharacter(TGeneratedCharacterOptions{});
    AddGeneratedRig(Gen.Model);
    Gen.Model.SaveToFile(Model());
    Gen.Motion.SaveToFile(Motion());
  }
  ~TSceneFiles() { fs::remove_all(FDir); }
  std::string Model() const { return (FDir / "rigged.pmx").string(); }
  std::string Motion() const { return (FDir / "dance.vmd").string(); }

 private:
  fs::path FDir;
};

const TSceneFiles& Files() {
  static const TSceneFiles Instance;
  return Instance;
}

double ProcessCpuSeconds() {
  timespec T{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &T);
  return static_cast<double>(T.tv_sec) + 1e-9 * static_cast<double>(T.tv_nsec);
}

void SceneFrame(benchmark::State& AState) {
  const int Count = static_cast<int>(AState.range(0));
  TSceneDescription Description;
  for (int I = 0; I < Count; ++I) {
    TSceneEntry Entry{Files().Model(), {Files().Motion()}, {}, false};
    Entry.Placement.At = {10.0f * static_cast<float>(I), 0.0f, 0.0f};
    Description.Models.push_back(std::move(Entry));
  }
  double Now = 0.0;
  TScene Scene([&] { return Now; });
  Scene.Load(Description);
  // Every model skins into memory as it would into its GPU buffers.
  std::vector<std::unique_ptr<TMemorySkinTarget>> Targets;
  for (const std::unique_ptr<TSceneModel>& Model : Scene.Models()) {
    Targets.push_back(std::make_unique<TMemorySkinTarget>(Model->Core().VertexCount()));
    Model->Core().SetSkinTarget(Targets.back().get());
  }
  Scene.TogglePlaying();
  const TVec3f Eye(0.0f, 1.5f, 5.0f);
  // The first frame resets the bodies (and settles them): not part of a frame in the dance.
  Scene.AdvanceTo(Scene.Clock().Position(), Eye);
  const double CpuBefore = ProcessCpuSeconds();
  for (auto _ : AState) {
    Now += 1000.0 / 60.0;
    Scene.AdvanceTo(Scene.Clock().Position(), Eye);
    for (const std::unique_ptr<TMemorySkinTarget>& Target : Targets)
      benchmark::DoNotOptimize(Target->Positions.data());
  }
  // The CPU time of every thread of the process per frame: against the frame's time, how many
  // cores the frame kept busy.
  AState.counters["processCpuUs"] = benchmark::Counter((ProcessCpuSeconds() - CpuBefore) * 1e6 /
                                                       static_cast<double>(AState.iterations()));
  AState.counters["threads"] = static_cast<double>(ChunkThreads());
}

}  // namespace

BENCHMARK(SceneFrame)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_MAIN();
