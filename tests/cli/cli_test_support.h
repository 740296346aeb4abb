#pragma once
// Shared helpers of the companion's tests: a scratch folder, whole-file
// reading and writing, and running the command line in process.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_app.h"

namespace qm::cli::test {

namespace fs = std::filesystem;

inline std::vector<std::uint8_t> ReadBytes(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path &path, const std::vector<std::uint8_t> &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteText(const fs::path &path, const std::string &text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// A folder of its own for each test, removed afterwards.
class ScratchDir {
public:
  ScratchDir() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("qm-cli-test-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path &path() const { return path_; }
  std::string operator/(const std::string &name) const { return (path_ / name).string(); }

private:
  fs::path path_;
};

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

inline CliRun RunCliCaptured(const std::vector<std::string> &args) {
  std::ostringstream out, err;
  CliRun run;
  run.code = RunCli(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

inline fs::path Fixture(const std::string &name) { return fs::path(QM_CLI_FIXTURES) / name; }

// Skips the test when the mingw tools were missing at configure time.
#define QM_REQUIRE_FIXTURES()                                                                                          \
  if (!QM_CLI_HAVE_FIXTURES) GTEST_SKIP() << "the mingw-w64 i686 compiler and windres are needed for test modules"

} // namespace qm::cli::test
