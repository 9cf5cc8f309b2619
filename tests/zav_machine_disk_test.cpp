// zav-machine new's first hard disk, checked with the system's own tools:
// sfdisk reads the table, fsck.fat the service volume, mtools its files.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "platform/host/machine/fat_volume.h"
#include "tests/test_machine.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(ZAV_BUILD_DIR) + "/zav-machine";

class ZavMachineDiskTest : public ::testing::Test {
protected:
    test::RunResult Tool(const std::string &args) { return test::Run(kTool + " " + args + " 2>&1"); }
    test::TestMachine root_;  // made anew by each case
};

TEST_F(ZavMachineDiskTest, ServicePartitionKindsAndShow) {
    // The entry counts from 1 and the type is written as sfdisk --dump has them.
    const struct { const char *options; int entry; const char *type; } cases[] = {
        {"--service fat16", 2, "6"}, {"--service fat16-lba --hidden --service-entry 0", 1, "1e"},
        {"--service fat32 --service-entry 3", 4, "b"}, {"--service fat32-lba --hidden --os 98", 2, "1c"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options);
        root_.CreateWithTool(c.options);
        fs::path image = root_.Dir() / "disk.img", part = root_.Dir() / "part.img";
        // The only entry, from sector 2048 to the disk's end.
        std::string dump = test::Run("sfdisk --dump " + image.string()).out;
        std::smatch m;
        std::regex entry(image.string() + std::to_string(c.entry) + R"( : start= *2048, size= *\d+, type=(\w+))");
        ASSERT_TRUE(std::regex_search(dump, m, entry)) << dump;
        EXPECT_EQ(m[1], c.type);
        EXPECT_EQ(dump.find("type="), dump.rfind("type=")) << "nothing else: " << dump;
        // The volume alone, as fsck.fat wants it.
        auto fsck = test::Run("dd if=" + image.string() + " of=" + part.string() + " bs=1M skip=1 conv=sparse status=none" +
                              " && fsck.fat -n " + part.string());
        EXPECT_EQ(fsck.status, 0) << fsck.out;
        EXPECT_EQ(host::fat::Label({image, 2048 * 512}), "ZAV_SERVICE");
        auto files = host::fat::List({image, 2048 * 512}, "RECOVERY");
        ASSERT_TRUE(files && files->size() == 2);
        EXPECT_EQ((*files)[0].name + " " + (*files)[1].name, "SLX_REST.EXE VDG_INIT.EXE");
    }
    // show on the last machine: every entry of the table, empty ones too, and the drives, D: being what a
    // start with the entry visible leaves behind. (That show lists the registry is registry_test's.)
    std::ofstream(root_.Dir() / "machine.ini", std::ios::app) << "\n[drive D]\nimage=disk.img\npartition=1\n";
    auto show = Tool("show " + root_.Dir().string());
    EXPECT_EQ(show.status, 0);
    for (const char *expected : {"  0      00    empty", "  1      1c    hidden        2048      129024", "  C:  fixed",
                                 "  D:  not mounted"})
        EXPECT_NE(show.out.find(expected), std::string::npos) << expected << show.out;
}

}  // namespace
