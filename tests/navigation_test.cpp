#include "nav/navigation.h"

#include "form_fixture.h"

namespace korvane {
namespace {

using nav::Extent;
using nav::Offset;
using test::decodeCoordinate;
using test::kindRaisedBy;
using test::pixelAt;

const Extent kLandscapeSource{30000, 15000}, kLandscapeOverview{12000, 6000}, kDetail{3000, 9000};

Offset centreAndClamp(Single x, Single y, Extent source, Extent overview, Extent detail)
{
    return nav::clampOffset(nav::centredOffset(x, y, source, overview, detail), detail, source);
}

TEST(CentreOnOverviewPoint, WorkedExamples)
{
    const struct {
        Single x, y;
        Offset expected;
    } cases[] = {
        {6000, 3000, {13500, 3000}},   // the centre: nothing clamped
        {-5000, 3000, {-3000, 3000}},  // x lower bound
        {20000, 3000, {32999, 3000}},  // x upper bound: 3000 + 30000 - 1
        {6000, -20000, {13500, -9000}},
        {6000, 20000, {13500, 23999}}, // 9000 + 15000 - 1
    };
    for (const auto& c : cases)
        EXPECT_EQ(centreAndClamp(c.x, c.y, kLandscapeSource, kLandscapeOverview, kDetail), c.expected)
            << c.x << "," << c.y;
}

TEST(CentreOnOverviewPoint, PortraitMapsXThroughTheOverviewAndYThrough600Pixels)
{
    EXPECT_EQ(centreAndClamp(2250, 4500, {9000, 18000}, {4500, 9000}, kDetail), (Offset{3000, 4500}));
    // A square source is portrait: x uses the measured width, y 600 x 15.
    EXPECT_EQ(nav::mapOverviewPoint(2250, 4500, {9000, 9000}, {4500, 1}), (Offset{4500, 4500}));
    // Landscape: x uses 800 x 15 whatever the overview measures.
    EXPECT_EQ(nav::mapOverviewPoint(6000, 3000, kLandscapeSource, {1, 6000}), (Offset{15000, 7500}));
}

TEST(CentreOnOverviewPoint, HalfSizesRoundHalvesToEven)
{
    // Mapped x is 15000: 1508 and 1522 are the half widths.
    EXPECT_EQ(nav::centredOffset(6000, 3000, kLandscapeSource, kLandscapeOverview, {3015, 9000}).x, 15000 - 1508);
    EXPECT_EQ(nav::centredOffset(6000, 3000, kLandscapeSource, kLandscapeOverview, {3045, 9000}).x, 15000 - 1522);
}

TEST(CentreOnOverviewPoint, DividingByAnOverviewOfZeroExtentIsAFloatingPointError)
{
    EXPECT_EQ(kindRaisedBy([] { nav::mapOverviewPoint(10, 10, kLandscapeSource, {12000, 0}); }),
        ErrorKind::DivisionByZero);
    EXPECT_EQ(kindRaisedBy([] { nav::mapOverviewPoint(10, 0, kLandscapeSource, {12000, 0}); }),
        ErrorKind::InvalidOperation);
}

TEST(CentreOnOverviewPoint, CentringSubtractionOverflowIsAnError)
{
    // 15 x X / 800 / 15 is exactly -2^31; subtracting the half width overflows.
    EXPECT_EQ(kindRaisedBy([] { nav::centredOffset(-1717986918400.0f, 0, {15, 1}, {12000, 1}, kDetail); }),
        ErrorKind::Overflow);
    EXPECT_EQ(kindRaisedBy([] { nav::mapOverviewPoint(3e12f, 0, {15, 1}, {12000, 1}); }), ErrorKind::Overflow);
}

TEST(ClampRule, BoundsAreKeptAndPassedBoundsReplaced)
{
    EXPECT_EQ(nav::clampOffset({-3000, -9000}, kDetail, kLandscapeSource), (Offset{-3000, -9000}));
    EXPECT_EQ(nav::clampOffset({32999, 23999}, kDetail, kLandscapeSource), (Offset{32999, 23999}));
    EXPECT_EQ(nav::clampOffset({-3001, -9001}, kDetail, kLandscapeSource), (Offset{-3000, -9000}));
    EXPECT_EQ(nav::clampOffset({33000, 24000}, kDetail, kLandscapeSource), (Offset{32999, 23999}));
}

TEST(ClampRule, UpperChecksComeLastSoZeroSizesGiveMinusOne)
{
    EXPECT_EQ(nav::clampOffset({-5, 7}, {0, 0}, {0, 0}), (Offset{-1, -1}));
    EXPECT_EQ(nav::clampOffset({0, 0}, {0, 0}, {0, 0}), (Offset{-1, -1}));
}

TEST(ClampRule, RoundsFractionalBoundsHalfToEven)
{
    EXPECT_EQ(nav::clampOffset({-9999, -9999}, {2.5f, 3.5f}, {10, 10}), (Offset{-2, -4}));
}

// A drag through a 3000 x 9000 detail view on a 2000 x 1000 px
// picture (30000 x 15000 twips), before any layout pass.
class Drag : public test::FormTest {
protected:
    void SetUp() override
    {
        const std::string path = test::writeImage(test::coordinateImage(2000, 1000), "drag.png", "png");
        form = std::make_unique<Form1>(path);
        form->Form_Load();
    }
    void expectOffset(Long x, Long y)
    {
        EXPECT_EQ(state().OffsetX, x);
        EXPECT_EQ(state().OffsetY, y);
    }
};

TEST_F(Drag, FollowsThePointerPacedByTheTimer)
{
    state().OffsetX = 13500;
    state().OffsetY = 3000;
    press3(1500, 4500);
    EXPECT_EQ(state().DetailDragging, 1);
    EXPECT_EQ(state().AnchorX, 1500);
    EXPECT_EQ(state().AnchorY, 4500);
    expectOffset(13500, 3000);

    tick();
    move3(1200, 4650);
    expectOffset(13800, 2850);
    EXPECT_EQ(state().AnchorX, 1200);
    EXPECT_EQ(state().AnchorY, 4650);
    EXPECT_EQ(state().TickReady, 0);
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 0, 0)), QPoint(920, 190));

    move3(1100, 4700); // before the next tick: dropped
    expectOffset(13800, 2850);
    EXPECT_EQ(state().AnchorX, 1200);
    tick();
    move3(900, 4800); // takes up the whole distance since the last step
    expectOffset(14100, 2700);

    release3(850, 4900);
    EXPECT_EQ(state().DetailDragging, 0);
    expectOffset(14100, 2700);
}

TEST_F(Drag, MotionCutOffByTheClampIsDropped)
{
    press3(1200, 4500);
    state().OffsetX = 32900;
    tick();
    move3(900, 4500);
    EXPECT_EQ(state().OffsetX, 32999);
    EXPECT_EQ(state().AnchorX, 900);
    tick();
    move3(1000, 4500);
    EXPECT_EQ(state().OffsetX, 32899);
}

TEST_F(Drag, FarToTheRightStopsWithThePicturesEdgeOnTheViewsEdge)
{
    press3(0, 0);
    for (int step = 1; step <= 5; ++step) {
        tick();
        move3(static_cast<Single>(step * 1500), 0);
    }
    EXPECT_EQ(state().OffsetX, -3000);
    EXPECT_EQ(pixelAt(form->Picture3, 199, 0), qRgb(255, 255, 255));
}

TEST_F(Drag, MovesNeedBothTheDragAndTheTick)
{
    press3(1500, 4500);
    move3(1000, 4000); // dragging, no tick
    expectOffset(0, 0);
    release3(1000, 4000);
    tick();
    move3(500, 500); // tick, no drag
    expectOffset(0, 0);
    EXPECT_EQ(state().TickReady, 1);
}

TEST_F(Drag, EveryButtonDragsAlike)
{
    for (Integer button : {2, 4}) {
        state().OffsetX = 0;
        press3(1500, 4500, button);
        tick();
        move3(1200, 4500);
        EXPECT_EQ(state().OffsetX, 300) << button;
        release3(1200, 4500);
    }
}

TEST_F(Drag, AnchorsRoundHalvesToEven)
{
    press3(1502.5f, 1503.5f);
    EXPECT_EQ(state().AnchorX, 1502);
    EXPECT_EQ(state().AnchorY, 1504);
}

TEST_F(Drag, ReleaseWithoutPressOnlyClearsTheFlag)
{
    state().OffsetX = 77;
    release3(5, 5);
    EXPECT_EQ(state().DetailDragging, 0);
    EXPECT_EQ(state().OffsetX, 77);
}

TEST_F(Drag, PressRepaintsTheOverviewOverTheMarker)
{
    press1(6000, 3000);
    EXPECT_EQ(pixelAt(form->Picture1, 410, 200), qRgb(0, 0, 255));
    press3(100, 100);
    EXPECT_NE(pixelAt(form->Picture1, 410, 200), qRgb(0, 0, 255));
}

class Overview : public Drag {};

TEST_F(Overview, PressCentresTheDetailViewAndMarksThePointer)
{
    press1(6000, 3000); // pixel (400, 200) of an 800 x 400 overview
    EXPECT_EQ(state().OverviewDragging, 1);
    expectOffset(13500, 3000);
    // The detail view (200 x 600 px) has image point (1000, 500) at its centre.
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 100, 300)), QPoint(1000, 500));
    EXPECT_EQ(pixelAt(form->Picture1, 410, 200), qRgb(0, 0, 255));
    EXPECT_EQ(pixelAt(form->Picture1, 400, 190), qRgb(0, 0, 255));
    EXPECT_NE(pixelAt(form->Picture1, 400, 200), qRgb(0, 0, 255));
}

TEST_F(Overview, DragIsPacedAndReleaseCentresAgainWithoutMarker)
{
    press1(6000, 3000);
    move1(3000, 1500); // no tick yet
    expectOffset(13500, 3000);
    tick();
    move1(3000, 1500);
    expectOffset(6000, -750);
    EXPECT_EQ(state().TickReady, 0);
    EXPECT_EQ(pixelAt(form->Picture1, 210, 100), qRgb(0, 0, 255));
    EXPECT_NE(pixelAt(form->Picture1, 410, 200), qRgb(0, 0, 255)); // the old marker is gone
    move1(1500, 1500);
    expectOffset(6000, -750);
    release1(1500, 1500); // not paced
    EXPECT_EQ(state().OverviewDragging, 0);
    expectOffset(2250, -750);
    EXPECT_NE(pixelAt(form->Picture1, 110, 100), qRgb(0, 0, 255));
    EXPECT_EQ(state().TickReady, 0);
}

TEST_F(Overview, MovesWithoutADragLeaveTheTickForTheOtherPanel)
{
    tick();
    move1(3000, 1500);
    expectOffset(0, 0);
    EXPECT_EQ(state().TickReady, 1);
    press3(1500, 4500);
    move3(1200, 4500);
    EXPECT_EQ(state().OffsetX, 300);
}

TEST_F(Overview, OneTickServesOneMoveWhicheverPanelItComesFrom)
{
    press1(6000, 3000);
    press3(1500, 4500);
    tick();
    move1(3000, 1500);
    const Offset afterOverview{state().OffsetX, state().OffsetY};
    move3(1000, 4000);
    EXPECT_EQ(state().OffsetX, afterOverview.x);
    EXPECT_EQ(state().OffsetY, afterOverview.y);
}

TEST_F(Overview, ClickWithoutMovementCentresTwice)
{
    press1(6000, 3000);
    release1(6000, 3000);
    expectOffset(13500, 3000);
    const QPoint shown = decodeCoordinate(pixelAt(form->Picture1, 410, 200)); // averaged: within a pixel
    EXPECT_NEAR(shown.x(), 1025, 1);
    EXPECT_NEAR(shown.y(), 500, 1);
}

TEST_F(Overview, ReleaseWithoutPressStillCentres)
{
    release1(6000, 3000);
    expectOffset(13500, 3000);
}

TEST_F(Overview, OverflowLeavesBothOffsetsAsTheyWere)
{
    state().OffsetX = 11;
    state().OffsetY = 22;
    EXPECT_EQ(kindRaisedBy([&] { press1(-1e12f, 0); }), ErrorKind::Overflow);
    expectOffset(11, 22);
}

TEST_F(Overview, HandlersLeaveTheCallersPositionAlone)
{
    Single x = 6000.5f, y = 3000.25f;
    form->Picture1_MouseDown(1, 0, x, y);
    EXPECT_EQ(x, 6000.5f);
    EXPECT_EQ(y, 3000.25f);
}

// The window moved to a screen of another device pixel ratio.
class ScreenScale : public Drag {
protected:
    void TearDown() override { setDevicePixelRatio(1.0); }
};

TEST_F(ScreenScale, KeepsTheImagePointAtTheTopLeftAndDrawsAtTheNewSize)
{
    press1(6000, 3000);
    expectOffset(13500, 3000); // image point (900, 200) at the top-left
    form->window.screenScaleChanged(2.0);
    EXPECT_EQ(form->Picture2.Width(), 15000.0f); // 2000 picture pixels, 1000 logical ones
    expectOffset(6750, 1500);
    ASSERT_EQ(form->Picture3.backing().size(), QSize(400, 1200));
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 0, 0)), QPoint(900, 200));
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 399, 799)), QPoint(1299, 999));
    ASSERT_EQ(form->Picture1.backing().size(), QSize(1600, 800));
    EXPECT_NE(pixelAt(form->Picture1, 1201, 400), pixelAt(form->Picture1, 1200, 400)); // drawn, not stretched
    // The marker is still at the pointer, 10 logical pixels round it.
    EXPECT_EQ(pixelAt(form->Picture1, 820, 400), qRgb(0, 0, 255));
    EXPECT_NE(pixelAt(form->Picture1, 800, 400), qRgb(0, 0, 255));

    // The overview drag goes on at the new ratio.
    tick();
    move1(3000, 1500);
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 200, 600)), QPoint(500, 250));
    EXPECT_EQ(pixelAt(form->Picture1, 420, 200), qRgb(0, 0, 255));
    release1(3000, 1500);

    form->window.screenScaleChanged(1.0); // and back: image point (300, -350) at the top-left
    ASSERT_EQ(form->Picture3.backing().size(), QSize(200, 600));
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 199, 599)), QPoint(499, 249));
    EXPECT_EQ(form->Picture1.backing().size(), QSize(800, 400));
}

TEST_F(ScreenScale, DragAcrossTheChangeKeepsThePictureUnderThePointer)
{
    press3(1500, 4500);
    form->window.screenScaleChanged(2.0); // picture point (200, 600) now under the pointer
    tick();
    move3(1200, 4650); // 20 logical pixels left, 10 down: 40 and 20 picture pixels
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 0, 20)), QPoint(40, 0));
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 160, 620)), QPoint(200, 600)); // under the pointer still
    // The picture point first under the pointer (device 300, 900) is under it still.
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 240, 920)), QPoint(280, 900));
    release3(1200, 4650);
}

TEST_F(ScreenScale, OffsetsStayInsideTheClampBounds)
{
    form->window.screenScaleChanged(2.0);
    press1(-5000, -5000);
    release1(-5000, -5000);
    expectOffset(-3000, -9000); // the picture's corner at the far edges of the view
    form->window.screenScaleChanged(1.0); // would be -6000, -18000
    expectOffset(-3000, -9000);
    form->window.screenScaleChanged(1.0); // the same ratio: nothing to do
    expectOffset(-3000, -9000);
}

} // namespace
} // namespace korvane
