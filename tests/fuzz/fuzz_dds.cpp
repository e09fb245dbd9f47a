// Fuzz target: the DDS reader. A file it accepts must lay out every mip level inside the file with
// the size the level's dimensions need, because the texture upload hands those bytes to the driver.
#include <cstdlib>

#include "gl/DDS.h"
#include "math/Errors.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TDDSImage Image;
  try {
    Image = ReadDDS(FuzzBytes(AData, ASize));
  } catch (const Exception&) {
    return 0;
  }
  if (Image.Levels.empty()) std::abort();
  for (const TDDSLevel& Level : Image.Levels) {
    if (Level.Width <= 0 || Level.Height <= 0) std::abort();
    if (Level.Size != DDSLevelSize(Image.BlockBytes, Level.Width, Level.Height)) std::abort();
    if (Level.Offset > ASize || Level.Size > ASize - Level.Offset) std::abort();
    TouchBytes(AData + Level.Offset, Level.Size);
  }
  return 0;
}
