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

class RegistryCleanupTest : public ::testing::TestWithParam<const char *> {
protected:
    void SetUp() override { machine_.Create(GetParam()); }

    void Key(const std::string &path) { machine_.SetString(HKEY_LOCAL_MACHINE, path, "v", "1"); }
    void Value(const std::string &name) { machine_.SetString(HKEY_LOCAL_MACHINE, kRoot, name, "x"); }
    bool KeyExists(const std::string &path) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
        RegCloseKey(h);
        return true;
    }
    bool ValueExists(const std::string &name) {
        char buffer[MAX_PATH];
        return ReadRegistryString(HKEY_LOCAL_MACHINE, kRoot, name.c_str(), buffer) == ERROR_SUCCESS;
    }
    // Marks a key, or a value as `KEY\"NAME"`, as refusing deletion.
    void Protect(const std::string &line) {
        std::ofstream(machine_.Dir() / "registry.protected", std::ios::app) << "HKEY_LOCAL_MACHINE\\" << line << "\n";
    }

    test::TestMachine machine_;
};

TEST_P(RegistryCleanupTest, Values) {
    struct ValuesCase {
        const char *what;
        std::vector<const char *> present;
        std::vector<const char *> list;
        const char *protect;  // value refusing deletion, or nullptr
        CleanupStatus status;
        std::vector<const char *> left;
    };
    const ValuesCase cases[] = {
        {"empty list", {"a"}, {}, nullptr, CLEANUP_NONE_FOUND, {"a"}},
        {"none present", {"other"}, {"a", "b"}, nullptr, CLEANUP_NONE_FOUND, {"other"}},
        {"only the second present", {"b"}, {"a", "b"}, nullptr, CLEANUP_REMOVED, {}},
        {"names match without case", {"Kicon"}, {"KICON"}, nullptr, CLEANUP_REMOVED, {}},
        {"refused in the middle", {"a", "b", "c"}, {"a", "b", "c"}, "b", CLEANUP_FAILED, {"b", "c"}},
    };
    for (const ValuesCase &c : cases) {
        SCOPED_TRACE(c.what);
        machine_.Create(GetParam());
        for (const char *name : c.present) Value(name);
        if (c.protect) Protect(std::string(kRoot) + "\\\"" + c.protect + "\"");
        std::vector<const char *> list = c.list;
        list.push_back(nullptr);
        EXPECT_EQ(DeleteRegistryValues(kRoot, list.data()), c.status);
        for (const char *name : c.left) EXPECT_TRUE(ValueExists(name)) << name;
        for (const char *name : c.list) {
            bool kept = false;
            for (const char *left : c.left) kept |= std::string(left) == name;
            if (!kept) {
                EXPECT_FALSE(ValueExists(name)) << name;
            }
        }
    }
    const char *const one[] = {"a", nullptr};
    EXPECT_EQ(DeleteRegistryValues("Software\\Missing", one), CLEANUP_FAILED);  // a missing key is no "none found"
}

TEST_P(RegistryCleanupTest, TreesAreDeletedChildrenFirst) {
    Key("Software\\Keldan\\Info");
    Key("Software\\Keldan\\Install\\Deep\\Deeper");
    Key("Software\\Keldan\\Install\\Other");
    EXPECT_EQ(DeleteRegistryKeys("Software", g_apszSoftwareKeys), CLEANUP_REMOVED);
    EXPECT_FALSE(KeyExists("Software\\Keldan"));
    EXPECT_TRUE(KeyExists("Software"));

    Key("Software\\Empty");
    HKEY hSoftware;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS, &hSoftware), 0);
    EXPECT_EQ(DeleteRegistryTree(hSoftware, "Software", "Empty"), CLEANUP_REMOVED);
    EXPECT_EQ(DeleteRegistryTree(hSoftware, "Software", "Empty"), CLEANUP_NONE_FOUND);
    RegCloseKey(hSoftware);
}

TEST_P(RegistryCleanupTest, KeyLists) {
    const char *const two[] = {"A", "B", nullptr};
    const char *const empty[] = {nullptr};
    Key("Software\\Test\\Keep");
    EXPECT_EQ(DeleteRegistryKeys(kRoot, two), CLEANUP_NONE_FOUND);
    EXPECT_EQ(DeleteRegistryKeys(kRoot, empty), CLEANUP_NONE_FOUND);
    EXPECT_EQ(DeleteRegistryKeys("Software\\Missing", two), CLEANUP_FAILED);
    EXPECT_TRUE(KeyExists("Software\\Test\\Keep"));
}

TEST_P(RegistryCleanupTest, AProtectedSubkeyStopsTheWholeTree) {
    // A, B and C in the list; B holds B1 (deletable) before B2 (protected).
    Key("Software\\Test\\A\\A1");
    Key("Software\\Test\\B\\B1");
    Key("Software\\Test\\B\\B2");
    Key("Software\\Test\\C");
    Protect("Software\\Test\\B\\B2");
    const char *const list[] = {"A", "B", "C", nullptr};
    EXPECT_EQ(DeleteRegistryKeys(kRoot, list), CLEANUP_FAILED);
    EXPECT_FALSE(KeyExists("Software\\Test\\A"));      // done before the failure
    EXPECT_FALSE(KeyExists("Software\\Test\\B\\B1"));  // a sibling enumerated before it
    EXPECT_TRUE(KeyExists("Software\\Test\\B\\B2"));
    EXPECT_TRUE(KeyExists("Software\\Test\\B"));       // its ancestors stay
    EXPECT_TRUE(KeyExists("Software\\Test\\C"));       // later items are not tried
}

TEST_P(RegistryCleanupTest, OverlongKeyPathIsRefusedNotCut) {
    std::string parent = "Software\\" + std::string(240, 'p');
    std::string name(30, 'n');
    Key(parent + "\\" + std::string(10, 'n'));  // a key a cut path could reach
    HKEY hParent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_ALL_ACCESS, &hParent), 0);
    EXPECT_EQ(DeleteRegistryTree(hParent, parent.c_str(), name.c_str()), CLEANUP_FAILED);
    RegCloseKey(hParent);
    EXPECT_TRUE(KeyExists(parent + "\\" + std::string(10, 'n')));
}

TEST_P(RegistryCleanupTest, ReadStringNeedsATerminatorInside) {
    struct ReadCase {
        const char *what;
        std::string data;  // nullptr-equivalent: no value
        bool present;
        LONG result;
        const char *text;
    };
    const ReadCase cases[] = {
        {"plain", std::string("C:\\ZAV\0", 7), true, ERROR_SUCCESS, "C:\\ZAV"},
        {"missing value", "", false, ERROR_FILE_NOT_FOUND, ""},
        {"exactly 260 with terminator", std::string(259, 'x') + '\0', true, ERROR_SUCCESS, nullptr},
        {"longer than the buffer", std::string(300, 'x') + '\0', true, ERROR_MORE_DATA, ""},
        {"260 bytes, no terminator", std::string(260, 'x'), true, ERROR_INVALID_DATA, ""},
        {"short, no terminator", "abc", true, ERROR_INVALID_DATA, ""},
    };
    for (const ReadCase &c : cases) {
        SCOPED_TRACE(c.what);
        machine_.Create(GetParam());
        Key(kRoot);
        if (c.present) machine_.SetBinary(HKEY_LOCAL_MACHINE, kRoot, "s", REG_SZ, c.data);
        char buffer[MAX_PATH];
        memset(buffer, 'z', sizeof buffer);
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kRoot, "s", buffer), c.result);
        if (c.text) {
            EXPECT_STREQ(buffer, c.text);
        }
    }
    char buffer[MAX_PATH];
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, "Software\\Missing", "s", buffer), ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(buffer, "");
}

INSTANTIATE_TEST_SUITE_P(BothRules, RegistryCleanupTest, ::testing::Values("2000", "98"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string("Windows") + info.param;
                         });

}  // namespace
