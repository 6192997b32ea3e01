// bwf_writer.h — the broadcast WAV files every export writes: 24-bit PCM with
// a bext chunk whose time reference places the file on an editor's timeline.
//
// Index
//   kBwfDefaultDescription / kBwfOriginator   the bext texts
//   BwfTimeReference          seconds at a rate -> samples (0 for a negative start)
//   WriteBWFStereo            two channels, written in 8192-frame blocks
//   WriteBWFClipMono          one channel, the start in seconds
//   WriteBWFClipMonoAtSample  one channel, the start already in samples
//   BwfMonoWriter             one channel handed over a block at a time
//   RewriteBextChunk          a written file's bext chunk as version 1, no coding history
//   IsOwnBroadcastWavFile     a WAV file whose bext originator is the program
//
// The bext chunk is version 1 with an empty coding history: libsndfile
// always writes version 2 and appends its own coding-history line, so the
// chunk is rewritten after libsndfile has closed the file.
//
// Each writer refuses more than one hour (rate x 3600 frames) without
// creating anything, writes "<path>.tmp" (made new: a stale one, or a link
// planted at that name, is removed and never written through), and moves it
// over <path> only when every frame and the file's close went through: a
// failed write never leaves a partial file and never destroys a file that was
// there before. A writer given a stop flag looks at it before every block of
// 8192 frames and, once it is raised, gives the file up the same way.
// Samples are cleaned on the way (non-finite to 0, clamped to [-1, 1]); the
// caller's buffers are not changed. No state between calls: any thread may
// write.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "export/write_fault.h"
#include "platform/file_util.h"

inline constexpr const char* kBwfDefaultDescription = "Tessaloom export";
inline constexpr const char* kBwfOriginator = "Tessaloom";

// trunc(sampleRate x startSeconds) as an unsigned sample count; a negative or
// non-finite start gives 0.
uint64_t BwfTimeReference(int32_t sampleRate, double startSeconds);

// `description` may be null ("Tessaloom export"); it is cut to 255 bytes at a
// character boundary. True when the whole file was written and is in place.
// `stop` may be null (never stopped). With `folder` (held open by the
// caller, HeldFolder) the file is made in that folder under the last
// component of `path`, never reached by the path. `fault`, a test's full
// disk (write_fault.h), meets every write of the file; null in the program.
bool WriteBWFStereo(const std::string& path, const float* left, const float* right, int64_t frames,
                    int32_t sampleRate, double startSeconds, const char* description,
                    const std::atomic<bool>* stop = nullptr, const HeldFolder* folder = nullptr,
                    WriteFault* fault = nullptr);

bool WriteBWFClipMono(const std::string& path, const float* samples, int32_t frames, int32_t sampleRate,
                      double startSeconds, const char* description, const std::atomic<bool>* stop = nullptr,
                      const HeldFolder* folder = nullptr, WriteFault* fault = nullptr);

// As WriteBWFClipMono with the time reference given in samples (negative
// gives 0), for callers whose clip positions are sample counts already, so
// the file's reference and the clip's position agree to the sample.
bool WriteBWFClipMonoAtSample(const std::string& path, const float* samples, int32_t frames,
                              int32_t sampleRate, int64_t timeReferenceSamples, const char* description,
                              const std::atomic<bool>* stop = nullptr, const HeldFolder* folder = nullptr,
                              WriteFault* fault = nullptr);

// A mono file (or, opened with two channels, a stereo one) written a block
// at a time, for samples that are never whole in memory (an essence read
// from its source a block at a time, a mix made a window at a time): Open,
// Write (WriteStereo) as often as needed, Finish. Like the writers above it writes "<path>.tmp"
// and moves it over <path> only in Finish, when every frame went through;
// a write that fails or passes one hour fails the file, and a writer that
// is dropped unfinished (or whose Finish fails) leaves nothing. Samples are
// cleaned on the way.
class BwfMonoWriter {
public:
    BwfMonoWriter();
    ~BwfMonoWriter();
    BwfMonoWriter(const BwfMonoWriter&) = delete;
    BwfMonoWriter& operator=(const BwfMonoWriter&) = delete;

    // `timeReference` in samples; `description` and `stop` may be null. A
    // raised stop fails the next Write (and Finish): nothing is left.
    bool Open(const std::string& path, int32_t sampleRate, uint64_t timeReference, const char* description,
              const std::atomic<bool>* stop = nullptr, int channels = 1, const HeldFolder* folder = nullptr,
              WriteFault* fault = nullptr);
    bool Write(const float* samples, int64_t frames);  // a mono file
    bool WriteStereo(const float* left, const float* right, int64_t frames);  // a stereo file
    // True when at least one frame was written and the file is in place.
    bool Finish();
    int64_t Frames() const;  // written so far

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Makes the bext chunk of the WAV file at `path` version 1 (loudness and
// reserved bytes zero) with no coding history: the chunk shrinks to its 602
// fixed bytes and the bytes it gives up become a "JUNK" chunk, or, when fewer
// than a chunk header, leave the file by moving its tail. True when the file
// now has such a chunk or has none; false when it is not a WAV file or could
// not be rewritten. The path is opened without following a link, and only a
// regular file is rewritten.
bool RewriteBextChunk(const std::string& path);
// The same through a descriptor open for reading and writing.
bool RewriteBextChunk(int fd);

// True for a RIFF/WAVE file open as `fd` whose bext originator is
// kBwfOriginator: a file the program wrote.
bool IsOwnBroadcastWavFile(int fd);

