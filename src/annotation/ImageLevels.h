#pragma once

#include <QImage>
#include <QObject>
#include <QSize>

// Reduced copies of one picture, so that a view can show a 4K screenshot small without scaling
// all of its pixels on every frame. The halvings and the copy at the size last asked for are
// made on the background pool; until they arrive, pick() answers the nearest copy it has.
// Main thread only.
class ImageLevels : public QObject {
    Q_OBJECT

public:
    explicit ImageLevels(QObject *parent = nullptr);

    // Starts over for another picture (compared by cacheKey); the same picture keeps its copies.
    void setImage(const QImage &image);
    const QImage &image() const { return m_source; }
    // Whether the halvings have arrived (always for pictures too small to halve).
    bool hasLevels() const { return m_levelsReady; }

    struct Pick {
        QImage image;
        bool exact = false; // already `size`: draw it without scaling
    };
    // The picture for drawing at `size` device pixels. Below the picture's own size this is the
    // smooth-scaled copy at exactly that size once it has been made (it is asked for here),
    // otherwise the smallest copy larger than `size`; at or above its own size, the picture.
    Pick pick(QSize size);

    // The smallest copy at least `size` there is now (the picture when none); asks for nothing.
    const QImage &nearest(QSize size) const { return nearestAbove(size); }

    // A smooth copy at `size`, made now from the nearest halving; meant for small sizes. Null
    // while the halvings are missing, unless `size` is the picture's own.
    QImage reduced(QSize size) const;

Q_SIGNALS:
    // A copy arrived; views repaint.
    void changed();

private:
    const QImage &nearestAbove(QSize size) const;
    void makeExact(QSize size);

    QImage m_source;
    QList<QImage> m_levels; // halvings, largest first
    bool m_levelsReady = true;
    QImage m_exact;
    QSize m_wanted;        // the size pick() asked for last
    bool m_making = false; // an exact copy is being made
    quint64 m_generation = 0;
};
