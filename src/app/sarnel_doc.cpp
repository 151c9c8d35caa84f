#include "app/sarnel_doc.h"

#include "platform/text.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace orvane::app {

namespace {
// A folder opens as a stream on some systems; it is never a document.
bool IsFolder(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}
} // namespace

bool CSarnelDoc::OnNewDocument() {
    DeleteContents();
    m_strPathName.clear();
    return true;
}

bool CSarnelDoc::OnOpenDocument(const std::u16string& path) {
    const std::filesystem::path file(path);
    if (IsFolder(file) || !std::ifstream(file, std::ios::binary).is_open())
        return false;
    DeleteContents();
    Serialize(false); // reads nothing
    m_strPathName = path;
    return true;
}

bool CSarnelDoc::OnSaveDocument(const std::u16string& path) {
    const std::filesystem::path file(path);
    if (IsFolder(file) || !std::ofstream(file, std::ios::binary | std::ios::trunc).is_open())
        return false;
    Serialize(true); // writes nothing: the file stays empty
    m_strPathName = path;
    return true;
}

} // namespace orvane::app
