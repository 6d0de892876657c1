#pragma once

#include <QString>

#include <exception>

// The error of the library, capture, import and export paths. Its message is one complete German
// sentence and is shown to the user unchanged.
class AppFailure : public std::exception {
public:
    explicit AppFailure(QString message) : m_message(std::move(message)) {}
    static AppFailure message(const QString &text) { return AppFailure(text); }

    const QString &errorDescription() const noexcept { return m_message; }
    const char *what() const noexcept override { return "AppFailure"; }

private:
    QString m_message;
};
