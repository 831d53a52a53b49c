#include "MessageRequest.h"

namespace {

constexpr wchar_t DefaultText[] =
    L"No arguments were given.\n"
    L"\n"
    L"Arguments: message title\n"
    L"Usage example: halvorn.exe \"Hello world!\" \"Important\"\n"
    L"\n"
    L"Unicode is supported!";

constexpr wchar_t DefaultTitle[] = L"Halvorn";

}  // namespace

MessageRequest BuildMessageRequest(const ArgumentVector& arguments) noexcept {
    MessageRequest request{nullptr, DefaultText, DefaultTitle, MessageStyle};
    // Any argument replaces both built-in texts: the program's own title is
    // never put over a message it did not write.
    if (arguments.count > 1) {
        request.text = arguments.entries[1];
        request.title = arguments.count > 2 ? arguments.entries[2] : nullptr;
    }
    return request;
}
