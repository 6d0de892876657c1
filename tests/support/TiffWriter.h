#pragma once

// TIFF files for tests and benchmarks, written through libtiff a band of rows at a time, so that
// images far larger than memory should hold can be made.

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QSize>
#include <QString>

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <vector>

// How a test TIFF is laid out.
struct TiffLayout {
    int orientation = ORIENTATION_TOPLEFT;
    bool tiled = false;
    bool alpha = false; // an unassociated alpha sample
    int bits = 8;       // per sample
    QByteArray profile; // an ICC profile, or none
    int compression = COMPRESSION_ADOBE_DEFLATE;
    int rowsPerStrip = 16; // 0: one strip
    // MINISBLACK: grey, the red of each pixel; YCBCR: JPEG only, handed RGB rows.
    int photometric = PHOTOMETRIC_RGB;
    // How the alpha sample is stored; with ASSOCALPHA the colours are written premultiplied.
    int extraSample = EXTRASAMPLE_UNASSALPHA;
    // LSB2MSB: every byte written with its bits in reverse order.
    int fillOrder = FILLORDER_MSB2LSB;
};

// Writes a TIFF of `size` whose stored row y fill(y, row) writes, a row or a row of tiles at a
// time: no image of the whole size is ever held.
inline bool writeTiff(const QString &path, QSize size, const TiffLayout &layout,
                      const std::function<void(int y, QRgb *row)> &fill) {
    TIFF *tiff = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tiff)
        return false;
    const int colours = layout.photometric == PHOTOMETRIC_MINISBLACK ? 1 : 3;
    const int samples = colours + (layout.alpha ? 1 : 0);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, quint32(size.width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, quint32(size.height()));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
    TIFFSetField(tiff, TIFFTAG_FILLORDER, layout.fillOrder);
    if (layout.photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, layout.orientation);
    if (!layout.profile.isEmpty())
        TIFFSetField(tiff, TIFFTAG_ICCPROFILE, quint32(layout.profile.size()), layout.profile.constData());
    if (layout.alpha) {
        const quint16 extra = quint16(layout.extraSample);
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    const int band = 16;
    if (layout.tiled) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, quint32(band));
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, quint32(band));
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP,
                     quint32(layout.rowsPerStrip > 0 ? layout.rowsPerStrip : size.height()));
    }
    const int bytes = layout.bits / 8;
    // One band of rows, as samples.
    std::vector<uchar> rows(size_t(size.width()) * band * samples * bytes);
    std::vector<QRgb> row(size_t(size.width()));
    bool ok = true;
    for (int top = 0; ok && top < size.height(); top += band) {
        const int count = std::min(band, size.height() - top);
        std::fill(rows.begin(), rows.end(), 0);
        for (int y = 0; y < count; ++y) {
            fill(top + y, row.data());
            for (int x = 0; x < size.width(); ++x) {
                const QRgb p = layout.alpha && layout.extraSample == EXTRASAMPLE_ASSOCALPHA
                                   ? qPremultiply(row[size_t(x)])
                                   : row[size_t(x)];
                const int values[4] = {qRed(p), colours == 1 ? qAlpha(p) : qGreen(p), qBlue(p), qAlpha(p)};
                uchar *out = rows.data() + (size_t(y) * size.width() + x) * samples * bytes;
                for (int c = 0; c < samples; ++c) {
                    if (bytes == 2) {
                        const quint16 wide = quint16(values[c] * 257);
                        std::memcpy(out + 2 * c, &wide, 2);
                    } else {
                        out[c] = uchar(values[c]);
                    }
                }
            }
        }
        if (!layout.tiled) {
            // libtiff compresses strips of any height as their rows come.
            for (int y = 0; ok && y < count; ++y)
                ok = TIFFWriteScanline(tiff, rows.data() + size_t(y) * size.width() * samples * bytes,
                                       quint32(top + y), 0) >= 0;
            continue;
        }
        std::vector<uchar> tile(size_t(band) * band * samples * bytes);
        for (int left = 0; ok && left < size.width(); left += band) {
            std::fill(tile.begin(), tile.end(), 0);
            for (int y = 0; y < count; ++y) {
                const int width = std::min(band, size.width() - left);
                std::memcpy(tile.data() + size_t(y) * band * samples * bytes,
                            rows.data() + (size_t(y) * size.width() + left) * samples * bytes,
                            size_t(width) * samples * bytes);
            }
            ok = TIFFWriteTile(tiff, tile.data(), quint32(left), quint32(top), 0, 0) >= 0;
        }
    }
    TIFFClose(tiff);
    return ok;
}

// A little-endian 8-bit grey TIFF of `size` whose strips of `rowsPerStrip` rows all point at the same
// deflated strip of zeros: a small file that claims a vast image.
inline QByteArray sameStripTiff(QSize size, quint32 rowsPerStrip) {
    const auto le = [](quint32 value, int bytes) {
        QByteArray out;
        for (int i = 0; i < bytes; ++i)
            out += char(value >> (8 * i));
        return out;
    };
    const QByteArray strip = qCompress(QByteArray(qsizetype(size.width()) * rowsPerStrip, '\0'), 9).mid(4);
    const quint32 strips = (quint32(size.height()) + rowsPerStrip - 1) / rowsPerStrip;
    const quint32 stripAt = 8, offsetsAt = stripAt + quint32(strip.size()), countsAt = offsetsAt + 4 * strips,
                  directoryAt = countsAt + 4 * strips;
    QByteArray tiff = QByteArray("II*\0", 4) + le(directoryAt, 4) + strip;
    for (quint32 i = 0; i < strips; ++i)
        tiff += le(stripAt, 4);
    for (quint32 i = 0; i < strips; ++i)
        tiff += le(quint32(strip.size()), 4);
    const struct {
        quint16 tag, type;
        quint32 count, value;
    } entries[] = {{TIFFTAG_IMAGEWIDTH, TIFF_LONG, 1, quint32(size.width())},
                   {TIFFTAG_IMAGELENGTH, TIFF_LONG, 1, quint32(size.height())},
                   {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, 1, 8},
                   {TIFFTAG_COMPRESSION, TIFF_SHORT, 1, COMPRESSION_ADOBE_DEFLATE},
                   {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, 1, PHOTOMETRIC_MINISBLACK},
                   {TIFFTAG_STRIPOFFSETS, TIFF_LONG, strips, offsetsAt},
                   {TIFFTAG_SAMPLESPERPIXEL, TIFF_SHORT, 1, 1},
                   {TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 1, rowsPerStrip},
                   {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, strips, countsAt}};
    tiff += le(std::size(entries), 2);
    for (const auto &entry : entries)
        tiff += le(entry.tag, 2) + le(entry.type, 2) + le(entry.count, 4) + le(entry.value, 4);
    return tiff + le(0, 4);
}
