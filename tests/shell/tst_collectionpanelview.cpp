#include "account/AccountAPI.h"
#include "account/AccountStore.h"
#include "backup/BackupAPI.h"
#include "look/Theme.h"
#include "model/Ids.h"
#include "model/JsonCoding.h"
#include "platform/AccountVault.h"
#include "sharing/ImageShareStore.h"
#include "shell/CapturePanel.h"
#include "store/CollectionStore.h"
#include "support/PopupWatch.h"
#include "views/CollectionPanelView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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
    void initTestCase() {
        // The look the application sets at launch.
        QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
        QApplication::setPalette(Theme::palette(QApplication::style()->standardPalette()));
        QApplication::setFont(Theme::font(13));
    }
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

    // With nothing shown, "Im Editor ansehen" cannot be used and must not look like a link.
    void disabledLinkReadsDisabled() {
        open();
        QPushButton *link = button(u"Im Editor ansehen"_s);
        QVERIFY(link);
        QTRY_VERIFY_WITH_TIMEOUT(link->isVisible() && !link->isEnabled(), kPatienceMs);
        const QImage image = link->grab().toImage();
        int darkest = 255;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
        QVERIFY2(darkest > 130, qPrintable(u"disabled link text grey %1"_s.arg(darkest)));
    }

    // Title and note can take text only while a snip is shown, and look it: without one their face
    // is the panel's own and their placeholder light.
    void fieldsLookUsableOnlyWithASnip_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<bool>("withSnip");
        QTest::newRow("title, no snip") << u"title"_s << false;
        QTest::newRow("note, no snip") << u"note"_s << false;
        QTest::newRow("title, snip shown") << u"title"_s << true;
        QTest::newRow("note, snip shown") << u"note"_s << true;
    }
    void fieldsLookUsableOnlyWithASnip() {
        QFETCH(QString, field);
        QFETCH(bool, withSnip);
        if (withSnip)
            openRound();
        else
            open();
        QWidget *widget = field == u"title"_s ? static_cast<QWidget *>(m_view->findChild<QLineEdit *>())
                                              : m_view->findChild<QPlainTextEdit *>();
        QTRY_COMPARE_WITH_TIMEOUT(widget->isEnabled(), withSnip, kPatienceMs);
        const QImage image = widget->grab().toImage();
        // Right of the placeholder, inside the frame.
        const QColor face = image.pixelColor(image.width() - 12, image.height() / 2);
        QCOMPARE(face.name(), (withSnip ? Theme::surface() : Theme::canvas()).name());
        int darkest = 255;
        for (int y = 2; y < image.height() - 2; ++y)
            for (int x = 2; x < image.width() / 2; ++x)
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
        if (withSnip)
            QVERIFY2(darkest < 130, qPrintable(u"placeholder grey %1"_s.arg(darkest)));
        else
            QVERIFY2(darkest > 130, qPrintable(u"placeholder grey %1"_s.arg(darkest)));
    }

    // Keys typed into a panel that shows no snip go nowhere: no menu opens, no button is pressed,
    // nothing is stored. Also after a click into the disabled title, and after the snip whose
    // title had the keyboard went away.
    void keysIntoAPanelWithoutSnip_data() {
        QTest::addColumn<QString>("before");
        QTest::newRow("panel activated") << u"activate"_s;
        QTest::newRow("click into the title") << u"click"_s;
        QTest::newRow("snip of the focused title gone") << u"gone"_s;
    }
    void keysIntoAPanelWithoutSnip() {
        QFETCH(QString, before);
        const auto title = [this] { return m_view->findChild<QLineEdit *>(); };
        if (before == u"gone"_s) {
            openRound();
            QTRY_VERIFY_WITH_TIMEOUT(title()->isEnabled(), kPatienceMs);
        } else {
            open();
        }
        m_view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
        if (before == u"click"_s)
            QTest::mouseClick(title(), Qt::LeftButton);
        if (before == u"gone"_s) {
            QTest::mouseClick(title(), Qt::LeftButton);
            QVERIFY(title()->hasFocus());
            QVERIFY(m_store->prepareCapture(CaptureChoice::newCollection()));
            QTRY_VERIFY_WITH_TIMEOUT(!title()->isEnabled(), kPatienceMs);
        }
        const QByteArray library = libraryBytes();
        const PopupWatch menus;
        // To whatever has the keyboard, as typing would.
        QTest::keyClicks(static_cast<QWidget *>(nullptr), u" Schritt eins "_s);
        QTest::keyClick(static_cast<QWidget *>(nullptr), Qt::Key_Space);
        QCoreApplication::processEvents();
        QCOMPARE(menus.opened(), QStringList());
        QCOMPARE(m_calls, QStringList());
        QCOMPARE(title()->text(), QString());
        QCOMPARE(libraryBytes(), library);
    }

    // The share controls' "Anmelden" looks like the panel's other buttons: the same face, border
    // and rounded corners, compared at the same size.
    void signInLooksLikeTheOtherButtons() {
        openRound();
        QTRY_VERIFY_WITH_TIMEOUT(button(u"Anmelden"_s) && button(u"Anmelden"_s)->isVisible(), kPatienceMs);
        const auto frame = [](QPushButton *b) {
            const QSize size = b->size();
            b->resize(120, 32);
            const QImage image = b->grab().toImage();
            b->resize(size);
            QStringList pixels;
            for (const QPoint at : {QPoint(0, 0), QPoint(1, 1), QPoint(0, 16), QPoint(4, 16), QPoint(60, 0),
                                    QPoint(60, 31), QPoint(119, 16), QPoint(118, 30)})
                pixels << image.pixelColor(at).name();
            return pixels;
        };
        QCOMPARE(frame(button(u"Anmelden"_s)), frame(button(u"Pausieren"_s)));
    }

    void destinationMenuPreparesTheCapture() {
        openRound();
        QMenu *menu = m_view->findChild<QToolButton *>()->menu();
        QMetaObject::invokeMethod(menu, "aboutToShow");
        QStringList titles;
        for (QAction *action : menu->actions())
            titles << (action->isSeparator() ? u"-"_s : action->text());
        QCOMPARE(titles, (QStringList{u"Neue Sammlung"_s, u"-"_s, u"Rundgang · 3 Ausschnitte"_s}));
        menu->actions().first()->trigger();
        QCOMPARE(m_store->captureChoice(), OptionalCaptureChoice(CaptureChoice::newCollection()));
        QVERIFY(m_store->session()->isPaused);
        QMetaObject::invokeMethod(menu, "aboutToShow");
        menu->actions().last()->trigger();
        QCOMPARE(m_store->captureChoice(),
                 OptionalCaptureChoice(CaptureChoice::existing(m_store->collections().first().id)));
    }

    // The menu ticks where the next capture goes, and a collection titled like the entry for a
    // new one still reads differently.
    void destinationMenuTicksTheTarget_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QString>("checked");
        const QStringList titles{u"Neue Sammlung"_s, u"-"_s, u"Rundgang · 3 Ausschnitte"_s,
                                 u"Neue Sammlung · Noch keine Ausschnitte"_s};
        QTest::newRow("round running") << u"running"_s << titles << titles[2];
        QTest::newRow("round paused, nothing chosen") << u"paused"_s << titles << titles[0];
        QTest::newRow("new collection chosen") << u"new"_s << titles << titles[0];
        QTest::newRow("empty collection chosen") << u"empty"_s << titles << titles[3];
        QTest::newRow("running, other collection chosen") << u"running empty"_s << titles << titles[3];
    }
    void destinationMenuTicksTheTarget() {
        QFETCH(QString, state);
        QFETCH(QStringList, titles);
        QFETCH(QString, checked);
        openRound(true);
        const QUuid round = m_store->collections().first().id;
        const QUuid empty = m_store->collections().last().id;
        if (state.startsWith(u"running"_s))
            QVERIFY(m_store->resumeCollection(round));
        if (state == u"new"_s)
            QVERIFY(m_store->prepareCapture(CaptureChoice::newCollection()));
        if (state.endsWith(u"empty"_s))
            QVERIFY(m_store->prepareCapture(CaptureChoice::existing(empty)));
        QMenu *menu = m_view->findChild<QToolButton *>()->menu();
        QMetaObject::invokeMethod(menu, "aboutToShow");
        QStringList shown, ticked;
        for (QAction *action : menu->actions()) {
            shown << (action->isSeparator() ? u"-"_s : action->text());
            if (action->isChecked())
                ticked << action->text();
        }
        QCOMPARE(shown, titles);
        QCOMPARE(ticked, QStringList{checked});
    }

    // The frame's right edge meets the usable area's, its lower edge 590 below the area's top, and
    // it never leaves the area.
    void framePosition_data() {
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<QPoint>("expected");
        QTest::newRow("no borders") << QRect(0, 0, 1920, 1080) << QSize(390, 560) << QPoint(1530, 30);
        QTest::newRow("window manager borders")
            << QRect(0, 0, 1920, 1080) << QSize(392, 583) << QPoint(1528, 7);
        QTest::newRow("second screen below a bar")
            << QRect(1920, 24, 1280, 1000) << QSize(392, 583) << QPoint(2808, 31);
        QTest::newRow("area lower than the frame")
            << QRect(0, 0, 800, 400) << QSize(392, 583) << QPoint(408, 0);
        QTest::newRow("frame taller than 590")
            << QRect(0, 0, 1920, 1080) << QSize(392, 620) << QPoint(1528, 0);
    }
    void framePosition() {
        QFETCH(QRect, available);
        QFETCH(QSize, frame);
        QFETCH(QPoint, expected);
        const QPoint at = CapturePanel::initialFramePosition(available, frame);
        QCOMPARE(at, expected);
        if (available.height() >= frame.height())
            QVERIFY(available.contains(QRect(at, frame)));
    }

    // No two visible parts of the panel overlap, and none leaves it, down to its smallest size.
    void noOverlapAtAnySize_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("status");
        const QString usual = u"Ausschnitt hinzugefügt · bereit für den nächsten"_s;
        const QString longer =
            u"Prüfe Bildschirmfoto vom 7. Dezember um 06.05.33 (Entwurf für die Anleitung).png"_s;
        QTest::newRow("320×420") << QSize(320, 420) << usual;
        QTest::newRow("350×500") << QSize(350, 500) << usual;
        QTest::newRow("320×500") << QSize(320, 500) << usual;
        QTest::newRow("320×500, status on three lines") << QSize(320, 500) << longer;
        QTest::newRow("390×450") << QSize(390, 450) << usual;
        QTest::newRow("390×500") << QSize(390, 500) << usual;
        QTest::newRow("390×560") << QSize(390, 560) << usual;
        QTest::newRow("390×560, status on two lines") << QSize(390, 560) << longer;
    }
    void noOverlapAtAnySize() {
        QFETCH(QSize, size);
        QFETCH(QString, status);
        openRound();
        QTRY_VERIFY_WITH_TIMEOUT(m_view->findChild<QLineEdit *>()->isEnabled(), kPatienceMs);
        m_store->setStatus(status);
        m_view->resize(size);
        QTRY_COMPARE_WITH_TIMEOUT(m_view->size(), size, kPatienceMs);
        // The status arrives by a queued refresh, and its new height by a layout request after it.
        QTRY_COMPARE_WITH_TIMEOUT(m_view->findChildren<QLabel *>().last()->text(), status, kPatienceMs);
        QCoreApplication::processEvents();
        // The laid-out parts: the view's own children, and those of plain containers among them.
        QList<QWidget *> parts;
        for (QWidget *child : m_view->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (!child->isVisible())
                continue;
            if (child->metaObject() == &QWidget::staticMetaObject && child->layout()) {
                for (QWidget *inner : child->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                    if (inner->isVisible())
                        parts << inner;
            } else {
                parts << child;
            }
        }
        QVERIFY(parts.size() >= 8);
        const auto frame = [&](QWidget *w) { return QRect(w->mapTo(m_view.get(), QPoint()), w->size()); };
        const auto name = [](QWidget *w) {
            const auto *button = qobject_cast<QAbstractButton *>(w);
            return QString::fromLatin1(w->metaObject()->className()) + u' ' +
                   (button ? button->text() : QString());
        };
        for (qsizetype i = 0; i < parts.size(); ++i) {
            QVERIFY2(m_view->rect().contains(frame(parts[i])),
                     qPrintable(name(parts[i]) + u" leaves the panel"_s));
            // Nothing is squeezed below what it needs, a wrapped status line included.
            QWidget *part = parts[i];
            const int needed = part->hasHeightForWidth()   ? part->heightForWidth(part->width())
                               : part->minimumHeight() > 0 ? part->minimumHeight()
                                                           : part->minimumSizeHint().height();
            QVERIFY2(
                parts[i]->height() >= std::max(1, needed),
                qPrintable(name(parts[i]) + u" is %1 high, needs %2"_s.arg(parts[i]->height()).arg(needed)));
            for (qsizetype j = i + 1; j < parts.size(); ++j)
                QVERIFY2(!frame(parts[i]).intersects(frame(parts[j])),
                         qPrintable(name(parts[i]) + u" overlaps "_s + name(parts[j])));
        }
    }

    // The title's placeholder and text start as far in as the note's.
    void titleInsetLikeNote() {
        openRound();
        auto *title = m_view->findChild<QLineEdit *>();
        auto *note = m_view->findChild<QPlainTextEdit *>();
        QTRY_VERIFY_WITH_TIMEOUT(title->isEnabled() && note->isVisible(), kPatienceMs);
        QCOMPARE(title->mapTo(m_view.get(), QPoint()).x(), note->mapTo(m_view.get(), QPoint()).x());
        const int titleText =
            title->mapTo(m_view.get(), title->inputMethodQuery(Qt::ImCursorRectangle).toRect().center()).x();
        const int noteText = note->viewport()->mapTo(m_view.get(), note->cursorRect().center()).x();
        QVERIFY2(qAbs(titleText - noteText) <= 1,
                 qPrintable(u"title %1, note %2"_s.arg(titleText).arg(noteText)));
    }

    void compactBelow500_data() {
        QTest::addColumn<int>("height");
        QTest::addColumn<bool>("compact");
        QTest::addColumn<QString>("focused"); // what has the keyboard before: it goes to no button
        QTest::newRow("560") << 560 << false << QString();
        QTest::newRow("500") << 500 << false << QString();
        QTest::newRow("499") << 499 << true << QString();
        QTest::newRow("450") << 450 << true << QString();
        QTest::newRow("450, the note focused") << 450 << true << u"note"_s;
        QTest::newRow("450, the strip focused") << 450 << true << u"strip"_s;
    }
    void compactBelow500() {
        QFETCH(int, height);
        QFETCH(bool, compact);
        QFETCH(QString, focused);
        openRound();
        QVERIFY(QTest::qWaitForWindowActive(m_view.get()));
        if (!focused.isEmpty())
            (focused == u"note"_s ? static_cast<QWidget *>(m_view->findChild<QPlainTextEdit *>())
                                  : m_view->findChild<QScrollArea *>()->widget())
                ->setFocus(Qt::TabFocusReason);
        m_view->resize(390, height);
        QCoreApplication::processEvents();
        QCOMPARE(m_view->isCompact(), compact);
        QCOMPARE(m_view->findChild<QScrollArea *>()->isVisible(), !compact);
        QCOMPARE(m_view->findChild<QPlainTextEdit *>()->isVisible(), !compact);
        QVERIFY(m_view->findChild<QLineEdit *>()->isVisible());
        if (!focused.isEmpty())
            QCOMPARE(QApplication::focusWidget(), m_view.get());
    }

private:
    // A round of three snips (saved running, so it comes back paused), then the store and the view.
    // With `emptyNamesake`, a second, empty collection carries the default title "Neue Sammlung".
    QList<QUuid> openRound(bool emptyNamesake = false) {
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
        if (emptyNamesake)
            library.collections.append(SnipCollection());
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

    // What the store holds now, as it would be written.
    QByteArray libraryBytes() const {
        SavedLibrary library;
        library.collections = m_store->collections();
        return *encodeJson(library);
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
