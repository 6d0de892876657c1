#pragma once

#include "imaging/ImageDecoder.h"

#include <algorithm>
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

    // How many rows of `width` pixels a read that takes one row at a time goes through between two
    // questions: up to 64, and fewer of very wide rows, so that it stops soon however wide they are.
    static qint64 rowsPerQuestion(qint64 width) {
        return std::clamp<qint64>(4'000'000 / std::max<qint64>(width, 1), 1, 64);
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
    // What read() holds at its peak while it decodes straight into `target`, compressed input that
    // it reads into memory and the decoder's own state included; asked of sources that scale while
    // decoding.
    virtual qint64 scaledBytes(QSize) { return 0; }
    // False when the data ends before the image does; checked before anything is decoded.
    virtual bool complete() { return true; }
    // The first image, upright, at `scaled` (the stored size fitted, before orientation) when that
    // is valid and the source scales while decoding, else at full size; null on failure. A read
    // that scales while decoding asks `progress` between bands and comes back null when told to
    // stop.
    virtual QImage read(QSize scaled, BandedRead &progress) = 0;
};

// HEIC through libheif, which decodes the whole image at once; the file's item extents are
// checked before libheif sees them.
std::unique_ptr<Decoder::Source> makeHeifSource(QByteArray bytes);

// A PNG from the device's position, shrunk to `target` while libpng reads it row by row: every
// kind of PNG comes out as premultiplied 32-bit pixels with its colour space, and only the target
// and a few rows are held, interlaced or not. Null on failure or when told to stop.
QImage readScaledPng(QIODevice *device, QSize target, BandedRead &progress);
// What readScaledPng holds for a PNG of `size` shrunk to `target`, the copy included.
qint64 scaledPngBytes(QSize size, bool interlaced, QSize target);
// The size that an intact PNG header states when a side is beyond the 1,000,000 pixels at which
// libpng, and so Qt's reader, stops by default; nothing for any other header.
std::optional<QSize> widePngSize(QByteArrayView head);

// The first image of a JPEG read through libjpeg a band of rows at a time, for a copy smaller than
// the image: libjpeg shrinks each block by itself, to an eighth at the least, and the area average
// takes it the rest of the way. A JPEG in several scans (a progressive one) keeps every block's
// coefficients until its last scan: how much that is the header tells. Reads from the device's
// position at construction, and puts the position back after each step.
class JpegLines {
public:
    explicit JpegLines(QIODevice *device);

    // Whether the header was read and its colours are ones that turn into RGB.
    bool usable() const { return m_size.isValid(); }
    // What read(target) holds at its peak, the copy included.
    qint64 heldBytes(QSize target) const;
    // The image shrunk to `target`, rows as stored (no orientation applied), as 32-bit RGB with its
    // colour space; null on failure or when told to stop, which is asked between bands of rows and
    // while the scans of a progressive file are taken in.
    QImage read(QSize target, BandedRead &progress);

private:
    QImage readLines(QSize target, BandedRead &progress);

    QIODevice *m_device;
    qint64 m_start;
    QSize m_size;
    int m_components = 0;
    qint64 m_coefficientBytes = 0; // kept for the whole image; 0 for a single scan
};

// The first image of a TIFF read through libtiff a band of rows at a time, or for strips too large
// for that a row at a time, for a copy smaller than the image: memory follows the copy, one band
// and the stored strip or tile, never the whole image. Also the one reader of TIFFs with alpha at
// full size, so that every copy has the same colours. The device's position is where the TIFF
// starts and is put back after each step; `bytes`, when not null, are what the device reads, held
// in memory, and strips are taken from them without a copy.
class TiffBands {
public:
    explicit TiffBands(QIODevice *device, const QByteArray &bytes = {});
    ~TiffBands();
    TiffBands(const TiffBands &) = delete;
    TiffBands &operator=(const TiffBands &) = delete;

    // Whether the image can be read this way: a kind libtiff turns into RGBA, in strips or tiles
    // of a bounded size, or in strips libtiff reads a row at a time.
    bool usable() const { return m_size.isValid(); }
    // Whether the image has an alpha sample, of whatever kind.
    bool hasAlpha() const { return m_alpha; }
    // What read(target) holds at its peak, the copy and the stored strip or tile included.
    qint64 heldBytes(QSize target) const;
    // The image shrunk to `target`, rows as stored (no orientation applied), premultiplied 32-bit
    // with its colour space; null on failure or when told to stop.
    QImage read(QSize target, BandedRead &progress);

private:
    struct Handle;
    QImage readBands(QSize target, BandedRead &progress);
    QImage readRows(QSize target, BandedRead &progress);
    void finishOpening(QSize size, qint64 available);

    std::unique_ptr<Handle> m_handle;
    QSize m_size;
    quint32 m_bandRows = 0; // 0: a row at a time
    qint64 m_unitBytes = 0; // one strip or tile decoded, or one row of samples
    qint64 m_rawBytes = 0;  // the largest strip or tile as stored, when it is read into memory
    bool m_alpha = false;
};

} // namespace Imaging
