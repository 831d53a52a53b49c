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

// Sets the session's foreground lock timeout to 0 (until logoff), so that every program
// the tests start may take the foreground, and prints the timeout before and after and
// how it was set; false, with the reasons on standard error, if Windows refused it twice.
bool UnlockForeground();

// Where a picture of the whole screen and the description are kept when a test case
// fails: "" keeps none.
extern std::wstring ScreenshotFolder;

// Keeps the screen as it is now, and the description, in ScreenshotFolder, named after
// the test case.
void KeepScreen(const std::string& testCase);

// Keeps a picture in ScreenshotFolder as "CASE, WHAT.png".
void KeepPicture(const std::string& testCase, const std::wstring& what, HBITMAP picture);
