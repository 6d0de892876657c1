#pragma once

#include "model/Snip.h"
#include "store/ImageCache.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

class CollectionStore;

// Decoding and drawing of previews, usable on any thread.
namespace Previews {

// The pixel size the PNG's header states; an invalid size when the file is missing, not a
// regular file, not a PNG or beyond the supported size.
QSize headerSize(const QString &path);
// The PNG decoded, scaled while it decodes, at the size sizeFor gives for its stored size; only
// from a regular file and within the image limits. Null when the file cannot be read.
QImage decode(const QString &path, const std::function<QSize(QSize)> &sizeFor);
// The image decoded at the size that fits `box` (aspect kept, never enlarged), with the marks
// drawn at that scale; blurs are computed on the small copy. Null when the file cannot be read.
QImage render(const QString &path, QSize box, const MarkList &marks);
// Tells mark lists apart for the cache key.
quint64 marksKey(const MarkList &marks);

} // namespace Previews

// Thumbnails of snip images with their marks, for the cards and the grid: made on worker threads
// from a scaled decode, newest request first, kept per (file, size, marks) within a byte limit.
// Image sizes come from the file headers, read in the background and kept by file name. Nothing
// here decodes a full image on the main thread.
class PreviewCache : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kDefaultBytes = 160'000'000;

    // Without a number of workers, half the machine's cores and at least two decode at once.
    explicit PreviewCache(CollectionStore *store, qint64 maxBytes = kDefaultBytes, int workers = 0,
                          QObject *parent = nullptr);
    ~PreviewCache() override;

    // The image's pixel size: none while its header is being read (sizesKnown() follows), an
    // invalid size when the file cannot be read.
    std::optional<QSize> imageSize(const QString &file);

    struct Lookup {
        QImage image;       // null while nothing of this file is at hand
        bool exact = false; // false: an older copy (other size or marks) stands in until the new one
    };
    // The thumbnail of the snip fitted into `box` device pixels. When it is not cached, it is made
    // for `owner` and thumbnailReady() follows; until then the last thumbnail of the same file, if
    // any, stands in.
    Lookup thumbnail(const Snip &snip, QSize box, const void *owner);
    // Drops the waiting requests of `owner` (a view scrolled away or gone).
    void drop(const void *owner);

    int maxRunning() const { return m_maxRunning; }
    int waitingCount() const { return int(m_waiting.size()); }
    int runningCount() const { return int(m_running.size()); }
    qint64 cachedBytes() const { return m_cache.totalBytes(); }

Q_SIGNALS:
    void sizesKnown();
    void thumbnailReady(const QString &file);

private:
    struct Job {
        QString key;
        QString file;
        QString path;
        QSize box;
        MarkList marks;
        const void *owner = nullptr;
    };
    void startJobs();
    void readSizes();

    QPointer<CollectionStore> m_store;
    ImageCache m_cache;
    QHash<QString, QString> m_latest; // file name → key of its newest thumbnail
    QList<Job> m_waiting;             // the newest last
    QSet<QString> m_running;
    int m_maxRunning;
    QHash<QString, QSize> m_sizes;
    QSet<QString> m_sizesWanted;
    bool m_sizesRunning = false;
};
