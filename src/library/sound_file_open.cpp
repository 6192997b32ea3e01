// sound_file_open.cpp — the one gate in front of sf_open for reading.
#include "library/sound_file_open.h"

#include <mutex>

SNDFILE* OpenSoundFileForReading(const std::string& path, SF_INFO* info) {
    static std::mutex openMutex;
    std::lock_guard<std::mutex> lock(openMutex);
    return sf_open(path.c_str(), SFM_READ, info);
}
