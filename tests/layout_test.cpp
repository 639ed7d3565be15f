#include "form_fixture.h"

#include <vector>

namespace korvane {
namespace {

using test::decodeCoordinate;
using test::pixelAt;

// A usual window frame: 4 px left, right and bottom and 30 px on top.
const PixelSize kUsualFrame{8, 34};

class Layout : public test::FormTest {
protected:
    void openFramed(int width, int height)
    {
        const std::string path = test::writeImage(test::coordinateImage(width, height), "pic.png", "png");
        form = std::make_unique<Form1>(path);
        form->window.windowSystemChanged(PixelSize{1000, 640}, kUsualFrame, FormWindow::kNormal);
        form->Form_Load();
        form->Form_Resize();
    }
    void expectDetailView(Single left, Single width, Single height)
    {
        EXPECT_EQ(form->Picture3.Left(), left);
        EXPECT_EQ(form->Picture3.Top(), 0);
        EXPECT_EQ(form->Picture3.Width(), width);
        EXPECT_EQ(form->Picture3.Height(), height);
        EXPECT_EQ(state().ViewWidth, static_cast<Long>(width));
        EXPECT_EQ(state().ViewHeight, static_cast<Long>(height));
    }
    void panAway()
    {
        state().OffsetX = 1500;
        state().OffsetY = 450;
    }
};

TEST_F(Layout, AtTheMinimumWindowSizeFitsBothPanels)
{
    openFramed(1600, 1200);
    EXPECT_EQ(form->window.Width(), 15120);
    EXPECT_EQ(form->window.Height(), 10110);
    expectDetailView(12000, 3000, 9000);
    EXPECT_EQ(form->Command4.Top(), 9120);
    EXPECT_EQ(form->Command4.Left(), 120);
    EXPECT_EQ(form->Picture3.pixelGeometry(), QRect(800, 0, 200, 600));
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 199, 599)), QPoint(199, 599));
}

TEST_F(Layout, PortraitPictureGivesAWiderDetailView)
{
    openFramed(1000, 2000);
    EXPECT_EQ(form->Picture1.Width(), 4500);
    expectDetailView(4500, 10500, 9000);
    EXPECT_EQ(form->Picture3.backing().width(), 700);
}

TEST_F(Layout, WithoutAFrameTheMinimumIsTheInnerSize)
{
    open(1600, 1200);
    EXPECT_EQ(form->window.innerPixels(), (PixelSize{1008, 674}));
    expectDetailView(12000, 3120, 9510);
}

TEST_F(Layout, RaisesWidthAndHeightBelowTheMinimumIndependently)
{
    openFramed(1600, 1200);
    resizeTo(700, 900);
    EXPECT_EQ(form->window.innerPixels(), (PixelSize{1000, 900}));
    expectDetailView(12000, 3000, 12900);
    resizeTo(1200, 300);
    EXPECT_EQ(form->window.innerPixels(), (PixelSize{1200, 640}));
    expectDetailView(12000, 6000, 9000);
}

TEST_F(Layout, NestedPassesEndInTheLayoutOfTheFinalSize)
{
    openFramed(1600, 1200);
    int passes = 0;
    form->window.onResize = [&] {
        ++passes;
        form->Form_Resize();
    };
    resizeTo(100, 100);
    EXPECT_EQ(passes, 3); // the shrink, then one nested pass per raised side
    EXPECT_EQ(form->window.innerPixels(), (PixelSize{1000, 640}));
    expectDetailView(12000, 3000, 9000);
    EXPECT_EQ(form->Command4.Top(), 9120);
}

TEST_F(Layout, MinimisingChangesNothingAndRestoringLaysOutAgain)
{
    openFramed(1600, 1200);
    panAway();
    resizeTo(0, 0, FormWindow::kMinimized);
    EXPECT_EQ(form->window.WindowState(), FormWindow::kMinimized);
    EXPECT_EQ(state().OffsetX, 1500);
    EXPECT_EQ(form->Picture3.Width(), 3000);
    resizeTo(1000, 640);
    EXPECT_EQ(state().OffsetX, 0);
    EXPECT_EQ(state().OffsetY, 0);
    expectDetailView(12000, 3000, 9000);
}

TEST_F(Layout, ExtraRoomGoesToTheDetailView)
{
    openFramed(1600, 1200);
    panAway();
    resizeTo(1600, 1000);
    EXPECT_EQ(form->Picture1.Width(), 12000);
    EXPECT_EQ(form->Picture1.Height(), 9000);
    expectDetailView(12000, 12000, 14400);
    EXPECT_EQ(form->Command4.Top(), 14520);
    EXPECT_EQ(state().OffsetX, 0);
    EXPECT_EQ(decodeCoordinate(pixelAt(form->Picture3, 0, 0)), QPoint(0, 0));
}

// Records the order of the detail view's repaints and the button's caption.
class EventLog : public ControlView {
public:
    explicit EventLog(std::vector<std::string>& log, std::string what) : m_log(log), m_what(std::move(what)) {}
    void contentChanged(const QRect&) override { m_log.push_back(m_what + " painted"); }
    void captionChanged() override { m_log.push_back(m_what + " caption"); }

private:
    std::vector<std::string>& m_log;
    std::string m_what;
};

TEST_F(Layout, ToggleWidensOverTheWholeWindowAndBack)
{
    openFramed(1000, 2000);
    std::vector<std::string> log;
    EventLog detailLog(log, "detail"), buttonLog(log, "button");
    form->Picture3.setView(&detailLog);
    form->Command4.setView(&buttonLog);
    panAway();
    form->Command4_Click();
    EXPECT_EQ(state().FullWidthMode, 1);
    expectDetailView(0, 15000, 9000);
    EXPECT_EQ(form->Command4.Caption(), "縮小");
    EXPECT_EQ(state().OffsetX, 0);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "button caption");
    EXPECT_EQ(log[log.size() - 2], "detail painted");

    panAway();
    form->Command4_Click();
    EXPECT_EQ(state().FullWidthMode, 0);
    expectDetailView(4500, 10500, 9000);
    EXPECT_EQ(form->Command4.Caption(), "拡大");
    EXPECT_EQ(state().OffsetY, 0);
    EXPECT_EQ(form->Command4.Top(), 9120); // the toggle never moves the button
    form->Picture3.setView(nullptr);
    form->Command4.setView(nullptr);
}

TEST_F(Layout, ResizingInFullWidthModeKeepsTheFullWidth)
{
    openFramed(1600, 1200);
    form->Command4_Click();
    resizeTo(1300, 700);
    expectDetailView(0, 19500, 9900);
    EXPECT_EQ(form->Command4.Caption(), "縮小");
}

} // namespace
} // namespace korvane
