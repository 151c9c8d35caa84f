// The language bundle "OrvaneUpdateChs": the Chinese translation of the resource texts, and
// optionally pictures and firmware resources of its own. On Linux it is a Qt resource file
// (OrvaneUpdateChs.rcc); on Windows the resource library OrvaneUpdateChs.dll, whose RCDATA
// "TRANSLATIONS" holds the texts and whose resources by type and number the firmware. Both are
// made from res/translations/orvane_zh_CN.ts. Loaded once at start-up when the language value asks
// for it; while loaded its translation is installed and its resources are looked up before the
// updater's own.
//
// Layout inside the Qt bundle (below its root ":/OrvaneUpdateChs"):
//   translations/orvane_zh_CN.qm   the translation
//   pictures/<name>                pictures (for instance bitmap153.png for the about box)
//   firmware/<TYPE>/<id>           firmware resources by type name and id
//
// Thread contract: user-interface thread. FindResource may be called from the thread that
// runs the update (the same one).
#pragma once

#include "firmware/images.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::app {

inline constexpr const char* kBundleName = "OrvaneUpdateChs";
inline constexpr const char* kBundleRoot = "/OrvaneUpdateChs";

class CLanguageBundle final : public firmware::IResourceModule {
public:
    CLanguageBundle();
    ~CLanguageBundle() override;
    CLanguageBundle(const CLanguageBundle&) = delete;
    CLanguageBundle& operator=(const CLanguageBundle&) = delete;

    // Looks for the bundle (OrvaneUpdateChs.rcc, or .dll on Windows) in the folders in order and
    // loads the first found; false (and nothing loaded) when none is there or it cannot be read.
    bool Load(const std::vector<std::string>& folders);
    void Free();
    bool IsLoaded() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    // The bundle's translation of a resource text; the text itself when it has none or nothing
    // is loaded. (The Qt bundle also installs its translation for the whole program.)
    std::u16string Translate(std::u16string_view text) const;

    std::optional<firmware::ResourceBytes> FindResource(std::uint16_t id,
                                                        std::u16string_view type) const override;

    struct Impl; // the toolkit's side: the installed translation, unpacked resources

private:
    std::string m_path;
    std::unique_ptr<Impl> m_impl;
};

} // namespace orvane::app
