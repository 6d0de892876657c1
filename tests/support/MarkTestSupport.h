#pragma once

#include "model/Mark.h"

// Mark::make, short enough for one table row per line.
inline Mark mk(MarkKind kind, double x1, double y1, double x2, double y2) {
    return Mark::make(kind, x1, y1, x2, y2);
}
