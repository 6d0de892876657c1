#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The file panels through which the user picks where a project goes and which files come in.
// The store receives one at construction time of the application; tests pass a fake. Answers
// arrive later on the main thread, never from inside the call: the panels do not block.
class FilePanels {
public:
    struct SaveRequest {
        QString title;         // the window title; empty: the desktop's own
        QString suggestedName; // with its suffix
        QString defaultSuffix; // without the dot; appended when the user types none
        QString message;
        QStringList nameFilters; // "*.vellumbox"
    };

    struct OpenRequest {
        QString message;
        QStringList nameFilters;
        bool multipleFiles = false;
    };

    using SaveAnswer = std::function<void(const QString &path)>;      // empty: cancelled
    using OpenAnswer = std::function<void(const QStringList &paths)>; // empty: cancelled

    virtual ~FilePanels() = default;
    virtual void chooseSaveFile(const SaveRequest &request, SaveAnswer answer) = 0;
    virtual void chooseOpenFiles(const OpenRequest &request, OpenAnswer answer) = 0;
};
