#include "export/PDFExporter.h"

#include <algorithm>

PDFExporter::PDFExporter(const SnipCollection &collection, qsizetype itemCount, QIODevice *device,
                         const QString &spoolDirectory)
    : m_writer(collection.title, device, spoolDirectory) {
    m_writer.newPage();
    m_writer.text(collection.title.isEmpty() ? QStringLiteral("Sammlung") : collection.title, 28, true, 0.12);
    m_writer.space(8);
    m_writer.text(ExportText::infoLine(collection, itemCount), 10, false, 0.4);
    if (!collection.subtitle.isEmpty()) {
        m_writer.space(14);
        m_writer.text(collection.subtitle, 12, false, 0.12);
    }
    m_writer.space(26);
}

void PDFExporter::add(const ExportSnip &item) {
    // A heading never ends a page without its image, unless both together are very tall.
    const double imageHeight = PDFWriter::imageSize(item.width, item.height).height();
    m_writer.ensureSpace(std::min(m_writer.textHeight(item.title, 16, true) + 10 + imageHeight, 650.0));
    m_writer.text(item.title, 16, true, 0.12);
    m_writer.space(10);
    m_writer.image(item);
    if (!item.note.isEmpty()) {
        m_writer.space(12);
        m_writer.text(item.note, 11, false, 0.12);
    }
    m_writer.space(26);
}

void PDFExporter::finish() {
    m_writer.finish();
}
