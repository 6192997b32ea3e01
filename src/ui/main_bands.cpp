// main_bands.cpp — the bands' shared state and their fields in the window
// test driver's dump.
#include "ui/main_bands.h"

#include <cstdio>

#include "app/test_driver.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "playback/audio_engine.h"

MainBandsState gBands;

void DumpMainBands(StateDump& dump) {
    const AppState& app = gAppState;
    for (const auto& [key, r] : gBands.rects) {
        char value[96];
        std::snprintf(value, sizeof value, "%.1f,%.1f,%.1f,%.1f", static_cast<double>(r.x), static_cast<double>(r.y),
                      static_cast<double>(r.width), static_cast<double>(r.height));
        dump.Field("band." + key + ".rect", std::string(value));
    }
    dump.Field("band.timecode", gBands.timecode);
    dump.Field("band.projectName", gBands.projectName);
    dump.Field("band.projectNameShown", gBands.projectNameShown);
    dump.Field("band.titleLogo", gBands.titleLogoGlyph);
    dump.Field("band.footerLeft", gBands.footerLeft);
    dump.Field("band.footerRight", gBands.footerRight);
    dump.Field("band.exportLine", gBands.exportLine);
    dump.Field("band.renderLabel", gBands.renderLabel);
    dump.Field("band.renderEnabled", gBands.renderEnabled);
    dump.Field("band.videoUploads", gBands.video.uploads);
    dump.Field("band.videoCaption", gBands.videoCaption);
    dump.Field("playing", app.playing);
    dump.Field("currentTime", static_cast<double>(app.currentTime));
    dump.Field("enginePosition", static_cast<int64_t>(gAudioEngine.position.load()));
    dump.Field("masterGain", static_cast<double>(gAudioEngine.masterGain.load()));
    dump.Field("events", static_cast<int>(gProject.events.size()));
    for (size_t i = 0; i < gProject.events.size() && i < 20; ++i) {
        const Event& e = gProject.events[i];
        char value[64];
        std::snprintf(value, sizeof value, "%d,%.3f,%d", e.shape, static_cast<double>(e.time), e.locked ? 1 : 0);
        dump.Field("event." + std::to_string(i), std::string(value));
    }
    dump.Field("undoSteps", static_cast<int>(app.undoHistory.undo.size()));
    dump.Field("renderRequestKind", app.renderRequestKind);
    dump.Field("showAbout", app.showAbout);
    dump.Field("uiAnimating", app.uiAnimating);
}
