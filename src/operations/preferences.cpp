// preferences.cpp — reading and writing the preferences file.
//
// Index
//   Number text        lenient leading numbers in, locale-free fixed notation out
//   PreferencePass     one walk over the keys: a reader applies one line, a writer emits all
//   VisitPreferences   the keys in file order, each with its field and rule
//   Library lines      "libraryEx" and "library" values
//   LoadPreferences    the lines, then the steps after the last line
//   SavePreferences
//
// Every key appears once, in VisitPreferences, with both its written form
// and its reading rule, so the two directions cannot drift apart.
#include "operations/preferences.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>
#include <vector>

#include "document/copyable_atomic.h"
#include "document/project.h"
#include "library/library_folders.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/recent_projects.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"
#include "playback/audio_engine.h"

namespace {

// A settings file is a few kilobytes; a long recent list and many library
// folders stay far below this.
constexpr uint64_t kMaxPreferencesFileBytes = 16u << 20;

// ---------------------------------------------------------------------------
// Number text
// ---------------------------------------------------------------------------

std::string_view SkipBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\v' ||
                             text.front() == '\f' || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    return text;
}

// Skips blanks and one sign; true when the sign was '-'.
bool TakeSign(std::string_view& text) {
    text = SkipBlanks(text);
    if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
    const bool negative = text.front() == '-';
    text.remove_prefix(1);
    return negative;
}

// The number at the start of `text` (blanks skipped, trailing text ignored);
// 0 when there is none. NaN when the digits do not fit a double, so that the
// setting keeps its value.

double LeadingDouble(std::string_view text) {
    const bool negative = TakeSign(text);
    // from_chars takes neither a sign here nor a lone leading point.
    std::string digits;
    if (!text.empty() && text.front() == '.') digits = "0";
    digits.append(text.substr(0, 64));
    double value = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::general);
    (void)end;
    if (ec == std::errc::invalid_argument) return 0;
    if (ec != std::errc()) return std::numeric_limits<double>::quiet_NaN();
    return negative ? -value : value;
}

// The integer at the start of `text`, saturated to 64 bits; 0 when there is
// none. Like the C library, "1.5" reads as 1.
int64_t LeadingInteger(std::string_view text) {
    const bool negative = TakeSign(text);
    uint64_t magnitude = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    (void)end;
    if (ec == std::errc::invalid_argument) return 0;
    constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (ec == std::errc::result_out_of_range || magnitude > kMax)
        return negative ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
}

int32_t LeadingInt32(std::string_view text) {
    const int64_t value = LeadingInteger(text);
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// "%.Nf" without the locale; a value that is not finite writes `fallback`.
std::string Fixed(float value, int precision, float fallback) {
    if (!std::isfinite(value)) value = fallback;
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                   std::chars_format::fixed, precision);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Settings are plain values or, where the audio thread reads them while the
// interface writes, atomics; the rules read and store both alike.
template <class T>
T Plain(const T& value) {
    return value;
}
template <class T>
T Plain(const CopyableAtomic<T>& value) {
    return value.load();
}

// ---------------------------------------------------------------------------
// PreferencePass
// ---------------------------------------------------------------------------

// What a reader gathers over the whole file before acting on it.
struct LoadState {
    bool updateSeen = false;
    std::vector<QueuedLibraryFolder> libraries;
};

class PreferencePass {
public:
    // A reader of one line.
    PreferencePass(std::string_view key, std::string_view value, LoadState& state)
        : key_(key), value_(value), state_(&state) {}
    // A writer of the whole file into `out`.
    explicit PreferencePass(std::string& out) : out_(&out) {}

    bool Writing() const { return out_ != nullptr; }
    bool Reads(std::string_view name) const { return out_ == nullptr && key_ == name; }
    std::string_view Value() const { return value_; }
    LoadState& State() const { return *state_; }

    // One "name=text" line. Bytes below 32 other than tab become blanks, so
    // no text (an update note, a folder name) can end the line and add a key.
    void Line(std::string_view name, std::string_view text) {
        out_->append(name);
        out_->push_back('=');
        for (char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            out_->push_back(byte < 32 && c != '\t' ? ' ' : c);
        }
        out_->push_back('\n');
    }

    // The rules below return true when they read their key's line.

    // "%d"; reads "integer not 0".
    template <class B>
    bool Flag(std::string_view name, B& field) {
        if (Writing()) {
            Line(name, Plain(field) ? "1" : "0");
            return false;
        }
        if (key_ != name) return false;
        field = static_cast<decltype(Plain(field))>(LeadingInteger(value_) != 0);
        return true;
    }

    // "%d"; reads clamped to lo..hi.
    bool Int(std::string_view name, int32_t& field, int32_t lo, int32_t hi) {
        if (Writing()) {
            Line(name, std::to_string(field));
            return false;
        }
        if (key_ != name) return false;
        field = std::clamp(LeadingInt32(value_), lo, hi);
        return true;
    }

    // "%d"; a value below 1 reads as 0.
    bool Count(std::string_view name, int32_t& field) {
        if (Writing()) {
            Line(name, std::to_string(field));
            return false;
        }
        if (key_ != name) return false;
        const int32_t value = LeadingInt32(value_);
        field = value < 1 ? 0 : value;
        return true;
    }

    // "%.<precision>f"; reads clamped to lo..hi. A value that is not a
    // finite number keeps the setting (a NaN would pass any clamp).
    template <class F>
    bool Float(std::string_view name, F& field, int precision, float lo, float hi, float fallback) {
        if (Writing()) {
            Line(name, Fixed(Plain(field), precision, fallback));
            return false;
        }
        if (key_ != name) return false;
        const double value = LeadingDouble(value_);
        if (std::isfinite(value)) field = static_cast<float>(std::clamp(value, double(lo), double(hi)));
        return true;
    }

    // "%.6f"; taken only when finite.
    bool Finite(std::string_view name, float& field, float fallback) {
        if (Writing()) {
            Line(name, Fixed(field, 6, fallback));
            return false;
        }
        if (key_ != name) return false;
        const double value = LeadingDouble(value_);
        if (std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max())
            field = static_cast<float>(value);
        return true;
    }

    // "#RRGGBB" in upper case; reads a hash sign and three hex pairs of either
    // case into an opaque colour packed 0xAABBGGRR.
    bool Color(std::string_view name, uint32_t& field) {
        if (Writing()) {
            char text[8];
            std::snprintf(text, sizeof text, "#%02X%02X%02X", field & 0xFFu, (field >> 8) & 0xFFu,
                          (field >> 16) & 0xFFu);
            Line(name, text);
            return false;
        }
        if (key_ != name) return false;
        if (value_.size() < 7 || value_[0] != '#') return true;
        uint32_t channels[3];
        for (int i = 0; i < 3; ++i) {
            const int high = HexDigit(value_[1 + 2 * i]);
            const int low = HexDigit(value_[2 + 2 * i]);
            if (high < 0 || low < 0) return true;
            channels[i] = static_cast<uint32_t>(high * 16 + low);
        }
        field = 0xFF000000u | (channels[2] << 16) | (channels[1] << 8) | channels[0];
        return true;
    }

private:
    std::string* out_ = nullptr;
    std::string_view key_;
    std::string_view value_;
    LoadState* state_ = nullptr;
};

// ---------------------------------------------------------------------------
// Slots of the shell: empty until it fills them, then the values are only stored
// ---------------------------------------------------------------------------

void ApplyFontPreset(AppState& app, int preset) {
    if (app.applyFontSizePreset) app.applyFontSizePreset(app, preset);
    else app.fontSizePreset = std::clamp(preset, 0, 2);
}

void ApplyTheme(AppState& app) {
    if (app.setTheme) app.setTheme(app.themeIndex);
    if (app.applyThemeStyle) app.applyThemeStyle();
}

// ---------------------------------------------------------------------------
// Library lines
// ---------------------------------------------------------------------------

bool IsPlainInteger(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "path|enabled|setting". A folder name may itself hold "|": with more than
// two of them, the last two fields are the numbers when both are integers.
QueuedLibraryFolder ParseLibraryLine(std::string_view value) {
    QueuedLibraryFolder folder;
    if (std::count(value.begin(), value.end(), '|') > 2) {
        const size_t last = value.rfind('|');
        const size_t before = value.rfind('|', last - 1);
        const std::string_view enabled = value.substr(before + 1, last - before - 1);
        const std::string_view setting = value.substr(last + 1);
        if (IsPlainInteger(enabled) && IsPlainInteger(setting)) {
            folder.folder = std::string(value.substr(0, before));
            folder.enabled = LeadingInteger(enabled) != 0;
            folder.group = LeadingInt32(setting);
            return folder;
        }
    }
    const size_t first = value.find('|');
    folder.folder = std::string(value.substr(0, first));
    if (first == std::string_view::npos) return folder;
    const std::string_view rest = value.substr(first + 1);
    const size_t second = rest.find('|');
    if (second == std::string_view::npos) return folder;
    folder.enabled = LeadingInteger(rest.substr(0, second)) != 0;
    folder.group = LeadingInt32(rest.substr(second + 1));
    return folder;
}

// ---------------------------------------------------------------------------
// VisitPreferences
// ---------------------------------------------------------------------------

void VisitPreferences(PreferencePass& p, PreferenceTargets& t) {
    AppState& app = t.app;
    Project& project = t.project;
    ExportSettings& ex = app.exportSettings;
    ReverbParams& reverb = t.engine.reverb;
    TraceModel& model = app.opticalTrace.model;
    static const ExportSettings kExport;
    static const ReverbParams kReverb;
    static const TraceModel kModel;
    constexpr float kMaxEventDuration = 30;   // the document's default
    constexpr float kAutoSaveInterval = 300;  // the application state's default

    p.Float("handleDuration", ex.handleDuration, 2, 0.01f, 60, kExport.handleDuration);
    p.Flag("handleFullSource", ex.handleFullSource);
    p.Float("fadeInDuration", ex.fadeInDuration, 3, 0, 30, kExport.fadeInDuration);
    p.Float("fadeOutDuration", ex.fadeOutDuration, 3, 0, 30, kExport.fadeOutDuration);
    p.Flag("exportAAFMarkers", ex.exportAAFMarkers);
    p.Flag("exportAAFVolAuto", ex.exportAAFVolAuto);
    p.Flag("exportAAFSourceChannels", ex.exportAAFSourceChannels);
    p.Flag("exportFormatAAF", ex.exportFormatAAF);
    p.Flag("exportFormatWAV", ex.exportFormatWAV);
    p.Flag("exportWavMixdown", ex.exportWavMixdown);
    p.Flag("exportWavStems", ex.exportWavStems);
    p.Flag("exportWavTracks", ex.exportWavTracks);
    p.Flag("exportWavClips", ex.exportWavClips);
    p.Flag("exportReverbStem", ex.exportReverbStem);

    if (p.Writing()) {
        p.Line("projectSampleRate", std::to_string(app.projectSampleRate));
    } else if (p.Reads("projectSampleRate")) {
        const int64_t rate = LeadingInteger(p.Value());
        if (rate == 44100 || rate == 48000 || rate == 88200 || rate == 96000 || rate == 192000)
            app.projectSampleRate = static_cast<int32_t>(rate);
    }

    p.Float("maxEventDuration", project.maxEventDuration, 1, 0.1f, 600, kMaxEventDuration);
    p.Flag("protectSilence", app.protectSilence);
    p.Flag("destructiveEQ", app.destructiveEQ);
    p.Flag("showSpectralHeatmap", app.showSpectralHeatmap);
    p.Int("scaleType", project.scaleType, 0, 16);
    p.Int("scaleRoot", project.scaleRoot, 0, 11);
    p.Int("pitchShiftProb", project.pitchShiftProb, 0, 100);
    p.Int("freqShiftIntensity", project.freqShiftIntensity, 0, 100);
    p.Int("reverseProb", project.reverseProb, 0, 100);
    if (p.Int("fontSizePreset", app.fontSizePreset, 0, 2)) ApplyFontPreset(app, app.fontSizePreset);
    p.Flag("fontSizeAuto", app.fontSizeAuto);
    if (p.Flag("boldFonts", app.boldFonts)) ApplyFontPreset(app, app.fontSizePreset);
    if (p.Int("theme", app.themeIndex, 0, 6)) ApplyTheme(app);
    p.Flag("colorByWeight", app.colorByWeight);
    p.Flag("showAdvancedInspector", app.showAdvancedInspector);
    p.Int("lastIntensityMode", app.lastIntensityMode, 0, 2);
    p.Flag("autoSaveEnabled", app.autoSaveEnabled);
    p.Float("autoSaveInterval", app.autoSaveInterval, 0, 30, 3600, kAutoSaveInterval);
    p.Int("maxBackups", app.maxBackups, 1, 50);
    p.Color("weightColorLow", app.weightColors.weightColorLow);
    p.Color("weightColorMid", app.weightColors.weightColorMid);
    p.Color("weightColorHigh", app.weightColors.weightColorHigh);

    p.Flag("reverbEnabled", reverb.enabled);
    p.Float("reverbSize", reverb.size, 3, 0, 1, kReverb.size);
    p.Float("reverbDecay", reverb.decay, 3, 0, 1, kReverb.decay);
    p.Float("reverbDamping", reverb.damping, 3, 0, 1, kReverb.damping);
    p.Float("reverbPreDelay", reverb.preDelay, 4, 0, 0.2f, kReverb.preDelay);
    p.Float("reverbDiffusion", reverb.diffusion, 3, 0, 1, kReverb.diffusion);
    p.Float("reverbModulation", reverb.modulation, 3, 0, 1, kReverb.modulation);
    p.Float("reverbMacro", reverb.macro, 3, 0, 1, kReverb.macro);
    for (int g = 0; g < 3; ++g)
        p.Float("reverbSend" + std::to_string(g), reverb.groupSends[static_cast<size_t>(g)], 3, 0, 1,
                kReverb.groupSends[static_cast<size_t>(g)]);

    p.Flag("tm_valid", model.valid);
    if (!p.Writing() || model.valid) {
        p.Count("tm_totalSpots", model.totalSpots);
        for (int i = 0; i < 5; ++i) p.Finite("tm_w" + std::to_string(i), model.w[i], kModel.w[i]);
        p.Finite("tm_defaultCompositeMean", model.defaultCompositeMean, kModel.defaultCompositeMean);
        p.Finite("tm_thresholdScale", model.thresholdScale, kModel.thresholdScale);
        p.Finite("tm_subtleScale", model.subtleScale, kModel.subtleScale);
        p.Finite("tm_spotCutoff", model.spotCutoff, kModel.spotCutoff);
        p.Finite("tm_gainA", model.gainA, kModel.gainA);
        p.Finite("tm_gainB", model.gainB, kModel.gainB);
        p.Finite("tm_weightBias", model.weightBias, kModel.weightBias);
        p.Finite("tm_spotDurScale", model.spotDurScale, kModel.spotDurScale);
        p.Finite("tm_sweepDurScale", model.sweepDurScale, kModel.sweepDurScale);
        p.Finite("tm_minGap", model.minGap, kModel.minGap);
        p.Count("tm_posCount", model.posCount);
        for (int i = 0; i < 5; ++i) p.Finite("tm_posMean" + std::to_string(i), model.posMean[i], 0);
        p.Count("tm_negCount", model.negCount);
        for (int i = 0; i < 5; ++i) p.Finite("tm_negMean" + std::to_string(i), model.negMean[i], 0);
    }

    p.Flag("showLauncherOnStartup", app.showLauncherOnStartup);
    p.Flag("updateCheckEnabled", app.updateCheckEnabled);

    if (p.Writing()) {
        if (!app.dismissedUpdateVersion.empty()) p.Line("dismissedUpdateVersion", app.dismissedUpdateVersion);
        p.Line("lastUpdateCheck", std::to_string(app.lastUpdateCheck));
        if (app.updateAvailable) {
            p.Line("updateAvailableVersion", app.updateAvailableVersion);
            if (!app.updateAvailablePageUrl.empty()) p.Line("updateAvailablePageUrl", app.updateAvailablePageUrl);
            if (!app.updateAvailableDate.empty()) p.Line("updateAvailableDate", app.updateAvailableDate);
            for (const std::string& note : app.updateAvailableNotes) p.Line("updateAvailableNote", note);
        }
        for (size_t i = 0; i < app.recentProjects.size(); ++i) {
            const std::string& entry = app.recentProjects[i];
            if (entry.empty() || entry.find_first_of("/\\") == std::string::npos) continue;
            if (!IsStorableRecentPath(entry)) {
                std::printf("[SavePrefs] Skipping corrupted recent project entry %d\n", static_cast<int>(i));
                continue;
            }
            p.Line("recentProject", entry);
        }
        for (const QueuedLibraryFolder& folder : SavedLibraryFolders(t.library))
            p.Line("libraryEx", folder.folder + "|" + std::to_string(int(folder.enabled)) + "|" +
                                    std::to_string(folder.group));
        return;
    }

    if (p.Reads("dismissedUpdateVersion")) app.dismissedUpdateVersion = std::string(p.Value());
    if (p.Reads("lastUpdateCheck")) app.lastUpdateCheck = LeadingInteger(p.Value());
    const bool version = p.Reads("updateAvailableVersion"), pageUrl = p.Reads("updateAvailablePageUrl");
    const bool date = p.Reads("updateAvailableDate"), note = p.Reads("updateAvailableNote");
    if ((version || pageUrl || date || note) && !p.State().updateSeen) {
        // The file's update result replaces whatever was known before.
        p.State().updateSeen = true;
        app.updateAvailable = true;
        app.updateAvailableVersion.clear();
        app.updateAvailablePageUrl.clear();
        app.updateAvailableDate.clear();
        app.updateAvailableNotes.clear();
    }
    if (version) app.updateAvailableVersion = std::string(p.Value());
    if (pageUrl) app.updateAvailablePageUrl = std::string(p.Value());
    if (date) app.updateAvailableDate = std::string(p.Value());
    if (note) app.updateAvailableNotes.emplace_back(p.Value());

    if (p.Reads("recentProject") && IsStorableRecentPath(p.Value()) &&
        app.recentProjects.size() < static_cast<size_t>(kMaxRecentProjects))
        app.recentProjects.emplace_back(p.Value());
    if (p.Reads("libraryEx")) p.State().libraries.push_back(ParseLibraryLine(p.Value()));
    if (p.Reads("library")) p.State().libraries.push_back(QueuedLibraryFolder{std::string(p.Value()), 1, -1});
    // "maxLayersPerEvent", "deconflictEnabled", "adaptiveLayerCount",
    // "dynamicRangePreserve", "murchCeiling" and "narrativeDensity" belonged
    // to settings that no longer exist; like any unknown key they are skipped.
}

bool FileExists(const std::string& path) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(path, ec);
    return exists || ec;  // a path that cannot be examined is kept
}

}  // namespace

PreferenceTargets GlobalPreferenceTargets() {
    return PreferenceTargets{gAppState, gProject, gAudioEngine, gSoundLibrary, PreferencesFilePath()};
}

void LoadPreferences() {
    PreferenceTargets targets = GlobalPreferenceTargets();
    LoadPreferences(targets);
}

void SavePreferences() {
    PreferenceTargets targets = GlobalPreferenceTargets();
    SavePreferences(targets);
}

void LoadPreferences(PreferenceTargets& t) {
    if (t.path.empty()) return;
    std::string text;
    // Only a regular file is read, and a file far beyond any settings file is
    // not one: neither a pipe nor a huge file can stall the start.
    if (ReadFileText(t.path, kMaxPreferencesFileBytes, text) != kReadOk) return;
    if (LoadPreferencesText(text, t)) SavePreferences(t);
}

bool LoadPreferencesText(std::string_view fileText, PreferenceTargets& t) {
    LoadState state;
    while (!fileText.empty()) {
        const size_t end = fileText.find('\n');
        std::string_view line = fileText.substr(0, end);
        fileText = end == std::string_view::npos ? std::string_view() : fileText.substr(end + 1);
        // A Windows line end loses its CR.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        PreferencePass pass(line.substr(0, equals), line.substr(equals + 1), state);
        VisitPreferences(pass, t);
    }

    AppState& app = t.app;
    if (app.fontSizeAuto) ApplyFontPreset(app, app.autoFontPreset);

    std::vector<std::string>& recent = app.recentProjects;
    const size_t before = recent.size();
    recent.erase(std::remove_if(recent.begin(), recent.end(), [](const std::string& p) { return !FileExists(p); }),
                 recent.end());
    const bool droppedStale = recent.size() != before;
    if (!recent.empty()) app.recentMenuDirty = true;

    // Diagnostic views never survive a restart.
    app.destructiveEQ = false;
    app.showSpectralHeatmap = false;
    app.heatmapRawTiming = false;
    t.engine.bypassDeconfliction.store(0);

    for (const QueuedLibraryFolder& folder : state.libraries)
        ApplySavedLibraryFolder(t.library, folder.folder, folder.enabled, folder.group);

    // Rewritten only now (by the caller), so the new file holds every
    // setting just read and the libraries with their flags and queued folders.
    return droppedStale;
}

std::string PreferencesText(PreferenceTargets& t) {
    std::string text;
    PreferencePass pass(text);
    VisitPreferences(pass, t);
    return text;
}

void SavePreferences(PreferenceTargets& t) {
    if (t.path.empty()) return;
    WriteTextFileAtomic(t.path, PreferencesText(t));
}
