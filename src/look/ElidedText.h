#pragma once

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>

// The one rule for text that must fit its room: a text limited to a number of lines breaks
// between words (inside a word only where the word alone is wider than the line) and ends with
// "…" where it is cut, never in the middle of a letter.
namespace Elide {

// The text on one line of `width`: as it is when it fits, else its start and "…". Line breaks
// in the text read as spaces.
QString line(const QString &text, const QFont &font, int width);
// The text in at most `maxLines` lines of `width`; the last ends with "…" when text is left.
QStringList lines(const QString &text, const QFont &font, int width, int maxLines);

} // namespace Elide

// A one-line label that ends with "…" where its room ends. text() stays the whole text, so a
// screen reader still reads all of it.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    // What the label shows at its current width.
    QString shownText() const;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A one-line field that shows the start of a long text: while it has no focus a text wider than
// the field ends with "…", and a text set from outside puts the caret at its start.
class ElidingLineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit ElidingLineEdit(QWidget *parent = nullptr);

    // What the field shows now when it is not being edited; the whole text while it is.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QRect lineRect() const;

    bool m_typed = false;
};
