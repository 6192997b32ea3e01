// export_settings.h — what an export writes; kept in the application state,
// saved in the preferences and in the project.
#pragma once

struct ExportSettings {
    float handleDuration = 1.0f;
    bool handleFullSource = false;
    float fadeInDuration = 0.01f;
    float fadeOutDuration = 0.05f;
    bool exportAAFMarkers = false;
    bool exportAAFVolAuto = true;
    bool exportAAFSourceChannels = true;
    bool exportFormatAAF = true;
    bool exportFormatWAV = true;
    bool exportWavMixdown = true;
    bool exportWavStems = false;
    bool exportWavTracks = false;
    bool exportWavClips = false;
    bool exportReverbStem = true;

    bool operator==(const ExportSettings&) const = default;
};
