// ParseCommandLine on any text: a known result code, a mode it defines,
// and an installer name that stays a string inside its buffer.
#include <cstring>
#include <string>

#include "app/command_line.h"
#include "app/globals.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Machine();
    std::string text(reinterpret_cast<const char *>(data), size);
    int nMode = -1, nService = -1, nTypec = -1;
    UPD_RESULT r = ParseCommandLine(text.c_str(), &nMode, &nService, &nTypec);
    if (r != UPD_OK && r != 110 && r != 109 && r != 126) fuzz::Fail("result " + std::to_string(r));
    if (!std::memchr(g_szInstaller, '\0', sizeof g_szInstaller)) fuzz::Fail("installer name not terminated");
    if (r == UPD_OK && (nMode < MODE_UNHIDE || nMode > MODE_NONE)) fuzz::Fail("mode " + std::to_string(nMode));
    return 0;
}
