#pragma once

#include <QString>

// The program: hands its arguments to a running Vellumbox and ends, or launches and runs the
// event loop until the user quits. Returns the process's exit status.
struct ApplicationOptions {
    QString captureTool; // empty: vellumbox-screencapture beside the executable
};

int applicationMain(int argc, char **argv, const ApplicationOptions &options = {});
