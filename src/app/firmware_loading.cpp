#include "app/firmware_loading.h"

#include "platform/settings.h"

#include <QCoreApplication>
#include <QDir>

#ifndef ORVANE_DATA_DIR
#define ORVANE_DATA_DIR ""
#endif

namespace orvane::app {

std::vector<std::string> TrustedKeyFolders() {
    std::vector<std::string> folders;
    if (QCoreApplication::instance()) {
        const QDir programDir(QCoreApplication::applicationDirPath());
        folders.push_back(
            QDir::cleanPath(programDir.filePath(QStringLiteral("../share/orvane-update/keys")))
                .toStdString());
    }
    if (const QString data = QStringLiteral(ORVANE_DATA_DIR); !data.isEmpty()) {
        const std::string installed = QDir(data).filePath(QStringLiteral("keys")).toStdString();
        if (folders.empty() || folders.front() != installed)
            folders.push_back(installed);
    }
    folders.push_back(QDir(QString::fromStdString(SettingsFolder()))
                          .filePath(QStringLiteral("keys"))
                          .toStdString());
    return folders;
}

firmware::TrustedKeys LoadTrustedKeys(const std::vector<std::string>& keyFiles) {
    firmware::TrustedKeys trusted;
    for (const std::string& folder : TrustedKeyFolders())
        firmware::AddKeyFolder(folder, trusted);
    for (const std::string& file : keyFiles)
        firmware::AddKeyFile(file, trusted);
    return trusted;
}

firmware::PackageResult LoadFirmwarePackage(const std::string& path,
                                            const std::vector<std::string>& keyFiles) {
    return firmware::LoadPackage(path, LoadTrustedKeys(keyFiles));
}

} // namespace orvane::app
