// tree_state.cpp — a folder's entries, links not followed.
#include "support/tree_state.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The size and a digest of the file's bytes, read a piece at a time into
// `piece`, which the caller holds for the whole walk: a tree of thousands of
// files would otherwise clear a fresh piece for every file.
std::string FileDigest(const std::string& path, std::vector<char>& piece) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return "unreadable";
    uint64_t size = 0, digest = 1469598103934665603ull;
    for (;;) {
        const ssize_t n = ::read(fd, piece.data(), piece.size());
        if (n <= 0) break;
        size += uint64_t(n);
        digest = (digest ^ std::hash<std::string_view>{}(std::string_view(piece.data(), size_t(n)))) *
                 1099511628211ull;
    }
    ::close(fd);
    char text[48];
    std::snprintf(text, sizeof text, "%llu %016llx", static_cast<unsigned long long>(size),
                  static_cast<unsigned long long>(digest));
    return text;
}

std::map<std::string, std::string> State(const std::string& root, bool digest) {
    std::map<std::string, std::string> state;
    std::vector<char> piece(digest ? size_t(1) << 20 : 0);
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
            entry = std::string("file ") + mode + " " + (digest ? FileDigest(path, piece) : ReadWholeFile(path));
        } else {
            entry = std::string("other ") + mode;
        }
        // Lexical: a relative path through the file system would follow the links.
        state[it->path().lexically_relative(root).string()] = entry;
    }
    return state;
}

}  // namespace

std::map<std::string, std::string> TreeState(const std::string& root) { return State(root, false); }

std::map<std::string, std::string> TreeDigest(const std::string& root) { return State(root, true); }

std::string FirstDifference(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
    auto ia = a.begin();
    auto ib = b.begin();
    for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
        if (ia->first < ib->first) return ia->first + " is only in the first";
        if (ib->first < ia->first) return ib->first + " is only in the second";
        if (ia->second != ib->second) return ia->first + " differs";
    }
    if (ia != a.end()) return ia->first + " is only in the first";
    if (ib != b.end()) return ib->first + " is only in the second";
    return {};
}

void PlantFile(const std::string& path, const std::string& bytes, int mode) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << path;
    if (mode >= 0) {
        ASSERT_EQ(::chmod(path.c_str(), mode_t(mode)), 0) << path;
    }
}

bool PlantSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    return bound;
}
