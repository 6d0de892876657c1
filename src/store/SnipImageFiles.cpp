#include "store/SnipImageFiles.h"

#include "shell/ImageImport.h"

#include <QFile>
#include <QImageReader>

QImage SnipImageFiles::read(const QString &path) {
    static const QByteArray pngSignature("\x89PNG\r\n\x1a\n", 8);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.peek(pngSignature.size()) != pngSignature)
        return {};
    QImageReader reader(&file, "png");
    const QSize size = reader.size();
    if (!size.isValid() || !ImageImport::supportedDimensions(size.width(), size.height()))
        return {};
    QImage image;
    if (!reader.read(&image))
        return {};
    return image;
}
