#include "sharing/ImageShareStore.h"

#include "account/AccountStore.h"
#include "backup/BackupAPI.h"
#include "backup/BackupFolder.h"
#include "backup/CloudBackupAPI.h"
#include "backup/ServiceCall.h"
#include "common/Background.h"
#include "export/ImageRenderer.h"
#include "imaging/ImageImport.h"
#include "imaging/RegularFile.h"
#include "model/AppFailure.h"
#include "model/Ids.h"
#include "store/CollectionStore.h"

#include <QClipboard>
#include <QGuiApplication>

const QString ImageShareStore::kSignInFirst =
    QStringLiteral("Bitte melde dich an, um Bilder als Link zu teilen.");
const QString ImageShareStore::kTooLarge =
    QStringLiteral("Das Bild ist mit seinen Markierungen größer als 25 MB und kann nicht geteilt werden.");
const QString ImageShareStore::kForeignLink =
    QStringLiteral("Der Teilen-Dienst hat einen ungültigen Link geliefert. Er wird nicht verwendet.");
const QString ImageShareStore::kShared = QStringLiteral("Der Link ist erstellt und 7 Tage gültig.");
const QString ImageShareStore::kCopied = QStringLiteral("Der Link wurde kopiert.");
const QString ImageShareStore::kRevoked = QStringLiteral("Der Link wurde widerrufen.");

namespace {

using BackupReplies::sameID;

struct Prepared {
    FlattenedImage image;
    QByteArray sha256;
    QString failure;
};

Prepared prepare(const QString &path, const MarkList &marks) {
    Prepared prepared;
    try {
        // An original too large is refused by its size, before any of it is read.
        RegularFile file(path);
        ImageImport::validateSourceSize(file.size());
        QByteArray source(file.size(), Qt::Uninitialized);
        source.truncate(file.readInto(source.data(), source.size()));
        prepared.image = ImageRenderer::flatten(source, marks);
        if (prepared.image.png.size() > ImageShareStore::kMaxImageBytes)
            prepared.failure = ImageShareStore::kTooLarge;
        else
            prepared.sha256 = BackupFolder::sha256Hex(prepared.image.png);
    } catch (const AppFailure &failure) {
        prepared.failure = failure.errorDescription();
    }
    return prepared;
}

QString failureFor(ShareLinks::Problem problem) {
    return problem == ShareLinks::Problem::ForeignLink ? ImageShareStore::kForeignLink
                                                       : CloudBackupAPI::kUnexpected;
}

} // namespace

ImageShareStore::ImageShareStore(AccountStore *account, std::unique_ptr<BackupAPI> api,
                                 std::function<void(const QUrl &)> copyURL, QObject *parent)
    : QObject(parent), m_account(account), m_api(std::move(api)), m_copyURL(std::move(copyURL)) {
    if (!m_api)
        m_api = std::make_unique<CloudBackupAPI>(CloudBackupAPI::shareBase());
    if (!m_copyURL)
        m_copyURL = [](const QUrl &url) {
            QGuiApplication::clipboard()->setText(url.toString(QUrl::FullyEncoded));
        };
    connect(m_account, &AccountStore::identityChanged, this, &ImageShareStore::ownerChanged);
    if (m_account->identity())
        m_owner = m_account->identity()->sub;
}

ImageShareStore::~ImageShareStore() = default;

void ImageShareStore::ownerChanged() {
    const auto &identity = m_account->identity();
    const std::optional<QString> owner = identity ? std::optional(identity->sub) : std::nullopt;
    if (owner == m_owner)
        return;
    m_owner = owner;
    m_epoch = QUuid::createUuid();
    m_links.clear();
    m_linksLoaded = false;
    m_pending.clear();
    m_completed.clear();
    m_failure.clear();
    m_notice.clear();
    Q_EMIT stateChanged();
}

std::optional<ShareLink> ImageShareStore::linkFor(const QUuid &snipID) const {
    const QString id = m_completed.value(snipID);
    for (const ShareLink &link : m_links)
        if (sameID(link.id, id))
            return link;
    return std::nullopt;
}

void ImageShareStore::report(const QString &failure, const QString &notice) {
    m_failure = failure;
    m_notice = failure.isEmpty() ? notice : QString();
    Q_EMIT stateChanged();
}

ServiceCall ImageShareStore::call(std::function<void(const QString &)> failed) {
    const QUuid epoch = m_epoch;
    return {m_account,
            m_api.get(),
            this,
            m_owner.value_or(QString()),
            [this, epoch] { return epoch == m_epoch; },
            std::move(failed)};
}

void ImageShareStore::share(const Snip &snip, const CollectionStore &library) {
    if (!m_owner)
        return report(kSignInFirst);
    if (m_pending.contains(snip.id))
        return;
    QString path;
    try {
        path = library.imageURL(snip.imageFile);
    } catch (const AppFailure &failure) {
        return report(failure.errorDescription());
    }
    m_pending.insert(snip.id);
    report({});
    const QUuid snipID = snip.id;
    const QUuid epoch = m_epoch;
    const auto failed = [this, snipID](const QString &failure) {
        m_pending.remove(snipID);
        report(failure);
    };
    Background::run(
        this, [path, marks = snip.marks] { return prepare(path, marks); },
        [this, epoch, snipID, failed](Prepared prepared) {
            if (epoch != m_epoch)
                return;
            if (!prepared.failure.isEmpty())
                return failed(prepared.failure);
            const ServiceCall service = call(failed);
            BackupRequest announce;
            announce.method = "POST";
            announce.body = ShareLinks::announcement(prepared.image.png.size(), prepared.sha256,
                                                     prepared.image.width, prepared.image.height);
            service.send(
                announce, [this, service, snipID, failed, png = prepared.image.png](const QByteArray &body) {
                    const auto link = ShareLinks::created(body, m_api->endpoint());
                    if (!link.value)
                        return failed(failureFor(link.problem));
                    BackupRequest upload;
                    upload.method = "PUT";
                    upload.path = u'/' + link.value->id + QStringLiteral("/image");
                    upload.body = png;
                    upload.contentType = "image/png";
                    service.send(upload, [this, snipID, created = *link.value](const QByteArray &) {
                        m_pending.remove(snipID);
                        m_links.removeIf([&created](const ShareLink &l) { return sameID(l.id, created.id); });
                        m_links.prepend(created);
                        m_completed.insert(snipID, created.id);
                        report({}, kShared);
                    });
                });
        });
}

void ImageShareStore::refreshLinks() {
    if (!m_owner)
        return;
    call([this](const QString &failure) {
        report(failure);
    }).send(BackupRequest{}, [this](const QByteArray &body) {
        const auto links = ShareLinks::list(body, m_api->endpoint());
        if (!links.value)
            return report(failureFor(links.problem));
        m_links = *links.value;
        m_linksLoaded = true;
        Q_EMIT stateChanged();
    });
}

bool ImageShareStore::copy(const ShareLink &link) {
    if (!ShareLinks::acceptable(link.url, m_api->endpoint())) {
        report(kForeignLink);
        return false;
    }
    m_copyURL(link.url);
    report({}, kCopied);
    return true;
}

void ImageShareStore::revoke(const QString &linkID) {
    if (!m_owner || !parseUuid(linkID))
        return;
    BackupRequest remove;
    remove.method = "DELETE";
    remove.path = u'/' + linkID;
    call([this](const QString &failure) {
        report(failure);
    }).send(remove, [this, linkID](const QByteArray &) {
        m_links.removeIf([&linkID](const ShareLink &l) { return sameID(l.id, linkID); });
        m_completed.removeIf([&linkID](const auto &entry) { return sameID(entry.value(), linkID); });
        report({}, kRevoked);
    });
}
