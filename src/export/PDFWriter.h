#pragma once

#include "export/ExportRecords.h"

#include <QFont>
#include <QIODevice>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <QTextLayout>

#include <memory>

// Writes A4 pages top-down: a vertical cursor, page breaks when content would cross the bottom
// margin, text split across pages line by line, and a footer on every page. All lengths are PDF
// points; the painter works at 72 dpi, so a point is one painter unit. Pages go to the device as
// they are finished. Failures are thrown as AppFailure.
class PDFWriter {
public:
    static constexpr double kPageWidth = 595.28;
    static constexpr double kPageHeight = 841.89;
    static constexpr double kMargin = 48;
    static constexpr double kContentWidth = kPageWidth - 2 * kMargin;
    static constexpr double kBottom = kPageHeight - kMargin;

    PDFWriter(const QString &title, QIODevice *device);
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

    QPdfWriter m_writer;
    QPainter m_painter;
    QString m_title;
    double m_cursor = kMargin;
    int m_pageNumber = 0;
};
