#pragma once

#include "support/FileSupport.h"

#include "model/Snip.h"

#include <QFile>
#include <QImage>

// A screenshot-like picture: a dark side panel, lines of "text" and a gradient.
inline QImage sampleImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(0xFFF4F6FA);
    for (int y = 0; y < height; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (x < width / 5)
                line[x] = qRgb(40, 44, 52);
            else if ((y / 6) % 3 == 0 && (x / 4) % 7 != 0)
                line[x] = qRgb(30, 30, 30);
            else if (y > height * 2 / 3)
                line[x] = qRgb(x * 255 / width, y * 255 / height, 128);
        }
    }
    return image;
}

// A snip with an arrow and a blur whose image, `width` × 200, is written to `directory` now.
inline Snip sampleSnip(const QString &directory, const QString &file, int width = 300) {
    Snip snip = Snip::make(file);
    snip.marks = {Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.5, 0.5),
                  Mark::make(MarkKind::Blur, 0.6, 0.6, 0.9, 0.9)};
    sampleImage(width, 200).save(directory + u'/' + file);
    return snip;
}
