// The real program moved between two monitors of one X screen (RandR
// monitors LEFT and RIGHT, 1920 x 1080 each) whose Qt scale factors differ:
// on each, one picture pixel is one device pixel, the overview is drawn at
// its device size, the window keeps its logical size, and the image point
// at the detail view's top-left stays there.
#include "support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <sys/wait.h>

#include "x_session.h" // Xlib last

#include <X11/extensions/XTest.h>

namespace korvane {
namespace {

using namespace std::chrono_literals;
using test::decodeCoordinate;
using test::waitFor;

constexpr QRgb kWhite = 0xFFFFFFFF, kBlue = 0xFF0000FF;
constexpr int kRightMonitorX = 1920;

bool runToEnd(const std::vector<std::string>& args, const std::string& display)
{
    const pid_t pid = test::spawn(args, display);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool near(QPoint a, QPoint b)
{
    return std::abs(a.x() - b.x()) <= 1 && std::abs(a.y() - b.y()) <= 1;
}

class ScreenChange : public ::testing::TestWithParam<double> {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(s_session.start("3840x1080x24")) << "no X server";
        ASSERT_TRUE(runToEnd({"xrandr", "--setmonitor", "LEFT", "1920/508x1080/286+0+0", "screen"}, s_session.name()));
        ASSERT_TRUE(runToEnd({"xrandr", "--setmonitor", "RIGHT", "1920/508x1080/286+1920+0", "none"}, s_session.name()));
        s_picture = test::writeImage(test::coordinateImage(3000, 2000), "screens.png", "png");
    }
    static void TearDownTestSuite() { s_session.stop(); }
    void SetUp() override
    {
        const std::string factors = "LEFT=1;RIGHT=" + std::to_string(ratio());
        m_program = test::spawnWith({KORVANE_BINARY, s_picture},
            {{"DISPLAY", s_session.name()}, {"QT_QPA_PLATFORM", ""}, {"QT_SCREEN_SCALE_FACTORS", factors}});
        ASSERT_TRUE(waitFor([&] { return viewer() != 0 && detailAt(0, 0, 1.0) == QPoint(0, 0); }, 10s))
            << "first frame not shown";
    }
    void TearDown() override
    {
        pointer(0, 0, false); // a test that stops early leaves no button held
        kill(m_program, SIGTERM);
        waitpid(m_program, nullptr, 0);
    }

    static double ratio() { return GetParam(); }
    static Window viewer() { return s_session.viewableWindowTitled("KORVANE"); }
    // The window's place and size on the screen, in device pixels.
    static QRect placeOfViewer()
    {
        XWindowAttributes attributes {};
        Window child = 0;
        int x = 0, y = 0;
        const Window window = viewer();
        if (!window || !XGetWindowAttributes(s_session.display(), window, &attributes)
            || !XTranslateCoordinates(s_session.display(), window, DefaultRootWindow(s_session.display()), 0, 0, &x,
                &y, &child))
            return {};
        return QRect(x, y, attributes.width, attributes.height);
    }
    // The picture point shown at device pixel (x, y) of the detail view,
    // whose left edge is the overview's 800 logical pixels in.
    static QPoint detailAt(int x, int y, double scale)
    {
        const QRect place = placeOfViewer();
        return decodeCoordinate(s_session.pixel(place.x() + static_cast<int>(800 * scale) + x, place.y() + y));
    }
    static void moveViewerTo(int x)
    {
        XMoveWindow(s_session.display(), viewer(), x, 0);
        XFlush(s_session.display());
    }
    static void pointer(int x, int y, std::optional<bool> down = {})
    {
        XTestFakeMotionEvent(s_session.display(), 0, x, y, CurrentTime);
        if (down)
            XTestFakeButtonEvent(s_session.display(), 1, *down, CurrentTime);
        XFlush(s_session.display());
    }
    // One picture pixel to one device pixel round `point`, at `origin` of the detail view.
    static void expectOneToOne(QPoint origin, QPoint point, double scale)
    {
        for (const QPoint step : {QPoint(1, 0), QPoint(0, 1), QPoint(123, 45)})
            EXPECT_EQ(detailAt(origin.x() + step.x(), origin.y() + step.y(), scale), point + step)
                << "at device " << origin.x() + step.x() << ", " << origin.y() + step.y() << " of the detail view";
    }
    // The overview (800 x 533 logical pixels) is drawn to its bottom-right
    // corner, at device size.
    static void expectWholeOverview(double scale)
    {
        const QRect place = placeOfViewer();
        const int right = place.x() + static_cast<int>(799 * scale), bottom = place.y() + static_cast<int>(530 * scale);
        EXPECT_NE(s_session.pixel(right, bottom), kWhite) << "overview not drawn to its corner at " << scale << "x";
    }

    static inline test::XSession s_session;
    static inline std::string s_picture;
    pid_t m_program = 0;
};

TEST_P(ScreenChange, EachMonitorShowsOnePicturePixelPerDevicePixelAndKeepsTheTopLeftPoint)
{
    // A press on the overview takes the detail view into the picture.
    pointer(400, 250, true);
    pointer(400, 250, false);
    QPoint topLeft;
    ASSERT_TRUE(waitFor([&] { return (topLeft = detailAt(0, 0, 1.0)).x() > 1000; }, 10s)) << "press not acted on";
    expectOneToOne({}, topLeft, 1.0);

    // The window keeps its logical size, 1008 x 674 pixels, on each monitor.
    moveViewerTo(kRightMonitorX + 80);
    const int scaledWidth = static_cast<int>(std::lround(1008 * ratio()));
    ASSERT_TRUE(waitFor([&] { return placeOfViewer().width() == scaledWidth; }, 10s))
        << "width " << placeOfViewer().width() << " on the scaled monitor";
    ASSERT_TRUE(waitFor([&] { return near(detailAt(0, 0, ratio()), topLeft); }, 10s))
        << "after the move: " << detailAt(0, 0, ratio()).x() << ", " << detailAt(0, 0, ratio()).y() << " at the top-left";
    expectOneToOne({}, detailAt(0, 0, ratio()), ratio());
    expectWholeOverview(ratio());

    moveViewerTo(40);
    ASSERT_TRUE(waitFor([&] { return placeOfViewer().width() == 1008; }, 10s))
        << "width " << placeOfViewer().width() << " back on the first monitor";
    ASSERT_TRUE(waitFor([&] { return near(detailAt(0, 0, 1.0), topLeft); }, 10s)) << "after the move back";
    expectOneToOne({}, detailAt(0, 0, 1.0), 1.0);
    expectWholeOverview(1.0);
}

TEST_P(ScreenChange, AnOverviewDragGoesOnAcrossTheMoveWithTheMarkerAtThePointer)
{
    pointer(200, 100, true);
    ASSERT_TRUE(waitFor([] { return s_session.pixel(210, 100) == kBlue; }, 10s)) << "no marker";
    moveViewerTo(kRightMonitorX);
    // Moved, and drawn at the new ratio: events from now on are read at it.
    const int scaledWidth = static_cast<int>(std::lround(1008 * ratio()));
    ASSERT_TRUE(waitFor([&] {
        return placeOfViewer().x() == kRightMonitorX && placeOfViewer().width() == scaledWidth
            && s_session.pixel(kRightMonitorX + static_cast<int>(799 * ratio()), 10) != kWhite;
    }, 10s));
    // The button is still held: a move on the new screen goes on with the drag.
    const int markerX = kRightMonitorX + static_cast<int>(300 * ratio()), markerY = static_cast<int>(200 * ratio());
    // The move is sent again until a tick lets it through.
    ASSERT_TRUE(waitFor([&] {
        pointer(markerX, markerY);
        return s_session.pixel(markerX + static_cast<int>(10 * ratio()), markerY) == kBlue;
    }, 10s))
        << "no marker 10 logical pixels right of the pointer";
    // Overview point (300, 200) of 800 x 533 is picture point (1125, 750),
    // at the detail view's centre (104, 317 logical pixels in).
    const QPoint centre(static_cast<int>(104 * ratio()), static_cast<int>(317 * ratio()));
    EXPECT_TRUE(near(detailAt(centre.x(), centre.y(), ratio()), QPoint(1125, 750)))
        << detailAt(centre.x(), centre.y(), ratio()).x() << ", " << detailAt(centre.x(), centre.y(), ratio()).y();
    pointer(markerX, markerY, false);
}

INSTANTIATE_TEST_SUITE_P(Ratios, ScreenChange, ::testing::Values(2.0, 1.5),
    [](const ::testing::TestParamInfo<double>& info) { return info.param == 2.0 ? "Double" : "OneAndAHalf"; });

} // namespace
} // namespace korvane
