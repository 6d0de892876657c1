#pragma once

#include <QWidget>

class FlatButton;
class LibraryState;
class QLabel;

// The status line at the bottom: save state or the last notice, restoring a deleted collection,
// and the exported file or the capture shortcut.
class Footer : public QWidget {
    Q_OBJECT

public:
    explicit Footer(LibraryState *state, QWidget *parent = nullptr);

    void refresh();

    bool savedDot() const { return m_saved; }
    QLabel *statusLabel() const { return m_status; }
    FlatButton *restoreButton() const { return m_restore; }
    FlatButton *revealButton() const { return m_reveal; }
    QLabel *shortcutLabel() const { return m_shortcut; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryState *m_state;
    bool m_saved = true;
    QWidget *m_dot;
    QLabel *m_status;
    FlatButton *m_restore;
    FlatButton *m_reveal;
    QLabel *m_shortcut;
};
