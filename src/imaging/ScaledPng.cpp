// A smaller copy of a PNG read row by row through libpng.
#include "imaging/ImageSources.h"

#include "imaging/AreaScaler.h"

#include <QColorSpace>
#include <QIODevice>

#include <png.h>

#include <optional>
#include <vector>

namespace Imaging {

namespace {

void readFromDevice(png_structp png, png_bytep data, size_t length) {
    auto *device = static_cast<QIODevice *>(png_get_io_ptr(png));
    size_t done = 0;
    while (done < length) {
        const qint64 n = device->read(reinterpret_cast<char *>(data) + done, qint64(length - done));
        if (n <= 0)
            png_error(png, "data ends early");
        done += size_t(n);
    }
}

[[noreturn]] void jumpOnError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

struct ReadStruct {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~ReadStruct() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

// The colour space the way Qt's reader takes it from the chunks: an ICC profile, else the sRGB
// chunk, else gamma with the primaries of cHRM (or sRGB's).
QColorSpace colorSpaceOf(png_structp png, png_infop info) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile && length > 0) {
        const QColorSpace space = QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char *>(profile), qsizetype(length)));
        if (space.isValid())
            return space;
    }
    int intent = -1;
    if (png_get_sRGB(png, info, &intent) && intent >= 0 && intent <= 3)
        return QColorSpace(QColorSpace::SRgb);
    double fileGamma = 0;
    if (!png_get_gAMA(png, info, &fileGamma) || !(fileGamma > 0))
        return {};
    const float gamma = float(1.0 / fileGamma);
    double wx = 0, wy = 0, rx = 0, ry = 0, gx = 0, gy = 0, bx = 0, by = 0;
    if (png_get_cHRM(png, info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by)) {
        const QColorSpace space(QPointF(wx, wy), QPointF(rx, ry), QPointF(gx, gy), QPointF(bx, by),
                                QColorSpace::TransferFunction::Gamma, gamma);
        if (space.isValid())
            return space;
    }
    return QColorSpace(QColorSpace::Primaries::SRgb, QColorSpace::TransferFunction::Gamma, gamma);
}

} // namespace

QImage readScaledPng(QIODevice *device, QSize target) {
    // libpng leaves by a long jump: whatever the jump crosses is plain data or was made before it.
    ReadStruct read;
    std::optional<AreaScaler> scaler;
    std::vector<png_byte> row;
    std::vector<QRgb> pixels;
    QColorSpace space;
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, jumpOnError, ignoreWarning);
    if (!read.png)
        return {};
    read.info = png_create_info_struct(read.png);
    if (!read.info)
        return {};
    if (setjmp(png_jmpbuf(read.png)))
        return {};
    png_set_read_fn(read.png, device, readFromDevice);
#if defined(PNG_SET_OPTION_SUPPORTED) && defined(PNG_MAXIMUM_INFLATE_WINDOW)
    // Files some writers make with a too small window header, which Qt's reader takes as well.
    png_set_option(read.png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
#endif
    png_read_info(read.png, read.info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(read.png, read.info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    if (interlace != PNG_INTERLACE_NONE || width < 1 || height < 1)
        return {};
    space = colorSpaceOf(read.png, read.info);
    const bool alpha =
        (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(read.png, read.info, PNG_INFO_tRNS);
    // Every kind arrives as 8-bit RGBA: palettes and small greys expanded, tRNS as alpha, 16 bits
    // rounded to 8.
    png_set_expand(read.png);
    png_set_scale_16(read.png);
    png_set_gray_to_rgb(read.png);
    png_set_add_alpha(read.png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(read.png, read.info);
    if (png_get_rowbytes(read.png, read.info) != size_t(width) * 4)
        return {};
    scaler.emplace(QSize(int(width), int(height)), target, alpha);
    row.resize(size_t(width) * 4);
    pixels.resize(size_t(width));
    for (png_uint_32 y = 0; y < height; ++y) {
        png_read_row(read.png, row.data(), nullptr);
        const png_byte *p = row.data();
        for (png_uint_32 x = 0; x < width; ++x, p += 4)
            pixels[x] = qPremultiply(qRgba(p[0], p[1], p[2], p[3]));
        scaler->addRow(pixels.data());
    }
    QImage image = scaler->take();
    if (!image.isNull())
        image.setColorSpace(space);
    return image;
}

} // namespace Imaging
