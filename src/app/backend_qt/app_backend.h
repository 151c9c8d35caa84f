// The window back end of the desktop updater on this system: Qt 6 Widgets. CMake puts this
// folder on the include path of the Qt build only.
//
// Thread contract: see framework/qt/backend.h.
#pragma once

#include "app/language_bundle.h"
#include "framework/qt/backend.h"

namespace orvane::app {
using UiBackend = fw::qtui::Backend;

// Nothing to do: the bundle installed its translation for the whole program when it loaded,
// and the back end translates through Qt.
inline void UseBundleTexts(UiBackend&, const CLanguageBundle&) {}
} // namespace orvane::app
