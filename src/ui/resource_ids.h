// Command, control, template and resource identifiers shared by the windows, the menus and
// the toolbar.
#pragma once

#include "framework/types.h"

namespace orvane::ui {

constexpr fw::UINT ID_LINK = 32771;
constexpr fw::UINT ID_BREAK_CONNECTION = 32772;
constexpr fw::UINT ID_SETUP = 32805;
constexpr fw::UINT ID_UPDATE = 32818;
constexpr fw::UINT ID_EXIT = 32822;
// Our own addition: load a firmware package.
constexpr fw::UINT ID_LOAD_FIRMWARE = 32830;
constexpr fw::UINT ID_LANGUAGE_ENGLISH = 32820;
constexpr fw::UINT ID_LANGUAGE_CHINESE = 32821;
constexpr fw::UINT ID_APP_ABOUT = 57664;
constexpr fw::UINT ID_FILE_NEW = 57600;
constexpr fw::UINT ID_FILE_OPEN = 57601;
constexpr fw::UINT ID_FILE_SAVE = 57603;
constexpr fw::UINT ID_FILE_SAVE_AS = 57604;
constexpr fw::UINT ID_FILE_PRINT_SETUP = 57606;

constexpr fw::UINT IDD_UPDATE_FORM = 101;
constexpr fw::UINT IDD_LINK_SETUP = 134;
constexpr fw::UINT IDD_ABOUTBOX = 100;
constexpr int IDC_LIST = 1019;
constexpr int IDC_PROGRESS = 1042;
constexpr int IDC_COMBO_PORT = 1013;
constexpr int IDC_PORT_DETAILS =
    1014; // below the port list: the chosen device's path, product, serial
constexpr int IDC_ABOUT_FIRMWARE = 1060; // the about box's line naming the firmware
constexpr int IDC_FIRMWARE_TEXT = 1061;  // the form's panel below the bar: the firmware sent

using orvane::WM_SERIAL_RECEIVED;

} // namespace orvane::ui
