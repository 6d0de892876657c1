// A smaller copy of a PNG read row by row through libpng.
#include "imaging/ImageSources.h"

#include "imaging/AreaScaler.h"

#include <QColorSpace>
#include <QIODevice>

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace Imaging {

namespace {

constexpr qint64 kReadBlock = 64 * 1024;
constexpr int kInterlacePasses = 7;
// Sides of up to this many pixels are read; libpng stops at 1,000,000 unless told otherwise.
constexpr png_uint_32 kLongestSide = 0x7FFFFFFF;

// What one libpng reader holds besides its block of data: its zlib stream and two rows of up to
// eight bytes a pixel, the row being read and the one before.
qint64 readerBytes(qint64 width) {
    return kReadBlock + 64 * 1024 + 16 * width;
}

// Where every reader of one image leaves to when libpng fails.
struct Failure {
    std::jmp_buf jump;
};

[[noreturn]] void jumpOnError(png_structp png, png_const_charp) {
    std::longjmp(static_cast<Failure *>(png_get_error_ptr(png))->jump, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// One libpng reader with its own place in the data, so that several can go through the same device
// side by side.
struct Reader {
    QIODevice *device = nullptr;
    qint64 offset = 0;
    std::vector<char> block = std::vector<char>(size_t(kReadBlock));
    size_t at = 0;
    size_t filled = 0;
    png_structp png = nullptr;
    png_infop info = nullptr;

    ~Reader() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

void readFromDevice(png_structp png, png_bytep data, size_t length) {
    auto *reader = static_cast<Reader *>(png_get_io_ptr(png));
    while (length > 0) {
        if (reader->at == reader->filled) {
            const qint64 n = reader->device->seek(reader->offset)
                                 ? reader->device->read(reader->block.data(), qint64(reader->block.size()))
                                 : -1;
            if (n <= 0)
                png_error(png, "data ends early");
            reader->offset += n;
            reader->filled = size_t(n);
            reader->at = 0;
        }
        const size_t step = std::min(length, reader->filled - reader->at);
        std::memcpy(data, reader->block.data() + reader->at, step);
        data += step;
        length -= step;
        reader->at += step;
    }
}

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

// Everything a read holds, made before libpng may leave by its long jump and freed after it.
struct ScaledRead {
    Failure failure;
    std::vector<std::unique_ptr<Reader>> readers;
    std::optional<AreaScaler> scaler;
    std::vector<png_byte> row;
    std::vector<png_byte> passRow; // the pixels one pass holds of a row
    std::vector<QRgb> pixels;
    HeldPixels held;

    // A reader at the start of the image data, turning every kind of pixel into 8-bit RGBA:
    // palettes and small greys expanded, tRNS as alpha, 16 bits rounded to 8.
    Reader &open(QIODevice *device, qint64 start) {
        auto &reader = *readers.emplace_back(std::make_unique<Reader>());
        reader.device = device;
        reader.offset = start;
        reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, jumpOnError, ignoreWarning);
        if (!reader.png)
            std::longjmp(failure.jump, 1);
        reader.info = png_create_info_struct(reader.png);
        if (!reader.info)
            std::longjmp(failure.jump, 1);
        png_set_read_fn(reader.png, &reader, readFromDevice);
        png_set_user_limits(reader.png, kLongestSide, kLongestSide);
#if defined(PNG_SET_OPTION_SUPPORTED) && defined(PNG_MAXIMUM_INFLATE_WINDOW)
        // Files some writers make with a too small window header, which Qt's reader takes as well.
        png_set_option(reader.png, PNG_MAXIMUM_INFLATE_WINDOW, PNG_OPTION_ON);
#endif
        png_read_info(reader.png, reader.info);
        png_set_expand(reader.png);
        png_set_scale_16(reader.png);
        png_set_gray_to_rgb(reader.png);
        png_set_add_alpha(reader.png, 0xFF, PNG_FILLER_AFTER);
        png_read_update_info(reader.png, reader.info);
        return reader;
    }
};

// Whether a pass holds any pixels of an image of this size: libpng passes over those that hold none.
bool passHasPixels(int pass, png_uint_32 width, png_uint_32 height) {
    return PNG_PASS_COLS(width, pass) > 0 && PNG_PASS_ROWS(height, pass) > 0;
}

} // namespace

qint64 scaledPngBytes(QSize size, bool interlaced, QSize target) {
    const qint64 width = size.width();
    // A reader for each pass, and the row, a pass's row and the row's pixels of our own.
    return (interlaced ? kInterlacePasses : 1) * readerBytes(width) + 12 * width +
           AreaScaler::heldBytes(target);
}

std::optional<QSize> widePngSize(QByteArrayView head) {
    if (head.size() < 33 || !head.startsWith(QByteArrayView("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16)))
        return std::nullopt;
    const auto *bytes = reinterpret_cast<const uchar *>(head.data());
    const png_uint_32 width = png_get_uint_32(bytes + 16), height = png_get_uint_32(bytes + 20);
    const auto depthFits = [depth = bytes[24], colorType = bytes[25]] {
        switch (colorType) {
        case 0:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
        case 3:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8;
        case 2:
        case 4:
        case 6:
            return depth == 8 || depth == 16;
        default:
            return false;
        }
    };
    const uLong crc = crc32(0, bytes + 12, 17);
    if (!depthFits() || bytes[26] != 0 || bytes[27] != 0 || bytes[28] > 1 ||
        png_get_uint_32(bytes + 29) != crc || width < 1 || height < 1 || width > kLongestSide ||
        height > kLongestSide || std::max(width, height) <= PNG_USER_WIDTH_MAX)
        return std::nullopt;
    return QSize(int(width), int(height));
}

QImage readScaledPng(QIODevice *device, QSize target, BandedRead &progress) {
    // libpng leaves by a long jump to here: what it crosses is libpng's own, and all that is ours
    // lives in `read`, made before and freed after.
    const auto read = std::make_unique<ScaledRead>();
    const qint64 start = device->pos();
    if (setjmp(read->failure.jump))
        return {};
    Reader &first = read->open(device, start);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(first.png, first.info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    const qint64 rowBytes = qint64(width) * 4;
    if (width < 1 || height < 1 || png_get_rowbytes(first.png, first.info) != size_t(rowBytes))
        return {};
    const bool alpha =
        (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(first.png, first.info, PNG_INFO_tRNS);
    read->scaler.emplace(QSize(int(width), int(height)), target, alpha);
    if (read->scaler->isNull())
        return {};
    // An interlaced image comes in seven passes, each over part of the rows and columns. A reader
    // for each pass, gone through the passes before it, hands over its rows as the image's rows
    // come, so a row is whole once every pass that holds part of it has given its share.
    const bool interlaced = interlace != PNG_INTERLACE_NONE;
    const qint64 rowsPerQuestion = BandedRead::rowsPerQuestion(width);
    const int passes = interlaced ? kInterlacePasses : 1;
    // Plain pointers: nothing made after the long jump's target may need destroying.
    std::array<Reader *, kInterlacePasses> byPass{};
    byPass[0] = &first;
    read->held.resize(scaledPngBytes(QSize(int(width), int(height)), interlaced, target) -
                      AreaScaler::heldBytes(target));
    qint64 before = interlaced ? PNG_PASS_ROWS(height, 0) : 0;
    for (int pass = 1; pass < passes; ++pass) {
        if (!passHasPixels(pass, width, height))
            continue;
        Reader &reader = read->open(device, start);
        for (qint64 skipped = 0; skipped < before; ++skipped) {
            if (skipped % rowsPerQuestion == 0 && progress.shouldStop())
                return {};
            png_read_row(reader.png, nullptr, nullptr);
        }
        byPass[size_t(pass)] = &reader;
        before += PNG_PASS_ROWS(height, pass);
    }
    read->row.resize(size_t(rowBytes));
    read->passRow.resize(size_t(rowBytes));
    read->pixels.resize(size_t(width));
    for (qint64 y = 0; y < qint64(height); ++y) {
        if (y % rowsPerQuestion == 0 && progress.shouldStop())
            return {};
        if (!interlaced) {
            png_read_row(first.png, read->row.data(), nullptr);
        } else {
            for (int pass = 0; pass < passes; ++pass) {
                if (!byPass[size_t(pass)] || !PNG_ROW_IN_INTERLACE_PASS(y, pass))
                    continue;
                png_read_row(byPass[size_t(pass)]->png, read->passRow.data(), nullptr);
                const png_byte *in = read->passRow.data();
                const qint64 step = PNG_PASS_COL_OFFSET(pass);
                for (qint64 x = PNG_PASS_START_COL(pass); x < qint64(width); x += step, in += 4)
                    std::memcpy(read->row.data() + x * 4, in, 4);
            }
        }
        const png_byte *p = read->row.data();
        for (png_uint_32 x = 0; x < width; ++x, p += 4)
            read->pixels[x] = qPremultiply(qRgba(p[0], p[1], p[2], p[3]));
        read->scaler->addRow(read->pixels.data());
    }
    QImage image = read->scaler->take();
    if (!image.isNull())
        image.setColorSpace(colorSpaceOf(first.png, first.info));
    return image;
}

} // namespace Imaging
