// recipe_preview.cpp — rendering a recipe's audition file, and tidying the
// recipes folder of previews nobody owns.
//
// Index
//   PreviewWavPath / PreviewWavExists
//   Render steps          PreviewEvent, MixPreviewVoices, NormaliseAndTrim, WritePreviewFile
//   RenderRecipePreview   the steps in order
//   InstallRecipePreviews
//   PruneRecipePreviews / ScanPreviewFolder / DeletePreviewWav
#include "export/sample_hygiene.h"
#include "operations/recipe_preview.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/recipe_lists.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/playing_gain.h"
#include "playback/voice_mix.h"
#include "recipes/event_preset.h"
#include "recipes/preset_json.h"
#include "recipes/recipe_file.h"
#include "recipes/recipe_preview_slot.h"
#include "render/render_pass.h"

namespace fs = std::filesystem;

namespace {

constexpr float kMinPreviewSeconds = 0.3f;
constexpr float kMaxPreviewSeconds = 30.0f;
constexpr float kPreviewTail = 1.0f;      // seconds allowed after the event's length
constexpr float kPreviewPeak = 0.708f;    // about -3 dBFS
constexpr float kSilentPeak = 0.001f;     // quieter renders are not normalised
constexpr float kSilentSample = 1e-5f;    // the trimmed tail
constexpr size_t kTailFadeSamples = 480;  // 10 ms at 48 kHz

constexpr const char kTmpSuffix[] = ".tmp";

std::string PresetStem(const EventPreset& preset) { return PresetFileStem(preset.name, "recipe"); }

}  // namespace

// ---------------------------------------------------------------------------
// PreviewWavPath / PreviewWavExists
// ---------------------------------------------------------------------------

std::string PreviewWavPath(const EventPreset& preset) {
    const std::string file = PresetStem(preset) + kPreviewSuffix;
    if (!preset.sourcePath.empty()) {
        const std::string folder = fs::path(preset.sourcePath).parent_path().string();
        return folder.empty() ? file : folder + "/" + file;
    }
    const std::string recipes = RecipesDir();
    return recipes.empty() ? std::string() : recipes + "/" + file;
}

bool PreviewWavExists(const EventPreset& preset) {
    const std::string path = PreviewWavPath(preset);
    if (path.empty()) return false;
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec)) && !ec;
}

// ---------------------------------------------------------------------------
// Render steps
// ---------------------------------------------------------------------------

namespace {

// The recipe as the one event of the preview's document, lasting `seconds`
// from the recipe's sync offset (its own sync offset stays 0). Pinned files go
// with every shape, as they do when the recipe is placed: a Bed plays its
// layers and a pinned Spot its files.
Event PreviewEvent(const EventPreset& preset, float seconds) {
    Event e;
    e.time = std::isfinite(preset.syncOffset) ? preset.syncOffset : 0.0f;
    e.duration = seconds;
    CopyTextField(e.presetName, TextFieldView(preset.name));
    CopyPresetSettingsToEvent(preset, e);
    e.gain = preset.gain;
    CopyPinnedListsToEvent(preset, e);
    if (preset.shape == kShapeClip && preset.pinnedFile[0] != '\0') {
        CopyTextField(e.pinnedFile, TextFieldView(preset.pinnedFile));
        e.pinnedFileId = preset.pinnedFileId;
        e.hasPinnedFiles = true;
        CopyClipTreatmentToEvent(preset, e);
    }
    return e;
}

// Every unmuted voice into one mono buffer of `frames` samples at the
// preview rate: fades (at least 3 % of the voice), level and the voice's gain
// curves, without pan, groups, reverb or deconfliction.
std::vector<float> MixPreviewVoices(const AudioEngine& engine, size_t frames) {
    std::vector<float> mix(frames, 0.0f);
    const double rate = kPreviewSampleRate;
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        if (voice.muted.load() != 0) continue;
        const float len = voice.length;
        const VoiceFades fades = EngineVoiceFades(engine, v, len, std::max(kMinVoiceFade, 0.03f * len));
        const float gain = PlayingGain(voice, 1.0f);  // no groups in a preview
        const double startFrame = std::trunc(double(voice.startTime) * rate);
        const double endFrame = std::trunc((double(voice.startTime) + double(len)) * rate);
        const size_t s = size_t(std::clamp(std::isfinite(startFrame) ? startFrame : 0.0, 0.0, double(frames)));
        const size_t e = size_t(std::clamp(std::isfinite(endFrame) ? endFrame : 0.0, double(s), double(frames)));
        const size_t available = std::min(size_t(std::max(voice.sampleCount, 0)), voice.left.size());
        const bool stereo = voice.stereo != 0;
        for (size_t j = 0; s + j < e && j < available; ++j) {
            const double t = double(j) / rate;
            float sample = voice.left[j];
            if (stereo && j < voice.right.size()) sample = 0.5f * (sample + voice.right[j]);
            const float g = VoiceFadeGain(t, len, fades) * gain *
                            VoiceEnvelope(voice, t, len, false, IntensityLift::Always);
            mix[s + j] += sample * g;
        }
    }
    return mix;
}

// Peak to 0.708 unless the render is all but silent; then the silent tail
// goes, and when anything went, the last 10 ms fade out linearly so the cut
// never clicks.
void NormaliseAndTrim(std::vector<float>& samples) {
    float peak = 0.0f;
    for (float x : samples) peak = std::max(peak, std::fabs(x));
    if (peak > kSilentPeak) {
        const float scale = kPreviewPeak / peak;
        for (float& x : samples) x *= scale;
    }
    size_t length = samples.size();
    while (length > 0 && !(std::fabs(samples[length - 1]) >= kSilentSample)) --length;
    if (length == samples.size()) return;
    samples.resize(length);
    const size_t fade = std::min(length, kTailFadeSamples);
    for (size_t k = 0; k < fade; ++k) samples[length - 1 - k] *= float(k + 1) / float(fade);
}

// 16-bit mono WAV at 48 kHz through "<path>.tmp", then moved over `path`.
// Nothing stays behind on failure.
bool WritePreviewFile(const std::string& path, std::vector<float>& samples) {
    const std::string tmp = path + kTmpSuffix;
    SF_INFO info{};
    info.samplerate = kPreviewSampleRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(tmp.c_str(), SFM_WRITE, &info);
    if (!file) {
        std::printf("[Recipes] cannot write the preview %s: %s\n", tmp.c_str(), sf_strerror(nullptr));
        return false;
    }
    SanitizeSamples(samples.data(), int64_t(samples.size()));
    const sf_count_t written = sf_writef_float(file, samples.data(), sf_count_t(samples.size()));
    const bool closed = sf_close(file) == 0;
    if (written != sf_count_t(samples.size()) || !closed) {
        std::printf("[Recipes] writing the preview %s failed\n", tmp.c_str());
        std::error_code ec;
        fs::remove(tmp, ec);
        return false;
    }
    FileReplaceFailure failure;
    if (!CommitAndReplaceFile(tmp, path, &failure)) {
        std::printf("[Recipes] the preview %s could not be put in place (step %d, errno %d)\n", path.c_str(),
                    failure.step, failure.error);
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// RenderRecipePreview
// ---------------------------------------------------------------------------

bool RenderRecipePreview(const EventPreset& preset, const SoundLibrary& library) {
    // A scan is about to change what the library holds.
    if (library.scanRunning.load()) return false;
    const std::string path = PreviewWavPath(preset);
    if (path.empty()) return false;
    {
        std::error_code ec;
        const fs::path folder = fs::path(path).parent_path();
        if (!folder.empty()) fs::create_directories(folder, ec);
        if (ec) return false;
    }
    const float d = std::isfinite(preset.duration)
                        ? std::clamp(preset.duration, kMinPreviewSeconds, kMaxPreviewSeconds)
                        : kMinPreviewSeconds;

    // A private document and engine: the user's are never touched. Both are
    // large, so they live on the heap.
    auto project = std::make_unique<Project>();
    project->totalDuration = d + 2.0f;
    project->events.push_back(PreviewEvent(preset, d));
    RenderEvents(*project, library, 0, -1.0f, -1.0f, false, false);
    std::vector<RenderResult>& results = project->results;
    if (results.empty()) return false;
    float earliest = results.front().startTime;
    for (const RenderResult& r : results) earliest = std::min(earliest, r.startTime);
    for (RenderResult& r : results) r.startTime -= earliest;

    auto engine = std::make_unique<AudioEngine>();
    CopyLoudnessTargets(*project, *engine);
    engine->normalizeLoudness = 1;
    ResetEngineVoices(*engine, kPreviewSampleRate, int(results.size()));
    const float eventGain = preset.gain;
    for (size_t r = 0; r < results.size(); ++r)
        BuildPlaybackVoice(*engine, results[r], int(r), kPreviewSampleRate, &eventGain, 1,
                           project->events.data(), 0, 0, false);
    UpdateVoiceLevels(*engine, true);

    float latestEnd = 0.0f;
    for (const PlaybackVoice& v : engine->voices) latestEnd = std::max(latestEnd, v.startTime + v.length);
    const double seconds = std::min(double(d) + kPreviewTail, double(latestEnd));
    const double frames = std::trunc(seconds * kPreviewSampleRate);
    if (!(frames >= 1.0)) return false;

    std::vector<float> samples = MixPreviewVoices(*engine, size_t(frames));
    engine.reset();
    NormaliseAndTrim(samples);
    // Silence would give an empty file that plays nothing.
    if (samples.empty()) return false;
    return WritePreviewFile(path, samples);
}

bool RenderRecipePreview(const EventPreset& preset) { return RenderRecipePreview(preset, gSoundLibrary); }

// ---------------------------------------------------------------------------
// InstallRecipePreviews
// ---------------------------------------------------------------------------

void InstallRecipePreviews() {
    SetRecipePreviewRenderer(&RenderRecipePreview);
    gBackgroundWorkerStops.joinRecipePreview = JoinRecipePreview;
}

// ---------------------------------------------------------------------------
// PruneRecipePreviews / ScanPreviewFolder / DeletePreviewWav
// ---------------------------------------------------------------------------

void PruneRecipePreviews(const std::string& folder, const std::vector<EventPreset>& recipes) {
    // The preview being written (its ".tmp" included) must not vanish under it.
    if (RecipePreviewRunning()) return;
    std::set<std::string> expected;
    for (const EventPreset& recipe : recipes) expected.insert(PresetStem(recipe) + "_preview");
    ScanPreviewFolder(folder, expected);
}

void PruneRecipePreviews() { PruneRecipePreviews(RecipesDir(), gRecipes); }

void ScanPreviewFolder(const std::string& folder, const std::set<std::string>& expectedStems) {
    if (folder.empty()) return;
    static const std::string previewTmp = std::string(kPreviewSuffix) + kTmpSuffix;
    static const std::string recipeTmp = std::string(kRecipeExtension) + kTmpSuffix;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError) || entryError) continue;
        const std::string name = it->path().filename().string();
        // Only what this program writes here: its previews and the leftovers
        // of its interrupted writes. The user's own files stay.
        bool remove = EndsWith(name, previewTmp) || EndsWith(name, recipeTmp);
        if (!remove && EndsWith(name, kPreviewSuffix)) {
            const std::string stem = name.substr(0, name.size() - 4);  // without ".wav"
            remove = expectedStems.count(stem) == 0;
        }
        if (!remove) continue;
        std::error_code removeError;
        if (fs::remove(it->path(), removeError))
            std::printf("[Recipes] removed %s\n", it->path().string().c_str());
        else if (removeError)
            std::printf("[Recipes] could not remove %s: %s\n", it->path().string().c_str(),
                        removeError.message().c_str());
    }
}

void DeletePreviewWav(const EventPreset& preset) {
    const std::string path = PreviewWavPath(preset);
    if (path.empty()) return;
    std::error_code ec;
    fs::remove(path, ec);
}
