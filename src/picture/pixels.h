#pragma once
// Rectangles of a picture and the pixels that fill them, as the picture's
// sources, its scaling and the panels pass them: grey or RGB pixels one
// byte a channel, and the panels' own 32-bit pixels.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvane {

struct PixelRect {
    int x = 0, y = 0, width = 0, height = 0;
    bool isEmpty() const { return width <= 0 || height <= 0; }
    int right() const { return x + width; }   // one past the last column
    int bottom() const { return y + height; } // one past the last row
    bool operator==(const PixelRect&) const = default;
    // An empty rectangle lies inside none.
    bool contains(const PixelRect& other) const
    {
        return !isEmpty() && !other.isEmpty() && other.x >= x && other.y >= y && other.right() <= right()
            && other.bottom() <= bottom();
    }
    PixelRect operator&(const PixelRect& other) const
    {
        const int left = std::max(x, other.x), top = std::max(y, other.y);
        const int width1 = std::min(right(), other.right()) - left, height1 = std::min(bottom(), other.bottom()) - top;
        return width1 > 0 && height1 > 0 ? PixelRect{left, top, width1, height1} : PixelRect{};
    }
    PixelRect grownBy(int margin) const { return {x - margin, y - margin, width + 2 * margin, height + 2 * margin}; }
};

// Pixels held elsewhere: rows `stride` bytes apart, `channels` bytes a
// pixel (1, grey, or 3, RGB).
struct PixelView {
    const std::uint8_t* bits = nullptr;
    std::size_t stride = 0;
    int width = 0, height = 0, channels = 3;
    bool isNull() const { return bits == nullptr; }
    const std::uint8_t* row(int y) const { return bits + std::size_t(y) * stride; }
};

// A view and whatever keeps its pixels alive.
struct HeldPixels {
    PixelView view;
    std::shared_ptr<const void> owner;
};

// Pixels of the picture's own: `channels` bytes a pixel (1 grey, 3 RGB),
// rows on 4-byte boundaries, as the panels' images want them. Left unwritten when made: whoever makes one
// fills it, and pages never written are never faulted in.
struct PixelBuffer {
    PixelBuffer(int width1, int height1, int channels1)
        : width(width1), height(height1), channels(channels1),
          stride((std::size_t(width1) * std::size_t(channels1) + 3) & ~std::size_t(3)),
          bytes(std::make_unique_for_overwrite<std::uint8_t[]>(stride * std::size_t(height1)))
    {
    }
    int width, height, channels;
    std::size_t stride;
    std::unique_ptr<std::uint8_t[]> bytes;
    PixelView view() const { return {bytes.get(), stride, width, height, channels}; }
    std::uint8_t* row(int y) { return bytes.get() + std::size_t(y) * stride; }
    const std::uint8_t* row(int y) const { return bytes.get() + std::size_t(y) * stride; }
};

// Pixels as the panels hold them: 0xFFRRGGBB, one 32-bit word each.
struct PanelPixels {
    int width = 0, height = 0;
    std::unique_ptr<std::uint32_t[]> words;
    bool isNull() const { return !words; }
};

} // namespace korvane
