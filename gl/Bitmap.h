// Bitmap: the platform bitmap that image readers fill and texture uploads read (15/24/32-bit,
// row 0 = top, rows padded to 4 bytes), its 24-bit BMP writer, the bounded byte cursor every image
// reader goes through, whole-file reading and the small registry of picture formats.
// Depends on math/Errors.h and the C++ standard library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "math/Errors.h"

// Data ended before what a header or a count declares, or a stream could not be read.
class EReadError : public Exception {
 public:
  using Exception::Exception;
};

// A stream or file could not be written.
class EWriteError : public Exception {
 public:
  using Exception::Exception;
};

// A file could not be opened for reading or created for writing.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
};

// Image data that describes no usable picture (zero or absurd size, pixels past the image).
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// Fixed message texts of the errors above.
inline constexpr const char* SReadError = "Stream read error";
inline constexpr const char* SWriteError = "Stream write error";
inline constexpr const char* SInvalidImageSize = "Invalid image size";
inline constexpr const char* SScanLineRange = "Scan line index out of range";
inline constexpr const char* SInvalidPixelFormat = "Invalid pixel format";

// Largest picture any reader or bitmap accepts: each side at most 16384 (the usual GL texture
// limit) and at most 2^26 pixels (256 MiB at 32 bits), so no header can ask for absurd memory.
inline constexpr int MaxImageDimension = 16384;
inline constexpr std::int64_t MaxImagePixels = std::int64_t(1) << 26;

// True when AWidth x AHeight is a non-empty picture within the limits above.
bool IsValidImageSize(std::int64_t AWidth, std::int64_t AHeight);

enum TPixelFormat {
  pfCustom,  // anything else: holds no pixels, only its size
  pf15bit,   // 16-bit little-endian word, 5-5-5 (blue in the low bits), top bit unused
  pf24bit,   // bytes B, G, R
  pf32bit,   // bytes B, G, R, A (straight alpha)
};

// Bytes per pixel of a format (0 for pfCustom).
int BytesPerPixel(TPixelFormat AFormat);

// The platform bitmap. A value type: copying copies the pixels.
class TBitmap {
 public:
  TBitmap() = default;
  // Throws EInvalidGraphic when the size is negative or beyond the limits.
  TBitmap(int AWidth, int AHeight, TPixelFormat AFormat);

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  TPixelFormat PixelFormat() const { return FPixelFormat; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  // Bytes from one row to the next (the pixels of a row padded to a multiple of 4).
  std::size_t RowStride() const { return FStride; }

  // Resizing or changing the format keeps no pixel content: new pixels are zero.
  // A size of 0 is allowed (an empty bitmap); negative or beyond the limits throws EInvalidGraphic.
  void SetSize(int AWidth, int AHeight);
  void SetWidth(int AWidth) { SetSize(AWidth, FHeight); }
  void SetHeight(int AHeight) { SetSize(FWidth, AHeight); }
  void SetPixelFormat(TPixelFormat AFormat);

  // Row ARow, 0 = top. Throws ERangeError outside 0..Height-1 or for pfCustom.
  std::uint8_t* ScanLine(int ARow);
  const std::uint8_t* ScanLine(int ARow) const;

  // Writes an uncompressed 24-bit Windows BMP whatever the pixel format (alpha is dropped, 5-5-5
  // is widened to 8 bits per channel). pfCustom throws EInvalidGraphic.
  std::vector<std::uint8_t> SaveToBytes() const;
  void SaveToStream(std::ostream& AStream) const;
  // Throws EFOpenError when the file cannot be created, EWriteError when writing fails.
  void SaveToFile(const std::filesystem::path& AFileName) const;

 private:
  void Allocate();

  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FPixelFormat = pf24bit;
  std::size_t FStride = 0;
  std::vector<std::uint8_t> FPixels;
};

// A bounded cursor over bytes: every read is checked against the end and throws EReadError
// (SReadError) when the data is too short; nothing is ever read past the data.
class TByteCursor {
 public:
  explicit TByteCursor(std::span<const std::uint8_t> AData) : FData(AData) {}

  std::size_t Position() const { return FPos; }
  std::size_t Remaining() const { return FData.size() - FPos; }
  bool CanRead(std::size_t ACount) const { return ACount <= Remaining(); }

  std::uint8_t U8();
  std::uint16_t U16();
  std::int16_t I16();
  std::uint32_t U32();
  void Skip(std::size_t ACount);
  // The next ACount bytes, consumed.
  std::span<const std::uint8_t> Take(std::size_t ACount);
  // The bytes from the position to the end, not consumed.
  std::span<const std::uint8_t> Rest() const { return FData.subspan(FPos); }

 private:
  void Require(std::size_t ACount) const;

  std::span<const std::uint8_t> FData;
  std::size_t FPos = 0;
};

// Reads a whole file. Throws EFOpenError ("Cannot open file "<name>". <reason>") when it cannot
// be opened and EReadError when reading fails.
std::vector<std::uint8_t> LoadFileBytes(const std::filesystem::path& AFileName);
// Reads a stream from its position to its end. Throws EReadError when reading fails.
std::vector<std::uint8_t> LoadStreamBytes(std::istream& AStream);

// The picture-format registry: which extensions the viewer knows as pictures, with a reader
// that decodes a file's bytes into a bitmap. Texture loading does not consult it.
using TPictureReader = std::function<TBitmap(std::span<const std::uint8_t>)>;

struct TPictureFormat {
  std::string Extension;  // without the dot, as registered ("TGA")
  std::string Description;
  TPictureReader Reader;
};

// Registers a format; a later registration of the same extension (compared without case)
// replaces the earlier one.
void RegisterFileFormat(const std::string& AExtension, const std::string& ADescription,
                        TPictureReader AReader);
// Removes the format of AExtension (compared without case); nothing happens when absent.
void UnregisterFileFormat(const std::string& AExtension);
// The format of AExtension (with or without the leading dot, compared without case), if any.
std::optional<TPictureFormat> FindFileFormat(const std::string& AExtension);
// Every registered format in order of registration.
std::vector<TPictureFormat> RegisteredFileFormats();
