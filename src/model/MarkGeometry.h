#pragma once

#include "model/Mark.h"

#include <QLineF>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

#include <optional>
#include <utility>

// The pure geometry of marks. Marks are stored in normalised coordinates (0 to 1 of the image,
// origin top left, y downward); everything the user sees and touches is in the pixel space of the
// image, whose size is the `imageSize` argument (W × H). A normalised point (x, y) has the pixel
// point (x·W, y·H). The mark editor calls these for every pointer event and the renderer draws the
// same rectangles, discs, clouds and pointers, so that what is drawn is exactly what is hit.
//
// Operations that change a mark return a changed copy and leave an invalid mark (Mark::isValid)
// unchanged; the hit test never hits an invalid mark.
namespace MarkGeometry {

// Margin around a mark within which a pointer still hits it, in pixels.
inline constexpr double kDefaultTolerance = 7;
// Distance in pixels within which a pointer grabs a drag handle (inclusive).
inline constexpr double kHandleRadius = 9;

// The pixel rectangle spanned by the mark's two points: origin (min(x1, x2)·W, min(y1, y2)·H),
// size (|x2 − x1|·W, |y2 − y1|·H). Box kinds draw and hit this rectangle.
QRectF bounds(const Mark &mark, QSizeF imageSize);

// The disc of a number mark: the largest square centred in bounds(), side min(width, height).
QRectF circleBounds(const Mark &mark, QSizeF imageSize);

// The closed scalloped outline of a revision cloud, in pixels. The scallops bulge outward from a
// rectangle inset into bounds(), and their tops reach the edge of bounds(). Empty when the inset
// rectangle has no area (for example a cloud of zero height) or its corners are not finite (an
// infinite image size or coordinate).
QPainterPath cloudPath(const Mark &mark, QSizeF imageSize);

// The pointer of a callout in pixels: p1() is where the ray from the centre of bounds() to the tip
// leaves the box, p2() the tip (Mark::arrowTip). For a tip inside the box both are the tip, so
// the pointer has zero length and nothing is visible.
QLineF calloutLine(const Mark &mark, QSizeF imageSize);

// Head length of an arrow in pixels: max(0.02·W, 9). The hit test uses it for arrows and for the
// pointer of a callout.
double arrowHeadLength(double imageWidth);
// Head length of a drawn callout pointer in pixels: max(0.018·W, 9).
double calloutHeadLength(double imageWidth);

// The far ends of the two open head strokes of an arrow from `start` to `end`: each runs from
// `end` back by `headLength` at angles θ − π/6 and θ + π/6, θ = atan2 of end − start. Coinciding
// points give θ = 0.
std::pair<QPointF, QPointF> arrowWings(QPointF start, QPointF end, double headLength);

// One open path: the segment start→end, then the two head strokes from `end` (arrowWings). To be
// stroked, never filled.
QPainterPath arrowPath(QPointF start, QPointF end, double headLength);

// The drawn pointer of a callout: arrowPath over calloutLine() with calloutHeadLength(W); empty
// when the pointer is no longer than 1 pixel (tip inside or at the box) or the mark is invalid.
QPainterPath calloutPointerPath(const Mark &mark, QSizeF imageSize);

// Whether the pixel point lies on the drawn mark, with a margin of
// pad = max(tolerance, W·(strokeWidth or 4)/2000 + 3) pixels: half the drawn line width plus 3,
// never less than the tolerance. Frames and outlined ellipses are hit only along their outline,
// filled kinds, text boxes, highlights, redactions and blurs anywhere inside. False for an invalid
// mark and when W or H is not greater than 0. Containment in rectangles and ellipses is closed
// (a point on the edge is inside); a rectangle or ellipse without area contains nothing.
bool contains(const Mark &mark, QPointF point, QSizeF imageSize, double tolerance = kDefaultTolerance);

// The topmost mark of `marks` under the pixel point (tolerance 7), or none. Marks are searched
// from the top of the drawing order down (Marks::renderingOrder): redactions first, then the
// ordinary marks, then blurs, each from the last in the list to the first.
std::optional<Mark> hit(QPointF point, QSizeF imageSize, const MarkList &marks);

// The drag handle within 9 pixels of the pixel point, or none. Tested in this order: the tip
// (callouts only), the start point (x1, y1), the end point (x2, y2). Validity is not tested.
std::optional<MarkHandle> handle(const Mark &mark, QPointF point, QSizeF imageSize);

// A copy moved by the normalised offset (dx, dy), cut down to the largest part of the request
// that keeps both points, and the tip of a callout, within 0…1. A callout's tip is always stored
// afterwards (a default tip becomes an explicit one). Unchanged when the mark is invalid or an
// offset is not finite.
Mark translated(const Mark &mark, double dx, double dy);

// A copy with one handle dragged to the normalised point `to`, clamped to 0…1:
// - Tip: stores tipX and tipY; nothing else changes.
// - Start or end of a text box or callout: the point moves and fixedTextBox becomes true.
// - Start or end of a number mark, when a finite image size with W > 0 and H > 0 is given: the
//   disc stays square in pixels; the side follows the larger of the two drag distances and is cut
//   so that the disc stays inside the image.
// - Otherwise the handle's point moves to `to`.
// Unchanged when the mark is invalid or `to` is not finite.
Mark movingHandle(const Mark &mark, MarkHandle handle, QPointF to,
                  std::optional<QSizeF> imageSize = std::nullopt);

// A new number mark (new id, every other optional absent) with the given number and colour: a
// square disc of d = min(0.15·H, 0.05·W) pixels centred on the normalised point `at`, pushed
// inside the image when centring would leave it.
Mark numbered(QPointF at, qint64 number, QSizeF imageSize, std::optional<MarkColor> color = std::nullopt);

} // namespace MarkGeometry
