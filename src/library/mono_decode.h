// mono_decode.h — the mono mix of a sound file's frames, decoded straight
// into what the analysis reads.
//
// Index
//   MonoDecoder   reads runs of frames from an open file as their mono mix in double
//
// The analysis wants one number per frame: the mean of the channels. Asking
// libsndfile for floats makes it convert every sample (and for 16- and
// 24-bit files the conversion costs more than the reading), and then the
// samples are read once more to mix them. Plain 16- and 24-bit PCM in WAV,
// AIFF and their kin is therefore read as the file's own bytes and turned
// into the mix in one pass; other integer files (FLAC among them) are read as
// integers, and only float and compressed files as floats, whose non-finite
// or absurd samples are mended here (NaN and infinities read as silence,
// magnitudes clamped to kMaxSampleMagnitude).
//
// Every path gives the same numbers: an integer sample s of b bits is
// s / 2^(b-1) exactly (as libsndfile's own conversion gives it), and the mix
// is the sum of the channels in channel order times 1 / channels, in double.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>

#include "platform/processor.h"

class MonoDecoder {
public:
    // `file` is open for reading at its first frame and stays owned by the
    // caller; `info` is what opening it gave (channels >= 1). `build` runs
    // the unpacking and mixing loops (both builds give the same bits).
    MonoDecoder(SNDFILE* file, const SF_INFO& info, VectorBuild build);

    // Reads up to `frames` frames and writes their mix to mono[0..n); returns
    // n, 0 at the end of the data or on a read error.
    int64_t Read(double* mono, int64_t frames);

private:
    enum class Path { Raw16, Raw24, Integer, Float };
    SNDFILE* file_;
    VectorBuild build_;
    int channels_;
    Path path_;
    bool bigEndian_ = false;  // byte order of the raw samples
    // Sized for the longest run asked for, never cleared: every read
    // overwrites what it uses.
    template <class T>
    struct Buffer {
        std::unique_ptr<T[]> data;
        size_t size = 0;
        T* Reserve(size_t n) {
            if (n > size) {
                data.reset(new T[n]);
                size = n;
            }
            return data.get();
        }
    };
    Buffer<unsigned char> bytes_;
    Buffer<int32_t> integers_;
    Buffer<float> floats_;
};
