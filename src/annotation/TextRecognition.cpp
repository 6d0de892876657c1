#include "annotation/TextRecognition.h"

#include "export/ImageRenderer.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageImport.h"
#include "model/AppFailure.h"

#include <algorithm>

namespace {

bool tooLarge(QSize size) {
    return double(size.width()) * double(size.height()) > double(TextRecognition::kMaxPixels);
}

// Both limits are recognition's own; the image renderer would refuse a long side with the export's
// sentence.
void checkSize(QSize size) {
    if (tooLarge(size))
        throw AppFailure(
            QStringLiteral("Das Bild ist für die Texterkennung zu groß (höchstens 40 Megapixel)."));
    if (std::max(size.width(), size.height()) > ImageImport::maximumEdge)
        throw AppFailure(
            QStringLiteral("Das Bild ist für die Texterkennung zu groß (höchstens 20.000 Pixel je Seite)."));
}

// Read from the header, before a single pixel is decoded.
void checkAnnouncedSize(const QByteArray &bytes) {
    Imaging::Decoder decoder(bytes, Imaging::kSnipFormats);
    if (const std::optional<QSize> announced = decoder.storedSize())
        checkSize(*announced);
}

// Closed intervals: a line that merely touches a hidden area is dropped too.
bool touches(const QRectF &a, const QRectF &b) {
    return a.left() <= b.right() && b.left() <= a.right() && a.top() <= b.bottom() && b.top() <= a.bottom();
}

QRectF normalised(const QRectF &box, QSizeF pixelSize) {
    return QRectF(box.x() / pixelSize.width(), box.y() / pixelSize.height(), box.width() / pixelSize.width(),
                  box.height() / pixelSize.height());
}

QRectF markRect(const Mark &mark) {
    return QRectF(QPointF(std::min(mark.x1, mark.x2), std::min(mark.y1, mark.y2)),
                  QPointF(std::max(mark.x1, mark.x2), std::max(mark.y1, mark.y2)));
}

} // namespace

namespace TextRecognition {

RecognizedTextLines recognize(TextRecognizer &recognizer, const QByteArray &bytes, const MarkList &marks,
                              const TextRecognizer::Cancelled &cancelled) {
    MarkList hidden;
    for (const Mark &mark : marks) {
        if (!mark.obscuresText())
            continue;
        // A blur is burnt in as a redaction: a blurred word can still be read by a machine.
        Mark redaction = mark;
        redaction.kind = MarkKind::Redact;
        hidden.append(redaction);
    }
    checkAnnouncedSize(bytes);
    const QImage image = ImageRenderer::flattenImage(bytes, hidden);
    checkSize(image.size());
    if (cancelled && cancelled())
        return {};
    return editorLines(recognizer.recognize(image, cancelled), QSizeF(image.size()), hidden);
}

RecognizedTextLines editorLines(const QList<TextRecognizer::Line> &lines, QSizeF pixelSize,
                                const MarkList &hidden) {
    QList<QRectF> hiddenRects;
    for (const Mark &mark : hidden)
        hiddenRects.append(markRect(mark));
    RecognizedTextLines result;
    for (const TextRecognizer::Line &line : lines) {
        const QRectF lineRect = normalised(line.box, pixelSize);
        if (std::any_of(hiddenRects.begin(), hiddenRects.end(),
                        [&](const QRectF &rect) { return touches(rect, lineRect); }))
            continue;
        QStringList texts;
        QList<RecognizedTextWord> words;
        for (const TextRecognizer::Word &word : line.words) {
            const QString text = word.text.trimmed();
            if (text.isEmpty())
                continue;
            texts.append(text);
            words.append(RecognizedTextWord{text, normalised(word.box, pixelSize)});
        }
        if (words.isEmpty())
            continue;
        result.append(RecognizedTextLine(texts.join(QLatin1Char(' ')), lineRect, std::move(words)));
    }
    return result;
}

} // namespace TextRecognition
