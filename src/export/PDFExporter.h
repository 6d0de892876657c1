#pragma once

#include "export/ExportRecords.h"
#include "export/PDFWriter.h"

#include <QIODevice>
#include <QList>

// Lays a collection out as an A4 PDF: a title block, then per snip its heading, flattened image
// and note. Items are drawn as they are handed in, in order.
class PDFExporter {
public:
    PDFExporter(const SnipCollection &collection, qsizetype itemCount, QIODevice *device,
                const QString &spoolDirectory);

    void add(const ExportSnip &item);
    void finish();

private:
    PDFWriter m_writer;
};
