#pragma once

#include "export/ExportRecords.h"
#include "export/ZipArchive.h"

#include <QIODevice>
#include <QList>
#include <QString>

// Writes a collection as a Word document: an Office Open XML package made from fixed templates and
// packed as stored ZIP entries. Images are written as they are handed in; only the document text
// is kept until finish(). Throws what ZipArchive throws.
class DOCXExporter {
public:
    DOCXExporter(const SnipCollection &collection, qsizetype itemCount, QIODevice *device);

    // The items must come in order; `crc` may be computed ahead, on the thread that made the PNG.
    void add(const ExportSnip &item, std::optional<quint32> crc = std::nullopt);
    void finish();

    static QString xmlEscaped(QStringView text);
    static QString paragraph(QStringView text, const QString &style = {});
    static QString imageParagraph(qsizetype n, const QString &title, int width, int height);

private:
    ZipArchive m_zip;
    QString m_body;
    QString m_relationships;
    qsizetype m_count = 0;
};
