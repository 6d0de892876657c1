#pragma once

#include "store/CollectionStore.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <memory>

// A store in a temporary folder with a settable clock and a writer that counts writes and can be
// told to fail.
struct StoreFixture {
    QTemporaryDir dir;
    double clock = 1000.0;
    int writes = 0;
    int allowedWrites = -1; // writes that still succeed; -1: all
    std::unique_ptr<CollectionStore> store;

    StoreFixture() {
        store = std::make_unique<CollectionStore>(dir.path(), [this] { return clock; });
        store->setFileWriter([this](const QString &path, const QByteArray &bytes) {
            ++writes;
            if (allowedWrites == 0)
                return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
            if (allowedWrites > 0)
                --allowedWrites;
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
            return QString();
        });
    }

    // Replaces the library with collections whose snips are named by title and index.
    QList<SnipCollection> setUp(const QList<QPair<QString, int>> &shape) {
        QList<SnipCollection> list;
        for (const auto &[title, count] : shape) {
            SnipCollection c;
            c.title = title;
            for (int i = 0; i < count; ++i) {
                Snip s = Snip::make(title + QString::number(i) + QStringLiteral(".png"));
                s.title = title + QString::number(i);
                c.items.append(s);
            }
            list.append(c);
        }
        store->setCollections(list);
        store->setSelectedID(list.isEmpty() ? OptionalUuid() : OptionalUuid(list.first().id));
        store->saveNow();
        writes = 0;
        return list;
    }

    const SnipCollection &collection(qsizetype i) const { return store->collections().at(i); }
    QStringList titles() const {
        QStringList t;
        for (const SnipCollection &c : store->collections())
            t << c.title;
        return t;
    }
    static QStringList snipTitles(const SnipCollection &c) {
        QStringList t;
        for (const Snip &s : c.items)
            t << s.title;
        return t;
    }
    OptionalUuid idOf(const QString &title) const {
        for (const SnipCollection &c : store->collections()) {
            if (c.title == title)
                return c.id;
        }
        return std::nullopt;
    }
    OptionalUuid snipIdOf(const QString &title) const {
        for (const SnipCollection &c : store->collections()) {
            for (const Snip &s : c.items) {
                if (s.title == title)
                    return s.id;
            }
        }
        return std::nullopt;
    }
    void failWritesAfter(int successes) { allowedWrites = successes; }
    void allowWrites() { allowedWrites = -1; }
};

inline QByteArray pngBytes(const QImage &image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

inline QByteArray pngBytes(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return pngBytes(image);
}
