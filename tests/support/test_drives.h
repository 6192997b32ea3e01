// test_drives.h — the drives designers deliver to, made and mounted for a
// test: loop-mounted images (ext4, ext2 of 128-byte inodes, xfs, btrfs), a
// tmpfs, and FUSE drives (NTFS, FAT32, exFAT), with what colleagues, tools and
// the system do to them.
//
// Index
//   kDriveKinds / DriveKindCanBeHad   the kinds, and why one cannot be had here
//   TestDrive              one drive of a kind mounted at a folder, unmounted however the test ends
//   RemountElsewhere       the same contents back under another device number
//   FillDrive / FreeDrive  a drive full until writes fail with ENOSPC, and free again
//   TreeTouch / ChmodGroupWritable / SetXattrEverywhere   "chmod -R g+w", and a user.* attribute
//                          on every entry, as an indexer or a virus scanner leaves one
//   Colleague / RunAsColleague / RunCommandAs   work as another uid and gid with a umask
//
// Mounting needs root, and a loop device or /dev/fuse: a kind that cannot be
// had leaves `why` saying so in one sentence, for the test to skip with.
// Mount a drive once per suite where the tests allow it: a mkfs and a mount
// cost far more than the work most tests do on them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/run_command.h"
#include "support/temp_dir.h"

struct ChildProcess;

// Every kind a test may ask for. "vfat" and "exfat-kernel" are the kernel's
// own drivers, had only where the running kernel has them.
inline constexpr const char* kDriveKinds[] = {"ext4", "ext2", "xfs",   "btrfs", "tmpfs",
                                              "ntfs", "fat32", "exfat", "vfat",  "exfat-kernel"};

// "" when a drive of `kind` can be mounted here, else one sentence saying why not.
std::string DriveKindCanBeHad(const std::string& kind);

// A drive of `kind` mounted at `at` (made when missing) for the record's
// life. Its image (sparse, as small as the kind allows) lives in a temporary
// folder of its own. `mounted` false and `why` set when it could not be had.
struct TestDrive {
    std::string kind;
    std::string at;
    std::string why;
    bool mounted = false;

    TestDrive(const std::string& kind, const std::string& at);
    ~TestDrive();
    TestDrive(const TestDrive&) = delete;
    TestDrive& operator=(const TestDrive&) = delete;

    // The device number of the mounted drive (0 when not mounted).
    dev_t Device() const;

    // What the rig holds for the drive; its own business.
    TempDir work;
    std::string image;
    std::string loop;                       // the loop device, when the kind needs one
    std::unique_ptr<ChildProcess> daemon;   // the FUSE driver, held in the foreground
    std::vector<std::string> fillFiles;     // what FillDrive wrote
};

// Unmounts the drive and mounts its image again under another device number
// (another loop device; a FUSE drive is given a new one): what a re-plugged
// USB drive does. False with `why` when it cannot: a tmpfs keeps nothing
// once unmounted, and the caller then skips what needs it.
bool RemountElsewhere(TestDrive& drive);

// Writes into `folder` (the drive's root when empty) until the drive says it
// is full, and flushes: afterwards a new file's bytes do not fit. False with
// `drive.why` when the drive failed otherwise or never filled.
bool FillDrive(TestDrive& drive, const std::string& folder = "");
// What a write to the full drive fails with: ENOSPC, but for the FUSE FAT32
// driver, which says EPERM (a program then blames the folder's permissions).
int DriveFullError(const std::string& kind);
// Removes what FillDrive wrote.
void FreeDrive(TestDrive& drive);

// What a walk over a tree did: entries met, entries changed, and the first
// refusal ("Operation not supported: <path>"), kept also when `refused` counts more.
struct TreeTouch {
    int entries = 0;
    int changed = 0;
    int refused = 0;
    int links = 0;  // symbolic links met, left alone as the tools leave them
    int firstErrno = 0;
    std::string firstRefusal;
};

// "chmod -R g+w root": the group write bit added to `root` and every entry
// below it, links not followed.
TreeTouch ChmodGroupWritable(const std::string& root);

// An extended attribute `name` (a "user." one) set to `value` on `root` and
// every entry below it but links (the kernel allows user attributes on files
// and folders only). A drive without attributes refuses every one.
TreeTouch SetXattrEverywhere(const std::string& root, const std::string& name = "user.tessaloom.test",
                             const std::string& value = "seen");

// Another person at the same machine: ids no account here holds, and the umask
// they work under.
struct Colleague {
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t umask = 022;
};

// `count` colleagues sharing one group, each working under `umask`.
std::vector<Colleague> ColleaguesOfOneGroup(int count, mode_t umask = 002);

// In a forked child: becomes `who` (real, effective and saved ids, no
// supplementary groups, its umask). Ends the child with 90 when it cannot.
void BecomeColleague(const Colleague& who);

// Runs `body` as `who` in a forked child and waits; its exit status, or -signal.
int RunAsColleague(const Colleague& who, const std::function<void()>& body);

// Runs `args` (no shell) as `who`; what it printed, and its exit status.
CommandResult RunCommandAs(const Colleague& who, const std::vector<std::string>& args);
