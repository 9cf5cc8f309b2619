/* Stands in for Wine's wineboot during a first phase: the restart that
 * ExitWindowsEx asks for is noted in C:\restart.txt and left for the next
 * cold start, as Windows leaves RunOnce for the next boot. */
#include <stdio.h>

int main(int argc, char **argv) {
    FILE *f = fopen("C:\\restart.txt", "a");
    if (!f) return 1;
    for (int i = 1; i < argc; ++i) fprintf(f, "%s%s", i > 1 ? " " : "", argv[i]);
    fputs("\n", f);
    return fclose(f) != 0;
}
