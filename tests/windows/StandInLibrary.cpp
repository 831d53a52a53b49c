// The DLL that a stand-in loads, as a test program linked against MinGW's runtime DLLs would.
#include <windows.h>

extern "C" __declspec(dllexport) UINT StandInStatus() {
    return 0;
}
