#include "support/synthetic_project.h"

#include <string>

#include "document/text_util.h"

Project MakeSyntheticProject(int eventCount, int resultCount) {
    Project project;
    project.events.reserve(static_cast<size_t>(eventCount));
    Curve256 curve{};
    for (int e = 0; e < eventCount; ++e) {
        for (int i = 0; i < 256; ++i) curve[i] = static_cast<float>((i * 37 + e) % 1000) / 997.0f;
        Event event;
        event.time = 1.5f + e * 0.37f;
        event.duration = 4.0f;
        event.shape = e % kShapeCount;
        CopyTextField(event.keywords, "glass, -metal, +impact");
        event.weight = curve;
        event.intensity = curve;
        event.traceGain = curve;
        event.hasTraceGain = true;
        project.events.push_back(event);
    }
    project.results.reserve(static_cast<size_t>(resultCount));
    for (int r = 0; r < resultCount; ++r) {
        RenderResult result;
        result.name = "METAL_Hit Designed_01";
        result.filepath = "/home/designer/Libraries/Metal/hit_" + std::to_string(r) + ".wav";
        result.fileId = "0123456789abcdef";
        result.sourceOffset = 0.25f * r;
        result.sourceDuration = 1.75f;
        result.startTime = 12.5f + r;
        result.duration = 1.75f;
        result.eventIdx = eventCount > 0 ? (r / 3) % eventCount : 0;
        for (int i = 0; i < 128; ++i) result.fillGain[i] = static_cast<float>((i * 37 + r) % 1000) / 997.0f;
        result.hasFillGain = true;
        result.eqGains = {1.0f, 0.9f, 1.1f, 1.0f, 0.8f};
        result.hasEqGains = true;
        project.results.push_back(std::move(result));
    }
    return project;
}
