// TByteStream: the one bounded cursor every PMX and VMD read goes through.
// Reads little-endian numbers and raw byte runs from an in-memory span; it never reads past the
// end and fails with the readers' stream error instead. Depends on math/Errors.h only.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "math/Errors.h"

static_assert(std::endian::native == std::endian::little,
              "the readers copy little-endian file records straight into memory");

// Message of every read that the remaining data cannot satisfy.
inline constexpr const char* StreamReadErrorMessage = "ストリームからの読み取りエラー";

[[noreturn]] void RaiseStreamReadError();

class TByteStream {
 public:
  TByteStream() = default;
  explicit TByteStream(std::span<const uint8_t> AData) : FData(AData) {}

  size_t Size() const { return FData.size(); }
  size_t Position() const { return FPosition; }
  size_t Remaining() const { return FData.size() - FPosition; }

  // Copies ACount bytes to ADest and advances; fails without moving when fewer remain.
  void Read(void* ADest, size_t ACount) {
    Require(ACount);
    if (ACount != 0) std::memcpy(ADest, FData.data() + FPosition, ACount);
    FPosition += ACount;
  }
  // The next ACount bytes as a view into the data; advances past them.
  std::span<const uint8_t> ReadSpan(size_t ACount) {
    Require(ACount);
    std::span<const uint8_t> Result = FData.subspan(FPosition, ACount);
    FPosition += ACount;
    return Result;
  }
  void Skip(size_t ACount) {
    Require(ACount);
    FPosition += ACount;
  }

  uint8_t ReadU8() { return ReadValue<uint8_t>(); }
  int8_t ReadI8() { return ReadValue<int8_t>(); }
  uint16_t ReadU16() { return ReadValue<uint16_t>(); }
  int16_t ReadI16() { return ReadValue<int16_t>(); }
  uint32_t ReadU32() { return ReadValue<uint32_t>(); }
  int32_t ReadI32() { return ReadValue<int32_t>(); }
  float ReadF32() { return ReadValue<float>(); }

  // Fails unless at least ACount bytes remain.
  void Require(size_t ACount) const {
    if (ACount > Remaining()) RaiseStreamReadError();
  }
  // Checked before a list is sized from a count read from the file: fails unless the count is
  // non-negative and the remaining bytes can hold ACount elements of at least AMinElementSize
  // bytes each. Elements that occupy no bytes still count as one, so no count can ask for more
  // elements than there are bytes left.
  void RequireElements(int64_t ACount, size_t AMinElementSize) const {
    if (ACount < 0) RaiseStreamReadError();
    const uint64_t PerElement = AMinElementSize == 0 ? 1 : AMinElementSize;
    if (static_cast<uint64_t>(ACount) > Remaining() / PerElement) RaiseStreamReadError();
  }

 private:
  template <class T>
  T ReadValue() {
    T Value;
    Read(&Value, sizeof(T));
    return Value;
  }

  std::span<const uint8_t> FData;
  size_t FPosition = 0;
};
