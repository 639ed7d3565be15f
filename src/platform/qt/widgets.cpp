#include "widgets.h"

#include "window_icon.h"

#include "platform/picture.h"
#include "platform/runtime_error.h"
#include "platform/startup_trace.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <chrono>
#include <utility>

namespace korvane {

namespace {

// How often a change of screen that came during a handler is tried again.
constexpr std::chrono::milliseconds kRetryAfterHandler{50};

// Mouse buttons and modifier keys as the handlers receive them.
Integer buttonCode(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return 1;
    case Qt::RightButton: return 2;
    case Qt::MiddleButton: return 4;
    default: return 0;
    }
}

Integer buttonsCode(Qt::MouseButtons buttons)
{
    return static_cast<Integer>((buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0)
        | (buttons & Qt::MiddleButton ? 4 : 0));
}

Integer shiftCode(Qt::KeyboardModifiers modifiers)
{
    return static_cast<Integer>((modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0)
        | (modifiers & Qt::AltModifier ? 4 : 0));
}

QSize toQSize(PixelSize size)
{
    return QSize(size.width, size.height);
}

PixelSize toPixelSize(QSize size)
{
    return PixelSize{size.width(), size.height()};
}

} // namespace

FormWidget::FormWidget(FormWindow& window)
    : m_window(window)
{
    setWindowTitle(QString::fromStdString(window.Caption()));
    setWindowIcon(programIcon());
    resize(toQSize(window.innerPixels()));
    window.setView(this);
}

void FormWidget::innerSizeRequested(PixelSize pixels)
{
    // A maximised or full-screen window has the size the window system
    // gives it; asking again would only start a tug of war.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))
        return;
    resize(toQSize(pixels));
}

void FormWidget::followScreens()
{
    QWindow* handle = windowHandle();
    if (!handle)
        return;
    // On X the screen follows the window's place (each RandR monitor is a
    // screen with its own factor); on Wayland, the outputs the surface is
    // on. The ratio is the window's own, which Qt takes from that screen.
    connect(handle, &QWindow::screenChanged, this, [this] {
        // The window keeps its size in logical pixels, as the handlers see
        // it, so that a change of screen is not also a resize: Qt keeps
        // the native size, which it reports as a new logical one at once.
        m_keptSize = size();
        followScreenScale();
        QTimer::singleShot(0, this, [this] { restoreKeptSize(); });
    });
    followScreenScale();
}

void FormWidget::restoreKeptSize()
{
    const QSize kept = std::exchange(m_keptSize, QSize());
    if (kept.isValid() && size() != kept && !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        resize(kept);
    reportToWindow();
}

void FormWidget::followScreenScale()
{
    const QWindow* handle = windowHandle();
    if (!handle)
        return;
    // A handler still running (a long load's progress window turns the
    // event loop meanwhile) is not interrupted: the new scale is taken
    // once it has returned.
    if (insideHandler()) {
        QTimer::singleShot(kRetryAfterHandler, this, [this] { followScreenScale(); });
        return;
    }
    runGuarded([&] { m_window.screenScaleChanged(handle->devicePixelRatio()); });
}

void FormWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_keptSize.isValid())
        return; // the size Qt gives while the screen changes: restoreKeptSize reports the one kept
    reportToWindow();
}

void FormWidget::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    updateMinimumSize(); // the frame becomes known once the window is placed
}

void FormWidget::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        reportToWindow();
}

void FormWidget::reportToWindow()
{
    updateMinimumSize();
    const QSize frame = isVisible() ? frameGeometry().size() - size() : toQSize(m_window.framePixels());
    const Integer state = isMinimized() ? FormWindow::kMinimized
        : isMaximized()                 ? FormWindow::kMaximized
                                        : FormWindow::kNormal;
    runGuarded([&] { m_window.windowSystemChanged(toPixelSize(size()), toPixelSize(frame), state); });
}

void FormWidget::updateMinimumSize()
{
    const QSize frame = frameGeometry().size() - size();
    setMinimumSize((toQSize(m_window.minimumOuterPixels()) - frame).expandedTo(QSize(0, 0)));
}

PanelWidget::PanelWidget(PictureBox& panel, QWidget* parent)
    : QWidget(parent), m_panel(panel)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A few times a second: the overview fills in as a large picture is
    // read, without its scaling taking the window's thread from a drag.
    m_growing.setInterval(250);
    connect(&m_growing, &QTimer::timeout, this, [this] {
        if (!m_panel.refreshProvisional())
            m_growing.stop();
    });
    panel.setView(this);
    geometryChanged();
}

void PanelWidget::geometryChanged()
{
    setGeometry(m_panel.pixelGeometry());
}

void PanelWidget::contentChanged(const QRect& devicePixels)
{
    const double ratio = devicePixelRatio();
    update(QRectF(devicePixels.x() / ratio, devicePixels.y() / ratio, devicePixels.width() / ratio,
        devicePixels.height() / ratio).toAlignedRect());
}

void PanelWidget::refreshWhenComplete(const Picture& picture)
{
    // The picture completes on its decoder's thread: the refresh is posted
    // to this one, and dropped if the panel has gone by then.
    m_growing.start();
    picture.whenComplete([panel = QPointer<PanelWidget>(this)] {
        QMetaObject::invokeMethod(QCoreApplication::instance(), [panel] {
            if (panel)
                panel->m_panel.refreshProvisional();
        }, Qt::QueuedConnection);
    });
}

void PanelWidget::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = event->rect();
    // The panel's pixels are device pixels: copied 1:1 onto the screen's.
    const double ratio = devicePixelRatio();
    const QRect device = QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio)
                             .toAlignedRect();
    m_panel.drawTo(painter, device, ratio);
    static bool first = true;
    if (first) {
        first = false;
        markStartup("painted");
        // Runs once this paint's frame has been flushed to the window.
        QTimer::singleShot(0, [] {
            markStartup("flushed");
            StartupFirstFrameShown();
        });
    }
}

void PanelWidget::deliver(const MouseHandler& handler, QMouseEvent* event)
{
    if (!handler)
        return;
    const QPointF at = event->position();
    runGuarded([&] {
        Single x = toSingle(at.x() * kTwipsPerPixel);
        Single y = toSingle(at.y() * kTwipsPerPixel);
        const Integer button = event->type() == QEvent::MouseMove ? buttonsCode(event->buttons())
                                                                  : buttonCode(event->button());
        handler(button, shiftCode(event->modifiers()), x, y);
    });
}

void PanelWidget::mousePressEvent(QMouseEvent* event) { deliver(m_panel.onMouseDown, event); }
void PanelWidget::mouseMoveEvent(QMouseEvent* event) { deliver(m_panel.onMouseMove, event); }
void PanelWidget::mouseReleaseEvent(QMouseEvent* event) { deliver(m_panel.onMouseUp, event); }

ButtonWidget::ButtonWidget(CommandButton& button, QWidget* parent)
    : QPushButton(parent), m_button(button)
{
    button.setView(this);
    geometryChanged();
    captionChanged();
    connect(this, &QPushButton::clicked, this, [this] {
        if (m_button.onClick)
            runGuarded(m_button.onClick);
    });
}

void ButtonWidget::geometryChanged()
{
    setGeometry(m_button.pixelGeometry());
}

void ButtonWidget::captionChanged()
{
    setText(QString::fromStdString(m_button.Caption()));
}

} // namespace korvane
