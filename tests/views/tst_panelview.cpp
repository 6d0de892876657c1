#include "FocusPictures.h"
#include "OnlineStubs.h"
#include "TextRecorder.h"
#include "store/StoreFixture.h"
#include "support/PopupWatch.h"
#include "support/X11TestSupport.h"

#include "look/ButtonKeys.h"
#include "look/FocusFrame.h"
#include "sharing/ImageShareStore.h"
#include "shell/CapturePanel.h"
#include "views/CollectionPanelView.h"

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

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

// The panel as the application shows it, around the view; a capture hides it, as the capture
// controller does.
struct CapturePanelFixture : StoreFixture {
    AccountStore account{AccountConfiguration::clientID};
    ImageShareStore sharing{&account};
    std::unique_ptr<CapturePanel> panel;
    CollectionPanelView *view = nullptr;
    QStringList calls;

    CapturePanelFixture() {
        panel = std::make_unique<CapturePanel>(nullptr);
        auto *layout = new QVBoxLayout(panel.get());
        layout->setContentsMargins(0, 0, 0, 0);
        view = new CollectionPanelView(
            store.get(), &sharing,
            [this] {
                calls << QStringLiteral("capture");
                store->setIsCapturing(true);
                panel->hide();
            },
            [this] { calls << QStringLiteral("openEditor"); }, [this] { calls << QStringLiteral("finish"); },
            [this] { calls << QStringLiteral("pause"); });
        layout->addWidget(view);
    }
    ~CapturePanelFixture() { panel.reset(); }

    // The capture ended: the panel comes back in front without taking the keyboard, after the
    // keyboard has left it as it does while the region tool runs.
    bool captureEnded() {
        if (!QTest::qWaitFor([&] { return QGuiApplication::focusWindow() != panel->windowHandle(); },
                             X11TestSupport::kPatienceMs))
            return false;
        store->setIsCapturing(false);
        panel->orderFront(false);
        return QTest::qWaitForWindowExposed(panel.get(), X11TestSupport::kPatienceMs);
    }

    QPushButton *button(const QString &text) const {
        for (QPushButton *button : view->findChildren<QPushButton *>())
            if (button->text() == text && button->isVisible())
                return button;
        return nullptr;
    }
    // A real click through the X server, where the window manager sees it.
    static bool click(QWidget *widget) {
        const QPoint at = widget->mapToGlobal(widget->rect().center());
        return X11TestSupport::xdotool(QStringLiteral("mousemove %1 %2 click 1").arg(at.x()).arg(at.y()));
    }
};

// Counts the releases of the mouse button or of a key that reach the program, wherever they go:
// once one is counted, what the press did is done.
struct Releases : QObject {
    QEvent::Type type;
    int key;
    int count = 0;
    explicit Releases(QEvent::Type type, int key = 0) : type(type), key(key) {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == type &&
            (type != QEvent::KeyRelease || (static_cast<QKeyEvent *>(event)->key() == key &&
                                            !static_cast<QKeyEvent *>(event)->isAutoRepeat())))
            ++count;
        return false;
    }
};

class TestPanelView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void keysAfterClicks_data();
    void keysAfterClicks();
    void buttonsShowTheFocusFrame_data();
    void buttonsShowTheFocusFrame();
    void stripKeysPickTheShownSnip_data();
    void stripKeysPickTheShownSnip();
    void noteKeepsUnusualText_data();
    void noteKeepsUnusualText();
    void longTitles_data();
    void longTitles();
};

void TestPanelView::initTestCase() {
    // As the application sets them at launch.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    ButtonKeys::install();
    FocusFrame::install();
}

void TestPanelView::keysAfterClicks_data() {
    QTest::addColumn<QString>("state");  // "prepared": a destination chosen; "round": a round runs
    QTest::addColumn<QString>("before"); // how the keyboard was last moved
    QTest::addColumn<QString>("field");  // clicked into while it takes no text
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("calls");
    const QStringList captured{QStringLiteral("capture")};
    QTest::newRow("Ausschnitt aufnehmen clicked, Titel, space") << "prepared"
                                                                << "click"
                                                                << "Titel"
                                                                << "space" << captured;
    QTest::newRow("Ausschnitt aufnehmen clicked, Notiz, Return") << "prepared"
                                                                 << "click"
                                                                 << "Notiz"
                                                                 << "Return" << captured;
    QTest::newRow("Nächster Ausschnitt clicked, Titel, Return") << "round"
                                                                << "click"
                                                                << "Titel"
                                                                << "Return" << captured;
    QTest::newRow("Nächster Ausschnitt clicked, Notiz, space") << "round"
                                                               << "click"
                                                               << "Notiz"
                                                               << "space" << captured;
    QTest::newRow("Ausschnitt aufnehmen by Tab and space, Notiz, space") << "prepared"
                                                                         << "space"
                                                                         << "Notiz"
                                                                         << "space" << captured;
    QTest::newRow("Ausschnitt aufnehmen by Tab and keypad Enter, Titel, space") << "prepared"
                                                                                << "KP_Enter"
                                                                                << "Titel"
                                                                                << "space" << captured;
    QTest::newRow("Pausieren reached by Tab, Titel, space") << "round"
                                                            << "tab"
                                                            << "Titel"
                                                            << "space" << QStringList();
}

// After the panel's capture button was used, the panel hid and came back, and the user clicked
// into the title or note while they take no text: what is typed next presses nothing. No second
// capture starts, the round does not pause, and "Ziel ▾" does not open.
void TestPanelView::keysAfterClicks() {
    QFETCH(QString, state);
    QFETCH(QString, before);
    QFETCH(QString, field);
    QFETCH(QString, key);
    QFETCH(QStringList, calls);
    CapturePanelFixture f;
    f.setUp({{QStringLiteral("A"), 0}});
    if (state == u"prepared")
        QVERIFY(f.store->prepareCapture(CaptureChoice::newCollection()));
    else
        f.store->setSession(CaptureSession{f.collection(0).id, false});
    f.panel->placeInitially();
    f.panel->orderFront(true);
    QVERIFY(QTest::qWaitForWindowActive(f.panel.get(), X11TestSupport::kPatienceMs));
    const QString capture =
        state == u"prepared" ? QStringLiteral("Ausschnitt aufnehmen") : QStringLiteral("Nächster Ausschnitt");
    QTRY_VERIFY_WITH_TIMEOUT(f.button(capture) && f.button(capture)->isEnabled(),
                             X11TestSupport::kPatienceMs);
    if (before == u"click") {
        QVERIFY(f.click(f.button(capture)));
    } else if (before == u"space") {
        f.button(capture)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(f.button(capture), Qt::Key_Space);
    } else if (before != u"tab") {
        f.button(capture)->setFocus(Qt::TabFocusReason);
        QVERIFY(X11TestSupport::xdotool(QStringLiteral("key ") + before));
    } else {
        f.button(QStringLiteral("Pausieren"))->setFocus(Qt::TabFocusReason);
    }
    QTRY_COMPARE_WITH_TIMEOUT(f.calls, calls, X11TestSupport::kPatienceMs);
    if (!calls.isEmpty())
        QVERIFY(f.captureEnded());
    QTRY_VERIFY_WITH_TIMEOUT(f.button(capture) && f.button(capture)->isEnabled(),
                             X11TestSupport::kPatienceMs);
    QWidget *target = field == u"Titel" ? static_cast<QWidget *>(f.view->findChild<QLineEdit *>())
                                        : f.view->findChild<QPlainTextEdit *>()->viewport();
    QVERIFY(!target->isEnabled());
    Releases clicked(QEvent::MouseButtonRelease);
    QVERIFY(f.click(target));
    QTRY_VERIFY_WITH_TIMEOUT(f.panel->isActiveWindow() && clicked.count > 0, X11TestSupport::kPatienceMs);

    const PopupWatch menus;
    Releases released(QEvent::KeyRelease, key == u"space" ? Qt::Key_Space : Qt::Key_Return);
    QVERIFY(X11TestSupport::xdotool(QStringLiteral("key ") + key));
    QTRY_VERIFY_WITH_TIMEOUT(released.count > 0, X11TestSupport::kPatienceMs);
    QCoreApplication::processEvents();
    QCOMPARE(f.calls, calls);
    QCOMPARE(menus.opened(), QStringList());
}

void TestPanelView::buttonsShowTheFocusFrame_data() {
    QTest::addColumn<bool>("prepared");
    QTest::addColumn<QStringList>("stops"); // what screen readers call them, in the order of Tab
    QTest::newRow("round") << false << QStringList{"Ziel ▾",      "Im Editor ansehen",
                                                   "Ausschnitte", "Titel",
                                                   "Notiz",       "Details im Editor",
                                                   "Anmelden",    "Nächster Ausschnitt",
                                                   "Pausieren",   "Sammlung abschließen"};
    QTest::newRow("destination being prepared")
        << true << QStringList{"Ziel ▾", "Details im Editor", "Ausschnitt aufnehmen", "Abbrechen"};
}

// Tab visits each control of the panel once, the strip of snips as one stop, and each says its
// name and shows the focus frame while it has the keyboard: the buttons, the blue one too, the
// fields and the strip around its shown snip.
void TestPanelView::buttonsShowTheFocusFrame() {
    QFETCH(bool, prepared);
    QFETCH(QStringList, stops);
    PanelFixture f({{QStringLiteral("A"), 2}});
    if (prepared)
        QVERIFY(f.store->prepareCapture(CaptureChoice::newCollection()));
    QVERIFY(QTest::qWaitForWindowActive(f.view.get(), X11TestSupport::kPatienceMs));
    f.settle();
    QWidget *first = f.view->findChild<QToolButton *>();
    const QWidget *strip = f.view->findChild<QScrollArea *>()->widget();
    first->setFocus(Qt::TabFocusReason);
    QStringList shown;
    for (QWidget *at = first; shown.size() <= stops.size();) {
        shown << QAccessible::queryAccessibleInterface(at)->text(QAccessible::Name);
        // The strip frames its shown snip, just outside the thumbnail.
        QRect area = at != strip
                         ? at->rect()
                         : at->inputMethodQuery(Qt::ImCursorRectangle).toRect().adjusted(-4, -4, 4, 4);
        area = QRect(at->mapTo(f.view.get(), area.topLeft()), area.size());
        const QImage withFocus = f.view->grab().toImage();
        QTest::keyClick(at, Qt::Key_Tab);
        f.settle();
        QVERIFY2(FocusPictures::framed(withFocus, f.view->grab().toImage(), area), qPrintable(shown.last()));
        at = QApplication::focusWidget();
        if (at == first)
            break;
    }
    QCOMPARE(shown.join(u"|"), stops.join(u"|"));
}

void TestPanelView::stripKeysPickTheShownSnip_data() {
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("shown");
    QTest::newRow("Right") << QList<int>{Qt::Key_Right} << 1;
    QTest::newRow("Right past the last") << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right} << 2;
    QTest::newRow("Left at the first") << QList<int>{Qt::Key_Left} << 0;
    QTest::newRow("End, Home") << QList<int>{Qt::Key_End, Qt::Key_Home} << 0;
    QTest::newRow("Down in the one row stays") << QList<int>{Qt::Key_Right, Qt::Key_Down} << 1;
}

// With the keyboard on the strip, the arrows pick the snip the panel shows and the keyboard stays;
// Tab then leads into that snip's title.
void TestPanelView::stripKeysPickTheShownSnip() {
    QFETCH(QList<int>, keys);
    QFETCH(int, shown);
    PanelFixture f({{QStringLiteral("A"), 3}});
    QVERIFY(QTest::qWaitForWindowActive(f.view.get(), X11TestSupport::kPatienceMs));
    f.store->selectPanelSnip(*f.id(QStringLiteral("A0")));
    f.settle();
    auto *title = f.view->findChild<QLineEdit *>();
    QWidget *strip = f.view->findChild<QScrollArea *>()->widget();
    strip->setFocus(Qt::TabFocusReason);
    for (const int key : keys)
        QTest::keyClick(strip, Qt::Key(key));
    f.settle();
    QCOMPARE(f.store->panelSnip()->id, f.collection(0).items[shown].id);
    QVERIFY(strip->hasFocus());
    QTest::keyClick(strip, Qt::Key_Tab);
    QVERIFY(title->hasFocus());
    QTest::keyClicks(title, QStringLiteral("x"));
    f.settle();
    QStringList titles{"A0", "A1", "A2"};
    titles[shown] = QStringLiteral("x");
    QCOMPARE(f.snips(0), titles.join(u' '));
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
