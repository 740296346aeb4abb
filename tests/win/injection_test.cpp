// quillmark.exe /v as a build script runs it: a separate process, its exit
// code, its one line on stderr, the module untouched on every failure, and
// the platform's version API reading the stamped values on success.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codec/encoder.h"
#include "codec/text_codec.h"
#include "pe/resource_id.h"
#include "pe/resource_update.h"
#include "stamp/module_file.h"
#include "stamp/module_injection.h"

namespace {

namespace fs = std::filesystem;

std::vector<char> ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path &path, const std::vector<std::uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadBytesOf(const fs::path &path) {
  const auto chars = ReadAll(path);
  return std::vector<std::uint8_t>(chars.begin(), chars.end());
}

struct ProgramRun {
  DWORD code = 0xFFFFFFFF;
  std::string err;
};

// Starts quillmark.exe (beside this test) with `arguments` (UTF-8, given as
// UTF-16 as a shell gives them) and its standard error going to a file, as a
// script's redirection would.
ProgramRun RunQuillmark(const fs::path &folder, const std::string &arguments) {
  const std::string errPath = (folder / "stderr.txt").string();
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE errFile = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(errFile, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = errFile;
  PROCESS_INFORMATION process{};
  std::u16string commandLine = qm::Utf8ToUtf16("quillmark.exe " + arguments);
  ProgramRun run;
  if (CreateProcessW(L"quillmark.exe", reinterpret_cast<wchar_t *>(commandLine.data()), nullptr, nullptr, TRUE, 0,
                     nullptr, nullptr, &startup, &process)) {
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
    GetExitCodeProcess(process.hProcess, &run.code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    ADD_FAILURE() << "quillmark.exe could not be started: " << GetLastError();
  }
  CloseHandle(errFile);
  const auto err = ReadAll(errPath);
  run.err.assign(err.begin(), err.end());
  return run;
}

std::string Quote(const fs::path &path) { return "\"" + qm::Utf16ToUtf8(path.u16string()) + "\""; }

class InjectionMode : public ::testing::Test {
protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    folder = fs::path(temp) / ("qm injection " + std::to_string(GetCurrentProcessId()) + " " +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    // The program itself is a module with a version resource in US English
    // and several other resources.
    module = folder / "target module.exe";
    fs::copy_file("quillmark.exe", module);

    qm::VersionFields fields;
    fields.FileMajor = 4;
    fields.FileMinor = 3;
    fields.FileRelease = 2;
    fields.FileBuild = 1;
    fields.ProdMajor = 4;
    fields.ProdBuild = 9;
    fields.PreRelease = true;
    fields.Private = true;
    fields.FileOs = 0x00040004;
    fields.FileType = 2;
    fields.LanguageText = "0809";
    fields.CodePageText = "1252";
    fields.Rows = {{"CompanyName", "Brindlewick"}, {"FileDescription", "Stamped under test"}, {"Comments", ""}};
    auto block = qm::EncodeVersionBlock(fields, qm::Windows1252Codec());
    ASSERT_TRUE(block) << block.error();
    blockFile = folder / "version.res";
    WriteAll(blockFile, *block);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  fs::path folder, module, blockFile;
};

std::string QueryString(const std::vector<char> &info, const char *path) {
  char *value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), path, reinterpret_cast<void **>(&value), &length) || !value) return "<none>";
  return std::string(value);
}

TEST_F(InjectionMode, StampsSilentlyAndThePlatformReadsTheValues) {
  ProgramRun run = RunQuillmark(folder, "/v " + Quote(module) + " " + Quote(blockFile) + " ignored \"also ignored\"");
  EXPECT_EQ(run.code, 0u);
  EXPECT_EQ(run.err, "");

  const std::string name = module.string();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(name.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(name.c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00040003u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00020001u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00040000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000009u);
  EXPECT_EQ(fixed->dwFileFlags, 0x0Au);
  EXPECT_EQ(fixed->dwFileType, 2u);
  EXPECT_EQ(QueryString(info, "\\StringFileInfo\\080904E4\\CompanyName"), "Brindlewick");
  EXPECT_EQ(QueryString(info, "\\StringFileInfo\\080904E4\\FileDescription"), "Stamped under test");
  EXPECT_EQ(QueryString(info, "\\StringFileInfo\\080904E4\\Comments"), "");
  WORD *translation = nullptr;
  ASSERT_TRUE(
      VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0809);
  EXPECT_EQ(translation[1], 1252);

  // The module is still a program the platform can start.
  ProgramRun again = RunQuillmark(folder, "/v");
  EXPECT_EQ(again.code, 2u);
}

TEST_F(InjectionMode, StoresAnyBytesUninterpreted) {
  const std::vector<std::uint8_t> bytes = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'l', 'o', 'c', 'k'};
  WriteAll(blockFile, bytes);
  ASSERT_EQ(RunQuillmark(folder, "/v " + Quote(module) + " " + Quote(blockFile)).code, 0u);
  HMODULE loaded = LoadLibraryExA(module.string().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(loaded, nullptr);
  HRSRC found = FindResourceExA(loaded, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), 0);
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(SizeofResource(loaded, found), bytes.size());
  const auto *data = static_cast<const std::uint8_t *>(LockResource(LoadResource(loaded, found)));
  EXPECT_EQ(std::vector<std::uint8_t>(data, data + bytes.size()), bytes);
  FreeLibrary(loaded);
}

// The module is written piece by piece from the held file; with several
// megabytes after the image, the copy runs over many reads. The file it
// leaves is the module the in-memory writer builds from the same bytes.
TEST_F(InjectionMode, ALargeModuleIsWrittenAsTheInMemoryWriterBuildsIt) {
  std::vector<std::uint8_t> original = ReadBytesOf(module);
  std::uint32_t seed = 99;
  for (std::size_t i = 0; i < (std::size_t{3} << 20) + 7; ++i)
    original.push_back(static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24));
  WriteAll(module, original);
  auto expected = qm::pe::ResourceUpdate::BeginInMemory(original);
  ASSERT_TRUE(expected.ok()) << expected.error();
  ASSERT_TRUE(expected->Put(qm::pe::ResourceId(16), qm::pe::ResourceId(1), 0, ReadBytesOf(blockFile)).ok());
  const auto composed = expected->Compose();
  ASSERT_TRUE(composed.ok()) << composed.error();
  const auto expectedBytes = composed->Materialize(expected->Source());
  ASSERT_TRUE(expectedBytes.ok()) << expectedBytes.error();

  ProgramRun run = RunQuillmark(folder, "/v " + Quote(module) + " " + Quote(blockFile));
  EXPECT_EQ(run.code, 0u) << run.err;
  EXPECT_TRUE(ReadBytesOf(module) == *expectedBytes) << "the stamped module differs";
}

// A signature no longer matches a stamped module: it goes, with a notice,
// and the stamp still succeeds.
TEST_F(InjectionMode, ASignedModuleLosesItsSignatureWithANotice) {
  std::vector<std::uint8_t> bytes = ReadBytesOf(module);
  const qm::pe::MemorySource source(bytes);
  const auto headers = qm::pe::ParseHeaders(source);
  ASSERT_TRUE(headers.ok()) << headers.error();
  const auto directory = headers->DirectoryOffset(qm::pe::kDirSecurity);
  const auto at = static_cast<std::uint32_t>(bytes.size());
  for (int k = 0; k < 4; ++k) {
    bytes[directory + k] = static_cast<std::uint8_t>(at >> (8 * k));
    bytes[directory + 4 + k] = static_cast<std::uint8_t>(64u >> (8 * k));
  }
  bytes.resize(bytes.size() + 64, 0x30);
  WriteAll(module, bytes);

  ProgramRun run = RunQuillmark(folder, "/v " + Quote(module) + " " + Quote(blockFile));
  EXPECT_EQ(run.code, 0u) << run.err;
  EXPECT_EQ(run.err.rfind("quillmark: the module ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find("was signed: the signature was removed; sign the module again"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  const auto after = ReadBytesOf(module);
  const qm::pe::MemorySource stamped(after);
  ASSERT_TRUE(qm::pe::ParseHeaders(stamped).ok());
  EXPECT_EQ(qm::pe::ParseHeaders(stamped)->Directory(qm::pe::kDirSecurity).size, 0u);
}

struct Failure {
  const char *name;
  // Builds the arguments after "/v" from the case's module and block file,
  // after preparing the folder.
  std::function<std::string(const fs::path &folder, const fs::path &module, const fs::path &block)> arguments;
  DWORD code;
  const char *message;
  friend void PrintTo(const Failure &f, std::ostream *os) { *os << f.name; }
};

class InjectionModeFails : public InjectionMode, public ::testing::WithParamInterface<Failure> {};

TEST_P(InjectionModeFails, WithItsCodeOneLineAndTheModuleUnchanged) {
  const auto before = ReadAll(module);
  const std::string arguments = GetParam().arguments(folder, module, blockFile);
  ProgramRun run = RunQuillmark(folder, "/v" + arguments);
  EXPECT_EQ(run.code, GetParam().code) << run.err;
  EXPECT_EQ(run.err.rfind("quillmark: ", 0), 0u) << run.err;
  EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
  EXPECT_EQ(ReadAll(module), before);
}

INSTANTIATE_TEST_SUITE_P(
    Wine, InjectionModeFails,
    ::testing::Values(
        Failure{"NothingAfterSwitch", [](auto &, auto &, auto &) { return std::string(); }, 2, "missing module path"},
        Failure{"NoBlockFile", [](auto &, auto &m, auto &) { return " " + Quote(m); }, 2, "missing block file path"},
        // An empty pair of quotes is no argument at all: the block file
        // becomes the module path and the block file path is missing.
        Failure{"EmptyModuleArgument", [](auto &, auto &, auto &b) { return " \"\" " + Quote(b); }, 2,
                "missing block file path"},
        Failure{"MissingBlockFile", [](auto &f, auto &m, auto &) { return " " + Quote(m) + " " + Quote(f / "no.res"); },
                3, "does not exist"},
        Failure{"BlockFileIsFolder",
                [](auto &f, auto &m, auto &) {
                  fs::create_directory(f / "folder.res");
                  return " " + Quote(m) + " " + Quote(f / "folder.res");
                },
                3, "is a folder"},
        Failure{"EmptyBlockFile",
                [](auto &f, auto &m, auto &) {
                  WriteAll(f / "empty.res", {});
                  return " " + Quote(m) + " " + Quote(f / "empty.res");
                },
                4, "is empty"},
        Failure{"MissingModule", [](auto &f, auto &, auto &b) { return " " + Quote(f / "none.exe") + " " + Quote(b); },
                5, "does not exist"},
        Failure{"ModuleIsText",
                [](auto &f, auto &, auto &b) {
                  WriteAll(f / "text.exe", {'t', 'e', 'x', 't'});
                  return " " + Quote(f / "text.exe") + " " + Quote(b);
                },
                6, "is not a PE module"},
        Failure{"ModuleIsFolder",
                [](auto &f, auto &, auto &b) {
                  fs::create_directory(f / "folder.exe");
                  return " " + Quote(f / "folder.exe") + " " + Quote(b);
                },
                7, "cannot be stamped: it is a folder"},
        Failure{"ModuleIsADevice", [](auto &, auto &, auto &b) { return " NUL " + Quote(b); }, 7,
                "not a regular file"}),
    [](const ::testing::TestParamInfo<Failure> &info) { return std::string(info.param.name); });

// A module that another program holds open, letting others read but not
// replace it, cannot be written; the original stays.
TEST_F(InjectionMode, ModuleHeldOpenIsNotWritten) {
  const auto before = ReadAll(module);
  HANDLE held = CreateFileA(module.string().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ProgramRun run = RunQuillmark(folder, "/v " + Quote(module) + " " + Quote(blockFile));
  CloseHandle(held);
  EXPECT_EQ(run.code, 7u) << run.err;
  EXPECT_NE(run.err.find("cannot be stamped: "), std::string::npos) << run.err;
  EXPECT_EQ(ReadAll(module), before);
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names.size(), 3u) << "left behind: " << ::testing::PrintToString(names);
}

// The replacement keeps the file's attributes; a temporary file a killed
// run left for this module is removed, one of another module stays, and so
// does a folder under a name of this module's form. (Wine can make neither a
// link nor a file of another owner to try those with.)
TEST_F(InjectionMode, KeepsAttributesAndCleansUpAfterAKilledRun) {
  const std::wstring name = module.wstring();
  ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  WriteAll(folder / ".qm00000000-0000.tmp", {1});
  char stale[32];
  // The form of this module's temporary names: its name's FNV-1a hash.
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : module.filename().string()) {
    hash ^= c;
    hash *= 16777619u;
  }
  std::snprintf(stale, sizeof stale, ".qm%08x-beef.tmp", static_cast<unsigned>(hash));
  WriteAll(folder / stale, {1});
  char staleFolder[32];
  std::snprintf(staleFolder, sizeof staleFolder, ".qm%08x-f01d.tmp", static_cast<unsigned>(hash));
  fs::create_directory(folder / staleFolder);
  WriteAll(folder / staleFolder / "inside.bin", {7});
  ProgramRun run = RunQuillmark(folder, "/v " + Quote(module) + " " + Quote(blockFile));
  ASSERT_EQ(run.code, 0u) << run.err;
  EXPECT_EQ(GetFileAttributesW(name.c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_FALSE(fs::exists(folder / stale));
  EXPECT_TRUE(fs::exists(folder / ".qm00000000-0000.tmp"));
  EXPECT_EQ(ReadAll(folder / staleFolder / "inside.bin"), std::vector<char>{7});
}

// A path longer than the old 260-character limit, where the module's own
// name is short: the temporary name beside it must not break it.
// Names in other scripts reach the module and the block file whole,
// whatever the system's code page.
TEST_F(InjectionMode, StampsAModuleAndBlockFileNamedInOtherScripts) {
  const fs::path named = folder / u"版本 Ελληνικά 🪶.exe";
  const fs::path namedBlock = folder / u"版本 测试.res";
  fs::copy_file(module, named);
  fs::copy_file(blockFile, namedBlock);
  ProgramRun run = RunQuillmark(folder, "/v " + Quote(named) + " " + Quote(namedBlock));
  EXPECT_EQ(run.code, 0u) << run.err;
  EXPECT_EQ(run.err, "");
  const auto stored = qm::stamp::ReadVersionResource(named, 0);
  ASSERT_TRUE(stored.ok() && stored->has_value());
  EXPECT_EQ((*stored)->bytes, ReadBytesOf(blockFile));
}

TEST_F(InjectionMode, StampsAModuleOnALongPath) {
  fs::path deep = folder;
  for (int i = 0; i < 6; ++i)
    deep /= std::string(40, static_cast<char>('a' + i));
  fs::create_directories(deep);
  const fs::path longModule = deep / "m.exe";
  fs::copy_file(module, longModule);
  ASSERT_GT(longModule.string().size(), 260u);
  const qm::Status stored = qm::stamp::StoreVersionResource(longModule, "m.exe", ReadBytesOf(blockFile));
  EXPECT_TRUE(stored) << stored.error();
  // The runtime's own folder listing stops at 260 characters.
  int entries = 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((L"\\\\?\\" + deep.wstring() + L"\\*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    entries += std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..";
  } while (FindNextFileW(search, &found));
  FindClose(search);
  EXPECT_EQ(entries, 1) << "a temporary file was left beside the module";
  // The runtime cannot remove folders this deep either.
  DeleteFileW((L"\\\\?\\" + longModule.wstring()).c_str());
  for (fs::path at = deep; at != folder; at = at.parent_path())
    RemoveDirectoryW((L"\\\\?\\" + at.wstring()).c_str());
}

} // namespace

namespace {

// Several writers at once, each adding a resource of its own: held from read
// to replacement, they follow one another and no addition is lost.
TEST_F(InjectionMode, WritersAtOnceLoseNoChange) {
  constexpr int kWriters = 4;
  std::vector<std::thread> writers;
  std::mutex reasonsHeld;
  std::vector<std::string> reasons;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&, i] {
      const std::vector<std::uint8_t> data(32, static_cast<std::uint8_t>(i));
      const qm::Status updated = qm::stamp::UpdateModule(module, "module", [&](qm::pe::ResourceUpdate &update) {
        return update.Put(qm::pe::ResourceId(static_cast<std::uint16_t>(200 + i)), qm::pe::ResourceId(1), 0, data);
      });
      if (!updated) {
        std::lock_guard<std::mutex> hold(reasonsHeld);
        reasons.push_back(updated.error());
      }
    });
  }
  for (auto &writer : writers)
    writer.join();
  EXPECT_TRUE(reasons.empty()) << reasons.front();
  HMODULE loaded = LoadLibraryExA(module.string().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(loaded, nullptr);
  for (int i = 0; i < kWriters; ++i) {
    EXPECT_NE(FindResourceExA(loaded, MAKEINTRESOURCEA(200 + i), MAKEINTRESOURCEA(1), 0), nullptr)
        << "the change of writer " << i << " was lost";
  }
  FreeLibrary(loaded);
}

} // namespace

namespace {

// A run killed at a random moment leaves the module old or new, never half
// written; the temporary file it may leave is removed by the next run.
TEST_F(InjectionMode, AKilledRunLeavesTheModuleWholeAndTheNextRunCleansUp) {
  {
    std::ofstream grow(module, std::ios::binary | std::ios::app);
    const std::string chunk(1 << 20, 'x');
    for (int i = 0; i < 24; ++i)
      grow << chunk;
  }
  const fs::path reference = folder / "reference" / "target module.exe";
  fs::create_directory(reference.parent_path());
  std::mt19937 random(GetCurrentProcessId());
  for (int round = 0; round < 4; ++round) {
    const auto before = ReadAll(module);
    fs::remove(reference);
    fs::copy_file(module, reference);
    ASSERT_TRUE(qm::stamp::StoreVersionResource(reference, "reference", ReadBytesOf(blockFile)));
    const auto after = ReadAll(reference);

    std::string commandLine = "quillmark.exe /v " + Quote(module) + " " + Quote(blockFile);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA("quillmark.exe", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    Sleep(random() % 400);
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const auto now = ReadAll(module);
    EXPECT_TRUE(now == before || now == after) << "round " << round << ": the module is neither old nor new";
  }
  ASSERT_EQ(RunQuillmark(folder, "/v " + Quote(module) + " " + Quote(blockFile)).code, 0u);
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"reference", "stderr.txt", "target module.exe", "version.res"}));
}

} // namespace
