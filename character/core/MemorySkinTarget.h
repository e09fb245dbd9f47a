// TMemorySkinTarget: a skin target of plain arrays, for the inspector's skinned output, tests,
// benchmarks and fuzz targets.
#pragma once

#include <cstddef>
#include <vector>

#include "character/core/PmxControllerCore.h"

// Skinning into plain memory; counts the writes so that callers can tell whether a pose was
// written at all.
class TMemorySkinTarget : public IPmxSkinTarget {
 public:
  explicit TMemorySkinTarget(int AVertexCount)
      : Positions(3 * static_cast<size_t>(AVertexCount)),
        Normals(3 * static_cast<size_t>(AVertexCount)) {}
  float* MapPositions() override {
    ++PositionWrites;
    return WithPositions ? Positions.data() : nullptr;
  }
  void UnmapPositions() override {}
  float* MapNormals() override {
    ++NormalWrites;
    return WithNormals ? Normals.data() : nullptr;
  }
  void UnmapNormals() override {}

  std::vector<float> Positions;
  std::vector<float> Normals;
  int PositionWrites = 0;
  int NormalWrites = 0;
  // A half withheld (Map yields nullptr) is not written.
  bool WithPositions = true;
  bool WithNormals = true;
};
