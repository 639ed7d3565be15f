#pragma once
// JPEG 2000 through OpenJPEG: the codestream's SIZ marker read by the
// program itself (so that its claims are checked before OpenJPEG allocates
// for them), one decoder over the file, and its decoded components made
// into rows of 8-bit grey or RGB over white.
#include "decode_limits.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <openjpeg.h>

namespace korvane {

// What the SIZ marker says, in reference-grid pixels.
struct Jp2Size {
    bool container = false; // JP2 boxes around the codestream
    std::int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::int64_t tileX0 = 0, tileY0 = 0, tileWidth = 0, tileHeight = 0;
    struct Component {
        int depth = 8, dx = 1, dy = 1;
        bool isSigned = false;
    };
    std::vector<Component> components;

    std::int64_t width() const { return x1 - x0; }
    std::int64_t height() const { return y1 - y0; }
    std::int64_t tilesAcross() const;
    std::int64_t tilesDown() const;
    // One tile, or tiles whose grid starts at the picture's own corner.
    bool tilesAlignWithPicture() const { return tileX0 == x0 && tileY0 == y0; }
};

// The SIZ of a JP2 file or a raw codestream; nothing when there is none.
std::optional<Jp2Size> readJp2Size(int fd, std::int64_t fileBytes);

// Raises the file error a SIZ's claims call for: sides, tiles, components
// and depths a picture can have.
void checkJp2Size(const std::string& path, const Jp2Size& size);

// An OpenJPEG decoder with its own stream over the file.
class Jp2Codec {
public:
    // `reduce`: each step halves the sides decoded. `threads`: OpenJPEG's own.
    Jp2Codec(int fd, std::int64_t fileBytes, bool container, int reduce = 0, int threads = 1);
    ~Jp2Codec();
    Jp2Codec(const Jp2Codec&) = delete;
    Jp2Codec& operator=(const Jp2Codec&) = delete;

    // The header: false when OpenJPEG cannot read it.
    bool readHeader();
    // Decodes the whole picture, an area of it (reference-grid pixels), or
    // one tile of its grid; false when nothing could be decoded.
    bool decodeAll();
    bool decodeArea(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1);
    bool decodeTile(int index);

    const opj_image_t* image() const { return m_image; }
    // How many times the sides can be halved, once the header is read; and
    // halving them that many times in what is decoded from then on.
    int reductions() const;
    bool reduceTo(int reduce);
    // The last error OpenJPEG gave, for the reason.
    const std::string& message() const { return m_message; }

private:
    struct File {
        int fd = -1;
        std::int64_t size = 0, offset = 0;
    };
    File m_file;
    opj_stream_t* m_stream = nullptr;
    opj_codec_t* m_codec = nullptr;
    opj_image_t* m_image = nullptr;
    std::string m_message;
};

// How the decoded components are shown.
struct Jp2Colour {
    int channels = 3; // output: 1 (grey) or 3 (RGB)
    int alpha = -1;   // the component laid over white, or -1
    bool ycc = false; // sYCC or e-YCC, made into RGB
    int colourComponents() const { return channels == 1 ? 1 : 3; }
};
Jp2Colour colourOf(const opj_image_t& image);

// OpenJPEG's threads, or the decoders a picture read in tiles keeps: one a
// core, at most 8.
int jp2Threads();

// The pixels from x0 to x1 (reference grid) span, their sides halved
// `reduce` times: the level's own rounding, up at both ends.
int reducedSpan(std::int64_t x0, std::int64_t x1, unsigned reduce);

// The decoded area's sides in pixels, at the resolution decoded.
int decodedWidth(const opj_image_t& image);
int decodedHeight(const opj_image_t& image);

// Writes the decoded area's rows (reference-grid area `x0, y0, width x
// height`, divided by 2^reduce), `stride` bytes apart, into `out`.
void putJp2Rows(const opj_image_t& image, const Jp2Colour& colour, std::uint8_t* out, std::size_t stride);

// The ICC profile of the `colr` box, once decoded; empty when none.
QByteArray iccProfileOf(const opj_image_t& image);

} // namespace korvane
