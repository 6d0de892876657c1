#pragma once

#include <QString>

// The program: hands its arguments to a running Vellumbox and ends, or launches and runs the
// event loop until the user quits. Returns the process's exit status.
struct ApplicationOptions {
    QString captureTool; // empty: vellumbox-screencapture beside the executable
};

int applicationMain(int argc, char **argv, const ApplicationOptions &options = {});

// Loads Qt's German texts (file dialogs, the text fields' menus, standard buttons) and makes
// German the default locale whatever the user's locale, since every text of ours is German. False
// when the translation is not installed.
bool installQtTranslations();
