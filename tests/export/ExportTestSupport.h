#pragma once

#include <QByteArray>
#include <QDir>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QtEndian>

// Runs an outside checker; the packages that provide them are installed by the scripts.
struct ToolResult {
    bool found = false;
    int exitCode = -1;
    QByteArray output;
};

inline ToolResult runTool(const QString &program, const QStringList &arguments) {
    ToolResult result;
    if (QStandardPaths::findExecutable(program).isEmpty())
        return result;
    result.found = true;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(120000);
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = process.readAll();
    return result;
}

// One central-directory record of a ZIP archive, as read back by the tests.
struct ZipEntry {
    QString name;
    quint16 flags = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint32 size = 0;
    quint32 offset = 0;
    QByteArray data;
};

inline quint16 le16(const QByteArray &b, qsizetype at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}
inline quint32 le32(const QByteArray &b, qsizetype at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}

// Reads the archive through its end record and central directory; empty on any inconsistency.
inline std::optional<QList<ZipEntry>> readZip(const QByteArray &zip) {
    if (zip.size() < 22)
        return std::nullopt;
    const qsizetype end = zip.size() - 22;
    if (le32(zip, end) != 0x06054B50)
        return std::nullopt;
    const quint16 count = le16(zip, end + 10);
    qsizetype at = le32(zip, end + 16);
    QList<ZipEntry> entries;
    for (int i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || le32(zip, at) != 0x02014B50)
            return std::nullopt;
        ZipEntry e;
        e.flags = le16(zip, at + 8);
        e.method = le16(zip, at + 10);
        e.crc = le32(zip, at + 16);
        e.size = le32(zip, at + 24);
        const quint16 nameLength = le16(zip, at + 28);
        e.offset = le32(zip, at + 42);
        e.name = QString::fromUtf8(zip.mid(at + 46, nameLength));
        const qsizetype local = e.offset;
        if (le32(zip, local) != 0x04034B50 || le16(zip, local + 26) != nameLength)
            return std::nullopt;
        e.data = zip.mid(local + 30 + nameLength, e.size);
        entries.append(e);
        at += 46 + nameLength;
    }
    return entries;
}

// A screenshot-like picture: flat panels, lines of "text" and a gradient.
inline QImage sampleImage(int width, int height, QRgb base = 0xFFF4F6FA) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(base);
    for (int y = 0; y < height; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if (x < width / 5)
                line[x] = qRgb(40, 44, 52);
            else if ((y / 6) % 3 == 0 && (x / 4) % 7 != 0)
                line[x] = qRgb(30, 30, 30);
            else if (y > height * 2 / 3)
                line[x] = qRgb(x * 255 / width, y * 255 / height, 128);
        }
    }
    return image;
}
