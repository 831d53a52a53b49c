// Stands in for a test program in run-tests.cmd's own test: it ends at once with
// EXIT_STATUS, as a failing test program (1) or a crashed one (0xC0000409, a fail-fast) does.
#include <windows.h>

int main() {
    ExitProcess(EXIT_STATUS);
}
