// layer_builder_rig.h — drives one shape builder of the render pass directly,
// set up the way the pass sets it up for an event without pinned files, so a
// test sees the layers in the order they were made and the random state the
// builder leaves behind.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "document/project.h"
#include "render/layer_builders.h"
#include "render/render_curves.h"
#include "render/render_pass.h"

struct LayerBuilderRig {
    Project project;
    std::vector<const LibraryEntry*> pool;
    std::vector<UsedSound> passUsed;
    uint32_t state = 12345;

    // The context for event e: its span, peak intensity and layer count, the
    // rig's pool, random state and pass used list.
    LayerBuildContext For(int e) {
        const Event& event = project.events[e];
        LayerBuildContext ctx;
        ctx.project = &project;
        ctx.eventIndex = e;
        ctx.eventStart = event.time - event.syncOffset;
        ctx.eventEnd = ctx.eventStart + event.duration;
        float peak = 0;
        for (float v : event.intensity) peak = std::max(peak, v);
        ctx.maxIntensity = peak * event.intensityScale;
        ctx.fillCap = 8;
        ctx.layerCount = EventLayerCount(event, ctx.maxIntensity, ctx.fillCap);
        ctx.pool = &pool;
        ctx.randomState = &state;
        ctx.passUsed = &passUsed;
        return ctx;
    }
};

// `state` after `draws` draws.
inline uint32_t AdvanceRenderState(uint32_t state, int draws) {
    for (int i = 0; i < draws; ++i) NextRenderRandom(state);
    return state;
}
