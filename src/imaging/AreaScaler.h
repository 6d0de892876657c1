#pragma once

#include "imaging/ImageSources.h"

#include <QImage>
#include <QSize>

#include <vector>

namespace Imaging {

// Shrinks an image whose rows come in from top to bottom: each pixel of the target is the average
// of the source area it covers, taken on premultiplied values, so colours and alpha stay what they
// are at any ratio. Holds the target and two rows of sums as wide as the target, never the source:
// each source row is summed onto the target's columns as it comes.
class AreaScaler {
public:
    // `target` is no larger than `source` in either direction, both at least 1 x 1; with `alpha`
    // the result is premultiplied ARGB32, else RGB32.
    AreaScaler(QSize source, QSize target, bool alpha);

    // True when the sizes are beyond what the scaler takes or its memory could not be had: rows
    // are then ignored and take() is null. Readers ask before they decode anything.
    bool isNull() const { return m_image.isNull(); }

    // The next source row: `source.width()` premultiplied ARGB32 pixels (opaque ones for RGB32).
    void addRow(const QRgb *row);
    // The target once every source row is in; null when it could not be allocated.
    QImage take();

    // What a scaler to `target` holds while rows come in.
    static qint64 heldBytes(QSize target);

private:
    void finishRow();

    QSize m_source;
    QSize m_target;
    QImage m_image;
    std::vector<quint64> m_row;  // the current source row: four channels per target column
    std::vector<quint64> m_sums; // four channels per target column, weighted over the rows so far
    qint64 m_targetRow = 0;
    quint64 m_filled = 0; // how much of the current target row the rows so far cover
    HeldPixels m_held;
};

// The image shrunk to `target` by the area average, whatever its format: Qt's own smooth scaling
// for 32-bit RGB, bands of converted rows through AreaScaler for the rest, for which Qt's scaling
// drops palettes or averages straight alpha. The colour space is kept.
QImage shrunk(const QImage &image, QSize target);

} // namespace Imaging
