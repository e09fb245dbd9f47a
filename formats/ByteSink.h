// TByteSink: the little-endian byte sink the PMX and VMD writers build files in (fixed-size
// fields, sized indices, PMX texts in UTF-16LE or UTF-8). Internal to the writers; depends on
// formats/pmxlib.h for the float records.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "formats/pmxlib.h"

class TByteSink {
 public:
  std::vector<uint8_t> Bytes;

  void Raw(const void* AData, size_t ACount) {
    const auto* P = static_cast<const uint8_t*>(AData);
    Bytes.insert(Bytes.end(), P, P + ACount);
  }
  void U8(uint8_t AValue) { Bytes.push_back(AValue); }
  void U16(uint16_t AValue) { Raw(&AValue, 2); }
  void I32(int32_t AValue) { Raw(&AValue, 4); }
  void U32(uint32_t AValue) { Raw(&AValue, 4); }
  void F32(float AValue) { Raw(&AValue, 4); }
  void F2(const PmxFloat2& AV) {
    F32(AV.X);
    F32(AV.Y);
  }
  void F3(const PmxFloat3& AV) { Raw(AV.V, 12); }
  void F4(const PmxFloat4& AV) { Raw(AV.V, 16); }

  // An index of ASize bytes; fails when the value does not fit (unsigned for vertex indices).
  void Index(int32_t AValue, uint8_t ASize, bool AUnsigned, const char* AKind) {
    bool Fits = true;
    if (ASize == 1)
      Fits = AUnsigned ? (AValue >= 0 && AValue <= 0xFF) : (AValue >= -128 && AValue <= 127);
    else if (ASize == 2)
      Fits = AUnsigned ? (AValue >= 0 && AValue <= 0xFFFF) : (AValue >= -32768 && AValue <= 32767);
    if (!Fits)
      throw std::logic_error(std::string("PMX writer: ") + AKind + " index " +
                             std::to_string(AValue) + " does not fit " + std::to_string(ASize) +
                             " byte(s); set the index size in Settings");
    // Sizes other than 1, 2, 4 are written with that many bytes (low bytes first, then zeros).
    for (uint8_t I = 0; I < ASize; ++I)
      U8(I < 4 ? static_cast<uint8_t>(static_cast<uint32_t>(AValue) >> (8 * I)) : 0);
  }

  void Text(const std::string& AText, uint8_t AEncoding) {
    if (AEncoding != 0) {
      I32(static_cast<int32_t>(AText.size()));
      Raw(AText.data(), AText.size());
      return;
    }
    const std::u16string Units = Utf8ToUtf16(AText);
    I32(static_cast<int32_t>(Units.size() * 2));
    for (char16_t U : Units) U16(U);
  }

 private:
  // Well-formed UTF-8 to UTF-16 (the records hold decoded, well-formed text).
  static std::u16string Utf8ToUtf16(const std::string& AText) {
    std::u16string Out;
    size_t I = 0;
    while (I < AText.size()) {
      const uint8_t B = static_cast<uint8_t>(AText[I]);
      char32_t C;
      size_t N;
      if (B < 0x80) {
        C = B;
        N = 1;
      } else if (B < 0xE0) {
        C = B & 0x1F;
        N = 2;
      } else if (B < 0xF0) {
        C = B & 0x0F;
        N = 3;
      } else {
        C = B & 0x07;
        N = 4;
      }
      for (size_t K = 1; K < N && I + K < AText.size(); ++K)
        C = (C << 6) | (static_cast<uint8_t>(AText[I + K]) & 0x3F);
      I += N;
      if (C >= 0x10000) {
        C -= 0x10000;
        Out.push_back(static_cast<char16_t>(0xD800 + (C >> 10)));
        Out.push_back(static_cast<char16_t>(0xDC00 + (C & 0x3FF)));
      } else {
        Out.push_back(static_cast<char16_t>(C));
      }
    }
    return Out;
  }
};
