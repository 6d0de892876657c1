#include "model/MarkGeometry.h"

#include "model/MarkLayers.h"

#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// Qt's own rectangle tests do not fit here: QRectF::contains normalises a rectangle of negative
// size (an inset larger than the rectangle) and still finds points in it. A rectangle or ellipse
// without area contains nothing; otherwise containment is closed.
bool hasArea(const QRectF &r) {
    return r.width() > 0 && r.height() > 0;
}

bool rectContains(const QRectF &r, QPointF p) {
    return hasArea(r) && p.x() >= r.x() && p.x() <= r.x() + r.width() && p.y() >= r.y() &&
           p.y() <= r.y() + r.height();
}

bool ellipseContains(const QRectF &r, QPointF p) {
    if (!hasArea(r))
        return false;
    const double rx = r.width() / 2;
    const double ry = r.height() / 2;
    const double dx = (p.x() - (r.x() + rx)) / rx;
    const double dy = (p.y() - (r.y() + ry)) / ry;
    return dx * dx + dy * dy <= 1;
}

// Grown by d on every side (shrunk for negative d); never normalised.
QRectF outset(const QRectF &r, double d) {
    return r.adjusted(-d, -d, d, d);
}

double distanceToSegment(QPointF p, QPointF a, QPointF b) {
    const QPointF d = b - a;
    const double lengthSquared = d.x() * d.x() + d.y() * d.y();
    double t = 0;
    if (lengthSquared > 0) {
        const double q = QPointF::dotProduct(p - a, d) / lengthSquared;
        if (q > 0) // a NaN quotient (overflow) also keeps t = 0
            t = std::min(q, 1.0);
    }
    const QPointF nearest = a + t * d;
    return std::hypot(p.x() - nearest.x(), p.y() - nearest.y());
}

double hitPad(double tolerance, double imageWidth, double strokeWidth) {
    return std::max(tolerance, imageWidth * strokeWidth / 2000 + 3);
}

constexpr double kHitStrokeWidth = 4; // hit testing assumes this width when a mark has none

bool arrowContains(QPointF start, QPointF end, QPointF p, double imageWidth, double pad) {
    if (distanceToSegment(p, start, end) <= pad)
        return true;
    const auto [wing1, wing2] =
        MarkGeometry::arrowWings(start, end, MarkGeometry::arrowHeadLength(imageWidth));
    return distanceToSegment(p, end, wing1) <= pad || distanceToSegment(p, end, wing2) <= pad;
}

// round(edge / step), halves away from zero, kept within 2 to 200 (and never cast from NaN).
int scallopCount(double quotient) {
    const double n = std::round(quotient);
    return n >= 200 ? 200 : n >= 2 ? int(n) : 2;
}

QPointF pixelPoint(double x, double y, QSizeF size) {
    return {x * size.width(), y * size.height()};
}

bool finitePoint(QPointF p) {
    return std::isfinite(p.x()) && std::isfinite(p.y());
}

void setPoint(Mark &mark, MarkHandle handle, QPointF p) {
    if (handle == MarkHandle::Start) {
        mark.x1 = p.x();
        mark.y1 = p.y();
    } else {
        mark.x2 = p.x();
        mark.y2 = p.y();
    }
}

} // namespace

QRectF MarkGeometry::bounds(const Mark &mark, QSizeF imageSize) {
    const double w = imageSize.width();
    const double h = imageSize.height();
    return QRectF(std::min(mark.x1, mark.x2) * w, std::min(mark.y1, mark.y2) * h,
                  std::abs(mark.x2 - mark.x1) * w, std::abs(mark.y2 - mark.y1) * h);
}

QRectF MarkGeometry::circleBounds(const Mark &mark, QSizeF imageSize) {
    const QRectF b = bounds(mark, imageSize);
    const double side = std::min(b.width(), b.height());
    const double midX = b.x() + b.width() / 2;
    const double midY = b.y() + b.height() / 2;
    return QRectF(midX - side / 2, midY - side / 2, side, side);
}

QPainterPath MarkGeometry::cloudPath(const Mark &mark, QSizeF imageSize) {
    const double imageWidth = imageSize.width();
    const QRectF b = bounds(mark, imageSize);
    const double inset = std::min(0.18 * std::min(b.width(), b.height()), std::max(0.008 * imageWidth, 2.0));
    const QRectF r = outset(b, -inset);
    if (!hasArea(r))
        return {};
    const double minX = r.x(), minY = r.y(), maxX = r.x() + r.width(), maxY = r.y() + r.height();
    const double step = std::max(0.027 * imageWidth, 8.0);
    if (!std::isfinite(minX) || !std::isfinite(minY) || !std::isfinite(maxX) || !std::isfinite(maxY) ||
        !std::isfinite(step))
        return {};

    const QPointF corners[4] = {{minX, minY}, {maxX, minY}, {maxX, maxY}, {minX, maxY}};
    QPainterPath path;
    path.moveTo(corners[0]);
    for (int k = 0; k < 4; ++k) {
        const QPointF from = corners[k];
        const QPointF edge = corners[(k + 1) % 4] - from;
        const double length = std::hypot(edge.x(), edge.y());
        const int n = scallopCount(length / step);
        const QPointF unit = edge / length;
        const QPointF outward(unit.y(), -unit.x());
        for (int i = 0; i < n; ++i) {
            const QPointF control = from + edge * ((i + 0.5) / n) + 2 * inset * outward;
            path.quadTo(control, from + edge * (double(i + 1) / n));
        }
    }
    path.closeSubpath();
    return path;
}

QLineF MarkGeometry::calloutLine(const Mark &mark, QSizeF imageSize) {
    const QRectF b = bounds(mark, imageSize);
    const QPointF c(b.x() + b.width() / 2, b.y() + b.height() / 2);
    const QPointF tipNorm = mark.arrowTip();
    const QPointF tip = pixelPoint(tipNorm.x(), tipNorm.y(), imageSize);
    const double r = std::max(std::abs(tip.x() - c.x()) / std::max(b.width() / 2, 0.001),
                              std::abs(tip.y() - c.y()) / std::max(b.height() / 2, 0.001));
    const double k = r < 0.001 ? 1.0 : std::min(1 / r, 1.0);
    return QLineF(c + (tip - c) * k, tip);
}

double MarkGeometry::arrowHeadLength(double imageWidth) {
    return std::max(0.02 * imageWidth, 9.0);
}

double MarkGeometry::calloutHeadLength(double imageWidth) {
    return std::max(0.018 * imageWidth, 9.0);
}

std::pair<QPointF, QPointF> MarkGeometry::arrowWings(QPointF start, QPointF end, double headLength) {
    const double theta = std::atan2(end.y() - start.y(), end.x() - start.x());
    const double spread = std::numbers::pi / 6;
    const QPointF wing1 = end - headLength * QPointF(std::cos(theta - spread), std::sin(theta - spread));
    const QPointF wing2 = end - headLength * QPointF(std::cos(theta + spread), std::sin(theta + spread));
    return {wing1, wing2};
}

QPainterPath MarkGeometry::arrowPath(QPointF start, QPointF end, double headLength) {
    const auto [wing1, wing2] = arrowWings(start, end, headLength);
    QPainterPath path;
    path.moveTo(start);
    path.lineTo(end);
    path.moveTo(end);
    path.lineTo(wing1);
    path.moveTo(end);
    path.lineTo(wing2);
    return path;
}

QPainterPath MarkGeometry::calloutPointerPath(const Mark &mark, QSizeF imageSize) {
    if (!mark.isValid())
        return {};
    const QLineF pointer = calloutLine(mark, imageSize);
    if (!(std::hypot(pointer.dx(), pointer.dy()) > 1))
        return {};
    return arrowPath(pointer.p1(), pointer.p2(), calloutHeadLength(imageSize.width()));
}

bool MarkGeometry::contains(const Mark &mark, QPointF point, QSizeF imageSize, double tolerance) {
    const double w = imageSize.width();
    const double h = imageSize.height();
    if (!mark.isValid() || !(w > 0) || !(h > 0))
        return false;
    const double pad = hitPad(tolerance, w, mark.strokeWidth.value_or(kHitStrokeWidth));
    const QRectF b = bounds(mark, imageSize);
    const QPointF start = pixelPoint(mark.x1, mark.y1, imageSize);
    const QPointF end = pixelPoint(mark.x2, mark.y2, imageSize);

    switch (mark.kind) {
    case MarkKind::Arrow:
        return arrowContains(start, end, point, w, pad);
    case MarkKind::Line:
        return distanceToSegment(point, start, end) <= pad;
    case MarkKind::Rectangle:
        return rectContains(outset(b, pad), point) && !rectContains(outset(b, -pad), point);
    case MarkKind::Ellipse:
        // A ring too thin for an inner ellipse is hit anywhere inside (ellipseContains is false
        // for an inner rectangle without area).
        return ellipseContains(outset(b, pad), point) && !ellipseContains(outset(b, -pad), point);
    case MarkKind::FilledEllipse:
        return ellipseContains(outset(b, pad), point);
    case MarkKind::Number:
        return ellipseContains(outset(circleBounds(mark, imageSize), pad), point);
    case MarkKind::Cloud: {
        const QPainterPath outline = cloudPath(mark, imageSize);
        if (outline.isEmpty())
            return false;
        QPainterPathStroker stroker;
        stroker.setWidth(2 * pad);
        stroker.setCapStyle(Qt::RoundCap);
        stroker.setJoinStyle(Qt::RoundJoin);
        stroker.setMiterLimit(2);
        QPainterPath band = stroker.createStroke(outline);
        band.setFillRule(Qt::WindingFill);
        return band.contains(point);
    }
    case MarkKind::FilledRectangle:
    case MarkKind::Highlight:
    case MarkKind::Redact:
    case MarkKind::Blur:
    case MarkKind::Text:
        return rectContains(outset(b, pad), point);
    case MarkKind::Callout: {
        if (rectContains(outset(b, pad), point))
            return true;
        // The pointer is hit like an arrow without a stroke width, asked with this pad as its
        // tolerance. Its ends are used in pixels as they are, so no rounding through normalised
        // coordinates can push them outside the image.
        const QLineF pointer = calloutLine(mark, imageSize);
        return arrowContains(pointer.p1(), pointer.p2(), point, w, hitPad(pad, w, kHitStrokeWidth));
    }
    }
    return false;
}

std::optional<Mark> MarkGeometry::hit(QPointF point, QSizeF imageSize, const MarkList &marks) {
    const MarkList order = Marks::renderingOrder(marks);
    for (auto it = order.crbegin(); it != order.crend(); ++it)
        if (contains(*it, point, imageSize, kDefaultTolerance))
            return *it;
    return std::nullopt;
}

std::optional<MarkHandle> MarkGeometry::handle(const Mark &mark, QPointF point, QSizeF imageSize) {
    const auto near = [&](QPointF p) {
        return std::hypot(point.x() - p.x(), point.y() - p.y()) <= kHandleRadius;
    };
    if (mark.kind == MarkKind::Callout) {
        const QPointF tip = mark.arrowTip();
        if (near(pixelPoint(tip.x(), tip.y(), imageSize)))
            return MarkHandle::Tip;
    }
    if (near(pixelPoint(mark.x1, mark.y1, imageSize)))
        return MarkHandle::Start;
    if (near(pixelPoint(mark.x2, mark.y2, imageSize)))
        return MarkHandle::End;
    return std::nullopt;
}

Mark MarkGeometry::translated(const Mark &mark, double dx, double dy) {
    if (!mark.isValid() || !std::isfinite(dx) || !std::isfinite(dy))
        return mark;
    double minX = std::min(mark.x1, mark.x2), maxX = std::max(mark.x1, mark.x2);
    double minY = std::min(mark.y1, mark.y2), maxY = std::max(mark.y1, mark.y2);
    const bool callout = mark.kind == MarkKind::Callout;
    const QPointF tip = mark.arrowTip();
    if (callout) {
        minX = std::min(minX, tip.x());
        maxX = std::max(maxX, tip.x());
        minY = std::min(minY, tip.y());
        maxY = std::max(maxY, tip.y());
    }
    const double moveX = std::min(std::max(dx, -minX), 1 - maxX);
    const double moveY = std::min(std::max(dy, -minY), 1 - maxY);

    Mark moved = mark;
    moved.x1 += moveX;
    moved.x2 += moveX;
    moved.y1 += moveY;
    moved.y2 += moveY;
    if (callout) {
        moved.tipX = tip.x() + moveX;
        moved.tipY = tip.y() + moveY;
    }
    return moved;
}

Mark MarkGeometry::movingHandle(const Mark &mark, MarkHandle handle, QPointF to,
                                std::optional<QSizeF> imageSize) {
    if (!mark.isValid() || !finitePoint(to))
        return mark;
    const QPointF p(std::clamp(to.x(), 0.0, 1.0), std::clamp(to.y(), 0.0, 1.0));
    Mark moved = mark;

    if (handle == MarkHandle::Tip) {
        moved.tipX = p.x();
        moved.tipY = p.y();
        return moved;
    }
    if (MarkKinds::isTextBox(mark.kind)) {
        moved.fixedTextBox = true;
        setPoint(moved, handle, p);
        return moved;
    }
    const double w = imageSize ? imageSize->width() : 0;
    const double h = imageSize ? imageSize->height() : 0;
    if (mark.kind == MarkKind::Number && w > 0 && h > 0 && std::isfinite(w) && std::isfinite(h)) {
        // The disc stays square in pixels: the side follows the larger drag distance, cut to the
        // room left between the fixed corner and the image edge in the drag direction.
        const QPointF anchor =
            handle == MarkHandle::Start ? QPointF(mark.x2, mark.y2) : QPointF(mark.x1, mark.y1);
        const double sx = anchor.x() <= p.x() ? 1 : -1;
        const double sy = anchor.y() <= p.y() ? 1 : -1;
        const double roomX = sx > 0 ? (1 - anchor.x()) * w : anchor.x() * w;
        const double roomY = sy > 0 ? (1 - anchor.y()) * h : anchor.y() * h;
        const double side = std::min(
            {std::max(std::abs(p.x() - anchor.x()) * w, std::abs(p.y() - anchor.y()) * h), roomX, roomY});
        // Dividing the room by the image size again can land one rounding step past the edge;
        // the clamp keeps the mark valid and changes nothing else.
        const QPointF dragged(std::clamp(anchor.x() + sx * side / w, 0.0, 1.0),
                              std::clamp(anchor.y() + sy * side / h, 0.0, 1.0));
        setPoint(moved, handle, dragged);
        return moved;
    }
    setPoint(moved, handle, p);
    return moved;
}

Mark MarkGeometry::numbered(QPointF at, qint64 number, QSizeF imageSize, std::optional<MarkColor> color) {
    const double w = imageSize.width();
    const double h = imageSize.height();
    const double d = std::min(0.15 * h, 0.05 * w);
    const double nw = d / std::max(w, 1.0);
    const double nh = d / std::max(h, 1.0);
    const double x1 = std::min(std::max(at.x() - nw / 2, 0.0), 1 - nw);
    const double y1 = std::min(std::max(at.y() - nh / 2, 0.0), 1 - nh);
    Mark mark = Mark::make(MarkKind::Number, x1, y1, x1 + nw, y1 + nh);
    mark.number = number;
    mark.color = color;
    return mark;
}
