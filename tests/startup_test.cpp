#include "form_fixture.h"

namespace korvane {
namespace {

using test::decodeCoordinate;
using test::pixelAt;

class StartUp : public test::FormTest {};

TEST_F(StartUp, GivesTheStateItsFirstValuesAndPaintsBothPanels)
{
    const std::string path = test::writeImage(test::coordinateImage(1600, 1000), "start.png", "png");
    form = std::make_unique<Form1>(path);
    form->Form_Load();
    const ViewState& s = state();
    EXPECT_EQ(s.ViewWidth, 200);
    EXPECT_EQ(s.ViewHeight, 600);
    EXPECT_EQ(s.FullWidthMode, 0);
    EXPECT_EQ(s.LayoutReady, 1);
    EXPECT_EQ(s.TickReady, 0);
    EXPECT_EQ(s.OffsetX, 0);
    EXPECT_EQ(s.DetailDragging + s.OverviewDragging + s.AnchorX + s.AnchorY + s.OffsetY, 0);
    EXPECT_EQ(form->Timer1.Interval(), 60);
    EXPECT_EQ(form->Picture2.Width(), 24000);
    EXPECT_EQ(form->Picture2.Height(), 15000);
    EXPECT_EQ(form->Picture1.backing().size(), QSize(800, 500));
    // The first paint of the detail view: 200 x 600 px from (0, 0).
    EXPECT_EQ(form->Picture3.backing().size(), QSize(200, 600));
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 0, 0)), QPoint(0, 0));
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 199, 599)), QPoint(199, 599));
}

TEST_F(StartUp, PortraitPhotoStoredSidewaysIsShownUprightInBothPanels)
{
    // Stored 300 x 200 landscape, tagged "rotate 90": a 200 x 300 portrait.
    QImage stored(300, 200, QImage::Format_RGB32);
    stored.fill(Qt::white);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 30; ++x)
            stored.setPixel(x, y, qRgb(0, 0, 0)); // the stored left edge, shown on top
    openCommand(test::writeOrientedJpeg(stored, "portrait.jpg", 6));
    EXPECT_EQ(form->Picture2.Width(), 3000.0f);
    EXPECT_EQ(form->Picture2.Height(), 4500.0f);
    EXPECT_EQ(form->Picture1.Height(), 9000.0f); // portrait rule: 600 px high
    EXPECT_EQ(form->Picture1.Width(), 6000.0f);
    EXPECT_LT(qRed(pixelAt(form->Picture1, 200, 20)), 60);
    EXPECT_GT(qRed(pixelAt(form->Picture1, 200, 300)), 200);
    EXPECT_LT(qRed(pixelAt(form->Picture3, 100, 10)), 60);
    EXPECT_GT(qRed(pixelAt(form->Picture3, 100, 100)), 200);
}

TEST_F(StartUp, ResizeBeforeLoadChangesNothing)
{
    form = std::make_unique<Form1>("");
    form->Form_Resize();
    EXPECT_EQ(form->Picture3.Left(), 12000);
    EXPECT_EQ(form->Picture3.Width(), 3000);
    EXPECT_EQ(form->Command4.Top(), 9120);
    EXPECT_EQ(state().ViewWidth, 0);
    EXPECT_TRUE(form->Picture3.backing().isNull());
}

TEST_F(StartUp, EmptyCommandLineShowsWhitePanels)
{
    openCommand("");
    EXPECT_EQ(form->Picture2.picture().Handle(), 0);
    EXPECT_EQ(form->Picture2.Width(), 6285); // the holder keeps the size it starts with
    EXPECT_EQ(form->Picture2.Height(), 3870);
    EXPECT_EQ(pixelAt(form->Picture1, 100, 100), qRgb(255, 255, 255));
    EXPECT_EQ(pixelAt(form->Picture3, 100, 100), qRgb(255, 255, 255));
    // Without a picture a press on the overview is ignored.
    press1(6000, 3000);
    EXPECT_EQ(state().OverviewDragging, 0);
}

TEST_F(StartUp, QuotedPathWithSpacesLoads)
{
    const std::string path = test::writeImage(test::coordinateImage(40, 30), "with space.png", "png");
    openCommand("\"" + path + "\"");
    EXPECT_EQ(form->Picture2.Width(), 600);
}

TEST_F(StartUp, TwoQuotedPathsBecomeOneMissingPath)
{
    const std::string a = test::writeImage(test::coordinateImage(4, 3), "a.png", "png");
    form = std::make_unique<Form1>("\"" + a + "\" \"" + a + "\"");
    try {
        form->Form_Load();
        FAIL() << "loaded";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
        EXPECT_NE(std::string(error.what()).find(a + " " + a), std::string::npos) << error.what();
    }
}

TEST_F(StartUp, TimerTicksOnlySetTheFlag)
{
    open(100, 100);
    tick();
    EXPECT_EQ(state().TickReady, 1);
    tick();
    EXPECT_EQ(state().TickReady, 1);
}

} // namespace
} // namespace korvane
