#include "account/AccountAPI.h"
#include "account/AccountStore.h"
#include "backup/BackupAPI.h"
#include "model/Ids.h"
#include "model/JsonCoding.h"
#include "platform/AccountVault.h"
#include "sharing/ImageShareStore.h"
#include "store/CollectionStore.h"
#include "views/CollectionPanelView.h"

#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {
constexpr int kPatienceMs = 60'000;

QByteArray png(QColor color) {
    QImage image(80, 60, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
} // namespace

class TestCollectionPanelView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_calls.clear();
    }
    void cleanup() { m_view.reset(); }

    // Three captures into a round: the panel follows the newest, a click in the strip picks another.
    void stripPicksTheShownSnip() {
        const QList<QUuid> ids = openRound();
        QCOMPARE(ids.size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(text(0), u"Rundgang"_s, kPatienceMs);
        QCOMPARE(text(1), u"3 Ausschnitte · pausiert"_s);
        QWidget *strip = m_view->findChild<QScrollArea *>()->widget();
        QTest::mouseClick(strip, Qt::LeftButton, {}, QPoint(6 + 28, 20)); // the first thumbnail
        QCOMPARE(m_store->panelSnip()->id, ids.first());
        QCOMPARE(m_store->sessionSnipID(), ids.first());
    }

    void fieldsEditThePanelSnip() {
        const QList<QUuid> ids = openRound();
        auto *title = m_view->findChild<QLineEdit *>();
        QTRY_VERIFY_WITH_TIMEOUT(title->isEnabled(), kPatienceMs);
        title->setFocus();
        title->setCursorPosition(0);
        QTest::keyClicks(title, u"  a "_s);
        QCOMPARE(snip(ids.last()).title, u"  a "_s);
        auto *note = m_view->findChild<QPlainTextEdit *>();
        QTest::keyClicks(note, u"Notiz eins"_s);
        QCOMPARE(snip(ids.last()).note, u"Notiz eins"_s);
        // Refreshing after the store changed keeps what is typed and where the caret stands.
        QCoreApplication::processEvents();
        QCOMPARE(title->text(), u"  a "_s);
        QCOMPARE(title->cursorPosition(), 4);
        // Another snip picked: the fields show its texts, and typing goes to it.
        m_store->selectPanelSnip(ids.first());
        QTRY_COMPARE_WITH_TIMEOUT(title->text(), QString(), kPatienceMs);
        QCOMPARE(note->toPlainText(), QString());
        QTest::keyClicks(title, u"b"_s);
        QCOMPARE(snip(ids.first()).title, u"b"_s);
        QCOMPARE(snip(ids.last()).title, u"  a "_s);
    }

    void buttonsFollowTheRound_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("clicks"); // button texts, in order
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("destination being prepared")
            << u"prepared"_s << QStringList{u"Ausschnitt aufnehmen"_s, u"Abbrechen"_s}
            << QStringList{u"capture"_s, u"pause"_s};
        QTest::newRow("round") << u"round"_s
                               << QStringList{u"Nächster Ausschnitt"_s, u"Pausieren"_s,
                                              u"Sammlung abschließen"_s, u"Im Editor ansehen"_s,
                                              u"Details im Editor"_s}
                               << QStringList{u"capture"_s, u"pause"_s, u"finish"_s, u"openEditor"_s,
                                              u"openEditor"_s};
    }
    void buttonsFollowTheRound() {
        QFETCH(QString, state);
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, calls);
        if (state == u"prepared") {
            open();
            QVERIFY(m_store->prepareCapture(CaptureChoice::newCollection()));
        } else {
            openRound();
        }
        for (const QString &label : clicks) {
            QTRY_VERIFY2_WITH_TIMEOUT(button(label) && button(label)->isVisible() &&
                                          button(label)->isEnabled(),
                                      qPrintable(label), kPatienceMs);
            button(label)->click();
        }
        QCOMPARE(m_calls, calls);
        QCOMPARE(button(u"Sammlung abschließen"_s)->isVisible(), state != u"prepared");
    }

    void destinationMenuPreparesTheCapture() {
        openRound();
        QMenu *menu = m_view->findChild<QToolButton *>()->menu();
        QMetaObject::invokeMethod(menu, "aboutToShow");
        QStringList titles;
        for (QAction *action : menu->actions())
            titles << (action->isSeparator() ? u"-"_s : action->text());
        QCOMPARE(titles, (QStringList{u"Neue Sammlung"_s, u"-"_s, u"Rundgang"_s}));
        menu->actions().first()->trigger();
        QCOMPARE(m_store->captureChoice(), OptionalCaptureChoice(CaptureChoice::newCollection()));
        QVERIFY(m_store->session()->isPaused);
        QMetaObject::invokeMethod(menu, "aboutToShow");
        menu->actions().last()->trigger();
        QCOMPARE(m_store->captureChoice(),
                 OptionalCaptureChoice(CaptureChoice::existing(m_store->collections().first().id)));
    }

    void compactBelow500_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("compact");
        QTest::newRow("560") << 560 << false;
        QTest::newRow("500") << 500 << false;
        QTest::newRow("499") << 499 << true;
        QTest::newRow("450") << 450 << true;
    }
    void compactBelow500() {
        QFETCH(int, height);
        QFETCH(bool, compact);
        openRound();
        m_view->resize(390, height);
        QCoreApplication::processEvents();
        QCOMPARE(m_view->isCompact(), compact);
        QCOMPARE(m_view->findChild<QScrollArea *>()->isVisible(), !compact);
        QCOMPARE(m_view->findChild<QPlainTextEdit *>()->isVisible(), !compact);
        QVERIFY(m_view->findChild<QLineEdit *>()->isVisible());
    }

private:
    // A round of three snips (saved running, so it comes back paused), then the store and the view.
    QList<QUuid> openRound() {
        SavedLibrary library;
        SnipCollection collection;
        collection.title = u"Rundgang"_s;
        QDir().mkpath(m_dir->filePath(u"Images"_s));
        for (const QColor color : {QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue)}) {
            Snip snip;
            snip.imageFile = uuidText(QUuid::createUuid()) + u".png"_s;
            QFile image(m_dir->filePath(u"Images/"_s + snip.imageFile));
            if (!image.open(QIODevice::WriteOnly) || image.write(png(color)) <= 0)
                return {};
            collection.items.append(snip);
        }
        library.collections = {collection};
        library.selectedID = collection.id;
        library.session = CaptureSession{collection.id, false};
        QFile file(m_dir->filePath(u"library.json"_s));
        if (!file.open(QIODevice::WriteOnly) || file.write(*encodeJson(library)) <= 0)
            return {};
        file.close();
        open();
        QList<QUuid> ids;
        for (const Snip &snip : collection.items)
            ids << snip.id;
        return ids;
    }

    void open() {
        m_store = std::make_unique<CollectionStore>(m_dir->path());
        m_account = std::make_unique<AccountStore>(AccountConfiguration::clientID);
        m_sharing = std::make_unique<ImageShareStore>(m_account.get());
        m_view = std::make_unique<CollectionPanelView>(
            m_store.get(), m_sharing.get(), [this] { m_calls << u"capture"_s; },
            [this] { m_calls << u"openEditor"_s; }, [this] { m_calls << u"finish"_s; },
            [this] { m_calls << u"pause"_s; });
        m_view->setMinimumSize(320, 420); // as the panel holds it
        m_view->resize(390, 560);
        m_view->show();
    }

    Snip snip(const QUuid &id) const {
        for (const SnipCollection &collection : m_store->collections())
            for (const Snip &snip : collection.items)
                if (snip.id == id)
                    return snip;
        return {};
    }

    QPushButton *button(const QString &label) const {
        for (QPushButton *button : m_view->findChildren<QPushButton *>())
            if (button->text() == label)
                return button;
        return nullptr;
    }

    // The heading (0) and the line below it (1).
    QString text(int index) const { return m_view->findChildren<QLabel *>().at(index)->text(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CollectionStore> m_store;
    std::unique_ptr<AccountStore> m_account;
    std::unique_ptr<ImageShareStore> m_sharing;
    std::unique_ptr<CollectionPanelView> m_view;
    QStringList m_calls;
};

QTEST_MAIN(TestCollectionPanelView)
#include "tst_collectionpanelview.moc"
