// recognize_and_quit IMAGE: recognises one image file with the mark editor's recognition model, the
// way the editor starts a run, and quits as soon as the run has ended, the way the program does. It
// prints the failure text, or the number of lines found; the exit status is 0 once the run ended.

#include "annotation/TextRecognitionModel.h"
#include "platform/TextRecognizer.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <memory>

namespace {

// Finds nothing: what matters here is the run around it.
class BlankRecognizer final : public TextRecognizer {
public:
    QList<Line> recognize(const QImage &, const Cancelled &) override { return {}; }
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication application(argc, argv);
    if (argc != 2)
        return 2;
    int status = 1;
    // The model goes with the editor before the application ends, as in the program.
    auto model = std::make_unique<TextRecognitionModel>([] { return std::make_unique<BlankRecognizer>(); });
    // Queued: the outcome is read once the model has taken all of it in.
    QObject::connect(
        model.get(), &TextRecognitionModel::didRunChanged, &application,
        [&] {
            if (!model->didRun())
                return;
            const QString outcome =
                model->error().isEmpty() ? QString::number(model->lines().size()) : model->error();
            std::fputs(outcome.toUtf8().constData(), stdout);
            std::fflush(stdout);
            status = 0;
            application.quit();
        },
        Qt::QueuedConnection);
    model->recognize(QFile::decodeName(argv[1]), {});
    application.exec();
    model.reset();
    return status;
}
