#pragma once

#include "export/MarkRenderer.h"

#include <QImage>
#include <QList>
#include <QSize>

#include <optional>

class ImageLevels;

// The blurred copies that blur marks show on a canvas. A blurred picture has no detail finer
// than its blur, so each copy is made from a reduced picture just large enough that the blur
// still spans a few of its pixels (never larger than shown), then stretched over the canvas. Radii
// are rounded to whole numbers and at most three are kept; a fourth starts the cache afresh, so
// dragging through many strengths costs one small blur per strength and never piles up memory.
class BlurPreviews {
public:
    // The blurred picture for `radius` (thousandths of the width) covering `shown` (the size the
    // picture is drawn at, in the painter's units) when drawn at `deviceSize` pixels; none while
    // the reduced copies of the picture are missing (the mark then shows grey for a moment).
    std::optional<BlurPatch> lookup(ImageLevels &levels, double radius, QSizeF shown, QSize deviceSize);
    // How many blurred copies have been made so far.
    int made() const { return m_made; }

    // The pixel size a copy for `radius` is blurred at.
    static QSize blurSize(QSize imageSize, QSize deviceSize, double radius);
    static double quantised(double radius);

private:
    struct Entry {
        double radius = 0;
        QSize size;
        QImage image;
    };
    qint64 m_imageKey = 0;
    QList<Entry> m_entries;
    int m_made = 0;
};
