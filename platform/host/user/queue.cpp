// Per-thread message queues. A thread gets its queue at its first
// PeekMessageA or dialog; PeekMessageA also collects what the user did to
// the thread's modeless dialogs.
#include "platform/host/kernel/faults.h"
#include "platform/host/user/internal.h"

using namespace host::user;

namespace {

// Without a window filter every message matches; (HWND)-1 selects thread
// messages; a dialog's filter also takes its controls' messages.
bool Matches(const MSG &m, HWND filter, UINT min, UINT max) {
    if (filter == reinterpret_cast<HWND>(-1)) {
        if (m.hwnd) return false;
    } else if (filter && m.hwnd != filter) {
        auto it = S().controls.find(m.hwnd);
        if (it == S().controls.end() || it->second.first != filter) return false;
    }
    return (min == 0 && max == 0) || (m.message >= min && m.message <= max);
}

// The visible modeless dialogs of `thread` that take input.
std::vector<HWND> ModelessDialogs(DWORD thread) {
    std::vector<HWND> out;
    for (const auto &[h, d] : S().dialogs) {
        if (d.thread == thread && !d.modal && d.visible && d.enabled && !d.ended) out.push_back(h);
    }
    return out;
}

void PostUserActions(DWORD thread, const std::vector<host::ui::Action> &actions) {
    std::lock_guard lock(S().mu);
    for (const host::ui::Action &a : actions) {
        Dialog *d = FindDialog(a.dialog);
        if (!d || d->thread != thread || a.kind == host::ui::ActionKind::Abandon) continue;
        MSG m = ActionMessage(*d, a);
        PostLocked(thread, m.hwnd, m.message, m.wParam, m.lParam);
    }
}

}  // namespace

namespace host::user {

void EnsureQueue(DWORD thread) { S().queues.try_emplace(thread); }

bool PostLocked(DWORD thread, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto it = S().queues.find(thread);
    if (it == S().queues.end()) return false;
    it->second.push_back(MSG{hwnd, msg, wp, lp, GetTickCount(), POINT{}});
    return true;
}

bool TakeMessage(DWORD thread, MSG *out) {
    std::lock_guard lock(S().mu);
    auto it = S().queues.find(thread);
    if (it == S().queues.end() || it->second.empty()) return false;
    *out = it->second.front();
    it->second.pop_front();
    return true;
}

bool PendingPaint(DWORD thread, HWND filter, MSG *out) {
    std::lock_guard lock(S().mu);
    for (const auto &[h, d] : S().dialogs) {
        if (d.thread != thread || !d.visible || !d.invalid || (filter && filter != h)) continue;
        *out = MSG{h, WM_PAINT, 0, 0, GetTickCount(), POINT{}};
        return true;
    }
    return false;
}

}  // namespace host::user

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    HOST_API(FALSE)
    std::lock_guard lock(S().mu);
    DWORD thread = GetCurrentThreadId();
    if (!hWnd) {
        // A message without a window is a thread message to the caller.
        EnsureQueue(thread);
    } else if (Dialog *d = FindDialog(hWnd)) {
        thread = d->thread;
    } else if (Dialog *owner = nullptr; FindControl(hWnd, &owner)) {
        thread = owner->thread;
    } else {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return PostLocked(thread, hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    HOST_API(FALSE)
    std::lock_guard lock(S().mu);
    if (!PostLocked(idThread, nullptr, Msg, wParam, lParam)) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    host::fault::ApiScope hostApiScope_(__func__);
    DWORD thread = GetCurrentThreadId();
    std::vector<HWND> modeless;
    {
        std::lock_guard lock(S().mu);
        EnsureQueue(thread);
        modeless = ModelessDialogs(thread);
    }
    if (!modeless.empty()) PostUserActions(thread, host::ui::ActiveFrontend().PollModeless(modeless));
    if (!lpMsg) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    {
        std::lock_guard lock(S().mu);
        auto &queue = S().queues[thread];
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (!Matches(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) continue;
            *lpMsg = *it;
            if (wRemoveMsg & PM_REMOVE) queue.erase(it);
            return TRUE;
        }
    }
    bool wantsPaint = (wMsgFilterMin == 0 && wMsgFilterMax == 0) ||
                      (WM_PAINT >= wMsgFilterMin && WM_PAINT <= wMsgFilterMax);
    return wantsPaint && hWnd != reinterpret_cast<HWND>(-1) && PendingPaint(thread, hWnd, lpMsg);
}

BOOL WINAPI TranslateMessage(const MSG *) {
    host::fault::ApiScope hostApiScope_(__func__);
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *lpMsg) {
    host::fault::ApiScope hostApiScope_(__func__);
    // Thread messages have no window procedure to go to.
    if (!lpMsg || !lpMsg->hwnd) return 0;
    LRESULT result = SendToWindow(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    if (lpMsg->message == WM_PAINT) {
        // A WM_PAINT that nobody validated would come back forever.
        std::lock_guard lock(S().mu);
        if (Dialog *d = FindDialog(lpMsg->hwnd)) d->invalid = false;
    }
    return result;
}
