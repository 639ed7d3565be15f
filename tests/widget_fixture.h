#pragma once
// The real window's widgets under Qt's offscreen platform, with helpers to
// send mouse events and wait for the real timer.
#include "form_fixture.h"

#include "platform/qt/form_host.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

#include <functional>

namespace korvane::test {

class Widgets : public FormTest {
protected:
    void show(int width, int height) { showFile(writeImage(coordinateImage(width, height), "w.png", "png")); }
    void showFile(const std::string& path)
    {
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
    // Runs the event loop until `condition` holds; false once the deadline
    // has passed. (Qt's own QTRY macros report to Qt Test, not to the test
    // runner here: a failure there would go unseen.)
    static bool waitUntil(const std::function<bool()>& condition, int milliseconds = 5000)
    {
        const QDeadlineTimer deadline(milliseconds);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(2);
        }
        return true;
    }
    void waitForTick()
    {
        EXPECT_TRUE(waitUntil([&] { return state().TickReady == 1; }, 1000)) << "no timer tick";
    }
    void TearDown() override
    {
        host.reset();
        form.reset();
    }
    std::unique_ptr<FormHost> host;
};

} // namespace korvane::test
