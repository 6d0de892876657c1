#include "CanvasTestSupport.h"
#include "EditorTestSupport.h"
#include "support/MarkTestSupport.h"

#include "annotation/AnnotationCanvas.h"
#include "annotation/AnnotationSession.h"
#include "annotation/AnnotationTextEditor.h"
#include "annotation/AnnotationViewport.h"
#include "annotation/AnnotationViewportGeometry.h"
#include "annotation/AnnotationWorkspace.h"
#include "annotation/LayerInspector.h"
#include "annotation/StyleControls.h"
#include "annotation/WorkspaceControls.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <cmath>

class TestWorkspace : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opening();
    void canvasDrawReachesSnip();
    void history();
    void numberLimit();
    void textBoxes();
    void textForm_data();
    void textForm();
    void colourRule_data();
    void colourRule();
    void oneActiveToolButton_data();
    void oneActiveToolButton();
    void layers_data();
    void layers();
    void layerRows_data();
    void layerRows();
    void styleFollowsOnlyChoices();
    void geometry_data();
    void geometry();
    void zoomSteps();
    void resizeKeepsCentre();
    void handPans();
    void ctrlWheelZooms();
    void back_data();
    void back();
    void snipDisappears();
    void keyNames_data();
    void keyNames();
};

namespace {
bool near(QPointF a, QPointF b, double eps) {
    return std::abs(a.x() - b.x()) <= eps && std::abs(a.y() - b.y()) <= eps;
}
} // namespace

void TestWorkspace::opening() {
    Editor e;
    AnnotationSession *s = e.session();
    QCOMPARE(s->tool(), std::nullopt);
    QVERIFY(!s->hand() && !s->selection() && !s->zoom());
    QCOMPARE(s->visibleZoom(), 1.0);
    QCOMPARE(s->drawingColor(), MarkColor::Blue);
    QCOMPARE(s->drawingWidth(), 4.0);
    QCOMPARE(s->drawingBlurRadius(), 18.0);
    QCOMPARE(s->inspectorTab(), AnnotationSession::InspectorTab::Layers);
    QVERIFY(s->textMarker());
    QCOMPARE(s->textMarkerColor(), MarkColor::Yellow);
    QVERIFY(e.waitForCanvas());
    // 1000 × 500 in the centre column (1380 − 64 − 260 − 2 dividers wide) fits below 100 %.
    QTRY_VERIFY(s->visibleZoom() < 1.0);
    QCOMPARE(e.workspace->hint(), QStringLiteral("Ziehen zum Bearbeiten · Strg zum Überzeichnen"));
}

void TestWorkspace::canvasDrawReachesSnip() {
    Editor e;
    QVERIFY(e.waitForCanvas());
    e.session()->chooseTool(MarkKind::Rectangle);
    drag(e.canvas(), e.at(0.1, 0.1), e.at(0.5, 0.5));
    const MarkList marks = e.f.store->current()->items.first().marks;
    QCOMPARE(marks.size(), 1);
    QCOMPARE(marks.first().kind, MarkKind::Rectangle);
    QCOMPARE(marks.first().color, MarkColor::Blue);
    QCOMPARE(marks.first().strokeWidth, 4.0);
    QCOMPARE(e.session()->selection(), std::optional<QUuid>(marks.first().id));
    QCOMPARE(e.session()->tool(), std::nullopt);
    QVERIFY(e.session()->history().canUndo());
    QCOMPARE(e.f.store->saveState(), CollectionStore::SaveState::Saving);
    // Undoing the new (selected) mark clears the selection.
    QTest::keyClick(e.canvas(), Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(e.marks().isEmpty());
    QCOMPARE(e.session()->selection(), std::nullopt);
}

void TestWorkspace::history() {
    Editor e;
    AnnotationSession *s = e.session();
    MarkList list;
    for (int i = 0; i < 101; ++i) {
        list.append(named(MarkKind::Line, QString::number(i)));
        s->replace(list);
    }
    QCOMPARE(s->history().past.size(), 100);
    while (s->history().canUndo())
        s->undo();
    QCOMPARE(names(e.marks()), QStringLiteral("0")); // the first edit stays
    s->redo();
    QCOMPARE(e.marks().size(), 2);
    QVERIFY(s->history().canRedo());

    // An equal list is written but adds no step and keeps the redo stack.
    QSignalSpy written(e.f.store.get(), &CollectionStore::collectionsChanged);
    const AnnotationHistory before = s->history();
    s->replace(e.marks());
    QCOMPARE(written.size(), 1);
    QVERIFY(s->history() == before);
    // A changing edit empties it.
    s->replace(e.marks() << named(MarkKind::Arrow, QStringLiteral("neu")));
    QVERIFY(!s->history().canRedo());
    s->undo();
    QCOMPARE(e.marks().size(), 2);
    QCOMPARE(names(e.f.store->current()->items.first().marks), QStringLiteral("0 1"));
}

void TestWorkspace::numberLimit() {
    Mark last = mk(MarkKind::Number, 0.1, 0.1, 0.15, 0.2);
    last.number = 9998;
    Editor e({last});
    QVERIFY(e.waitForCanvas());
    e.session()->chooseTool(MarkKind::Number);
    QCOMPARE(e.workspace->hint(), QStringLiteral("Klicken setzt Nummer 9999 · Esc beendet"));
    click(e.canvas(), e.at(0.5, 0.5));
    QCOMPARE(e.marks().size(), 2);
    QCOMPARE(e.marks().last().number, 9999);
    QCOMPARE(e.session()->tool(), MarkKind::Number);
    QCOMPARE(e.session()->selection(), std::nullopt);
    QVERIFY(e.f.store->error().isEmpty());
    click(e.canvas(), e.at(0.7, 0.5));
    QCOMPARE(e.marks().size(), 2);
    QCOMPARE(e.f.store->error(), QStringLiteral("Pro Bild sind Nummern bis 9999 möglich."));
    QCOMPARE(e.session()->history().past.size(), 1);
}

void TestWorkspace::textBoxes() {
    Editor e;
    QVERIFY(e.waitForCanvas());
    e.session()->chooseTool(MarkKind::Text);
    QCOMPARE(e.session()->drawingColor(), MarkColor::Yellow);
    click(e.canvas(), e.at(0.2, 0.2));
    QVERIFY(e.session()->textMark());
    QVERIFY(e.workspace->textEditor());
    QVERIFY(e.marks().isEmpty());
    e.workspace->textEditor()->cancelButton()->click();
    QVERIFY(!e.session()->textMark());
    QTRY_VERIFY(!e.workspace->textEditor());
    QVERIFY(e.marks().isEmpty());
    QVERIFY(!e.session()->history().canUndo());

    click(e.canvas(), e.at(0.2, 0.2));
    QPointer<AnnotationTextEditor> form = e.workspace->textEditor();
    QVERIFY(form);
    form->textField()->setPlainText(QStringLiteral("  Bitte hier klicken \n"));
    form->saveButton()->click();
    QCOMPARE(e.marks().size(), 1);
    const Mark box = e.marks().first();
    QCOMPARE(box.text, QStringLiteral("Bitte hier klicken"));
    QCOMPARE(box.color, MarkColor::Yellow);
    QCOMPARE(e.session()->selection(), std::optional<QUuid>(box.id));
    QCOMPARE(e.session()->tool(), std::nullopt);
    QTRY_VERIFY(!form);

    // Editing an existing box keeps its place in the list.
    e.session()->replace(e.marks() << named(MarkKind::Arrow, QStringLiteral("oben")));
    e.session()->editText(box);
    e.workspace->textEditor()->textField()->setPlainText(QStringLiteral("Neu"));
    e.workspace->textEditor()->saveButton()->click();
    QCOMPARE(names(e.marks()), QStringLiteral("Neu oben"));
}

// The form alone: fitting, the error, and exactly one callback however it is closed.
void TestWorkspace::textForm_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("action");  // save, ctrlReturn, return, escape, escapeThenCancel, close
    QTest::addColumn<QString>("outcome"); // "save:TEXT", "cancel", "" (still open), "error"
    QTest::newRow("save trims") << "  Hallo \n"
                                << "save"
                                << "save:Hallo";
    QTest::newRow("no-break space and line separator kept")
        << QStringLiteral("10\u00A0km\u2028weit") << "save" << QStringLiteral("save:10\u00A0km\u2028weit");
    QTest::newRow("ctrl return saves") << "Hallo"
                                       << "ctrlReturn"
                                       << "save:Hallo";
    QTest::newRow("return adds a line") << "Hallo"
                                        << "return"
                                        << "";
    QTest::newRow("blank cannot be saved") << " \n "
                                           << "save"
                                           << "";
    QTest::newRow("too long for the image") << QStringLiteral("Wort ").repeated(400) << "save"
                                            << "error";
    QTest::newRow("escape cancels") << "Hallo"
                                    << "escape"
                                    << "cancel";
    QTest::newRow("escape then cancel again counts once") << "Hallo"
                                                          << "escapeThenCancel"
                                                          << "cancel";
    QTest::newRow("close button cancels") << "Hallo"
                                          << "close"
                                          << "cancel";
}

void TestWorkspace::textForm() {
    QFETCH(QString, typed);
    QFETCH(QString, action);
    QFETCH(QString, outcome);
    Mark mark = mk(MarkKind::Text, 0.1, 0.1, 0.5, 0.3); // sized to its text: it may not fit
    QStringList calls;
    AnnotationTextEditor form(
        mark, QSizeF(400, 100),
        [&](const Mark &m) { calls << QStringLiteral("save:") + m.text.value_or(QString()); },
        [&] { calls << QStringLiteral("cancel"); });
    form.show();
    form.textField()->setPlainText(typed);
    form.textField()->moveCursor(QTextCursor::End);
    if (action == QStringLiteral("save"))
        form.saveButton()->click();
    else if (action == QStringLiteral("ctrlReturn"))
        QTest::keyClick(form.textField(), Qt::Key_Return, Qt::ControlModifier);
    else if (action == QStringLiteral("return"))
        QTest::keyClick(form.textField(), Qt::Key_Return);
    else if (action == QStringLiteral("escape") || action == QStringLiteral("escapeThenCancel"))
        QTest::keyClick(&form, Qt::Key_Escape);
    if (action == QStringLiteral("escapeThenCancel"))
        form.reject();
    if (action == QStringLiteral("close"))
        form.close();

    if (outcome == QStringLiteral("error")) {
        QCOMPARE(calls, QStringList());
        QCOMPARE(form.errorText(),
                 QStringLiteral("Der Text passt nicht vollständig ins Bild. Bitte kürze ihn oder "
                                "teile ihn auf mehrere Anmerkungen auf."));
        QCOMPARE(form.textField()->toPlainText(), typed);
        // Shortened, it saves.
        form.textField()->setPlainText(QStringLiteral("Kurz"));
        form.saveButton()->click();
        QCOMPARE(calls, QStringList{QStringLiteral("save:Kurz")});
        return;
    }
    QCOMPARE(calls, outcome.isEmpty() ? QStringList() : QStringList{outcome});
    if (action == QStringLiteral("return"))
        QCOMPARE(form.textField()->toPlainText(), QStringLiteral("Hallo\n"));
    if (typed.trimmed().isEmpty())
        QVERIFY(!form.saveButton()->isEnabled());
}

void TestWorkspace::colourRule_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("after");
    const auto c = [](MarkColor color) { return int(color); };
    const auto k = [](MarkKind kind) { return int(kind); };
    QTest::newRow("highlight turns yellow")
        << c(MarkColor::Blue) << k(MarkKind::Highlight) << c(MarkColor::Yellow);
    QTest::newRow("text box turns yellow")
        << c(MarkColor::Coral) << k(MarkKind::Text) << c(MarkColor::Yellow);
    QTest::newRow("callout turns yellow")
        << c(MarkColor::Green) << k(MarkKind::Callout) << c(MarkColor::Yellow);
    QTest::newRow("arrow after yellow is blue")
        << c(MarkColor::Yellow) << k(MarkKind::Arrow) << c(MarkColor::Blue);
    QTest::newRow("arrow keeps coral") << c(MarkColor::Coral) << k(MarkKind::Arrow) << c(MarkColor::Coral);
    QTest::newRow("number after yellow is blue")
        << c(MarkColor::Yellow) << k(MarkKind::Number) << c(MarkColor::Blue);
    QTest::newRow("redact keeps white") << c(MarkColor::White) << k(MarkKind::Redact) << c(MarkColor::White);
}

void TestWorkspace::colourRule() {
    QFETCH(int, before);
    QFETCH(int, kind);
    QFETCH(int, after);
    Editor e({mk(MarkKind::Arrow, 0.1, 0.1, 0.2, 0.2)});
    AnnotationSession *s = e.session();
    s->chooseColor(MarkColor(before));
    s->setSelection(e.marks().first().id);
    s->setInspectorTab(AnnotationSession::InspectorTab::Text);
    s->chooseTool(MarkKind(kind));
    QCOMPARE(s->drawingColor(), MarkColor(after));
    QCOMPARE(s->selection(), std::nullopt);
    QCOMPARE(s->inspectorTab(), AnnotationSession::InspectorTab::Layers);
    // Choosing a tool never touches a mark.
    QVERIFY(!s->history().canUndo());
}

// The palette shows exactly one mode.
void TestWorkspace::oneActiveToolButton_data() {
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("active"); // accessible name of the active button
    QTest::addColumn<QString>("shapeSymbol");
    QTest::newRow("select") << ""
                            << "Auswählen"
                            << "square.on.circle";
    QTest::newRow("hand") << "hand"
                          << "Hand · Ansicht verschieben"
                          << "square.on.circle";
    QTest::newRow("hand twice") << "hand hand"
                                << "Auswählen"
                                << "square.on.circle";
    QTest::newRow("shape") << "ellipse"
                           << "Formen"
                           << "circle";
    QTest::newRow("shape then single") << "ellipse blur"
                                       << "Blur"
                                       << "square.on.circle";
    QTest::newRow("tool then hand") << "blur hand"
                                    << "Hand · Ansicht verschieben"
                                    << "square.on.circle";
    QTest::newRow("escape") << "blur escape"
                            << "Auswählen"
                            << "square.on.circle";
}

void TestWorkspace::oneActiveToolButton() {
    QFETCH(QString, steps);
    QFETCH(QString, active);
    QFETCH(QString, shapeSymbol);
    Editor e;
    QVERIFY(e.waitForCanvas());
    for (const QString &step : steps.split(u' ', Qt::SkipEmptyParts)) {
        if (step == QStringLiteral("hand"))
            e.session()->toggleHand();
        else if (step == QStringLiteral("ellipse"))
            e.session()->chooseTool(MarkKind::Ellipse);
        else if (step == QStringLiteral("blur"))
            e.session()->chooseTool(MarkKind::Blur);
        else if (step == QStringLiteral("escape"))
            QTest::keyClick(e.canvas(), Qt::Key_Escape);
    }
    QCoreApplication::processEvents();
    QStringList on;
    ToolButton *shapes = nullptr;
    for (ToolButton *button : e.workspace->toolButtons()) {
        if (button->isActive())
            on << button->accessibleName();
        if (button->accessibleName() == QStringLiteral("Formen"))
            shapes = button;
    }
    QCOMPARE(on, QStringList{active});
    QCOMPARE(shapes->symbol(), shapeSymbol);
}

// Reordering layers: within their group only, always stored in drawing order, one undo step when
// something moved, and nothing for drops that do not name a mark of this snip.
void TestWorkspace::layers_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<QString>("operation"); // "front X", "back X", "up X", "down X", "drop X Y", "text T Y"
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("selected");
    const Mark r = named(MarkKind::Redact, QStringLiteral("R")),
               a = named(MarkKind::Arrow, QStringLiteral("A")),
               b = named(MarkKind::Blur, QStringLiteral("B")),
               c = named(MarkKind::Rectangle, QStringLiteral("C")),
               b2 = named(MarkKind::Blur, QStringLiteral("B2")),
               b3 = named(MarkKind::Blur, QStringLiteral("B3"));
    QTest::newRow("blur cannot rise above its group") << MarkList{r, a, b} << "up B"
                                                      << "R A B" << 0 << "";
    QTest::newRow("one up") << MarkList{a, c} << "up A"
                            << "C A" << 1 << "";
    QTest::newRow("at the top of its group") << MarkList{c, a} << "up A"
                                             << "C A" << 0 << "";
    QTest::newRow("blur to the front of the blurs") << MarkList{b, b2, b3, a} << "front B"
                                                    << "B2 B3 B A" << 1 << "";
    QTest::newRow("to the back of the normal marks") << MarkList{b, c, a, r} << "back A"
                                                     << "B A C R" << 1 << "";
    QTest::newRow("stored out of order is normalised") << MarkList{r, a, c} << "up A"
                                                       << "C A R" << 1 << "";
    QTest::newRow("dropped on a redaction stays below it") << MarkList{a, c, r} << "drop A R"
                                                           << "C A R" << 1 << "A";
    QTest::newRow("dropped on a lower mark") << MarkList{a, c, b} << "drop C A"
                                             << "B C A" << 1 << "C";
    QTest::newRow("dropped on itself") << MarkList{a, c} << "drop A A"
                                       << "A C" << 0 << "";
    QTest::newRow("garbage text") << MarkList{a, c} << "text hallo C"
                                  << "A C" << 0 << "";
    QTest::newRow("braced id") << MarkList{a, c} << "text {A} C"
                               << "A C" << 0 << "";
    QTest::newRow("foreign id") << MarkList{a, c} << "text 6F9619FF-8B86-D011-B42D-00C04FC964FF C"
                                << "A C" << 0 << "";
}

void TestWorkspace::layers() {
    QFETCH(MarkList, marks);
    QFETCH(QString, operation);
    QFETCH(QString, stored);
    QFETCH(int, steps);
    QFETCH(QString, selected);
    Editor e(marks);
    AnnotationSession *s = e.session();
    const auto id = [&](const QString &name) {
        for (const Mark &m : marks)
            if (m.text == name)
                return m.id;
        return QUuid();
    };
    const QStringList parts = operation.split(u' ');
    const QString &verb = parts[0];
    if (verb == QStringLiteral("up")) {
        const bool could = s->canMoveLayer(id(parts[1]), 1);
        s->moveLayer(id(parts[1]), 1);
        QCOMPARE(could, steps > 0);
    } else if (verb == QStringLiteral("front")) {
        s->moveLayerTo(id(parts[1]), marks.size() - 1);
    } else if (verb == QStringLiteral("back")) {
        s->moveLayerTo(id(parts[1]), 0);
    } else if (verb == QStringLiteral("drop")) {
        QMimeData data;
        data.setText(id(parts[1]).toString(QUuid::WithoutBraces));
        LayerList *list = e.workspace->layerInspector()->list();
        list->refresh();
        QListWidgetItem *target = nullptr;
        for (int row = 0; row < list->count(); ++row)
            if (LayerList::idOf(list->item(row)) == id(parts[2]))
                target = list->item(row);
        QVERIFY(target);
        const QPoint at = list->visualItemRect(target).center();
        QDragEnterEvent enter(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(at, Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &drop);
    } else {
        QString text = parts[1];
        if (text == QStringLiteral("{A}"))
            text = id(QStringLiteral("A")).toString(QUuid::WithBraces);
        s->dropLayer(text, id(parts[2]));
    }
    QCOMPARE(names(e.marks()), stored);
    QCOMPARE(s->history().past.size(), steps);
    QCOMPARE(s->selection(), selected.isEmpty() ? std::nullopt : std::optional<QUuid>(id(selected)));
}

// The list ends in the screenshot row whatever the marks, also before the first mark and after the
// last one is gone.
void TestWorkspace::layerRows_data() {
    QTest::addColumn<MarkList>("marks");
    QTest::addColumn<bool>("removeAll");
    QTest::addColumn<QStringList>("rows");
    const Mark a = named(MarkKind::Arrow, QStringLiteral("A")),
               b = named(MarkKind::Blur, QStringLiteral("B"));
    QTest::newRow("no marks") << MarkList{} << false << QStringList{QStringLiteral("Screenshot")};
    QTest::newRow("two marks, topmost first")
        << MarkList{a, b} << false
        << QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("Screenshot")};
    QTest::newRow("last mark removed") << MarkList{a} << true << QStringList{QStringLiteral("Screenshot")};
}

void TestWorkspace::layerRows() {
    QFETCH(MarkList, marks);
    QFETCH(bool, removeAll);
    QFETCH(QStringList, rows);
    Editor e(marks);
    if (removeAll)
        e.session()->replace({});
    LayerInspector *inspector = e.workspace->layerInspector();
    const auto shown = [&] {
        QStringList texts;
        for (int row = 0; row < inspector->list()->count(); ++row)
            texts << inspector->list()->item(row)->text();
        return texts;
    };
    QTRY_COMPARE_WITH_TIMEOUT(shown(), rows, 5000);
    QCOMPARE(inspector->count()->text(), QString::number(rows.size() - 1));
    QVERIFY(LayerList::idOf(inspector->list()->item(rows.size() - 1)).isNull());
}

// The controls are refilled for each selection without writing; a choice writes once.
void TestWorkspace::styleFollowsOnlyChoices() {
    Mark arrow = named(MarkKind::Arrow, QStringLiteral("A"));
    arrow.color = MarkColor::Coral;
    arrow.strokeWidth = 8;
    Mark line = named(MarkKind::Line, QStringLiteral("L"));
    line.strokeWidth = 5; // none of the choices
    Editor e({arrow, line});
    AnnotationSession *s = e.session();
    StyleControls *style = e.workspace->layerInspector()->styleControls();
    QSignalSpy written(e.f.store.get(), &CollectionStore::collectionsChanged);
    for (const Mark &m : {arrow, line, arrow}) {
        s->setSelection(m.id);
        QCoreApplication::processEvents();
    }
    QCOMPARE(style->heading()->text(), QStringLiteral("Darstellung"));
    QCOMPARE(style->widthPicker()->currentText(), QStringLiteral("Stark"));
    s->setSelection(line.id);
    QCoreApplication::processEvents();
    QCOMPARE(style->widthPicker()->currentIndex(), -1);
    QCOMPARE(written.size(), 0);
    QVERIFY(!s->history().canUndo());
    QCOMPARE(s->drawingColor(), MarkColor::Blue);

    // The user's choice: the mark and the next marks.
    style->widthPicker()->activated(0);
    QCOMPARE(e.marks().at(1).strokeWidth, 2.0);
    QCOMPARE(s->drawingWidth(), 2.0);
    QCOMPARE(s->history().past.size(), 1);
    s->setSelection(std::nullopt);
    QCoreApplication::processEvents();
    QCOMPARE(style->heading()->text(), QStringLiteral("Für neue Markierungen"));
    QVERIFY(!style->widthPicker()->isVisibleTo(style));
    s->chooseTool(MarkKind::Blur);
    QCoreApplication::processEvents();
    QVERIFY(style->blurPicker()->isVisibleTo(style) && style->blurNote()->isVisibleTo(style));
    QVERIFY(!style->swatches().first()->isVisibleTo(style));
}

void TestWorkspace::geometry_data() {
    QTest::addColumn<QSizeF>("image");
    QTest::addColumn<QSizeF>("view");
    QTest::addColumn<double>("zoom"); // -1: fit
    QTest::addColumn<double>("scale");
    QTest::addColumn<QRectF>("frame");
    QTest::addColumn<QSizeF>("document");
    QTest::newRow("fits at 100 %") << QSizeF(1000, 500) << QSizeF(1096, 800) << -1.0 << 1.0
                                   << QRectF(48, 150, 1000, 500) << QSizeF(1096, 800);
    QTest::newRow("small image capped at 400 %") << QSizeF(10, 10) << QSizeF(1000, 800) << -1.0 << 4.0
                                                 << QRectF(480, 380, 40, 40) << QSizeF(1000, 800);
    QTest::newRow("huge image fits below 5 %") << QSizeF(20000, 1000) << QSizeF(596, 400) << -1.0 << 0.025
                                               << QRectF(48, 187.5, 500, 25) << QSizeF(596, 400);
    QTest::newRow("not a number counts as 100 %") << QSizeF(1000, 500) << QSizeF(800, 600) << qQNaN() << 1.0
                                                  << QRectF(48, 50, 1000, 500) << QSizeF(1096, 600);
    QTest::newRow("zoom clamped to 5 %") << QSizeF(1000, 500) << QSizeF(800, 600) << 0.01 << 0.05
                                         << QRectF(375, 287.5, 50, 25) << QSizeF(800, 600);
    QTest::newRow("empty image counts as 1 × 1")
        << QSizeF(0, 0) << QSizeF(200, 200) << 2.0 << 2.0 << QRectF(99, 99, 2, 2) << QSizeF(200, 200);
}

void TestWorkspace::geometry() {
    QFETCH(QSizeF, image);
    QFETCH(QSizeF, view);
    QFETCH(double, zoom);
    QFETCH(double, scale);
    QFETCH(QRectF, frame);
    QFETCH(QSizeF, document);
    const auto g =
        AnnotationViewportGeometry::make(image, view, zoom == -1.0 ? std::nullopt : std::optional(zoom));
    QCOMPARE(g.scale, scale);
    QCOMPARE(g.imageFrame, frame);
    QCOMPARE(g.documentSize, document);
}

void TestWorkspace::zoomSteps() {
    Editor e;
    AnnotationSession *s = e.session();
    s->setVisibleZoom(1.0);
    s->zoomIn();
    QCOMPARE(*s->zoom(), 1.25);
    s->zoomOut();
    QCOMPARE(*s->zoom(), 0.8);
    s->setVisibleZoom(4.0);
    s->zoomIn();
    QCOMPARE(*s->zoom(), 4.0);
    s->setVisibleZoom(0.05);
    QVERIFY(!s->canZoomOut());
    s->setZoom(std::nullopt);
    s->setVisibleZoom(0.03); // a fit below 5 %: "Verkleinern" must not enlarge it
    s->zoomOut();
    QCOMPARE(s->zoom(), std::nullopt);
}

void TestWorkspace::resizeKeepsCentre() {
    Editor e;
    QVERIFY(e.waitForCanvas());
    e.session()->setZoom(2.0);
    AnnotationViewport *v = e.workspace->viewport();
    v->horizontalScrollBar()->setValue(v->horizontalScrollBar()->value() + 300);
    v->verticalScrollBar()->setValue(v->verticalScrollBar()->value() - 100);
    QCoreApplication::processEvents();
    const QPointF before = e.centrePoint();
    const QSize old = v->viewport()->size();
    e.workspace->resize(1100, 760);
    QTRY_VERIFY(v->viewport()->size() != old);
    QCoreApplication::processEvents();
    QVERIFY2(near(e.centrePoint(), before, 1.0 / 2.0), qPrintable(QStringLiteral("%1,%2 → %3,%4")
                                                                      .arg(before.x())
                                                                      .arg(before.y())
                                                                      .arg(e.centrePoint().x())
                                                                      .arg(e.centrePoint().y())));
    QTRY_COMPARE(e.session()->visibleZoom(), 2.0);
    // Fit mode centres again.
    e.session()->setZoom(std::nullopt);
    QCoreApplication::processEvents();
    QVERIFY(near(e.centrePoint(), QPointF(500, 250), 1));
}

void TestWorkspace::handPans() {
    Editor e({mk(MarkKind::FilledRectangle, 0, 0, 1, 1)});
    QVERIFY(e.waitForCanvas());
    e.session()->setZoom(2.0);
    e.session()->toggleHand();
    AnnotationViewport *v = e.workspace->viewport();
    const QPoint start(v->horizontalScrollBar()->value(), v->verticalScrollBar()->value());
    QVERIFY(start.x() > 40 && start.y() > 40);
    // The pointer moves on the screen while the canvas moves under it.
    const QPointF from = e.canvas()->mapFrom(v->viewport(), v->viewport()->rect().center());
    const QPointF global = e.canvas()->mapToGlobal(from);
    const auto send = [&](QEvent::Type type, QPointF offset, Qt::MouseButton button,
                          Qt::MouseButtons buttons) {
        QMouseEvent event(type, e.canvas()->mapFromGlobal(global + offset), global + offset, button, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(e.canvas(), &event);
    };
    send(QEvent::MouseButtonPress, {}, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, {15, 10}, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseMove, {30, 20}, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, {30, 20}, Qt::LeftButton, Qt::NoButton);
    QCOMPARE(QPoint(v->horizontalScrollBar()->value(), v->verticalScrollBar()->value()),
             start - QPoint(30, 20));
    QVERIFY(!e.session()->history().canUndo());
    QCOMPARE(e.session()->selection(), std::nullopt);
    QCOMPARE(e.canvas()->cursor().shape(), Qt::OpenHandCursor);
}

void TestWorkspace::ctrlWheelZooms() {
    Editor e;
    QVERIFY(e.waitForCanvas());
    e.session()->setZoom(2.0);
    QCoreApplication::processEvents();
    const QPointF before = e.centrePoint();
    // Sent where the canvas passes it on: the view's viewport.
    QWidget *view = e.workspace->viewport()->viewport();
    const QPointF at = view->rect().center();
    QWheelEvent wheel(at, view->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
    QCOMPARE(e.session()->zoom(), 2.5);
    QTRY_COMPARE(e.session()->visibleZoom(), 2.5);
    QVERIFY(near(e.centrePoint(), before, 1));
    // Without Ctrl the wheel scrolls and leaves the zoom.
    QWheelEvent scroll(at, view->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &scroll);
    QCOMPARE(e.session()->zoom(), 2.5);
    QVERIFY(!near(e.centrePoint(), before, 1));
}

void TestWorkspace::back_data() {
    QTest::addColumn<QString>("library");
    QTest::addColumn<int>("closed");
    QTest::newRow("saved") << "fine" << 1;
    QTest::newRow("writing disabled for the run") << "disabled" << 1;
    QTest::newRow("write failure") << "failing" << 0;
}

void TestWorkspace::back() {
    QFETCH(QString, library);
    QFETCH(int, closed);
    QTemporaryDir dir;
    if (library == QStringLiteral("disabled"))
        QDir(dir.path()).mkpath(QStringLiteral("library.json")); // unreadable and cannot be copied
    CollectionStore store(dir.path());
    if (library == QStringLiteral("failing"))
        store.setFileWriter([](const QString &, const QByteArray &) {
            return QStringLiteral("Die Datei konnte nicht geschrieben werden.");
        });
    store.setError(QString());
    SnipCollection collection;
    collection.items.append(Snip::make(QStringLiteral("x.png")));
    store.setCollections({collection});
    store.setSelectedID(collection.id);
    int closes = 0;
    bool writtenAtClose = false;
    AnnotationWorkspace workspace(&store, collection.items.first().id, [&] {
        ++closes;
        writtenAtClose = QFileInfo(store.libraryPath()).isFile();
    });
    QPushButton *backButton = nullptr;
    for (QPushButton *b : workspace.findChildren<QPushButton *>())
        if (b->text() == QStringLiteral("Zur Sammlung"))
            backButton = b;
    QVERIFY(backButton);
    backButton->click();
    // Writing disabled: nothing to wait for. Otherwise the answer of the save decides.
    QCOMPARE(closes, library == QStringLiteral("disabled") ? 1 : 0);
    if (library != QStringLiteral("disabled"))
        backButton->click(); // a second click while the save is written closes no second time
    if (library == QStringLiteral("failing")) {
        QTRY_VERIFY_WITH_TIMEOUT(store.error().startsWith(QStringLiteral("Speichern fehlgeschlagen: ")),
                                 10000);
        QCOMPARE(store.saveState(), CollectionStore::SaveState::Failed);
    }
    QTRY_COMPARE_WITH_TIMEOUT(closes, closed, 10000);
    store.finishPendingWork();
    QCOMPARE(closes, closed);
    QCOMPARE(writtenAtClose, library == QStringLiteral("fine"));
}

void TestWorkspace::snipDisappears() {
    Editor e({named(MarkKind::Arrow, QStringLiteral("A"))});
    QVERIFY(e.waitForCanvas());
    e.session()->setSelection(e.marks().first().id);
    e.f.store->deleteSnip(e.snip);
    QVERIFY(!e.session()->item());
    QCOMPARE(e.session()->selection(), std::nullopt);
    e.session()->replace({named(MarkKind::Line, QStringLiteral("L"))});
    QVERIFY(e.f.store->current()->items.isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(e.workspace->findChild<QStackedWidget *>()->currentWidget()->property("text").toString(),
             QStringLiteral("Bild nicht verfügbar"));
    QCOMPARE(e.workspace->layerInspector()->count()->text(), QStringLiteral("0"));
    // Its deletion undone, it is edited again.
    e.f.store->undoDelete();
    QTRY_VERIFY(e.workspace->viewport() && e.workspace->viewport()->isVisible());
}

QTEST_MAIN(TestWorkspace)

void TestWorkspace::keyNames_data() {
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("text");
    QTest::newRow("hint without tool") << "hint"
                                       << "Ziehen zum Bearbeiten · Strg zum Überzeichnen";
    QTest::newRow("hint of a shape tool") << "shape"
                                          << "Form aufziehen · Umschalt für Kreis oder Quadrat";
    QTest::newRow("undo help") << "Markierung rückgängig"
                               << "Rückgängig · Strg+Z";
    QTest::newRow("redo help") << "Markierung wiederholen"
                               << "Wiederholen · Strg+Umschalt+Z";
}

// A PC keyboard has no Mac key symbols: the texts name Strg and Umschalt. Drawing over a mark is
// named by Strg, since window managers take Alt+drag to move the window.
void TestWorkspace::keyNames() {
    QFETCH(QString, shown);
    QFETCH(QString, text);
    Editor e;
    QString actual;
    if (shown == u"hint" || shown == u"shape") {
        if (shown == u"shape")
            e.session()->chooseTool(MarkKind::Ellipse);
        actual = e.workspace->hint();
    } else if (const QToolButton *button = toolButton(e.workspace.get(), shown)) {
        actual = button->toolTip();
    }
    QCOMPARE(actual, text);
}

#include "tst_workspace.moc"
