#include "platform/settings.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>

namespace orvane {

std::unique_ptr<QSettings> OpenSettingsStore() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QString::fromUtf8(kSettingsOrganization),
                                       QString::fromUtf8(kSettingsApplication));
}

std::unique_ptr<QSettings> OpenSettingsFile(const std::string& file) {
    return std::make_unique<QSettings>(QString::fromStdString(file), QSettings::IniFormat);
}

std::string SettingsFolder() {
    return QFileInfo(OpenSettingsStore()->fileName()).absolutePath().toStdString();
}

void SetSettingsFolder(const std::string& folder) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(folder));
}

} // namespace orvane
