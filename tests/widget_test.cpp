// The real widgets under Qt's offscreen platform, driven by Qt's test
// mouse events and the real timer.
#include "widget_fixture.h"

#include "platform/pixel_ops.h"

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
    // The icon, read without Qt's image readers, is what Qt's reader reads.
    const QString icon = QStringLiteral(":/icons/48x48/apps/org.korvane.Korvane.png");
    EXPECT_EQ(host->topLevel()->windowIcon().pixmap(48).toImage(), QPixmap::fromImage(QImage(icon)).toImage());
}

TEST_F(Widgets, WindowCannotBeMadeSmallerButLarger)
{
    show(1600, 1200);
    host->topLevel()->resize(700, 400);
    QApplication::processEvents();
    // The outer size stops at the minimum, whatever frame the platform draws.
    EXPECT_EQ(host->topLevel()->frameGeometry().size(), QSize(1008, 674));
    host->topLevel()->resize(1400, 900);
    EXPECT_TRUE(waitUntil([&] { return detail()->geometry() == QRect(800, 0, 600, 860); })) << "detail view not laid out";
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

// A large JPEG shows before it is whole, its overview scaled from an early
// copy that differs at sharp edges; once the picture is whole, the overview
// on the screen is the one scaled from all its pixels.
TEST_F(Widgets, TheOverviewOfALargeJpegIsRedoneFromTheWholePicture)
{
    QImage checks(6000, 4000, QImage::Format_RGB888);
    for (int y = 0; y < checks.height(); ++y)
        for (int x = 0; x < checks.width(); ++x)
            checks.setPixel(x, y, (x / 37 + y / 41) % 2 ? qRgb(230, 40, 40) : qRgb(20, 20, 200));
    showFile(test::writeImage(checks, "checks.jpg", "jpg", 95));
    const Picture& picture = form->Picture2.picture();
    const QImage first = overview()->grab().toImage();
    const bool firstWasEarly = !picture.isComplete();
    ASSERT_TRUE(waitUntil([&] { return picture.isComplete(); }, 30000));
    const QImage exact = scaleSmooth(picture.image(), overview()->width(), overview()->height());
    const auto showsExact = [&](const QImage& shown) {
        for (int y = 0; y < exact.height(); ++y)
            for (int x = 0; x < exact.width(); ++x)
                if ((shown.pixel(x, y) & 0xFFFFFF) != (exact.pixel(x, y) & 0xFFFFFF))
                    return false;
        return true;
    };
    EXPECT_TRUE(waitUntil([&] { return showsExact(overview()->grab().toImage()); }, 10000));
    if (firstWasEarly) {
        EXPECT_FALSE(showsExact(first));
    }
}

} // namespace
} // namespace korvane
