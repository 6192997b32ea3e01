// export_question.h — the question an export asks before it replaces what
// stands at its names, and the folders the designer agrees to by name.
//
// Index
//   EntryKindText        what a non-regular entry is, a folder with how many entries it holds
//   ReplaceQuestion      the question's text and the folders it names
//   MakeReplaceQuestion  the question for the entries an export would replace
//   IsAgreedFolder       whether a folder was named in the question the designer agreed to
//
// Regular files are counted; every other entry (a link, a pipe, a socket, a
// device, a folder) is named with what it is, however many there are: an
// entry the designer was not told of is never one they agreed to lose. A
// folder is named with the number of entries it holds, since agreeing to it
// agrees to what it holds; the folders named go into the job as the only
// ones an export may remove after it succeeds (ExportJob::replacingFolders).
// Looking at an entry never opens it; a folder is opened as a folder only
// (O_DIRECTORY, never through a link) to count what it holds.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// "a symbolic link", "a named pipe", "a socket", "a character device", "a
// block device", "a folder holding 1 entry" / "a folder holding 3 entries" /
// "an empty folder" (entries counted by the caller; kUnreadableFolder: "a
// folder whose entries cannot be read"), "no file" for anything else; "" for
// a regular file.
inline constexpr size_t kUnreadableFolder = ~size_t(0);
std::string EntryKindText(mode_t mode, size_t folderEntries = 0);

struct ReplaceQuestion {
    std::string text;
    std::vector<std::string> folders;  // every folder the text names, by path, sorted
};

// "Files of an earlier export named "<base>" are in <outDir> (<N> item(s); “a”
// is a named pipe, “Clips/b” is a folder holding 2 entries)." then, when
// `notRewritten` names any (entries of the earlier export that the new one
// does not write again, among `entries`), " This export does not write “x”,
// “y” again; they go too." and " Replace them?"; each entry named by its path
// below `outDir` (QuotedName, shortened by the one rule when very long), in
// the order given. `entries` are absolute paths; one that is gone by now is
// counted and not named. Every entry that is not written again is named,
// however many there are: the designer agrees to lose it by its name.
ReplaceQuestion MakeReplaceQuestion(const std::string& baseName, const std::string& outDir,
                                    const std::vector<std::string>& entries,
                                    const std::vector<std::string>& notRewritten = {});

// Whether `path` is among `agreed` (sorted, as ReplaceQuestion::folders).
bool IsAgreedFolder(const std::vector<std::string>& agreed, const std::string& path);
