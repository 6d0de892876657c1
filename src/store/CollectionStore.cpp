#include "store/CollectionStore.h"

#include "imaging/ImageDecoder.h"
#include "imaging/RegularFile.h"
#include "model/AppFailure.h"
#include "model/FileNames.h"
#include "model/JsonCoding.h"
#include "store/DurableFile.h"
#include "store/FileErrors.h"
#include "store/StoreBackground.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

namespace {
const QString kInitialStatus = QStringLiteral("Bereit für deinen ersten Ausschnitt");
const QString kRoundRestored = QStringLiteral("Sammelrunde pausiert · bereit zum Fortsetzen");
const QString kImageTooLarge = QStringLiteral("Das Bild überschreitet die erlaubte Größe oder Auflösung.");
const QString kUnsavableNumber =
    QStringLiteral("Die Sammlung enthält einen Zahlenwert, der nicht gespeichert werden kann.");
const QString kSaveOutOfMemory = QStringLiteral("Für die Datei ist nicht genug Arbeitsspeicher frei.");

constexpr QFile::Permissions kPrivateFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// Creates path (mode 0700) unless it is a folder already; missing parents get the usual mode.
bool makePrivateFolder(const QString &path) {
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(parent))
        return false;
    return QDir().mkdir(path, kPrivateFolder) || QFileInfo(path).isDir();
}

std::optional<SavedLibrary> readLibraryFile(const QString &path) {
    try {
        return decodeJson<SavedLibrary>(RegularFile::readAll(path));
    } catch (const AppFailure &) {
        return std::nullopt;
    } catch (const std::bad_alloc &) {
        // A file too large for memory is unreadable like any other.
        return std::nullopt;
    }
}
} // namespace

// Shared by the store and the saves on the pool, which may outlive it.
struct CollectionStore::SaveLine {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0; // saves handed to the pool and not finished
};

QString StoreWork::attempt(const std::function<void()> &step, const QString &outOfMemory) {
    try {
        step();
        return {};
    } catch (const AppFailure &failure) {
        return failure.errorDescription();
    } catch (const std::bad_alloc &) {
        return !outOfMemory.isEmpty() ? outOfMemory
                                      : QStringLiteral("Für das Bild ist nicht genug Arbeitsspeicher frei.");
    } catch (const std::exception &) {
        return QStringLiteral("Das Bild konnte nicht verarbeitet werden.");
    }
}

CollectionStore::CollectionStore(const QString &root, Clock clock, QObject *parent)
    : QObject(parent), m_status(kInitialStatus),
      m_root(root.isEmpty() ? defaultRoot() : QDir::cleanPath(QDir(root).absolutePath())),
      m_clock(clock ? std::move(clock) : Clock(referenceSecondsNow)), m_writer(FileErrors::writeAtomically),
      m_copier(FileErrors::copyAtomically), m_saveLine(std::make_shared<SaveLine>()),
      m_workLine(std::make_shared<WorkLine>()) {
    ImageImport::raiseAllocationLimit();
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(kAutosaveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, &CollectionStore::autosave);
    m_loading = true;
    load();
    m_loading = false;
}

CollectionStore::~CollectionStore() {
    m_gone->store(true);
    // A snapshot handed to the pool is written before the store goes: a store opened on the same
    // folder afterwards must never see it arrive over its own saves.
    std::unique_lock lock(m_saveLine->mutex);
    m_saveLine->idle.wait(lock, [this] { return m_saveLine->running == 0; });
}

QString CollectionStore::defaultRoot() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Vellumbox");
}

void CollectionStore::setFileWriter(FileWriter writer) {
    m_writer = writer ? std::move(writer) : FileWriter(FileErrors::writeAtomically);
}

void CollectionStore::setFileCopier(FileCopier copier) {
    m_copier = copier ? std::move(copier) : FileCopier(FileErrors::copyAtomically);
}

QString CollectionStore::imagesDirectory() const {
    return m_root + QStringLiteral("/Images");
}

QString CollectionStore::libraryPath() const {
    return m_root + QStringLiteral("/library.json");
}

OptionalUuid CollectionStore::activeCollectionID() const {
    if (m_session && !m_session->isPaused)
        return m_session->collectionID;
    return std::nullopt;
}

// ---- Loading ----

void CollectionStore::load() {
    if (!makePrivateFolder(m_root) || !makePrivateFolder(imagesDirectory())) {
        const QString folder = QFileInfo(m_root).isDir() ? imagesDirectory() : m_root;
        setError(QStringLiteral("Speicherordner nicht verfügbar: ") + FileErrors::describeFolder(folder));
        // The library was not read, so a save would replace it with an empty one.
        if (QFileInfo::exists(libraryPath()))
            m_writeEnabled = false;
        return;
    }
    // A write cut short by a crash leaves its temporary file: ours, never the user's, so it goes.
    DurableFile::removeLeftovers(m_root);
    DurableFile::removeLeftovers(imagesDirectory());

    const QString path = libraryPath();
    const QFileInfo info(path);
    bool loaded = false;
    if (info.exists()) {
        // Only a regular file is read: a pipe or a device could block or never end.
        const std::optional<SavedLibrary> library = info.isFile() ? readLibraryFile(path) : std::nullopt;
        if (library && library->version == 1) {
            setDeletedCollections(library->deletedCollections.value_or(QList<DeletedCollection>()));
            setCollections(library->collections);
            setSelectedID(library->selectedID);
            if (library->session) {
                const QUuid id = library->session->collectionID;
                const bool known = std::any_of(m_collections.cbegin(), m_collections.cend(),
                                               [&](const SnipCollection &c) { return c.id == id; });
                if (known) {
                    setSession(CaptureSession{id, true});
                    setStatus(kRoundRestored);
                }
            }
            loaded = true;
        } else {
            const QString copy = m_root + QStringLiteral("/library-recovery-") +
                                 uuidText(QUuid::createUuid()) + QStringLiteral(".json");
            if (!info.isFile() || !QFile::copy(path, copy))
                m_writeEnabled = false;
            setError(
                QStringLiteral("Die gespeicherte Sammlung konnte nicht geöffnet werden. ") +
                (m_writeEnabled
                     ? QStringLiteral("Das Original wurde als Wiederherstellungskopie gesichert.")
                     : QStringLiteral("Automatisches Speichern ist zum Schutz des Originals deaktiviert.")));
        }
    }

    if (!loaded && m_collections.isEmpty()) {
        SnipCollection collection;
        collection.createdAt = now();
        setCollections({collection});
    }

    const bool selectionValid =
        m_selectedID && std::any_of(m_collections.cbegin(), m_collections.cend(),
                                    [&](const SnipCollection &c) { return c.id == *m_selectedID; });
    if (!selectionValid)
        setSelectedID(m_collections.isEmpty() ? OptionalUuid() : OptionalUuid(m_collections.first().id));
}

// ---- Saving ----

SavedLibrary CollectionStore::snapshot() const {
    SavedLibrary library;
    library.version = 1;
    library.selectedID = m_selectedID;
    library.collections = m_collections;
    library.session = m_session;
    library.deletedCollections = m_deletedCollections;
    return library;
}

QString CollectionStore::writeSnapshot(const SavedLibrary &library, const QString &path,
                                       const FileWriter &writer) {
    std::optional<QByteArray> bytes;
    try {
        bytes = encodeJson(library, JsonStyle::Pretty);
    } catch (const std::bad_alloc &) {
        return kSaveOutOfMemory;
    }
    if (!bytes)
        return kUnsavableNumber;
    return writer(path, *bytes);
}

bool CollectionStore::applySave(const QString &problem) {
    if (!problem.isEmpty()) {
        setSaveState(SaveState::Failed);
        setError(QStringLiteral("Speichern fehlgeschlagen: ") + problem);
        return false;
    }
    // A change made while this was written still waits for its own save.
    if (!changeWaiting())
        setSaveState(SaveState::Saved);
    return true;
}

void CollectionStore::save(QObject *receiver, std::function<void(bool)> done) {
    SaveDone waiter;
    if (done) {
        QPointer<QObject> guard(receiver);
        waiter = [guard, guarded = receiver != nullptr, done = std::move(done)](bool written) {
            if (!guarded || guard)
                done(written);
        };
    }
    requestSave(std::move(waiter), {});
}

void CollectionStore::saveOrPutBack(std::function<void()> undo) {
    requestSave({}, PutBack{std::move(undo), {}, true});
}

void CollectionStore::requestSave(SaveDone waiter, PutBack putBack) {
    // This save takes in every change, also those the delayed save was waiting to write.
    m_saveTimer.stop();
    m_heldSelection.reset();
    if (!m_writeEnabled) {
        // An operation that puts its change back has refused before making it.
        Q_ASSERT(!putBack.undo);
        setSaveState(SaveState::Disabled);
        if (waiter)
            QMetaObject::invokeMethod(
                this, [waiter] { waiter(false); }, Qt::QueuedConnection);
        return;
    }
    if (putBack.undo)
        m_nextPutBacks.append(std::move(putBack));
    // One at a time, so that they reach the disk in order; the next takes the values of then. An
    // answer that is being applied may ask for a save before the one behind it has started.
    if (m_saveRunning || m_saveAgain) {
        m_saveAgain = true;
        if (waiter)
            m_nextSaveWaiting.append(std::move(waiter));
        setSaveState(SaveState::Saving);
        return;
    }
    startSave(waiter ? QList<SaveDone>{std::move(waiter)} : QList<SaveDone>{});
}

void CollectionStore::startSave(QList<SaveDone> waiting) {
    m_saveRunning = true;
    setSaveState(SaveState::Saving);
    {
        std::lock_guard lock(m_saveLine->mutex);
        ++m_saveLine->running;
    }
    SavedLibrary library = snapshot();
    if (const auto held = std::exchange(m_heldSelection, std::nullopt)) {
        library.selectedID = *held;
        if (m_selectedID != *held && !m_saveTimer.isActive())
            scheduleSave();
    }
    // Copying the values is cheap (they share their data); encoding and writing are not.
    inBackground(
        [line = m_saveLine, library = std::move(library), path = libraryPath(), writer = m_writer] {
            QString problem = writeSnapshot(library, path, writer);
            std::lock_guard lock(line->mutex);
            --line->running;
            line->idle.notify_all();
            return problem;
        },
        [waiting = std::move(waiting), putBacks = std::exchange(m_nextPutBacks, {})](CollectionStore *self,
                                                                                     const QString &problem) {
            if (!self)
                return;
            self->m_saveRunning = false;
            const bool written = self->applySave(problem);
            // A save that is written ends its chain: everything it carried stays.
            const QList<PutBack> ended = written ? putBacks : self->saveFailed(putBacks);
            // Put-backs run before the next save, which then takes them in.
            for (const SaveDone &done : waiting)
                done(written);
            for (const PutBack &putBack : ended) {
                if (putBack.settled)
                    putBack.settled(written);
            }
            if (std::exchange(self->m_saveAgain, false))
                self->startSave(std::exchange(self->m_nextSaveWaiting, {}));
        });
}

QList<CollectionStore::PutBack> CollectionStore::saveFailed(const QList<PutBack> &putBacks) {
    // The save behind this one holds these changes as well: they go back only if it fails too, and
    // then together with its own, newest first, so each finds the state it left behind.
    if (m_saveAgain) {
        m_nextPutBacks = putBacks + m_nextPutBacks;
        return {};
    }
    if (putBacks.isEmpty())
        return {};
    const auto undo = [&] {
        for (auto it = putBacks.crbegin(); it != putBacks.crend(); ++it)
            it->undo();
    };
    if (std::any_of(putBacks.cbegin(), putBacks.cend(), [](const PutBack &p) { return p.saveLater; }))
        putBackAndSaveLater(undo);
    else
        putBack(undo);
    return putBacks;
}

void CollectionStore::holdSelectionForTheNextSave(const OptionalUuid &selectedID) {
    if (m_saveAgain)
        m_heldSelection = selectedID;
}

bool CollectionStore::saveAtExit() {
    finishPendingWork();
    m_saveTimer.stop();
    if (!m_writeEnabled) {
        setSaveState(SaveState::Disabled);
        return false;
    }
    return applySave(writeSnapshot(snapshot(), libraryPath(), m_writer));
}

void CollectionStore::autosave() {
    save();
}

bool CollectionStore::changeWaiting() const {
    return m_saveTimer.isActive() || m_saveAgain;
}

void CollectionStore::putBack(const std::function<void()> &undo) {
    const bool timerWaiting = m_saveTimer.isActive();
    const bool saveWaiting = m_saveAgain;
    undo();
    // A change made meanwhile is saved by its delayed save, together with what was put back.
    if (timerWaiting)
        return;
    m_saveTimer.stop();
    setSaveState(saveWaiting ? SaveState::Saving : SaveState::Failed);
}

void CollectionStore::putBackAndSaveLater(const std::function<void()> &undo) {
    undo();
    // A save asked for meanwhile follows at once and takes all of it in.
    if (!m_saveAgain)
        scheduleSave();
}

bool CollectionStore::refuseWhenDisabled() {
    if (m_writeEnabled)
        return false;
    m_saveTimer.stop();
    setSaveState(SaveState::Disabled);
    return true;
}

QString CollectionStore::saveStateText(SaveState state) {
    switch (state) {
    case SaveState::Saved:
        return QStringLiteral("Lokal gespeichert");
    case SaveState::Saving:
        return QStringLiteral("Wird gespeichert …");
    case SaveState::Failed:
        return QStringLiteral("Speichern fehlgeschlagen");
    case SaveState::Disabled:
        return QStringLiteral("Speichern deaktiviert");
    }
    return {};
}

void CollectionStore::scheduleSave() {
    if (m_loading)
        return;
    setSaveState(SaveState::Saving);
    m_saveTimer.start(); // restarts a pending save
}

// ---- Image files ----

QString CollectionStore::imageURL(const QString &name) const {
    return imagePath(imagesDirectory(), name);
}

QString CollectionStore::imagePath(const QString &imagesDirectory, const QString &name) {
    if (!isImageFileName(name))
        throw AppFailure(QStringLiteral("Ungültiger Bilddateiname."));
    return imagesDirectory + u'/' + name;
}

QImage CollectionStore::image(const Snip &snip) {
    if (const QImage cached = m_imageCache.find(snip.imageFile); !cached.isNull())
        return cached;
    QString path;
    try {
        path = imageURL(snip.imageFile);
    } catch (const AppFailure &) {
        return {};
    }
    const QImage decoded = Imaging::decodeFile(path, Imaging::Png);
    if (!decoded.isNull())
        m_imageCache.insert(snip.imageFile, decoded);
    return decoded;
}

void CollectionStore::finishPendingWork() {
    // Waits for this store's own steps only; whatever else waits in the event queue (replies,
    // previews, alerts) stays there. A result applied here may hand the next step of its
    // operation to the pool, so this goes on until no step is left.
    while (m_pendingWork > 0) {
        {
            std::unique_lock lock(m_workLine->mutex);
            m_workLine->ready.wait(lock, [this] { return !m_workLine->results.empty(); });
        }
        applyFinished(*m_workLine);
    }
}

bool CollectionStore::applyFinished(WorkLine &line) {
    std::function<void()> result;
    {
        std::lock_guard lock(line.mutex);
        if (line.results.empty())
            return false;
        result = std::move(line.results.front());
        line.results.pop_front();
    }
    result();
    return true;
}

void CollectionStore::requestImage(const Snip &snip, QObject *receiver,
                                   std::function<void(const QImage &)> done) {
    if (const QImage cached = m_imageCache.find(snip.imageFile); !cached.isNull()) {
        done(cached);
        return;
    }
    QString path;
    try {
        path = imageURL(snip.imageFile);
    } catch (const AppFailure &) {
        done(QImage());
        return;
    }
    const QString name = snip.imageFile;
    const bool underWay = m_imageRequests.contains(name);
    m_imageRequests[name].append({receiver, std::move(done)});
    if (underWay)
        return;
    inBackground([path] { return Imaging::decodeFile(path, Imaging::Png); },
                 [name](CollectionStore *self, const QImage &decoded) {
                     if (!self)
                         return;
                     if (!decoded.isNull())
                         self->m_imageCache.insert(name, decoded);
                     for (const ImageWaiter &waiter : self->m_imageRequests.take(name)) {
                         if (waiter.receiver)
                             waiter.done(decoded);
                     }
                 });
}

CollectionStore::ImageRoom CollectionStore::imageRoom() const {
    return {imagesDirectory(), m_writer, now()};
}

CollectionStore::StoredImage CollectionStore::storeImage(const ImageImport::Image &image, bool localOnly,
                                                         const ImageRoom &room) {
    StoredImage stored;
    if (!ImageImport::supportedDimensions(image.width, image.height)) {
        stored.failure = kImageTooLarge;
        return stored;
    }
    const qint64 limit = localOnly ? ImageImport::maximumSourceBytes : ImageImport::maximumCloudBytes;
    if (image.png.size() > limit) {
        stored.failure = kImageTooLarge;
        return stored;
    }
    Snip snip;
    snip.imageFile = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
    const QString path = imagePath(room.imagesDirectory, snip.imageFile);
    if (const QString problem = room.writer(path, image.png); !problem.isEmpty()) {
        stored.failure = problem;
        return stored;
    }
    if (localOnly)
        snip.cloudLocalOnly = true;
    snip.createdAt = room.createdAt;
    stored.snip = snip;
    stored.path = path;
    return stored;
}

// ---- Properties ----

void CollectionStore::setCollections(const QList<SnipCollection> &collections) {
    changeCollections([&](QList<SnipCollection> &list) { list = collections; });
}

void CollectionStore::setSelectedID(const OptionalUuid &id) {
    if (m_selectedID == id)
        return;
    m_selectedID = id;
    Q_EMIT selectedIDChanged();
    scheduleSave();
}

void CollectionStore::setSession(const OptionalCaptureSession &session) {
    if (m_session == session)
        return;
    m_session = session;
    Q_EMIT sessionChanged();
    scheduleSave();
}

#define VB_SETTER(Name, member, Type, signal)                                                                \
    void CollectionStore::Name(Type value) {                                                                 \
        if (member == value)                                                                                 \
            return;                                                                                          \
        member = value;                                                                                      \
        Q_EMIT signal();                                                                                     \
    }
VB_SETTER(setSelectedSnipID, m_selectedSnipID, const OptionalUuid &, selectedSnipIDChanged)
VB_SETTER(setSessionSnipID, m_sessionSnipID, const OptionalUuid &, sessionSnipIDChanged)
VB_SETTER(setCaptureChoice, m_captureChoice, const OptionalCaptureChoice &, captureChoiceChanged)
VB_SETTER(setPanelSelections, m_panelSelections, const UuidMap &, panelSelectionsChanged)
VB_SETTER(setIsCapturing, m_isCapturing, bool, isCapturingChanged)
VB_SETTER(setIsExporting, m_isExporting, bool, isExportingChanged)
VB_SETTER(setIsImporting, m_isImporting, bool, isImportingChanged)
VB_SETTER(setIsOpeningProject, m_isOpeningProject, bool, isOpeningProjectChanged)
VB_SETTER(setIsSavingProject, m_isSavingProject, bool, isSavingProjectChanged)
VB_SETTER(setIsRestoring, m_isRestoring, bool, isRestoringChanged)
VB_SETTER(setStatus, m_status, const QString &, statusChanged)
VB_SETTER(setError, m_error, const QString &, errorChanged)
VB_SETTER(setNeedsScreenCapturePermission, m_needsScreenCapturePermission, bool,
          needsScreenCapturePermissionChanged)
VB_SETTER(setExportURL, m_exportURL, const QString &, exportURLChanged)
VB_SETTER(setSaveState, m_saveState, SaveState, saveStateChanged)
VB_SETTER(setCanUndoDelete, m_canUndoDelete, bool, canUndoDeleteChanged)
VB_SETTER(setDeletedCollections, m_deletedCollections, const QList<DeletedCollection> &,
          deletedCollectionsChanged)
VB_SETTER(setCollectionNotice, m_collectionNotice, const QString &, collectionNoticeChanged)
#undef VB_SETTER
