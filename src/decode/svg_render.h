#pragma once
// An SVG document through librsvg, as the desktop draws it: parsed with no
// base file, so nothing outside the document is read (librsvg resolves only
// `data:` references without one), and drawn over white into rows of RGB,
// whole, at a scale, or area by area for a picture too large to hold.
#include "tile_source.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <string>

namespace korvane {

class SvgDocument {
public:
    // Null, with `error` set, when librsvg cannot parse the document.
    static std::unique_ptr<SvgDocument> parse(const QByteArray& document, std::string& error);
    ~SvgDocument();
    SvgDocument(const SvgDocument&) = delete;
    SvgDocument& operator=(const SvgDocument&) = delete;

    // Its size in pixels: its width and height, else its viewBox; false
    // when it has neither.
    bool size(double& width, double& height) const;
    // Draws the document, `scale` pixels a document pixel, so that its
    // point (x, y) (in scaled pixels) lands on the top-left of the rows:
    // `width` x `height` RGB pixels over white, `stride` bytes apart.
    bool render(double x, double y, double scale, double documentWidth, double documentHeight, int width, int height,
        std::uint8_t* out, std::size_t stride) const;

private:
    explicit SvgDocument(void* handle) : m_handle(handle) {}
    void* m_handle; // RsvgHandle
};

// A document too large to draw whole: tiles drawn where shown, each by a
// parse of the document of its own thread's.
std::shared_ptr<TileSource> svgTiles(const QByteArray& document, int width, int height, double documentWidth,
    double documentHeight);

// The whole document drawn at `scale`, as one tile (its top half from
// `document`, its bottom half from a parse of `bytes` of its own thread).
std::shared_ptr<TileSource> svgOverview(const QByteArray& bytes, const SvgDocument& document, double documentWidth,
    double documentHeight, double scale);

} // namespace korvane
