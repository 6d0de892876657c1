#include "OnlineStubs.h"
#include "TextRecorder.h"
#include "store/StoreFixture.h"

#include "sharing/ImageShareStore.h"
#include "views/CollectionPanelView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyleFactory>
#include <QTest>
#include <QToolButton>

// The capture panel's view over a real store whose round fills collection "A".
struct PanelFixture : StoreFixture {
    AccountStore account{AccountConfiguration::clientID};
    ImageShareStore sharing{&account};
    std::unique_ptr<CollectionPanelView> view;

    explicit PanelFixture(const QList<QPair<QString, int>> &shape) {
        setUp(shape);
        store->setSession(CaptureSession{collection(0).id, false});
        view = std::make_unique<CollectionPanelView>(
            store.get(), &sharing, [] {}, [] {}, [] {}, [] {});
        view->resize(390, 560);
        view->show();
        view->activateWindow();
        settle();
    }
    ~PanelFixture() { view.reset(); }

    static void settle() {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::processEvents();
    }
};

class TestPanelView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void noteKeepsUnusualText_data();
    void noteKeepsUnusualText();
    void longTitles_data();
    void longTitles();
};

void TestPanelView::initTestCase() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

void TestPanelView::noteKeepsUnusualText_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("afterTyping"); // "x" typed at the end
    const QString nbsp = QStringLiteral("10\u00A0% z.\u00A0B.");
    QTest::newRow("no-break spaces") << nbsp << nbsp + u'x';
    QTest::newRow("CR LF") << QStringLiteral("Eins\r\nZwei") << QStringLiteral("Eins\nZweix");
    QTest::newRow("line separator") << QStringLiteral("Eins\u2028Zwei") << QStringLiteral("Eins\u2028Zweix");
    QTest::newRow("no-break space, CR and paragraph separator")
        << QStringLiteral("a\u00A0b\rc\u2029d") << QStringLiteral("a\u00A0b\nc\ndx");
}

// A note from a project file or an older library: the panel neither rewrites it on a refresh
// nor moves the caret, and typing keeps its no-break spaces.
void TestPanelView::noteKeepsUnusualText() {
    QFETCH(QString, stored);
    QFETCH(QString, afterTyping);
    PanelFixture f({{QStringLiteral("A"), 2}});
    const QUuid id = *f.id(QStringLiteral("A1"));
    f.store->editSnip(id, [&](Snip &s) { s.note = stored; });
    QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
    f.settle();
    auto *note = f.view->findChild<QPlainTextEdit *>();
    QVERIFY(note && note->isEnabled());
    QTextCursor end(note->document());
    end.movePosition(QTextCursor::End);
    note->setTextCursor(end);
    note->setFocus(Qt::MouseFocusReason);
    const int last = end.position();
    QCOMPARE(last, afterTyping.size() - 1);
    // Any change of the round's collection refreshes the panel.
    f.store->editSnip(*f.id(QStringLiteral("A0")), [](Snip &s) { s.title = QStringLiteral("anders"); });
    f.settle();
    QCOMPARE(f.collection(0).items[1].note, stored);
    QCOMPARE(note->textCursor().position(), last);
    QTest::keyClicks(note, QStringLiteral("x"));
    f.settle();
    QCOMPARE(f.collection(0).items[1].note, afterTyping);
    QCOMPARE(note->textCursor().position(), last + 1);
}

void TestPanelView::longTitles_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("cut");
    QTest::newRow("short") << QStringLiteral("Rundgang") << false;
    QTest::newRow("words") << QStringLiteral(
                                  "Quartalsbericht der Abteilung für Kundenservice und Vertrieb mit allen "
                                  "Schritten der Einrichtung und den offenen Fragen")
                           << true;
    QTest::newRow("one long word")
        << QStringLiteral("Donaudampfschifffahrtsgesellschaftskapitänsmützenabzeichen").repeated(3) << true;
}

// The collection's title on one line ends with "…"; the snip's title field shows its start; the
// destination menu cuts long titles, keeps the counts and fits on the screen, with the entry
// for a new collection set apart.
void TestPanelView::longTitles() {
    QFETCH(QString, title);
    QFETCH(bool, cut);
    PanelFixture f({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 0}});
    f.store->editCurrent([&](SnipCollection &c) { c.title = title; });
    f.store->editSnip(*f.id(QStringLiteral("A1")), [&](Snip &s) { s.title = title; });
    f.settle();

    QLabel *heading = f.view->findChildren<QLabel *>().at(0);
    QCOMPARE(heading->text(), title);
    const QStringList painted = TextRecorder::texts(heading);
    QCOMPARE(painted.size(), 1);
    QCOMPARE(painted[0].endsWith(QChar(0x2026)), cut);
    QVERIFY(title.startsWith(cut ? painted[0].chopped(1) : painted[0]));
    QVERIFY(QFontMetricsF(heading->font()).horizontalAdvance(painted[0]) <= heading->width());

    auto *field = f.view->findChild<QLineEdit *>();
    QCOMPARE(field->text(), title);
    QCOMPARE(field->cursorPosition(), 0);
    QString shown = TextRecorder::texts(field).join(QString());
    QCOMPARE(shown.endsWith(QChar(0x2026)), cut);
    QVERIFY(title.startsWith(cut ? shown.chopped(1) : shown));

    auto *destination = f.view->findChild<QToolButton *>();
    QCOMPARE(destination->text(), QStringLiteral("Ziel ▾"));
    QMenu *menu = destination->menu();
    menu->popup(destination->mapToGlobal(destination->rect().bottomLeft()));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QStringList entries;
    for (QAction *action : menu->actions())
        entries << (action->isSeparator() ? QStringLiteral("-") : action->text());
    QCOMPARE(entries.size(), 4);
    QCOMPARE(entries.mid(0, 2), QStringList({"Neue Sammlung", "-"}));
    const QString count = QStringLiteral(" · 2 Ausschnitte");
    QVERIFY2(entries[2].endsWith(count), qPrintable(entries[2]));
    const QString entryTitle = entries[2].chopped(count.size());
    QCOMPARE(entryTitle.endsWith(QChar(0x2026)), cut);
    QVERIFY(title.startsWith(cut ? entryTitle.chopped(1) : entryTitle));
    QCOMPARE(entries[3], QStringLiteral("B · Noch keine Ausschnitte"));
    const QRect screen = destination->screen()->availableGeometry();
    QVERIFY2(screen.contains(menu->geometry()),
             qPrintable(
                 QStringLiteral("menu %1 px wide on a screen of %2").arg(menu->width()).arg(screen.width())));
    QVERIFY2(menu->width() <= 420, qPrintable(QString::number(menu->width())));
    menu->hide();
}

QTEST_MAIN(TestPanelView)
#include "tst_panelview.moc"
