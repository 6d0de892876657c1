#include "shell/DialogFilePanels.h"
#include "shell/MessageBoxAlertPresenter.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
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
    void savePanel();
    void goneWithTheirOwner();
};

void TestExchangeDialogs::alertAnswers_data() {
    QTest::addColumn<int>("clicked"); // -1: Esc
    QTest::addColumn<int>("answer");
    QTest::newRow("first") << 0 << 0;
    QTest::newRow("second") << 1 << 1;
    QTest::newRow("Esc presses Abbrechen") << -1 << 2;
}

void TestExchangeDialogs::alertAnswers() {
    QFETCH(int, clicked);
    QFETCH(int, answer);
    MessageBoxAlertPresenter presenter;
    AlertPresenter::Alert alert;
    alert.messageText = QStringLiteral("Bild für die Cloud verkleinern?");
    alert.informativeText = QStringLiteral("a.png\n\nOriginal: …");
    alert.buttons = {QStringLiteral("Verkleinerte Kopie importieren"), QStringLiteral("Nur lokal behalten"),
                     QStringLiteral("Abbrechen")};
    alert.escapeButton = 2;
    int answered = -99;
    presenter.show(alert, [&](int button) { answered = button; });

    QMessageBox *box = openDialog<QMessageBox>();
    QVERIFY(box);
    QVERIFY(QTest::qWaitForWindowExposed(box));
    QCOMPARE(box->text(), alert.messageText);
    QCOMPARE(box->informativeText(), alert.informativeText);
    const QList<QAbstractButton *> buttons = box->buttons();
    QCOMPARE(buttons.size(), 3);
    QStringList byPosition;
    QList<QAbstractButton *> sorted = buttons;
    std::sort(sorted.begin(), sorted.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
    for (QAbstractButton *b : sorted)
        byPosition << b->text();
    QCOMPARE(byPosition, alert.buttons);
    QCOMPARE(box->defaultButton()->text(), alert.buttons.first());

    if (clicked < 0)
        QTest::keyClick(box, Qt::Key_Escape);
    else
        QTest::mouseClick(sorted[clicked], Qt::LeftButton);
    QTRY_COMPARE(answered, answer);
}

void TestExchangeDialogs::savePanel() {
    QTemporaryDir dir;
    DialogFilePanels panels;
    FilePanels::SaveRequest request;
    request.suggestedName = QStringLiteral("Anleitung.vellumbox");
    request.defaultSuffix = QStringLiteral("vellumbox");
    request.message = QStringLiteral("Bearbeitbares Projekt mit Originalbildern.");
    request.nameFilters = {QStringLiteral("*.vellumbox")};
    QString answered = QStringLiteral("-");
    panels.chooseSaveFile(request, [&](const QString &path) { answered = path; });

    QFileDialog *dialog = openDialog<QFileDialog>();
    QVERIFY(dialog);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialog->nameFilters(), request.nameFilters);
    QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(), request.suggestedName);
    bool messageShown = false;
    for (QLabel *label : dialog->findChildren<QLabel *>())
        messageShown = messageShown || label->text() == request.message;
    QVERIFY(messageShown);
    QCOMPARE(answered, QStringLiteral("-")); // nothing answered while the panel is open

    // A name typed without its suffix gets it.
    dialog->setDirectory(dir.path());
    dialog->selectFile(dir.filePath(QStringLiteral("neu")));
    QMetaObject::invokeMethod(dialog, "accept");
    QTRY_COMPARE(answered, dir.filePath(QStringLiteral("neu.vellumbox")));
}

void TestExchangeDialogs::goneWithTheirOwner() {
    bool answered = false;
    {
        DialogFilePanels panels;
        panels.chooseOpenFiles({}, [&](const QStringList &) { answered = true; });
        MessageBoxAlertPresenter alerts;
        alerts.show({QStringLiteral("?"), {}, {QStringLiteral("OK")}, 0}, [&](int) { answered = true; });
        QVERIFY(openDialog<QFileDialog>());
    }
    QCoreApplication::processEvents();
    QVERIFY(!openDialog<QFileDialog>());
    QVERIFY(!openDialog<QMessageBox>());
    QVERIFY(!answered);
}

QTEST_MAIN(TestExchangeDialogs)
#include "tst_exchangedialogs.moc"
