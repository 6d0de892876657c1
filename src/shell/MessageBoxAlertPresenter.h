#pragma once

#include "store/AlertPresenter.h"

#include <QList>
#include <QPointer>

class QMessageBox;
class QWidget;

// The store's alerts as Qt message boxes, opened window-modal with open() so no event loop
// nests. The buttons keep their order; Esc presses the alert's escape button.
class MessageBoxAlertPresenter final : public AlertPresenter {
public:
    explicit MessageBoxAlertPresenter(QWidget *window = nullptr);
    ~MessageBoxAlertPresenter() override;

    void show(const Alert &alert, Answer answer) override;

private:
    QPointer<QWidget> m_window;
    QList<QPointer<QMessageBox>> m_boxes;
};
