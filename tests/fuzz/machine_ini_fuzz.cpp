// machine.ini on any text: it reads, writes back unchanged, and the check
// before a program runs answers with one line or nothing.
#include <string>

#include "platform/host/machine/ini_file.h"
#include "platform/host/machine/machine.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    host::ini::File file = host::ini::File::Parse(text);
    std::string written = file.Text();
    if (host::ini::File::Parse(written).Text() != written) fuzz::Fail("a second round trip changes the file");
    fuzz::Machine();
    fuzz::WriteMachineFile("machine.ini", data, size);
    host::ReloadMachine();
    std::string error = host::CheckMachine();
    if (error.find('\n') != std::string::npos) fuzz::Fail("an error of more than one line: " + error);
    return 0;
}
