// Project files and restored cloud collections: collections that come in from outside the
// library, always under new ids and new image files.
#include "store/CollectionStore.h"

#include "model/AppFailure.h"
#include "model/FileNames.h"
#include "store/ProjectFile.h"
#include "store/StoreBackground.h"

#include <QFile>
#include <QPointer>
#include <QSet>

#include <algorithm>

#include <new>

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
const QString kFileOutOfMemory = QStringLiteral("Für die Datei ist nicht genug Arbeitsspeicher frei.");

QStringList projectFilter() {
    return {QStringLiteral("*.") + ProjectFile::suffix()};
}

QString newImageName() {
    return uuidText(QUuid::createUuid()) + QStringLiteral(".png");
}

// Hands a failure to `done` later on the main thread, never inside the call that found it.
void answerLater(QObject *context, const std::function<void(const QString &)> &done, const QString &failure) {
    QMetaObject::invokeMethod(
        context, [done, failure] { done(failure); }, Qt::QueuedConnection);
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
    if (!collection || !m_filePanels || m_isSavingProject)
        return;
    FilePanels::SaveRequest request;
    request.suggestedName = safeFilename(collection->title) + u'.' + ProjectFile::suffix();
    request.defaultSuffix = ProjectFile::suffix();
    request.message = kProjectMessage;
    request.nameFilters = projectFilter();
    // The collection as it was when the user asked: the panel does not block, so it may change
    // meanwhile. Its image files cannot: a name always stands for the same bytes.
    m_filePanels->chooseSaveFile(request, [this, snapshot = *collection](const QString &path) {
        if (!path.isEmpty() && !m_isSavingProject)
            writeProject(snapshot, path);
    });
}

void CollectionStore::writeProject(const SnipCollection &collection, const QString &path) {
    setIsSavingProject(true);
    inBackground(
        [collection, path, images = imagesDirectory(), writer = m_writer] {
            return StoreWork::attempt(
                [&] {
                    const QByteArray document = ProjectFile::encode(
                        collection, [&](const QString &name) { return imagePath(images, name); });
                    if (const QString problem = writer(path, document); !problem.isEmpty())
                        throw AppFailure(problem);
                },
                kFileOutOfMemory);
        },
        [path](CollectionStore *self, const QString &failure) {
            if (!self)
                return;
            self->setIsSavingProject(false);
            if (failure.isEmpty())
                self->setExportURL(path);
            else
                self->setError(failure);
        });
}

void CollectionStore::openProject() {
    if (!m_filePanels || m_isOpeningProject)
        return;
    FilePanels::OpenRequest request;
    request.nameFilters = projectFilter();
    m_filePanels->chooseOpenFiles(request, [this](const QStringList &paths) {
        if (!paths.isEmpty() && !m_isOpeningProject)
            takeInProject(paths.first());
    });
}

void CollectionStore::takeInProject(const QString &path) {
    struct Outcome {
        std::optional<SnipCollection> collection;
        QStringList written;
        QString failure;
    };
    setIsOpeningProject(true);
    inBackground(
        [path, images = imagesDirectory(), writer = m_writer] {
            Outcome outcome;
            outcome.failure = StoreWork::attempt(
                [&] {
                    ProjectFile::Contents contents = ProjectFile::read(path);
                    // In snip order; the bytes go as soon as they are on disk.
                    for (ProjectFile::NewImage &image : contents.images) {
                        const QString target = imagePath(images, image.fileName);
                        if (const QString problem = writer(target, std::exchange(image.png, {}));
                            !problem.isEmpty())
                            throw AppFailure(problem);
                        outcome.written.append(target);
                    }
                    outcome.collection = std::move(contents.collection);
                },
                kFileOutOfMemory);
            // All or nothing: a write that fails part way takes the images already written with it.
            if (!outcome.failure.isEmpty()) {
                removeFiles(outcome.written);
                outcome.written.clear();
                outcome.collection.reset();
            }
            return outcome;
        },
        [](CollectionStore *self, const Outcome &outcome) {
            if (!self) {
                removeFiles(outcome.written);
                return;
            }
            self->setIsOpeningProject(false);
            if (!outcome.collection) {
                self->setError(kOpenFailed + outcome.failure);
                return;
            }
            const QUuid id = outcome.collection->id;
            self->changeCollections([&](QList<SnipCollection> &list) { list.prepend(*outcome.collection); });
            self->setSelectedID(id);
            self->setSelectedSnipID(std::nullopt);
        });
}

// ---- Restored cloud collections ----

void CollectionStore::restoreCloudCollections(const QList<SnipCollection> &collections,
                                              const QString &imagesFolder, QObject *receiver,
                                              std::function<void(const QString &)> done) {
    QPointer<QObject> guard(receiver);
    const std::function<void(const QString &)> finish = [guard,
                                                         done = std::move(done)](const QString &failure) {
        if (guard)
            done(failure);
    };
    if (isBusy() || m_isRestoring || refuseWhenDisabled()) {
        answerLater(this, finish, kRestoreRefused);
        return;
    }

    // Names and marks are checked, and the copies with their new ids made, before anything is
    // copied; only the copying itself waits for the disk.
    struct Copy {
        QString source;
        QString target;
    };
    QList<Copy> copies;
    QList<SnipCollection> restored;
    const QString failure = StoreWork::attempt(
        [&] {
            for (const SnipCollection &source : collections) {
                SnipCollection copy = source;
                copy.id = QUuid::createUuid();
                copy.title += kRestoredSuffix;
                for (Snip &snip : copy.items) {
                    const QString name = snip.imageFile;
                    if (!isBackupImageName(name))
                        throw AppFailure(kRestoreInvalid);
                    for (const Mark &mark : std::as_const(snip.marks)) {
                        if (!mark.isValid())
                            throw AppFailure(kRestoreInvalid);
                    }
                    snip.id = QUuid::createUuid();
                    snip.imageFile = newImageName();
                    for (Mark &mark : snip.marks)
                        mark.id = QUuid::createUuid();
                    copies.append({imagesFolder + u'/' + name, imageURL(snip.imageFile)});
                }
                restored.append(std::move(copy));
            }
        },
        kFileOutOfMemory);
    if (!failure.isEmpty()) {
        answerLater(this, finish, failure);
        return;
    }

    struct Outcome {
        QStringList copied;
        QString failure;
    };
    setIsRestoring(true);
    inBackground(
        [copies, copier = m_copier] {
            Outcome outcome;
            outcome.failure = StoreWork::attempt(
                [&] {
                    for (const Copy &copy : copies) {
                        if (const QString problem = copier(copy.source, copy.target); !problem.isEmpty())
                            throw AppFailure(problem);
                        outcome.copied.append(copy.target);
                    }
                },
                kFileOutOfMemory);
            if (!outcome.failure.isEmpty()) {
                removeFiles(outcome.copied);
                outcome.copied.clear();
            }
            return outcome;
        },
        [restored, finish](CollectionStore *self, const Outcome &outcome) {
            if (!self) {
                removeFiles(outcome.copied);
                return;
            }
            if (!outcome.failure.isEmpty()) {
                self->setIsRestoring(false);
                finish(outcome.failure);
            } else {
                self->finishRestore(restored, outcome.copied, finish);
            }
        });
}

void CollectionStore::finishRestore(const QList<SnipCollection> &restored, const QStringList &copied,
                                    const std::function<void(const QString &)> &done) {
    const OptionalUuid previousSelection = m_selectedID;
    const OptionalUuid previousSnip = m_selectedSnipID;
    const OptionalUuid newSelection = restored.isEmpty() ? OptionalUuid() : OptionalUuid(restored.first().id);
    // Takes the restored collections out again, wherever they are now (the trash included), and
    // gives the selection back when it still rests on them.
    const auto takeOut = [this, restored, previousSelection, previousSnip, newSelection] {
        QSet<QUuid> ids;
        for (const SnipCollection &collection : restored)
            ids.insert(collection.id);
        const auto isRestored = [&](const SnipCollection &c) { return ids.contains(c.id); };
        // Where the selected copy stands among the collections that stay.
        qsizetype place = 0;
        for (const SnipCollection &collection : std::as_const(m_collections)) {
            if (collection.id == newSelection)
                break;
            place += isRestored(collection) ? 0 : 1;
        }
        if (std::any_of(m_collections.cbegin(), m_collections.cend(), isRestored))
            changeCollections([&](QList<SnipCollection> &list) { list.removeIf(isRestored); });
        if (std::any_of(m_deletedCollections.cbegin(), m_deletedCollections.cend(),
                        [&](const DeletedCollection &d) { return isRestored(d.collection); })) {
            QList<DeletedCollection> trash = m_deletedCollections;
            trash.removeIf([&](const DeletedCollection &d) { return isRestored(d.collection); });
            setDeletedCollections(trash);
        }
        if (newSelection && m_selectedID == newSelection)
            putBackSelection(previousSelection, previousSnip, place);
        if (m_session && ids.contains(m_session->collectionID)) {
            setSession(std::nullopt);
            setSessionSnipID(std::nullopt);
        }
    };
    const QString failure = StoreWork::attempt(
        [&] {
            changeCollections([&](QList<SnipCollection> &list) { list = restored + list; });
            // Nothing restored: the selection stays where the user left it.
            if (!restored.isEmpty()) {
                setSelectedID(restored.first().id);
                setSelectedSnipID(std::nullopt);
            }
        },
        kFileOutOfMemory);
    if (!failure.isEmpty()) {
        takeOut();
        removeFiles(copied);
        setIsRestoring(false);
        done(failure);
        return;
    }
    // Its save joins the chain of the operations that put back, so a failing chain gives back
    // each change in turn, newest first. isRestoring lasts until the chain has ended, so a second
    // restore cannot overlap with a put-back. Put back alone, the library is as the file holds it:
    // no delayed save follows.
    requestSave({}, PutBack{takeOut,
                            [this, copied, done](bool kept) {
                                if (!kept)
                                    removeFiles(copied);
                                setIsRestoring(false);
                                done(kept ? QString() : kRestoreNotSaved);
                            },
                            false});
}
