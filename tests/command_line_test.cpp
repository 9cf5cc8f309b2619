// Command lines of both phases, OS classification and the build-number rule.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/globals.h"
#include "platform/host/text/codepage.h"
#include "tests/test_machine.h"

namespace {

struct ParseCase {
    const char *line;
    UPD_RESULT result;
    int mode, service, typec;
    const char *installer;
};

// Every keyword, order, case, last name wins, empty and path-like tokens.
const ParseCase kParseCases[] = {
    {"unhide setup.exe", 108, 0, 1, 0, "setup.exe"},
    {"hide setup.exe noservice typec", 108, 1, 0, 1, "setup.exe"},
    {"typec noservice setup.exe hide", 108, 1, 0, 1, "setup.exe"},
    {"HIDE Setup.EXE", 108, 1, 1, 0, "Setup.EXE"},
    {"UnHide NoService x.exe", 108, 0, 0, 0, "x.exe"},
    {"hide a.exe b.exe", 108, 1, 1, 0, "b.exe"},
    {"hide unhide s.exe", 108, 0, 1, 0, "s.exe"},  // the last mode keyword wins
    {"hide setup.exe ", 110, 1, 1, 0, ""},         // trailing space: empty last token
    {"hide  setup.exe", 108, 1, 1, 0, "setup.exe"},  // empty token replaced by the later name
    {"hide setup.exe\ttypec", 108, 1, 1, 0, "setup.exe\ttypec"},  // tabs are no separators
    {"hide C:\\setup.exe", 110, 1, 1, 0, nullptr},
    {"hide \\setup.exe", 110, 1, 1, 0, nullptr},
    {"hide ..\\x.exe", 110, 1, 1, 0, nullptr},   // a path anywhere in the token
    {"hide sub/x.exe", 110, 1, 1, 0, nullptr},
    {"hide x.exe:stream", 110, 1, 1, 0, nullptr},
    {"setup.exe", 110, 2, 1, 0, "setup.exe"},   // no mode
    {"hide", 110, 1, 1, 0, ""},                 // no installer
    {"", 110, 2, 1, 0, ""},
};

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
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
        if (c.installer) {
            EXPECT_STREQ(g_szInstaller, c.installer);
        }
    }
}

TEST_F(CommandLineTest, DoubleByteTrailBytesAreNoBackslash) {
    // In code page 932, 0x95 0x5C is one character; its trail byte is no path separator.
    host::SetAnsiCodePageForTesting(932);
    int mode, service, typec;
    g_szInstaller[0] = '\0';
    EXPECT_EQ(ParseCommandLine("hide \x95\x5c.exe", &mode, &service, &typec), 108u);
    EXPECT_STREQ(g_szInstaller, "\x95\x5c.exe");
    EXPECT_EQ(ParseCommandLine("hide \x95\x5c\\x.exe", &mode, &service, &typec), 110u);
    host::SetAnsiCodePageForTesting(0);
    // The same bytes in UTF-8 are a stray byte and a real backslash.
    EXPECT_EQ(ParseCommandLine("hide \x95\x5c.exe", &mode, &service, &typec), 110u);
}

TEST_F(CommandLineTest, LongTokensAreRefusedNotCut) {
    int mode, service, typec;
    for (size_t length : {98u, 99u, 100u, 300u}) {
        SCOPED_TRACE(length);
        g_szInstaller[0] = '\0';
        std::string line = "hide " + std::string(length - 4, 'a') + ".exe";
        UPD_RESULT expected = length <= 99 ? 108u : 110u;
        EXPECT_EQ(ParseCommandLine(line.c_str(), &mode, &service, &typec), expected);
        if (expected == 108) {
            EXPECT_EQ(std::strlen(g_szInstaller), length);
        }
    }
}

struct OsCase {
    const char *machineOs;
    const char *extra;
    UPD_RESULT result;
    int osType;
};

TEST_F(CommandLineTest, ClassifiesTheSystem) {
    const OsCase cases[] = {
        {"95", "", 108, 0},
        {"98", "", 108, 0},
        {"me", "", 108, 0},
        {"nt4", "", 108, 1},
        {"2000", "", 108, 2},
        {"2000", "major=6\n", 108, 1},     // NT with a major version other than 5
        {"2000", "platform_id=0\n", 109, -1},  // Win32s
        {"2000", "platform_id=3\n", 109, -1},
    };
    for (const OsCase &c : cases) {
        SCOPED_TRACE(std::string(c.machineOs) + " " + c.extra);
        machine_.Create(c.machineOs, c.extra);
        g_nOsType = -1;
        g_szInstaller[0] = '\0';
        int mode, service, typec;
        EXPECT_EQ(ParseCommandLine("unhide s.exe", &mode, &service, &typec), c.result);
        EXPECT_EQ(g_nOsType, c.osType);
    }
}

TEST_F(CommandLineTest, RefusesANewerInstalledBuild) {
    struct BuildCase {
        const char *value;  // nullptr: no Info key at all
        UPD_RESULT result;
    };
    const BuildCase cases[] = {
        {nullptr, 108}, {"4076", 108}, {"4077", 126}, {"99999", 126}, {"-1", 126},
        {"B4077", 108}, {"", 108},     {"4077abc", 126}, {"0", 108},
    };
    for (const BuildCase &c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(no key)");
        machine_.Create("2000");
        if (c.value) machine_.SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber", c.value);
        g_szInstaller[0] = '\0';
        int mode, service, typec;
        EXPECT_EQ(ParseCommandLine("unhide s.exe", &mode, &service, &typec), c.result);
    }
}

TEST_F(CommandLineTest, UnterminatedBuildNumberCountsAsUnread) {
    // 260 digits fill the buffer without a terminator: not a number to trust.
    std::string digits(260, '9');
    machine_.SetBinary(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber", REG_SZ, digits);
    g_szInstaller[0] = '\0';
    int mode, service, typec;
    EXPECT_EQ(ParseCommandLine("unhide s.exe", &mode, &service, &typec), 108u);
    machine_.SetBinary(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Info", "BuildNumber", REG_SZ,
                       std::string("5000", 4));  // no terminator, but fits: still untrusted
    EXPECT_EQ(ParseCommandLine("unhide s.exe", &mode, &service, &typec), 108u);
}

}  // namespace
