// The default character's rigid bodies and joints: twin tails as jointed chains, a pleated skirt of
// hinged panels, the chest ribbon's tails on springs, and the head, chest, hips and legs as bodies
// that follow their bones for the rest to collide with. Depends on the PMX writer
// (formats/PmxWriter.h).
#pragma once

#include <vector>

#include "formats/PmxWriter.h"

// Pleat columns of the skirt, each a panel from the waist and one below it.
inline constexpr int kDemoSkirtColumns = 8;

// The bones the rig hangs its bodies on (model indices). Tail chains root first; the skirt's
// panels per column: top (at the waist) then bottom.
struct TDemoRigBones {
  int Head = -1, Upper = -1, Upper2 = -1, Lower = -1;
  int Leg[2] = {-1, -1}, Knee[2] = {-1, -1};
  int Hair[2] = {-1, -1};
  std::vector<int> Tail[2];
  int SkirtTop[kDemoSkirtColumns] = {}, SkirtBottom[kDemoSkirtColumns] = {};
  int Ribbon[2] = {-1, -1};
  float TailTip[2][3] = {};    // where each tail ends (model space)
  float RibbonTip[2][3] = {};  // where each ribbon tail ends
};

// Adds the bodies and joints for the bones in ABones (all placed already).
void AddDemoPhysicsRig(TPmxBuilder& B, const TDemoRigBones& ABones);
