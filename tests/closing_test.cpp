// Closing while a panel waits for tiles: the program's window may be
// waiting for a tile far ahead of the overview's pass when SIGTERM comes.
#include "picture/tiled_picture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

namespace korvane {
namespace {

// A source read in order whose reads never end until cancelled, as a band
// far down a huge PNG takes the pass minutes to reach.
class EndlessSource final : public TileSource {
public:
    TileLayout layout() const override { return {64, 64, 64, 8, 3}; }
    bool readsInOrder() const override { return true; }
    bool readTile(int, int, std::uint8_t*, std::size_t) override
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_cancelled; });
        return false;
    }
    void cancel() override
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_cancelled = false;
};

TEST(Closing, AReadWaitingForThePassEndsWhiteOnceEveryReadIsCancelled)
{
    TiledPicture picture(std::make_shared<EndlessSource>(), 1, std::size_t(1) << 20, 2);
    picture.startAveraging(8);
    std::future<std::uint8_t> read = std::async(std::launch::async, [&] {
        std::vector<std::uint8_t> pixels(64 * 8 * 3, 0);
        picture.read({0, 56, 64, 8}, pixels.data(), 64 * 3);
        return pixels[0];
    });
    EXPECT_EQ(read.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout) << "did not wait";
    TiledPicture::cancelEveryRead();
    ASSERT_EQ(read.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(read.get(), 0xFF);
}

} // namespace
} // namespace korvane
