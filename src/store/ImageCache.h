#pragma once

#include <QHash>
#include <QImage>
#include <QString>

#include <list>

// Decoded snip images by file name. Bounded both by count and by decoded bytes, so a run of
// 100-megapixel snips cannot hold gigabytes; the least recently used entry goes first.
class ImageCache {
public:
    ImageCache(int maxCount, qint64 maxBytes) : m_maxCount(maxCount), m_maxBytes(maxBytes) {}

    // A null image when the name is not cached; a hit becomes the most recently used entry.
    QImage find(const QString &name);
    // An image larger than the byte limit on its own is not kept.
    void insert(const QString &name, const QImage &image);
    void clear();

    int count() const { return int(m_index.size()); }
    qint64 totalBytes() const { return m_totalBytes; }
    bool contains(const QString &name) const { return m_index.contains(name); }

private:
    struct Entry {
        QString name;
        QImage image;
        qint64 bytes;
    };
    void evictToLimits();

    int m_maxCount;
    qint64 m_maxBytes;
    qint64 m_totalBytes = 0;
    std::list<Entry> m_entries; // most recently used first
    QHash<QString, std::list<Entry>::iterator> m_index;
};
