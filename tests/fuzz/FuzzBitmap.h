// Reads every pixel byte a decoded bitmap claims to hold (width x bytes per pixel per row, every
// row), so that dimensions that disagree with the storage are caught by ASan.
#pragma once

#include "gl/Bitmap.h"
#include "tests/fuzz/FuzzInput.h"

inline void TouchBitmap(const TBitmap& ABitmap) {
  if (ABitmap.Empty() || ABitmap.PixelFormat() == pfCustom) return;
  const std::size_t RowBytes =
      std::size_t(ABitmap.Width()) * std::size_t(BytesPerPixel(ABitmap.PixelFormat()));
  for (int r = 0; r < ABitmap.Height(); ++r) TouchBytes(ABitmap.ScanLine(r), RowBytes);
}
