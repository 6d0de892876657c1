#pragma once

#include <QIODevice>
#include <QString>

// A file written durably and atomically: the bytes go to a hidden temporary file beside the
// target, which is synced to the disk, renamed over the target and followed by a sync of the
// folder, so after a crash or power loss the target is either the old file or the whole new one.
// Writes go to the descriptor in blocks of our own, so a failure keeps the system's reason (errno)
// and can be told apart: a full disk is not a missing folder.
//
// Use: open(), write(), commit(). Without commit() the temporary file is removed when the object
// goes; a temporary left by a process that was killed is found by isLeftover().
class DurableFile : public QIODevice {
public:
    explicit DurableFile(QString path);
    ~DurableFile() override;
    DurableFile(const DurableFile &) = delete;
    DurableFile &operator=(const DurableFile &) = delete;

    // Creates the temporary file; only WriteOnly is taken.
    bool open(OpenMode mode = WriteOnly) override;
    // Syncs and puts the file in place; false (with systemError()) when any step failed, in which
    // case the target is untouched.
    bool commit();
    // Gives up: the temporary file is removed and the target is untouched.
    void discard();
    // Closing without commit() gives up as well.
    void close() override { discard(); }

    bool isSequential() const override { return true; }

    QString path() const { return m_path; }
    enum class Step { None, Create, Write, Replace };
    // The step that failed first and its errno (0 when none).
    Step failedStep() const { return m_failedStep; }
    int systemError() const { return m_error; }

    // Whether a file name is one of our temporary files.
    static bool isLeftover(const QString &fileName);
    // Removes our temporary files left in folder (regular files only; nothing else is touched).
    static void removeLeftovers(const QString &folder);

    // For tests only: from now on every write fails with this errno (0: writes work again). A full
    // disk or quota cannot be made without mounting one.
    static void failWritesForTesting(int error);

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    bool writeOut(const char *data, qint64 size);
    bool fail(Step step, int error);

    QString m_path;         // the target, symbolic links resolved
    int m_linkError = 0;    // errno of following the links (ELOOP for a loop), 0 when they end
    QByteArray m_temporary; // encoded name of the temporary file
    QByteArray m_buffer;
    int m_fd = -1;
    int m_error = 0;
    Step m_failedStep = Step::None;
};
