// layers_fixture.h — a rendered project for the layer, scene and trace
// window tests and benchmarks: library layers in all three groups, a Clip,
// two scenes and a picture trace with suggestions, written as a project
// file beside its generated sounds.
#pragma once

#include <cmath>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "persistence/project_file.h"
#include "picture/trace_records.h"
#include "render/clip_bed_events.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"

// Sounds in `folder`; events over 30 s at 25 frames a second; the Clip
// (event 0) plays 2 .. 6 s of an 8 s file from 4 s.
inline bool WriteLayersFixture(const std::string& folder, const std::string& path) {
    Project p;
    p.totalDuration = 30;
    p.fps = 25;
    auto sound = [&](const std::string& name, SignalKind kind, double seconds, double frequency) {
        AudioSpec spec;
        spec.kind = kind;
        spec.seconds = seconds;
        spec.frequency = frequency;
        spec.clickInterval = 0.4;
        const std::string file = folder + "/" + name;
        return WriteTestAudio(file, spec) ? file : std::string();
    };
    const std::string clipFile = sound("dialogue.wav", SignalKind::Noise, 8, 0);
    const std::string hit = sound("hit.wav", SignalKind::Clicks, 2, 0);
    const std::string tone = sound("drone.wav", SignalKind::Sine, 6, 110);
    const std::string air = sound("air.wav", SignalKind::Noise, 6, 0);
    if (clipFile.empty() || hit.empty() || tone.empty() || air.empty()) return false;

    Event clip = MakeEvent(p, 4, kShapeClip, 0.5f);
    clip.syncOffset = 0;
    CopyTextField(clip.pinnedFile, clipFile);
    clip.clipSourceOffset = 2;
    clip.clipSourceDuration = 4;
    clip.duration = 4;
    p.events.push_back(clip);
    struct Spec {
        float time;
        int shape;
        float duration;
        const char* keywords;
        const std::string* file;
    };
    const Spec specs[] = {
        {12, kShapeSpot, 1.5f, "door slam", &hit}, {15, kShapeBloom, 4, "whoosh", &tone},
        {20, kShapeFill, 8, "rain", &air},         {24, kShapeSpot, 2, "glass", &hit},
    };
    for (const Spec& s : specs) {
        Event e = MakeEvent(p, s.time, s.shape, 0.5f);
        e.duration = s.duration;
        e.syncOffset = 0;
        CopyTextField(e.keywords, s.keywords);
        p.events.push_back(e);
        for (int layer = 0; layer < 2; ++layer) {
            RenderResult r;
            r.eventIdx = int(p.events.size()) - 1;
            r.filepath = *s.file;
            r.name = s.file->substr(s.file->rfind('/') + 1);
            r.startTime = s.time + 0.3f * float(layer);
            r.duration = std::min(s.duration, 2.0f);
            r.sourceDuration = r.duration;
            r.group = EventMixGroup(e);
            r.weight = 0.3f + 0.3f * float(layer);
            r.fadeIn = 0.05f;
            r.fadeOut = 0.3f;
            p.results.push_back(r);
        }
    }
    if (!RebuildClipEvent(p, 0)) return false;
    AssignTracks(p);
    p.rendered = true;
    for (const auto& [name, in, out] : {std::tuple{"Street", 0.0f, 10.0f}, std::tuple{"Office", 14.0f, 22.0f}}) {
        Scene s;
        CopyTextField(s.name, name);
        s.inTime = in;
        s.outTime = out;
        p.scenes.push_back(s);
    }

    OpticalTrace trace;
    trace.fps = 10;
    trace.duration = 30;
    trace.frames.resize(300);
    for (size_t i = 0; i < trace.frames.size(); ++i) {
        TraceFrame& f = trace.frames[i];
        f.time = float(i) / 10;
        const float wave = 0.5f + 0.5f * std::sin(float(i) * 0.21f);
        f.composite = wave * (i % 37 < 4 ? 1.0f : 0.45f);
        f.motionSmooth = 0.3f + 0.4f * std::sin(float(i) * 0.05f) * std::sin(float(i) * 0.05f);
        f.threshold = 0.35f;
    }
    trace.numFrames = int(trace.frames.size());
    trace.maxCompositeEnergy = 1;
    for (float t : {3.0f, 8.5f, 13.0f, 19.5f, 26.0f}) {
        SuggestedEvent s;
        s.time = t;
        s.confidence = t < 10 ? 0.9f : 0.6f;
        s.suggestedDuration = 1;
        s.accepted = t != 13.0f;
        trace.suggestions.push_back(s);
    }
    trace.present = true;

    ProjectSaveContext ctx;
    ctx.project = &p;
    ctx.optical = &trace;
    ctx.opticalDetail = 0.35f;
    return WriteProjectFile(path, ctx);
}
