// The whole controller on the real GL driver (Mesa llvmpipe, offscreen): one ApplyMotionByFrame
// of the generated heavy character including the mapped GPU buffers and the 300 bone lines.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "gl/Bitmap.h"
#include "render/ModelDrawing.h"
#include "tools/testbed/GeneratedCharacter.h"

namespace fs = std::filesystem;

namespace {

void ApplyMotionByFrameOnGL(benchmark::State& AState) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    AState.SkipWithError("no SDL video");
    return;
  }
  SDL_Window* Window = CreateGLWindow("bench", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
  {
    TOpenGL GL(Window);
    const fs::path Dir =
        fs::temp_directory_path() / ("quenlor_bench_" + std::to_string(::getpid()));
    fs::create_directories(Dir / "Toon");
    for (int I = 1; I <= 10; ++I) {
      TBitmap Toon(2, 2, pf24bit);
      Toon.SaveToFile(Dir / "Toon" /
                      ("toon" + std::string(I < 10 ? "0" : "") + std::to_string(I) + ".bmp"));
    }
    const TGeneratedCharacter Gen = GenerateCharacter(TGeneratedCharacterOptions{});
    Gen.Model.SaveToFile((Dir / "model.pmx").string());
    Gen.Motion.SaveToFile((Dir / "motion.vmd").string());
    auto Main = std::make_unique<TMainProgram>(&GL);
    auto Bones = std::make_unique<TBoneProgram>(&GL);
    auto Model = std::make_unique<TSceneModel>((Dir / "model.pmx").string());
    TMotionSet Motions;
    Motions.Add((Dir / "motion.vmd").string());
    Model->SetMotions(std::move(Motions), {});
    // The drawing is the core's skin target: every pose is written into the GPU buffers.
    auto Drawing =
        std::make_unique<TModelDrawing>(&GL, Main.get(), Bones.get(), *Model, Dir.string() + "/");
    double Frame = 0.0;
    for (auto _ : AState) {
      Model->Core().ApplyMotionByFrame(Frame);
      Frame += 1.37;
    }
    glFinish();
    Drawing.reset();
    Model.reset();
    Main.reset();
    Bones.reset();
    fs::remove_all(Dir);
  }
  SDL_DestroyWindow(Window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

}  // namespace

BENCHMARK(ApplyMotionByFrameOnGL)
    ->Name("Controller/ApplyMotionByFrame/gl")
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
