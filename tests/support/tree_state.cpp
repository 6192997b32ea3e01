// tree_state.cpp — a folder's entries, links not followed.
#include "support/tree_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "support/temp_dir.h"

std::map<std::string, std::string> TreeState(const std::string& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> state;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string path = it->path().string();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) continue;
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        std::string entry;
        if (S_ISLNK(st.st_mode)) {
            std::error_code linkError;
            entry = "link -> " + fs::read_symlink(it->path(), linkError).string();
        } else if (S_ISDIR(st.st_mode)) {
            entry = std::string("folder ") + mode;
        } else if (S_ISREG(st.st_mode)) {
            entry = std::string("file ") + mode + " " + ReadWholeFile(path);
        } else {
            entry = std::string("other ") + mode;
        }
        // Lexical: a relative path through the file system would follow the links.
        state[it->path().lexically_relative(root).string()] = entry;
    }
    return state;
}
