// Stands in for a test program in run-tests.cmd's own test: it ends at once with
// EXIT_STATUS, as a failing test program (1) or a crashed one (0xC0000409, a fail-fast)
// does, or, with FROM_LIBRARY, with 0 from a DLL that lies only on the caller's PATH.
#include <windows.h>

#ifdef FROM_LIBRARY
extern "C" __declspec(dllimport) UINT StandInStatus();
#define EXIT_STATUS StandInStatus()
#endif

int main() {
    ExitProcess(EXIT_STATUS);
}
