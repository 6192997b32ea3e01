// sound_file_open.cpp — the one gate in front of libsndfile for reading.
#include "library/sound_file_open.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>

#include "platform/file_util.h"

namespace {

// libsndfile's open under the gate's lock. With `takeDescriptor` it closes fd
// with the file, or at once when the open fails; otherwise fd stays open.
SNDFILE* OpenDescriptor(int fd, SF_INFO* info, bool takeDescriptor) {
    static std::mutex openMutex;
    std::lock_guard<std::mutex> lock(openMutex);
    return sf_open_fd(fd, SFM_READ, info, takeDescriptor ? SF_TRUE : SF_FALSE);
}

// The frame count a header claims, cut to what `bytes` of file can hold.
void BoundFrames(SF_INFO* info, uint64_t bytes) {
    bytes = std::max<uint64_t>(bytes, 1);
    const int64_t plausible = bytes > uint64_t(INT64_MAX / kMaxFramesPerByte) ? INT64_MAX
                                                                                : int64_t(bytes) * kMaxFramesPerByte;
    if (info->frames < 0) info->frames = 0;
    if (info->frames > plausible) info->frames = plausible;
}

}  // namespace

SNDFILE* OpenSoundFileForReading(const std::string& path, SF_INFO* info, std::string* problem) {
    const RegularFile file = OpenRegularFile(path);
    if (file.fd < 0) {
        if (problem) *problem = file.problem;
        return nullptr;
    }
    SNDFILE* sound = OpenDescriptor(file.fd, info, true);
    if (!sound) {
        if (problem) *problem = "Not a sound file that can be read: " + path;
        return nullptr;
    }
    BoundFrames(info, file.size);
    return sound;
}

bool DescriptorOpensAsSound(int fd, uint64_t size) {
    SF_INFO info{};
    SNDFILE* sound = OpenDescriptor(fd, &info, false);
    if (!sound) return false;
    sf_close(sound);
    BoundFrames(&info, size);
    return info.frames > 0 && info.channels > 0;
}

int64_t ReadSoundFrames(SNDFILE* file, float* buffer, int64_t frames, int channels) {
    if (frames <= 0 || channels <= 0) return 0;
    const sf_count_t got = sf_readf_float(file, buffer, frames);
    if (got <= 0) return 0;
    const int64_t samples = int64_t(got) * channels;
    for (int64_t i = 0; i < samples; ++i) {
        const float v = buffer[i];
        buffer[i] = std::isfinite(v) ? std::clamp(v, -kMaxSampleMagnitude, kMaxSampleMagnitude) : 0.0f;
    }
    return int64_t(got);
}

bool FileOpensAsSound(const std::string& path) {
    const RegularFile file = OpenRegularFile(path);  // regular files only
    if (file.fd < 0) return false;
    const bool sound = DescriptorOpensAsSound(file.fd, file.size);
    ::close(file.fd);
    return sound;
}
