// The user's settings store opened with the toolkit's own INI reader: tests read and write
// through it to check that the updater's store and the toolkit agree on the file.
#pragma once

#include "platform/settings.h"

#include <QSettings>
#include <QString>

#include <memory>

namespace orvane::test_support {

inline std::unique_ptr<QSettings> QtSettingsStore() {
    return std::make_unique<QSettings>(QString::fromStdString(OpenSettingsStore()->FileName()),
                                       QSettings::IniFormat);
}

} // namespace orvane::test_support
