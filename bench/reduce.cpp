// Times the review of a 6000 x 6000 noise PNG, whose full-size copy cannot fit the cloud limit, so
// the review searches for a reduced copy. Then reviews a 12000 x 10000 TIFF file, beyond the
// supported size, which is read in bands straight into its reduced copy: its time, and how far the
// resident memory peaks above its size before. Then takes in a 35-byte GIF whose logical screen is
// 14000 x 14000 around a 1 x 1 frame, pasted from another program (this one, started again) that
// holds it on the X11 clipboard and imported as a file, and takes how far the resident memory
// peaks above its size before each.
#include "BenchSupport.h"

#include "imaging/ImageImport.h"
#include "store/CollectionStore.h"
#include "support/ClipboardOwner.h"
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
    if (!writeTiff(tiffPath, tiffSize, {}, [&](int y, QRgb *row) {
            for (int x = 0; x < tiffSize.width(); ++x) {
                if (x < tiffSize.width() / 5)
                    row[x] = qRgb(40, 44, 52);
                else if ((y / 12) % 3 == 0 && (x / 8) % 7 != 0)
                    row[x] = qRgb(30, 30, 30);
                else if (y > tiffSize.height() * 2 / 3)
                    row[x] = qRgb(x * 255 / tiffSize.width(), y * 255 / tiffSize.height(), 128);
                else
                    row[x] = qRgb(244, 246, 250);
            }
        })) {
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
