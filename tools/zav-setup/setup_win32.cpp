// SETUP.EXE for Windows: the new version's installer as the Wine scenarios
// run it. It installs version 1.1 the way the sandbox's installer does when
// nothing asks it to misbehave, then writes the flag the update waits for.
#include "tools/zav-setup/install.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (!InstallFiles("") || !RegisterKeys(true)) return 1;
    return SetString(HKEY_LOCAL_MACHINE, "Software\\Keldan\\Install", "progress", "complete") ? 0 : 1;
}
