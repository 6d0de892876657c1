// Times the review of a 6000 x 6000 noise PNG, whose full-size copy cannot fit the cloud limit, so
// the review searches for a reduced copy. Then reviews a 12000 x 10000 TIFF file, beyond the
// supported size, which is read in bands straight into its reduced copy: its time, and how far the
// resident memory peaks above its size before. The same picture in other layouts (one LZW strip, one
// deflated strip, LZW strips of 2000 rows, and 12000 x 12000 as an interlaced PNG) is read a row at
// a time: the time of each and the most bytes of pixel buffers it held. Two small files that claim
// 15,000 and 3,600 megapixels are refused from their headers: the time until the answer. Then
// takes in a 35-byte GIF whose logical screen is 14000 x 14000 around a 1 x 1 frame, pasted from
// another program (this one, started again) that holds it on the X11 clipboard and imported as a
// file, and takes how far the resident memory peaks above its size before each.
#include "BenchSupport.h"

#include "imaging/ImageDecoder.h"
#include "imaging/ImageImport.h"
#include "store/CollectionStore.h"
#include "support/ClipboardOwner.h"
#include "support/FileSupport.h"
#include "support/PngWriter.h"
#include "support/TiffWriter.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

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

// Reviews the file and prints the milliseconds it took as NAME_ms and, with a reduced copy, the most
// bytes of pixel buffers held meanwhile as NAME_pixel_peak_mb; false, told on standard error, when
// the review did not end as `expected` (empty: with a reduced copy alone).
bool printReview(const char *name, const QString &path, const QString &expected = {}) {
    Imaging::resetPeakPixelBytes();
    QElapsedTimer timer;
    timer.start();
    QString failure;
    bool reduced = false;
    try {
        const ImageImport::Review review = ImageImport::review(path);
        reduced = review.reduced && !review.original;
    } catch (const AppFailure &error) {
        failure = error.errorDescription();
    }
    const qint64 elapsed = timer.elapsed();
    if (failure != expected || (expected.isEmpty() && !reduced)) {
        std::fprintf(stderr, "%s: %s\n", name,
                     failure.isEmpty() ? "no reduced copy alone" : qPrintable(failure));
        return false;
    }
    std::printf("%s_ms: %lld\n", name, static_cast<long long>(elapsed));
    if (expected.isEmpty())
        std::printf("%s_pixel_peak_mb: %.1f\n", name, double(Imaging::peakPixelBytes()) / 1e6);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--own-clipboard") == 0)
        return ClipboardOwner::run(argc, argv,
                                   {QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])});
    QGuiApplication app(argc, argv);
    constexpr int side = 6000;
    QImage noise(side, side, QImage::Format_RGB32);
    QRandomGenerator random(20260101);
    for (int y = 0; y < side; ++y) {
        auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
        for (int x = 0; x < side; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    QByteArray source;
    QBuffer buffer(&source);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(noise);
    noise = QImage();

    QElapsedTimer timer;
    timer.start();
    const ImageImport::Review review = ImageImport::review(source, ImageImport::maximumCloudBytes);
    const qint64 elapsed = timer.elapsed();
    if (!review.reduced) {
        std::fprintf(stderr, "no reduced copy\n");
        return 1;
    }
    const int edge = std::max(review.reduced->width, review.reduced->height);
    const auto edges = ImageImport::reductionEdges(std::min(side, 4096));
    std::printf("source_bytes: %lld\n", static_cast<long long>(source.size()));
    std::printf("original_bytes: %lld\n",
                review.original ? static_cast<long long>(review.original->png.size()) : 0LL);
    std::printf("reduce_ms: %lld\n", static_cast<long long>(elapsed));
    std::printf("attempts: %lld\n", static_cast<long long>(edges.indexOf(edge) + 1));
    std::printf("reduced_edge: %d\n", edge);
    std::printf("reduced_bytes: %lld\n", static_cast<long long>(review.reduced->png.size()));

    // A screenshot-like picture: a dark side panel, lines of text and a gradient below.
    QTemporaryDir tiffDir;
    const QString tiffPath = tiffDir.filePath(QStringLiteral("large.tiff"));
    const QSize tiffSize(12000, 10000);
    const auto picture = [](QSize size, int x, int y) {
        if (x < size.width() / 5)
            return qRgb(40, 44, 52);
        if ((y / 12) % 3 == 0 && (x / 8) % 7 != 0)
            return qRgb(30, 30, 30);
        if (y > size.height() * 2 / 3)
            return qRgb(x * 255 / size.width(), y * 255 / size.height(), 128);
        return qRgb(244, 246, 250);
    };
    const auto tiffRow = [&](int y, QRgb *row) {
        for (int x = 0; x < tiffSize.width(); ++x)
            row[x] = picture(tiffSize, x, y);
    };
    if (!writeTiff(tiffPath, tiffSize, {}, tiffRow)) {
        std::fprintf(stderr, "the TIFF could not be written\n");
        return 1;
    }
    resetPeak();
    const double tiffBefore = statusMegabytes("VmRSS:");
    timer.restart();
    std::optional<ImageImport::Review> tiffReview;
    try {
        tiffReview = ImageImport::review(tiffPath);
    } catch (const AppFailure &error) {
        std::fprintf(stderr, "TIFF: %s\n", qPrintable(error.errorDescription()));
        return 1;
    }
    const qint64 tiffElapsed = timer.elapsed();
    const double tiffPeak = statusMegabytes("VmHWM:") - tiffBefore;
    if (!tiffReview->reduced || tiffReview->original) {
        std::fprintf(stderr, "TIFF: no reduced copy alone\n");
        return 1;
    }
    std::printf("tiff_source_bytes: %lld\n", static_cast<long long>(QFileInfo(tiffPath).size()));
    std::printf("tiff_reduce_ms: %lld\n", static_cast<long long>(tiffElapsed));
    std::printf("tiff_reduced_edge: %d\n", std::max(tiffReview->reduced->width, tiffReview->reduced->height));
    std::printf("tiff_reduced_bytes: %lld\n", static_cast<long long>(tiffReview->reduced->png.size()));
    std::printf("tiff_reduce_peak_mb: %.1f\n", tiffPeak);
    tiffReview.reset();

    const struct {
        const char *name;
        int compression;
        int rowsPerStrip;
    } layouts[] = {{"tiff_one_lzw_strip", COMPRESSION_LZW, 0},
                   {"tiff_one_deflated_strip", COMPRESSION_ADOBE_DEFLATE, 0},
                   {"tiff_lzw_strips_of_2000_rows", COMPRESSION_LZW, 2000}};
    for (const auto &layout : layouts) {
        TiffLayout stored;
        stored.compression = layout.compression;
        stored.rowsPerStrip = layout.rowsPerStrip;
        if (!writeTiff(tiffPath, tiffSize, stored, tiffRow) || !printReview(layout.name, tiffPath))
            return 1;
    }
    const QSize pngSize(12000, 12000);
    const QString pngPath = tiffDir.filePath(QStringLiteral("interlaced.png"));
    const QByteArray interlaced = streamedPng(pngSize, 8, 2, true, [&](int y, int first, int dx) {
        QByteArray row;
        for (int x = first; x < pngSize.width(); x += dx) {
            const QRgb c = picture(pngSize, x, y);
            row += char(qRed(c));
            row += char(qGreen(c));
            row += char(qBlue(c));
        }
        return row;
    });
    if (!writeFile(pngPath, interlaced) || !printReview("interlaced_png", pngPath))
        return 1;
    const QString refused = QStringLiteral("Das Bild konnte nicht verarbeitet werden.");
    if (!writeFile(tiffPath, sameStripTiff({30000, 500000}, 64)) ||
        !printReview("tiff_15000_megapixels_refused", tiffPath, refused))
        return 1;
    if (!writeFile(pngPath, blackPng({60000, 60000}, 1, 0)) ||
        !printReview("png_3600_megapixels_refused", pngPath, refused))
        return 1;

    const QByteArray gif = "GIF89a" + le16(14000) + le16(14000) +
                           QByteArray("\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0", 14) + le16(1) + le16(1) +
                           QByteArray("\0\x02\x02\x44\x01\0;", 7);
    const double peak = pastePeakMegabytes(argv[0], QStringLiteral("image/gif"), gif,
                                           QStringLiteral("Das Bild konnte nicht verarbeitet werden."));
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
    return 0;
}
