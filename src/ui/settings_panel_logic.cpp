// settings_panel_logic.cpp — value tables, timecode fields, the group
// fields' labels, update texts and the device combo.
//
// Index
//   Value tables
//   Timecode fields
//   Loudness and track fields
//   Updates
//   Output devices
#include "ui/settings_panel_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "playback/audio_output.h"
#include "render/scale_tuning.h"

// ---------------------------------------------------------------------------
// Value tables
// ---------------------------------------------------------------------------

const std::array<SampleRateItem, 5> kSampleRateItems = {{
    {"44100 Hz", 44100}, {"48000 Hz", 48000}, {"88200 Hz", 88200}, {"96000 Hz", 96000}, {"192000 Hz", 192000},
}};

const std::array<FrameRateItem, 10> kFrameRateItems = {{
    {"23.976", 23.976f}, {"24", 24.0f}, {"25", 25.0f}, {"29.97", 29.97f}, {"30", 30.0f},
    {"48", 48.0f}, {"50", 50.0f}, {"59.94", 59.94f}, {"60", 60.0f}, {"120", 120.0f},
}};

const std::array<IntervalItem, 6> kAutoSaveIntervalItems = {{
    {"1 min", 60}, {"2 min", 120}, {"5 min", 300}, {"10 min", 600}, {"15 min", 900}, {"30 min", 1800},
}};

const std::array<ScaleMenuItem, 7> kScaleMenuItems = {{
    {0, false}, {1, false}, {2, false}, {kScaleChromatic, false}, {11, true}, {12, false}, {16, false},
}};

int SampleRateItemIndex(int rate) {
    for (size_t i = 0; i < kSampleRateItems.size(); ++i)
        if (kSampleRateItems[i].rate == rate) return int(i);
    return 1;  // "48000 Hz"
}

int FrameRateItemIndex(float fps) {
    for (size_t i = 0; i < kFrameRateItems.size(); ++i)
        if (std::fabs(kFrameRateItems[i].fps - fps) < 0.005f) return int(i);
    return 1;  // "24"
}

int AutoSaveIntervalIndex(float seconds) {
    for (size_t i = 0; i < kAutoSaveIntervalItems.size(); ++i)
        if (std::fabs(kAutoSaveIntervalItems[i].seconds - seconds) < 1.0f) return int(i);
    return 2;  // "5 min"
}

// ---------------------------------------------------------------------------
// Timecode fields
// ---------------------------------------------------------------------------

bool TimecodeCharAccepted(unsigned int c) { return c < 256 && ((c >= '0' && c <= '9') || c == ':'); }

void FormatTimecodeField(const Project& project, float seconds, char* out, size_t size) {
    FormatTimecode(project, seconds, out, size);
}

// ---------------------------------------------------------------------------
// Loudness and track fields
// ---------------------------------------------------------------------------

std::string GroupFieldLabel(const char* groupName, const char* what, const char* id, int group) {
    return std::string(groupName) + " " + what + "##" + id + std::to_string(group);
}

// ---------------------------------------------------------------------------
// Updates
// ---------------------------------------------------------------------------

bool ShowsUpdateAvailable(const AppState& app) {
    return app.updateAvailable && !app.updateAvailableVersion.empty() &&
           app.updateAvailableVersion != app.dismissedUpdateVersion;
}

std::vector<std::string> UpToDateLines(const AppState& app, const char* runningVersion, bool checkPossible) {
    if (!app.updateCheckEnabled || !checkPossible) return {"Automatic update checks are off.", "This app never connects on its own."};
    return {std::string("You're on ") + runningVersion + " \xE2\x80\x94 the latest version."};
}

std::string UpdateNoteLine(const std::string& note) { return "  \xE2\x80\xA2 " + note; }

std::string LastCheckedText(int64_t now, int64_t lastCheck) {
    if (lastCheck <= 0) return "";
    const long long e = std::max<long long>(0, now - lastCheck);
    char text[64];
    if (e < 60)
        std::snprintf(text, sizeof text, "Last checked just now.");
    else if (e < 3600)
        std::snprintf(text, sizeof text, "Last checked %lld min ago.", e / 60);
    else if (e < 86400)
        std::snprintf(text, sizeof text, "Last checked %lld hr ago.", e / 3600);
    else
        std::snprintf(text, sizeof text, "Last checked %lld day%s ago.", e / 86400, e / 86400 == 1 ? "" : "s");
    return text;
}

// ---------------------------------------------------------------------------
// Output devices
// ---------------------------------------------------------------------------

std::string DeviceMenuName(const OutputDevice& device) {
    return device.isDefault ? device.name + " (Default)" : device.name;
}

int ShownDeviceIndex(const AudioOutputStatus& status) {
    if (!status.open) return -1;
    const int n = int(status.devices.size());
    const int selected = status.selectedDevice;
    if (!status.deviceName.empty()) {
        if (selected >= 0 && selected < n && status.devices[size_t(selected)].name == status.deviceName)
            return selected;
        for (int i = 0; i < n; ++i)
            if (status.devices[size_t(i)].name == status.deviceName) return i;
        return -1;
    }
    return selected >= 0 && selected < n ? selected : -1;
}
