#pragma once

#include "export/FlateImage.h"
#include "model/Snip.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The document a collection is exported as.
enum class ExportFormat { Pdf, Docx };

namespace ExportFormats {
QString rawValue(ExportFormat format);
std::optional<ExportFormat> fromRawValue(QStringView text);
QString panelTitle(ExportFormat format);
QString fileExtension(ExportFormat format);
// The one file type the save panel offers.
QString nameFilter(ExportFormat format);
// "PDF exportiert" or "DOCX exportiert".
QString successStatus(ExportFormat format);
} // namespace ExportFormats

// One snip made ready for a document. The Word package embeds `png`; the PDF embeds the streams of
// `pixels` as they are. Exactly one of the two is set.
struct ExportSnip {
    QString title; // the snip's heading, never empty
    QString note;  // unchanged, may be empty
    QByteArray png;
    int width = 0;
    int height = 0;
    FlateImage pixels;
};

namespace ExportText {
// "Ablauf erklären · 3 Ausschnitte · 6. Dez. 2026": mode, snip count and creation day, the same
// line in both documents. The date is German and fixed so that two exports are identical.
QString infoLine(const SnipCollection &collection, qsizetype count);
QString germanAbbreviatedDate(double referenceSeconds);
} // namespace ExportText
