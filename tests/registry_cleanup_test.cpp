// The registry clean-up primitives against the host registry, on both
// deletion rules: NT refuses a key with subkeys, Windows 9x removes subtrees.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/host/kernel/faults.h"
#include "removal/registry_cleanup.h"
#include "tests/test_machine.h"

namespace {

const char kRoot[] = "Software\\Test";

// Values of kRoot or key trees beneath it, one name maybe protected, and
// what the removal from `key` leaves.
struct CleanupCase {
    const char *what;
    bool values;
    std::vector<const char *> list;
    const char *protect;  // a name refusing deletion, or nullptr
    CleanupStatus status;
    const char *left;  // the names made that are still there
    const char *key = kRoot;
    unsigned vanished = 0;  // the RegDeleteKeyA call that finds its key already gone, 0: none
};

class RegistryCleanupTest : public ::testing::TestWithParam<const char *> {
protected:
    bool KeyExists(const std::string &path) {
        HKEY h;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
        RegCloseKey(h);
        return true;
    }
    // Makes the values or the keys below kRoot afresh, then removes c.list.
    void Run(const CleanupCase &c) {
        SCOPED_TRACE(c.what);
        machine_.Create(GetParam());
        using Names = std::vector<std::string>;
        const Names names = c.values ? Names{"a", "b", "Kicon"} : Names{"A", "A\\1", "A\\1\\2", "B", "B\\1", "B\\2", "C"};
        const std::string root = std::string(kRoot) + "\\";
        for (const std::string &name : names)
            machine_.SetString(HKEY_LOCAL_MACHINE, c.values ? kRoot : root + name, c.values ? name : "v", "x");
        if (c.protect) {
            // A key, or a value as `KEY\"NAME"`, that refuses deletion.
            std::ofstream(machine_.Dir() / "registry.protected")
                << "HKEY_LOCAL_MACHINE\\" << root << (c.values ? "\"" + std::string(c.protect) + "\"" : c.protect) << "\n";
        }
        std::vector<const char *> list = c.list;
        list.push_back(nullptr);
        if (c.vanished) host::fault::FailAt("RegDeleteKeyA", c.vanished, ERROR_FILE_NOT_FOUND);
        EXPECT_EQ((c.values ? DeleteRegistryValues : DeleteRegistryKeys)(c.key, list.data()), c.status);
        host::fault::Clear();
        std::string left;
        char buffer[MAX_PATH];
        for (const std::string &name : names)
            if (c.values ? ReadRegistryString(HKEY_LOCAL_MACHINE, kRoot, name.c_str(), buffer) == ERROR_SUCCESS : KeyExists(root + name))
                left += (left.empty() ? "" : " ") + name;
        EXPECT_EQ(left, c.left);
    }

    test::TestMachine machine_;
};

// Trees go children first, as NT insists.
TEST_P(RegistryCleanupTest, ValuesAndKeyTrees) {
    const CleanupCase cases[] = {
        {"values: none present", true, {"x", "y"}, nullptr, CLEANUP_NONE_FOUND, "a b Kicon"},
        {"values: only the second present", true, {"x", "b"}, nullptr, CLEANUP_REMOVED, "a Kicon"},
        {"values: refused in the middle", true, {"a", "b", "Kicon"}, "b", CLEANUP_FAILED, "b Kicon"},
        {"keys: none present", false, {"X", "Y"}, nullptr, CLEANUP_NONE_FOUND, "A A\\1 A\\1\\2 B B\\1 B\\2 C"},
        {"keys: whole trees, the missing one passed over", false, {"A", "X", "B"}, nullptr, CLEANUP_REMOVED, "C"},
        // A is done before the failure and B\1 enumerated before B\2;
        // B\2's ancestors stay and C, after it, is not tried.
        {"keys: a protected subkey stops the whole tree", false, {"A", "B", "C"}, "B\\2", CLEANUP_FAILED, "B B\\2 C"},
        // A missing key is no "none found".
        {"values: missing key", true, {"a"}, nullptr, CLEANUP_FAILED, "a b Kicon", "Software\\Missing"},
        {"keys: missing key", false, {"A"}, nullptr, CLEANUP_FAILED, "A A\\1 A\\1\\2 B B\\1 B\\2 C", "Software\\Missing"},
        // Another process removed the key between its opening and its deletion:
        // only what this one removed counts.
        {"keys: gone before its deletion", false, {"C"}, nullptr, CLEANUP_NONE_FOUND, "A A\\1 A\\1\\2 B B\\1 B\\2 C", kRoot, 1},
        {"keys: gone after its subkeys", false, {"B"}, nullptr, CLEANUP_REMOVED, "A A\\1 A\\1\\2 B C", kRoot, 3},
    };
    for (const CleanupCase &c : cases) Run(c);
}

TEST_P(RegistryCleanupTest, ReadStringNeedsATerminatorInside) {
    // Strings that fit, and the buffer's edge, are limits_test's. Each
    // failure leaves an empty string.
    const struct { const char *what; HKEY root; std::string data; LONG result; } cases[] = {
        {"the key under another root", HKEY_CURRENT_USER, "abc", ERROR_FILE_NOT_FOUND},
        {"missing value", HKEY_LOCAL_MACHINE, "", ERROR_FILE_NOT_FOUND},
        {"260 bytes, no terminator", HKEY_LOCAL_MACHINE, std::string(260, 'x'), ERROR_INVALID_DATA},
        {"short, no terminator", HKEY_LOCAL_MACHINE, "abc", ERROR_INVALID_DATA},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        machine_.Create(GetParam());
        machine_.SetString(HKEY_LOCAL_MACHINE, kRoot, "other", "1");
        if (!c.data.empty()) machine_.SetBinary(HKEY_LOCAL_MACHINE, kRoot, "s", REG_SZ, c.data);
        char buffer[MAX_PATH] = "stale";
        EXPECT_EQ(ReadRegistryString(c.root, kRoot, "s", buffer), c.result);
        EXPECT_STREQ(buffer, "");
    }
}

INSTANTIATE_TEST_SUITE_P(BothRules, RegistryCleanupTest, ::testing::Values("2000", "98"),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string("Windows") + info.param;
                         });

}  // namespace
