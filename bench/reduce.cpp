// Times the review of a 6000 x 6000 noise PNG, whose full-size copy cannot fit the cloud limit, so
// the review searches for a reduced copy.
#include "imaging/ImageImport.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

#include <cstdio>

int main() {
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
    return 0;
}
