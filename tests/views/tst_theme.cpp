#include "account/SheetParts.h"
#include "look/ElidedText.h"
#include "look/FocusFrame.h"
#include "look/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
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

} // namespace

class TestTheme : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // What the application sets at launch.
        QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        QApplication::setPalette(Theme::palette(QApplication::style()->standardPalette()));
        QApplication::setFont(Theme::font(13));
    }

    void oneFocusFrame_data() {
        QTest::addColumn<QString>("control");
        QTest::newRow("sheet button") << QStringLiteral("sheet");
        QTest::newRow("sheet's primary button") << QStringLiteral("primary");
        QTest::newRow("style-sheet button") << QStringLiteral("styled");
    }
    // The button with the keyboard shows the accent ring along its edge and nothing else: no
    // second, fainter rectangle of the style inside it.
    void oneFocusFrame() {
        QFETCH(QString, control);
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        QPushButton *button = nullptr;
        if (control == u"styled") {
            button = new QPushButton(QStringLiteral("Ausschnitt aufnehmen"), &window);
            button->setStyleSheet(
                QStringLiteral("QPushButton { color: white; background: #146BF5; border: none;"
                               " border-radius: 8px; padding: 10px 22px; }"));
            FocusFrame::attach(button, 8);
        } else {
            button = SheetParts::button(&window, QStringLiteral("Abbrechen"), control == u"primary");
        }
        auto *elsewhere = new QLineEdit(&window);
        layout->addWidget(elsewhere);
        layout->addWidget(button);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        elsewhere->setFocus();
        const QImage without = button->grab().toImage();
        // By Tab, as the style draws its own focus rectangle only after keyboard navigation.
        QTest::keyClick(elsewhere, Qt::Key_Tab);
        QVERIFY(button->hasFocus());
        const QImage with = button->grab().toImage();

        const QRect edge = button->rect();
        const int middle = edge.height() / 2;
        QCOMPARE(with.pixelColor(edge.left(), middle).rgb(), Theme::accent().rgb());
        QCOMPARE(with.pixelColor(edge.right(), middle).rgb(), Theme::accent().rgb());
        QCOMPARE(with.pixelColor(edge.left() + 2, middle).rgb(), Theme::surface().rgb());
        // Inside the ring and its white line the button looks as it does without the keyboard.
        const QRect inside = edge.adjusted(5, 5, -5, -5);
        int changed = 0;
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            for (int x = inside.left(); x <= inside.right(); ++x)
                changed += with.pixel(x, y) != without.pixel(x, y);
        QCOMPARE(changed, 0);
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
