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
    // The bytes of the image decoded at full size, before any conversion.
    virtual qint64 fullBytes() = 0;
    // Whether read() can decode straight into a smaller size, without the full size in memory.
    virtual bool scalesWhileDecoding() { return false; }
    // False when the data ends before the image does; checked before anything is decoded.
    virtual bool complete() { return true; }
    // The first image, upright, at `scaled` (the stored size fitted, before orientation) when that
    // is valid and the source scales while decoding, else at full size; null on failure.
    virtual QImage read(QSize scaled) = 0;
};

// HEIC through libheif, which decodes the whole image at once; the file's item extents are
// checked before libheif sees them.
std::unique_ptr<Decoder::Source> makeHeifSource(QByteArray bytes);

// A PNG that is not interlaced, from the device's position, shrunk to `target` while libpng reads
// it row by row: every kind of PNG comes out as premultiplied 32-bit pixels with its colour space,
// and only the target and a row are held. Null on failure; the device is left where reading ended.
QImage readScaledPng(QIODevice *device, QSize target);

// The first image of a TIFF read a band of rows at a time through libtiff, for a copy smaller than
// the image: memory follows the copy and one band, never the whole image. The device's position is
// where the TIFF starts and is put back after each step.
class TiffBands {
public:
    explicit TiffBands(QIODevice *device);
    ~TiffBands();
    TiffBands(const TiffBands &) = delete;
    TiffBands &operator=(const TiffBands &) = delete;

    // Whether the image can be read this way: a kind libtiff turns into RGBA, in strips or tiles
    // of a bounded size.
    bool usable() const { return m_size.isValid(); }
    // The image shrunk to `target`, rows as stored (no orientation applied), premultiplied 32-bit
    // with its colour space; null on failure.
    QImage read(QSize target);

private:
    struct Handle;
    std::unique_ptr<Handle> m_handle;
    QSize m_size;
    quint32 m_bandRows = 0;
};

} // namespace Imaging
