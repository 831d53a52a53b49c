// Stands in for halvorn.exe in the driver's own test: the same box, but with the warning
// icon (WARNING_ICON), which the end-to-end tests must reject, or without its text
// control (WITHOUT_TEXT), as Windows may make a box for an empty message, which they must
// take for an empty message only.
#include <windows.h>

#include <shellapi.h>

#include "MessageRequest.h"

#ifdef WITHOUT_TEXT
namespace {

HHOOK hook;

BOOL CALLBACK DestroyIfText(HWND child, LPARAM) {
    wchar_t type[16] = {};
    GetClassNameW(child, type, 16);
    if (lstrcmpiW(type, L"Static") == 0 && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
        DestroyWindow(child);
    return TRUE;
}

// The box's text control goes as the box is about to be shown, on the box's own thread.
LRESULT CALLBACK WithoutText(int code, WPARAM window, LPARAM details) {
    if (code == HCBT_ACTIVATE)
        EnumChildWindows(reinterpret_cast<HWND>(window), DestroyIfText, 0);
    return CallNextHookEx(hook, code, window, details);
}

}  // namespace
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    int count = 0;
    LPWSTR* entries = CommandLineToArgvW(GetCommandLineW(), &count);
    const MessageRequest request = BuildMessageRequest(ArgumentVector{count, entries});
    UINT style = request.style;
#ifdef WARNING_ICON
    style = (style & ~MB_ICONMASK) | MB_ICONWARNING;
#endif
#ifdef WITHOUT_TEXT
    hook = SetWindowsHookExW(WH_CBT, WithoutText, nullptr, GetCurrentThreadId());
#endif
    MessageBoxW(static_cast<HWND>(request.owner), request.text, request.title, style);
    LocalFree(entries);
    return 0;
}
