#include "backup/CloudFixture.h"

#include "sharing/ImageShareStore.h"
#include "sharing/ShareControls.h"
#include "sharing/ShareLinksView.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace {

// The backup fixture's account, library and service, with a share store on the service's share
// path whose clipboard is a list.
struct ShareFixture : CloudFixture {
    QList<QUrl> clipboard;
    std::unique_ptr<ImageShareStore> sharing;

    ShareFixture() {
        sharing = std::make_unique<ImageShareStore>(
            account.get(), std::make_unique<CloudBackupAPI>(cloud.sharesBase(), true),
            [this](const QUrl &url) { clipboard.append(url); });
    }
    // One collection with one 64 × 64 snip carrying a filled rectangle over its left half.
    Snip markedSnip() {
        Snip s = snip(QStringLiteral("S"), 64);
        Mark mark;
        mark.kind = MarkKind::FilledRectangle;
        mark.x1 = 0;
        mark.y1 = 0;
        mark.x2 = 0.5;
        mark.y2 = 1;
        mark.color = MarkColor::Black;
        s.marks.append(mark);
        SnipCollection c;
        c.items.append(s);
        library.store->setCollections({c});
        return s;
    }
    // A link the service already holds, as if shared earlier.
    void addLink() {
        CloudTestServer::Share share;
        share.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        share.url = cloud.linkBase + share.id.left(8);
        share.image = "uploaded";
        cloud.shares.insert(share.id, share);
    }
    bool share(const Snip &s) {
        sharing->share(s, *library.store);
        return QTest::qWaitFor([&] { return !sharing->isSharing(s.id); }, 10000);
    }
};

QStringList visibleButtons(const QWidget &widget) {
    QStringList texts;
    for (const QPushButton *button : widget.findChildren<QPushButton *>())
        if (button->isVisibleTo(widget.parentWidget()))
            texts.append(button->text());
    return texts;
}

// The text of each shown row of the links sheet, top to bottom.
QStringList linkRows(const QWidget &sheet) {
    QStringList rows;
    for (const QWidget *row : sheet.findChildren<QWidget *>(QStringLiteral("link")))
        if (row->isVisibleTo(&sheet))
            rows.append(row->findChild<QLabel *>()->text());
    return rows;
}

// The enabled buttons of the row showing the link.
QList<QPushButton *> rowButtons(const QWidget &sheet, const QString &link) {
    QList<QPushButton *> buttons;
    for (const QWidget *row : sheet.findChildren<QWidget *>(QStringLiteral("link")))
        if (row->findChild<QLabel *>()->text() == link)
            for (QPushButton *button : row->findChildren<QPushButton *>())
                if (button->isVisibleTo(&sheet) && button->isEnabled())
                    buttons.append(button);
    return buttons;
}

bool clickInRow(const QWidget &sheet, const QString &link, const QString &action) {
    for (QPushButton *button : rowButtons(sheet, link))
        if (button->text() == action) {
            button->click();
            return true;
        }
    return false;
}

QString labelText(const QWidget &sheet, const QString &name) {
    const auto *label = sheet.findChild<QLabel *>(name);
    return label->isVisibleTo(&sheet) ? label->text() : QString();
}

bool emptyNoteShown(const QWidget &sheet) {
    for (const QLabel *label : sheet.findChildren<QLabel *>())
        if (label->text() == u"Du hast noch keine Bilder geteilt.")
            return label->isVisibleTo(&sheet);
    return false;
}

} // namespace

class TestSharing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void linkRule_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("share path") << "https://cloud.example.org/s/Ab3_x-9" << true;
        QTest::newRow("host in capitals") << "https://CLOUD.example.org/s/abc" << true;
        QTest::newRow("explicit port 443") << "https://cloud.example.org:443/s/abc" << true;
        QTest::newRow("plain http") << "http://cloud.example.org/s/abc" << false;
        QTest::newRow("other host") << "https://evil.example/s/abc" << false;
        QTest::newRow("sub-domain") << "https://x.cloud.example.org/s/abc" << false;
        QTest::newRow("suffix host") << "https://cloud.example.org.evil/s/abc" << false;
        QTest::newRow("other port") << "https://cloud.example.org:8443/s/abc" << false;
        QTest::newRow("other path") << "https://cloud.example.org/v1/shares/abc" << false;
        QTest::newRow("bare share path") << "https://cloud.example.org/s/" << false;
        QTest::newRow("climbs out") << "https://cloud.example.org/s/../admin" << false;
        QTest::newRow("encoded dots") << "https://cloud.example.org/s/%2e%2e/admin" << false;
        QTest::newRow("user info") << "https://me@cloud.example.org/s/abc" << false;
        QTest::newRow("query") << "https://cloud.example.org/s/abc?next=evil" << false;
        QTest::newRow("fragment") << "https://cloud.example.org/s/abc#x" << false;
        QTest::newRow("javascript") << "javascript:alert(1)//cloud.example.org/s/abc" << false;
    }
    void linkRule() {
        QFETCH(QString, link);
        QFETCH(bool, accepted);
        const QUrl base(QStringLiteral("https://cloud.example.org/v1/shares"));
        QCOMPARE(ShareLinks::acceptable(QUrl(link, QUrl::StrictMode), base), accepted);
    }

    void shareCopyRevoke() {
        ShareFixture f;
        QVERIFY(f.signIn());
        const Snip s = f.markedSnip();
        QVERIFY(f.share(s));
        QCOMPARE(f.sharing->failure(), QString());
        QCOMPARE(f.sharing->notice(), ImageShareStore::kShared);
        QCOMPARE(f.cloud.shares.size(), 1);

        // What went up is the image with its marks burnt in.
        const QImage shared = QImage::fromData(f.cloud.shares.first().image, "PNG");
        QCOMPARE(shared.size(), QSize(64, 64));
        const QImage source(f.library.store->imageURL(s.imageFile));
        QCOMPARE(shared.pixel(54, 32), source.pixel(54, 32));
        QVERIFY(shared.pixel(10, 32) != source.pixel(10, 32));

        const auto link = f.sharing->linkFor(s.id);
        QVERIFY(link);
        QCOMPARE(link->url.toString(), f.cloud.shares.first().url);
        QVERIFY(f.sharing->copy(*link));
        QCOMPARE(f.clipboard, QList<QUrl>{link->url});

        f.sharing->refreshLinks();
        QVERIFY(QTest::qWaitFor([&f] { return f.sharing->linksLoaded(); }));
        QCOMPARE(f.sharing->links(), QList<ShareLink>{*link});

        f.sharing->revoke(link->id);
        QVERIFY(QTest::qWaitFor([&f] { return f.sharing->links().isEmpty(); }));
        QCOMPARE(f.sharing->notice(), ImageShareStore::kRevoked);
        QVERIFY(!f.sharing->linkFor(s.id));
        QVERIFY(f.cloud.shares.isEmpty());
    }

    // Link ids are UUIDs: the list may write the id of a link in another case than the reply that
    // created it, and it still names the snip's link, to show and to revoke.
    void linkIdInOtherCase_data() {
        QTest::addColumn<bool>("listedUpper");
        QTest::addColumn<bool>("revokeByListed");
        QTest::newRow("listed as created") << false << true;
        QTest::newRow("listed in upper case, revoked by the listed id") << true << true;
        QTest::newRow("listed in upper case, revoked by the created id") << true << false;
    }
    void linkIdInOtherCase() {
        QFETCH(bool, listedUpper);
        QFETCH(bool, revokeByListed);
        ShareFixture f;
        QVERIFY(f.signIn());
        const Snip s = f.markedSnip();
        QVERIFY(f.share(s));
        const QString created = f.sharing->linkFor(s.id).value_or(ShareLink{}).id;
        QCOMPARE(created, created.toLower());
        QVERIFY(!created.isEmpty());
        const QString listed = listedUpper ? created.toUpper() : created;
        // The service takes the id in either case and lists it as `listed`.
        f.cloud.fault = [&f, created, listed](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
            HttpTestRequest same = r;
            same.target.replace(created.toUpper().toLatin1(), created.toLatin1());
            HttpTestResponse answer = f.cloud.share(same, same.path().split(u'/', Qt::SkipEmptyParts).mid(2));
            answer.body.replace(created.toLatin1(), listed.toLatin1());
            return answer;
        };
        f.sharing->refreshLinks();
        QVERIFY(QTest::qWaitFor([&f] { return f.sharing->linksLoaded(); }));
        QCOMPARE(f.sharing->links().value(0).id, listed);
        const auto link = f.sharing->linkFor(s.id);
        QVERIFY(link);
        QCOMPARE(link->url.toString(), f.cloud.shares.first().url);

        f.sharing->revoke(revokeByListed ? listed : created);
        QVERIFY(QTest::qWaitFor([&f] { return f.sharing->notice() == ImageShareStore::kRevoked; }));
        QVERIFY(f.cloud.shares.isEmpty());
        QVERIFY(f.sharing->links().isEmpty());
        QVERIFY(!f.sharing->linkFor(s.id));
    }

    void foreignLinksAreRefused_data() {
        QTest::addColumn<QString>("linkBase");
        QTest::newRow("other host") << "https://evil.example/s/";
        QTest::newRow("no share path") << "https://127.0.0.1/download/";
        QTest::newRow("plain http") << "http://127.0.0.1/s/";
    }
    void foreignLinksAreRefused() {
        QFETCH(QString, linkBase);
        ShareFixture f;
        QVERIFY(f.signIn());
        const Snip s = f.markedSnip();
        f.cloud.linkBase = linkBase;
        QVERIFY(f.share(s));
        QCOMPARE(f.sharing->failure(), ImageShareStore::kForeignLink);
        QCOMPARE(f.cloud.count("PUT"), 0);
        QVERIFY(f.sharing->links().isEmpty());
        QVERIFY(!f.sharing->linkFor(s.id));

        // The same link in the list refuses the whole list.
        f.cloud.shares.first().image = "uploaded elsewhere";
        f.sharing->refreshLinks();
        QTest::qWait(200);
        QVERIFY(!f.sharing->linksLoaded());
        QVERIFY(f.sharing->links().isEmpty());
        QVERIFY(f.clipboard.isEmpty());
        QVERIFY(!f.sharing->copy(
            {QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF"), QUrl(linkBase + "x"), {}}));
        QVERIFY(f.clipboard.isEmpty());
    }

    // A second share of the snip while the first runs starts nothing: one announcement, one link.
    void secondShareWhileOneRuns() {
        ShareFixture f;
        QVERIFY(f.signIn());
        const Snip s = f.markedSnip();
        f.sharing->share(s, *f.library.store);
        QVERIFY(f.sharing->isSharing(s.id));
        f.sharing->share(s, *f.library.store);
        QTRY_VERIFY_WITH_TIMEOUT(!f.sharing->isSharing(s.id), 10000);
        QTest::qWait(200);
        QCOMPARE(f.cloud.calls("POST /v1/shares"), 1);
        QCOMPARE(f.cloud.count("PUT"), 1);
        QCOMPARE(f.cloud.shares.size(), 1);
        QCOMPARE(f.sharing->notice(), ImageShareStore::kShared);
    }

    // The flattened PNG may have up to 25,000,000 bytes. Noise does not compress, so the PNG of an
    // opaque W × H image takes H × (3 W + 1) bytes and a little more.
    void shareSizeLimit_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("shared");
        QTest::newRow("just below 25 MB") << 2868 << true;  // 24,954,468 bytes of rows
        QTest::newRow("just above 25 MB") << 2879 << false; // 25,050,179 bytes of rows
    }
    void shareSizeLimit() {
        QFETCH(int, height);
        QFETCH(bool, shared);
        ShareFixture f;
        QVERIFY(f.signIn());
        Snip s = f.snip(u"gross"_s);
        QImage noise(2900, height, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < noise.height(); ++y)
            random.fillRange(reinterpret_cast<quint32 *>(noise.scanLine(y)), noise.width());
        QVERIFY(noise.save(f.library.store->imageURL(s.imageFile), "PNG", 100));
        SnipCollection c;
        c.items.append(s);
        f.library.store->setCollections({c});
        f.sharing->share(s, *f.library.store);
        QTRY_VERIFY_WITH_TIMEOUT(!f.sharing->isSharing(s.id), 60000);
        QCOMPARE(f.sharing->failure(), shared ? QString() : ImageShareStore::kTooLarge);
        QCOMPARE(f.cloud.server.requestCount() > 0, shared);
        if (shared) {
            const qint64 size = f.cloud.shares.first().image.size();
            QVERIFY2(size > 24'900'000 && size <= ImageShareStore::kMaxImageBytes,
                     qPrintable(QString::number(size)));
        }
    }

    // An original above 200 MB is refused by its size alone; one of 200 MB is read and shared (the
    // PNG with zeros after its end).
    void originalSizeLimit_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("failure");
        QTest::newRow("200,000,001 bytes")
            << qint64(200'000'001)
            << u"Bilder dürfen beim Import höchstens 200 MB groß sein. Bitte verkleinere die Datei zuerst."_s;
        QTest::newRow("200,000,000 bytes") << qint64(200'000'000) << QString();
    }
    void originalSizeLimit() {
        QFETCH(qint64, size);
        QFETCH(QString, failure);
        ShareFixture f;
        QVERIFY(f.signIn());
        const Snip s = f.markedSnip();
        QFile image(f.library.store->imageURL(s.imageFile));
        QVERIFY(image.resize(size)); // sparse: takes no room
        QVERIFY(f.share(s));
        QCOMPARE(f.sharing->failure(), failure);
        QCOMPARE(f.cloud.shares.size(), failure.isEmpty() ? 1 : 0);
    }

    // What the service says about a created link: its length, and a date only with a time zone.
    void createdReply_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("problem");
        const QByteArray id = R"("id":"6F9619FF-8B86-D011-B42D-00C04FC964FF")";
        const QByteArray base = "https://cloud.example.org/s/";
        const auto link = [&](qsizetype length) { return base + QByteArray(length - base.size(), 'a'); };
        const auto reply = [&](const QByteArray &url, const QByteArray &more = {}) {
            return "{" + id + ",\"url\":\"" + url + "\"" + more + "}";
        };
        const int none = int(ShareLinks::Problem::None);
        const int malformed = int(ShareLinks::Problem::Malformed);
        const int foreign = int(ShareLinks::Problem::ForeignLink);
        QTest::newRow("link of 2048 characters") << reply(link(2048)) << none;
        QTest::newRow("link of 2049 characters") << reply(link(2049)) << foreign;
        QTest::newRow("expiry in UTC") << reply(link(40), R"(,"expiresAt":"2026-12-14T14:05:00Z")") << none;
        QTest::newRow("expiry with offset")
            << reply(link(40), R"(,"expiresAt":"2026-12-14T15:05:00+01:00")") << none;
        QTest::newRow("expiry null") << reply(link(40), R"(,"expiresAt":null)") << none;
        QTest::newRow("expiry without time zone")
            << reply(link(40), R"(,"expiresAt":"2026-12-14T14:05:00")") << malformed;
        QTest::newRow("expiry not a date") << reply(link(40), R"(,"expiresAt":"bald")") << malformed;
    }
    void createdReply() {
        QFETCH(QByteArray, json);
        QFETCH(int, problem);
        const auto created = ShareLinks::created(json, QUrl(u"https://cloud.example.org/v1/shares"_s));
        QCOMPARE(int(created.problem), problem);
        QCOMPARE(created.value.has_value(), problem == int(ShareLinks::Problem::None));
        if (created.value && json.contains("expiresAt\":\""))
            QCOMPARE(created.value->expiresAt->toUTC(),
                     QDateTime(QDate(2026, 12, 14), QTime(14, 5), Qt::UTC));
    }

    void userSwitchDropsTheShare() {
        ShareFixture f;
        QVERIFY(f.signIn());
        const Snip s = f.markedSnip();
        bool delayed = false;
        f.cloud.fault = [&f, &delayed](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
            if (delayed || r.method != "POST" || r.path() != u"/v1/shares")
                return std::nullopt;
            delayed = true;
            HttpTestResponse late = f.cloud.share(r, {});
            late.delayMs = 300;
            return late;
        };
        f.sharing->share(s, *f.library.store);
        QVERIFY(QTest::qWaitFor([&f] { return f.cloud.calls("POST /v1/shares") == 1; }));
        f.account->signOut();
        QVERIFY(!f.sharing->isSharing(s.id));
        QTest::qWait(600);
        QCOMPARE(f.cloud.count("PUT"), 0);
        QVERIFY(f.sharing->links().isEmpty());
        QCOMPARE(f.sharing->notice(), QString());
        QCOMPARE(f.sharing->failure(), QString());
    }

    void signedOutShareAsksForSignIn() {
        ShareFixture f;
        const Snip s = f.markedSnip();
        f.sharing->share(s, *f.library.store);
        QCOMPARE(f.sharing->failure(), ImageShareStore::kSignInFirst);
        QCOMPARE(f.cloud.server.requestCount(), 0);
    }

    void controls_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("no snip") << "no snip" << QStringList{};
        QTest::newRow("signed out") << "signed out" << QStringList{"Anmelden"};
        QTest::newRow("signed in") << "signed in" << QStringList{"Als Link teilen", "Alle Links"};
        QTest::newRow("shared") << "shared" << QStringList{"Link kopieren", "Widerrufen", "Alle Links"};
    }
    void controls() {
        QFETCH(QString, state);
        QFETCH(QStringList, buttons);
        ShareFixture f;
        QWidget panel;
        auto *controls = new ShareControls(f.sharing.get(), f.library.store.get(), &panel);
        panel.show();
        const Snip s = f.markedSnip();
        if (state != u"signed out" && state != u"no snip")
            QVERIFY(f.signIn());
        if (state != u"no snip")
            controls->setSnip(s);
        if (state == u"shared")
            QVERIFY(f.share(s));
        QTRY_COMPARE(visibleButtons(*controls), buttons);
        QCOMPARE(controls->isVisibleTo(&panel), state != u"no snip");
        if (state == u"shared") {
            const auto *link = controls->findChild<QLabel *>(QStringLiteral("link"));
            QCOMPARE(link->text(), f.cloud.shares.first().url);
            for (QPushButton *button : controls->findChildren<QPushButton *>())
                if (button->text() == u"Link kopieren")
                    button->click();
            QCOMPARE(f.clipboard.size(), 1);
        }
    }

    void linksSheet_data() {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<int>("links");
        QTest::addColumn<bool>("emptyNote");
        QTest::newRow("signed out") << false << 2 << false;
        QTest::newRow("no links") << true << 0 << true;
        QTest::newRow("two links") << true << 2 << false;
    }
    void linksSheet() {
        QFETCH(bool, signedIn);
        QFETCH(int, links);
        QFETCH(bool, emptyNote);
        ShareFixture f;
        for (int i = 0; i < links; ++i)
            f.addLink();
        if (signedIn)
            QVERIFY(f.signIn());
        ShareLinksView view(f.sharing.get());
        view.show();
        if (signedIn)
            QTRY_VERIFY_WITH_TIMEOUT(f.sharing->linksLoaded(), 5000);
        QStringList expected;
        if (signedIn)
            for (const CloudTestServer::Share &share : std::as_const(f.cloud.shares))
                expected.append(share.url);
        QTRY_COMPARE(linkRows(view), expected);
        QCOMPARE(emptyNoteShown(view), emptyNote);
        for (const QString &link : expected) {
            QStringList actions;
            for (const QPushButton *button : rowButtons(view, link))
                actions.append(button->text());
            QCOMPARE(actions, (QStringList{u"Kopieren"_s, u"Widerrufen"_s}));
        }
    }

    // Each row's buttons act on that row's link, and the sheet follows the store's changes.
    void linksSheetActsOnItsRows() {
        ShareFixture f;
        QVERIFY(f.signIn());
        f.addLink();
        f.addLink();
        const CloudTestServer::Share first = f.cloud.shares.first();
        const CloudTestServer::Share second = f.cloud.shares.last();
        ShareLinksView view(f.sharing.get());
        view.show();
        QTRY_COMPARE(linkRows(view), (QStringList{first.url, second.url}));

        QVERIFY(clickInRow(view, second.url, u"Kopieren"_s));
        QCOMPARE(f.clipboard, QList<QUrl>{QUrl(second.url)});
        QTRY_COMPARE(labelText(view, u"notice"_s), ImageShareStore::kCopied);

        QVERIFY(clickInRow(view, first.url, u"Widerrufen"_s));
        QTRY_COMPARE_WITH_TIMEOUT(linkRows(view), QStringList{second.url}, 5000);
        QVERIFY(!f.cloud.shares.contains(first.id));
        QVERIFY(f.cloud.shares.contains(second.id));
        QCOMPARE(labelText(view, u"notice"_s), ImageShareStore::kRevoked);

        // A new share comes in at the top; a revoke that fails keeps the row and says why.
        const Snip s = f.markedSnip();
        QVERIFY(f.share(s));
        const QString made = f.sharing->linkFor(s.id)->url.toString();
        QTRY_COMPARE(linkRows(view), (QStringList{made, second.url}));
        f.cloud.fault = [](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
            if (r.method == "DELETE")
                return HttpTestResponse::json(500, "{}");
            return std::nullopt;
        };
        QVERIFY(clickInRow(view, made, u"Widerrufen"_s));
        QTRY_COMPARE_WITH_TIMEOUT(labelText(view, u"failure"_s), CloudBackupAPI::kServiceFailed, 5000);
        QCOMPARE(linkRows(view), (QStringList{made, second.url}));

        // Another user never sees these links.
        f.account->signOut();
        QTRY_COMPARE(linkRows(view), QStringList());
        QVERIFY(!emptyNoteShown(view));
    }
};

QTEST_MAIN(TestSharing)
#include "tst_sharing.moc"
