#include "gl/DDS.h"

#include "gl/Bitmap.h"

std::size_t DDSLevelSize(std::uint32_t ABlockBytes, std::uint32_t AWidth, std::uint32_t AHeight) {
  return std::size_t(ABlockBytes) * ((std::size_t(AWidth) + 3) / 4) *
         ((std::size_t(AHeight) + 3) / 4);
}

TDDSImage ReadDDS(std::span<const std::uint8_t> AFile) {
  TByteCursor cursor(AFile);
  // A file too short to hold the magic does not start with "DDS " either.
  if (!cursor.CanRead(4)) throw Exception(SInvalidDDSHeader);
  const std::span<const std::uint8_t> magic = cursor.Take(4);
  if (magic[0] != 'D' || magic[1] != 'D' || magic[2] != 'S' || magic[3] != ' ')
    throw Exception(SInvalidDDSHeader);

  TByteCursor header(cursor.Take(124));
  header.Skip(8);
  const std::uint32_t height = header.U32();
  const std::uint32_t width = header.U32();
  header.Skip(8);
  const std::uint32_t mipCount = header.U32();
  header.Skip(80 - 28);
  const std::uint32_t fourCC = header.U32();

  TDDSImage image{};
  auto code = [](char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
  };
  if (fourCC == code('D', 'X', 'T', '1')) {
    image.InternalFormat = DDSFormatDXT1;
    image.BlockBytes = 8;
  } else if (fourCC == code('D', 'X', 'T', '3')) {
    image.InternalFormat = DDSFormatDXT3;
    image.BlockBytes = 16;
  } else if (fourCC == code('D', 'X', 'T', '5')) {
    image.InternalFormat = DDSFormatDXT5;
    image.BlockBytes = 16;
  } else {
    throw Exception(SUnsupportedFourCC);
  }
  if (!IsValidImageSize(width, height)) throw EInvalidGraphic(SInvalidImageSize);
  image.Width = int(width);
  image.Height = int(height);

  // Every level is at least one block, so a count the data cannot hold fails before anything is
  // allocated for it; then every level must lie wholly inside the data.
  const std::uint32_t levels = mipCount == 0 ? 1 : mipCount;
  if (levels > cursor.Remaining() / image.BlockBytes) throw EReadError(SReadError);
  image.Levels.reserve(levels);
  std::uint32_t w = width, h = height;
  for (std::uint32_t i = 0; i < levels; ++i) {
    const std::size_t size = DDSLevelSize(image.BlockBytes, w, h);
    if (!cursor.CanRead(size)) throw EReadError(SReadError);
    image.Levels.push_back({int(w), int(h), cursor.Position(), size});
    cursor.Skip(size);
    w = w / 2 == 0 ? 1 : w / 2;
    h = h / 2 == 0 ? 1 : h / 2;
  }
  return image;
}
