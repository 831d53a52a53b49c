// Halvorn's entry: shows the one message box decided by message/ and waits for it.
#include <windows.h>

#include <shellapi.h>  // needs windows.h first

#include "MessageRequest.h"

static_assert(MessageStyle == (MB_OK | MB_ICONINFORMATION | MB_SYSTEMMODAL | MB_SETFOREGROUND | MB_TOPMOST),
              "the box's style must be exactly these five flags");

// The ANSI command line WinMain is given would lose every character outside
// the code page, so the UTF-16 one is read and split instead.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    LPCWSTR commandLine = GetCommandLineW();
    int count = 0;
    LPWSTR* entries = CommandLineToArgvW(commandLine, &count);
    // Without a vector there is nothing to show, and count is not to be trusted.
    if (entries == nullptr) {
        return 0;
    }

    const MessageRequest request = BuildMessageRequest(ArgumentVector{count, entries});
    MessageBoxW(static_cast<HWND>(request.owner), request.text, request.title, request.style);

    // Only now: the request's text and title point into the vector.
    LocalFree(entries);
    return 0;
}
