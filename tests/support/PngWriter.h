#pragma once

// PNG files for tests and benchmarks, deflated as their rows come, so that images far larger than
// memory should hold can be made.

#include <QByteArray>
#include <QSize>
#include <QtEndian>

#include <zlib.h>

#include <functional>

// The seven passes of an interlaced PNG, in the order the data holds them: the first column and
// row each pass takes, and its steps across and down.
struct Adam7Pass {
    int x, y, dx, dy;
};
inline constexpr Adam7Pass kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                        {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// A number as PNG stores it: four bytes, big-endian.
inline QByteArray bigEndian(quint32 value) {
    const quint32 big = qToBigEndian(value);
    return QByteArray(reinterpret_cast<const char *>(&big), 4);
}

// One chunk of a PNG: the length of its data, its type and data, and the CRC of those.
inline QByteArray pngChunk(const QByteArray &typeAndData) {
    return bigEndian(quint32(typeAndData.size() - 4)) + typeAndData +
           bigEndian(quint32(
               crc32(0, reinterpret_cast<const Bytef *>(typeAndData.constData()), uInt(typeAndData.size()))));
}

// A PNG of `size` whose stored rows, or the rows of each pass when interlaced, pack(y, x, dx)
// gives for the pixels x, x + dx, … of row y: no image of the whole size is ever held.
inline QByteArray streamedPng(QSize size, int depth, int colorType, bool interlaced,
                              const std::function<QByteArray(int y, int x, int dx)> &pack) {
    QByteArray idat("IDAT");
    z_stream z{};
    deflateInit(&z, 1);
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    const auto deflateMore = [&](const QByteArray &bytes, int flush) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.data()));
        z.avail_in = uInt(bytes.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(chunk.data());
            z.avail_out = uInt(chunk.size());
            deflate(&z, flush);
            idat += chunk.left(chunk.size() - z.avail_out);
        } while (z.avail_out == 0);
    };
    const Adam7Pass whole{0, 0, 1, 1};
    for (int p = 0; p < (interlaced ? 7 : 1); ++p) {
        const Adam7Pass &pass = interlaced ? kAdam7[p] : whole;
        // A pass without columns has no rows either.
        for (int y = pass.y; pass.x < size.width() && y < size.height(); y += pass.dy)
            deflateMore('\0' + pack(y, pass.x, pass.dx), Z_NO_FLUSH);
    }
    deflateMore({}, Z_FINISH);
    deflateEnd(&z);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) +
           pngChunk("IHDR" + bigEndian(quint32(size.width())) + bigEndian(quint32(size.height())) +
                    char(depth) + char(colorType) + QByteArray(2, '\0') + char(interlaced)) +
           pngChunk(idat) + pngChunk("IEND");
}

// A black PNG, grey (colour type 0) or RGB (2).
inline QByteArray blackPng(QSize size, int depth, int colorType) {
    const int bits = depth * (colorType == 2 ? 3 : 1);
    return streamedPng(size, depth, colorType, false, [&](int, int, int) {
        return QByteArray((qsizetype(size.width()) * bits + 7) / 8, '\0');
    });
}
