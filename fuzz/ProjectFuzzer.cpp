// Arbitrary bytes into the project decoder: it either refuses with a sentence or returns a
// collection whose every snip has a new upper-case UUID image name, a PNG and valid marks.
#include "model/AppFailure.h"
#include "store/ProjectFile.h"

#include <QRegularExpression>

#include <cstdint>
#include <cstdlib>

namespace {
// The image decoders report every broken header through Qt's warnings; thousands a second drown
// the fuzzer's own output.
[[maybe_unused]] const bool quiet = [] {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    return true;
}();
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const QRegularExpression newName(
        QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.png$"));
    ProjectFile::Contents contents;
    try {
        contents = ProjectFile::decode(QByteArrayView(data, qsizetype(size)));
    } catch (const AppFailure &failure) {
        if (failure.errorDescription().isEmpty())
            std::abort();
        return 0;
    }
    const QList<Snip> &items = contents.collection.items;
    if (items.size() != contents.images.size())
        std::abort();
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (items[i].imageFile != contents.images[i].fileName ||
            !newName.match(items[i].imageFile).hasMatch() ||
            !contents.images[i].png.startsWith("\x89PNG\r\n\x1a\n"))
            std::abort();
        for (const Mark &mark : items[i].marks) {
            if (!mark.isValid())
                std::abort();
        }
    }
    return 0;
}
