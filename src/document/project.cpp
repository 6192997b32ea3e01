// project.cpp — the document's defaults, layer ids, mute reasons and frame steps.
#include "document/project.h"

#include <cmath>

#include "document/text_util.h"

Project gProject;

int32_t NextRenderResultId() {
    static std::atomic<int32_t> counter{1};
    return counter.fetch_add(1, std::memory_order_relaxed);
}

Project::Project() {
    static const char* const kNames[3] = {"BG", "FX A", "FX B"};
    static const float kTargets[3] = {-52.0f, -16.0f, -25.0f};
    for (int g = 0; g < 3; ++g) {
        CopyTextField(groups[g].name, kNames[g]);
        groups[g].trackCount = 8;
        groups[g].stereo = true;
        groups[g].targetLUFS = kTargets[g];
        groups[g].usedTracks = 0;
    }
}

void SetMuteReason(RenderResult& result, MuteReason reason, bool on) {
    if (on) {
        result.muteReasons = static_cast<uint8_t>(result.muteReasons | reason);
    } else {
        result.muteReasons = static_cast<uint8_t>(result.muteReasons & ~reason);
    }
    result.muted = result.muteReasons != 0;
}

void SetUserMuted(RenderResult& result, bool muted) { SetMuteReason(result, kMuteUser, muted); }

const char* ChannelCountName(int channels) {
    switch (channels) {
        case 1: return "mono";
        case 2: return "stereo";
        case 4: return "quad";
        case 6: return "5.1";
        case 8: return "7.1";
        default: return channels >= 1 ? "multi" : "?";
    }
}

float UsableFrameRate(float fps) {
    return fps >= kMinFrameRate && fps <= kMaxFrameRate ? fps : kDefaultFrameRate;  // NaN fails both
}

float TimelineFps(const Project& project) {
    return project.fps > 0 && std::isfinite(project.fps) ? project.fps : 25.0f;
}

float RoundToFrame(float t, float fps) { return std::round(t * fps) / fps; }
