#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The desktop's opener replaced for the life of this object: an xdg-open first on PATH that notes
// what it was asked to open and ends with `exitCode`, as the real one ends with 3 when it finds no
// program for the address and with 4 when the program failed, or as the browser it ran in the
// foreground ends. `kCrash` ends it by a signal, as a crashing browser ends.
class FakeXdgOpen {
public:
    static constexpr int kCrash = -1;

    explicit FakeXdgOpen(int exitCode) : m_path(qgetenv("PATH")) {
        QFile script(m_dir.filePath(QStringLiteral("xdg-open")));
        if (!script.open(QIODevice::WriteOnly))
            return;
        QByteArray text = QByteArrayLiteral("#!/bin/sh\n"
                                            "ulimit -c 0\n"
                                            "dir=$(dirname \"$0\")\n"
                                            "printf '%s' \"$1\" > \"$dir/asked.part\"\n"
                                            "mv \"$dir/asked.part\" \"$dir/asked\"\n");
        if (exitCode == kCrash)
            text += "kill -s SEGV $$\n";
        else
            text += "exit " + QByteArray::number(exitCode) + '\n';
        script.write(text);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(m_dir.path()) + ':' + m_path);
    }
    ~FakeXdgOpen() { qputenv("PATH", m_path); }
    FakeXdgOpen(const FakeXdgOpen &) = delete;
    FakeXdgOpen &operator=(const FakeXdgOpen &) = delete;

    // What it was asked to open; empty until it has run.
    QString asked() const {
        QFile file(m_dir.filePath(QStringLiteral("asked")));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    // Waits until it has run and the program has taken its answer.
    bool waitUntilAnswered() const {
        return QTest::qWaitFor(
            [this] {
                return !asked().isEmpty() &&
                       QCoreApplication::instance()->findChildren<QProcess *>().isEmpty();
            },
            30'000);
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
};
