// Window messages and the message-box service: the stand-ins for PostMessageW and MessageBoxW
// that every layer may use without knowing which back end (Qt window or headless) runs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace orvane {

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_USER = 0x0400;

// Message-box styles and results, with the values the system's texts were written for.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;

// Something that accepts posted messages.
//
// Thread contract: PostMessageW may be called from any thread; the message is handled later,
// on the user-interface thread, after every message posted before it by the same thread.
class IMessageTarget {
public:
    virtual ~IMessageTarget() = default;
    virtual bool PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

class IMessageTarget;

// A modal message box. The caption is the application's title when empty. Called on the
// user-interface thread; returns when the operator has closed the box (IDOK). While the
// box is open the back end keeps dispatching window messages.
using MessageBoxHandler = std::function<int(IMessageTarget* owner, std::u16string_view text,
                                            std::u16string_view caption, unsigned style)>;

int MessageBoxW(IMessageTarget* owner, std::u16string_view text, std::u16string_view caption,
                unsigned style);

// Installs the back end's handler; returns the previous one. Without a handler the box is
// written to standard error and answered with IDOK at once.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace orvane
