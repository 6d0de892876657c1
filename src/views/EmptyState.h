#pragma once

#include <QWidget>

class FlatButton;
class LibraryState;

// The invitation to the first capture or an import, shown where a collection or the grid has no
// snip yet.
class EmptyState : public QWidget {
    Q_OBJECT

public:
    explicit EmptyState(LibraryState *state, QWidget *parent = nullptr);

    void refresh();

    FlatButton *captureButton() const { return m_capture; }
    FlatButton *importButton() const { return m_import; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    LibraryState *m_state;
    FlatButton *m_capture;
    FlatButton *m_import;
};
