#pragma once

#include <QString>

#include <exception>

// The error of the backup and share paths. Its message is one complete German sentence and is
// shown to the user unchanged.
class BackupFailure : public std::exception {
public:
    explicit BackupFailure(QString message) : m_message(std::move(message)) {}
    static BackupFailure message(const QString &text) { return BackupFailure(text); }

    const QString &errorDescription() const noexcept { return m_message; }
    const char *what() const noexcept override { return "BackupFailure"; }

private:
    QString m_message;
};
