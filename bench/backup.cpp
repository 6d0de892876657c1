// Backs up a library of 200 snips of 3840 × 2160 (about 1 GB) to the loopback backup service and
// restores it, in a child process that reports its own peak memory, and times sha256sum over the
// same image files. The services run in the parent, so the child's figures are the client's alone.
#include "BenchSupport.h"

#include "support/CloudTestServer.h"
#include "support/OAuthTestServer.h"

#include "backup/CloudBackupAPI.h"
#include "backup/CloudBackupStore.h"
#include "common/Background.h"
#include "model/Ids.h"
#include "model/JsonCoding.h"
#include "store/CollectionStore.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>

#include <cstdio>

namespace {

constexpr int kSnips = 200;
constexpr int kDistinctImages = 8;
constexpr int kWidth = 3840;
constexpr int kHeight = 2160;

// A screenshot with a noisy band, so each PNG is about 5 MB like a busy 4K screen.
QByteArray benchPng(int seed) {
    QImage image = screenshotImage(kWidth, kHeight, quint32(seed));
    QRandomGenerator random(quint32(seed) * 7919u);
    for (int y = kHeight / 3; y < kHeight / 3 + kHeight / 6; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kWidth; ++x)
            line[x] = qRgb(int(random.bounded(256)), int(random.bounded(256)), int(random.bounded(256)));
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// Parent: the library on disk, as the application would leave it.
QStringList writeLibrary(const QString &root) {
    QDir().mkpath(root + QStringLiteral("/Images"));
    QList<QByteArray> pngs(kDistinctImages);
    Background::parallelFor(kDistinctImages, [&pngs](int i) { pngs[i] = benchPng(i + 1); });
    SavedLibrary library;
    QStringList paths;
    for (int c = 0; c < 4; ++c) {
        SnipCollection collection;
        collection.title = QStringLiteral("Sammlung %1").arg(c + 1);
        for (int i = 0; i < kSnips / 4; ++i) {
            Snip snip = Snip::make(uuidText(QUuid::createUuid()) + QStringLiteral(".png"));
            snip.title = QStringLiteral("Schritt %1").arg(i + 1);
            const QString path = root + QStringLiteral("/Images/") + snip.imageFile;
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(pngs[(c * kSnips / 4 + i) % kDistinctImages]);
            paths.append(path);
            collection.items.append(snip);
        }
        library.collections.append(collection);
    }
    QFile file(root + QStringLiteral("/library.json"));
    file.open(QIODevice::WriteOnly);
    file.write(*encodeJson(library, JsonStyle::Pretty));
    return paths;
}

// Child: one backup and one restore against the parent's services; prints its figures.
int runClient(const QString &root, const QUrl &auth, const QUrl &backups) {
    FakeBrowser browser;
    AccountStore account(AccountConfiguration::clientID,
                         std::make_unique<SupabaseAccountAPI>(AccountConfiguration::clientID, auth, true),
                         std::make_unique<MemoryVault>(), browser.opener());
    browser.store = &account;
    account.signIn();
    if (!QTest::qWaitFor([&account] { return account.identity().has_value(); }, 10000))
        return std::fprintf(stderr, "sign-in failed\n"), 1;

    CollectionStore library(root);
    QTemporaryDir settingsFolder;
    QSettings settings(settingsFolder.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
    CloudBackupStore backup(&account, &library, std::make_unique<CloudBackupAPI>(backups, true), &settings);
    backup.setEnabled(true);

    QElapsedTimer timer;
    double packMs = -1;
    QObject::connect(&backup, &CloudBackupStore::stateChanged, &backup, [&] {
        if (packMs < 0 && backup.activity() == u"Die Sicherung wird angelegt …")
            packMs = timer.nsecsElapsed() / 1e6;
    });
    timer.start();
    backup.backUpNow();
    if (!QTest::qWaitFor([&backup] { return !backup.busy(); }, 600000) || !backup.failure().isEmpty())
        return std::fprintf(stderr, "backup failed: %s\n", qPrintable(backup.failure())), 1;
    const double backupMs = timer.nsecsElapsed() / 1e6;
    if (!QTest::qWaitFor([&backup] { return backup.snapshotsLoaded() && !backup.busy(); }, 60000))
        return std::fprintf(stderr, "the backup list never came\n"), 1;
    const BackupSnapshot snapshot = backup.snapshots().value(0);

    timer.restart();
    backup.restore(snapshot.id);
    if (!QTest::qWaitFor([&backup] { return !backup.busy(); }, 600000) || !backup.failure().isEmpty())
        return std::fprintf(stderr, "restore failed: %s\n", qPrintable(backup.failure())), 1;
    const double restoreMs = timer.nsecsElapsed() / 1e6;

    const double megabytes = snapshot.byteCount / 1e6;
    std::printf("library_mb: %.0f\n", megabytes);
    std::printf("pack_ms: %.0f\n", packMs);
    std::printf("upload_mb_per_s: %.0f\n", megabytes / ((backupMs - packMs) / 1000.0));
    std::printf("restore_ms: %.0f\n", restoreMs);
    std::printf("peak_rss_mb: %.0f\n", qint64(statusMegabytes("VmHWM:") * 1024) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == u"--client")
        return runClient(args[2], QUrl(args[3]), QUrl(args[4]));

    QTemporaryDir folder;
    const QString root = folder.filePath(QStringLiteral("Vellumbox"));
    const QStringList images = writeLibrary(root);

    OAuthTestServer oauth;
    CloudTestServer cloud;
    cloud.authorised = [&oauth](const QByteArray &token) { return token == oauth.access.toLatin1(); };
    // The parent keeps no image bodies: uploads are only counted, downloads come from the library.
    cloud.fault = [&cloud, &root](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
        // v1, backups, {id}, files, {name}
        const QStringList p = r.path().split(u'/', Qt::SkipEmptyParts);
        if (p.size() != 5 || p[3] != u"files" || !p[4].endsWith(u".png") || !cloud.snapshots.contains(p[2]))
            return std::nullopt;
        if (r.method == "PUT") {
            cloud.snapshots[p[2]].files.insert(p[4], QByteArray());
            return HttpTestResponse{204, {}};
        }
        QFile file(root + QStringLiteral("/Images/") + p[4]);
        file.open(QIODevice::ReadOnly);
        return HttpTestResponse{200, file.readAll()};
    };

    const double sha256sumMs = timeProgram(QStringLiteral("sha256sum"), images);

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--client"), root, oauth.base().toString(), cloud.backups().toString()});
    if (!QTest::qWaitFor([&child] { return child.state() == QProcess::NotRunning; }, 1800000)) {
        std::fprintf(stderr, "the client still ran after 30 minutes\n");
        child.kill();
        child.waitForFinished(5000);
        return 3;
    }
    std::fputs(child.readAllStandardOutput().constData(), stdout);
    std::printf("sha256sum_ms: %.0f\n", sha256sumMs);
    return child.exitCode();
}
