#include "export/FlateImage.h"

#include "imaging/PngEncoder.h"

#include <new>

FlateImage FlateImage::make(const QImage &image) {
    if (image.isNull())
        throw std::bad_alloc();
    Imaging::StraightRows rows(image);
    FlateImage result;
    result.width = image.width();
    result.height = image.height();
    result.color =
        Imaging::deflateRows(image.height(), qsizetype(image.width()) * 3, 3, Imaging::PngEffort::Fast,
                             [&](int y, uchar *row) { rows.rgb(y, row); });
    if (!rows.opaque()) {
        result.alpha = Imaging::deflateRows(image.height(), image.width(), 1, Imaging::PngEffort::Fast,
                                            [&](int y, uchar *row) { rows.alpha(y, row); });
    }
    return result;
}
