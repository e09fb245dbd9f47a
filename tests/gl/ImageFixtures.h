// Fixture files for the image reader and texture tests, built in code: TGA and DDS writers and
// small helpers. Header-only, test use only.
#pragma once

#include <gtest/gtest.h>
#include <stb/stb_image_write.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fixtures {

using Bytes = std::vector<std::uint8_t>;

inline void PutU16(Bytes& AOut, unsigned AValue) {
  AOut.push_back(std::uint8_t(AValue));
  AOut.push_back(std::uint8_t(AValue >> 8));
}

inline void PutU32(Bytes& AOut, std::uint32_t AValue) {
  PutU16(AOut, AValue & 0xFFFF);
  PutU16(AOut, AValue >> 16);
}

// A TGA header and whatever follows it; the caller appends the pixel data.
struct TgaSpec {
  std::uint8_t Type = 2;
  int Width = 1;
  int Height = 1;
  int Bits = 24;
  std::uint8_t Descriptor = 0;
  std::string Id;           // image ID field
  int ColorMapEntries = 0;  // > 0 writes a colour map of that many entries
  int ColorMapBits = 24;
};

inline Bytes TgaHeader(const TgaSpec& ASpec) {
  Bytes out;
  out.push_back(std::uint8_t(ASpec.Id.size()));
  out.push_back(ASpec.ColorMapEntries > 0 ? 1 : 0);
  out.push_back(ASpec.Type);
  PutU16(out, 0);                                // colour map origin
  PutU16(out, unsigned(ASpec.ColorMapEntries));  // colour map length
  out.push_back(std::uint8_t(ASpec.ColorMapEntries > 0 ? ASpec.ColorMapBits : 0));
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, unsigned(ASpec.Width));
  PutU16(out, unsigned(ASpec.Height));
  out.push_back(std::uint8_t(ASpec.Bits));
  out.push_back(ASpec.Descriptor);
  out.insert(out.end(), ASpec.Id.begin(), ASpec.Id.end());
  const int entryBytes = (ASpec.ColorMapBits + 7) / 8;
  for (int i = 0; i < ASpec.ColorMapEntries * entryBytes; ++i) out.push_back(0xEE);
  return out;
}

// A pixel of the given byte width whose bytes all derive from AIndex, so that every pixel of a
// test image is distinct and its place can be checked.
inline Bytes Pixel(int ABytes, int AIndex) {
  Bytes p;
  for (int b = 0; b < ABytes; ++b) p.push_back(std::uint8_t(AIndex * 16 + b + 1));
  return p;
}

// A DDS file: "DDS ", the 124-byte header with height, width, mip count and FourCC set, then
// ADataBytes bytes of surface data counting up from 0.
inline Bytes Dds(const char* AFourCC, std::uint32_t AWidth, std::uint32_t AHeight,
                 std::uint32_t AMipCount, std::size_t ADataBytes) {
  Bytes out = {'D', 'D', 'S', ' '};
  Bytes header(124, 0);
  auto put = [&](std::size_t AOffset, std::uint32_t AValue) {
    for (int i = 0; i < 4; ++i) header[AOffset + i] = std::uint8_t(AValue >> (8 * i));
  };
  put(0, 124);
  put(8, AHeight);
  put(12, AWidth);
  put(24, AMipCount);
  for (int i = 0; i < 4; ++i) header[80 + i] = std::uint8_t(AFourCC[i]);
  out.insert(out.end(), header.begin(), header.end());
  for (std::size_t i = 0; i < ADataBytes; ++i) out.push_back(std::uint8_t(i * 7 + 3));
  return out;
}

inline void WriteFile(const std::filesystem::path& APath, const Bytes& ABytes) {
  std::filesystem::create_directories(APath.parent_path());
  std::ofstream f(APath, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(ABytes.data()), std::streamsize(ABytes.size()));
}

// A fresh, empty folder for one test (the process id keeps parallel test runs apart).
inline std::filesystem::path TempDir(const std::string& AName) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("quenlor_textures_" + std::to_string(::getpid()) + "_" + AName);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// PNG or JPEG files from 8-bit pixels (AComponents 3 = RGB, 4 = RGBA), top row first.
inline Bytes EncodeWith(int (*AWriter)(stbi_write_func*, void*, int, int, int, const void*, int),
                        int AWidth, int AHeight, int AComponents, const Bytes& APixels, int AArg) {
  Bytes out;
  auto sink = [](void* AContext, void* AData, int ASize) {
    auto* bytes = static_cast<Bytes*>(AContext);
    const auto* p = static_cast<const std::uint8_t*>(AData);
    bytes->insert(bytes->end(), p, p + ASize);
  };
  AWriter(sink, &out, AWidth, AHeight, AComponents, APixels.data(), AArg);
  return out;
}

inline Bytes EncodePng(int AWidth, int AHeight, int AComponents, const Bytes& APixels) {
  return EncodeWith(stbi_write_png_to_func, AWidth, AHeight, AComponents, APixels,
                    AWidth * AComponents);
}

inline Bytes EncodeJpg(int AWidth, int AHeight, const Bytes& ARgb) {
  return EncodeWith(stbi_write_jpg_to_func, AWidth, AHeight, 3, ARgb, 95);
}

// Runs AAction and checks that it throws exactly the message AMessage as an E.
template <class E, class F>
::testing::AssertionResult ThrowsWith(F&& AAction, const std::string& AMessage) {
  try {
    AAction();
  } catch (const E& e) {
    if (AMessage == e.what()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "message \"" << e.what() << "\", expected \"" << AMessage << "\"";
  } catch (const std::exception& e) {
    return ::testing::AssertionFailure() << "other exception type: " << e.what();
  }
  return ::testing::AssertionFailure() << "nothing thrown";
}

}  // namespace fixtures
