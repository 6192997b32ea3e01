// event.cpp — creation of events, their default curves and their mix group.
#include "document/event.h"

#include <algorithm>

#include "document/project.h"

namespace {

const ShapeDefaults kShapeDefaults[kShapeCount] = {
    {1.5f, 0.0f, 1},  // Spot
    {4.0f, 0.3f, 2},  // Bloom
    {4.0f, 0.3f, 2},  // Contour
    {8.0f, 0.1f, 0},  // Fill
    {4.0f, 0.5f, 1},  // Scatter
    {2.0f, 0.0f, 1},  // Clip
    {8.0f, 0.0f, 0},  // Bed
};

const char* const kShapeNames[kShapeCount] = {"Spot", "Bloom", "Contour", "Fill",
                                              "Scatter", "Clip", "Bed"};
const char* const kAutoNameShapes[kShapeCount] = {"Spot", "Bloom", "Contour", "Fill",
                                                  "Wave", "Clip", "Bed"};

}  // namespace

const char* EventShapeName(int shape) {
    return shape >= 0 && shape < kShapeCount ? kShapeNames[shape] : "?";
}

const char* EventAutoNameShape(int shape) {
    return shape >= 0 && shape < kShapeCount ? kAutoNameShapes[shape] : "?";
}

const ShapeDefaults& DefaultsForShape(int shape) {
    return kShapeDefaults[shape >= 0 && shape < kShapeCount ? shape : 0];
}

Event MakeEvent(const Project& project, float time, int shape, float weightCenter) {
    Event e;
    e.time = time;
    e.shape = shape;
    e.userShapeIdx = -1;
    e.weightCenter = weightCenter;
    const ShapeDefaults& row = DefaultsForShape(shape);
    e.duration = row.duration;
    e.spread = row.spread;
    if (shape == kShapeBloom) {
        e.intensityMode = 0;
        e.syncOffset = e.duration * 0.5f;
    } else if (shape == kShapeContour || shape == kShapeFill || shape == kShapeBed) {
        e.intensityMode = 2;
        if (shape == kShapeContour) e.syncOffset = 0;
    }
    float peak = e.duration > 0 ? e.syncOffset / e.duration : 0.5f;
    InitEventCurves(shape, weightCenter, e.spread, e.weight, e.intensity, peak);
    e.stereo = project.groups[ShapeMixGroup(shape)].stereo;
    return e;
}

EventSpan SpanOfEvent(const Event& event) {
    const float start = event.time - event.syncOffset;
    return {start, start + event.duration};
}

int AddEvent(Project& project, float time, int shape, float weightCenter) {
    project.events.push_back(MakeEvent(project, time, shape, weightCenter));
    return static_cast<int>(project.events.size()) - 1;
}

void InitEventCurves(int shape, float wc, float spread, Curve256& weight, Curve256& intensity,
                     float peak) {
    switch (shape) {
        case kShapeSpot:
            FillCurve(weight, wc);
            FillCurve(intensity, 0.65f);
            break;
        case kShapeBloom:
            FillCurve(weight, 0.5f);
            FillCosineCurve(intensity, peak, 0.0f, 1.0f);
            break;
        case kShapeContour:
        case kShapeFill:
            FillCurve(weight, 0.5f);
            FillCurve(intensity, 0.5f);
            break;
        case kShapeScatter: {
            float lo = std::clamp(wc - 0.2f * spread, 0.0f, 1.0f);
            float hi = std::clamp(wc + 0.3f * spread, 0.0f, 1.0f);
            FillRandomSparseCurve(weight, lo, hi, 42);
            FillRandomSparseCurve(intensity, 0.15f, 0.8f, 137);
            break;
        }
        case kShapeClip:
        case kShapeBed:
            FillCurve(weight, 0.5f);
            FillCurve(intensity, 1.0f);
            break;
        default:
            FillCurve(weight, wc);
            FillCurve(intensity, 0.5f);
            break;
    }
}

int IntensityModeOf(const Event& event) {
    return event.shape == kShapeFill || event.shape == kShapeBed ? 2 : event.intensityMode;
}

void ResetIntensityToSync(Event& event) {
    if (event.userShapeIdx >= 0 || IntensityModeOf(event) != 0) return;
    float peak = event.duration > 0 ? event.syncOffset / event.duration : 0.5f;
    FillCosineCurve(event.intensity, peak, 0.0f, 1.0f);
}

int ShapeMixGroup(int shape) {
    switch (shape) {
        case kShapeBloom:
        case kShapeContour:
            return 2;
        case kShapeFill:
        case kShapeBed:
            return 0;
        default:
            return 1;
    }
}

bool ShapeGroupCanChange(int shape) { return shape != kShapeFill && shape != kShapeBed; }

int EventMixGroup(const Event& event) {
    if (event.shape == kShapeFill) return 0;
    if (event.groupOverride == 1 || event.groupOverride == 2) return event.groupOverride;
    return ShapeMixGroup(event.shape);
}

int GroupFirstTrack(const MixGroup* groups, int group) {
    static const int kOrder[3] = {1, 2, 0};
    int first = 0;
    for (int g : kOrder) {
        if (g == group) return first;
        const MixGroup& m = groups[g];
        if (m.usedTracks > 0) first += std::max(m.trackCount, m.usedTracks);
    }
    return first;
}
