// drive_features.h — what one drive offers of the calls and behaviours a
// program that replaces files in place leans on, found by trying each.
//
// Index
//   DriveFeatures        each answer in a word or two: "yes", or what the drive said instead
//   ProbeDriveFeatures   tries everything in a folder of its own on a mounted drive
//   FeatureLine          the answers on one line, for the test's log
//
// Tests log these and decide what to expect from them; nothing here asserts.
#pragma once

#include <string>

struct TestDrive;

struct DriveFeatures {
    std::string renameNoReplace;  // renameat2(RENAME_NOREPLACE): refuses an existing name, takes a new one
    std::string renameExchange;   // renameat2(RENAME_EXCHANGE) swaps two names
    std::string hardLink;         // linkat
    std::string tmpFile;          // O_TMPFILE opened, then linked in by its descriptor
    std::string flock;            // an exclusive flock holds off another open of the file
    std::string generation;       // FS_IOC_GETVERSION, given the long it writes
    std::string birthTime;        // statx gives a birth time
    std::string ctimeOnRename;    // "changes" or "kept": a rename's effect on the change time
    std::string ctimeAtClose;     // a file moved while open: its change time when closed, against right after
    std::string caseSensitive;    // "yes": "Name" and "NAME" are two entries
    std::string oddNames;         // names with a newline, a tab and of 255 bytes
    std::string umaskMode;        // the mode of a file made 0666 under umask 002
    std::string chmod;            // g+w reaches a file
    std::string xattrs;           // a user.* attribute is kept
    std::string inodeOnRemount;   // a file's inode number after a remount elsewhere: "kept" or "changed"
    std::string ctimeOnRemount;   // its change time read right after a rename, against after a remount
    std::string deviceOnRemount;  // the device number after a remount elsewhere: "changed" or why not
};

// Tries every feature in "feature-probe" on the drive (removed after). The
// remount answers remount the drive (RemountElsewhere), so the drive may
// stand under another device number afterwards.
DriveFeatures ProbeDriveFeatures(TestDrive& drive);

// "ntfs: noreplace=yes exchange=EINVAL ..." in a fixed order.
std::string FeatureLine(const std::string& kind, const DriveFeatures& features);
