#include "export/DOCXExporter.h"

#include "model/TextLines.h"

#include <algorithm>

namespace {
const QString kW = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QString kR = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString kWp = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing");
const QString kA = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/main");
const QString kPic = QStringLiteral("http://schemas.openxmlformats.org/drawingml/2006/picture");
const QString kPackageRels = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");

QString contentTypes() {
    return QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">\n"
        "<Default Extension=\"rels\" "
        "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>\n"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>\n"
        "<Default Extension=\"png\" ContentType=\"image/png\"/>\n"
        "<Override PartName=\"/word/document.xml\" "
        "ContentType=\"application/"
        "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>\n"
        "<Override PartName=\"/word/styles.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>\n"
        "</Types>");
}

QString packageRelationships() {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"") +
           kPackageRels + QStringLiteral("\"><Relationship Id=\"rId1\" Type=\"") + kR +
           QStringLiteral("/officeDocument\" Target=\"word/document.xml\"/></Relationships>");
}

QString styles() {
    const QStringList lines = {
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
        QStringLiteral("<w:styles xmlns:w=\"") + kW + QStringLiteral("\">"),
        QStringLiteral(
            "<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Calibri\" w:hAnsi=\"Calibri\"/>"
            "<w:sz w:val=\"22\"/><w:lang w:val=\"de-DE\"/></w:rPr></w:rPrDefault><w:pPrDefault><w:pPr>"
            "<w:spacing w:after=\"160\" w:line=\"276\" w:lineRule=\"auto\"/></w:pPr></w:pPrDefault>"
            "</w:docDefaults>"),
        QStringLiteral(
            "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\"><w:name w:val=\"Normal\"/>"
            "</w:style>"),
        QStringLiteral(
            "<w:style w:type=\"paragraph\" w:styleId=\"Title\"><w:name w:val=\"Title\"/>"
            "<w:basedOn w:val=\"Normal\"/><w:pPr><w:keepNext/></w:pPr><w:rPr><w:b/><w:sz w:val=\"52\"/>"
            "</w:rPr></w:style>"),
        QStringLiteral("<w:style w:type=\"paragraph\" w:styleId=\"Heading1\"><w:name w:val=\"heading 1\"/>"
                       "<w:basedOn w:val=\"Normal\"/><w:pPr><w:keepNext/><w:spacing w:before=\"320\" "
                       "w:after=\"160\"/><w:outlineLvl w:val=\"0\"/></w:pPr><w:rPr><w:b/><w:sz w:val=\"30\"/>"
                       "</w:rPr></w:style>"),
        QStringLiteral("</w:styles>"),
    };
    return lines.join(u'\n');
}

} // namespace

QString DOCXExporter::xmlEscaped(QStringView text) {
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c)) {
            // Only a complete pair is a character; a lone half is dropped like any other non-character.
            if (i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode())) {
                out.append(text[i]);
                out.append(text[i + 1]);
                ++i;
            }
            continue;
        }
        if (QChar::isLowSurrogate(c))
            continue;
        if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D)
            continue;
        if (c == 0xFFFE || c == 0xFFFF)
            continue;
        switch (c) {
        case u'&':
            out.append(QLatin1String("&amp;"));
            break;
        case u'<':
            out.append(QLatin1String("&lt;"));
            break;
        case u'>':
            out.append(QLatin1String("&gt;"));
            break;
        case u'"':
            out.append(QLatin1String("&quot;"));
            break;
        case u'\'':
            out.append(QLatin1String("&apos;"));
            break;
        default:
            out.append(QChar(c));
        }
    }
    return out;
}

QString DOCXExporter::paragraph(QStringView text, const QString &style) {
    QString out = QStringLiteral("<w:p>");
    if (!style.isEmpty())
        out += QStringLiteral("<w:pPr><w:pStyle w:val=\"") + style + QStringLiteral("\"/></w:pPr>");
    // The same breaks as every other layout: CR LF is one break, not two.
    const QStringList lines = TextLines::split(text);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out += QStringLiteral("<w:r><w:br/></w:r>");
        out += QStringLiteral("<w:r><w:t xml:space=\"preserve\">") + xmlEscaped(lines[i]) +
               QStringLiteral("</w:t></w:r>");
    }
    return out + QStringLiteral("</w:p>");
}

QString DOCXExporter::imageParagraph(qsizetype n, const QString &title, int width, int height) {
    const double scale = std::min({1.0, 499.0 / width, 380.0 / height});
    const QString cx = QString::number(qint64(scale * width * 12700));
    const QString cy = QString::number(qint64(scale * height * 12700));
    const QString number = QString::number(n);
    const QStringList lines = {
        QStringLiteral("<w:p><w:pPr><w:spacing w:after=\"160\"/></w:pPr><w:r><w:drawing>"),
        QStringLiteral("<wp:inline distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"><wp:extent cx=\"") + cx +
            QStringLiteral("\" cy=\"") + cy + QStringLiteral("\"/>"),
        QStringLiteral("<wp:docPr id=\"") + number + QStringLiteral("\" name=\"Ausschnitt ") + number +
            QStringLiteral("\" descr=\"") + xmlEscaped(title) + QStringLiteral("\"/>"),
        QStringLiteral(
            "<wp:cNvGraphicFramePr><a:graphicFrameLocks noChangeAspect=\"1\"/></wp:cNvGraphicFramePr>"),
        QStringLiteral("<a:graphic><a:graphicData uri=\"") + kPic + QStringLiteral("\"><pic:pic>"),
        QStringLiteral("<pic:nvPicPr><pic:cNvPr id=\"") + number + QStringLiteral("\" name=\"image") +
            number + QStringLiteral(".png\"/><pic:cNvPicPr/></pic:nvPicPr>"),
        QStringLiteral("<pic:blipFill><a:blip r:embed=\"image") + number +
            QStringLiteral("\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill>"),
        QStringLiteral("<pic:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"") + cx +
            QStringLiteral("\" cy=\"") + cy +
            QStringLiteral("\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr>"),
        QStringLiteral("</pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>"),
    };
    return lines.join(u'\n');
}

DOCXExporter::DOCXExporter(const SnipCollection &collection, qsizetype itemCount, QIODevice *device)
    : m_zip(device) {
    m_zip.add(QStringLiteral("[Content_Types].xml"), contentTypes().toUtf8());
    m_zip.add(QStringLiteral("_rels/.rels"), packageRelationships().toUtf8());
    m_zip.add(QStringLiteral("word/styles.xml"), styles().toUtf8());

    m_body += paragraph(collection.title.isEmpty() ? QStringLiteral("Sammlung") : collection.title,
                        QStringLiteral("Title"));
    m_body += paragraph(ExportText::infoLine(collection, itemCount));
    if (!collection.subtitle.isEmpty())
        m_body += paragraph(collection.subtitle);
}

void DOCXExporter::add(const ExportSnip &item, std::optional<quint32> crc) {
    const qsizetype n = ++m_count;
    const QString number = QString::number(n);
    m_zip.add(QStringLiteral("word/media/image") + number + QStringLiteral(".png"), item.png, crc);
    m_body += paragraph(item.title, QStringLiteral("Heading1"));
    m_body += imageParagraph(n, item.title, item.width, item.height);
    if (!item.note.isEmpty())
        m_body += paragraph(item.note);
    m_relationships += QStringLiteral("<Relationship Id=\"image") + number + QStringLiteral("\" Type=\"") +
                       kR + QStringLiteral("/image\" Target=\"media/image") + number +
                       QStringLiteral(".png\"/>");
}

void DOCXExporter::finish() {
    const QString document =
        QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<w:document xmlns:w=\"") +
        kW + QStringLiteral("\" xmlns:r=\"") + kR + QStringLiteral("\" xmlns:wp=\"") + kWp +
        QStringLiteral("\" xmlns:a=\"") + kA + QStringLiteral("\" xmlns:pic=\"") + kPic +
        QStringLiteral("\"><w:body>") + m_body +
        QStringLiteral(
            "<w:sectPr><w:pgSz w:w=\"11906\" w:h=\"16838\"/><w:pgMar w:top=\"960\" w:right=\"960\" "
            "w:bottom=\"960\" w:left=\"960\" w:header=\"480\" w:footer=\"480\" w:gutter=\"0\"/>"
            "</w:sectPr></w:body></w:document>");
    m_body.clear();
    m_zip.add(QStringLiteral("word/document.xml"), document.toUtf8());
    const QString relationships =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"") + kPackageRels +
        QStringLiteral("\"><Relationship Id=\"styles\" Type=\"") + kR +
        QStringLiteral("/styles\" Target=\"styles.xml\"/>") + m_relationships +
        QStringLiteral("</Relationships>");
    m_zip.add(QStringLiteral("word/_rels/document.xml.rels"), relationships.toUtf8());
    m_zip.finish();
}
