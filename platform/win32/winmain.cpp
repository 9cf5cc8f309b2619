// The Windows entry point. As MFC's WinMain does, it hands the application
// object the command line without the program's name; the C runtime has
// already cut the name off.
#include "platform/afx/afxwin.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) { return AfxWinMain(lpCmdLine); }
