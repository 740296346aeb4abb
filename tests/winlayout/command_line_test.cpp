// The command line is split by the rule the program documents, not by the C
// runtime's (which treats backslashes before quotes specially and keeps
// empty quoted arguments).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/command_line.h"

namespace {

struct SplitCase {
  const char *name;
  std::string line;
  std::vector<std::string> args;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, GivesTheArguments) {
  EXPECT_EQ(qm::win::SplitCommandLine(GetParam().line), GetParam().args);
}

INSTANTIATE_TEST_SUITE_P(
    Rule, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"ProgramOnly", "quillmark.exe", {"quillmark.exe"}}, SplitCase{"Empty", "", {}},
        SplitCase{"InjectionMode", "quillmark.exe /v app.exe ver.res", {"quillmark.exe", "/v", "app.exe", "ver.res"}},
        SplitCase{"RunsOfBlanksAndControls", "q  /v\t\t a.exe \x01 b.res ", {"q", "/v", "a.exe", "b.res"}},
        SplitCase{"QuotedPathWithBlanks",
                  "q /v \"C:\\My Files\\app.exe\" b.res",
                  {"q", "/v", "C:\\My Files\\app.exe", "b.res"}},
        SplitCase{"QuotesInsideAnArgument", "q C:\\\"My Files\"\\a.exe", {"q", "C:\\My Files\\a.exe"}},
        SplitCase{
            "BackslashBeforeQuoteIsOrdinary", "q \"C:\\Program Files\\\" next", {"q", "C:\\Program Files\\", "next"}},
        SplitCase{"EmptyQuotesAtArgumentStartSkipped", "q \"\" /v a b", {"q", "/v", "a", "b"}},
        SplitCase{"SeveralEmptyQuotePairsSkipped", "q \"\"\"\" /v", {"q", "/v"}},
        SplitCase{"UnclosedQuoteRunsToTheEnd", "q \"a b", {"q", "a b"}},
        SplitCase{"HighBytesAreNotSeparators", "q \xA9x", {"q", "\xA9x"}},
        SplitCase{"NulEndsTheText", std::string("q a\0b", 5), {"q", "a"}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
