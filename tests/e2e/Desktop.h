// What decides whether a box can come to the front, said and kept for whoever reads a
// test run's log: a hosted Windows runner can be seen only through what its job prints
// and uploads.
#pragma once

#include <windows.h>

#include <string>

// One line per fact: Windows' version and build (and Wine's, under Wine), the session,
// the window station and desktop, the screen and its DPI, the work area, the foreground
// window and its process, and the foreground lock timeout.
std::string DescribeDesktop();

// Tries to set the session's foreground lock timeout to 0 (until logoff), so that every
// program the tests start may take the foreground, and prints the timeout before and
// after and how it was set, or that Windows refused it: the cases judge what follows.
void UnlockForeground();

// Minimises every visible console and terminal window, the hosted runner's own among
// them, so that none takes the foreground back when a box closes; prints which.
void SetAsideConsoles();

// Puts a window of this test program's own in front, made once and kept until it ends:
// this process is then the foreground process, which may pass the foreground on to each
// program it starts, and the window the foreground returns to when a box closes. Prints
// where Windows refused it.
void HoldTheForeground();

// The foreground window as the descriptions name it: its class, title and process.
std::string DescribeForeground();

// Where a picture of the whole screen and the description are kept when a test case
// fails: "" keeps none.
extern std::wstring ScreenshotFolder;

// Keeps the screen as it is now in ScreenshotFolder, named after the test case.
void KeepScreen(const std::string& testCase);

// Keeps `text` beside the test case's picture, as its description.
void KeepDescription(const std::string& testCase, const std::string& text);

// Keeps a picture in ScreenshotFolder as "CASE, WHAT.png".
void KeepPicture(const std::string& testCase, const std::wstring& what, HBITMAP picture);
