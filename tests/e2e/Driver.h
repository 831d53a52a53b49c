// Plays the user of halvorn.exe: starts it with an exact command line, reads
// its box as a person sees it, and dismisses it as a person would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

extern std::wstring Program;  // the halvorn.exe under test

// Whether this runs under Wine rather than Windows.
bool OnWine();

// Whether --NAME is on this test program's own command line.
bool Flag(const std::wstring& name);

// The value of --NAME=VALUE on this test program's own command line, read in UTF-16; "" if absent.
std::wstring Option(const std::wstring& name);

enum class Dismissal { OkButton, ReturnKey, EscapeKey, CloseCommand };

// What is on the screen while the box is up.
struct Box {
    PROCESS_INFORMATION process;
    HWND window;  // null: no box appeared in time
    std::wstring title;
    std::vector<std::wstring> texts;    // the static texts: the message, or none for an empty one
    std::vector<std::wstring> buttons;  // the captions of the visible buttons
    HWND okButton;
    HWND icon;  // the visible icon control, if any
    bool topmost;
    bool owned;
    int topLevelWindows;  // visible ones of the process
};

// The command line the program is started with: its quoted path, then the tail as it stands.
std::wstring CommandLineWith(const std::wstring& tail);

// Starts the program, in a job that ends it at the latest with its case; environment
// as for CreateProcessW.
Box Start(const std::wstring& tail, const wchar_t* environment = nullptr);

// Waits, with a bound, for the box (a top-level dialog) of a started program and reads it. A program
// that shows none is ended, and the calling case fails.
bool AwaitBox(Box& box);

// Whether the box is the foreground window, or becomes it within a bound.
bool IsInFront(const Box& box);

// Start and AwaitBox; the calling case stops if no box appears.
Box Show(const std::wstring& tail, const wchar_t* environment = nullptr);

// Dismisses the box and returns the exit status once the process has ended. A box
// that is not in front is not clicked or typed into, and a process that does not end
// in time is ended: both fail the calling case.
DWORD Dismiss(Box& box, Dismissal how);

// Whether the window lies wholly on the screen, where its pixels can be read.
bool IsOnScreen(HWND window);

// Which of the platform's four message-box icons the icon control shows on the screen:
// "information", "warning", "error" or "question", each drawn as the box draws it and
// compared with the control's region, the nearest where it is nearer by half than every
// other. Read again within a bound until it is `expected` (IDI_...); where it never is,
// the icon expected and the region compared are kept beside the screen's picture
// (--screenshots=DIR). An icon off the screen fails the calling case.
std::string StockIconShownBy(HWND icon, LPCWSTR expected);

// The title the platform gives a box that has none, read from a box of our own.
std::wstring PlatformDefaultTitle();
