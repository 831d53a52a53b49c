#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include <string>

#include "MessageRequest.h"

namespace {

struct VectorCase {
    const char* name;
    std::int32_t count;
    int text;   // index of the entry expected as the text; -1: the usage text
    int title;  // index of the entry expected as the title; -1: the program's title, -2: none
};

wchar_t Path[] = L"C:\\Tools\\halvorn.exe";
wchar_t Message[] = L"Hello world!";
wchar_t Title[] = L"Important";
wchar_t Third[] = L"third";
wchar_t Fourth[] = L"fourth";

std::wstring TextOf(const wchar_t* text) {
    return text ? std::wstring(text) : std::wstring(L"(null)");
}

MessageRequest Build(std::int32_t count, wchar_t** entries) {
    const ArgumentVector arguments{count, entries};
    return BuildMessageRequest(arguments);
}

MessageRequest BuildWithNoArgument() {
    wchar_t* entries[] = {Path};
    return Build(1, entries);
}

}  // namespace

TEST_CASE("Unit, TakesTheMessageFirstAndTheTitleSecond") {
    const VectorCase cases[] = {
        {"no argument", 1, -1, -1},   {"one argument", 2, 1, -2},  {"two arguments", 3, 1, 2},
        {"three arguments", 4, 1, 2}, {"four arguments", 5, 1, 2},
    };
    wchar_t* all[] = {Path, Message, Title, Third, Fourth};
    const MessageRequest usage = BuildWithNoArgument();
    for (const VectorCase& c : cases) {
        CAPTURE(c.name);
        // Only the first `count` entries exist: a read past them is out of bounds.
        wchar_t** entries = new wchar_t*[static_cast<std::size_t>(c.count)];
        for (std::int32_t i = 0; i < c.count; ++i)
            entries[i] = all[i];

        const MessageRequest request = Build(c.count, entries);
        CHECK(request.text == (c.text < 0 ? usage.text : all[c.text]));
        if (c.title == -1)
            CHECK(request.title == usage.title);
        else if (c.title == -2)
            CHECK(request.title == nullptr);
        else
            CHECK(request.title == all[c.title]);
        CHECK(request.owner == nullptr);
        CHECK(request.style == 0x00051040u);
        delete[] entries;
    }
}

TEST_CASE("Unit, UsesEmptyArgumentsAsTheyStand") {
    wchar_t empty1[] = L"";
    wchar_t empty2[] = L"";
    struct {
        const char* name;
        wchar_t* text;
        wchar_t* title;
    } const cases[] = {
        {"empty message and title", empty1, empty2},
        {"empty message", empty1, Title},
        {"empty title", Message, empty2},
    };
    for (const auto& c : cases) {
        CAPTURE(c.name);
        wchar_t* entries[] = {Path, c.text, c.title};
        const MessageRequest request = Build(3, entries);
        CHECK(request.text == c.text);
        CHECK(request.title == c.title);
    }
    wchar_t* onlyEmpty[] = {Path, empty1};
    const MessageRequest request = Build(2, onlyEmpty);
    CHECK(request.text == empty1);
    CHECK(request.title == nullptr);
}

TEST_CASE("Unit, PassesTextOutsideAsciiByIdentity") {
    // U+00E9, CJK, and U+1F600 written as a surrogate pair in 16-bit units
    // (on a 32-bit wchar_t these are two unpaired units: still never looked at).
    wchar_t accented[] = L"Caf\u00e9 cr\u00e8me";
    wchar_t cjk[] = L"\u4f60\u597d\u4e16\u754c";
    wchar_t surrogates[] = {0xD83D, 0xDE00, L' ', L'!', 0};
    wchar_t* const texts[] = {accented, cjk, surrogates};
    for (wchar_t* text : texts) {
        for (wchar_t* title : texts) {
            wchar_t* entries[] = {Path, text, title};
            const std::wstring before = TextOf(text) + L'|' + TextOf(title);
            const MessageRequest request = Build(3, entries);
            CHECK(request.text == text);
            CHECK(request.title == title);
            CHECK(TextOf(request.text) + L'|' + TextOf(request.title) == before);
        }
    }
}

TEST_CASE("Unit, UsageTextReadsAsSixLinesThatShowTheCall") {
    const MessageRequest request = BuildWithNoArgument();
    const std::wstring text = request.text;
    std::wstring lines[8];
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t end; count < 8; start = end + 1) {
        end = text.find(L'\n', start);
        lines[count++] = text.substr(start, end == std::wstring::npos ? end : end - start);
        if (end == std::wstring::npos)
            break;
    }
    CHECK(count == 6);
    CHECK(text.find(L'\r') == std::wstring::npos);
    CHECK(lines[1].empty());
    CHECK(lines[4].empty());
    CHECK(lines[2] == L"Arguments: message title");
    CHECK(lines[3] == L"Usage example: halvorn.exe \"Hello world!\" \"Important\"");
    for (std::size_t i : {0, 2, 3, 5})
        CHECK_FALSE(lines[i].empty());
    CHECK(std::wstring(request.title) == L"Halvorn");
}
