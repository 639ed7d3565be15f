// GIF, through giflib: the first frame laid on its logical screen. Qt's
// reader holds the screen at 4 bytes a pixel and then the picture at 3, and
// refuses screens it cannot allocate at once; here the screen is the
// picture's own rows, each written once, at 3 bytes a pixel. Where the
// frame does not cover the screen, and at its transparent colour, the
// picture is white, as everywhere a picture is transparent. A file cut
// short shows the rows it holds, the rest white.
#include "decoders.h"
#include "texts.h"

#include "buffered_reader.h"
#include "decode_error.h"
#include "decode_limits.h"
#include "framed_screen.h"
#include "row_sink.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace korvane {

namespace {

constexpr int kLargestSide = 65535; // the format's 16-bit sides

struct GifCloser {
    void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
using GifHandle = std::unique_ptr<GifFileType, GifCloser>;

int readThroughBuffer(GifFileType* gif, GifByteType* out, int count)
{
    auto* reader = static_cast<BufferedReader*>(gif->UserData);
    return count > 0 && reader->read(out, std::size_t(count)) ? count : 0;
}

[[noreturn]] void refuse(const std::string& path, int error)
{
    const char* text = GifErrorString(error);
    raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(text ? text : "GIF error"));
}

using Palette = std::array<std::array<uchar, 3>, 256>;

// The frame's colours (its own table, else the screen's), the transparent
// one white; indices past the table are black.
Palette paletteOf(const GifFileType& gif, int transparent)
{
    Palette palette{};
    const ColorMapObject* map = gif.Image.ColorMap ? gif.Image.ColorMap : gif.SColorMap;
    const int count = map ? std::clamp(map->ColorCount, 0, 256) : 0;
    for (int i = 0; i < count; ++i)
        palette[std::size_t(i)] = {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
    if (transparent >= 0 && transparent < 256)
        palette[std::size_t(transparent)] = {255, 255, 255};
    return palette;
}

// Reads extensions up to the first image's descriptor; the transparent
// colour of the control block before it, or -1. False when the file has no
// image.
bool findFirstImage(GifFileType* gif, int& transparent, const std::string& path)
{
    transparent = -1;
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR)
            refuse(path, gif->Error);
        if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(gif) == GIF_ERROR)
                refuse(path, gif->Error);
            return true;
        }
        if (type != EXTENSION_RECORD_TYPE)
            return false;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR)
            refuse(path, gif->Error);
        GraphicsControlBlock control{};
        if (code == GRAPHICS_EXT_FUNC_CODE && block && DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
            transparent = control.TransparentColor;
        while (block)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR)
                refuse(path, gif->Error);
    }
}

// The frame's indices, row by row as the file gives them.
class FrameRows {
public:
    FrameRows(GifFileType* gif, const GifImageDesc& frame) : m_gif(gif), m_frame(frame)
    {
        if (frame.Interlace) {
            m_all.resize(std::size_t(frame.Width) * std::size_t(frame.Height));
            m_decoded.assign(std::size_t(frame.Height), false);
            readInterlaced();
        } else {
            m_all.resize(std::size_t(frame.Width));
            m_firstReady = readLine(m_all.data());
        }
    }

    // Row y of the frame, y counting up from 0 one row at a time; null
    // where the file ended before it. An interlaced frame cut short shows
    // the nearest row above of the passes it has, as it drew while loading.
    const GifPixelType* row(int y)
    {
        if (!m_frame.Interlace) {
            if (y == 0 && m_firstReady)
                return m_all.data();
            return readLine(m_all.data()) ? m_all.data() : nullptr;
        }
        for (int above = y; above >= 0 && y - above < 8; --above)
            if (m_decoded[std::size_t(above)])
                return m_all.data() + std::size_t(above) * std::size_t(m_frame.Width);
        return nullptr;
    }
    int rowsRead() const { return m_rowsRead; }

private:
    // False from the first row the file cannot give on.
    bool readLine(GifPixelType* line)
    {
        if (m_ended || DGifGetLine(m_gif, line, m_frame.Width) == GIF_ERROR) {
            m_ended = true;
            return false;
        }
        ++m_rowsRead;
        return true;
    }

    void readInterlaced()
    {
        constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int y = kStart[pass]; y < m_frame.Height; y += kStep[pass]) {
                if (!readLine(m_all.data() + std::size_t(y) * std::size_t(m_frame.Width)))
                    return;
                m_decoded[std::size_t(y)] = true;
            }
    }

    GifFileType* m_gif;
    const GifImageDesc m_frame;
    std::vector<GifPixelType> m_all;
    std::vector<bool> m_decoded;
    int m_rowsRead = 0;
    bool m_ended = false, m_firstReady = false;
};

// A screen beyond the picture cache around a frame far smaller than it is
// read in tiles, made where they are read.
bool screenFarLargerThanFrame(int width, int height, const GifImageDesc& frame, const FileFacts& facts)
{
    const double cacheBytes = double(pictureCacheBytes(facts.availableBytes));
    return double(width) * double(height) * 3 > cacheBytes && double(frame.Width) * double(frame.Height) * 3 * 4 <= cacheBytes;
}

// The frame in RGB; rows the file does not hold are white.
std::vector<std::uint8_t> frameColours(FrameRows& rows, const GifImageDesc& frame, const Palette& palette)
{
    std::vector<std::uint8_t> pixels(std::size_t(frame.Width) * std::size_t(frame.Height) * 3, 0xFF);
    for (int y = 0; y < frame.Height; ++y) {
        const GifPixelType* indices = rows.row(y);
        if (!indices)
            break;
        std::uint8_t* pixel = pixels.data() + std::size_t(y) * std::size_t(frame.Width) * 3;
        for (int x = 0; x < frame.Width; ++x, pixel += 3)
            std::memcpy(pixel, palette[indices[x]].data(), 3);
    }
    return pixels;
}

} // namespace

bool looksLikeGif(std::span<const unsigned char> head)
{
    return head.size() >= 6 && (std::memcmp(head.data(), "GIF87a", 6) == 0 || std::memcmp(head.data(), "GIF89a", 6) == 0);
}

DecodedPicture decodeGif(int fd, const std::string& path, const FileFacts& facts)
{
    BufferedReader reader(fd, 0);
    int error = 0;
    GifHandle gif(DGifOpen(&reader, readThroughBuffer, &error));
    if (!gif)
        refuse(path, error);
    int transparent = -1;
    if (!findFirstImage(gif.get(), transparent, path))
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "it holds no frame")));
    const GifImageDesc frame = gif->Image;
    checkSides(path, frame.Width, frame.Height, kLargestSide);
    // A frame that reaches past its screen widens it, as viewers show it.
    const int width = std::max(gif->SWidth, frame.Left + frame.Width);
    const int height = std::max(gif->SHeight, frame.Top + frame.Height);
    checkSides(path, width, height, 2 * qint64(kLargestSide));
    // An interlaced frame is held whole, a byte a pixel, until its last pass.
    const bool framed = screenFarLargerThanFrame(width, height, frame, facts);
    checkFitsInMemory(path, framed ? frame.Width : width, framed ? frame.Height : height,
        PeakBytes{frame.Interlace ? 4 : 3, 1}, facts);
    // The frame's first row is read before the screen is taken: a file that
    // holds none is refused without whitening gigabytes for it.
    FrameRows frameRows(gif.get(), frame);
    if (frameRows.rowsRead() == 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "the file ends before its first row")));
    const Palette palette = paletteOf(*gif, transparent);
    if (framed)
        return DecodedPicture::inTiles(framedScreen(width, height, {frame.Left, frame.Top, frame.Width, frame.Height},
                                           frameColours(frameRows, frame, palette)),
            1);
    RowSink sink(path, width, height, 1, 3);
    const std::size_t rowBytes = std::size_t(width) * 3;
    for (int y = 0; y < height; ++y) {
        uchar* row = sink.nextPictureRow();
        std::memset(row, 255, rowBytes);
        const bool inFrame = y >= frame.Top && y < frame.Top + frame.Height;
        if (const GifPixelType* indices = inFrame ? frameRows.row(y - frame.Top) : nullptr) {
            uchar* pixel = row + std::size_t(frame.Left) * 3;
            for (int x = 0; x < frame.Width; ++x, pixel += 3)
                std::memcpy(pixel, palette[indices[x]].data(), 3);
        }
        sink.put(row, facts);
    }
    return sink.finish();
}

} // namespace korvane
