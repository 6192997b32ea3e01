// sound_file_open.h — opening sound files for reading from any thread, and
// reading their samples as numbers the program can use.
//
// Index
//   OpenSoundFileForReading   regular files only, never waiting, frame count bounded by the file's size
//                             and, where a header claims it (FLAC, Ogg, MPEG, ALAC), by what decodes
//   ReadSoundFrames           sf_readf_float with non-finite samples turned to 0
//   StreamFrames              a reader's frames one by one, read a block at a time
//   FileOpensAsSound          a regular file that opens with at least one frame and channel
//   DescriptorOpensAsSound    the same check on a regular file already open
//   kMaxFramesPerByte         the most frames any format we read packs into one byte
//   kMaxSampleMagnitude       the largest sample a reader hands on
//
// libsndfile records the reason of a failed open in process-wide state, so
// two threads that fail to open files at the same moment race on it (the
// scan's analysis workers, the busy task and the recipe preview all open
// files). Opens go through this one gate; reads need no lock. The file is
// opened and checked before the gate is taken: a pipe or a device named by a
// project never holds the lock, and never opens.
#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// Silence packs tightest in FLAC (a constant block of 65535 frames takes a
// dozen bytes) and Opus (120 ms in a packet of a byte or two). A header that
// claims more frames than this many per byte of the file lies, and the frame
// count handed out is cut to what the file can hold, so a reader that sizes
// its buffers from it allocates in proportion to the file, never to a claim.
inline constexpr int64_t kMaxFramesPerByte = 8192;

// A float file may hold any number: beyond this magnitude (120 dB above full
// scale) a sample is clamped as it is read, so that the gains, filters and
// sums downstream never overflow to infinity.
inline constexpr float kMaxSampleMagnitude = 1.0e6f;

// Null when the path is not a regular file that opens (with the reason in
// *problem when given) or libsndfile cannot read it. info->frames is what the
// file holds: a length its header claims is checked by decoding the claimed
// last frame, and a file whose claim fails (cut short) is counted by
// decoding it once.
SNDFILE* OpenSoundFileForReading(const std::string& path, SF_INFO* info, std::string* problem = nullptr);

// Reads up to `frames` frames of `channels` interleaved floats; returns the
// frames read (0 at the end or on an error). A float file may hold NaN or
// infinities: they become 0 here, where they enter the program, and other
// samples are clamped to kMaxSampleMagnitude.
int64_t ReadSoundFrames(SNDFILE* file, float* buffer, int64_t frames, int channels);

// True when `path` is a regular file that opens as sound with at least one
// frame and one channel: what a file must be before a sound reference may
// point at it.
bool FileOpensAsSound(const std::string& path);

// FileOpensAsSound for `fd`, a regular file of `size` bytes the caller opened
// (OpenRegularFile) and keeps open: libsndfile reads its header through the
// descriptor, so the check and whatever the caller reads next see the same
// file. The descriptor's offset moves; read on with pread.
bool DescriptorOpensAsSound(int fd, uint64_t size);

// Reads up to `frames` frames from `reader` (its Read(float*, frames) returns
// the frames it gave, fewer than 1 at the end or on an error), `block` frames
// at a time through `buf` (room for `block` frames of `channels`), and calls
// frame(samples, index) for every frame in order: its `channels` samples and
// its index from the first frame read. Returns the frames read.
template <class Reader, class Frame>
int64_t StreamFrames(Reader& reader, int64_t frames, int64_t block, std::vector<float>& buf, int channels,
                     Frame&& frame) {
    int64_t done = 0;
    while (done < frames) {
        const int64_t got = reader.Read(buf.data(), std::min(block, frames - done));
        if (got < 1) break;
        for (int64_t f = 0; f < got; ++f) frame(buf.data() + f * channels, done + f);
        done += got;
    }
    return done;
}
