// Fuzz target: the TGA reader (raw and run-length true colour) on arbitrary bytes.
#include "gl/tgaimage.h"
#include "tests/fuzz/FuzzBitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TTGAImage Image;
  try {
    Image.LoadFromBytes(FuzzBytes(AData, ASize));
  } catch (const Exception&) {
    return 0;
  }
  TouchBitmap(Image.Bitmap());
  return 0;
}
