// The .res loader on any image: every string and dialog template it offers
// can be read without reading outside the image.
#include <vector>

#include "platform/host/text/dialog_template.h"
#include "platform/host/text/resources.h"
#include "platform/win.h"
#include "tests/fuzz/fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A copy of exactly the input's size, so that ASan sees any read past it.
    std::vector<uint8_t> image(data, data + size);
    if (!host::SetResourcesForTesting(image.data(), image.size())) return 0;
    char buffer[1000];
    for (UINT id = 100; id < 140; ++id) LoadStringA(nullptr, id, buffer, 999);
    for (int id = 100; id < 140; ++id) {
        host::DialogTemplate dialog;
        host::LoadDialogTemplate(MAKEINTRESOURCEA(id), &dialog);
    }
    host::SetResourcesForTesting(nullptr, 0);
    return 0;
}
