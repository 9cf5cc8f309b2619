// The frontends: selection, the noninteractive transcript and its answers,
// the text frontend's choices, and the dialog frontend's text layout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host/frontends/layout.h"
#include "platform/host/user/internal.h"
#include "platform/win.h"

namespace {

TEST(FrontendChoiceTest, FallsBackToWhatTheTerminalCanShow) {
    struct Case { const char *requested; bool in, out, term; const char *chosen, *warning; };  // warning: the first
    const Case cases[] = {
        {"", true, true, true, "dialog", ""},
        {"", false, false, true, "noninteractive", ""},  // a pipeline gets no questions
        {"", true, true, false, "text", "frontend dialog unavailable (unknown terminal type); using text"},
        {"dialog", false, true, true, "noninteractive", "frontend dialog unavailable (no terminal); using text"},
        {"text", true, false, false, "text", ""},
        {"text", false, true, true, "noninteractive", "frontend text unavailable (no terminal); using noninteractive"},
        {"odd", false, false, false, "noninteractive", "unknown frontend 'odd' in ZAV_FRONTEND; using noninteractive"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.requested) + (c.in ? " in" : "") + (c.out ? " out" : "") + (c.term ? " term" : ""));
        host::ui::FrontendChoice choice = host::ui::ChooseFrontend(c.requested, c.in, c.out, c.term);
        EXPECT_EQ(choice.name, c.chosen);
        std::string first = choice.warnings.empty() ? "" : choice.warnings.front();
        EXPECT_EQ(first, *c.warning ? "zav-update: " + std::string(c.warning) : "");
    }
}

// --- Transcripts of hand-made dialogs.

host::DialogItem Item(const char *cls, int id, DWORD style, const char *text) {
    host::DialogItem item;
    item.className = cls, item.id = id, item.style = WS_CHILD | WS_VISIBLE | style, item.text = text;
    item.cx = 60, item.cy = 10;
    return item;
}

host::DialogTemplate Welcome() {
    host::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
    t.cx = 200, t.cy = 80, t.caption = "ZAV update";
    t.items = {Item("STATIC", IDC_STATIC, SS_ICON, ""), Item("STATIC", IDC_STATIC, SS_LEFT, "Welcome.\nReady?"),
               Item("STATIC", 1013, SS_LEFT, "never seen"), Item("STATIC", 1001, SS_LEFT | WS_DISABLED, "Step one"),
               Item("BUTTON", IDOK, BS_DEFPUSHBUTTON, "OK"), Item("BUTTON", IDCANCEL, BS_PUSHBUTTON, "Cancel")};
    t.items[0].textOrdinal = 128;     // an icon
    t.items[2].style &= ~WS_VISIBLE;  // never shown
    return t;
}

// The welcome dialog's procedure: the About item opens dialog 100; an
// init parameter of 1 disables Cancel.
INT_PTR CALLBACK WelcomeProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        if (lp == 1) EnableWindow(GetDlgItem(h, IDCANCEL), FALSE);
        HMENU menu = GetSystemMenu(h, FALSE);
        AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, 16, "&About update...");
        return TRUE;
    }
    if (msg == WM_SYSCOMMAND && wp == 16) {
        host::DialogTemplate about;
        about.caption = "About";
        about.items = {Item("BUTTON", IDOK, BS_DEFPUSHBUTTON, "OK")};
        host::DialogBoxFromTemplate(about, 100, h, WelcomeProc, 0);
        return TRUE;
    }
    if (msg == WM_COMMAND) EndDialog(h, LOWORD(wp));
    return msg == WM_COMMAND;
}

// Captures what a frontend writes.
struct Capture {
    char *data = nullptr;
    size_t size = 0;
    FILE *file = open_memstream(&data, &size);
    ~Capture() { std::fclose(file), std::free(data); }
    std::string text() { return std::fflush(file), std::string(data, size); }
};

class TranscriptTest : public ::testing::Test {
protected:
    void SetUp() override { host::ResetWindowsForTesting(); }
    void TearDown() override { host::ResetFrontendForTesting(); }
    void Use(const char *answers) {
        host::ui::SetFrontendForTesting(host::ui::MakeNoninteractiveFrontend(answers, out_.file, err_.file));
    }
    Capture out_, err_;
};

const char kWelcomeBlock[] =
    "=== dialog 131: ZAV update\n"
    "icon: 128\n"
    "text: Welcome.\\nReady?\n"
    "text 1001 [disabled]: Step one\n"
    "button 1 [default]: OK\n"
    "button 2: Cancel\n"
    "menu 16: &About update...\n";

TEST_F(TranscriptTest, ModalDialogAnswers) {
    // results: one per run of the dialog; after: the transcript after the first block; error: on stderr.
    struct Case { const char *answers; LPARAM cancelDisabled; std::vector<INT_PTR> results; std::string after, error; };
    const Case cases[] = {
        {"", 0, {IDOK}, "answer 131: ok (default)\n", ""},
        // Answers are used in order, per dialog; then the default again.
        {"131=no 100=cancel 131=yes", 0, {IDCANCEL, IDOK, IDOK},
         "answer 131: no\n" + std::string(kWelcomeBlock) + "answer 131: yes\n" + kWelcomeBlock +
             "answer 131: ok (default)\n", ""},
        // The About item opens the nested dialog; the close box cancels.
        {"131=about 131=close", 0, {IDCANCEL}, "answer 131: about\n=== dialog 100: About\nbutton 1 [default]: OK\n"
         "answer 100: ok (default)\nanswer 131: close\n", ""},
        // An answer the dialog cannot take is reported; the default is taken.
        {"131=cancel", 1, {IDOK}, "answer 131: ok (default)\n",
         "zav-update: ZAV_ANSWERS: 131=cancel: dialog 131 has no usable Cancel button; taking the default\n"},
        // Any whitespace separates; IDs are numbers, answers any case; the rest is skipped.
        {" 0131=OK\tjunk =ok 131=maybe x=ok\n", 0, {IDOK}, "answer 131: ok\n",
         "zav-update: ZAV_ANSWERS: malformed item 'junk' skipped\n"
         "zav-update: ZAV_ANSWERS: malformed item '=ok' skipped\n"
         "zav-update: ZAV_ANSWERS: malformed item '131=maybe' skipped\n"
         "zav-update: ZAV_ANSWERS: malformed item 'x=ok' skipped\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.answers);
        Capture out, err;
        host::ui::SetFrontendForTesting(host::ui::MakeNoninteractiveFrontend(c.answers, out.file, err.file));
        for (INT_PTR expected : c.results) {
            EXPECT_EQ(host::DialogBoxFromTemplate(Welcome(), 131, nullptr, WelcomeProc, c.cancelDisabled), expected);
        }
        std::string block = kWelcomeBlock;
        if (c.cancelDisabled) block.replace(block.find("button 2:"), 9, "button 2 [disabled]:");
        EXPECT_EQ(out.text(), block + c.after);
        EXPECT_EQ(err.text(), c.error);
        host::ui::SetFrontendForTesting(nullptr);
    }
}

TEST_F(TranscriptTest, DefaultButtonThatNeverEndsTheDialogIsGivenUpOn) {
    Use("");
    static int presses = 0;
    auto stubborn = [](HWND, UINT msg, WPARAM, LPARAM) -> INT_PTR { return msg == WM_COMMAND && ++presses; };
    EXPECT_EQ(host::DialogBoxFromTemplate(Welcome(), 131, nullptr, stubborn, 0), IDCANCEL);
    EXPECT_EQ(presses, 100);
    EXPECT_NE(err_.text().find("dialog 131 does not end"), std::string::npos);
}

TEST_F(TranscriptTest, ModelessDialogChangesAndAnswer) {
    Use("130=cancel");
    host::DialogTemplate t = Welcome();
    t.style |= WS_VISIBLE;
    t.items.erase(t.items.begin());  // no icon
    HWND h = host::CreateDialogFromTemplate(t, 130, nullptr, WelcomeProc, 0, false);
    HWND step = GetDlgItem(h, 1001);
    EnableWindow(step, TRUE);
    EnableWindow(step, TRUE);  // no change, no line
    SetWindowTextA(step, "Step two\r\nof three");
    ShowWindow(GetDlgItem(h, IDOK), SW_HIDE);
    SetClassLongA(h, GCL_HCURSOR, static_cast<LONG>(reinterpret_cast<intptr_t>(LoadCursorA(nullptr, IDC_WAIT))));
    MSG m{};
    bool cancelled = false;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        cancelled |= m.message == WM_COMMAND && LOWORD(m.wParam) == IDCANCEL;
        DispatchMessageA(&m);
    }
    EXPECT_TRUE(cancelled);
    DestroyWindow(h);
    std::string block = kWelcomeBlock;
    EXPECT_EQ(out_.text(),
              "=== dialog 130 (modeless): ZAV update\n" + block.substr(block.find("text:")) +
              "--- dialog 130: text 1001 enabled\n"
              "--- dialog 130: text 1001 = Step two\\nof three\n"
              "--- dialog 130: button 1 hidden\n"
              "--- cursor: wait\n"
              "answer 130: cancel\n"
              "--- dialog 130: hidden\n"  // EndDialog on a modeless dialog hides it
              "=== dialog 130 closed\n");
}

// --- The text frontend, fed typed lines through a pipe. A line that is no
// choice is answered with an error and the prompt again; end of input cancels.

TEST_F(TranscriptTest, TextFrontendTakesTypedChoices) {
    struct Case { const char *input; LPARAM cancelDisabled; INT_PTR result; std::vector<std::string> shown; };
    const Case cases[] = {
        {"", 0, IDCANCEL, {"[1] OK (default)\n[2] Cancel\n", "[1] OK  [2] Cancel  [m] menu  [x] close (Enter: OK): "}},
        {" 2 \n1\n", 0, IDCANCEL, {}},
        {"\n", 0, IDOK, {}},  // Enter: the default button
        {"zzz\n3\n1\n", 0, IDOK, {"'zzz' is not one of the choices", "'3' is not one of the choices"}},
        {"2\n\n", 1, IDOK,
         {"[2] Cancel (disabled)", "Cancel is not available now", "[1] OK  [m] menu  [x] close (Enter: OK): "}},
        {"x\n1\n", 0, IDCANCEL, {}},  // the close box
        // Move is greyed, so not listed.
        {"m\n1\n1\n", 0, IDCANCEL, {"[1] Close  [2] About update... (Enter: back): "}},
        {"m\n0\n\n\n", 0, IDOK, {"'0' is not one of the menu items"}},  // Enter leaves the menu, then presses OK
        {"m\n2\n\n1\n", 0, IDOK, {"=== dialog 100: About\n"}},  // About, its OK, then the welcome's OK
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.input);
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], c.input, strlen(c.input)), static_cast<ssize_t>(strlen(c.input)));
        close(fds[1]);
        Capture out, err;
        host::ui::SetFrontendForTesting(host::ui::MakeTextFrontend(fds[0], out.file, err.file));
        EXPECT_EQ(host::DialogBoxFromTemplate(Welcome(), 131, nullptr, WelcomeProc, c.cancelDisabled), c.result);
        std::string text = out.text();
        for (const std::string &s : c.shown) EXPECT_NE(text.find(s), std::string::npos) << s << " in\n" << text;
        host::ui::SetFrontendForTesting(nullptr);
        close(fds[0]);
    }
}

// --- The dialog frontend's layout.

TEST(DialogLayoutTest, DialogUnitsToCells) {
    struct Case { int x, y, cx, cy; std::vector<int> cells; };  // left, top, width, height
    const Case cases[] = {
        {0, 0, 200, 80, {0, 0, 50, 10}}, {0, 0, 0, 0, {0, 0, 1, 1}},
        {7, 7, 50, 14, {1, 0, 14, 3}},  // edges at 57 and 21 round outward to cell 15 and row 3
    };
    for (const Case &c : cases) {
        host::ui::CellRect r = host::ui::DluToCells(c.x, c.y, c.cx, c.cy);
        EXPECT_EQ(std::vector<int>({r.left, r.top, r.width, r.height}), c.cells) << c.x << "," << c.y;
    }
    host::ui::DialogView d;
    d.cx = 40, d.cy = 16;
    d.controls = {{nullptr, 1, "STATIC", 0, "", "", 100, 30, 20, 8, true, true}};
    host::ui::CellRect box = host::ui::DialogInterior(d);
    EXPECT_EQ(std::make_pair(box.width, box.height), std::make_pair(30, 5));  // grown to hold the control
}

TEST(DialogLayoutTest, WrapsByDisplayWidthAndStripsMnemonics) {
    struct Case { const wchar_t *text; int width; std::vector<std::wstring> lines; };
    const Case cases[] = {
        {L"The update program cannot find it.", 12, {L"The update", L"program", L"cannot find", L"it."}},
        {L"one\ntwo\r\n\nthree", 20, {L"one", L"two", L"", L"three"}},
        {L"abcdefghij", 4, {L"abcd", L"efgh", L"ij"}},  // longer than a line
        // Double-width characters: four fit in 9 cells, and break anywhere.
        {L"\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u306b\u3064\u3044\u3066", 9,
         {L"\u30a2\u30c3\u30d7\u30c7", L"\u30fc\u30c8\u306b\u3064", L"\u3044\u3066"}},
        {L"ZAV \u306e\u30a2\u30c3\u30d7", 6, {L"ZAV \u306e", L"\u30a2\u30c3\u30d7"}},
        {L"a  b", 1, {L"a", L"b"}},
    };
    for (const Case &c : cases) EXPECT_EQ(host::ui::WrapText(c.text, c.width), c.lines) << host::ui::EncodeUtf8(c.text);
    EXPECT_EQ(host::ui::FitWidth(L"\u65e5\u672c\u8a9e", 5), L"\u65e5\u672c");
    // Shown without the '&'s; marked: the index of the underlined character, or -1.
    struct Mark { const wchar_t *text, *shown; int marked; };
    const Mark marks[] = {{L"&About update...", L"About update...", 0}, {L"Save && E&xit", L"Save & Exit", 8},
                          {L"Plain", L"Plain", -1}, {L"Trailing&", L"Trailing&", -1}};
    for (const Mark &c : marks) {
        host::ui::Mnemonic m = host::ui::SplitMnemonic(c.text);
        EXPECT_EQ(std::make_pair(m.text, m.marked), std::make_pair(std::wstring(c.shown), c.marked));
    }
}

}  // namespace
