#pragma once

#include "model/Mark.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QUuid>

// Recognised text in editor space: normalised to the image (0 to 1 on both axes), origin at the
// top left, y down, the same space as marks. Display-free values.

struct RecognizedTextWord {
    QString text; // a run of non-whitespace characters of the line's text
    QRectF rect;

    bool operator==(const RecognizedTextWord &other) const = default;
};

struct RecognizedTextLine {
    QUuid id = QUuid::createUuid(); // new for every line made, so two runs never share ids
    QString text;
    QRectF rect;
    QList<RecognizedTextWord> words; // in the order they occur in text; may be empty

    RecognizedTextLine() = default;
    RecognizedTextLine(QString lineText, QRectF lineRect, QList<RecognizedTextWord> lineWords = {})
        : text(std::move(lineText)), rect(lineRect), words(std::move(lineWords)) {}

    // A box whose origin is at the bottom left (y up) in editor space.
    static QRectF editorRect(const QRectF &bottomLeftBox);

    // A new mark of that kind around the line, padded (clouds more, so their bumps clear the text)
    // and kept inside the image.
    Mark mark(MarkKind kind, MarkColor color) const;
};

using RecognizedTextLines = QList<RecognizedTextLine>;

namespace TextMarkerSelection {

// What a text-marker drag between two points selects: at most one rectangle per touched line (the
// union of the touched words, or the whole line when it has no word boxes), in line order. A click
// without movement still selects what lies under the point.
QList<QRectF> regions(const RecognizedTextLines &lines, QPointF from, QPointF to);

// One highlight mark per region, in order.
MarkList marks(const QList<QRectF> &regions, MarkColor color);

} // namespace TextMarkerSelection
