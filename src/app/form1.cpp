#include "form1.h"

#include "platform/command_line.h"
#include "render/render.h"

namespace korvane {

Form1::Form1(std::string commandLine, PictureLoad load)
    : m_commandLine(std::move(commandLine))
    , m_load(std::move(load))
{
    window.setMinimumOuterSize(kMinimumOuterWidth, kMinimumOuterHeight);
    connectHandlers();
}

void Form1::connectHandlers()
{
    window.onResize = [this] { Form_Resize(); };
    Command4.onClick = [this] { Command4_Click(); };
    Timer1.onTimer = [this] { Timer1_Timer(); };
    Picture1.onMouseDown = [this](Integer b, Integer s, Single& x, Single& y) { Picture1_MouseDown(b, s, x, y); };
    Picture1.onMouseMove = [this](Integer b, Integer s, Single& x, Single& y) { Picture1_MouseMove(b, s, x, y); };
    Picture1.onMouseUp = [this](Integer b, Integer s, Single& x, Single& y) { Picture1_MouseUp(b, s, x, y); };
    Picture3.onMouseDown = [this](Integer b, Integer s, Single& x, Single& y) { Picture3_MouseDown(b, s, x, y); };
    Picture3.onMouseMove = [this](Integer b, Integer s, Single& x, Single& y) { Picture3_MouseMove(b, s, x, y); };
    Picture3.onMouseUp = [this](Integer b, Integer s, Single& x, Single& y) { Picture3_MouseUp(b, s, x, y); };
    window.onScaleChanged = [this](double previousRatio) { screenScaleChanged(previousRatio); };
}

std::string Form1::picturePath(const std::string& commandLine)
{
    return Replace(commandLine, "\"", "");
}

void Form1::Form_Load()
{
    Timer1.setInterval(60);
    m_state.ViewWidth = 200;
    m_state.ViewHeight = 600;
    m_state.FullWidthMode = 0;
    m_state.LayoutReady = 1;
    Picture2.setPicture(m_load(picturePath(m_commandLine)));
    RenderOverview();
    RenderDetailView();
}

void Form1::Timer1_Timer()
{
    m_state.TickReady = 1;
}

void Form1::RenderDetailView()
{
    render::RenderDetailView(Picture3, Picture2, m_state.OffsetX, m_state.OffsetY, m_state.ViewWidth,
        m_state.ViewHeight);
}

void Form1::RenderOverview()
{
    render::RenderOverview(Picture1, Picture2);
    m_marker.reset();
}

} // namespace korvane
