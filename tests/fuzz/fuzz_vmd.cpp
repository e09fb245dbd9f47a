// Fuzz target: the VMD reader on arbitrary bytes (Exception is the only accepted failure).
#include "formats/pmxlib.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TVmd Vmd;
  try {
    Vmd.LoadFromBytes(FuzzBytes(AData, ASize));
  } catch (const Exception&) {
    return 0;
  }
  // Every key the document counts must be there, and the decoded names must be readable.
  auto Name = [](const char(&AField)[15]) {
    return DecodeVmdName({reinterpret_cast<const std::uint8_t*>(AField), sizeof(AField)});
  };
  for (int i = 0; i < Vmd.MotionCount(); ++i) (void)Name(Vmd.GetMotion(i)->BoneName);
  for (int i = 0; i < Vmd.SkinMotionCount(); ++i) (void)Name(Vmd.GetSkinMotion(i)->MorphName);
  return 0;
}
