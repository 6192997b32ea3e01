// audio_fixtures.h — small synthetic audio files made at run time.
//
// Index
//   SignalKind / SampleFormat / AudioSpec   what to write
//   MakeSignal                              the samples of a spec, interleaved
//   WriteTestAudio                          write a spec to a file through libsndfile
//   WriteSamples                            write given interleaved samples
#pragma once

#include <string>
#include <vector>

enum class SignalKind { Sine, Noise, Silence, Clicks };
enum class SampleFormat { Pcm16, Pcm24, Float32 };

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
