#include "backup/CloudFixture.h"

#include "backup/CloudBackupView.h"
#include "support/SheetFit.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

QPushButton *buttonNamed(const QWidget &widget, const QString &text) {
    for (QPushButton *button : widget.findChildren<QPushButton *>())
        if (button->text() == text && button->isVisibleTo(&widget))
            return button;
    return nullptr;
}

// Clicks the button once it is there and enabled.
bool click(const QWidget &widget, const QString &text) {
    QPushButton *button = nullptr;
    if (!QTest::qWaitFor([&] { return (button = buttonNamed(widget, text)) && button->isEnabled(); }))
        return false;
    button->click();
    return true;
}

// Answers the confirmation the sheet opens with the button of that text.
bool answerConfirmation(const QWidget &sheet, const QString &answer) {
    QMessageBox *box = nullptr;
    if (!QTest::qWaitFor([&] { return (box = sheet.findChild<QMessageBox *>()) && box->isVisible(); }))
        return false;
    for (QAbstractButton *button : box->buttons())
        if (button->text() == answer) {
            button->click();
            return true;
        }
    return false;
}

} // namespace

class TestCloudBackupView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void states_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("switches");
        QTest::addColumn<bool>("backUpNow"); // shown and enabled
        QTest::newRow("signed out") << "signed out" << false << false;
        QTest::newRow("switched off") << "off" << true << false;
        QTest::newRow("switched on") << "on" << true << true;
        QTest::newRow("capturing") << "capturing" << true << false;
        QTest::newRow("exporting") << "exporting" << true << false;
        QTest::newRow("importing") << "importing" << true << false;
        QTest::newRow("backup running") << "backup running" << true << false;
    }
    void states() {
        QFETCH(QString, state);
        QFETCH(bool, switches);
        QFETCH(bool, backUpNow);
        CloudFixture f;
        if (state != u"signed out")
            QVERIFY(f.signIn());
        f.backup->setEnabled(state != u"off");
        f.library.store->setIsCapturing(state == u"capturing");
        f.library.store->setIsExporting(state == u"exporting");
        f.library.store->setIsImporting(state == u"importing");
        CloudBackupView view(f.backup.get(), f.account.get());
        view.show();
        QVERIFY(f.waitIdle());
        // The button is judged only once the sheet no longer shows the list being fetched.
        QTRY_VERIFY(!view.findChild<QLabel *>(QStringLiteral("activity"))->isVisibleTo(&view));
        if (state == u"backup running") {
            f.setUpLibrary({{"A", 1}});
            // The service answers the backup's announcement late, so the backup stays running.
            f.cloud.fault = [&f](const HttpTestRequest &r) -> std::optional<HttpTestResponse> {
                if (r.method != "POST" || r.path() != u"/v1/backups")
                    return std::nullopt;
                HttpTestResponse late = f.cloud.backup(r, {});
                late.delayMs = 1500;
                return late;
            };
            f.backup->backUpNow();
            QVERIFY(f.backup->busy());
        }
        QTRY_COMPARE(view.findChild<QCheckBox *>()->isVisibleTo(&view), switches);
        QCOMPARE(buttonNamed(view, QStringLiteral("Anmelden / Registrieren")) != nullptr, !switches);
        const QPushButton *now = buttonNamed(view, QStringLiteral("Jetzt sichern"));
        QTRY_COMPARE(now && now->isEnabled(), backUpNow);
        if (state == u"backup running")
            QVERIFY2(f.backup->busy(), "the backup ended before the button was checked");
        // Once the activity is over the button follows.
        if (switches && state != u"off") {
            f.library.store->setIsCapturing(false);
            f.library.store->setIsExporting(false);
            f.library.store->setIsImporting(false);
            QVERIFY(f.waitIdle());
            QTRY_VERIFY(now->isEnabled());
        }
        // Signed out it is a few lines high; signed in the list of backups keeps its room.
        QTRY_COMPARE(sheetFitProblem(view, switches ? 520 : 0), QString());
        QCOMPARE(view.height() >= 520, switches);
    }

    void restoreAndDeleteAreConfirmedFirst() {
        CloudFixture f;
        f.setUpLibrary({{"A", 1}});
        QVERIFY(f.signInAndEnable());
        f.backup->backUpNow();
        QVERIFY(QTest::qWaitFor([&f] { return f.backup->snapshots().size() == 1 && !f.backup->busy(); }));
        CloudBackupView view(f.backup.get(), f.account.get());
        view.show();
        QVERIFY(f.waitIdle());
        QVERIFY(click(view, QStringLiteral("Wiederherstellen")));
        QVERIFY(answerConfirmation(view, QStringLiteral("Abbrechen")));
        QTest::qWait(100);
        QCOMPARE(f.library.store->collections().size(), 1);

        QVERIFY(click(view, QStringLiteral("Wiederherstellen")));
        QVERIFY(answerConfirmation(view, QStringLiteral("Wiederherstellen")));
        QVERIFY(QTest::qWaitFor([&f] { return f.library.store->collections().size() == 2; }));
        QVERIFY(f.waitIdle());

        QVERIFY(click(view, QStringLiteral("Löschen")));
        QVERIFY(answerConfirmation(view, QStringLiteral("Löschen")));
        QVERIFY(QTest::qWaitFor([&f] { return f.cloud.snapshots.isEmpty(); }));
    }

    void signInFromTheSheetHandsOverToTheAccountSheet() {
        CloudFixture f;
        CloudBackupView view(f.backup.get(), f.account.get());
        view.open();
        QVERIFY(click(view, QStringLiteral("Anmelden / Registrieren")));
        QVERIFY(!view.isVisible());
        QVERIFY(f.account->showSheet());
    }
};

QTEST_MAIN(TestCloudBackupView)
#include "tst_cloudbackupview.moc"
