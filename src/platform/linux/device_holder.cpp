#include "platform/device_holder.h"

#include "platform/serial_ports.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace orvane {

namespace {

// Unix98 pseudo-terminal slaves have these major numbers, 256 lines each.
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;

struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// Out of descriptors: what could not be read then says nothing about the device.
bool OutOfFiles(int error) {
    return error == EMFILE || error == ENFILE;
}

std::string ReadSmallFile(const std::string& path, std::size_t limit = 4096, int* error = nullptr) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return {};
    }
    std::string text(limit, '\0');
    const ssize_t n = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

std::string ReadLink(const std::string& path) {
    std::array<char, 4096> buffer{};
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size() - 1);
    return n > 0 ? std::string(buffer.data(), static_cast<std::size_t>(n)) : std::string();
}

// The kernel keeps only the first 15 bytes of a program's name ("orvane-update-c"); the first
// word of its command line, when it begins with them, gives the whole name.
constexpr std::size_t kKeptNameBytes = 15;

std::string ProcessName(long pid) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::string name = ReadSmallFile(base + "/comm", 256);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
        name.pop_back();
    if (name.size() == kKeptNameBytes) {
        std::string program = ReadSmallFile(base + "/cmdline");
        program.resize(std::min(program.size(), program.find('\0')));
        program.erase(0, program.rfind('/') + 1);
        if (program.size() > name.size() && program.compare(0, name.size(), name) == 0)
            name = program;
    }
    return name.empty() ? std::string("another program") : name;
}

// The pseudo-terminal a master descriptor drives, from its fdinfo ("tty-index:\t3"); -1 if
// the kernel does not say, -2 if it could not be asked.
long PtyIndexOfMaster(const std::string& fdinfo) {
    int error = 0;
    const std::string text = ReadSmallFile(fdinfo, 4096, &error);
    if (OutOfFiles(error))
        return -2;
    const auto at = text.find("tty-index:");
    if (at == std::string::npos)
        return -1;
    return std::strtol(text.c_str() + at + 10, nullptr, 10);
}

bool IsAlive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// A UUCP lock file holds the owner's pid as text (or, from very old programs, as a binary
// int of four bytes).
long PidFromLockFile(const std::string& path) {
    const std::string text = ReadSmallFile(path, 64);
    if (text.size() == sizeof(int) && (text[0] < '0' || text[0] > '9') && text[0] != ' ') {
        int pid = 0;
        std::memcpy(&pid, text.data(), sizeof pid);
        return pid;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

struct Wanted {
    dev_t rdev = 0;
    long ptyIndex = -1; // the pseudo-terminal's number when the device is one's slave side
};

} // namespace

std::string DeviceHolder::Describe() const {
    return name + " (pid " + std::to_string(pid) + ")";
}

namespace {

std::vector<HolderCheck> CheckDeviceHolders(const std::vector<std::string>& paths) {
    std::vector<HolderCheck> result(paths.size());
    std::vector<std::optional<Wanted>> wanted(paths.size());
    bool any = false;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        struct stat st {};
        if (paths[i].empty() || ::stat(paths[i].c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
            continue;
        Wanted w;
        w.rdev = st.st_rdev;
        const unsigned maj = major(st.st_rdev);
        if (maj >= kPtySlaveFirstMajor && maj <= kPtySlaveLastMajor)
            w.ptyIndex = static_cast<long>(maj - kPtySlaveFirstMajor) * 256 +
                         static_cast<long>(minor(st.st_rdev));
        wanted[i] = w;
        any = true;
    }
    if (!any)
        return result;

    int scanError = 0; // set when a process could not be looked at for want of descriptors
    const long self = static_cast<long>(::getpid());
    Dir proc{::opendir("/proc")};
    if (!proc && OutOfFiles(errno))
        scanError = errno;
    if (proc) {
        while (const dirent* e = ::readdir(proc.get())) {
            const std::string_view pidText = e->d_name;
            if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos)
                continue;
            const long pid = std::strtol(e->d_name, nullptr, 10);
            if (pid == self)
                continue;
            const std::string base = "/proc/" + std::string(pidText);
            Dir fds{::opendir((base + "/fd").c_str())};
            if (!fds) {
                if (OutOfFiles(errno))
                    scanError = errno;
                continue; // gone, or another user's process
            }
            std::set<long> masters;
            std::vector<std::size_t> hits;
            while (const dirent* f = ::readdir(fds.get())) {
                if (f->d_name[0] == '.')
                    continue;
                const std::string fdPath = base + "/fd/" + f->d_name;
                const std::string target = ReadLink(fdPath);
                if (target.rfind("/dev/", 0) != 0)
                    continue;
                if (target == "/dev/ptmx" || target == "/dev/pts/ptmx") {
                    masters.insert(PtyIndexOfMaster(base + "/fdinfo/" + f->d_name));
                    continue;
                }
                struct stat st {};
                if (::stat(fdPath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
                    continue;
                for (std::size_t i = 0; i < wanted.size(); ++i) {
                    if (wanted[i] && wanted[i]->rdev == st.st_rdev)
                        hits.push_back(i);
                }
            }
            for (const std::size_t i : hits) {
                if (result[i].holder)
                    continue;
                // Both ends in one process: the line's own far end.
                if (wanted[i]->ptyIndex >= 0 && masters.count(wanted[i]->ptyIndex) != 0)
                    continue;
                // A master whose line could not be asked may be this one's far end.
                if (wanted[i]->ptyIndex >= 0 && masters.count(-2) != 0) {
                    scanError = EMFILE;
                    continue;
                }
                result[i].holder = DeviceHolder{ProcessName(pid), pid};
            }
        }
    }

    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (result[i].holder || !wanted[i])
            continue;
        const std::string resolved = ResolvedPath(paths[i]);
        const std::string name = resolved.substr(resolved.rfind('/') + 1);
        for (const char* folder : {"/run/lock/", "/var/lock/"}) {
            const long pid = PidFromLockFile(folder + std::string("LCK..") + name);
            if (pid != self && IsAlive(pid)) {
                result[i].holder = DeviceHolder{ProcessName(pid), pid};
                break;
            }
        }
        if (!result[i].holder)
            result[i].error = scanError;
    }
    return result;
}

} // namespace

std::vector<std::optional<DeviceHolder>> FindDeviceHolders(const std::vector<std::string>& paths) {
    std::vector<std::optional<DeviceHolder>> holders;
    for (HolderCheck& check : CheckDeviceHolders(paths))
        holders.push_back(std::move(check.holder));
    return holders;
}

HolderCheck CheckDeviceHolder(const std::string& path) {
    return CheckDeviceHolders({path}).front();
}

std::optional<DeviceHolder> FindDeviceHolder(const std::string& path) {
    return CheckDeviceHolder(path).holder;
}

} // namespace orvane
