#include "shell/ApplicationMain.h"

#include "platform/SingleInstance.h"
#include "shell/AppDelegate.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

QStringList plainArguments(int argc, char **argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

} // namespace

bool installQtTranslations() {
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
    QObject::connect(&instance, &SingleInstance::received, &delegate, &AppDelegate::openArguments);
    // Qt has taken its own options out of the arguments by now.
    const QStringList arguments = QApplication::arguments().mid(1);
    if (!arguments.isEmpty())
        delegate.openArguments(arguments);
    return QApplication::exec();
}
