#pragma once
// The real window's widgets under Qt's offscreen platform, with helpers to
// send mouse events and wait for the real timer.
#include "form_fixture.h"

#include "platform/qt/form_host.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

namespace korvane::test {

class Widgets : public FormTest {
protected:
    void show(int width, int height)
    {
        const std::string path = writeImage(coordinateImage(width, height), "w.png", "png");
        form = std::make_unique<Form1>(path);
        host = std::make_unique<FormHost>(form->window);
        host->addPanel(form->Picture1);
        host->addPanel(form->Picture3);
        host->addButton(form->Command4);
        host->bindTimer(form->Timer1);
        form->Form_Load();
        host->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host->topLevel()));
        QApplication::processEvents();
    }
    QWidget* overview() { return host->widgetFor(form->Picture1); }
    QWidget* detail() { return host->widgetFor(form->Picture3); }
    QPushButton* button() { return static_cast<QPushButton*>(host->widgetFor(form->Command4)); }
    void send(QWidget* widget, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held)
    {
        QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
    void waitForTick()
    {
        QTRY_COMPARE_WITH_TIMEOUT(state().TickReady, Integer(1), 1000);
    }
    void TearDown() override
    {
        host.reset();
        form.reset();
    }
    std::unique_ptr<FormHost> host;
};

} // namespace korvane::test
