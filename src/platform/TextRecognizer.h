#pragma once

#include <QImage>
#include <QList>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>

// Finds German and English text in a picture, on this device. An instance keeps its loaded language
// data between passes, so callers keep one and reuse it; it is used by one thread at a time.
class TextRecognizer {
public:
    // Boxes are in pixels of the picture that was passed in, origin at the top left.
    struct Word {
        QString text;
        QRectF box;
    };
    struct Line {
        QRectF box;
        QList<Word> words; // in reading order; the recogniser may report blank ones
    };
    // Asked now and then during a pass; once it answers true the pass ends early and its result
    // means nothing.
    using Cancelled = std::function<bool()>;

    virtual ~TextRecognizer() = default;

    // Lines in reading order. Any format; transparent pixels count as white. Throws AppFailure with
    // one German sentence.
    virtual QList<Line> recognize(const QImage &image, const Cancelled &cancelled) = 0;

    // The recogniser on libtesseract, with its language data loaded; throws AppFailure when the
    // German or English data is missing. Runs with one thread, whatever the environment says, so
    // one recognition never takes more than one core.
    static std::unique_ptr<TextRecognizer> createTesseract();
};
