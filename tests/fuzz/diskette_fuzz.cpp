// The diskette's boot sector and root directory writer on any diskette and
// any boot-sector image: the first 512 bytes are the image, the rest the
// diskette from its sector 0. A known result, and the diskette never grows.
#include <cstring>
#include <string>

#include "diskette/diskette_area.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {

constexpr size_t kDisketteBytes = 32 * 1024;

bool KnownResult(UPD_RESULT r) { return r == UPD_OK || (r >= 131 && r <= 134); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 512 || size > 512 + kDisketteBytes) return 0;
    fuzz::Machine();
    fuzz::WriteMachineFile("floppy.img", data + 512, size - 512, kDisketteBytes);
    for (char chMode : {'V', 'R'}) {
        BYTE abImage[512];
        std::memcpy(abImage, data, sizeof abImage);
        UPD_RESULT r = WriteDisketteArea(abImage, chMode);
        if (!KnownResult(r)) fuzz::Fail(std::string("mode ") + chMode + ": result " + std::to_string(r));
    }
    if (fuzz::ReadMachineFile("floppy.img").size() != kDisketteBytes) fuzz::Fail("the diskette grew");
    return 0;
}
