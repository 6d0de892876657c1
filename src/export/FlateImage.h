#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>

// A flattened snip's pixels as the image streams a PDF embeds: zlib streams of rows filtered with
// the PNG "Up" predictor. Compressing at zlib's fastest level after that filter is quicker and
// smaller on screenshots than raw rows at the default level, and it is done on the thread that
// flattened the snip, so the document only copies bytes.
struct FlateImage {
    int width = 0;
    int height = 0;
    QByteArray color; // 8-bit RGB
    QByteArray alpha; // 8-bit alpha, straight (not premultiplied); empty when every pixel is opaque

    // `image` is RGB32 or premultiplied ARGB32 (other formats are converted first). Throws
    // std::bad_alloc when memory runs out.
    static FlateImage make(const QImage &image);

    // The PNG of the same pixels (RGB, or RGBA when some pixel is not opaque), same filter and level.
    static QByteArray png(const QImage &image);

    // The zlib stream of `rows` rows of `rowBytes` bytes each, the row y written by fill(y, row),
    // every row prefixed by the Up filter byte.
    static QByteArray deflateUpRows(int rows, qsizetype rowBytes,
                                    const std::function<void(int, uchar *)> &fill);
};
