// Whether the terminal can draw dialogs; apart from the frontend because
// <term.h> defines macros that clash with ordinary names.
#include <unistd.h>

#include <cstdlib>

#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>
#include <ncursesw/term.h>

namespace host::ui {

// True when $TERM names a terminal ncurses knows that can place the cursor.
bool TerminalTypeKnown() {
    const char *term = std::getenv("TERM");
    if (!term || !*term) return false;
    TERMINAL *saved = cur_term;
    int err = 0;
    if (setupterm(term, STDOUT_FILENO, &err) != OK) return false;
    const char *cup = tigetstr("cup");
    bool known = cup != nullptr && cup != reinterpret_cast<const char *>(-1);
    del_curterm(set_curterm(saved));
    return known;
}

}  // namespace host::ui
