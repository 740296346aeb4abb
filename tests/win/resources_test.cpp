// The program's own resources, linked into this test program from the same
// script: the icon sizes, the manifest, the open-folder glyph and the logo.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "win/jpeg_image.h"

namespace {

TEST(ProgramResources, IconComesInTheThreeSizes) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  for (int size : {16, 32, 48}) {
    HICON icon = static_cast<HICON>(LoadImageA(self, MAKEINTRESOURCEA(1), IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, size);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    DestroyIcon(icon);
  }
}

TEST(ProgramResources, ManifestAsksForCommonControls6AndNoElevation) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const char *data = static_cast<const char *>(LockResource(LoadResource(self, found)));
  const std::string manifest(data, SizeofResource(self, found));
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("asInvoker"), std::string::npos);
  EXPECT_NE(manifest.find("dpiAware"), std::string::npos);
}

// The program's manifest, linked here too, puts the 8-bit functions in
// UTF-8, and the platform (Wine here) honours it: this process runs in it.
TEST(ProgramResources, ManifestAsksForUtf8AndLongPathsAndIsHonoured) {
  HINSTANCE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const char *data = static_cast<const char *>(LockResource(LoadResource(self, found)));
  const std::string manifest(data, SizeofResource(self, found));
  EXPECT_NE(manifest.find(">UTF-8</activeCodePage>"), std::string::npos);
  EXPECT_NE(manifest.find(">true</longPathAware>"), std::string::npos);
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

TEST(ProgramResources, OpenFolderGlyphIsSixteenColoursOnSilver) {
  HRSRC found = FindResourceA(GetModuleHandleA(nullptr), "OPENFOLDER", MAKEINTRESOURCEA(2)); // RT_BITMAP
  ASSERT_NE(found, nullptr);
  const auto *header = static_cast<const BITMAPINFOHEADER *>(LockResource(LoadResource(nullptr, found)));
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->biWidth, 16);
  EXPECT_EQ(header->biHeight, 16);
  EXPECT_EQ(header->biBitCount, 4);
  // The corner pixel is the see-through silver.
  HBITMAP bitmap = static_cast<HBITMAP>(
      LoadImageA(GetModuleHandleA(nullptr), "OPENFOLDER", IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  ASSERT_NE(bitmap, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(192, 192, 192));
  EXPECT_EQ(GetPixel(dc, 15, 15), RGB(192, 192, 192));
  EXPECT_NE(GetPixel(dc, 4, 10), RGB(192, 192, 192)); // the folder itself
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
}

TEST(ProgramResources, LogoIsABaselineColourJpeg) {
  auto bytes = qm::win::RcData(GetModuleHandleA(nullptr), "LOGO");
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  // A baseline frame header (SOF0) with three components, and no progressive one.
  bool baseline = false, progressive = false;
  for (size_t i = 2; i + 9 < bytes.size(); ++i) {
    if (bytes[i] != 0xFF) continue;
    if (bytes[i + 1] == 0xC0) baseline = bytes[i + 9] == 3;
    if (bytes[i + 1] == 0xC2) progressive = true;
  }
  EXPECT_TRUE(baseline);
  EXPECT_FALSE(progressive);
}

} // namespace
