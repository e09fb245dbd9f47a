// Fuzz target: the PMX reader on arbitrary bytes. A broken file must fail with the system's
// Exception; a crash, a sanitizer report, any other exception, a hang or a runaway allocation is a
// finding. What a loaded document's indices promise is exercised by fuzz_character.
#include "formats/pmxlib.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  TPmx Pmx;
  try {
    Pmx.LoadFromBytes(FuzzBytes(AData, ASize));
  } catch (const Exception&) {
  }
  return 0;
}
