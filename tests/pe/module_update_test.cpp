// Stamping modules built by mingw-w64, in every placement the writer knows,
// and packed programs nobody here built.
#include <gtest/gtest.h>

#include "pe/byte_source.h"
#include "pe/resource_update.h"
#include "pe/version_reader.h"
#include "stamp/exit_codes.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"
#include "stamp_check.h"
#include "stamp_promises.h"

namespace qm::pe::test {
namespace {

namespace fs = std::filesystem;

const Variant kVariants[] = {
    {"app32_last", "app32_last.exe", false, false, false, Placement::InPlace},
    {"app32_last_overlay_cert", "app32_last.exe", true, true, false, Placement::InPlace},
    {"app64_last_debug_past", "app64_last.exe", true, false, true, Placement::InPlace},
    {"app32_reloc", "app32_reloc.exe", false, false, false, Placement::MoveRelocation},
    {"app32_reloc_overlay_cert", "app32_reloc.exe", true, true, false, Placement::MoveRelocation},
    {"lib32_languages", "lib32.dll", false, false, false, Placement::MoveRelocation},
    {"lib64", "lib64.dll", true, false, false, Placement::MoveRelocation},
    {"app64_middle", "app64_middle.exe", true, true, false, Placement::NewSection},
    {"lib64_middle_languages", "lib64_middle.dll", false, false, false, Placement::NewSection},
    {"app32_bare", "app32_bare.exe", false, false, false, Placement::NewSection},
    {"lib64_bare_overlay", "lib64_bare.dll", true, false, false, Placement::NewSection},
};

class ModuleUpdate : public ::testing::TestWithParam<Variant> {
protected:
  void SetUp() override {
    if (!HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no test modules";
    ASSERT_FALSE(StampBlock().empty()) << "no version block in stamp.res";
  }
};

TEST_P(ModuleUpdate, StoresTheBlockAndKeepsEverythingElse) {
  const Variant &v = GetParam();
  const Bytes original = VariantImage(v);
  auto plan = PlanLayout(original, Headers(original));
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_EQ(plan->placement, v.placement);

  const fs::path path = ScratchDir(v.name) / v.module;
  WriteBytes(path, original);
  StampFile(path);
  const Bytes stamped = ReadBytes(path);
  ExpectStamped(original, stamped, v.overlay);
  // The block is large enough that what follows the resources moves.
  EXPECT_GT(Headers(stamped).ImageFileEnd(), Headers(original).ImageFileEnd());
  EXPECT_EQ(Headers(stamped).sections.size(),
            Headers(original).sections.size() + (v.placement == Placement::NewSection ? 1 : 0));

  // The same block again changes nothing.
  StampFile(path);
  EXPECT_TRUE(ReadBytes(path) == stamped) << "a second stamp with the same block changed the file";
}

// A change that gives up after its puts writes nothing.
TEST_P(ModuleUpdate, DiscardLeavesTheFileAlone) {
  const Variant &v = GetParam();
  const Bytes original = VariantImage(v);
  const fs::path path = ScratchDir(std::string(v.name) + "_discard") / v.module;
  WriteBytes(path, original);
  const auto failure = stamp::UpdateModule(path, v.module, [](ResourceUpdate &update) -> Status {
    if (auto put = update.Put(kTypeVersion, 1, 0, StampBlock()); !put) return put;
    return Fail("discarded");
  });
  ASSERT_FALSE(failure.ok()) << "a discarded update committed";
  EXPECT_NE(failure.error().find("discarded"), std::string::npos) << failure.error();
  EXPECT_TRUE(ReadBytes(path) == original);
}

INSTANTIATE_TEST_SUITE_P(Modules, ModuleUpdate, ::testing::ValuesIn(kVariants),
                         [](const auto &info) { return std::string(info.param.name); });

// Debian's packed twins of ClamAV's small test program, as packers lay them
// out: the loader runs them all, so they are read; a stamp keeps them
// running, or is refused with the layout or the packer that forbids it,
// the file left as it was.
struct PackedProgram {
  const char *file;
  stamp::ExitCode code;
  const char *refusal; // "" for a stamp
  friend void PrintTo(const PackedProgram &p, std::ostream *os) { *os << p.file; }
};

class PackedPrograms : public ::testing::TestWithParam<PackedProgram> {};

TEST_P(PackedPrograms, AreReadAndStampedOrRefusedForTheirLayout) {
  const PackedProgram &p = GetParam();
  const fs::path sample = fs::path("/usr/share/clamav-testfiles") / p.file;
  if (!fs::exists(sample)) GTEST_SKIP() << "clamav-testfiles is not installed";
  const Bytes original = ReadBytes(sample);
  auto found = ReadVersionResource(MemorySource(original), 0x0409);
  ASSERT_TRUE(found.ok()) << found.error();

  const fs::path path = ScratchDir(std::string("packed_") + p.file) / p.file;
  WriteBytes(path, original);
  const auto failure = stamp::StoreVersionResource(path, p.file, StampBlock());
  EXPECT_EQ(failure.ok() ? stamp::ExitCode::Success : stamp::ExitCodeFor(failure.failure()), p.code)
      << (failure.ok() ? "stamped" : failure.error());
  if (*p.refusal == '\0') {
    if (failure.ok()) ExpectStamped(original, ReadBytes(path), false);
    return;
  }
  ASSERT_FALSE(failure.ok());
  EXPECT_NE(failure.error().find(p.refusal), std::string::npos) << failure.error();
  EXPECT_TRUE(ReadBytes(path) == original) << "a refused stamp changed the file";
}

INSTANTIATE_TEST_SUITE_P(
    Clamav, PackedPrograms,
    ::testing::Values(
        // SizeOfHeaders past the file's end; raw data inside the headers.
        PackedProgram{"clam.exe", stamp::ExitCode::ModuleUnwritable, "its sections lie inside its headers"},
        PackedProgram{"clam-upx.exe", stamp::ExitCode::Success, ""},
        PackedProgram{"clam-upack.exe", stamp::ExitCode::ModuleUnwritable, "its sections lie inside its headers"},
        PackedProgram{"clam-aspack.exe", stamp::ExitCode::Success, ""},
        PackedProgram{"clam-fsg.exe", stamp::ExitCode::Success, ""},
        // MEW keeps code right after the section table: no room for another
        // section header.
        PackedProgram{"clam-mew.exe", stamp::ExitCode::ModuleUnwritable, "the bytes after the section table"},
        PackedProgram{"clam-wwpack.exe", stamp::ExitCode::Success, ""},
        PackedProgram{"clam-petite.exe", stamp::ExitCode::WouldBreak, "packed with Petite"},
        PackedProgram{"clam-pespin.exe", stamp::ExitCode::WouldBreak, "packed with PESpin"},
        PackedProgram{"clam-yc.exe", stamp::ExitCode::WouldBreak, "packed with yC"}),
    [](const auto &info) {
      std::string name = info.param.file;
      for (char &c : name)
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

class ModuleRead : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no test modules";
  }
};

// Of 0x0407 and 0x0409, the user's language wins, then US English; after a
// stamp the neutral one wins and the old ones are still listed.
TEST_F(ModuleRead, ChoosesAmongLanguages) {
  struct Case {
    std::uint16_t user;
    std::uint16_t chosen;
  };
  for (const Case c : {Case{0x0407, 0x0407}, Case{0x0409, 0x0409}, Case{0x0411, 0x0409}}) {
    auto found = stamp::ReadVersionResource(ModulePath("lib32.dll"), c.user);
    ASSERT_TRUE(found.ok()) << found.error();
    ASSERT_TRUE(found->has_value());
    EXPECT_EQ((*found)->language, c.chosen) << "user language " << c.user;
    EXPECT_EQ((*found)->otherLanguages, std::vector<std::uint16_t>{std::uint16_t(c.chosen ^ 0x0407 ^ 0x0409)});
  }
  const fs::path path = ScratchDir("languages") / "lib32.dll";
  fs::copy_file(ModulePath("lib32.dll"), path);
  StampFile(path);
  auto found = stamp::ReadVersionResource(path, 0x0407);
  ASSERT_TRUE(found.ok() && found->has_value());
  EXPECT_EQ((*found)->language, 0);
  EXPECT_EQ((*found)->otherLanguages, (std::vector<std::uint16_t>{0x0407, 0x0409}));
}

TEST_F(ModuleRead, NoVersionResourceIsNotAnError) {
  auto found = stamp::ReadVersionResource(ModulePath("app32_bare.exe"), 0x0409);
  ASSERT_TRUE(found.ok()) << found.error();
  EXPECT_FALSE(found->has_value());
}

// Sorted as the loader's binary search needs: named entries by code unit
// before ids, ids ascending, at every level.
TEST_F(ModuleRead, RebuiltTreeIsSorted) {
  const fs::path path = ScratchDir("sorted") / "app32_last.exe";
  fs::copy_file(ModulePath("app32_last.exe"), path);
  const auto failure = stamp::UpdateModule(path, "app32_last.exe", [](ResourceUpdate &update) -> Status {
    QM_RETURN_IF_ERROR(update.Put(ResourceId::Named(u"b"), ResourceId::Named(u"Z"), 3, StampBlock()));
    QM_RETURN_IF_ERROR(update.Put(ResourceId::Named(u"B"), 9, 1, StampBlock()));
    QM_RETURN_IF_ERROR(update.Put(ResourceId::Named(u"b"), ResourceId::Named(u"Z"), 1, StampBlock()));
    return update.Put(ResourceId::Named(u"b"), 2, 0, StampBlock());
  });
  ASSERT_TRUE(failure.ok()) << failure.error();
  const Bytes image = ReadBytes(path);
  auto leaves = ParseResourceTree(MemorySource(image), Headers(image));
  ASSERT_TRUE(leaves.ok()) << leaves.error();
  ASSERT_FALSE(leaves->empty());
  EXPECT_TRUE(std::is_sorted(leaves->begin(), leaves->end(), [](const ResourceLeaf &a, const ResourceLeaf &b) {
    return std::tie(a.type, a.name, a.language) < std::tie(b.type, b.name, b.language);
  }));
  EXPECT_TRUE(leaves->front().type == ResourceId::Named(u"B")) << leaves->front().type.ToString();
}

TEST_F(ModuleRead, DeleteRemovesOneLanguage) {
  auto update = ResourceUpdate::BeginInMemory(ReadBytes(ModulePath("lib32.dll")));
  ASSERT_TRUE(update.ok()) << update.error();
  ASSERT_TRUE(update->Delete(kTypeVersion, 1, 0x0407).ok());
  EXPECT_FALSE(update->Delete(kTypeVersion, 1, 0x0407).ok()) << "deleted twice";
  const auto stamped = ComposedBytes(*update);
  ASSERT_TRUE(stamped.ok()) << stamped.error();
  auto found = ReadVersionResource(MemorySource(*stamped), 0x0407);
  ASSERT_TRUE(found.ok() && found->has_value());
  EXPECT_EQ((*found)->language, 0x0409);
  EXPECT_TRUE((*found)->otherLanguages.empty());
}

} // namespace
} // namespace qm::pe::test
