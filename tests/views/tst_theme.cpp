#include "FocusPictures.h"
#include "account/SheetParts.h"
#include "annotation/AnnotationTextEditor.h"
#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Theme.h"
#include "views/LibraryWidgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QStyledItemDelegate>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

namespace {

// The darkest grey in the rectangle: the full-coverage pixels of the text drawn there.
int darkest(const QImage &image, const QRect &rect) {
    int result = 255;
    const QRect area = rect.intersected(image.rect());
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            result = std::min(result, qGray(image.pixel(x, y)));
    return result;
}

// The pixels that differ between two pictures.
QRegion changedPixels(const QImage &a, const QImage &b) {
    QRegion changed;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                changed += QRect(x, y, 1, 1);
    return changed;
}

// A delegate of its own that leaves the drawing to the style, as the file dialog's places do.
class StyleDelegate : public QStyledItemDelegate {
    using QStyledItemDelegate::QStyledItemDelegate;
};

// Draws its rows and the frame on the current one itself, as the editor's layer list does.
class OwnFrameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &) const override {
        if (option.state & QStyle::State_HasFocus)
            FocusFrame::paint(*painter, QRectF(option.rect), 6);
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return {120, 30}; }
};

} // namespace

class TestTheme : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // What the application sets at launch.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(Theme::palette(QApplication::style()->standardPalette()));
        QApplication::setFont(Theme::font(13));
        FocusFrame::install();
    }

    void oneFocusFrame_data() {
        QTest::addColumn<QString>("control");
        QTest::addColumn<bool>("around"); // framed around what it shows rather than along its edge
        QTest::newRow("sheet button") << QStringLiteral("sheet") << false;
        QTest::newRow("sheet's primary button") << QStringLiteral("primary") << false;
        QTest::newRow("style-sheet button attached twice") << QStringLiteral("styled") << false;
        QTest::newRow("button of an alert") << QStringLiteral("alert") << false;
        QTest::newRow("button of the text-box form") << QStringLiteral("form") << false;
        QTest::newRow("check box") << QStringLiteral("check") << true;
        QTest::newRow("card's heading") << QStringLiteral("heading") << true;
        QTest::newRow("card's comment") << QStringLiteral("comment") << true;
        QTest::newRow("panel's note") << QStringLiteral("note") << false;
        QTest::newRow("list") << QStringLiteral("list") << false;
        QTest::newRow("empty list") << QStringLiteral("empty") << false;
        QTest::newRow("list painting its own frame") << QStringLiteral("delegate") << false;
        QTest::newRow("button painting its own frame") << QStringLiteral("flat") << false;
    }
    // Whatever has the keyboard shows one accent ring with its white line, along the edge of a
    // control that has one and around one that has none, and nothing else changes: no rectangle
    // or tint of the style, no second ring.
    void oneFocusFrame() {
        QFETCH(QString, control);
        QFETCH(bool, around);
        QWidget card; // white, with a card's padding
        card.setAutoFillBackground(true);
        card.setPalette(QPalette(Theme::surface()));
        auto *layout = new QVBoxLayout(&card);
        layout->setContentsMargins(16, 16, 16, 16);
        std::unique_ptr<QMessageBox> alert;
        std::unique_ptr<AnnotationTextEditor> form;
        QWidget *w = nullptr;
        if (control == u"alert") {
            alert = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("Sammlung löschen?"),
                                                  QStringLiteral("Sie kommt in den Papierkorb."),
                                                  QMessageBox::Ok | QMessageBox::Cancel);
            w = alert->button(QMessageBox::Ok);
        } else if (control == u"form") {
            form = std::make_unique<AnnotationTextEditor>(
                Mark{}, QSizeF(400, 300), [](const Mark &) {}, [] {});
            w = form->cancelButton();
        } else if (control == u"sheet" || control == u"primary") {
            w = SheetParts::button(&card, QStringLiteral("Abbrechen"), control == u"primary");
        } else if (control == u"styled") {
            w = new QPushButton(QStringLiteral("Ausschnitt aufnehmen"), &card);
            w->setStyleSheet(QStringLiteral("QPushButton { color: white; background: #146BF5; border: none;"
                                            " border-radius: 8px; padding: 10px 22px; }"));
            FocusFrame::attach(w, 8);
            FocusFrame::attach(w, 8);
        } else if (control == u"check") {
            w = new QCheckBox(QStringLiteral("Textmarker im Bild"));
            FocusFrame::attach(w, 4); // as the editor attaches each of its buttons
        } else if (control == u"heading") {
            auto *field = new ElidingLineEdit(&card);
            field->setFrame(false);
            field->setText(QStringLiteral("Ausschnitt 1"));
            w = field;
        } else if (control == u"comment") {
            auto *text = new QTextEdit(QStringLiteral("Kommentar"), &card);
            text->setFrameShape(QFrame::NoFrame);
            text->document()->setDocumentMargin(0); // the text starts at its edge
            w = text;
        } else if (control == u"note") {
            w = new QPlainTextEdit(QStringLiteral("Notiz"), &card);
        } else if (control == u"list" || control == u"delegate" || control == u"empty") {
            auto *list = new QListWidget(&card);
            if (control == u"delegate")
                list->setItemDelegate(new OwnFrameDelegate(list));
            else if (control == u"list")
                list->setItemDelegate(new StyleDelegate(list));
            if (control != u"empty")
                list->addItem(QStringLiteral("Pfeil"));
            list->setCurrentRow(0);
            w = list;
        } else {
            w = new FlatButton(FlatButton::Look::plain(Theme::ink(), Theme::font(13)),
                               QStringLiteral("Umbenennen"));
        }
        if (!alert && !form)
            layout->addWidget(w, 0, Qt::AlignLeft);
        QWidget *window = w->window();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        window->setFocus(Qt::OtherFocusReason);
        const QImage without = window->grab().toImage();
        // Where the frame goes: along the control's edge, or around what it paints.
        QRect expected(w->mapTo(window, QPoint()), w->size());
        if (auto *list = qobject_cast<QListWidget *>(w); list && control == u"delegate")
            expected = QRect(list->viewport()->mapTo(window, list->visualItemRect(list->item(0)).topLeft()),
                             list->visualItemRect(list->item(0)).size());
        if (around) {
            w->hide();
            expected = changedPixels(window->grab().toImage(), without).boundingRect();
            w->show();
        }
        w->setFocus(Qt::OtherFocusReason);
        // As after Tab: the style would now draw its own focus cues.
        window->setAttribute(Qt::WA_KeyboardFocusChange);
        QTRY_VERIFY(w->hasFocus());
        const QImage with = window->grab().toImage();

        // A field's caret blinks: its place is left out.
        QRect caret;
        if (qobject_cast<QLineEdit *>(w))
            caret = w->inputMethodQuery(Qt::ImCursorRectangle).toRect();
        else if (auto *text = qobject_cast<QPlainTextEdit *>(w))
            caret = text->cursorRect().translated(text->viewport()->pos());
        else if (auto *rich = qobject_cast<QTextEdit *>(w))
            caret = rich->cursorRect().translated(rich->viewport()->pos());
        caret = QRect(w->mapTo(window, caret.topLeft()), caret.size()).adjusted(-2, -1, 2, 1);
        const QRegion changed = changedPixels(with, without) - caret;
        const QRect frame = changed.boundingRect();
        QVERIFY2(FocusPictures::framed(with, without, frame), "no frame");
        const QRegion ring = QRegion(frame) - QRegion(frame.adjusted(6, 6, -6, -6));
        QVERIFY2((changed - ring).isEmpty(), "something besides the one frame changed");
        QCOMPARE(with.pixelColor(frame.left(), frame.center().y()).rgb(), Theme::accent().rgb());
        QCOMPARE(with.pixelColor(frame.left() + 2, frame.center().y()).rgb(), Theme::surface().rgb());
        if (around)
            QVERIFY2(frame.adjusted(4, 4, -4, -4).contains(expected), "the frame lies over the control");
        else
            QCOMPARE(frame, expected);
    }

    void disabledTextReadsDisabled_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("menu entry") << QStringLiteral("menu");
        QTest::newRow("push button") << QStringLiteral("button");
        QTest::newRow("tool button") << QStringLiteral("tool");
        QTest::newRow("check box") << QStringLiteral("check");
    }
    // Darkest text pixel of the enabled and the disabled control: ink against a light grey.
    void disabledTextReadsDisabled() {
        QFETCH(QString, control);
        int shade[2] = {0, 0};
        for (const bool enabled : {true, false}) {
            const QString text = QStringLiteral("Letzten Ausschnitt wiederherstellen");
            if (control == u"menu") {
                QMenu menu;
                QAction *action = menu.addAction(text);
                action->setEnabled(enabled);
                menu.popup(QPoint(0, 0));
                QVERIFY(QTest::qWaitForWindowExposed(&menu));
                shade[enabled] = darkest(menu.grab().toImage(), menu.actionGeometry(action));
            } else {
                std::unique_ptr<QAbstractButton> button;
                if (control == u"button")
                    button = std::make_unique<QPushButton>(text);
                else if (control == u"tool")
                    button = std::make_unique<QToolButton>();
                else
                    button = std::make_unique<QCheckBox>(text);
                button->setText(text);
                button->setEnabled(enabled);
                button->adjustSize();
                shade[enabled] = darkest(button->grab().toImage(), button->rect().adjusted(2, 2, -2, -2));
            }
        }
        QVERIFY2(shade[1] < 80, qPrintable(QStringLiteral("enabled text grey %1").arg(shade[1])));
        QVERIFY2(shade[0] > 130, qPrintable(QStringLiteral("disabled text grey %1").arg(shade[0])));
    }

    void lineEditShowsStart_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cut");
        QTest::newRow("short") << QStringLiteral("Titel") << false;
        QTest::newRow("long") << QStringLiteral(
                                     "Ein sehr langer Titel, der nicht in das Feld passt und weitergeht")
                              << true;
    }
    // Without the focus the field shows the start of its text, drawn where QLineEdit draws it.
    void lineEditShowsStart() {
        QFETCH(QString, text);
        QFETCH(bool, cut);
        for (const bool framed : {false, true}) {
            ElidingLineEdit field;
            QLineEdit plain;
            for (QLineEdit *edit : {static_cast<QLineEdit *>(&field), &plain}) {
                edit->setFrame(framed);
                edit->setFont(Theme::font(16, QFont::DemiBold));
                edit->setTextMargins(3, 0, 0, 0);
                edit->resize(160, 34);
            }
            field.setText(text);
            QCOMPARE(field.cursorPosition(), 0);
            QCOMPARE(field.text(), text);
            const QString shown = field.shownText();
            QCOMPARE(shown.endsWith(QChar(0x2026)), cut);
            QVERIFY(text.startsWith(cut ? shown.chopped(1) : shown));
            plain.setText(shown);
            plain.setCursorPosition(0);
            QCOMPARE(field.grab().toImage(), plain.grab().toImage());
        }
    }

    // Typing goes where the caret is, also into a field of a window that is not active; a text
    // set from outside starts at its beginning.
    void lineEditCaret() {
        ElidingLineEdit field;
        field.setText(QStringLiteral("Titel"));
        QCOMPARE(field.cursorPosition(), 0);
        field.setCursorPosition(5);
        QTest::keyClicks(&field, QStringLiteral("  a"));
        QCOMPARE(field.text(), QStringLiteral("Titel  a"));
        QCOMPARE(field.cursorPosition(), 8);
        field.setText(QStringLiteral("Neu"));
        QCOMPARE(field.cursorPosition(), 0);
    }
};

QTEST_MAIN(TestTheme)
#include "tst_theme.moc"
