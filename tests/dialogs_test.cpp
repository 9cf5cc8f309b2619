// The failure, completion, welcome and About dialogs in process, shown by
// the noninteractive frontend and read back from its transcript.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/update_app.h"
#include "platform/host/frontends/frontend.h"
#include "platform/host/user/internal.h"
#include "tests/test_machine.h"
#include "ui/success_dlg.h"
#include "ui/update_dlg.h"

namespace {

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine_.Create("2000");
        setenv("ZAV_FRONTEND", "noninteractive", 1);
        setenv("LANG", "C", 1);
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
    }

    // Runs `show` with the given answers and returns the transcript.
    template <typename F>
    std::string Transcript(const std::string &answers, F show) {
        setenv("ZAV_ANSWERS", answers.c_str(), 1);
        host::ResetFrontendForTesting();
        testing::internal::CaptureStdout();
        show();
        return testing::internal::GetCapturedStdout();
    }

    test::TestMachine machine_;
};

bool Has(const std::string &out, const std::string &line) { return out.find(line + "\n") != std::string::npos; }

// Each failure is a dialog of its own, its note shown only when asked.
TEST_F(DialogsTest, FailuresShowTheirMessageAndTheNoteOnlyWhenAsked) {
    std::string out = Transcript("131=ok 131=ok", [] {
        theApp.ShowFailure(IDS_INSTALLER_NOT_FOUND, 0);
        theApp.ShowFailure(IDS_REGISTRY_KEYS_NOT_DELETED, 1);
    });
    size_t at = 0;
    for (const char *line : {"text: This program failed because of the following:",
                             "text 1009: The update program cannot find the specified installation program.",
                             "answer 131: ok", "text 1009: The update program cannot delete some registry keys.",
                             "text 1013: Your system will restart when you click OK"}) {
        at = out.find(line + std::string("\n"), at);
        ASSERT_NE(at, std::string::npos) << line << ", in order, in\n" << out;
    }
    EXPECT_EQ(out.find("text 1013"), at) << "the note belongs to the second dialog only";
}

TEST_F(DialogsTest, CompletionNoteModes) {
    struct NoteCase { int mode; const char *note; };  // note: nullptr when none is shown
    const NoteCase cases[] = {
        {0, nullptr},
        {1, "text 1010: Click OK to restart your system."},
        {2, "text 1010: Leave the startup diskette in A: and click OK to restart your system from the floppy drive."},
        {7, "text 1010: Click OK to restart your system."},  // unknown modes act as the restart note
    };
    for (const NoteCase &c : cases) {
        SCOPED_TRACE(c.mode);
        std::string out = Transcript("", [&] {
            CSuccessDlg dlg;
            dlg.m_nNoteMode = c.mode;
            dlg.DoModal();
        });
        EXPECT_TRUE(Has(out, "text: Installation completed sucessfully.")) << out;
        EXPECT_TRUE(!c.note || Has(out, c.note)) << out;
        EXPECT_EQ(out.find("text 1010"), c.note ? out.find(c.note) : std::string::npos) << out;
    }
}

// Reaches the welcome dialog's handlers directly.
class ProbeDlg : public CUpdateDlg {
public:
    void SysCommand(UINT id) { OnSysCommand(id, 0); }
    void Paint() { OnPaint(); }
};

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(DialogsTest, MinimizedWelcomeDialogCentresItsIcon) {
    // 6 x 13 pixels per 4 x 8 dialog units; (size - 32 + 1) / 2, truncated
    // toward zero: 36 pixels give 2, 30 give 0, 65 give 17.
    struct PaintCase { short cx, cy; LONG x, y; };
    const PaintCase cases[] = {{24, 40, 2, 17}, {20, 40, 0, 17}};
    for (const PaintCase &c : cases) {
        SCOPED_TRACE(c.cx);
        host::DialogTemplate tpl;
        tpl.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
        tpl.cx = c.cx;
        tpl.cy = c.cy;
        HWND hwnd = host::CreateDialogFromTemplate(tpl, 102, nullptr, IgnoreMessages, 0, false);
        ProbeDlg dlg;
        dlg.Attach(hwnd);
        dlg.ShowWindow(SW_MINIMIZE);
        dlg.Paint();
        POINT at{};
        HICON icon = nullptr;
        ASSERT_TRUE(host::LastDrawIcon(hwnd, &at, &icon));
        EXPECT_EQ(std::make_pair(at.x, at.y), std::make_pair(c.x, c.y));
        EXPECT_NE(icon, nullptr);
        dlg.DestroyWindow();
    }
}

TEST_F(DialogsTest, EveryCommandFrom16To31OpensTheAboutBox) {
    for (UINT id : {0x0010u, 0x001Fu, 0x12340010u, 0x0020u, 0xF060u}) {
        SCOPED_TRACE(id);
        bool opens = (id & 0xFFF0) == 0x0010;
        std::string out = Transcript("", [&] {
            ProbeDlg dlg;
            dlg.SysCommand(id);
        });
        EXPECT_EQ(out.find("=== dialog 100") != std::string::npos, opens) << out;
    }
}

}  // namespace
