#include "shell/CaptureController.h"

#include "imaging/ImageImport.h"
#include "imaging/RegularFile.h"
#include "platform/ForegroundWindow.h"
#include "platform/ScreenCapturePermission.h"
#include "shell/OpenDialogs.h"
#include "store/CollectionStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

namespace {

const QString kSelectRegion = QStringLiteral("Bereich ziehen · Esc zum Abbrechen");
const QString kNothingCaptured = QStringLiteral("Keine Aufnahme · bereit für den nächsten Ausschnitt");
const QString kCaptureFailed = QStringLiteral("Aufnahme fehlgeschlagen · bitte erneut versuchen");
const QString kCannotStart = QStringLiteral("Aufnahme konnte nicht gestartet werden: ");
const QString kToolMissing =
    QStringLiteral("Das Aufnahmeprogramm vellumbox-screencapture fehlt oder lässt sich nicht ausführen.");
const QString kNoTemporaryFolder =
    QStringLiteral("Der Ordner für die Bildschirmaufnahme konnte nicht angelegt werden.");
const QString kUnreadable = QStringLiteral("Die Bildschirmaufnahme konnte nicht gelesen werden.");

// Exit statuses of vellumbox-screencapture beyond 0 (done) and 1 (nothing selected).
constexpr int kToolRefused = 3; // the desktop's portal refused the screenshot
constexpr int kToolCrashed = -1;

// The tool writes into our private folder, yet whatever it left there is read as an adversary's
// file: a regular file only, opened without waiting on a pipe, and no larger than any image may
// be. A file that cannot be read, empty or not regular, is reported as unreadable.
QByteArray readCapture(const QString &path) {
    const auto unreadable = [](auto &&step) {
        try {
            return step();
        } catch (const AppFailure &) {
            throw AppFailure(kUnreadable);
        }
    };
    auto file = unreadable([&] { return std::make_unique<RegularFile>(path); });
    if (file->size() < 1)
        throw AppFailure(kUnreadable);
    ImageImport::validateSourceSize(file->size());
    QByteArray bytes(file->size(), Qt::Uninitialized);
    bytes.truncate(unreadable([&] { return file->readInto(bytes.data(), bytes.size()); }));
    return bytes;
}

} // namespace

const QString CaptureController::permissionText = QStringLiteral(
    "Der Desktop gibt Vellumbox noch keinen Zugriff auf die Bildschirmaufnahme. Erlaube Vellumbox "
    "Bildschirmfotos in den Einstellungen deines Desktops und starte Vellumbox danach neu.");

CaptureController::CaptureController(CollectionStore *store, std::function<void()> hide,
                                     std::function<void()> finished, Seams seams, QObject *parent)
    : QObject(parent), m_store(store), m_hide(std::move(hide)), m_finished(std::move(finished)),
      m_seams(std::move(seams)) {
    if (m_seams.toolPath.isEmpty())
        m_seams.toolPath =
            QCoreApplication::applicationDirPath() + QStringLiteral("/vellumbox-screencapture");
    if (!m_seams.permission)
        m_seams.permission = ScreenCapturePermission::createForDesktop();
    if (!m_seams.foreground)
        m_seams.foreground = ForegroundWindow::createForDesktop();
    if (!m_seams.hasModalWindow)
        m_seams.hasModalWindow = OpenDialogs::any;
    if (m_seams.temporaryBase.isEmpty()) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        m_seams.temporaryBase = !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : QDir::tempPath();
    }
}

CaptureController::~CaptureController() {
    // A tool left running would hold keyboard and pointer after we are gone, and its file would
    // land in a folder that no longer exists: end it before the folder goes.
    for (QProcess *process : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
        process->disconnect(this);
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(2000))
                process->kill();
            process->waitForFinished(2000);
        }
        delete process;
    }
}

QString CaptureController::temporaryFolder() const {
    return m_folder ? m_folder->path() : QString();
}

void CaptureController::start() {
    if (!m_store || m_storing || m_store->isBusy() || m_seams.hasModalWindow())
        return;
    if (!m_seams.permission->preflight() && !m_seams.permission->request()) {
        m_store->setNeedsScreenCapturePermission(true);
        m_store->setError(permissionText);
        m_finished();
        return;
    }
    m_store->setNeedsScreenCapturePermission(false);
    m_store->setIsCapturing(true);
    const QUuid id = QUuid::createUuid();
    m_captureID = id;
    const CaptureTarget target = m_store->captureTarget();
    m_statusBefore = m_store->status();
    m_store->setStatus(kSelectRegion);
    m_hide();
    m_seams.foreground->reactivatePrevious();
    QTimer::singleShot(kStartDelayMs, this, [this, id, target] {
        if (m_captureID == id)
            capture(target, id);
    });
}

void CaptureController::cancel() {
    m_captureID = QUuid();
    if (m_process && m_process->state() != QProcess::NotRunning)
        m_process->terminate();
    m_process = nullptr;
    // The image being stored ends the capture when it lands.
    if (m_store && !m_storing)
        endCancelled();
}

QString CaptureController::newOutputPath(QString *failure) {
    if (!m_folder || !m_folder->isValid() || !QFileInfo(m_folder->path()).isDir()) {
        // mkdtemp: mode 0700 and a name nobody could have prepared for us.
        m_folder = std::make_unique<QTemporaryDir>(m_seams.temporaryBase +
                                                   QStringLiteral("/vellumbox-capture-XXXXXX"));
        if (!m_folder->isValid()) {
            m_folder.reset();
            *failure = kNoTemporaryFolder;
            return {};
        }
    }
    const QString name =
        QStringLiteral("vellumbox-%1.png").arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    return m_folder->filePath(name);
}

void CaptureController::capture(const CaptureTarget &target, const QUuid &id) {
    QString failure;
    const QString path = newOutputPath(&failure);
    if (path.isEmpty()) {
        launchFailed(nullptr, id, path, failure);
        return;
    }
    auto *process = new QProcess(this);
    process->setProgram(m_seams.toolPath);
    process->setArguments(
        {QStringLiteral("-i"), QStringLiteral("-x"), QStringLiteral("-t"), QStringLiteral("png"), path});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this,
            [this, process, id, path, target](int exitCode, QProcess::ExitStatus status) {
                toolEnded(process, id, path, target,
                          status == QProcess::NormalExit ? exitCode : kToolCrashed);
            });
    connect(process, &QProcess::errorOccurred, this, [this, process, id, path](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            launchFailed(process, id, path, kToolMissing);
    });
    m_process = process;
    process->start();
}

void CaptureController::launchFailed(QProcess *process, const QUuid &id, const QString &path,
                                     const QString &reason) {
    if (process) {
        process->deleteLater();
        if (m_process == process)
            m_process = nullptr;
    }
    if (!path.isEmpty())
        QFile::remove(path);
    if (m_captureID != id || m_captureID.isNull())
        return;
    m_process = nullptr;
    m_captureID = QUuid();
    if (m_store) {
        m_store->setIsCapturing(false);
        m_store->setError(kCannotStart + reason);
    }
    m_finished();
}

void CaptureController::toolEnded(QProcess *process, const QUuid &id, const QString &path,
                                  const CaptureTarget &target, int exitStatus) {
    process->deleteLater();
    if (m_process == process)
        m_process = nullptr;
    // A cancelled or superseded capture only tidies up after itself.
    if (m_captureID != id || m_captureID.isNull() || !m_store) {
        QFile::remove(path);
        return;
    }
    if (!QFileInfo::exists(path)) {
        if (exitStatus == kToolRefused) {
            m_store->setNeedsScreenCapturePermission(true);
            m_store->setError(permissionText);
            m_store->setStatus(kNothingCaptured);
        } else {
            m_store->setStatus(exitStatus == 0 || exitStatus == 1 ? kNothingCaptured : kCaptureFailed);
        }
    } else {
        try {
            const QByteArray bytes = readCapture(path);
            QFile::remove(path);
            // The capture ends once the store has kept or refused the image, also when it was
            // cancelled meanwhile: the user took the picture, and the store keeps it.
            m_storing = true;
            m_store->addCapture(bytes, target, this, [this, id](const QString &failure) {
                m_storing = false;
                if (!failure.isEmpty() && m_store)
                    m_store->setError(failure);
                if (m_captureID == id)
                    endCapture();
                else if (m_store)
                    endCancelled();
            });
            return;
        } catch (const AppFailure &failure) {
            m_store->setError(failure.errorDescription());
        } catch (const std::exception &) {
            m_store->setError(kUnreadable);
        }
    }
    QFile::remove(path);
    endCapture();
}

void CaptureController::endCancelled() {
    // Nobody chooses a region any more, and a pause without a round has no text of its own, so the
    // one the user left comes back.
    if (m_store->status() == kSelectRegion)
        m_store->setStatus(m_statusBefore);
    m_store->setIsCapturing(false);
}

void CaptureController::endCapture() {
    m_process = nullptr;
    m_captureID = QUuid();
    if (m_store)
        m_store->setIsCapturing(false);
    m_finished();
}
