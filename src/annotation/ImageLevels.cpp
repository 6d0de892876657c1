#include "annotation/ImageLevels.h"

#include "common/Background.h"

namespace {
// Halving stops here: smaller copies would not save anything worth the memory.
constexpr int kSmallestLevel = 64;

QImage scaled(const QImage &image, QSize size) {
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
} // namespace

ImageLevels::ImageLevels(QObject *parent) : QObject(parent) {}

void ImageLevels::setImage(const QImage &image) {
    if (image.cacheKey() == m_source.cacheKey() && !m_source.isNull())
        return;
    ++m_generation;
    m_source = image;
    m_levels.clear();
    m_exact = QImage();
    m_wanted = QSize();
    m_making = false;
    m_levelsReady = image.width() < 2 * kSmallestLevel || image.height() < 2 * kSmallestLevel;
    if (m_levelsReady)
        return;
    const quint64 generation = m_generation;
    Background::run(
        this,
        [image] {
            QList<QImage> levels;
            QImage level = image;
            while (level.width() >= 2 * kSmallestLevel && level.height() >= 2 * kSmallestLevel) {
                level = scaled(level, QSize(level.width() / 2, level.height() / 2));
                levels.append(level);
            }
            return levels;
        },
        [this, generation](const QList<QImage> &levels) {
            if (generation != m_generation)
                return;
            m_levels = levels;
            m_levelsReady = true;
            if (m_wanted.isValid() && !m_making)
                makeExact(m_wanted);
            Q_EMIT changed();
        });
}

const QImage &ImageLevels::nearestAbove(QSize size) const {
    for (auto it = m_levels.crbegin(); it != m_levels.crend(); ++it)
        if (it->width() >= size.width() && it->height() >= size.height())
            return *it;
    return m_source;
}

ImageLevels::Pick ImageLevels::pick(QSize size) {
    if (m_source.isNull() || size.isEmpty())
        return {};
    if (size.width() >= m_source.width() || size.height() >= m_source.height())
        return {m_source, size == m_source.size()};
    if (m_exact.size() == size)
        return {m_exact, true};
    if (m_wanted != size) {
        m_wanted = size;
        if (m_levelsReady && !m_making)
            makeExact(size);
    }
    return {nearestAbove(size), false};
}

void ImageLevels::makeExact(QSize size) {
    m_making = true;
    const QImage from = nearestAbove(size);
    const quint64 generation = m_generation;
    Background::run(
        this, [from, size] { return scaled(from, size); },
        [this, generation, size](const QImage &copy) {
            if (generation != m_generation)
                return;
            m_making = false;
            m_exact = copy;
            // The view may have moved on to another size meanwhile; only the latest is made.
            if (m_wanted.isValid() && m_wanted != size)
                makeExact(m_wanted);
            Q_EMIT changed();
        });
}

QImage ImageLevels::reduced(QSize size) const {
    if (m_source.isNull() || size.isEmpty())
        return {};
    if (size == m_source.size())
        return m_source;
    if (!m_levelsReady)
        return {};
    return scaled(nearestAbove(size), size);
}
