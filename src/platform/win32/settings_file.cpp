#include "platform/settings_file.h"
#include "platform/text.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <utility>

// Windows keeps the updater's settings in the registry; this file only backs a store that a
// test or a portable installation opens by name. Paths are made from UTF-8 names through
// UTF-16: a plain std::string would be read in the ANSI code page.

namespace orvane::detail {

namespace {

namespace fs = std::filesystem;

FileStamp StampOf(const fs::path& path, std::error_code& ec) {
    FileStamp stamp;
    const auto size = fs::file_size(path, ec);
    if (ec)
        return stamp;
    const auto written = fs::last_write_time(path, ec);
    if (ec)
        return stamp;
    stamp.exists = true;
    stamp.parts = {static_cast<long long>(size),
                   static_cast<long long>(written.time_since_epoch().count())};
    return stamp;
}

} // namespace

FileStamp StampOfFile(const std::string& path) {
    std::error_code ec;
    return StampOf(PathFromUtf8(path), ec);
}

FileText ReadSettingsFile(const std::string& path, std::size_t limit) {
    FileText result;
    const fs::path file = PathFromUtf8(path);
    std::error_code ec;
    const fs::file_status status = fs::status(file, ec);
    if (!fs::exists(status)) {
        result.outcome = ec && ec != std::errc::no_such_file_or_directory
                             ? FileText::Outcome::Failed
                             : FileText::Outcome::Missing;
        return result;
    }
    if (!fs::is_regular_file(status)) {
        result.outcome = FileText::Outcome::NotAFile;
        return result;
    }
    result.stamp = StampOf(file, ec);
    result.size = static_cast<unsigned long long>(result.stamp.parts[0]);
    if (ec) {
        result.outcome = FileText::Outcome::Failed;
        return result;
    }
    if (result.size > limit) {
        result.outcome = FileText::Outcome::TooLarge;
        return result;
    }
    const auto written = fs::last_write_time(file, ec);
    result.settled =
        !ec && fs::file_time_type::clock::now() - written > std::chrono::seconds(kSettledSeconds);
    std::ifstream in(file, std::ios::binary);
    result.text.resize(limit + 1);
    in.read(result.text.data(), static_cast<std::streamsize>(result.text.size()));
    if (in.bad() || (!in && !in.eof())) {
        result.text.clear();
        result.outcome = FileText::Outcome::Failed;
        return result;
    }
    return FinishRead(std::move(result), static_cast<std::size_t>(in.gcount()), limit);
}

std::optional<FileStamp> ReplaceSettingsFile(const std::string& path, std::string_view text) {
    const fs::path target = PathFromUtf8(path);
    std::error_code ec;
    if (fs::exists(target, ec) && !fs::is_regular_file(target, ec))
        return std::nullopt;
    std::random_device random;
    fs::path temporary = target;
    temporary += ".tmp-" + std::to_string(random()) + std::to_string(random());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temporary, ec);
            return std::nullopt;
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return std::nullopt;
    }
    return StampOf(target, ec);
}

} // namespace orvane::detail
