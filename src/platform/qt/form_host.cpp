#include "form_host.h"

#include "application.h"
#include "widgets.h"

#include "platform/picture.h"
#include "platform/runtime_error.h"

namespace korvane {

FormHost::FormHost(FormWindow& window)
    : m_window(std::make_unique<FormWidget>(window))
{
    setErrorBoxTitle(window.Caption());
}

FormHost::~FormHost() = default;

void FormHost::addPanel(PictureBox& panel)
{
    auto* widget = new PanelWidget(panel, m_window.get());
    widget->raise();
    m_children.emplace_back(&panel, widget);
}

void FormHost::addButton(CommandButton& button)
{
    auto* widget = new ButtonWidget(button, m_window.get());
    widget->raise();
    m_children.emplace_back(&button, widget);
}

void FormHost::bindTimer(Timer& timer)
{
    auto* qtimer = new QTimer(m_window.get());
    qtimer->setTimerType(Qt::PreciseTimer);
    // A tick that comes while a handler waits (for a long load) is dropped,
    // as ticks that find the previous one unhandled are.
    QObject::connect(qtimer, &QTimer::timeout, qtimer, [&timer] {
        if (!insideHandler())
            runGuarded([&] { timer.tick(); });
    });
    timer.onIntervalChanged = [qtimer](Long interval) {
        if (interval > 0)
            qtimer->start(interval);
        else
            qtimer->stop();
    };
    if (timer.Interval() > 0)
        qtimer->start(timer.Interval());
}

void FormHost::prepare()
{
    m_window->winId(); // creates the native window, still hidden
    m_window->ensurePolished();
    waitForFontConfiguration();
    for (const auto& [owner, widget] : m_children) {
        widget->ensurePolished();
        widget->sizeHint(); // lays out a button's caption: loads its font
    }
    StartupWindowBuilt();
}

void FormHost::show()
{
    m_window->show();
    m_window->followScreens();
}

QWidget* FormHost::topLevel() const
{
    return m_window.get();
}

QWidget* FormHost::widgetFor(const Control& control) const
{
    for (const auto& [owner, widget] : m_children)
        if (owner == &control)
            return widget;
    return nullptr;
}

} // namespace korvane
