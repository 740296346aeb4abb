#include "win/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include <jpeglib.h>

namespace qm::win {
namespace {

// libjpeg reports fatal errors through a callback that must not return; it
// jumps back to the decoder with the message kept.
struct JumpingErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr info) {
  auto *errors = reinterpret_cast<JumpingErrorManager *>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->jump, 1);
}

void QuietMessage(j_common_ptr) {}

// Only plain data lives in this frame, so the long jump skips no destructor.
// The target buffer is sized by the caller-supplied callback before any row
// is decoded.
bool DecodeInto(const std::uint8_t *data, unsigned long size, JumpingErrorManager &errors,
                std::uint8_t *(*prepare)(void *, int, int, int *), void *context) {
  jpeg_decompress_struct info;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = ErrorExit;
  errors.base.output_message = QuietMessage;
  errors.message[0] = '\0';
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char *>(data), size);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  int stride = 0;
  std::uint8_t *target =
      prepare(context, static_cast<int>(info.output_width), static_cast<int>(info.output_height), &stride);
  if (!target || info.output_components != 3) {
    std::snprintf(errors.message, sizeof errors.message, "unexpected picture layout");
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = target + static_cast<std::size_t>(info.output_scanline) * static_cast<std::size_t>(stride);
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

std::uint8_t *PrepareImage(void *context, int width, int height, int *stride) {
  auto *image = static_cast<DecodedImage *>(context);
  // The logo is small; anything far larger is not a picture we made.
  constexpr int kLargest = 4096;
  if (width <= 0 || height <= 0 || width > kLargest || height > kLargest) return nullptr;
  image->width = width;
  image->height = height;
  *stride = image->Stride();
  image->pixels.assign(static_cast<std::size_t>(*stride) * static_cast<std::size_t>(height), 0);
  return image->pixels.data();
}

} // namespace

Result<DecodedImage> DecodeJpeg(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return Fail("JPEG: no data");
  DecodedImage image;
  JumpingErrorManager errors{};
  if (!DecodeInto(bytes.data(), static_cast<unsigned long>(bytes.size()), errors, PrepareImage, &image))
    return Fail(std::string("JPEG: ") + errors.message);
  // Decoded as red-green-blue; a DIB wants blue first.
  for (int y = 0; y < image.height; ++y) {
    std::uint8_t *row = image.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.Stride());
    for (int x = 0; x < image.width; ++x)
      std::swap(row[x * 3], row[x * 3 + 2]);
  }
  return image;
}

std::span<const std::uint8_t> RcData(HINSTANCE module, const char *name) {
  HRSRC found = FindResourceA(module, name, MAKEINTRESOURCEA(10)); // RT_RCDATA
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void *data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return {static_cast<const std::uint8_t *>(data), SizeofResource(module, found)};
}

HBITMAP CreateImageBitmap(const DecodedImage &image) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() < static_cast<std::size_t>(image.Stride()) * static_cast<std::size_t>(image.height))
    return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = image.width;
  info.bmiHeader.biHeight = -image.height; // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void *bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) return bitmap;
  std::memcpy(bits, image.pixels.data(),
              static_cast<std::size_t>(image.Stride()) * static_cast<std::size_t>(image.height));
  GdiFlush();
  return bitmap;
}

} // namespace qm::win
