#include "shell/ApplicationMain.h"

#include "platform/SingleInstance.h"
#include "shell/AppDelegate.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <QWindow>

#include <fcntl.h>
#include <unistd.h>

namespace {

QStringList plainArguments(int argc, char **argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// For the launch benchmark: one byte on the descriptor it hands over once the main window's first
// frame is painted, whatever the window shows.
class FirstFrameAnnouncer : public QObject {
public:
    FirstFrameAnnouncer(int descriptor, QObject *parent) : QObject(parent), m_descriptor(descriptor) {
        ::fcntl(m_descriptor, F_SETFD, FD_CLOEXEC); // not for the capture tool
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow *>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            // The widgets paint and flush while this event is handled: the byte goes right after.
            QTimer::singleShot(0, this, [this] {
                [[maybe_unused]] const ssize_t written = ::write(m_descriptor, "1", 1);
                ::close(m_descriptor);
            });
        }
        return false;
    }

private:
    int m_descriptor;
};

void announceFirstFrame(QWidget *window, QObject *parent) {
    bool given = false;
    const int descriptor = qEnvironmentVariableIntValue("VELLUMBOX_FIRST_FRAME_FD", &given);
    qunsetenv("VELLUMBOX_FIRST_FRAME_FD");
    if (given && descriptor > 2 && window->windowHandle())
        window->windowHandle()->installEventFilter(new FirstFrameAnnouncer(descriptor, parent));
}

} // namespace

bool installQtTranslations() {
    // Qt's file dialog names file types in the default locale's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

int applicationMain(int argc, char **argv, const ApplicationOptions &options) {
    // A running instance takes our URL (or shows its window) and we are done, without ever
    // talking to the display.
    const QString socketPath = SingleInstance::defaultSocketPath();
    if (SingleInstance::handOver(socketPath, plainArguments(argc, argv)))
        return 0;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellumbox"));
    QApplication::setOrganizationName(QStringLiteral("Vellumbox"));
    QApplication::setDesktopFileName(QStringLiteral("vellumbox"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/vellumbox.svg")));
    installQtTranslations();

    SingleInstance instance(socketPath);
    if (!instance.listen() && SingleInstance::handOver(socketPath, plainArguments(argc, argv)))
        return 0; // another start won the race to the socket

    AppDelegate::Seams seams;
    seams.capture.toolPath = options.captureTool;
    AppDelegate delegate(std::move(seams));
    delegate.launch();
    announceFirstFrame(delegate.mainWindow(), &delegate);
    QObject::connect(&instance, &SingleInstance::received, &delegate, &AppDelegate::openArguments);
    // Qt has taken its own options out of the arguments by now.
    const QStringList arguments = QApplication::arguments().mid(1);
    if (!arguments.isEmpty())
        delegate.openArguments(arguments);
    return QApplication::exec();
}
