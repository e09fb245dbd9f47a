// Shared helpers of the headset tests: the device-selection environment word, a window with a GL
// context, an eye texture filled from CPU pixels, and read-back of the window's framebuffer.
#pragma once

#include <SDL.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hmd/runtime/hmd_runtime.h"
#include "tests/support/GLTestContext.h"

// Sets HMD_RUNTIME_DEVICE for one test (nullopt: unset) and puts the old value back afterwards.
class ScopedDeviceEnv {
 public:
  explicit ScopedDeviceEnv(std::optional<std::string> AValue) {
    if (const char* Old = std::getenv("HMD_RUNTIME_DEVICE")) FOld = Old;
    if (AValue)
      setenv("HMD_RUNTIME_DEVICE", AValue->c_str(), 1);
    else
      unsetenv("HMD_RUNTIME_DEVICE");
  }
  ~ScopedDeviceEnv() {
    if (FOld)
      setenv("HMD_RUNTIME_DEVICE", FOld->c_str(), 1);
    else
      unsetenv("HMD_RUNTIME_DEVICE");
  }

 private:
  std::optional<std::string> FOld;
};

struct Rgb {
  int R, G, B;
};

// RGBA8 pixels of a w x h picture, row 0 at the bottom (GL order).
class PixelImage {
 public:
  PixelImage(int AWidth, int AHeight)
      : W(AWidth), H(AHeight), Data(std::size_t(AWidth) * AHeight * 4) {}
  void Fill(int AX0, int AX1, Rgb AColour) {
    for (int Y = 0; Y < H; ++Y)
      for (int X = AX0; X < AX1; ++X) Set(X, Y, AColour);
  }
  void Set(int AX, int AY, Rgb AColour) {
    std::uint8_t* P = &Data[(std::size_t(AY) * W + AX) * 4];
    P[0] = std::uint8_t(AColour.R);
    P[1] = std::uint8_t(AColour.G);
    P[2] = std::uint8_t(AColour.B);
    P[3] = 255;
  }
  Rgb At(int AX, int AY) const {
    const std::uint8_t* P = &Data[(std::size_t(AY) * W + AX) * 4];
    return {P[0], P[1], P[2]};
  }
  int W, H;
  std::vector<std::uint8_t> Data;
};

// A GL texture with the picture's pixels, deleted with the object.
class EyeTextureObject {
 public:
  explicit EyeTextureObject(const PixelImage& AImage) {
    glGenTextures(1, &FName);
    glBindTexture(GL_TEXTURE_2D, FName);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, AImage.W, AImage.H, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 AImage.Data.data());
    // Mipmapped filtering without mipmaps: the runtime must sample through its own sampler.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  ~EyeTextureObject() { glDeleteTextures(1, &FName); }
  GLuint Name() const { return FName; }

 private:
  GLuint FName = 0;
};

// The window's framebuffer as RGBA8, row 0 at the bottom.
inline PixelImage ReadWindow(int AWidth, int AHeight) {
  PixelImage Image(AWidth, AHeight);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, AWidth, AHeight, GL_RGBA, GL_UNSIGNED_BYTE, Image.Data.data());
  return Image;
}

inline bool Near(Rgb A, Rgb B, int ATolerance) {
  return std::abs(A.R - B.R) <= ATolerance && std::abs(A.G - B.G) <= ATolerance &&
         std::abs(A.B - B.B) <= ATolerance;
}

inline bool IsBlack(Rgb A) {
  return A.R <= 2 && A.G <= 2 && A.B <= 2;
}

inline ::testing::AssertionResult ColourIs(Rgb AActual, Rgb AExpected, int ATolerance) {
  if (Near(AActual, AExpected, ATolerance)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "(" << AActual.R << ", " << AActual.G << ", " << AActual.B << ") is not ("
         << AExpected.R << ", " << AExpected.G << ", " << AExpected.B << ") +- " << ATolerance;
}

inline hmdPosef IdentityPose() {
  return {{0, 0, 0, 1}, {0, 0, 0}};
}

inline hmdQuatf QuatAboutAxis(float AX, float AY, float AZ, float AAngle) {
  const float S = std::sin(AAngle / 2);
  return {AX * S, AY * S, AZ * S, std::cos(AAngle / 2)};
}

// v rotated by the unit quaternion q.
inline hmdVector3f Rotate(const hmdQuatf& Q, const hmdVector3f& V) {
  // t = 2 q.xyz x v; v' = v + w t + q.xyz x t
  const float Tx = 2 * (Q.y * V.z - Q.z * V.y);
  const float Ty = 2 * (Q.z * V.x - Q.x * V.z);
  const float Tz = 2 * (Q.x * V.y - Q.y * V.x);
  return {V.x + Q.w * Tx + (Q.y * Tz - Q.z * Ty), V.y + Q.w * Ty + (Q.z * Tx - Q.x * Tz),
          V.z + Q.w * Tz + (Q.x * Ty - Q.y * Tx)};
}
