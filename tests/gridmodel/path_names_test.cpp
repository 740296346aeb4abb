#include "win/path_names.h"

#include <gtest/gtest.h>

namespace qm::win {
namespace {

TEST(PathNames, StandInsAreWhatNoFileNameHolds) {
  const struct {
    const char *path;
    bool standIns;
  } cases[] = {
      {"C:\\Tools.old\\ver.res", false},
      {"\\\\?\\C:\\long\\path.exe", false},
      {"\\\\.\\C:\\device\\path.exe", false},
      {"\\\\server\\share\\a.exe", false},
      {"C:\\\xE9t\xE9\\\xA9.exe", false}, // 8-bit letters the code page has
      {"C:\\?? ??.exe", true},            // Chinese on Windows-1252
      {"\\\\?\\C:\\??.exe", true},        // after the long-path prefix
      {"C:\\folder\\*.exe", true},
      {"", false},
  };
  for (const auto &c : cases)
    EXPECT_EQ(HoldsStandIns(c.path), c.standIns) << c.path;
}

} // namespace
} // namespace qm::win
