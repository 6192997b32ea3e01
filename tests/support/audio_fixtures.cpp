#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <mutex>
#include <random>

std::vector<float> MakeSignal(const AudioSpec& spec) {
    const int64_t frames = static_cast<int64_t>(std::llround(spec.seconds * spec.sampleRate));
    std::vector<float> out(static_cast<size_t>(frames > 0 ? frames : 0) * spec.channels, 0.0f);
    uint32_t x = spec.seed ? spec.seed : 1;
    const int64_t clickStep =
        std::max<int64_t>(1, static_cast<int64_t>(std::llround(spec.clickInterval * spec.sampleRate)));
    for (int64_t i = 0; i < frames; ++i) {
        float v = 0.0f;
        switch (spec.kind) {
            case SignalKind::Sine:
                v = static_cast<float>(spec.amplitude *
                                       std::sin(2.0 * M_PI * spec.frequency * i / spec.sampleRate));
                break;
            case SignalKind::Noise:
                x ^= x << 13; x ^= x >> 17; x ^= x << 5;
                v = static_cast<float>(spec.amplitude * ((x / 4294967295.0) * 2.0 - 1.0));
                break;
            case SignalKind::Silence:
                break;
            case SignalKind::Clicks:
                v = (i % clickStep == 0) ? static_cast<float>(spec.amplitude) : 0.0f;
                break;
        }
        for (int c = 0; c < spec.channels; ++c) out[static_cast<size_t>(i) * spec.channels + c] = v;
    }
    return out;
}

bool WriteSamples(const std::string& path, const std::vector<float>& interleaved, int channels,
                  int sampleRate, SampleFormat format, const std::string& container) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    int major = SF_FORMAT_WAV;
    if (container == "aiff" || container == "aif") major = SF_FORMAT_AIFF;
    else if (container == "flac") major = SF_FORMAT_FLAC;
    else if (container == "w64") major = SF_FORMAT_W64;
    else if (container == "caf") major = SF_FORMAT_CAF;
    else if (container == "ogg") major = SF_FORMAT_OGG;
    int minor = format == SampleFormat::Pcm16 ? SF_FORMAT_PCM_16
              : format == SampleFormat::Pcm24 ? SF_FORMAT_PCM_24
              : format == SampleFormat::Pcm8  ? (major == SF_FORMAT_WAV ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8)
                                              : SF_FORMAT_FLOAT;
    if (major == SF_FORMAT_OGG) minor = SF_FORMAT_VORBIS;
    if (major == SF_FORMAT_FLAC && minor == SF_FORMAT_FLOAT) minor = SF_FORMAT_PCM_24;
    info.format = major | minor;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / channels);
    bool ok = sf_writef_float(f, interleaved.data(), frames) == frames;
    ok = sf_close(f) == 0 && ok;
    return ok;
}

bool WriteFloatWavAsIs(const std::string& path, const std::vector<float>& interleaved, int channels,
                       int sampleRate) {
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    sf_command(f, SFC_SET_CLIPPING, nullptr, SF_FALSE);
    const sf_count_t frames = static_cast<sf_count_t>(interleaved.size() / channels);
    bool ok = sf_writef_float(f, interleaved.data(), frames) == frames;
    return sf_close(f) == 0 && ok;
}

bool ClaimOggFrames(const std::string& path, uint64_t frames) {
    std::string bytes = ReadWholeFile(path);
    const size_t page = bytes.rfind("OggS");
    if (page == std::string::npos || page + 27 > bytes.size()) return false;
    const size_t segments = static_cast<unsigned char>(bytes[page + 26]);
    if (page + 27 + segments > bytes.size()) return false;
    size_t length = 27 + segments;
    for (size_t i = 0; i < segments; ++i) length += static_cast<unsigned char>(bytes[page + 27 + i]);
    if (page + length > bytes.size()) return false;
    for (int i = 0; i < 8; ++i) bytes[page + 6 + i] = static_cast<char>(frames >> (8 * i));
    for (int i = 0; i < 4; ++i) bytes[page + 22 + i] = 0;
    // The Ogg page checksum: CRC-32, polynomial 0x04C11DB7, unreflected, start 0.
    uint32_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint32_t>(static_cast<unsigned char>(bytes[page + i])) << 24;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    for (int i = 0; i < 4; ++i) bytes[page + 22 + i] = static_cast<char>(crc >> (8 * i));
    return WriteWholeFile(path, bytes);
}

std::string WavHolding(const std::string& text) {
    std::string wav;
    auto u32 = [&wav](uint32_t v) { for (int i = 0; i < 4; ++i) wav.push_back(char(v >> (8 * i))); };
    auto u16 = [&wav](uint16_t v) { wav.push_back(char(v)); wav.push_back(char(v >> 8)); };
    wav += "RIFF";
    u32(uint32_t(36 + text.size()));
    wav += "WAVEfmt ";
    u32(16);
    u16(1);     // PCM
    u16(1);     // mono
    u32(8000);  // frames per second
    u32(8000);  // bytes per second
    u16(1);     // bytes per frame
    u16(8);     // bits
    wav += "data";
    u32(uint32_t(text.size()));
    return wav + text;
}

bool WriteTestAudio(const std::string& path, const AudioSpec& spec) {
    return WriteSamples(path, MakeSignal(spec), spec.channels, spec.sampleRate, spec.format,
                        spec.container);
}

std::vector<float> NoiseSamples(size_t n, unsigned seed, float amplitude) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v) x = d(rng);
    return v;
}

std::vector<float> SineSamples(size_t n, int rate, std::initializer_list<double> freqs, double amp) {
    std::vector<float> v(n, 0.0f);
    for (size_t i = 0; i < n; ++i)
        for (double f : freqs) v[i] += float(amp * std::sin(2 * M_PI * f * double(i) / rate));
    return v;
}

const std::string& NoiseFileForRun(const std::string& name, int sampleRate, int channels,
                                   double seconds) {
    static std::mutex mutex;
    static TempDir dir;  // removed at exit
    static std::map<std::string, std::string> written;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = written.find(name);
    if (found != written.end()) return found->second;
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.sampleRate = sampleRate;
    spec.channels = channels;
    spec.seconds = seconds;
    const std::string path = dir.File(name);
    WriteTestAudio(path, spec);
    return written.emplace(name, path).first->second;
}
