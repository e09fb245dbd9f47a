// DemoCharacter: the default character of the viewer, built in code: a stylised girl with twin
// tails (skeleton with conventional Japanese bone names and leg IK, materials, morphs), her dance
// motion, the camera that films it, her textures and the ten shared toon ramps.
// Depends on the PMX/VMD writer (formats/PmxWriter.h) and tools/demo/DemoImages.
#pragma once

#include <cstdint>
#include <string>

#include "formats/PmxWriter.h"
#include "tools/demo/DemoImages.h"

// Where the character stands: the viewer starts at (0, 1.7, 2) looking along -Z, and from there a
// figure 4.5 units away shows whole, feet on the visible ground, her shadow behind her.
inline constexpr float kDemoStandZ = -2.5f;

// Fixed file names below the output folder.
inline constexpr const char* kDemoModelPath = "mmd/model/model.pmx";
inline constexpr const char* kDemoMotionPath = "mmd/motion/motion.vmd";
inline constexpr const char* kDemoCameraPath = "mmd/motion/camera.vmd";
inline constexpr int kDemoMotionFrames = 360;  // 12 s at 30 frames per second, looping
// The dance switches the leg IK off over these frames and moves the legs by their own keys.
inline constexpr uint32_t kDemoIKOffFrom = 45, kDemoIKOffTo = 105;
// A morph whose name is longer than a motion file's 15 name bytes (22 bytes in code page 932); the
// dance keys it by the cut name.
inline constexpr const char* kDemoLongMorphName = "ウィンク右ちょっと強め";
// Morphs of every kind the dance keys: a group (blink and mouth), a bone morph, a material morph
// and a UV morph.
inline constexpr const char* kDemoLaughMorph = "笑い";
inline constexpr const char* kDemoTiltMorph = "首かしげ";
inline constexpr const char* kDemoFlushMorph = "赤面";
inline constexpr const char* kDemoHighlightMorph = "ハイライト移動";

TPmxBuilder BuildDemoModel();
TVmdBuilder BuildDemoMotion();
// The camera motion of the dance: camera keys only, as the viewer reads them from camera.vmd.
TVmdBuilder BuildDemoCamera();

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
// Writes ABytes at ARelative below AOutputFolder, making its folders; false with AError naming
// the file when it cannot.
bool WriteDemoFile(const std::string& AOutputFolder, const std::string& ARelative,
                   const TBytes& ABytes, std::string& AError);
