#pragma once

#include <QWidget>

class FlatButton;
class LibraryState;
class QLabel;
class SymbolLabel;

// The strip under the toolbar while a capture round runs or is paused: where new captures go and
// the round's controls.
class SessionBar : public QWidget {
    Q_OBJECT

public:
    explicit SessionBar(LibraryState *state, QWidget *parent = nullptr);

    // Shows or hides the bar as the round stands.
    void refresh();

    QLabel *headline() const { return m_headline; }
    QLabel *detail() const { return m_detail; }
    FlatButton *panelButton() const { return m_panel; }
    FlatButton *pauseButton() const { return m_pause; }
    FlatButton *finishButton() const { return m_finish; }
    QString symbol() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryState *m_state;
    SymbolLabel *m_symbol;
    QLabel *m_headline;
    QLabel *m_detail;
    FlatButton *m_panel;
    FlatButton *m_pause;
    FlatButton *m_finish;
};
