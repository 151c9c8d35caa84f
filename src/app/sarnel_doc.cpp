#include "app/sarnel_doc.h"

#include "platform/text.h"

#include <QFile>
#include <QString>

namespace orvane::app {

namespace {
QString ToQ(const std::u16string& s) {
    return QString::fromStdU16String(s);
}
} // namespace

bool CSarnelDoc::OnNewDocument() {
    DeleteContents();
    m_strPathName.clear();
    return true;
}

bool CSarnelDoc::OnOpenDocument(const std::u16string& path) {
    QFile file(ToQ(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    DeleteContents();
    Serialize(false); // reads nothing
    m_strPathName = path;
    return true;
}

bool CSarnelDoc::OnSaveDocument(const std::u16string& path) {
    QFile file(ToQ(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    Serialize(true); // writes nothing: the file stays empty
    m_strPathName = path;
    return true;
}

} // namespace orvane::app
