#include "shell/DialogFilePanels.h"
#include "views/WindowAlerts.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {
template <typename T> T *openDialog() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *d = qobject_cast<T *>(w); d && d->isVisible())
            return d;
    }
    return nullptr;
}
} // namespace

class TestExchangeDialogs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void alertAnswers_data();
    void alertAnswers();
    void goneWithTheirOwner();
};

void TestExchangeDialogs::alertAnswers_data() {
    QTest::addColumn<int>("clicked"); // -1: Esc
    QTest::addColumn<int>("answer");
    QTest::newRow("first") << 0 << 0;
    QTest::newRow("second") << 1 << 1;
    QTest::newRow("Esc presses the escape button") << -1 << 2;
}

void TestExchangeDialogs::alertAnswers() {
    QFETCH(int, clicked);
    QFETCH(int, answer);
    QWidget window;
    window.show();
    WindowAlerts alerts(&window);
    const std::unique_ptr<AlertPresenter> presenter = alerts.storePresenter();
    const AlertPresenter::Alert alert{
        QStringLiteral("Frage?"), QStringLiteral("Text"), {"Eins", "Zwei", "Drei"}, 2};
    int answered = -99;
    presenter->show(alert, [&](int button) { answered = button; });
    QTRY_VERIFY(openDialog<QMessageBox>());
    QMessageBox *box = openDialog<QMessageBox>();
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QCOMPARE(box->text() + box->informativeText(), alert.messageText + alert.informativeText);
    QList<QAbstractButton *> buttons = box->buttons();
    std::sort(buttons.begin(), buttons.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
    QStringList byPosition;
    for (QAbstractButton *b : buttons)
        byPosition << b->text();
    QCOMPARE(byPosition, alert.buttons);
    QCOMPARE(box->defaultButton(), buttons.first());
    if (clicked < 0)
        QTest::keyClick(box, Qt::Key_Escape);
    else
        QTest::mouseClick(buttons[clicked], Qt::LeftButton);
    QTRY_COMPARE(answered, answer);
}

void TestExchangeDialogs::goneWithTheirOwner() {
    bool answered = false;
    {
        DialogFilePanels panels;
        panels.chooseOpenFiles({}, [&](const QStringList &) { answered = true; });
        QWidget window;
        window.show();
        WindowAlerts alerts(&window);
        alerts.storePresenter()->show({QStringLiteral("?"), {}, {QStringLiteral("OK")}, 0},
                                      [&](int) { answered = true; });
        QTRY_VERIFY(openDialog<QMessageBox>());
        QVERIFY(openDialog<QFileDialog>());
    }
    QCoreApplication::processEvents();
    QVERIFY(!openDialog<QFileDialog>() && !openDialog<QMessageBox>());
    QVERIFY(!answered);
}

QTEST_MAIN(TestExchangeDialogs)
#include "tst_exchangedialogs.moc"
