// curve_json.h — reading a 256-point curve from a project, recipe or chain file.
#pragma once

#include "document/curve.h"

struct JsonValue;

// Not an array: every point becomes 0.5. An array: element i (i < 256) is
// taken when it is a finite number, 0.5 otherwise; points past a shorter
// array keep their value.
void ReadCurveJson(const JsonValue& value, Curve256& curve);
