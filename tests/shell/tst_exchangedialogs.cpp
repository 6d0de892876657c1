#include "shell/ApplicationMain.h"
#include "shell/DialogFilePanels.h"
#include "views/WindowAlerts.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
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
    void initTestCase();
    void germanQtTexts_data();
    void germanQtTexts();
    void titlesFiltersAndFolders_data();
    void titlesFiltersAndFolders();
    void alertAnswers_data();
    void alertAnswers();
    void goneWithTheirOwner();

private:
    QTemporaryDir m_home;
};

void TestExchangeDialogs::initTestCase() {
    // A home of our own: the dialogs start in its standard folders.
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    for (const char *folder : {"Pictures", "Documents", "elsewhere"})
        QVERIFY(QDir(m_home.path()).mkpath(QString::fromLatin1(folder)));
    QVERIFY2(installQtTranslations(), "Qt's German translation (qt6-translations-l10n) is missing");
}

void TestExchangeDialogs::germanQtTexts_data() {
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("text field menu") << QStringLiteral("menu")
                                     << QStringList{"&Rückgängig", "Wieder&herstellen", "&Ausschneiden",
                                                    "&Kopieren",   "Einf&ügen",         "Alles auswählen"};
    QTest::newRow("file dialog") << QStringLiteral("dialog")
                                 << QStringList{"Suchen in:", "Datei&name:", "Dateien des Typs:", "&Öffnen",
                                                "Abbrechen"};
}

void TestExchangeDialogs::germanQtTexts() {
    QFETCH(QString, widget);
    QFETCH(QStringList, texts);
    QStringList shown;
    if (widget == u"menu") {
        QLineEdit field;
        std::unique_ptr<QMenu> menu(field.createStandardContextMenu());
        for (const QAction *action : menu->actions())
            shown << action->text().section(u'\t', 0, 0);
    } else {
        QSettings settings(m_home.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        DialogFilePanels panels(nullptr, &settings);
        panels.chooseOpenFiles({{}, {QStringLiteral("*.vellumbox")}, false}, [](const QStringList &) {});
        QTRY_VERIFY(openDialog<QFileDialog>());
        const QFileDialog *dialog = openDialog<QFileDialog>();
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            shown << label->text();
        for (const QPushButton *button : dialog->findChildren<QPushButton *>())
            shown << button->text();
    }
    for (const QString &text : std::as_const(texts))
        QVERIFY2(shown.contains(text),
                 qPrintable(text + QStringLiteral(" not in: ") + shown.join(QStringLiteral(" | "))));
}

void TestExchangeDialogs::titlesFiltersAndFolders_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("chosen");
    const QStringList project{QStringLiteral("*.vellumbox")};
    const QStringList namedProject{QStringLiteral("Vellumbox-Projekte (*.vellumbox)")};
    QTest::newRow("open project") << "open" << project << "Projekt öffnen" << namedProject << "Documents"
                                  << "a.vellumbox";
    QTest::newRow("save project") << "save" << project << "Projekt sichern unter" << namedProject
                                  << "Documents"
                                  << "b.vellumbox";
    QTest::newRow("import images") << "open" << QStringList{QStringLiteral("*.png *.PNG *.jpg")}
                                   << "Bilder importieren"
                                   << QStringList{QStringLiteral("Bilder (*.png *.PNG *.jpg)")} << "Pictures"
                                   << "c.png";
    QTest::newRow("export PDF") << "export" << QStringList{QStringLiteral("PDF-Dokument (*.pdf)")}
                                << "PDF exportieren" << QStringList{QStringLiteral("PDF-Dokument (*.pdf)")}
                                << "Documents"
                                << "d.pdf";
}

void TestExchangeDialogs::titlesFiltersAndFolders() {
    QFETCH(QString, operation);
    QFETCH(QStringList, asked);
    QFETCH(QString, title);
    QFETCH(QStringList, filters);
    QFETCH(QString, folder);
    QFETCH(QString, chosen);
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    DialogFilePanels panels(nullptr, &settings);
    const QString elsewhere = m_home.filePath(QStringLiteral("elsewhere"));
    QFile file(elsewhere + u'/' + chosen);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QStringList answers;
    const auto ask = [&] {
        if (operation == u"open") {
            panels.chooseOpenFiles({QString(), asked, false},
                                   [&](const QStringList &paths) { answers << paths; });
        } else {
            FilePanels::SaveRequest request;
            request.title = operation == u"export" ? title : QString();
            request.suggestedName = QStringLiteral("neu");
            request.nameFilters = asked;
            panels.chooseSaveFile(request, [&](const QString &path) { answers << path; });
        }
        return QTest::qWaitFor([] { return openDialog<QFileDialog>() != nullptr; }, 5000);
    };

    QVERIFY(ask());
    QFileDialog *dialog = openDialog<QFileDialog>();
    QCOMPARE(dialog->windowTitle(), title);
    QCOMPARE(dialog->nameFilters(), filters);
    QCOMPARE(dialog->directory().absolutePath(), m_home.filePath(folder));
    // A file chosen elsewhere makes that folder the start of the next dialog of its kind.
    const QString path = elsewhere + u'/' + (operation == u"open" ? chosen : QStringLiteral("neu-") + chosen);
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
    QTRY_COMPARE(answers, QStringList{path});
    QTRY_VERIFY(!openDialog<QFileDialog>());
    QVERIFY(ask());
    QCOMPARE(openDialog<QFileDialog>()->directory().absolutePath(), elsewhere);
    openDialog<QFileDialog>()->reject();
    QTRY_VERIFY(!openDialog<QFileDialog>());
}

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
