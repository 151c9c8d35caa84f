#include "platform/open_failure.h"

#include "platform/port_directory.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {

std::string ReadLink(const std::string& path) {
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

std::string ProcessName(const std::string& pid) {
    char buf[256] = {};
    const int fd = ::open(("/proc/" + pid + "/comm").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    std::string name = n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    return name;
}

// The first other process that holds the device open, as "name (pid N)", or "".
std::string FindHolder(const std::string& path) {
    char real[PATH_MAX];
    if (!::realpath(path.c_str(), real))
        return {};
    const std::string target = real;
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return {};
    std::string holder;
    while (dirent* e = ::readdir(proc)) {
        const std::string pid = e->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        const std::string fdDir = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (dirent* f = ::readdir(fds)) {
            if (f->d_name[0] != '.' && ReadLink(fdDir + "/" + f->d_name) == target) {
                holder = ProcessName(pid) + " (pid " + pid + ")";
                break;
            }
        }
        ::closedir(fds);
        if (!holder.empty())
            break;
    }
    ::closedir(proc);
    return holder;
}

std::string GroupOf(const struct stat& st) {
    if (const group* g = ::getgrgid(st.st_gid))
        return g->gr_name;
    return std::to_string(st.st_gid);
}

} // namespace

std::string DescribeDeviceOpenFailure(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "no such device: " + path + " is not present (is the adapter plugged in?)";
    if (::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES) {
        return "permission denied on " + path + ": join the group '" + GroupOf(st) +
               "' (sudo usermod -aG " + GroupOf(st) + " $USER) and log in again";
    }
    const std::string holder = FindHolder(path);
    if (!holder.empty())
        return path + " is in use by another program: " + holder;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == EBUSY)
            return path + " is in use by another program";
        return path + " cannot be opened: " + std::strerror(err);
    }
    ::close(fd);
    return path + " is in use by another program";
}

std::string DescribeOpenFailure(int port) {
    const std::string path = DevicePathForPort(port);
    if (path.empty())
        return "no such device: no serial device is known as COM" + std::to_string(port);
    return DescribeDeviceOpenFailure(path);
}

} // namespace orvane
