// The host's dialog manager driven by a scripted frontend: message routing,
// modal loops, modeless dialogs and the thread message queues.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <thread>

#include "platform/host/text/codepage.h"
#include "platform/host/user/internal.h"
#include "platform/win.h"

namespace {

using host::ui::Action;
using host::ui::ActionKind;

// Plays back user actions on modal dialogs and remembers what it was shown.
class ScriptedFrontend : public host::ui::Frontend {
public:
    std::deque<Action> modal;
    std::vector<std::string> events;

    void Show(const host::ui::DialogView &d) override { events.push_back("show " + d.name); }
    void ControlChanged(const host::ui::DialogView &, size_t, host::ui::Change) override {}
    void DialogChanged(const host::ui::DialogView &d, host::ui::DialogChange) override {
        events.push_back("change " + d.name);
    }
    void Refresh(const host::ui::DialogView &) override {}
    void Closed(const host::ui::DialogView &d) override { events.push_back("closed " + d.name); }
    void CursorChanged(int id) override { events.push_back("cursor " + std::to_string(id)); }
    std::optional<Action> WaitModal(const host::ui::DialogView &d, int) override {
        if (modal.empty()) return Action{d.hwnd, ActionKind::Abandon};  // never hang a test
        Action a = modal.front();
        modal.pop_front();
        a.dialog = d.hwnd;
        return a;
    }
    std::vector<Action> PollModeless(const std::vector<HWND> &) override { return {}; }
};

struct Logged { UINT msg; WPARAM wp; LPARAM lp; };
std::vector<Logged> g_log;
// What the dialog procedure does beyond logging; FALSE leaves a message to
// the dialog manager's default processing.
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> g_handler;

INT_PTR CALLBACK TestProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    g_log.push_back({msg, wp, lp});
    return g_handler ? g_handler(h, msg, wp, lp) : FALSE;
}

// Ends the dialog with the command's ID, as CDialog's OnOK / OnCancel do.
INT_PTR EndOnCommand(HWND h, UINT msg, WPARAM wp, LPARAM) {
    if (msg != WM_COMMAND) return FALSE;
    EndDialog(h, LOWORD(wp));
    return TRUE;
}

host::DialogItem Item(const char *cls, int id, DWORD style, const char *text) {
    host::DialogItem item;
    item.className = cls, item.id = id, item.style = WS_CHILD | WS_VISIBLE | style, item.text = text;
    item.x = 8, item.y = 10, item.cx = 80, item.cy = 14;
    return item;
}

host::DialogTemplate Template(DWORD style = WS_SYSMENU | WS_CAPTION) {
    host::DialogTemplate t;
    t.style = WS_POPUP | style;
    t.cx = 200, t.cy = 80;
    t.caption = "Update";
    t.items = {Item("STATIC", 1009, SS_LEFT, "Status"), Item("BUTTON", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, "OK"),
               Item("BUTTON", IDCANCEL, WS_TABSTOP, "Cancel")};
    return t;
}

class UserTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::ResetWindowsForTesting();
        auto f = std::make_unique<ScriptedFrontend>();
        fe_ = f.get();
        host::ui::SetFrontendForTesting(std::move(f));
        g_log.clear();
        g_handler = EndOnCommand;
    }
    void TearDown() override {
        g_handler = nullptr;
        host::ResetFrontendForTesting();
    }
    ScriptedFrontend *fe_ = nullptr;
};

TEST_F(UserTest, ModalActionsBecomeMessages) {
    enum Init { kNothing, kDisableCancel, kEnd, kPost };  // what WM_INITDIALOG does
    // `messages`: those between WM_INITDIALOG and WM_DESTROY, paints aside.
    struct Case { const char *what; std::vector<Action> actions; Init init; INT_PTR result; std::vector<UINT> messages; };
    const Action ok{nullptr, ActionKind::Button, IDOK}, close{nullptr, ActionKind::Close, 0};
    const Case cases[] = {
        {"button", {ok}, kNothing, IDOK, {WM_COMMAND}},
        {"escape", {{nullptr, ActionKind::Escape, IDCANCEL}}, kNothing, IDCANCEL, {WM_COMMAND}},
        // The close box goes through WM_CLOSE to Cancel, as DefDlgProc does ...
        {"close box", {close}, kNothing, IDCANCEL, {WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND}},
        // ... unless Cancel is disabled: then it does nothing.
        {"close, Cancel disabled", {close, ok}, kDisableCancel, IDOK, {WM_SYSCOMMAND, WM_CLOSE, WM_COMMAND}},
        // Other system commands have no default processing.
        {"menu item", {{nullptr, ActionKind::SysCommand, 16}, ok}, kNothing, IDOK, {WM_SYSCOMMAND, WM_COMMAND}},
        {"abandoned", {}, kNothing, IDCANCEL, {}},
        {"ended during WM_INITDIALOG", {}, kEnd, 42, {}},  // and never shown
        // A thread message has no window to go to and is lost; a window's is dispatched.
        {"posted messages", {}, kPost, 3, {WM_USER + 6}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        g_log.clear();
        fe_->events.clear();
        fe_->modal.assign(c.actions.begin(), c.actions.end());
        HWND dlg = nullptr;
        std::map<WPARAM, LPARAM> buttons;
        g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> INT_PTR {
            if (msg == WM_INITDIALOG) {
                dlg = h;
                for (int id : {IDOK, IDCANCEL}) buttons[id] = reinterpret_cast<LPARAM>(GetDlgItem(h, id));
                if (c.init == kDisableCancel) EnableWindow(GetDlgItem(h, IDCANCEL), FALSE);
                if (c.init == kEnd) EndDialog(h, 42);
                if (c.init == kPost) PostThreadMessageA(GetCurrentThreadId(), WM_USER + 5, 0, 0);
                if (c.init == kPost) PostMessageA(h, WM_USER + 6, 0, 0);
            }
            if (msg == WM_USER + 6) EndDialog(h, 3);
            if (msg == WM_PAINT) return TRUE;
            return EndOnCommand(h, msg, wp, lp);
        };
        EXPECT_EQ(host::DialogBoxFromTemplate(Template(), 131, nullptr, TestProc, 77), c.result);
        std::vector<UINT> seen;
        for (const Logged &l : g_log) {
            // BN_CLICKED (0) in the high word, the button itself as lParam.
            if (l.msg == WM_COMMAND) { EXPECT_EQ(l.lp, buttons[l.wp]); }
            if (l.msg != WM_INITDIALOG && l.msg != WM_DESTROY && l.msg != WM_PAINT) seen.push_back(l.msg);
        }
        EXPECT_EQ(seen, c.messages);
        ASSERT_FALSE(g_log.empty());
        EXPECT_EQ(g_log.front().msg, static_cast<UINT>(WM_INITDIALOG));
        EXPECT_EQ(g_log.front().lp, 77);  // what CDialog finds itself by
        EXPECT_EQ(g_log.back().msg, static_cast<UINT>(WM_DESTROY));
        EXPECT_FALSE(IsWindow(dlg));
        EXPECT_EQ(fe_->events.front(), c.init == kEnd ? "closed 131" : "show 131");
        MSG m{};
        EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    }
}

TEST_F(UserTest, NestedModalDialogDisablesItsOwnerWhileItRuns) {
    g_handler = [](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> INT_PTR {
        if (msg == WM_SYSCOMMAND && wp == 16) {
            EXPECT_EQ(host::DialogBoxFromTemplate(Template(), 100, h, TestProc, 0), IDOK);
            EXPECT_TRUE(IsWindowEnabled(h));  // enabled again
            return TRUE;
        }
        if (msg == WM_COMMAND && GetParent(h)) { EXPECT_FALSE(IsWindowEnabled(GetParent(h))); }
        return EndOnCommand(h, msg, wp, lp);
    };
    fe_->modal = {{nullptr, ActionKind::SysCommand, 16}, {nullptr, ActionKind::Button, IDOK},
                  {nullptr, ActionKind::Escape, IDCANCEL}};
    EXPECT_EQ(host::DialogBoxFromTemplate(Template(), 131, nullptr, TestProc, 0), IDCANCEL);
    EXPECT_EQ(fe_->events, (std::vector<std::string>{"show 131", "show 100", "closed 100", "closed 131"}));
}

// Painted once when shown; only the thread that made it destroys it, and its
// controls and posted messages go with it.
TEST_F(UserTest, ModelessDialogIsPaintedOnceAndDiesOnlyOnItsThreadWithItsControlsAndPosts) {
    HWND h = host::CreateDialogFromTemplate(Template(WS_VISIBLE | WS_CAPTION), 130, nullptr, TestProc, 0, false);
    HWND status = GetDlgItem(h, 1009);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(std::make_pair(m.hwnd, m.message), std::make_pair(h, static_cast<UINT>(WM_PAINT)));  // shown
    DispatchMessageA(&m);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));  // and painted once only

    ASSERT_TRUE(PostMessageA(h, WM_USER + 2, 0, 0));
    BOOL destroyed = TRUE;
    DWORD error = 0;
    std::thread([&] { destroyed = DestroyWindow(h), error = GetLastError(); }).join();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(IsWindow(status));
    EXPECT_TRUE(DestroyWindow(h));
    EXPECT_EQ(g_log.back().msg, static_cast<UINT>(WM_DESTROY));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));  // dropped with its window
    EXPECT_EQ(fe_->events.back(), "closed 130");
    EXPECT_FALSE(IsWindow(status));
    EXPECT_FALSE(SetWindowTextA(status, "x"));
}

TEST_F(UserTest, ThreadQueueIsMadeByTheFirstPeekAndTakesPostsFromOtherThreads) {
    DWORD self = GetCurrentThreadId();
    EXPECT_FALSE(PostThreadMessageA(self, WM_USER, 1, 2));  // no queue yet, as on Windows
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    std::thread([&] { EXPECT_TRUE(PostThreadMessageA(self, WM_USER, 1, 2)); }).join();
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(std::make_pair(m.hwnd, m.message), std::make_pair(HWND{}, static_cast<UINT>(WM_USER)));
}

TEST_F(UserTest, MissingResourcesFailAndEveryDialogSharesTheClassCursor) {
    EXPECT_EQ(DialogBoxParamA(nullptr, MAKEINTRESOURCEA(9999), nullptr, TestProc, 0), -1);
    EXPECT_EQ(CreateDialogParamA(nullptr, MAKEINTRESOURCEA(9999), nullptr, TestProc, 0), nullptr);
    EXPECT_TRUE(g_log.empty());
    EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(4321)), nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);

    HWND a = host::CreateDialogFromTemplate(Template(WS_VISIBLE), 130, nullptr, TestProc, 0, false);
    HWND b = host::CreateDialogFromTemplate(Template(), 135, nullptr, TestProc, 0, false);
    auto wait = static_cast<LONG>(reinterpret_cast<intptr_t>(LoadCursorA(nullptr, IDC_WAIT)));
    auto arrow = static_cast<DWORD>(reinterpret_cast<intptr_t>(LoadCursorA(nullptr, IDC_ARROW)));
    EXPECT_EQ(SetClassLongA(a, GCL_HCURSOR, wait), arrow);
    EXPECT_EQ(GetClassLongA(b, GCL_HCURSOR), static_cast<DWORD>(wait));
    EXPECT_EQ(SetClassLongA(b, GCL_HCURSOR, static_cast<LONG>(arrow)), static_cast<DWORD>(wait));
    // b has no WS_VISIBLE, so it is never shown; the handles survive a 32-bit LONG.
    EXPECT_EQ(fe_->events, (std::vector<std::string>{"show 130", "cursor 32514", "cursor 32512"}));
    DestroyWindow(a);
    DestroyWindow(b);
}

TEST_F(UserTest, WindowTextIsAnsiAndNeverCutInsideACharacter) {
    struct Case { unsigned codePage; const char *text; int buffer; const char *expected; };
    const Case cases[] = {
        {65001, "Status", 4, "Sta"},
        {65001, "\xE3\x81\x82\xE3\x81\x84", 5, "\xE3\x81\x82"},  // not 1 byte of the second
        {932, "A\x82\xA0\x82\xA2", 5, "A\x82\xA0"},  // not the lead byte alone
    };
    HWND h = host::CreateDialogFromTemplate(Template(), 130, nullptr, TestProc, 0, false);
    HWND status = GetDlgItem(h, 1009);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        host::SetAnsiCodePageForTesting(c.codePage);
        ASSERT_TRUE(SetWindowTextA(status, c.text));
        EXPECT_EQ(GetWindowTextLengthA(status), static_cast<int>(strlen(c.text)));
        char buf[16];
        EXPECT_EQ(GetWindowTextA(status, buf, c.buffer), static_cast<int>(strlen(c.expected)));
        EXPECT_STREQ(buf, c.expected);
    }
    host::SetAnsiCodePageForTesting(0);
    DestroyWindow(h);
}

}  // namespace
