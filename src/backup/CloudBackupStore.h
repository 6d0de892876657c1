#pragma once

#include "backup/BackupManifest.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class AccountStore;
class BackupAPI;
class CollectionStore;
class QSettings;
struct ServiceCall;

// Backs the library up to the backup service, lists, restores and deletes snapshots. Main thread.
//
// The signed-in user's id is the owner: settings are kept per owner, and a change of owner
// starts a new epoch. Every step of a running task checks its epoch after each wait, so nothing
// that belonged to the previous user reaches the library or the new user's settings.
class CloudBackupStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showSheet READ showSheet WRITE setShowSheet NOTIFY showSheetChanged)
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY stateChanged)
    Q_PROPERTY(bool automatic READ automatic WRITE setAutomatic NOTIFY stateChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY stateChanged)
    Q_PROPERTY(QString activity READ activity NOTIFY stateChanged)
    Q_PROPERTY(QString failure READ failure NOTIFY stateChanged)
    Q_PROPERTY(QString notice READ notice NOTIFY stateChanged)
    Q_PROPERTY(bool canBackUpNow READ canBackUpNow NOTIFY stateChanged)

public:
    // Unix seconds; tests pass their own clock.
    using Clock = std::function<double()>;

    static constexpr int kRoundIntervalMs = 60'000;
    static constexpr double kAutomaticSpacing = 900.0;

    // Without an api the production client is made; without settings the application's are used.
    CloudBackupStore(AccountStore *account, CollectionStore *library, std::unique_ptr<BackupAPI> api = {},
                     QSettings *defaults = nullptr, bool available = true, QObject *parent = nullptr);
    ~CloudBackupStore() override;

    void setClock(Clock clock);

    bool showSheet() const { return m_showSheet; }
    void setShowSheet(bool value);

    bool available() const { return m_available; }
    const std::optional<QString> &owner() const { return m_owner; }
    bool enabled() const { return m_enabled; }
    void setEnabled(bool value);
    bool automatic() const { return m_automatic; }
    void setAutomatic(bool value);
    bool busy() const { return m_task != nullptr; }
    QString activity() const { return m_activity; } // what runs now, empty when idle
    QString failure() const { return m_failure; }   // the last task's failure, shown unchanged
    QString notice() const { return m_notice; }     // the last task's success
    std::optional<QDateTime> lastSuccess() const { return m_lastSuccess; }
    const QList<BackupSnapshot> &snapshots() const { return m_snapshots; }
    bool snapshotsLoaded() const { return m_snapshotsLoaded; }
    // Signed in, switched on, nothing running and the library neither capturing, exporting nor
    // importing.
    bool canBackUpNow() const;
    bool libraryIdle() const;

    void backUpNow();
    void refreshSnapshots();
    // Adds the snapshot's collections to the library as copies; the library is never changed
    // otherwise.
    void restore(const QString &snapshotID);
    void deleteSnapshot(const QString &snapshotID);
    // One pass of the automatic timer: backs up when switched on, at least kAutomaticSpacing
    // seconds after the last automatic attempt, with the library idle and changed since the last
    // backup.
    void runAutomaticRound();

    // "Vellumbox.CloudBackup." + owner id (or "signed-out") + "." + field.
    static QString settingsKey(const std::optional<QString> &owner, const QString &field);

    static const QString kSaveFailed;
    static const QString kBackedUp;
    static const QString kRestored;
    static const QString kDeleted;

Q_SIGNALS:
    void showSheetChanged();
    void stateChanged();

private:
    struct Task;

    double now() const { return m_clock(); }
    void ownerChanged();
    void loadSettings();
    void store(const QString &field, const QVariant &value);
    void setSwitch(bool &member, const QString &field, bool value);
    void updateTimer();
    void backUp();
    // The second step of a backup, after the library was saved: packs and uploads it.
    void pack(const std::shared_ptr<Task> &task);
    std::shared_ptr<Task> begin(const QString &activity, bool keepOutcome = false);
    ServiceCall callFor(const std::shared_ptr<Task> &task);
    void setActivity(const std::shared_ptr<Task> &task, const QString &text);
    void finish(const std::shared_ptr<Task> &task, const QString &failure, const QString &notice = {});
    // Files travel in a few lanes at once, so reading or checking one file overlaps the transfer
    // of another; each lane holds at most one file in memory.
    static constexpr int kLanes = 2;
    void startLanes(const std::shared_ptr<Task> &task,
                    void (CloudBackupStore::*lane)(const std::shared_ptr<Task> &, qsizetype));
    bool laneFinished(const std::shared_ptr<Task> &task);
    void upload(const std::shared_ptr<Task> &task, qsizetype index);
    void completeUpload(const std::shared_ptr<Task> &task);
    void download(const std::shared_ptr<Task> &task, qsizetype index);
    void finishRestore(const std::shared_ptr<Task> &task);

    AccountStore *m_account;
    CollectionStore *m_library;
    std::unique_ptr<BackupAPI> m_api;
    QSettings *m_settings;
    std::unique_ptr<QSettings> m_ownSettings;
    bool m_available;
    Clock m_clock;

    bool m_showSheet = false;
    std::optional<QString> m_owner;
    QUuid m_epoch = QUuid::createUuid();
    bool m_enabled = false;
    bool m_automatic = true;
    std::optional<QDateTime> m_lastSuccess;
    QString m_activity;
    QString m_failure;
    QString m_notice;
    QList<BackupSnapshot> m_snapshots;
    bool m_snapshotsLoaded = false;
    std::shared_ptr<Task> m_task;
    std::optional<double> m_lastAutomaticAttempt;
    bool m_checkingChange = false;
    QTimer m_round;
};
