#pragma once

#include "annotation/RecognizedText.h"
#include "model/Mark.h"
#include "platform/TextRecognizer.h"

#include <QByteArray>
#include <QSizeF>

// One synchronous recognition pass over a snip's image, on whatever thread calls it.
namespace TextRecognition {

// Above this the pass is refused: recognition time and memory grow with the pixel count, and no
// screen of today comes near it.
constexpr qint64 kMaxPixels = 40'000'000;

// The lines of the image (PNG, JPEG or TIFF bytes) after every redact and blur mark among `marks`
// has been burnt in as a redaction; other kinds are ignored. A line whose box touches such a mark
// is dropped whole, so that letters peeking out beside a redaction never spell anything. Throws
// AppFailure with one German sentence; once `cancelled` answers true the result means nothing.
RecognizedTextLines recognize(TextRecognizer &recognizer, const QByteArray &bytes, const MarkList &marks,
                              const TextRecognizer::Cancelled &cancelled = {});

// The recogniser's answer for a picture of `pixelSize` as editor values: boxes normalised to the
// picture, blank words left out, words joined by single spaces, lines without words and lines
// touching one of `hidden` (editor space) dropped.
RecognizedTextLines editorLines(const QList<TextRecognizer::Line> &lines, QSizeF pixelSize,
                                const MarkList &hidden);

} // namespace TextRecognition
