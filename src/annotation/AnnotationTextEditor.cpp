#include "annotation/AnnotationTextEditor.h"

#include "annotation/WorkspaceControls.h"
#include "export/MarkRenderer.h"
#include "look/FieldText.h"
#include "look/Theme.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kDoesNotFit = QStringLiteral(
    "Der Text passt nicht vollständig ins Bild. Bitte kürze ihn oder teile ihn auf mehrere Anmerkungen auf.");

} // namespace

AnnotationTextEditor::AnnotationTextEditor(const Mark &mark, QSizeF imageSize,
                                           std::function<void(const Mark &)> save,
                                           std::function<void()> cancel, QWidget *parent)
    : QDialog(parent), m_mark(mark), m_imageSize(imageSize), m_onSave(std::move(save)),
      m_onCancel(std::move(cancel)) {
    setWindowTitle(QStringLiteral("Anmerkung im Bild"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(460);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    layout->addWidget(editorLabel(QStringLiteral("Anmerkung im Bild"), 17, QFont::DemiBold, false, this));
    layout->addWidget(
        editorLabel(QStringLiteral("Du kannst den Text später erneut bearbeiten und im Bild verschieben."),
                    12, QFont::Normal, true, this));

    m_text = new QPlainTextEdit(mark.text.value_or(QString()), this);
    m_text->setFont(Theme::font(13));
    m_text->setFixedHeight(140);
    m_text->setAccessibleName(QStringLiteral("Text der Bildanmerkung"));
    m_text->setPlaceholderText(
        QStringLiteral("Eingabetaste beginnt eine neue Zeile, Strg+Eingabetaste speichert."));
    m_text->setTabChangesFocus(true);
    m_text->setStyleSheet(
        QStringLiteral("QPlainTextEdit { border: 1px solid %1; }").arg(Theme::hairline().name()));
    m_text->installEventFilter(this);
    layout->addWidget(m_text);

    m_error = editorLabel(QString(), 12, QFont::Normal, false, this);
    setColorIfChanged(m_error, QPalette::WindowText, QColor(Qt::red));
    m_error->hide();
    layout->addWidget(m_error);

    auto *buttons = new QHBoxLayout;
    m_cancel = new QPushButton(QStringLiteral("Abbrechen"), this);
    m_save = new QPushButton(QStringLiteral("Speichern"), this);
    // Return belongs to the text; no button takes it as the default.
    m_cancel->setAutoDefault(false);
    m_save->setAutoDefault(false);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
    buttons->addWidget(m_save);
    layout->addLayout(buttons);

    const auto updateSave = [this] { m_save->setEnabled(!m_text->toPlainText().trimmed().isEmpty()); };
    connect(m_text, &QPlainTextEdit::textChanged, this, updateSave);
    updateSave();
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &AnnotationTextEditor::trySave);
    m_text->setFocus();
    m_text->moveCursor(QTextCursor::End);
}

QString AnnotationTextEditor::errorText() const {
    return m_error->isHidden() ? QString() : m_error->text();
}

bool AnnotationTextEditor::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_text && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            (key->modifiers() & Qt::ControlModifier)) {
            if (m_save->isEnabled())
                trySave();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AnnotationTextEditor::trySave() {
    // As typed: the field's plain text would turn no-break spaces into spaces.
    const QString text = FieldText::typed(m_text->document());
    if (text.trimmed().isEmpty())
        return;
    const std::optional<Mark> fitted = MarkRenderer::fittingText(m_mark, text, m_imageSize);
    if (!fitted) {
        m_error->setText(kDoesNotFit);
        m_error->show();
        return;
    }
    if (m_finished)
        return;
    m_finished = true;
    QDialog::done(Accepted);
    m_onSave(*fitted);
}

void AnnotationTextEditor::done(int result) {
    // Esc, the close button and "Abbrechen" all arrive here; only the first one counts.
    if (m_finished)
        return;
    if (result == Accepted) {
        trySave();
        return;
    }
    m_finished = true;
    QDialog::done(result);
    m_onCancel();
}
