#pragma once

#include "model/Mark.h"

#include <QUuid>

// A snip stores its marks as one list but draws them in three fixed layers (Mark::layerGroup):
// blurs at the bottom, so every other mark is drawn over the blurred picture; ordinary marks in
// the middle; redactions on top, so nothing can be drawn over a blacked-out area. The renderer,
// the hit test and the editor's layer list all use this one drawing order.
namespace Marks {

// The same marks in drawing order: a stable partition into blurs, ordinary marks, redactions,
// each group in list order. The last mark is the topmost.
MarkList renderingOrder(const MarkList &marks);

// Moves the mark with `id` to position `to` of the drawing order, clamped into the span of the
// mark's own layer (a mark never leaves its layer). The result is in drawing order, which is how
// it is stored from then on. When the list is empty, the id is unknown or the clamped target is
// the mark's current position, the input comes back unchanged, in its stored order.
MarkList reordered(const MarkList &marks, const QUuid &id, qsizetype to);

// The largest number a number mark may carry; the editor adds no number mark above it.
inline constexpr qint64 kMaxNumber = 9999;

// The counter for the next number mark: one more than the largest number among the number marks
// of the list (an absent number counts as 1), or 1 when there is none. Gaps are not filled.
// Marks of other kinds are ignored even when they carry a number. A number above 9999 counts as
// 9999, so the result is at most 10000 and never overflows; one of 0 or below counts for nothing.
qint64 nextNumber(const MarkList &marks);

} // namespace Marks
