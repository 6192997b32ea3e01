// timeline_fixture.h — a small project for the timeline's window tests and
// benchmarks, written as a project file the test script loads.
#pragma once

#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "persistence/project_file.h"

// Six events over 30 s at 25 frames a second: a Spot at 2 s, a Bloom at 6 s
// (2 s lead-in), a Contour at 10 s, a Fill at 15 s, a Scatter at 24 s and a
// Bed from 0 s; the Contour locked, the Scatter muted.
inline Project TimelineFixtureProject() {
    Project p;
    p.totalDuration = 30;
    p.fps = 25;
    struct Spec {
        float time;
        int shape;
        float duration;
        float syncOffset;
        const char* keywords;
    };
    const Spec specs[] = {
        {2.0f, kShapeSpot, 1.5f, 0.0f, "door slam"},  {6.0f, kShapeBloom, 4.0f, 2.0f, "wind gust"},
        {10.0f, kShapeContour, 4.0f, 0.0f, "engine"}, {15.0f, kShapeFill, 8.0f, 0.0f, "rain"},
        {24.0f, kShapeScatter, 4.0f, 0.0f, "debris"}, {0.0f, kShapeBed, 6.0f, 0.0f, "room tone"},
    };
    for (const Spec& s : specs) {
        Event e = MakeEvent(p, s.time, s.shape, 0.5f);
        e.duration = s.duration;
        e.syncOffset = s.syncOffset;
        CopyTextField(e.keywords, s.keywords);
        p.events.push_back(e);
    }
    p.events[2].locked = true;
    p.events[4].muted = true;
    // A low, flat weight on the Fill, so a stroke in the lane can only raise it.
    FillCurve(p.events[3].weight, 0.2f);
    return p;
}

inline bool WriteTimelineFixture(const std::string& path, const Project& project) {
    ProjectSaveContext ctx;
    ctx.project = &project;
    return WriteProjectFile(path, ctx);
}
