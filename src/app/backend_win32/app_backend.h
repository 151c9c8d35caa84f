// The window back end of the desktop updater on this system: native Win32 windows. CMake puts
// this folder on the include path of the Windows build only.
//
// Thread contract: see framework/win32/backend.h.
#pragma once

#include "app/language_bundle.h"
#include "framework/win32/backend.h"

namespace orvane::app {
using UiBackend = fw::win32ui::Backend;

// The window's texts come from the loaded bundle from now on. The bundle outlives the back end
// (the application object declares it first); once freed it hands the texts back unchanged.
inline void UseBundleTexts(UiBackend& backend, const CLanguageBundle& bundle) {
    backend.SetTranslator([&bundle](std::u16string_view text) { return bundle.Translate(text); });
}
} // namespace orvane::app
