#pragma once

#include <QMainWindow>
#include <QSize>

#include <functional>

class QSettings;

// The main window. Its size is kept across runs; at launch it is centred on the screen.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    static constexpr QSize kSize{1380, 920};
    static constexpr QSize kMinimumSize{930, 620};
    static inline const QString kFrameKey = QStringLiteral("VellumboxEditor");

    // `closing` runs when the user closes the window; closing only hides it.
    MainWindow(QSettings *settings, std::function<void()> closing);
    ~MainWindow() override;

    // The saved frame, else the default size, then centred on the primary screen.
    void restoreFrame();
    void saveFrame();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QSettings *m_settings;
    std::function<void()> m_closing;
    bool m_restored = false;
};
