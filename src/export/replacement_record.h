// replacement_record.h — what a pass's journal and the settling of its
// records share: the record a manifest holds and what settling one did.
// Both replacement_journal.h and the settling's files (replacement_records.h)
// build on it, so neither includes the other.
//
// Index
//   kReplacingFolderPrefix     ".tessaloom-replacing-"
//   ReplacementRecord          what a manifest says, kept in memory as the pass runs
//   ReplacementSettled         what finishing or undoing a record did
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/file_util.h"

inline constexpr const char* kReplacingFolderPrefix = ".tessaloom-replacing-";

struct ReplacementRecord {
    struct Made {
        char tag = 'N';    // 'N', 'T' or 'D' as in the manifest
        std::string path;  // relative to the export folder
    };
    std::vector<std::string> earlier;  // relative; the i-th waits as "<i>"
    std::vector<Made> made;            // in the order announced
    bool succeeded = false;
    std::vector<FileIdentity> earlierIds;            // by index; device 0 and inode 0 when not known
    std::map<std::string, FileIdentity> identities;  // files made, by relative path
};

struct ReplacementSettled {
    bool found = false;      // a record was read (or held) and acted on
    bool succeeded = false;  // finished, not undone
    bool running = false;    // locked by a program that runs: left alone
    int restored = 0;        // earlier files put back under their names
    int removed = 0;         // new files removed (undone), or earlier ones (finished)
    int left = 0;            // earlier files that could not go back (their place is taken)
    int refused = 0;         // records that named a place outside the folder or a file the pass did not make
    int foreign = 0;         // entries at the pass's names that were another program's: left in place
    int superseded = 0;      // earlier files whose names a later export of the program took: removed
    std::string leftIn;      // the hidden folder the earlier files that could not go back wait in
    bool retry = false;      // an earlier file could not go back because its name was taken: worth another try
};
