#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Packs named byte blocks into a ZIP archive of stored (uncompressed) entries with a fixed
// timestamp, CRC-32 and UTF-8 names, without ZIP64. Entries go to the device as they are added;
// only the central directory is kept until finish(), so a large package never sits in memory.
// Failures are thrown as AppFailure; the caller discards the device's contents then.
class ZipArchive {
public:
    static constexpr qint64 kMaxEntries = 65534;
    static constexpr qint64 kMaxSize = 4294967294; // one less than the largest 32-bit value
    static constexpr qint64 kMaxNameBytes = 65534;

    explicit ZipArchive(QIODevice *device);

    // `crc` may be computed ahead (on another thread); otherwise it is computed here.
    void add(const QString &name, const QByteArray &data, std::optional<quint32> crc = std::nullopt);
    // Writes the central directory and the end record; nothing may be added afterwards.
    void finish();

    qint64 entryCount() const { return m_count; }

    static quint32 crc32(QByteArrayView data);

private:
    void write(const QByteArray &bytes);

    QIODevice *m_device;
    QByteArray m_central;
    qint64 m_offset = 0;
    qint64 m_count = 0;
};
