// Command lines of both phases, OS classification and the build-number rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/globals.h"
#include "platform/host/text/codepage.h"
#include "tests/test_machine.h"

namespace {

struct ParseCase { std::string line; UPD_RESULT result; int mode, service, typec; const char *installer; unsigned cp = 0; };

const std::string k99 = std::string(95, 'a') + ".exe";  // the longest name that fits

const ParseCase kParseCases[] = {
    {"unhide setup.exe", 108, 0, 1, 0, "setup.exe"}, {"hide setup.exe noservice typec", 108, 1, 0, 1, "setup.exe"},
    {"TypeC NOSERVICE Setup.EXE HiDe", 108, 1, 0, 1, "Setup.EXE"},  // any order, any case
    {"hide a.exe UNHIDE b.exe", 108, 0, 1, 0, "b.exe"},             // the last mode and the last name win
    {"hide setup.exe ", 110, 1, 1, 0, ""},                          // trailing space: empty last token
    {"hide  setup.exe", 108, 1, 1, 0, "setup.exe"},                 // empty token replaced by the later name
    {"hide setup.exe\ttypec", 108, 1, 1, 0, "setup.exe\ttypec"},    // tabs are no separators
    // A backslash, a slash or a colon anywhere in the token.
    {"hide ..\\x.exe", 110, 1, 1, 0, nullptr}, {"hide sub/x.exe", 110, 1, 1, 0, nullptr},
    {"hide x.exe:stream", 110, 1, 1, 0, nullptr},
    {"setup.exe", 110, 2, 1, 0, "setup.exe"}, {"hide", 110, 1, 1, 0, ""}, {"", 110, 2, 1, 0, ""},  // no mode, no name
    // In code page 932, 0x95 0x5C is one character, its trail byte no backslash; in UTF-8, a stray byte and one.
    {"hide \x95\x5c.exe", 108, 1, 1, 0, "\x95\x5c.exe", 932}, {"hide \x95\x5c\\x.exe", 110, 1, 1, 0, nullptr, 932},
    {"hide \x95\x5c.exe", 110, 1, 1, 0, nullptr, 65001},
    {"hide " + k99, 108, 1, 1, 0, k99.c_str()}, {"hide a" + k99, 110, 1, 1, 0, ""},  // refused whole, never cut
};

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    void TearDown() override { host::SetAnsiCodePageForTesting(0); }
    // Parses `line` afresh into the flags.
    UPD_RESULT Parse(const std::string &line) {
        g_szInstaller[0] = '\0';
        mode_ = service_ = typec_ = -1;
        return ParseCommandLine(line.c_str(), &mode_, &service_, &typec_);
    }
    int mode_ = -1, service_ = -1, typec_ = -1;
    test::TestMachine machine_;
};

TEST_F(CommandLineTest, TokensKeywordsAndNames) {
    for (const ParseCase &c : kParseCases) {
        SCOPED_TRACE(c.line);
        host::SetAnsiCodePageForTesting(c.cp);
        EXPECT_EQ(Parse(c.line), c.result);
        EXPECT_EQ((std::vector<int>{mode_, service_, typec_}), (std::vector<int>{c.mode, c.service, c.typec}));
        if (c.installer) { EXPECT_STREQ(g_szInstaller, c.installer); }
    }
}

// What follows the parse: the system's class from its version (NT with a
// major version other than 5 is NT 4's; Win32s none the update knows), then
// the installed build, BuildNumber's bytes (none: no Info key at all) read as
// atoi does and compared unsigned. Data that fills the buffer, or just lacks
// its terminator, is no number to trust.
TEST_F(CommandLineTest, ClassifiesTheSystemAndRefusesANewerBuild) {
    const struct { const char *os, *extra; std::string build; UPD_RESULT result; int osType; } cases[] = {
        {"95", "", "", 108, 0}, {"98", "", "", 108, 0}, {"me", "", "", 108, 0}, {"nt4", "", "", 108, 1},
        {"2000", "", "", 108, 2}, {"2000", "major=6\n", "", 108, 1}, {"2000", "platform_id=0\n", "", 109, -1},
        {"2000", "", std::string("4076", 5), 108, 2}, {"2000", "", std::string("4077", 5), 126, 2},
        {"2000", "", std::string("-1", 3), 126, 2}, {"2000", "", std::string("B4077", 6), 108, 2},
        {"2000", "", std::string("4077abc", 8), 126, 2}, {"2000", "", std::string(1, '\0'), 108, 2},
        {"2000", "", std::string(260, '9'), 108, 2}, {"2000", "", "5000", 108, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "row " << &c - cases);
        machine_.Create(c.os, c.extra);
        if (!c.build.empty()) machine_.SetBinary(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber", REG_SZ, c.build);
        g_nOsType = -1;
        EXPECT_EQ(Parse("unhide s.exe"), c.result);
        EXPECT_EQ(g_nOsType, c.osType);
    }
}

}  // namespace
