// desktop_open.cpp — the file manager over D-Bus, else xdg-open.
//
// Index
//   FileUri
//   RevealInExplorer
//   WinMainOpenCallback
#include "platform/desktop_open.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <vector>

#include "platform/child_process.h"
#include "platform/dialogs.h"

namespace {

std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

std::string ParentFolder(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string FileUri(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (char c : path) {
        unsigned char u = static_cast<unsigned char>(c);
        bool plain = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' ||
                     u == '.' || u == '_' || u == '~' || u == '/';
        if (plain) {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[u >> 4];
            uri += kHex[u & 15];
        }
    }
    return uri;
}

void RevealInExplorer(const std::string& path) {
    if (path.empty()) return;
    const std::string absolute = Absolute(path);
    // dbus-send splits array items at commas; the address has none left
    // unencoded.
    std::vector<std::string> args = {"dbus-send",
                                     "--session",
                                     "--print-reply",
                                     "--reply-timeout=2000",
                                     "--dest=org.freedesktop.FileManager1",
                                     "/org/freedesktop/FileManager1",
                                     "org.freedesktop.FileManager1.ShowItems",
                                     "array:string:" + FileUri(absolute),
                                     "string:"};
    ProcessWait wait;
    wait.pump = CurrentDialogHost().pump;
    wait.timeoutMs = 3000;
    ProcessResult r = RunProcess(args, wait);
    // A slow file manager that is still starting will show the file.
    if (r.timedOut || (r.started && r.exitCode == 0)) return;
    if (!SpawnDetachedProcess({"xdg-open", ParentFolder(absolute)})) {
        std::printf("[UI] cannot reveal %s: xdg-open could not be started\n", path.c_str());
        std::fflush(stdout);
    }
}

void WinMainOpenCallback(const std::string& target) {
    if (target.empty()) return;
    // A relative name that begins with "-" would read as an option.
    std::string argument = target[0] == '-' ? "./" + target : target;
    if (!SpawnDetachedProcess({"xdg-open", argument})) {
        std::printf("[UI] cannot open %s: xdg-open could not be started\n", target.c_str());
        std::fflush(stdout);
    }
}
