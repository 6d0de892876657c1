#include "support/FakeXdgOpen.h"
#include "support/OAuthTestServer.h"
#include "support/SheetFit.h"

#include "account/AccountView.h"
#include "platform/DesktopOpener.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QStringList visibleButtons(const QWidget &view) {
    QStringList texts;
    for (const QPushButton *button : view.findChildren<QPushButton *>())
        if (button->isVisibleTo(&view))
            texts.append(button->text());
    texts.sort();
    return texts;
}

QString labelText(const QWidget &view, const char *name) {
    const auto *label = view.findChild<QLabel *>(QString::fromLatin1(name));
    return label && label->isVisibleTo(&view) ? label->text() : QString();
}

} // namespace

class TestAccountView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void states_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("heading");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QString>("message");
        const QString close = QStringLiteral("Schließen");
        QTest::newRow("signed out") << "signed out"
                                    << "Nicht angemeldet" << QStringList{"Anmelden / Registrieren", close}
                                    << false << QString();
        QTest::newRow("waiting") << "waiting"
                                 << "Weiter im Browser" << QStringList{"Anmeldung abbrechen", close} << true
                                 << QString();
        QTest::newRow("signed in") << "signed in"
                                   << "ada@example.org"
                                   << QStringList{"Abmelden", "Account im Browser verwalten",
                                                  "Cloud-Sicherung", close}
                                   << false << QString();
        QTest::newRow("signed in without e-mail")
            << "no email"
            << "Dein Account"
            << QStringList{"Abmelden", "Account im Browser verwalten", "Cloud-Sicherung", close} << false
            << QString();
        QTest::newRow("refused callback")
            << "refused"
            << "Nicht angemeldet" << QStringList{"Anmelden / Registrieren", close} << false
            << AccountStore::kNoPendingSignIn;
    }
    void states() {
        QFETCH(QString, state);
        QFETCH(QString, heading);
        QFETCH(QStringList, buttons);
        QFETCH(bool, busy);
        QFETCH(QString, message);
        OAuthTestServer oauth;
        FakeBrowser browser;
        browser.follow = state != u"waiting";
        if (state == u"no email")
            oauth.email.clear();
        AccountStore store(AccountConfiguration::clientID, oauth.api(), std::make_unique<MemoryVault>(),
                           browser.opener());
        browser.store = &store;
        AccountView view(&store, {});
        view.show();
        if (state == u"refused")
            store.handle(QUrl(QStringLiteral("app.vellumbox.prototype://auth/callback?code=x&state=y")));
        else if (state != u"signed out")
            store.signIn();
        if (state == u"signed in" || state == u"no email")
            QVERIFY(QTest::qWaitFor([&store] { return store.identity().has_value(); }, 5000));
        buttons.sort();
        QTRY_COMPARE(visibleButtons(view), buttons);
        QCOMPARE(labelText(view, "heading"), heading);
        QCOMPARE(view.findChild<QWidget *>(QStringLiteral("busy"))->isVisibleTo(&view), busy);
        QTRY_COMPARE(labelText(view, "message"), message);
        QCOMPARE(labelText(view, "keyringNote"), QString());
        // Every state shows its whole text and no blank space around it.
        QTRY_COMPARE(sheetFitProblem(view), QString());
    }

    // A browser that does not open is said so, and nothing waits for it: whether the desktop's
    // opener found no browser, or a launcher answers only later. A browser that the opener ran
    // in the foreground and that failed only after it had started did open.
    void browserThatDoesNotOpen_data() {
        QTest::addColumn<QString>("launcher"); // "xdg-open N": the desktop's opener ending with N,
                                               // ", later": after its start time
        QTest::addColumn<QString>("page");
        QTest::addColumn<bool>("opened");
        QTest::newRow("sign-in, no browser installed") << "xdg-open 3"
                                                       << "sign-in" << false;
        QTest::newRow("sign-in, browser failed") << "xdg-open 4"
                                                 << "sign-in" << false;
        QTest::newRow("sign-in, browser opened") << "xdg-open 0"
                                                 << "sign-in" << true;
        QTest::newRow("sign-in, browser ended with an error later") << "xdg-open 1, later"
                                                                    << "sign-in" << true;
        QTest::newRow("sign-in, browser crashed later")
            << "xdg-open " + QString::number(FakeXdgOpen::kCrash) + ", later"
            << "sign-in" << true;
        QTest::newRow("sign-in, launcher refuses later") << "later"
                                                         << "sign-in" << false;
        QTest::newRow("account page, launcher refuses later") << "later"
                                                              << "account" << false;
    }
    void browserThatDoesNotOpen() {
        QFETCH(QString, launcher);
        QFETCH(QString, page);
        QFETCH(bool, opened);
        const QString close = QStringLiteral("Schließen");
        OAuthTestServer oauth;
        FakeBrowser browser;
        std::unique_ptr<FakeXdgOpen> xdgOpen;
        if (launcher.startsWith(u"xdg-open"))
            xdgOpen = std::make_unique<FakeXdgOpen>(launcher.section(u' ', 1, 1).remove(u',').toInt());
        AccountStore::OpenURL opener = browser.opener();
        QObject context;
        if (launcher.endsWith(u"later") && xdgOpen) {
            // No wait for the start time: the opener ends after it however quickly it ends.
            opener = [&context](const QUrl &url, std::function<void(bool)> done) {
                DesktopOpener::open(url, &context, std::move(done), std::chrono::milliseconds(0));
            };
        } else if (xdgOpen) {
            opener = {};
        }
        AccountStore store(AccountConfiguration::clientID, oauth.api(), std::make_unique<MemoryVault>(),
                           opener);
        browser.store = &store;
        AccountView view(&store, {});
        view.show();
        if (page == u"account") {
            store.signIn();
            QVERIFY(QTest::qWaitFor([&store] { return store.identity().has_value(); }, 5000));
            QTRY_VERIFY(visibleButtons(view).contains(QStringLiteral("Account im Browser verwalten")));
        }
        browser.opens = false;
        browser.answersLater = true;
        QStringList buttons;
        if (page == u"account") {
            for (QPushButton *button : view.findChildren<QPushButton *>())
                if (button->text() == u"Account im Browser verwalten")
                    button->click();
            QCOMPARE(browser.opened.last(), AccountConfiguration::accountPage());
            buttons = QStringList{"Abmelden", "Account im Browser verwalten", "Cloud-Sicherung", close};
        } else {
            store.signIn();
            buttons = opened ? QStringList{"Anmeldung abbrechen", close}
                             : QStringList{"Anmelden / Registrieren", close};
        }
        if (xdgOpen) {
            QVERIFY(xdgOpen->waitUntilAnswered());
            QCOMPARE(QUrl(xdgOpen->asked()).path(), QStringLiteral("/auth/v1/oauth/authorize"));
        }
        buttons.sort();
        QTRY_COMPARE(visibleButtons(view), buttons);
        QTRY_COMPARE(labelText(view, "message"), opened ? QString() : AccountStore::kBrowserNotOpened);
        QCOMPARE(store.waitingForBrowser(), page == u"sign-in" && opened);
        if (page == u"sign-in")
            QCOMPARE(labelText(view, "heading"), opened ? u"Weiter im Browser"_s : u"Nicht angemeldet"_s);
        QCOMPARE(view.findChild<QWidget *>(QStringLiteral("busy"))->isVisibleTo(&view), opened);
        QTRY_COMPARE(sheetFitProblem(view), QString());
    }

    void keyringNoteWithoutSecretService() {
        OAuthTestServer oauth;
        auto vault = std::make_unique<MemoryVault>();
        vault->forced = AccountVault::Status::Unavailable;
        AccountStore store(AccountConfiguration::clientID, oauth.api(), std::move(vault),
                           [](const QUrl &, const auto &done) { done(true); });
        AccountView view(&store, {});
        view.show();
        store.start();
        QTRY_COMPARE(labelText(view, "keyringNote"), AccountStore::kKeyringMissing);
    }

    void backupsOpenAfterTheSheetClosed() {
        OAuthTestServer oauth;
        FakeBrowser browser;
        AccountStore store(AccountConfiguration::clientID, oauth.api(), std::make_unique<MemoryVault>(),
                           browser.opener());
        browser.store = &store;
        store.signIn();
        QVERIFY(QTest::qWaitFor([&store] { return store.identity().has_value(); }, 5000));
        bool sheetOpenWhenAsked = true;
        AccountView *sheet = nullptr;
        AccountView view(&store, [&] { sheetOpenWhenAsked = sheet->isVisible(); });
        sheet = &view;
        view.open();
        QTRY_VERIFY(visibleButtons(view).contains(QStringLiteral("Cloud-Sicherung")));
        for (QPushButton *button : view.findChildren<QPushButton *>())
            if (button->text() == u"Cloud-Sicherung")
                button->click();
        QVERIFY(!sheetOpenWhenAsked);
        QCOMPARE(view.result(), int(QDialog::Rejected));
    }
};

QTEST_MAIN(TestAccountView)
#include "tst_accountview.moc"
