// large_project.cpp — generated projects of a working designer's size.
//
// Index
//   Categories        the library's sound kinds, their recipes and natural lengths
//   MakeLargeLibrary  write (or keep) and analyse the sounds, recast as field recordings when asked
//   Scene             one repetition of the demo-like scene of events
//   MakeEvents        the scene over the timeline
//   MakeLayers        layers made directly, one build per shape
//   RenderLayers      the render pass and the post passes
//   MakeLargeProject / WriteLargeProject
#include "support/large_project.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include <sndfile.h>

#include "demo_content/demo_sounds.h"
#include "document/event.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/sound_analysis.h"
#include "operations/document_context.h"
#include "operations/render_job.h"
#include "persistence/project_file.h"
#include "render/clip_bed_events.h"
#include "render/render_pass.h"
#include "support/audio_fixtures.h"
#include "support/render_fixtures.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Categories
// ---------------------------------------------------------------------------

struct Category {
    const char* stem;      // the file name's category words
    DemoRecipe recipe;
    double seconds;        // natural length
    int channels;
};

// Fills and Scatters want several distinct sounds of their kind: a quarter
// of the library are gusts and a quarter footsteps, as in the demo library.
constexpr Category kCategories[] = {
    {"wind_gust", DemoRecipe::Wind, 4.0, 1},            {"footstep_gravel", DemoRecipe::Gravel, 0.4, 1},
    {"impact_heavy", DemoRecipe::HeavyImpact, 1.2, 1},  {"impact_metal", DemoRecipe::MetalImpact, 1.5, 1},
    {"wind_gust", DemoRecipe::Wind, 4.0, 1},            {"footstep_gravel", DemoRecipe::Gravel, 0.4, 1},
    {"whoosh_fast", DemoRecipe::Whoosh, 0.8, 1},        {"riser_tension", DemoRecipe::Riser, 3.0, 1},
    {"wind_gust", DemoRecipe::Wind, 4.0, 1},            {"footstep_gravel", DemoRecipe::Gravel, 0.4, 1},
    {"door_slam", DemoRecipe::DoorSlam, 1.4, 1},        {"glass_break", DemoRecipe::GlassBreak, 1.6, 1},
    {"wind_gust", DemoRecipe::Wind, 4.0, 1},            {"footstep_gravel", DemoRecipe::Gravel, 0.4, 1},
    {"rain_light_loop", DemoRecipe::Rain, 4.0, 2},      {"drone_dark_loop", DemoRecipe::Drone, 4.0, 2},
};
constexpr int kCategoryCount = int(sizeof kCategories / sizeof kCategories[0]);

// The stem of sound i: its category words and a number unique in the library.
std::string SoundStem(int i) {
    char stem[64];
    std::snprintf(stem, sizeof stem, "%s_%02d", kCategories[i % kCategoryCount].stem, i + 1);
    return stem;
}

// Simple and reproducible: the generator must give the same project in every run.
uint32_t Mix(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

float Unit(uint32_t seed, uint32_t salt) { return float(Mix(seed * 0x9E3779B1U + salt) >> 8) / float(1 << 24); }

// Writes the sound at `path` again as recordings from the field are kept:
// the rate, the bit depth and a length that is no round number follow `i`
// (the samples are not resampled: only their rate is declared anew).
bool RecastAsFieldRecording(const std::string& path, int i, uint32_t seed) {
    static constexpr int kRates[] = {11025, 96000, 22050, 44100, 32000, 88200, 48000, 16000};
    static constexpr SampleFormat kFormats[] = {SampleFormat::Pcm24, SampleFormat::Pcm8, SampleFormat::Pcm16};
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return false;
    std::vector<float> samples(size_t(info.frames) * size_t(info.channels));
    const sf_count_t frames = sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    // 83 to 100 % of the sound, and an odd number of frames more or less.
    const sf_count_t kept =
        std::max<sf_count_t>(64, sf_count_t(double(frames) * (0.83 + 0.17 * Unit(seed, uint32_t(i) + 7000u))) - 37);
    samples.resize(size_t(std::min(kept, frames)) * size_t(info.channels));
    const size_t n = sizeof kRates / sizeof kRates[0];
    return WriteSamples(path, samples, info.channels, kRates[size_t(i) % n], kFormats[size_t(i) % 3]);
}

}  // namespace

// ---------------------------------------------------------------------------
// MakeLargeLibrary
// ---------------------------------------------------------------------------

LargeLibrary MakeLargeLibrary(const LargeProjectSpec& spec, const std::string& folder) {
    LargeLibrary lib;
    lib.folder = folder;
    std::error_code ec;
    fs::create_directories(folder, ec);
    lib.index.path = folder;
    lib.index.name = fs::path(folder).filename().string();
    lib.index.enabled = 1;
    lib.index.group = -1;
    for (int i = 0; i < std::max(spec.soundCount, 1); ++i) {
        const Category& c = kCategories[i % kCategoryCount];
        const std::string stem = SoundStem(i);
        const std::string path = folder + "/" + stem + ".wav";
        DemoSound sound{stem.c_str(),
                        spec.soundSeconds > 0 ? double(spec.soundSeconds) : c.seconds,
                        c.channels,
                        c.recipe,
                        0.3f + 0.6f * Unit(spec.seed, uint32_t(i)),
                        uint64_t(spec.seed) * 100003u + uint64_t(i)};
        std::string error;
        if (!WriteDemoSound(sound, path, error)) {
            std::printf("[Test] large library: %s\n", error.c_str());
            continue;
        }
        if (spec.fieldRecordings && !RecastAsFieldRecording(path, i, spec.seed)) continue;
        LibraryEntry entry;
        if (!AnalyzeSoundFile(path, entry)) continue;
        lib.index.entries.push_back(std::move(entry));
        lib.paths.push_back(path);
    }
    return lib;
}

namespace {

// ---------------------------------------------------------------------------
// Scene
// ---------------------------------------------------------------------------

// One repetition: where each event sits in a 30 s scene, its shape, keywords
// and natural duration (0: the shape's default). The Bed lies under the scene.
struct SceneEvent {
    float at;
    int shape;
    const char* keywords;
    float duration;
};

constexpr SceneEvent kScene[] = {
    {0.0f, kShapeBed, "rain", 30.0f},        {2.0f, kShapeSpot, "impact heavy", 0},
    {4.5f, kShapeBloom, "whoosh", 0},        {7.0f, kShapeContour, "riser tension", 3.0f},
    {11.0f, kShapeFill, "wind", 6.0f},       {18.0f, kShapeScatter, "footstep gravel", 3.0f},
    {21.0f, kShapeClip, "door slam", 0},     {24.0f, kShapeSpot, "glass break", 0},
    {26.5f, kShapeSpot, "impact metal", 0},
};
constexpr int kSceneSize = int(sizeof kScene / sizeof kScene[0]);
constexpr float kSceneSeconds = 30.0f;

// The sound a pinned event plays: the first written whose stem starts with `stem`.
std::string PinnedSound(const LargeLibrary& lib, const char* stem) {
    for (const std::string& path : lib.paths)
        if (fs::path(path).filename().string().rfind(stem, 0) == 0) return path;
    return lib.paths.empty() ? std::string() : lib.paths.front();
}

// The library's id of the sound at `path` ("" when it has none).
std::string LibraryFileId(const LargeLibrary& lib, const std::string& path) {
    for (const LibraryEntry& entry : lib.index.entries)
        if (entry.path == path) return entry.fileId;
    return {};
}

// ---------------------------------------------------------------------------
// MakeEvents
// ---------------------------------------------------------------------------

void MakeEvents(const LargeProjectSpec& spec, const LargeLibrary& lib, Project& project) {
    const int scenes = std::max(1, (spec.eventCount + kSceneSize - 1) / kSceneSize);
    const float sceneSeconds = std::max(spec.seconds, 1.0f) / float(scenes);
    // Short scenes shorten their events too, never below a quarter.
    const float stretch = std::clamp(sceneSeconds / kSceneSeconds, 0.25f, 1.0f);
    project.totalDuration = std::max(spec.seconds, 1.0f);
    project.events.reserve(size_t(std::max(spec.eventCount, 0)));
    for (int i = 0; i < spec.eventCount; ++i) {
        const SceneEvent& s = kScene[i % kSceneSize];
        const float start = float(i / kSceneSize) * sceneSeconds;
        const float jitter = 0.1f * sceneSeconds * (Unit(spec.seed, uint32_t(i) + 7777u) - 0.5f) / kSceneSize;
        const float time = std::max(0.0f, start + s.at / kSceneSeconds * sceneSeconds + (s.at > 0 ? jitter : 0));
        Event e = MakeEvent(project, time, s.shape, 0.3f + 0.4f * Unit(spec.seed, uint32_t(i)));
        if (s.shape == kShapeBed)
            e.duration = sceneSeconds;
        else if (s.duration > 0)
            e.duration = s.duration * stretch;
        CopyTextField(e.keywords, s.keywords);
        if (s.shape == kShapeScatter) e.intensityScale = 0.5f;  // a handful of steps
        if (s.shape == kShapeClip) {
            CopyTextField(e.pinnedFile, PinnedSound(lib, "door_slam"));
            e.hasPinnedFiles = true;
        } else if (s.shape == kShapeBed) {
            e.pinnedFiles = {PinnedSound(lib, "rain")};
            // As the program pins a file: with its id (earlier projects had none).
            if (!spec.inconsistentBeds) e.pinnedFileIds = {LibraryFileId(lib, e.pinnedFiles[0])};
            e.bedLayerLoop = {1};
            e.bedLayerWeight = {-1.0f};
            e.hasPinnedFiles = true;
        }
        project.events.push_back(std::move(e));
    }
}

// ---------------------------------------------------------------------------
// MakeLayers
// ---------------------------------------------------------------------------

// The library's sounds whose stem starts with the event's first keyword.
std::vector<const LibraryEntry*> SoundsFor(const LargeLibrary& lib, const Event& e) {
    std::string first(TextFieldView(e.keywords));
    first = first.substr(0, first.find(' '));
    std::vector<const LibraryEntry*> out;
    for (const LibraryEntry& entry : lib.index.entries)
        if (entry.name.rfind(first, 0) == 0) out.push_back(&entry);
    if (out.empty())
        for (const LibraryEntry& entry : lib.index.entries) out.push_back(&entry);
    return out;
}

void TakeSound(RenderResult& r, const LibraryEntry& sound) {
    r.name = sound.name;
    r.filepath = sound.path;
    r.fileId = sound.fileId;
    r.stereo = sound.channels > 1;
}

// Layers the way the render leaves them: Clips one region of their pinned
// file, Beds one looping fill per pinned file (or, for inconsistentBeds,
// layersPerEvent loops of sounds of their kind), Fills fills, every other
// shape plain regions around its sync point, spread over the event.
void MakeLayers(const LargeProjectSpec& spec, const LargeLibrary& lib, Project& project) {
    if (lib.index.entries.empty()) return;
    const int perEvent = std::max(spec.layersPerEvent, 1);
    project.results.reserve(project.events.size() * size_t(perEvent));
    for (size_t i = 0; i < project.events.size(); ++i) {
        const Event& e = project.events[i];
        if (e.shape == kShapeBed && !spec.inconsistentBeds) {
            // The layers the program gives a Bed: its pinned files.
            RebuildBedEvent(project, int(i));
            continue;
        }
        const std::vector<const LibraryEntry*> sounds = SoundsFor(lib, e);
        const int count = e.shape == kShapeClip ? 1 : perEvent;
        for (int k = 0; k < count; ++k) {
            const uint32_t salt = uint32_t(i) * 64u + uint32_t(k);
            const LibraryEntry& sound = *sounds[Mix(spec.seed + salt) % sounds.size()];
            RenderResult r;
            TakeSound(r, sound);
            r.eventIdx = int32_t(i);
            r.weight = 0.2f + 0.6f * Unit(spec.seed, salt + 1);
            const float length = std::max(sound.duration, 0.05f);
            switch (e.shape) {
                case kShapeClip:
                    r.procMode = 2;
                    r.sourceDuration = std::min(length, std::max(e.duration, 0.1f));
                    break;
                case kShapeBed:
                case kShapeFill:
                    r.procMode = 1;
                    r.fillLoop = e.shape == kShapeBed;
                    r.sourceDuration = length;
                    break;
                default:
                    r.sourceDuration = std::min(length, 0.3f + length * Unit(spec.seed, salt + 2));
                    r.sourceOffset = (length - r.sourceDuration) * Unit(spec.seed, salt + 3);
                    break;
            }
            r.duration = r.procMode == 1 ? std::max(e.duration, 0.5f) : r.sourceDuration;
            // Spread over the event, the first layer on its sync point.
            r.startTime = e.time - e.syncOffset + (k == 0 ? 0.0f : e.duration * Unit(spec.seed, salt + 4));
            r.fadeIn = 0.01f + 0.05f * Unit(spec.seed, salt + 5);
            r.fadeOut = 0.05f + 0.2f * Unit(spec.seed, salt + 6);
            project.results.push_back(std::move(r));
        }
    }
    // Gains by rank, fades within the layers, groups, order by start, tracks.
    FinishRenderPass(project);
}

// ---------------------------------------------------------------------------
// RenderLayers
// ---------------------------------------------------------------------------

void RenderLayers(const LargeProjectSpec& spec, const LargeLibrary& lib, Project& project) {
    SoundLibrary library;
    library.libraries.push_back(lib.index);
    RenderEventsWithSeeds(project, library, -1, -1, -1, false, false, FixedRenderSeeds(spec.seed, spec.seed + 1));
    // The passes of every render job, with the program's default flags.
    DocumentContext ctx;
    ctx.project = &project;
    RunPostPasses(ctx);
}

}  // namespace

// ---------------------------------------------------------------------------
// MakeLargeProject / WriteLargeProject
// ---------------------------------------------------------------------------

LargeProject MakeLargeProject(const LargeProjectSpec& spec, const std::string& folder) {
    LargeProject large;
    large.library = MakeLargeLibrary(spec, folder);
    MakeEvents(spec, large.library, large.project);
    if (spec.layers == LargeProjectLayers::Made) MakeLayers(spec, large.library, large.project);
    if (spec.layers == LargeProjectLayers::Rendered) RenderLayers(spec, large.library, large.project);
    return large;
}

std::string WriteLargeProject(const LargeProject& large, const std::string& folder, const std::string& name,
                              const ExportSettings* exportSettings) {
    const std::string projectFolder = folder + "/" + name;
    std::error_code ec;
    fs::create_directories(projectFolder, ec);
    // The file names the layers' files by id: the registry must know them.
    FileRegistry& registry = FileRegistry::Instance();
    for (const std::string& path : large.library.paths) registry.FileRefForPath(path);
    ProjectSaveContext ctx;
    ctx.project = &large.project;
    ctx.libraryPaths = {large.library.folder};
    if (exportSettings) ctx.exportSettings = *exportSettings;
    ctx.projectDescription = "Generated: " + std::to_string(large.project.events.size()) + " events, " +
                             std::to_string(large.project.results.size()) + " layers";
    const std::string path = projectFolder + "/" + name + ".tlproj";
    return WriteProjectFile(path, ctx) ? path : std::string();
}

void FixProbedWeights(Project& project, float weight) {
    for (Event& e : project.events) {
        if (e.shape == kShapeClip) e.clipWeight = weight;
        for (float& w : e.bedLayerWeight) w = weight;
    }
}
