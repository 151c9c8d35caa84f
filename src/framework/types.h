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

// Window messages the framework itself routes.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
using orvane::WM_USER;

// Dialog results and the standard button ids.
using orvane::IDCANCEL;
using orvane::IDNO;
using orvane::IDOK;
using orvane::IDYES;

// Message-box styles, as the platform layer defines them.
using orvane::MB_DEFBUTTON2;
using orvane::MB_ICONERROR;
using orvane::MB_ICONINFORMATION;
using orvane::MB_ICONWARNING;
using orvane::MB_OK;
using orvane::MB_OKCANCEL;
using orvane::MB_YESNO;

// List box and combo box results and notification codes.
constexpr int LB_ERR = -1;
constexpr int CB_ERR = -1;
constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT CBN_SELCHANGE = 1;

constexpr UINT LOWORD(WPARAM w) {
    return static_cast<UINT>(w & 0xFFFF);
}
constexpr UINT HIWORD(WPARAM w) {
    return static_cast<UINT>((w >> 16) & 0xFFFF);
}
constexpr WPARAM MAKEWPARAM(UINT low, UINT high) {
    return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}

} // namespace fw
