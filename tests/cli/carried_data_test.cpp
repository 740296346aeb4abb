// Stamping modules that carry more than their image, checked with the real
// tools: an installer made by makensis keeps installing under Wine, and a
// module signed by osslsigncode loses its signature with a notice, can be
// signed again, and is left alone with --signed=refuse; a program packed by
// a packer that checks its own image is named as such and left alone.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>

#include "cli_test_support.h"
#include "pe/byte_source.h"
#include "pe/nsis_installer.h"

namespace qm::cli::test {
namespace {

bool Have(const char *tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

int Shell(const std::string &command) { return std::system(command.c_str()); }

std::string Quote(const fs::path &path) { return "'" + path.string() + "'"; }

struct Installer {
  std::optional<pe::NsisHeader> header;
  std::uint32_t stored = 0, computed = 0;
};

Installer ReadInstaller(const fs::path &file) {
  const auto bytes = ReadBytes(file);
  const pe::MemorySource source(bytes);
  Installer out;
  const auto headers = pe::ParseHeaders(source);
  if (!headers) return out;
  out.header = pe::FindNsisHeader(source, *headers);
  if (!out.header || !out.header->Checked()) return out;
  out.stored = *source.U32(out.header->CrcAt());
  out.computed = *pe::NsisCrcOf(source, *out.header);
  return out;
}

struct NsisCase {
  const char *name;
  const char *crcLine; // the script's CRCCheck line
  bool spoilCrc;       // the installer's CRC made wrong before the stamp
  friend void PrintTo(const NsisCase &c, std::ostream *os) { *os << c.name; }
};

class StampedInstaller : public ::testing::TestWithParam<NsisCase> {
protected:
  ScratchDir dir;
};

TEST_P(StampedInstaller, ChecksOutAsBeforeAndInstallsWhenItDid) {
  const NsisCase &c = GetParam();
  ASSERT_TRUE(Have("makensis")) << "makensis is missing (scripts/deps.sh installs nsis)";
  WriteText(dir / "payload.txt", "carried by the installer\n");
  WriteText(dir / "setup.nsi", std::string("Name \"QuillmarkTest\"\nOutFile \"setup.exe\"\n") + c.crcLine +
                                   "\nRequestExecutionLevel user\nInstallDir \"$TEMP\\qm\"\n"
                                   "Section\n  SetOutPath $INSTDIR\n  File payload.txt\nSectionEnd\n");
  ASSERT_EQ(Shell("cd " + Quote(dir.path()) + " && makensis -V1 setup.nsi >makensis.log 2>&1"), 0);
  const fs::path setup = dir.path() / "setup.exe";
  Installer before = ReadInstaller(setup);
  ASSERT_TRUE(before.header) << "makensis wrote its first header on a 512-byte boundary after the image";
  if (c.spoilCrc) {
    auto bytes = ReadBytes(setup);
    bytes[before.header->CrcAt()] ^= 0x01;
    WriteBytes(setup, bytes);
    before = ReadInstaller(setup);
  }
  const bool rightBefore = before.stored == before.computed;
  ASSERT_EQ(rightBefore, !c.spoilCrc);

  // A string long enough to grow the resources past their section's
  // padding: the installer's data moves down the file.
  const CliRun run = RunCliCaptured(
      {"set", setup.string(), "--file-version", "7.1.0.3", "--string", "Comments=" + std::string(5000, 'x')});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const Installer after = ReadInstaller(setup);
  ASSERT_TRUE(after.header);
  EXPECT_EQ(after.header->dataLength, before.header->dataLength);
  EXPECT_GT(after.header->at, before.header->at);
  EXPECT_EQ(after.stored == after.computed, rightBefore);
  if (!rightBefore) {
    EXPECT_EQ(after.stored, before.stored) << "a wrong CRC is left as it was";
  }

  const CliRun shown = RunCliCaptured({"show", "--json", setup.string()});
  ASSERT_EQ(shown.code, 0) << shown.err;
  const auto info = nlohmann::json::parse(shown.out);
  EXPECT_EQ(info["fileVersion"], "7.1.0.3");
  ASSERT_FALSE(info["appendedData"].empty());
  EXPECT_EQ(info["appendedData"][0]["kind"], "NSIS installer");
  EXPECT_EQ(info["appendedData"][0]["offset"], after.header->at);

  if (!Have("wine")) GTEST_SKIP() << "wine is not installed: the stamped installer was not run";
  std::string target = "Z:" + (dir.path() / "installed").string();
  std::replace(target.begin(), target.end(), '/', '\\');
  const int installed = Shell("cd " + Quote(dir.path()) + " && timeout 300 '" + QM_CLI_WINE_RUN + "' '" +
                              QM_CLI_WINEPREFIX + "' setup.exe /S '/D=" + target + "' >wine.log 2>&1");
  const bool installs = rightBefore || std::string(c.crcLine) == "CRCCheck off";
  EXPECT_EQ(installed == 0, installs);
  EXPECT_EQ(fs::exists(dir.path() / "installed" / "payload.txt"), installs);
}

INSTANTIATE_TEST_SUITE_P(Nsis, StampedInstaller,
                         ::testing::Values(NsisCase{"CrcOn", "CRCCheck on", false},
                                           NsisCase{"CrcForced", "CRCCheck force", false},
                                           NsisCase{"CrcOff", "CRCCheck off", false},
                                           NsisCase{"CrcWrongStaysWrong", "CRCCheck on", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SignedModule, LosesItsSignatureWithANoticeAndCanBeSignedAgain) {
  QM_REQUIRE_FIXTURES();
  ASSERT_TRUE(Have("osslsigncode") && Have("openssl")) << "osslsigncode and openssl are missing (scripts/deps.sh)";
  ScratchDir dir;
  const fs::path module = dir.path() / "tiny.exe";
  const std::string in = "cd " + Quote(dir.path()) + " && ";
  ASSERT_EQ(Shell(in + "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
                       "-subj '/CN=Quillmark test' >openssl.log 2>&1"),
            0);
  const std::string sign =
      in + "osslsigncode sign -certs cert.pem -key key.pem -in unsigned.exe -out tiny.exe >sign.log 2>&1";
  const std::string verify = in + "osslsigncode verify -CAfile cert.pem -in tiny.exe >verify.log 2>&1";
  fs::copy_file(Fixture("tiny32.exe"), dir.path() / "unsigned.exe");
  ASSERT_EQ(Shell(sign), 0);
  ASSERT_EQ(Shell(verify), 0) << "the test's own signature verifies";
  const auto json = [&] { return nlohmann::json::parse(RunCliCaptured({"show", "--json", module.string()}).out); };
  EXPECT_EQ(json()["signed"], true);
  EXPECT_EQ(json()["appendedData"].back()["kind"], "certificate");

  const auto signedBytes = ReadBytes(module);
  const CliRun refused = RunCliCaptured({"set", module.string(), "--signed=refuse", "--file-version", "1.0.0.9"});
  EXPECT_EQ(refused.code, 12);
  EXPECT_NE(refused.err.find("is signed"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadBytes(module), signedBytes);

  const CliRun stamped = RunCliCaptured({"set", module.string(), "--file-version", "1.0.0.9"});
  EXPECT_EQ(stamped.code, 0) << stamped.err;
  EXPECT_EQ(stamped.err, "quillmark-cli: the module '" + module.string() +
                             "' was signed: the signature was removed; sign the module again\n");
  EXPECT_EQ(json()["signed"], false);
  EXPECT_NE(Shell(verify), 0) << "no signature is left to verify";

  fs::rename(module, dir.path() / "unsigned.exe");
  ASSERT_EQ(Shell(sign), 0);
  EXPECT_EQ(Shell(verify), 0) << "the stamped module signs again and verifies";
  EXPECT_EQ(json()["fileVersion"], "1.0.0.9");
}

// Debian's packed twins of ClamAV's test program (which carries no version
// resource of its own): a stamp of one packed by a packer that checks its
// own image is refused unless forced, show then names the packer, and apply
// reads show's output back.
struct PackedCase {
  const char *file;
  const char *packer; // nullptr: a packer that does not check the image
  friend void PrintTo(const PackedCase &c, std::ostream *os) { *os << c.file; }
};

class PackedProgram : public ::testing::TestWithParam<PackedCase> {};

TEST_P(PackedProgram, IsNamedByShowAndStampedOnlyWhenForced) {
  QM_REQUIRE_FIXTURES();
  const PackedCase &c = GetParam();
  const fs::path sample = fs::path("/usr/share/clamav-testfiles") / c.file;
  if (!fs::exists(sample)) GTEST_SKIP() << "clamav-testfiles is not installed";
  ScratchDir dir;
  fs::copy_file(sample, dir.path() / "packed.exe");
  fs::copy_file(Fixture("tiny32.exe"), dir.path() / "tiny32.exe");
  WriteText(dir / "tiny.json", RunCliCaptured({"show", "--json", dir / "tiny32.exe"}).out);
  const auto packed = ReadBytes(dir.path() / "packed.exe");
  const CliRun refused = RunCliCaptured({"apply", dir / "packed.exe", dir / "tiny.json"});
  EXPECT_EQ(refused.code, c.packer ? 12 : 0) << refused.err;
  EXPECT_EQ(ReadBytes(dir.path() / "packed.exe") == packed, c.packer != nullptr) << "changed only when stamped";
  if (c.packer) {
    const CliRun forced = RunCliCaptured({"apply", "--force", dir / "packed.exe", dir / "tiny.json"});
    EXPECT_EQ(forced.code, 0) << forced.err;
    EXPECT_NE(forced.err.find(std::string("packed with ") + c.packer), std::string::npos) << forced.err;
  }

  const CliRun shown = RunCliCaptured({"show", "--json", dir / "packed.exe"});
  ASSERT_EQ(shown.code, 0) << shown.err;
  EXPECT_EQ(nlohmann::json::parse(shown.out)["selfCheckingPacker"],
            c.packer ? nlohmann::json(c.packer) : nlohmann::json());
  const std::string text = RunCliCaptured({"show", dir / "packed.exe"}).out;
  const std::string line = c.packer ? std::string("Packed with:     ") + c.packer + ", which checks its own image\n"
                                    : std::string("Packed with:");
  EXPECT_EQ(text.find(line) != std::string::npos, c.packer != nullptr) << text;
  WriteText(dir / "packed.json", shown.out);
  const CliRun applied = RunCliCaptured({"apply", dir / "tiny32.exe", dir / "packed.json"});
  EXPECT_EQ(applied.code, 0) << applied.err;
}

INSTANTIATE_TEST_SUITE_P(Clamav, PackedProgram,
                         ::testing::Values(PackedCase{"clam-pespin.exe", "PESpin"},
                                           PackedCase{"clam-petite.exe", "Petite"},
                                           PackedCase{"clam-upx.exe", nullptr}),
                         [](const auto &info) {
                           return std::string(info.param.packer ? info.param.packer : "UPX");
                         });

} // namespace
} // namespace qm::cli::test
