#include "shell/ImageImport.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vellumbox"));
    ImageImport::raiseAllocationLimit();
    QLabel window(QStringLiteral("Vellumbox"));
    window.setWindowTitle(QStringLiteral("Vellumbox"));
    window.resize(1380, 920);
    window.show();
    return QApplication::exec();
}
