// layer_builders.h — the per-shape layer builders of the render pass.
//
// Index
//   BuildSpotLayers, BuildFillLayers, BuildScatterLayers (layer_builders.cpp),
//   BuildAlloyLayers (alloy_layers.cpp), BuildWashLayers and
//   BuildThresholdLayers (wash_layers.cpp)
//
// A builder appends its layers to context.project->results and returns; the
// pass publishes the result count afterwards. Builders draw every random
// number from *context.randomState (except Fill's scored pick, which seeds
// itself), in the order their layers are made. What they receive and the
// steps they share are layer_choice.h.
#pragma once

#include "render/layer_choice.h"

void BuildSpotLayers(LayerBuildContext& ctx);
void BuildFillLayers(LayerBuildContext& ctx);
void BuildScatterLayers(LayerBuildContext& ctx);
// Spot, Bloom and Contour events with `alloy` set.
void BuildAlloyLayers(LayerBuildContext& ctx);
// Bloom and Contour events without `alloy`.
void BuildWashLayers(LayerBuildContext& ctx);
// Events whose shape is none of the known ones ("[Sketch] Layer").
void BuildThresholdLayers(LayerBuildContext& ctx);

