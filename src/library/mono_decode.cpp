// mono_decode.cpp — MonoDecoder: choosing the path, unpacking, mixing.
//
// Index
//   ChoosePath     raw bytes for plain 16/24-bit PCM, integers, or floats
//   Unpack*        raw 16/24-bit samples of either byte order into integers
//   Mix*           integers or floats into the mono mix
//   RawMixAvx2     raw mono or stereo straight into the mix, eight samples at a time
//   MonoDecoder    the constructor and Read
#include "library/mono_decode.h"

#include <immintrin.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "library/sound_file_open.h"
#include "platform/processor.h"

namespace {

// The loops below are built for processors with AVX2 and for the rest
// (TL_TWO_BUILDS); both give the same bits.

bool PlainPcmContainer(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
        case SF_FORMAT_W64:
        case SF_FORMAT_RF64:
        case SF_FORMAT_AIFF:
        case SF_FORMAT_CAF:
            return true;
        default:
            return false;
    }
}

bool IntegerSubtype(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
            return true;
        default:
            return false;
    }
}

// ---- Unpack ----------------------------------------------------------------------

TL_BODY void Unpack16Body(const unsigned char* __restrict in, int32_t* __restrict out, int64_t count, bool bigEndian) {
    const int lo = bigEndian ? 1 : 0, hi = 1 - lo;
    for (int64_t i = 0; i < count; ++i) {
        const uint32_t v = uint32_t(in[2 * i + lo]) | uint32_t(in[2 * i + hi]) << 8;
        out[i] = int32_t(v << 16) >> 16;
    }
}
TL_TWO_BUILDS(void, Unpack16,
              (const unsigned char* __restrict in, int32_t* __restrict out, int64_t count, bool bigEndian),
              (in, out, count, bigEndian))

TL_BODY void Unpack24Body(const unsigned char* __restrict in, int32_t* __restrict out, int64_t count, bool bigEndian) {
    const int b0 = bigEndian ? 2 : 0, b2 = 2 - b0;
    for (int64_t i = 0; i < count; ++i) {
        const uint32_t v = uint32_t(in[3 * i + b0]) | uint32_t(in[3 * i + 1]) << 8 | uint32_t(in[3 * i + b2]) << 16;
        out[i] = int32_t(v << 8) >> 8;
    }
}
TL_TWO_BUILDS(void, Unpack24,
              (const unsigned char* __restrict in, int32_t* __restrict out, int64_t count, bool bigEndian),
              (in, out, count, bigEndian))

// ---- Mix -------------------------------------------------------------------------

// The mix of `frames` frames whose samples sample(in, i) reads: mono and
// stereo in their own loops, which the compiler runs on several frames at once.
template <class T, class Sample>
inline void MixFrames(const T* __restrict in, int64_t frames, int channels, double scale, double* __restrict mono,
                      Sample sample) {
    if (channels == 1) {
        for (int64_t i = 0; i < frames; ++i) mono[i] = sample(in[i]) * scale;
    } else if (channels == 2) {
        for (int64_t i = 0; i < frames; ++i) mono[i] = (sample(in[2 * i]) + sample(in[2 * i + 1])) * scale;
    } else {
        for (int64_t i = 0; i < frames; ++i) {
            const T* frame = in + i * channels;
            double sum = 0.0;
            for (int c = 0; c < channels; ++c) sum += sample(frame[c]);
            mono[i] = sum * scale;
        }
    }
}

// Every integer sum of up to 2^21 channels of 32-bit samples is exact in a
// double, so only the final scaling rounds.
TL_BODY void MixIntegersBody(const int32_t* __restrict in, int64_t frames, int channels, double scale,
                             double* __restrict mono) {
    MixFrames(in, frames, channels, scale, mono, [](int32_t v) { return double(v); });
}
TL_TWO_BUILDS(void, MixIntegers,
              (const int32_t* __restrict in, int64_t frames, int channels, double scale, double* __restrict mono),
              (in, frames, channels, scale, mono))

// A float sample that is not finite counts as silence; one beyond the limit
// is clamped, so that no sum, spectrum or ratio downstream can overflow.
inline double CleanSample(float v) {
    if (!(std::fabs(v) <= std::numeric_limits<float>::max())) return 0.0;  // NaN too
    return double(v < -kMaxSampleMagnitude ? -kMaxSampleMagnitude
                                           : (v > kMaxSampleMagnitude ? kMaxSampleMagnitude : v));
}

TL_BODY void MixFloatsBody(const float* __restrict in, int64_t frames, int channels, double scale,
                           double* __restrict mono) {
    MixFrames(in, frames, channels, scale, mono, CleanSample);
}
TL_TWO_BUILDS(void, MixFloats,
              (const float* __restrict in, int64_t frames, int channels, double scale, double* __restrict mono),
              (in, frames, channels, scale, mono))

// ---- RawMixAvx2 --------------------------------------------------------------------

// Mono or stereo raw samples of `width` bytes (2 or 3) into the mix, for
// processors with AVX2: each 128-bit half of a register takes four samples,
// a byte shuffle puts each sample's bytes at the top of a 32-bit lane (in
// either byte order) and an arithmetic shift brings it down with its sign.
// Stereo pairs are added as integers (exact: they have at most 25 bits), so
// every frame's mix is the same number the plain path gives. Returns the
// frames done; the caller mixes the rest.
__attribute__((target("avx2"))) int64_t RawMixAvx2(const unsigned char* in, int64_t frames, int channels, int width,
                                                   bool bigEndian, double scale, double* mono) {
    // Byte b of sample s (of four) goes to byte 4 s + 4 - width + b of the
    // lane; the rest of the lane is zero.
    alignas(16) signed char pick[16];
    for (int s = 0; s < 4; ++s) {
        for (int b = 0; b < 4; ++b) {
            const int fromTop = 3 - b;  // 0: the lane's top byte, the sample's most significant
            pick[4 * s + b] = fromTop < width
                                  ? static_cast<signed char>(width * s + (bigEndian ? fromTop : width - 1 - fromTop))
                                  : -1;
        }
    }
    const __m128i half = _mm_load_si128(reinterpret_cast<const __m128i*>(pick));
    const __m256i shuffle = _mm256_set_m128i(half, half);
    const int shift = 32 - 8 * width;
    const __m256d scaleV = _mm256_set1_pd(scale);
    // Eight samples take 8 x width bytes; the loads reach 16 - 4 x width past
    // each half, so the last group stops that far before the end.
    const int64_t samples = frames * channels;
    const int64_t step = 4 * width;
    int64_t i = 0;
    for (; i + 8 <= samples && (i + 4) * width + 16 <= samples * width; i += 8) {
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i * width));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i * width + step));
        const __m256i packed = _mm256_set_m128i(hi, lo);
        const __m256i lanes = _mm256_srai_epi32(_mm256_shuffle_epi8(packed, shuffle), shift);
        if (channels == 1) {
            _mm256_storeu_pd(mono + i, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(lanes)), scaleV));
            _mm256_storeu_pd(mono + i + 4,
                             _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(lanes, 1)), scaleV));
        } else {
            // (L0 R0 L1 R1 | L2 R2 L3 R3): pairwise sums, then the four frames in order.
            const __m256i sums = _mm256_hadd_epi32(lanes, lanes);
            const __m256i ordered = _mm256_permute4x64_epi64(sums, 0x08);  // lanes 0 and 2 of 64 bits
            _mm256_storeu_pd(mono + i / 2, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(ordered)), scaleV));
        }
    }
    return i / channels;
}

}  // namespace

// ---- MonoDecoder -----------------------------------------------------------------

MonoDecoder::MonoDecoder(SNDFILE* file, const SF_INFO& info, VectorBuild build)
    : file_(file), build_(build), channels_(info.channels < 1 ? 1 : info.channels), path_(Path::Float) {
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    if (PlainPcmContainer(info.format) && (subtype == SF_FORMAT_PCM_16 || subtype == SF_FORMAT_PCM_24)) {
        path_ = subtype == SF_FORMAT_PCM_16 ? Path::Raw16 : Path::Raw24;
        const bool swap = sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_TRUE;
        bigEndian_ = (std::endian::native == std::endian::big) != swap;
    } else if (IntegerSubtype(info.format)) {
        path_ = Path::Integer;
    }
}

int64_t MonoDecoder::Read(double* mono, int64_t frames) {
    if (frames <= 0) return 0;
    const size_t samples = size_t(frames) * size_t(channels_);
    const double perChannel = 1.0 / double(channels_);
    switch (path_) {
        case Path::Raw16:
        case Path::Raw24: {
            const int width = path_ == Path::Raw16 ? 2 : 3;
            const size_t want = samples * size_t(width);
            unsigned char* bytes = bytes_.Reserve(want);
            int32_t* integers = integers_.Reserve(samples);
            const sf_count_t got = sf_read_raw(file_, bytes, sf_count_t(want));
            const int64_t n = got > 0 ? int64_t(got) / (int64_t(width) * channels_) : 0;
            if (n < 1) return 0;
            // 2^-(bits - 1) is a power of two: scaling by it is exact.
            const double scale = perChannel * std::ldexp(1.0, width == 2 ? -15 : -23);
            int64_t done = 0;
            if (build_ == VectorBuild::Avx2 && channels_ <= 2) done = RawMixAvx2(bytes, n, channels_, width, bigEndian_, scale, mono);
            const unsigned char* rest = bytes + done * channels_ * width;
            const int64_t left = (n - done) * channels_;
            if (width == 2)
                Unpack16(build_, rest, integers, left, bigEndian_);
            else
                Unpack24(build_, rest, integers, left, bigEndian_);
            MixIntegers(build_, integers, n - done, channels_, scale, mono + done);
            return n;
        }
        case Path::Integer: {
            // libsndfile hands integers of every width left-justified in 32 bits.
            int32_t* integers = integers_.Reserve(samples);
            const sf_count_t n = sf_readf_int(file_, integers, frames);
            if (n < 1) return 0;
            MixIntegers(build_, integers, n, channels_, perChannel * std::ldexp(1.0, -31), mono);
            return n;
        }
        case Path::Float:
        default: {
            float* floats = floats_.Reserve(samples);
            const sf_count_t n = sf_readf_float(file_, floats, frames);
            if (n < 1) return 0;
            MixFloats(build_, floats, n, channels_, perChannel, mono);
            return n;
        }
    }
}
