// curve_json.cpp — curves from the JSON tree.
#include "persistence/curve_json.h"

#include <cmath>

#include "persistence/json_value.h"

void ReadCurveJson(const JsonValue& value, Curve256& curve) {
    if (value.type != kJsonArray) {
        curve.fill(0.5f);
        return;
    }
    const size_t n = value.elements.size() < 256 ? value.elements.size() : 256;
    for (size_t i = 0; i < n; ++i) {
        const JsonValue& e = value.elements[i];
        float v = e.type == kJsonNumber ? static_cast<float>(e.number) : 0.5f;
        curve[i] = std::isfinite(v) ? v : 0.5f;
    }
}
