#include "platform/open_failure.h"

#include "platform/device_holder.h"
#include "platform/port_directory.h"
#include "platform/serial_device.h"
#include "platform/serial_ports.h"

#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace orvane {

namespace {

std::string ModeText(unsigned mode) {
    std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : "-";
    const unsigned bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                             S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    const char letters[] = "rwxrwxrwx";
    for (std::size_t i = 0; i < 9; ++i)
        text += (mode & bits[i]) ? letters[i] : '-';
    return text;
}

std::string UserName(uid_t uid) {
    if (const passwd* p = ::getpwuid(uid))
        return p->pw_name;
    return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid))
        return g->gr_name;
    return std::to_string(gid);
}

// Whether the group database lists the user in the group, and whether this process has it.
void GroupMembership(gid_t gid, bool& listed, bool& inSession) {
    listed = false;
    inSession = ::getegid() == gid;
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        const int got = ::getgroups(count, groups.data());
        if (got > 0)
            inSession = inSession || std::find(groups.begin(), groups.begin() + got, gid) !=
                                         groups.begin() + got;
    }
    const passwd* user = ::getpwuid(::getuid());
    if (!user)
        return;
    int n = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &n) < 0 && n > 0) {
        groups.resize(static_cast<std::size_t>(n));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &n) < 0)
            return;
    }
    groups.resize(static_cast<std::size_t>(std::max(n, 0)));
    listed = std::find(groups.begin(), groups.end(), gid) != groups.end();
}

// Whether another program holds the line is told from the process table, which takes a few
// descriptors to read: with none left, neither that nor the open itself can be done.
std::string OutOfFiles(const std::string& path, int error) {
    std::string limit;
    if (rlimit r{}; ::getrlimit(RLIMIT_NOFILE, &r) == 0 && r.rlim_cur != RLIM_INFINITY)
        limit = ", now " + std::to_string(r.rlim_cur);
    return "cannot tell whether " + path +
           " is in use by another program: this program may "
           "open no more files (" +
           ErrorText(error) +
           "). Raise the limit of open files (ulimit "
           "-n" +
           limit + ") to 64 or more";
}

std::string NotSerial(const std::string& path, unsigned mode) {
    const char* what = S_ISREG(mode)    ? "a regular file"
                       : S_ISFIFO(mode) ? "a pipe"
                       : S_ISDIR(mode)  ? "a folder"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISCHR(mode)  ? "a character device that is no terminal"
                                        : "no terminal";
    return path + " is not a serial device (it is " + what + ")";
}

} // namespace

std::string PermissionAdvice(const PermissionFacts& f) {
    const std::string head = "permission denied on " + f.path + " (" + ModeText(f.mode) +
                             ", owner " + f.owner + ", group " + f.group + ")";
    const bool groupMayUse = (f.mode & S_IRGRP) != 0 && (f.mode & S_IWGRP) != 0;
    if (groupMayUse && !f.groupIsRoot) {
        const std::string& g = f.group;
        if (f.userInGroup && !f.sessionHasGroup)
            return head + ": you are in the group '" + g +
                   "', but this login began before you joined it: log out and in again (or "
                   "start a shell with 'newgrp " +
                   g + "')";
        if (f.userInGroup)
            return head + ": you are in the group '" + g +
                   "', so something else refuses (an access control list or a security "
                   "module): ask the machine's administrator";
        return head + ": join the group '" + g + "' (sudo usermod -aG " + g +
               " $USER) and log in again";
    }
    return head + ": only " + f.owner + " may open it; its group '" + f.group + "' " +
           (f.groupIsRoot ? "is the administrators' own" : "may not read and write it") +
           ". A udev rule can give the device to the group 'dialout' (see \"A real receiver\" "
           "in the README)";
}

std::string DescribeDeviceOpenFailure(const std::string& path, int error) {
    if (path.empty())
        return "no serial device was named";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int e = errno;
        if (e == ENOENT || e == ENOTDIR)
            return "no such device: " + path + " is not present (is the adapter plugged in?)";
        return path + " cannot be opened: " + ErrorText(e);
    }
    if (!S_ISCHR(st.st_mode) || error == ENOTTY || !IsTerminalDevice(path))
        return NotSerial(path, st.st_mode);
    if (error == EACCES || error == EPERM ||
        (error == 0 && ::access(path.c_str(), R_OK | W_OK) != 0 && errno == EACCES)) {
        PermissionFacts facts;
        facts.path = path;
        facts.mode = st.st_mode;
        facts.owner = UserName(st.st_uid);
        facts.group = GroupName(st.st_gid);
        facts.groupIsRoot = st.st_gid == 0;
        GroupMembership(st.st_gid, facts.userInGroup, facts.sessionHasGroup);
        return PermissionAdvice(facts);
    }
    if (error == EMFILE || error == ENFILE)
        return OutOfFiles(path, error);
    const HolderCheck check = CheckDeviceHolder(path);
    if (check.holder)
        return path + " is in use by another program: " + check.holder->Describe();
    if (check.error != 0)
        return OutOfFiles(path, check.error);
    if (error == EBUSY)
        return path + " is in use by another program (which one, the system does not say)";
    if (error != 0)
        return path + " cannot be opened: " + ErrorText(error);
    return path + " cannot be opened";
}

std::string DescribeOpenFailure(int port) {
    const std::string path = DevicePathForPort(port);
    if (path.empty())
        return "no such device: no serial device present is known as COM" + std::to_string(port);
    return DescribeDeviceOpenFailure(path);
}

} // namespace orvane
