// The real widgets on a screen scaled 2x (QT_SCALE_FACTOR=2): the
// detail view shows one picture pixel per device pixel and the overview is
// drawn at its device-pixel size, while the handlers keep working in twips
// of logical pixels.
#include "widget_fixture.h"

namespace korvane {
namespace {

using test::decodeCoordinate;

class ScaledScreen : public test::Widgets {
protected:
    void SetUp() override
    {
        ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
        ASSERT_EQ(devicePixelRatio(), 2.0);
    }
    QImage shot(QWidget* widget) { return widget->grab().toImage(); }
};

TEST_F(ScaledScreen, DetailViewShowsOnePicturePixelPerDevicePixel)
{
    show(2000, 1000);
    // 2000 picture pixels are 1000 logical pixels.
    EXPECT_EQ(form->Picture2.Width(), 15000.0f);
    EXPECT_EQ(form->Picture2.Height(), 7500.0f);
    const QImage image = shot(detail());
    ASSERT_EQ(image.size(), detail()->size() * 2);
    for (QPoint device : {QPoint(0, 0), QPoint(1, 1), QPoint(101, 333), QPoint(415, 999)})
        EXPECT_EQ(decodeCoordinate(image.pixel(device)), device);
}

TEST_F(ScaledScreen, OverviewIsBuiltAtItsDevicePixelSize)
{
    show(2000, 1000);
    EXPECT_EQ(overview()->size(), QSize(800, 400));
    EXPECT_EQ(form->Picture1.backing().size(), QSize(1600, 800));
    // 2000 -> 1600 device pixels: neighbouring device pixels differ, which a
    // logical-size overview stretched 2x would not.
    const QImage image = shot(overview());
    ASSERT_EQ(image.size(), QSize(1600, 800));
    EXPECT_NE(image.pixel(801, 400), image.pixel(800, 400));
    EXPECT_NE(image.pixel(800, 401), image.pixel(800, 400));
}

TEST_F(ScaledScreen, PressOnTheOverviewCentresThePointInDevicePixels)
{
    show(2000, 1000);
    QTest::mousePress(overview(), Qt::LeftButton, Qt::NoModifier, QPoint(400, 200));
    // Logical point (400, 200) of the overview is picture point (1000, 500),
    // now at the detail view's centre, 208 x 634 logical pixels.
    EXPECT_EQ(decodeCoordinate(shot(detail()).pixel(208, 634)), QPoint(1000, 500));
    // The marker is drawn at device size too: radius 10 logical pixels.
    EXPECT_EQ(shot(overview()).pixel(820, 400) | 0xFF000000, qRgb(0, 0, 255));
    QTest::mouseRelease(overview(), Qt::LeftButton, Qt::NoModifier, QPoint(400, 200));
}

TEST_F(ScaledScreen, DragMovesThePictureWithThePointer)
{
    show(2000, 1000);
    QTest::mousePress(detail(), Qt::LeftButton, Qt::NoModifier, QPoint(150, 300));
    waitForTick();
    send(detail(), QEvent::MouseMove, QPoint(50, 250), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(state().OffsetX, 1500);
    EXPECT_EQ(state().OffsetY, 750);
    // The picture point first under the pointer (device 300, 600) is under
    // it still, now at device (100, 500).
    EXPECT_EQ(decodeCoordinate(shot(detail()).pixel(100, 500)), QPoint(300, 600));
    QTest::mouseRelease(detail(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 250));
}

} // namespace
} // namespace korvane
