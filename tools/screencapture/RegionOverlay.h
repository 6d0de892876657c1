#pragma once

#include <QRasterWindow>

class RegionSelector;

// Covers one screen with its part of the still, dimmed outside the selection. Input goes
// straight to the selector, which owns the selection for all screens.
class RegionOverlay : public QRasterWindow {
    Q_OBJECT
public:
    RegionOverlay(RegionSelector *selector, QScreen *screen);

    // The selection changed from old to current, both in this window's coordinates.
    void selectionChanged(const QRect &previous, const QRect &current);

protected:
    void paintEvent(QPaintEvent *event) override;
    void exposeEvent(QExposeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    RegionSelector *m_selector;
    QRect m_source; // the part of the still this screen shows, in image pixels
    bool m_reportedExposure = false;
};
