// demo_sounds.h — the demo library's sounds, synthesised from fixed seeds.
//
// Index
//   DemoSound            one sound: file stem, length, channels and its recipe
//   DemoSounds           the sounds of the demo library, several of each kind
//   SynthesizeDemoSound  the interleaved samples of one sound
//   WriteDemoSound       a 24-bit WAV file of it
//
// The same build always writes the same samples: every random value comes
// from the sound's own seed, never from the clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int kDemoSampleRate = 48000;

enum class DemoRecipe { HeavyImpact, MetalImpact, Whoosh, Rain, Wind, Gravel, DoorSlam, GlassBreak, Drone, Riser };

struct DemoSound {
    const char* stem;  // file name without ".wav"; plain category words first
    double seconds;
    int channels;
    DemoRecipe recipe;
    float intensity;   // 0..1: how dense or bright the recipe plays
    uint64_t seed;
};

const std::vector<DemoSound>& DemoSounds();

// Interleaved, peak-normalised to -3 dBFS, with 5 ms fades at both ends.
std::vector<float> SynthesizeDemoSound(const DemoSound& sound);

// False with `error` filled when the file cannot be written.
bool WriteDemoSound(const DemoSound& sound, const std::string& path, std::string& error);
