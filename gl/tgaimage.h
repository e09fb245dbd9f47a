// tgaimage: the reader of Truevision TGA pictures (uncompressed and run-length encoded true
// colour, 16/24/32 bits) into the platform bitmap, registered as the picture format "TGA".
// Depends on gl/Bitmap.h only; decoding is a pure function over the file's bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <span>

#include "gl/Bitmap.h"

// An operation the picture class does not offer (writing, clipboard exchange), or a TGA flavour
// it does not read.
class ENotSupportedException : public Exception {
 public:
  using Exception::Exception;
};

inline constexpr const char* SNotSupported = "Not supported.";
inline constexpr const char* STGAPacketPastImage = "Run-length packet runs past the last pixel";

// The 18-byte little-endian file header, field by field.
struct TTGAHeader {
  std::uint8_t IDLength;
  std::uint8_t ColorMapType;
  std::uint8_t DataTypeCode;
  std::int16_t ColorMapOrigin;
  std::int16_t ColorMapLength;
  std::uint8_t ColorMapDepth;
  std::int16_t X_Origin;
  std::int16_t Y_Origin;
  std::uint16_t Width;
  std::uint16_t Height;
  std::uint8_t BitsPerPixel;
  std::uint8_t ImageDescriptor;
};

class TTGAImage {
 public:
  TTGAImage() = default;

  // Decodes a TGA file's bytes into the internal bitmap: 16 bits give a pf15bit bitmap, 24 and 32
  // bits pf24bit and pf32bit, pixel bytes unchanged. Rows are stored bottom-up unless bit 5 of
  // ImageDescriptor says top-down; bit 4 says right-to-left. Throws ENotSupportedException
  // (SNotSupported) for image types other than 2 and 10 or other depths, EReadError (SReadError)
  // when the data ends early, EInvalidGraphic for a zero or absurd size (SInvalidImageSize) or a
  // run-length packet that runs past the last pixel (STGAPacketPastImage). On error the image
  // keeps what it held before.
  void LoadFromBytes(std::span<const std::uint8_t> AData);
  // Reads the stream from its position to its end and decodes that.
  void LoadFromStream(std::istream& AStream);
  // Throws EFOpenError when the file cannot be opened.
  void LoadFromFile(const std::filesystem::path& AFileName);

  // Writing and clipboard exchange are not offered: each throws ENotSupportedException.
  void SaveToStream(std::ostream& AStream) const;
  void LoadFromClipboardFormat(std::uint16_t AFormat, std::uintptr_t AData,
                               std::uintptr_t APalette);
  void SaveToClipboardFormat(std::uint16_t& AFormat, std::uintptr_t& AData,
                             std::uintptr_t& APalette) const;

  // Copies a picture in or out through the internal bitmap.
  void Assign(const TBitmap& ASource) { FInternalBitmap = ASource; }
  void Assign(const TTGAImage& ASource) { FInternalBitmap = ASource.FInternalBitmap; }
  void AssignTo(TBitmap& ADest) const { ADest = FInternalBitmap; }
  void AssignTo(TTGAImage& ADest) const { ADest.FInternalBitmap = FInternalBitmap; }

  int Width() const { return FInternalBitmap.Width(); }
  int Height() const { return FInternalBitmap.Height(); }
  bool Empty() const { return FInternalBitmap.Empty(); }
  void SetWidth(int AWidth) { FInternalBitmap.SetWidth(AWidth); }
  void SetHeight(int AHeight) { FInternalBitmap.SetHeight(AHeight); }

  const TTGAHeader& Header() const { return FHeader; }
  const TBitmap& Bitmap() const { return FInternalBitmap; }

 private:
  TTGAHeader FHeader{};
  TBitmap FInternalBitmap;
};
