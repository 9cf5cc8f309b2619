// The service partition's recognition and both toggles on any disk: the
// first byte picks the system and the direction, the rest is the disk from
// sector 0 on. Whatever the disk holds, a known result comes back and
// nothing but the master boot record is ever written.
#include <string>

#include "partition/service_partition.h"
#include "tests/fuzz/fuzz_machine.h"

namespace {

constexpr size_t kDiskBytes = 64 * 1024;

bool KnownResult(UPD_RESULT r) {
    return r >= 100 && r <= 135;  // a message of the catalogue
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1 || size > kDiskBytes + 1) return 0;
    fuzz::Machine();
    fuzz::WriteMachineFile("disk.img", data + 1, size - 1, kDiskBytes);
    std::string before = fuzz::ReadMachineFile("disk.img");
    int nOsType = data[0] & 3, bHide = (data[0] >> 2) & 1, nPartType = -1;
    UPD_RESULT r = nOsType == 0 ? SetServicePartitionHidden9x(bHide, &nPartType)
                                : SetServicePartitionHiddenNt(bHide, nOsType, &nPartType);
    if (!KnownResult(r)) fuzz::Fail("result " + std::to_string(r));
    std::string after = fuzz::ReadMachineFile("disk.img");
    if (after.size() != before.size() || after.compare(512, std::string::npos, before, 512, std::string::npos) != 0)
        fuzz::Fail("a write outside the master boot record");
    return 0;
}
