// sound_file_open.cpp — the one gate in front of libsndfile for reading.
//
// Index
//   OpenDescriptor / BoundFrames            the open under the gate's lock, the size bound
//   LengthIsClaimed / LastFrameDecodes / DecodableFrames   a header's length checked against the audio
//   OpenSoundFileForReading / DescriptorOpensAsSound / FileOpensAsSound
//   ReadSoundFrames
#include "library/sound_file_open.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>
#include <vector>

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

// Whether the frame count comes from a header written before the audio
// (FLAC's stream info, an Ogg or MPEG stream's claim, an ALAC table) rather
// than from the size of the sample data, so that a file cut short still
// claims its whole length.
bool LengthIsClaimed(const SF_INFO& info) {
    const int container = info.format & SF_FORMAT_TYPEMASK;
    const int codec = info.format & SF_FORMAT_SUBMASK;
    return container == SF_FORMAT_FLAC || container == SF_FORMAT_OGG || container == SF_FORMAT_MPEG ||
           codec == SF_FORMAT_ALAC_16 || codec == SF_FORMAT_ALAC_20 || codec == SF_FORMAT_ALAC_24 ||
           codec == SF_FORMAT_ALAC_32;
}

// Whether the claimed last frame decodes; the file is back at its first
// frame when it does. A decoder that failed may be left unusable.
bool LastFrameDecodes(SNDFILE* sound, const SF_INFO& info) {
    if (info.frames < 1) return true;
    std::vector<float> frame(size_t(std::max(info.channels, 1)));
    return sf_seek(sound, info.frames - 1, SEEK_SET) >= 0 && sf_readf_float(sound, frame.data(), 1) == 1 &&
           sf_seek(sound, 0, SEEK_SET) == 0;
}

// The frames that decode from the start, read through once (a damaged file:
// a decoder that failed to seek may not be usable again, so this is a fresh
// open of the same descriptor).
int64_t DecodableFrames(int fd) {
    if (::lseek(fd, 0, SEEK_SET) != 0) return 0;
    SF_INFO info{};
    SNDFILE* sound = OpenDescriptor(fd, &info, false);
    if (!sound) return 0;
    std::vector<float> block(size_t(4096) * size_t(std::max(info.channels, 1)));
    int64_t frames = 0;
    for (sf_count_t got; (got = sf_readf_float(sound, block.data(), 4096)) > 0;) frames += got;
    sf_close(sound);
    return frames;
}

}  // namespace

SNDFILE* OpenSoundFileForReading(const std::string& path, SF_INFO* info, std::string* problem) {
    const RegularFile file = OpenRegularFile(path);
    if (file.fd < 0) {
        if (problem) *problem = file.problem;
        return nullptr;
    }
    // libsndfile closes the descriptor it is given with the file; the probe
    // below may need the file again from its start, so the first open gets
    // a copy (both share one position: they are used one after the other).
    const int copy = ::dup(file.fd);
    SNDFILE* sound = copy >= 0 ? OpenDescriptor(copy, info, true) : nullptr;
    if (!sound) {  // a failed open has closed the copy already
        ::close(file.fd);
        if (problem) *problem = "Not a sound file that can be read: " + path;
        return nullptr;
    }
    BoundFrames(info, file.size);
    // A header's length is taken only as far as the audio decodes: a FLAC or
    // Ogg file cut short claims its whole length, and every reader behind
    // this gate sizes, measures and indexes by the frame count it returns.
    if (LengthIsClaimed(*info) && (info->frames < 1 || !LastFrameDecodes(sound, *info))) {
        sf_close(sound);
        const int64_t frames = DecodableFrames(file.fd);
        SF_INFO again{};
        if (::lseek(file.fd, 0, SEEK_SET) != 0) {
            ::close(file.fd);
            sound = nullptr;
        } else {
            sound = OpenDescriptor(file.fd, &again, true);  // a failed open closes the descriptor
        }
        if (!sound) {
            if (problem) *problem = "Not a sound file that can be read: " + path;
            return nullptr;
        }
        *info = again;
        info->frames = frames;
        BoundFrames(info, file.size);
        return sound;
    }
    ::close(file.fd);
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
