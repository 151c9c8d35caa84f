// The updater's own resources: the main window's menu, toolbar and accelerators, the dialog
// templates of the update form, the port setup dialog and the about box, and the string
// resources the application reads. English; a language bundle translates their texts.
//
// Thread contract: constant data built on first use; user-interface thread.
#pragma once

#include "framework/resources.h"

#include <string>
#include <vector>

namespace orvane::app {

// Translation context of every resource text (the .ts file uses the same).
inline constexpr const char* kResourceContext = "Resources";

// String 57344: the application name. It names the profile key and captions the boxes.
inline constexpr char16_t kAppName[] = u"Orvane Update";
// The profile's registry key name.
inline constexpr char16_t kRegistryKey[] = u"Selvane Works";

// Document template string 128, seven fields separated by "\n".
inline constexpr char16_t kDocTemplateString[] =
    u"OrvaneUpdate\n\nOrvaneUpdate\n\n\nOrvaneUpdate.Document\nOrvaneUpdate Document";
enum class DocString {
    WindowTitle,
    DocName,
    FileNewName,
    FilterName,
    FilterExt,
    RegFileTypeId,
    RegFileTypeName
};
// One field of a document template string; empty when the string has fewer fields.
std::u16string GetDocString(std::u16string_view templateString, DocString field);

// The form's panel below the progress bar, for the build's own firmware (the resource text)...
inline constexpr char16_t kBuiltInFirmwareText[] =
    u"Marvek ARM Receiver firmware\r\nSupport Receiver:\r\n VID_EZ4I0 \r\n\r\nRelease Date:   "
    u"2017-05-25";
// ...and for a firmware package, its release name and date filled in ("%s"), or its release
// name alone when the package gives no date.
inline constexpr char16_t kPackageFirmwareText[] =
    u"Marvek ARM Receiver firmware\r\nRelease:\r\n %s \r\n\r\nRelease Date:   %s";
inline constexpr char16_t kUndatedPackageFirmwareText[] =
    u"Marvek ARM Receiver firmware\r\nRelease:\r\n %s ";

const fw::FrameResources& MainFrameResources();
const std::vector<fw::DialogTemplate>& DialogTemplates();

// Where the compiled-in pictures live: a Qt resource folder in the Qt window; the Win32 window
// finds its pictures among the program's own resources by name (see framework/win32).
inline constexpr const char* kOwnPictures = ":/orvane/icons";

} // namespace orvane::app
