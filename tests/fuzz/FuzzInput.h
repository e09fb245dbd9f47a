// Shared helpers of the fuzz targets: the input as a byte span, and a read of every byte a decoded
// picture claims to hold, so that a size that disagrees with the storage shows up under ASan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline std::span<const std::uint8_t> FuzzBytes(const std::uint8_t* AData, std::size_t ASize) {
  return {AData, ASize};
}

// Folds the bytes into a value the optimiser cannot drop.
inline void TouchBytes(const std::uint8_t* AData, std::size_t ASize) {
  volatile std::uint8_t Sink = 0;
  std::uint8_t Acc = 0;
  for (std::size_t i = 0; i < ASize; ++i) Acc ^= AData[i];
  Sink = Acc;
  (void)Sink;
}

// The character target's input: a 4-byte little-endian length, that many bytes of PMX model, the
// rest a VMD motion. A length beyond the input takes all of it for the model.
struct TModelMotionInput {
  std::span<const std::uint8_t> Model, Motion;
};

inline TModelMotionInput SplitModelMotion(std::span<const std::uint8_t> AInput) {
  if (AInput.size() < 4) return {AInput, {}};
  std::size_t ModelSize = std::size_t(AInput[0]) | std::size_t(AInput[1]) << 8 |
                          std::size_t(AInput[2]) << 16 | std::size_t(AInput[3]) << 24;
  std::span<const std::uint8_t> Rest = AInput.subspan(4);
  if (ModelSize > Rest.size()) ModelSize = Rest.size();
  return {Rest.first(ModelSize), Rest.subspan(ModelSize)};
}
