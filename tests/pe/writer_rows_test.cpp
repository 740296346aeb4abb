// The writer's regression table: each row a valid module with named
// patches, refused with a clear message or stamped keeping every promise,
// in bounded size (these run under ASan/UBSan too).
#include <gtest/gtest.h>

#include "crafted_modules.h"
#include "pe/resource_update.h"
#include "stamp_promises.h"
#include "test_support.h"

namespace qm::pe::test {
namespace {

class WriterRows : public ::testing::TestWithParam<craft::Row> {};

TEST_P(WriterRows, RefusedCleanlyOrStamped) {
  const craft::Row &row = GetParam();
  if (row.module && !HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no test modules";
  const Bytes image = craft::MakeRow(row, ModulePath("").parent_path());
  ASSERT_FALSE(image.empty()) << "the row's patches do not apply";
  const Bytes block(0x5C, 0x42);

  auto update = ResourceUpdate::BeginInMemory(image);
  Status end = update ? update->Put(kTypeVersion, 1, 0, block) : Fail(update.error());
  if (end) end = update->End(false);
  if (*row.refusal != '\0') {
    ASSERT_FALSE(end.ok()) << "stamped, not refused";
    EXPECT_NE(end.error().find(row.refusal), std::string::npos) << end.error();
    return;
  }
  ASSERT_TRUE(end.ok()) << end.error();
  EXPECT_EQ(BrokenPromise(image, update->Image(), block), "");
  // Work follows the real content: the new module holds the old one, the
  // block and at most a header's growth and alignment.
  EXPECT_LE(update->Image().size(), image.size() + block.size() + 3 * 0x200u);
}

INSTANTIATE_TEST_SUITE_P(Table, WriterRows, ::testing::ValuesIn(craft::Rows()), [](const auto &info) {
  std::string name = info.param.name;
  for (char &c : name)
    c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
});

} // namespace
} // namespace qm::pe::test
