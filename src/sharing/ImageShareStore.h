#pragma once

#include "imaging/ImageImport.h"
#include "model/Snip.h"
#include "sharing/ShareLink.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class AccountStore;
class BackupAPI;
class CollectionStore;

// Shares one annotated image as a link, keeps the links, copies and revokes them. Main thread.
//
// A change of the signed-in user starts a new epoch: what is running is dropped and the lists
// are emptied, so one user's links never show for another.
class ImageShareStore : public QObject {
    Q_OBJECT

public:
    // Without an api the production client is made; without copyURL the clipboard is used.
    explicit ImageShareStore(AccountStore *account, std::unique_ptr<BackupAPI> api = {},
                             std::function<void(const QUrl &)> copyURL = {}, QObject *parent = nullptr);
    ~ImageShareStore() override;

    AccountStore *account() const { return m_account; }
    bool signedIn() const { return m_owner.has_value(); }
    const QList<ShareLink> &links() const { return m_links; }
    bool linksLoaded() const { return m_linksLoaded; }
    // The snip's image is being flattened and uploaded.
    bool isSharing(const QUuid &snipID) const { return m_pending.contains(snipID); }
    // The link made for the snip in this run, while it is not revoked.
    std::optional<ShareLink> linkFor(const QUuid &snipID) const;
    QString failure() const { return m_failure; }
    QString notice() const { return m_notice; }

    // Flattens the snip's image with its marks off the main thread and uploads it.
    void share(const Snip &snip, const CollectionStore &library);
    void refreshLinks();
    // Puts an acceptable link on the clipboard; false for any other.
    bool copy(const ShareLink &link);
    void revoke(const QString &linkID);

    static constexpr qint64 kMaxImageBytes = ImageImport::maximumCloudBytes;
    static const QString kSignInFirst;
    static const QString kTooLarge;
    static const QString kForeignLink;
    static const QString kShared;
    static const QString kCopied;
    static const QString kRevoked;

Q_SIGNALS:
    void stateChanged();

private:
    void ownerChanged();
    void report(const QString &failure, const QString &notice = {});
    struct ServiceCall call(std::function<void(const QString &)> failed);

    AccountStore *m_account;
    std::unique_ptr<BackupAPI> m_api;
    std::function<void(const QUrl &)> m_copyURL;
    std::optional<QString> m_owner;
    QUuid m_epoch = QUuid::createUuid();
    QList<ShareLink> m_links;
    bool m_linksLoaded = false;
    QSet<QUuid> m_pending;
    QHash<QUuid, QString> m_completed; // snip id -> link id
    QString m_failure;
    QString m_notice;
};
