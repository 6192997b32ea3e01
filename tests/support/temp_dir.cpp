#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tl_test_XXXXXX";
    if (char* made = ::mkdtemp(pattern.data())) path_ = made;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Make read-only leftovers removable again before deleting.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

// Sized from the file's length and read in place: exports of many megabytes
// are read whole by many tests, and a growing stream copied them over and
// over. Reads on to the end, so a file that grew meanwhile (or one that
// reports no length, as under /proc) is read whole too.
std::string ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st {};
    std::string bytes;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.resize(size_t(st.st_size));
    size_t have = 0;
    while (have < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += size_t(n);
    }
    bytes.resize(have);
    char more[65536];
    for (;;) {
        const ssize_t n = ::read(fd, more, sizeof more);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(more, size_t(n));
    }
    ::close(fd);
    return bytes;
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}
