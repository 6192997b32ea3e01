// export_question.cpp — the replace question: entries named by kind,
// folders with their counts.
//
// Index
//   EntryKindText
//   FolderEntryCount     entries of a folder, opened as a folder only
//   MakeReplaceQuestion / IsAgreedFolder
#include "export/export_question.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "document/shortened_text.h"
#include "platform/text_direction.h"

namespace {

// A name longer than this (a deep path, a long clip name) is shortened in
// the question by the one rule; the rest of the question stays whole.
constexpr size_t kQuestionNameBytes = 96;

// Entries of the folder at `path` ("." and ".." left out), opened as a
// folder and never through a link; false when it cannot be opened as one.
bool FolderEntryCount(const std::string& path, size_t* count) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    size_t n = 0;
    while (const dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ++n;
    ::closedir(dir);
    *count = n;
    return true;
}

// `path` below `outDir` ("Clips/Reel - Door.wav"), or its last component
// for a path elsewhere.
std::string NameBelow(const std::string& outDir, const std::string& path) {
    const std::string prefix = outDir.empty() || outDir.back() == '/' ? outDir : outDir + "/";
    if (!prefix.empty() && path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
        return path.substr(prefix.size());
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string EntryKindText(mode_t mode, size_t folderEntries) {
    if (S_ISREG(mode)) return "";
    if (S_ISDIR(mode)) {
        if (folderEntries == kUnreadableFolder) return "a folder whose entries cannot be read";
        if (folderEntries == 0) return "an empty folder";
        return "a folder holding " + std::to_string(folderEntries) + (folderEntries == 1 ? " entry" : " entries");
    }
    return S_ISLNK(mode)    ? "a symbolic link"
           : S_ISFIFO(mode) ? "a named pipe"
           : S_ISSOCK(mode) ? "a socket"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
                            : "no file";
}

ReplaceQuestion MakeReplaceQuestion(const std::string& baseName, const std::string& outDir,
                                    const std::vector<std::string>& entries,
                                    const std::vector<std::string>& notRewritten) {
    ReplaceQuestion question;
    std::string named;
    for (const std::string& path : entries) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) continue;
        size_t held = 0;
        if (S_ISDIR(st.st_mode) && !FolderEntryCount(path, &held)) {
            // Swapped for something else since it was looked at (named as
            // what it is now), or a folder this user may not read.
            if (::lstat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) continue;
            held = kUnreadableFolder;
        }
        if (S_ISDIR(st.st_mode)) question.folders.push_back(path);
        const std::string name = ShortenedText(NameBelow(outDir, path), [](const std::string& candidate) {
            return candidate.size() <= kQuestionNameBytes;
        });
        named += (named.empty() ? "; " : ", ") + QuotedName(name) + " is " + EntryKindText(st.st_mode, held);
    }
    std::sort(question.folders.begin(), question.folders.end());
    const size_t count = entries.size();
    std::string going;
    for (size_t i = 0; i < notRewritten.size(); ++i) {
        const std::string name = ShortenedText(NameBelow(outDir, notRewritten[i]), [](const std::string& candidate) {
            return candidate.size() <= kQuestionNameBytes;
        });
        going += (i == 0 ? "" : ", ") + QuotedName(name);
    }
    if (!going.empty())
        going = std::string(" This export does not write ") + going + " again; " +
                (notRewritten.size() == 1 ? "it goes" : "they go") + " too.";
    question.text = "Files of an earlier export named \"" + baseName + "\" are in " + outDir + " (" +
                    std::to_string(count) + (count == 1 ? " item" : " items") + named + ")." + going + " Replace them?";
    return question;
}

bool IsAgreedFolder(const std::vector<std::string>& agreed, const std::string& path) {
    return std::binary_search(agreed.begin(), agreed.end(), path);
}
