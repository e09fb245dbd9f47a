// The morph kinds beyond vertex morphs as both paths of the controller core apply them: the walk
// budget of nested group morphs, the material-morph arithmetic, the UV channel of a UV morph and
// a bone morph's rotation. Internal to character/core (and its tests).
#pragma once

#include "character/core/PmxControllerCore.h"

// Morph data entries a walk through nested group morphs may look at in one ApplyMorph, over all
// groups: a file's groups can name each other so that the paths through them grow exponentially.
// Models have a few hundred; entries beyond the budget are not looked at.
inline constexpr int GroupMorphWalkBudget = 1 << 16;

// Accumulators of a material no morph touches: factors 1 and sums 0 in every field.
TMaterialMorphState MaterialMulIdentity();
TMaterialMorphState MaterialAddIdentity();
// One material-morph offset at weight AWeight folded into a material's accumulators: operation 0
// multiplies every factor by lerp(1, value, w) (tints: TextureMul, SphereMul, ToonMul), operation 1
// adds value * w to every sum (tints: TextureAdd, SphereAdd, ToonAdd); other operations nothing.
// False for an operation that is neither.
bool AccumulateMaterialMorph(TMaterialMorphState& AMul, TMaterialMorphState& AAdd,
                             const TPmxMorphMaterial& AData, float AWeight);
// base * factor + sum per value; the tints as accumulated.
TMaterialMorphState CombineMaterialMorphs(const TMaterialMorphState& ABase,
                                          const TMaterialMorphState& AMul,
                                          const TMaterialMorphState& AAdd);
// UV channel of a UV-kind morph (0 UV, 1-4 additional UV 1-4), -1 for other kinds.
inline int UVMorphChannel(TPmxMorphKind AKind) {
  return AKind >= mkUV && AKind <= mkAddUV4 ? static_cast<int>(AKind) - static_cast<int>(mkUV) : -1;
}
inline TQuaternion BoneMorphRotation(const TPmxMorphBone& AData) {
  return TQuaternion{{{AData.RotateValue.X, AData.RotateValue.Y, AData.RotateValue.Z}},
                     AData.RotateValue.W};
}
