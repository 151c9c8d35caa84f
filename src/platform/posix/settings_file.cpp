#include "platform/settings_file.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace orvane::detail {

namespace {

namespace fs = std::filesystem;

// As many links as the system itself follows before it gives up (ELOOP).
constexpr int kMaxLinks = 40;

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.exists = true;
    stamp.parts = {
        static_cast<long long>(st.st_dev),          static_cast<long long>(st.st_ino),
        static_cast<long long>(st.st_size),         static_cast<long long>(st.st_mtim.tv_sec),
        static_cast<long long>(st.st_mtim.tv_nsec), static_cast<long long>(st.st_ctim.tv_sec),
        static_cast<long long>(st.st_ctim.tv_nsec)};
    return stamp;
}

// The file a path leads to through its links: what a write through the path must replace.
// Empty when the links go round or cannot be read.
std::string LinkTarget(const std::string& path) {
    fs::path target(path);
    for (int links = 0;; ++links) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return target.string(); // a file, or none yet: a link to nothing makes its file
        if (links == kMaxLinks)
            return {};
        std::error_code ec;
        const fs::path next = fs::read_symlink(target, ec);
        if (ec)
            return {};
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue; // a signal's handler only records it; the write of a local file goes on
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

FileStamp StampOfFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return StampOf(st);
}

FileText ReadSettingsFile(const std::string& path, std::size_t limit) {
    FileText result;
    // Looked at before it is opened: opening a FIFO waits for a writer, and opening a device
    // may do something to it.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result.outcome = errno == ENOENT || errno == ENOTDIR ? FileText::Outcome::Missing
                                                             : FileText::Outcome::Failed;
        return result;
    }
    result.size = static_cast<unsigned long long>(st.st_size);
    if (!S_ISREG(st.st_mode)) {
        result.outcome = FileText::Outcome::NotAFile;
        return result;
    }
    if (result.size > limit) {
        result.outcome = FileText::Outcome::TooLarge;
        return result;
    }
    // Without blocking, in case something else took the file's place since.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.outcome = errno == ENOENT ? FileText::Outcome::Missing : FileText::Outcome::Failed;
        return result;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        result.outcome = FileText::Outcome::NotAFile;
        return result;
    }
    result.stamp = StampOf(st);
    result.size = static_cast<unsigned long long>(st.st_size);
    struct timespec now {};
    result.settled = ::clock_gettime(CLOCK_REALTIME, &now) == 0 &&
                     now.tv_sec - st.st_mtim.tv_sec > kSettledSeconds;
    // One byte more than the limit tells a file that grew past it since.
    result.text.resize(limit + 1);
    std::size_t got = 0;
    while (got < result.text.size()) {
        const ssize_t n = ::read(fd, result.text.data() + got, result.text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            result.text.clear();
            result.outcome = FileText::Outcome::Failed;
            return result;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return FinishRead(std::move(result), got, limit);
}

std::optional<FileStamp> ReplaceSettingsFile(const std::string& path, std::string_view text) {
    const std::string target = LinkTarget(path);
    if (target.empty())
        return std::nullopt;
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode))
        return std::nullopt;
    std::random_device random;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 10; ++attempt) {
        temporary = target + ".tmp-" + std::to_string(random()) + std::to_string(random());
        // 0666 less the umask: the permissions a new file gets from any program.
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return std::nullopt;
    }
    if (fd < 0)
        return std::nullopt;
    bool written = true;
    if (existed) {
        // The file stays the user's as it was: an administrator's run does not take it over,
        // and a private file (0600) stays private.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)!::fchown(fd, old.st_uid, old.st_gid);
        written = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    written = written && WriteAll(fd, text);
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return std::nullopt;
    }
    // Stamped after the rename, which changes the file's change time on some file systems.
    struct stat now {};
    const FileStamp stamp = ::fstat(fd, &now) == 0 ? StampOf(now) : FileStamp{};
    ::close(fd);
    return stamp;
}

} // namespace orvane::detail
