#include "Desktop.h"

#include <windows.h>

#include <gdiplus.h>
#include <shlobj.h>

#include <cstdio>

std::wstring ScreenshotFolder;

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
    return bytes;
}

std::string ObjectName(HANDLE object) {
    wchar_t name[256] = {};
    return GetUserObjectInformationW(object, UOI_NAME, name, sizeof name, nullptr) ? Utf8(name) : "unknown";
}

std::string ImageOf(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const bool found = process && QueryFullProcessImageNameW(process, 0, path, &size);
    if (process)
        CloseHandle(process);
    return found ? Utf8(path) : "unknown (error " + std::to_string(GetLastError()) + ")";
}

std::string WindowsVersion() {
    // GetVersionEx answers as the manifest allows; ntdll tells the truth.
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion = reinterpret_cast<GetVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!rtlGetVersion || rtlGetVersion(&version) != 0)
        return "Windows: unknown";
    std::string line = "Windows: " + std::to_string(version.dwMajorVersion) + "." +
                       std::to_string(version.dwMinorVersion) + " build " + std::to_string(version.dwBuildNumber);
    using GetWineVersion = const char*(CDECL*)();
    if (auto wine = reinterpret_cast<GetWineVersion>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"))))
        line += std::string("\nWine: ") + wine();
    return line;
}

// GDI+'s PNG encoder, as its documentation lists it.
const CLSID PngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

bool SavePng(HBITMAP bitmap, const std::wstring& path) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return false;
    Gdiplus::GpBitmap* image = nullptr;
    const bool saved = Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(bitmap, nullptr, &image) == Gdiplus::Ok &&
                       Gdiplus::DllExports::GdipSaveImageToFile(image, path.c_str(), &PngEncoder, nullptr) == Gdiplus::Ok;
    if (image)
        Gdiplus::DllExports::GdipDisposeImage(image);
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

bool SaveScreen(const std::wstring& path) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC copy = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(copy, bitmap);
    const bool copied = BitBlt(copy, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(copy, previous);
    DeleteDC(copy);
    ReleaseDC(nullptr, screen);
    const bool saved = copied && SavePng(bitmap, path);
    DeleteObject(bitmap);
    return saved;
}

// ScreenshotFolder\NAME, NAME the test case's, made fit for a file name; the folder is
// made if it is missing.
std::wstring PathFor(const std::string& testCase) {
    std::wstring name;
    for (char c : testCase)
        name += std::string("\\/:*?\"<>|").find(c) == std::string::npos ? static_cast<wchar_t>(c) : L'_';
    // The shell makes every missing folder of a full path only.
    wchar_t folder[MAX_PATH] = {};
    GetFullPathNameW(ScreenshotFolder.c_str(), MAX_PATH, folder, nullptr);
    SHCreateDirectoryExW(nullptr, folder, nullptr);
    return folder + (L"\\" + name);
}

std::string DescribeWindow(HWND window) {
    wchar_t type[256] = {}, title[256] = {};
    GetClassNameW(window, type, 256);
    GetWindowTextW(window, title, 256);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return "class \"" + Utf8(type) + "\", title \"" + Utf8(title) + "\", process " + std::to_string(processId) + " " +
           ImageOf(processId);
}

}  // namespace

void KeepScreen(const std::string& testCase) {
    if (ScreenshotFolder.empty())
        return;
    const std::wstring path = PathFor(testCase);
    if (!SaveScreen(path + L".png"))
        std::fprintf(stderr, "cannot save a picture of the screen as %s.png\n", Utf8(path).c_str());
}

void KeepDescription(const std::string& testCase, const std::string& text) {
    if (ScreenshotFolder.empty())
        return;
    if (FILE* description = _wfopen((PathFor(testCase) + L".txt").c_str(), L"wb")) {
        std::fputs(text.c_str(), description);
        std::fclose(description);
    }
}

void KeepPicture(const std::string& testCase, const std::wstring& what, HBITMAP picture) {
    if (ScreenshotFolder.empty())
        return;
    const std::wstring path = PathFor(testCase) + L", " + what + L".png";
    if (!SavePng(picture, path))
        std::fprintf(stderr, "cannot save a picture as %s\n", Utf8(path).c_str());
}

std::string DescribeForeground() {
    HWND window = GetForegroundWindow();
    return window ? DescribeWindow(window) : "none";
}

std::string DescribeDesktop() {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    DWORD lockTimeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &lockTimeout, 0);
    // The foreground lock counts from the last input of the session, injected input too.
    LASTINPUTINFO lastInput{};
    lastInput.cbSize = sizeof lastInput;
    const std::string sinceInput = GetLastInputInfo(&lastInput)
                                       ? std::to_string(GetTickCount() - lastInput.dwTime) + " ms ago"
                                       : "unknown (error " + std::to_string(GetLastError()) + ")";

    return WindowsVersion() + "\n" +
           "Session: " + std::to_string(session) + "\n" +
           "Window station and desktop: " + ObjectName(GetProcessWindowStation()) + "\\" +
           ObjectName(GetThreadDesktop(GetCurrentThreadId())) + "\n" +
           "Screen: " + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
           std::to_string(GetSystemMetrics(SM_CYSCREEN)) + " pixels, " + std::to_string(dpi) + " DPI\n" +
           "Work area: " + std::to_string(work.left) + "," + std::to_string(work.top) + " to " +
           std::to_string(work.right) + "," + std::to_string(work.bottom) + "\n" +
           "Foreground window: " + DescribeForeground() + "\n" +
           "Last input: " + sinceInput + "\n" +
           "Foreground lock timeout: " + std::to_string(lockTimeout) + " ms\n";
}

namespace {

DWORD ForegroundLockTimeout() {
    DWORD timeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    return timeout;
}

bool SetForegroundLockTimeoutToZero(DWORD& error) {
    const bool set = SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_SENDCHANGE);
    error = set ? 0 : GetLastError();
    return set && ForegroundLockTimeout() == 0;
}

// ALT pressed and released, as a user would: sent with SendInput, it goes through the
// same input queue as the keyboard's.
void PressAlt() {
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
        key.type = INPUT_KEYBOARD;
        key.ki.wVk = VK_MENU;
    }
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
}

}  // namespace

// SetForegroundWindow's rules let a process take the foreground only under some
// conditions, "the foreground lock time-out has expired" among them. Input restarts
// that time-out, and the tests' own clicks and keys are input: with the default of
// 200,000 ms, every box after the first would stay behind. With the time-out at 0 it has
// always expired, as on a desktop where nobody has typed for a while. The value lasts
// until logoff.
// SystemParametersInfo documents for this setting: "The calling thread must be able to
// change the foreground window, otherwise the call fails." LockSetForegroundWindow's
// documentation names a way to that: "The system automatically enables calls to
// SetForegroundWindow if the user presses the ALT key or takes some action that causes
// the system itself to change the foreground window". So the setting is tried as it is,
// then once more a moment after ALT is pressed and released. Whether Windows takes it is
// said, never judged here: a box that does not come to the front fails its case.
void UnlockForeground() {
    std::printf("Foreground lock timeout before: %lu ms\n", ForegroundLockTimeout());
    DWORD refused = 0, refusedAgain = 0;
    if (SetForegroundLockTimeoutToZero(refused)) {
        std::printf("Foreground lock timeout after: 0 ms, set as it was\n");
        return;
    }
    PressAlt();
    Sleep(200);
    if (SetForegroundLockTimeoutToZero(refusedAgain)) {
        std::printf("Foreground lock timeout after: 0 ms, set after ALT was pressed (at first: error %lu)\n", refused);
        return;
    }
    std::printf("Foreground lock timeout after: %lu ms: Windows refused to set it, with error %lu, and again with "
                "error %lu after ALT was pressed\n",
                ForegroundLockTimeout(), refused, refusedAgain);
}

namespace {

BOOL CALLBACK MinimiseIfConsole(HWND window, LPARAM) {
    wchar_t type[64] = {};
    GetClassNameW(window, type, 64);
    const std::wstring name = type;
    // A console's own window, and Windows Terminal's, which hosts consoles from Windows 11 on.
    if (IsWindowVisible(window) && !IsIconic(window) &&
        (name == L"ConsoleWindowClass" || name == L"CASCADIA_HOSTING_WINDOW_CLASS")) {
        // Asynchronously: a window of another process that does not answer cannot hold us.
        const bool asked = ShowWindowAsync(window, SW_MINIMIZE);
        std::fprintf(stderr, "Set aside (minimised%s): %s\n", asked ? "" : ", refused", DescribeWindow(window).c_str());
    }
    return TRUE;
}

LRESULT CALLBACK KeeperProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

struct KeeperStart {
    HANDLE made;
    HWND window;
};

// The window runs on a thread of its own, whose messages are always answered, while the
// cases wait on theirs.
DWORD WINAPI RunKeeper(LPVOID start) {
    WNDCLASSW type{};
    type.lpfnWndProc = KeeperProcedure;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    type.lpszClassName = L"HalvornTestDriver";
    RegisterClassW(&type);
    // Small, in a corner: never over a box, which is centred and topmost anyway.
    HWND window = CreateWindowExW(0, type.lpszClassName, L"Halvorn test driver", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE,
                                  0, 0, 240, 80, nullptr, nullptr, type.hInstance, nullptr);
    static_cast<KeeperStart*>(start)->window = window;
    SetEvent(static_cast<KeeperStart*>(start)->made);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

HWND Keeper() {
    static const HWND window = [] {
        // Static: the thread may write it after a wait that gave up.
        static KeeperStart start{CreateEventW(nullptr, TRUE, FALSE, nullptr), nullptr};
        HANDLE thread = CreateThread(nullptr, 0, RunKeeper, &start, 0, nullptr);
        return thread && WaitForSingleObject(start.made, 5000) == WAIT_OBJECT_0 ? start.window : nullptr;
    }();
    return window;
}

}  // namespace

// On GitHub's hosted Windows runners a console window of the runner's own stays in the
// foreground ("Windows Runner Provisioner in the foreground", actions/runner issue 2189;
// tests that found "Administrator: C:\Windows\System32\cmd.exe" in front, dotnet/winforms
// pull request 3079), and Windows hands the foreground back to it when a test's window
// closes. UI tests there minimise the windows they do not own first (dotnet/winforms
// pull request 8936, "minimize all open windows on test machines").
void SetAsideConsoles() {
    EnumWindows(MinimiseIfConsole, 0);
    std::fprintf(stderr, "Consoles and terminals set aside; foreground window: %s\n", DescribeForeground().c_str());
}

// "A process that can set the foreground window can enable another process to set the
// foreground window by calling AllowSetForegroundWindow", and "the calling process is the
// foreground process" is one of SetForegroundWindow's conditions (their documentation):
// with a window of this process in front, the right that Start passes on to each box is
// one this process holds.
void HoldTheForeground() {
    HWND window = Keeper();
    if (!window) {
        std::fprintf(stderr, "cannot make a window to hold the foreground with, error %lu\n", GetLastError());
        return;
    }
    if (GetForegroundWindow() != window && !SetForegroundWindow(window))
        std::fprintf(stderr, "Windows refused this program the foreground; foreground window: %s\n",
                     DescribeForeground().c_str());
}
