#pragma once

#include "model/Snip.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <functional>
#include <memory>

class CollectionStore;
class ForegroundWindow;
class QProcess;
class QTemporaryDir;
class ScreenCapturePermission;

// Takes one screenshot at a time with vellumbox-screencapture: checks the permission, asks the
// store where the capture goes, hides our windows, gives the previous program the focus back,
// runs the tool into a temporary PNG and hands the bytes to the store. It talks to the user only
// through the store's isCapturing, needsScreenCapturePermission, status and error.
class CaptureController : public QObject {
    Q_OBJECT
public:
    static constexpr int kStartDelayMs = 250;
    static const QString permissionText;

    // What tests replace; defaults are the desktop's.
    struct Seams {
        QString toolPath; // empty: vellumbox-screencapture beside the executable
        std::shared_ptr<ScreenCapturePermission> permission;
        std::shared_ptr<ForegroundWindow> foreground;
        std::function<bool()> hasModalWindow; // none: OpenDialogs::any
        QString temporaryBase;                // empty: $XDG_RUNTIME_DIR when set, else the temporary folder
    };

    CaptureController(CollectionStore *store, std::function<void()> hide, std::function<void()> finished,
                      Seams seams = {}, QObject *parent = nullptr);
    ~CaptureController() override;

    // Begins one interactive capture; returns at once, the capture completes later.
    void start();
    // Abandons the capture in progress, if any, without a text of its own (the status from before
    // the capture comes back) and without finished(). Safe at any moment. An image the store is
    // taking in already is kept: the capture counts as running (isCapturing) until it has landed,
    // so what refuses during a capture goes on refusing.
    void cancel();

    // The folder of the temporary files; empty until the first capture needs it.
    QString temporaryFolder() const;

private:
    void capture(const CaptureTarget &target, const QUuid &id);
    void toolEnded(QProcess *process, const QUuid &id, const QString &path, const CaptureTarget &target,
                   int exitStatus);
    void launchFailed(QProcess *process, const QUuid &id, const QString &path, const QString &reason);
    void endCapture();
    // Ends a cancelled capture, without finished().
    void endCancelled();
    QString newOutputPath(QString *failure);

    QPointer<CollectionStore> m_store;
    std::function<void()> m_hide;
    std::function<void()> m_finished;
    Seams m_seams;
    // The running tool; null once it has ended and been handed to deleteLater().
    QPointer<QProcess> m_process;
    QUuid m_captureID;      // null when no capture is in progress
    bool m_storing = false; // the store is taking a captured image in
    QString m_statusBefore; // the store's status when the capture began
    std::unique_ptr<QTemporaryDir> m_folder;
};
