#include "export/PDFWriter.h"

#include "model/AppFailure.h"
#include "model/FileNames.h"
#include "model/TextLines.h"

#include <QPageLayout>
#include <QTextLine>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr double kLineSpacing = 3;
constexpr double kBlockGap = 5;
const QColor kFooterGrey = QColor::fromRgbF(0.557f, 0.557f, 0.576f);

[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}
} // namespace

struct PDFWriter::Lines {
    std::unique_ptr<QTextLayout> layout;
    std::vector<double> tops; // of each line, relative to the first
    std::vector<double> bottoms;
};

QFont PDFWriter::font(int pixelSize, QFont::Weight weight) {
    QFont f;
    f.setFamilies({QStringLiteral("Inter"), QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans")});
    f.setPixelSize(std::max(pixelSize, 1));
    f.setWeight(weight);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

QSizeF PDFWriter::imageSize(int width, int height) {
    const double scale = std::min({1.0, kContentWidth / width, 380.0 / height});
    return {scale * width, scale * height};
}

PDFWriter::PDFWriter(const QString &title, QIODevice *device, const QString &spoolDirectory)
    : m_device(device), m_images(spoolDirectory), m_writer(&m_layout), m_title(title) {
    m_layout.open(QIODevice::WriteOnly);
    m_writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
    m_writer.setResolution(72);
    m_writer.setTitle(title);
    m_writer.setCreator(QStringLiteral("Vellumbox"));
    if (!m_painter.begin(&m_writer))
        fail(u"PDF konnte nicht erstellt werden.");
    // Without this the PDF engine embeds every image as JPEG.
    m_painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                             QPainter::SmoothPixmapTransform | QPainter::LosslessImageRendering);
}

PDFWriter::~PDFWriter() {
    if (m_painter.isActive())
        m_painter.end();
}

void PDFWriter::newPage() {
    if (m_pageNumber >= 1) {
        endPage();
        m_writer.newPage();
    }
    ++m_pageNumber;
    m_cursor = kMargin;
}

PDFWriter::Lines PDFWriter::layout(const QString &s, int size, bool bold) const {
    Lines lines;
    // Every break of the one rule becomes the separator the layout breaks at; other control
    // characters are gone, so none is drawn as a box.
    const QString text = TextLines::split(s).join(QChar::LineSeparator);
    lines.layout = std::make_unique<QTextLayout>(text, font(size, bold ? QFont::Bold : QFont::Normal),
                                                 const_cast<QPdfWriter *>(&m_writer));
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    lines.layout->setTextOption(option);
    lines.layout->setCacheEnabled(true);
    lines.layout->beginLayout();
    double y = 0;
    for (QTextLine line = lines.layout->createLine(); line.isValid(); line = lines.layout->createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(kContentWidth);
        line.setPosition(QPointF(0, y));
        lines.tops.push_back(y);
        lines.bottoms.push_back(y + line.height());
        y += line.height() + kLineSpacing;
    }
    lines.layout->endLayout();
    return lines;
}

double PDFWriter::textHeight(const QString &s, int size, bool bold) const {
    const Lines lines = layout(s, size, bold);
    return lines.bottoms.empty() ? kBlockGap : std::ceil(lines.bottoms.back()) + kBlockGap;
}

void PDFWriter::text(const QString &s, int size, bool bold, double gray) {
    if (s.isEmpty())
        return;
    const Lines lines = layout(s, size, bold);
    const size_t count = lines.tops.size();
    m_painter.setPen(QColor::fromRgbF(float(gray), float(gray), float(gray)));
    size_t p = 0;
    while (p < count) {
        if (m_cursor + 2.0 * size + 6 > kBottom)
            newPage();
        const double offset = lines.tops[p];
        double h = std::ceil(lines.bottoms.back() - offset) + kBlockGap;
        h = std::min(h, kBottom - m_cursor);
        size_t n = 0;
        while (p + n < count && lines.bottoms[p + n] - offset <= h)
            ++n;
        if (n < 1)
            fail(u"Ein Textabschnitt konnte nicht auf der PDF-Seite platziert werden.");
        for (size_t i = p; i < p + n; ++i)
            lines.layout->lineAt(int(i)).draw(&m_painter, QPointF(kMargin, m_cursor - offset));
        p += n;
        m_cursor += h;
        if (p < count)
            newPage();
    }
}

void PDFWriter::ensureSpace(double h) {
    if (m_cursor + h > kBottom)
        newPage();
}

void PDFWriter::image(const ExportSnip &item) {
    if (item.pixels.color.isEmpty() || item.pixels.width != item.width || item.pixels.height != item.height)
        fail(u"PDF-Bild fehlt.");
    const QSizeF size = imageSize(item.width, item.height);
    ensureSpace(size.height());
    const int number = m_images.add(item.pixels);
    m_painter.drawImage(QRectF(QPointF(kMargin, m_cursor), size), PDFImages::placeholder(number));
    m_cursor += size.height();
}

void PDFWriter::endPage() {
    const double rule = kPageHeight - 34;
    m_painter.setPen(QPen(QColor::fromRgbF(0.88f, 0.88f, 0.88f), 0.5));
    m_painter.drawLine(QPointF(kMargin, rule), QPointF(kPageWidth - kMargin, rule));
    m_painter.setPen(kFooterGrey);
    m_painter.setFont(font(8, QFont::Normal));
    // The footer is one line: the title's line breaks show as spaces.
    const QString footer = cutAtGraphemes(TextLines::split(m_title).join(u' '), 65) +
                           QStringLiteral("   ·   ") + QString::number(m_pageNumber);
    m_painter.drawText(QPointF(kMargin, kPageHeight - 20), footer);
}

void PDFWriter::finish() {
    if (m_pageNumber >= 1)
        endPage();
    if (!m_painter.end())
        fail(u"PDF konnte nicht erstellt werden.");
    m_layout.close();
    m_images.write(m_layout.data(), m_device);
}
