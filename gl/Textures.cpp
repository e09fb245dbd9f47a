#include "gl/Textures.h"

#include <stb/stb_image.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <vector>

#include "gl/DDS.h"
#include "gl/tgaimage.h"

TTexture::TTexture(GLuint ASampler) : FSampler(ASampler) {
  glGenTextures(1, &FHandle);
  glBindTexture(GL_TEXTURE_2D, FHandle);
}

TTexture::~TTexture() {
  glDeleteTextures(1, &FHandle);
}

std::unique_ptr<TTexture> TTexture::CreateBlank(GLuint ASampler, int AWidth, int AHeight) {
  std::unique_ptr<TTexture> texture(new TTexture(ASampler));
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, AWidth, AHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  return texture;
}

std::unique_ptr<TTexture> TTexture::CreateFromBitmap(GLuint ASampler, const TBitmap& ABitmap) {
  std::unique_ptr<TTexture> texture(new TTexture(ASampler));
  texture->UploadBitmap(ABitmap);
  return texture;
}

void TTexture::UploadBitmap(const TBitmap& ABitmap) {
  GLenum format;
  GLint alignment;
  switch (ABitmap.PixelFormat()) {
    case pf24bit:
      format = GL_BGR;
      alignment = 1;
      break;
    case pf32bit:
      format = GL_BGRA;
      alignment = 4;
      break;
    default:
      throw Exception(STextureBitmapFormat);
  }
  const int width = ABitmap.Width(), height = ABitmap.Height();
  const std::size_t rowBytes = std::size_t(width) * BytesPerPixel(ABitmap.PixelFormat());
  const std::uint8_t* pixels = nullptr;
  std::vector<std::uint8_t> packed;
  if (!ABitmap.Empty()) {
    if (ABitmap.RowStride() == rowBytes) {
      // The rows already lie top first and without padding: upload them in place.
      pixels = ABitmap.ScanLine(0);
    } else {
      packed.resize(rowBytes * std::size_t(height));
      for (int r = 0; r < height; ++r)
        std::memcpy(packed.data() + std::size_t(r) * rowBytes, ABitmap.ScanLine(r), rowBytes);
      pixels = packed.data();
    }
  }
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
}

void TTexture::UploadDDS(const TDDSImage& AImage, std::span<const std::uint8_t> AFile) {
  const TDDSImage& image = AImage;
  for (std::size_t i = 0; i < image.Levels.size(); ++i) {
    const TDDSLevel& level = image.Levels[i];
    glCompressedTexImage2D(GL_TEXTURE_2D, GLint(i), image.InternalFormat, level.Width, level.Height,
                           0, GLsizei(level.Size), AFile.data() + level.Offset);
  }
}

namespace {

// The codec grows its buffer to a PNG chunk's declared length before it reads the chunk, so a few
// bytes could make it allocate up to 2 GiB. True unless the data is a PNG with a chunk whose
// declared length runs past the end of the data.
bool PngChunksFit(std::span<const std::uint8_t> AData) {
  static constexpr std::uint8_t Signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (AData.size() < 8 || std::memcmp(AData.data(), Signature, 8) != 0) return true;
  std::size_t pos = 8;
  while (AData.size() - pos >= 8) {
    const std::uint32_t length = std::uint32_t(AData[pos]) << 24 |
                                 std::uint32_t(AData[pos + 1]) << 16 |
                                 std::uint32_t(AData[pos + 2]) << 8 | AData[pos + 3];
    if (length > AData.size() - pos - 8) return false;
    pos += 8 + std::size_t(length);
    if (AData.size() - pos < 4) break;
    pos += 4;  // CRC
  }
  return true;
}

// The codec reads a PNM's samples in one piece and ignores a short read, which would leave the
// picture's memory uninitialised. True unless the data is a binary PNM whose samples end early.
// The header walk follows the codec's own: whitespace and # comments between the fields, and the
// one character after the last number ends the header.
bool PnmSamplesFit(std::span<const std::uint8_t> AData, int AWidth, int AHeight, int AChannels,
                   bool ASixteenBit) {
  if (AData.size() < 2 || AData[0] != 'P' || (AData[1] != '5' && AData[1] != '6')) return true;
  std::size_t pos = 2;
  auto atEnd = [&] { return pos >= AData.size(); };
  auto next = [&]() -> char { return atEnd() ? '\0' : char(AData[pos++]); };
  char c = next();
  auto skipSpace = [&] {
    for (;;) {
      while (!atEnd() && (c == ' ' || (c >= '\t' && c <= '\r'))) c = next();
      if (atEnd() || c != '#') break;
      while (!atEnd() && c != '\n' && c != '\r') c = next();
    }
  };
  auto skipNumber = [&] {
    while (!atEnd() && c >= '0' && c <= '9') c = next();
  };
  skipSpace();
  skipNumber();  // width
  skipSpace();
  skipNumber();  // height
  skipSpace();
  skipNumber();  // maximum value
  const std::uint64_t samples = std::uint64_t(AWidth) * std::uint64_t(AHeight) *
                                std::uint64_t(AChannels) * (ASixteenBit ? 2u : 1u);
  return AData.size() - pos >= samples;
}

// Radiance HDR: the codec spins forever on a run-length count of 0 (also where the data ends, as it
// reads zeros there) and leaves pixels uninitialised when flat data ends early. True unless the
// scanlines walked as the codec walks them run out of data or hold a zero count.
bool HdrScanlinesFit(std::span<const std::uint8_t> AData, int AWidth, int AHeight) {
  if (AData.size() < 2 || AData[0] != '#' || AData[1] != '?') return true;
  std::size_t pos = 0;
  auto atEnd = [&] { return pos >= AData.size(); };
  auto next = [&]() -> std::uint8_t { return atEnd() ? 0 : AData[pos++]; };
  // One header line as the codec reads it (at most 1023 characters kept); its first character, or
  // 0 for an empty line, which ends the header.
  auto skipLine = [&]() -> char {
    char first = '\0';
    int length = 0;
    char c = char(next());
    while (!atEnd() && c != '\n') {
      if (length++ == 0) first = c;
      if (length == 1023) {
        while (!atEnd() && next() != '\n') {
        }
        break;
      }
      c = char(next());
    }
    return first;
  };
  skipLine();  // identifier
  while (skipLine() != '\0') {
  }
  skipLine();  // resolution
  const std::uint64_t flatBytes = 4 * std::uint64_t(AWidth) * std::uint64_t(AHeight);
  if (AWidth < 8 || AWidth >= 32768) return AData.size() - pos >= flatBytes;
  for (int row = 0; row < AHeight; ++row) {
    if (AData.size() - pos < 4) return false;
    const std::uint8_t c1 = AData[pos], c2 = AData[pos + 1], high = AData[pos + 2];
    // Not run-length encoded: the codec reads everything from here flat, starting again at the
    // first row's second pixel.
    if (c1 != 2 || c2 != 2 || (high & 0x80) != 0) return AData.size() - pos >= flatBytes;
    const int length = high << 8 | AData[pos + 3];
    pos += 4;
    if (length != AWidth) return true;  // the codec refuses the scanline itself
    for (int channel = 0; channel < 4; ++channel) {
      for (int x = 0; x < AWidth;) {
        if (atEnd()) return false;
        int count = next();
        const bool run = count > 128;
        if (run) count -= 128;
        if (count == 0) return false;         // a dump of nothing never moves on
        if (count > AWidth - x) return true;  // refused by the codec as corrupt
        const std::size_t bytes = run ? 1 : std::size_t(count);
        if (AData.size() - pos < bytes) return false;
        pos += bytes;
        x += count;
      }
    }
  }
  return true;
}

std::string CodecError() {
  const char* reason = stbi_failure_reason();
  return reason ? std::string(SReadError) + ": " + reason : std::string(SReadError);
}

std::string LowerExtension(const std::string& AFileName) {
  std::string ext = std::filesystem::path(AFileName).extension().string();
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return ext;
}

}  // namespace

std::unique_ptr<TTexture> TTexture::CreateFromFile(GLuint ASampler, const std::string& AFileName) {
  const std::string ext = LowerExtension(AFileName);
  const std::vector<std::uint8_t> bytes = LoadFileBytes(AFileName);
  if (ext == ".tga") {
    TTGAImage image;
    image.LoadFromBytes(bytes);
    return CreateFromBitmap(ASampler, image.Bitmap());
  }
  // Sphere files (.sph, .spa) and misnamed textures hold any format: a DDS is known by its magic,
  // everything else the codec recognises by its content.
  const bool ddsMagic = bytes.size() >= 4 && std::memcmp(bytes.data(), "DDS ", 4) == 0;
  if (ext == ".dds" || (ext != ".tga" && ddsMagic)) {
    // The file is checked whole before a GL name exists, so a bad file leaves nothing behind.
    const TDDSImage image = ReadDDS(bytes);
    std::unique_ptr<TTexture> texture(new TTexture(ASampler));
    texture->UploadDDS(image, bytes);
    return texture;
  }
  return CreateFromBitmap(ASampler, DecodeImageBytes(bytes));
}

void TTexture::Bind(GLuint UnitNum) const {
  glBindTexture(GL_TEXTURE_2D, FHandle);
  if (FSampler != 0) glBindSampler(UnitNum, FSampler);
}

TBitmap DecodeImageBytes(std::span<const std::uint8_t> AData) {
  if (AData.size() > std::size_t(INT_MAX)) throw EReadError(SReadError);
  const auto* data = reinterpret_cast<const stbi_uc*>(AData.data());
  const int length = int(AData.size());
  if (!PngChunksFit(AData))
    throw EReadError(std::string(SReadError) + ": PNG chunk runs past the data");
  // Size the picture from its header first, so that no absurd size is ever allocated.
  int width = 0, height = 0, channels = 0;
  if (!stbi_info_from_memory(data, length, &width, &height, &channels))
    throw EReadError(CodecError());
  if (!IsValidImageSize(width, height)) throw EInvalidGraphic(SInvalidImageSize);
  // The codec allocates the whole picture before it reads the pixel data, so a header that claims
  // far more pixels than the data could encode is refused here. No format the codec reads packs
  // more than 8256 pixels into a byte (1-bit PNG at deflate's best ratio of 1032:1); allow twice
  // that.
  constexpr std::int64_t MaxPixelsPerByte = 16384;
  if (std::int64_t(width) * height > MaxPixelsPerByte * std::int64_t(length))
    throw EInvalidGraphic(SInvalidImageSize);
  const bool sixteenBit = stbi_is_16_bit_from_memory(data, length) != 0;
  if (!PnmSamplesFit(AData, width, height, channels, sixteenBit) ||
      !HdrScanlinesFit(AData, width, height))
    throw EReadError(std::string(SReadError) + ": the picture data ends early or is corrupt");
  // Premultiplied iPhone PNGs come out as straight-alpha RGB like every other file.
  stbi_set_unpremultiply_on_load(1);
  stbi_convert_iphone_png_to_rgb(1);
  // Every picture comes as RGBA, except 16-bit PNM: the codec's widening of those treats the
  // 16-bit samples as bytes and overruns its buffer, so they come in their own channel count
  // (grey or RGB) and are widened here.
  const bool pnm16 =
      length >= 2 && data[0] == 'P' && (data[1] == '5' || data[1] == '6') && sixteenBit;
  const int requested = pnm16 ? 0 : 4;
  stbi_uc* pixels = stbi_load_from_memory(data, length, &width, &height, &channels, requested);
  if (!pixels) throw EReadError(CodecError());
  std::unique_ptr<stbi_uc, void (*)(void*)> owner(pixels, stbi_image_free);
  if (!IsValidImageSize(width, height)) throw EInvalidGraphic(SInvalidImageSize);
  const int stride = requested != 0 ? requested : channels;
  if (stride < 1 || stride > 4) throw EReadError(SReadError);
  TBitmap bitmap(width, height, pf32bit);
  for (int r = 0; r < height; ++r) {
    const stbi_uc* src = pixels + std::size_t(r) * std::size_t(width) * std::size_t(stride);
    std::uint8_t* dst = bitmap.ScanLine(r);
    for (int x = 0; x < width; ++x, src += stride, dst += 4) {
      // Grey, grey + alpha, RGB or RGBA; a missing alpha is opaque.
      const bool colour = stride >= 3;
      dst[0] = colour ? src[2] : src[0];
      dst[1] = colour ? src[1] : src[0];
      dst[2] = src[0];
      dst[3] = stride == 2 ? src[1] : stride == 4 ? src[3] : 255;
    }
  }
  return bitmap;
}
