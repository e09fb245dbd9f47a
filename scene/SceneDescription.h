// SceneDescription: a scene as files name it: the models and stages in order, each with its model
// file, its motion files and where it stands, plus the camera file, the song and its offset. The
// command line, the scene file and the window's save all speak it; TScene loads it.
// Part of the scene; depends on math and formats (the file's units and frame).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "math/VectorTypes.h"

// Where a model stands: a position in model units in the file's frame (as a PMX position: about
// ten to a viewer unit, Z pointing away from a model that faces the front) and a turn about the
// vertical in degrees, turning as a key of that angle on the model's root bone would.
struct TModelPlacement {
  std::array<float, 3> At{0.0f, 0.0f, 0.0f};
  float YawDegrees = 0.0f;
  bool operator==(const TModelPlacement&) const = default;
};

struct TSceneEntry {
  // The model file; empty (from the command line) means the default character.
  std::string Path;
  std::vector<std::string> MotionPaths;  // merged in this order
  TModelPlacement Placement;
  // A stage is drawn, animated and simulated like any model, but the face turn leaves it alone
  // and the shadow is fitted to the dancers, not to it.
  bool Stage = false;
  bool operator==(const TSceneEntry&) const = default;
};

struct TSceneDescription {
  std::vector<TSceneEntry> Models;  // dancers and stages in the order they were named
  std::string CameraPath;           // empty: the motions' own camera keys
  std::string SongPath;             // empty: no music
  double SongOffsetMs = 0.0;        // positive: the song starts this much later than the dance
  // False for the fixed folder beside the executable, where a missing motion or camera file just
  // means none.
  bool Named = true;
  bool operator==(const TSceneDescription&) const = default;
};

// The placement as a model-to-world matrix in the viewer's frame (row vectors: p' = p * M): the
// turn, then the move, both converted from the file's frame as the readers convert positions and
// rotations.
TMatrix4f PlacementMatrix(const TModelPlacement& APlacement);
