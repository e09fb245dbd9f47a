// Test fixture: a hidden SDL window made like the viewer's (CreateGLWindow) with a TOpenGL on it,
// on the real driver, plus small read-back helpers (pixels, 24-bit BMP files).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "gl/UCommon2.h"

class TOpenGLTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("DISPLAY")) setenv("SDL_VIDEODRIVER", "offscreen", 0);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    FWindow = CreateGLWindow("test", 0, 0, 64, 64, SDL_WINDOW_HIDDEN);
    FGL = std::make_unique<TOpenGL>(FWindow);
  }
  void TearDown() override {
    FGL.reset();
    if (FWindow) SDL_DestroyWindow(FWindow);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  // A fresh path in the test's temporary directory.
  static std::filesystem::path TempFile(const std::string& AName) {
    return std::filesystem::temp_directory_path() /
           (AName + "_" + std::to_string(::getpid()) + ".bmp");
  }

  SDL_Window* FWindow = nullptr;
  std::unique_ptr<TOpenGL> FGL;
};

// RGBA of one pixel of the bound read framebuffer, 0..1.
inline std::array<float, 4> ReadPixel(int AX, int AY) {
  std::array<std::uint8_t, 4> P{};
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(AX, AY, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, P.data());
  return {P[0] / 255.0f, P[1] / 255.0f, P[2] / 255.0f, P[3] / 255.0f};
}

// A 24-bit BMP file read back for checks: header fields and pixels by (column, row from the top).
struct TBmpFile {
  std::vector<std::uint8_t> Bytes;
  std::uint32_t U32(std::size_t AOffset) const {
    return Bytes[AOffset] | Bytes[AOffset + 1] << 8 | Bytes[AOffset + 2] << 16 |
           std::uint32_t(Bytes[AOffset + 3]) << 24;
  }
  std::uint16_t U16(std::size_t AOffset) const { return Bytes[AOffset] | Bytes[AOffset + 1] << 8; }
  int Width() const { return static_cast<int>(U32(18)); }
  int Height() const { return static_cast<int>(U32(22)); }
  std::size_t Stride() const {
    return (static_cast<std::size_t>(Width()) * 3 + 3) & ~std::size_t(3);
  }
  // B, G, R of the pixel; rows are stored bottom-up (positive height).
  std::array<std::uint8_t, 3> Pixel(int AX, int ARowFromTop) const {
    const std::size_t At =
        U32(10) + Stride() * static_cast<std::size_t>(Height() - 1 - ARowFromTop) + 3 * AX;
    return {Bytes[At], Bytes[At + 1], Bytes[At + 2]};
  }
};

inline TBmpFile ReadBmp(const std::filesystem::path& APath) {
  std::ifstream In(APath, std::ios::binary);
  TBmpFile F;
  F.Bytes.assign(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
  return F;
}
