// Fault injection at the platform seam: rules in-process and from
// machine.ini, counting only the program's own calls.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "platform/win.h"
#include "tests/test_machine.h"

namespace {

class FaultTest : public testing::Test {
protected:
    void SetUp() override { machine_.Create("2000"); }
    void TearDown() override { host::fault::Clear(); }
    test::TestMachine machine_;
};

// GetFileAttributesA of a missing file fails anyway; what tells the rule
// apart is the error it fails with.
DWORD AttributesError() {
    SetLastError(0);
    return GetFileAttributesA("C:\\MISSING.TXT") == INVALID_FILE_ATTRIBUTES ? GetLastError() : 0;
}

TEST_F(FaultTest, RulesFailTheirCallsWithTheirError) {
    host::fault::FailAt("GetFileAttributesA", 2, ERROR_SHARING_VIOLATION);
    host::fault::FailFrom("GetFileAttributesA", 4, ERROR_NOT_READY);
    const DWORD expected[] = {ERROR_FILE_NOT_FOUND, ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND, ERROR_NOT_READY,
                              ERROR_NOT_READY};
    for (DWORD e : expected) EXPECT_EQ(AttributesError(), e);
    // Registry calls return the error.
    host::fault::FailAt("RegOpenKeyExA", 1, ERROR_ACCESS_DENIED);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
    host::fault::Clear();
    EXPECT_EQ(AttributesError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FaultTest, OnlyTheProgramsOwnCallsCount) {
    host::fault::Record();
    PAINTSTRUCT ps;
    EndPaint(nullptr, &ps);  // asks IsWindow inside
    Sleep(1);
    EXPECT_EQ(host::fault::Calls(), (std::vector<std::string>{"EndPaint", "Sleep"}));
}

TEST_F(FaultTest, MachineRules) {
    // bad: refused with one line naming machine.ini and the entry; second: what
    // the second GetFileAttributesA then fails with.
    const struct { const char *section; bool bad; DWORD second; } cases[] = {
        {"GetFileAttributesA=2:32", false, ERROR_SHARING_VIOLATION},
        {"getfileattributesa = 1+:0x15", false, ERROR_NOT_READY},
        {"GetFileAttributesA=3:5,2:19", false, ERROR_WRITE_PROTECT},
        {"GetFileAttributesA=two:32", true, ERROR_FILE_NOT_FOUND},
        {"GetFileAttributesA=2", true, ERROR_FILE_NOT_FOUND},
        {"GetFileAttributesA=0:32", true, ERROR_FILE_NOT_FOUND},
        {"GetFileAttributesA=2:0xFFFFFFFF", false, 0xFFFFFFFF},
        // Numbers past 32 bits or signed once wrapped round into other rules.
        {"GetFileAttributesA=4294967298:32", true, ERROR_FILE_NOT_FOUND},
        {"GetFileAttributesA=2+:0x100000020", true, ERROR_FILE_NOT_FOUND},
        {"GetFileAttributesA=-1:32", true, ERROR_FILE_NOT_FOUND},
        {"GetFileAttributesA=2:-5", true, ERROR_FILE_NOT_FOUND},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.section);
        machine_.Create("2000");
        std::ofstream(machine_.Dir() / "machine.ini", std::ios::app) << "[faults]\n" << c.section << "\n";
        host::ReloadMachine();
        host::fault::Clear();
        const std::string line = host::MachineDir().string() + "/machine.ini: [faults] " + c.section +
                                 " is no fault rule (API=N:ERROR or API=N+:ERROR, comma-separated)";
        EXPECT_EQ(host::fault::LoadMachineRules(), c.bad ? line : "");
        AttributesError();
        EXPECT_EQ(AttributesError(), c.second);
    }
}

}  // namespace
