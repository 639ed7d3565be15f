#include "render/render.h"

#include "support.h"

#include "decode/row_fill.h"
#include "platform/pixel_ops.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>

namespace korvane {
namespace {

using test::coordinateColour;
using test::decodeCoordinate;
using test::pixelAt;
using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

struct OverviewCase {
    int width, height;        // picture, pixels
    Single panelW, panelH;    // overview, twips
};

class OverviewSize : public ::testing::TestWithParam<OverviewCase> {};

TEST_P(OverviewSize, FollowsTheLandscapeOrPortraitRule)
{
    const OverviewCase c = GetParam();
    PictureBox holder(1320, 840, 6285, 3870), overview(0, 0, 12000, 9000);
    holder.setPicture(test::pictureOfSize(c.width, c.height));
    render::RenderOverview(overview, holder);
    EXPECT_EQ(overview.Width(), c.panelW);
    EXPECT_EQ(overview.Height(), c.panelH);
    EXPECT_EQ(overview.backing().width(), twipsToPixels(c.panelW));
    EXPECT_EQ(overview.backing().height(), twipsToPixels(c.panelH));
}

INSTANTIATE_TEST_SUITE_P(Pictures, OverviewSize,
    ::testing::Values(OverviewCase{1600, 1200, 12000, 9000}, // reduced
        OverviewCase{1000, 2000, 4500, 9000},                // portrait
        OverviewCase{500, 500, 9000, 9000},                  // square is portrait
        OverviewCase{400, 300, 12000, 9000},                 // enlarged
        OverviewCase{4000, 3000, 12000, 9000}, OverviewCase{800, 600, 12000, 9000},
        OverviewCase{1280, 1024, 12000, 9600},               // 5:4 is taller than 600 px
        OverviewCase{601, 600, 12000, 11980.033203125f},     // one pixel wider than high
        OverviewCase{600, 601, 8985.025390625f, 9000}, OverviewCase{8000, 400, 12000, 600},
        OverviewCase{1024, 683, 12000, 8003.90625f}, OverviewCase{999, 700, 12000, 8408.408203125f}));

QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, x < width / 2 ? (y < height / 2 ? qRgb(255, 0, 0) : qRgb(0, 255, 0))
                                                : (y < height / 2 ? qRgb(0, 0, 255) : qRgb(255, 255, 0)));
    return image;
}

TEST(Overview, ShowsTheWholePictureFillingThePanel)
{
    PictureBox holder(0, 0, 1, 1), overview(0, 0, 12000, 9000);
    holder.setPicture(Picture(quadrants(3000, 1500)));
    render::RenderOverview(overview, holder);
    ASSERT_EQ(overview.backing().size(), QSize(800, 400));
    EXPECT_EQ(pixelAt(overview, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(pixelAt(overview, 799, 0), qRgb(0, 0, 255));
    EXPECT_EQ(pixelAt(overview, 0, 399), qRgb(0, 255, 0));
    EXPECT_EQ(pixelAt(overview, 799, 399), qRgb(255, 255, 0));
    EXPECT_EQ(pixelAt(overview, 200, 100), qRgb(255, 0, 0));
    EXPECT_EQ(pixelAt(overview, 600, 300), qRgb(255, 255, 0));
}

TEST(Overview, ReducesByAveragingAreasNotByPickingPixels)
{
    // A one-pixel checkerboard halved: every overview pixel is mid grey.
    QImage board(1600, 1200, QImage::Format_Grayscale8);
    for (int y = 0; y < board.height(); ++y)
        for (int x = 0; x < board.width(); ++x)
            board.scanLine(y)[x] = (x + y) % 2 ? 255 : 0;
    PictureBox holder(0, 0, 1, 1), overview(0, 0, 12000, 9000);
    holder.setPicture(Picture(board));
    render::RenderOverview(overview, holder);
    for (QPoint p : {QPoint(0, 0), QPoint(401, 299), QPoint(799, 599)}) {
        EXPECT_NEAR(qRed(pixelAt(overview, p.x(), p.y())), 128, 1) << p.x() << "," << p.y();
        EXPECT_EQ(qRed(pixelAt(overview, p.x(), p.y())), qBlue(pixelAt(overview, p.x(), p.y())));
    }
}

TEST(Overview, EnlargesWithFilteringNotBlocks)
{
    // A 400 x 300 picture, black left half, white right: the enlarged edge
    // passes through greys instead of jumping.
    QImage halves(400, 300, QImage::Format_RGB888);
    halves.fill(Qt::black);
    for (int y = 0; y < 300; ++y)
        for (int x = 200; x < 400; ++x)
            halves.setPixel(x, y, qRgb(255, 255, 255));
    PictureBox holder(0, 0, 1, 1), overview(0, 0, 12000, 9000);
    holder.setPicture(Picture(halves));
    render::RenderOverview(overview, holder);
    EXPECT_EQ(qRed(pixelAt(overview, 390, 300)), 0);
    EXPECT_EQ(qRed(pixelAt(overview, 410, 300)), 255);
    const int edge = qRed(pixelAt(overview, 399, 300)), after = qRed(pixelAt(overview, 400, 300));
    EXPECT_GT(edge, 0);
    EXPECT_LT(after, 255);
}

TEST(Overview, ZeroByZeroSourceIsAnInvalidOperationBeforeThePanelChanges)
{
    PictureBox holder(0, 0, 0, 0), overview(0, 0, 12000, 9000);
    EXPECT_EQ(test::kindRaisedBy([&] { render::RenderOverview(overview, holder); }), ErrorKind::InvalidOperation);
    EXPECT_EQ(overview.Width(), 12000);
    EXPECT_EQ(overview.Height(), 9000);
}

TEST(Overview, ZeroHeightSourceGivesAPanelOfHeightZero)
{
    PictureBox holder(0, 0, 300, 0), overview(0, 0, 12000, 9000);
    render::RenderOverview(overview, holder);
    EXPECT_EQ(overview.Width(), 12000);
    EXPECT_EQ(overview.Height(), 0);
}

TEST(Overview, IsPaintedOverWithoutClearing)
{
    // Where the painted picture does not reach, earlier drawing stays.
    PictureBox holder(0, 0, 1, 1), overview(0, 0, 12000, 9000);
    holder.setPicture(test::pictureOfSize(800, 600));
    overview.Cls();
    overview.Circle(6000, 4500, 150, 0xFF0000);
    render::RenderOverview(overview, holder);
    EXPECT_EQ(decodeCoordinate(pixelAt(overview, 410, 300)), QPoint(410, 300)); // covered
    overview.Circle(6000, 4500, 150, 0xFF0000);
    EXPECT_EQ(pixelAt(overview, 410, 300), qRgb(0, 0, 255));
}

class DetailView : public ::testing::Test {
protected:
    void SetUp() override { holder.setPicture(test::pictureOfSize(300, 700)); }
    void render(Long offsetX, Long offsetY, Long viewWidth = 200, Long viewHeight = 600)
    {
        render::RenderDetailView(detail, holder, offsetX, offsetY, viewWidth, viewHeight);
    }
    PictureBox holder{1320, 840, 6285, 3870};
    PictureBox detail{12000, 0, 3000, 9000};
};

TEST_F(DetailView, ShowsThePictureAtNaturalSizeFromItsTopLeftCorner)
{
    render(0, 0);
    ASSERT_EQ(detail.backing().size(), QSize(200, 600));
    for (QPoint p : {QPoint(0, 0), QPoint(199, 0), QPoint(0, 599), QPoint(123, 456), QPoint(199, 599)})
        EXPECT_EQ(decodeCoordinate(pixelAt(detail, p.x(), p.y())), p);
}

TEST_F(DetailView, ShowsTheOffsetPointAtTheTopLeftCorner)
{
    render(15 * 40, 15 * 90);
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 0, 0)), QPoint(40, 90));
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 150, 500)), QPoint(190, 590));
}

TEST_F(DetailView, ShowsTheNearestPixelForOffsetsBetweenPixels)
{
    render(7, 0);
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 0, 0)), QPoint(0, 0));
    render(8, 22);
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 0, 0)), QPoint(1, 1));
}

// The panel as its paint draws it from its description, onto red.
QImage drawnOnRed(const PictureBox& panel, QSize size)
{
    QImage screen(size, QImage::Format_RGB32);
    screen.fill(Qt::red);
    QPainter painter(&screen);
    panel.drawTo(painter, screen.rect(), 1.0);
    return screen;
}

TEST_F(DetailView, NegativeOffsetPutsThePictureInsideThePanelOnWhite)
{
    render(-15 * 100, -15 * 50);
    // Drawn from its description, the panel shows what its pixels hold,
    // the white around the picture included.
    const QImage screen = drawnOnRed(detail, QSize(200, 600));
    int differing = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 200; ++x)
            differing += (screen.pixel(x, y) | 0xFF000000) != pixelAt(detail, x, y);
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(pixelAt(detail, 99, 60), qRgb(255, 255, 255));
    EXPECT_EQ(pixelAt(detail, 120, 49), qRgb(255, 255, 255));
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 100, 50)), QPoint(0, 0));
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 199, 599)), QPoint(99, 549));
}

TEST_F(DetailView, AtTheLowerBoundShowsNoneOfThePicture)
{
    render(-3000, -9000);
    for (int y = 0; y < 600; y += 37)
        for (int x = 0; x < 200; x += 13)
            ASSERT_EQ(pixelAt(detail, x, y), qRgb(255, 255, 255));
}

TEST_F(DetailView, PastThePicturesEdgesShowsWhite)
{
    render(15 * 250, 15 * 650);
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 49, 49)), QPoint(299, 699));
    EXPECT_EQ(pixelAt(detail, 50, 10), qRgb(255, 255, 255));
    EXPECT_EQ(pixelAt(detail, 10, 50), qRgb(255, 255, 255));
    render(15 * 300, 0);
    EXPECT_EQ(pixelAt(detail, 0, 0), qRgb(255, 255, 255));
}

TEST_F(DetailView, ARegionFifteenTimesThePanelShowsTheSamePicture)
{
    // After a layout pass the stored size is in twips: 3000 x 9000.
    render(15 * 10, 15 * 20, 3000, 9000);
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 0, 0)), QPoint(10, 20));
    EXPECT_EQ(decodeCoordinate(pixelAt(detail, 199, 599)), QPoint(209, 619));
}

TEST_F(DetailView, OverflowingRegionClearsThePanelAndPaintsNothing)
{
    render(0, 0);
    EXPECT_EQ(test::kindRaisedBy([&] { render(0, 0, 143165577, 600); }), ErrorKind::Overflow);
    EXPECT_EQ(pixelAt(detail, 0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(pixelAt(detail, 100, 300), qRgb(255, 255, 255));
}

TEST_F(DetailView, EmptyPictureLeavesThePanelWhite)
{
    PictureBox emptyHolder(1320, 840, 6285, 3870);
    render::RenderDetailView(detail, emptyHolder, 0, 0, 200, 600);
    EXPECT_EQ(pixelAt(detail, 10, 10), qRgb(255, 255, 255));
}

TEST(Panel, KeepsWhatWasPaintedUntilClearedOrPaintedOver)
{
    PictureBox holder(0, 0, 1, 1), panel(0, 0, 1500, 1500);
    holder.setPicture(test::pictureOfSize(50, 50));
    panel.PaintPicture(holder.picture(), 0, 0, 750, 750, 0, 0, 750, 750);
    panel.setWidth(3000); // growing keeps the content and adds white
    EXPECT_EQ(decodeCoordinate(pixelAt(panel, 49, 49)), QPoint(49, 49));
    EXPECT_EQ(pixelAt(panel, 150, 10), qRgb(255, 255, 255));
    panel.Cls();
    EXPECT_EQ(pixelAt(panel, 49, 49), qRgb(255, 255, 255));
}

TEST(Panel, CircleIsAOnePixelOutlineInBgrColourLayout)
{
    PictureBox panel(0, 0, 1500, 1500);
    panel.Cls();
    panel.Circle(750, 750, 150, 0xFF0000);
    EXPECT_EQ(pixelAt(panel, 60, 50), qRgb(0, 0, 255));  // right
    EXPECT_EQ(pixelAt(panel, 40, 50), qRgb(0, 0, 255));  // left
    EXPECT_EQ(pixelAt(panel, 50, 40), qRgb(0, 0, 255));  // top
    EXPECT_EQ(pixelAt(panel, 50, 60), qRgb(0, 0, 255));  // bottom
    EXPECT_EQ(pixelAt(panel, 50, 50), qRgb(255, 255, 255)); // hollow
    EXPECT_EQ(pixelAt(panel, 59, 50), qRgb(255, 255, 255)); // one pixel wide
    EXPECT_EQ(pixelAt(panel, 61, 50), qRgb(255, 255, 255));
    panel.Circle(750, 750, 75, 0x0000FF);
    EXPECT_EQ(pixelAt(panel, 55, 50), qRgb(255, 0, 0));
}

TEST(Panel, ScaledCopyOfTheWholePictureIsMadeOnce)
{
    PictureBox holder(0, 0, 1, 1), overview(0, 0, 12000, 9000);
    holder.setPicture(test::pictureOfSize(1600, 1200));
    render::RenderOverview(overview, holder);
    const QImage first = holder.picture().scaledTo(800, 600); // kept: its memory is not reused
    render::RenderOverview(overview, holder);
    EXPECT_EQ(holder.picture().scaledTo(800, 600).constBits(), first.constBits());
}


// The loader makes a whole picture's overview while the program starts, at
// the size OverviewPixels gives: the overview drawn later finds it made,
// whatever the picture's proportions and the screen's ratio.
TEST(Panel, TheOverviewMadeAheadIsTheOneDrawn)
{
    for (const double ratio : {1.0, 1.25, 2.0})
        for (const auto& [width, height] : {std::pair{1600, 1200}, {1200, 1600}, {1000, 1000}, {1921, 1079}, {333, 777}, {4001, 17}}) {
            setDevicePixelRatio(ratio);
            PictureBox holder(0, 0, 1, 1), overview(0, 0, 12000, 9000);
            holder.setPicture(test::pictureOfSize(width, height));
            const auto [madeWidth, madeHeight] = render::OverviewPixels(width, height, ratio);
            holder.picture().makeOverviewAhead(madeWidth, madeHeight);
            const QImage made = holder.picture().scaledTo(madeWidth, madeHeight); // kept: its memory is not reused
            render::RenderOverview(overview, holder);
            EXPECT_EQ(holder.picture().scaledTo(madeWidth, madeHeight).constBits(), made.constBits())
                << width << " x " << height << " at " << ratio;
        }
    setDevicePixelRatio(1.0);
}

// A decoder as a test plays it: the first `early` rows of `final` into
// `image` at once, the rest once the test lets it go on (or given up when
// the picture goes first, as after a failed assertion).
struct ScriptedDecoder {
    ScriptedDecoder(const QImage& final, QImage& image, int early)
    {
        uchar* bits = image.bits(); // the decoder writes through this alone
        const qsizetype stride = image.bytesPerLine();
        std::shared_future<void> allowed = goOn.get_future().share();
        fill = std::make_shared<RowFill>(final.height(), [final, bits, stride, early, allowed](RowFill& rows) {
            const auto copyRows = [&](int first, int end) {
                for (int y = first; y < end; ++y)
                    std::memcpy(bits + y * stride, final.constScanLine(y), static_cast<std::size_t>(stride));
                rows.publish(end);
            };
            copyRows(0, early);
            while (allowed.wait_for(10ms) != std::future_status::ready)
                if (rows.stopRequested())
                    return;
            copyRows(early, final.height());
        });
    }
    std::promise<void> goOn;
    std::shared_ptr<RowFill> fill;
};

// A picture still decoding: its first 100 rows are in, the rest come when
// the test lets its decoder go on. A paint of the first rows does not wait;
// a paint of the later ones shows nothing until those rows exist, and then
// shows them final. The overview shown meanwhile is redone once it is whole.
TEST(Panel, APaintWaitsForThePictureRowsItNeeds)
{
    const QImage final = test::coordinateImage(400, 300);
    QImage image(final.size(), final.format());
    std::memset(image.bits(), 0, static_cast<std::size_t>(image.sizeInBytes()));
    ScriptedDecoder decoder(final, image, 100);
    const QImage earlyCopy = final.scaled(100, 75); // what a decoder's early copy looks like
    const Picture picture(image, earlyCopy, decoder.fill);
    decoder.fill->waitFor(100);

    PictureBox top(0, 0, 3000, 1500), bottom(0, 0, 3000, 1500), overview(0, 0, 1500, 1125);
    top.PaintPicture(picture, 0, 0, 3000, 1500, 0, 0, 3000, 1500);
    EXPECT_EQ(decodeCoordinate(pixelAt(top, 150, 99)), QPoint(150, 99));
    overview.PaintPicture(picture, 0, 0, 1500, 1125); // 100 x 75 from the early copy
    const QRgb early = picture.scaledTo(100, 75).pixel(50, 70) | 0xFF000000;

    auto painting = std::async(std::launch::async, [&] { bottom.PaintPicture(picture, 0, 0, 3000, 1500, 0, 3000, 3000, 1500); });
    EXPECT_EQ(painting.wait_for(100ms), std::future_status::timeout); // waits for rows 200 .. 299
    decoder.goOn.set_value();
    painting.get();
    EXPECT_EQ(decodeCoordinate(pixelAt(bottom, 150, 99)), QPoint(150, 299));
    EXPECT_EQ(decodeCoordinate(pixelAt(bottom, 399 - 250, 0)), QPoint(149, 200));

    ASSERT_TRUE(waitUntil([&] { return picture.isComplete(); }));
    overview.refreshProvisional();
    const QRgb exact = scaleSmooth(final, 100, 75).pixel(50, 70);
    EXPECT_EQ(pixelAt(overview, 50, 70), exact | 0xFF000000);
    EXPECT_NE(early, exact | 0xFF000000);
}

// Time for a held decoder to run on, were it not held: as long as a
// decoder started after it takes to publish all its rows.
void letAnotherDecoderRun()
{
    RowFill other(64, [](RowFill& rows) {
        for (int y = 1; y <= 64; ++y)
            rows.publish(y);
    });
    other.waitFor(64);
}

// A decoder held after the first frame's rows waits there until it is
// released, until rows past them are wanted, or until it is stopped: a
// wait for the held rows alone does not set it going.
TEST(Panel, AHeldDecoderGoesOnOnlyWhenReleasedOrWhenLaterRowsAreWanted)
{
    const auto publishEachRow = [](RowFill& rows) {
        for (int y = 1; y <= 64 && !rows.stopRequested(); ++y)
            rows.publish(y);
    };
    RowFill released(64, publishEachRow, 16);
    released.waitFor(16);
    letAnotherDecoderRun();
    EXPECT_EQ(released.rowsReady(), 16);
    released.release();
    EXPECT_TRUE(waitUntil([&] { return released.complete(); }));

    RowFill wanted(64, publishEachRow, 16);
    wanted.waitFor(40);
    EXPECT_GE(wanted.rowsReady(), 40);

    RowFill stopped(64, publishEachRow, 16);
    stopped.waitFor(16);
    stopped.stop(); // returns: the held decoder sees the request
    EXPECT_EQ(stopped.rowsReady(), 16);
}

// During the program's start-up, the same decoder waits to start until
// the window is built, and after the first frame's rows until that frame
// is shown, though the overview's copy is made (released) meanwhile.
TEST(Panel, DuringStartUpAHeldDecoderWaitsForTheWindowThenForTheFirstFrame)
{
    std::atomic<bool> started = false;
    const auto publishEachRow = [&](RowFill& rows) {
        started = true;
        for (int y = 1; y <= 64 && !rows.stopRequested(); ++y)
            rows.publish(y);
    };
    RowFill::startupBegins();
    RowFill fill(64, publishEachRow, 16);
    letAnotherDecoderRun();
    EXPECT_FALSE(started) << "started while the window was being built";
    RowFill::windowBuilt();
    EXPECT_TRUE(waitUntil([&] { return fill.rowsReady() == 16; }));
    fill.release();
    letAnotherDecoderRun();
    EXPECT_EQ(fill.rowsReady(), 16) << "went on before the first frame was shown";
    RowFill::firstFrameShown();
    EXPECT_TRUE(waitUntil([&] { return fill.complete(); }));
}

// A picture handed over without an early copy: the overview shows the
// blocks its final rows complete, white below them, grows as rows come,
// and is made exactly once the picture is whole.
TEST(Panel, AnOverviewWithoutAnEarlyCopyGrowsWithTheRows)
{
    QImage final(400, 300, QImage::Format_RGB888);
    for (int y = 0; y < final.height(); ++y)
        for (int x = 0; x < final.width(); ++x)
            final.setPixel(x, y, qRgb(x * 255 / 399, y * 255 / 299, 128));
    QImage image(final.size(), final.format());
    ScriptedDecoder decoder(final, image, 150);
    const Picture picture(image, decoder.fill, 4);
    decoder.fill->waitFor(150);

    PictureBox overview(0, 0, 1500, 1125); // 100 x 75
    overview.PaintPicture(picture, 0, 0, 1500, 1125);
    const QImage exact = scaleSmooth(final, 100, 75);
    const auto near = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 3 && std::abs(qGreen(a) - qGreen(b)) <= 3 && std::abs(qBlue(a) - qBlue(b)) <= 3;
    };
    EXPECT_TRUE(near(pixelAt(overview, 60, 20), exact.pixel(60, 20)));
    EXPECT_EQ(pixelAt(overview, 60, 60), qRgb(255, 255, 255));

    decoder.goOn.set_value();
    ASSERT_TRUE(waitUntil([&] { return picture.isComplete(); }));
    overview.refreshProvisional();
    for (QPoint p : {QPoint(60, 20), QPoint(60, 60), QPoint(99, 74)})
        EXPECT_EQ(pixelAt(overview, p.x(), p.y()), exact.pixel(p) | 0xFF000000);
}

TEST(Overview, HalfTransparentEdgesBlendIntoWhiteWithoutFringes)
{
    // A red disc with a soft edge, on a transparent background whose hidden
    // colour is black on one half and green on the other.
    QImage image(1000, 500, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const double distance = std::hypot(x - 500.0, y - 250.0);
            const int alpha = std::clamp(int(std::lround((200 - distance) * 8)), 0, 255);
            image.setPixel(x, y, alpha > 0 ? qRgba(255, 0, 0, alpha) : x < 500 ? qRgba(0, 0, 0, 0) : qRgba(0, 255, 0, 0));
        }
    PictureBox holder(1320, 840, 6285, 3870), overview(0, 0, 12000, 9000);
    holder.setPicture(LoadPicture(test::writeImage(image, "soft.png", "png")));
    render::RenderOverview(overview, holder);
    const QImage& shown = overview.backing();
    ASSERT_EQ(shown.size(), QSize(800, 400));
    int blended = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            // Every pixel lies between red and white: no dark or green rim.
            const QRgb pixel = shown.pixel(x, y);
            ASSERT_GE(qRed(pixel), 254) << x << "," << y;
            ASSERT_NEAR(qGreen(pixel), qBlue(pixel), 1) << x << "," << y;
            blended += qGreen(pixel) > 20 && qGreen(pixel) < 235;
        }
    EXPECT_GT(blended, 100); // the soft edge is there
}

} // namespace
} // namespace korvane
