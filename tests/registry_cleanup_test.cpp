// The registry clean-up primitives against the host registry, on both
// deletion rules: NT refuses a key with subkeys, Windows 9x removes subtrees.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "removal/registry_cleanup.h"
#include "tests/test_machine.h"

namespace {

const char kRoot[] = "Software\\Test";

// Names a list is made of, one of them maybe protected, and what the
// removal leaves.
struct CleanupCase {
    const char *what;
    std::vector<const char *> list;
    const char *protect;  // a name refusing deletion, or nullptr
    CleanupStatus status;
    const char *left;  // the names made that are still there
};

class RegistryCleanupTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { machine_.Create(GetParam()); }

    void Key(const std::string &path) { machine_.SetString(HKEY_LOCAL_MACHINE, path, "v", "1"); }
    bool KeyExists(const std::string &path) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
        RegCloseKey(h);
        return true;
    }
    // Marks a key, or a value as `KEY\"NAME"`, as refusing deletion.
    void Protect(const std::string &line) {
        std::ofstream(machine_.Dir() / "registry.protected", std::ios::app) << "HKEY_LOCAL_MACHINE\\" << line << "\n";
    }
    // Makes `names`, values of kRoot or keys beneath it, and removes c.list.
    void Run(const std::vector<const char *> &names, bool values, const CleanupCase &c) {
        SCOPED_TRACE(c.what);
        machine_.Create(GetParam());
        const std::string root = std::string(kRoot) + "\\";
        for (const char *name : names) {
            values ? machine_.SetString(HKEY_LOCAL_MACHINE, kRoot, name, "x") : Key(root + name);
        }
        if (c.protect) Protect(root + (values ? "\"" + std::string(c.protect) + "\"" : c.protect));
        std::vector<const char *> list = c.list;
        list.push_back(nullptr);
        EXPECT_EQ((values ? DeleteRegistryValues : DeleteRegistryKeys)(kRoot, list.data()), c.status);
        std::string left;
        char buffer[MAX_PATH];
        for (const char *name : names) {
            if (values ? ReadRegistryString(HKEY_LOCAL_MACHINE, kRoot, name, buffer) == ERROR_SUCCESS
                       : KeyExists(root + name)) {
                left += (left.empty() ? "" : " ") + std::string(name);
            }
        }
        EXPECT_EQ(left, c.left);
    }

    test::TestMachine machine_;
};

TEST_P(RegistryCleanupTest, Values) {
    const CleanupCase cases[] = {
        {"empty list", {}, nullptr, CLEANUP_NONE_FOUND, "a b Kicon"},
        {"none present", {"x", "y"}, nullptr, CLEANUP_NONE_FOUND, "a b Kicon"},
        {"only the second present", {"x", "b"}, nullptr, CLEANUP_REMOVED, "a Kicon"},
        {"names match without case", {"KICON"}, nullptr, CLEANUP_REMOVED, "a b"},
        {"refused in the middle", {"a", "b", "Kicon"}, "b", CLEANUP_FAILED, "b Kicon"},
    };
    for (const CleanupCase &c : cases) Run({"a", "b", "Kicon"}, true, c);
    const char *const one[] = {"a", nullptr};
    EXPECT_EQ(DeleteRegistryValues("Software\\Missing", one), CLEANUP_FAILED);  // a missing key is no "none found"
}

// Trees go children first, as NT insists.
TEST_P(RegistryCleanupTest, KeyTrees) {
    const CleanupCase cases[] = {
        {"empty list", {}, nullptr, CLEANUP_NONE_FOUND, "A A\\1 A\\1\\2 B B\\1 B\\2 C"},
        {"none present", {"X", "Y"}, nullptr, CLEANUP_NONE_FOUND, "A A\\1 A\\1\\2 B B\\1 B\\2 C"},
        {"whole trees, the missing one passed over", {"A", "X", "B"}, nullptr, CLEANUP_REMOVED, "C"},
        // A is done before the failure and B\1 enumerated before B\2;
        // B\2's ancestors stay and C, after it, is not tried.
        {"a protected subkey stops the whole tree", {"A", "B", "C"}, "B\\2", CLEANUP_FAILED, "B B\\2 C"},
    };
    for (const CleanupCase &c : cases) Run({"A", "A\\1", "A\\1\\2", "B", "B\\1", "B\\2", "C"}, false, c);
    EXPECT_TRUE(KeyExists(kRoot));
    const char *const one[] = {"A", nullptr};
    EXPECT_EQ(DeleteRegistryKeys("Software\\Missing", one), CLEANUP_FAILED);
}

// Software\ and 240 letters make 249 characters: a name of 9 gives a
// 259-character path, the longest a 260-byte buffer holds.
TEST_P(RegistryCleanupTest, OverlongKeyPathIsRefusedNotCut) {
    const std::string parent = "Software\\" + std::string(240, 'p'), name9(9, 'n'), name10(10, 'n');
    Key(parent + "\\" + name9);  // the key a cut path would reach
    HKEY hParent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_ALL_ACCESS, &hParent), 0);
    EXPECT_EQ(DeleteRegistryTree(hParent, parent.c_str(), name10.c_str()), CLEANUP_FAILED);
    EXPECT_TRUE(KeyExists(parent + "\\" + name9));
    EXPECT_EQ(DeleteRegistryTree(hParent, parent.c_str(), name9.c_str()), CLEANUP_REMOVED);
    EXPECT_EQ(DeleteRegistryTree(hParent, parent.c_str(), name9.c_str()), CLEANUP_NONE_FOUND);
    RegCloseKey(hParent);
}

TEST_P(RegistryCleanupTest, ReadStringNeedsATerminatorInside) {
    // No value at all for ERROR_FILE_NOT_FOUND.
    const struct { const char *what; std::string data; LONG result; std::string text; } cases[] = {
        {"plain", std::string("C:\\ZAV\0", 7), ERROR_SUCCESS, "C:\\ZAV"},
        {"missing value", "", ERROR_FILE_NOT_FOUND, ""},
        {"exactly 260 with terminator", std::string(259, 'x') + '\0', ERROR_SUCCESS, std::string(259, 'x')},
        {"longer than the buffer", std::string(300, 'x') + '\0', ERROR_MORE_DATA, ""},
        {"260 bytes, no terminator", std::string(260, 'x'), ERROR_INVALID_DATA, ""},
        {"short, no terminator", "abc", ERROR_INVALID_DATA, ""},
    };
    char buffer[MAX_PATH];
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        machine_.Create(GetParam());
        Key(kRoot);
        if (c.result != ERROR_FILE_NOT_FOUND) machine_.SetBinary(HKEY_LOCAL_MACHINE, kRoot, "s", REG_SZ, c.data);
        memset(buffer, 'z', sizeof buffer);
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kRoot, "s", buffer), c.result);
        EXPECT_EQ(buffer, c.text);
    }
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\Missing", "s", buffer), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(buffer, "");
}

INSTANTIATE_TEST_SUITE_P(BothRules, RegistryCleanupTest, ::testing::Values("2000", "98"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string("Windows") + info.param;
                         });

}  // namespace
