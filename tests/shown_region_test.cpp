// The area a panel last showed, kept between paints: over a source whose
// pixels encode their position, every step of a drag and a jump shows
// each pixel right, a source made as read is asked only for what a step
// uncovers, and pixels a caller still holds are never written over.
#include "picture/shown_region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace korvane {
namespace {

// Pixel (x, y) is RGB (x, y, x + y) modulo 256, counted as read.
class CountingSource final : public PictureSource {
public:
    explicit CountingSource(bool keeps) : m_keeps(keeps) {}
    int width() const override { return 5000; }
    int height() const override { return 4000; }
    int channels() const override { return 3; }
    bool keepsDecodedPixels() const override { return m_keeps; }
    void read(const PixelRect& area, std::uint8_t* out, std::size_t stride) override
    {
        pixelsRead += static_cast<long long>(area.width) * area.height;
        for (int y = 0; y < area.height; ++y)
            for (int x = 0; x < area.width; ++x)
                std::copy_n(expected(area.x + x, area.y + y).begin(), 3, out + std::size_t(y) * stride + 3 * std::size_t(x));
    }
    static std::array<std::uint8_t, 3> expected(int x, int y)
    {
        return {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x + y)};
    }
    long long pixelsRead = 0;

private:
    bool m_keeps;
};

// How many pixels of `shown` hold the wrong colour.
int wrongPixels(const ShownRegion::Pixels& pixels, const PixelRect& shown)
{
    const PixelBuffer& buffer = *pixels.pixels;
    if (!PixelRect{pixels.originX, pixels.originY, buffer.width, buffer.height}.contains(shown))
        return shown.width * shown.height;
    int wrong = 0;
    for (int y = shown.y; y < shown.bottom(); ++y)
        for (int x = shown.x; x < shown.right(); ++x) {
            const std::uint8_t* p = buffer.row(y - pixels.originY) + 3 * std::size_t(x - pixels.originX);
            wrong += !std::equal(p, p + 3, CountingSource::expected(x, y).begin());
        }
    return wrong;
}

TEST(ShownRegion, DragStepsAndJumpsShowEveryPixelAndReadOnlyWhatIsUncovered)
{
    const std::vector<PixelRect> steps = {
        {100, 100, 800, 600}, {107, 103, 800, 600}, {87, 118, 800, 600}, {300, 500, 800, 600}, // drag
        {0, 0, 800, 600}, {4200, 3400, 800, 600},  // far jumps, the second against the far corner
        {4190, 3390, 810, 610},                    // a wider view, cut by the picture
    };
    for (const bool keeps : {false, true}) {
        CountingSource source(keeps);
        ShownRegion region(source);
        PixelRect last;
        std::shared_ptr<const PixelBuffer> held;
        std::vector<std::uint8_t> heldBytes;
        const auto bytesOf = [](const PixelBuffer& buffer) {
            return std::vector<std::uint8_t>(buffer.row(0), buffer.row(buffer.height));
        };
        for (const PixelRect& shown : steps) {
            const long long before = source.pixelsRead;
            const ShownRegion::Pixels pixels = region.pixelsFor(shown);
            ASSERT_TRUE(pixels.pixels) << keeps;
            const PixelRect inside = shown & PixelRect{0, 0, 5000, 4000};
            EXPECT_EQ(wrongPixels(pixels, inside), 0) << keeps << " at " << shown.x << ", " << shown.y;
            const PixelRect shared = inside & last;
            if (!keeps) { // made as read: exactly the pixels not shown before
                EXPECT_EQ(source.pixelsRead - before, static_cast<long long>(inside.width) * inside.height
                        - static_cast<long long>(shared.width) * shared.height) << shown.x << ", " << shown.y;
            }
            last = inside;
            if (!held) { // a panel keeps the first one: it is never written over
                held = pixels.pixels;
                heldBytes = bytesOf(*held);
            }
        }
        EXPECT_EQ(bytesOf(*held), heldBytes) << keeps;
        // Kept tiles: a step inside the margin of the last drag reads nothing.
        if (keeps) {
            region.pixelsFor({300, 500, 800, 600});
            region.pixelsFor({310, 505, 800, 600});
            const long long before = source.pixelsRead;
            const ShownRegion::Pixels pixels = region.pixelsFor({315, 509, 800, 600});
            EXPECT_EQ(source.pixelsRead, before);
            EXPECT_EQ(wrongPixels(pixels, {315, 509, 800, 600}), 0);
        }
    }
}

} // namespace
} // namespace korvane
