// Frontend selection (ZAV_FRONTEND with fallbacks, as package configuration
// tools do it) and the facts about controls every frontend needs.
#include "platform/host/frontends/frontend.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "platform/host/win_user.h"

namespace host::ui {

// In the dialog frontend's file: whether ncurses knows $TERM.
bool TerminalTypeKnown();

ControlKind KindOf(const ControlView &c) {
    if (c.className == "BUTTON") {
        DWORD type = c.style & 0xF;
        return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON ? ControlKind::Button : ControlKind::Other;
    }
    if (c.className != "STATIC") return ControlKind::Other;
    DWORD type = c.style & SS_TYPEMASK;
    if (type == SS_ICON) return ControlKind::Icon;
    // Rectangles, frames and etched lines carry no text.
    if ((type >= 4 && type <= 9) || (type >= 0x10 && type <= 0x12)) return ControlKind::Decoration;
    return ControlKind::Text;
}

bool IsDefaultButton(const ControlView &c) {
    return KindOf(c) == ControlKind::Button && (c.style & 0xF) == BS_DEFPUSHBUTTON;
}

const ControlView *PressableButton(const DialogView &d, int id) {
    for (const ControlView &c : d.controls) {
        if (c.id == id && KindOf(c) == ControlKind::Button && c.visible && c.enabled) return &c;
    }
    return nullptr;
}

std::optional<UINT> LastProgramMenuItem(const DialogView &d) {
    std::optional<UINT> last;
    for (const MenuItemView &m : d.menu) {
        if (!m.builtin && !m.separator && !m.grayed) last = m.id;
    }
    return last;
}

FrontendChoice ChooseFrontend(std::string_view requested, bool stdinIsTty, bool stdoutIsTty, bool termKnown) {
    FrontendChoice choice;
    std::string name(requested);
    std::string fallback = stdinIsTty && stdoutIsTty ? "dialog" : "noninteractive";
    if (name.empty()) {
        name = fallback;
    } else if (name != "dialog" && name != "text" && name != "noninteractive") {
        choice.warnings.push_back("zav-update: unknown frontend '" + name + "' in ZAV_FRONTEND; using " + fallback);
        name = fallback;
    }
    if (name == "dialog" && !(stdinIsTty && stdoutIsTty && termKnown)) {
        const char *why = stdinIsTty && stdoutIsTty ? "unknown terminal type" : "no terminal";
        choice.warnings.push_back(std::string("zav-update: frontend dialog unavailable (") + why + "); using text");
        name = "text";
    }
    if (name == "text" && !stdinIsTty) {
        choice.warnings.push_back("zav-update: frontend text unavailable (no terminal); using noninteractive");
        name = "noninteractive";
    }
    choice.name = name;
    return choice;
}

namespace {

std::mutex g_mu;
std::unique_ptr<Frontend> g_frontend;
bool g_ended = false;

std::unique_ptr<Frontend> StartFrontend() {
    const char *requested = std::getenv("ZAV_FRONTEND");
    bool in = isatty(STDIN_FILENO), out = isatty(STDOUT_FILENO);
    FrontendChoice choice = ChooseFrontend(requested ? requested : "", in, out, in && out && TerminalTypeKnown());
    for (const std::string &w : choice.warnings) std::fprintf(stderr, "%s\n", w.c_str());
    if (choice.name == "dialog") {
        std::string why;
        if (std::unique_ptr<Frontend> f = MakeDialogFrontend(&why)) return f;
        std::fprintf(stderr, "zav-update: frontend dialog unavailable (%s); using text\n", why.c_str());
        choice.name = "text";
    }
    if (choice.name == "text") return MakeTextFrontend(STDIN_FILENO, stdout, stderr);
    const char *answers = std::getenv("ZAV_ANSWERS");
    return MakeNoninteractiveFrontend(answers ? answers : "", stdout, stderr);
}

}  // namespace

Frontend &ActiveFrontend() {
    std::lock_guard lock(g_mu);
    if (!g_frontend) {
        g_frontend = StartFrontend();
        static bool registered = false;
        if (!registered) {
            registered = true;
            std::atexit(EndFrontend);
        }
    }
    return *g_frontend;
}

bool FrontendStarted() {
    std::lock_guard lock(g_mu);
    return g_frontend != nullptr;
}

void EndFrontend() {
    std::lock_guard lock(g_mu);
    if (g_frontend && !g_ended) g_frontend->End();
    g_ended = true;
}

void SetFrontendForTesting(std::unique_ptr<Frontend> frontend) {
    std::lock_guard lock(g_mu);
    g_frontend = std::move(frontend);
    g_ended = false;
}

}  // namespace host::ui
