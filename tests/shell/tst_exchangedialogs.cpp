#include "shell/ApplicationMain.h"
#include "shell/DialogFilePanels.h"
#include "views/WindowAlerts.h"

#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

namespace {
template <typename T> T *openDialog() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *d = qobject_cast<T *>(w); d && d->isVisible())
            return d;
    }
    return nullptr;
}

bool writeBytes(const QString &path, qsizetype size) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'x')) == size;
}

// The first heading or entry of the detail view that does not fit its column; empty when all do.
QString cutText(const QTreeView *view) {
    const QHeaderView *header = view->header();
    const QAbstractItemModel *model = view->model();
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column))
            continue;
        if (header->sectionSizeHint(column) > header->sectionSize(column))
            return QStringLiteral("heading ") + model->headerData(column, Qt::Horizontal).toString();
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
            const QModelIndex index = model->index(row, column, view->rootIndex());
            const int shown = view->visualRect(index).width();
            const int needed = view->sizeHintForIndex(index).width();
            if (shown < needed)
                return QStringLiteral("%1 (%2 of %3 px)").arg(index.data().toString()).arg(shown).arg(needed);
        }
    }
    return {};
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
    void columnsReadable_data();
    void columnsReadable();
    void savedNameEndsInItsSuffix_data();
    void savedNameEndsInItsSuffix();
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
    // Whatever the system's locale says (the test runs with an English one).
    QTest::newRow("file dialog's types, sizes and dates")
        << QStringLiteral("entries")
        << QStringList{"PNG-Bild", "PDF-Dokument", "48,83 KiB", "07.12.26 14:30"};
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
    } else if (widget == u"dialog") {
        QSettings settings(m_home.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        DialogFilePanels panels(nullptr, &settings);
        panels.chooseOpenFiles({{}, {QStringLiteral("*.vellumbox")}, false}, [](const QStringList &) {});
        QTRY_VERIFY(openDialog<QFileDialog>());
        const QFileDialog *dialog = openDialog<QFileDialog>();
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            shown << label->text();
        for (const QPushButton *button : dialog->findChildren<QPushButton *>())
            shown << button->text();
    } else {
        QVERIFY(QLocale::system().language() != QLocale::German);
        QTemporaryDir folder;
        const QDateTime modified(QDate(2026, 12, 7), QTime(14, 30));
        for (const char *name : {"Skizze.png", "Bericht.pdf"}) {
            QFile file(folder.filePath(QString::fromLatin1(name)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(50'000, 'x')) == 50'000);
            QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
        }
        QSettings settings(m_home.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        DialogFilePanels panels(nullptr, &settings);
        panels.chooseOpenFiles({{}, {QStringLiteral("*.png *.pdf")}, false}, [](const QStringList &) {});
        QTRY_VERIFY(openDialog<QFileDialog>());
        QFileDialog *dialog = openDialog<QFileDialog>();
        dialog->setDirectory(folder.path());
        const auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
        QVERIFY(view);
        const QAbstractItemModel *model = view->model();
        QTRY_COMPARE(model->rowCount(view->rootIndex()), 2);
        // Types arrive with each file's details from Qt's background listing.
        QTRY_VERIFY(!model->index(0, 2, view->rootIndex()).data().toString().isEmpty() &&
                    !model->index(1, 2, view->rootIndex()).data().toString().isEmpty());
        for (int row = 0; row < 2; ++row) {
            for (int column = 1; column < model->columnCount(view->rootIndex()); ++column)
                shown << model->index(row, column, view->rootIndex()).data().toString();
        }
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
    // The next dialog, of the same kind unless given, and where it starts: empty, where the file
    // was chosen.
    QTest::addColumn<QStringList>("nextAsked");
    QTest::addColumn<QString>("nextFolder");
    const QStringList project{QStringLiteral("*.vellumbox")};
    const QStringList namedProject{QStringLiteral("Vellumbox-Projekte (*.vellumbox)")};
    QTest::newRow("open project") << "open" << project << "Projekt öffnen" << namedProject << "Documents"
                                  << "a.vellumbox" << QStringList() << QString();
    QTest::newRow("save project") << "save" << project << "Projekt sichern unter" << namedProject
                                  << "Documents"
                                  << "b.vellumbox" << QStringList() << QString();
    QTest::newRow("import images") << "open" << QStringList{QStringLiteral("*.png *.PNG *.jpg")}
                                   << "Bilder importieren"
                                   << QStringList{QStringLiteral("Bilder (*.png *.PNG *.jpg)")} << "Pictures"
                                   << "c.png" << QStringList() << QString();
    QTest::newRow("export PDF") << "export" << QStringList{QStringLiteral("PDF-Dokument (*.pdf)")}
                                << "PDF exportieren" << QStringList{QStringLiteral("PDF-Dokument (*.pdf)")}
                                << "Documents"
                                << "d.pdf" << QStringList() << QString();
    // PDF and Word are the one exported document in two forms.
    QTest::newRow("export PDF, then Word")
        << "export" << QStringList{QStringLiteral("PDF-Dokument (*.pdf)")} << "PDF exportieren"
        << QStringList{QStringLiteral("PDF-Dokument (*.pdf)")} << "Documents"
        << "e.pdf" << QStringList{QStringLiteral("Word-Dokument (*.docx)")} << "";
    QTest::newRow("import images, then a project")
        << "open" << QStringList{QStringLiteral("*.png")} << "Bilder importieren"
        << QStringList{QStringLiteral("Bilder (*.png)")} << "Pictures"
        << "f.png" << project << "Documents";
}

void TestExchangeDialogs::titlesFiltersAndFolders() {
    QFETCH(QString, operation);
    QFETCH(QStringList, asked);
    QFETCH(QString, title);
    QFETCH(QStringList, filters);
    QFETCH(QString, folder);
    QFETCH(QString, chosen);
    QFETCH(QStringList, nextAsked);
    QFETCH(QString, nextFolder);
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
    if (!nextAsked.isEmpty())
        asked = nextAsked;
    QVERIFY(ask());
    QCOMPARE(openDialog<QFileDialog>()->directory().absolutePath(),
             nextFolder.isEmpty() ? elsewhere : m_home.filePath(nextFolder));
    openDialog<QFileDialog>()->reject();
    QTRY_VERIFY(!openDialog<QFileDialog>());
}

// Names, sizes, types and dates of a folder's files, and the headings above them, are shown whole.
void TestExchangeDialogs::columnsReadable_data() {
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("export") << "export"
                            << QStringList{"Projektbericht Juni.pdf", "Anleitung Schritt für Schritt.pdf",
                                           "Ein Dokument.pdf"};
    QTest::newRow("import") << "import" << QStringList{"Bildschirmfoto 2024-03-07.png", "Skizze.jpg"};
}

void TestExchangeDialogs::columnsReadable() {
    QFETCH(QString, operation);
    QFETCH(QStringList, files);
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    QTemporaryDir folder;
    for (const QString &name : std::as_const(files))
        QVERIFY(writeBytes(folder.filePath(name), 50'000));
    DialogFilePanels panels(nullptr, &settings);
    if (operation == u"export") {
        FilePanels::SaveRequest request;
        request.title = QStringLiteral("PDF exportieren");
        request.suggestedName = QStringLiteral("Bericht.pdf");
        request.defaultSuffix = QStringLiteral("pdf");
        request.nameFilters = {QStringLiteral("PDF-Dokument (*.pdf)")};
        panels.chooseSaveFile(request, [](const QString &) {});
    } else {
        panels.chooseOpenFiles({QString(), {QStringLiteral("*.png *.jpg")}, true},
                               [](const QStringList &) {});
    }
    QTRY_VERIFY(openDialog<QFileDialog>());
    QFileDialog *dialog = openDialog<QFileDialog>();
    // Another folder than the one it opened in: its entries arrive after the dialog is on screen.
    dialog->setDirectory(folder.path());
    const auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
    QVERIFY(view && view->isVisible());
    QTRY_COMPARE(view->model()->rowCount(view->rootIndex()), files.size());
    QTRY_COMPARE(cutText(view), QString());
    dialog->reject();
    QTRY_VERIFY(!openDialog<QFileDialog>());
}

// The saved file ends in the type's suffix, in any letter case; a dot in the name or another
// type's suffix does not count. A file that the suffix makes the target is replaced only after a
// yes; a no goes back to the panel. "Qt" is Qt's own dialog; "desktop" stands for the desktop's,
// which hands back the name as typed without asking about the name with the suffix.
void TestExchangeDialogs::savedNameEndsInItsSuffix_data() {
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<QString>("press"); // in the question; empty: no question asked
    QTest::addColumn<QString>("saved"); // empty: nothing yet, the panel shows `again` instead
    QTest::addColumn<QString>("again");
    const auto row = [](const char *name, const QStringList &values) {
        QTestData &data = QTest::newRow(name);
        for (const QString &value : values)
            data << value;
    };
    const QString existing = QStringLiteral("Bericht v1.2.pdf");
    row("dot in the name", {"pdf", "Qt", "Bericht v1.2", "", "", existing, ""});
    row("another type's suffix", {"pdf", "Qt", "Bericht.txt", "", "", "Bericht.txt.pdf", ""});
    row("suffix in capitals", {"pdf", "Qt", "bericht.PDF", "", "", "bericht.PDF", ""});
    row("trailing dot", {"pdf", "Qt", "Bericht.", "", "", "Bericht.pdf", ""});
    row("project", {"vellumbox", "Qt", "Projekt.v2", "", "", "Projekt.v2.vellumbox", ""});
    row("suffix makes an existing name, replaced",
        {"pdf", "Qt", "Bericht v1.2", existing, "&Ja", existing, ""});
    row("suffix makes an existing name, kept",
        {"pdf", "Qt", "Bericht v1.2", existing, "&Nein", "", existing});
    row("desktop dialog, replaced",
        {"pdf", "desktop", "Bericht v1.2", existing, "Überschreiben", existing, ""});
    row("desktop dialog, kept", {"pdf", "desktop", "Bericht v1.2", existing, "Abbrechen", "", existing});
}

void TestExchangeDialogs::savedNameEndsInItsSuffix() {
    QFETCH(QString, suffix);
    QFETCH(QString, dialog);
    QFETCH(QString, typed);
    QFETCH(QString, existing);
    QFETCH(QString, press);
    QFETCH(QString, saved);
    QFETCH(QString, again);
    QTemporaryDir settingsDir;
    QSettings settings(settingsDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    QTemporaryDir folder;
    if (!existing.isEmpty())
        QVERIFY(writeBytes(folder.filePath(existing), 10));
    DialogFilePanels panels(nullptr, &settings);
    FilePanels::SaveRequest request;
    request.title = QStringLiteral("Sichern");
    request.suggestedName = QStringLiteral("Sammlung.") + suffix;
    request.defaultSuffix = suffix;
    request.nameFilters = {QStringLiteral("*.") + suffix};
    QStringList answers;
    panels.chooseSaveFile(request, [&](const QString &path) { answers << path; });
    QTRY_VERIFY(openDialog<QFileDialog>());
    QFileDialog *fileDialog = openDialog<QFileDialog>();
    fileDialog->setDirectory(folder.path());
    auto *name = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    QVERIFY(name);
    if (dialog == u"Qt") {
        fileDialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(fileDialog));
        name->setFocus();
        QTRY_VERIFY(name->hasFocus());
        name->clear();
        QTest::keyClicks(name, typed);
    } else {
        fileDialog->selectFile(folder.filePath(typed));
    }

    // Qt's own question runs its own event loop inside accept(): it is answered from a timer.
    QString question;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, this, [&] {
        QMessageBox *box = openDialog<QMessageBox>();
        if (!box)
            return;
        question = box->text();
        for (QAbstractButton *button : box->buttons())
            if (button->text() == press)
                button->click();
    });
    answerer.start(10);
    if (dialog == u"Qt")
        QTest::keyClick(name, Qt::Key_Return);
    else
        static_cast<QDialog *>(fileDialog)->done(QDialog::Accepted);

    if (saved.isEmpty()) {
        QTRY_VERIFY(!question.isEmpty() && !openDialog<QMessageBox>() && openDialog<QFileDialog>());
        QCOMPARE(answers, QStringList());
        QFileDialog *shown = openDialog<QFileDialog>();
        QCOMPARE(shown->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text(), again);
        QCOMPARE(shown->directory().absolutePath(), QDir(folder.path()).absolutePath());
        shown->reject();
        QTRY_COMPARE(answers, QStringList{QString()});
    } else {
        QTRY_COMPARE(answers, QStringList{folder.filePath(saved)});
    }
    QCOMPARE(question.contains(QStringLiteral("Bericht v1.2.pdf")), !press.isEmpty());
    QTRY_VERIFY(!openDialog<QFileDialog>() && !openDialog<QMessageBox>());
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
