// bwf_writer.cpp — 24-bit broadcast WAV files through libsndfile.
//
// Index
//   BwfTimeReference
//   Shared steps      BwfOpen (file and bext chunk), BwfClose (close, move into place),
//                     RemovePartial
//   WriteBWFStereo
//   WriteBWFClipMono / WriteBWFClipMonoAtSample
#include "export/bwf_writer.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "document/text_util.h"
#include "platform/file_util.h"
#include "playback/block_mixer.h"

uint64_t BwfTimeReference(int32_t sampleRate, double startSeconds) {
    const double samples = double(sampleRate) * startSeconds;
    if (!(samples > 0)) return 0;  // negative, zero or not a number
    if (samples >= 18446744073709549568.0) return UINT64_MAX;
    return uint64_t(samples);
}

// ---------------------------------------------------------------------------
// Shared steps
// ---------------------------------------------------------------------------

namespace {

constexpr int64_t kStereoBlockFrames = 8192;

void RemovePartial(const std::string& tmpPath) { std::remove(tmpPath.c_str()); }

// Opens "<path>.tmp" for 24-bit PCM and sets the bext chunk. A refused bext
// is logged under `who` and the file is written anyway (it lands at zero).
SNDFILE* BwfOpen(const std::string& path, const std::string& tmpPath, int channels, int32_t sampleRate,
                 uint64_t timeReference, const char* description, const char* who) {
    SF_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.frames = 0;
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(tmpPath.c_str(), SFM_WRITE, &info);
    if (!file) return nullptr;

    SF_BROADCAST_INFO bext;
    std::memset(&bext, 0, sizeof(bext));
    CopyTextField(bext.description, description ? description : kBwfDefaultDescription);
    CopyTextField(bext.originator, kBwfOriginator);
    bext.time_reference_low = uint32_t(timeReference & 0xFFFFFFFFu);
    bext.time_reference_high = uint32_t(timeReference >> 32);
    bext.version = 1;
    bext.coding_history_size = 0;
    if (sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof(bext)) != SF_TRUE)
        std::printf("[Export] %s: BEXT timecode failed — clip will land at 00:00:00:00 — %s\n", who,
                    path.c_str());
    return file;
}

// Closes the file and moves it over `path`. A close that reports an error
// (the header could not be finished) or a move that fails leaves nothing.
bool BwfClose(SNDFILE* file, const std::string& path, const std::string& tmpPath, const char* who) {
    const int closeError = sf_close(file);
    if (closeError != 0) {
        std::printf("[Export] %s: closing failed (%s) — Deleting %s\n", who, sf_error_number(closeError),
                    path.c_str());
        RemovePartial(tmpPath);
        return false;
    }
    FileReplaceFailure failure;
    if (!CommitAndReplaceFile(tmpPath, path, &failure)) {
        std::printf("[Export] %s: could not put the file in place (step %d, %s) — %s\n", who,
                    int(failure.step), std::strerror(failure.error), path.c_str());
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// WriteBWFStereo
// ---------------------------------------------------------------------------

bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description) {
    constexpr const char* kWho = "WriteBWFStereo";
    if (frames < 1 || !left || !right || sampleRate < 1) return false;
    const int64_t limit = int64_t(sampleRate) * 3600;
    if (frames > limit) {
        std::printf("[Export] WriteBWFStereo: numFrames %lld exceeds 1hr limit (%lld) — %s\n", (long long)frames,
                    (long long)limit, path.c_str());
        return false;
    }
    const std::string tmpPath = path + ".tmp";
    SNDFILE* file = BwfOpen(path, tmpPath, 2, sampleRate, BwfTimeReference(sampleRate, startSeconds),
                            description, kWho);
    if (!file) return false;

    std::vector<float> block(size_t(kStereoBlockFrames) * 2);
    for (int64_t at = 0; at < frames; at += kStereoBlockFrames) {
        const int64_t n = std::min(kStereoBlockFrames, frames - at);
        for (int64_t i = 0; i < n; ++i) {
            block[size_t(2 * i)] = left[at + i];
            block[size_t(2 * i + 1)] = right[at + i];
        }
        SanitizeSamples(block.data(), 2 * n);
        if (sf_writef_float(file, block.data(), n) < n) {
            sf_close(file);
            std::printf("[Export] WriteBWFStereo: short write at frame %lld/%lld — disk full? Deleting %s\n",
                        (long long)at, (long long)frames, path.c_str());
            RemovePartial(tmpPath);
            return false;
        }
    }
    return BwfClose(file, path, tmpPath, kWho);
}

// ---------------------------------------------------------------------------
// WriteBWFClipMono / WriteBWFClipMonoAtSample
// ---------------------------------------------------------------------------

namespace {

bool WriteMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
               uint64_t timeReference, const char* description) {
    constexpr const char* kWho = "WriteBWFClipMono";
    if (frames < 1 || !samples || sampleRate < 1) return false;
    const int64_t limit = int64_t(sampleRate) * 3600;
    if (frames > limit) {
        std::printf("[Export] WriteBWFClipMono: numFrames %d exceeds 1hr limit (%lld) — %s\n", frames,
                    (long long)limit, path.c_str());
        return false;
    }
    const std::string tmpPath = path + ".tmp";
    SNDFILE* file = BwfOpen(path, tmpPath, 1, sampleRate, timeReference, description, kWho);
    if (!file) return false;

    std::vector<float> clean(samples, samples + frames);
    SanitizeSamples(clean.data(), frames);
    const sf_count_t written = sf_writef_float(file, clean.data(), frames);
    if (written < frames) {
        sf_close(file);
        std::printf("[Export] WriteBWFClipMono: short write (%lld/%d) — disk full? Deleting %s\n",
                    (long long)written, frames, path.c_str());
        RemovePartial(tmpPath);
        return false;
    }
    return BwfClose(file, path, tmpPath, kWho);
}

}  // namespace

bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description) {
    return WriteMono(path, samples, frames, sampleRate, BwfTimeReference(sampleRate, startSeconds), description);
}

bool WriteBWFClipMonoAtSample(const std::string& path, const float* samples, int32_t frames,
                              int32_t sampleRate, int64_t timeReferenceSamples, const char* description) {
    return WriteMono(path, samples, frames, sampleRate, timeReferenceSamples > 0 ? uint64_t(timeReferenceSamples) : 0,
                     description);
}
