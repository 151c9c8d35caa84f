// Basic types and constants of the framework layer.
//
// The system's window classes were written against the Windows application framework; the
// names and values here are the ones that code expects, so it reads unchanged.
//
// Thread contract: constants and plain types only; nothing here has state.
#pragma once

#include "platform/message.h"

#include <cstdint>

namespace fw {

using orvane::LPARAM;
using orvane::LRESULT;
using orvane::UINT;
using orvane::WPARAM;
using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;

// A window handle. Handles are never reused within a process, so a message posted to a
// window that has since been destroyed can never reach a newer window by accident.
using HWND = std::uint64_t;

// Where <windows.h> came first, the names it defines as macros below are its own, with the
// same values; the #ifndef guards keep this header compiling after it.

// Window messages the framework itself routes.
#ifndef WM_DESTROY
constexpr UINT WM_DESTROY = 0x0002;
#endif
#ifndef WM_CLOSE
constexpr UINT WM_CLOSE = 0x0010;
#endif
#ifndef WM_QUIT
constexpr UINT WM_QUIT = 0x0012;
#endif
#ifndef WM_COMMAND
constexpr UINT WM_COMMAND = 0x0111;
#endif
#ifndef WM_TIMER
constexpr UINT WM_TIMER = 0x0113;
#endif
#ifndef WM_USER
using orvane::WM_USER;
#endif

// Dialog results and the standard button ids.
#ifndef IDCANCEL
using orvane::IDCANCEL;
#endif
#ifndef IDNO
using orvane::IDNO;
#endif
#ifndef IDOK
using orvane::IDOK;
#endif
#ifndef IDYES
using orvane::IDYES;
#endif

// Message-box styles, as the platform layer defines them.
#ifndef MB_DEFBUTTON2
using orvane::MB_DEFBUTTON2;
#endif
#ifndef MB_ICONERROR
using orvane::MB_ICONERROR;
#endif
#ifndef MB_ICONINFORMATION
using orvane::MB_ICONINFORMATION;
#endif
#ifndef MB_ICONWARNING
using orvane::MB_ICONWARNING;
#endif
#ifndef MB_OK
using orvane::MB_OK;
#endif
#ifndef MB_OKCANCEL
using orvane::MB_OKCANCEL;
#endif
#ifndef MB_YESNO
using orvane::MB_YESNO;
#endif

// List box and combo box results and notification codes.
#ifndef LB_ERR
constexpr int LB_ERR = -1;
#endif
#ifndef CB_ERR
constexpr int CB_ERR = -1;
#endif
#ifndef LBN_SELCHANGE
constexpr UINT LBN_SELCHANGE = 1;
#endif
#ifndef CBN_SELCHANGE
constexpr UINT CBN_SELCHANGE = 1;
#endif

#ifndef LOWORD
constexpr UINT LOWORD(WPARAM w) {
    return static_cast<UINT>(w & 0xFFFF);
}
#endif
#ifndef HIWORD
constexpr UINT HIWORD(WPARAM w) {
    return static_cast<UINT>((w >> 16) & 0xFFFF);
}
#endif
#ifndef MAKEWPARAM
constexpr WPARAM MAKEWPARAM(UINT low, UINT high) {
    return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}
#endif

} // namespace fw
