#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>

// The one PNG encoder of the application, and the filtered zlib rows it is made of, which PDF
// images with the PNG predictor hold as well. Stateless and thread-safe; every function throws
// std::bad_alloc when memory runs out.
namespace Imaging {

enum class PngEffort {
    // Every row filtered with "Up", zlib level 1: two to three times quicker than Compact, for
    // documents that are written now and read once.
    Fast,
    // A filter chosen for each row, zlib level 4: for images the library keeps, whose size counts
    // against the cloud limit.
    Compact,
};

// The image as a PNG that decodes to the same pixels: grey, palette and 1-bit images keep their
// kind, images of other formats become RGB (RGBA when a pixel is not opaque) at 8 bits a channel,
// and a colour space goes along as its ICC profile. Empty for a null image.
QByteArray encodePng(const QImage &image, PngEffort effort);

// fill(y, row) writes the unfiltered bytes of row y; rows are asked for in order.
using RowFill = std::function<void(int y, uchar *row)>;

// The zlib stream of `rows` rows of `rowBytes` bytes each, every row filtered and led by its
// filter type. The filters look back `bytesPerPixel` bytes (1 for less than a byte a pixel).
QByteArray deflateRows(int rows, qsizetype rowBytes, int bytesPerPixel, PngEffort effort,
                       const RowFill &fill);

// 8-bit straight (not premultiplied) rows of an image of any format, converted as Qt converts, so
// that the values match to the bit what Qt itself would store. Formats other than RGB32, ARGB32,
// premultiplied ARGB32, RGB888 and RGBA8888 are converted whole first; premultiplied rows a band
// at a time. Shares the image's pixels.
class StraightRows {
public:
    explicit StraightRows(const QImage &image);

    bool opaque() const { return m_opaque; }
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }

    // Row y as RGB, RGBA or alpha alone; rows are asked for in order.
    void rgb(int y, uchar *out) { write(y, out, 3); }
    void rgba(int y, uchar *out) { write(y, out, 4); }
    void alpha(int y, uchar *out);

private:
    const uchar *line(int y);
    void write(int y, uchar *out, int channels);

    QImage m_image;
    bool m_opaque = true;
    bool m_convert = false; // premultiplied with some pixel not opaque
    QImage m_band;
    int m_first = 0;
};

} // namespace Imaging
