// Command lines of both phases, OS classification and the build-number rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/globals.h"
#include "platform/host/text/codepage.h"
#include "tests/test_machine.h"

namespace {

struct ParseCase { const char *line; UPD_RESULT result; int mode, service, typec; const char *installer; };

// Every keyword, order, case, last name wins, empty and path-like tokens.
const ParseCase kParseCases[] = {
    {"unhide setup.exe", 108, 0, 1, 0, "setup.exe"},
    {"hide setup.exe noservice typec", 108, 1, 0, 1, "setup.exe"},
    {"typec noservice setup.exe hide", 108, 1, 0, 1, "setup.exe"},
    {"HIDE Setup.EXE", 108, 1, 1, 0, "Setup.EXE"}, {"UnHide NoService x.exe", 108, 0, 0, 0, "x.exe"},
    {"hide a.exe b.exe", 108, 1, 1, 0, "b.exe"},
    {"hide unhide s.exe", 108, 0, 1, 0, "s.exe"},  // the last mode keyword wins
    {"hide setup.exe ", 110, 1, 1, 0, ""},         // trailing space: empty last token
    {"hide  setup.exe", 108, 1, 1, 0, "setup.exe"},  // empty token replaced by the later name
    {"hide setup.exe\ttypec", 108, 1, 1, 0, "setup.exe\ttypec"},  // tabs are no separators
    // A path anywhere in the token.
    {"hide C:\\setup.exe", 110, 1, 1, 0, nullptr}, {"hide \\setup.exe", 110, 1, 1, 0, nullptr},
    {"hide ..\\x.exe", 110, 1, 1, 0, nullptr}, {"hide sub/x.exe", 110, 1, 1, 0, nullptr},
    {"hide x.exe:stream", 110, 1, 1, 0, nullptr},
    {"setup.exe", 110, 2, 1, 0, "setup.exe"},  // no mode
    {"hide", 110, 1, 1, 0, ""}, {"", 110, 2, 1, 0, ""},  // no installer
};

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    // Parses `line` afresh, the flags thrown away.
    static UPD_RESULT Parse(const std::string &line) {
        g_szInstaller[0] = '\0';
        int mode, service, typec;
        return ParseCommandLine(line.c_str(), &mode, &service, &typec);
    }
    test::TestMachine machine_;
};

TEST_F(CommandLineTest, TokensKeywordsAndNames) {
    for (const ParseCase &c : kParseCases) {
        SCOPED_TRACE(c.line);
        g_szInstaller[0] = '\0';
        int mode = -1, service = -1, typec = -1;
        EXPECT_EQ(ParseCommandLine(c.line, &mode, &service, &typec), c.result);
        EXPECT_EQ(mode, c.mode);
        EXPECT_EQ(service, c.service);
        EXPECT_EQ(typec, c.typec);
        if (c.installer) { EXPECT_STREQ(g_szInstaller, c.installer); }
    }
}

TEST_F(CommandLineTest, DoubleByteTrailBytesAreNoBackslash) {
    // In code page 932, 0x95 0x5C is one character; its trail byte is no path separator.
    host::SetAnsiCodePageForTesting(932);
    EXPECT_EQ(Parse("hide \x95\x5c.exe"), 108u);
    EXPECT_STREQ(g_szInstaller, "\x95\x5c.exe");
    EXPECT_EQ(Parse("hide \x95\x5c\\x.exe"), 110u);
    host::SetAnsiCodePageForTesting(0);
    // The same bytes in UTF-8 are a stray byte and a real backslash.
    EXPECT_EQ(Parse("hide \x95\x5c.exe"), 110u);
}

TEST_F(CommandLineTest, LongTokensAreRefusedNotCut) {
    for (size_t length : {98u, 99u, 100u, 300u}) {
        SCOPED_TRACE(length);
        UPD_RESULT expected = length <= 99 ? 108u : 110u;
        EXPECT_EQ(Parse("hide " + std::string(length - 4, 'a') + ".exe"), expected);
        EXPECT_EQ(std::strlen(g_szInstaller), expected == 108 ? length : 0);
    }
}

TEST_F(CommandLineTest, ClassifiesTheSystem) {
    const struct { const char *machineOs, *extra; UPD_RESULT result; int osType; } cases[] = {
        {"95", "", 108, 0}, {"98", "", 108, 0}, {"me", "", 108, 0}, {"nt4", "", 108, 1}, {"2000", "", 108, 2},
        {"2000", "major=6\n", 108, 1},  // NT with a major version other than 5
        {"2000", "platform_id=0\n", 109, -1}, {"2000", "platform_id=3\n", 109, -1},  // Win32s and others
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.machineOs) + " " + c.extra);
        machine_.Create(c.machineOs, c.extra);
        g_nOsType = -1;
        EXPECT_EQ(Parse("unhide s.exe"), c.result);
        EXPECT_EQ(g_nOsType, c.osType);
    }
}

TEST_F(CommandLineTest, RefusesANewerInstalledBuild) {
    // The data are BuildNumber's bytes; none: no Info key at all.
    const struct { const char *what; std::string data; UPD_RESULT result; } cases[] = {
        {"no key", "", 108}, {"4076", std::string("4076", 5), 108}, {"4077", std::string("4077", 5), 126},
        {"99999", std::string("99999", 6), 126}, {"-1", std::string("-1", 3), 126}, {"0", std::string("0", 2), 108},
        {"B4077", std::string("B4077", 6), 108}, {"4077abc", std::string("4077abc", 8), 126},
        {"empty", std::string(1, '\0'), 108},
        // Data that fills the buffer, or just lacks its terminator, is no number to trust.
        {"260 digits", std::string(260, '9'), 108}, {"unterminated 5000", "5000", 108},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        machine_.Create("2000");
        if (!c.data.empty()) {
            machine_.SetBinary(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber", REG_SZ, c.data);
        }
        EXPECT_EQ(Parse("unhide s.exe"), c.result);
    }
}

}  // namespace
