#include "backup/CloudBackupView.h"

#include "account/AccountStore.h"
#include "account/SheetParts.h"
#include "backup/CloudBackupStore.h"
#include "imaging/ImageImport.h"
#include "look/Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace SheetParts;

namespace {

QString dateText(const QDateTime &date) {
    return date.toLocalTime().toString(QStringLiteral("dd.MM.yyyy, HH:mm"));
}

} // namespace

QString CloudBackupView::snapshotText(const BackupSnapshot &snapshot) {
    const QString files = snapshot.fileCount == 1
                              ? QStringLiteral("1 Datei")
                              : QString::number(snapshot.fileCount) + QStringLiteral(" Dateien");
    return dateText(snapshot.createdAt) + QStringLiteral(" · ") + files + QStringLiteral(" · ") +
           ImageImport::byteCountText(snapshot.byteCount);
}

CloudBackupView::CloudBackupView(CloudBackupStore *backup, AccountStore *account, QWidget *parent)
    : QDialog(parent), m_backup(backup), m_account(account),
      m_refresh(new CoalescedRefresh(this, [this] { refresh(); })) {
    QVBoxLayout *layout = sheet(this, QStringLiteral("Cloud-Sicherung"), 480);
    layout->setSpacing(12);

    m_signedOut = new QWidget(this);
    auto *signedOutLayout = new QVBoxLayout(m_signedOut);
    signedOutLayout->setContentsMargins(0, 0, 0, 0);
    auto *signedOutText = label(m_signedOut, 13, QFont::Normal, Theme::secondaryInk());
    signedOutText->setText(
        QStringLiteral("Melde dich an, um deine Sammlungen in der Cloud zu sichern. Eine "
                       "Sicherung kommt immer als zusätzliche Kopie zurück und ersetzt nichts."));
    auto *signIn = button(m_signedOut, QStringLiteral("Anmelden / Registrieren"), true);
    signedOutLayout->addWidget(signedOutText);
    signedOutLayout->addWidget(signIn, 0, Qt::AlignLeft);

    m_unavailable = label(this, 13, QFont::Normal, Theme::secondaryInk());
    m_unavailable->setText(QStringLiteral("Die Cloud-Sicherung ist derzeit nicht verfügbar."));

    m_signedIn = new QWidget(this);
    auto *in = new QVBoxLayout(m_signedIn);
    in->setContentsMargins(0, 0, 0, 0);
    in->setSpacing(10);
    m_enabled = new QCheckBox(QStringLiteral("Cloud-Sicherung aktivieren"), m_signedIn);
    m_enabled->setFont(Theme::font(13, QFont::Medium));
    m_automatic = new QCheckBox(QStringLiteral("Automatisch sichern, wenn sich etwas geändert hat "
                                               "(höchstens alle 15 Minuten)"),
                                m_signedIn);
    m_automatic->setFont(Theme::font(13));
    m_backUpNow = button(m_signedIn, QStringLiteral("Jetzt sichern"), true);
    m_lastSuccess = label(m_signedIn, 12, QFont::Normal, Theme::secondaryInk(), false);
    m_lastSuccess->setObjectName(QStringLiteral("lastSuccess"));
    auto *now = new QHBoxLayout;
    now->addWidget(m_backUpNow);
    now->addSpacing(10);
    now->addWidget(m_lastSuccess, 1);
    auto *localOnly = label(m_signedIn, 12, QFont::Normal, Theme::secondaryInk());
    localOnly->setText(
        QStringLiteral("Ausschnitte, die nur lokal gespeichert werden, sind in Sicherungen nicht "
                       "enthalten."));
    m_busy = busyBar(m_signedIn);
    m_activity = label(m_signedIn, 12, QFont::Normal, Theme::secondaryInk());
    m_activity->setObjectName(QStringLiteral("activity"));
    m_failure = label(m_signedIn, 12, QFont::Medium, Theme::ink());
    m_failure->setObjectName(QStringLiteral("failure"));
    m_notice = label(m_signedIn, 12, QFont::Normal, Theme::accent());
    m_notice->setObjectName(QStringLiteral("notice"));
    auto *listTitle = label(m_signedIn, 13, QFont::DemiBold, Theme::ink());
    listTitle->setText(QStringLiteral("Sicherungen in der Cloud"));
    m_snapshots = new RowList(m_signedIn, QStringLiteral("Noch keine Sicherungen in der Cloud."),
                              QStringLiteral("snapshot"));

    in->addWidget(m_enabled);
    in->addWidget(m_automatic);
    in->addLayout(now);
    in->addWidget(localOnly);
    in->addWidget(m_busy);
    in->addWidget(m_activity);
    in->addWidget(m_failure);
    in->addWidget(m_notice);
    in->addSpacing(6);
    in->addWidget(listTitle);
    in->addWidget(m_snapshots, 1);

    layout->addWidget(m_unavailable);
    layout->addWidget(m_signedOut);
    layout->addWidget(m_signedIn, 1);
    // Signed out, the sheet is as high as its few lines; below them stands only the close button.
    layout->addStretch(0);
    closeButton(this, layout);

    connect(signIn, &QPushButton::clicked, this, [this] {
        // The account sheet takes this sheet's place.
        reject();
        m_account->setShowSheet(true);
    });
    connect(m_enabled, &QCheckBox::clicked, m_backup, &CloudBackupStore::setEnabled);
    connect(m_automatic, &QCheckBox::clicked, m_backup, &CloudBackupStore::setAutomatic);
    connect(m_backUpNow, &QPushButton::clicked, m_backup, &CloudBackupStore::backUpNow);
    connect(m_backup, &CloudBackupStore::stateChanged, m_refresh, &CoalescedRefresh::schedule);
    connect(m_account, &AccountStore::identityChanged, m_refresh, &CoalescedRefresh::schedule);
    refresh();
}

CloudBackupView::~CloudBackupView() = default;

void CloudBackupView::showEvent(QShowEvent *event) {
    fitToContent(this, m_signedIn->isHidden() ? 0 : kSignedInHeight);
    QDialog::showEvent(event);
    m_backup->refreshSnapshots();
}

void CloudBackupView::refresh() {
    showState();
    // The list of backups needs room; the other states are a few lines.
    fitToContent(this, m_signedIn->isHidden() ? 0 : kSignedInHeight);
}

void CloudBackupView::showState() {
    const bool available = m_backup->available();
    const bool signedIn = available && m_backup->owner().has_value();
    setShown(m_unavailable, !available);
    setShown(m_signedOut, available && !signedIn);
    setShown(m_signedIn, signedIn);
    if (m_backup->owner() != m_shownOwner) {
        m_shownOwner = m_backup->owner();
        if (signedIn && isVisible())
            m_backup->refreshSnapshots();
    }
    if (!signedIn)
        return;

    if (m_enabled->isChecked() != m_backup->enabled())
        m_enabled->setChecked(m_backup->enabled());
    if (m_automatic->isChecked() != m_backup->automatic())
        m_automatic->setChecked(m_backup->automatic());
    enable(m_automatic, m_backup->enabled());
    enable(m_backUpNow, m_backup->canBackUpNow());
    const auto last = m_backup->lastSuccess();
    setText(m_lastSuccess, last ? QStringLiteral("Zuletzt gesichert: ") + dateText(*last)
                                : QStringLiteral("Noch keine Sicherung"));
    setShown(m_busy, m_backup->busy());
    setText(m_activity, m_backup->activity());
    setShown(m_activity, m_backup->busy());
    setText(m_failure, m_backup->failure());
    setShown(m_failure, !m_backup->failure().isEmpty());
    setText(m_notice, m_backup->notice());
    setShown(m_notice, !m_backup->notice().isEmpty());

    const bool buttonsEnabled = !m_backup->busy() && m_backup->libraryIdle();
    if (m_backup->snapshots() != m_shownSnapshots || buttonsEnabled != m_snapshotButtonsEnabled) {
        m_shownSnapshots = m_backup->snapshots();
        m_snapshotButtonsEnabled = buttonsEnabled;
        rebuildSnapshots();
    }
    m_snapshots->setEmptyNoteShown(m_backup->snapshotsLoaded() && m_shownSnapshots.isEmpty());
}

void CloudBackupView::rebuildSnapshots() {
    QList<RowList::Row> rows;
    for (const BackupSnapshot &snapshot : std::as_const(m_shownSnapshots)) {
        const QString when = dateText(snapshot.createdAt);
        const QString id = snapshot.id;
        const auto restore = [this, id, when] {
            confirm(QStringLiteral("Sicherung wiederherstellen?"),
                    QStringLiteral("Die Sammlungen der Sicherung vom %1 werden als Kopien hinzugefügt. Deine "
                                   "vorhandenen Sammlungen bleiben unverändert.")
                        .arg(when),
                    QStringLiteral("Wiederherstellen"), [this, id] { m_backup->restore(id); });
        };
        const auto remove = [this, id, when] {
            confirm(QStringLiteral("Sicherung löschen?"),
                    QStringLiteral("Die Sicherung vom %1 wird endgültig aus der Cloud gelöscht.").arg(when),
                    QStringLiteral("Löschen"), [this, id] { m_backup->deleteSnapshot(id); });
        };
        rows.append({snapshotText(snapshot),
                     {{QStringLiteral("Wiederherstellen"), restore}, {QStringLiteral("Löschen"), remove}}});
    }
    m_snapshots->setRows(rows, m_snapshotButtonsEnabled);
}

void CloudBackupView::confirm(const QString &title, const QString &text, const QString &action,
                              std::function<void()> then) {
    auto *box = new QMessageBox(QMessageBox::Question, title, text, QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QPushButton *yes = box->addButton(action, QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
    box->setDefaultButton(yes);
    connect(box, &QMessageBox::buttonClicked, this, [yes, then = std::move(then)](QAbstractButton *clicked) {
        if (clicked == yes)
            then();
    });
    box->open();
}
