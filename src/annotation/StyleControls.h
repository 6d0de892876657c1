#pragma once

#include "model/Mark.h"

#include <QList>
#include <QWidget>

class AnnotationSession;
class ColorSwatch;
class QComboBox;
class QLabel;

// Colour, line width and blur strength: of the selected mark when there is one, otherwise of the
// marks drawn next. Which controls show depends on the kind of the selected mark or of the tool.
// Only the user's own choices write; refilling the controls for another selection never does.
class StyleControls : public QWidget {
    Q_OBJECT

public:
    explicit StyleControls(AnnotationSession *session, QWidget *parent = nullptr);
    void refresh();

    QLabel *heading() const { return m_heading; }
    const QList<ColorSwatch *> &swatches() const { return m_swatches; }
    QComboBox *widthPicker() const { return m_width; }
    QComboBox *blurPicker() const { return m_blur; }
    QLabel *redactNote() const { return m_redactNote; }
    QLabel *blurNote() const { return m_blurNote; }

private:
    AnnotationSession *m_session;
    QLabel *m_heading;
    QLabel *m_redactNote;
    QWidget *m_blurRow;
    QComboBox *m_blur;
    QLabel *m_blurNote;
    QWidget *m_colorRow;
    QList<ColorSwatch *> m_swatches;
    QWidget *m_widthRow;
    QComboBox *m_width;
};
