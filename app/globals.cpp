#include "app/globals.h"

int g_nOsType = 0;
char g_szInstaller[kInstallerNameSize] = "";
char g_szSelfPath[MAX_PATH] = "";
int g_nPartType = 0;
BOOL g_bRestart = FALSE;
