/* The hook endpoint's reference: a bare C process that reads standard input to its end
 * with C stdio and answers "{}". It loads the C library only, no C++ runtime; the hook
 * endpoint stays within 1.2 times its median. */
#include <stdio.h>

int main(void) {
    char buffer[4096];
    while (fread(buffer, 1, sizeof buffer, stdin) > 0) {
    }
    if (ferror(stdin)) {
        return 1;
    }
    fputs("{}\n", stdout);
    return fflush(stdout) == 0 ? 0 : 1;
}
