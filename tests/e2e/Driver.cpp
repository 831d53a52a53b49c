#include "Driver.h"

#include "Desktop.h"

#include <doctest/doctest.h>

#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

std::wstring Program;

namespace {

constexpr DWORD BoxTimeoutMs = 15000;
constexpr DWORD ExitTimeoutMs = 10000;
constexpr DWORD InFrontTimeoutMs = 5000;
constexpr DWORD IconSettleTimeoutMs = 2000;

// Every program started here runs in this job: when this test program ends, however
// it ends, so do they, and after each case whatever it left running is ended.
HANDLE Job() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        return created;
    }();
    return job;
}

// Waits, with a bound, until `condition` holds.
template <typename Condition>
bool Await(Condition condition, DWORD timeoutMs) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(20))
        if (GetTickCount() - start >= timeoutMs)
            return false;
    return true;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The text of a window of another process: GetWindowText does not read its
// controls, a WM_GETTEXT does.
bool ReadText(HWND window, std::wstring& text) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return false;
    text.assign(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                             2000, &copied))
        return false;
    text.resize(copied);
    return true;
}

std::wstring TextOf(HWND window) {
    std::wstring text;
    if (!ReadText(window, text))
        FAIL_CHECK("cannot read the text of window ", window, ", error ", GetLastError());
    return text;
}

struct WindowSearch {
    DWORD processId;
    const wchar_t* type;  // null: any class
    std::vector<HWND> found;
};

BOOL CALLBACK AddIfVisibleAndOfProcess(HWND window, LPARAM search) {
    auto* s = reinterpret_cast<WindowSearch*>(search);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == s->processId && IsWindowVisible(window) && (!s->type || ClassOf(window) == s->type))
        s->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK AddChild(HWND child, LPARAM children) {
    reinterpret_cast<std::vector<HWND>*>(children)->push_back(child);
    return TRUE;
}

std::vector<HWND> VisibleTopLevelWindowsOf(DWORD processId, const wchar_t* type = nullptr) {
    WindowSearch search{processId, type, {}};
    EnumWindows(AddIfVisibleAndOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box is a dialog, of the dialog class #32770. Windows counts a console
// window as its client process's, so a test run from a console sees that window too.
std::vector<HWND> BoxesOf(DWORD processId) {
    return VisibleTopLevelWindowsOf(processId, L"#32770");
}

std::vector<HWND> ChildrenOf(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(window, AddChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

DWORD WINAPI ShowBoxWithoutTitle(LPVOID) {
    MessageBoxW(nullptr, L"", nullptr, MB_OK);
    return 0;
}

void Look(Box& box) {
    HWND window = box.window;
    box.title = TextOf(window);
    box.topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    box.owned = GetWindow(window, GW_OWNER) != nullptr;
    box.topLevelWindows = static_cast<int>(VisibleTopLevelWindowsOf(box.process.dwProcessId).size());
    for (HWND child : ChildrenOf(window)) {
        if (!IsWindowVisible(child))
            continue;
        const std::wstring type = ClassOf(child);
        if (type == L"Button") {
            box.buttons.push_back(TextOf(child));
            box.okButton = child;
        } else if (type == L"Static") {
            if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                box.icon = child;
            else
                box.texts.push_back(TextOf(child));
        }
    }
}

void Send(std::vector<INPUT> inputs) {
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

INPUT Key(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

INPUT Mouse(DWORD flags, LONG x = 0, LONG y = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = x;
    input.mi.dy = y;
    input.mi.dwFlags = flags;
    return input;
}

void ClickAt(POINT point) {
    const LONG x = point.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    const LONG y = point.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    Send({Mouse(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, x, y), Mouse(MOUSEEVENTF_LEFTDOWN),
          Mouse(MOUSEEVENTF_LEFTUP)});
}

std::vector<COLORREF> Pixels(HDC source, int x, int y, int width, int height) {
    std::vector<COLORREF> pixels;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column)
            pixels.push_back(GetPixel(source, x + column, y + row));
    return pixels;
}

POINT CenterOf(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A click goes to whatever is under the pointer, keys to whatever is in front:
// wait, with a bound, until that is the box.
bool CanReach(const Box& box, Dismissal how) {
    switch (how) {
        case Dismissal::OkButton:
            return Await([&] { return WindowFromPoint(CenterOf(box.okButton)) == box.okButton; }, InFrontTimeoutMs);
        case Dismissal::ReturnKey:
        case Dismissal::EscapeKey:
            return IsInFront(box);
        case Dismissal::CloseCommand:
            break;
    }
    return true;
}

void Release(Box& box) {
    CloseHandle(box.process.hThread);
    CloseHandle(box.process.hProcess);
    box.process = {};
}

// The case that runs, whose name the pictures of a failure take.
std::string CurrentCase;

// The foreground window before the last box was started, and after it closed.
std::string ForegroundBeforeStart, ForegroundAfterClose;

std::string ForegroundNotes() {
    return "Foreground window before the box was started: " + ForegroundBeforeStart + "\n" +
           "Foreground window after the box closed: " + ForegroundAfterClose + "\n";
}

// After each case, whatever it left running is ended and the foreground taken back; at
// its first failure, the screen is kept as it is at that moment, with the description of
// the desktop then, and at its end the foreground before and after its last box.
struct WatchEachCase : doctest::IReporter {
    bool failed = false;
    std::string described;

    explicit WatchEachCase(const doctest::ContextOptions&) {}
    void Failed() {
        if (!failed) {
            KeepScreen(CurrentCase);
            described = DescribeDesktop();
            KeepDescription(CurrentCase, described + ForegroundNotes());
        }
        failed = true;
    }
    void test_case_start(const doctest::TestCaseData& data) override {
        CurrentCase = data.m_name;
        failed = false;
        ForegroundBeforeStart = ForegroundAfterClose = "(no box yet)";
    }
    void test_case_end(const doctest::CurrentTestCaseStats&) override {
        TerminateJobObject(Job(), 1);
        if (failed)
            KeepDescription(CurrentCase, described + ForegroundNotes());
        HoldTheForeground();
    }
    void log_assert(const doctest::AssertData& data) override {
        if (data.m_failed)
            Failed();
    }
    void log_message(const doctest::MessageData& data) override {
        if (data.m_severity & (doctest::assertType::is_check | doctest::assertType::is_require))
            Failed();
    }
    void report_query(const doctest::QueryData&) override {}
    void test_run_start() override {}
    void test_run_end(const doctest::TestRunStats&) override {}
    void test_case_reenter(const doctest::TestCaseData&) override {}
    void test_case_exception(const doctest::TestCaseException&) override {}
    void subcase_start(const doctest::SubcaseSignature&) override {}
    void subcase_end() override {}
    void test_case_skipped(const doctest::TestCaseData&) override {}
};
DOCTEST_REGISTER_LISTENER("WatchEachCase", 1, WatchEachCase);

}  // namespace

bool OnWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

bool Flag(const std::wstring& name) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    bool found = false;
    for (int i = 1; i < count; ++i)
        found = found || L"--" + name == arguments[i];
    LocalFree(arguments);
    return found;
}

std::wstring Option(const std::wstring& name) {
    const std::wstring prefix = L"--" + name + L"=";
    std::wstring value;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (argument.rfind(prefix, 0) == 0)
            value = argument.substr(prefix.size());
    }
    LocalFree(arguments);
    return value;
}

std::wstring CommandLineWith(const std::wstring& tail) {
    std::wstring line = L"\"" + Program + L"\"";
    return tail.empty() ? line : line + L" " + tail;
}

Box Start(const std::wstring& tail, const wchar_t* environment) {
    Box box{};
    std::wstring commandLine = CommandLineWith(tail);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ForegroundBeforeStart = DescribeForeground();
    ForegroundAfterClose = "(the box has not closed)";
    // Suspended until it is in the job, so that nothing it does escapes it.
    const DWORD flags = CREATE_SUSPENDED | (environment ? CREATE_UNICODE_ENVIRONMENT : 0);
    const auto start = [&] {
        return CreateProcessW(Program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, flags,
                              const_cast<wchar_t*>(environment), nullptr, &startup, &box.process);
    };
    // Wine once failed, on a fresh machine, to start a program that it started a
    // moment before and after: a failed start is said and tried once more.
    bool started = start();
    if (!started) {
        MESSAGE("cannot start the program, error ", GetLastError(), "; trying once more");
        Sleep(1000);
        started = start();
    }
    // Read now: doctest builds the message only when it reports, after other calls.
    const DWORD startError = GetLastError();
    REQUIRE_MESSAGE(started, "cannot start the program, error ", startError);
    const bool inJob = AssignProcessToJobObject(Job(), box.process.hProcess);
    const DWORD error = GetLastError();
    if (!inJob)
        TerminateProcess(box.process.hProcess, 1);
    // "A process that can set the foreground window can enable another process to set the
    // foreground window by calling AllowSetForegroundWindow" (its documentation): the
    // right this process may hold is passed on before the program runs. With the lock
    // timeout at 0 (--unlock-foreground) any box may come to the front, so the in-front
    // checks show that the box can be in front and reached; that the program asks for the
    // foreground (MB_SETFOREGROUND) only the relay-trace case and the build's
    // static_assert check. A refusal is said, as it decides the in-front checks on Windows.
    if (!AllowSetForegroundWindow(box.process.dwProcessId))
        MESSAGE("could not pass the foreground right on to the program: AllowSetForegroundWindow failed with error ",
                GetLastError());
    ResumeThread(box.process.hThread);
    REQUIRE_MESSAGE(inJob, "cannot put the program in a job, error ", error);
    return box;
}

bool IsInFront(const Box& box) {
    return Await([&] { return GetForegroundWindow() == box.window; }, InFrontTimeoutMs);
}

bool AwaitBox(Box& box) {
    std::vector<HWND> windows;
    bool ended = false;
    Await(
        [&] {
            windows = BoxesOf(box.process.dwProcessId);
            ended = WaitForSingleObject(box.process.hProcess, 0) == WAIT_OBJECT_0;
            return !windows.empty() || ended;
        },
        BoxTimeoutMs);
    if (!windows.empty()) {
        box.window = windows.front();
        // Give the box a moment to finish laying out and painting.
        Sleep(100);
        Look(box);
        return true;
    }
    TerminateProcess(box.process.hProcess, 1);
    Release(box);
    if (ended)
        FAIL_CHECK("the program ended without showing a box");
    else
        FAIL_CHECK("no box appeared within ", BoxTimeoutMs, " ms");
    return false;
}

Box Show(const std::wstring& tail, const wchar_t* environment) {
    Box box = Start(tail, environment);
    REQUIRE(AwaitBox(box));
    return box;
}

DWORD Dismiss(Box& box, Dismissal how) {
    if (!CanReach(box, how)) {
        // Failed first, so that a picture kept of the failure shows the box.
        FAIL_CHECK("the box is not in front, so nothing is clicked or typed");
        TerminateProcess(box.process.hProcess, 1);
        Release(box);
        return STILL_ACTIVE;
    }
    switch (how) {
        case Dismissal::OkButton:
            ClickAt(CenterOf(box.okButton));
            break;
        case Dismissal::ReturnKey:
            Send({Key(VK_RETURN, false), Key(VK_RETURN, true)});
            break;
        case Dismissal::EscapeKey:
            Send({Key(VK_ESCAPE, false), Key(VK_ESCAPE, true)});
            break;
        case Dismissal::CloseCommand:
            PostMessageW(box.window, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
    }
    DWORD status = STILL_ACTIVE;
    if (WaitForSingleObject(box.process.hProcess, ExitTimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(box.process.hProcess, &status);
        ForegroundAfterClose = DescribeForeground();
        HoldTheForeground();
    } else {
        FAIL_CHECK("the program did not end within ", ExitTimeoutMs, " ms of the box being dismissed");
        TerminateProcess(box.process.hProcess, 1);
    }
    Release(box);
    return status;
}

namespace {

struct StockIcon {
    LPCWSTR id;
    const char* name;
};
const StockIcon MessageBoxIcons[] = {
    {IDI_INFORMATION, "information"}, {IDI_WARNING, "warning"}, {IDI_ERROR, "error"}, {IDI_QUESTION, "question"}};

std::string NameOf(LPCWSTR id) {
    for (const StockIcon& icon : MessageBoxIcons)
        if (icon.id == id)
            return icon.name;
    return "(not a message-box icon)";
}

// The stock icon `id` as the box draws it, at the region's size, on `background`, in
// `drawing`'s bitmap.
std::vector<COLORREF> Drawn(HDC drawing, LPCWSTR id, int width, int height, COLORREF background) {
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, width, height};
    FillRect(drawing, &all, brush);
    DeleteObject(brush);
    auto icon = static_cast<HICON>(LoadImageW(nullptr, id, IMAGE_ICON, width, height, LR_SHARED));
    DrawIconEx(drawing, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
    return Pixels(drawing, 0, 0, width, height);
}

// How far two pictures of one size lie apart: their channels' differences, summed.
unsigned long long Distance(const std::vector<COLORREF>& a, const std::vector<COLORREF>& b) {
    unsigned long long sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16})
            sum += static_cast<unsigned long long>(std::abs(static_cast<int>((a[i] >> shift) & 0xFF) -
                                                            static_cast<int>((b[i] >> shift) & 0xFF)));
    return sum;
}

// Which of the message-box icons the screen's rectangle `r` shows: the one whose drawing
// its pixels are nearest to, where that is nearer by half than every other; "" where none
// is, as while the box is still being drawn. With `keep`, a region that is not `expected`
// keeps the icon expected and the region compared, for whoever reads the failure.
std::string IconIn(const RECT& r, LPCWSTR expected, bool keep) {
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC drawing = CreateCompatibleDC(screen);
    HBITMAP compared = CreateCompatibleBitmap(screen, width, height);
    HBITMAP drawn = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(drawing, compared);
    BitBlt(drawing, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    const std::vector<COLORREF> shown = Pixels(drawing, 0, 0, width, height);

    SelectObject(drawing, drawn);
    const COLORREF background = shown.empty() ? 0 : shown.front();
    std::vector<std::pair<unsigned long long, std::string>> distances;
    for (const StockIcon& icon : MessageBoxIcons)
        if (icon.id != expected)
            distances.emplace_back(Distance(shown, Drawn(drawing, icon.id, width, height, background)), icon.name);
    // The expected icon is drawn last, so that the bitmap kept is its drawing.
    distances.emplace_back(Distance(shown, Drawn(drawing, expected, width, height, background)), NameOf(expected));
    SelectObject(drawing, previous);

    std::sort(distances.begin(), distances.end());
    const bool clear = !shown.empty() && distances[0].first * 2 < distances[1].first;
    const std::string name = clear ? distances[0].second : "";
    if (keep && name != NameOf(expected)) {
        KeepPicture(CurrentCase, L"the icon expected", drawn);
        KeepPicture(CurrentCase, L"the region compared", compared);
    }
    DeleteObject(compared);
    DeleteObject(drawn);
    DeleteDC(drawing);
    ReleaseDC(nullptr, screen);
    return name;
}

}  // namespace

bool IsOnScreen(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return r.left >= 0 && r.top >= 0 && r.right <= GetSystemMetrics(SM_CXSCREEN) &&
           r.bottom <= GetSystemMetrics(SM_CYSCREEN);
}

std::string StockIconShownBy(HWND icon, LPCWSTR expected) {
    RECT r{};
    GetWindowRect(icon, &r);
    if (!IsOnScreen(icon)) {
        FAIL_CHECK("the icon lies off the screen, from ", r.left, ",", r.top, " to ", r.right, ",", r.bottom,
                   ": its pixels cannot be read");
        return "(off the screen)";
    }
    // The box may still be animating in, drawn by the compositor on its own time: read
    // it again, within a bound, before calling it another; the last read keeps what it
    // compared.
    std::string shown;
    if (Await([&] { return (shown = IconIn(r, expected, false)) == NameOf(expected); }, IconSettleTimeoutMs))
        return shown;
    shown = IconIn(r, expected, true);
    return shown.empty() ? "(none of the four by a clear margin)" : shown;
}

std::wstring PlatformDefaultTitle() {
    HANDLE thread = CreateThread(nullptr, 0, ShowBoxWithoutTitle, nullptr, 0, nullptr);
    std::wstring title;
    std::vector<HWND> windows;
    if (Await([&] { return !(windows = BoxesOf(GetCurrentProcessId())).empty(); }, BoxTimeoutMs)) {
        title = TextOf(windows.front());
        PostMessageW(windows.front(), WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    WaitForSingleObject(thread, ExitTimeoutMs);
    CloseHandle(thread);
    return title;
}
