#include "views/PreviewCache.h"

#include "common/Background.h"
#include "export/BlurRenderer.h"
#include "export/MarkRenderer.h"
#include "imaging/ImageDecoder.h"
#include "imaging/ImageImport.h"
#include "imaging/RegularFile.h"
#include "model/AppFailure.h"
#include "store/CollectionStore.h"

#include <QPainter>
#include <QThread>

#include <cstring>
#include <map>

namespace {

// A PNG states its size in the first chunk; this reads well past it.
constexpr qint64 kHeaderBytes = 64;

QSize fitted(QSize image, QSize box) {
    if (image.width() <= box.width() && image.height() <= box.height())
        return image;
    return image.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

void mix(quint64 &h, quint64 v) {
    h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
}

void mix(quint64 &h, double v) {
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    mix(h, bits);
}

template <typename T> void mixOptional(quint64 &h, const std::optional<T> &v) {
    mix(h, quint64(v.has_value()));
    if (v) {
        if constexpr (std::is_same_v<T, QString>)
            mix(h, quint64(qHash(*v)));
        else if constexpr (std::is_floating_point_v<T>)
            mix(h, double(*v));
        else
            mix(h, quint64(*v));
    }
}

} // namespace

QSize Previews::headerSize(const QString &path) {
    // Read from the header chunk itself: the decoder would want the whole file to be there.
    QByteArray head(kHeaderBytes, Qt::Uninitialized);
    try {
        RegularFile file(path);
        head.truncate(file.readInto(head.data(), head.size()));
    } catch (const AppFailure &) {
        return {};
    }
    if (head.size() < 24 || Imaging::sniffFormat(head) != Imaging::Png || head.mid(12, 4) != "IHDR")
        return {};
    const auto number = [&](int at) {
        return (quint32(quint8(head[at])) << 24) | (quint32(quint8(head[at + 1])) << 16) |
               (quint32(quint8(head[at + 2])) << 8) | quint32(quint8(head[at + 3]));
    };
    const quint32 width = number(16);
    const quint32 height = number(20);
    if (width == 0 || height == 0 || !ImageImport::supportedDimensions(width, height))
        return {};
    return QSize(int(width), int(height));
}

QImage Previews::decode(const QString &path, const std::function<QSize(QSize)> &sizeFor) {
    QByteArray bytes;
    try {
        bytes = RegularFile::readAll(path);
    } catch (const AppFailure &) {
        return {};
    }
    Imaging::Decoder decoder(bytes, Imaging::Png);
    const std::optional<QSize> full = decoder.storedSize();
    if (!full || full->isEmpty())
        return {};
    const QSize size = sizeFor(*full);
    if (size.isEmpty())
        return {};
    QImage image = decoder.decode(std::max(size.width(), size.height()));
    if (!image.isNull() && image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage Previews::render(const QString &path, QSize box, const MarkList &marks) {
    if (box.isEmpty())
        return {};
    QImage image = decode(path, [&](QSize full) { return fitted(full, box); });
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (marks.isEmpty())
        return image;
    const QImage plain = image;
    std::map<double, QImage> blurred;
    const BlurLookup blur = [&](double radius, const QRect &) -> std::optional<BlurPatch> {
        auto it = blurred.find(radius);
        if (it == blurred.end())
            it = blurred.emplace(radius, BlurRenderer::make(plain, radius)).first;
        if (it->second.isNull())
            return std::nullopt;
        return BlurPatch{it->second, QPoint(0, 0)};
    };
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    MarkRenderer::draw(marks, painter, QSizeF(image.size()), blur);
    return image;
}

quint64 Previews::marksKey(const MarkList &marks) {
    quint64 h = quint64(marks.size());
    for (const Mark &m : marks) {
        mix(h, quint64(qHash(m.id)));
        mix(h, quint64(m.kind));
        for (const double v : {m.x1, m.y1, m.x2, m.y2})
            mix(h, v);
        mixOptional(h, m.text);
        mix(h, quint64(m.color.has_value() ? int(*m.color) + 1 : 0));
        mixOptional(h, m.strokeWidth);
        mixOptional(h, m.blurRadius);
        mixOptional(h, m.number);
        mixOptional(h, m.fixedTextBox);
        mixOptional(h, m.tipX);
        mixOptional(h, m.tipY);
    }
    return h;
}

PreviewCache::PreviewCache(CollectionStore *store, qint64 maxBytes, int workers, QObject *parent)
    : QObject(parent), m_store(store), m_cache(1 << 20, maxBytes),
      m_maxRunning(workers > 0 ? workers : std::max(2, QThread::idealThreadCount() / 2)) {}

PreviewCache::~PreviewCache() = default;

std::optional<QSize> PreviewCache::imageSize(const QString &file) {
    if (const auto it = m_sizes.constFind(file); it != m_sizes.constEnd())
        return *it;
    if (!m_sizesWanted.contains(file)) {
        m_sizesWanted.insert(file);
        if (!m_sizesRunning)
            QMetaObject::invokeMethod(this, &PreviewCache::readSizes, Qt::QueuedConnection);
        m_sizesRunning = true;
    }
    return std::nullopt;
}

// All the headers asked for in one turn are read together, in one task.
void PreviewCache::readSizes() {
    QHash<QString, QString> paths;
    QHash<QString, QSize> unreadable;
    for (const QString &file : std::as_const(m_sizesWanted)) {
        try {
            paths.insert(file, m_store ? m_store->imageURL(file) : QString());
        } catch (const AppFailure &) {
            unreadable.insert(file, QSize());
        }
    }
    Background::run(
        this,
        [paths, unreadable] {
            QHash<QString, QSize> sizes = unreadable;
            for (auto it = paths.cbegin(); it != paths.cend(); ++it)
                sizes.insert(it.key(), it.value().isEmpty() ? QSize() : Previews::headerSize(it.value()));
            return sizes;
        },
        [this](const QHash<QString, QSize> &sizes) {
            for (auto it = sizes.cbegin(); it != sizes.cend(); ++it) {
                m_sizes.insert(it.key(), it.value());
                m_sizesWanted.remove(it.key());
            }
            m_sizesRunning = !m_sizesWanted.isEmpty();
            if (m_sizesRunning)
                readSizes();
            Q_EMIT sizesKnown();
        });
}

PreviewCache::Lookup PreviewCache::thumbnail(const Snip &snip, QSize box, const void *owner) {
    const QString key = snip.imageFile + u'|' + QString::number(box.width()) + u'x' +
                        QString::number(box.height()) + u'|' +
                        QString::number(Previews::marksKey(snip.marks));
    if (const QImage hit = m_cache.find(key); !hit.isNull())
        return {hit, true};
    if (!m_running.contains(key)) {
        m_waiting.removeIf([&](const Job &job) { return job.key == key; });
        QString path;
        try {
            path = m_store ? m_store->imageURL(snip.imageFile) : QString();
        } catch (const AppFailure &) {
        }
        m_waiting.append(Job{key, snip.imageFile, path, box, snip.marks, owner});
        startJobs();
    }
    const auto latest = m_latest.constFind(snip.imageFile);
    return {latest == m_latest.constEnd() ? QImage() : m_cache.find(*latest), false};
}

void PreviewCache::drop(const void *owner) {
    m_waiting.removeIf([&](const Job &job) { return job.owner == owner; });
}

void PreviewCache::startJobs() {
    while (m_running.size() < m_maxRunning && !m_waiting.isEmpty()) {
        Job job = m_waiting.takeLast();
        m_running.insert(job.key);
        Background::run(
            this,
            [path = job.path, box = job.box, marks = job.marks] {
                return path.isEmpty() ? QImage() : Previews::render(path, box, marks);
            },
            [this, key = job.key, file = job.file](const QImage &image) {
                m_running.remove(key);
                if (image.isNull()) {
                    // Readable header, unreadable data: from now on the card says so.
                    m_sizes.insert(file, QSize());
                    Q_EMIT sizesKnown();
                } else {
                    m_cache.insert(key, image);
                    m_latest.insert(file, key);
                }
                startJobs();
                Q_EMIT thumbnailReady(file);
            });
    }
}
