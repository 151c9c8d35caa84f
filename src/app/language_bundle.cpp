#include "app/language_bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QResource>

namespace orvane::app {

CLanguageBundle::~CLanguageBundle() {
    Free();
}

bool CLanguageBundle::Load(const QStringList& folders) {
    Free();
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QStringLiteral("%1.rcc").arg(kBundleName));
        if (!QFileInfo(path).isFile())
            continue;
        if (!QResource::registerResource(path, QString::fromLatin1(kBundleRoot)))
            continue; // unreadable or not a resource file: try the next place
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QStringLiteral(":%1/translations/orvane_zh_CN.qm").arg(kBundleRoot)))
            QCoreApplication::installTranslator(translator.get());
        m_translator = std::move(translator);
        m_path = path;
        return true;
    }
    return false;
}

void CLanguageBundle::Free() {
    if (m_path.isEmpty())
        return;
    if (m_translator)
        QCoreApplication::removeTranslator(m_translator.get());
    m_translator.reset();
    m_unpacked.clear();
    QResource::unregisterResource(m_path, QString::fromLatin1(kBundleRoot));
    m_path.clear();
}

std::optional<firmware::ResourceBytes>
CLanguageBundle::FindResource(std::uint16_t id, std::u16string_view type) const {
    if (m_path.isEmpty())
        return std::nullopt;
    const QString path =
        QStringLiteral(":%1/firmware/%2/%3")
            .arg(QString::fromLatin1(kBundleRoot),
                 QString::fromUtf16(type.data(), static_cast<qsizetype>(type.size())))
            .arg(id);
    QResource resource(path);
    if (!resource.isValid() || resource.size() == 0)
        return std::nullopt;
    if (resource.compressionAlgorithm() == QResource::NoCompression)
        return firmware::ResourceBytes{resource.data(),
                                       static_cast<std::uint32_t>(resource.size())};
    auto it = m_unpacked.find(path);
    if (it == m_unpacked.end())
        it = m_unpacked.emplace(path, resource.uncompressedData()).first;
    return firmware::ResourceBytes{reinterpret_cast<const std::uint8_t*>(it->second.constData()),
                                   static_cast<std::uint32_t>(it->second.size())};
}

} // namespace orvane::app
