#include "gl/tgaimage.h"

#include <algorithm>
#include <cstring>
#include <istream>

namespace {

TTGAHeader ReadHeader(TByteCursor& ACursor) {
  TTGAHeader h{};
  h.IDLength = ACursor.U8();
  h.ColorMapType = ACursor.U8();
  h.DataTypeCode = ACursor.U8();
  h.ColorMapOrigin = ACursor.I16();
  h.ColorMapLength = ACursor.I16();
  h.ColorMapDepth = ACursor.U8();
  h.X_Origin = ACursor.I16();
  h.Y_Origin = ACursor.I16();
  h.Width = ACursor.U16();
  h.Height = ACursor.U16();
  h.BitsPerPixel = ACursor.U8();
  h.ImageDescriptor = ACursor.U8();
  return h;
}

// Places the pixels in file order: rows bottom-up (or top-down when the descriptor says so), each
// row left to right (or right to left). Every write is checked against the image's end.
class TPixelSink {
 public:
  TPixelSink(TBitmap& ABitmap, int ABytesPerPixel, std::uint8_t ADescriptor)
      : FBitmap(ABitmap),
        FBpp(ABytesPerPixel),
        FTopDown(ADescriptor & 0x20),
        FRightToLeft(ADescriptor & 0x10),
        FRemaining(std::size_t(ABitmap.Width()) * std::size_t(ABitmap.Height())) {}

  std::size_t Remaining() const { return FRemaining; }

  // Copies ACount pixels from APixels (ACount * bpp bytes).
  void Put(const std::uint8_t* APixels, std::size_t ACount) {
    Reserve(ACount);
    while (ACount > 0) {
      const std::size_t n = std::min(ACount, std::size_t(FBitmap.Width() - FColumn));
      if (FRightToLeft) {
        for (std::size_t i = 0; i < n; ++i)
          std::memcpy(Target(FColumn + int(i)), APixels + i * FBpp, FBpp);
      } else {
        std::memcpy(Target(FColumn), APixels, n * FBpp);
      }
      APixels += n * FBpp;
      Advance(n);
      ACount -= n;
    }
  }

  // Writes one pixel ACount times.
  void Repeat(const std::uint8_t* APixel, std::size_t ACount) {
    Reserve(ACount);
    for (; ACount > 0; --ACount) {
      std::memcpy(Target(FColumn), APixel, FBpp);
      Advance(1);
    }
  }

 private:
  void Reserve(std::size_t ACount) const {
    if (ACount > FRemaining) throw EInvalidGraphic(STGAPacketPastImage);
  }

  std::uint8_t* Target(int AColumn) {
    const int row = FTopDown ? FRow : FBitmap.Height() - 1 - FRow;
    const int col = FRightToLeft ? FBitmap.Width() - 1 - AColumn : AColumn;
    return FBitmap.ScanLine(row) + std::size_t(col) * FBpp;
  }

  void Advance(std::size_t ACount) {
    FRemaining -= ACount;
    FColumn += int(ACount);
    if (FColumn == FBitmap.Width()) {
      FColumn = 0;
      ++FRow;
    }
  }

  TBitmap& FBitmap;
  std::size_t FBpp;
  bool FTopDown;
  bool FRightToLeft;
  std::size_t FRemaining;
  int FRow = 0;     // rows done, in file order
  int FColumn = 0;  // pixels done in the current row, in file order
};

}  // namespace

void TTGAImage::LoadFromBytes(std::span<const std::uint8_t> AData) {
  TByteCursor cursor(AData);
  const TTGAHeader header = ReadHeader(cursor);
  if (header.DataTypeCode != 2 && header.DataTypeCode != 10)
    throw ENotSupportedException(SNotSupported);
  TPixelFormat format;
  switch (header.BitsPerPixel) {
    case 16:
      format = pf15bit;
      break;
    case 24:
      format = pf24bit;
      break;
    case 32:
      format = pf32bit;
      break;
    default:
      throw ENotSupportedException(SNotSupported);
  }
  const int bpp = header.BitsPerPixel / 8;
  if (!IsValidImageSize(header.Width, header.Height)) throw EInvalidGraphic(SInvalidImageSize);

  cursor.Skip(header.IDLength);
  // The colour map's length is a count of entries: read it unsigned, so that a length with the
  // top bit set cannot turn into a backward skip.
  if (header.ColorMapType == 1)
    cursor.Skip(std::size_t(std::uint16_t(header.ColorMapLength)) *
                ((std::size_t(header.ColorMapDepth) + 7) / 8));

  // Before allocating: the data left must be able to hold the pixels the header claims. A run-
  // length packet of 1 + bpp bytes yields at most 128 pixels.
  const std::size_t pixels = std::size_t(header.Width) * header.Height;
  const std::size_t least =
      header.DataTypeCode == 2 ? pixels * bpp : (pixels + 127) / 128 * (1 + bpp);
  if (!cursor.CanRead(least)) throw EReadError(SReadError);

  TBitmap bitmap(header.Width, header.Height, format);
  TPixelSink sink(bitmap, bpp, header.ImageDescriptor);
  if (header.DataTypeCode == 2) {
    for (int k = 0; k < header.Height; ++k)
      sink.Put(cursor.Take(header.Width * bpp).data(), header.Width);
  } else {
    while (sink.Remaining() > 0) {
      const std::uint8_t c = cursor.U8();
      const std::size_t count = std::size_t(c & 0x7F) + 1;
      if (c & 0x80)
        sink.Repeat(cursor.Take(bpp).data(), count);
      else
        sink.Put(cursor.Take(count * bpp).data(), count);
    }
  }
  FHeader = header;
  FInternalBitmap = std::move(bitmap);
}

void TTGAImage::LoadFromStream(std::istream& AStream) {
  LoadFromBytes(LoadStreamBytes(AStream));
}

void TTGAImage::LoadFromFile(const std::filesystem::path& AFileName) {
  LoadFromBytes(LoadFileBytes(AFileName));
}

void TTGAImage::SaveToStream(std::ostream&) const {
  throw ENotSupportedException(SNotSupported);
}

void TTGAImage::LoadFromClipboardFormat(std::uint16_t, std::uintptr_t, std::uintptr_t) {
  throw ENotSupportedException(SNotSupported);
}

void TTGAImage::SaveToClipboardFormat(std::uint16_t&, std::uintptr_t&, std::uintptr_t&) const {
  throw ENotSupportedException(SNotSupported);
}

namespace {

// Registers the picture format for the program's lifetime.
struct TTGAFormatRegistration {
  TTGAFormatRegistration() {
    RegisterFileFormat("TGA", "Truevision Graphics Adapter",
                       [](std::span<const std::uint8_t> AData) {
                         TTGAImage image;
                         image.LoadFromBytes(AData);
                         return image.Bitmap();
                       });
  }
  ~TTGAFormatRegistration() { UnregisterFileFormat("TGA"); }
};

const TTGAFormatRegistration GTGAFormatRegistration;

}  // namespace
