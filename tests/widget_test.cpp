// The real widgets under Qt's offscreen platform, driven by Qt's test
// mouse events and the real timer.
#include "widget_fixture.h"


#include <QPushButton>

namespace korvane {
namespace {

using test::decodeCoordinate;
using test::pixelAt;
using test::Widgets;

TEST_F(Widgets, ShowTheWindowLaidOutOnFirstShow)
{
    show(1600, 1200);
    EXPECT_EQ(host->topLevel()->windowTitle(), QString("KORVANE"));
    // No frame offscreen: the minimum outer size is the inner size.
    EXPECT_EQ(host->topLevel()->size(), QSize(1008, 674));
    EXPECT_EQ(overview()->geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(detail()->geometry(), QRect(800, 0, 208, 634));
    EXPECT_EQ(button()->text(), QString("拡大"));
    EXPECT_EQ(button()->geometry().top(), 642);
    const QImage shown = detail()->grab().toImage();
    EXPECT_EQ(decodeCoordinate(shown.pixel(207, 633)), QPoint(207, 633));
}

TEST_F(Widgets, WindowCannotBeMadeSmallerButLarger)
{
    show(1600, 1200);
    host->topLevel()->resize(700, 400);
    QApplication::processEvents();
    // The outer size stops at the minimum, whatever frame the platform draws.
    EXPECT_EQ(host->topLevel()->frameGeometry().size(), QSize(1008, 674));
    host->topLevel()->resize(1400, 900);
    QTRY_COMPARE(detail()->geometry(), QRect(800, 0, 600, 860));
    EXPECT_EQ(overview()->geometry(), QRect(0, 0, 800, 600));
    EXPECT_EQ(button()->geometry().top(), 868);
}

TEST_F(Widgets, ButtonTogglesFullWidthAndStaysOnTop)
{
    show(1000, 2000);
    EXPECT_EQ(detail()->geometry(), QRect(300, 0, 708, 634));
    QTest::mouseClick(button(), Qt::LeftButton);
    EXPECT_EQ(button()->text(), QString("縮小"));
    EXPECT_EQ(detail()->geometry(), QRect(0, 0, 1008, 634));
    const QPoint overviewMiddle = overview()->geometry().center();
    EXPECT_EQ(host->topLevel()->childAt(overviewMiddle), detail()); // covers the overview
    EXPECT_EQ(host->topLevel()->childAt(button()->geometry().center()), button());
    QTest::mouseClick(button(), Qt::LeftButton);
    EXPECT_EQ(button()->text(), QString("拡大"));
    EXPECT_EQ(detail()->geometry(), QRect(300, 0, 708, 634));
}

TEST_F(Widgets, PressOnTheOverviewCentresAndMarks)
{
    show(2000, 1000);
    QTest::mousePress(overview(), Qt::RightButton, Qt::ShiftModifier, QPoint(400, 200));
    EXPECT_EQ(state().OverviewDragging, 1);
    // Detail view 208 x 634 px: its centre (104, 317) shows image point (1000, 500).
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 104, 317)), QPoint(1000, 500));
    EXPECT_EQ(overview()->grab().toImage().pixel(410, 200) | 0xFF000000, qRgb(0, 0, 255));
    QTest::mouseRelease(overview(), Qt::RightButton, Qt::ShiftModifier, QPoint(400, 200));
    EXPECT_EQ(state().OverviewDragging, 0);
    EXPECT_NE(overview()->grab().toImage().pixel(410, 200) | 0xFF000000, qRgb(0, 0, 255));
}

TEST_F(Widgets, DragLeavingTheOverviewEndsClampedAtTheRealTimersTick)
{
    show(2000, 1000);
    send(overview(), QEvent::MouseButtonPress, QPoint(400, 200), Qt::LeftButton, Qt::LeftButton);
    waitForTick();
    send(overview(), QEvent::MouseMove, QPoint(-300, 200), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(state().OffsetX, -form->Picture3.Width());
    EXPECT_EQ(state().TickReady, 0);
    send(overview(), QEvent::MouseButtonRelease, QPoint(5000, 3000), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(state().OffsetX, roundToLong(form->Picture3.Width() + 30000 - 1));
    EXPECT_EQ(state().OffsetY, roundToLong(form->Picture3.Height() + 15000 - 1));
}

TEST_F(Widgets, DragInTheDetailViewFollowsThePointer)
{
    show(2000, 1000);
    QTest::mousePress(detail(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 300));
    waitForTick();
    send(detail(), QEvent::MouseMove, QPoint(50, 250), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(state().OffsetX, 1500);
    EXPECT_EQ(state().OffsetY, 750);
    // The image point first under the pointer is under it still.
    EXPECT_EQ(decodeCoordinate(detail()->grab().toImage().pixel(50, 250)), QPoint(150, 300));
    send(detail(), QEvent::MouseMove, QPoint(0, 0), Qt::NoButton, Qt::LeftButton); // before the next tick
    EXPECT_EQ(state().OffsetX, 1500);
    QTest::mouseRelease(detail(), Qt::LeftButton, Qt::NoModifier, QPoint(0, 0));
    EXPECT_EQ(state().DetailDragging, 0);
}

} // namespace
} // namespace korvane
