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
            // A word is a run without white space: a no-break space inside what the recogniser
            // returns as one word still separates two, each with its share of the box.
            const QString &text = word.text;
            QList<std::pair<qsizetype, qsizetype>> parts;
            for (qsizetype i = 0, n = text.size(); i < n;) {
                while (i < n && text[i].isSpace())
                    ++i;
                qsizetype end = i;
                while (end < n && !text[end].isSpace())
                    ++end;
                if (end > i)
                    parts.append({i, end});
                i = end;
            }
            for (const auto &[start, end] : parts) {
                QRectF box = word.box;
                if (parts.size() > 1) {
                    const double share = box.width() / double(text.size());
                    box = QRectF(box.left() + start * share, box.top(), (end - start) * share, box.height());
                }
                texts.append(text.mid(start, end - start));
                words.append(RecognizedTextWord{texts.last(), normalised(box, pixelSize)});
            }
        }
        if (words.isEmpty())
            continue;
        result.append(RecognizedTextLine(texts.join(QLatin1Char(' ')), lineRect, std::move(words)));
    }
    return result;
}

} // namespace TextRecognition
