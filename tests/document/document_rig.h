// document_rig.h — a private document, library, engine and app state for the
// edit-operation tests, with voices built from placeholder layers.
#pragma once

#include <memory>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/undo.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/temp_dir.h"

// A short mono sound file in `dir`; its path.
inline std::string WriteSound(const TempDir& dir, const std::string& name, double seconds,
                              SignalKind kind = SignalKind::Noise, double frequency = 440) {
    AudioSpec spec;
    spec.kind = kind;
    spec.seconds = seconds;
    spec.frequency = frequency;
    const std::string path = dir.File(name);
    return WriteTestAudio(path, spec) ? path : std::string();
}

struct DocRig : DocumentRecords {
    static constexpr int kRate = 48000;

    DocRig() {
        app->projectSampleRate = kRate;
        ResetEngineVoices(*engine, kRate, 0);
    }

    // `events` Fill events at 1 s, 2 s, ... with `layers` silent placeholder
    // layers each (their voices follow the event's live curve).
    void AddLayeredEvents(int events, int layers) {
        for (int e = 0; e < events; ++e) {
            const int index = AddEvent(*project, 1.0f + float(project->events.size()), kShapeFill, 0.5f);
            for (int l = 0; l < layers; ++l) {
                RenderResult r;
                r.placeholder = true;
                r.eventIdx = index;
                r.startTime = project->events[size_t(index)].time;
                r.duration = 0.5f;
                r.groupTrack = l;
                r.procMode = 1;
                project->results.push_back(r);
            }
        }
        project->rendered = true;
    }

    // A voice for every layer, as a full rebuild gives.
    void BuildVoices() {
        ResetEngineVoices(*engine, kRate, 0);
        for (size_t i = 0; i < project->results.size(); ++i)
            BuildPlaybackVoice(*engine, project->results[i], int(i), kRate, nullptr, int(project->events.size()),
                               project->events.data(), 0, 0, false);
    }
};
