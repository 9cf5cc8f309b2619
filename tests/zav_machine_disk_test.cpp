// zav-machine new's first hard disk, checked with the system's own tools:
// sfdisk reads the table, fsck.fat the service volume, mtools its files.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <regex>

#include "platform/host/machine/fat_volume.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";

class ZavMachineDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zav-disk-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    test::RunResult Tool(const std::string &args) { return test::Run(kTool + " " + args + " 2>&1"); }
    fs::path root_;
};

TEST_F(ZavMachineDiskTest, ServicePartitionKinds) {
    // The entry counts from 1 and the type is written as sfdisk --dump has them.
    const struct { const char *options; int entry; const char *type; } cases[] = {
        {"--service fat16", 2, "6"}, {"--service fat16-lba --hidden --service-entry 0", 1, "1e"},
        {"--service fat32 --service-entry 3", 4, "b"}, {"--service fat32-lba --hidden --os 98", 2, "1c"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options);
        fs::path dir = root_ / std::to_string(&c - cases);
        auto made = Tool("new " + dir.string() + " " + c.options);
        ASSERT_EQ(made.status, 0) << made.out;
        fs::path image = dir / "disk.img";
        auto dump = test::Run("sfdisk --dump " + image.string());
        std::smatch m;
        std::regex line(image.string() + std::to_string(c.entry) + R"( : start= *2048, size= *(\d+), type=(\w+))");
        ASSERT_TRUE(std::regex_search(dump.out, m, line)) << dump.out;
        EXPECT_EQ(m[2], c.type);
        EXPECT_EQ(test::Run("sfdisk --dump " + image.string() + " | grep -c type=").out, "1\n");  // nothing else
        // The volume alone, as fsck.fat wants it.
        fs::path part = dir / "part.img";
        test::Run("dd if=" + image.string() + " of=" + part.string() + " bs=1M iflag=skip_bytes,count_bytes skip=" +
                  std::to_string(2048 * 512) + " count=" + std::to_string(std::stoull(m[1]) * 512) +
                  " conv=sparse status=none");
        auto fsck = test::Run("fsck.fat -n " + part.string());
        EXPECT_EQ(fsck.status, 0) << fsck.out;
        EXPECT_EQ(host::fat::Label({image, 2048 * 512}), "ZAV_SERVICE");
        auto files = host::fat::List({image, 2048 * 512}, "RECOVERY");
        ASSERT_TRUE(files && files->size() == 2);
        EXPECT_EQ((*files)[0].name + " " + (*files)[1].name, "SLX_REST.EXE VDG_INIT.EXE");
    }
}

TEST_F(ZavMachineDiskTest, ShowListsTableDrivesAndRegistry) {
    const struct { const char *options; std::vector<const char *> shown; } cases[] = {
        {"--service fat32-lba --hidden",
         {"  1      1c    hidden        2048      129024", "  C:  fixed", "  D:  not mounted", "[HKEY_LOCAL_MACHINE\\ZAV]"}},
        {"", {"  1      00    empty", "  C:  fixed", "[HKEY_LOCAL_MACHINE\\ZAV]"}},  // still a disk, no partition
    };
    for (const auto &c : cases) {
        fs::path dir = root_ / std::to_string(&c - cases);
        ASSERT_EQ(Tool("new " + dir.string() + " " + c.options).status, 0);
        std::ofstream(dir / "registry.reg", std::ios::app) << "[HKEY_LOCAL_MACHINE\\ZAV]\n";
        if (c.options[0]) {  // the drive a start with the entry visible leaves behind
            std::ofstream(dir / "machine.ini", std::ios::app) << "\n[drive D]\nimage=disk.img\npartition=1\n";
        }
        auto show = Tool("show " + dir.string());
        EXPECT_EQ(show.status, 0);
        for (const char *expected : c.shown) EXPECT_NE(show.out.find(expected), std::string::npos) << expected << show.out;
        EXPECT_EQ(show.out.find("D:") == std::string::npos, c.options[0] == 0);
    }
}

TEST_F(ZavMachineDiskTest, BadDiskOptionsMakeNothing) {
    const char *cases[] = {
        "--service fat12", "--service fat32 --disk-mb 20",  // no such kind; too small for FAT32
        "--hidden",                                         // nothing to hide
        "--service fat16 --service-entry 4", "--service fat16 --disk-mb 0",
    };
    for (const char *options : cases) {
        SCOPED_TRACE(options);
        auto r = Tool("new " + (root_ / "bad").string() + " " + options);
        EXPECT_EQ(r.status, 2);
        EXPECT_FALSE(fs::exists(root_ / "bad"));
    }
}

}  // namespace
