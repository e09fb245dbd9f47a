// quenlor_demo: writes the default character (model, textures, motion), the ten toon ramps, and the
// duet around the demo stage (stage, its lamps' motion, the mirrored dance, the scene file) below a
// folder, laid out as the viewer expects them beside its executable.
#include <cstdio>
#include <string>

#include "tools/demo/DemoCharacter.h"
#include "tools/demo/DemoStage.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  std::string Error;
  if (!WriteDemoAssets(argv[1], Error) || !WriteDemoStageAssets(argv[1], Error)) {
    std::fprintf(stderr, "quenlor_demo: %s\n", Error.c_str());
    return 1;
  }
  return 0;
}
