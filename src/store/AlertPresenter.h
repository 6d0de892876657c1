#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// Shows a question with a few buttons and reports the one pressed. The store receives one at
// construction time of the application; tests pass a fake. The answer arrives later on the main
// thread, never from inside the call.
class AlertPresenter {
public:
    struct Alert {
        QString messageText;
        QString informativeText;
        QStringList buttons;   // in this order; the first is the default
        int escapeButton = -1; // the button that Esc presses
    };

    // The index of the button pressed in Alert::buttons; -1 when the alert went away otherwise.
    using Answer = std::function<void(int button)>;

    virtual ~AlertPresenter() = default;
    virtual void show(const Alert &alert, Answer answer) = 0;
};
