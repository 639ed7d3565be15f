#pragma once
// A picture as the loader hands it over, for the panels: a source of the
// rectangles they show and of its scaled copies, as Qt images. Pixels are
// kept at their own size in a compact form (a colour JPEG as its Y, Cb and
// Cr planes, a picture too large to hold as tiles decoded on demand) and
// made into RGB where drawn; the handle is 0 only for the empty picture.
#include "numeric.h"

#include "decode/load_progress.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QImage;
class QRect;

namespace korvane {

class RowFill;
class TiledPicture;
class YcbcrPicture;

class Picture {
public:
    Picture(); // the empty picture
    // Takes an image already in a display format (RGB888 or Grayscale8),
    // and optionally the same image averaged over blocks of pixels, from
    // which small scaled copies are made faster.
    explicit Picture(QImage image);
    Picture(QImage image, const QImage& reduced);
    // A picture handed over before it is whole: `fill` says which of the
    // image's rows are final; the rest are still being decoded.
    Picture(QImage image, const QImage& reduced, std::shared_ptr<RowFill> fill);
    // The same without an early copy: the overview grows from the final
    // rows, averaged over blocks of `block` pixels, until the image is whole.
    Picture(QImage image, std::shared_ptr<RowFill> fill, int block);
    // A colour JPEG as its planes; `early` and `fill` as above.
    Picture(const std::shared_ptr<const YcbcrPicture>& planes, const QImage& early, std::shared_ptr<RowFill> fill);
    // A picture too large to hold, read in tiles where drawn; `overview` is
    // a small copy of it (a reduced level, or block averages), from which
    // the overview is scaled.
    Picture(std::shared_ptr<TiledPicture> tiles, const QImage& overview);
    // One whose overview grows as the tiles' averaging pass reads them:
    // the picture is complete once the pass has ended.
    explicit Picture(const std::shared_ptr<TiledPicture>& tiles);

    Long Handle() const;
    bool isEmpty() const { return !m_data; }
    int pixelWidth() const;
    int pixelHeight() const;
    // The whole image, once every row is final. A picture kept as planes
    // is made into RGB whole here, once: the panels never ask for it. A
    // picture read in tiles has none (a null image).
    const QImage& image() const;
    // Pixels that hold `area` of the picture, once they are final: an
    // image whose pixel (0, 0) is picture pixel (originX, originY). Whoever
    // draws a part of the picture waits here for the rows that part needs,
    // and no longer.
    // The image stays as it is until the next call; a panel may keep a
    // copy of it.
    // With `waitForPasses` false, a picture read in tiles leaves white,
    // rather than wait for, the tiles a pass over its file has not reached
    // yet (a large PNG read once from the top, a JPEG's index), and says
    // so: such a part is not final.
    struct Pixels {
        const QImage& image;
        int originX = 0, originY = 0;
        bool complete = true;
    };
    Pixels pixelsFor(const QRect& area, bool waitForPasses = true) const;

    // The whole picture smoothly scaled to width x height pixels, in the
    // panels' pixel format. Computed once per size and kept. While the
    // picture still decodes, this is made from an early copy and is within
    // a few levels of the final one, except at sharp edges.
    const QImage& scaledTo(int width, int height) const;
    // Made ahead, on the loading thread, so that scaledTo finds it.
    void makeOverviewAhead(int width, int height) const;

    // Every row is decoded, and the overview made from them (always, for a
    // picture loaded whole).
    bool isComplete() const;
    // Runs `callback` once the picture is complete: on its decoder's
    // thread, or at once.
    void whenComplete(std::function<void()> callback) const;

private:
    struct Data;

    std::shared_ptr<Data> m_data;
};

// Loads the picture in the file at path (bytes, as given on the command
// line). An empty path gives the empty picture. Any other failure raises a
// file error naming the path and the reason.
Picture LoadPicture(const std::string& path);

// The MIME types of the pictures LoadPicture reads on this machine, sorted:
// those of its own decoders and of the Qt readers it uses.
std::vector<std::string> ReadableMimeTypes();

// Starts loading a JPEG or PNG at path on a thread of its own, so that the
// decoding runs while the rest of the program starts; the next
// LoadPicture of the same path waits for it and returns its picture (or
// raises its error) as if it had loaded it itself. Other paths and formats
// are left to LoadPicture.
// With `overviewSize`, a picture decoded whole also gets its overview made
// there, at the width and height `overviewSize` gives for its pixel sides:
// the panel then finds it made. Returns true when the load it started is
// long enough to keep a core busy past Qt's own start-up (a file of a
// megabyte or more).
using OverviewSize = std::function<std::pair<int, int>(int width, int height)>;
bool PreloadPicture(const std::string& path, OverviewSize overviewSize = {});

// The program's start-up, which a picture still decoding beside it gives
// way to: a large JPEG's whole decode waits to start until the window is
// built (or its overview's copy is made), and pauses after the first
// frame's rows until that frame is on the screen. Called by main before
// the preload, then by the window; without it nothing waits for them.
void StartupBegins();
void StartupWindowBuilt();
void StartupFirstFrameShown();

// Waits for a load running on its loading thread: `finished(wait)` waits up
// to `wait` and says whether the load is done. Without a waiter the load
// is simply waited for; the application sets one that shows the load's
// progress when it takes long.
using LoadWaiter = std::function<void(const std::string& path, const LoadProgress& progress,
    const std::function<bool(std::chrono::milliseconds wait)>& finished)>;
void setLoadWaiter(LoadWaiter waiter);

} // namespace korvane
