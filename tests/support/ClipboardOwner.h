#pragma once

// Another program holding the X11 clipboard: it offers one type with bytes exactly as given, as a
// browser or an image viewer would, and keeps the clipboard until its standard input closes.
// Tests and benchmarks use it to paste from a foreign owner; both sides run on one X server.

#include <QByteArray>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <unistd.h>

namespace ClipboardOwner {

// The owner's side, for a main of its own: offers each type with the bytes of the file after it
// (TYPE FILE [TYPE FILE …]). Prints "ready" once the clipboard is its own; exits 0 when standard
// input closes, 1 when it cannot take the clipboard.
inline int run(int argc, char **argv, const QStringList &typesAndFiles) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    auto *mime = new QMimeData;
    for (qsizetype i = 0; i + 1 < typesAndFiles.size(); i += 2) {
        QFile source(typesAndFiles[i + 1]);
        if (!source.open(QIODevice::ReadOnly))
            return 1;
        mime->setData(typesAndFiles[i], source.readAll());
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(mime);
    if (!clipboard->ownsClipboard())
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        if (::read(STDIN_FILENO, &byte, 1) <= 0)
            QCoreApplication::quit();
    });
    return QCoreApplication::exec();
}

// The other side: starts the owner program and waits until it holds the clipboard.
inline bool start(QProcess &process, const QString &program, const QStringList &arguments,
                  int patienceMs = 30'000) {
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    if (!process.waitForStarted(patienceMs))
        return false;
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(patienceMs))
            return false;
    }
    return process.readLine().trimmed() == "ready";
}

// Closes the owner's input and waits for it to go.
inline void stop(QProcess &process, int patienceMs = 30'000) {
    process.closeWriteChannel();
    if (!process.waitForFinished(patienceMs))
        process.kill();
    process.waitForFinished(patienceMs);
}

} // namespace ClipboardOwner
