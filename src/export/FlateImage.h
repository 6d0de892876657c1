#pragma once

#include <QByteArray>
#include <QImage>

// A flattened snip's pixels as the image streams a PDF embeds: the rows of a fast PNG without its
// chunks, which a PDF reads through the PNG predictor. The compression is done on the thread that
// flattened the snip, so the document only copies bytes.
struct FlateImage {
    int width = 0;
    int height = 0;
    QByteArray color; // 8-bit RGB
    QByteArray alpha; // 8-bit alpha, straight (not premultiplied); empty when every pixel is opaque

    // Throws std::bad_alloc when memory runs out.
    static FlateImage make(const QImage &image);
};
