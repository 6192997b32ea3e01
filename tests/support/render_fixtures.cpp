// render_fixtures.cpp — synthetic library entries and generated burst sounds.
//
// Index
//   Spectrum helpers     band centres, band of a frequency, centroid
//   Entries              MakeEntry, SetEntrySpectrum, MakeSyntheticEntries, MakeLibrary
//   Burst sounds         MakeBurstSamples, WriteBurstSound, EntryForBurstSound, MakeBurstLibrary
#include "support/render_fixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "support/audio_fixtures.h"

namespace {

constexpr float kBandCentres[5] = {0.1f, 0.3f, 0.5f, 0.7f, 0.9f};

float CentroidOf(const float energy[5]) {
    float num = 0, den = 0;
    for (int i = 0; i < 5; ++i) {
        num += kBandCentres[i] * energy[i];
        den += energy[i];
    }
    return den > 0 ? num / den : 0.5f;
}

void NormaliseToStrongest(float energy[5]) {
    float mx = 0;
    for (int i = 0; i < 5; ++i) mx = std::max(mx, energy[i]);
    if (mx > 0)
        for (int i = 0; i < 5; ++i) energy[i] /= mx;
}

int BandOfFrequency(double hz) {
    if (hz < 150) return 0;
    if (hz < 750) return 1;
    if (hz < 2000) return 2;
    if (hz < 6000) return 3;
    return 4;
}

struct FixtureRandom {
    uint32_t x;
    explicit FixtureRandom(unsigned seed) : x(seed ? seed : 1) {}
    float Next() {  // 0..1
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return static_cast<float>(x) / 4294967295.0f;
    }
    float Range(float lo, float hi) { return lo + (hi - lo) * Next(); }
};

}  // namespace

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------
void SetEntrySpectrum(LibraryEntry& entry, float weight) {
    const float u = 0.8f * std::clamp(weight, 0.0f, 1.0f) + 0.1f;
    for (int i = 0; i < 5; ++i) {
        const float d = kBandCentres[i] - u;
        entry.bandEnergy[i] = std::exp(-16.0f * d * d);
    }
    NormaliseToStrongest(entry.bandEnergy);
    entry.bandCentroid = CentroidOf(entry.bandEnergy);
    entry.brightness = std::clamp(weight, 0.0f, 1.0f);
}

LibraryEntry MakeEntry(const std::string& name, float duration, float weight) {
    LibraryEntry e;
    e.path = "/lib/" + name + ".wav";
    e.name = name;
    e.duration = duration;
    e.sampleRate = 48000;
    e.channels = 1;
    e.bits = 24;
    SetEntrySpectrum(e, weight);
    return e;
}

std::vector<LibraryEntry> MakeSyntheticEntries(int count, unsigned seed) {
    static const char* kWords[] = {"metal", "glass", "wood",   "water", "fire",  "wind",
                                   "door",  "impact", "whoosh", "rumble", "click", "scrape",
                                   "hit",   "crash", "drone",  "servo"};
    constexpr int kWordCount = static_cast<int>(sizeof kWords / sizeof kWords[0]);
    FixtureRandom rng(seed);
    std::vector<LibraryEntry> out;
    out.reserve(static_cast<size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        const char* a = kWords[static_cast<int>(rng.Next() * kWordCount) % kWordCount];
        const char* b = kWords[static_cast<int>(rng.Next() * kWordCount) % kWordCount];
        char name[96];
        std::snprintf(name, sizeof name, "%s_%s_%04d", a, b, i);
        // Durations spread log-uniformly over 0.2 .. 12 s.
        const float duration = 0.2f * std::pow(60.0f, rng.Next());
        LibraryEntry e = MakeEntry(name, duration, rng.Next());
        e.path = std::string("/lib/synthetic/") + a + "/" + name + ".wav";
        if (rng.Next() < 0.3f) e.description = std::string("recorded ") + b + " take";
        char id[17];
        std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(i) * 2654435761ULL + seed);
        e.fileId = id;
        e.zeroCrossingRate = rng.Range(0.0f, 0.6f);
        e.dynamicsDb = rng.Range(3.0f, 30.0f);
        e.crestDb = e.dynamicsDb;
        e.temporalCentroid = rng.Range(0.2f, 0.8f);
        e.spectralFlux = rng.Range(0.0f, 0.6f);
        e.pitchConfidence = rng.Next();
        e.spectralFlatness = rng.Range(0.0f, 0.8f);
        e.harmonicity = rng.Range(0.0f, 0.8f);
        e.attackTime = rng.Range(0.0f, 0.3f);
        e.onsetPosition = rng.Range(0.0f, 0.2f);
        out.push_back(std::move(e));
    }
    return out;
}

LibraryIndex MakeLibrary(const std::string& name, std::vector<LibraryEntry> entries, int group,
                         bool enabled) {
    LibraryIndex lib;
    lib.name = name;
    lib.path = "/lib/" + name;
    lib.entries = std::move(entries);
    lib.group = group;
    lib.enabled = enabled ? 1 : 0;
    return lib;
}

void AddMixedLibraries(SoundLibrary& library, unsigned seed) {
    std::vector<LibraryEntry> main = MakeSyntheticEntries(2300, seed);
    std::vector<LibraryEntry> foley = MakeSyntheticEntries(600, seed + 1);
    for (int i = 0; i < 40; ++i) {
        LibraryEntry twin = main[static_cast<size_t>(i) * 37];
        twin.path = "/lib/twins/" + twin.name + ".wav";
        twin.fileId = "twin" + std::to_string(i);
        foley.push_back(twin);
    }
    foley[3].bandCentroid = std::numeric_limits<float>::quiet_NaN();
    foley[4].duration = std::numeric_limits<float>::quiet_NaN();
    foley[5].temporalCentroid = std::numeric_limits<float>::infinity();
    for (float& e : foley[6].bandEnergy) e = 0.0f;
    foley[7].duration = -1.0f;
    library.libraries.push_back(MakeLibrary("Main", std::move(main), -1));
    library.libraries.push_back(MakeLibrary("Foley", std::move(foley), 1));
    library.libraries.back().previousNames = {"Old Foley"};
    library.libraries.push_back(MakeLibrary("Ambience", MakeSyntheticEntries(300, seed + 2), 2));
    library.libraries.push_back(MakeLibrary("Off", MakeSyntheticEntries(100, seed + 3), -1, false));
}

std::vector<const LibraryEntry*> EntryPointers(const std::vector<LibraryEntry>& entries) {
    std::vector<const LibraryEntry*> out;
    out.reserve(entries.size());
    for (const LibraryEntry& e : entries) out.push_back(&e);
    return out;
}

// ---------------------------------------------------------------------------
// Burst sounds
// ---------------------------------------------------------------------------
std::vector<float> MakeBurstSamples(const BurstSound& sound) {
    const int rate = sound.sampleRate;
    const int channels = std::max(sound.channels, 1);
    const int64_t frames = std::max<int64_t>(0, std::llround(sound.seconds * rate));
    std::vector<float> mono(static_cast<size_t>(frames), 0.0f);
    uint32_t noise = 12345;
    for (const Burst& burst : sound.bursts) {
        const int64_t first = std::max<int64_t>(0, std::llround(burst.start * rate));
        const int64_t last = std::min<int64_t>(frames, std::llround((burst.start + burst.length) * rate));
        for (int64_t f = first; f < last; ++f) {
            const double t = static_cast<double>(f - first) / rate;  // into the burst
            const double left = static_cast<double>(last - f) / rate;  // to its end
            double env = 1.0;
            if (burst.attack > 0 && t < burst.attack) env = t / burst.attack;
            if (burst.release > 0 && left < burst.release) env = std::min(env, left / burst.release);
            double v;
            if (burst.frequency > 0) {
                v = std::sin(2.0 * M_PI * burst.frequency * static_cast<double>(f) / rate);
            } else {
                noise ^= noise << 13;
                noise ^= noise >> 17;
                noise ^= noise << 5;
                v = (noise / 4294967295.0) * 2.0 - 1.0;
            }
            mono[static_cast<size_t>(f)] += static_cast<float>(burst.amplitude * env * v);
        }
    }
    if (channels == 1) return mono;
    std::vector<float> out(mono.size() * channels);
    for (size_t f = 0; f < mono.size(); ++f)
        for (int c = 0; c < channels; ++c) out[f * channels + c] = mono[f];
    return out;
}

bool WriteBurstSound(const std::string& path, const BurstSound& sound) {
    return WriteSamples(path, MakeBurstSamples(sound), std::max(sound.channels, 1), sound.sampleRate,
                        SampleFormat::Float32);
}

LibraryEntry EntryForBurstSound(const std::string& path, const BurstSound& sound) {
    LibraryEntry e;
    e.path = path;
    e.name = sound.name;
    const int64_t frames = std::max<int64_t>(0, std::llround(sound.seconds * sound.sampleRate));
    e.duration = static_cast<float>(static_cast<double>(frames) / sound.sampleRate);
    e.sampleRate = static_cast<float>(sound.sampleRate);
    e.channels = std::max(sound.channels, 1);
    e.bits = 32;

    // Spectrum: each burst's energy goes to the band of its tone; noise is
    // taken as flat over the five bands.
    float energy[5] = {0, 0, 0, 0, 0};
    float tonal = 0, total = 0;
    for (const Burst& b : sound.bursts) {
        const float en = static_cast<float>(b.amplitude * b.amplitude * b.length);
        total += en;
        if (b.frequency > 0) {
            energy[BandOfFrequency(b.frequency)] += en;
            tonal += en;
        } else {
            for (float& x : energy) x += en / 5.0f;
        }
    }
    NormaliseToStrongest(energy);
    std::copy(energy, energy + 5, e.bandEnergy);
    e.bandCentroid = CentroidOf(energy);
    e.brightness = e.bandCentroid;
    const float tonalShare = total > 0 ? tonal / total : 0.0f;
    e.harmonicity = 0.8f * tonalShare;
    e.spectralFlatness = 0.05f + 0.85f * (1.0f - tonalShare);
    e.zeroCrossingRate = 0.1f + 0.5f * (1.0f - tonalShare);

    if (!sound.bursts.empty() && sound.seconds > 0) {
        const Burst& first = *std::min_element(sound.bursts.begin(), sound.bursts.end(),
                                               [](const Burst& a, const Burst& b) { return a.start < b.start; });
        e.onsetPosition = static_cast<float>(first.start / sound.seconds);
        e.attackTime = static_cast<float>(first.attack);
        const Burst& loud = *std::max_element(sound.bursts.begin(), sound.bursts.end(),
                                              [](const Burst& a, const Burst& b) { return a.amplitude < b.amplitude; });
        e.peakPosition = static_cast<float>((loud.start + loud.attack) / sound.seconds);
    }
    return e;
}

LibraryIndex MakeBurstLibrary(const std::string& folder, const std::string& name,
                              const std::vector<BurstSound>& sounds, int group) {
    LibraryIndex lib;
    lib.path = folder;
    lib.name = name;
    lib.group = group;
    for (const BurstSound& s : sounds) {
        const std::string path = folder + "/" + s.name + ".wav";
        if (!WriteBurstSound(path, s)) continue;
        lib.entries.push_back(EntryForBurstSound(path, s));
    }
    return lib;
}

RenderSeeds FixedRenderSeeds(uint32_t passSeed, uint32_t fillSalt) {
    RenderSeeds s;
    s.passSeed = passSeed;
    s.fixedFillSalt = true;
    s.fillSalt = fillSalt;
    return s;
}

std::vector<const RenderResult*> LayersOfEvent(const Project& project, int eventIdx) {
    std::vector<const RenderResult*> out;
    for (const RenderResult& r : project.results)
        if (r.eventIdx == eventIdx) out.push_back(&r);
    return out;
}

int DifferingResults(const Project& a, Project& b, int32_t madeAfter) {
    if (a.results.size() != b.results.size()) return -1;
    int differ = 0;
    for (size_t k = 0; k < a.results.size(); ++k) {
        if (a.results[k].id > madeAfter && b.results[k].id > madeAfter) b.results[k].id = a.results[k].id;
        differ += a.results[k] == b.results[k] ? 0 : 1;
    }
    return differ;
}
