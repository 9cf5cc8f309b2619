// The pointer over the program's dialogs. They share one window class, so
// its class cursor shows over all of them until it is set again.
#pragma once

#include "platform/win.h"

// Loads the system cursor `pszCursor` and, when it loads, makes it the
// class cursor of `hWnd`'s class.
inline void SetDialogClassCursor(HWND hWnd, LPCSTR pszCursor) {
    HCURSOR hCursor = LoadCursorA(nullptr, pszCursor);
    if (hCursor) SetClassLongA(hWnd, GCL_HCURSOR, static_cast<LONG>(reinterpret_cast<LONG_PTR>(hCursor)));
}
