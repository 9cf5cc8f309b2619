// Both hidden-bit toggles on disk images whose tables sfdisk writes, each
// partition's first sector labelled or not. A toggle's failed platform calls
// are the fault table's walks; the rules deciding a type byte are
// partition_test's; real volumes are the whole-update tests'.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "partition/service_partition.h"
#include "platform/host/kernel/faults.h"
#include "platform/host/machine/machine.h"
#include "tests/test_machine.h"

namespace {

namespace fs = std::filesystem;

enum Fill { FILL_LABEL_43, FILL_LABEL_71, FILL_NO_LABEL };  // the service label in a partition's first sector
struct Part { int nEntry; unsigned nType; uint64_t nStart, nSectors; Fill fill; };
struct Patch { uint64_t nOffset; std::string bytes; };
struct ToggleCase {
    const char *pszWhy;
    int nOsType, bHide;
    std::vector<Part> parts;
    std::string ini;  // lines for [disk0], then any further sections
    std::vector<Patch> patches;
    UPD_RESULT nResult;
    int nOutType;                                 // -1: left untouched
    std::vector<std::pair<int, unsigned>> types;  // new type bytes; none: the MBR is unchanged
    std::vector<std::string> log;                 // the 9x library's calls, in order
};

const uint64_t kSmall = 16384, kFat32 = 69632, k4GiB = 8388608, kNext = 2048 + kSmall;  // sectors
const Part kVisible16{0, 0x06, 2048, kSmall, FILL_LABEL_43}, kVisible16Lba{2, 0x0E, kNext, kSmall, FILL_LABEL_43};
const std::vector<std::string> kProbe = {"DoInt13rw 0 8 0 0 1 0", "DoInt13Ext 0x4100 0 0 0",
                                         "DoInt13Ext 0x4800 0 0 0", "DoInt13rw 0 2 0 0 1 1"};
const std::string kWrite = "DoInt13rw 0 3 0 0 1 1";

std::vector<std::string> Plus(std::vector<std::string> a, const std::vector<std::string> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::string Q(const fs::path &p) { return "'" + p.string() + "'"; }
std::string Sh(const std::string &command) {
    test::RunResult r = test::Run(command + " 2>&1");
    EXPECT_EQ(r.status, 0) << command << "\n" << r.out;
    return r.out;
}

class DiskTest : public testing::Test {
protected:
    std::unique_ptr<test::TestMachine> machine_;  // new per case: a loaded library stays loaded under its path
    fs::path dir_;

    fs::path Img() const { return dir_ / "disk.img"; }
    std::string Mbr() const {
        std::string mbr(512, '\0');
        std::ifstream(Img(), std::ios::binary).read(mbr.data(), 512);
        return mbr;
    }
    void Put(uint64_t nOffset, const std::string &bytes) {
        std::fstream f(Img(), std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(nOffset)).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    void Build(const ToggleCase &c) {
        machine_ = std::make_unique<test::TestMachine>();
        machine_->Create(c.nOsType == 0 ? "98" : c.nOsType == 1 ? "nt4" : "2000");
        dir_ = machine_->Dir();
        uint64_t nDisk = 4096;
        std::string script = "label: dos\nlabel-id: 0x12345678\nunit: sectors\n\n";
        for (const Part &p : c.parts) {
            nDisk = std::max(nDisk, p.nStart + p.nSectors + 2048);
            script += Img().string() + std::to_string(p.nEntry + 1) + " : start=" + std::to_string(p.nStart) +
                      ", size=" + std::to_string(p.nSectors) + ", type=6\n";
        }
        for (const Patch &patch : c.patches) nDisk = std::max(nDisk, patch.nOffset / 512 + 1);
        Sh("truncate -s " + std::to_string(nDisk * 512) + " " + Q(Img()) + " && echo '" + script +  // sparse
           "' | sfdisk -q --no-reread --no-tell-kernel " + Q(Img()));
        for (const Part &p : c.parts) {
            std::string sector(512, '\0');
            if (p.fill != FILL_NO_LABEL) sector.replace(p.fill == FILL_LABEL_43 ? 43 : 71, 11, "ZAV_SERVICE");
            Put(p.nStart * 512, sector);
            Put(446 + 16 * p.nEntry + 4, std::string(1, char(p.nType)));  // sfdisk refuses some (two extended)
        }
        for (const Patch &patch : c.patches) Put(patch.nOffset, patch.bytes);
        std::ofstream(dir_ / "machine.ini", std::ios::app)
            << "\n[disk0]\nimage=disk.img\n" << c.ini << "\n[int13]\nlog=int13.log\n";  // sections merge
        fs::create_directories(machine_->DriveC() / "UPDATE");
        fs::copy_file(fs::path(ZAV_BUILD_DIR) / "kdo_32up.dll", machine_->DriveC() / "UPDATE" / "kdo_32up.dll");
        host::ReloadMachine();
    }

    // Runs the toggle on a machine built for the case. The MBR stays as it
    // was, or differs from the one before exactly in the new type bytes and,
    // when Windows 2000 wrote it, a cleared disk signature; the 9x library
    // sees exactly the calls listed, none on NT. (That nothing else is
    // written is the raw toggle's test below and the INT 13h call log.)
    void Check(const ToggleCase &c) {
        SCOPED_TRACE(c.pszWhy);
        Build(c);
        std::string expected = Mbr();
        int nOut = -1;
        ASSERT_EQ(host::fault::LoadMachineRules(), "");
        EXPECT_EQ(SetServicePartitionHidden(c.nOsType, c.bHide, &nOut), c.nResult);
        host::fault::Clear();
        EXPECT_EQ(nOut, c.nOutType);
        for (auto [nEntry, nType] : c.types) expected[446 + 16 * nEntry + 4] = static_cast<char>(nType);
        if (!c.types.empty() && c.nOsType == 2) expected.replace(440, 4, 4, '\0');
        EXPECT_EQ(Mbr(), expected);
        std::vector<std::string> log;
        std::ifstream in(dir_ / "int13.log");
        for (std::string line; std::getline(in, line);) log.push_back(line);
        EXPECT_EQ(log, c.log);
    }
};

TEST_F(DiskTest, RawDriveToggle) {
    const Part hidden32{2, 0x1C, 2048, kFat32, FILL_LABEL_71}, hidden16Lba{3, 0x1E, kNext, kSmall, FILL_LABEL_43};
    const ToggleCase cases[] = {
        {"hidden FAT32 LBA in entry 2, unhide on 2000", 2, 0, {hidden32}, "", {}, 108, 12, {{2, 0x0C}}, {}},
        {"already hidden: nothing written", 2, 1, {hidden32}, "", {}, 108, 12, {}, {}},
        {"unlabelled: none found", 2, 0, {{0, 0x16, 2048, kSmall, FILL_NO_LABEL}}, "", {}, 104, -1, {}, {}},
        {"visible in 0, already hidden in 3", 2, 1, {kVisible16, hidden16Lba}, "", {}, 108, 14, {{0, 0x16}}, {}},
        {"two visible on NT 4: both hidden, the last write carries both, the signature stays", 1, 1,
         {kVisible16, kVisible16Lba}, "", {}, 108, 14, {{0, 0x16}, {2, 0x1E}}, {}},
        // Mended: the first write failed, so the later partition in state must not report success.
        {"failed write, then one already in state", 2, 1, {kVisible16, hidden16Lba}, "fail_write=1", {}, 106, 14, {}, {}},
        // Mended: a drive that cannot be positioned back to 0 ends the walk;
        // the second partition's write must not turn the failure into success.
        {"failed seek before the write", 2, 1, {kVisible16, kVisible16Lba}, "[faults]\nSetFilePointer=2:131", {}, 106, 6,
         {}, {}},
        {"bad signature", 2, 0, {{1, 0x16, 2048, 1, FILL_LABEL_43}}, "", {{511, std::string(1, '\0')}}, 107, -1, {}, {}},
        {"excluded types 01 04 05 17, labelled", 1, 0,
         {{0, 0x01, 2048, 1, FILL_LABEL_43}, {1, 0x04, 4096, 1, FILL_LABEL_43}, {2, 0x05, 6144, 1, FILL_LABEL_71},
          {3, 0x17, 8192, 1, FILL_LABEL_71}}, "", {}, 104, -1, {}, {}},
        {"start at 4 GiB", 2, 0, {{1, 0x1E, k4GiB, kSmall, FILL_LABEL_43}}, "", {}, 108, 14, {{1, 0x0E}}, {}},
    };
    for (const ToggleCase &c : cases) Check(c);
}

// The raw toggle writes nothing but the master boot record, whichever of its
// calls fails: a failure leaves the disk as it was or with some entries
// toggled, never another sector written or the table torn.
TEST_F(DiskTest, RawToggleWritesTheTableOnlyWhateverCallFails) {
    Build({"two visible partitions hidden", 2, 1, {kVisible16, kVisible16Lba}, "", {}, 108, 14, {}, {}});
    Sh("cp --sparse=always " + Q(Img()) + " " + Q(dir_ / "before.img"));
    const std::set<long> kMayChange = {440, 441, 442, 443, 446 + 4, 446 + 32 + 4};  // signature, the two types
    for (const char *api : {"CreateFileA", "ReadFile", "SetFilePointer", "WriteFile", "CloseHandle"}) {
        for (unsigned n = 1; n <= 6; ++n) {
            SCOPED_TRACE(std::string(api) + " call " + std::to_string(n));
            Sh("cp --sparse=always " + Q(dir_ / "before.img") + " " + Q(Img()));
            host::fault::FailAt(api, n, ERROR_GEN_FAILURE);
            int nOut = -1;
            UPD_RESULT r = SetServicePartitionHidden(2, 1, &nOut);
            host::fault::Clear();
            EXPECT_TRUE(r == 108 || r == 103 || r == 104 || r == 106 || r == 107) << r;
            std::string changed = test::Run("cmp -l " + Q(dir_ / "before.img") + " " + Q(Img())).out;
            std::istringstream lines(changed);
            for (long offset; lines >> offset;) {
                EXPECT_TRUE(kMayChange.count(offset - 1)) << "byte " << offset - 1 << " written";
                lines.ignore(64, '\n');
            }
        }
    }
}

TEST_F(DiskTest, Int13Toggle) {
    const Part hidden32{1, 0x1C, 2048, kFat32, FILL_LABEL_71}, hidden16{0, 0x16, 2048, kSmall, FILL_LABEL_43};
    const std::string kReadLba = "DoInt13Ext 0x4200 0 2048 1", kReadChs = "DoInt13rw 0 2 0 32 33 1";
    const std::vector<std::string> noExt = {kProbe[0], kProbe[1], kProbe[3]};
    const ToggleCase cases[] = {
        {"hidden FAT32 LBA, unhide", 0, 0, {hidden32}, "", {}, 108, 12, {{1, 0x0C}}, Plus(kProbe, {kReadLba, kWrite})},
        {"function 8 fails", 0, 0, {hidden32}, "[int13]\nfail=8", {}, 105, -1, {}, {kProbe[0]}},
        {"MBR unreadable", 0, 0, {hidden32}, "fail_read_lba=0", {}, 103, -1, {}, kProbe},
        {"bad signature", 0, 0, {hidden32}, "", {{510, "\x54"}}, 107, -1, {}, kProbe},
        {"no extensions: LBA entry not found", 0, 0, {hidden32}, "[int13]\nfail=4100", {}, 104, -1, {}, noExt},
        {"0x4800 fails: the same", 0, 0, {hidden32}, "[int13]\nfail=4800", {}, 104, -1, {}, kProbe},
        {"no extensions: CHS entry found", 0, 0, {{1, 0x1B, 2048, kFat32, FILL_LABEL_71}}, "[int13]\nfail=4100", {}, 108,
         11, {{1, 0x0B}}, Plus(noExt, {kReadChs, kWrite})},
        {"two service partitions: the first only", 0, 0, {hidden16, {2, 0x1E, kNext, kSmall, FILL_LABEL_43}}, "", {}, 108,
         6, {{0, 0x06}}, Plus(kProbe, {kReadChs, kWrite})},
        {"already hidden: no write", 0, 1, {hidden32}, "", {}, 108, 12, {}, Plus(kProbe, {kReadLba})},
        {"write fails", 0, 1, {{1, 0x0C, 2048, kFat32, FILL_LABEL_71}}, "fail_write=1", {}, 106, 12, {},
         Plus(kProbe, {kReadLba, kWrite})},
        {"excluded types are never read", 0, 0,
         {{0, 0x01, 2048, 1, FILL_LABEL_43}, {1, 0x04, 4096, 1, FILL_LABEL_43}, {2, 0x05, 6144, 1, FILL_LABEL_71},
          {3, 0x07, 8192, 1, FILL_LABEL_71}}, "", {}, 104, -1, {}, kProbe},
        // Cylinder 1023, head 254, sector 63 is LBA 16450559 at 255 heads and
        // 63 sectors; the entry's LBA field points at an unlabelled volume.
        {"CHS 1023/254/63 read as stored", 0, 1, {{1, 0x0B, 2048, kSmall, FILL_NO_LABEL}}, "",
         {{446 + 16 + 1, "\xFE\xFF\xFF"}, {16450559ull * 512 + 43, "ZAV_SERVICE"}}, 108, 11, {{1, 0x1B}},
         Plus(kProbe, {"DoInt13rw 0 2 1023 254 63 1", kWrite})},
        {"start at 4 GiB", 0, 0, {{1, 0x1E, k4GiB, kSmall, FILL_LABEL_43}}, "", {}, 108, 14, {{1, 0x0E}},
         Plus(kProbe, {"DoInt13Ext 0x4200 0 8388608 1", kWrite})},
    };
    for (const ToggleCase &c : cases) Check(c);
}

}  // namespace
