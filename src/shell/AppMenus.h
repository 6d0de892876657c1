#pragma once

class AppDelegate;
class QMenu;
class QMenuBar;
class QWidget;

// The main menu and the tray item's menu. Built once; items are never changed afterwards.
namespace AppMenus {

// The four menus of the main window. Their shortcuts also work while `alsoFor` (the capture
// panel) has the keyboard.
void buildMainMenu(AppDelegate *delegate, QMenuBar *bar, QWidget *alsoFor);
// The Edit menu's commands, which go to the focused widget or the nearest of its parents that
// answers them (a text field, the mark editor); each item is enabled while one would answer.
void buildEditMenu(QMenu *menu);
// The tray item's menu: the same commands, without shortcuts.
void buildStatusMenu(AppDelegate *delegate, QMenu *menu);

} // namespace AppMenus
