#include "backup/CloudFixture.h"

#include "backup/BackupFolder.h"

#include "common/Background.h"

#include <QSemaphore>
#include <QSignalSpy>

namespace {

const QByteArray kDigest = QByteArray(64, 'a');

QByteArray manifestJson(const QList<QList<QVariant>> &files, int version = 1) {
    QJsonArray list;
    for (const auto &f : files)
        list.append(
            QJsonObject{{"name", f[0].toString()}, {"size", f[1].toLongLong()}, {"sha256", f[2].toString()}});
    return QJsonDocument(QJsonObject{{"version", version}, {"files", list}}).toJson(QJsonDocument::Compact);
}

const QString kImage = QStringLiteral("6F9619FF-8B86-D011-B42D-00C04FC964FF.png");

// Takes every thread of the background pool until opened, so work handed to the pool meanwhile
// waits behind it at a known point.
class PoolGate {
public:
    ~PoolGate() { open(); }
    void close() {
        m_threads = Background::pool()->maxThreadCount();
        for (int i = 0; i < m_threads; ++i)
            Background::pool()->start([held = m_held] { held->acquire(); });
    }
    void open() { m_held->release(std::exchange(m_threads, 0)); }

private:
    // Shared with the waiting tasks, which may start only after the gate is gone.
    std::shared_ptr<QSemaphore> m_held = std::make_shared<QSemaphore>();
    int m_threads = 0;
};

} // namespace

class TestCloudBackup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void manifest_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("valid");
        const QString digest = QString::fromLatin1(kDigest);
        const QList<QVariant> library{"library.json", 10, digest};
        QTest::newRow("library and image") << manifestJson({library, {kImage, 20, digest}}) << true;
        QTest::newRow("no library") << manifestJson({{kImage, 20, digest}}) << false;
        QTest::newRow("library twice") << manifestJson({library, library}) << false;
        QTest::newRow("image twice") << manifestJson({library, {kImage, 20, digest}, {kImage, 20, digest}})
                                     << false;
        QTest::newRow("climbs out") << manifestJson({library, {"../library.json", 20, digest}}) << false;
        QTest::newRow("short name") << manifestJson({library, {"x.png", 20, digest}}) << false;
        QTest::newRow("upper-case extension")
            << manifestJson({library, {QString(kImage).replace(".png", ".PNG"), 20, digest}}) << false;
        QTest::newRow("empty file") << manifestJson({library, {kImage, 0, digest}}) << false;
        QTest::newRow("image over 25 MB") << manifestJson({library, {kImage, 25'000'001, digest}}) << false;
        QTest::newRow("upper-case digest")
            << manifestJson({library, {kImage, 20, digest.toUpper()}}) << false;
        QTest::newRow("short digest") << manifestJson({library, {kImage, 20, "abc"}}) << false;
        QTest::newRow("size as text")
            << QByteArray(R"({"version":1,"files":[{"name":"library.json","size":"10","sha256":")") +
                   kDigest + "\"}]}"
            << false;
        QTest::newRow("version 2") << manifestJson({library}, 2) << false;
    }
    void manifest() {
        QFETCH(QByteArray, json);
        QFETCH(bool, valid);
        const auto manifest = BackupManifest::decode(json);
        QCOMPARE(manifest.has_value(), valid);
        if (manifest)
            QCOMPARE(BackupManifest::decode(manifest->encode()), manifest);
    }

    // The list of snapshots is refused whole for a date without a time zone (it would be read as
    // local time), for a snapshot listed twice and for a negative count of files or bytes.
    void snapshotList_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("count"); // -1: refused
        const auto entry = [](const char *id, const char *createdAt) {
            return QByteArray("{\"id\":\"") + id + "\",\"createdAt\":\"" + createdAt +
                   "\",\"fileCount\":2,\"byteCount\":1234}";
        };
        const char *a = "8f0c2a5e-4b1d-4c3e-9a7f-1d2e3f4a5b6c";
        const char *b = "11111111-2222-4333-8444-555555555555";
        const auto list = [](const QByteArrayList &entries) {
            return "{\"snapshots\":[" + entries.join(',') + "]}";
        };
        QTest::newRow("UTC") << list({entry(a, "2026-12-07T14:05:00Z")}) << 1;
        QTest::newRow("offset and milliseconds") << list({entry(a, "2026-12-07T14:05:00.250+01:00")}) << 1;
        QTest::newRow("two snapshots")
            << list({entry(a, "2026-12-07T14:05:00Z"), entry(b, "2026-12-07T15:05:00Z")}) << 2;
        QTest::newRow("empty list") << list({}) << 0;
        QTest::newRow("no time zone") << list({entry(a, "2026-12-07T14:05:00")}) << -1;
        QTest::newRow("one of two without time zone")
            << list({entry(a, "2026-12-07T14:05:00Z"), entry(b, "2026-12-07T14:05:00")}) << -1;
        QTest::newRow("date only") << list({entry(a, "2026-12-07")}) << -1;
        QTest::newRow("not a date") << list({entry(a, "gestern")}) << -1;
        QTest::newRow("same id twice")
            << list({entry(a, "2026-12-07T14:05:00Z"), entry(a, "2026-12-08T14:05:00Z")}) << -1;
        QTest::newRow("same id twice, differing in case")
            << list({entry(a, "2026-12-07T14:05:00Z"),
                     entry("8F0C2A5E-4B1D-4C3E-9A7F-1D2E3F4A5B6C", "2026-12-08T14:05:00Z")})
            << -1;
        const auto counted = [a](const char *fileCount, const char *byteCount) {
            return QByteArray("{\"id\":\"") + a +
                   "\",\"createdAt\":\"2026-12-07T14:05:00Z\",\"fileCount\":" + fileCount +
                   ",\"byteCount\":" + byteCount + "}";
        };
        QTest::newRow("negative file count") << list({counted("-1", "1234")}) << -1;
        QTest::newRow("negative byte count") << list({counted("2", "-1")}) << -1;
        QTest::newRow("one of two with a negative count")
            << list({entry(b, "2026-12-07T15:05:00Z"), counted("2", "-1234")}) << -1;
    }
    void snapshotList() {
        QFETCH(QByteArray, json);
        QFETCH(int, count);
        const auto snapshots = BackupReplies::snapshots(json);
        QCOMPARE(snapshots ? int(snapshots->size()) : -1, count);
        if (count == 2) // newest first
            QCOMPARE(snapshots->first().id, QStringLiteral("11111111-2222-4333-8444-555555555555"));
    }

    // A list the client refuses shows as the service's unexpected answer, and no row at all.
    void refusedSnapshotListShowsNothing() {
        CloudFixture f;
        f.setUpLibrary({{"A", 1}});
        QVERIFY(f.signInAndEnable());
        f.cloud.fault = [](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
            if (r.method != "GET" || r.path() != u"/v1/backups")
                return std::nullopt;
            const QByteArray row = "{\"id\":\"8f0c2a5e-4b1d-4c3e-9a7f-1d2e3f4a5b6c\",\"createdAt\":\"2026-12-"
                                   "07T14:05:00Z\",\"fileCount\":2,\"byteCount\":9}";
            return HttpTestResponse::json(200, "{\"snapshots\":[" + row + ',' + row + "]}");
        };
        f.backup->refreshSnapshots();
        QTRY_COMPARE_WITH_TIMEOUT(f.backup->failure(), CloudBackupAPI::kUnexpected, 10000);
        QVERIFY(f.backup->snapshots().isEmpty());
    }

    void settingsKeys() {
        QCOMPARE(CloudBackupStore::settingsKey(QStringLiteral("8f0c"), QStringLiteral("enabled")),
                 QStringLiteral("Vellumbox.CloudBackup.8f0c.enabled"));
        QCOMPARE(CloudBackupStore::settingsKey(std::nullopt, QStringLiteral("lastSnapshot")),
                 QStringLiteral("Vellumbox.CloudBackup.signed-out.lastSnapshot"));
    }

    void backUpListRestoreDelete() {
        CloudFixture f;
        f.setUpLibrary({{"A", 2}, {"B", 1}});
        f.library.store->editSnip(f.library.collection(0).items[1].id,
                                  [](Snip &s) { s.cloudLocalOnly = true; });
        const QString localOnlyImage = f.library.collection(0).items[1].imageFile;
        QVERIFY(f.signInAndEnable());
        f.backup->backUpNow();
        QVERIFY(f.waitIdle());
        QCOMPARE(f.backup->failure(), QString());
        QCOMPARE(f.backup->notice(), CloudBackupStore::kBackedUp);

        // The service holds the library and the two images that may leave the computer.
        const auto done = f.cloud.completed();
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0].files.size(), 3);
        QVERIFY(!done[0].files.contains(localOnlyImage));
        QVERIFY(!done[0].files.value("library.json").contains(localOnlyImage.toLatin1()));
        const QString owner = OAuthTestServer::kUser;
        QCOMPARE(f.settings.value(CloudBackupStore::settingsKey(owner, "lastSnapshot")).toString(),
                 done[0].id);
        QVERIFY(f.backup->lastSuccess().has_value());
        QTRY_VERIFY(f.leftovers().isEmpty());

        // The list follows the backup.
        QVERIFY(QTest::qWaitFor([&f] { return f.backup->snapshots().size() == 1 && !f.backup->busy(); }));
        QCOMPARE(f.backup->snapshots()[0].id, done[0].id);
        QCOMPARE(f.backup->snapshots()[0].fileCount, 3);

        // Restoring adds copies in front and leaves the originals alone.
        const QList<SnipCollection> before = f.library.store->collections();
        const qsizetype imagesBefore = f.library.images().size();
        f.backup->restore(done[0].id);
        QVERIFY(f.waitIdle());
        QCOMPARE(f.backup->failure(), QString());
        QCOMPARE(f.backup->notice(), CloudBackupStore::kRestored);
        QCOMPARE(f.library.titles(), QStringLiteral("A · Wiederhergestellt B · Wiederhergestellt A B"));
        QCOMPARE(f.library.store->collections().mid(2), before);
        QCOMPARE(f.library.snips(0), QStringLiteral("A0"));
        QCOMPARE(f.library.images().size(), imagesBefore + 2);
        QTRY_VERIFY(f.leftovers().isEmpty());

        f.backup->deleteSnapshot(done[0].id);
        QVERIFY(f.waitIdle());
        QCOMPARE(f.backup->notice(), CloudBackupStore::kDeleted);
        QVERIFY(f.backup->snapshots().isEmpty());
        QVERIFY(f.cloud.snapshots.isEmpty());
    }

    // Snapshot ids are UUIDs: the service may write one in either case, and the client may hold it
    // in the other (the id it was given at creation, or one the list wrote differently). Either
    // names the same snapshot.
    void snapshotIdInOtherCase_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("writtenUpper"); // how the service writes the id in its replies
        QTest::addColumn<bool>("askedUpper");   // how the client names it in its call
        QTest::newRow("restore, manifest in upper case") << "restore" << true << false;
        QTest::newRow("restore, manifest in lower case") << "restore" << false << true;
        QTest::newRow("restore, same case") << "restore" << true << true;
        QTest::newRow("delete, listed in upper case") << "delete" << true << false;
        QTest::newRow("delete, listed in lower case") << "delete" << false << true;
        QTest::newRow("delete, same case") << "delete" << false << false;
    }
    void snapshotIdInOtherCase() {
        QFETCH(QString, operation);
        QFETCH(bool, writtenUpper);
        QFETCH(bool, askedUpper);
        CloudFixture f;
        f.setUpLibrary({{"A", 1}});
        QVERIFY(f.signInAndEnable());
        f.backup->backUpNow();
        QVERIFY(QTest::qWaitFor([&f] { return f.backup->snapshots().size() == 1 && !f.backup->busy(); }));
        const QString id = f.cloud.completed().value(0).id.toLower();
        QCOMPARE(f.cloud.completed().value(0).id, id);
        const QString written = writtenUpper ? id.toUpper() : id;
        const QString asked = askedUpper ? id.toUpper() : id;
        // The service takes the id in either case and writes it its own way.
        f.cloud.fault = [&f, id, written](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
            HttpTestRequest same = r;
            same.target.replace(id.toUpper().toLatin1(), id.toLatin1());
            HttpTestResponse answer =
                f.cloud.backup(same, same.path().split(u'/', Qt::SkipEmptyParts).mid(2));
            answer.body.replace(id.toLatin1(), written.toLatin1());
            return answer;
        };
        f.backup->refreshSnapshots();
        QVERIFY(f.waitIdle());
        QCOMPARE(f.backup->snapshots().value(0).id, written);

        if (operation == u"restore") {
            f.backup->restore(asked);
            QVERIFY(f.waitIdle());
            QCOMPARE(f.backup->failure(), QString());
            QCOMPARE(f.backup->notice(), CloudBackupStore::kRestored);
            QCOMPARE(f.library.titles(), QStringLiteral("A · Wiederhergestellt A"));
        } else {
            f.backup->deleteSnapshot(asked);
            QVERIFY(f.waitIdle());
            QCOMPARE(f.backup->failure(), QString());
            QCOMPARE(f.backup->notice(), CloudBackupStore::kDeleted);
            QVERIFY(f.cloud.snapshots.isEmpty());
            QVERIFY(f.backup->snapshots().isEmpty());
        }
    }

    void failedSaveStopsTheBackup() {
        CloudFixture f;
        f.setUpLibrary({{"A", 1}});
        QVERIFY(f.signInAndEnable());
        const int requests = f.cloud.server.requestCount();
        f.library.allowedWrites = 0;
        f.backup->backUpNow();
        QVERIFY(f.waitIdle());
        QCOMPARE(f.backup->failure(), CloudBackupStore::kSaveFailed);
        QCOMPARE(f.cloud.server.requestCount(), requests);
        QTRY_VERIFY(f.leftovers().isEmpty());
    }

    void missingImageStopsTheBackup() {
        CloudFixture f;
        f.setUpLibrary({{"A", 2}});
        QFile::remove(f.library.store->imagesDirectory() + u'/' + f.library.collection(0).items[1].imageFile);
        QVERIFY(f.signInAndEnable());
        f.backup->backUpNow();
        QVERIFY(f.waitIdle());
        QVERIFY(!f.backup->failure().isEmpty());
        QCOMPARE(f.cloud.calls("POST /v1/backups"), 0);
        QTRY_VERIFY(f.leftovers().isEmpty());
    }

    void restoreRefusals_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("failure");
        QTest::newRow("image digest differs") << "digest" << BackupFolder::kDamaged;
        QTest::newRow("file larger than stated") << "larger" << CloudBackupAPI::kUnexpected;
        QTest::newRow("file smaller than stated") << "smaller" << BackupFolder::kDamaged;
        QTest::newRow("name climbs out") << "../library.json" << BackupFolder::kInvalid;
        QTest::newRow("name outside the rule") << "x.png" << BackupFolder::kInvalid;
        QTest::newRow("library names an unlisted image") << "unlisted" << BackupFolder::kInvalid;
        QTest::newRow("image is no PNG") << "not png" << BackupFolder::kInvalid;
        QTest::newRow("library is no library") << "not library" << BackupFolder::kInvalid;
        QTest::newRow("redirect") << "redirect" << CloudBackupAPI::kUnexpected;
        QTest::newRow("cut-off download") << "truncated" << CloudBackupAPI::kUnreachable;
        QTest::newRow("other snapshot's manifest") << "other id" << BackupFolder::kInvalid;
    }
    void restoreRefusals() {
        QFETCH(QString, fault);
        QFETCH(QString, failure);
        CloudFixture f;
        f.setUpLibrary({{"A", 2}});
        QVERIFY(f.signInAndEnable());
        f.backup->backUpNow();
        QVERIFY(f.waitIdle());
        QVERIFY(QTest::qWaitFor([&f] { return f.backup->snapshots().size() == 1 && !f.backup->busy(); }));
        CloudTestServer::Snapshot &snapshot = f.cloud.snapshots.first();
        CloudTestServer::File &image = snapshot.manifest[1];
        CloudTestServer::File &library = snapshot.manifest[0];
        int redirected = 0;
        LocalHttpServer elsewhere([&redirected](const HttpTestRequest &) {
            ++redirected;
            return HttpTestResponse{200, "x"};
        });
        const auto replace = [&](CloudTestServer::File &file, const QByteArray &bytes) {
            snapshot.files[file.name] = bytes;
            file.size = bytes.size();
            file.sha256 = CloudTestServer::sha(bytes);
        };
        if (fault == u"digest") {
            image.sha256 = CloudTestServer::sha("other");
        } else if (fault == u"larger") {
            image.size -= 1;
        } else if (fault == u"smaller") {
            image.size += 1;
        } else if (fault == u"../library.json" || fault == u"x.png") {
            snapshot.files.insert(fault, snapshot.files.take(image.name));
            image.name = fault;
        } else if (fault == u"unlisted") {
            snapshot.manifest.removeAt(1);
        } else if (fault == u"not png") {
            replace(image, "GIF89a not a png at all");
        } else if (fault == u"not library") {
            replace(library, R"({"version":1})");
        } else if (fault == u"other id") {
            f.cloud.fault = [&snapshot](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
                if (r.method != "GET" || !r.path().endsWith(snapshot.id))
                    return std::nullopt;
                return CloudTestServer::json(200,
                                             {{"id", QUuid::createUuid().toString(QUuid::WithoutBraces)},
                                              {"version", 1},
                                              {"files", CloudTestServer::manifestJson(snapshot.manifest)}});
            };
        } else {
            const QString name = image.name;
            f.cloud.fault = [&, name](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
                if (r.method != "GET" || !r.path().endsWith(name))
                    return std::nullopt;
                if (fault == u"redirect")
                    return HttpTestResponse::redirect(elsewhere.url(QStringLiteral("/file")).toEncoded());
                HttpTestResponse cut{200, snapshot.files.value(name)};
                cut.cutAfter = cut.body.size() / 2;
                return cut;
            };
        }

        const QList<SnipCollection> before = f.library.store->collections();
        const QStringList images = f.library.images();
        f.backup->restore(snapshot.id);
        QVERIFY(f.waitIdle());
        QCOMPARE(f.backup->failure(), failure);
        QCOMPARE(f.backup->notice(), QString());
        QCOMPARE(f.library.store->collections(), before);
        QCOMPARE(f.library.images(), images);
        QTRY_VERIFY(f.leftovers().isEmpty());
        QCOMPARE(redirected, 0);
    }

    void automaticRound_data() {
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<bool>("capturing");
        QTest::addColumn<bool>("automatic");
        QTest::addColumn<bool>("backedUp");
        QTest::newRow("899 s") << 899.0 << true << false << true << false;
        QTest::newRow("900 s") << 900.0 << true << false << true << true;
        QTest::newRow("900 s, unchanged") << 900.0 << false << false << true << false;
        QTest::newRow("900 s, capturing") << 900.0 << true << true << true << false;
        QTest::newRow("900 s, switched off") << 900.0 << true << false << false << false;
    }
    void automaticRound() {
        QFETCH(double, elapsed);
        QFETCH(bool, changed);
        QFETCH(bool, capturing);
        QFETCH(bool, automatic);
        QFETCH(bool, backedUp);
        CloudFixture f;
        f.setUpLibrary({{"A", 1}});
        QVERIFY(f.signInAndEnable());
        // The first round after launch backs up at once.
        f.backup->runAutomaticRound();
        QVERIFY(QTest::qWaitFor([&f] { return f.cloud.completed().size() == 1; }));
        QVERIFY(f.waitIdle());
        // A second round without a change does nothing, even when due.
        f.clock += 900;
        f.backup->runAutomaticRound();
        QTest::qWait(100);
        QVERIFY(f.waitIdle());
        QCOMPARE(f.cloud.calls("POST /v1/backups"), 1);
        f.clock -= 900;

        if (changed)
            f.library.store->editSnip(f.library.collection(0).items[0].id, [](Snip &s) { s.note = "neu"; });
        f.library.store->setIsCapturing(capturing);
        f.backup->setAutomatic(automatic);
        f.clock += elapsed;
        f.backup->runAutomaticRound();
        QTest::qWait(100);
        QVERIFY(f.waitIdle());
        QCOMPARE(f.cloud.calls("POST /v1/backups"), backedUp ? 2 : 1);
    }

    void userSwitchDropsTheRunningBackup() {
        CloudFixture f;
        f.setUpLibrary({{"A", 3}});
        QVERIFY(f.signInAndEnable());
        f.cloud.uploadDelayMs = 200;
        f.backup->backUpNow();
        // Both lanes have a file on its way; their late answers must start nothing more.
        QVERIFY(QTest::qWaitFor([&f] { return f.cloud.count("PUT") == 2; }));
        f.account->signOut();
        QVERIFY(!f.backup->busy());
        QTest::qWait(600);
        QCOMPARE(f.cloud.count("PUT"), 2);
        QCOMPARE(f.cloud.count("POST /v1/backups/"), 0);
        QVERIFY(f.backup->failure().isEmpty());
        QVERIFY(!f.settings.contains(CloudBackupStore::settingsKey(OAuthTestServer::kUser, "lastSnapshot")));
        QVERIFY(QTest::qWaitFor([&f] { return f.leftovers().isEmpty(); }));
    }

    void settingsStayWithTheirAccount() {
        CloudFixture f;
        QVERIFY(f.signInAndEnable());
        f.backup->setAutomatic(false);
        QVERIFY(f.backup->enabled());
        f.account->signOut();
        QVERIFY(!f.backup->enabled());
        f.backup->setEnabled(true); // nobody to switch on for
        QVERIFY(!f.settings.contains(CloudBackupStore::settingsKey(std::nullopt, "enabled")));

        f.oauth.userID = QStringLiteral("11111111-2222-4333-8444-555555555555");
        QVERIFY(f.signIn());
        QVERIFY(!f.backup->enabled());
        QVERIFY(f.backup->automatic());
        f.oauth.userID = OAuthTestServer::kUser;
        f.account->signOut();
        QVERIFY(f.signIn());
        QVERIFY(f.backup->enabled());
        QVERIFY(!f.backup->automatic());
    }

    // Saving, packing and hashing run on the pool, so the window stays free. The test holds the
    // pool at the moment the backup hands its packing over, and sees the event loop go on while the
    // backup waits there, before anything went to the service.
    void backupOfTwoHundredSnipsLeavesTheWindowFree() {
        CloudFixture f;
        f.setUpLibrary({{"A", 100}, {"B", 100}});
        QVERIFY(f.signInAndEnable());
        const QString preparing = QStringLiteral("Die Sicherung wird vorbereitet …");
        PoolGate gate;
        bool reached = false;
        QObject context;
        connect(f.backup.get(), &CloudBackupStore::stateChanged, &context, [&] {
            if (f.backup->activity() == preparing && !std::exchange(reached, true))
                gate.close();
        });
        f.backup->backUpNow();
        // The call returns while the library is saved; the folder is prepared only once it is.
        QCOMPARE(f.backup->activity(), QStringLiteral("Die Bibliothek wird gespeichert …"));
        QVERIFY(QTest::qWaitFor([&reached] { return reached; }, 10000));
        bool ticked = false;
        QTimer::singleShot(0, &context, [&ticked] { ticked = true; });
        QVERIFY(QTest::qWaitFor([&ticked] { return ticked; }, 10000));
        QCOMPARE(f.backup->activity(), preparing);
        QCOMPARE(f.cloud.calls("POST /v1/backups"), 0);

        gate.open();
        QVERIFY(f.waitIdle(60000));
        QCOMPARE(f.backup->failure(), QString());
        QCOMPARE(f.cloud.completed().value(0).files.size(), 201);
    }

    void nothingWithoutSignIn() {
        CloudFixture f;
        f.setUpLibrary({{"A", 1}});
        f.backup->setEnabled(true);
        f.backup->backUpNow();
        f.backup->runAutomaticRound();
        f.backup->refreshSnapshots();
        QVERIFY(!f.backup->busy());
        QCOMPARE(f.cloud.server.requestCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCloudBackup)
#include "tst_cloudbackup.moc"
