// TPmdBuilder: writes PMD (1.0) files in memory from the reader's own records (formats/Pmd.h),
// for tests and fuzz seeds. The records hold the file's values (file units, the file's
// left-handed frame, offsets of rigid bodies from their bones), so the writer converts nothing.
// Texts are given in UTF-8 and written as Shift-JIS into their fixed fields, cut to the field
// and, after the ending zero, filled with junk bytes as real files are.
// Depends on formats/Pmd.h only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/Pmd.h"

class TPmdBuilder {
 public:
  TPmdModel Model;
  // How many optional blocks to write (0-4: English names, toon list, rigid bodies, joints);
  // the English block says "absent" when Model.HasEnglish is false.
  int OptionalBlocks = 4;
  // Added after a name's ending zero where the field has room (the junk real files carry).
  std::string Junk =
      "\xFD\xFD"
      "junk";

  TPmdBuilder() {
    for (int I = 0; I < PmdToonCount; ++I) Model.ToonFiles[I] = StandardPmdToonFile(I);
  }

  // A vertex on ABone0 (weight AWeight percent) and ABone1.
  int AddVertex(const TVector3f& APosition, uint16_t ABone0, uint16_t ABone1 = 0,
                uint8_t AWeight = 100, const TVector3f& ANormal = TVector3f{{0, 1, 0}});
  int AddTriangle(uint16_t AV0, uint16_t AV1, uint16_t AV2);
  // A white, opaque material with an outline covering the next AIndexCount face indices.
  int AddMaterial(uint32_t AIndexCount, const std::string& ATexture = "",
                  uint8_t AToon = PmdNoToon);
  int AddBone(const std::string& AName, const TVector3f& APosition, uint16_t AParent = PmdNoBone,
              uint8_t AKind = pbkRotate, uint16_t ATail = 0, uint16_t ALink = 0);
  int AddIK(uint16_t ABone, uint16_t ATarget, const std::vector<uint16_t>& ALinks,
            uint16_t ALoops = 40, float ALimit = 0.5f);
  // A morph with the given panel; the base (panel 0) comes first.
  int AddMorph(const std::string& AName, uint8_t APanel);

  std::vector<uint8_t> Build() const;
};
