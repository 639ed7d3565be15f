#pragma once
// A colour JPEG kept as its decoder leaves it: the Y, Cb and Cr planes,
// the colour ones at their own reduced size (a 4:2:0 photo in half the
// memory of its RGB pixels), and made into RGB only where it is shown.
#include "colour_profile.h"

#include <QImage>
#include <QRect>

#include <memory>

struct jpeg_decompress_struct;

namespace korvane {

class YcbcrPlanes {
public:
    // True for a YCbCr file whose colour planes are sampled 4:4:4, 4:2:2,
    // 4:2:0, 4:4:0 or 4:1:1.
    static bool suits(const jpeg_decompress_struct& cinfo);
    // Bytes a pixel the planes take, rounded up.
    static int bytesPerPixel(const jpeg_decompress_struct& cinfo);
    // Planes for the file being decoded (after its header is read); null
    // when the memory is not there. Set raw output before the decode starts.
    static std::unique_ptr<YcbcrPlanes> forFile(const jpeg_decompress_struct& cinfo);
    ~YcbcrPlanes();
    YcbcrPlanes(const YcbcrPlanes&) = delete;
    YcbcrPlanes& operator=(const YcbcrPlanes&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    // Decodes the next band of rows (16 at most); false once the decoder
    // gives no more.
    bool readBand(jpeg_decompress_struct& cinfo);
    int rowsDone() const { return m_rowsDone; }
    // Rows from `first` on become white: what a file cut short never gave.
    void whitenFrom(int first);
    // Rows 0 .. the result - 1 must be decoded before rows 0 .. end - 1
    // can be made into RGB: the colour of a row is drawn from its
    // neighbours.
    int rowsNeededFor(int end) const;
    // The stored pixels in `area` as RGB888 rows, exactly as libjpeg's own
    // RGB decode makes them (its smooth upsampling and its colour
    // arithmetic), edges included.
    void toRgb(const QRect& area, uchar* out, qsizetype stride) const;

private:
    struct Plane {
        std::unique_ptr<uchar[]> bits;
        qsizetype stride = 0;
        int rows = 0;       // allocated: whole decoder bands
        int realWidth = 0;  // the samples that stand for picture pixels
        int realHeight = 0;
        int rowsPerBand = 0;
    };
    YcbcrPlanes() = default;
    void upsampleRow(const Plane& plane, int y, int x0, int width, int* out) const;

    int m_width = 0, m_height = 0;
    int m_across = 1, m_down = 1; // picture pixels per colour sample
    int m_rowsDone = 0;
    Plane m_planes[3];
};

// The planes as the program shows them: turned upright and in sRGB, made
// into RGB a rectangle at a time.
class YcbcrPicture {
public:
    YcbcrPicture(std::shared_ptr<YcbcrPlanes> planes, int orientation, const ColourProfile& profile);
    QSize size() const { return m_size; }
    int orientation() const { return m_orientation; }
    // The stored rows that must be decoded before `upright` can be made.
    int storedRowsNeededFor(const QRect& upright) const;
    // The upright pixels in `area` (within the picture) as RGB888 rows in sRGB.
    void toRgb(const QRect& area, uchar* out, qsizetype stride) const;
    QImage toRgb(const QRect& area) const;

private:
    QRect storedArea(const QRect& upright) const;

    std::shared_ptr<YcbcrPlanes> m_planes;
    int m_orientation;
    QSize m_size;
    std::shared_ptr<SrgbRows> m_colour;
};

} // namespace korvane
