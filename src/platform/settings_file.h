// The settings store's file as each system reads and replaces it (posix/, win32/). Only
// settings.cpp uses this; the layout of the text is settings.cpp's business.
//
// Thread contract: any thread; calls on one file from several threads or processes see whole
// files only, never half a replacement.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::detail {

// What a path leads to, compact enough to compare on every open: the file's identity (device
// and inode on POSIX), size, and modification and change times. A file written since has
// another stamp, except when it was written within one tick of the file system's clock of the
// time in the stamp and kept its size: so a stamp says "unchanged" only for a file that was
// settled (last modified a while before it was read).
struct FileStamp {
    bool exists = false;
    std::array<long long, 7> parts{};
    bool operator==(const FileStamp&) const = default;
};

// How long after its last modification a file counts as settled: longer than the coarsest
// clock of a file system the store may be on.
constexpr int kSettledSeconds = 2;

// The stamp of the file the path leads to now (through links); exists is false when there is
// none or it cannot be looked at.
FileStamp StampOfFile(const std::string& path);

struct FileText {
    enum class Outcome {
        Read,     // text holds the whole file
        Missing,  // no such file
        TooLarge, // more than the limit: not read
        NotAFile, // a folder, a FIFO, a device: not read (a FIFO would block the read for ever)
        Failed,   // could not be opened or read
    };
    Outcome outcome = Outcome::Failed;
    std::string text;
    unsigned long long size = 0; // the file's size, for messages
    FileStamp stamp;             // of the file read
    bool settled = false;        // last modified kSettledSeconds or more before it was read
};

// Ends a read of `got` bytes into result.text (which has room for limit + 1): too large when
// the file held more than the limit by the time it was read, else the text is what was read.
inline FileText FinishRead(FileText result, std::size_t got, std::size_t limit) {
    if (got > limit) {
        result.text.clear();
        result.size = got;
        result.outcome = FileText::Outcome::TooLarge;
        return result;
    }
    result.text.resize(got);
    result.text.shrink_to_fit();
    result.outcome = FileText::Outcome::Read;
    return result;
}

// Reads a regular file of at most `limit` bytes. Never blocks on what is not a regular file,
// and never reads more than limit + 1 bytes, whatever the file claims or grows to meanwhile.
FileText ReadSettingsFile(const std::string& path, std::size_t limit);

// Replaces the file's text in one step: the new text is written to a file beside it and
// renamed over it, so a reader never sees half a file and a failed write leaves the old file
// whole. A link is written through: the file it leads to is replaced and the link stays. The
// new file keeps the old one's permissions; a new file gets the usual ones of the system.
// The new file's stamp; nothing when the text did not reach the file.
std::optional<FileStamp> ReplaceSettingsFile(const std::string& path, std::string_view text);

} // namespace orvane::detail
