// replacement_record.h — what a pass's journal and the settling of its
// records share: the record a manifest holds and what settling one did.
// Both replacement_journal.h and the settling's files (replacement_records.h)
// build on it, so neither includes the other.
//
// Index
//   kReplacingFolderPrefix     ".tessaloom-replacing-"
//   kAsidePrefix / AsideName   ".tessaloom-earlier-<tag>-<i>": where the i-th earlier entry waits
//   AsideEntry                 an entry set aside, for the question and the status
//   ReplacementRecord          what a manifest says, kept in memory as the pass runs
//   ReplacementSettled         what finishing or undoing a record did
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/file_util.h"

inline constexpr const char* kReplacingFolderPrefix = ".tessaloom-replacing-";

// An earlier entry waits in its own folder (the folder the pass writes in),
// renamed to a hidden name that the export makes new: it stays on its file
// system, with the access the people who share the folder had, and a stop
// puts it back with one rename in that folder. `tag` is the record's own
// random text, so no other entry ever had the name.
inline constexpr const char* kAsidePrefix = ".tessaloom-earlier-";
inline std::string AsideName(const std::string& tag, size_t i) {
    return kAsidePrefix + tag + "-" + std::to_string(i);
}

// One entry set aside: its place, where it waits, and what it is (the
// S_IFMT bits of its mode), so that the question and the status can name a
// folder, a link or a pipe as what it is.
struct AsideEntry {
    std::string path;     // as the job names it
    std::string waitsAs;  // the hidden name in the same folder
    unsigned type = 0;    // S_IFREG, S_IFDIR, S_IFLNK, ...
};

struct ReplacementRecord {
    struct Made {
        char tag = 'N';    // 'N', 'T' or 'D' as in the manifest
        std::string path;  // relative to the export folder
    };
    std::vector<std::string> earlier;  // relative; the i-th waits as "<i>"
    std::vector<Made> made;            // in the order announced
    bool succeeded = false;
    std::vector<FileIdentity> earlierIds;            // by index; device 0 and inode 0 when not known
    std::vector<FileIdentity> movedIds;              // by index: taken again once it waits (a rename changes it)
    std::string asideTag;                            // the earlier entries wait as AsideName(asideTag, i)
    std::map<std::string, FileIdentity> identities;  // files made, by relative path
};

struct ReplacementSettled {
    bool found = false;      // a record was read (or held) and acted on
    bool succeeded = false;  // finished, not undone
    bool running = false;    // locked by a program that runs: left alone
    int restored = 0;        // earlier files put back under their names
    int removed = 0;         // new files removed (undone), or earlier ones (finished)
    int left = 0;            // earlier files that could not go back (their place is taken, or not reached)
    int unproven = 0;        // entries not acted on because they could not be proven the ones recorded
    int refused = 0;         // records that named a place outside the folder or a file the pass did not make
    int foreign = 0;         // entries at the pass's names that were another program's: left in place
    int superseded = 0;      // earlier files whose names a later export of the program took: removed
    std::string leftIn;      // where the first earlier entry that could not go back waits
    bool retry = false;      // something of the record could not be acted on: its note stays for another try
};
