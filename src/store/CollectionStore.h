#pragma once

#include "imaging/ImageImport.h"
#include "model/Snip.h"
#include "store/AlertPresenter.h"
#include "store/FilePanels.h"
#include "store/ImageCache.h"
#include "store/ImageClipboard.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

using OptionalUuid = std::optional<QUuid>;
using OptionalCaptureSession = std::optional<CaptureSession>;
using OptionalCaptureChoice = std::optional<CaptureChoice>;
using SnipCollectionList = QList<SnipCollection>;
using DeletedCollectionList = QList<DeletedCollection>;
using UuidMap = QHash<QUuid, QUuid>;

// The one library object: the collections, the trash, the selection and the capture round in
// memory, the library file and image folder on disk, and the one-line texts the windows show.
// Main thread only. Every save takes the values on the main thread and encodes and writes them on
// the background pool, one save after the other, so a later save is never overtaken by an older
// one; the outcome reaches saveState and error on the main thread. Changes of collections,
// selectedID and session, whole or in place, are saved 0.35 s after the last one; the operations
// below that save at once queue their save the same way and, where they put their change back on
// a failed save, do so when the last of a chain of failing saves answers, newest first, keeping
// what was changed meanwhile. A save of the chain that is written ends it: all before it is on
// disk then, and nothing goes back.
//
// Work that would hold up the window (decoding, encoding, copying and writing images, reading and
// writing project files) runs on the background pool; its result is applied on the main thread in
// one step, so each operation keeps its order of effects and either happens whole or not at all.
// While one runs, its busy flag is true, from the moment the user confirmed it until its result
// is applied; windows disable the controls of the same operation and of those it refuses:
// - isCapturing: a capture, from the start of the region tool until its image is stored or has
//   failed (set by the capture controller). Another capture, an export, a cloud restore, a new
//   collection, preparing, resuming or finishing a round, and deleting or restoring a collection
//   refuse meanwhile.
// - isExporting: an export (set by the exporter). A capture, another export, a cloud restore, a
//   new collection, preparing a round, and deleting or restoring a collection refuse meanwhile.
// isBusy is the one test for "a capture or an export runs".
// - isImporting: an image import or a paste; a second import or paste refuses.
// - isOpeningProject: a project file being read, checked and its images written; a second open
//   refuses.
// - isSavingProject: a project file being written; a second save refuses.
// - isRestoring: restored cloud collections whose images are being copied in and saved, until it
//   is settled whether they stay; a second restore refuses.
class CollectionStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(SnipCollectionList collections READ collections WRITE setCollections NOTIFY collectionsChanged)
    Q_PROPERTY(OptionalUuid selectedID READ selectedID WRITE setSelectedID NOTIFY selectedIDChanged)
    Q_PROPERTY(
        OptionalUuid selectedSnipID READ selectedSnipID WRITE setSelectedSnipID NOTIFY selectedSnipIDChanged)
    Q_PROPERTY(OptionalCaptureSession session READ session WRITE setSession NOTIFY sessionChanged)
    Q_PROPERTY(
        OptionalUuid sessionSnipID READ sessionSnipID WRITE setSessionSnipID NOTIFY sessionSnipIDChanged)
    Q_PROPERTY(OptionalCaptureChoice captureChoice READ captureChoice WRITE setCaptureChoice NOTIFY
                   captureChoiceChanged)
    Q_PROPERTY(UuidMap panelSelections READ panelSelections NOTIFY panelSelectionsChanged)
    Q_PROPERTY(bool isCapturing READ isCapturing WRITE setIsCapturing NOTIFY isCapturingChanged)
    Q_PROPERTY(bool isExporting READ isExporting WRITE setIsExporting NOTIFY isExportingChanged)
    Q_PROPERTY(bool isImporting READ isImporting WRITE setIsImporting NOTIFY isImportingChanged)
    Q_PROPERTY(bool isOpeningProject READ isOpeningProject NOTIFY isOpeningProjectChanged)
    Q_PROPERTY(bool isSavingProject READ isSavingProject NOTIFY isSavingProjectChanged)
    Q_PROPERTY(bool isRestoring READ isRestoring NOTIFY isRestoringChanged)
    Q_PROPERTY(QString status READ status WRITE setStatus NOTIFY statusChanged)
    Q_PROPERTY(QString error READ error WRITE setError NOTIFY errorChanged)
    Q_PROPERTY(bool needsScreenCapturePermission READ needsScreenCapturePermission WRITE
                   setNeedsScreenCapturePermission NOTIFY needsScreenCapturePermissionChanged)
    Q_PROPERTY(QString exportURL READ exportURL WRITE setExportURL NOTIFY exportURLChanged)
    Q_PROPERTY(SaveState saveState READ saveState NOTIFY saveStateChanged)
    Q_PROPERTY(bool canUndoDelete READ canUndoDelete NOTIFY canUndoDeleteChanged)
    Q_PROPERTY(DeletedCollectionList deletedCollections READ deletedCollections WRITE setDeletedCollections
                   NOTIFY deletedCollectionsChanged)
    Q_PROPERTY(bool canRestoreCollection READ canRestoreCollection NOTIFY deletedCollectionsChanged)
    Q_PROPERTY(QString collectionNotice READ collectionNotice WRITE setCollectionNotice NOTIFY
                   collectionNoticeChanged)
    Q_PROPERTY(QString root READ root CONSTANT)

public:
    // The save indicator: written, waiting for or being written, the last save failed, or writing
    // refused for this run (the library file could not be read nor copied aside).
    enum class SaveState { Saved, Saving, Failed, Disabled };
    Q_ENUM(SaveState)
    // The indicator's German text.
    static QString saveStateText(SaveState state);

    // Reference seconds (since 2001-01-01 UTC); tests pass their own clock.
    using Clock = std::function<double()>;
    // Writes bytes to a file in one step; returns an empty string on success, else a German
    // sentence. Every write of the store goes through it, so tests can make writing fail.
    // Called on the background pool as well as on the main thread, so it must be thread-safe.
    using FileWriter = std::function<QString(const QString &path, const QByteArray &bytes)>;
    // Copies a file into place in one step, streaming; the same rules as the writer. A source that
    // is not a regular file (a symbolic link included) is refused.
    using FileCopier = std::function<QString(const QString &source, const QString &target)>;

    static constexpr int kAutosaveDelayMs = 350;
    static constexpr int kImageCacheCount = 30;
    static constexpr qint64 kImageCacheBytes = 512'000'000;

    // An empty root means the default library folder. Never fails: problems end up in error().
    explicit CollectionStore(const QString &root = QString(), Clock clock = {}, QObject *parent = nullptr);
    ~CollectionStore() override;

    static QString defaultRoot();
    void setFileWriter(FileWriter writer);
    void setFileCopier(FileCopier copier);

    // ---- State ----
    const QList<SnipCollection> &collections() const { return m_collections; }
    void setCollections(const QList<SnipCollection> &collections);
    OptionalUuid selectedID() const { return m_selectedID; }
    void setSelectedID(const OptionalUuid &id);
    OptionalUuid selectedSnipID() const { return m_selectedSnipID; }
    void setSelectedSnipID(const OptionalUuid &id);
    OptionalCaptureSession session() const { return m_session; }
    void setSession(const OptionalCaptureSession &session);
    OptionalUuid sessionSnipID() const { return m_sessionSnipID; }
    void setSessionSnipID(const OptionalUuid &id);
    OptionalCaptureChoice captureChoice() const { return m_captureChoice; }
    void setCaptureChoice(const OptionalCaptureChoice &choice);
    const UuidMap &panelSelections() const { return m_panelSelections; }
    bool isCapturing() const { return m_isCapturing; }
    void setIsCapturing(bool value);
    bool isExporting() const { return m_isExporting; }
    void setIsExporting(bool value);
    // A capture or an export runs: the operations that must not overlap with them refuse.
    bool isBusy() const { return m_isCapturing || m_isExporting; }
    bool isImporting() const { return m_isImporting; }
    void setIsImporting(bool value);
    bool isOpeningProject() const { return m_isOpeningProject; }
    bool isSavingProject() const { return m_isSavingProject; }
    bool isRestoring() const { return m_isRestoring; }
    QString status() const { return m_status; }
    void setStatus(const QString &text);
    QString error() const { return m_error; } // empty: no error
    void setError(const QString &text);
    bool needsScreenCapturePermission() const { return m_needsScreenCapturePermission; }
    void setNeedsScreenCapturePermission(bool value);
    QString exportURL() const { return m_exportURL; } // a file path; empty: none
    void setExportURL(const QString &path);
    SaveState saveState() const { return m_saveState; }
    QString saveStateText() const { return saveStateText(m_saveState); }
    // False for the rest of the run once an unreadable library file could not be copied aside.
    bool writingEnabled() const { return m_writeEnabled; }
    bool canUndoDelete() const { return m_canUndoDelete; }
    const QList<DeletedCollection> &deletedCollections() const { return m_deletedCollections; }
    void setDeletedCollections(const QList<DeletedCollection> &list);
    bool canRestoreCollection() const { return !m_deletedCollections.isEmpty(); }
    QString collectionNotice() const { return m_collectionNotice; } // empty: none
    void setCollectionNotice(const QString &text);
    QString root() const { return m_root; }

    // The round's collection id while a round runs; none without a round or while it is paused.
    OptionalUuid activeCollectionID() const;
    QString imagesDirectory() const;
    QString libraryPath() const;

    // ---- Library file ----
    // Saves the library now: the values are taken here and written on the background pool after
    // the saves before them. `done`, when given, learns on the main thread whether library.json was
    // written (false at once when writing is disabled), never inside this call, and only while
    // `receiver` exists. Saves asked for while one is written are written together after it.
    void save(QObject *receiver = nullptr, std::function<void(bool written)> done = {});
    // For quitting and the end of the session only: finishes the pending work, then writes the
    // library on the calling thread; true when library.json was written.
    bool saveAtExit();
    // Waits for the work the store handed to the background pool (saves, a capture being stored,
    // a project being opened or saved, a restore, image decodes) and applies its results, so
    // nothing the user already did is dropped when the process ends. Runs nothing else that waits
    // in the event queue. Blocks the calling (main) thread.
    void finishPendingWork();

    // ---- Image files ----
    // The path of the image file name inside the Images folder; throws AppFailure for a name
    // that could leave the folder or is not a PNG name. Does not touch the disk.
    QString imageURL(const QString &name) const;
    // The decoded image of the snip, or a null image. Decodes on the calling thread: windows use
    // requestImage instead.
    QImage image(const Snip &snip);
    // Hands the snip's decoded image (a null image when it cannot be read) to `done` on the main
    // thread: from the cache right away, otherwise after decoding on the background pool, once for
    // all requests of the same image that wait meanwhile. Dropped when `receiver` is gone by then.
    void requestImage(const Snip &snip, QObject *receiver, std::function<void(const QImage &)> done);

    // ==== Capture intake, capture rounds, panel selection, snip editing and the trash ====
    // (CollectionStoreCapture.cpp, CollectionStoreEditing.cpp, CollectionStoreTrash.cpp)

    // Capture destination and intake.
    static constexpr qint64 kCaptureCloudLimit = ImageImport::maximumCloudBytes;
    // Where the next capture goes: the chosen collection, the running round's, a reusable empty
    // one, or a new one that enters the library only when a capture arrives. Changes nothing.
    CaptureTarget captureTarget() const;
    // The current collection when it is empty, else the first empty collection.
    std::optional<SnipCollection> reusableEmptyCollection() const;
    // Checks the captured PNG bytes and writes the new snip's image on the background pool, then
    // adds the snip to the target and saves at once. When a round operation (pausing or finishing
    // included) ran meanwhile, the snip is still added, but the round, the destination and the
    // status stay as that operation left them. `done` receives an empty text on success, else the
    // German sentence of the failure, after which nothing has changed and no image is left. It
    // runs on the main thread, never inside this call, and only while `receiver` exists; the
    // capture is stored all the same.
    void addCapture(const QByteArray &data, const CaptureTarget &target, QObject *receiver,
                    std::function<void(const QString &failure)> done);

    // Capture rounds. Refusals return false without any text, also while writing is disabled;
    // otherwise the change is made at once and saved, and a failed save, which reports itself,
    // puts back every value the operation set that still holds it (the selection finishing chose
    // stays) and leaves a further attempt to the delayed save; failing saves in a row put back
    // their operations newest first.
    static constexpr double kCaptureIdleInterval = 600.0;
    std::optional<SnipCollection> sessionCollection() const;
    // Whether the shortcut may go on into the running round at reference time now.
    bool canContinueQuickCapture(double now) const;
    bool prepareCapture(const CaptureChoice &choice);
    bool resumeCollection(const QUuid &id);
    void pauseSession();
    bool finishSession();
    void newCollection();

    // The capture panel's collection and snip.
    std::optional<SnipCollection> panelCollection() const;
    std::optional<Snip> panelSnip() const;
    void selectPanelSnip(const QUuid &id);
    // Edits a snip of the collection the panel shows; dropped when the panel moved on.
    void editPanelSnip(const QUuid &snipID, const QUuid &collectionID,
                       const std::function<void(Snip &)> &edit);

    // Snip editing, reordering and deletion undo; these reach the disk through the autosave.
    // The collection whose id is selectedID.
    std::optional<SnipCollection> current() const;
    void editCurrent(const std::function<void(SnipCollection &)> &edit);
    void editSnip(const QUuid &id, const std::function<void(Snip &)> &edit);
    void editSessionSnip(const QUuid &id, const std::function<void(Snip &)> &edit);
    // Clearing the flag first checks the image against the cloud limit; a refusal goes to error.
    void setLocalOnly(const Snip &snip, bool localOnly);
    // Swaps the snip with the one offset places away in the current collection.
    void move(const QUuid &id, int offset);
    // Puts the snip directly in front of the target snip in the current collection.
    void move(const QUuid &id, const QUuid &before);
    // The same for a dragged snip whose id arrives as dropped text; other text changes nothing.
    void moveDropped(QStringView droppedText, const QUuid &before);
    void deleteSnip(const QUuid &id);
    void undoDelete();

    // The collection trash: both refuse with false (also while writing is disabled), or make
    // their change at once and save it; a failed save puts back every property that still holds
    // the value the operation gave it, and the delayed save tries again. Failing saves in a row
    // put back their operations newest first, so collections and trash come back as they were.
    bool deleteCollection(const QUuid &id);
    bool restoreDeletedCollection();

Q_SIGNALS:
    void collectionsChanged();
    void selectedIDChanged();
    void selectedSnipIDChanged();
    void sessionChanged();
    void sessionSnipIDChanged();
    void captureChoiceChanged();
    void panelSelectionsChanged();
    void isCapturingChanged();
    void isExportingChanged();
    void isImportingChanged();
    void isOpeningProjectChanged();
    void isSavingProjectChanged();
    void isRestoringChanged();
    void statusChanged();
    void errorChanged();
    void needsScreenCapturePermissionChanged();
    void exportURLChanged();
    void saveStateChanged();
    void canUndoDeleteChanged();
    void deletedCollectionsChanged();
    void collectionNoticeChanged();

private:
    // The one path for in-place changes of the collections: edit, publish, schedule the save.
    template <typename Edit> void changeCollections(Edit &&edit) {
        edit(m_collections);
        Q_EMIT collectionsChanged();
        scheduleSave();
    }
    void scheduleSave();
    // Where the library's saves meet, on the main thread and on the pool.
    struct SaveLine;
    // Finished background steps waiting for the main thread.
    struct WorkLine;
    using SaveDone = std::function<void(bool written)>;
    SavedLibrary snapshot() const;
    // Encodes and writes one snapshot: the failure's sentence, empty when written. Any thread.
    static QString writeSnapshot(const SavedLibrary &library, const QString &path, const FileWriter &writer);
    // Shows how a save ended; true when it was written.
    bool applySave(const QString &problem);
    // Takes the values now and writes them on the pool; `waiting` learn the outcome.
    void startSave(QList<SaveDone> waiting);
    // What puts an operation's change back after the saves that carried it failed: each value only
    // while it still holds what the operation gave it.
    struct PutBack {
        std::function<void()> undo;
        // Learns how the chain of saves that carried the change ended, after every put-back of the
        // chain has run: true when a save of it was written, so the change stays.
        std::function<void(bool kept)> settled;
        // Whether a delayed save follows the put-back. The round and trash operations ask for it:
        // their save also took in the edits that were waiting for it, then still only in memory.
        bool saveLater = true;
    };
    // Saves at once for an operation whose change goes back when the save fails; the delayed save
    // then tries again.
    void saveOrPutBack(std::function<void()> undo);
    void requestSave(SaveDone waiter, PutBack putBack);
    // Runs the put-backs of a failed save, newest first, or hands them on to the save behind it;
    // returns those whose chain ended here.
    QList<PutBack> saveFailed(const QList<PutBack> &putBacks);
    // When this operation's save waits behind another, that save writes this selection rather than
    // the one chosen afterwards, which is left to the delayed save.
    void holdSelectionForTheNextSave(const OptionalUuid &selectedID);
    // The delayed save.
    void autosave();
    // A change that may not be on disk yet: its save is scheduled or waits for the one under way.
    bool changeWaiting() const;
    // Puts back the changes of a chain of failed saves. The file still holds what it held before,
    // so unless another change waits for its own save, no save follows and the indicator keeps the
    // failure.
    void putBack(const std::function<void()> &undo);
    // The same for a chain that holds a round or trash operation, whose save also took in edits
    // that were waiting for the delayed save: those are still only in memory, so the delayed save
    // follows.
    void putBackAndSaveLater(const std::function<void()> &undo);
    // Resumes the round on the collection (no checks) and returns what puts back each value it
    // set that still holds that value.
    std::function<void()> applyResume(const QUuid &id);
    // Selects the collection now at `index` (the last one when the list is shorter) and its first
    // snip, or nothing in an empty library: where deleting the selected collection leaves it.
    void selectInPlaceOf(qsizetype index);
    // Gives the selection back to `id` and `snipID` when that collection is still there (or none
    // was selected); otherwise it goes where deleting the collection at `index` would leave it.
    void putBackSelection(const OptionalUuid &id, const OptionalUuid &snipID, qsizetype index);
    // Whether a destination may be given back: none, a new collection, or one still in the library.
    bool choiceStillValid(const OptionalCaptureChoice &choice) const;
    // The refusal of an operation that saves while writing is disabled.
    bool refuseWhenDisabled();
    void setSaveState(SaveState state);
    // Runs the first finished background step, if any; false when none was waiting.
    static bool applyFinished(WorkLine &line);
    void setCanUndoDelete(bool value);
    void setPanelSelections(const UuidMap &map);
    void load();
    double now() const { return m_clock(); }
    qsizetype indexOfCollection(const QUuid &id) const;
    void setIsOpeningProject(bool value);
    void setIsSavingProject(bool value);
    void setIsRestoring(bool value);

    // Runs `work` on the background pool and hands its result to `apply` on the main thread with
    // this store, or with nullptr when the store is gone by then (so files written for it can be
    // taken back). `work` must not throw.
    template <typename Work, typename Apply> void inBackground(Work work, Apply apply);

    // Where and how a new snip image is written, taken on the main thread for work elsewhere.
    struct ImageRoom {
        QString imagesDirectory;
        FileWriter writer;
        double createdAt = 0;
    };
    ImageRoom imageRoom() const;
    // imageURL for any folder; any thread.
    static QString imagePath(const QString &imagesDirectory, const QString &name);
    // A new snip image that was written, or why it was not; the path lets a later failure remove it.
    struct StoredImage {
        std::optional<Snip> snip;
        QString path;
        QString failure;
    };
    // The one writer of new snip images, for captures and imports: checks the copy against its
    // size limit and writes it under a new name. Any thread.
    static StoredImage storeImage(const ImageImport::Image &image, bool localOnly, const ImageRoom &room);
    // roundChosen: the user paused, ended or moved the round while the image was being stored.
    void finishCapture(const StoredImage &stored, bool localOnly, const CaptureTarget &target,
                       bool roundChosen);
    void finishRestore(const QList<SnipCollection> &restored, const QStringList &copied,
                       const std::function<void(const QString &)> &done);

    QList<SnipCollection> m_collections;
    OptionalUuid m_selectedID;
    OptionalUuid m_selectedSnipID;
    OptionalCaptureSession m_session;
    OptionalUuid m_sessionSnipID;
    OptionalCaptureChoice m_captureChoice;
    UuidMap m_panelSelections;
    std::optional<double> m_lastCaptureActivity;
    // Counts the round operations, so a capture stored meanwhile knows the round was chosen anew.
    quint64 m_roundChoices = 0;
    bool m_isCapturing = false;
    bool m_isExporting = false;
    bool m_isImporting = false;
    bool m_isOpeningProject = false;
    bool m_isSavingProject = false;
    bool m_isRestoring = false;
    int m_pendingWork = 0; // background steps whose results have not been applied yet
    QString m_status;
    QString m_error;
    bool m_needsScreenCapturePermission = false;
    QString m_exportURL;
    SaveState m_saveState = SaveState::Saved;
    bool m_canUndoDelete = false;
    QList<DeletedCollection> m_deletedCollections;
    QString m_collectionNotice;
    QString m_root;

    struct DeletedItem {
        QUuid collection;
        qsizetype index = 0;
        Snip item;
    };
    std::optional<DeletedItem> m_deletedItem;

    Clock m_clock;
    FileWriter m_writer;
    FileCopier m_copier;
    QTimer m_saveTimer;
    std::shared_ptr<SaveLine> m_saveLine;
    std::shared_ptr<WorkLine> m_workLine;
    bool m_saveRunning = false;
    bool m_saveAgain = false;                    // another save was asked for while one is written
    QList<SaveDone> m_nextSaveWaiting;           // those waiting for that next save
    QList<PutBack> m_nextPutBacks;               // of the operations that next save carries, oldest first
    std::optional<OptionalUuid> m_heldSelection; // written by the next save in place of selectedID
    bool m_loading = true;
    bool m_writeEnabled = true;
    ImageCache m_imageCache{kImageCacheCount, kImageCacheBytes};
    struct ImageWaiter {
        QPointer<QObject> receiver;
        std::function<void(const QImage &)> done;
    };
    QHash<QString, QList<ImageWaiter>> m_imageRequests; // decodes under way, by file name

    // ==== Exchange: project files, restored cloud collections, image import and paste ====
    // (CollectionStoreExchange.cpp)
public:
    // The panels and alerts the exchange operations ask through; without them those operations
    // do nothing. The clipboard is the system's unless another is set.
    void setFilePanels(std::unique_ptr<FilePanels> panels);
    FilePanels *filePanels() const { return m_filePanels.get(); }
    void setAlertPresenter(std::unique_ptr<AlertPresenter> alerts);
    void setImageClipboard(std::unique_ptr<ImageClipboard> clipboard);
    // Checks one image file for the import, off the main thread; ImageImport::review by default.
    using FileReviewer = std::function<ImageImport::Review(const QString &path)>;
    void setFileReviewer(FileReviewer reviewer);

    // Asks for a destination and writes the current collection, as it was when asked, as a
    // project file on the background pool (isSavingProject); failures go to error(), success to
    // exportURL().
    void saveProject();
    // Asks for a project file, reads and checks it and writes its images on the background pool
    // (isOpeningProject), then puts its collection first, under new ids, selected. No image is
    // written until every snip has passed its checks, and none is left when writing fails.
    void openProject();
    // Adds restored collections in front as copies with new ids (collections, snips and marks),
    // new image files and a marked title, and saves at once. The images are copied on the
    // background pool (isRestoring, until it is settled whether the saves keep them); a symbolic
    // link or any other file that is not a regular one is refused. A failed save puts the restore
    // back like the round and trash operations: when the last of a chain of failing saves answers,
    // newest first; a later save of the chain that is written keeps it. `done` receives an empty
    // text on success, else the German sentence of the failure, after which the library and the
    // Images folder are as they were (running out of memory included). It runs on the main thread,
    // never inside this call, and only while `receiver` exists.
    void restoreCloudCollections(const QList<SnipCollection> &collections, const QString &imagesFolder,
                                 QObject *receiver, std::function<void(const QString &failure)> done);
    // Asks for image files, checks them one after another off the main thread and adds them to
    // the collection selected when the import began.
    void importImages();
    // The same for the image on the clipboard. Its bytes get the checks of an imported file
    // before anything is decoded.
    void pasteImage();

private:
    struct ImportRun;
    struct ReviewOutcome {
        std::optional<ImageImport::Review> review;
        QString failure;
    };
    struct ImportChoice {
        ImageImport::Image image;
        bool localOnly = false;
    };
    void writeProject(const SnipCollection &collection, const QString &path);
    void takeInProject(const QString &path);
    void importNext(const std::shared_ptr<ImportRun> &run);
    // The collection an import or paste fills: the current one, or a new one when there is none.
    std::optional<QUuid> importTargetID();
    void reviewOffMainThread(std::function<ImageImport::Review()> review,
                             std::function<void(const ReviewOutcome &)> done);
    void chooseImport(const ImageImport::Review &review, const QString &name,
                      std::function<void(const std::optional<ImportChoice> &)> answer);
    // Writes the chosen copy off the main thread and appends its snip to the collection; `done`
    // gets the failure's sentence, empty on success.
    void addReviewedImage(const ImageImport::Image &image, bool localOnly, const QUuid &collectionID,
                          std::function<void(const QString &failure)> done);

    std::unique_ptr<FilePanels> m_filePanels;
    std::unique_ptr<AlertPresenter> m_alertPresenter;
    std::unique_ptr<ImageClipboard> m_imageClipboard;
    FileReviewer m_fileReviewer;
    // Raised as the store goes: quitting saves without waiting for an image check still running on
    // the pool, which then ends between the bands of rows it decodes, so the program's end does not
    // wait for it either.
    std::shared_ptr<std::atomic<bool>> m_gone = std::make_shared<std::atomic<bool>>(false);
};
