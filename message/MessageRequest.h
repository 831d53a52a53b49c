// What Halvorn shows: the one message box, decided from the split command line.
#pragma once

#include <cstdint>

// The command line as the platform splits it: entry 0 is the program's path,
// entries 1 and up are the arguments, each a zero-terminated UTF-16 string.
struct ArgumentVector {
    std::int32_t count;
    wchar_t** entries;
};

struct MessageRequest {
    void* owner;  // a window handle, held opaquely so that no platform header is needed here; always null
    const wchar_t* text;   // never null
    const wchar_t* title;  // null: the platform's own default title
    std::uint32_t style;
};

// The box's style in the platform's message-box encoding. It is here, not
// beside the texts, only so that entry/ can check it against the platform's
// own header at compile time; the program takes it from the request.
// clang-format off
inline constexpr std::uint32_t MessageStyle = 0x00000000   // MB_OK: one push button, OK
                                            | 0x00000040   // MB_ICONINFORMATION
                                            | 0x00001000   // MB_SYSTEMMODAL
                                            | 0x00010000   // MB_SETFOREGROUND
                                            | 0x00040000;  // MB_TOPMOST
// clang-format on

// Message first, title second. The request refers into the vector (or to the
// built-in texts) and is valid only while the vector is alive.
MessageRequest BuildMessageRequest(const ArgumentVector& arguments) noexcept;
