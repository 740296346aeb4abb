// The program carries its own version resource, made from the project's one
// version source, and the platform's version API can read it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "qm_version.h"

namespace {

std::string QueryString(const std::vector<char> &info, const char *path) {
  char *value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), path, reinterpret_cast<void **>(&value), &length) || !value) return {};
  return std::string(value);
}

TEST(ProgramVersionResource, MatchesProjectVersion) {
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA("quillmark.exe", &ignored);
  ASSERT_GT(size, 0u) << "quillmark.exe has no version resource";
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA("quillmark.exe", 0, size, info.data()));

  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), QM_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), QM_VERSION_MINOR);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), QM_VERSION_PATCH);
  EXPECT_EQ(QueryString(info, "\\StringFileInfo\\040904E4\\ProductVersion"), QM_VERSION_TEXT);
  EXPECT_EQ(QueryString(info, "\\StringFileInfo\\040904E4\\ProductName"), "Quillmark");
}

} // namespace
