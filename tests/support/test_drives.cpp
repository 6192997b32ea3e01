// test_drives.cpp — drives made, mounted, remounted, filled and touched for tests.
//
// Index
//   Recipes           how each kind is made and mounted, and what it needs
//   Tools             programs found by name, and the sentence when one is missing
//   Loop devices      an image attached to a free loop device, and detached
//   Mounting          the kernel's mounts and the FUSE drivers held in the foreground
//   TestDrive         made, mounted and unmounted
//   RemountElsewhere  the same image under another device number
//   Fill              writes until the drive is full, and their removal
//   Tree walks        chmod g+w and an attribute on every entry
//   Colleagues        other ids, taken in a forked child
#include "support/test_drives.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "support/child_process.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Recipes
// ---------------------------------------------------------------------------

enum class Mounting { Tmpfs, KernelLoop, FuseLoop, FuseImage };

// A program the rig runs, and the Debian package that brings it.
struct Tool {
    const char* name;
    const char* package;
};

struct Recipe {
    const char* kind;
    const char* fileSystem;  // the kernel's name for it, as /proc/filesystems lists it
    Mounting how;
    const char* size;        // of the sparse image: each kind's smallest working size, or near it
    std::vector<std::string> make;    // the image's path is appended
    Tool maker;
    std::vector<std::string> driver;  // FUSE, in the foreground; device (or image) and folder appended
    Tool driverTool;
    int fullError = ENOSPC;  // what a write to the full drive fails with
};

const std::vector<Recipe>& Recipes() {
    static const std::vector<Recipe> recipes = {
        {"ext4", "ext4", Mounting::KernelLoop, "64M", {"mkfs.ext4", "-q", "-F"}, {"mkfs.ext4", "e2fsprogs"}, {}, {}},
        // 128-byte inodes have no room for birth times.
        {"ext2", "ext2", Mounting::KernelLoop, "64M", {"mkfs.ext2", "-q", "-F", "-I", "128"},
         {"mkfs.ext2", "e2fsprogs"}, {}, {}},
        // mkfs.xfs refuses anything under 300 MB.
        {"xfs", "xfs", Mounting::KernelLoop, "320M", {"mkfs.xfs", "-q", "-f"}, {"mkfs.xfs", "xfsprogs"}, {}, {}},
        // mkfs.btrfs refuses anything under some 110 MB.
        {"btrfs", "btrfs", Mounting::KernelLoop, "128M", {"mkfs.btrfs", "-q", "-f"},
         {"mkfs.btrfs", "btrfs-progs"}, {}, {}},
        {"tmpfs", "tmpfs", Mounting::Tmpfs, "64m", {}, {}, {}, {}},
        // A block device, as a plugged-in drive is: ntfs-3g then mounts a "fuseblk".
        {"ntfs", "fuseblk", Mounting::FuseLoop, "64M", {"mkntfs", "-q", "-F", "-f"}, {"mkntfs", "ntfs-3g"},
         {"ntfs-3g", "-o", "no_detach"}, {"ntfs-3g", "ntfs-3g"}},
        // FAT32 needs some 65,000 clusters: 40 MB of 512-byte ones. allow_other
        // lets colleagues (other ids) in, as the other FUSE drivers do when root mounts.
        {"fat32", "fuse", Mounting::FuseImage, "40M", {"mkfs.vfat", "-F", "32"}, {"mkfs.vfat", "dosfstools"},
         {"fusefat", "-f", "-o", "rw+,allow_other"}, {"fusefat", "fusefat"}, EPERM},
        // exfat-fuse stays in the foreground only with its debug output (to the log).
        {"exfat", "fuseblk", Mounting::FuseLoop, "32M", {"mkfs.exfat"}, {"mkfs.exfat", "exfatprogs"},
         {"mount.exfat-fuse", "-d"}, {"mount.exfat-fuse", "exfat-fuse"}},
        {"vfat", "vfat", Mounting::KernelLoop, "40M", {"mkfs.vfat", "-F", "32"}, {"mkfs.vfat", "dosfstools"}, {}, {}},
        {"exfat-kernel", "exfat", Mounting::KernelLoop, "32M", {"mkfs.exfat"}, {"mkfs.exfat", "exfatprogs"}, {}, {}},
    };
    return recipes;
}

const Recipe* RecipeOf(const std::string& kind) {
    for (const Recipe& r : Recipes())
        if (kind == r.kind) return &r;
    return nullptr;
}

bool NeedsLoop(const Recipe& r) { return r.how == Mounting::KernelLoop || r.how == Mounting::FuseLoop; }
bool IsFuse(const Recipe& r) { return r.how == Mounting::FuseLoop || r.how == Mounting::FuseImage; }

// ---------------------------------------------------------------------------
// Tools
// ---------------------------------------------------------------------------

// The program's full path: PATH first, then the system folders a user's PATH
// may lack (mkfs and losetup live in sbin). "" when it is nowhere.
std::string FindTool(const std::string& name) {
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/sbin:/usr/bin:/bin";
    size_t from = 0;
    while (from <= dirs.size()) {
        const size_t colon = std::min(dirs.find(':', from), dirs.size());
        const std::string dir = dirs.substr(from, colon - from);
        from = colon + 1;
        if (dir.empty()) continue;
        const std::string path = dir + "/" + name;
        if (::access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

std::string MissingTool(const Tool& tool, const std::string& kind) {
    if (!tool.name || !FindTool(tool.name).empty()) return "";
    return std::string(tool.name) + " is missing (Debian package " + tool.package +
           ", which scripts/setup installs), so no " + kind + " drive can be had";
}

bool KernelHas(const std::string& fileSystem) {
    const std::string table = ReadWholeFile("/proc/filesystems");
    size_t at = 0;
    while ((at = table.find(fileSystem, at)) != std::string::npos) {
        const bool starts = at > 0 && (table[at - 1] == '\t' || table[at - 1] == ' ');
        const size_t end = at + fileSystem.size();
        if (starts && (end == table.size() || table[end] == '\n')) return true;
        at = end;
    }
    return false;
}

// A command run by its full path; false with `why` (its first line of
// complaint) when it fails.
bool Run(std::vector<std::string> args, std::string* why) {
    const std::string path = FindTool(args[0]);
    if (!path.empty()) args[0] = path;
    const CommandResult r = RunCommand(args);
    if (r.exitCode == 0) return true;
    std::string said = r.err.empty() ? r.out : r.err;
    while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
    if (why) *why = args[0] + " failed" + (said.empty() ? "" : ": " + said);
    return false;
}

// ---------------------------------------------------------------------------
// Loop devices
// ---------------------------------------------------------------------------

// `image` attached to a free loop device; its path, or "" with `why`.
std::string AttachLoop(const std::string& image, std::string* why) {
    const CommandResult r = RunCommand({FindTool("losetup"), "-f", "--show", image});
    std::string device = r.out;
    while (!device.empty() && device.back() == '\n') device.pop_back();
    if (r.exitCode != 0 || device.rfind("/dev/", 0) != 0) {
        if (why) *why = "no loop device could be had for the image: " + r.err;
        return "";
    }
    return device;
}

// Detaches `device` from `image`. A device some other program holds open
// (a mkfs.btrfs anywhere opens every block device to see what is mounted)
// is only marked to go at its last close: waited for, ten seconds at the
// most (a hang guard), so that no device holds the image once this returns.
void DetachLoop(const std::string& device, const std::string& image) {
    if (device.empty()) return;
    RunCommand({FindTool("losetup"), "-d", device});
    const std::string backing = "/sys/block/" + device.substr(device.rfind('/') + 1) + "/loop/backing_file";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadWholeFile(backing).find(image) != std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// ---------------------------------------------------------------------------
// Mounting
// ---------------------------------------------------------------------------

dev_t DeviceOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

// Whether the child has ended, asked without reaping it.
bool Ended(const ChildProcess& child) {
    siginfo_t info{};
    return ::waitid(P_PID, id_t(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// The FUSE driver of `drive`, started in the foreground at `device`; true
// once its mount stands at the folder (a minute at the most: a hang guard).
bool StartDriver(TestDrive& drive, const Recipe& recipe, const std::string& device) {
    std::vector<std::string> args = recipe.driver;
    args[0] = FindTool(args[0]);
    args.push_back(device);
    args.push_back(drive.at);
    const std::string log = drive.work.File("driver.log");
    const dev_t before = DeviceOf(drive.at);
    drive.daemon = std::make_unique<ChildProcess>([&args, &log] {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        const int none = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || none < 0) ::_exit(126);
        ::dup2(none, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (DeviceOf(drive.at) == before) {
        if (Ended(*drive.daemon) || std::chrono::steady_clock::now() > deadline) {
            std::string said = ReadWholeFile(log);
            if (said.size() > 400) said = said.substr(said.size() - 400);
            drive.why = std::string(recipe.driver[0]) + " did not mount the " + drive.kind + " drive: " + said;
            drive.daemon.reset();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Mounts the drive's image (or a tmpfs) at its folder; the loop device, when
// the kind needs one, is attached already.
bool MountAttached(TestDrive& drive, const Recipe& recipe) {
    switch (recipe.how) {
        case Mounting::Tmpfs:
            drive.mounted = Run({"mount", "-t", "tmpfs", "-o", std::string("size=") + recipe.size + ",mode=0755",
                                 "tmpfs", drive.at},
                                &drive.why);
            break;
        case Mounting::KernelLoop:
            drive.mounted = Run({"mount", "-t", recipe.fileSystem, drive.loop, drive.at}, &drive.why);
            break;
        case Mounting::FuseLoop: drive.mounted = StartDriver(drive, recipe, drive.loop); break;
        case Mounting::FuseImage: drive.mounted = StartDriver(drive, recipe, drive.image); break;
    }
    return drive.mounted;
}

// Unmounts the folder (lazily when something still holds it) and, for a
// FUSE drive, waits for its driver to have written everything and ended. The
// loop device stays attached.
void Unmount(TestDrive& drive) {
    if (!drive.mounted) return;
    if (!Run({"umount", drive.at}, nullptr)) Run({"umount", "-l", drive.at}, nullptr);
    drive.mounted = false;
    if (!drive.daemon) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!Ended(*drive.daemon) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    drive.daemon.reset();  // reaped, or killed when it hung
}

}  // namespace

// ---------------------------------------------------------------------------
// TestDrive
// ---------------------------------------------------------------------------

std::string DriveKindCanBeHad(const std::string& kind) {
    const Recipe* recipe = RecipeOf(kind);
    if (!recipe) return "the rig knows no drive of the kind \"" + kind + "\"";
    if (::geteuid() != 0) return "mounting a " + kind + " drive needs root, and the tests run as another user here";
    if (!KernelHas(recipe->fileSystem))
        return std::string("the kernel here lacks the ") + recipe->fileSystem +
               " file system (not in /proc/filesystems), so no " + kind + " drive can be mounted";
    if (NeedsLoop(*recipe) && (::access("/dev/loop-control", R_OK | W_OK) != 0 || FindTool("losetup").empty()))
        return "no loop device can be had here (no /dev/loop-control or losetup), so no " + kind +
               " image can be mounted";
    if (IsFuse(*recipe) && ::access("/dev/fuse", R_OK | W_OK) != 0)
        return "there is no /dev/fuse here, so no FUSE " + kind + " drive can be mounted";
    for (const Tool& tool : {recipe->maker, recipe->driverTool})
        if (std::string missing = MissingTool(tool, kind); !missing.empty()) return missing;
    return "";
}

TestDrive::TestDrive(const std::string& kind_, const std::string& at_) : kind(kind_), at(at_) {
    std::error_code ec;
    fs::create_directories(at, ec);
    why = DriveKindCanBeHad(kind);
    if (!why.empty()) return;
    const Recipe& recipe = *RecipeOf(kind);
    if (recipe.how != Mounting::Tmpfs) {
        image = work.File("image");
        std::vector<std::string> make = recipe.make;
        make.push_back(image);
        if (!Run({"truncate", "-s", recipe.size, image}, &why) || !Run(make, &why)) {
            why = "no " + kind + " image could be made: " + why;
            return;
        }
    }
    if (NeedsLoop(recipe) && (loop = AttachLoop(image, &why)).empty()) return;
    MountAttached(*this, recipe);
}

TestDrive::~TestDrive() {
    FreeDrive(*this);
    Unmount(*this);
    DetachLoop(loop, image);
}

dev_t TestDrive::Device() const { return mounted ? DeviceOf(at) : 0; }

// ---------------------------------------------------------------------------
// RemountElsewhere
// ---------------------------------------------------------------------------

bool RemountElsewhere(TestDrive& drive) {
    const Recipe* recipe = RecipeOf(drive.kind);
    if (!drive.mounted || !recipe) {
        drive.why = "the " + drive.kind + " drive is not mounted";
        return false;
    }
    if (recipe->how == Mounting::Tmpfs) {
        drive.why = "a tmpfs keeps nothing once unmounted, so it cannot come back under another device number";
        return false;
    }
    const dev_t old = drive.Device();
    // A kernel hands out the lowest free anonymous device number (a FUSE
    // drive's, a btrfs's), so the one the drive frees would come straight
    // back: a small tmpfs takes it first, and is let go once the drive stands.
    std::vector<std::string> holds;
    bool moved = false;
    for (int attempt = 0; attempt < 3 && !moved; ++attempt) {
        Unmount(drive);
        const std::string hold = drive.work.File("hold-" + std::to_string(attempt));
        std::error_code ec;
        fs::create_directories(hold, ec);
        if (Run({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", hold}, nullptr)) holds.push_back(hold);
        // The new loop device is taken while the old one is still attached: another number.
        const std::string oldLoop = drive.loop;
        if (NeedsLoop(*recipe) && (drive.loop = AttachLoop(drive.image, &drive.why)).empty()) {
            drive.loop = oldLoop;
            break;
        }
        if (oldLoop != drive.loop) DetachLoop(oldLoop, drive.image);
        if (!MountAttached(drive, *recipe)) break;
        moved = drive.Device() != old;
    }
    for (const std::string& hold : holds) Run({"umount", hold}, nullptr);
    if (drive.mounted && !moved) drive.why = "the " + drive.kind + " drive came back under the same device number";
    return drive.mounted && moved;
}

// ---------------------------------------------------------------------------
// Fill
// ---------------------------------------------------------------------------

namespace {

// Writes `file` until the drive says `full` (its errno for it), in ever
// smaller pieces down to a byte, then flushes. 1 when full, 0 when written
// whole without filling (a limit of the file's, not the drive's), -1 on
// another failure (errno kept).
int WriteUntilFull(const std::string& file, int full) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return errno == full || errno == ENOSPC ? 1 : -1;
    static const std::string piece(1 << 20, '\xA5');
    size_t size = piece.size();
    bool filled = false;
    while (size > 0) {
        const ssize_t n = ::write(fd, piece.data(), size);
        if (n >= 0) continue;
        if (errno == EINTR) continue;
        if (errno == EFBIG) break;  // FAT's 4 GB a file; the next file goes on
        if (errno != full) {
            const int failed = errno;
            ::close(fd);
            errno = failed;
            return -1;
        }
        filled = true;
        size /= 16;
    }
    // Space held for writes still in memory (btrfs, xfs) is only given back
    // when they reach the disk.
    const bool flushed = ::fsync(fd) == 0 || errno == full;
    const int failed = errno;
    ::close(fd);
    errno = failed;
    return !flushed ? -1 : filled ? 1 : 0;
}

// Whether a new file of 64 KiB still reaches the disk; the file is removed.
bool NewFileFits(const std::string& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string bytes(64 << 10, '\x5A');
    const bool fits = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()) && ::fsync(fd) == 0;
    ::close(fd);
    ::unlink(file.c_str());
    return fits;
}

}  // namespace

bool FillDrive(TestDrive& drive, const std::string& folder) {
    if (!drive.mounted) {
        drive.why = "the " + drive.kind + " drive is not mounted";
        return false;
    }
    const std::string base = (folder.empty() ? drive.at : folder) + "/drive-fill-";
    // A drive that holds space for writes in flight gives it back once they
    // are flushed, and takes more: another file goes on until a new file's
    // bytes no longer fit.
    for (int round = 0; round < 16; ++round) {
        const std::string file = base + std::to_string(drive.fillFiles.size());
        drive.fillFiles.push_back(file);
        const int filled = WriteUntilFull(file, DriveFullError(drive.kind));
        if (filled < 0) {
            drive.why = "filling the " + drive.kind + " drive failed: " + std::strerror(errno);
            return false;
        }
        if (filled == 1 && !NewFileFits(base + "probe")) return true;
    }
    drive.why = "the " + drive.kind + " drive never said it was full";
    return false;
}

int DriveFullError(const std::string& kind) {
    const Recipe* recipe = RecipeOf(kind);
    return recipe ? recipe->fullError : ENOSPC;
}

void FreeDrive(TestDrive& drive) {
    for (const std::string& file : drive.fillFiles) ::unlink(file.c_str());
    drive.fillFiles.clear();
    // Flushed, so that a drive that frees space late (btrfs) has it back at once.
    if (!drive.mounted) return;
    const int fd = ::open(drive.at.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

// ---------------------------------------------------------------------------
// Tree walks
// ---------------------------------------------------------------------------

namespace {

// `touch` applied to `root` and every entry below it, links counted and
// left alone; `touch` says whether it changed the entry, or sets errno.
TreeTouch WalkTree(const std::string& root, const std::function<int(const std::string&)>& touch) {
    TreeTouch result;
    const auto one = [&](const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return;
        ++result.entries;
        if (S_ISLNK(st.st_mode)) {
            ++result.links;
            return;
        }
        const int done = touch(path);
        if (done > 0) ++result.changed;
        if (done < 0) {
            if (result.refused++ == 0) {
                result.firstErrno = errno;
                result.firstRefusal = std::string(std::strerror(errno)) + ": " + path;
            }
        }
    };
    one(root);
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::none, ec), end; !ec && it != end;
         it.increment(ec))
        one(it->path().string());
    return result;
}

}  // namespace

TreeTouch ChmodGroupWritable(const std::string& root) {
    return WalkTree(root, [](const std::string& path) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return -1;
        if (::chmod(path.c_str(), (st.st_mode & 07777) | S_IWGRP) != 0) return -1;
        struct stat after {};
        // Some drives take the call and keep their one mode for everything.
        return ::lstat(path.c_str(), &after) == 0 && (after.st_mode & S_IWGRP) ? 1 : 0;
    });
}

TreeTouch SetXattrEverywhere(const std::string& root, const std::string& name, const std::string& value) {
    return WalkTree(root, [&](const std::string& path) {
        if (::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0) return -1;
        std::string back(value.size() + 1, '\0');
        const ssize_t n = ::lgetxattr(path.c_str(), name.c_str(), back.data(), back.size());
        return n >= 0 && back.substr(0, size_t(n)) == value ? 1 : 0;
    });
}

// ---------------------------------------------------------------------------
// Colleagues
// ---------------------------------------------------------------------------

std::vector<Colleague> ColleaguesOfOneGroup(int count, mode_t umask) {
    // Ids far above the ones accounts are given, and held by none here.
    gid_t gid = 47000;
    while (::getgrgid(gid)) ++gid;
    std::vector<Colleague> colleagues;
    uid_t uid = 47000;
    while (int(colleagues.size()) < count) {
        if (!::getpwuid(uid)) colleagues.push_back({uid, gid, umask});
        ++uid;
    }
    return colleagues;
}

void BecomeColleague(const Colleague& who) {
    ::umask(who.umask);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(who.gid, who.gid, who.gid) != 0 ||
        ::setresuid(who.uid, who.uid, who.uid) != 0)
        ::_exit(90);
}

int RunAsColleague(const Colleague& who, const std::function<void()>& body) {
    return RunInChild([&] {
        BecomeColleague(who);
        body();
    });
}

CommandResult RunCommandAs(const Colleague& who, const std::vector<std::string>& args) {
    CommandResult result;
    if (args.empty()) return result;
    TempDir dir;
    const std::string outPath = dir.File("out"), errPath = dir.File("err");
    std::vector<std::string> argStrings = args;
    const int status = RunInChild([&] {
        // Opened before the ids change: the colleague need not reach the rig's folder.
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (out < 0 || err < 0) ::_exit(126);
        ::dup2(out, 1);
        ::dup2(err, 2);
        BecomeColleague(who);
        std::vector<char*> argv;
        for (std::string& a : argStrings) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    });
    result.exitCode = status >= 0 ? status : -1;
    result.out = ReadWholeFile(outPath);
    result.err = ReadWholeFile(errPath);
    return result;
}
