// TVpdBuilder: writes VPD pose text the way authoring tools do: Shift-JIS, CRLF line ends, the
// signature line, each value followed by its comment ("// 親ファイル名", "// trans x,y,z", ...),
// numbers with six decimals. Values are written as given: file units and the file's frame (the
// reader scales and mirrors them). For tests, fuzz seeds and tools. Depends on formats/PmxWriter.h
// and formats/TextDecoding.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "math/VectorTypes.h"

class TVpdBuilder {
 public:
  struct TBone {
    std::string Name;  // UTF-8, written as CP932
    TVector3f Position;
    TVector4f Rotation;
  };
  struct TMorph {
    std::string Name;  // UTF-8, written as CP932
    float Weight;
  };

  std::string Signature = "Vocaloid Pose Data file";
  std::string ModelName = "model.osm";  // UTF-8, written as CP932
  std::string LineEnd = "\r\n";
  bool Comments = true;  // the comment after each value and line, as authoring tools write
  std::vector<TBone> Bones;
  std::vector<TMorph> Morphs;

  void AddBone(std::string_view AName, const TVector3f& APosition = TVector3f{{0, 0, 0}},
               const TVector4f& ARotation = TVector4f{{0, 0, 0, 1}}) {
    Bones.push_back({std::string(AName), APosition, ARotation});
  }
  void AddMorph(std::string_view AName, float AWeight) {
    Morphs.push_back({std::string(AName), AWeight});
  }

  // The text in lines: UTF-8, before the line ends and the CP932 conversion.
  std::vector<std::string> Lines() const;
  std::vector<uint8_t> Build() const;
  void SaveToFile(const std::string& AFileName) const;
};

// A number as authoring tools write it ("%f": six decimals), or, when six decimals would not read
// back as the same float, its shortest exact text.
std::string VpdNumber(float AValue);
