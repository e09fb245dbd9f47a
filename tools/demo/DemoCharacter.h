// DemoCharacter: the default character of the viewer, built in code: a stylised girl with twin
// tails (skeleton with conventional Japanese bone names and leg IK, materials, morphs), her dance
// motion, her textures and the ten shared toon ramps.
// Depends on the PMX/VMD writer (tests/support) and tools/demo/DemoImages.
#pragma once

#include <string>

#include "tests/support/PmxWriter.h"
#include "tools/demo/DemoImages.h"

// Where the character stands: the viewer starts at (0, 1.7, 2) looking along -Z, and from there a
// figure 4.5 units away shows whole, feet on the visible ground, her shadow behind her.
inline constexpr float kDemoStandZ = -2.5f;

// Fixed file names below the output folder.
inline constexpr const char* kDemoModelPath = "mmd/model/model.pmx";
inline constexpr const char* kDemoMotionPath = "mmd/motion/motion.vmd";
inline constexpr int kDemoMotionFrames = 360;  // 12 s at 30 frames per second, looping

TPmxBuilder BuildDemoModel();
TVmdBuilder BuildDemoMotion();

// The textures the model names (paths relative to the model's folder, '/' separated).
struct TDemoTexture {
  std::string Path;
  TBytes Bytes;
};
std::vector<TDemoTexture> BuildDemoTextures();
// Toon/toon01.bmp ... toon10.bmp: ramps read top (lit) to bottom (shade).
std::vector<TDemoTexture> BuildToonRamps();

// Writes model, textures, motion and toon ramps below AOutputFolder; false on any write error.
bool WriteDemoAssets(const std::string& AOutputFolder, std::string& AError);
