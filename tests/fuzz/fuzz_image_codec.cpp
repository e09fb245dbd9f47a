// Fuzz target: the codec route of texture loading (every extension other than .tga and .dds goes
// through stb_image into a 32-bit BGRA bitmap).
#include "gl/Textures.h"
#include "tests/fuzz/FuzzBitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  try {
    const TBitmap Bitmap = DecodeImageBytes(FuzzBytes(AData, ASize));
    TouchBitmap(Bitmap);
  } catch (const Exception&) {
  }
  return 0;
}
