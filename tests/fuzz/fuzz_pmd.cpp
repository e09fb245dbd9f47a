// Fuzz target: the PMD reader and its conversion into the PMX document on arbitrary bytes after
// the "Pmd" signature. A broken file must fail with the system's Exception; a crash, a sanitizer
// report, any other exception, a hang or a runaway allocation is a finding.
#include <cstring>
#include <vector>

#include "formats/pmxlib.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  // The seeds start with the signature; an input without it gets it in front, so that every
  // input reaches the PMD reader. Either way the reader sees exactly the bytes it may read.
  std::vector<std::uint8_t> Prefixed;
  std::span<const std::uint8_t> Bytes = FuzzBytes(AData, ASize);
  if (ASize < 3 || std::memcmp(AData, "Pmd", 3) != 0) {
    Prefixed.reserve(ASize + 3);
    Prefixed.insert(Prefixed.end(), {'P', 'm', 'd'});
    Prefixed.insert(Prefixed.end(), AData, AData + ASize);
    Bytes = Prefixed;
  }
  TPmx Pmx;
  try {
    Pmx.LoadFromBytes(Bytes);
  } catch (const Exception&) {
  }
  return 0;
}
