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

#ifndef WM_USER
constexpr UINT WM_USER = 0x0400;
#endif

// Posted by the serial reader to the main window when bytes wait in the receive ring (1031).
constexpr UINT WM_SERIAL_RECEIVED = WM_USER + 7;

// Message-box styles and results, with the values the system's texts were written for. Where
// <windows.h> came first they are its own macros, with the same values.
#ifndef MB_OK
constexpr unsigned MB_OK = 0x00;
#endif
#ifndef MB_OKCANCEL
constexpr unsigned MB_OKCANCEL = 0x01;
#endif
#ifndef MB_YESNO
constexpr unsigned MB_YESNO = 0x04;
#endif
#ifndef MB_TYPEMASK
constexpr unsigned MB_TYPEMASK = 0x0F;
#endif
#ifndef MB_ICONERROR
constexpr unsigned MB_ICONERROR = 0x10;
#endif
#ifndef MB_ICONWARNING
constexpr unsigned MB_ICONWARNING = 0x30;
#endif
#ifndef MB_ICONINFORMATION
constexpr unsigned MB_ICONINFORMATION = 0x40;
#endif
#ifndef MB_ICONMASK
constexpr unsigned MB_ICONMASK = 0xF0;
#endif
#ifndef MB_DEFBUTTON2
constexpr unsigned MB_DEFBUTTON2 = 0x100; // the second button is the default
#endif
#ifndef IDOK
constexpr int IDOK = 1;
#endif
#ifndef IDCANCEL
constexpr int IDCANCEL = 2;
#endif
#ifndef IDYES
constexpr int IDYES = 6;
#endif
#ifndef IDNO
constexpr int IDNO = 7;
#endif

// The answer that changes nothing: OK for a notice, Cancel or No for a question.
constexpr int CautiousAnswer(unsigned style) {
    switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return IDCANCEL;
    case MB_YESNO:
        return IDNO;
    default:
        return IDOK;
    }
}

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
// user-interface thread; returns the button the operator chose (IDOK for a notice). While the
// box is open the back end keeps dispatching window messages.
using MessageBoxHandler = std::function<int(IMessageTarget* owner, std::u16string_view text,
                                            std::u16string_view caption, unsigned style)>;

// Shows a box through the installed handler, one box of a kind at a time. The kind is the
// caption and the style: every "update complete" notice is one kind, every error of the update
// another, every question a third. Because a box keeps dispatching messages, a reply that
// arrives while it is open may ask for the same box again (a flood of unknown identifiers, a
// burst of acknowledgements after the end); such a request is answered at once with the
// cautious answer and not shown, so boxes never nest deeper than the number of kinds.
// User-interface thread only.
int MessageBoxW(IMessageTarget* owner, std::u16string_view text, std::u16string_view caption,
                unsigned style);

// How many boxes are open now (nested in each other's modal loops), and how many requests
// were answered without a box because one of their kind was open. User-interface thread.
int OpenMessageBoxCount();
std::uint64_t SuppressedMessageBoxCount();

// Installs the back end's handler; returns the previous one. Without a handler the box is
// written to standard error (control characters escaped) and answered at once: OK for a
// notice, the cautious answer for a question.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace orvane
