#pragma once

#include "imaging/ImageDecoder.h"

#include <functional>

// The kinds of image source behind Decoder; internal to the image module.

namespace Imaging {

// Counts bytes of pixel buffers toward peakPixelBytes() while it lives.
class HeldPixels {
public:
    explicit HeldPixels(qint64 bytes = 0) { resize(bytes); }
    ~HeldPixels() { resize(0); }
    HeldPixels(const HeldPixels &) = delete;
    HeldPixels &operator=(const HeldPixels &) = delete;
    void resize(qint64 bytes);

private:
    qint64 m_bytes = 0;
};

// A read that goes through the rows a band at a time asks between bands whether to stop.
struct BandedRead {
    std::function<bool()> stop; // may be empty
    bool stopped = false;

    // Asked once per band; true, and so from then on, when the read is to stop.
    bool shouldStop() {
        if (!stopped && stop && stop())
            stopped = true;
        return stopped;
    }
};

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
    // is valid and the source scales while decoding, else at full size; null on failure. A PNG or
    // TIFF read that scales while decoding asks `progress` between bands and comes back null when
    // told to stop.
    virtual QImage read(QSize scaled, BandedRead &progress) = 0;
};

// HEIC through libheif, which decodes the whole image at once; the file's item extents are
// checked before libheif sees them.
std::unique_ptr<Decoder::Source> makeHeifSource(QByteArray bytes);

// A PNG from the device's position, shrunk to `target` while libpng reads it row by row: every
// kind of PNG comes out as premultiplied 32-bit pixels with its colour space, and only the target
// and a few rows are held, interlaced or not. Null on failure or when told to stop.
QImage readScaledPng(QIODevice *device, QSize target, BandedRead &progress);

// The first image of a TIFF read through libtiff a band of rows at a time, or for strips too large
// for that a row at a time, for a copy smaller than the image: memory follows the copy and one
// band, never the whole image. The device's position is where the TIFF starts and is put back
// after each step.
class TiffBands {
public:
    explicit TiffBands(QIODevice *device);
    ~TiffBands();
    TiffBands(const TiffBands &) = delete;
    TiffBands &operator=(const TiffBands &) = delete;

    // Whether the image can be read this way: a kind libtiff turns into RGBA, in strips or tiles
    // of a bounded size, or in strips libtiff reads a row at a time.
    bool usable() const { return m_size.isValid(); }
    // The image shrunk to `target`, rows as stored (no orientation applied), premultiplied 32-bit
    // with its colour space; null on failure or when told to stop.
    QImage read(QSize target, BandedRead &progress);

private:
    struct Handle;
    QImage readBands(QSize target, BandedRead &progress);
    QImage readRows(QSize target, BandedRead &progress);

    std::unique_ptr<Handle> m_handle;
    QSize m_size;
    quint32 m_bandRows = 0; // 0: a row at a time
    qint64 m_unitBytes = 0; // one strip or tile decoded
};

} // namespace Imaging
