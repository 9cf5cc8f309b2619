// The noninteractive frontend: prints a transcript and answers dialogs from
// ZAV_ANSWERS, taking the default button when no answer is left.
#include <optional>

#include "platform/host/frontends/transcript.h"
#include "platform/host/machine/diskette.h"
#include "platform/host/win_user.h"

namespace host::ui {
namespace {

// A program that ignores its own default button would otherwise be answered
// forever; past this many defaults in a row the dialog is abandoned.
constexpr int kMaxDefaultsInARow = 100;
// A program that asks the same question again and again (try once more?)
// while its default says yes would loop for ever too: past this many
// default answers to one dialog template, it is abandoned (IDCANCEL).
constexpr int kMaxDefaultsPerTemplate = 10;

struct Resolved {
    std::optional<Action> action;
    std::string error;
};

Resolved Resolve(const DialogView &d, const std::string &word) {
    Action a{d.hwnd, ActionKind::Button, 0};
    auto button = [&](int id, const char *label) -> Resolved {
        if (!PressableButton(d, id)) return {std::nullopt, "dialog " + d.name + " has no usable " + label + " button"};
        a.id = static_cast<UINT>(id);
        return {a, {}};
    };
    if (word == "ok" || word == "yes") return button(IDOK, "OK");
    if (word == "cancel" || word == "no") return button(IDCANCEL, "Cancel");
    if (word == "about") {
        std::optional<UINT> item = LastProgramMenuItem(d);
        if (!item) return {std::nullopt, "dialog " + d.name + " has no program item in its system menu"};
        a.kind = ActionKind::SysCommand;
        a.id = *item;
        return {a, {}};
    }
    if (word == "close" && d.hasSysMenu) {
        a.kind = ActionKind::Close;
        return {a, {}};
    }
    return {std::nullopt, "dialog " + d.name + " has no close box"};
}

// The default button, else what Esc does (WM_COMMAND IDCANCEL).
std::pair<Action, std::string> DefaultAction(const DialogView &d) {
    for (const ControlView &c : d.controls) {
        if (IsDefaultButton(c) && PressableButton(d, c.id)) {
            return {Action{d.hwnd, ActionKind::Button, static_cast<UINT>(c.id)}, ButtonWord(c.id)};
        }
    }
    return {Action{d.hwnd, ActionKind::Escape, IDCANCEL}, "cancel"};
}

class NoninteractiveFrontend final : public TranscriptFrontend {
public:
    NoninteractiveFrontend(std::string_view answers, FILE *out, FILE *err) : TranscriptFrontend(out, err) {
        std::vector<std::string> malformed;
        answers_ = ParseAnswers(answers, &malformed);
        std::lock_guard lock(mu_);
        for (const std::string &item : malformed) Warn("ZAV_ANSWERS: malformed item '" + item + "' skipped");
    }

    std::optional<Action> WaitModal(const DialogView &d, int) override {
        std::lock_guard lock(mu_);
        if (std::optional<Action> a = TakeAnswer(d, "taking the default")) {
            defaultsInARow_.erase(d.hwnd);
            return a;
        }
        if (++defaultsInARow_[d.hwnd] > kMaxDefaultsInARow) {
            Warn("dialog " + d.name + " does not end on its default answer; giving up on it");
            return Action{d.hwnd, ActionKind::Abandon, IDCANCEL};
        }
        if (defaultsInARow_[d.hwnd] == 1 && ++defaultsPerTemplate_[d.name] > kMaxDefaultsPerTemplate) {
            Warn("dialog " + d.name + " keeps coming back on its default answer; giving up on it");
            return Action{d.hwnd, ActionKind::Abandon, IDCANCEL};
        }
        auto [action, word] = DefaultAction(d);
        PrintLines({"answer " + d.name + ": " + word + " (default)"});
        return action;
    }

    std::vector<Action> PollModeless(const std::vector<HWND> &dialogs) override {
        std::lock_guard lock(mu_);
        std::vector<Action> actions;
        for (HWND h : dialogs) {
            auto it = shown_.find(h);
            if (it == shown_.end() || it->second.modal) continue;
            if (std::optional<Action> a = TakeAnswer(it->second, "nothing pressed")) actions.push_back(*a);
        }
        return actions;
    }

private:
    // The next queued answer for `d`, printed; a bad one is reported.
    std::optional<Action> TakeAnswer(const DialogView &d, const char *fallback) {
        auto it = answers_.find(d.name);
        if (it == answers_.end() || it->second.empty()) return std::nullopt;
        std::string word = it->second.front(), given = word;
        it->second.pop_front();
        if (size_t at = word.find('@'); at != std::string::npos) {
            // The user changes the diskette, then answers.
            std::string error = host::diskette::Insert(static_cast<char>(std::toupper(word[at + 1])), word.substr(at + 3));
            if (!error.empty()) Warn("ZAV_ANSWERS: " + d.name + "=" + word + ": " + error);
            word.erase(at);
        }
        Resolved r = Resolve(d, word);
        if (r.action) {
            PrintLines({"answer " + d.name + ": " + given});
            return r.action;
        }
        Warn("ZAV_ANSWERS: " + d.name + "=" + word + ": " + r.error + "; " + fallback);
        return std::nullopt;
    }

    AnswerQueues answers_;
    std::map<HWND, int> defaultsInARow_;
    std::map<std::string, int> defaultsPerTemplate_;
};

}  // namespace

std::unique_ptr<Frontend> MakeNoninteractiveFrontend(std::string_view answers, FILE *out, FILE *err) {
    return std::make_unique<NoninteractiveFrontend>(answers, out, err);
}

}  // namespace host::ui
