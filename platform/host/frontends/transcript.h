// The line format shared by the noninteractive and text frontends, and the
// ZAV_ANSWERS list the noninteractive frontend answers dialogs from.
#pragma once

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host/frontends/frontend.h"

namespace host::ui {

// The text on one line: a line break becomes the two characters "\n".
std::string OneLine(std::string_view text);
// "text", "text 1009", "icon", "button 1", "control 5".
std::string ControlLabel(const ControlView &c);
// The control's transcript line; empty when it is not printed.
std::string ControlLine(const ControlView &c);
// "=== dialog 131: caption" (or "=== dialog 130 (modeless): ...").
std::string DialogHeader(const DialogView &d);
// The header, a line per visible control, a line per program menu item.
std::vector<std::string> DialogBlock(const DialogView &d);
std::string ChangeLine(const DialogView &d, size_t index, Change what);
std::string DialogChangeLine(const DialogView &d, DialogChange what);
// "arrow", "wait", "appstarting", ... or the number.
std::string CursorName(int cursorId);
// The answer word for a button: "ok", "cancel", or its number.
std::string ButtonWord(int id);

// ZAV_ANSWERS: whitespace-separated "ID=ANSWER" items, queued per dialog ID
// in order. Malformed items are skipped and listed in `malformed`.
using AnswerQueues = std::map<std::string, std::deque<std::string>>;
AnswerQueues ParseAnswers(std::string_view text, std::vector<std::string> *malformed);

// A frontend that prints dialogs and their later changes as transcript
// lines; subclasses decide how actions are taken.
class TranscriptFrontend : public Frontend {
public:
    void Show(const DialogView &d) override;
    void ControlChanged(const DialogView &d, size_t index, Change what) override;
    void DialogChanged(const DialogView &d, DialogChange what) override;
    void Refresh(const DialogView &d) override;
    void Closed(const DialogView &d) override;
    void CursorChanged(int cursorId) override;

protected:
    TranscriptFrontend(FILE *out, FILE *err) : out_(out), err_(err) {}
    // The lines printed when a dialog is shown.
    virtual std::vector<std::string> Block(const DialogView &d) { return DialogBlock(d); }
    // Both with mu_ held.
    void PrintLines(const std::vector<std::string> &lines);
    void Warn(const std::string &message);

    std::mutex mu_;
    FILE *out_;
    FILE *err_;
    std::map<HWND, DialogView> shown_;  // dialogs visible now
    std::set<HWND> everShown_;
    int cursor_ = 32512;
    bool cursorUntold_ = false;  // changed while no dialog was shown
};

}  // namespace host::ui
