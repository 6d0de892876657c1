// Arbitrary bytes into the image review: it either fails with one of its sentences or returns
// copies that keep its promises (a copy within the cloud limit, decodable as PNG of its stated size).
#include "imaging/ImageImport.h"

#include <QImage>

#include <cstdint>
#include <cstdlib>

namespace {
constexpr qint64 kCloudLimit = 25'000'000;

void checkCopy(const ImageImport::Image &copy) {
    QImage decoded;
    if (!decoded.loadFromData(copy.png, "png") || decoded.width() != copy.width ||
        decoded.height() != copy.height || !ImageImport::supportedDimensions(copy.width, copy.height))
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The decoders' complaints about broken input would drown the fuzzer's own output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const ImageImport::Review review = ImageImport::review(bytes, kCloudLimit);
        if (review.width < 1 || review.height < 1)
            std::abort();
        if (review.reduced) {
            if (review.reduced->png.size() > kCloudLimit)
                std::abort();
            checkCopy(*review.reduced);
            if (review.original && review.original->png.size() <= kCloudLimit)
                std::abort();
        } else if (!review.original || review.original->png.size() > kCloudLimit) {
            std::abort();
        }
        if (review.original)
            checkCopy(*review.original);
    } catch (const AppFailure &failure) {
        if (failure.errorDescription().isEmpty())
            std::abort();
    }
    return 0;
}
