// Project files and restored cloud collections: collections that come in from outside the
// library, always under new ids and new image files.
#include "store/CollectionStore.h"

#include "backup/BackupArchive.h"
#include "backup/BackupFailure.h"
#include "model/AppFailure.h"
#include "model/FileNames.h"
#include "store/ProjectFile.h"
#include "store/RegularFile.h"

#include <QFile>
#include <QPointer>

namespace {
const QString kOpenFailed = QStringLiteral("Projekt konnte nicht geöffnet werden: ");
const QString kProjectMessage =
    QStringLiteral("Bearbeitbares Projekt mit Originalbildern. Zum Weitergeben mit "
                   "Schwärzungen bitte PDF oder Word exportieren.");
const QString kRestoreRefused =
    QStringLiteral("Bitte beende die laufende Aufnahme oder den Export und versuche es erneut.");
const QString kRestoreInvalid = QStringLiteral("Die Sicherung enthält ungültige Daten.");
const QString kRestoreNotSaved =
    QStringLiteral("Die Wiederherstellung konnte lokal nicht gespeichert werden.");
const QString kRestoredSuffix = QStringLiteral(" · Wiederhergestellt");

QStringList projectFilter() {
    return {QStringLiteral("*.") + ProjectFile::suffix()};
}

QString newImageName() {
    return uuidText(QUuid::createUuid()) + QStringLiteral(".png");
}

void removeFiles(const QStringList &paths) {
    for (const QString &path : paths)
        QFile::remove(path);
}
} // namespace

void CollectionStore::setFilePanels(std::unique_ptr<FilePanels> panels) {
    m_filePanels = std::move(panels);
}

void CollectionStore::setAlertPresenter(std::unique_ptr<AlertPresenter> alerts) {
    m_alertPresenter = std::move(alerts);
}

void CollectionStore::setImageClipboard(std::unique_ptr<ImageClipboard> clipboard) {
    m_imageClipboard = std::move(clipboard);
}

void CollectionStore::setFileReviewer(FileReviewer reviewer) {
    m_fileReviewer = std::move(reviewer);
}

// ---- Project files ----

void CollectionStore::saveProject() {
    const std::optional<SnipCollection> collection = current();
    if (!collection || !m_filePanels)
        return;
    FilePanels::SaveRequest request;
    request.suggestedName = safeFilename(collection->title) + u'.' + ProjectFile::suffix();
    request.defaultSuffix = ProjectFile::suffix();
    request.message = kProjectMessage;
    request.nameFilters = projectFilter();
    // The collection as it was when the user asked: the panel does not block, so it may change
    // meanwhile. Its image files cannot: a name always stands for the same bytes.
    m_filePanels->chooseSaveFile(request, [this, snapshot = *collection](const QString &path) {
        if (!path.isEmpty())
            writeProject(snapshot, path);
    });
}

void CollectionStore::writeProject(const SnipCollection &collection, const QString &path) {
    QByteArray document;
    try {
        document = ProjectFile::encode(collection, [this](const QString &name) { return imageURL(name); });
    } catch (const AppFailure &failure) {
        setError(failure.errorDescription());
        return;
    }
    if (const QString problem = m_writer(path, document); !problem.isEmpty()) {
        setError(problem);
        return;
    }
    setExportURL(path);
}

void CollectionStore::openProject() {
    if (!m_filePanels)
        return;
    FilePanels::OpenRequest request;
    request.nameFilters = projectFilter();
    m_filePanels->chooseOpenFiles(request, [this](const QStringList &paths) {
        if (!paths.isEmpty())
            takeInProject(paths.first());
    });
}

void CollectionStore::takeInProject(const QString &path) {
    ProjectFile::Contents contents;
    try {
        contents = ProjectFile::read(path);
    } catch (const AppFailure &failure) {
        setError(kOpenFailed + failure.errorDescription());
        return;
    }

    // All or nothing: a write that fails part way takes the images already written with it.
    QStringList written;
    for (ProjectFile::NewImage &image : contents.images) {
        QString problem;
        try {
            const QString target = imageURL(image.fileName);
            problem = m_writer(target, image.png);
            if (problem.isEmpty())
                written.append(target);
        } catch (const AppFailure &failure) {
            problem = failure.errorDescription();
        }
        if (!problem.isEmpty()) {
            removeFiles(written);
            setError(kOpenFailed + problem);
            return;
        }
        image.png = QByteArray(); // on disk now; no need to hold two copies
    }

    const QUuid id = contents.collection.id;
    changeCollections([&](QList<SnipCollection> &list) { list.prepend(std::move(contents.collection)); });
    setSelectedID(id);
    setSelectedSnipID(std::nullopt);
}

// ---- Restored cloud collections ----

void CollectionStore::restoreCloudCollections(const QList<SnipCollection> &collections,
                                              const QString &imagesFolder) {
    if (m_isCapturing || m_isExporting || !saveNow())
        throw BackupFailure(kRestoreRefused);

    QStringList copied;
    QList<SnipCollection> restored;
    try {
        for (const SnipCollection &source : collections) {
            SnipCollection copy = source;
            copy.id = QUuid::createUuid();
            copy.title += kRestoredSuffix;
            for (Snip &snip : copy.items) {
                const QString name = snip.imageFile;
                if (!BackupArchive::validName(name) || name == u"library.json")
                    throw BackupFailure(kRestoreInvalid);
                for (const Mark &mark : std::as_const(snip.marks)) {
                    if (!mark.isValid())
                        throw BackupFailure(kRestoreInvalid);
                }
                const QString newName = newImageName();
                const QString target = imageURL(newName);
                QByteArray bytes;
                try {
                    bytes = RegularFile::readAll(imagesFolder + u'/' + name);
                } catch (const AppFailure &failure) {
                    throw BackupFailure(failure.errorDescription());
                }
                if (const QString problem = m_writer(target, bytes); !problem.isEmpty())
                    throw BackupFailure(problem);
                copied.append(target);
                snip.id = QUuid::createUuid();
                snip.imageFile = newName;
                for (Mark &mark : snip.marks)
                    mark.id = QUuid::createUuid();
            }
            restored.append(std::move(copy));
        }
    } catch (const BackupFailure &) {
        // Nothing in memory has changed yet.
        removeFiles(copied);
        throw;
    }

    const QList<SnipCollection> previousCollections = m_collections;
    const OptionalUuid previousSelection = m_selectedID;
    const OptionalUuid previousSnip = m_selectedSnipID;
    changeCollections([&](QList<SnipCollection> &list) { list = restored + list; });
    // Nothing restored: the selection stays where the user left it.
    if (!restored.isEmpty()) {
        setSelectedID(restored.first().id);
        setSelectedSnipID(std::nullopt);
    }
    if (saveNow())
        return;

    // The file still holds the state of the first save, which is the state put back here, so no
    // save may follow; the indicator keeps what the failed save said.
    const QString indicator = m_saveState;
    setCollections(previousCollections);
    setSelectedID(previousSelection);
    setSelectedSnipID(previousSnip);
    m_saveTimer.stop();
    setSaveState(indicator);
    removeFiles(copied);
    throw BackupFailure(kRestoreNotSaved);
}

void CollectionStore::restoreCloudCollections(const QList<SnipCollection> &collections,
                                              const QString &imagesFolder, QObject *receiver,
                                              std::function<void(const QString &)> done) {
    QString failure;
    try {
        restoreCloudCollections(collections, imagesFolder);
    } catch (const BackupFailure &f) {
        failure = f.errorDescription();
    }
    QPointer<QObject> guard(receiver);
    QMetaObject::invokeMethod(
        this,
        [guard, failure, done = std::move(done)] {
            if (guard)
                done(failure);
        },
        Qt::QueuedConnection);
}
