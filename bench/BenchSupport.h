#pragma once

#include "Patience.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

// Runs the event loop until `done()` holds.
template <typename Done> void processEventsUntil(Done done, const char *what) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.hasExpired(kBenchPatienceMs))
            giveUp(what);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// Runs `loop` until something quits it.
inline void execBounded(QEventLoop &loop, const char *what) {
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [what] { giveUp(what); });
    limit.start(kBenchPatienceMs);
    loop.exec();
}

// Waits for `process` to end; a process that outlives the bound is killed and counts as failed.
inline bool finishBounded(QProcess &process) {
    if (process.waitForFinished(kBenchPatienceMs))
        return process.exitStatus() == QProcess::NormalExit;
    std::fprintf(stderr, "%s still ran after %d s\n", qPrintable(process.program()), kBenchPatienceMs / 1000);
    process.kill();
    process.waitForFinished(5000);
    return false;
}

// A memory figure of /proc/PID/status in MB ("VmRSS:" now, "VmHWM:" the peak), or −1. The peak is
// read there rather than from getrusage, which would also count a parent's peak across exec.
inline double statusMegabytes(const char *key, const QString &pid = QStringLiteral("self")) {
    QFile status(QStringLiteral("/proc/") + pid + QStringLiteral("/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Runs a program and returns its wall time in milliseconds, or −1 when it failed.
inline double timeProgram(const QString &program, const QStringList &arguments) {
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    process.start(program, arguments);
    if (!finishBounded(process) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return -1;
    }
    return timer.nsecsElapsed() / 1e6;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A screenshot-like picture: window chrome, flat panels, lines of text and a photo-like area.
inline QImage screenshotImage(int width, int height, quint32 seed) {
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(246, 247, 249));
    QPainter p(&image);
    p.fillRect(0, 0, width, height / 20, QColor(52, 56, 64));
    p.fillRect(0, height / 20, width / 6, height, QColor(232, 235, 240));
    QFont font(QStringLiteral("Inter"));
    font.setPixelSize(std::max(12, height / 70));
    p.setFont(font);
    p.setPen(QColor(30, 32, 36));
    const QString words =
        QStringLiteral("Rechnung Übersicht Einstellungen Konto Exportieren Sammlung Ausschnitt Notiz ");
    for (int y = height / 10; y < height * 3 / 5; y += font.pixelSize() * 2)
        p.drawText(width / 5, y, words.repeated(1 + int(random.bounded(3))));
    for (int i = 0; i < 6; ++i)
        p.fillRect(width / 5 + i * width / 8, height * 3 / 5, width / 10, height / 30,
                   QColor::fromHsv(int(random.bounded(360)), 160, 220));
    // A "photo": smooth gradients with noise.
    const QRect photo(width / 2, height * 2 / 3, width / 3, height / 4);
    for (int y = photo.top(); y <= photo.bottom(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = photo.left(); x <= photo.right(); ++x) {
            const int n = int(random.bounded(24));
            line[x] = qRgb(std::min(255, (x * 255 / width) + n), std::min(255, (y * 255 / height) + n),
                           std::min(255, 120 + n));
        }
    }
    return image;
}
