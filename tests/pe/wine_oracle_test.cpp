// The platform's own view of stamped modules, under Wine: CheckSumMappedFile
// agrees with the header, the version API reads the stamped values, the
// programs still run and the libraries still load. One Wine run for all.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "crafted_modules.h"
#include "pe/byte_source.h"
#include "stamp_check.h"

namespace qm::pe::test {
namespace {

namespace fs = std::filesystem;

const Variant kWineVariants[] = {
    {"last32", "app32_last.exe", true, true, false, Placement::InPlace},
    {"last64", "app64_last.exe", true, false, true, Placement::InPlace},
    {"reloc32", "app32_reloc.exe", true, true, false, Placement::MoveRelocation},
    {"lib32", "lib32.dll", false, false, false, Placement::MoveRelocation},
    {"lib64", "lib64.dll", true, false, false, Placement::MoveRelocation},
    {"middle64", "app64_middle.exe", true, true, false, Placement::NewSection},
    {"libmiddle64", "lib64_middle.dll", false, false, false, Placement::NewSection},
    {"bare32", "app32_bare.exe", false, false, false, Placement::NewSection},
    {"bare64", "lib64_bare.dll", false, false, false, Placement::NewSection},
};

struct Checked {
  fs::path path;
  std::string load; // the expected load= value, "-" for none, or empty to compare with the control
  fs::path control; // an unstamped copy, for Wine's own modules
};

std::string WinePath(const fs::path &path) { return "Z:" + fs::absolute(path).generic_string(); }

std::string Field(const std::string &line, const std::string &name) {
  const auto at = line.find(" " + name + "=");
  if (at == std::string::npos) return "";
  const auto start = at + name.size() + 2;
  // desc= runs to the next field, the others are one word.
  const auto end = name == "desc" ? line.find(" load=", start) : line.find(' ', start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string HexWord(std::uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", v);
  return text;
}

TEST(WineOracle, PlatformReadsStampedModules) {
  if (!HaveModules()) GTEST_SKIP() << "mingw-w64 is not installed: no test modules";
  if (std::system("command -v wine >/dev/null 2>&1") != 0) GTEST_SKIP() << "wine is not installed";
  const fs::path dir = ScratchDir("wine");
  std::vector<Checked> files;
  for (const Variant &v : kWineVariants) {
    const fs::path path = dir / (std::string(v.name) + fs::path(v.module).extension().string());
    const Bytes original = VariantImage(v);
    WriteBytes(path, original);
    StampFile(path);
    files.push_back({path, path.extension() == ".exe" ? "42" : "142", {}});
  }
  // Wine answers for its own modules by name, whatever the folder: the
  // copies get other names.
  for (const fs::path &sample : WineSampleDlls()) {
    const Bytes original = ReadBytes(sample);
    const std::string stem = (Headers(original).pe32Plus ? "w64_" : "w32_") + sample.stem().string();
    const fs::path path = dir / ("qm" + stem + ".dll"), control = dir / ("qmctl" + stem + ".dll");
    WriteBytes(path, original);
    WriteBytes(control, original);
    StampFile(path);
    ExpectStamped(original, ReadBytes(path), false);
    files.push_back({path, "", control});
  }
  // The writer's table rows that stamp: the platform's checksum wherever
  // the header lies; the real programs among them still run.
  for (const craft::Row &row : craft::Rows()) {
    if (*row.refusal != '\0') continue;
    const Bytes original = craft::MakeRow(row, ModulePath("").parent_path());
    ASSERT_FALSE(original.empty()) << row.name;
    const PeHeaders headers = Headers(original);
    const bool runs = row.module != nullptr && headers.peOffset % 4 == 0;
    std::string name = std::string("row_") + row.name;
    for (char &c : name)
      c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    const fs::path path = dir / (name + (runs ? ".exe" : ".img"));
    WriteBytes(path, original);
    StampFile(path);
    files.push_back({path, runs ? "42" : "-", {}});
  }
  ASSERT_FALSE(files.empty());
  for (const char *oracle : {"oracle32.exe", "oracle64.exe"})
    fs::copy_file(ModulePath(oracle), dir / oracle);

  std::string command = std::string("cd '") + dir.string() + "' && '" + QM_WINE_RUN + "' '" + QM_PE_WINEPREFIX + "' '" +
                        (dir / "oracle32.exe").string() + "'";
  for (const auto &f : files) {
    command += " '" + WinePath(f.path) + "'";
    if (!f.control.empty()) command += " '" + WinePath(f.control) + "'";
  }
  command += " > oracle.txt 2> oracle.err";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  std::map<std::string, std::string> lines;
  std::ifstream in(dir / "oracle.txt");
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines[line.substr(0, line.find(' '))] = line;
  }
  for (const auto &f : files) {
    SCOPED_TRACE(f.path.filename().string());
    const std::string line = lines[WinePath(f.path)];
    ASSERT_FALSE(line.empty()) << "the oracle said nothing about it";
    const PeHeaders headers = Headers(ReadBytes(f.path));
    EXPECT_EQ(Field(line, "hdr"), HexWord(headers.checkSum)) << line;
    EXPECT_EQ(Field(line, "sum"), HexWord(headers.checkSum)) << line;
    EXPECT_EQ(Field(line, "map"), HexWord(headers.checkSum)) << line;
    EXPECT_EQ(Field(line, "ver"), "7.6.5.4") << line;
    EXPECT_EQ(Field(line, "desc"), "Stamped by the tests") << line;
    if (f.load == "-") continue;
    const std::string expectedLoad = f.load.empty() ? Field(lines[WinePath(f.control)], "load") : f.load;
    EXPECT_FALSE(expectedLoad.empty());
    EXPECT_EQ(Field(line, "load"), expectedLoad) << line;
  }
}

} // namespace
} // namespace qm::pe::test
