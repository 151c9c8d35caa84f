#include "platform/settings.h"

#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>

namespace orvane {

std::string DefaultSettingsRoot(); // per system: settings_root_*.cpp

namespace {

namespace fs = std::filesystem;

std::mutex g_folderMutex;
std::string g_folderOverride; // SetSettingsFolder's folder; empty: the user's own

constexpr std::string_view kGeneral = "General";
constexpr char kHex[] = "0123456789ABCDEF";

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// A key or section name as the file holds it: "/" as "\", letters, digits and "_-." as they
// are, every other character as %XX (up to U+00FF) or %UXXXX.
std::string EscapeKey(std::string_view key) {
    std::string out;
    for (const char16_t c : FromUtf8(key)) {
        if (c == u'/') {
            out += '\\';
        } else if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                   (c >= u'0' && c <= u'9') || c == u'_' || c == u'-' || c == u'.') {
            out += static_cast<char>(c);
        } else if (c <= 0xFF) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += kHex[(c >> shift) & 0xF];
        }
    }
    return out;
}

std::string UnescapeKey(std::string_view text) {
    std::u16string units;
    std::string pending; // raw bytes, decoded as UTF-8 when an escape or the end comes
    auto flush = [&] {
        units += FromPeerText(pending);
        pending.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            pending += '/';
        } else if (c == '%' && i + 5 < text.size() && text[i + 1] == 'U' &&
                   std::all_of(text.begin() + static_cast<std::ptrdiff_t>(i) + 2,
                               text.begin() + static_cast<std::ptrdiff_t>(i) + 6, IsHex)) {
            flush();
            char16_t unit = 0;
            for (std::size_t k = i + 2; k < i + 6; ++k)
                unit = static_cast<char16_t>((unit << 4) | HexValue(text[k]));
            units += unit;
            i += 5;
        } else if (c == '%' && i + 2 < text.size() && IsHex(text[i + 1]) && IsHex(text[i + 2])) {
            flush();
            units += static_cast<char16_t>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            pending += c;
        }
    }
    flush();
    return ToUtf8(units);
}

// A value as the file holds it: quoted when it has ";", "," or "=" or starts or ends with a
// space; backslash escapes for quotes, backslashes and control characters; "@" doubled at the
// start (a single "@" starts a typed value); other text as UTF-8.
std::string EscapeValue(std::string_view value) {
    std::string out;
    bool quote = false;
    bool escapeNextIfHex = false;
    if (!value.empty() && value.front() == '@')
        out += '@';
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == ';' || c == ',' || c == '=')
            quote = true;
        if (escapeNextIfHex && IsHex(c)) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
            continue;
        }
        escapeNextIfHex = false;
        switch (c) {
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += c;
            break;
        default:
            if (u < 0x20 || u == 0x7F) {
                out += "\\x";
                out += kHex[u >> 4];
                out += kHex[u & 0xF];
                escapeNextIfHex = true;
            } else {
                out += c;
            }
        }
    }
    if (quote || (!out.empty() && (out.front() == ' ' || out.back() == ' ')))
        out = '"' + out + '"';
    return out;
}

// The text of a value: quoted parts, backslash escapes (\xHHHH is a UTF-16 unit, \ooo octal),
// a leading "@@" for "@". Commas outside quotes separate a list, which reads as the list's text
// joined again.
std::string UnescapeValue(std::string_view raw) {
    std::u16string units;
    std::string pending;
    auto flush = [&] {
        units += FromPeerText(pending);
        pending.clear();
    };
    bool inQuotes = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            inQuotes = !inQuotes;
            continue;
        }
        if (c != '\\' || i + 1 >= raw.size()) {
            pending += c;
            continue;
        }
        const char e = raw[++i];
        switch (e) {
        case 'a':
            pending += '\a';
            break;
        case 'b':
            pending += '\b';
            break;
        case 'f':
            pending += '\f';
            break;
        case 'n':
            pending += '\n';
            break;
        case 'r':
            pending += '\r';
            break;
        case 't':
            pending += '\t';
            break;
        case 'v':
            pending += '\v';
            break;
        case 'x': {
            flush();
            unsigned unit = 0;
            std::size_t k = i + 1;
            for (; k < raw.size() && k < i + 5 && IsHex(raw[k]); ++k)
                unit = (unit << 4) | static_cast<unsigned>(HexValue(raw[k]));
            units += static_cast<char16_t>(unit);
            i = k - 1;
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                flush();
                unsigned unit = 0;
                std::size_t k = i;
                for (; k < raw.size() && k < i + 3 && raw[k] >= '0' && raw[k] <= '7'; ++k)
                    unit = (unit << 3) | static_cast<unsigned>(raw[k] - '0');
                units += static_cast<char16_t>(unit);
                i = k - 1;
            } else {
                pending += e; // \" \\ \; and anything else stands for itself
            }
        }
    }
    flush();
    std::string text = ToUtf8(units);
    if (text.rfind("@@", 0) == 0)
        text.erase(0, 1);
    return text;
}

std::string Trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}

std::string SectionOf(const std::string& key) {
    const auto slash = key.rfind('/');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

bool IsAtOrBelow(std::string_view key, std::string_view prefix) {
    return key == prefix ||
           (key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0 &&
            key[prefix.size()] == '/');
}

std::string UserStoreFile() {
    std::string folder;
    {
        std::lock_guard lock(g_folderMutex);
        folder = g_folderOverride;
    }
    if (folder.empty())
        folder = DefaultSettingsRoot();
    return (fs::path(folder) / kSettingsOrganization / (std::string(kSettingsApplication) + ".ini"))
        .string();
}

} // namespace

std::vector<SettingsStore::Entry> SettingsStore::Parse(std::string_view text) {
    std::vector<Entry> entries;
    std::string section;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // A line, with backslash-newline continuations joined.
        std::string line;
        while (pos < text.size()) {
            const std::size_t end = text.find_first_of("\r\n", pos);
            const std::string_view part = text.substr(
                pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
            pos = end == std::string_view::npos ? text.size() : end + 1;
            if (end != std::string_view::npos && text[end] == '\r' && pos < text.size() &&
                text[pos] == '\n')
                ++pos;
            line += part;
            if (line.empty() || line.back() != '\\' || pos >= text.size())
                break;
            line.pop_back();
        }
        const std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
            continue;
        if (trimmed.front() == '[') {
            const auto close = trimmed.find(']');
            std::string name = Trim(std::string_view(trimmed).substr(
                1, close == std::string::npos ? std::string::npos : close - 1));
            if (name == kGeneral)
                section.clear();
            else if (name == "%General")
                section = std::string(kGeneral);
            else
                section = UnescapeKey(name);
            continue;
        }
        const auto equals = trimmed.find('=');
        if (equals == std::string::npos)
            continue; // not an entry: skipped, as the toolkit does
        const std::string name = UnescapeKey(Trim(std::string_view(trimmed).substr(0, equals)));
        if (name.empty())
            continue;
        Entry entry;
        entry.key = section.empty() ? name : section + "/" + name;
        entry.raw = Trim(std::string_view(trimmed).substr(equals + 1));
        entry.value = UnescapeValue(entry.raw);
        // A later line for the same key wins.
        const auto same = std::find_if(entries.begin(), entries.end(),
                                       [&](const Entry& e) { return e.key == entry.key; });
        if (same != entries.end())
            *same = std::move(entry);
        else
            entries.push_back(std::move(entry));
    }
    return entries;
}

std::string SettingsStore::Format(const std::vector<Entry>& entries) {
    // Sections in name order, [General] first; keys in name order within them.
    std::map<std::string, std::map<std::string, std::string>> sections;
    for (const Entry& e : entries) {
        const std::string section = SectionOf(e.key);
        const std::string name = section.empty() ? e.key : e.key.substr(section.size() + 1);
        sections[section][name] = e.raw.empty() ? EscapeValue(e.value) : e.raw;
    }
    std::string out;
    for (const auto& [section, keys] : sections) {
        if (!out.empty())
            out += '\n';
        if (section.empty())
            out += "[General]\n";
        else if (section == kGeneral)
            out += "[%General]\n";
        else
            out += "[" + EscapeKey(section) + "]\n";
        for (const auto& [name, raw] : keys)
            out += EscapeKey(name) + "=" + raw + "\n";
    }
    return out;
}

SettingsStore::SettingsStore(std::string file) : m_file(std::move(file)) {
    Load();
}

void SettingsStore::Load() {
    std::error_code ec;
    if (!fs::exists(m_file, ec)) {
        m_entries.clear();
        return;
    }
    std::ifstream in(m_file, std::ios::binary);
    std::stringstream text;
    if (!in || !(text << in.rdbuf())) {
        // An empty file reads as nothing, not as a failure.
        if (fs::file_size(m_file, ec) != 0 || ec)
            m_status = Status::AccessError;
        m_entries.clear();
        return;
    }
    m_entries = Parse(text.str());
}

bool SettingsStore::Contains(std::string_view key) const {
    return Value(key).has_value();
}

std::optional<std::string> SettingsStore::Value(std::string_view key) const {
    for (const Entry& e : m_entries) {
        if (e.key == key) {
            if (e.raw == "@Invalid()")
                return std::nullopt;
            return e.value;
        }
    }
    return std::nullopt;
}

std::string SettingsStore::Text(std::string_view key, std::string_view fallback) const {
    const auto v = Value(key);
    return v ? *v : std::string(fallback);
}

std::optional<long long> SettingsStore::Number(std::string_view key) const {
    const auto v = Value(key);
    if (!v)
        return std::nullopt;
    const std::string text = Trim(*v);
    long long n = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    const auto [end, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || end != last || first == last)
        return std::nullopt;
    return n;
}

void SettingsStore::Apply(const Change& change) {
    if (change.remove) {
        std::erase_if(m_entries, [&](const Entry& e) { return IsAtOrBelow(e.key, change.key); });
        return;
    }
    for (Entry& e : m_entries) {
        if (e.key == change.key) {
            e.value = change.value;
            e.raw.clear();
            return;
        }
    }
    m_entries.push_back({change.key, change.value, {}});
}

void SettingsStore::SetValue(std::string_view key, std::string_view value) {
    m_changes.push_back({false, std::string(key), std::string(value)});
    Apply(m_changes.back());
}

void SettingsStore::SetValue(std::string_view key, long long value) {
    SetValue(key, std::to_string(value));
}

void SettingsStore::Remove(std::string_view key) {
    m_changes.push_back({true, std::string(key), {}});
    Apply(m_changes.back());
}

bool SettingsStore::Sync() {
    m_status = Status::NoError;
    Load();
    for (const Change& change : m_changes)
        Apply(change);
    if (m_status != Status::NoError)
        return false;
    if (m_changes.empty())
        return true;
    // Written beside the file and renamed over it: a reader never sees half a file, and a
    // failed write leaves the old file whole.
    std::error_code ec;
    const fs::path target(m_file);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);
    std::random_device random;
    const fs::path temporary =
        target.string() + ".tmp-" + std::to_string(random()) + std::to_string(random());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << Format(m_entries);
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temporary, ec);
            m_status = Status::AccessError;
            return false;
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        m_status = Status::AccessError;
        return false;
    }
    m_changes.clear();
    return true;
}

std::unique_ptr<SettingsStore> OpenSettingsStore() {
    return std::make_unique<SettingsStore>(UserStoreFile());
}

std::unique_ptr<SettingsStore> OpenSettingsFile(const std::string& file) {
    return std::make_unique<SettingsStore>(file);
}

std::string SettingsFolder() {
    return fs::path(UserStoreFile()).parent_path().string();
}

void SetSettingsFolder(const std::string& folder) {
    std::lock_guard lock(g_folderMutex);
    g_folderOverride = folder;
}

} // namespace orvane
