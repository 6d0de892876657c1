#include "shell/AppMenus.h"

#include "shell/AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

namespace {

const QString kCaptureTitle = QStringLiteral("Ausschnitt aufnehmen   Strg+Umschalt+Leertaste");

struct Item {
    QString title; // empty: a separator
    QKeySequence key;
    void (AppDelegate::*action)() = nullptr;
};

struct Menu {
    QString title;
    QList<Item> items;
};

const QList<Menu> &mainMenus() {
    static const QList<Menu> menus{
        {QStringLiteral("Vellumbox"),
         {{QStringLiteral("Account …"), QKeySequence(Qt::CTRL | Qt::Key_Comma), &AppDelegate::openAccount},
          {},
          {QStringLiteral("Vellumbox beenden"), QKeySequence(Qt::CTRL | Qt::Key_Q), &AppDelegate::quit}}},
        {QStringLiteral("Ablage"),
         {{QStringLiteral("Neue Sammlung"), QKeySequence(Qt::CTRL | Qt::Key_N), &AppDelegate::newCollection},
          {QStringLiteral("Projekt öffnen …"), QKeySequence(Qt::CTRL | Qt::Key_O), &AppDelegate::openProject},
          {QStringLiteral("Projekt sichern unter …"), QKeySequence(Qt::CTRL | Qt::Key_S),
           &AppDelegate::saveProject},
          {},
          {kCaptureTitle, {}, &AppDelegate::startCapture},
          {QStringLiteral("Sammeln beenden"), {}, &AppDelegate::finishCollecting},
          {QStringLiteral("Sammeln pausieren"), {}, &AppDelegate::pauseCollecting},
          {QStringLiteral("Bilder importieren …"), QKeySequence(Qt::CTRL | Qt::Key_I),
           &AppDelegate::importImages},
          {QStringLiteral("Bild aus Zwischenablage"), {}, &AppDelegate::pasteImage},
          {},
          {QStringLiteral("Als PDF exportieren …"), {}, &AppDelegate::exportPDF},
          {QStringLiteral("Als Word exportieren …"), {}, &AppDelegate::exportDOCX}}},
        {QStringLiteral("Fenster"),
         {{QStringLiteral("Sammlung bearbeiten"), QKeySequence(Qt::CTRL | Qt::Key_1),
           &AppDelegate::openEditor},
          {QStringLiteral("Sammelleiste anzeigen"), QKeySequence(Qt::CTRL | Qt::Key_2),
           &AppDelegate::showPanel}}},
    };
    return menus;
}

// The edit commands go to whatever has the keyboard, the way a text field's own keys would.
struct EditItem {
    QString title;
    QKeySequence key;
    const char *slot;
};

const EditItem kEditItems[] = {
    {QStringLiteral("Rückgängig"), QKeySequence(Qt::CTRL | Qt::Key_Z), "undo"},
    {QStringLiteral("Ausschneiden"), QKeySequence(Qt::CTRL | Qt::Key_X), "cut"},
    {QStringLiteral("Kopieren"), QKeySequence(Qt::CTRL | Qt::Key_C), "copy"},
    {QStringLiteral("Einfügen"), QKeySequence(Qt::CTRL | Qt::Key_V), "paste"},
    {QStringLiteral("Alles auswählen"), QKeySequence(Qt::CTRL | Qt::Key_A), "selectAll"},
};

// The focused widget or the nearest of its parents in its window that has the slot: a text field
// answers for itself, a page (the mark editor) for every control on it. A dialog's controls never
// reach the page behind the dialog.
QWidget *answering(const char *slot) {
    const QByteArray signature = QByteArray(slot).append("()");
    for (QWidget *target = QApplication::focusWidget(); target;
         target = target->isWindow() ? nullptr : target->parentWidget()) {
        if (target->metaObject()->indexOfMethod(signature.constData()) >= 0)
            return target;
    }
    return nullptr;
}

void sendToFocus(const char *slot) {
    if (QWidget *target = answering(slot))
        QMetaObject::invokeMethod(target, slot);
}

QAction *addItem(QMenu *menu, AppDelegate *delegate, const Item &item, bool withKey) {
    if (item.title.isEmpty())
        return menu->addSeparator();
    QAction *action = menu->addAction(item.title);
    if (withKey)
        action->setShortcut(item.key);
    QPointer<AppDelegate> guard(delegate);
    QObject::connect(action, &QAction::triggered, delegate, [guard, run = item.action] {
        if (guard)
            (guard.data()->*run)();
    });
    return action;
}

} // namespace

namespace AppMenus {

void buildMainMenu(AppDelegate *delegate, QMenuBar *bar, QWidget *alsoFor) {
    const QList<Menu> &menus = mainMenus();
    for (qsizetype i = 0; i < menus.size(); ++i) {
        // The edit menu stands third, between the file and the window menu.
        if (i == 2)
            buildEditMenu(bar->addMenu(QStringLiteral("Bearbeiten")));
        QMenu *menu = bar->addMenu(menus[i].title);
        for (const Item &item : menus[i].items) {
            QAction *action = addItem(menu, delegate, item, true);
            if (alsoFor && !item.key.isEmpty())
                alsoFor->addAction(action);
        }
    }
}

void buildEditMenu(QMenu *menu) {
    QList<QPair<QAction *, const char *>> items;
    for (const EditItem &item : kEditItems) {
        QAction *action = menu->addAction(item.title);
        action->setShortcut(item.key);
        QObject::connect(action, &QAction::triggered, menu, [slot = item.slot] { sendToFocus(slot); });
        items.append({action, item.slot});
    }
    // An item is enabled exactly while something would answer it; a disabled item also leaves its
    // keys to the focused widget.
    const auto follow = [items] {
        for (const auto &[action, slot] : items)
            action->setEnabled(answering(slot) != nullptr);
    };
    QObject::connect(qApp, &QApplication::focusChanged, menu, follow);
    QObject::connect(menu, &QMenu::aboutToShow, menu, follow);
    follow();
}

void buildStatusMenu(AppDelegate *delegate, QMenu *menu) {
    const QList<Item> items{
        {kCaptureTitle, {}, &AppDelegate::startCapture},
        {QStringLiteral("Sammlung bearbeiten"), {}, &AppDelegate::openEditor},
        {QStringLiteral("Sammelleiste anzeigen"), {}, &AppDelegate::showPanel},
        {QStringLiteral("Sammeln beenden"), {}, &AppDelegate::finishCollecting},
        {QStringLiteral("Sammeln pausieren"), {}, &AppDelegate::pauseCollecting},
        {QStringLiteral("Neue Sammlung"), {}, &AppDelegate::newCollection},
        {},
        {QStringLiteral("Beenden"), {}, &AppDelegate::quit},
    };
    for (const Item &item : items)
        addItem(menu, delegate, item, false);
}

} // namespace AppMenus
