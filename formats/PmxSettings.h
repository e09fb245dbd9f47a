// Settings shared by the model and motion readers: how file coordinates become the system's
// right-handed frame. Fixed at build time; nothing changes them at run time.
#pragma once

// File positions are in tenths of a scene unit.
inline constexpr float PositionScale = 0.1f;
// The file's frame is left-handed: mirror Z of positions, normals and rotations, and reverse the
// triangle winding.
inline constexpr bool MirrorZ = true;
