// exported_files.cpp — an export's folder read back for comparison.
//
// Index
//   ExportedFiles / ExpectSameExportFiles
#include "support/exported_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "support/temp_dir.h"

namespace {

// The bext chunk: 256 bytes of description, 32 of originator, 32 of its
// reference, then 10 of date and 8 of time.
constexpr size_t kBextDateAt = 320;
constexpr size_t kBextDateAndTimeBytes = 18;

}  // namespace

std::map<std::string, std::string> ExportedFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder, ec)) {
        if (!e.is_regular_file()) continue;
        std::string bytes = ReadWholeFile(e.path().string());
        const size_t bext = bytes.find("bext");
        const size_t date = bext + 8 + kBextDateAt;
        if (e.path().extension() == ".wav" && bext != std::string::npos && date + kBextDateAndTimeBytes <= bytes.size())
            std::memset(bytes.data() + date, 0, kBextDateAndTimeBytes);
        files[fs::relative(e.path(), folder).string()] = std::move(bytes);
    }
    return files;
}

void ExpectSameExportFiles(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
    std::vector<std::string> namesA, namesB;
    for (const auto& [name, bytes] : a) namesA.push_back(name);
    for (const auto& [name, bytes] : b) namesB.push_back(name);
    EXPECT_EQ(namesA, namesB);
    for (const auto& [name, bytes] : a) {
        auto other = b.find(name);
        if (other == b.end() || std::filesystem::path(name).extension() == ".aaf") continue;
        EXPECT_TRUE(bytes == other->second) << name << " differs";
    }
}
