// Reduced copies and the memory they take. Every case reviews one file in a process of its own, so
// that no case's peak hides another's: NAME_ms is the review's time, NAME_peak_mb how far the whole
// process's resident memory peaked above its size before (compressed input, decoder state and
// copies included), NAME_pixel_peak_mb the most bytes of pixel buffers the decoder counted, and,
// for a reduced copy, its longest edge and PNG bytes. NAME_cancel_ms is how long a review of the
// same file takes to end once it is told to stop half a second in.
//
// The cases: a 6000 x 6000 noise PNG whose full-size copy cannot fit the cloud limit (the review
// searches for a reduced copy); a 12000 x 10000 picture as TIFF in strips of 16 rows, in one LZW
// strip, one deflated strip and LZW strips of 2000 rows, and as an interlaced PNG; a TIFF of noise in
// one deflated strip of about 195 MB, as a file and as bytes in memory; a TIFF of 2,000,000 x 8;
// one YCbCr JPEG strip of 20001 x 5200; PNGs of 1,100,000 x 8, plain and interlaced; progressive
// JPEGs of 72 and 192 megapixels, the larger beyond the memory budget; a baseline JPEG of 1,000
// megapixels; two small files that claim 15,000 and 3,600 megapixels. Then takes in a 35-byte GIF
// whose logical screen is 14000 x 14000 around a 1 x 1 frame, pasted from another program (this
// one, started again) that holds it on the X11 clipboard and imported as a file, and takes how far
// the resident memory peaks above its size before each.
#include "BenchSupport.h"

#include "imaging/ImageDecoder.h"
#include "imaging/ImageImport.h"
#include "store/CollectionStore.h"
#include "support/ClipboardOwner.h"
#include "support/FileSupport.h"
#include "support/PngWriter.h"
#include "support/TiffWriter.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <jpeglib.h>

namespace {

const QString kRefused = QStringLiteral("Das Bild konnte nicht verarbeitet werden.");

QByteArray le16(quint16 value) {
    return QByteArray(1, char(value & 0xFF)) + char(value >> 8);
}

// The resident memory's peak starts again from its present size.
void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// How far the resident memory peaks above its size before, while the store pastes what another
// program offers as `type`; -1 when the paste could not be set up or did not end. A failure other
// than `expected` is told on standard error.
double pastePeakMegabytes(const char *program, const QString &type, const QByteArray &bytes,
                          const QString &expected) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("clipboard")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return -1;
    file.close();
    QProcess owner;
    if (!ClipboardOwner::start(owner, QString::fromLocal8Bit(program),
                               {QStringLiteral("--own-clipboard"), type, file.fileName()}))
        return -1;
    QDeadlineTimer changed(30'000);
    while (!changed.hasExpired() && !(QGuiApplication::clipboard()->mimeData() &&
                                      QGuiApplication::clipboard()->mimeData()->formats().contains(type)))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    CollectionStore store(dir.filePath(QStringLiteral("library")));
    resetPeak();
    const double before = statusMegabytes("VmRSS:");
    store.pasteImage();
    QDeadlineTimer done(120'000);
    while (store.isImporting() && !done.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double peak = statusMegabytes("VmHWM:");
    ClipboardOwner::stop(owner);
    if (store.isImporting())
        return -1;
    if (store.error() != expected)
        std::fprintf(stderr, "paste of %s: %s\n", qPrintable(type), qPrintable(store.error()));
    return peak - before;
}

// The same for a file of these bytes through the import's review; -1 when the file could not be
// written.
double importPeakMegabytes(const QByteArray &bytes, const QString &expected) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("image")));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return -1;
    file.close();
    resetPeak();
    const double before = statusMegabytes("VmRSS:");
    QString failure;
    try {
        ImageImport::review(file.fileName());
    } catch (const AppFailure &error) {
        failure = error.errorDescription();
    }
    const double peak = statusMegabytes("VmHWM:");
    if (failure != expected)
        std::fprintf(stderr, "import: %s\n", qPrintable(failure));
    return peak - before;
}

// In the process of one case: reviews the file (read into memory first with `inMemory`, which is
// not counted) and prints its figures; 1, told on standard error, when the review did not end as
// `expected` (empty: with a reduced copy).
int reviewCase(const QString &name, const QString &path, bool inMemory, const QString &expected) {
    const QByteArray bytes = inMemory ? readFile(path) : QByteArray();
    resetPeak();
    const double before = statusMegabytes("VmRSS:");
    Imaging::resetPeakPixelBytes();
    QElapsedTimer timer;
    timer.start();
    QString failure;
    ImageImport::Review review;
    try {
        review =
            inMemory ? ImageImport::review(bytes, ImageImport::maximumCloudBytes) : ImageImport::review(path);
    } catch (const AppFailure &error) {
        failure = error.errorDescription();
    }
    const qint64 elapsed = timer.elapsed();
    const double peak = statusMegabytes("VmHWM:") - before;
    const QByteArray key = name.toUtf8();
    std::printf("%s_ms: %lld\n", key.constData(), static_cast<long long>(elapsed));
    std::printf("%s_peak_mb: %.1f\n", key.constData(), peak);
    std::printf("%s_pixel_peak_mb: %.1f\n", key.constData(), double(Imaging::peakPixelBytes()) / 1e6);
    if (review.reduced) {
        std::printf("%s_reduced_edge: %d\n", key.constData(),
                    std::max(review.reduced->width, review.reduced->height));
        std::printf("%s_reduced_bytes: %lld\n", key.constData(),
                    static_cast<long long>(review.reduced->png.size()));
    }
    if (review.original)
        std::printf("%s_original_bytes: %lld\n", key.constData(),
                    static_cast<long long>(review.original->png.size()));
    if (failure != expected || (expected.isEmpty() && !review.reduced)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(name),
                     failure.isEmpty() ? "no reduced copy" : qPrintable(failure));
        return 1;
    }
    return 0;
}

// In the process of one case: tells the review of the file to stop half a second in and prints
// how long it took to end from then.
int cancelCase(const QString &name, const QString &path) {
    std::atomic<bool> stop = false, ended = false;
    std::thread review([&] {
        try {
            ImageImport::review(path, [&] { return stop.load(); });
        } catch (...) {
        }
        ended = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    QElapsedTimer timer;
    timer.start();
    const bool endedEarly = ended;
    stop = true;
    review.join();
    if (endedEarly) {
        std::fprintf(stderr, "%s: the review ended before it was told to stop\n", qPrintable(name));
        return 1;
    }
    std::printf("%s_cancel_ms: %lld\n", qPrintable(name), static_cast<long long>(timer.elapsed()));
    return 0;
}

// Whether a case did not end as it should; the others still run.
bool gCaseFailed = false;

// Runs a case in a process of its own and passes its lines on.
void runCase(const char *program, const QStringList &arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QString::fromLocal8Bit(program), arguments);
    const bool finished = finishBounded(process);
    std::fputs(process.readAllStandardOutput().constData(), stdout);
    std::fflush(stdout);
    if (!finished || process.exitCode() != 0)
        gCaseFailed = true;
}

void review(const char *program, const char *name, const QString &path, const QString &expected = {}) {
    runCase(program, {QStringLiteral("--review"), QString::fromLatin1(name), path, expected});
}

void reviewInMemory(const char *program, const char *name, const QString &path) {
    runCase(program, {QStringLiteral("--review-bytes"), QString::fromLatin1(name), path, {}});
}

void cancel(const char *program, const char *name, const QString &path) {
    runCase(program, {QStringLiteral("--cancel"), QString::fromLatin1(name), path});
}

// A JPEG written row by row through libjpeg; a progressive one holds its coefficients while it is
// written.
bool writeJpeg(const QString &path, QSize size, bool progressive,
               const std::function<QRgb(int, int)> &pixel) {
    FILE *out = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!out)
        return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = JDIMENSION(size.width());
    info.image_height = JDIMENSION(size.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(size_t(size.width()) * 3);
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; x < size.width(); ++x) {
            const QRgb c = pixel(x, y);
            row[size_t(x) * 3] = JSAMPLE(qRed(c));
            row[size_t(x) * 3 + 1] = JSAMPLE(qGreen(c));
            row[size_t(x) * 3 + 2] = JSAMPLE(qBlue(c));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(out) == 0;
}

QByteArray rgbSamples(int count, const std::function<QRgb(int)> &pixel) {
    QByteArray row(qsizetype(count) * 3, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const QRgb c = pixel(i);
        row[i * 3] = char(qRed(c));
        row[i * 3 + 1] = char(qGreen(c));
        row[i * 3 + 2] = char(qBlue(c));
    }
    return row;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--own-clipboard") == 0)
        return ClipboardOwner::run(argc, argv,
                                   {QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])});
    if (argc == 5 && (std::strcmp(argv[1], "--review") == 0 || std::strcmp(argv[1], "--review-bytes") == 0)) {
        QCoreApplication app(argc, argv);
        return reviewCase(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                          std::strcmp(argv[1], "--review-bytes") == 0, QString::fromUtf8(argv[4]));
    }
    if (argc == 4 && std::strcmp(argv[1], "--cancel") == 0) {
        QCoreApplication app(argc, argv);
        return cancelCase(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QGuiApplication app(argc, argv);
    const char *self = argv[0];
    QTemporaryDir dir;
    const auto file = [&](const char *name) { return dir.filePath(QString::fromLatin1(name)); };

    constexpr int side = 6000;
    {
        QImage noise(side, side, QImage::Format_RGB32);
        QRandomGenerator random(20260101);
        for (int y = 0; y < side; ++y) {
            auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
            for (int x = 0; x < side; ++x)
                line[x] = 0xff000000u | (random.generate() & 0xffffffu);
        }
        if (!QImageWriter(file("noise.png"), "png").write(noise))
            return 1;
    }
    std::printf("source_bytes: %lld\n", static_cast<long long>(QFileInfo(file("noise.png")).size()));
    review(self, "reduce", file("noise.png"));

    // A screenshot-like picture: a dark side panel, lines of text and a gradient below.
    const auto picture = [](QSize size, int x, int y) {
        if (x < size.width() / 5)
            return qRgb(40, 44, 52);
        if ((y / 12) % 3 == 0 && (x / 8) % 7 != 0)
            return qRgb(30, 30, 30);
        if (y > size.height() * 2 / 3)
            return qRgb(int(qint64(x) * 255 / size.width()), int(qint64(y) * 255 / size.height()), 128);
        return qRgb(244, 246, 250);
    };
    const auto pictureRows = [&](QSize size) {
        return [size, &picture](int y, QRgb *row) {
            for (int x = 0; x < size.width(); ++x)
                row[x] = picture(size, x, y);
        };
    };
    const auto written = [](bool done, const char *what) {
        if (!done)
            std::fprintf(stderr, "%s could not be written\n", what);
        return done;
    };
    const QSize tiffSize(12000, 10000);
    const struct {
        const char *name;
        int compression;
        int rowsPerStrip;
    } layouts[] = {{"tiff_reduce", COMPRESSION_ADOBE_DEFLATE, 16},
                   {"tiff_one_lzw_strip", COMPRESSION_LZW, 0},
                   {"tiff_one_deflated_strip", COMPRESSION_ADOBE_DEFLATE, 0},
                   {"tiff_lzw_strips_of_2000_rows", COMPRESSION_LZW, 2000}};
    for (const auto &layout : layouts) {
        TiffLayout stored;
        stored.compression = layout.compression;
        stored.rowsPerStrip = layout.rowsPerStrip;
        if (!written(writeTiff(file("layout.tiff"), tiffSize, stored, pictureRows(tiffSize)), layout.name))
            return 1;
        review(self, layout.name, file("layout.tiff"));
    }
    {
        // Noise hardly compresses: one strip of about 195 MB, beyond the supported size.
        const QSize size(20001, 3240);
        QRandomGenerator random(7);
        TiffLayout stored;
        stored.rowsPerStrip = 0;
        const auto noiseRow = [&](int, QRgb *row) {
            for (int x = 0; x < size.width(); ++x)
                row[x] = random.generate() | 0xff000000u;
        };
        if (!written(writeTiff(file("noise.tiff"), size, stored, noiseRow), "noise TIFF"))
            return 1;
        std::printf("tiff_one_noise_strip_source_bytes: %lld\n",
                    static_cast<long long>(QFileInfo(file("noise.tiff")).size()));
        review(self, "tiff_one_noise_strip", file("noise.tiff"));
        reviewInMemory(self, "tiff_one_noise_strip_in_memory", file("noise.tiff"));
        cancel(self, "tiff_one_noise_strip", file("noise.tiff"));
        QFile::remove(file("noise.tiff"));
    }
    const QSize wideTiff(2'000'000, 8);
    if (!written(writeTiff(file("wide.tiff"), wideTiff, {}, pictureRows(wideTiff)), "wide TIFF"))
        return 1;
    review(self, "tiff_2000000_wide", file("wide.tiff"));
    {
        const QSize size(20001, 5200);
        TiffLayout stored;
        stored.compression = COMPRESSION_JPEG;
        stored.photometric = PHOTOMETRIC_YCBCR;
        stored.rowsPerStrip = 0;
        if (!written(writeTiff(file("jpeg.tiff"), size, stored, pictureRows(size)), "JPEG TIFF"))
            return 1;
        review(self, "tiff_jpeg_one_strip", file("jpeg.tiff"));
    }

    const auto picturePng = [&](QSize size, bool interlaced) {
        return streamedPng(size, 8, 2, interlaced, [&](int y, int first, int dx) {
            return rgbSamples((size.width() - first + dx - 1) / dx,
                              [&](int i) { return picture(size, first + i * dx, y); });
        });
    };
    const QSize pngSize(12000, 12000);
    if (!written(writeFile(file("interlaced.png"), picturePng(pngSize, true)), "interlaced PNG"))
        return 1;
    review(self, "interlaced_png", file("interlaced.png"));
    cancel(self, "interlaced_png", file("interlaced.png"));
    const QSize widePng(1'100'000, 8);
    if (!written(writeFile(file("wide.png"), picturePng(widePng, false)), "wide PNG"))
        return 1;
    review(self, "wide_png", file("wide.png"));
    if (!written(writeFile(file("wide.png"), picturePng(widePng, true)), "wide interlaced PNG"))
        return 1;
    review(self, "wide_interlaced_png", file("wide.png"));

    const auto pictureOf = [&](QSize size) {
        return [size, &picture](int x, int y) { return picture(size, x, y); };
    };
    const QSize progressiveWithin(24000, 3000), progressiveBeyond(24000, 8000), baseline(40000, 25000);
    if (!written(writeJpeg(file("progressive.jpg"), progressiveWithin, true, pictureOf(progressiveWithin)),
                 "progressive JPEG"))
        return 1;
    review(self, "progressive_jpeg_72mp", file("progressive.jpg"));
    if (!written(writeJpeg(file("progressive.jpg"), progressiveBeyond, true, pictureOf(progressiveBeyond)),
                 "progressive JPEG"))
        return 1;
    review(self, "progressive_jpeg_192mp_refused", file("progressive.jpg"), kRefused);
    if (!written(writeJpeg(file("baseline.jpg"), baseline, false, pictureOf(baseline)), "baseline JPEG"))
        return 1;
    review(self, "jpeg_1000mp", file("baseline.jpg"));
    cancel(self, "jpeg_1000mp", file("baseline.jpg"));
    QFile::remove(file("baseline.jpg"));

    if (!written(writeFile(file("strips.tiff"), sameStripTiff({30000, 500000}, 64)), "strips TIFF") ||
        !written(writeFile(file("black.png"), blackPng({60000, 60000}, 1, 0)), "black PNG"))
        return 1;
    review(self, "tiff_15000_megapixels_refused", file("strips.tiff"), kRefused);
    review(self, "png_3600_megapixels_refused", file("black.png"), kRefused);

    const QByteArray gif = "GIF89a" + le16(14000) + le16(14000) +
                           QByteArray("\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0", 14) + le16(1) + le16(1) +
                           QByteArray("\0\x02\x02\x44\x01\0;", 7);
    const double peak = pastePeakMegabytes(argv[0], QStringLiteral("image/gif"), gif, kRefused);
    // The same bytes offered only as a type that Qt would turn into an image by itself.
    const double convertedPeak = pastePeakMegabytes(argv[0], QStringLiteral("image/webp"), gif,
                                                    QStringLiteral("Die Zwischenablage enthält kein Bild."));
    const double importPeak =
        importPeakMegabytes(gif, QStringLiteral("Das Bildformat konnte nicht gelesen werden."));
    if (peak < 0 || convertedPeak < 0 || importPeak < 0)
        return 1;
    std::printf("clipboard_bomb_peak_mb: %.1f\n", peak);
    std::printf("clipboard_converted_bomb_peak_mb: %.1f\n", convertedPeak);
    std::printf("gif_screen_import_peak_mb: %.1f\n", importPeak);
    return gCaseFailed ? 1 : 0;
}
