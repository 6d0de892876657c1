#include "support/OAuthTestServer.h"
#include "support/SheetFit.h"

#include "account/AccountView.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

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

    void keyringNoteWithoutSecretService() {
        OAuthTestServer oauth;
        auto vault = std::make_unique<MemoryVault>();
        vault->forced = AccountVault::Status::Unavailable;
        AccountStore store(AccountConfiguration::clientID, oauth.api(), std::move(vault),
                           [](const QUrl &) { return true; });
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
