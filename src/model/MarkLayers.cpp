#include "model/MarkLayers.h"

#include <algorithm>

MarkList Marks::renderingOrder(const MarkList &marks) {
    MarkList ordered;
    ordered.reserve(marks.size());
    for (int group = 0; group <= 2; ++group)
        for (const Mark &mark : marks)
            if (mark.layerGroup() == group)
                ordered.append(mark);
    return ordered;
}

MarkList Marks::reordered(const MarkList &marks, const QUuid &id, qsizetype to) {
    MarkList order = renderingOrder(marks);
    const auto found = std::find_if(order.cbegin(), order.cend(), [&](const Mark &m) { return m.id == id; });
    if (found == order.cend())
        return marks;
    const qsizetype from = found - order.cbegin();
    const int group = found->layerGroup();

    // The layers are contiguous in drawing order, so the span of the mark's layer is one range.
    qsizetype first = from;
    while (first > 0 && order[first - 1].layerGroup() == group)
        --first;
    qsizetype last = from;
    while (last + 1 < order.size() && order[last + 1].layerGroup() == group)
        ++last;

    const qsizetype target = std::min(std::max(to, first), last);
    if (target == from)
        return marks;
    order.move(from, target);
    return order;
}

qint64 Marks::nextNumber(const MarkList &marks) {
    qint64 largest = 0;
    for (const Mark &mark : marks) {
        if (mark.kind != MarkKind::Number)
            continue;
        // Zero or below (only a damaged file holds one) adds nothing; a number above the largest
        // allowed still ends the counting there.
        largest = std::max(largest, std::min(mark.number.value_or(1), kMaxNumber));
    }
    return largest + 1;
}
