#include "app/language_bundle.h"
#include "app/resources.h"
#include "app/sarnel_app.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QResource>
#include <QTranslator>

#include <map>

namespace orvane::app {

struct CLanguageBundle::Impl {
    std::unique_ptr<QTranslator> translator;
    std::map<QString, QByteArray> unpacked; // compressed resources, unpacked once
};

CLanguageBundle::CLanguageBundle() = default;

CLanguageBundle::~CLanguageBundle() {
    Free();
}

bool CLanguageBundle::Load(const std::vector<std::string>& folderNames) {
    Free();
    for (const std::string& name : folderNames) {
        const QString folder = QString::fromStdString(name);
        const QString path = QDir(folder).filePath(QStringLiteral("%1.rcc").arg(kBundleName));
        if (!QFileInfo(path).isFile())
            continue;
        if (!QResource::registerResource(path, QString::fromLatin1(kBundleRoot)))
            continue; // unreadable or not a resource file: try the next place
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QStringLiteral(":%1/translations/orvane_zh_CN.qm").arg(kBundleRoot)))
            QCoreApplication::installTranslator(translator.get());
        m_impl = std::make_unique<Impl>();
        m_impl->translator = std::move(translator);
        m_path = path.toStdString();
        return true;
    }
    return false;
}

void CLanguageBundle::Free() {
    if (m_path.empty())
        return;
    if (m_impl && m_impl->translator)
        QCoreApplication::removeTranslator(m_impl->translator.get());
    m_impl.reset();
    QResource::unregisterResource(QString::fromStdString(m_path), QString::fromLatin1(kBundleRoot));
    m_path.clear();
}

std::u16string CLanguageBundle::Translate(std::u16string_view text) const {
    if (!m_impl || !m_impl->translator)
        return std::u16string(text);
    const QString source = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    const QString translated =
        m_impl->translator->translate(kResourceContext, source.toUtf8().constData());
    return translated.isEmpty() ? std::u16string(text) : translated.toStdU16String();
}

std::optional<firmware::ResourceBytes>
CLanguageBundle::FindResource(std::uint16_t id, std::u16string_view type) const {
    if (m_path.empty() || !m_impl)
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
    auto it = m_impl->unpacked.find(path);
    if (it == m_impl->unpacked.end())
        it = m_impl->unpacked.emplace(path, resource.uncompressedData()).first;
    return firmware::ResourceBytes{reinterpret_cast<const std::uint8_t*>(it->second.constData()),
                                   static_cast<std::uint32_t>(it->second.size())};
}

// Nothing to do: the bundle installed its translation for the whole program when it loaded,
// and the back end translates through Qt.
void UseBundleTexts(UiBackend&, const CLanguageBundle&) {}

// The locale's language (LC_ALL, LC_MESSAGES, LANG, LANGUAGE, as Qt reads them).
bool SystemLanguageIsChinese() {
    return QLocale::system().language() == QLocale::Chinese;
}

} // namespace orvane::app
