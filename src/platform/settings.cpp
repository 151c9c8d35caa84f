#include "platform/settings.h"

#include "platform/settings_file.h"
#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <utility>

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

// True for text that no escape or decoding changes: ASCII without these characters.
bool IsPlain(std::string_view text, std::string_view special) {
    return std::all_of(text.begin(), text.end(), [&](char c) {
        return static_cast<unsigned char>(c) < 0x80 && special.find(c) == std::string_view::npos;
    });
}

std::string UnescapeKey(std::string_view text) {
    if (IsPlain(text, "\\%"))
        return std::string(text);
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
    if (IsPlain(raw, "\"\\") && raw.rfind("@@", 0) != 0)
        return std::string(raw);
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

std::string UserStoreFile() {
    std::string folder;
    {
        std::lock_guard lock(g_folderMutex);
        folder = g_folderOverride;
    }
    if (folder.empty())
        folder = DefaultSettingsRoot();
    return PathToUtf8(PathFromUtf8(folder) / kSettingsOrganization /
                      (std::string(kSettingsApplication) + ".ini"));
}

using Entries = SettingsStore::Entries;

// The entries of a file's text, a later line for the same key winning. False, with the entries
// read so far, once the keys written out in full take more than kMaxSettingsKeyBytes.
bool ParseInto(std::string_view text, Entries& entries) {
    std::string section;
    std::size_t keyBytes = 0;
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
        keyBytes += section.size() + 1 + name.size();
        if (keyBytes > kMaxSettingsKeyBytes)
            return false;
        SettingsStore::Held& held = entries[section.empty() ? name : section + "/" + name];
        held.raw = Trim(std::string_view(trimmed).substr(equals + 1));
        held.value = UnescapeValue(held.raw);
    }
    return true;
}

std::string FormatEntries(const Entries& entries) {
    // Sections in name order, [General] first; keys in name order within them.
    std::map<std::string, std::map<std::string, std::string>> sections;
    for (const auto& [key, held] : entries) {
        const std::string section = SectionOf(key);
        const std::string name = section.empty() ? key : key.substr(section.size() + 1);
        sections[section][name] = held.raw.empty() ? EscapeValue(held.value) : held.raw;
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

// What this process read of each file, by the file's name as the stores were given it.
struct LoadedFile {
    detail::FileStamp stamp; // of the file read; a file with another stamp is read again
    bool settled = false;    // the stamp alone tells that the file is unchanged
    bool parsed = false;     // else its text does: what was read or written
    std::string text;
    SettingsStore::Status status = SettingsStore::Status::NoError;
    std::shared_ptr<const Entries> entries;
};

// What a store starts from.
struct Opened {
    SettingsStore::Status status = SettingsStore::Status::NoError;
    std::shared_ptr<const Entries> entries;
};

std::mutex g_loadedMutex;
std::map<std::string, LoadedFile, std::less<>> g_loaded;
std::set<std::string, std::less<>> g_told; // refused files whose notice was given

const std::shared_ptr<const Entries>& NoEntries() {
    static const std::shared_ptr<const Entries> none = std::make_shared<const Entries>();
    return none;
}

std::string RefusalNotice(const std::string& file, const detail::FileText& read) {
    std::string why;
    std::string remedy = "made smaller or moved away";
    switch (read.outcome) {
    case detail::FileText::Outcome::TooLarge:
        why = FormatAnsi("it is %llu bytes, more than the %zu (1 MiB) a settings file may have",
                         read.size, kMaxSettingsFileBytes);
        break;
    case detail::FileText::Outcome::NotAFile:
        why = "it is not a regular file";
        remedy = "moved away";
        break;
    default:
        why = FormatAnsi("its keys, each written out with its section's name, take more than "
                         "%zu bytes",
                         kMaxSettingsKeyBytes);
        break;
    }
    return "warning: the settings file " + file + " is ignored: " + why +
           ". It is left as it is; the updater runs with its default settings and stores no "
           "settings (port numbers, language, the last package) until the file is " +
           remedy + ".";
}

// The file's entries: what this process read of it before while the file is still the same
// one, else the file read now, and parsed only when its text changed. `fresh` always reads. A
// refusal that is news comes in `notice`.
Opened LoadFile(const std::string& file, bool fresh, std::string& notice) {
    const detail::FileStamp now = detail::StampOfFile(file);
    std::lock_guard lock(g_loadedMutex);
    const auto known = g_loaded.find(file);
    if (!fresh && now.exists && known != g_loaded.end() && known->second.settled &&
        known->second.stamp == now)
        return {known->second.status, known->second.entries};
    LoadedFile before;
    if (known != g_loaded.end()) {
        before = std::move(known->second);
        g_loaded.erase(known);
    }

    detail::FileText read = detail::ReadSettingsFile(file, kMaxSettingsFileBytes);
    LoadedFile loaded;
    loaded.entries = NoEntries();
    switch (read.outcome) {
    case detail::FileText::Outcome::Missing:
        return {SettingsStore::Status::NoError, loaded.entries};
    case detail::FileText::Outcome::Failed:
        return {SettingsStore::Status::AccessError, loaded.entries};
    case detail::FileText::Outcome::Read:
        loaded.stamp = read.stamp;
        loaded.settled = read.settled;
        loaded.parsed = true;
        if (before.parsed && before.text == read.text) {
            loaded.status = before.status;
            loaded.entries = std::move(before.entries);
        } else if (auto entries = std::make_shared<Entries>(); ParseInto(read.text, *entries)) {
            loaded.entries = std::move(entries);
        } else {
            // A refusal may trust the stamp alone: missing a change within the same tick only
            // refuses the file a little longer, it never writes over it.
            loaded.status = SettingsStore::Status::Refused;
            loaded.settled = true;
        }
        loaded.text = std::move(read.text);
        break;
    case detail::FileText::Outcome::TooLarge:
    case detail::FileText::Outcome::NotAFile:
        loaded.stamp = now;
        loaded.settled = now.exists;
        loaded.status = SettingsStore::Status::Refused;
        break;
    }
    // A refusal is told once, however often the file is opened, until the file is read.
    if (loaded.status != SettingsStore::Status::Refused)
        g_told.erase(file);
    else if (g_told.insert(file).second)
        notice = RefusalNotice(file, read);
    Opened opened{loaded.status, loaded.entries};
    g_loaded[file] = std::move(loaded);
    return opened;
}

// A write of this process: the next store of the file starts from it without parsing it.
void Remember(const std::string& file, const detail::FileStamp& stamp, std::string text,
              std::shared_ptr<const Entries> entries) {
    std::lock_guard lock(g_loadedMutex);
    g_loaded[file] = {
        stamp, false, true, std::move(text), SettingsStore::Status::NoError, std::move(entries)};
}

} // namespace

std::vector<SettingsStore::Entry> SettingsStore::Parse(std::string_view text) {
    Entries entries;
    ParseInto(text, entries);
    std::vector<Entry> out;
    out.reserve(entries.size());
    for (auto& [key, held] : entries)
        out.push_back({key, std::move(held.value), std::move(held.raw)});
    return out;
}

std::string SettingsStore::Format(const std::vector<Entry>& entries) {
    Entries held;
    for (const Entry& e : entries)
        held[e.key] = {e.value, e.raw};
    return FormatEntries(held);
}

SettingsStore::SettingsStore(std::string file) : m_file(std::move(file)) {
    Load(false);
}

void SettingsStore::Load(bool fresh) {
    std::string notice;
    Opened loaded = LoadFile(m_file, fresh, notice);
    if (!notice.empty())
        std::fprintf(stderr, "%s\n", notice.c_str());
    m_status = loaded.status;
    m_entries = std::move(loaded.entries);
    m_own.reset();
}

SettingsStore::Entries& SettingsStore::Writable() {
    if (!m_own) {
        m_own = std::make_shared<Entries>(*m_entries);
        m_entries = m_own;
    }
    return *m_own;
}

bool SettingsStore::Contains(std::string_view key) const {
    return Value(key).has_value();
}

std::optional<std::string> SettingsStore::Value(std::string_view key) const {
    const auto found = m_entries->find(key);
    if (found == m_entries->end() || found->second.raw == "@Invalid()")
        return std::nullopt;
    return found->second.value;
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
    Entries& entries = Writable();
    if (!change.remove) {
        entries[change.key] = {change.value, {}};
        return;
    }
    // The key itself, then the keys below it, which sort together after "key/".
    entries.erase(change.key);
    const std::string below = change.key + "/";
    for (auto it = entries.lower_bound(below);
         it != entries.end() && it->first.compare(0, below.size(), below) == 0;)
        it = entries.erase(it);
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
    // A write reads the file itself, not what this process read of it before, so that it
    // never lays its changes over an older file than the one it replaces.
    Load(!m_changes.empty());
    for (const Change& change : m_changes)
        Apply(change);
    if (m_status != Status::NoError)
        return false;
    if (m_changes.empty())
        return true;
    std::error_code ec;
    const fs::path target = PathFromUtf8(m_file);
    if (target.has_parent_path())
        fs::create_directories(target.parent_path(), ec);
    std::string text = FormatEntries(*m_entries);
    // A file too large to be read again is not written: the old one stays as it was.
    const auto stamp = text.size() <= kMaxSettingsFileBytes
                           ? detail::ReplaceSettingsFile(m_file, text)
                           : std::nullopt;
    if (!stamp) {
        m_status = Status::AccessError;
        return false;
    }
    m_own.reset(); // shared from now on: a later change copies
    Remember(m_file, *stamp, std::move(text), m_entries);
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
    return PathToUtf8(PathFromUtf8(UserStoreFile()).parent_path());
}

void SetSettingsFolder(const std::string& folder) {
    std::lock_guard lock(g_folderMutex);
    g_folderOverride = folder;
}

} // namespace orvane
