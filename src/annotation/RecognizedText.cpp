#include "annotation/RecognizedText.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinimumDragExtent = 0.0001;

Mark markAround(const QRectF &rect, MarkKind kind, MarkColor color) {
    const double pad = kind == MarkKind::Cloud ? 0.015 : 0.004;
    Mark mark = Mark::make(kind, std::max(rect.left() - pad, 0.0), std::max(rect.top() - pad, 0.0),
                           std::min(rect.right() + pad, 1.0), std::min(rect.bottom() + pad, 1.0));
    mark.color = color;
    return mark;
}

// Closed-interval overlap: QRectF::intersects ignores rectangles without area, and word boxes of
// punctuation can be a hair wide.
bool overlaps(const QRectF &a, const QRectF &b) {
    return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

QRectF unite(const QRectF &a, const QRectF &b) {
    const double left = std::min(a.left(), b.left());
    const double top = std::min(a.top(), b.top());
    return QRectF(left, top, std::max(a.right(), b.right()) - left, std::max(a.bottom(), b.bottom()) - top);
}

} // namespace

QRectF RecognizedTextLine::editorRect(const QRectF &box) {
    return QRectF(box.left(), 1.0 - (box.top() + box.height()), box.width(), box.height());
}

Mark RecognizedTextLine::mark(MarkKind kind, MarkColor color) const {
    return markAround(rect, kind, color);
}

namespace TextMarkerSelection {

QList<QRectF> regions(const RecognizedTextLines &lines, QPointF from, QPointF to) {
    const QRectF drag(std::min(from.x(), to.x()), std::min(from.y(), to.y()),
                      std::max(std::abs(to.x() - from.x()), kMinimumDragExtent),
                      std::max(std::abs(to.y() - from.y()), kMinimumDragExtent));
    QList<QRectF> result;
    for (const RecognizedTextLine &line : lines) {
        std::optional<QRectF> selected;
        auto consider = [&](const QRectF &candidate) {
            if (overlaps(candidate, drag))
                selected = selected ? unite(*selected, candidate) : candidate;
        };
        if (line.words.isEmpty()) {
            consider(line.rect);
        } else {
            for (const RecognizedTextWord &word : line.words)
                consider(word.rect);
        }
        if (selected)
            result.append(*selected);
    }
    return result;
}

MarkList marks(const QList<QRectF> &regions, MarkColor color) {
    MarkList result;
    result.reserve(regions.size());
    for (const QRectF &region : regions)
        result.append(markAround(region, MarkKind::Highlight, color));
    return result;
}

} // namespace TextMarkerSelection
