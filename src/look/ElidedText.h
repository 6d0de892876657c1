#pragma once

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>

// The one rule for text that must fit its room: a text limited to a number of lines breaks
// between words (inside a word only where the word alone is wider than the line) and ends with
// "…" where it is cut, never in the middle of a letter; after right-to-left letters the "…" is
// drawn on their left, where they are cut. Each line keeps its own direction (TextDirection).
namespace Elide {

// The text on one line of `width`: as it is when it fits, else its start and "…". Line breaks
// in the text read as spaces.
QString line(const QString &text, const QFont &font, int width);
// The text in at most `maxLines` lines of `width`; the last ends with "…" when text is left.
QStringList lines(const QString &text, const QFont &font, int width, int maxLines);
// All of the text in lines of `width`, broken as above; a line break in the text starts a line.
QStringList wrapped(const QString &text, const QFont &font, int width);

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

// A label that shows all of its text in as many lines as its width needs: a word wider than the
// label, such as a long file name, breaks at the edge instead of being cut there. Where a
// QLabel's own word wrap would cut a word, this one takes its place.
class WrappingLabel : public QLabel {
    Q_OBJECT

public:
    explicit WrappingLabel(QWidget *parent = nullptr);

    // Puts a wrapping label with the same text, font and margins where `label` sits in its
    // parent's grid and hides `label`; null when `label` is not in a grid.
    static WrappingLabel *replace(QLabel *label);

    // The lines the label shows at its current width.
    QStringList shownLines() const;
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A one-line field that shows the start of a long text: while it is not being edited (it has no
// focus, or Return ended the edit) a text wider than the field ends with "…", and a text set from
// outside puts the caret at its start. The next key or click goes on where the caret was.
class ElidingLineEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit ElidingLineEdit(QWidget *parent = nullptr);

    // What the field shows now when it is not being edited; the whole text while it is.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    QRect lineRect() const;
    bool editing() const { return hasFocus() && !m_finished; }

    bool m_typed = false;
    bool m_finished = false;
};
