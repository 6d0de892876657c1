#include "export/ExportRecords.h"

#include <QDateTime>

#include <cmath>

QString ExportFormats::rawValue(ExportFormat format) {
    return format == ExportFormat::Pdf ? QStringLiteral("pdf") : QStringLiteral("docx");
}

std::optional<ExportFormat> ExportFormats::fromRawValue(QStringView text) {
    if (text == u"pdf")
        return ExportFormat::Pdf;
    if (text == u"docx")
        return ExportFormat::Docx;
    return std::nullopt;
}

QString ExportFormats::panelTitle(ExportFormat format) {
    return format == ExportFormat::Pdf ? QStringLiteral("PDF exportieren")
                                       : QStringLiteral("Word-Dokument exportieren");
}

QString ExportFormats::fileExtension(ExportFormat format) {
    return rawValue(format);
}

QString ExportFormats::nameFilter(ExportFormat format) {
    return format == ExportFormat::Pdf ? QStringLiteral("PDF-Dokument (*.pdf)")
                                       : QStringLiteral("Word-Dokument (*.docx)");
}

QString ExportFormats::successStatus(ExportFormat format) {
    return rawValue(format).toUpper() + QStringLiteral(" exportiert");
}

QString ExportText::germanAbbreviatedDate(double referenceSeconds) {
    static const char16_t *const months[] = {u"Jan.", u"Feb.", u"März",  u"Apr.", u"Mai",  u"Juni",
                                             u"Juli", u"Aug.", u"Sept.", u"Okt.", u"Nov.", u"Dez."};
    // Dates far outside any calendar a file could sensibly hold are shown as the reference day.
    const double unix = std::isfinite(referenceSeconds) && std::abs(referenceSeconds) < 1e11
                            ? referenceSeconds + kReferenceDateUnixOffset
                            : kReferenceDateUnixOffset;
    const QDate day = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(unix * 1000.0))).toLocalTime().date();
    return QString::number(day.day()) + QStringLiteral(". ") + QString::fromUtf16(months[day.month() - 1]) +
           QStringLiteral(" ") + QString::number(day.year());
}

QString ExportText::infoLine(const SnipCollection &collection, qsizetype count) {
    return CollectionModes::title(collection.mode) + QStringLiteral(" · ") + QString::number(count) +
           QStringLiteral(" Ausschnitte · ") + germanAbbreviatedDate(collection.createdAt);
}
