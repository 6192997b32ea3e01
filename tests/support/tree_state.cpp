// tree_state.cpp — a folder's entries, links not followed.
#include "support/tree_state.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Every entry below `root` with its lstat, by relative path.
std::map<std::string, struct stat> Entries(const std::string& root) {
    std::map<std::string, struct stat> entries;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) == 0) entries[it->path().lexically_relative(root).string()] = st;
    }
    return entries;
}

bool SameBytes(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb) return false;
    std::vector<char> pa(1 << 20), pb(1 << 20);
    for (;;) {
        fa.read(pa.data(), std::streamsize(pa.size()));
        fb.read(pb.data(), std::streamsize(pb.size()));
        if (fa.gcount() != fb.gcount()) return false;
        if (fa.gcount() == 0) return true;
        if (!std::equal(pa.begin(), pa.begin() + fa.gcount(), pb.begin())) return false;
    }
}

}  // namespace

std::string TreeDifference(const std::string& a, const std::string& b) {
    const std::map<std::string, struct stat> left = Entries(a), right = Entries(b);
    for (const auto& [path, st] : left)
        if (!right.count(path)) return path + " is only in " + a;
    for (const auto& [path, st] : right) {
        const auto other = left.find(path);
        if (other == left.end()) return path + " is only in " + b;
        const struct stat& sa = other->second;
        if ((sa.st_mode & S_IFMT) != (st.st_mode & S_IFMT)) return path + " is of another kind";
        if ((sa.st_mode & 07777) != (st.st_mode & 07777)) return path + " has another mode";
        if (S_ISLNK(st.st_mode) && fs::read_symlink(a + "/" + path) != fs::read_symlink(b + "/" + path))
            return path + " links elsewhere";
        if (S_ISREG(st.st_mode) && (sa.st_size != st.st_size || !SameBytes(a + "/" + path, b + "/" + path)))
            return path + " holds other bytes";
    }
    return {};
}

std::map<std::string, std::string> TreeState(const std::string& root) {
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
