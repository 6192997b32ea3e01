// bwf_readback.h — reading exported broadcast WAV files back: the chunks by
// our own RIFF walk, the samples through libsndfile, and what ffprobe sees.
//
// Index
//   BwfReadBack / ReadBwfFile   fmt, bext and the samples of a file
//   ProbeReadBack / ProbeWav    ffprobe's bits, rate, channels and time_reference
//   ChannelOf                   one channel of interleaved samples
//   ScopedFileSizeLimit         a full disk, played by RLIMIT_FSIZE
#pragma once

#include <sys/resource.h>

#include <cstdint>
#include <string>
#include <vector>

struct BwfReadBack {
    bool ok = false;
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int64_t frames = 0;
    std::vector<float> samples;  // interleaved, full scale 1.0
    std::vector<int32_t> codes;  // the same as stored 24-bit integers
    bool hasBext = false;
    std::string description;     // up to the first zero of the 256-byte field
    size_t descriptionBytes = 0; // bytes before that zero
    std::string originator;
    uint32_t timeReferenceLow = 0;
    uint32_t timeReferenceHigh = 0;
    uint64_t TimeReference() const { return (uint64_t(timeReferenceHigh) << 32) | timeReferenceLow; }
    int bextVersion = -1;
    uint32_t bextSize = 0;          // the chunk's size field
    std::string codingHistory;      // the bytes after the 602 fixed ones
    std::vector<std::string> chunks;  // chunk ids in file order
    // What libsndfile's own bext reader returns.
    int sndfileBextVersion = -1;
    int64_t sndfileCodingHistorySize = -1;
};
BwfReadBack ReadBwfFile(const std::string& path);

struct ProbeReadBack {
    bool ok = false;
    std::string message;  // why it failed
    int bits = 0;
    int sampleRate = 0;
    int channels = 0;
    int64_t timeReference = -1;
    bool hasCodingHistory = false;  // ffprobe names a non-empty coding history
    std::string originator;
};
ProbeReadBack ProbeWav(const std::string& path);

std::vector<float> ChannelOf(const std::vector<float>& interleaved, int channels, int channel);

// Lowers the file-size limit of the process for its lifetime; writes past it
// fail short (SIGXFSZ is ignored meanwhile) instead of ending the process.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes);
    ~ScopedFileSizeLimit();
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*savedHandler_)(int) = nullptr;
};
