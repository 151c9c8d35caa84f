#include <windows.h>

#include "app/language_bundle.h"
#include "app/sarnel_app.h"
#include "app/start_language.h"
#include "framework/translation_table.h"
#include "platform/console.h"
#include "platform/text.h"

#include <filesystem>
#include <span>

// The Win32 window's language bundle: the resource library "OrvaneUpdateChs.dll", made at build
// time from the same translation file as the Linux bundle. It is mapped as a data file, never
// run: it holds resources only, and a library found on disk should not get to execute code in
// an updater that writes into receivers. Its RCDATA "TRANSLATIONS" is the text table; firmware
// resources it carries are found by their type and number, as in the program itself.

namespace orvane::app {

struct CLanguageBundle::Impl {
    HMODULE module = nullptr;
    fw::TranslationTable texts;
};

namespace {

// RT_RCDATA, whatever the character set this file is compiled for.
const wchar_t* const kRcData = MAKEINTRESOURCEW(10);

const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The bytes of one resource of the library, or an empty span when it has none.
std::span<const std::uint8_t> ResourceBytesOf(HMODULE module, const wchar_t* name,
                                              const wchar_t* type) {
    HRSRC found = FindResourceW(module, name, type);
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    const DWORD size = SizeofResource(module, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data || size == 0)
        return {};
    return {static_cast<const std::uint8_t*>(data), size};
}

} // namespace

CLanguageBundle::CLanguageBundle() = default;

CLanguageBundle::~CLanguageBundle() {
    Free();
}

bool CLanguageBundle::Load(const std::vector<std::string>& folders) {
    Free();
    for (const std::string& folder : folders) {
        const std::u16string path =
            (std::filesystem::path(PathFromUtf8(folder)) / (std::string(kBundleName) + ".dll"))
                .u16string();
        if (GetFileAttributesW(W(path)) == INVALID_FILE_ATTRIBUTES)
            continue;
        // Not a library, another machine's, or unreadable: try the next place, quietly.
        HMODULE module = LoadLibraryExW(W(path), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (!module)
            continue;
        m_impl = std::make_unique<Impl>();
        m_impl->module = module;
        m_impl->texts =
            fw::TranslationTable::Parse(ResourceBytesOf(module, L"TRANSLATIONS", kRcData));
        m_path = ToUtf8(path);
        return true;
    }
    return false;
}

void CLanguageBundle::Free() {
    if (m_impl && m_impl->module)
        FreeLibrary(m_impl->module);
    m_impl.reset();
    m_path.clear();
}

std::u16string CLanguageBundle::Translate(std::u16string_view text) const {
    return m_impl ? m_impl->texts.Translate(text) : std::u16string(text);
}

std::optional<firmware::ResourceBytes>
CLanguageBundle::FindResource(std::uint16_t id, std::u16string_view type) const {
    if (!m_impl || type.empty())
        return std::nullopt;
    const std::u16string typeName(type);
    const auto bytes = ResourceBytesOf(m_impl->module, MAKEINTRESOURCEW(id), W(typeName));
    if (bytes.empty())
        return std::nullopt;
    return firmware::ResourceBytes{bytes.data(), static_cast<std::uint32_t>(bytes.size())};
}

// The window's texts come from the loaded bundle from now on. The bundle outlives the back end
// (the application object declares it first); once freed it hands the texts back unchanged.
void UseBundleTexts(UiBackend& backend, const CLanguageBundle& bundle) {
    backend.SetTranslator([&bundle](std::u16string_view text) { return bundle.Translate(text); });
}

// The language of the user's interface (the one Windows shows its own texts in), in any of its
// regional forms.
bool SystemLanguageIsChinese() {
    return IsChineseLanguageId(GetUserDefaultUILanguage());
}

} // namespace orvane::app
