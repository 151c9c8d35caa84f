// The language bundle "OrvaneUpdateChs": a Qt resource file (OrvaneUpdateChs.rcc) holding the
// Chinese translation of the resource texts, and optionally pictures and firmware resources
// of its own. Loaded once at start-up when the language value asks for it; while loaded its
// translation is installed and its resources are looked up before the updater's own.
//
// Layout inside the bundle (below its root ":/OrvaneUpdateChs"):
//   translations/orvane_zh_CN.qm   the translation
//   pictures/<name>                pictures (for instance bitmap153.png for the about box)
//   firmware/<TYPE>/<id>           firmware resources by type name and id
//
// Thread contract: user-interface thread. FindResource may be called from the thread that
// runs the update (the same one).
#pragma once

#include "firmware/images.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTranslator>

#include <map>
#include <memory>
#include <string>

namespace orvane::app {

inline constexpr const char* kBundleName = "OrvaneUpdateChs";
inline constexpr const char* kBundleRoot = "/OrvaneUpdateChs";

class CLanguageBundle final : public firmware::IResourceModule {
public:
    CLanguageBundle() = default;
    ~CLanguageBundle() override;
    CLanguageBundle(const CLanguageBundle&) = delete;
    CLanguageBundle& operator=(const CLanguageBundle&) = delete;

    // Looks for OrvaneUpdateChs.rcc in the folders in order and loads the first found; false
    // (and nothing loaded) when none is there or it cannot be read.
    bool Load(const QStringList& folders);
    void Free();
    bool IsLoaded() const { return !m_path.isEmpty(); }
    const QString& Path() const { return m_path; }

    std::optional<firmware::ResourceBytes> FindResource(std::uint16_t id,
                                                        std::u16string_view type) const override;

private:
    QString m_path;
    std::unique_ptr<QTranslator> m_translator;
    mutable std::map<QString, QByteArray> m_unpacked; // compressed resources, unpacked once
};

} // namespace orvane::app
