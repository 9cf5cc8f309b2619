// The REGEDIT4 reader on any text: what it takes, it writes back in a form
// it reads again to the same registry.
#include <string>

#include "platform/host/registry/internal.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    for (bool withHeader : {true, false}) {
        host::reg::Tree tree;
        if (host::reg::ApplyText(text, tree, withHeader)) continue;
        std::string written = host::reg::Serialize(tree);
        host::reg::Tree again;
        if (auto error = host::reg::ApplyText(written, again, true))
            fuzz::Fail("its own output does not parse: line " + std::to_string(error->line) + ": " + error->what);
        if (host::reg::Serialize(again) != written) fuzz::Fail("a second round trip changes the registry");
    }
    return 0;
}
