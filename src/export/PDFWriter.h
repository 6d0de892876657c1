#pragma once

#include "export/ExportRecords.h"
#include "export/PDFImages.h"

#include <QBuffer>
#include <QFont>
#include <QIODevice>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QTextLayout>

#include <memory>

// Writes A4 pages top-down: a vertical cursor, page breaks when content would cross the bottom
// margin, text split across pages line by line, and a footer on every page. All lengths are PDF
// points; the painter works at 72 dpi, so a point is one painter unit. The pages are laid out in
// memory with placeholders for the images, whose compressed streams wait beside the destination;
// finish() writes the whole document to the device. Failures are thrown as AppFailure.
class PDFWriter {
public:
    static constexpr double kPageWidth = 595.28;
    static constexpr double kPageHeight = 841.89;
    static constexpr double kMargin = 48;
    static constexpr double kContentWidth = kPageWidth - 2 * kMargin;
    static constexpr double kBottom = kPageHeight - kMargin;

    // The images' streams wait in `spoolDirectory` until finish().
    PDFWriter(const QString &title, QIODevice *device, const QString &spoolDirectory);
    ~PDFWriter();

    void newPage();
    void text(const QString &s, int size, bool bold = false, double gray = 0.12);
    void space(double h) { m_cursor += h; }
    double textHeight(const QString &s, int size, bool bold) const;
    void ensureSpace(double h);
    void image(const ExportSnip &item);
    void finish();

    double cursor() const { return m_cursor; }
    int pageNumber() const { return m_pageNumber; }

    // The family list standing in for the system font: Inter, then the usual fallbacks.
    static QFont font(int pixelSize, QFont::Weight weight);
    static QSizeF imageSize(int width, int height);

private:
    struct Lines;
    Lines layout(const QString &s, int size, bool bold) const;
    void endPage();

    QIODevice *m_device;
    PDFImages m_images;
    QBuffer m_layout;
    QPdfWriter m_writer;
    QPainter m_painter;
    QString m_title;
    double m_cursor = kMargin;
    int m_pageNumber = 0;
};
