// audio_fixtures.h — small synthetic audio files made at run time.
//
// Index
//   SignalKind / SampleFormat / AudioSpec   what to write
//   MakeSignal                              the samples of a spec, interleaved
//   WriteTestAudio                          write a spec to a file through libsndfile
//   WriteSamples                            write given interleaved samples
//   NoiseFileForRun                         a noise file written once per process (benchmarks)
//   NoiseSamples / SineSamples              plain sample vectors for DSP checks
//   WriteFloatWavAsIs                       a float WAV holding exactly the given values (NaN, inf)
//   ClaimOggFrames                          an Ogg file's last page made to claim another length
//   WavHolding                              the bytes of a WAV whose samples are a given text
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

enum class SignalKind { Sine, Noise, Silence, Clicks };
enum class SampleFormat { Pcm8, Pcm16, Pcm24, Float32 };  // 8 bit: unsigned in WAV, as libraries have it

struct AudioSpec {
    SignalKind kind = SignalKind::Sine;
    int sampleRate = 48000;
    int channels = 1;
    double seconds = 1.0;
    double frequency = 440.0;   // Sine
    double amplitude = 0.5;     // peak of Sine and Noise, height of Clicks
    double clickInterval = 0.5; // seconds between clicks (first click at 0)
    unsigned seed = 1;          // Noise
    SampleFormat format = SampleFormat::Pcm24;
    std::string container = "wav";  // wav, aiff, flac, w64, caf, ogg
};

std::vector<float> MakeSignal(const AudioSpec& spec);
bool WriteTestAudio(const std::string& path, const AudioSpec& spec);
bool WriteSamples(const std::string& path, const std::vector<float>& interleaved, int channels,
                  int sampleRate, SampleFormat format = SampleFormat::Pcm24,
                  const std::string& container = "wav");

// A 32-bit float WAV of the samples exactly as given, NaN and infinities
// included (what a broken or hostile float file holds).
bool WriteFloatWavAsIs(const std::string& path, const std::vector<float>& interleaved, int channels,
                       int sampleRate);

// Sets the granule position of the last page of the Ogg file at `path` (the
// length readers take as the file's frame count) and mends the page's
// checksum, so the damage lies in what the header claims, not in its bytes.
bool ClaimOggFrames(const std::string& path, uint64_t frames);

// The bytes of an 8-bit mono WAV whose samples are the bytes of `text`: a
// sound file (collection copies only sound) whose content is easy to tell.
std::string WavHolding(const std::string& text);

// n uniform samples in [-amplitude, amplitude] from a seeded generator.
std::vector<float> NoiseSamples(size_t n, unsigned seed, float amplitude = 0.5f);
// n samples of a sum of sines of `amp` each.
std::vector<float> SineSamples(size_t n, int rate, std::initializer_list<double> freqs, double amp);

// Path of a 24-bit noise WAV named `name` in a folder removed at exit; written on the first call for that name (later calls with the
// same name return the same file, whatever the other arguments).
const std::string& NoiseFileForRun(const std::string& name, int sampleRate, int channels,
                                   double seconds);
