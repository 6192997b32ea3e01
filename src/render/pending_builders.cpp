// pending_builders.cpp — placeholders for the alloy, wash and threshold builders.
//
// They build no layers. This file goes away when the real builders land in
// alloy_layers.cpp and wash_layers.cpp.
#include "render/layer_builders.h"

void BuildAlloyLayers(LayerBuildContext&) {}
void BuildWashLayers(LayerBuildContext&) {}
void BuildThresholdLayers(LayerBuildContext&) {}
