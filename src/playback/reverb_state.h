// reverb_state.h — the memory and parameters of the engine's algorithmic reverb.
//
// Index
//   kReverb*              sizes of the delay memories
//   ReverbParamSet        one set of derived parameters (target or current)
//   ReverbState           delay network, diffusers, predelay, oscillators, filters
//
// Only the record lives here, so that the engine can hold it by value; the
// reverb's processing (initialisation, parameter derivation, block process)
// is written against it elsewhere. Everything starts zeroed: the reverb's own
// initialisation sets the defaults for the engine rate before the first block.
#pragma once

#include <array>
#include <cstdint>

constexpr int kReverbLines = 8;
constexpr int kReverbLineSize = 16384;      // index mask 16383
constexpr int kReverbStages = 3;
constexpr int kReverbDiffuserSize = 8192;   // index mask 8191
constexpr int kReverbTaps = kReverbStages * kReverbLines;
constexpr int kReverbPredelaySize = 19200;  // wraps at this many samples

struct ReverbParamSet {
    float gain = 0;
    float damping = 0;    // one-pole coefficient
    float feedback = 0;
    float diffusion = 0;  // mix of diffused and undiffused signal
    float tone = 0;       // one-pole coefficient
    std::array<float, kReverbLines> lineLength{};  // samples
    std::array<float, kReverbTaps> tapDelay{};     // samples
    float predelay = 0;                            // samples
    float modDepth = 0;
};

struct ReverbState {
    // Feedback delay network: the eight lines interleaved, sample n of line
    // k at [n x 8 + k], so that one sample of all eight is written at once.
    std::array<float, kReverbLineSize * kReverbLines> networkLines{};
    uint32_t writeIndex = 0;

    // Two banks of rotating phasors that modulate the read positions, with
    // their per-sample rotation increments (sin and cos of 2 pi f / rate).
    std::array<float, kReverbLines> oscASin{}, oscACos{};
    std::array<float, kReverbLines> oscBSin{}, oscBCos{};
    std::array<float, kReverbLines> incASin{}, incACos{};
    std::array<float, kReverbLines> incBSin{}, incBCos{};

    // Two one-pole damping states per line: the first filters of the eight
    // lines, then the second ones.
    std::array<float, 2 * kReverbLines> dampState{};

    // Diffusion stages, each with its eight lines interleaved like the network's.
    std::array<std::array<float, kReverbDiffuserSize * kReverbLines>, kReverbStages> diffuserLines{};
    std::array<uint32_t, kReverbStages> diffuserWrite{};
    std::array<int32_t, kReverbTaps> tapSigns{};

    // Predelay (one shared write index).
    std::array<float, kReverbPredelaySize> predelayL{};
    std::array<float, kReverbPredelaySize> predelayR{};
    uint32_t predelayWrite = 0;

    // Tone filter and output DC blockers.
    float toneL = 0, toneR = 0;
    float dcInL = 0, dcInR = 0;
    float dcOutL = 0, dcOutR = 0;

    ReverbParamSet target;
    ReverbParamSet current;
    std::array<int32_t, kReverbTaps> tapInt{};
    std::array<float, kReverbTaps> tapFrac{};
    int32_t predelayInt = 0;
    float predelayFrac = 0;
    uint8_t converged = 0;

    float smooth5ms = 0;
    float smooth50ms = 0;
    int32_t sampleRate = 0;
};
