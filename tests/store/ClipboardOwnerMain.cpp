// clipboard_owner TYPE FILE [TYPE FILE …]: holds the X11 clipboard with these bytes until its
// standard input closes.
#include "support/ClipboardOwner.h"

int main(int argc, char **argv) {
    QStringList typesAndFiles;
    for (int i = 1; i < argc; ++i)
        typesAndFiles.append(QString::fromLocal8Bit(argv[i]));
    if (typesAndFiles.isEmpty() || typesAndFiles.size() % 2 != 0)
        return 2;
    return ClipboardOwner::run(argc, argv, typesAndFiles);
}
