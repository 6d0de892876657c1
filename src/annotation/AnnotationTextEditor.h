#pragma once

#include "model/Mark.h"

#include <QDialog>
#include <QSizeF>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The form in which the text of a text box or callout is typed. Saving fits the text into the
// image; when it does not fit, the form says so and stays open with the text kept. Return
// starts a new line, Ctrl+Return saves; Esc and closing the window cancel. Exactly one of the
// callbacks runs, once.
class AnnotationTextEditor : public QDialog {
    Q_OBJECT

public:
    AnnotationTextEditor(const Mark &mark, QSizeF imageSize, std::function<void(const Mark &)> save,
                         std::function<void()> cancel, QWidget *parent = nullptr);

    QPlainTextEdit *textField() const { return m_text; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *cancelButton() const { return m_cancel; }
    QString errorText() const;

    void done(int result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void trySave();

    Mark m_mark;
    QSizeF m_imageSize;
    std::function<void(const Mark &)> m_onSave;
    std::function<void()> m_onCancel;
    bool m_finished = false;
    QPlainTextEdit *m_text;
    QLabel *m_error;
    QPushButton *m_save;
    QPushButton *m_cancel;
};
