// DemoStage: the demo's small stage and the duet scene around it: a round platform with a backdrop
// and a light rig whose lamps sweep over the dance, the lamps' motion, the default dance mirrored
// left-right for a second dancer, and the scene file that puts two default characters on the stage.
// Depends on the PMX/VMD writer (formats/PmxWriter.h) and tools/demo/DemoCharacter.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tools/demo/DemoCharacter.h"

// Fixed file names below the output folder.
inline constexpr const char* kDemoStagePath = "mmd/stage/stage.pmx";
inline constexpr const char* kDemoStageMotionPath = "mmd/motion/stage_lights.vmd";
inline constexpr const char* kDemoMirrorMotionPath = "mmd/motion/motion_mirror.vmd";
inline constexpr const char* kDemoDuetScenePath = "mmd/duet.scene.toml";

// The stage in file units (a character is about 16 tall): the platform's radius and depth below
// its top, the backdrop's height. The platform is centred where the default character stands
// (kDemoStandZ), its top a hair above the ground so that the two never fight over depth.
inline constexpr float kStageRadius = 25.0f;
inline constexpr float kStageDepth = 4.0f;
inline constexpr float kStageTopLift = 0.05f;
inline constexpr float kStageBackdropHeight = 32.0f;
inline constexpr int kStageLampCount = 4;
// Where the scene stands the two dancers, in file units left and right of the middle.
inline constexpr float kDuetSpacing = 8.0f;

// Bones: the root, the light bar (under the truss) and one bone per lamp, hung from the bar.
inline constexpr const char* kStageRootBone = "全ての親";
inline constexpr const char* kStageBarBone = "照明バー";
// The lamp bones are named 照明1 ... 照明4, from the audience's left to right.
std::string StageLampBone(int AIndex);

TPmxBuilder BuildDemoStage();
// The stage's textures (paths relative to the stage's folder).
std::vector<TDemoTexture> BuildDemoStageTextures();
// The lamps sweeping to and fro over the length of the default dance.
TVmdBuilder BuildDemoStageMotion();

// A bone name in code page 932 with 左 and 右 swapped, character by character (a name cut to 15
// bytes keeps its length and never has a double-byte character split by the swap).
std::string SwapLeftRightCp932(std::string_view ACp932);
// AMotion mirrored across the X = 0 plane: bone keys move to the other side's bone, positions and
// rotations are mirrored, the IK switches follow their bones. Morph and camera keys stay as they
// are (a face has no other side to swap to).
TVmdBuilder MirrorMotion(const TVmdBuilder& AMotion);

// The scene file's text: two default characters, the dance and its mirror image, on the stage.
// Paths are relative to the scene file's folder.
std::string BuildDuetSceneText();

// Writes the stage, its textures and motion, the mirrored dance and the scene file below
// AOutputFolder; false on any write error.
bool WriteDemoStageAssets(const std::string& AOutputFolder, std::string& AError);
