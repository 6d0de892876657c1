#include "export/ZipArchive.h"

#include "model/AppFailure.h"

#include <QtEndian>

#include <array>

namespace {
constexpr quint16 kVersion = 20;
constexpr quint16 kUtf8Flag = 0x0800;
constexpr quint16 kDosDate = 0x0021; // 1980-01-01, the earliest DOS date; time 00:00:00

// Slicing by eight: eight table lookups per eight bytes; the first table is the classic bytewise one.
using CrcTables = std::array<std::array<quint32, 256>, 8>;

const CrcTables &crcTables() {
    static const CrcTables tables = [] {
        CrcTables t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
            t[0][i] = c;
        }
        for (quint32 i = 0; i < 256; ++i)
            for (size_t k = 1; k < 8; ++k)
                t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
        return t;
    }();
    return tables;
}

void put16(QByteArray &out, quint16 v) {
    const char b[2] = {char(v & 0xFF), char(v >> 8)};
    out.append(b, 2);
}

void put32(QByteArray &out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

[[noreturn]] void fail(const char16_t *sentence) {
    throw AppFailure(QString::fromUtf16(sentence));
}
} // namespace

quint32 ZipArchive::crc32(QByteArrayView data) {
    const CrcTables &t = crcTables();
    quint32 c = 0xFFFFFFFFu;
    const auto *p = reinterpret_cast<const uchar *>(data.data());
    qsizetype n = data.size();
    while (n >= 8) {
        const quint32 lo = qFromLittleEndian<quint32>(p) ^ c;
        const quint32 hi = qFromLittleEndian<quint32>(p + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n-- > 0)
        c = t[0][(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

ZipArchive::ZipArchive(QIODevice *device) : m_device(device) {}

void ZipArchive::write(const QByteArray &bytes) {
    if (m_device->write(bytes) != bytes.size())
        fail(u"Die Exportdatei konnte nicht geschrieben werden.");
}

void ZipArchive::add(const QString &name, const QByteArray &data, std::optional<quint32> crc) {
    if (m_count >= kMaxEntries)
        fail(u"Zu viele Dateien für den Export.");
    const QByteArray utf8 = name.toUtf8();
    if (utf8.size() > kMaxNameBytes || data.size() > kMaxSize || m_offset > kMaxSize)
        fail(u"Der Export überschreitet die ZIP-Größenbegrenzung.");
    const quint32 checksum = crc ? *crc : crc32(data);
    const auto size = quint32(data.size());

    QByteArray local;
    local.reserve(30 + utf8.size());
    put32(local, 0x04034B50);
    put16(local, kVersion);
    put16(local, kUtf8Flag);
    put16(local, 0); // stored
    put16(local, 0);
    put16(local, kDosDate);
    put32(local, checksum);
    put32(local, size);
    put32(local, size);
    put16(local, quint16(utf8.size()));
    put16(local, 0);
    local.append(utf8);

    put32(m_central, 0x02014B50);
    put16(m_central, kVersion); // made by: MS-DOS host
    put16(m_central, kVersion);
    put16(m_central, kUtf8Flag);
    put16(m_central, 0);
    put16(m_central, 0);
    put16(m_central, kDosDate);
    put32(m_central, checksum);
    put32(m_central, size);
    put32(m_central, size);
    put16(m_central, quint16(utf8.size()));
    put16(m_central, 0); // extra
    put16(m_central, 0); // comment
    put16(m_central, 0); // disk
    put16(m_central, 0); // internal attributes
    put32(m_central, 0); // external attributes
    put32(m_central, quint32(m_offset));
    m_central.append(utf8);

    write(local);
    write(data);
    m_offset += local.size() + data.size();
    ++m_count;
}

void ZipArchive::finish() {
    if (m_offset > kMaxSize || m_central.size() > kMaxSize)
        fail(u"Der Export ist zu groß.");
    QByteArray end;
    put32(end, 0x06054B50);
    put16(end, 0);
    put16(end, 0);
    put16(end, quint16(m_count));
    put16(end, quint16(m_count));
    put32(end, quint32(m_central.size()));
    put32(end, quint32(m_offset));
    put16(end, 0);
    write(m_central);
    write(end);
    m_central.clear();
}
