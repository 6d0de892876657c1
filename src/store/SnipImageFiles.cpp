#include "store/SnipImageFiles.h"

#include "shell/ImageImport.h"

#include <QFile>
#include <QImageReader>

void SnipImageFiles::raiseAllocationLimit() {
    static const bool once = [] {
        // 512 MB holds a 100-megapixel image at four bytes per pixel with room to spare; 0 means
        // no limit at all and stays.
        const int limit = QImageReader::allocationLimit();
        if (limit != 0 && limit < 512)
            QImageReader::setAllocationLimit(512);
        return true;
    }();
    Q_UNUSED(once);
}

bool SnipImageFiles::supportedDimensions(qint64 width, qint64 height) {
    return width >= 1 && width <= ImageImport::maximumEdge && height >= 1 &&
           height <= ImageImport::maximumEdge &&
           double(width) * double(height) <= double(ImageImport::maximumPixels);
}

QImage SnipImageFiles::read(const QString &path) {
    static const QByteArray pngSignature("\x89PNG\r\n\x1a\n", 8);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.peek(pngSignature.size()) != pngSignature)
        return {};
    QImageReader reader(&file, "png");
    const QSize size = reader.size();
    if (!size.isValid() || !supportedDimensions(size.width(), size.height()))
        return {};
    QImage image;
    if (!reader.read(&image))
        return {};
    return image;
}
