#pragma once
// The widgets behind FormHost.
#include "platform/controls.h"
#include "platform/form_window.h"

#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace korvane {

class FormWidget : public QWidget, public FormWindowView {
public:
    explicit FormWidget(FormWindow& window);
    void innerSizeRequested(PixelSize pixels) override;
    // Follows the device pixel ratio of the screen the window is on, from
    // now on: call once its native window exists.
    void followScreens();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void reportToWindow();
    void updateMinimumSize();
    void followScreenScale();
    void restoreKeptSize();

    FormWindow& m_window;
    QSize m_keptSize; // while the screen changes: the logical size to keep
};

class PanelWidget : public QWidget, public ControlView {
public:
    PanelWidget(PictureBox& panel, QWidget* parent);
    void geometryChanged() override;
    void contentChanged(const QRect& pixels) override;
    void refreshWhenComplete(const Picture& picture) override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void deliver(const MouseHandler& handler, QMouseEvent* event);
    PictureBox& m_panel;
    QTimer m_growing; // while a provisional overview may grow
};

class ButtonWidget : public QPushButton, public ControlView {
public:
    ButtonWidget(CommandButton& button, QWidget* parent);
    void geometryChanged() override;
    void captionChanged() override;

private:
    CommandButton& m_button;
};

} // namespace korvane
