// The platform calls halvorn.exe makes itself, in order, read from Wine's relay trace.
#include <doctest/doctest.h>

#include <windows.h>

#include <psapi.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Driver.h"
#include "MessageRequest.h"

namespace {

struct Event {
    bool call;  // a call; otherwise its return
    std::string dll;
    std::string function;
    std::vector<unsigned long long> arguments;  // the calls' arguments as numbers
    unsigned long long result;                  // the returns' value
};

unsigned long long Hex(const std::string& text, std::size_t at) {
    return std::strtoull(text.c_str() + at, nullptr, 16);
}

// "0024:Call KERNEL32.LocalFree(00384050) ret=14000279d" or
// "0024:Ret  KERNEL32.LocalFree() retval=00000000 ret=14000279d"; strings in
// the arguments are shown quoted after their address, and may hold commas.
bool Parse(const std::string& line, Event& event) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    event.call = line.compare(colon + 1, 5, "Call ") == 0;
    if (!event.call && line.compare(colon + 1, 5, "Ret  ") != 0)
        return false;
    const std::size_t name = colon + 6;
    const std::size_t dot = line.find('.', name);
    const std::size_t open = line.find('(', name);
    if (dot == std::string::npos || open == std::string::npos || dot > open)
        return false;
    event.dll = line.substr(name, dot - name);
    event.function = line.substr(dot + 1, open - dot - 1);
    event.arguments.clear();
    std::size_t at = open + 1;
    bool quoted = false;
    if (line[at] != ')')
        event.arguments.push_back(Hex(line, at));
    for (; at < line.size() && (quoted || line[at] != ')'); ++at) {
        if (line[at] == '\\')
            ++at;
        else if (line[at] == '"')
            quoted = !quoted;
        else if (line[at] == ',' && !quoted)
            event.arguments.push_back(Hex(line, at + 1));
    }
    const std::size_t value = line.find(" retval=", at);
    event.result = value == std::string::npos ? 0 : Hex(line, value + 8);
    return true;
}

unsigned long long ReturnAddress(const std::string& line) {
    const std::size_t at = line.rfind(" ret=");
    return at == std::string::npos ? 0 : Hex(line, at + 5);
}

// The environment of this process, with Wine's relay trace turned on.
std::wstring EnvironmentWithRelay() {
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
        if (_wcsnicmp(entry, L"WINEDEBUG=", 10) != 0)
            block.append(entry).push_back(L'\0');
    }
    FreeEnvironmentStringsW(strings);
    block.append(L"WINEDEBUG=+relay").push_back(L'\0');
    return block;
}

}  // namespace

TEST_CASE("E2E, CallsThePlatformInOrderAndFreesTheVectorAfterTheBox") {
    if (!OnWine()) {
        MESSAGE("skipped: this check reads Wine's relay trace, which Windows does not have");
        return;
    }
    // Wine writes the trace of a program it starts to this process's standard error.
    const char* log = std::getenv("HALVORN_STDERR_LOG");
    REQUIRE_MESSAGE(log != nullptr, "run this case through RunWithStderrLog.cmake");

    const std::wstring environment = EnvironmentWithRelay();
    Box box = Show(L"\"Relay message\" \"Relay title\"", environment.c_str());
    HMODULE image = nullptr;
    DWORD needed = 0;
    MODULEINFO module{};
    const bool located = EnumProcessModules(box.process.hProcess, &image, sizeof image, &needed) &&
                         GetModuleInformation(box.process.hProcess, image, &module, sizeof module);
    REQUIRE(Dismiss(box, Dismissal::OkButton) == 0);
    REQUIRE_MESSAGE(located, "cannot find the program's image in its process");

    // Only calls made from the program's own image count.
    const auto begin = reinterpret_cast<unsigned long long>(module.lpBaseOfDll);
    const unsigned long long end = begin + module.SizeOfImage;
    const std::vector<std::string> watched = {"GetCommandLineW", "CommandLineToArgvW", "MessageBoxW",
                                              "LocalFree"};
    std::vector<Event> events;
    std::ifstream trace(log);
    for (std::string line; std::getline(trace, line);) {
        Event event;
        const unsigned long long from = ReturnAddress(line);
        if (!Parse(line, event) || from < begin || from >= end)
            continue;
        for (const std::string& name : watched)
            if (event.function == name)
                events.push_back(event);
    }

    std::vector<std::string> calls;
    for (const Event& e : events)
        if (e.call)
            calls.push_back(e.function);
    REQUIRE(calls == watched);

    auto find = [&](bool call, const std::string& function) {
        for (std::size_t i = 0; i < events.size(); ++i)
            if (events[i].call == call && events[i].function == function)
                return i;
        FAIL("no ", call ? "call of " : "return from ", function);
        return events.size();
    };
    const Event& commandLine = events[find(false, "GetCommandLineW")];
    const Event& split = events[find(true, "CommandLineToArgvW")];
    const Event& vector = events[find(false, "CommandLineToArgvW")];
    const Event& box_ = events[find(true, "MessageBoxW")];
    const Event& release = events[find(true, "LocalFree")];

    CHECK(split.arguments.at(0) == commandLine.result);
    REQUIRE(box_.arguments.size() == 4);
    CHECK(box_.arguments[0] == 0);           // no owner
    CHECK(box_.arguments[3] == MessageStyle);  // OK, information, system-modal, foreground, topmost
    CHECK(release.arguments.at(0) == vector.result);
    CHECK(find(false, "MessageBoxW") < find(true, "LocalFree"));
}
