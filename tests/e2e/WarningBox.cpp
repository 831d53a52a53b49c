// Stands in for halvorn.exe in the driver's own test: the same box, but with the
// warning icon, which the end-to-end tests must reject.
#include <windows.h>

#include <shellapi.h>

#include "MessageRequest.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    LPWSTR* entries = CommandLineToArgvW(GetCommandLineW(), &count);
    const MessageRequest request = BuildMessageRequest(ArgumentVector{count, entries});
    MessageBoxW(static_cast<HWND>(request.owner), request.text, request.title, (request.style & ~MB_ICONMASK) | MB_ICONWARNING);
    LocalFree(entries);
    return 0;
}
