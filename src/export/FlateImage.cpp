#include "export/FlateImage.h"

#include "export/ZipArchive.h"

#include <QtEndian>

#include <algorithm>
#include <new>
#include <vector>

#include <zlib.h>

namespace {
constexpr uchar kUpFilter = 2;
// Rows are filtered into a buffer of about this size before each deflate call.
constexpr qsizetype kChunkBytes = 256 * 1024;

QImage prepared(const QImage &image) {
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32_Premultiplied)
        return image;
    return image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                         : QImage::Format_RGB32);
}

bool opaque(const QImage &image) {
    if (image.format() == QImage::Format_RGB32)
        return true;
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        if (!std::all_of(line, line + image.width(), [](QRgb p) { return qAlpha(p) == 255; }))
            return false;
    }
    return true;
}

// Straight (not premultiplied) rows of an image, converted a band at a time by Qt's own
// conversion, so the values match to the bit what the image's PNG would hold.
class StraightRows {
public:
    // An opaque premultiplied image already holds straight values.
    StraightRows(const QImage &image, bool opaque)
        : m_image(image), m_convert(!opaque && image.format() == QImage::Format_ARGB32_Premultiplied) {}

    // RGB, optionally followed by alpha, of row y; rows are asked for in order.
    void write(int y, uchar *out, bool withAlpha) {
        const int width = m_image.width();
        const QRgb *line = reinterpret_cast<const QRgb *>(m_image.constScanLine(y));
        if (m_convert) {
            if (y < m_first || y >= m_first + m_band.height()) {
                m_first = y;
                const int rows = std::min(kBandRows, m_image.height() - y);
                m_band = QImage(m_image.constScanLine(y), width, rows, m_image.bytesPerLine(),
                                QImage::Format_ARGB32_Premultiplied)
                             .convertToFormat(QImage::Format_ARGB32);
                if (m_band.isNull())
                    throw std::bad_alloc();
            }
            line = reinterpret_cast<const QRgb *>(m_band.constScanLine(y - m_first));
        }
        for (int x = 0; x < width; ++x) {
            const QRgb p = line[x];
            *out++ = uchar(qRed(p));
            *out++ = uchar(qGreen(p));
            *out++ = uchar(qBlue(p));
            if (withAlpha)
                *out++ = uchar(qAlpha(p));
        }
    }

private:
    static constexpr int kBandRows = 64;
    const QImage &m_image;
    const bool m_convert;
    QImage m_band;
    int m_first = 0;
};

void appendBigEndian(QByteArray &out, quint32 value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

void appendChunk(QByteArray &png, const char *type, const QByteArray &data) {
    appendBigEndian(png, quint32(data.size()));
    const qsizetype start = png.size();
    png.append(type, 4);
    png.append(data);
    appendBigEndian(png, ZipArchive::crc32(QByteArrayView(png).sliced(start)));
}
} // namespace

QByteArray FlateImage::deflateUpRows(int rows, qsizetype rowBytes,
                                     const std::function<void(int, uchar *)> &fill) {
    z_stream z{};
    if (deflateInit(&z, 1) != Z_OK)
        throw std::bad_alloc();
    const qsizetype filtered = rowBytes + 1;
    const int rowsPerChunk = int(std::max<qsizetype>(1, kChunkBytes / filtered));
    std::vector<uchar> previous(size_t(rowBytes), 0);
    std::vector<uchar> current(size_t(rowBytes), 0);
    std::vector<uchar> chunk(size_t(filtered) * size_t(std::min(rows, rowsPerChunk)));
    QByteArray out;
    uchar buffer[64 * 1024];
    auto pump = [&](int flush) {
        do {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            const int result = deflate(&z, flush);
            if (result == Z_STREAM_ERROR) {
                deflateEnd(&z);
                throw std::bad_alloc();
            }
            out.append(reinterpret_cast<const char *>(buffer), qsizetype(sizeof buffer - z.avail_out));
        } while (z.avail_out == 0);
    };
    try {
        for (int first = 0; first < rows; first += rowsPerChunk) {
            const int count = std::min(rowsPerChunk, rows - first);
            uchar *target = chunk.data();
            for (int y = first; y < first + count; ++y) {
                fill(y, current.data());
                *target++ = kUpFilter;
                for (qsizetype i = 0; i < rowBytes; ++i)
                    *target++ = uchar(current[size_t(i)] - previous[size_t(i)]);
                previous.swap(current);
            }
            z.next_in = chunk.data();
            z.avail_in = uInt(target - chunk.data());
            pump(Z_NO_FLUSH);
        }
        z.avail_in = 0;
        pump(Z_FINISH);
    } catch (...) {
        deflateEnd(&z);
        throw;
    }
    deflateEnd(&z);
    return out;
}

FlateImage FlateImage::make(const QImage &source) {
    const QImage image = prepared(source);
    if (image.isNull())
        throw std::bad_alloc();
    FlateImage result;
    result.width = image.width();
    result.height = image.height();
    const bool withAlpha = !opaque(image);
    StraightRows rows(image, !withAlpha);
    result.color = deflateUpRows(image.height(), qsizetype(image.width()) * 3,
                                 [&](int y, uchar *row) { rows.write(y, row, false); });
    if (withAlpha) {
        result.alpha = deflateUpRows(image.height(), image.width(), [&](int y, uchar *row) {
            const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            const int width = image.width();
            for (int x = 0; x < width; ++x)
                row[x] = uchar(qAlpha(line[x]));
        });
    }
    return result;
}

QByteArray FlateImage::png(const QImage &source) {
    const QImage image = prepared(source);
    if (image.isNull())
        throw std::bad_alloc();
    const bool withAlpha = !opaque(image);
    const int channels = withAlpha ? 4 : 3;
    QByteArray header;
    appendBigEndian(header, quint32(image.width()));
    appendBigEndian(header, quint32(image.height()));
    header.append(char(8));                 // bits per channel
    header.append(char(withAlpha ? 6 : 2)); // RGBA or RGB
    header.append(QByteArray(3, char(0)));  // deflate, adaptive filters, no interlace
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    StraightRows rows(image, !withAlpha);
    appendChunk(png, "IDAT",
                deflateUpRows(image.height(), qsizetype(image.width()) * channels,
                              [&](int y, uchar *row) { rows.write(y, row, withAlpha); }));
    appendChunk(png, "IEND", {});
    return png;
}
