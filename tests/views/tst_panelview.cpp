#include "OnlineStubs.h"
#include "TextRecorder.h"
#include "store/StoreFixture.h"

#include "sharing/ImageShareStore.h"
#include "views/CollectionPanelView.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QStyleFactory>
#include <QTest>

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

QTEST_MAIN(TestPanelView)
#include "tst_panelview.moc"
