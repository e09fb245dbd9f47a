// DDS: reader of DirectDraw Surface files with DXT1, DXT3 or DXT5 data and their mip chain.
// A pure function over the file's bytes; the texture upload lives in gl/Textures.
// Depends on gl/Bitmap.h (byte cursor, errors) only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr const char* SInvalidDDSHeader = "不正なDDSヘッダ";
inline constexpr const char* SUnsupportedFourCC = "未対応のFOURCC";

// GL internal formats of the S3TC data (GL_COMPRESSED_RGBA_S3TC_DXTn_EXT).
inline constexpr std::uint32_t DDSFormatDXT1 = 0x83F1;
inline constexpr std::uint32_t DDSFormatDXT3 = 0x83F2;
inline constexpr std::uint32_t DDSFormatDXT5 = 0x83F3;

// Where one mip level's compressed data lies in the file.
struct TDDSLevel {
  int Width;
  int Height;
  std::size_t Offset;  // from the start of the file
  std::size_t Size;    // bytes
};

struct TDDSImage {
  std::uint32_t InternalFormat;  // one of DDSFormatDXT1/3/5
  std::uint32_t BlockBytes;      // 8 or 16 bytes per 4 x 4 block
  int Width;
  int Height;
  std::vector<TDDSLevel> Levels;  // level 0 first; at least one
};

// Bytes of one compressed level: whole 4 x 4 blocks, never fewer than one block per side.
std::size_t DDSLevelSize(std::uint32_t ABlockBytes, std::uint32_t AWidth, std::uint32_t AHeight);

// Parses the header and lays out the whole mip chain the header declares (a count of 0 means one
// level). Throws Exception(SInvalidDDSHeader) when the file does not start with "DDS ",
// Exception(SUnsupportedFourCC) for another pixel format, EReadError(SReadError) when the file
// ends inside the header or before the last declared level, EInvalidGraphic(SInvalidImageSize)
// for a zero or absurd width or height.
TDDSImage ReadDDS(std::span<const std::uint8_t> AFile);
