// settings_panel.cpp — drawing the Settings tab.
//
// Index
//   Helpers             headings, separators, tooltips, combos, timecode fields
//   Project             rate, frame rate, timecodes, video start, description
//   Loudness, budget, scale
//   Application         the output device
//   Auto-save, updates, demo content
//   SettingsPanel       the child windows and the order of the sections
//   DumpSettingsFields
#include "ui/settings_panel.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "app/update_check.h"
#include "document/project.h"
#include "document/text_util.h"
#include "document/version.h"
#include "operations/app_state.h"
#include "operations/demo_content.h"
#include "operations/document_context.h"
#include "operations/preferences.h"
#include "operations/project_settings.h"
#include "operations/recipe_lists.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "render/scale_tuning.h"
#include "operations/output_devices.h"
#include "ui/settings_panel_logic.h"
#include "ui/tab_panel.h"
#include "ui/widgets.h"

namespace {

constexpr float kDeviceRefreshSeconds = 3.0f;
constexpr float kDemoToastSeconds = 3.0f;
// A column of the settings: a field of 8 lines' width and the longest label beside it.
constexpr float kSettingsColumnLeast = 270.0f;

// Kept between frames: the description being typed and the device list.
struct SettingsPanelState {
    char projectDescriptionBuffer[256] = {};
    bool descriptionActive = false;
    bool descriptionEditing = false;  // the field takes typing (else the text shows wrapped)
    bool descriptionFocus = false;    // give it the keyboard on the next frame
    float deviceRefreshTimer = 0;
    DeviceListView devices;
    bool workerStopRegistered = false;
    ImVec4 normalizeRect;  // x, y, width, height in points, for the test dump
    ImVec4 checkNowRect;   // the same of "Check now" (zero while a check runs)
    std::string updateText;  // the lines of the UPDATES section's state, joined by "|", for the dump
    bool updateControlsEnabled = true;  // the automatic-check box and "Check now" take clicks
};
SettingsPanelState gSettings;

struct Frame {
    const DocumentContext& ctx;
    AppState& app;
    const Project& project;  // read here; the operations change it
    float itemWidth;
    bool mayChange;  // the document, results and voices may change (no busy task, no export)
};

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

ImVec4 Color(uint32_t packed) { return ImGui::ColorConvertU32ToFloat4(static_cast<ImU32>(packed)); }

void Heading(const char* text) {
    ImGui::TextColored(Color(gTheme.textDim), "%s", text);
    ImGui::Dummy(ImVec2(0, 4));
}

void SectionBreak() {
    ImGui::Dummy(ImVec2(0, 4));
    ImGui::Separator();
    ImGui::Dummy(ImVec2(0, 4));
}

void Tooltip(const char* text, bool alsoDisabled = false) {
    if (ImGui::IsItemHovered(alsoDisabled ? ImGuiHoveredFlags_AllowWhenDisabled : ImGuiHoveredFlags_None))
        ShowStyledTooltip("%s", text);
}

void HandCursorWhenHovered() {
    if (ImGui::IsItemHovered()) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
}

int TimecodeFilter(ImGuiInputTextCallbackData* data) { return TimecodeCharAccepted(data->EventChar) ? 0 : 1; }

// A timecode text field; the text the user typed when it changed this frame.
const char* TimecodeField(const Frame& f, const char* label, float seconds) {
    static char buffer[kTimecodeFieldBytes];
    FormatTimecodeField(f.project, seconds, buffer, sizeof buffer);
    ImGui::SetNextItemWidth(f.itemWidth);
    const bool edited =
        ImGui::InputText(label, buffer, sizeof buffer, ImGuiInputTextFlags_CallbackCharFilter, TimecodeFilter);
    return edited ? buffer : nullptr;
}

// ---------------------------------------------------------------------------
// Project
// ---------------------------------------------------------------------------

// A combo over `count` entries in the combo look; the entry picked this
// frame, or -1. The tooltip shows while the menu is closed, also disabled.
int PickFromCombo(const char* label, float width, int count, int current, const char* (*textOf)(int),
                  const char* tooltip) {
    ComboScope scope;
    ImGui::SetNextItemWidth(width);
    const bool open = ImGui::BeginCombo(label, current >= 0 && current < count ? textOf(current) : "");
    if (!open) {
        if (tooltip) Tooltip(tooltip, true);
        return -1;
    }
    int picked = -1;
    for (int i = 0; i < count; ++i) {
        const bool selected = i == current;
        ImGui::PushID(i);
        if (ImGui::Selectable(textOf(i), selected)) picked = i;
        if (selected) ImGui::SetItemDefaultFocus();
        ImGui::PopID();
    }
    ImGui::EndCombo();
    return picked;
}

void SampleRateCombo(const Frame& f, AudioOutput& output) {
    ImGui::BeginDisabled(!f.mayChange);
    const int picked = PickFromCombo(
        "Sample Rate##s", f.itemWidth, int(kSampleRateItems.size()), SampleRateItemIndex(f.app.projectSampleRate),
        [](int i) { return kSampleRateItems[size_t(i)].text; },
        "Project sample rate for playback and export.\nMatch this to your Pro Tools / DAW session.");
    ImGui::EndDisabled();
    if (picked >= 0) ChangeProjectSampleRate(f.ctx, output, kSampleRateItems[size_t(picked)].rate);
}

void FrameRateCombo(const Frame& f, bool videoLoaded) {
    ImGui::BeginDisabled(videoLoaded || !f.mayChange);
    const int picked = PickFromCombo(
        "Framerate##s", f.itemWidth, int(kFrameRateItems.size()), FrameRateItemIndex(f.project.fps),
        [](int i) { return kFrameRateItems[size_t(i)].text; },
        videoLoaded ? "Framerate is locked to the loaded video." : "Project framerate.\nLoading a video overrides this.");
    ImGui::EndDisabled();
    if (picked >= 0) SetFrameRate(f.ctx, kFrameRateItems[size_t(picked)].fps);
}

// The description as wide as its column, wrapped onto as many lines as it
// needs; a click turns it into a text field for typing (one line, as the
// GUI's fields are), and leaving the field shows it wrapped again.
void DescriptionField(AppState& app) {
    SettingsPanelState& s = gSettings;
    if (!s.descriptionActive) CopyTextField(s.projectDescriptionBuffer, app.projectDescription);
    const ImGuiStyle& style = ImGui::GetStyle();
    const float width = std::max(1.0f, ImGui::GetContentRegionAvail().x - (style.ScrollbarSize + 4));
    if (s.descriptionEditing) {
        ImGui::SetNextItemWidth(width);
        if (s.descriptionFocus) ImGui::SetKeyboardFocusHere();
        if (ImGui::InputTextWithHint("##projdesc", "Project description...", s.projectDescriptionBuffer,
                                     sizeof s.projectDescriptionBuffer))
            SetProjectDescription(app, s.projectDescriptionBuffer);
        s.descriptionActive = ImGui::IsItemActive();
        // Focus lands a frame after it is asked for; until then the field is
        // not active and must not close.
        if (!s.descriptionFocus && !s.descriptionActive) s.descriptionEditing = false;
        s.descriptionFocus = false;
        Tooltip("Project description");
        return;
    }
    const bool empty = app.projectDescription.empty();
    const char* text = empty ? "Project description..." : app.projectDescription.c_str();
    const float wrap = std::max(1.0f, width - 2 * style.FramePadding.x);
    const ImVec2 textSize = ImGui::CalcTextSize(text, nullptr, false, wrap);
    const float height = std::max(ImGui::GetFrameHeight(), textSize.y + 2 * style.FramePadding.y);
    const ImVec2 at = ImGui::GetCursorScreenPos();
    if (ImGui::InvisibleButton("##projdesc", ImVec2(width, height))) {
        s.descriptionEditing = true;
        s.descriptionFocus = true;
    }
    const bool hovered = ImGui::IsItemHovered();
    if (hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_TextInput);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(at, ImVec2(at.x + width, at.y + height),
                        ImGui::GetColorU32(hovered ? ImGuiCol_FrameBgHovered : ImGuiCol_FrameBg), style.FrameRounding);
    draw->AddText(ImGui::GetFont(), ImGui::GetFontSize(),
                  ImVec2(at.x + style.FramePadding.x, at.y + style.FramePadding.y),
                  ImGui::GetColorU32(empty ? ImGuiCol_TextDisabled : ImGuiCol_Text), text, nullptr, wrap);
    Tooltip("Project description");
}

void ProjectSection(const Frame& f, AudioOutput& output) {
    VideoPlayer& video = gVideoPlayer;
    Heading("PROJECT");
    SampleRateCombo(f, output);
    FrameRateCombo(f, video.loaded);

    // A render and an export read the timing as they run.
    ImGui::BeginDisabled(!f.mayChange);
    if (const char* text = TimecodeField(f, "Start timecode##s", f.project.startTC)) SetStartTimecode(f.ctx, text);
    Tooltip("Project start timecode (HH:MM:SS:FF)\nOffsets all clip positions in AAF/BWF export.");
    if (const char* text = TimecodeField(f, "Timeline duration##dur", f.project.totalDuration))
        SetTimelineDuration(f.ctx, text);
    Tooltip("Timeline duration (HH:MM:SS:FF).\nSet manually when not using video.\nLoading a video overrides this.");
    if (video.loaded) {
        if (const char* text = TimecodeField(f, "Video start##vst", video.startOffset.load()))
            SetVideoStart(f.ctx, video.startOffset, video.duration, text);
        Tooltip("Where the video starts on the timeline (HH:MM:SS:FF).\nUse this to place a video clip at a "
                "specific\nposition within a longer timeline.");
    }
    ImGui::EndDisabled();
    DescriptionField(f.app);
}

// ---------------------------------------------------------------------------
// Loudness, budget, scale
// ---------------------------------------------------------------------------

constexpr int kGroupOrder[3] = {1, 2, 0};  // FX A, FX B, BG

void LoudnessSection(const Frame& f) {
    ImGui::Dummy(ImVec2(0, 4));
    Heading("Target Loudness");
    ImGui::BeginDisabled(!f.mayChange);
    bool normalize = f.project.normalizeLUFS;
    if (ImGui::Checkbox("Normalize##s", &normalize)) SetNormalizeLoudness(f.ctx, normalize);
    const ImVec2 min = ImGui::GetItemRectMin(), size = ImGui::GetItemRectSize();
    gSettings.normalizeRect = ImVec4(min.x, min.y, size.x, size.y);
    Tooltip("Normalize each clip to a target loudness (ITU-R BS.1770-4).\nMeasured on the trimmed, processed audio "
            "region.\nGain transfers to Pro Tools as clip gain via AAF.");
    if (f.project.normalizeLUFS) {
        for (int g : kGroupOrder) {
            const MixGroup& group = f.project.groups[g];
            const std::string label = GroupFieldLabel(std::string(TextFieldView(group.name)).c_str(), "target", "lufs", g);
            ImGui::SetNextItemWidth(f.itemWidth);
            float target = group.targetLUFS;
            if (ImGui::DragFloat(label.c_str(), &target, 0.5f, -60.0f, -6.0f, "%.0f LUFS", ImGuiSliderFlags_AlwaysClamp))
                SetLoudnessTarget(f.ctx, g, target);
            if (ImGui::IsItemDeactivatedAfterEdit()) CommitLoudnessTarget(f.ctx);
        }
    }
    ImGui::EndDisabled();
}

void TrackBudgetSection(const Frame& f) {
    ImGui::Dummy(ImVec2(0, 4));
    Heading("Track Budget");
    ImGui::BeginDisabled(!f.mayChange);
    bool budget = f.project.budgetMode;
    if (ImGui::Checkbox("Limit tracks##budget", &budget)) SetTrackBudget(f.ctx, budget);
    Tooltip("When enabled, each group's track count becomes a hard limit.\nExcess layers are muted. Hero events get "
            "priority.\nWhen disabled, tracks auto-expand to fit all layers.");
    if (f.project.budgetMode) {
        for (int g : kGroupOrder) {
            const MixGroup& group = f.project.groups[g];
            const std::string label = GroupFieldLabel(std::string(TextFieldView(group.name)).c_str(), "tracks", "tc", g);
            ImGui::SetNextItemWidth(f.itemWidth);
            int count = group.trackCount;
            if (ImGui::DragInt(label.c_str(), &count, 0.15f, 1, 48, "%d", ImGuiSliderFlags_AlwaysClamp))
                SetGroupTrackCount(f.ctx, g, count);
            if (ImGui::IsItemDeactivatedAfterEdit()) ApplyTrackBudget(f.ctx);
        }
    }
    ImGui::EndDisabled();
}

void ScaleSection(const Frame& f) {
    ImGui::Dummy(ImVec2(0, 4));
    Heading("Musical Scale");
    ImGui::BeginDisabled(!f.mayChange);
    {
        ComboScope scope;
        ImGui::SetNextItemWidth(f.itemWidth);
        // A scale read from a file that the menu does not offer still shows its name.
        const bool open = ImGui::BeginCombo("Scale##ms", MusicalScaleName(f.project.scaleType));
        if (!open)
            Tooltip("Quantize clip pitches to a musical scale.\nEach clip's pitch is detected from the actual "
                    "audio\nregion and shifted to the nearest scale degree.\nWorks best with tonal SFX (metals, "
                    "resonant impacts).");
        if (open) {
            for (const ScaleMenuItem& item : kScaleMenuItems) {
                if (item.separatorBefore) ImGui::Separator();
                const bool selected = item.scaleType == f.project.scaleType;
                if (ImGui::Selectable(MusicalScaleName(item.scaleType), selected) && !selected)
                    SetScaleType(f.ctx, item.scaleType);
                if (selected) ImGui::SetItemDefaultFocus();
            }
            ImGui::EndCombo();
        }
    }
    if (f.project.scaleType != kScaleOff) {
        const int picked = PickFromCombo("Root note##ms", f.itemWidth, 12, f.project.scaleRoot, ScaleRootName,
                                         "Root note (tonic) of the scale.");
        if (picked >= 0 && picked != f.project.scaleRoot) SetScaleRoot(f.ctx, picked);
    }
    ImGui::EndDisabled();
}

// ---------------------------------------------------------------------------
// Application
// ---------------------------------------------------------------------------

void ApplicationSection(AudioOutput& output) {
    SettingsPanelState& s = gSettings;
    AudioDeviceWorker& worker = gAudioDeviceWorker;
    if (!s.workerStopRegistered) {
        gBackgroundWorkerStops.stopAudioDeviceWorker = [] { StopAudioDeviceWorker(gAudioDeviceWorker); };
        s.workerStopRegistered = true;
    }
    const float dt = ImGui::GetIO().DeltaTime;
    if (std::isfinite(dt) && dt > 0) s.deviceRefreshTimer += dt;
    if (s.deviceRefreshTimer > kDeviceRefreshSeconds) {
        s.deviceRefreshTimer = 0;
        if (output.api) RequestDeviceRefresh(worker, output);
    }
    UpdateDeviceListView(s.devices, worker, output);

    Heading("APPLICATION");
    const AudioOutputStatus& status = s.devices.status;
    if (!s.devices.valid) return;
    if (status.devices.empty()) {
        // Without a device the section would be a bare heading; say why.
        ImGui::TextColored(Color(gTheme.textDim), "No audio output device found.");
        return;
    }
    const int shown = ShownDeviceIndex(status);
    const std::string preview = shown >= 0 ? status.devices[size_t(shown)].name : std::string("Default");
    const float labelWidth = std::ceil(ImGui::CalcTextSize("Audio Output").x);
    ComboScope scope;
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - labelWidth - 16 - ImGui::GetStyle().ScrollbarSize);
    const bool open = ImGui::BeginCombo("Audio Output##dev", preview.c_str());
    if (!open) Tooltip("Audio output device for playback.");
    if (!open) return;
    for (size_t i = 0; i < status.devices.size(); ++i) {
        const OutputDevice& device = status.devices[i];
        const bool selected = int(i) == shown;
        ImGui::PushID(int(i));
        if (ImGui::Selectable(DeviceMenuName(device).c_str(), selected) && !selected)
            RequestDeviceSwitch(worker, output, device.name, device.id);
        if (selected) ImGui::SetItemDefaultFocus();
        ImGui::PopID();
    }
    ImGui::EndCombo();
}

// ---------------------------------------------------------------------------
// Auto-save, updates, demo content
// ---------------------------------------------------------------------------

void AutoSaveSection(const Frame& f) {
    AppState& app = f.app;
    Heading("AUTO-SAVE");
    if (ImGui::Checkbox("Auto-save enabled##as", &app.autoSaveEnabled)) app.autoSaveElapsed = 0;
    Tooltip("Automatically save the project at regular intervals.\nPrevious versions are kept as rotating "
            "backups.\nRequires a saved project (Ctrl+S first).");
    ImGui::BeginDisabled(!app.autoSaveEnabled);
    const int interval = PickFromCombo(
        "Interval##as", f.itemWidth, int(kAutoSaveIntervalItems.size()), AutoSaveIntervalIndex(app.autoSaveInterval),
        [](int i) { return kAutoSaveIntervalItems[size_t(i)].text; }, nullptr);
    if (interval >= 0) {
        app.autoSaveInterval = kAutoSaveIntervalItems[size_t(interval)].seconds;
        app.autoSaveElapsed = 0;
    }
    ImGui::SetNextItemWidth(f.itemWidth);
    ImGui::SliderInt("Backups to keep##as", &app.maxBackups, 1, 20, "%d", ImGuiSliderFlags_AlwaysClamp);
    Tooltip("Number of rotating backup copies to keep.\nStored in ProjectFolder/Backups/.");
    ImGui::EndDisabled();
}

void UpdatesSection(AppState& app) {
    Heading("UPDATES");
    const ImVec4 dim = Color(gTheme.textDim);
    const bool possible = UpdateCheckPossible();
    std::string& shown = gSettings.updateText;
    shown.clear();
    if (!ShowsUpdateAvailable(app)) {
        for (const std::string& line : UpToDateLines(app, kProgramVersion, possible)) {
            ImGui::TextColored(dim, "%s", line.c_str());
            shown += (shown.empty() ? "" : "|") + line;
        }
    } else {
        ImGui::Text("Version %s is available.", app.updateAvailableVersion.c_str());
        shown = "Version " + app.updateAvailableVersion + " is available.";
        ImGui::TextColored(dim, "You're on %s.", kProgramVersion);
        for (const std::string& note : app.updateAvailableNotes)
            ImGui::TextColored(dim, "%s", UpdateNoteLine(note).c_str());
        ImGui::Dummy(ImVec2(0, 4));
        bool view;
        {
            PrimaryButtonScope scope;
            view = ImGui::Button("View update");
        }
        HandCursorWhenHovered();
        // Without a page address there is nothing to open.
        if (view && app.openUrlCallback && !app.updateAvailablePageUrl.empty())
            app.openUrlCallback(app.updateAvailablePageUrl);
        ImGui::SameLine();
        bool dismiss;
        {
            LinkButtonScope scope;
            ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(ImGui::GetStyle().FramePadding.x, 0));
            dismiss = ImGui::Button("Dismiss");
            ImGui::PopStyleVar();
        }
        HandCursorWhenHovered();
        if (dismiss) {
            app.dismissedUpdateVersion = app.updateAvailableVersion;
            SavePreferences();
        }
        ImGui::Dummy(ImVec2(0, 4));
    }
    const std::string checked = LastCheckedText(int64_t(std::time(nullptr)), app.lastUpdateCheck);
    if (!checked.empty()) ImGui::TextColored(dim, "%s", checked.c_str());
    ImGui::Dummy(ImVec2(0, 2));
    // With nowhere to ask, both controls stand disabled under the sentence
    // that says so: the box shows the checks as they are (off), while the
    // preference keeps what the user chose for a build that has an address.
    gSettings.updateControlsEnabled = possible;
    ImGui::BeginDisabled(!possible);
    bool automatic = possible && app.updateCheckEnabled;
    if (ImGui::Checkbox("Check for updates automatically", &automatic) && possible) {
        app.updateCheckEnabled = automatic;
        SavePreferences();
    }
    if (!possible) Tooltip("This build names no address to ask for updates.", true);
    gSettings.checkNowRect = ImVec4();
    if (app.updateCheckStarted.load()) {
        ImGui::EndDisabled();
        ImGui::TextColored(dim, "Checking...");
        return;
    }
    bool check;
    {
        LinkButtonScope scope;
        ImGui::PushStyleColor(ImGuiCol_Text, static_cast<ImU32>(gTheme.accent));
        check = ImGui::Button("Check now");
        ImGui::PopStyleColor();
    }
    ImGui::EndDisabled();
    const ImVec2 min = ImGui::GetItemRectMin(), size = ImGui::GetItemRectSize();
    gSettings.checkNowRect = ImVec4(min.x, min.y, size.x, size.y);
    if (possible) HandCursorWhenHovered();
    if (!possible) Tooltip("This build names no address to ask for updates.", true);
    if (check && possible) StartUpdateCheck();
}

void DemoContentSection(AppState& app) {
    Heading("DEMO CONTENT");
    bool restore;
    {
        LinkButtonScope scope;
        ImGui::PushStyleColor(ImGuiCol_Text, static_cast<ImU32>(gTheme.accent));
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(ImGui::GetStyle().FramePadding.x, 0));
        restore = ImGui::Button("Restore Demo Content");
        ImGui::PopStyleVar();
        ImGui::PopStyleColor();
    }
    HandCursorWhenHovered();
    Tooltip("Re-copies the bundled demo recipes, chains, projects and\nlibraries into Documents/Tessaloom.\nFiles "
            "you created or modified are never overwritten.");
    if (!restore) return;
    InstallDemoContent(true);
    LoadRecipesFolder();
    RescanRecipesAndChains();
    app.toastText = "Demo content restored";
    app.toastTimer = kDemoToastSeconds;
}

}  // namespace

// ---------------------------------------------------------------------------
// SettingsPanel
// ---------------------------------------------------------------------------

void SettingsPanel(ImDrawList*, const UILayout& layout) {
    AppState& app = gAppState;
    TabPanelFrame frame;
    if (!BeginTabPanel("##settings_tab", "SETTINGS", layout, frame)) return;
    const float scrollWidth = frame.width - 32;
    const float scrollHeight = frame.height - 38;
    if (scrollWidth >= 1 && scrollHeight >= 1) {
        ImGui::SetCursorPos(ImVec2(16, 30));
        if (ImGui::BeginChild("##settingsscroll", ImVec2(scrollWidth, scrollHeight))) {
            const DocumentContext ctx = ProgramDocumentContext();
            const float fontSize = ImGui::GetFontSize();
            // Where the panel is wide enough the application's sections stand
            // beside the project's: at a 1280×720 window one column took
            // about ten wheel notches to reach its end.
            const bool columns = scrollWidth >= 2 * kSettingsColumnLeast;
            const float region = columns ? scrollWidth / 2 : scrollWidth;
            const Frame f{ctx, app, gProject, std::min(std::max(8 * fontSize, 120.0f), region - 140),
                          DocumentMayChange(app)};
            if (columns) ImGui::Columns(2, "##settingscols", false);
            ProjectSection(f, gAudioOutput);
            LoudnessSection(f);
            TrackBudgetSection(f);
            ScaleSection(f);
            if (columns)
                ImGui::NextColumn();
            else
                SectionBreak();
            ApplicationSection(gAudioOutput);
            SectionBreak();
            AutoSaveSection(f);
            SectionBreak();
            UpdatesSection(app);
            SectionBreak();
            DemoContentSection(app);
            if (columns) ImGui::Columns(1);
        }
        ImGui::EndChild();
    }
    EndTabPanel(frame);
}

// ---------------------------------------------------------------------------
// DumpSettingsFields
// ---------------------------------------------------------------------------

void DumpSettingsFields(StateDump& dump) {
    const AppState& app = gAppState;
    const Project& p = gProject;
    dump.Field("settings.projectSampleRate", app.projectSampleRate);
    dump.Field("settings.engineSampleRate", int(gAudioEngine.sampleRate.load()));
    dump.Field("settings.fps", double(p.fps));
    char tc[kTimecodeFieldBytes];
    FormatTimecodeField(p, p.startTC, tc, sizeof tc);
    dump.Field("settings.startTC", tc);
    FormatTimecodeField(p, p.totalDuration, tc, sizeof tc);
    dump.Field("settings.totalDuration", tc);
    dump.Field("settings.normalizeLUFS", p.normalizeLUFS);
    dump.Field("settings.budgetMode", p.budgetMode);
    dump.Field("settings.scaleType", p.scaleType);
    dump.Field("settings.scaleRoot", p.scaleRoot);
    dump.Field("settings.autoSaveEnabled", app.autoSaveEnabled);
    dump.Field("settings.autoSaveInterval", double(app.autoSaveInterval));
    dump.Field("settings.deferredRebuild", app.deferredRebuild.load());
    dump.Field("settings.devices", int(gSettings.devices.status.devices.size()));
    const ImVec4& r = gSettings.normalizeRect;
    dump.RectField("settings.normalize.rect", r.x, r.y, r.z, r.w);
    const ImVec4& c = gSettings.checkNowRect;
    dump.RectField("settings.checkNow.rect", c.x, c.y, c.z, c.w);
    dump.Field("settings.updateText", gSettings.updateText);
    dump.Field("settings.updateControls.enabled", gSettings.updateControlsEnabled);
}
