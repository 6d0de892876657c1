#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <functional>

// The floating capture panel: a parentless tool window above the others and on every desktop,
// shown beside the program the user captures from without taking its keyboard focus. Its text
// fields still take input once the user clicks into them.
class CapturePanel : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize kContentSize{390, 560};
    static constexpr QSize kMinimumSize{320, 420};
    // The frame's lower edge lies this far below the top of the usable screen area.
    static constexpr int kBottomFromTop = 590;

    // `closing` runs when the user closes the panel (not when it is merely hidden).
    explicit CapturePanel(std::function<void()> closing);
    ~CapturePanel() override;

    // The frame's top-left corner for a frame of the given size: its right edge on the usable
    // area's right edge, its lower edge kBottomFromTop below the area's top, all within the area.
    static QPoint initialFramePosition(const QRect &available, const QSize &frameSize);
    // Places the panel at its initial position on the primary screen.
    void placeInitially();

    // Shows the panel in front; without `activate` the program in front keeps the keyboard.
    void orderFront(bool activate);

protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void markOnAllDesktops();

    std::function<void()> m_closing;
    bool m_framePending = false;
};
