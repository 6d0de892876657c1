#pragma once

#include "imaging/ImageDecoder.h"

// The kinds of image source behind Decoder; internal to the image module.

namespace Imaging {

// What the decoder asks of every kind of image source.
class Decoder::Source {
public:
    virtual ~Source() = default;
    // The pixel size the header states; nothing is decoded.
    virtual std::optional<QSize> storedSize() = 0;
    // Decoded bytes per pixel before any conversion.
    virtual qint64 bytesPerPixel() = 0;
    // Whether read() can decode straight into a smaller size.
    virtual bool scalesWhileDecoding() const { return false; }
    // False when the data ends before the image does; checked before anything is decoded.
    virtual bool complete() { return true; }
    // The first image, upright, at `scaled` when that is valid; null on failure.
    virtual QImage read(QSize scaled) = 0;
};

// HEIC through libheif, which decodes the whole image at once; the file's item extents are
// checked before libheif sees them.
std::unique_ptr<Decoder::Source> makeHeifSource(QByteArray bytes);

} // namespace Imaging
