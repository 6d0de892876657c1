#pragma once

#include "export/FlateImage.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QString>

#include <vector>

// The images of one PDF. The page layout draws a tiny placeholder for each image; the compressed
// streams wait in an unnamed temporary file (so memory stays flat however many snips there are,
// and nothing is left behind if the process dies) until write() copies the laid-out document to
// its destination with every placeholder's stream replaced by the real one.
class PDFImages {
public:
    // The temporary file lives in `directory` (beside the destination), else in the system's
    // temporary folder. Throws AppFailure when neither can hold it.
    explicit PDFImages(const QString &directory);
    ~PDFImages();
    PDFImages(const PDFImages &) = delete;
    PDFImages &operator=(const PDFImages &) = delete;

    // Sets the image's streams aside; returns the number its placeholder carries.
    int add(const FlateImage &image);

    // The image the layout draws in place of image `number`.
    static QImage placeholder(int number);

    // Writes `layout`, a PDF whose only images are placeholders of this set, to `device` with
    // their streams in place. Throws AppFailure.
    void write(const QByteArray &layout, QIODevice *device) const;

    struct Extent {
        qint64 offset = 0;
        qint64 size = 0;
    };
    struct Entry {
        int width = 0;
        int height = 0;
        Extent color;
        Extent alpha; // size 0: opaque
    };

private:
    Extent append(const QByteArray &bytes);

    int m_fd = -1;
    qint64 m_end = 0;
    std::vector<Entry> m_entries;
};
