// Textures: one GL 2D texture together with the sampler bound with it, made blank, from a bitmap,
// or from an image file (TGA, DDS, or any other format through stb_image).
// Depends on gl/loader (GL), gl/Bitmap.h, gl/tgaimage.h and gl/DDS.h.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "gl/Bitmap.h"
#include "gl/DDS.h"
#include "gl/loader/OpenGLApis.h"

// Message when a bitmap of another format than 24 or 32 bits reaches a texture upload.
inline constexpr const char* STextureBitmapFormat =
    "テクスチャとなるビットマップ画像は24bitか32bitである必要があります";

class TTexture {
 public:
  // Level 0 as GL_RGBA, AWidth x AHeight, no data.
  static std::unique_ptr<TTexture> CreateBlank(GLuint ASampler, int AWidth, int AHeight);
  // Level 0 from a 24-bit (alpha becomes 1) or 32-bit bitmap, its top row at t = 0; any other
  // format throws Exception(STextureBitmapFormat). Leaves GL_UNPACK_ALIGNMENT at 1 or 4.
  static std::unique_ptr<TTexture> CreateFromBitmap(GLuint ASampler, const TBitmap& ABitmap);
  // Reads the file by its extension: ".tga" via TTGAImage, ".dds" via the DDS reader with its whole
  // mip chain, anything else by its content (DDS data by its magic, every other format via
  // stb_image), as sphere files (.sph, .spa) need. The file's errors propagate; nothing is left
  // behind.
  static std::unique_ptr<TTexture> CreateFromFile(GLuint ASampler, const std::string& AFileName);

  ~TTexture();
  TTexture(const TTexture&) = delete;
  TTexture& operator=(const TTexture&) = delete;

  // Binds the texture on the active unit and, when the texture has a sampler, that sampler on
  // unit UnitNum. The caller makes unit UnitNum active first.
  void Bind(GLuint UnitNum) const;

  GLuint Handle() const { return FHandle; }
  GLuint Sampler() const { return FSampler; }

 private:
  // The step every way of making a texture begins with: remember the sampler, generate the name
  // and bind it to GL_TEXTURE_2D on the active unit.
  explicit TTexture(GLuint ASampler);

  void UploadBitmap(const TBitmap& ABitmap);
  void UploadDDS(const TDDSImage& AImage, std::span<const std::uint8_t> AFile);

  GLuint FHandle = 0;
  GLuint FSampler = 0;
};

// Decodes an image file's bytes with stb_image into a 32-bit BGRA bitmap with straight alpha, top
// row first. Throws EInvalidGraphic when the picture is empty or too large, EReadError with the
// codec's reason when the data cannot be decoded.
TBitmap DecodeImageBytes(std::span<const std::uint8_t> AData);
