#include "backup/CloudBackupStore.h"

#include "account/AccountStore.h"
#include "backup/BackupFailure.h"
#include "backup/BackupFolder.h"
#include "backup/CloudBackupAPI.h"
#include "backup/ServiceCall.h"
#include "common/Background.h"
#include "model/Ids.h"
#include "store/CollectionStore.h"

#include <QSettings>

const QString CloudBackupStore::kSaveFailed = QStringLiteral(
    "Die Bibliothek konnte nicht gespeichert werden. Die Sicherung wurde deshalb nicht gestartet.");
const QString CloudBackupStore::kBackedUp = QStringLiteral("Die Sicherung ist abgeschlossen.");
const QString CloudBackupStore::kRestored = QStringLiteral(
    "Die Sicherung wurde wiederhergestellt. Ihre Sammlungen stehen als Kopien am Anfang der Liste.");
const QString CloudBackupStore::kDeleted = QStringLiteral("Die Sicherung wurde gelöscht.");

namespace {

const QString kEnabled = QStringLiteral("enabled");
const QString kAutomatic = QStringLiteral("automatic");
const QString kFingerprint = QStringLiteral("fingerprint");
const QString kLastSuccess = QStringLiteral("lastSuccess");
const QString kLastSnapshot = QStringLiteral("lastSnapshot");

struct Outcome {
    QString failure;
};

template <typename T> struct Result : Outcome { T value{}; };

// Runs work on the pool and turns a thrown BackupFailure into its sentence.
template <typename T, typename Work> std::function<Result<T>()> guarded(Work work) {
    return [work = std::move(work)]() mutable {
        Result<T> result;
        try {
            result.value = work();
        } catch (const BackupFailure &failure) {
            result.failure = failure.errorDescription();
        }
        return result;
    };
}

void removeInBackground(const QString &folder) {
    if (!folder.isEmpty())
        Background::pool()->start([folder] { BackupFolder::remove(folder); });
}

} // namespace

struct CloudBackupStore::Task {
    QUuid epoch;
    QString owner;
    QString folder;
    bool folderWithLibrary = false; // the library reads the folder now; it removes it when done
    QString snapshotID;
    BackupManifest manifest;
    QByteArray fingerprint;
    int lanesRunning = 0;
    qsizetype transferred = 0;
};

CloudBackupStore::CloudBackupStore(AccountStore *account, CollectionStore *library,
                                   std::unique_ptr<BackupAPI> api, QSettings *defaults, bool available,
                                   QObject *parent)
    : QObject(parent), m_account(account), m_library(library), m_api(std::move(api)), m_settings(defaults),
      m_available(available) {
    if (!m_api)
        m_api = std::make_unique<CloudBackupAPI>(CloudBackupAPI::base());
    if (!m_settings) {
        m_ownSettings = std::make_unique<QSettings>();
        m_settings = m_ownSettings.get();
    }
    m_clock = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
    m_round.setInterval(kRoundIntervalMs);
    connect(&m_round, &QTimer::timeout, this, &CloudBackupStore::runAutomaticRound);
    connect(m_account, &AccountStore::identityChanged, this, &CloudBackupStore::ownerChanged);
    for (auto signal : {&CollectionStore::isCapturingChanged, &CollectionStore::isExportingChanged,
                        &CollectionStore::isImportingChanged, &CollectionStore::isOpeningProjectChanged,
                        &CollectionStore::isSavingProjectChanged, &CollectionStore::isRestoringChanged})
        connect(m_library, signal, this, &CloudBackupStore::stateChanged);
    m_owner = m_account->identity() ? std::optional(m_account->identity()->sub) : std::nullopt;
    loadSettings();
    updateTimer();
}

CloudBackupStore::~CloudBackupStore() {
    if (m_task && !m_task->folderWithLibrary)
        removeInBackground(m_task->folder);
}

void CloudBackupStore::setClock(Clock clock) {
    m_clock = std::move(clock);
}

void CloudBackupStore::setShowSheet(bool value) {
    if (m_showSheet == value)
        return;
    m_showSheet = value;
    Q_EMIT showSheetChanged();
}

QString CloudBackupStore::settingsKey(const std::optional<QString> &owner, const QString &field) {
    return QStringLiteral("Vellumbox.CloudBackup.") + owner.value_or(QStringLiteral("signed-out")) + u'.' +
           field;
}

void CloudBackupStore::loadSettings() {
    m_enabled = m_settings->value(settingsKey(m_owner, kEnabled), false).toBool();
    m_automatic = m_settings->value(settingsKey(m_owner, kAutomatic), true).toBool();
    const QDateTime last = QDateTime::fromString(
        m_settings->value(settingsKey(m_owner, kLastSuccess)).toString(), Qt::ISODateWithMs);
    m_lastSuccess = last.isValid() ? std::optional(last) : std::nullopt;
}

void CloudBackupStore::store(const QString &field, const QVariant &value) {
    m_settings->setValue(settingsKey(m_owner, field), value);
}

void CloudBackupStore::ownerChanged() {
    const auto &identity = m_account->identity();
    const std::optional<QString> owner = identity ? std::optional(identity->sub) : std::nullopt;
    if (owner == m_owner)
        return;
    if (m_task && !m_task->folderWithLibrary)
        removeInBackground(m_task->folder);
    m_task.reset();
    m_owner = owner;
    m_epoch = QUuid::createUuid();
    m_activity.clear();
    m_failure.clear();
    m_notice.clear();
    m_snapshots.clear();
    m_snapshotsLoaded = false;
    m_lastAutomaticAttempt.reset();
    m_checkingChange = false;
    loadSettings();
    updateTimer();
    Q_EMIT stateChanged();
}

void CloudBackupStore::setEnabled(bool value) {
    setSwitch(m_enabled, kEnabled, value);
}

void CloudBackupStore::setAutomatic(bool value) {
    setSwitch(m_automatic, kAutomatic, value);
}

void CloudBackupStore::setSwitch(bool &member, const QString &field, bool value) {
    // Without a signed-in user there is no account whose settings could change.
    if (!m_owner || member == value)
        return;
    member = value;
    store(field, value);
    updateTimer();
    Q_EMIT stateChanged();
}

void CloudBackupStore::updateTimer() {
    const bool active = m_available && m_owner && m_enabled && m_automatic;
    if (active && !m_round.isActive())
        m_round.start();
    else if (!active)
        m_round.stop();
}

bool CloudBackupStore::libraryIdle() const {
    // A project being opened or saved, or a restore, changes what a backup would pack.
    return !m_library->isBusy() && !m_library->isImporting() && !m_library->isOpeningProject() &&
           !m_library->isSavingProject() && !m_library->isRestoring();
}

bool CloudBackupStore::canBackUpNow() const {
    return m_available && m_owner && m_enabled && !busy() && libraryIdle();
}

std::shared_ptr<CloudBackupStore::Task> CloudBackupStore::begin(const QString &activity, bool keepOutcome) {
    auto task = std::make_shared<Task>();
    task->epoch = m_epoch;
    task->owner = *m_owner;
    m_task = task;
    m_activity = activity;
    if (!keepOutcome) {
        m_failure.clear();
        m_notice.clear();
    }
    Q_EMIT stateChanged();
    return task;
}

ServiceCall CloudBackupStore::callFor(const std::shared_ptr<Task> &task) {
    return {m_account,
            m_api.get(),
            this,
            task->owner,
            [this, task] { return m_task == task && task->epoch == m_epoch; },
            [this, task](const QString &failure) { finish(task, failure); }};
}

void CloudBackupStore::setActivity(const std::shared_ptr<Task> &task, const QString &text) {
    if (m_task != task || m_activity == text)
        return;
    m_activity = text;
    Q_EMIT stateChanged();
}

void CloudBackupStore::finish(const std::shared_ptr<Task> &task, const QString &failure,
                              const QString &notice) {
    if (m_task != task)
        return;
    if (!task->folderWithLibrary)
        removeInBackground(task->folder);
    m_task.reset();
    m_activity.clear();
    m_failure = failure;
    m_notice = failure.isEmpty() ? notice : QString();
    Q_EMIT stateChanged();
}

void CloudBackupStore::backUpNow() {
    if (canBackUpNow())
        backUp();
}

void CloudBackupStore::backUp() {
    const auto task = begin(QStringLiteral("Die Bibliothek wird gespeichert …"));
    // Packing goes on only once the library is on disk; the collections are taken then.
    m_library->save(this, [this, task](bool written) {
        if (m_task != task)
            return;
        if (!written)
            return finish(task, kSaveFailed);
        pack(task);
    });
}

void CloudBackupStore::pack(const std::shared_ptr<Task> &task) {
    setActivity(task, QStringLiteral("Die Sicherung wird vorbereitet …"));
    const QString root = m_library->root();
    const QString images = m_library->imagesDirectory();
    const QList<SnipCollection> collections = m_library->collections();
    Background::run(this, guarded<BackupFolder::Packed>([root, images, collections] {
                        BackupFolder::removeLeftovers(root);
                        return BackupFolder::pack(root, images, collections);
                    }),
                    [this, task](Result<BackupFolder::Packed> packed) {
                        if (m_task != task) {
                            removeInBackground(packed.value.folder);
                            return;
                        }
                        if (!packed.failure.isEmpty())
                            return finish(task, packed.failure);
                        task->folder = packed.value.folder;
                        task->manifest = packed.value.manifest;
                        task->fingerprint = packed.value.fingerprint;
                        setActivity(task, QStringLiteral("Die Sicherung wird angelegt …"));
                        BackupRequest create;
                        create.method = "POST";
                        create.body = task->manifest.encode();
                        callFor(task).send(create, [this, task](const QByteArray &body) {
                            const auto id = BackupReplies::createdID(body);
                            if (!id)
                                return finish(task, CloudBackupAPI::kUnexpected);
                            task->snapshotID = *id;
                            startLanes(task, &CloudBackupStore::upload);
                        });
                    });
}

void CloudBackupStore::startLanes(const std::shared_ptr<Task> &task,
                                  void (CloudBackupStore::*lane)(const std::shared_ptr<Task> &, qsizetype)) {
    task->transferred = 0;
    task->lanesRunning = int(std::min<qsizetype>(kLanes, task->manifest.files.size()));
    for (int first = 0; first < task->lanesRunning; ++first)
        (this->*lane)(task, first);
}

bool CloudBackupStore::laneFinished(const std::shared_ptr<Task> &task) {
    return --task->lanesRunning == 0;
}

void CloudBackupStore::upload(const std::shared_ptr<Task> &task, qsizetype index) {
    const QList<BackupFile> &files = task->manifest.files;
    if (index >= files.size()) {
        if (laneFinished(task))
            completeUpload(task);
        return;
    }
    const BackupFile file = files[index];
    const QString folder = task->folder;
    Background::run(this,
                    guarded<QByteArray>([folder, file] { return BackupFolder::readForUpload(folder, file); }),
                    [this, task, index, file](Result<QByteArray> bytes) {
                        if (m_task != task)
                            return;
                        if (!bytes.failure.isEmpty())
                            return finish(task, bytes.failure);
                        BackupRequest put;
                        put.method = "PUT";
                        put.path = u'/' + task->snapshotID + QStringLiteral("/files/") + file.name;
                        put.body = bytes.value;
                        put.contentType = "application/octet-stream";
                        callFor(task).send(put, [this, task, index](const QByteArray &) {
                            setActivity(task, QStringLiteral("%1 von %2 Dateien hochgeladen …")
                                                  .arg(++task->transferred)
                                                  .arg(task->manifest.files.size()));
                            upload(task, index + kLanes);
                        });
                    });
}

void CloudBackupStore::completeUpload(const std::shared_ptr<Task> &task) {
    setActivity(task, QStringLiteral("Die Sicherung wird abgeschlossen …"));
    BackupRequest complete;
    complete.method = "POST";
    complete.path = u'/' + task->snapshotID + QStringLiteral("/complete");
    callFor(task).send(complete, [this, task](const QByteArray &) {
        store(kFingerprint, QString::fromLatin1(task->fingerprint));
        store(kLastSnapshot, task->snapshotID);
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(qint64(now() * 1000), Qt::UTC);
        store(kLastSuccess, when.toString(Qt::ISODateWithMs));
        m_lastSuccess = when;
        finish(task, {}, kBackedUp);
        refreshSnapshots();
    });
}

void CloudBackupStore::refreshSnapshots() {
    if (!m_available || !m_owner || busy())
        return;
    // Listing keeps what the last backup, restore or deletion said, unless it fails itself.
    const auto task = begin(QStringLiteral("Die Sicherungen werden geladen …"), true);
    const QString notice = m_notice;
    callFor(task).send(BackupRequest{}, [this, task, notice](const QByteArray &body) {
        const auto list = BackupReplies::snapshots(body);
        if (!list)
            return finish(task, CloudBackupAPI::kUnexpected);
        m_snapshots = *list;
        m_snapshotsLoaded = true;
        finish(task, {}, notice);
    });
}

void CloudBackupStore::deleteSnapshot(const QString &snapshotID) {
    if (!m_available || !m_owner || busy() || !parseUuid(snapshotID))
        return;
    const auto task = begin(QStringLiteral("Die Sicherung wird gelöscht …"));
    BackupRequest remove;
    remove.method = "DELETE";
    remove.path = u'/' + snapshotID;
    callFor(task).send(remove, [this, task, snapshotID](const QByteArray &) {
        m_snapshots.removeIf(
            [&snapshotID](const BackupSnapshot &s) { return BackupReplies::sameID(s.id, snapshotID); });
        finish(task, {}, kDeleted);
    });
}

void CloudBackupStore::restore(const QString &snapshotID) {
    if (!m_available || !m_owner || busy() || !parseUuid(snapshotID))
        return;
    const auto task = begin(QStringLiteral("Die Sicherung wird geprüft …"));
    task->snapshotID = snapshotID;
    BackupRequest fetch;
    fetch.path = u'/' + snapshotID;
    callFor(task).send(fetch, [this, task](const QByteArray &body) {
        const auto manifest = BackupReplies::snapshotManifest(body, task->snapshotID);
        if (!manifest)
            return finish(task, BackupFolder::kInvalid);
        task->manifest = *manifest;
        const QString root = m_library->root();
        Background::run(this, guarded<QString>([root] {
                            BackupFolder::removeLeftovers(root);
                            return BackupFolder::create(root);
                        }),
                        [this, task](Result<QString> folder) {
                            if (m_task != task) {
                                removeInBackground(folder.value);
                                return;
                            }
                            if (!folder.failure.isEmpty())
                                return finish(task, folder.failure);
                            task->folder = folder.value;
                            startLanes(task, &CloudBackupStore::download);
                        });
    });
}

void CloudBackupStore::download(const std::shared_ptr<Task> &task, qsizetype index) {
    const QList<BackupFile> &files = task->manifest.files;
    if (index >= files.size()) {
        if (laneFinished(task))
            finishRestore(task);
        return;
    }
    const BackupFile file = files[index];
    const QString folder = task->folder;
    BackupRequest get;
    get.path = u'/' + task->snapshotID + QStringLiteral("/files/") + file.name;
    get.maxReplyBytes = file.size;
    callFor(task).send(get, [this, task, index, folder, file](const QByteArray &bytes) {
        Background::run(this, guarded<bool>([folder, file, bytes] {
                            BackupFolder::storeDownloaded(folder, file, bytes);
                            return true;
                        }),
                        [this, task, index](Result<bool> stored) {
                            if (m_task != task)
                                return;
                            if (!stored.failure.isEmpty())
                                return finish(task, stored.failure);
                            setActivity(task, QStringLiteral("%1 von %2 Dateien geladen …")
                                                  .arg(++task->transferred)
                                                  .arg(task->manifest.files.size()));
                            download(task, index + kLanes);
                        });
    });
}

void CloudBackupStore::finishRestore(const std::shared_ptr<Task> &task) {
    setActivity(task, QStringLiteral("Die Sicherung wird geprüft …"));
    const QString folder = task->folder;
    const BackupManifest manifest = task->manifest;
    Background::run(this, guarded<QList<SnipCollection>>([folder, manifest] {
                        return BackupFolder::readRestored(folder, manifest);
                    }),
                    [this, task](Result<QList<SnipCollection>> restored) {
                        if (m_task != task)
                            return;
                        if (!restored.failure.isEmpty())
                            return finish(task, restored.failure);
                        setActivity(task, QStringLiteral("Die Sammlungen werden hinzugefügt …"));
                        task->folderWithLibrary = true;
                        m_library->restoreCloudCollections(restored.value, task->folder, this,
                                                           [this, task](const QString &failure) {
                                                               removeInBackground(task->folder);
                                                               finish(task, failure, kRestored);
                                                           });
                    });
}

void CloudBackupStore::runAutomaticRound() {
    if (!m_available || !m_owner || !m_enabled || !m_automatic || busy() || m_checkingChange ||
        !libraryIdle())
        return;
    if (m_lastAutomaticAttempt && now() - *m_lastAutomaticAttempt < kAutomaticSpacing)
        return;
    const QString stored = m_settings->value(settingsKey(m_owner, kFingerprint)).toString();
    const QList<SnipCollection> collections = m_library->collections();
    const QUuid epoch = m_epoch;
    m_checkingChange = true;
    Background::run(this, guarded<QByteArray>([collections] {
                        return BackupFolder::fingerprint(BackupFolder::libraryDocument(collections));
                    }),
                    [this, epoch, stored](Result<QByteArray> current) {
                        if (epoch != m_epoch)
                            return;
                        m_checkingChange = false;
                        if (!current.failure.isEmpty() || QString::fromLatin1(current.value) == stored)
                            return;
                        if (!m_enabled || !m_automatic || busy() || !libraryIdle())
                            return;
                        m_lastAutomaticAttempt = now();
                        backUp();
                    });
}
