#pragma once
// Decoding the about window's logo: a JPEG in the program's resources turned
// into a bitmap the window can draw.
#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "base/result.h"

namespace qm::win {

// Pixels top-down, 3 bytes each in blue-green-red order, every row padded to
// a multiple of 4 bytes (the layout of a 24-bit DIB).
struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
  int Stride() const { return (width * 3 + 3) & ~3; }
};

// Decodes a baseline or progressive JPEG (grey or colour). Damaged or
// truncated data gives an error, never a crash.
Result<DecodedImage> DecodeJpeg(std::span<const std::uint8_t> bytes);

// The bytes of an RCDATA resource of the module; empty when there is none.
std::span<const std::uint8_t> RcData(HINSTANCE module, const char *name);

// A 24-bit DIB section holding the image; null on failure. The caller owns it.
HBITMAP CreateImageBitmap(const DecodedImage &image);

} // namespace qm::win
