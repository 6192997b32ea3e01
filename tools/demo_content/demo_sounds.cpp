// demo_sounds.cpp — synthesis of the demo library's sounds.
//
// Index
//   Rng, OnePole, BandPass   seeded noise and the two filters every recipe uses
//   Recipes                  one function per DemoRecipe, writing one channel
//   DemoSounds               the table of sounds
//   SynthesizeDemoSound      channels, seamless loops, normalisation, fades
//   WriteDemoSound           24-bit WAV through libsndfile
#include "demo_content/demo_sounds.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kRate = kDemoSampleRate;
constexpr double kLoopCrossfade = 0.5;  // seconds blended from the end into the start
constexpr double kEdgeFade = 0.005;     // seconds

// ---------------------------------------------------------------------------
// Rng, OnePole, BandPass
// ---------------------------------------------------------------------------

// xorshift64*: small, fast and the same on every platform (the standard
// library's distributions are not).
struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
    uint64_t Next() {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }  // [0, 1)
    double Bipolar() { return 2.0 * Uniform() - 1.0; }
    double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
};

struct OnePole {
    double a = 1, y = 0;
    void SetCutoff(double hz) { a = 1.0 - std::exp(-kTwoPi * hz / kRate); }
    double Low(double x) { return y += a * (x - y); }
    double High(double x) { return x - Low(x); }
};

// Band-pass with 0 dB at its centre; cheap enough to retune every sample.
struct BandPass {
    double b0 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    void Set(double hz, double q) {
        const double w = kTwoPi * std::clamp(hz, 20.0, kRate * 0.45) / kRate;
        const double alpha = std::sin(w) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        b0 = alpha / a0;
        b2 = -alpha / a0;
        a1 = -2.0 * std::cos(w) / a0;
        a2 = (1.0 - alpha) / a0;
    }
    double Run(double x) {
        const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// A short event inside a sound: a grain of noise or a ringing partial.
struct Grain {
    double start, length, amplitude, frequency, decay, phase;
};

// ---------------------------------------------------------------------------
// Recipes: each fills `out` (one channel) from its own generator
// ---------------------------------------------------------------------------

// A heavy mass hitting the ground: a short broadband crack (the whole
// spectrum for a few milliseconds), then the body, a low tone falling from
// about 110 Hz to 40 Hz, and a low thud of filtered noise. Almost all of its
// energy lies below 250 Hz.
void HeavyImpact(std::vector<double>& out, Rng& rng, float intensity) {
    OnePole thudLow, thudLower;  // two poles: the thud stays under a couple of hundred hertz
    thudLow.SetCutoff(180);
    thudLower.SetCutoff(180);
    const double drop = 38.0 + 10.0 * intensity;  // where the body's pitch ends
    double phase = rng.Range(0, kTwoPi);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += kTwoPi * (drop + 72.0 * std::exp(-t * 9.0)) / kRate;
        const double body = std::sin(phase) * std::exp(-t * (3.5 - 1.5 * intensity));
        const double thud = thudLower.Low(thudLow.Low(rng.Bipolar())) * std::exp(-t * 7.0);
        const double crack = rng.Bipolar() * std::exp(-t * (260.0 - 80.0 * intensity));
        out[i] = body + 5.0 * thud + (0.5 + 0.4 * intensity) * crack;
    }
}

// Struck metal: a few milliseconds of bright noise, then the plate's modes
// ringing out. The modes are inharmonic (a plate's, not a string's), start
// at 500–900 Hz and reach past 10 kHz; the high ones die a little sooner
// than the low ones, so the ring keeps its bite for most of a second.
void MetalImpact(std::vector<double>& out, Rng& rng, float intensity) {
    constexpr int kModes = 12;
    const double ratios[kModes] = {1.0, 1.47, 2.09, 2.56, 3.39, 4.17, 5.02, 6.13, 7.41, 8.93, 10.7, 12.6};
    const double base = 640.0 + 460.0 * intensity;
    double freq[kModes], amp[kModes], decay[kModes], phase[kModes];
    for (int k = 0; k < kModes; ++k) {
        freq[k] = std::min(base * ratios[k] * rng.Range(0.99, 1.01), 0.45 * kRate);
        amp[k] = rng.Range(0.6, 1.0) / (1.0 + 0.04 * k);
        decay[k] = 2.6 + 0.45 * k;
        phase[k] = rng.Range(0, kTwoPi);
    }
    OnePole strikeHigh;
    strikeHigh.SetCutoff(2500);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = 1.5 * strikeHigh.High(rng.Bipolar()) * std::exp(-t * 180.0);  // the strike
        for (int k = 0; k < kModes; ++k) v += amp[k] * std::exp(-t * decay[k]) * std::sin(phase[k] + kTwoPi * freq[k] * t);
        out[i] = v;
    }
}

void Whoosh(std::vector<double>& out, Rng& rng, float intensity) {
    BandPass band;
    const double n = static_cast<double>(out.size());
    const double low = 250.0, high = 1200.0 + 2400.0 * intensity;
    for (size_t i = 0; i < out.size(); ++i) {
        const double p = static_cast<double>(i) / n;
        const double swell = std::sin(kTwoPi * 0.5 * std::pow(p, 0.8));
        band.Set(low + (high - low) * std::sin(kTwoPi * 0.5 * p), 1.2);
        out[i] = band.Run(rng.Bipolar()) * swell * swell;
    }
}

void Rain(std::vector<double>& out, Rng& rng, float intensity) {
    OnePole hissLow, hissHigh, dropHigh;
    hissLow.SetCutoff(3500);
    hissHigh.SetCutoff(300);
    dropHigh.SetCutoff(2500);
    const double dropChance = (40.0 + 260.0 * intensity) / kRate;
    const double dropDecay = std::exp(-400.0 / kRate);
    double drop = 0;
    for (double& sample : out) {
        const double hiss = hissHigh.High(hissLow.Low(rng.Bipolar()));
        if (rng.Uniform() < dropChance) drop = std::max(drop, rng.Range(0.3, 1.0));
        drop *= dropDecay;
        sample = (0.2 + 0.2 * intensity) * hiss + drop * dropHigh.High(rng.Bipolar());
    }
}

void Wind(std::vector<double>& out, Rng& rng, float intensity) {
    OnePole body;
    BandPass whistle;
    whistle.Set(650.0 + 300.0 * intensity, 8.0);
    const double phaseA = rng.Range(0, kTwoPi), phaseB = rng.Range(0, kTwoPi);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        body.SetCutoff(250.0 + 500.0 * (0.5 + 0.5 * std::sin(kTwoPi * 0.23 * t + phaseA)));
        const double gust = 0.4 + 0.6 * (0.5 + 0.5 * std::sin(kTwoPi * 0.37 * t + phaseB));
        const double noise = rng.Bipolar();
        out[i] = gust * (body.Low(noise) + 0.3 * intensity * whistle.Run(noise));
    }
}

void Gravel(std::vector<double>& out, Rng& rng, float intensity) {
    std::vector<Grain> grains(static_cast<size_t>(10 + 20 * intensity));
    for (Grain& g : grains) {
        const double early = rng.Uniform();
        g = Grain{0.25 * early * early, rng.Range(0.005, 0.02), rng.Range(0.2, 1.0), 0, 0, 0};
    }
    // The crunch's colour follows the intensity from soft soil (220 Hz) to
    // sharp stones (4.4 kHz), through two band-passes so little falls
    // outside: steps across the middle weights, so the footsteps' Scatter
    // finds one for any weight its curve and spread ask for. Each step keeps
    // to about one band of the spectrum (wider as it gets brighter), so next
    // to the broader sounds of the other kinds it never fits another event
    // well enough to stand in for that event's own sounds.
    BandPass crunch, narrow;
    const double centre = 220.0 * std::pow(20.0, static_cast<double>(intensity));
    const double q = 2.0 - 1.2 * static_cast<double>(intensity);
    crunch.Set(centre, q);
    narrow.Set(centre, q);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double level = 0;
        for (const Grain& g : grains)
            if (t >= g.start && t < g.start + g.length) level += g.amplitude * (1.0 - (t - g.start) / g.length);
        out[i] = narrow.Run(crunch.Run(rng.Bipolar())) * level * std::exp(-t * 6.0);
    }
}

void DoorSlam(std::vector<double>& out, Rng& rng, float intensity) {
    BandPass rattle;
    rattle.Set(900, 3.0);
    double phase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += kTwoPi * (45.0 + 15.0 * std::exp(-t * 12.0)) / kRate;
        const double thud = std::sin(phase) * std::exp(-t * 7.0);
        const double latch = rng.Bipolar() * std::exp(-t * 300.0);
        const double shake = t < 0.02 ? 0.0 : (0.5 + 0.5 * std::sin(kTwoPi * 23.0 * t)) * std::exp(-(t - 0.02) * 6.0);
        out[i] = thud + 0.5 * latch + (1.0 + 2.0 * intensity) * shake * rattle.Run(rng.Bipolar());
    }
}

void GlassBreak(std::vector<double>& out, Rng& rng, float intensity) {
    std::vector<Grain> shards(static_cast<size_t>(24 + 24 * intensity));
    for (Grain& s : shards) {
        const double early = rng.Uniform();
        s = Grain{0.25 * early * early, 0, rng.Range(0.1, 0.5), rng.Range(2500, 9000), rng.Range(8, 25),
                  rng.Range(0, kTwoPi)};
    }
    OnePole crash;
    crash.SetCutoff(3000);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = crash.High(rng.Bipolar()) * std::exp(-t * 15.0);
        for (const Grain& s : shards) {
            if (t < s.start) continue;
            const double age = t - s.start;
            v += s.amplitude * std::exp(-age * s.decay) * std::sin(s.phase + kTwoPi * s.frequency * age);
        }
        out[i] = v;
    }
}

void Drone(std::vector<double>& out, Rng& rng, float intensity) {
    const double detune = rng.Range(-0.15, 0.15);
    const double freqs[] = {55.0 + detune, 55.35 - detune, 82.5, 110.2 + detune};
    const double lfo[] = {0.07, 0.11, 0.05, 0.13};
    double phases[4];
    for (double& p : phases) p = rng.Range(0, kTwoPi);
    OnePole rumble, darker;  // two poles: no hiss above the tones
    rumble.SetCutoff(120);
    darker.SetCutoff(120);
    for (size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double v = (1.0 + 2.0 * intensity) * darker.Low(rumble.Low(rng.Bipolar()));
        for (int k = 0; k < 4; ++k)
            v += (0.6 + 0.4 * std::sin(kTwoPi * lfo[k] * t + phases[k])) * std::sin(kTwoPi * freqs[k] * t + phases[k]) /
                 double(k + 1);
        out[i] = v;
    }
}

void Riser(std::vector<double>& out, Rng& rng, float intensity) {
    BandPass air;
    const double n = static_cast<double>(out.size());
    double phase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        const double p = static_cast<double>(i) / n;
        phase += kTwoPi * 180.0 * std::pow(5.0, p) / kRate;
        air.Set(500.0 + 4000.0 * p, 2.0);
        const double rise = p * p;
        out[i] = rise * (0.6 * std::sin(phase) + (0.5 + intensity) * air.Run(rng.Bipolar()));
    }
}

void RunRecipe(DemoRecipe recipe, std::vector<double>& out, Rng& rng, float intensity) {
    switch (recipe) {
        case DemoRecipe::HeavyImpact: HeavyImpact(out, rng, intensity); break;
        case DemoRecipe::MetalImpact: MetalImpact(out, rng, intensity); break;
        case DemoRecipe::Whoosh: Whoosh(out, rng, intensity); break;
        case DemoRecipe::Rain: Rain(out, rng, intensity); break;
        case DemoRecipe::Wind: Wind(out, rng, intensity); break;
        case DemoRecipe::Gravel: Gravel(out, rng, intensity); break;
        case DemoRecipe::DoorSlam: DoorSlam(out, rng, intensity); break;
        case DemoRecipe::GlassBreak: GlassBreak(out, rng, intensity); break;
        case DemoRecipe::Drone: Drone(out, rng, intensity); break;
        case DemoRecipe::Riser: Riser(out, rng, intensity); break;
    }
}

bool IsLoop(const DemoSound& sound) { return sound.recipe == DemoRecipe::Rain || sound.recipe == DemoRecipe::Drone; }

}  // namespace

const std::vector<DemoSound>& DemoSounds() {
    // Every kind brings more sounds than its demo event has layers (a render
    // never uses one file twice in an event): once an event's own kind runs
    // out, its next layer would take any sound of the right weight. A Spot
    // stacks up to five layers, so each kind of impact has six. Only the
    // impacts' names hold "heavy" and "metal": their events require them.
    static const std::vector<DemoSound> sounds = {
        {"impact_heavy_01", 1.2, 1, DemoRecipe::HeavyImpact, 0.8f, 101},
        {"impact_heavy_02", 1.0, 1, DemoRecipe::HeavyImpact, 0.5f, 103},
        {"impact_heavy_03", 1.4, 1, DemoRecipe::HeavyImpact, 0.3f, 104},
        {"impact_heavy_04", 1.1, 1, DemoRecipe::HeavyImpact, 0.1f, 105},
        {"impact_heavy_05", 1.3, 1, DemoRecipe::HeavyImpact, 0.65f, 109},
        {"impact_heavy_06", 1.2, 1, DemoRecipe::HeavyImpact, 0.2f, 110},
        {"impact_metal_01", 1.3, 1, DemoRecipe::MetalImpact, 0.3f, 106},
        {"impact_metal_02", 1.5, 1, DemoRecipe::MetalImpact, 0.5f, 102},
        {"impact_metal_03", 1.2, 1, DemoRecipe::MetalImpact, 0.15f, 107},
        {"impact_metal_04", 1.4, 1, DemoRecipe::MetalImpact, 0.0f, 108},
        {"impact_metal_05", 1.1, 1, DemoRecipe::MetalImpact, 0.75f, 111},
        {"impact_metal_06", 1.6, 1, DemoRecipe::MetalImpact, 1.0f, 112},
        {"whoosh_fast_01", 0.8, 1, DemoRecipe::Whoosh, 0.9f, 201},
        {"whoosh_slow_02", 2.0, 1, DemoRecipe::Whoosh, 0.3f, 202},
        {"whoosh_short_03", 1.0, 1, DemoRecipe::Whoosh, 0.1f, 203},
        {"whoosh_wide_04", 2.5, 1, DemoRecipe::Whoosh, 0.6f, 204},
        {"whoosh_low_05", 1.6, 1, DemoRecipe::Whoosh, 0.0f, 205},
        {"rain_light_loop", 4.0, 2, DemoRecipe::Rain, 0.2f, 301},
        {"rain_storm_loop", 4.0, 2, DemoRecipe::Rain, 0.9f, 302},
        {"wind_gust_01", 4.0, 1, DemoRecipe::Wind, 0.6f, 401},
        {"wind_gust_02", 4.0, 1, DemoRecipe::Wind, 0.4f, 402},
        {"wind_gust_03", 4.0, 1, DemoRecipe::Wind, 0.8f, 403},
        {"wind_gust_04", 4.0, 1, DemoRecipe::Wind, 0.2f, 404},
        {"wind_gust_05", 4.0, 1, DemoRecipe::Wind, 1.0f, 405},
        // A render never uses one file twice in an event, so the Scatter of
        // footsteps needs a step for each grain it places.
        {"footstep_gravel_01", 0.4, 1, DemoRecipe::Gravel, 0.20f, 501},
        {"footstep_gravel_02", 0.35, 1, DemoRecipe::Gravel, 0.24f, 502},
        {"footstep_gravel_03", 0.45, 1, DemoRecipe::Gravel, 0.29f, 503},
        {"footstep_gravel_04", 0.4, 1, DemoRecipe::Gravel, 0.33f, 504},
        {"footstep_gravel_05", 0.3, 1, DemoRecipe::Gravel, 0.38f, 505},
        {"footstep_gravel_06", 0.4, 1, DemoRecipe::Gravel, 0.42f, 506},
        {"footstep_gravel_07", 0.35, 1, DemoRecipe::Gravel, 0.47f, 507},
        {"footstep_gravel_08", 0.45, 1, DemoRecipe::Gravel, 0.51f, 508},
        {"footstep_gravel_09", 0.4, 1, DemoRecipe::Gravel, 0.56f, 509},
        {"footstep_gravel_10", 0.3, 1, DemoRecipe::Gravel, 0.60f, 510},
        {"footstep_gravel_11", 0.35, 1, DemoRecipe::Gravel, 0.65f, 511},
        {"footstep_gravel_12", 0.45, 1, DemoRecipe::Gravel, 0.69f, 512},
        {"footstep_gravel_13", 0.4, 1, DemoRecipe::Gravel, 0.74f, 513},
        {"footstep_gravel_14", 0.35, 1, DemoRecipe::Gravel, 0.78f, 514},
        {"door_slam_01", 1.4, 1, DemoRecipe::DoorSlam, 0.6f, 601},
        {"glass_break_01", 1.6, 1, DemoRecipe::GlassBreak, 0.7f, 701},
        {"glass_break_02", 1.3, 1, DemoRecipe::GlassBreak, 0.4f, 702},
        {"glass_break_03", 1.8, 1, DemoRecipe::GlassBreak, 1.0f, 703},
        {"glass_break_04", 1.2, 1, DemoRecipe::GlassBreak, 0.2f, 704},
        {"drone_dark_loop", 4.0, 2, DemoRecipe::Drone, 0.4f, 801},
        {"riser_tension_01", 3.0, 1, DemoRecipe::Riser, 0.5f, 901},
        {"riser_tension_02", 3.5, 1, DemoRecipe::Riser, 0.2f, 902},
        {"riser_tension_03", 2.5, 1, DemoRecipe::Riser, 0.8f, 903},
        {"riser_tension_04", 4.0, 1, DemoRecipe::Riser, 0.0f, 904},
    };
    return sounds;
}

std::vector<float> SynthesizeDemoSound(const DemoSound& sound) {
    const size_t frames = static_cast<size_t>(sound.seconds * kRate);
    const size_t blend = IsLoop(sound) ? static_cast<size_t>(kLoopCrossfade * kRate) : 0;
    const size_t channels = static_cast<size_t>(sound.channels);
    std::vector<float> interleaved(frames * channels);
    std::vector<double> channel(frames + blend);
    const size_t fade = IsLoop(sound) ? 0 : static_cast<size_t>(kEdgeFade * kRate);
    double peak = 0;
    std::vector<std::vector<double>> rendered;
    for (size_t c = 0; c < channels; ++c) {
        Rng rng(sound.seed * 31 + c);  // each channel its own noise: a wide stereo image
        std::fill(channel.begin(), channel.end(), 0.0);
        RunRecipe(sound.recipe, channel, rng, sound.intensity);
        // A loop's extra tail is blended into its head with equal power, so
        // the last sample leads straight back into the first.
        for (size_t i = 0; i < blend; ++i) {
            const double x = (static_cast<double>(i) + 0.5) / static_cast<double>(blend);
            channel[i] = channel[i] * std::sin(0.25 * kTwoPi * x) + channel[frames + i] * std::cos(0.25 * kTwoPi * x);
        }
        channel.resize(frames);
        // The edge fades come before the peak is taken: a strike at the very
        // start still reaches -3 dBFS.
        for (size_t i = 0; i < frames; ++i) {
            if (i < fade) channel[i] *= static_cast<double>(i) / static_cast<double>(fade);
            if (frames - 1 - i < fade) channel[i] *= static_cast<double>(frames - 1 - i) / static_cast<double>(fade);
            peak = std::max(peak, std::fabs(channel[i]));
        }
        rendered.push_back(channel);
        channel.resize(frames + blend);
    }
    const double gain = peak > 0 ? 0.7079 / peak : 0.0;
    for (size_t c = 0; c < channels; ++c)
        for (size_t i = 0; i < frames; ++i) interleaved[i * channels + c] = static_cast<float>(rendered[c][i] * gain);
    return interleaved;
}

bool WriteDemoSound(const DemoSound& sound, const std::string& path, std::string& error) {
    const std::vector<float> samples = SynthesizeDemoSound(sound);
    SF_INFO info{};
    info.samplerate = kDemoSampleRate;
    info.channels = sound.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    const sf_count_t frames = static_cast<sf_count_t>(samples.size() / static_cast<size_t>(sound.channels));
    const bool complete = sf_writef_float(file, samples.data(), frames) == frames;
    if (!complete) error = path + ": " + sf_strerror(file);
    return sf_close(file) == 0 && complete;
}
