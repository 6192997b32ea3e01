// drive_features.cpp — each feature tried on the drive, answered in a word or two.
//
// Index
//   Answers        errno names, small files
//   Renames        RENAME_NOREPLACE, RENAME_EXCHANGE, and what a rename and a later close
//                  do to the change time
//   Links          linkat, O_TMPFILE linked in
//   Locks and ids  flock, the generation number, birth times
//   Names          case, newlines, tabs, 255 bytes
//   Modes          umask, chmod, attributes
//   Remount        inode, change time and device number once the drive is back
//   ProbeDriveFeatures / FeatureLine
#include "support/drive_features.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"
#include "support/test_drives.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Answers
// ---------------------------------------------------------------------------

std::string ErrnoName(int e) {
    const char* name = ::strerrorname_np(e);
    return name ? name : "errno " + std::to_string(e);
}

// "yes" when the call returned 0, else the name of its errno.
std::string Answer(int rc) { return rc == 0 ? "yes" : ErrnoName(errno); }

bool Plant(const std::string& path, const std::string& bytes) { return WriteWholeFile(path, bytes); }

// The change time of `path`, in nanoseconds; 0 when it cannot be read.
long long ChangeTime(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return 0;
    return (long long)st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec;
}

// Waits until the drive's clock has moved past `since` as its times show
// it: a new scratch file is made until its change time differs (some drives
// keep a file's times from its making). False when the clock never moved
// (five seconds at the most: a hang guard; FAT keeps times to two seconds).
bool DriveClockPassed(const std::string& scratch, long long since) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        ::unlink(scratch.c_str());
        if (!Plant(scratch, "tick")) return false;
        if (ChangeTime(scratch) != since) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// ---------------------------------------------------------------------------
// Renames
// ---------------------------------------------------------------------------

std::string RenameNoReplace(const std::string& dir) {
    const std::string a = dir + "/nr-a", b = dir + "/nr-b", c = dir + "/nr-c";
    if (!Plant(a, "a") || !Plant(b, "b")) return "could not write";
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0)
        return "no (wrote over an existing name)";
    if (errno != EEXIST) return ErrnoName(errno);
    return Answer(::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, c.c_str(), RENAME_NOREPLACE));
}

std::string RenameExchange(const std::string& dir) {
    const std::string a = dir + "/ex-a", b = dir + "/ex-b";
    if (!Plant(a, "a") || !Plant(b, "b")) return "could not write";
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) != 0) return ErrnoName(errno);
    return ReadWholeFile(a) == "b" && ReadWholeFile(b) == "a" ? "yes" : "no (said yes, swapped nothing)";
}

std::string CtimeOnRename(const std::string& dir) {
    const std::string a = dir + "/ct-a", b = dir + "/ct-b";
    if (!Plant(a, "a")) return "could not write";
    const long long before = ChangeTime(a);
    if (!DriveClockPassed(dir + "/ct-tick", before)) return "not known (the drive's times never moved)";
    if (::rename(a.c_str(), b.c_str()) != 0) return "rename " + ErrnoName(errno);
    return ChangeTime(b) != before ? "changes" : "kept";
}

// A file written, moved into place while still open and read at once, as
// a program reads what it just made; then closed once the drive's clock moved.
std::string CtimeAtClose(const std::string& dir) {
    const std::string a = dir + "/cc-a", b = dir + "/cc-b";
    const int fd = ::open(a.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return "could not write";
    std::string answer;
    if (::write(fd, "written", 7) != 7 || ::rename(a.c_str(), b.c_str()) != 0) answer = "could not write";
    const long long moved = ChangeTime(b);
    if (answer.empty() && !DriveClockPassed(dir + "/cc-tick", moved))
        answer = "not known (the drive's times never moved)";
    ::close(fd);
    return !answer.empty() ? answer : ChangeTime(b) != moved ? "changes" : "kept";
}

// ---------------------------------------------------------------------------
// Links
// ---------------------------------------------------------------------------

std::string HardLink(const std::string& dir) {
    const std::string a = dir + "/ln-a";
    if (!Plant(a, "a")) return "could not write";
    return Answer(::link(a.c_str(), (dir + "/ln-b").c_str()));
}

std::string TmpFile(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
    if (fd < 0) return ErrnoName(errno);
    std::string answer = ::write(fd, "t", 1) == 1 ? "" : "write " + ErrnoName(errno);
    // Linked in by its descriptor as an unprivileged program can: through /proc.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (answer.empty() &&
        ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, (dir + "/tmp-in").c_str(), AT_SYMLINK_FOLLOW) != 0)
        answer = "opens; link-in " + ErrnoName(errno);
    ::close(fd);
    return answer.empty() ? "yes" : answer;
}

// ---------------------------------------------------------------------------
// Locks and ids
// ---------------------------------------------------------------------------

std::string Flock(const std::string& dir) {
    const std::string a = dir + "/lock";
    if (!Plant(a, "")) return "could not write";
    const int one = ::open(a.c_str(), O_RDWR | O_CLOEXEC), two = ::open(a.c_str(), O_RDWR | O_CLOEXEC);
    std::string answer;
    if (::flock(one, LOCK_EX | LOCK_NB) != 0)
        answer = ErrnoName(errno);
    else if (::flock(two, LOCK_EX | LOCK_NB) == 0)
        answer = "no (a second holder got it too)";
    else
        answer = errno == EWOULDBLOCK ? "yes" : ErrnoName(errno);
    ::close(one);
    ::close(two);
    return answer;
}

std::string Generation(const std::string& dir) {
    const std::string a = dir + "/gen";
    if (!Plant(a, "g")) return "could not write";
    const int fd = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
    // The call writes a long, whatever its name says.
    long version = 0;
    const int rc = ::ioctl(fd, FS_IOC_GETVERSION, &version);
    const std::string answer = rc == 0 ? "yes" : ErrnoName(errno);
    ::close(fd);
    return answer;
}

std::string BirthTime(const std::string& dir) {
    const std::string a = dir + "/birth";
    if (!Plant(a, "b")) return "could not write";
    struct statx sx {};
    if (::statx(AT_FDCWD, a.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) != 0) return ErrnoName(errno);
    return (sx.stx_mask & STATX_BTIME) ? "yes" : "no";
}

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

std::string CaseSensitive(const std::string& dir) {
    if (!Plant(dir + "/Case Probe", "c")) return "could not write";
    return ::access((dir + "/CASE PROBE").c_str(), F_OK) == 0 ? "no" : "yes";
}

std::string OddNames(const std::string& dir) {
    const std::pair<const char*, std::string> names[] = {
        {"newline", "line\none"}, {"tab", "tab\there"}, {"255 bytes", std::string(251, 'n') + ".wav"}};
    std::string refused;
    for (const auto& [what, name] : names) {
        const std::string path = dir + "/" + name;
        if (Plant(path, "n") && ReadWholeFile(path) == "n") continue;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const std::string said = fd < 0 ? ErrnoName(errno) : "not read back";
        if (fd >= 0) ::close(fd);
        refused += (refused.empty() ? "" : ", ") + std::string(what) + " " + said;
    }
    return refused.empty() ? "yes" : refused;
}

// ---------------------------------------------------------------------------
// Modes
// ---------------------------------------------------------------------------

std::string UmaskMode(const std::string& dir) {
    const std::string a = dir + "/umask";
    const mode_t was = ::umask(002);
    const int fd = ::open(a.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    ::umask(was);
    if (fd < 0) return ErrnoName(errno);
    ::close(fd);
    struct stat st {};
    ::lstat(a.c_str(), &st);
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", unsigned(st.st_mode & 07777));
    return octal;
}

// A walk's answer: "yes" when it reached every entry, else what stopped it.
std::string Touched(const TreeTouch& t) {
    if (t.refused > 0) return ErrnoName(t.firstErrno);
    return t.changed == t.entries - t.links ? "yes" : "ignored";
}

std::string Chmod(const std::string& dir) {
    const std::string a = dir + "/modes";
    if (!Plant(a, "m")) return "could not write";
    if (::chmod(a.c_str(), 0644) != 0) return ErrnoName(errno);
    return Touched(ChmodGroupWritable(a));
}

std::string Xattrs(const std::string& dir) {
    const std::string a = dir + "/attrs";
    if (!Plant(a, "x")) return "could not write";
    return Touched(SetXattrEverywhere(a));
}

}  // namespace

// ---------------------------------------------------------------------------
// Remount
// ---------------------------------------------------------------------------

DriveFeatures ProbeDriveFeatures(TestDrive& drive) {
    DriveFeatures f;
    const std::string dir = drive.at + "/feature-probe";
    std::error_code ec;
    fs::create_directories(dir, ec);
    f.renameNoReplace = RenameNoReplace(dir);
    f.renameExchange = RenameExchange(dir);
    f.hardLink = HardLink(dir);
    f.tmpFile = TmpFile(dir);
    f.flock = Flock(dir);
    f.generation = Generation(dir);
    f.birthTime = BirthTime(dir);
    f.ctimeOnRename = CtimeOnRename(dir);
    f.ctimeAtClose = CtimeAtClose(dir);
    f.caseSensitive = CaseSensitive(dir);
    f.oddNames = OddNames(dir);
    f.umaskMode = UmaskMode(dir);
    f.chmod = Chmod(dir);
    f.xattrs = Xattrs(dir);

    // A file just moved into place, as a program reads it at once, and again
    // once the drive is back under another number.
    const std::string moved = dir + "/moved";
    struct stat before {}, after {};
    if (!Plant(dir + "/moving", "m") || ::rename((dir + "/moving").c_str(), moved.c_str()) != 0 ||
        ::lstat(moved.c_str(), &before) != 0) {
        f.inodeOnRemount = f.ctimeOnRemount = f.deviceOnRemount = "could not write";
    } else if (!RemountElsewhere(drive)) {
        f.inodeOnRemount = f.ctimeOnRemount = f.deviceOnRemount = "no remount (" + drive.why + ")";
    } else if (::lstat(moved.c_str(), &after) != 0) {
        f.inodeOnRemount = f.ctimeOnRemount = "lost (" + ErrnoName(errno) + ")";
        f.deviceOnRemount = "changed";
    } else {
        f.inodeOnRemount = before.st_ino == after.st_ino ? "kept" : "changed";
        const bool sameCtime =
            before.st_ctim.tv_sec == after.st_ctim.tv_sec && before.st_ctim.tv_nsec == after.st_ctim.tv_nsec;
        f.ctimeOnRemount = sameCtime ? "kept" : "changed";
        f.deviceOnRemount = before.st_dev != after.st_dev ? "changed" : "kept";
    }
    fs::remove_all(dir, ec);
    return f;
}

// ---------------------------------------------------------------------------
// FeatureLine
// ---------------------------------------------------------------------------

std::string FeatureLine(const std::string& kind, const DriveFeatures& f) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"noreplace", &f.renameNoReplace}, {"exchange", &f.renameExchange}, {"linkat", &f.hardLink},
        {"tmpfile", &f.tmpFile},           {"flock", &f.flock},             {"getversion", &f.generation},
        {"birth", &f.birthTime},           {"ctime-on-rename", &f.ctimeOnRename},
        {"ctime-at-close", &f.ctimeAtClose},
        {"case-sensitive", &f.caseSensitive}, {"odd-names", &f.oddNames}, {"umask-002", &f.umaskMode},
        {"chmod", &f.chmod},               {"xattr", &f.xattrs},            {"inode-on-remount", &f.inodeOnRemount},
        {"ctime-on-remount", &f.ctimeOnRemount}, {"device-on-remount", &f.deviceOnRemount}};
    std::string line = kind + ":";
    for (const auto& [name, value] : fields) line += std::string(" ") + name + "=" + *value;
    return line;
}
