#include "views/WindowAlerts.h"

#include "look/ElidedText.h"
#include "look/Theme.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace {

class QueuedStorePresenter final : public AlertPresenter {
public:
    explicit QueuedStorePresenter(WindowAlerts *alerts) : m_alerts(alerts) {}

    void show(const Alert &alert, Answer answer) override {
        if (!m_alerts) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [answer = std::move(answer)] { answer(-1); },
                Qt::QueuedConnection);
            return;
        }
        WindowAlerts::Request request;
        request.title = alert.messageText;
        request.message = alert.informativeText;
        request.buttons = alert.buttons;
        request.escapeButton = alert.escapeButton;
        request.answer = std::move(answer);
        m_alerts->present(std::move(request));
    }

private:
    QPointer<WindowAlerts> m_alerts;
};

} // namespace

WindowAlerts::WindowAlerts(QWidget *window) : QObject(window), m_window(window) {}

WindowAlerts::~WindowAlerts() {
    // Going with the window: nobody is left to act on an answer.
    if (m_box) {
        QObject::disconnect(m_box, nullptr, this, nullptr);
        delete m_box;
    }
}

void WindowAlerts::present(Request request) {
    if (!request.tag.isEmpty() && hasPending(request.tag))
        return;
    m_queue.append(std::move(request));
    // Never answer from inside the call, and let the caller finish its own change first.
    if (!m_pumpQueued) {
        m_pumpQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_pumpQueued = false;
                pump();
            },
            Qt::QueuedConnection);
    }
}

QMessageBox *WindowAlerts::openBox() const {
    return m_box;
}

bool WindowAlerts::hasPending(const QString &tag) const {
    if (m_box && m_shown.tag == tag)
        return true;
    return std::any_of(m_queue.cbegin(), m_queue.cend(), [&](const Request &r) { return r.tag == tag; });
}

void WindowAlerts::pump() {
    while (!m_box && !m_queue.isEmpty() && m_window && m_window->isVisible()) {
        Request request = m_queue.takeFirst();
        if (request.prepare && !request.prepare(request))
            continue;
        auto *box = new QMessageBox(m_window);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowTitle(request.title);
        box->setIcon(QMessageBox::NoIcon);
        box->setText(request.title);
        box->setInformativeText(request.message);
        // Titles and error texts may hold "<": never read them as markup.
        if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            label->setTextFormat(Qt::PlainText);
            label->setFont(Theme::font(14, QFont::DemiBold));
        }
        if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
            label->setTextFormat(Qt::PlainText);
            label->setFont(Theme::font(13));
            label->setMinimumWidth(340);
            // Qt's label would cut a quoted title or file name wider than the box at its edge.
            WrappingLabel::replace(label);
        }
        // One role for all keeps the order given on every desktop.
        QList<QAbstractButton *> buttons;
        for (qsizetype i = 0; i < request.buttons.size(); ++i) {
            QPushButton *button = box->addButton(request.buttons[i], QMessageBox::ActionRole);
            if (i == request.destructiveButton) {
                // Red only while usable: disabled it keeps the palette's disabled text.
                QPalette palette = button->palette();
                for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
                    palette.setColor(group, QPalette::ButtonText, QColor(0xD7, 0x26, 0x1E));
                button->setPalette(palette);
            }
            buttons.append(button);
        }
        if (request.defaultButton >= 0 && request.defaultButton < buttons.size())
            box->setDefaultButton(static_cast<QPushButton *>(buttons[request.defaultButton]));
        if (request.escapeButton >= 0 && request.escapeButton < buttons.size())
            box->setEscapeButton(buttons[request.escapeButton]);
        connect(box, &QDialog::finished, this,
                [this, box, buttons] { finish(int(buttons.indexOf(box->clickedButton()))); });
        m_shown = std::move(request);
        m_box = box;
        box->open();
    }
}

void WindowAlerts::finish(int button) {
    Request shown = std::move(m_shown);
    m_shown = Request();
    m_box = nullptr;
    if (shown.answer)
        shown.answer(button);
    pump();
}

std::unique_ptr<AlertPresenter> WindowAlerts::storePresenter() {
    return std::make_unique<QueuedStorePresenter>(this);
}
