#pragma once

#include "model/Ids.h"
#include "model/Mark.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QUuid>

#include <optional>

enum class CollectionMode { Steps, Notes };

namespace CollectionModes {
const std::array<CollectionMode, 2> &all();
QString rawValue(CollectionMode mode);
std::optional<CollectionMode> fromRawValue(QStringView text);
QString title(CollectionMode mode);
QString symbol(CollectionMode mode);
} // namespace CollectionModes

struct Snip {
    QUuid id = QUuid::createUuid();
    QString title;
    QString note;
    QString imageFile; // bare file name inside the library's Images folder
    std::optional<bool> cloudLocalOnly;
    double createdAt = referenceSecondsNow();
    MarkList marks;

    static Snip make(const QString &imageFile) {
        Snip s;
        s.imageFile = imageFile;
        return s;
    }

    bool isLocalOnly() const { return cloudLocalOnly.value_or(false); }

    // The heading shown in the window and in every export; index counts from 0.
    QString heading(qsizetype index, CollectionMode mode) const;

    bool operator==(const Snip &other) const = default;
};

struct SnipCollection {
    QUuid id = QUuid::createUuid();
    QString title = QStringLiteral("Neue Sammlung");
    QString subtitle;
    CollectionMode mode = CollectionMode::Steps;
    double createdAt = referenceSecondsNow();
    QList<Snip> items;

    bool operator==(const SnipCollection &other) const = default;
};

struct CaptureSession {
    QUuid collectionID;
    bool isPaused = false;

    bool operator==(const CaptureSession &other) const = default;
};

struct DeletedCollection {
    SnipCollection collection;
    qint64 index = 0; // position in the library when deleted; clamp before use

    bool operator==(const DeletedCollection &other) const = default;
};

struct SavedLibrary {
    qint64 version = 1;
    std::optional<QUuid> selectedID;
    QList<SnipCollection> collections;
    std::optional<CaptureSession> session;
    std::optional<QList<DeletedCollection>> deletedCollections;
};

// The user's choice of destination for the next capture; never stored.
struct CaptureChoice {
    enum class Kind { NewCollection, Existing };
    Kind kind = Kind::NewCollection;
    QUuid id; // only for Existing

    static CaptureChoice newCollection() { return {}; }
    static CaptureChoice existing(const QUuid &id) { return {Kind::Existing, id}; }
    bool isNewCollection() const { return kind == Kind::NewCollection; }

    bool operator==(const CaptureChoice &other) const {
        return kind == other.kind && (kind == Kind::NewCollection || id == other.id);
    }
};

size_t qHash(const CaptureChoice &choice, size_t seed = 0);

// The resolved destination of one capture.
struct CaptureTarget {
    QUuid collectionID;
    std::optional<SnipCollection> newCollection; // insert first when present

    bool operator==(const CaptureTarget &other) const = default;
};

// The root of a project file: one collection and its images by file name.
struct PortableCollection {
    qint64 version = 1;
    SnipCollection collection;
    QMap<QString, QByteArray> images;
};
