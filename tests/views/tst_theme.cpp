#include "look/ElidedText.h"
#include "look/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QTextBoundaryFinder>
#include <QToolButton>

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

    void elideRule_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("maxLines");
        QTest::addColumn<int>("lineCount");
        QTest::addColumn<bool>("cut");
        const QString long_ =
            QStringLiteral("Quartalsbericht der Abteilung für Kundenservice mit allen Schritten");
        QTest::newRow("fits") << QStringLiteral("Kurz") << 200 << 1 << 1 << false;
        QTest::newRow("one line, cut") << long_ << 200 << 1 << 1 << true;
        QTest::newRow("two lines, cut") << long_ << 200 << 2 << 2 << true;
        QTest::newRow("two lines, fits") << QStringLiteral("Bericht der Abteilung") << 120 << 2 << 2 << false;
        QTest::newRow("one word wider than the line")
            << QStringLiteral("Donaudampfschifffahrtsgesellschaftskapitänsmützenabzeichen") << 150 << 2 << 2
            << true;
        QTest::newRow("combining accents")
            << QStringLiteral("Cafe\u0301 ").repeated(20) << 150 << 1 << 1 << true;
        QTest::newRow("line breaks read as spaces")
            << QStringLiteral("Eins\r\nZwei\u2028Drei") << 400 << 1 << 1 << false;
    }
    // Lines stay within their width, break between words unless a word is wider than a line,
    // and end with "…" exactly where the text is cut, at a boundary between letters.
    void elideRule() {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(int, maxLines);
        QFETCH(int, lineCount);
        QFETCH(bool, cut);
        const QFont font = Theme::font(14);
        const QFontMetricsF metrics(font);
        const QStringList lines = maxLines == 1 ? QStringList(Elide::line(text, font, width))
                                                : Elide::lines(text, font, width, maxLines);
        QCOMPARE(lines.size(), lineCount);
        QString flat = text;
        flat.replace(QStringLiteral("\r\n"), QStringLiteral("  ")).replace(QChar::LineSeparator, u' ');
        QString shown;
        for (qsizetype i = 0; i < lines.size(); ++i) {
            QVERIFY2(metrics.horizontalAdvance(lines[i]) <= width, qPrintable(lines[i]));
            const bool last = i + 1 == lines.size();
            QCOMPARE(last && lines[i].endsWith(QChar(0x2026)), cut && last);
            shown += last && cut ? lines[i].chopped(1) : lines[i];
            if (!last) {
                // Between words, or inside a word that alone is wider than the line.
                const qsizetype end = shown.size();
                const bool betweenWords = flat[end - 1].isSpace() || flat[end].isSpace();
                const qsizetype wordStart = flat.lastIndexOf(u' ', end - 1) + 1;
                qsizetype wordEnd = flat.indexOf(u' ', end);
                wordEnd = wordEnd < 0 ? flat.size() : wordEnd;
                QVERIFY2(betweenWords ||
                             metrics.horizontalAdvance(flat.mid(wordStart, wordEnd - wordStart)) > width,
                         qPrintable(lines[i]));
            }
        }
        QVERIFY2(flat.startsWith(shown), qPrintable(shown));
        QCOMPARE(shown.size() < flat.size(), cut);
        QTextBoundaryFinder letters(QTextBoundaryFinder::Grapheme, flat);
        QVERIFY(letters.toNextBoundary() >= 0);
        letters.setPosition(shown.size());
        QVERIFY(letters.isAtBoundary());
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
