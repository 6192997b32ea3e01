// temp_dir.h — a unique temporary folder per test, removed afterwards.
#pragma once

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

// Whole contents of a file ("" when missing).
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& data);

// The names in a folder (hidden ones too), sorted; none when it is missing.
std::vector<std::string> FolderNames(const std::string& folder);
