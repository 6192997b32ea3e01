// sound_file_open.cpp — the one gate in front of sf_open for reading.
#include "library/sound_file_open.h"

#include <filesystem>
#include <mutex>
#include <system_error>

SNDFILE* OpenSoundFileForReading(const std::string& path, SF_INFO* info) {
    static std::mutex openMutex;
    std::lock_guard<std::mutex> lock(openMutex);
    return sf_open(path.c_str(), SFM_READ, info);
}

bool FileOpensAsSound(const std::string& path) {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec) || ec) return false;
    SF_INFO info{};
    SNDFILE* file = OpenSoundFileForReading(path, &info);
    if (!file) return false;
    sf_close(file);
    return info.frames > 0 && info.channels > 0;
}
