// The document: the framework's document/view structure needs one, but the updater keeps no
// data in it. New prepares it afresh, Open reads nothing from the chosen file, Save writes a
// file with no content (asking for a name when the document has none).
//
// Thread contract: user-interface thread only.
#pragma once

#include <string>

namespace orvane::app {

class CSarnelDoc {
public:
    CSarnelDoc() = default;
    virtual ~CSarnelDoc() = default;

    // Prepares a new, empty document: contents cleared, no file name.
    virtual bool OnNewDocument();
    // Clears the contents; there are none.
    virtual void DeleteContents() {}
    // The store-or-load operation: neither writes nor reads, in either direction.
    virtual void Serialize(bool /*bStoring*/) {}

    // The chosen file becomes the document; false when it cannot be opened for reading.
    bool OnOpenDocument(const std::u16string& path);
    // Creates (or empties) the file; false when it cannot be written.
    bool OnSaveDocument(const std::u16string& path);

    const std::u16string& GetPathName() const { return m_strPathName; }
    void SetPathName(std::u16string path) { m_strPathName = std::move(path); }
    // The title a new document takes: the template's name for a new file.
    const std::u16string& GetTitle() const { return m_strTitle; }
    void SetTitle(std::u16string title) { m_strTitle = std::move(title); }

private:
    std::u16string m_strPathName;
    std::u16string m_strTitle;
};

} // namespace orvane::app
