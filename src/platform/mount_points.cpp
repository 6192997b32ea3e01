// mount_points.cpp — the mount point of a descriptor's file system.
//
// Index
//   Unescaped        mountinfo's octal escapes (a space is "\040")
//   MountPointOf     by the device number, else by the longest mount point above the path
#include "platform/mount_points.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "platform/file_util.h"

namespace {

std::string Unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '3') {
            const int value = (text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0');
            out.push_back(char(value));
            i += 3;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

bool Below(const std::string& path, const std::string& mount) {
    if (mount == "/") return !path.empty() && path[0] == '/';
    return path.compare(0, mount.size(), mount) == 0 && (path.size() == mount.size() || path[mount.size()] == '/');
}

}  // namespace

std::string MountPointOf(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return "";
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    const std::string path = n > 0 ? std::string(target, size_t(n)) : std::string();
    std::string text;
    if (ReadFileText("/proc/self/mountinfo", 1 << 22, text) != kReadOk) return "";
    std::istringstream lines(text);
    std::string line, byDevice, byPath;
    // Fields: id, parent, major:minor, root, mount point, ...
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mount;
        if (!(fields >> id >> parent >> device >> root >> mount)) continue;
        mount = Unescaped(mount);
        unsigned major = 0, minor = 0;
        if (std::sscanf(device.c_str(), "%u:%u", &major, &minor) == 2 && makedev(major, minor) == st.st_dev &&
            (byDevice.empty() || (Below(path, mount) && mount.size() > byDevice.size())))
            byDevice = mount;
        if (!path.empty() && Below(path, mount) && mount.size() >= byPath.size()) byPath = mount;
    }
    return byDevice.empty() ? byPath : byDevice;
}
