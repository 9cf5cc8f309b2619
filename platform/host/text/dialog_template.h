// Dialog templates as the host's window manager uses them: parsed from the
// DLGTEMPLATE / DLGTEMPLATEEX resources that windres writes. Texts are UTF-8.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/host/win_types.h"

namespace host {

struct DialogItem {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = -1;
    std::string className;  // "BUTTON", "EDIT", "STATIC", ... (atoms mapped to names)
    std::string text;       // UTF-8; empty when the title is an ordinal
    int textOrdinal = -1;   // e.g. the icon ID of an SS_ICON static, else -1
};

struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;  // UTF-8
    std::string fontName;  // UTF-8
    int pointSize = 0;
    std::vector<DialogItem> items;
};

// Parses one dialog resource; false when the data is malformed.
bool ParseDialogTemplate(const void *data, size_t size, DialogTemplate *out);

// Finds dialog `name` of the program in the user's language (English when
// absent) and parses it.
bool LoadDialogTemplate(const char *name, DialogTemplate *out);

}  // namespace host
