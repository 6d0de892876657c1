#include "shell/MessageBoxAlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>

MessageBoxAlertPresenter::MessageBoxAlertPresenter(QWidget *window) : m_window(window) {}

MessageBoxAlertPresenter::~MessageBoxAlertPresenter() {
    for (const QPointer<QMessageBox> &box : std::as_const(m_boxes)) {
        if (box) {
            QObject::disconnect(box, nullptr, nullptr, nullptr);
            delete box;
        }
    }
}

void MessageBoxAlertPresenter::show(const Alert &alert, Answer answer) {
    m_boxes.removeAll(nullptr);
    auto *box = new QMessageBox(m_window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);
    // One role for all, so the box lays them out in the given order on every desktop.
    QList<QAbstractButton *> buttons;
    for (const QString &text : alert.buttons)
        buttons.append(box->addButton(text, QMessageBox::ActionRole));
    if (!buttons.isEmpty())
        box->setDefaultButton(static_cast<QPushButton *>(buttons.first()));
    if (alert.escapeButton >= 0 && alert.escapeButton < buttons.size())
        box->setEscapeButton(buttons[alert.escapeButton]);
    QObject::connect(box, &QDialog::finished, box, [box, buttons, answer = std::move(answer)] {
        answer(int(buttons.indexOf(box->clickedButton())));
    });
    m_boxes.append(box);
    box->open();
}
