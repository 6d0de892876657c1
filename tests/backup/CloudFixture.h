#pragma once

#include "store/StoreFixture.h"
#include "support/CloudTestServer.h"
#include "support/OAuthTestServer.h"

#include "backup/CloudBackupAPI.h"
#include "backup/CloudBackupStore.h"
#include "model/Ids.h"

#include <QSettings>
#include <QTest>

// A library in a temporary folder, an account signed in at the local authentication service, and
// the backup store against the local backup service, whose tokens are the account's.
struct CloudFixture {
    OAuthTestServer oauth;
    FakeBrowser browser;
    CloudTestServer cloud;
    StoreFixture library;
    QTemporaryDir settingsFolder;
    QSettings settings{settingsFolder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::unique_ptr<AccountStore> account;
    std::unique_ptr<CloudBackupStore> backup;
    double clock = 1'800'000'000;

    CloudFixture() {
        cloud.authorised = [this](const QByteArray &token) {
            return !oauth.access.isEmpty() && token == oauth.access.toLatin1();
        };
        account = std::make_unique<AccountStore>(AccountConfiguration::clientID, oauth.api(),
                                                 std::make_unique<MemoryVault>(), browser.opener());
        browser.store = account.get();
        backup = std::make_unique<CloudBackupStore>(account.get(), library.store.get(),
                                                    std::make_unique<CloudBackupAPI>(cloud.backups(), true),
                                                    &settings, true);
        backup->setClock([this] { return clock; });
        QDir().mkpath(library.store->imagesDirectory());
    }

    bool signIn() {
        account->signIn();
        return QTest::qWaitFor([this] { return account->identity().has_value() && !account->busy(); }, 5000);
    }
    bool signInAndEnable() {
        if (!signIn())
            return false;
        backup->setEnabled(true);
        return waitIdle();
    }
    bool waitIdle(int timeout = 10000) {
        return QTest::qWaitFor([this] { return !backup->busy(); }, timeout);
    }

    // A snip with its own small PNG in the library's Images folder.
    Snip snip(const QString &title, int side = 16) {
        const QString name = uuidText(QUuid::createUuid()) + QStringLiteral(".png");
        QImage image(side, side, QImage::Format_RGB32);
        image.fill(QColor::fromHsv(int(qHash(title) % 360), 200, 200));
        writeFile(library.store->imagesDirectory() + u'/' + name, encoded(image));
        Snip s = Snip::make(name);
        s.title = title;
        return s;
    }
    // Collections titled as given with that many snips each; the first is selected and saved.
    void setUpLibrary(const QList<QPair<QString, int>> &shape) {
        QList<SnipCollection> list;
        for (const auto &[title, count] : shape) {
            SnipCollection c;
            c.title = title;
            for (int i = 0; i < count; ++i)
                c.items.append(snip(title + QString::number(i)));
            list.append(c);
        }
        library.store->setCollections(list);
        library.store->setSelectedID(list.isEmpty() ? OptionalUuid() : OptionalUuid(list.first().id));
        library.store->saveAtExit();
    }
    // Hidden folders the backup left in the library folder.
    QStringList leftovers() const {
        return QDir(library.store->root())
            .entryList({QStringLiteral(".cloud-backup-*")}, QDir::Dirs | QDir::Hidden);
    }
};
