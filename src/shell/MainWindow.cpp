#include "shell/MainWindow.h"

#include "look/Theme.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>

MainWindow::MainWindow(QSettings *settings, std::function<void()> closing)
    : QMainWindow(nullptr), m_settings(settings), m_closing(std::move(closing)) {
    setWindowTitle(QStringLiteral("Vellumbox"));
    setObjectName(QStringLiteral("editor"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Theme::canvas());
    setPalette(palette);
    setAutoFillBackground(true);
    setMinimumSize(kMinimumSize);
    resize(kSize);
}

MainWindow::~MainWindow() = default;

void MainWindow::restoreFrame() {
    const QByteArray saved = m_settings->value(kFrameKey).toByteArray();
    if (saved.isEmpty() || !restoreGeometry(saved))
        resize(kSize);
    m_restored = true;
    // Only the mark editor enters full screen, and the library view has no control that leaves
    // it: a run that ended there starts with the size the window had before.
    if (isFullScreen()) {
        const QRect normal = normalGeometry();
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        if (normal.isValid())
            resize(normal.size());
    }
    if (isMaximized())
        return;
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        // A frame saved on a larger screen still fits on this one.
        resize(size().boundedTo(available.size()).expandedTo(kMinimumSize));
        QRect frame = geometry();
        frame.moveCenter(available.center());
        move(frame.topLeft());
    }
}

void MainWindow::saveFrame() {
    if (m_restored)
        m_settings->setValue(kFrameKey, saveGeometry());
}

void MainWindow::closeEvent(QCloseEvent *event) {
    saveFrame();
    event->accept();
    if (m_closing)
        m_closing();
}

void MainWindow::resizeEvent(QResizeEvent *event) {
    QMainWindow::resizeEvent(event);
    if (isVisible())
        saveFrame();
}
