// Text typed on the Unix side reaches a Windows program as typed, whatever the
// caller's locale, when Wine is started the way scripts/run starts it.
#include <doctest/doctest.h>

#include <string>

#include "Driver.h"

namespace {

// The text whose UTF-8 bytes `hex` spells; "" if it spells none.
std::wstring FromUtf8Hex(const std::wstring& hex) {
    if (hex.size() % 2 != 0 || hex.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
        return L"";
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    const int size = static_cast<int>(bytes.size());
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    text.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, &text[0], size)));
    return text;
}

}  // namespace

// Started with --typed=TEXT, and the same text's UTF-8 bytes in hex as --typed-utf8=HEX,
// from an environment without any locale.
TEST_CASE("E2E, ShowsTextTypedOnUnixAsTypedWithoutALocale") {
    if (!OnWine()) {
        MESSAGE("skipped: this check needs text typed on a Unix side, passed through Wine");
        return;
    }
    const std::wstring expected = FromUtf8Hex(Option(L"typed-utf8"));
    REQUIRE_MESSAGE(!expected.empty(), "--typed-utf8 must spell the typed text's UTF-8 bytes in hex");
    const std::wstring typed = Option(L"typed");
    CHECK(typed == expected);

    Box box = Show(L"\"" + typed + L"\" \"" + typed + L"\"");
    CHECK(box.texts == std::vector<std::wstring>{expected});
    CHECK(box.title == expected);
    CHECK(Dismiss(box, Dismissal::OkButton) == 0);
}
