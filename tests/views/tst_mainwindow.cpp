#include "FocusPictures.h"
#include "TextRecorder.h"
#include "ViewFixture.h"
#include "support/FakeXdgOpen.h"

#include "annotation/AnnotationWorkspace.h"
#include "look/ButtonKeys.h"
#include "look/FocusFrame.h"
#include "shell/ApplicationMain.h"
#include "views/DocumentHeader.h"
#include "views/EmptyState.h"
#include "views/Footer.h"
#include "views/LibraryWidgets.h"
#include "views/ScreenshotGrid.h"
#include "views/SessionBar.h"
#include "views/Sidebar.h"
#include "views/Toolbar.h"

#include <QAccessible>
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPaintEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleFactory>
#include <QStyleHints>

using FocusPictures::framed;

namespace {

// Collects what a widget paints, to tell whether a change reached the screen.
struct PaintWatcher : QObject {
    QRegion region;
    explicit PaintWatcher(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            region += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

void click(QAbstractButton *button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    ViewFixture::settle();
}

QAction *actionNamed(const QList<QAction *> &actions, const QString &text) {
    for (QAction *a : actions) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

// What a screen reader says for the widget with the keyboard: a grid names its current card.
QString spokenName(QWidget *widget) {
    QAccessibleInterface *face = QAccessible::queryAccessibleInterface(widget);
    if (!face)
        return {};
    if (QAccessibleInterface *focused = face->focusChild())
        face = focused;
    return face->text(QAccessible::Name);
}

// What a screen reader reads, in its order: the controls that take the keyboard now.
void readAloud(QAccessibleInterface *node, QStringList &read) {
    if (node->state().invisible || node->state().disabled)
        return;
    if (node->state().focusable && (node->childCount() == 0 || node->role() != QAccessible::Grouping)) {
        read << node->text(QAccessible::Name);
        return;
    }
    for (int i = 0; i < node->childCount(); ++i)
        readAloud(node->child(i), read);
}

// Steps of the grid's table besides keys.
constexpr int kPressAction = -1;  // the card's accessible press action
constexpr int kMoveUp = -2;       // the current card's snip moves up in its collection
constexpr int kRemove = -3;       // the current card's snip is removed
constexpr int kSwitchLayout = -4; // compact layout on or off
constexpr int kMessageBox = -5;   // a message box opens over the window and is answered
constexpr int kPressOff = -6;     // the next card pressed, the button released beside it
constexpr int kScrollAway = -7;   // the page scrolled to its end

// The text without the invisible marks that set the direction of its parts or join its letters.
QString withoutMarks(QString text) {
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0x200D && u <= 0x200F) || (u >= 0x2066 && u <= 0x2069);
    });
    return text;
}

bool isTextField(const QWidget *widget) {
    return qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QTextEdit *>(widget) ||
           qobject_cast<const QPlainTextEdit *>(widget);
}

// Drags `text` over `target` at `at` and drops it there (also where the drag was refused, which
// the desktop would not do); returns whether the drag over that point was taken.
bool dropText(QWidget *target, const QPoint &at, const QString &text) {
    QMimeData data;
    data.setText(text);
    QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent drop(QPointF(at), Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    ViewFixture::settle();
    return move.isAccepted();
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void enabledStates_data();
    void enabledStates();
    void deleteCollection_data();
    void deleteCollection();
    void reorderByDrop_data();
    void reorderByDrop();
    void dropKeepsMovedCardInView_data();
    void dropKeepsMovedCardInView();
    void cardLayout_data();
    void cardLayout();
    void cardFaces_data();
    void cardFaces();
    void cardMenu_data();
    void cardMenu();
    void typingKeepsSpacesAndCaret();
    void unusualTextKeepsCaret_data();
    void unusualTextKeepsCaret();
    void commentGrowsWhileTyping_data();
    void commentGrowsWhileTyping();
    void documentHeader();
    void selectedButtonStaysSelected_data();
    void selectedButtonStaysSelected();
    void removeAndUndo();
    void tabRound_data();
    void tabRound();
    void tabFromOutsideComesOnScreen_data();
    void tabFromOutsideComesOnScreen();
    void tabWalksThePage();
    void keyboardAfterAction_data();
    void keyboardAfterAction();
    void selectionScrolls();
    void tallCardKeepsCaretInView();
    void gridSummary_data();
    void gridSummary();
    void gridColumns_data();
    void gridColumns();
    void gridOpensSnipInItsCollection();
    void gridCardsAreButtons_data();
    void gridCardsAreButtons();
    void sessionBar_data();
    void sessionBar();
    void footer_data();
    void footer();
    void revealExport_data();
    void revealExport();
    void sidebarTexts();
    void longTextsEndWithEllipsis_data();
    void longTextsEndWithEllipsis();
    void sidebarFocusOutline_data();
    void sidebarFocusOutline();
    void sidebarAfterRestore_data();
    void sidebarAfterRestore();
    void hinweis_data();
    void hinweis();
    void storeQuestionWaitsBehindHinweis();
    void newerErrorIsShownNotCleared();
    void errorWaitsForTheWindow();
    void editorFace();
    void sheets();
};

void TestMainWindow::initTestCase() {
    // As the application sets them at launch.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    ButtonKeys::install();
    FocusFrame::install();
    // Qt's German translation also makes the windows left to right, where texts that run right to
    // left must keep their own direction.
    QVERIFY(installQtTranslations());
    QCOMPARE(QGuiApplication::layoutDirection(), Qt::LeftToRight);
    QCoreApplication::setOrganizationName(QStringLiteral("VellumboxTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_mainwindow"));
}

void TestMainWindow::enabledStates_data() {
    QTest::addColumn<QString>("activity");
    QTest::addColumn<QString>("shape");
    QTest::addColumn<bool>("all");
    QTest::addColumn<QString>("captureCall"); // the toolbar's capture button
    QTest::addColumn<bool>("exportable");     // the export menu, unless an export runs
    QTest::addColumn<QString>("emptyCall");   // the empty state's button; empty: none shown
    struct Shape {
        const char *shape;
        bool all;
        const char *captureCall;
        bool exportable;
        const char *emptyCall;
    };
    const Shape shapes[] = {
        {"none", false, "quickCapture", false, "quickCapture"},
        {"none", true, "quickCapture", false, "quickCapture"},
        {"empty", false, "capture", false, "capture"},
        {"empty", true, "quickCapture", false, ""},
        {"snips", false, "capture", true, ""},
        {"snips", true, "quickCapture", false, ""},
    };
    for (const char *activity : {"idle", "capturing", "exporting", "importing"}) {
        for (const Shape &s : shapes) {
            QTest::addRow("%s, %s%s", activity, s.shape, s.all ? ", all screenshots" : "")
                << QString::fromLatin1(activity) << QString::fromLatin1(s.shape) << s.all
                << QString::fromLatin1(s.captureCall) << s.exportable << QString::fromLatin1(s.emptyCall);
        }
    }
}

void TestMainWindow::enabledStates() {
    QFETCH(QString, activity);
    QFETCH(QString, shape);
    QFETCH(bool, all);
    QFETCH(QString, captureCall);
    QFETCH(bool, exportable);
    QFETCH(QString, emptyCall);
    ViewFixture f;
    if (shape == u"none")
        f.setUp({});
    else
        f.setUp({{QStringLiteral("A"), shape == u"snips" ? 2 : 0}, {QStringLiteral("B"), 1}});
    if (shape != u"none")
        f.store->setSession(CaptureSession{*f.id(QStringLiteral("A")), false});
    f.store->setDeletedCollections({DeletedCollection{SnipCollection{}, 0}});
    f.store->setIsCapturing(activity == u"capturing");
    f.store->setIsExporting(activity == u"exporting");
    f.store->setIsImporting(activity == u"importing");
    f.view->state()->setShowingAll(all);
    f.settle();
    const bool idle = activity != u"capturing" && activity != u"exporting";
    const bool importable = idle && activity != u"importing";

    Sidebar *sidebar = f.view->sidebar();
    QCOMPARE(sidebar->newCollectionButton()->isEnabled(), idle);
    QCOMPARE(sidebar->quickCaptureButton()->isEnabled(), idle);
    QVERIFY(sidebar->cloudButton()->isEnabled() && sidebar->accountButton()->isEnabled());
    for (const QUuid &id : sidebar->listedIDs()) {
        QCOMPARE(sidebar->deleteButton(id)->isEnabled(), idle);
        QMenu menu;
        QCOMPARE(sidebar->contextActions(id, &menu).first()->isEnabled(), idle);
        QVERIFY(sidebar->row(id)->isEnabled());
    }

    Toolbar *toolbar = f.view->toolbar();
    QCOMPARE(toolbar->importButton()->isEnabled(), importable);
    QCOMPARE(toolbar->captureButton()->isEnabled(), idle);
    QCOMPARE(toolbar->exportButton()->isEnabled(), exportable && activity != u"exporting");
    QCOMPARE(toolbar->exportButton()->text(),
             activity == u"exporting" ? QStringLiteral("Exportiert …") : QStringLiteral("Exportieren"));
    QCOMPARE(toolbar->importAction()->isEnabled(), activity != u"importing");
    QCOMPARE(toolbar->pasteAction()->isEnabled(), activity != u"importing");
    QVERIFY(toolbar->openProjectAction()->isEnabled() && toolbar->saveProjectAction()->isEnabled());
    QCOMPARE(toolbar->panelAction()->text(), QStringLiteral("Sammelleiste anzeigen"));
    QCOMPARE(toolbar->panelAction()->isEnabled(), shape != u"none");
    QVERIFY(!toolbar->undoDeleteAction()->isEnabled());
    QCOMPARE(toolbar->restoreCollectionAction()->isEnabled(), idle);
    QCOMPARE(toolbar->deleteCollectionAction()->isVisible(), shape != u"none");
    if (shape != u"none")
        QCOMPARE(toolbar->deleteCollectionAction()->isEnabled(), idle);

    QCOMPARE(f.view->footer()->restoreButton()->isVisibleTo(f.view.get()), true);
    QCOMPARE(f.view->footer()->restoreButton()->isEnabled(), idle);
    QCOMPARE(f.view->sessionBar()->isVisibleTo(f.view.get()), shape != u"none");
    if (shape != u"none")
        QCOMPARE(f.view->sessionBar()->isEnabled(), idle);
    // The export menu is reached through its button only; once open, every entry can be chosen.
    QStringList entries;
    for (QAction *a : toolbar->exportMenu()->actions())
        entries << (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->isEnabled() ? "" : " (aus)"));
    QCOMPARE(entries, QStringList({"PDF-Dokument (.pdf)", "Word-Dokument (.docx)", "-",
                                   "Bearbeitbares Projekt (.vellumbox)"}));
    click(toolbar->exportButton());
    QCOMPARE(toolbar->exportMenu()->isVisible(), toolbar->exportButton()->isEnabled());
    toolbar->exportMenu()->hide();

    // The button under the cards captures into the collection on screen.
    QAbstractButton *addNext = f.document()->addNextButton();
    QCOMPARE(addNext->isVisibleTo(f.view.get()), shape == u"snips" && !all);
    if (addNext->isVisibleTo(f.view.get())) {
        QCOMPARE(addNext->text(), QStringLiteral("Nächsten Ausschnitt hinzufügen"));
        QCOMPARE(addNext->isEnabled(), idle);
        click(addNext);
        QCOMPARE(f.closure(), idle ? QStringLiteral("capture") : QString());
        QCOMPARE(f.store->selectedID(), f.id(QStringLiteral("A")));
        f.calls.clear();
    }

    EmptyState *empty = nullptr;
    for (EmptyState *candidate : f.view->findChildren<EmptyState *>()) {
        if (candidate->isVisible())
            empty = candidate;
    }
    QCOMPARE(empty != nullptr, !emptyCall.isEmpty());
    if (empty) {
        QCOMPARE(empty->captureButton()->isEnabled(), idle);
        QCOMPARE(empty->importButton()->isEnabled(), activity != u"importing");
        if (idle) {
            click(empty->captureButton());
            QCOMPARE(f.closure(), emptyCall);
            QVERIFY(!f.view->state()->showingAll());
            f.calls.clear();
            f.view->state()->setShowingAll(all);
            f.settle();
        }
    }
    if (idle) {
        click(toolbar->captureButton());
        QCOMPARE(f.closure(), captureCall);
    }
}

void TestMainWindow::deleteCollection_data() {
    QTest::addColumn<QString>("route");
    QTest::addColumn<int>("snips");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("message"); // empty: deleted at once, no question
    const QString one =
        QStringLiteral("„A“ mit 1 Ausschnitt löschen? Du kannst die Sammlung anschließend wiederherstellen.");
    const QString two = QStringLiteral(
        "„A“ mit 2 Ausschnitten löschen? Du kannst die Sammlung anschließend wiederherstellen.");
    const QString untitled = QStringLiteral(
        "„Ohne Titel“ mit 2 Ausschnitten löschen? Du kannst die Sammlung anschließend wiederherstellen.");
    QTest::newRow("trash, one snip, cancel") << "trash" << 1 << "A" << false << one;
    QTest::newRow("trash, one snip, confirm") << "trash" << 1 << "A" << true << one;
    QTest::newRow("context menu, two snips, confirm") << "context" << 2 << "A" << true << two;
    QTest::newRow("context menu, two snips, cancel") << "context" << 2 << "A" << false << two;
    QTest::newRow("utility menu, untitled, confirm") << "menu" << 2 << "" << true << untitled;
    QTest::newRow("trash, empty collection") << "trash" << 0 << "A" << true << QString();
    QTest::newRow("context menu, empty collection") << "context" << 0 << "A" << true << QString();
    QTest::newRow("utility menu, empty collection") << "menu" << 0 << "A" << true << QString();
}

void TestMainWindow::deleteCollection() {
    QFETCH(QString, route);
    QFETCH(int, snips);
    QFETCH(QString, title);
    QFETCH(bool, confirm);
    QFETCH(QString, message);
    ViewFixture f;
    f.setUp({{QStringLiteral("X"), 1}, {QStringLiteral("A"), snips}, {QStringLiteral("Y"), 1}});
    const QUuid id = *f.id(QStringLiteral("A"));
    f.store->editCurrent([](SnipCollection &) {});
    f.store->setSelectedID(id);
    f.store->editCurrent([&](SnipCollection &c) { c.title = title; });
    f.settle();
    const QList<SnipCollection> before = f.store->collections();

    if (route == u"trash") {
        click(f.view->sidebar()->deleteButton(id));
    } else if (route == u"context") {
        QMenu menu;
        actionNamed(f.view->sidebar()->contextActions(id, &menu), QStringLiteral("Sammlung löschen"))
            ->trigger();
    } else {
        f.view->toolbar()->deleteCollectionAction()->trigger();
    }
    QMessageBox *box = f.openBox();
    if (message.isEmpty()) {
        QVERIFY(!box);
        QCOMPARE(f.titles(), QStringLiteral("X Y"));
        return;
    }
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Sammlung löschen?"));
    QCOMPARE(box->informativeText(), message);
    QCOMPARE(f.buttonTexts(), QStringList({QStringLiteral("Sammlung löschen"), QStringLiteral("Abbrechen")}));
    QVERIFY(f.press(confirm ? QStringLiteral("Sammlung löschen") : QStringLiteral("Abbrechen")));
    QVERIFY(!f.view->state()->collectionToDelete());
    QVERIFY(!f.openBox());
    if (!confirm) {
        QCOMPARE(f.store->collections(), before);
        return;
    }
    QCOMPARE(f.store->collections().size(), 2);
    click(f.view->footer()->restoreButton());
    QCOMPARE(f.store->collections(), before);
    QCOMPARE(f.store->selectedID(), OptionalUuid(id));
}

void TestMainWindow::reorderByDrop_data() {
    QTest::addColumn<QString>("dragged"); // a snip title, or any other text as it is
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("onHeading");
    QTest::addColumn<QString>("order");
    QTest::newRow("3 onto 1") << "A2"
                              << "A0" << false << "A2 A0 A1 A3";
    QTest::newRow("1 onto 3") << "A0"
                              << "A2" << false << "A1 A0 A2 A3";
    QTest::newRow("4 onto 2") << "A3"
                              << "A1" << false << "A0 A3 A1 A2";
    QTest::newRow("onto itself") << "A1"
                                 << "A1" << false << "A0 A1 A2 A3";
    QTest::newRow("text that is no id") << "hallo"
                                        << "A0" << false << "A0 A1 A2 A3";
    QTest::newRow("id with text after it") << "A2+"
                                           << "A0" << false << "A0 A1 A2 A3";
    QTest::newRow("onto the heading field") << "A2"
                                            << "A0" << true << "A0 A1 A2 A3";
}

void TestMainWindow::reorderByDrop() {
    QFETCH(QString, dragged);
    QFETCH(QString, target);
    QFETCH(bool, onHeading);
    QFETCH(QString, order);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 4}});
    f.writeImages();
    QString text = dragged;
    if (const auto id = f.id(dragged.left(2)); id && dragged.startsWith(u'A'))
        text = uuidText(*id) + dragged.mid(2);
    SnipCard *card = f.card(target);
    QVERIFY(card);
    const QPoint at =
        onHeading ? card->headingField()->geometry().center() : card->cardGeometry().preview.center();
    QCOMPARE(dropText(card, at, text), !onHeading);
    QCOMPARE(f.snips(0), order);
    QCOMPARE(card->headingField()->text(), target);
}

void TestMainWindow::dropKeepsMovedCardInView_data() {
    QTest::addColumn<QString>("dragged");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("shownOfTarget"); // how far down the target card the page is scrolled
    QTest::addColumn<QString>("order");
    QTest::newRow("to the top, page at the top") << "A4"
                                                 << "A0" << -1000 << "A4 A0 A1 A2 A3 A5";
    QTest::newRow("to the top, its header scrolled away") << "A4"
                                                          << "A0" << 120 << "A4 A0 A1 A2 A3 A5";
    QTest::newRow("up, target at the top of the view") << "A5"
                                                       << "A2" << 0 << "A0 A1 A5 A2 A3 A4";
    QTest::newRow("down, target at the top of the view") << "A1"
                                                         << "A4" << 0 << "A0 A2 A3 A1 A4 A5";
    QTest::newRow("down, target's header scrolled away") << "A0"
                                                         << "A3" << 150 << "A1 A2 A0 A3 A4 A5";
}

// After a drop the moved card's header is on screen, wherever the page stood.
void TestMainWindow::dropKeepsMovedCardInView() {
    QFETCH(QString, dragged);
    QFETCH(QString, target);
    QFETCH(int, shownOfTarget);
    QFETCH(QString, order);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 6}});
    f.writeImages();
    f.settle();
    QTRY_VERIFY(f.view->previews()->imageSize(f.collection(0).items[0].imageFile));
    f.settle();
    CollectionDocument *document = f.document();
    QScrollBar *bar = document->verticalScrollBar();
    bar->setValue(document->cardRect(*f.id(target)).top() + shownOfTarget);
    f.settle();
    SnipCard *card = document->card(*f.id(target));
    QVERIFY(card && card->isVisible());
    const QRect shown(0, bar->value(), document->viewport()->width(), document->viewport()->height());
    const QPoint at = card->geometry().intersected(shown).center() - card->pos();
    QVERIFY(dropText(card, at, uuidText(*f.id(dragged))));
    f.settle();
    QTRY_VERIFY(!document->isScrolling());
    QCOMPARE(f.snips(0), order);
    const QRect moved = document->cardRect(*f.id(dragged));
    const int header = 2 * SnipCardLayout::kPadding + SnipCardLayout::kHeaderControlHeight;
    const int top = bar->value();
    QVERIFY2(moved.top() >= top && moved.top() + header <= top + document->viewport()->height(),
             qPrintable(QStringLiteral("card at %1, view from %2 to %3")
                            .arg(moved.top())
                            .arg(top)
                            .arg(top + document->viewport()->height())));
}

void TestMainWindow::cardLayout_data() {
    QTest::addColumn<int>("documentWidth");
    QTest::addColumn<bool>("compact");
    QTest::addColumn<QSize>("image"); // invalid: the file is missing
    QTest::addColumn<bool>("wide");
    QTest::addColumn<int>("maxHeight"); // of the image inside the preview
    QTest::newRow("780: stacked") << 780 << false << QSize(1600, 900) << false << 340;
    QTest::newRow("781: side by side") << 781 << false << QSize(1600, 900) << true << 340;
    QTest::newRow("wide, tall image stops at 340") << 1100 << false << QSize(1000, 1000) << true << 340;
    QTest::newRow("wide compact: 260 column") << 1100 << true << QSize(1600, 900) << true << 180;
    QTest::newRow("wide compact, tall image") << 1100 << true << QSize(1000, 2000) << true << 180;
    QTest::newRow("stacked compact stops at 180") << 780 << true << QSize(1600, 900) << false << 180;
    QTest::newRow("missing image") << 1100 << false << QSize() << true << 0;
}

void TestMainWindow::cardLayout() {
    QFETCH(int, documentWidth);
    QFETCH(bool, compact);
    QFETCH(QSize, image);
    QFETCH(bool, wide);
    QFETCH(int, maxHeight);
    ViewFixture f(QSize(documentWidth + 249, 920));
    f.setUp({{QStringLiteral("A"), 1}});
    if (image.isValid())
        f.writeImage(f.collection(0).items[0].imageFile, image);
    f.view->state()->setCompactLayout(compact);
    QCOMPARE(f.document()->width(), documentWidth);
    QTRY_VERIFY(f.view->previews()->imageSize(f.collection(0).items[0].imageFile));
    f.settle();
    SnipCard *card = f.card(QStringLiteral("A0"));
    QCOMPARE(f.document()->isWide(), wide);
    const SnipCardLayout::Geometry &g = card->cardGeometry();
    QCOMPARE(card->preview()->showsPlaceholder(), !image.isValid());
    if (!image.isValid()) {
        QVERIFY(g.image.isEmpty());
        QCOMPARE(g.preview.height(), 140 + 24);
    } else {
        // The image keeps its shape, fills the width unless that passes the height limit.
        const int room = g.preview.width() - 24;
        QVERIFY(g.image.height() <= maxHeight && g.image.width() <= room);
        QVERIFY(g.image.width() == room || g.image.height() == maxHeight);
        QVERIFY(qAbs(g.image.width() * image.height() - g.image.height() * image.width()) <= image.width());
        QCOMPARE(g.preview.height(), g.image.height() + 24);
        QCOMPARE(g.image.center().x(), g.preview.center().x());
    }
    if (wide) {
        QVERIFY(g.comment.left() > g.preview.right());
        QVERIFY(g.bodyDivider.isEmpty());
        QCOMPARE(compact ? g.preview.width() : g.comment.width(), compact ? 260 : 240);
    } else {
        QVERIFY(g.comment.top() > g.preview.bottom());
        QCOMPARE(g.comment.width(), g.preview.width());
    }
    // The document placed the card exactly as tall as the card lays itself out.
    QCOMPARE(card->height(), g.height);
}

void TestMainWindow::cardFaces_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("snip");
    QTest::addColumn<int>("marks");
    QTest::addColumn<QString>("image"); // what lies under the snip's file name
    QTest::addColumn<QString>("badge");
    QTest::addColumn<QString>("placeholder");
    QTest::addColumn<QString>("marksLine");
    QTest::newRow("first step, no file") << "steps"
                                         << "A0" << 0 << "missing"
                                         << "01"
                                         << "Schritt beschreiben …"
                                         << "";
    QTest::newRow("tenth step, one mark, no image in the file") << "steps"
                                                                << "A9" << 1 << "garbage"
                                                                << "10"
                                                                << "Schritt beschreiben …"
                                                                << "1 Markierung im Bild";
    QTest::newRow("hundredth step, two marks, image") << "steps"
                                                      << "A99" << 2 << "png"
                                                      << "100"
                                                      << "Schritt beschreiben …"
                                                      << "2 Markierungen im Bild";
    QTest::newRow("notes: a dot, cut-off image") << "notes"
                                                 << "A9" << 0 << "truncated"
                                                 << ""
                                                 << "Überschrift …"
                                                 << "";
    QTest::newRow("folder under the file name") << "steps"
                                                << "A1" << 0 << "folder"
                                                << "02"
                                                << "Schritt beschreiben …"
                                                << "";
    QTest::newRow("file name leaving the folder") << "steps"
                                                  << "A1" << 0 << "bad name"
                                                  << "02"
                                                  << "Schritt beschreiben …"
                                                  << "";
}

void TestMainWindow::cardFaces() {
    QFETCH(QString, mode);
    QFETCH(QString, snip);
    QFETCH(int, marks);
    QFETCH(QString, image);
    QFETCH(QString, badge);
    QFETCH(QString, placeholder);
    QFETCH(QString, marksLine);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 100}});
    const QUuid id = *f.id(snip);
    f.store->editCurrent([&](SnipCollection &c) {
        c.mode = mode == u"notes" ? CollectionMode::Notes : CollectionMode::Steps;
        for (Snip &s : c.items) {
            if (s.id == id) {
                for (int i = 0; i < marks; ++i)
                    s.marks.append(Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.5, 0.5));
                if (image == u"bad name")
                    s.imageFile = QStringLiteral("../") + s.imageFile;
            }
        }
    });
    const QString path =
        f.store->imagesDirectory() + u'/' + f.collection(0).items[snip.mid(1).toInt()].imageFile;
    if (image == u"png" || image == u"truncated" || image == u"bad name")
        f.writeImage(QFileInfo(path).fileName());
    if (image == u"truncated") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(file.size() / 2));
    } else if (image == u"garbage") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4000, 'x'));
    } else if (image == u"folder") {
        QVERIFY(QDir().mkpath(path));
    }
    SnipCard *card = f.card(snip);
    QCOMPARE(card->badgeText(), badge);
    QCOMPARE(card->headingField()->placeholderText(), placeholder);
    QCOMPARE(card->marksText(), marksLine);
    QCOMPARE(card->cardGeometry().marks.isEmpty(), marks == 0);
    // The buttons are named alike on every card; a screen reader also hears whose they are.
    const QString whose = QStringLiteral("Ausschnitt %1 „%2“").arg(snip.mid(1).toInt() + 1).arg(snip);
    QCOMPARE(card->editButton()->accessibleDescription() + card->removeButton()->accessibleDescription(),
             whose + whose);
    // Without a readable image the card says so, and still opens the editor.
    if (image == u"png") {
        QTRY_VERIFY_WITH_TIMEOUT(card->preview()->hasThumbnail(), 10000);
        QVERIFY(!card->preview()->showsPlaceholder());
        QCOMPARE(TextRecorder::texts(card->preview()), QStringList());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(card->preview()->showsPlaceholder(), 10000);
        QCOMPARE(TextRecorder::texts(card->preview()), QStringList(QStringLiteral("Bild nicht verfügbar")));
    }
    click(card->preview());
    QCOMPARE(f.view->state()->annotationSnipID(), OptionalUuid(id));
}

void TestMainWindow::cardMenu_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("up");
    QTest::addColumn<bool>("down");
    QTest::newRow("first of three") << 3 << 0 << false << true;
    QTest::newRow("middle") << 3 << 1 << true << true;
    QTest::newRow("last of three") << 3 << 2 << true << false;
    QTest::newRow("the only one") << 1 << 0 << false << false;
}

void TestMainWindow::cardMenu() {
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(bool, up);
    QFETCH(bool, down);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), count}});
    const QString title = QStringLiteral("A") + QString::number(index);
    SnipCard *card = f.card(title);
    QMenu menu;
    QList<QAction *> actions = card->contextActions(&menu);
    QStringList texts;
    for (QAction *a : actions)
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    QCOMPARE(texts, QStringList({"Bild bearbeiten", "Nur lokal speichern (ohne Cloud)", "-", "Nach oben",
                                 "Nach unten", "-", "Ausschnitt entfernen"}));
    QCOMPARE(actionNamed(actions, QStringLiteral("Nach oben"))->isEnabled(), up);
    QCOMPARE(actionNamed(actions, QStringLiteral("Nach unten"))->isEnabled(), down);
    QVERIFY(!card->showsLocalOnlyNotice());
    actionNamed(actions, QStringLiteral("Nur lokal speichern (ohne Cloud)"))->trigger();
    f.settle();
    QVERIFY(f.collection(0).items[index].isLocalOnly());
    QVERIFY(card->showsLocalOnlyNotice());
    QVERIFY(!card->cardGeometry().localOnly.isEmpty());
    QVERIFY(actionNamed(card->contextActions(&menu), QStringLiteral("Für Cloud-Sicherung einschließen")));
    if (down) {
        actionNamed(actions, QStringLiteral("Nach unten"))->trigger();
        QCOMPARE(f.collection(0).items[index + 1].title, title);
    }
}

void TestMainWindow::typingKeepsSpacesAndCaret() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 3}});
    SnipCard *card = f.card(QStringLiteral("A1"));
    QLineEdit *heading = card->headingField();
    heading->clear();
    f.store->editSnip(*f.id(QStringLiteral("A1")), [](Snip &s) { s.title.clear(); });
    heading->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(heading, QStringLiteral("  a "));
    f.settle();
    QCOMPARE(f.collection(0).items[1].title, QStringLiteral("  a "));
    QCOMPARE(heading->text(), QStringLiteral("  a "));
    QCOMPARE(heading->cursorPosition(), 4);
    QVERIFY(heading->hasFocus());
    // Typing in the middle keeps the caret where the typing happens.
    QTest::keyClick(heading, Qt::Key_Home);
    QTest::keyClick(heading, Qt::Key_Right);
    QTest::keyClicks(heading, QStringLiteral("x"));
    f.settle();
    QCOMPARE(f.collection(0).items[1].title, QStringLiteral(" x a "));
    QCOMPARE(heading->cursorPosition(), 2);
    QCOMPARE(f.store->selectedSnipID(), f.collection(0).items[1].id);
    QCOMPARE(f.document()->card(f.collection(0).items[1].id), card);

    CommentField *comment = card->commentField();
    comment->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(comment, QStringLiteral("Zeile "));
    QTest::keyClick(comment, Qt::Key_Return);
    QTest::keyClicks(comment, QStringLiteral(" b"));
    f.settle();
    QTest::keyClick(comment, Qt::Key_Left);
    QTest::keyClicks(comment, QStringLiteral("c"));
    f.settle();
    QCOMPARE(f.collection(0).items[1].note, QStringLiteral("Zeile \n cb"));
    QCOMPARE(comment->textCursor().position(), 9);
}

void TestMainWindow::unusualTextKeepsCaret_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("afterTyping"); // "x" typed at the end
    const QString nbsp = QStringLiteral("10\u00A0% z.\u00A0B.");
    for (const char *field : {"comment", "description"}) {
        QTest::addRow("%s, no-break spaces", field) << field << nbsp << nbsp + u'x';
        QTest::addRow("%s, CR LF", field)
            << field << QStringLiteral("Eins\r\nZwei") << QStringLiteral("Eins\nZweix");
        QTest::addRow("%s, CR", field)
            << field << QStringLiteral("Eins\rZwei") << QStringLiteral("Eins\nZweix");
        QTest::addRow("%s, line separator", field)
            << field << QStringLiteral("Eins\u2028Zwei") << QStringLiteral("Eins\u2028Zweix");
        QTest::addRow("%s, paragraph separator", field)
            << field << QStringLiteral("Eins\u2029Zwei") << QStringLiteral("Eins\nZweix");
        QTest::addRow("%s, no-break space and CR LF", field)
            << field << QStringLiteral("a\u00A0b\r\n\r\nc") << QStringLiteral("a\u00A0b\n\ncx");
    }
}

// A text from a project file or an older library may hold characters that a text field shows
// differently: refreshing must neither move the caret nor rewrite the text, and typing keeps
// the no-break spaces.
void TestMainWindow::unusualTextKeepsCaret() {
    QFETCH(QString, field);
    QFETCH(QString, stored);
    QFETCH(QString, afterTyping);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 2}});
    const QUuid id = *f.id(QStringLiteral("A0"));
    const bool comment = field == u"comment";
    if (comment)
        f.store->editSnip(id, [&](Snip &s) { s.note = stored; });
    else
        f.store->editCurrent([&](SnipCollection &c) { c.subtitle = stored; });
    const auto text = [&] { return comment ? f.collection(0).items[0].note : f.collection(0).subtitle; };
    f.view->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
    f.settle();
    QWidget *widget = comment ? static_cast<QWidget *>(f.card(QStringLiteral("A0"))->commentField())
                              : f.document()->header()->descriptionField();
    const auto caret = [widget] { return widget->inputMethodQuery(Qt::ImAbsolutePosition).toInt(); };
    widget->setFocus(Qt::MouseFocusReason);
    f.settle();
    QTest::keyClick(widget, Qt::Key_End, Qt::ControlModifier);
    const int end = int(afterTyping.size()) - 1;
    QCOMPARE(caret(), end);
    // Any change of the library refreshes the page.
    f.store->editSnip(*f.id(QStringLiteral("A1")), [](Snip &s) { s.title = QStringLiteral("anders"); });
    f.settle();
    QCOMPARE(text(), stored);
    QCOMPARE(caret(), end);
    QTest::keyClicks(widget, QStringLiteral("x"));
    f.settle();
    QCOMPARE(text(), afterTyping);
    QCOMPARE(caret(), end + 1);
    QVERIFY(widget->hasFocus());
}

void TestMainWindow::commentGrowsWhileTyping_data() {
    QTest::addColumn<int>("windowWidth");
    QTest::addColumn<QString>("typed"); // "\n" presses Return
    QTest::newRow("side by side, third line by Return") << 1380 << "Eins\nZwei\nDrei";
    QTest::newRow("side by side, third line by wrapping")
        << 1380 << "Hier steht ein Kommentar, der beim Tippen auf eine dritte Zeile umbricht und weiter";
    QTest::newRow("stacked, third line by Return") << 1029 << "Eins\nZwei\nDrei";
}

// While typing, the card follows the comment's height at once: the marks line moves down with the
// field and is painted afresh where it was and where it is, and the field keeps its caret, its
// focus and its card.
void TestMainWindow::commentGrowsWhileTyping() {
    QFETCH(int, windowWidth);
    QFETCH(QString, typed);
    ViewFixture f(QSize(windowWidth, 920));
    f.setUp({{QStringLiteral("A"), 2}});
    const QUuid id = *f.id(QStringLiteral("A0"));
    f.store->editSnip(id, [](Snip &s) {
        for (int i = 0; i < 12; ++i)
            s.marks.append(Mark::make(MarkKind::Arrow, 0.1, 0.1, 0.5, 0.5));
    });
    SnipCard *card = f.card(QStringLiteral("A0"));
    QCOMPARE(card->marksText(), QStringLiteral("12 Markierungen im Bild"));
    const int marksBefore = card->cardGeometry().marks.top();
    PaintWatcher painted(card);
    CommentField *comment = card->commentField();
    comment->setFocus(Qt::MouseFocusReason);
    f.settle();
    int moves = 0;
    for (const QChar c : typed) {
        const QRect oldMarks = card->cardGeometry().marks;
        painted.region = QRegion();
        if (c == u'\n')
            QTest::keyClick(comment, Qt::Key_Return);
        else
            QTest::keyClick(comment, c.toLatin1());
        f.settle();
        const SnipCardLayout::Geometry &g = card->cardGeometry();
        QCOMPARE(card->height(), g.height);
        QCOMPARE(comment->geometry(), g.comment);
        QVERIFY2(comment->geometry().bottom() < g.marks.top(),
                 qPrintable(QStringLiteral("comment ends at %1, marks line starts at %2")
                                .arg(comment->geometry().bottom())
                                .arg(g.marks.top())));
        if (g.marks != oldMarks) {
            ++moves;
            QTRY_VERIFY2_WITH_TIMEOUT(painted.region.contains(g.marks) && painted.region.contains(oldMarks),
                                      "the marks line was not painted again after it moved", 5000);
        }
        // Every line of the comment is shown: the field never scrolls inside itself.
        QCOMPARE(comment->verticalScrollBar()->value(), 0);
        QVERIFY2(comment->document()->size().height() <= comment->viewport()->height() + 0.5,
                 qPrintable(QStringLiteral("text %1 in a field of %2")
                                .arg(comment->document()->size().height())
                                .arg(comment->viewport()->height())));
    }
    QCOMPARE(f.collection(0).items[0].note, typed);
    QVERIFY(moves > 0);
    QVERIFY(card->cardGeometry().marks.top() > marksBefore);
    QCOMPARE(f.document()->card(id), card);
    QVERIFY(comment->hasFocus());
    QCOMPARE(comment->textCursor().position(), int(typed.size()));
    // The next card stays below this one.
    QVERIFY(f.document()->cardRect(*f.id(QStringLiteral("A1"))).top() > card->geometry().bottom());
}

void TestMainWindow::documentHeader() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 2}});
    const QDateTime noon(QDate(2026, 12, 5), QTime(12, 0));
    f.store->editCurrent(
        [&](SnipCollection &c) { c.createdAt = double(noon.toSecsSinceEpoch()) - kReferenceDateUnixOffset; });
    f.settle();
    DocumentHeader *header = f.document()->header();
    QCOMPARE(header->dateLabel()->text(), QStringLiteral("5. Dezember 2026"));
    QCOMPARE(header->countLabel()->text(), QStringLiteral("2"));

    QLineEdit *title = header->titleField();
    title->selectAll();
    title->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(title, QStringLiteral(" Neu "));
    f.settle();
    QCOMPARE(f.collection(0).title, QStringLiteral(" Neu "));
    QCOMPARE(title->cursorPosition(), 5);

    DescriptionField *description = header->descriptionField();
    description->setFocus(Qt::MouseFocusReason);
    QList<int> heights;
    for (int line = 0; line < 6; ++line) {
        QTest::keyClicks(description, QStringLiteral("Zeile"));
        f.settle();
        heights << description->height();
        QTest::keyClick(description, Qt::Key_Return);
    }
    QCOMPARE(f.collection(0).subtitle, QStringLiteral("Zeile\nZeile\nZeile\nZeile\nZeile\nZeile\n"));
    QVERIFY(heights[0] < heights[1] && heights[1] < heights[2] && heights[2] < heights[3]);
    QCOMPARE(heights[4], heights[3]);
    QCOMPARE(heights[5], heights[3]);

    // The mode switches every card at once; the date moves under the modes where the line is short.
    click(header->modeButtons().last());
    QCOMPARE(f.collection(0).mode, CollectionMode::Notes);
    SnipCard *card = f.card(QStringLiteral("A1"));
    QCOMPARE(card->headingField()->placeholderText(), QStringLiteral("Überschrift …"));
    QVERIFY(header->modeButtons().last()->isChecked() && !header->modeButtons().first()->isChecked());
    const int wide = header->heightForWidth(900);
    QVERIFY(!header->dateBelowModes());
    QVERIFY(header->heightForWidth(200) > wide);
    QVERIFY(header->dateBelowModes());
}

void TestMainWindow::selectedButtonStaysSelected_data() {
    QTest::addColumn<QString>("place");
    QTest::addColumn<bool>("compact");
    QTest::newRow("document, large previews") << "document large" << false;
    QTest::newRow("document, compact view") << "document compact" << true;
    QTest::newRow("grid, large previews") << "grid large" << false;
    QTest::newRow("grid, compact view") << "grid compact" << true;
    QTest::newRow("mode segment") << "mode" << false;
    QTest::newRow("all screenshots row") << "all" << false;
    QTest::newRow("collection row") << "row" << false;
}

// Clicking the button that is already selected, once or twice, leaves it selected.
void TestMainWindow::selectedButtonStaysSelected() {
    QFETCH(QString, place);
    QFETCH(bool, compact);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 1}});
    f.view->state()->setCompactLayout(compact);
    f.view->state()->setShowingAll(place.startsWith(u"grid") || place == u"all");
    f.settle();
    LayoutPicker *picker =
        place.startsWith(u"grid") ? f.view->grid()->layoutPicker() : f.document()->header()->layoutPicker();
    QAbstractButton *button = nullptr;
    QAbstractButton *other = nullptr;
    if (place.endsWith(u"large") || place.endsWith(u"compact")) {
        button = compact ? picker->compactButton() : picker->largeButton();
        other = compact ? picker->largeButton() : picker->compactButton();
    } else if (place == u"mode") {
        button = f.document()->header()->modeButtons().first();
        other = f.document()->header()->modeButtons().last();
    } else if (place == u"all") {
        button = f.view->sidebar()->allScreenshotsRow();
        other = f.view->sidebar()->row(*f.id(QStringLiteral("A")));
    } else {
        button = f.view->sidebar()->row(*f.id(QStringLiteral("A")));
        other = f.view->sidebar()->row(*f.id(QStringLiteral("B")));
    }
    QVERIFY(button->isVisible());
    for (int i = 0; i < 2; ++i) {
        click(button);
        QVERIFY2(button->isChecked(), qPrintable(QStringLiteral("after click %1").arg(i + 1)));
        QVERIFY(!other->isChecked());
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(button);
        QVERIFY(face && face->state().checked);
    }
    QCOMPARE(f.view->state()->compactLayout(), compact);
    QCOMPARE(f.view->state()->showingAll(), place.startsWith(u"grid") || place == u"all");
    QCOMPARE(f.store->selectedID(), f.id(QStringLiteral("A")));
    QCOMPARE(f.collection(0).mode, CollectionMode::Steps);
    // The other one still takes the selection.
    click(other);
    QVERIFY(other->isChecked());
    QVERIFY(!button->isChecked());
}

void TestMainWindow::tabRound_data() {
    QTest::addColumn<QString>("face");
    QTest::addColumn<QStringList>("stops"); // what a screen reader says at each, from the first
    const QStringList sidebar{"Neue Sammlung",
                              "Alle Screenshots",
                              "A",
                              "Sammlung A löschen",
                              "B",
                              "Sammlung B löschen",
                              "Schnelle Aufnahme",
                              "Cloud-Sicherung",
                              "Anmelden / Registrieren"};
    const QStringList toolbar{"Importieren", "Importieren, Projekte und Sammelleiste",
                              "Screenshot aufnehmen"};
    const QStringList header{"Titel der Sammlung", "Beschreibung der Sammlung", "Ablauf erklären",
                             "Punkte sammeln",     "Große Vorschauen",          "Kompakte Ansicht"};
    const QStringList card{"Titel von Ausschnitt 1", "Bild bearbeiten", "Ausschnitt entfernen",
                           "Screenshot 1 im Markierungseditor öffnen", "Kommentar zu Ausschnitt 1"};
    QTest::newRow("collection") << "collection"
                                << sidebar + toolbar + QStringList{"Exportieren"} + header + card +
                                       QStringList{"Nächsten Ausschnitt hinzufügen"};
    QTest::newRow("all screenshots") << "all"
                                     << sidebar + toolbar +
                                            QStringList{"Große Vorschauen", "Kompakte Ansicht", "1. A0, A"};
    QTest::newRow("empty library") << "empty"
                                   << QStringList{"Neue Sammlung", "Alle Screenshots", "Schnelle Aufnahme",
                                                  "Cloud-Sicherung", "Anmelden / Registrieren"} +
                                          toolbar +
                                          QStringList{"Ersten Ausschnitt aufnehmen",
                                                      "Oder vorhandene Bilder importieren"};
    QTest::newRow("round running, a collection in the trash")
        << "round"
        << sidebar.mid(0, 4) + sidebar.mid(6) + toolbar + QStringList{"Exportieren"} +
               QStringList{"Sammelleiste", "Pausieren", "Sammeln beenden"} + header + card +
               QStringList{"Nächsten Ausschnitt hinzufügen", "Sammlung wiederherstellen"};
    QStringList cards = card;
    for (const QString &stop : card)
        cards << QString(stop).replace(u'1', u'2');
    QTest::newRow("cards reordered, a collection added in front")
        << "reordered"
        << sidebar.mid(0, 2) + QStringList{"N", "Sammlung N löschen"} + sidebar.mid(2) + toolbar +
               QStringList{"Exportieren"} + header + cards + QStringList{"Nächsten Ausschnitt hinzufügen"};
}

// One round of Tab visits, in the order on screen, each control a user can see and use, and
// nothing else; each says its name to a screen reader and shows that it has the keyboard.
// Shift+Tab walks the same round backwards.
void TestMainWindow::tabRound() {
    QFETCH(QString, face);
    QFETCH(QStringList, stops);
    ViewFixture f;
    QVERIFY(f.active);
    f.setUp(face == u"empty" ? QList<QPair<QString, int>>()
                             : QList<QPair<QString, int>>{{QStringLiteral("A"), face == u"reordered" ? 2 : 1},
                                                          {QStringLiteral("B"), 0}});
    if (face == u"reordered") {
        // The cards and rows made first now stand second.
        f.settle();
        f.store->move(*f.id(QStringLiteral("A1")), -1);
        QList<SnipCollection> collections = f.store->collections();
        collections.prepend(SnipCollection{});
        collections.first().title = QStringLiteral("N");
        f.store->setCollections(collections);
    }
    if (face == u"round") {
        QVERIFY(f.store->deleteCollection(*f.id(QStringLiteral("B"))));
        f.store->setSession(CaptureSession{*f.id(QStringLiteral("A")), false});
    }
    f.view->state()->setShowingAll(face == u"all");
    f.settle();
    QWidget *first = f.view->sidebar()->newCollectionButton();
    first->setFocus(Qt::TabFocusReason);
    QStringList spoken;
    QWidget *at = first;
    do {
        QVERIFY(at);
        const QString name = spokenName(at);
        QVERIFY2(!name.isEmpty(), at->metaObject()->className());
        spoken << name;
        QVERIFY2(at->isVisible() && !at->visibleRegion().isEmpty() &&
                     f.view->rect().intersects(QRect(at->mapTo(f.view.get(), QPoint()), at->size())),
                 qPrintable(name));
        auto *cells = qobject_cast<ScreenshotCells *>(at);
        const QRect area = cells ? cells->cellRect(cells->currentIndex()) : at->rect();
        const QImage withFocus = at->grab().toImage();
        QTest::keyClick(at, Qt::Key_Tab);
        f.settle();
        // A text field shows its caret instead.
        if (!isTextField(at))
            QVERIFY2(framed(withFocus, at->grab().toImage(), area),
                     qPrintable(name + QStringLiteral(" shows no frame")));
        at = QApplication::focusWidget();
    } while (at != first && spoken.size() <= stops.size());
    QCOMPARE(spoken.join(u'|'), stops.join(u'|'));

    QStringList back;
    do {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        f.settle();
        back.prepend(spokenName(QApplication::focusWidget()));
    } while (QApplication::focusWidget() != first && back.size() <= stops.size());
    QCOMPARE(back.join(u'|'), stops.join(u'|'));
    QStringList read;
    readAloud(QAccessible::queryAccessibleInterface(f.view.get()), read);
    QCOMPARE(read.join(u'|'), stops.join(u'|'));
}

void TestMainWindow::tabFromOutsideComesOnScreen_data() {
    QTest::addColumn<QString>("area");       // scrolled, and entered from outside: "page" or "sidebar"
    QTest::addColumn<bool>("scrolledToEnd"); // else to its start
    QTest::addColumn<int>("key");
    QTest::newRow("Tab from Exportieren to the collection's title") << "page" << true << int(Qt::Key_Tab);
    QTest::newRow("Shift+Tab from the window's first control to the add button")
        << "page" << false << int(Qt::Key_Backtab);
    QTest::newRow("Tab from Alle Screenshots to the first collection")
        << "sidebar" << true << int(Qt::Key_Tab);
    QTest::newRow("Shift+Tab from the quick capture to the last delete button")
        << "sidebar" << false << int(Qt::Key_Backtab);
}

// The areas that scroll are no Tab stops of their own: a control in them that the keyboard reaches
// from outside comes on screen with its frame.
void TestMainWindow::tabFromOutsideComesOnScreen() {
    QFETCH(QString, area);
    QFETCH(bool, scrolledToEnd);
    QFETCH(int, key);
    QList<QPair<QString, int>> shape{{QStringLiteral("A"), 12}};
    for (int i = 0; i < 30; ++i)
        shape.append({QStringLiteral("C") + QString::number(i), 0});
    ViewFixture f;
    f.setUp(shape);
    QVERIFY(f.active);
    f.settle();
    Sidebar *sidebar = f.view->sidebar();
    QWidget *from = nullptr;
    QWidget *to = nullptr;
    QScrollBar *bar = nullptr;
    if (area == u"page") {
        from = key == Qt::Key_Tab ? static_cast<QWidget *>(f.view->toolbar()->exportButton())
                                  : sidebar->newCollectionButton();
        to = key == Qt::Key_Tab ? static_cast<QWidget *>(f.document()->header()->titleField())
                                : f.document()->addNextButton();
        bar = f.document()->verticalScrollBar();
    } else {
        from = key == Qt::Key_Tab ? static_cast<QWidget *>(sidebar->allScreenshotsRow())
                                  : sidebar->quickCaptureButton();
        to = key == Qt::Key_Tab ? static_cast<QWidget *>(sidebar->row(sidebar->listedIDs().first()))
                                : sidebar->deleteButton(sidebar->listedIDs().last());
        bar = sidebar->findChild<QScrollArea *>()->verticalScrollBar();
    }
    bar->setValue(scrolledToEnd ? bar->maximum() : bar->minimum());
    f.settle();
    QVERIFY(to->visibleRegion().isEmpty());
    from->setFocus(Qt::TabFocusReason);
    QTest::keyClick(from, Qt::Key(key));
    f.settle();
    QCOMPARE(QApplication::focusWidget(), to);
    QTRY_VERIFY(!f.document()->isScrolling());
    QCOMPARE(to->visibleRegion(), QRegion(to->rect()));
}

void TestMainWindow::tabWalksThePage() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 12}});
    // Build and reuse cards out of their order: scroll to the end, then back to the top.
    f.document()->verticalScrollBar()->setValue(f.document()->verticalScrollBar()->maximum());
    f.settle();
    f.document()->verticalScrollBar()->setValue(0);
    f.settle();
    SnipCard *first = f.card(QStringLiteral("A0"));
    first->commentField()->setFocus(Qt::MouseFocusReason);
    QStringList visited;
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        f.settle();
        auto *heading = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        QVERIFY(heading);
        visited << heading->text();
        // Past the heading and the card's buttons to its comment.
        for (int j = 0; j < 4; ++j)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(qobject_cast<CommentField *>(QApplication::focusWidget()));
        if (visited.size() == 11)
            break;
    }
    QCOMPARE(visited.join(u' '), QStringLiteral("A1 A2 A3 A4 A5 A6 A7 A8 A9 A10 A11"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), f.document()->addNextButton());
    QCOMPARE(f.store->selectedSnipID(), f.id(QStringLiteral("A11")));
}

void TestMainWindow::keyboardAfterAction_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("keyboard"); // the control that has it afterwards
    // A with A0 to A2 (selected), B with B0, C empty; the grid shows A0 A1 A2 / B0.
    const char *rows[][3] = {
        {"grid: Return", "grid, focus grid, key Right, key Return", "preview A1"},
        {"grid: Space on another collection's card", "grid, focus grid, key Down, key Space", "preview B0"},
        {"grid: click", "grid, focus grid, click grid 2", "preview A2"},
        {"grid: double-click", "grid, focus grid, double-click grid 3", "preview B0"},
        {"sidebar: Space on a row", "focus row B, key Space", "row B"},
        {"sidebar: Return on a row", "focus row B, key Return", "row B"},
        {"sidebar: click on a row while typing in the title", "click title, click row B", "row B"},
        {"editor: by keyboard", "focus edit A1, key Space, back key", "edit A1"},
        {"editor: from the image by keyboard", "focus preview A2, key Return, back key", "preview A2"},
        {"editor: by mouse, typing in the title before", "click title, click edit A1, back", "edit A1"},
        {"delete a collection by keyboard", "focus trash A, key Space, answer Sammlung löschen", "row B"},
        {"delete by mouse, typing in its title", "click title, click trash A, answer Sammlung löschen",
         "row B"},
        {"delete by keyboard, cancelled", "focus trash A, key Space, answer Abbrechen", "trash A"},
        {"delete an empty collection by keyboard", "focus trash C, key Space", "row A"},
        {"delete from the menu, typing in the description",
         "click description, menu, answer Sammlung löschen", "row B"},
        {"restore by keyboard",
         "focus trash A, key Space, answer Sammlung löschen, focus restore, key Return", "row A"},
        {"restore by mouse", "focus trash A, key Space, answer Sammlung löschen, click restore", "row B"},
        {"remove a snip by keyboard", "focus remove A1, key Space", "remove A2"},
        {"remove the last snip by keyboard", "focus remove A2, key Space", "remove A1"},
        {"remove the only snip by keyboard", "click row B, focus remove B0, key Space", "row B"},
        {"remove by mouse, typing in its heading", "click heading A1, click remove A1", "remove A2"},
        {"remove by keyboard, undo from the menu", "focus remove A0, key Space, undo", "remove A1"},
    };
    for (const auto &[name, steps, keyboard] : rows)
        QTest::newRow(name) << QString::fromUtf8(steps) << QString::fromUtf8(keyboard);
}

// After an action that changes what the window shows, the keyboard is on the control acted on, or
// where that has gone on its nearest neighbour: on screen, framed, never in a text field the user
// did not choose, so typed letters change nothing.
void TestMainWindow::keyboardAfterAction() {
    QFETCH(QString, steps);
    QFETCH(QString, keyboard);
    ViewFixture f;
    QVERIFY(f.active);
    f.setUp({{QStringLiteral("A"), 3}, {QStringLiteral("B"), 1}, {QStringLiteral("C"), 0}});
    f.writeImages();
    f.settle();
    Sidebar *bar = f.view->sidebar();
    ScreenshotCells *cells = f.view->grid()->cells();
    const auto control = [&](const QString &name) -> QWidget * {
        const QString what = name.section(u' ', 0, 0), which = name.section(u' ', 1);
        if (what == u"row" || what == u"trash")
            return what == u"row" ? bar->row(*f.id(which)) : bar->deleteButton(*f.id(which));
        if (what == u"title" || what == u"description")
            return what == u"title" ? static_cast<QWidget *>(f.document()->header()->titleField())
                                    : f.document()->header()->descriptionField();
        if (what == u"restore")
            return f.view->footer()->restoreButton();
        SnipCard *card = f.card(which);
        return what == u"edit"      ? card->editButton()
               : what == u"remove"  ? card->removeButton()
               : what == u"heading" ? static_cast<QWidget *>(card->headingField())
                                    : card->preview();
    };
    for (const QString &step : steps.split(QStringLiteral(", "))) {
        const QString verb = step.section(u' ', 0, 0), rest = step.section(u' ', 1);
        const int cell = rest.startsWith(u"grid ") ? rest.back().digitValue() : -1;
        if (cell >= 0)
            f.view->grid()->ensureVisible(0, cells->y() + cells->cellRect(cell).center().y());
        f.settle();
        QWidget *target = cell >= 0                                                   ? cells
                          : (verb == u"focus" || verb == u"click") && rest != u"grid" ? control(rest)
                                                                                      : nullptr;
        const QPoint at = cell >= 0 ? cells->cellRect(cell).center()
                          : target  ? target->rect().center()
                                    : QPoint();
        if (step == u"grid") {
            click(bar->allScreenshotsRow());
        } else if (step == u"focus grid") {
            f.view->grid()->layoutPicker()->compactButton()->setFocus(Qt::TabFocusReason);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } else if (verb == u"focus") {
            target->setFocus(Qt::TabFocusReason);
        } else if (verb == u"key") {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(QKeySequence(rest)[0].key()));
        } else if (verb == u"click") {
            QTest::mouseClick(target, Qt::LeftButton, {}, at);
        } else if (verb == u"double-click") {
            // As the desktop sends it: the second press, a moment later, as a double-click to
            // whatever the window shows there by then.
            static int stamp = 1'000'000;
            stamp += 100'000;
            const QPointF local = cells->mapTo(f.view.get(), at);
            for (int i = 0; i < 4; ++i) {
                if (i == 2)
                    f.settle();
                qt_handleMouseEvent(f.view->windowHandle(), local, f.view->mapToGlobal(local),
                                    i % 2 ? Qt::NoButton : Qt::LeftButton, Qt::LeftButton,
                                    i % 2 ? QEvent::MouseButtonRelease : QEvent::MouseButtonPress, {},
                                    stamp + i * 50);
            }
        } else if (verb == u"back") {
            QTRY_VERIFY(f.view->workspace() && f.view->workspace()->isVisible());
            QPushButton *back = nullptr;
            for (QPushButton *button : f.view->workspace()->findChildren<QPushButton *>())
                back = button->text() == u"Zur Sammlung" ? button : back;
            back->setFocus(Qt::TabFocusReason);
            rest.isEmpty() ? QTest::mouseClick(back, Qt::LeftButton) : QTest::keyClick(back, Qt::Key_Space);
            QTRY_VERIFY(!f.view->workspace());
        } else if (verb == u"answer") {
            QVERIFY(f.press(rest));
            // As the window manager gives the window back its keyboard.
            f.view->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        } else {
            f.view->toolbar()->refresh();
            (verb == u"menu" ? f.view->toolbar()->deleteCollectionAction()
                             : f.view->toolbar()->undoDeleteAction())
                ->trigger();
        }
        f.settle();
    }
    QTRY_VERIFY(!f.document()->isScrolling());
    QWidget *focus = QApplication::focusWidget();
    QVERIFY2(focus == control(keyboard), focus ? qPrintable(spokenName(focus)) : "nowhere");
    QVERIFY(!isTextField(focus));
    QCOMPARE(focus->visibleRegion(), QRegion(focus->rect()));
    const QList<SnipCollection> before = f.store->collections();
    QTest::keyClick(focus, Qt::Key_X);
    f.settle();
    QCOMPARE(f.store->collections(), before);
    const QImage withFocus = focus->grab().toImage();
    focus->clearFocus();
    QVERIFY(framed(withFocus, focus->grab().toImage(), focus->rect()));
}

void TestMainWindow::removeAndUndo() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 3}});
    click(f.card(QStringLiteral("A1"))->removeButton());
    QVERIFY(!f.openBox());
    QCOMPARE(f.snips(0), QStringLiteral("A0 A2"));
    QVERIFY(!f.document()->card(*f.id(QStringLiteral("A0")))->isHidden());
    f.view->toolbar()->refresh();
    QVERIFY(f.view->toolbar()->undoDeleteAction()->isEnabled());
    f.view->toolbar()->undoDeleteAction()->trigger();
    f.settle();
    QCOMPARE(f.snips(0), QStringLiteral("A0 A1 A2"));
}

void TestMainWindow::selectionScrolls() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 30}});
    f.settle();
    QScrollBar *bar = f.document()->verticalScrollBar();
    QCOMPARE(bar->value(), 0);
    const QUuid id = *f.id(QStringLiteral("A20"));
    f.store->setSelectedSnipID(id);
    f.settle();
    QTRY_VERIFY(!f.document()->isScrolling());
    const QRect rect = f.document()->cardRect(id);
    QVERIFY(qAbs(rect.center().y() - (bar->value() + f.document()->viewport()->height() / 2)) <= 1);
    QVERIFY(f.document()->card(id) && f.document()->card(id)->isSelected());

    // Back from the grid, the selected card is on screen again.
    f.view->state()->setShowingAll(true);
    f.settle();
    bar->setValue(0);
    f.store->setSelectedSnipID(*f.id(QStringLiteral("A25")));
    f.settle();
    QCOMPARE(f.view->content(), f.document());
    QTRY_VERIFY(!f.document()->isScrolling());
    const QRect shown = f.document()->cardRect(*f.id(QStringLiteral("A25")));
    QVERIFY(shown.top() >= bar->value() &&
            shown.bottom() <= bar->value() + f.document()->viewport()->height());
}

void TestMainWindow::tallCardKeepsCaretInView() {
    ViewFixture f(QSize(1380, 600));
    f.setUp({{QStringLiteral("A"), 3}});
    QStringList lines;
    for (int i = 0; i < 40; ++i)
        lines << QStringLiteral("Zeile %1").arg(i);
    f.store->editSnip(*f.id(QStringLiteral("A2")), [&](Snip &s) { s.note = lines.join(u'\n'); });
    SnipCard *card = f.card(QStringLiteral("A2"));
    QVERIFY(card->height() > f.document()->viewport()->height());
    CommentField *comment = card->commentField();
    QTextCursor end = comment->textCursor();
    end.movePosition(QTextCursor::End);
    comment->setTextCursor(end);
    comment->setFocus(Qt::MouseFocusReason);
    // The page scrolls once the selection has followed the focus: wait for where it ends.
    const auto caretShown = [&] {
        const QRect caret =
            comment->cursorRect().translated(comment->viewport()->mapTo(f.document()->widget(), QPoint()));
        const int top = f.document()->verticalScrollBar()->value();
        return !f.document()->isScrolling() && caret.top() >= top &&
               caret.bottom() <= top + f.document()->viewport()->height();
    };
    QTRY_VERIFY(f.store->selectedSnipID() == f.id(QStringLiteral("A2")) && caretShown());
}

void TestMainWindow::gridSummary_data() {
    QTest::addColumn<QList<int>>("collections");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<bool>("emptyState");
    QTest::newRow("empty library") << QList<int>{} << "0 Ausschnitte in 0 Sammlungen" << true;
    QTest::newRow("one empty collection") << QList<int>{0} << "0 Ausschnitte in 1 Sammlung" << true;
    QTest::newRow("one snip") << QList<int>{1} << "1 Ausschnitt in 1 Sammlung" << false;
    QTest::newRow("three in two") << QList<int>{2, 1} << "3 Ausschnitte in 2 Sammlungen" << false;
}

void TestMainWindow::gridSummary() {
    QFETCH(QList<int>, collections);
    QFETCH(QString, summary);
    QFETCH(bool, emptyState);
    ViewFixture f;
    QList<QPair<QString, int>> shape;
    for (qsizetype i = 0; i < collections.size(); ++i)
        shape.append({QString(QChar(char16_t(u'A' + i))), collections[i]});
    f.setUp(shape);
    f.view->state()->setShowingAll(true);
    f.settle();
    QCOMPARE(f.view->content(), f.view->grid());
    QCOMPARE(f.view->grid()->summaryLabel()->text(), summary);
    QCOMPARE(f.view->grid()->emptyState()->isVisible(), emptyState);
    QCOMPARE(f.view->grid()->cells()->items().size(),
             std::accumulate(collections.cbegin(), collections.cend(), 0));
}

void TestMainWindow::gridColumns_data() {
    QTest::addColumn<int>("windowWidth");
    QTest::addColumn<bool>("compact");
    QTest::addColumn<int>("columns");
    QTest::newRow("1380") << 1380 << false << 3;
    QTest::newRow("1380 compact") << 1380 << true << 5;
    QTest::newRow("930") << 930 << false << 2;
    QTest::newRow("930 compact") << 930 << true << 3;
}

void TestMainWindow::gridColumns() {
    QFETCH(int, windowWidth);
    QFETCH(bool, compact);
    QFETCH(int, columns);
    ViewFixture f(QSize(windowWidth, 920));
    f.setUp({{QStringLiteral("A"), 40}});
    f.view->state()->setCompactLayout(compact);
    f.view->state()->setShowingAll(true);
    f.settle();
    QCOMPARE(f.view->grid()->cells()->columnCount(), columns);
}

void TestMainWindow::gridOpensSnipInItsCollection() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 2}});
    f.view->state()->setShowingAll(true);
    f.settle();
    ScreenshotCells *cells = f.view->grid()->cells();
    QCOMPARE(cells->items()[3].heading, QStringLiteral("2. B1"));
    QCOMPARE(cells->items()[3].collectionTitle, QStringLiteral("B"));
    QVERIFY(!f.view->sidebar()->row(*f.id(QStringLiteral("A")))->isSelected());
    f.view->grid()->ensureVisible(0, cells->y() + cells->cellRect(3).center().y());
    QTest::mouseClick(cells, Qt::LeftButton, {}, cells->cellRect(3).center());
    f.settle();
    QCOMPARE(f.store->selectedID(), f.id(QStringLiteral("B")));
    QCOMPARE(f.store->selectedSnipID(), f.id(QStringLiteral("B1")));
    QVERIFY(!f.view->state()->showingAll());
    QCOMPARE(f.view->content(), f.document());
    QVERIFY(f.view->sidebar()->row(*f.id(QStringLiteral("B")))->isSelected());
    QVERIFY(!f.view->state()->annotationSnipID());
}

void TestMainWindow::gridCardsAreButtons_data() {
    QTest::addColumn<int>("perCollection"); // snips of "A" and of "B"
    QTest::addColumn<QList<int>>("keys");   // pressed after Tab reached the grid; the last opens
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("name");
    QTest::newRow("Return on the first") << 2 << QList<int>{Qt::Key_Return} << "A0"
                                         << "1. A0, A";
    QTest::newRow("Enter on the first") << 2 << QList<int>{Qt::Key_Enter} << "A0"
                                        << "1. A0, A";
    QTest::newRow("right, Space") << 2 << QList<int>{Qt::Key_Right, Qt::Key_Space} << "A1"
                                  << "2. A1, A";
    QTest::newRow("Tab leaves, Shift+Tab comes back to the card")
        << 2 << QList<int>{Qt::Key_Right, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Return} << "A1"
        << "2. A1, A";
    QTest::newRow("sixty cards, one Tab stop")
        << 30 << QList<int>{Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Return} << "A0"
        << "1. A0, A";
    QTest::newRow("down a row of three") << 2 << QList<int>{Qt::Key_Down, Qt::Key_Return} << "B1"
                                         << "2. B1, B";
    QTest::newRow("down, then up to the first")
        << 2 << QList<int>{Qt::Key_Down, Qt::Key_Up, Qt::Key_Return} << "A0"
        << "1. A0, A";
    QTest::newRow("down where the row below ends short stays")
        << 2 << QList<int>{Qt::Key_Right, Qt::Key_Down, Qt::Key_Return} << "A1"
        << "2. A1, A";
    QTest::newRow("left of the first stays")
        << 2 << QList<int>{Qt::Key_Left, Qt::Key_Up, Qt::Key_Return} << "A0"
        << "1. A0, A";
    QTest::newRow("end, then left") << 2 << QList<int>{Qt::Key_End, Qt::Key_Left, Qt::Key_Space} << "B0"
                                    << "1. B0, B";
    QTest::newRow("press action") << 2 << QList<int>{Qt::Key_Right, kPressAction} << "A1"
                                  << "2. A1, A";
    QTest::newRow("end of forty, scrolled to") << 20 << QList<int>{Qt::Key_End, Qt::Key_Return} << "B19"
                                               << "20. B19, B";
    QTest::newRow("down through forty")
        << 20 << QList<int>(12, Qt::Key_Down) + QList<int>{Qt::Key_Return} << "B16"
        << "17. B16, B";
    QTest::newRow("its snip moved: the card follows it")
        << 2 << QList<int>{Qt::Key_Right, kMoveUp, Qt::Key_Return} << "A1"
        << "1. A1, A";
    QTest::newRow("its snip gone: the card in its place")
        << 2 << QList<int>{Qt::Key_Right, kRemove, Qt::Key_Return} << "B0"
        << "1. B0, B";
    QTest::newRow("layout switched: the card stays in view")
        << 20 << QList<int>{kSwitchLayout, Qt::Key_End, kSwitchLayout, Qt::Key_Return} << "B19"
        << "20. B19, B";
    QTest::newRow("after a message box")
        << 2 << QList<int>{Qt::Key_Right, kMessageBox, Qt::Key_Return} << "A1"
        << "2. A1, A";
    QTest::newRow("pressed, released off the card") << 2 << QList<int>{kPressOff, Qt::Key_Return} << "A1"
                                                    << "2. A1, A";
    QTest::newRow("scrolled away, Shift+Tab from the start of the round")
        << 20 << QList<int>{Qt::Key_Tab, kScrollAway, Qt::Key_Backtab, Qt::Key_Return} << "A0"
        << "1. A0, A";
}

// Each card of the grid is a button: the grid is one Tab stop, arrows move between its cards,
// Return, Enter and Space open the snip in its collection, and each card is an accessible button.
// The card the keyboard is on shows the focus frame, keeps its snip when the library changes and
// stays on screen.
void TestMainWindow::gridCardsAreButtons() {
    QFETCH(int, perCollection);
    QFETCH(QList<int>, keys);
    QFETCH(QString, opened);
    QFETCH(QString, name);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), perCollection}, {QStringLiteral("B"), perCollection}});
    f.view->state()->setShowingAll(true);
    QVERIFY(f.active);
    f.settle();
    ScreenshotCells *cells = f.view->grid()->cells();
    QCOMPARE(cells->columnCount(), 3);
    f.view->grid()->layoutPicker()->compactButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), cells);

    QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(cells);
    QVERIFY(grid);
    QCOMPARE(grid->childCount(), 2 * perCollection);
    QStringList names;
    for (int i = 0; i < grid->childCount(); i += perCollection - 1) {
        QAccessibleInterface *card = grid->child(i);
        QCOMPARE(card->role(), QAccessible::Button);
        QCOMPARE(card->text(QAccessible::Description), QStringLiteral("In Sammlung öffnen"));
        QCOMPARE(grid->indexOfChild(card), i);
        QCOMPARE(card->parent(), grid);
        names << card->text(QAccessible::Name);
    }
    if (perCollection == 2)
        QCOMPARE(names, QStringList({"1. A0, A", "2. A1, A", "1. B0, B", "2. B1, B"}));
    QCOMPARE(grid->focusChild(), grid->child(0));
    QVERIFY(grid->child(0)->state().focused);

    for (qsizetype i = 0; i + 1 < keys.size(); ++i) {
        const int key = keys[i];
        const auto currentSnip = [&] { return cells->items()[cells->currentIndex()].snip.id; };
        if (key == kMoveUp) {
            f.store->move(currentSnip(), -1);
        } else if (key == kRemove) {
            QList<SnipCollection> collections = f.store->collections();
            for (SnipCollection &collection : collections)
                collection.items.removeIf([&](const Snip &snip) { return snip.id == currentSnip(); });
            f.store->setCollections(collections);
        } else if (key == kSwitchLayout) {
            f.view->state()->setCompactLayout(!f.view->state()->compactLayout());
        } else if (key == kScrollAway) {
            // With the wheel, while the keyboard is elsewhere: it stays there.
            QScrollBar *bar = f.view->grid()->verticalScrollBar();
            bar->setValue(bar->maximum());
            f.settle();
            QVERIFY(!cells->visibleRegion().intersects(cells->cellRect(cells->currentIndex())));
            continue;
        } else if (key == kPressOff) {
            // The pressed card takes the frame at once, though the release opens nothing.
            const QRect next = cells->cellRect(cells->currentIndex() + 1);
            f.settle();
            PaintWatcher painted(cells);
            QTest::mousePress(cells, Qt::LeftButton, {}, next.center());
            QTest::mouseRelease(cells, Qt::LeftButton, {}, QPoint(next.left() - 1, next.center().y()));
            f.settle();
            QCOMPARE(painted.region.intersected(next), QRegion(next));
        } else if (key == kMessageBox) {
            f.store->setError(QStringLiteral("Zwischendurch."));
            QVERIFY(f.press(QStringLiteral("OK")));
            // As the window manager gives the window back its keyboard.
            f.view->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(f.view.get()));
        } else {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        }
        f.settle();
        // Tab leaves the grid at once, wherever the keyboard is in it.
        QVERIFY2((QApplication::focusWidget() == cells) == (key != Qt::Key_Tab),
                 qPrintable(QString::number(i)));
    }
    QVERIFY(f.view->state()->showingAll());
    QAccessibleInterface *current = grid->focusChild();
    QVERIFY(current);
    QCOMPARE(current->text(QAccessible::Name), name);
    // The card with the keyboard is on screen and shows the frame.
    const QRect onScreen = cells->visibleRegion().boundingRect();
    QVERIFY(onScreen.contains(cells->mapFromGlobal(current->rect().center())));
    const QImage withFocus = cells->grab().toImage();
    f.view->sidebar()->newCollectionButton()->setFocus(Qt::TabFocusReason);
    QVERIFY(framed(withFocus, cells->grab().toImage(), cells->cellRect(cells->currentIndex())));
    cells->setFocus(Qt::BacktabFocusReason);
    if (keys.last() == kPressAction)
        current->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    else
        QTest::keyClick(cells, Qt::Key(keys.last()));
    f.settle();
    QVERIFY(!f.view->state()->showingAll());
    QCOMPARE(f.store->selectedID(), f.id(opened.left(1)));
    QCOMPARE(f.store->selectedSnipID(), f.id(opened));
}

void TestMainWindow::sessionBar_data() {
    QTest::addColumn<QString>("round"); // none, running, paused, gone
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("headline"); // empty: no bar
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("panel");
    const QString running = QStringLiteral("Neue globale Aufnahmen werden hier hinzugefügt.");
    QTest::newRow("no round") << "none"
                              << "A"
                              << ""
                              << ""
                              << "";
    QTest::newRow("collection gone") << "gone"
                                     << "A"
                                     << ""
                                     << ""
                                     << "";
    QTest::newRow("running") << "running"
                             << "A"
                             << "Aufnahmeziel: A" << running << "Sammelleiste";
    QTest::newRow("running, untitled") << "running"
                                       << ""
                                       << "Aufnahmeziel: Ohne Titel" << running << "Sammelleiste";
    QTest::newRow("paused") << "paused"
                            << "A"
                            << "Sammeln pausiert"
                            << "A"
                            << "Fortsetzen";
    QTest::newRow("paused, untitled") << "paused"
                                      << ""
                                      << "Sammeln pausiert"
                                      << ""
                                      << "Fortsetzen";
}

void TestMainWindow::sessionBar() {
    QFETCH(QString, round);
    QFETCH(QString, title);
    QFETCH(QString, headline);
    QFETCH(QString, detail);
    QFETCH(QString, panel);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    f.store->editCurrent([&](SnipCollection &c) { c.title = title; });
    if (round != u"none")
        f.store->setSession(
            CaptureSession{round == u"gone" ? QUuid::createUuid() : f.collection(0).id, round == u"paused"});
    f.settle();
    SessionBar *bar = f.view->sessionBar();
    QCOMPARE(bar->isVisible(), !headline.isEmpty());
    QCOMPARE(f.view->toolbar()->panelAction()->text(), round == u"paused"
                                                           ? QStringLiteral("Sammeln fortsetzen")
                                                           : QStringLiteral("Sammelleiste anzeigen"));
    if (headline.isEmpty())
        return;
    QCOMPARE(bar->headline()->text(), headline);
    QCOMPARE(bar->detail()->text(), detail);
    QCOMPARE(bar->panelButton()->text(), panel);
    QCOMPARE(bar->symbol(),
             round == u"paused" ? QStringLiteral("pause.circle") : QStringLiteral("record.circle"));
    QCOMPARE(bar->pauseButton()->isVisible(), round == u"running");
    click(bar->panelButton());
    click(bar->finishButton());
    if (round == u"running")
        click(bar->pauseButton());
    QCOMPARE(f.closure(), round == u"running" ? QStringLiteral("finish,pause,showPanel")
                                              : QStringLiteral("finish,showPanel"));
}

void TestMainWindow::footer_data() {
    QTest::addColumn<QString>("save"); // saved, pending, failed
    QTest::addColumn<QString>("notice");
    QTest::addColumn<bool>("exported");
    QTest::addColumn<bool>("savedDot");
    QTest::addColumn<QString>("text");
    QTest::newRow("saved") << "saved"
                           << "" << false << true << "Alle Änderungen gesichert";
    QTest::newRow("saved with a notice") << "saved"
                                         << "Sammlung gelöscht" << false << true << "Sammlung gelöscht";
    QTest::newRow("pending, notice hidden") << "pending"
                                            << "Sammlung gelöscht" << false << false << "Wird gespeichert …";
    QTest::newRow("failed, after an export") << "failed"
                                             << "" << true << false << "Speichern fehlgeschlagen";
}

void TestMainWindow::footer() {
    QFETCH(QString, save);
    QFETCH(QString, notice);
    QFETCH(bool, exported);
    QFETCH(bool, savedDot);
    QFETCH(QString, text);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    f.store->setCollectionNotice(notice);
    if (exported)
        f.store->setExportURL(f.dir.filePath(QStringLiteral("export.pdf")));
    if (save == u"failed")
        f.allowedWrites = 0;
    if (save != u"saved")
        f.store->editCurrent([](SnipCollection &c) { c.subtitle = QStringLiteral("x"); });
    if (save == u"failed")
        f.store->saveAtExit();
    f.settle();
    Footer *footer = f.view->footer();
    QCOMPARE(footer->savedDot(), savedDot);
    QCOMPARE(footer->statusLabel()->text(), text);
    QCOMPARE(footer->revealButton()->isVisible(), exported);
    QCOMPARE(footer->shortcutLabel()->isVisible(), !exported);
    QCOMPARE(footer->shortcutLabel()->text(), QStringLiteral("Strg+Umschalt+Leertaste"));
    QCOMPARE(footer->revealButton()->text(), QStringLiteral("Export im Dateimanager zeigen"));
    QVERIFY(!footer->restoreButton()->isVisible());
    if (save == u"failed")
        f.store->setError(QString());
}

// Without a file manager on the session bus the export's folder goes to the desktop's opener; when
// that finds nothing to open it with, the window says so instead of doing nothing.
void TestMainWindow::revealExport_data() {
    QTest::addColumn<int>("exitCode"); // of xdg-open
    QTest::addColumn<bool>("told");
    QTest::newRow("no program for folders") << 3 << true;
    QTest::newRow("file manager failed") << 4 << true;
    QTest::newRow("folder opened") << 0 << false;
}

void TestMainWindow::revealExport() {
    QFETCH(int, exitCode);
    QFETCH(bool, told);
    // No bus of the desktop's: none is started for the test, and none answers for a file manager.
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vellumbox-test-bus");
    FakeXdgOpen xdgOpen(exitCode);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    const QString exported = f.dir.filePath(QStringLiteral("Berichte/Bericht.pdf"));
    QVERIFY(QDir().mkpath(QFileInfo(exported).absolutePath()));
    f.store->setExportURL(exported);
    f.settle();
    QVERIFY(f.view->footer()->revealButton()->isVisible());
    f.view->footer()->revealButton()->click();
    QVERIFY(xdgOpen.waitUntilAnswered());
    QCOMPARE(QUrl::fromUserInput(xdgOpen.asked()).toLocalFile(), QFileInfo(exported).absolutePath());
    const QString sentence = QStringLiteral("Der Ordner „%1“ konnte nicht geöffnet werden.")
                                 .arg(QFileInfo(exported).absolutePath());
    if (told) {
        QTRY_COMPARE(f.store->error(), sentence);
        QMessageBox *box = f.openBox();
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Hinweis"));
        QCOMPARE(box->informativeText(), sentence);
        QVERIFY(f.press(QStringLiteral("OK")));
    } else {
        f.settle();
        QCOMPARE(f.store->error(), QString());
        QVERIFY(!f.openBox());
    }
}

void TestMainWindow::sidebarTexts() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QString(), 0}});
    f.store->setSelectedID(f.collection(1).id);
    f.store->editCurrent([](SnipCollection &c) { c.mode = CollectionMode::Notes; });
    f.settle();
    Sidebar *sidebar = f.view->sidebar();
    const QUuid a = f.collection(0).id;
    const QUuid untitled = f.collection(1).id;
    QCOMPARE(sidebar->row(untitled)->text(), QStringLiteral("Ohne Titel"));
    QCOMPARE(sidebar->row(untitled)->symbol(), QStringLiteral("square.grid.2x2"));
    QCOMPARE(sidebar->row(a)->symbol(), QStringLiteral("folder"));
    QCOMPARE(sidebar->deleteButton(untitled)->accessibleName(), QStringLiteral("Sammlung  löschen"));
    QCOMPARE(sidebar->sectionCount()->text(), QStringLiteral("2"));
    QCOMPARE(sidebar->allScreenshotsRow()->count(), 2);
    QCOMPARE(sidebar->newCollectionButton()->toolTip(),
             QStringLiteral("Öffnet die bereits vorhandene leere Sammlung"));
    QCOMPARE(sidebar->accountTitle(), QStringLiteral("Anmelden / Registrieren"));
    QCOMPARE(sidebar->accountDetail(), QStringLiteral("Über die Vellumbox-Website"));

    // All screenshots shows no collection as selected; a row brings its collection back.
    click(sidebar->allScreenshotsRow());
    QVERIFY(!sidebar->row(untitled)->isSelected());
    click(sidebar->row(a));
    QVERIFY(!f.view->state()->showingAll());
    QVERIFY(sidebar->row(a)->isSelected());
    QCOMPARE(f.store->selectedSnipID(), f.id(QStringLiteral("A0")));
    click(sidebar->row(untitled));
    QCOMPARE(f.store->selectedSnipID(), OptionalUuid());

    QStringList order;
    for (const QUuid &id : sidebar->listedIDs())
        order << sidebar->row(id)->text();
    QCOMPARE(order, QStringList({"A", "Ohne Titel"}));
    f.store->editCurrent([](SnipCollection &c) { c.items.append(Snip::make(QStringLiteral("x.png"))); });
    f.settle();
    QCOMPARE(sidebar->newCollectionButton()->toolTip(), QStringLiteral("Neue Sammlung anlegen"));
}

void TestMainWindow::longTextsEndWithEllipsis_data() {
    QTest::addColumn<QString>("place");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("maxLines"); // 0: as many as the whole text takes
    QTest::addColumn<bool>("inWord");  // the line breaks inside a word wider than the line
    const QString words = QStringLiteral(
        "Quartalsbericht der Abteilung für Kundenservice und Vertrieb mit allen Schritten der Einrichtung "
        "und den Fragen, die bei der Einführung im Frühjahr noch offen geblieben sind");
    const QString word = QStringLiteral("Donaudampfschifffahrtsgesellschaftskapitänsmützenabzeichensammlung");
    const QString hebrew = QStringLiteral("דוח רבעוני של מחלקת שירות הלקוחות והמכירות עם כל שלבי ההתקנה "
                                          "והשאלות שנותרו פתוחות באביב");
    QTest::newRow("session bar, running") << "running" << words << 1 << false;
    QTest::newRow("session bar, paused") << "paused" << words << 1 << false;
    QTest::newRow("card heading") << "heading" << words << 1 << false;
    QTest::newRow("document title") << "title" << words << 1 << false;
    QTest::newRow("document title, caret at its end, then Return") << "title Return" << words << 1 << false;
    QTest::newRow("grid heading") << "grid heading" << words << 1 << false;
    QTest::newRow("grid collection title") << "grid title" << words << 1 << false;
    QTest::newRow("sidebar row") << "row" << words << 2 << false;
    QTest::newRow("sidebar row, one long word") << "row" << word + u' ' + word << 2 << true;
    // Two such titles differ only at their ends: the whole of each is shown, closing quote included.
    QTest::newRow("delete confirmation, one long word")
        << "confirmation" << QStringLiteral("Bildschirmaufnahmen_") + word + QStringLiteral("_Entwurf_2") << 0
        << true;
    QTest::newRow("session bar, running, right to left") << "running" << hebrew + u' ' + hebrew << 1 << false;
    const QString arabic = QStringLiteral("تقرير ربع سنوي لقسم خدمة العملاء والمبيعات مع جميع خطوات التثبيت");
    QTest::newRow("session bar, running, Arabic after Latin")
        << "running" << QStringLiteral("Bericht ") + arabic + u' ' + arabic << 1 << false;
    // Short ones, shown whole: the "!" stays with the title, on its left.
    const QString exclaimed = QStringLiteral("אוסף בדיקה!");
    QTest::newRow("sidebar row, right to left, punctuation") << "row" << exclaimed << 2 << false;
    QTest::newRow("delete confirmation, right to left, punctuation")
        << "confirmation" << exclaimed << 0 << false;
    QTest::newRow("grid heading, right to left, punctuation") << "grid heading" << exclaimed << 0 << false;
    QTest::newRow("account email") << "email"
                                   << QStringLiteral("vorname.nachname.abteilung@") + word + ".example" << 1
                                   << false;
}

// A text cut to its lines ends with "…" where it is cut and shows the start of the text; lines
// break between words unless a word alone is too wide.
void TestMainWindow::longTextsEndWithEllipsis() {
    QFETCH(QString, place);
    QFETCH(QString, title);
    QFETCH(int, maxLines);
    QFETCH(bool, inWord);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 1}});
    QString full = title;
    QWidget *widget = nullptr;
    const QUuid first = *f.id(QStringLiteral("A0"));
    if (place != u"email") {
        f.store->editCurrent([&](SnipCollection &c) { c.title = title; });
        f.store->editSnip(first, [&](Snip &s) { s.title = title; });
    }
    if (place == u"running" || place == u"paused")
        f.store->setSession(CaptureSession{f.collection(0).id, place == u"paused"});
    f.view->state()->setShowingAll(place.startsWith(u"grid"));
    f.settle();
    if (place == u"running") {
        widget = f.view->sessionBar()->headline();
        full = QStringLiteral("Aufnahmeziel: ") + title;
    } else if (place == u"paused") {
        widget = f.view->sessionBar()->detail();
    } else if (place == u"heading") {
        f.settle();
        QLineEdit *field = f.document()->showCard(first)->headingField();
        QCOMPARE(field->cursorPosition(), 0);
        widget = field;
    } else if (place.startsWith(u"title")) {
        QLineEdit *field = f.document()->header()->titleField();
        QCOMPARE(field->cursorPosition(), 0);
        if (place.endsWith(u"Return")) {
            // The edit ends with the field's start in view again, the keyboard still in it.
            QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center());
            QTest::keyClick(field, Qt::Key_End);
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(QApplication::focusWidget(), field);
        }
        widget = field;
    } else if (place.startsWith(u"grid")) {
        widget = f.view->grid()->cells();
        if (place == u"grid heading")
            full = QStringLiteral("1. ") + title;
    } else if (place == u"row") {
        widget = f.view->sidebar()->row(f.collection(0).id);
    } else if (place == u"confirmation") {
        f.view->toolbar()->deleteCollectionAction()->trigger();
        QMessageBox *box = f.openBox();
        QVERIFY(box);
        full = box->informativeText();
        // Drawn once: Qt's own label gives way to the wrapping one.
        int shown = 0;
        for (QLabel *label : box->findChildren<QLabel *>()) {
            if (label->isVisible() && label->text() == full) {
                widget = label;
                ++shown;
            }
        }
        QCOMPARE(shown, 1);
        full = withoutMarks(full);
        QVERIFY(full.contains(u'„' + title + u'“'));
    } else {
        // The account row's second line, as a signed-in user's address would fill it.
        for (QLabel *label : f.view->sidebar()->findChildren<QLabel *>()) {
            if (label->text() == f.view->sidebar()->accountDetail()) {
                label->setText(title);
                widget = label;
            }
        }
    }
    QVERIFY(widget);
    const auto rightToLeft = [](const QString &text) {
        return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
            return c.direction() == QChar::DirR || c.direction() == QChar::DirAL;
        });
    };
    if (rightToLeft(title)) {
        QList<TextRecorder::Placed> runs = TextRecorder::placedTexts(widget);
        for (TextRecorder::Placed &run : runs)
            run.text = withoutMarks(run.text);
        runs.removeIf([](const TextRecorder::Placed &run) { return run.text.trimmed().isEmpty(); });
        const auto ellipsis = std::find_if(runs.cbegin(), runs.cend(), [](const TextRecorder::Placed &run) {
            return run.text.startsWith(QChar(0x2026));
        });
        // On the title's first line, what comes before it in the text stands on its left, the
        // rest of the sentence on its right, and the "!" that ends it beside its letters' left end.
        const auto first =
            std::find_if(runs.cbegin(), runs.cend(), [&](const auto &run) { return rightToLeft(run.text); });
        QVERIFY(first != runs.cend());
        qreal left = widget->width(), right = 0;
        for (const TextRecorder::Placed &run : std::as_const(runs)) {
            if (rightToLeft(run.text) && run.baseline == first->baseline) {
                left = std::min(left, run.left);
                right = std::max(right, run.left + run.width);
            }
        }
        const qsizetype start = full.indexOf(title.left(3));
        for (const TextRecorder::Placed &run : std::as_const(runs)) {
            const QString text = run.text.trimmed();
            if (rightToLeft(text) || run.baseline != first->baseline || !full.contains(text) ||
                text.startsWith(QChar(0x2026)))
                continue;
            if (text.contains(u'!') || full.indexOf(text) < start)
                QVERIFY2(run.left + run.width < left + 0.5, qPrintable(text));
            else
                QVERIFY2(run.left > right - 0.5, qPrintable(text));
        }
        if (maxLines != 1)
            return;
        // The cut is where the right-to-left letters end: on their left. The "…" is drawn there,
        // right beside the last of them, and not on the far side of the first.
        QVERIFY(ellipsis != runs.cend());
        const qreal cut = ellipsis->left + ellipsis->width;
        bool beside = false;
        for (const TextRecorder::Placed &run : std::as_const(runs)) {
            if (!rightToLeft(run.text) || !full.contains(run.text))
                continue;
            QVERIFY2(run.left > cut - 0.5, qPrintable(run.text));
            beside = beside || std::abs(run.left - cut) < 0.5;
        }
        QVERIFY(beside);
        return;
    }
    QStringList lines;
    for (const QString &painted : TextRecorder::texts(widget)) {
        const QString text = painted.endsWith(QChar(0x2026)) ? painted.chopped(1) : painted;
        if (!text.isEmpty() && full.contains(text) && text.size() > 1)
            lines << painted;
    }
    // The grid paints every card: the first one is the renamed snip's.
    if (place.startsWith(u"grid"))
        lines = lines.mid(0, 1);
    QVERIFY2(!lines.isEmpty() && (maxLines == 0 || lines.size() <= maxLines), qPrintable(lines.join(u'|')));
    if (maxLines == 0)
        QCOMPARE(lines.join(QString()), full);
    else
        QVERIFY2(lines.last().endsWith(QChar(0x2026)), qPrintable(lines.join(u'|')));
    QString shown;
    const QFontMetricsF metrics(widget->font());
    for (const QString &line : std::as_const(lines)) {
        if (!place.startsWith(u"grid") && place != u"row")
            QVERIFY2(metrics.horizontalAdvance(line) <= widget->width(), qPrintable(line));
        if (&line != &lines.last()) {
            // Broken between words, or inside one too wide for a line.
            const qsizetype end = shown.size() + line.size();
            QVERIFY2(full[end - 1] == u' ' || full[end] == u' ' || inWord, qPrintable(line));
        }
        shown += line.endsWith(QChar(0x2026)) ? line.chopped(1) : line;
    }
    QVERIFY2(full.startsWith(shown), qPrintable(shown));
}

void TestMainWindow::sidebarFocusOutline_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("selected"); // the row is the one shown as selected
    QTest::addColumn<bool>("keyboard"); // the row has the keyboard and shows the frame
    QTest::newRow("mouse click") << "click" << false << false;
    QTest::newRow("Tab") << "tab" << false << true;
    QTest::newRow("Tab onto the selected row") << "tab" << true << true;
}

// A click leaves the keyboard where it was: a frame on the clicked row would read as a second
// selection. A row reached by Tab shows the frame, the selected one too.
void TestMainWindow::sidebarFocusOutline() {
    QFETCH(QString, how);
    QFETCH(bool, selected);
    QFETCH(bool, keyboard);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 1}, {QStringLiteral("B"), 0}});
    QVERIFY(f.active);
    Sidebar *sidebar = f.view->sidebar();
    NavigationRow *row = sidebar->allScreenshotsRow();
    if (how == u"tab")
        row->setFocus(Qt::TabFocusReason);
    else
        click(row);
    // Another row selected, or this one.
    f.view->state()->setShowingAll(selected);
    if (!selected)
        f.store->setSelectedID(f.collection(1).id);
    f.settle();
    QCOMPARE(row->isSelected(), selected);
    QCOMPARE(row->hasFocus(), keyboard);
    QCOMPARE(row->showsFocusOutline(), keyboard);
}

void TestMainWindow::sidebarAfterRestore_data() {
    QTest::addColumn<QString>("deleted"); // the collection deleted and restored
    QTest::addColumn<int>("key");         // pressed on the restore button reached by Tab; 0: a click
    QTest::newRow("the selected one, by mouse") << "B" << 0;
    QTest::newRow("another one, by mouse") << "C" << 0;
    QTest::newRow("the selected one, by Space") << "B" << int(Qt::Key_Space);
    QTest::newRow("the selected one, by Return") << "B" << int(Qt::Key_Return);
    QTest::newRow("another one, by Enter") << "C" << int(Qt::Key_Enter);
}

// Deleting and restoring leaves one row that looks selected: the restored one.
void TestMainWindow::sidebarAfterRestore() {
    QFETCH(QString, deleted);
    QFETCH(int, key);
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 0}, {QStringLiteral("B"), 0}, {QStringLiteral("C"), 0}});
    QVERIFY(f.active);
    f.settle();
    Sidebar *sidebar = f.view->sidebar();
    click(sidebar->row(*f.id(QStringLiteral("B"))));
    const QUuid gone = *f.id(deleted);
    click(sidebar->deleteButton(gone));
    QVERIFY(!sidebar->row(gone));
    FlatButton *restore = f.view->footer()->restoreButton();
    QVERIFY(restore->isVisible());
    if (key) {
        restore->setFocus(Qt::TabFocusReason);
        QTest::keyClick(restore, Qt::Key(key));
        f.settle();
    } else {
        click(restore);
    }
    QTRY_VERIFY(sidebar->row(gone));
    QCOMPARE(f.store->selectedID(), OptionalUuid(gone));
    QStringList marked;
    for (const QUuid &id : sidebar->listedIDs()) {
        NavigationRow *row = sidebar->row(id);
        if (row->isSelected() || row->showsFocusOutline())
            marked << row->text() + (row->isSelected() ? QString() : QStringLiteral(" (Fokusrahmen)"));
    }
    QCOMPARE(marked.join(QStringLiteral(", ")), deleted);
}

void TestMainWindow::hinweis_data() {
    QTest::addColumn<bool>("permission");
    QTest::addColumn<bool>("settingsInstalled");
    QTest::addColumn<QString>("press");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("plain") << false << true << "OK" << QStringList{"OK"};
    QTest::newRow("permission missing, settings there")
        << true << true << "Einstellungen öffnen" << QStringList{"Einstellungen öffnen", "OK"};
    QTest::newRow("permission missing, OK")
        << true << true << "OK" << QStringList{"Einstellungen öffnen", "OK"};
    QTest::newRow("permission missing, no settings program") << true << false << "OK" << QStringList{"OK"};
}

void TestMainWindow::hinweis() {
    QFETCH(bool, permission);
    QFETCH(bool, settingsInstalled);
    QFETCH(QString, press);
    QFETCH(QStringList, buttons);
    QTemporaryDir bin;
    const QString ran = bin.filePath(QStringLiteral("ran"));
    if (settingsInstalled) {
        const QString program = bin.filePath(QStringLiteral("systemsettings"));
        writeFile(program, QStringLiteral("#!/bin/sh\n/usr/bin/touch '%1'\n").arg(ran).toUtf8());
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.path().toUtf8());
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 1}});
    f.store->setNeedsScreenCapturePermission(permission);
    f.store->setError(QStringLiteral("Etwas <b>ging</b> schief."));
    QMessageBox *box = f.openBox();
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("Hinweis"));
    QCOMPARE(box->informativeText(), QStringLiteral("Etwas <b>ging</b> schief."));
    QCOMPARE(f.buttonTexts(), buttons);
    QVERIFY(f.press(press));
    qputenv("PATH", path);
    QCOMPARE(f.store->error(), QString());
    QVERIFY(!f.openBox());
    if (press == u"Einstellungen öffnen")
        QTRY_VERIFY(QFile::exists(ran));
    else
        QVERIFY(!QFile::exists(ran));
}

void TestMainWindow::storeQuestionWaitsBehindHinweis() {
    ViewFixture f;
    f.store->setAlertPresenter(f.view->storeAlertPresenter());
    f.store->setError(QStringLiteral("Erster Fehler."));
    QVERIFY(f.openBox());
    // A second presenter object stands for the store's: both lead into the same queue.
    std::unique_ptr<AlertPresenter> presenter = f.view->storeAlertPresenter();
    int answer = -99;
    presenter->show(
        {QStringLiteral("Frage?"), QStringLiteral("Text"), {QStringLiteral("Ja"), QStringLiteral("Nein")}, 1},
        [&](int button) { answer = button; });
    f.settle();
    QCOMPARE(f.view->findChildren<QMessageBox *>().size(), 1);
    QCOMPARE(f.openBox()->text(), QStringLiteral("Hinweis"));
    QVERIFY(f.press(QStringLiteral("OK")));
    QCOMPARE(f.openBox()->text(), QStringLiteral("Frage?"));
    QCOMPARE(answer, -99);
    QVERIFY(f.press(QStringLiteral("Nein")));
    QCOMPARE(answer, 1);
    QVERIFY(!f.openBox());
}

void TestMainWindow::newerErrorIsShownNotCleared() {
    ViewFixture f;
    f.store->setError(QStringLiteral("Erster Fehler."));
    QCOMPARE(f.openBox()->informativeText(), QStringLiteral("Erster Fehler."));
    f.store->setError(QStringLiteral("Zweiter Fehler."));
    QVERIFY(f.press(QStringLiteral("OK")));
    QCOMPARE(f.store->error(), QStringLiteral("Zweiter Fehler."));
    QVERIFY(f.openBox());
    QCOMPARE(f.openBox()->informativeText(), QStringLiteral("Zweiter Fehler."));
    QVERIFY(f.press(QStringLiteral("OK")));
    QCOMPARE(f.store->error(), QString());
}

void TestMainWindow::errorWaitsForTheWindow() {
    ViewFixture f;
    f.view->hide();
    f.store->setError(QStringLiteral("Im Hintergrund."));
    QVERIFY(!f.openBox());
    f.view->show();
    QVERIFY(f.openBox());
    QCOMPARE(f.openBox()->informativeText(), QStringLiteral("Im Hintergrund."));
}

void TestMainWindow::editorFace() {
    ViewFixture f;
    f.setUp({{QStringLiteral("A"), 2}, {QStringLiteral("B"), 1}});
    const QUuid open = *f.id(QStringLiteral("A1"));
    SnipCard *card = f.card(QStringLiteral("A1"));
    click(card->editButton());
    QPointer<AnnotationWorkspace> first = f.view->workspace();
    QVERIFY(first && first->isVisible());
    QVERIFY(!f.view->sidebar()->isVisible());
    // Errors show over the editor too.
    f.store->setError(QStringLiteral("Im Editor."));
    QVERIFY(f.openBox());
    QVERIFY(f.press(QStringLiteral("OK")));

    // The open snip deleted: the library again, the id kept until the collection changes.
    f.store->deleteSnip(open);
    f.settle();
    QVERIFY(!f.view->workspace());
    QVERIFY(f.view->sidebar()->isVisible());
    QCOMPARE(f.view->state()->annotationSnipID(), OptionalUuid(open));
    f.store->undoDelete();
    f.settle();
    QPointer<AnnotationWorkspace> second = f.view->workspace();
    QVERIFY(second && second != first);
    f.store->setSelectedID(f.id(QStringLiteral("B")));
    f.settle();
    QVERIFY(!f.view->state()->annotationSnipID());
    QVERIFY(!f.view->workspace());
}

void TestMainWindow::sheets() {
    ViewFixture f;
    f.account.setShowSheet(true);
    f.backup.setShowSheet(true);
    f.settle();
    QPointer<QDialog> account = f.view->accountSheet();
    QVERIFY(account && account->isVisible());
    QVERIFY(!f.view->backupSheet());
    account->reject();
    f.settle();
    QVERIFY(!f.account.showSheet());
    QPointer<QDialog> backup = f.view->backupSheet();
    QVERIFY(backup && backup->isVisible());
    f.backup.setShowSheet(false);
    f.settle();
    QTRY_VERIFY(!backup);
    click(f.view->sidebar()->cloudButton());
    QVERIFY(f.backup.showSheet());
    QTRY_VERIFY(f.view->backupSheet() && f.view->backupSheet()->isVisible());
    f.view->backupSheet()->reject();
    f.settle();
    QVERIFY(!f.backup.showSheet());
    click(f.view->sidebar()->accountButton());
    QVERIFY(f.account.showSheet());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
