#pragma once

#include "model/Mark.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

// Blurred pixels of the image that a blur mark shows, and where their top-left corner lies in
// image pixels. The canvas hands in a whole blurred copy at (0, 0); export flattening blurs only
// the area a mark covers.
struct BlurPatch {
    QImage image;
    QPoint origin;
    // The extent the pixels cover, in the painter's units; empty: the image's own size. The canvas
    // blurs a reduced copy (a blurred picture has no fine detail to lose) and has it stretched.
    QSizeF size = {};
};

// Answers the blurred pixels for a blur radius (thousandths of the image width) covering at least
// `area` (whole image pixels), or none; the mark then shows an opaque grey rectangle.
using BlurLookup = std::function<std::optional<BlurPatch>(double radius, const QRect &area)>;

// Draws marks into a painter whose coordinates are image pixels (origin top left, y down), so the
// exported image and the editor's canvas look the same. All lengths scale with the image: a stroke
// width unit and the text box layout unit are one thousandth of the image width. Stateless; safe
// on any thread with a painter of its own.
namespace MarkRenderer {

// Blurs first, then ordinary marks, then redactions; invalid marks are skipped. The painter's
// state is as it was afterwards.
void draw(const MarkList &marks, QPainter &painter, QSizeF imageSize, const BlurLookup &blurImage = {});

// The largest font size (0.1 to just under 28) at which `text` fits `content`, both in the
// 1000-unit space of a text box.
double fittingFontSize(const QString &text, QSizeF content);

// The text box or callout with the text trimmed and the box fitted around it (an auto-sized box
// grows to the text; a fixed box keeps its size); none when the text is empty or cannot fit.
std::optional<Mark> fittingText(const Mark &mark, const QString &text, QSizeF imageSize);

// A rectangle, in the pixels of `imageSize`, that holds everything draw() paints for the mark
// (strokes, arrow heads, a callout's pointer, anti-aliased edges). Lets a caller skip marks
// outside the area it repaints.
QRectF drawnBounds(const Mark &mark, QSizeF imageSize);

// The font standing in for the system font: Inter, with the usual fallbacks.
QFont systemFont(QFont::Weight weight);

// Each channel 0.72 + 0.28 × the colour's component; 1.0 0.94 0.66 for a box without colour.
QColor textBoxTint(const Mark &mark);

} // namespace MarkRenderer
