// UTF-16LE / UTF-8 / code page 932 to UTF-8.
#include "formats/TextDecoding.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>

#include "math/Errors.h"

namespace {

constexpr char32_t ReplacementChar = 0xFFFD;

void AppendUtf8(std::string& AOut, char32_t ACode) {
  if (ACode < 0x80) {
    AOut.push_back(static_cast<char>(ACode));
  } else if (ACode < 0x800) {
    AOut.push_back(static_cast<char>(0xC0 | (ACode >> 6)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  } else if (ACode < 0x10000) {
    AOut.push_back(static_cast<char>(0xE0 | (ACode >> 12)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  } else {
    AOut.push_back(static_cast<char>(0xF0 | (ACode >> 18)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 12) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | ((ACode >> 6) & 0x3F)));
    AOut.push_back(static_cast<char>(0x80 | (ACode & 0x3F)));
  }
}

bool AllAscii(std::span<const uint8_t> ABytes) {
  return std::all_of(ABytes.begin(), ABytes.end(), [](uint8_t B) { return B < 0x80; });
}

// One iconv descriptor per thread and direction: opening one loads a conversion module, far
// too slow to repeat for every motion key.
class TIconv {
 public:
  TIconv(const char* ATo, const char* AFrom) : FHandle(iconv_open(ATo, AFrom)) {
    if (FHandle == reinterpret_cast<iconv_t>(-1))
      throw Exception(std::string("iconv cannot convert ") + AFrom + " to " + ATo);
  }
  ~TIconv() { iconv_close(FHandle); }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;

  // Converts AIn; an input byte that starts no valid character is replaced by AReplacement and
  // skipped, so the conversion always finishes.
  // With AUtf8Input an unconvertible character is skipped as a whole (lead and continuations).
  std::string Convert(std::span<const uint8_t> AIn, std::string_view AReplacement,
                      bool AUtf8Input = false) {
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    std::string Out;
    char Buffer[256];
    char* In = const_cast<char*>(reinterpret_cast<const char*>(AIn.data()));
    size_t InLeft = AIn.size();
    while (InLeft > 0) {
      char* OutPtr = Buffer;
      size_t OutLeft = sizeof(Buffer);
      const size_t R = iconv(FHandle, &In, &InLeft, &OutPtr, &OutLeft);
      Out.append(Buffer, OutPtr - Buffer);
      if (R != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ (not a character) or EINVAL (a lead byte cut off at the end): replace one byte.
      Out.append(AReplacement);
      ++In;
      --InLeft;
      while (AUtf8Input && InLeft > 0 && (static_cast<uint8_t>(*In) & 0xC0) == 0x80) {
        ++In;
        --InLeft;
      }
      iconv(FHandle, nullptr, nullptr, nullptr, nullptr);
    }
    char* OutPtr = Buffer;
    size_t OutLeft = sizeof(Buffer);
    iconv(FHandle, nullptr, nullptr, &OutPtr, &OutLeft);
    Out.append(Buffer, OutPtr - Buffer);
    return Out;
  }

 private:
  iconv_t FHandle;
};

}  // namespace

std::string DecodeUtf16LE(std::span<const uint8_t> ABytes) {
  std::string Out;
  Out.reserve(ABytes.size() + ABytes.size() / 2);
  const size_t Units = ABytes.size() / 2;
  size_t I = 0;
  while (I < Units) {
    const char16_t U = static_cast<char16_t>(ABytes[2 * I] | (ABytes[2 * I + 1] << 8));
    ++I;
    if (U < 0xD800 || U > 0xDFFF) {
      AppendUtf8(Out, U);
    } else if (U <= 0xDBFF && I < Units) {
      const char16_t L = static_cast<char16_t>(ABytes[2 * I] | (ABytes[2 * I + 1] << 8));
      if (L >= 0xDC00 && L <= 0xDFFF) {
        ++I;
        AppendUtf8(Out, 0x10000 + ((static_cast<char32_t>(U) - 0xD800) << 10) + (L - 0xDC00));
      } else {
        AppendUtf8(Out, ReplacementChar);
      }
    } else {
      AppendUtf8(Out, ReplacementChar);
    }
  }
  if (ABytes.size() % 2 != 0) AppendUtf8(Out, ReplacementChar);
  return Out;
}

std::string DecodeUtf8(std::span<const uint8_t> ABytes) {
  std::string Out;
  Out.reserve(ABytes.size());
  const size_t N = ABytes.size();
  size_t I = 0;
  while (I < N) {
    const uint8_t B = ABytes[I];
    if (B < 0x80) {
      Out.push_back(static_cast<char>(B));
      ++I;
      continue;
    }
    size_t Length;
    uint8_t Low = 0x80, High = 0xBF;  // allowed range of the second byte
    if (B >= 0xC2 && B <= 0xDF) {
      Length = 2;
    } else if (B >= 0xE0 && B <= 0xEF) {
      Length = 3;
      if (B == 0xE0) Low = 0xA0;   // overlong
      if (B == 0xED) High = 0x9F;  // surrogates
    } else if (B >= 0xF0 && B <= 0xF4) {
      Length = 4;
      if (B == 0xF0) Low = 0x90;   // overlong
      if (B == 0xF4) High = 0x8F;  // above U+10FFFF
    } else {
      AppendUtf8(Out, ReplacementChar);
      ++I;
      continue;
    }
    size_t Good = 1;
    while (Good < Length && I + Good < N) {
      const uint8_t C = ABytes[I + Good];
      const bool Ok = Good == 1 ? (C >= Low && C <= High) : (C >= 0x80 && C <= 0xBF);
      if (!Ok) break;
      ++Good;
    }
    if (Good == Length) {
      Out.append(reinterpret_cast<const char*>(ABytes.data() + I), Length);
    } else {
      AppendUtf8(Out, ReplacementChar);
    }
    I += Good;
  }
  return Out;
}

std::string Cp932ToUtf8(std::span<const uint8_t> ABytes) {
  if (AllAscii(ABytes)) return std::string(ABytes.begin(), ABytes.end());
  thread_local TIconv Converter("UTF-8", "CP932");
  return Converter.Convert(ABytes, "\xEF\xBF\xBD");
}

std::string DecodeVmdName(std::span<const uint8_t> AField) {
  const auto Nul = std::find(AField.begin(), AField.end(), uint8_t{0});
  return Cp932ToUtf8(AField.first(static_cast<size_t>(Nul - AField.begin())));
}

std::string Utf8ToCp932(std::string_view AText) {
  const std::span<const uint8_t> Bytes(reinterpret_cast<const uint8_t*>(AText.data()),
                                       AText.size());
  if (AllAscii(Bytes)) return std::string(AText);
  thread_local TIconv Converter("CP932", "UTF-8");
  return Converter.Convert(Bytes, "?", true);
}
