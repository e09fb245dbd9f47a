// Shared helpers for the reader tests: byte assembly, loading from an exactly sized heap copy (so
// that AddressSanitizer sees any read past the data), and error-message capture.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "formats/PmxWriter.h"
#include "formats/pmxlib.h"
#include "math/VectorGeometry.h"
#include "tests/support/RichModel.h"

// The message of the Exception AAction raises; "" when it raises none. Any other exception type
// fails the test: the readers report every problem as an Exception.
inline std::string ErrorOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const Exception& E) {
    return E.what();
  } catch (const std::exception& E) {
    ADD_FAILURE() << "unexpected exception type: " << E.what();
    return "<other exception>";
  }
  return "";
}

// Loads from a heap block of exactly ABytes.size() bytes.
inline std::string PmxLoadError(const std::vector<uint8_t>& ABytes, TPmx* APmx = nullptr) {
  TPmx Local;
  TPmx& Pmx = APmx ? *APmx : Local;
  std::unique_ptr<uint8_t[]> Copy(new uint8_t[ABytes.size() ? ABytes.size() : 1]);
  if (!ABytes.empty()) std::memcpy(Copy.get(), ABytes.data(), ABytes.size());
  return ErrorOf([&] { Pmx.LoadFromBytes(std::span<const uint8_t>(Copy.get(), ABytes.size())); });
}
inline std::string VmdLoadError(const std::vector<uint8_t>& ABytes, TVmd* AVmd = nullptr) {
  TVmd Local;
  TVmd& Vmd = AVmd ? *AVmd : Local;
  std::unique_ptr<uint8_t[]> Copy(new uint8_t[ABytes.size() ? ABytes.size() : 1]);
  if (!ABytes.empty()) std::memcpy(Copy.get(), ABytes.data(), ABytes.size());
  return ErrorOf([&] { Vmd.LoadFromBytes(std::span<const uint8_t>(Copy.get(), ABytes.size())); });
}

inline TPmx LoadPmx(const std::vector<uint8_t>& ABytes) {
  TPmx Pmx;
  const std::string Error = PmxLoadError(ABytes, &Pmx);
  EXPECT_EQ(Error, "");
  return Pmx;
}
inline TVmd LoadVmd(const std::vector<uint8_t>& ABytes) {
  TVmd Vmd;
  const std::string Error = VmdLoadError(ABytes, &Vmd);
  EXPECT_EQ(Error, "");
  return Vmd;
}

// A temporary file name of this process: test runs of several build folders may share /tmp.
inline std::string TempPath(const std::string& AName) {
  return testing::TempDir() + "quenlor_" + std::to_string(getpid()) + "_" + AName;
}

inline const std::string StreamError = "ストリームからの読み取りエラー";

// Little-endian byte assembly for hand-made files.
struct TBytes {
  std::vector<uint8_t> Data;
  TBytes& Raw(std::initializer_list<uint8_t> ABytes) {
    Data.insert(Data.end(), ABytes);
    return *this;
  }
  TBytes& Str(const std::string& AText) {
    Data.insert(Data.end(), AText.begin(), AText.end());
    return *this;
  }
  TBytes& Zeros(size_t ACount) {
    Data.insert(Data.end(), ACount, 0);
    return *this;
  }
  TBytes& U8(uint8_t AValue) { return Raw({AValue}); }
  TBytes& U16(uint16_t AValue) { return Raw({uint8_t(AValue), uint8_t(AValue >> 8)}); }
  TBytes& I32(int32_t AValue) {
    const uint32_t U = static_cast<uint32_t>(AValue);
    return Raw({uint8_t(U), uint8_t(U >> 8), uint8_t(U >> 16), uint8_t(U >> 24)});
  }
  TBytes& F32(float AValue) {
    uint32_t U;
    std::memcpy(&U, &AValue, 4);
    return I32(static_cast<int32_t>(U));
  }
  TBytes& F3(float AX, float AY, float AZ) { return F32(AX).F32(AY).F32(AZ); }
  // A UTF-8 PMX text (encoding 1).
  TBytes& Text8(const std::string& AText) {
    I32(static_cast<int32_t>(AText.size()));
    return Str(AText);
  }
};

// Header of a PMX file with UTF-8 texts and the given index sizes, empty names.
inline TBytes PmxHeader(float AVersion = 2.0f, uint8_t AVertexSize = 1, uint8_t ABoneSize = 1,
                        uint8_t AEncoding = 1, uint8_t AOtherSize = 1) {
  TBytes B;
  B.Str("PMX ").F32(AVersion).U8(8);
  B.Raw({AEncoding, 0, AVertexSize, AOtherSize, AOtherSize, ABoneSize, AOtherSize, AOtherSize});
  return B;
}
