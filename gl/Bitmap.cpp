#include "gl/Bitmap.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>
#include <utility>

bool IsValidImageSize(std::int64_t AWidth, std::int64_t AHeight) {
  return AWidth > 0 && AHeight > 0 && AWidth <= MaxImageDimension && AHeight <= MaxImageDimension &&
         AWidth * AHeight <= MaxImagePixels;
}

int BytesPerPixel(TPixelFormat AFormat) {
  switch (AFormat) {
    case pf15bit:
      return 2;
    case pf24bit:
      return 3;
    case pf32bit:
      return 4;
    case pfCustom:
      break;
  }
  return 0;
}

TBitmap::TBitmap(int AWidth, int AHeight, TPixelFormat AFormat) : FPixelFormat(AFormat) {
  SetSize(AWidth, AHeight);
}

void TBitmap::SetSize(int AWidth, int AHeight) {
  // An empty side is allowed (an empty bitmap); anything else must be a valid picture size.
  if (AWidth < 0 || AHeight < 0 || AWidth > MaxImageDimension || AHeight > MaxImageDimension ||
      std::int64_t(AWidth) * AHeight > MaxImagePixels)
    throw EInvalidGraphic(SInvalidImageSize);
  FWidth = AWidth;
  FHeight = AHeight;
  Allocate();
}

void TBitmap::SetPixelFormat(TPixelFormat AFormat) {
  if (AFormat == FPixelFormat) return;
  FPixelFormat = AFormat;
  Allocate();
}

void TBitmap::Allocate() {
  const std::size_t rowBytes = std::size_t(FWidth) * BytesPerPixel(FPixelFormat);
  FStride = (rowBytes + 3) & ~std::size_t(3);
  FPixels.assign(FStride * std::size_t(FHeight), 0);
}

std::uint8_t* TBitmap::ScanLine(int ARow) {
  return const_cast<std::uint8_t*>(std::as_const(*this).ScanLine(ARow));
}

const std::uint8_t* TBitmap::ScanLine(int ARow) const {
  if (ARow < 0 || ARow >= FHeight || FStride == 0) throw ERangeError(SScanLineRange);
  return FPixels.data() + std::size_t(ARow) * FStride;
}

namespace {

void PutU16(std::vector<std::uint8_t>& AOut, std::uint32_t AValue) {
  AOut.push_back(std::uint8_t(AValue));
  AOut.push_back(std::uint8_t(AValue >> 8));
}

void PutU32(std::vector<std::uint8_t>& AOut, std::uint32_t AValue) {
  PutU16(AOut, AValue & 0xFFFF);
  PutU16(AOut, AValue >> 16);
}

// Widens a 5-bit channel to 8 bits so that 31 becomes 255.
std::uint8_t Widen5(unsigned AValue) {
  return std::uint8_t((AValue << 3) | (AValue >> 2));
}

}  // namespace

std::vector<std::uint8_t> TBitmap::SaveToBytes() const {
  if (FPixelFormat == pfCustom) throw EInvalidGraphic(SInvalidPixelFormat);
  const std::size_t outStride = (std::size_t(FWidth) * 3 + 3) & ~std::size_t(3);
  const std::size_t imageBytes = outStride * std::size_t(FHeight);
  const std::size_t headerBytes = 14 + 40;
  std::vector<std::uint8_t> out;
  out.reserve(headerBytes + imageBytes);
  // BITMAPFILEHEADER
  out.push_back('B');
  out.push_back('M');
  PutU32(out, std::uint32_t(headerBytes + imageBytes));
  PutU32(out, 0);
  PutU32(out, std::uint32_t(headerBytes));
  // BITMAPINFOHEADER: positive height = rows stored bottom-up; BI_RGB, no palette.
  PutU32(out, 40);
  PutU32(out, std::uint32_t(FWidth));
  PutU32(out, std::uint32_t(FHeight));
  PutU16(out, 1);
  PutU16(out, 24);
  PutU32(out, 0);
  PutU32(out, std::uint32_t(imageBytes));
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);
  for (int r = FHeight - 1; r >= 0; --r) {
    const std::uint8_t* src = ScanLine(r);
    const std::size_t rowStart = out.size();
    for (int x = 0; x < FWidth; ++x) {
      switch (FPixelFormat) {
        case pf24bit:
          out.insert(out.end(), src + 3 * x, src + 3 * x + 3);
          break;
        case pf32bit:
          out.insert(out.end(), src + 4 * x, src + 4 * x + 3);
          break;
        case pf15bit: {
          const unsigned w = unsigned(src[2 * x]) | (unsigned(src[2 * x + 1]) << 8);
          out.push_back(Widen5(w & 31));
          out.push_back(Widen5((w >> 5) & 31));
          out.push_back(Widen5((w >> 10) & 31));
          break;
        }
        case pfCustom:
          break;
      }
    }
    out.resize(rowStart + outStride, 0);
  }
  return out;
}

void TBitmap::SaveToStream(std::ostream& AStream) const {
  const std::vector<std::uint8_t> bytes = SaveToBytes();
  AStream.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!AStream) throw EWriteError(SWriteError);
}

void TBitmap::SaveToFile(const std::filesystem::path& AFileName) const {
  const std::vector<std::uint8_t> bytes = SaveToBytes();
  std::ofstream file(AFileName, std::ios::binary | std::ios::trunc);
  if (!file)
    throw EFOpenError("Cannot create file \"" + AFileName.string() + "\". " + std::strerror(errno));
  file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  file.flush();
  if (!file) throw EWriteError(SWriteError);
}

void TByteCursor::Require(std::size_t ACount) const {
  if (!CanRead(ACount)) throw EReadError(SReadError);
}

std::uint8_t TByteCursor::U8() {
  Require(1);
  return FData[FPos++];
}

std::uint16_t TByteCursor::U16() {
  Require(2);
  const std::uint16_t v = std::uint16_t(FData[FPos] | (FData[FPos + 1] << 8));
  FPos += 2;
  return v;
}

std::int16_t TByteCursor::I16() {
  return std::int16_t(U16());
}

std::uint32_t TByteCursor::U32() {
  Require(4);
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | FData[FPos + i];
  FPos += 4;
  return v;
}

void TByteCursor::Skip(std::size_t ACount) {
  Require(ACount);
  FPos += ACount;
}

std::span<const std::uint8_t> TByteCursor::Take(std::size_t ACount) {
  Require(ACount);
  const std::span<const std::uint8_t> s = FData.subspan(FPos, ACount);
  FPos += ACount;
  return s;
}

std::vector<std::uint8_t> LoadFileBytes(const std::filesystem::path& AFileName) {
  std::ifstream file(AFileName, std::ios::binary);
  std::error_code ec;
  // A directory opens as a stream on Linux but is no file to read.
  if (!file || std::filesystem::is_directory(AFileName, ec)) {
    const int err = file ? EISDIR : errno;
    throw EFOpenError("Cannot open file \"" + AFileName.string() + "\". " + std::strerror(err));
  }
  std::vector<std::uint8_t> bytes;
  const std::uintmax_t size = std::filesystem::file_size(AFileName, ec);
  if (!ec) bytes.reserve(std::size_t(size));
  char buffer[65536];
  while (file) {
    file.read(buffer, sizeof buffer);
    bytes.insert(bytes.end(), buffer, buffer + file.gcount());
  }
  if (file.bad()) throw EReadError(SReadError);
  return bytes;
}

std::vector<std::uint8_t> LoadStreamBytes(std::istream& AStream) {
  std::vector<std::uint8_t> bytes;
  char buffer[65536];
  while (AStream) {
    AStream.read(buffer, sizeof buffer);
    bytes.insert(bytes.end(), buffer, buffer + AStream.gcount());
  }
  if (AStream.bad()) throw EReadError(SReadError);
  return bytes;
}

namespace {

std::string UpperAscii(std::string AText) {
  for (char& c : AText)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return AText;
}

std::string NormalExtension(const std::string& AExtension) {
  return UpperAscii(!AExtension.empty() && AExtension[0] == '.' ? AExtension.substr(1)
                                                                : AExtension);
}

// Built on first use, so registrations from static initialisers of other files find it ready.
std::vector<TPictureFormat>& Registry() {
  static std::vector<TPictureFormat> formats;
  return formats;
}

}  // namespace

void RegisterFileFormat(const std::string& AExtension, const std::string& ADescription,
                        TPictureReader AReader) {
  std::vector<TPictureFormat>& formats = Registry();
  const std::string key = NormalExtension(AExtension);
  std::erase_if(formats,
                [&](const TPictureFormat& f) { return NormalExtension(f.Extension) == key; });
  formats.push_back({AExtension, ADescription, std::move(AReader)});
}

void UnregisterFileFormat(const std::string& AExtension) {
  std::vector<TPictureFormat>& formats = Registry();
  const std::string key = NormalExtension(AExtension);
  std::erase_if(formats,
                [&](const TPictureFormat& f) { return NormalExtension(f.Extension) == key; });
}

std::optional<TPictureFormat> FindFileFormat(const std::string& AExtension) {
  std::vector<TPictureFormat>& formats = Registry();
  const std::string key = NormalExtension(AExtension);
  for (const TPictureFormat& f : formats)
    if (NormalExtension(f.Extension) == key) return f;
  return std::nullopt;
}

std::vector<TPictureFormat> RegisteredFileFormats() {
  std::vector<TPictureFormat>& formats = Registry();
  return formats;
}
