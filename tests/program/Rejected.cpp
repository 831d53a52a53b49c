// A program the file check must reject, never shipped: it registers an exception handler
// through the TIB's address, as NtCurrentTeb()->ExceptionList = ... does, although it is
// linked as NO_SEH; and it imports GetTickCount64, which Windows XP does not have.
#define _WIN32_WINNT 0x0600
#include <windows.h>

namespace {
EXCEPTION_DISPOSITION NTAPI Handler(EXCEPTION_RECORD*, void*, CONTEXT*, void*) {
    return ExceptionContinueSearch;
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    auto* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
    EXCEPTION_REGISTRATION_RECORD record{};
    record.Next = tib->ExceptionList;
    record.Handler = Handler;
    tib->ExceptionList = &record;
    const auto started = GetTickCount64();
    tib->ExceptionList = record.Next;
    return static_cast<int>(started & 1);
}
