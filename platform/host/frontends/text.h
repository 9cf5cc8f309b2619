// The text frontend's pieces that tests drive without a terminal.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/frontends/frontend.h"

namespace host::ui {

// Reads lines from a file descriptor without stdio buffering, so that
// polling the descriptor tells whether a line may be waiting.
class LineReader {
public:
    enum class Result { Line, Eof, Timeout };
    explicit LineReader(int fd) : fd_(fd) {}
    // timeoutMs < 0 waits as long as it takes.
    Result Read(std::string *line, int timeoutMs);

private:
    bool TakeLine(std::string *line);
    int fd_;
    std::string buffer_;
    bool eof_ = false;
};

// The visible push buttons of a dialog, numbered from 1 in template order.
std::vector<const ControlView *> NumberedButtons(const DialogView &d);
// The system menu items the user can pick, numbered from 1.
std::vector<const MenuItemView *> PickableMenuItems(const DialogView &d);

// What one typed line means at a dialog's prompt (or its menu's).
struct Choice {
    std::optional<Action> action;
    bool openMenu = false;
    bool leaveMenu = false;
    std::string error;  // say it and ask again
};
Choice ParseChoice(const DialogView &d, std::string_view line);
Choice ParseMenuChoice(const DialogView &d, std::string_view line);

// "[1] OK  [2] Cancel  [m] menu  [x] close"
std::string ChoicePrompt(const DialogView &d);
std::string MenuPrompt(const DialogView &d);

}  // namespace host::ui
