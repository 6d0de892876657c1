#include "store/ImageCache.h"

QImage ImageCache::find(const QString &name) {
    const auto it = m_index.constFind(name);
    if (it == m_index.constEnd())
        return {};
    m_entries.splice(m_entries.begin(), m_entries, *it);
    return m_entries.front().image;
}

void ImageCache::insert(const QString &name, const QImage &image) {
    if (const auto it = m_index.constFind(name); it != m_index.constEnd()) {
        m_totalBytes -= (*it)->bytes;
        m_entries.erase(*it);
        m_index.remove(name);
    }
    const qint64 bytes = image.sizeInBytes();
    if (image.isNull() || bytes > m_maxBytes || m_maxCount < 1)
        return;
    m_entries.push_front({name, image, bytes});
    m_index.insert(name, m_entries.begin());
    m_totalBytes += bytes;
    evictToLimits();
}

void ImageCache::clear() {
    m_entries.clear();
    m_index.clear();
    m_totalBytes = 0;
}

void ImageCache::evictToLimits() {
    while (!m_entries.empty() && (count() > m_maxCount || m_totalBytes > m_maxBytes)) {
        const Entry &last = m_entries.back();
        m_totalBytes -= last.bytes;
        m_index.remove(last.name);
        m_entries.pop_back();
    }
}
