// A machine folder the program cannot trust is refused before anything
// runs: one line on standard error naming the file and what is wrong, and
// nothing in the folder changed.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";
const std::string kUpdate = std::string(ZAV_BUILD_DIR) + "/update";

struct Case {
    const char *name;
    std::string ini;     // machine.ini as written
    const char *error;   // a part of the one line on standard error
    const char *env = "";
    const char *registry = "REGEDIT4\n\n";  // nullptr: none; "/": a folder
};

const Case kCases[] = {
    {"EmptyIni", "", "machine.ini: no [machine] section"},
    {"RandomIni", std::string("\x7f\x45LF\x02\x01\x01\0\0\0", 10) + "\n", "machine.ini: line 1 is no [section]"},
    {"DriveIsTheRoot", "[machine]\n[drive C]\npath=/\n", "[drive C] path=/ lies outside the machine folder (allow_outside=1"},
    {"DriveAbove", "[machine]\n[drive C]\npath=../elsewhere\n", "path=../elsewhere lies outside"},
    {"DriveThroughALink", "[machine]\n[drive C]\npath=tmp-link\n", "path=tmp-link lies outside"},
    {"DiskImageOutside", "[machine]\n[disk0]\nimage=/etc/passwd\n", "image=/etc/passwd lies outside the machine folder (allow_device=1"},
    {"DiskImageIsAFolder", "[machine]\n[disk0]\nimage=tmp-link\n", "[disk0] image=tmp-link is a folder, not an image"},
    {"UnknownSystem", "[machine]\nos=3.11\n", "[machine] os=3.11 is no system this machine can run"},
    {"DisketteImageOutside", "[machine]\n[drive A]\nimage=/etc/passwd\n", "[drive A] image=/etc/passwd lies outside the machine folder"},
    {"Int13LogOutside", "[machine]\n[int13]\nlog=/tmp/zav-faults.log\n", "[int13] log=/tmp/zav-faults.log lies outside"},
    {"FaultLogOutside", "[machine]\n[faults]\nlog=/tmp/zav-faults.log\n", "[faults] log=/tmp/zav-faults.log lies outside"},
    {"ClockNegative", "[machine]\nclock_scale=-1\n", "clock_scale=-1 is no number from 0 to 100"},
    {"ClockHuge", "[machine]\nclock_scale=1e308\n", "clock_scale=1e308 is no number"},
    {"ClockNan", "[machine]\nclock_scale=nan\n", "clock_scale=nan is no number"},
    {"ClockInf", "[machine]\nclock_scale=inf\n", "clock_scale=inf is no number"},
    {"ClockWord", "[machine]\nclock_scale=abc\n", "clock_scale=abc is no number"},
    {"ClockFromEnvironment", "[machine]\n", "ZAV_CLOCK_SCALE=fast is no number", "ZAV_CLOCK_SCALE=fast"},
    {"NoRegistry", "[machine]\n", "registry.reg: missing", "", nullptr},
    {"RegistryIsAFolder", "[machine]\n", "registry.reg: is no file", "", "/"},
};

class BadMachineTest : public testing::TestWithParam<Case> {};

TEST_P(BadMachineTest, RefusedWithOneLineAndNothingChanged) {
    const Case &c = GetParam();
    test::TestMachine machine;
    std::error_code ignored;
    fs::remove("/tmp/zav-faults.log", ignored);  // a stale one would fail every row
    fs::path dir = machine.Dir();
    for (const auto &entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
    std::ofstream(dir / "machine.ini", std::ios::binary) << c.ini;
    fs::create_directory_symlink("/tmp", dir / "tmp-link");
    if (c.registry && std::string(c.registry) == "/") fs::create_directory(dir / "registry.reg");
    else if (c.registry) std::ofstream(dir / "registry.reg") << c.registry;

    for (const std::string &command : {kTool + " run " + dir.string() + " 'C:\\UPDATE\\UPDATE.EXE unhide'",
                                       "ZAV_MACHINE=" + dir.string() + " " + kUpdate + " unhide"}) {
        SCOPED_TRACE(command);
        auto r = test::Run(std::string("env ZAV_FRONTEND=noninteractive ") + c.env + " " + command + " 2>&1 >/dev/null");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find(c.error), std::string::npos) << r.out;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_EQ(test::ReadBytes(dir / "machine.ini"), c.ini);
    }
    EXPECT_EQ(fs::exists(dir / "registry.reg"), c.registry != nullptr);
    EXPECT_FALSE(fs::exists("/tmp/zav-faults.log"));
}

INSTANTIATE_TEST_SUITE_P(Machines, BadMachineTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// A program file in a folder drive that links to a host program is not
// the machine's program: it is neither found nor run.
TEST(BadMachineLinkTest, ProgramLinkedOutOfTheMachineIsNotRun) {
    test::TestMachine machine;
    machine.Create("2000");
    fs::create_symlink("/usr/bin/touch", machine.DriveC() / "TOUCH.EXE");
    fs::path marker = machine.Dir() / "touched";
    auto r = test::Run(kTool + " run " + machine.Dir().string() + " 'C:\\TOUCH.EXE " + marker.string() + "' 2>&1");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("no program found in the machine for: C:\\TOUCH.EXE"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(marker));
}

}  // namespace

namespace {

TEST(BadMachineLinkTest, AllowOutsideAdmitsADriveElsewhere) {
    test::TestMachine machine, elsewhere;
    machine.Create("2000");
    std::ofstream(machine.Dir() / "machine.ini", std::ios::app)
        << "[drive D]\npath=" << elsewhere.Dir().string() << "\nkind=fixed\nallow_outside=1\n";
    EXPECT_EQ(test::Run(kTool + " show " + machine.Dir().string() + " >/dev/null 2>&1").status, 0);
}

}  // namespace
