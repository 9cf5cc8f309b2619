// Host entry point: the command line is the arguments joined by single
// spaces; `zav-machine run` passes the exact text as one argument.
#include <string>

#include "platform/afx/afxwin.h"

int main(int argc, char **argv) {
    std::string cmdLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) cmdLine += ' ';
        cmdLine += argv[i];
    }
    return AfxWinMain(cmdLine.c_str());
}
