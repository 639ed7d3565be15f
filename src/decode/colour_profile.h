#pragma once
// A decoded picture's colour and its conversion to sRGB. Colour pictures are
// tagged with a Qt colour space, which the display conversion applies in
// bands; what Qt's colour spaces cannot do (grey profiles, CMYK, RGB
// profiles built from tables) goes through LittleCMS.
#include <QByteArray>
#include <QColorSpace>
#include <QImage>

#include <memory>

namespace korvane {

struct ColourProfile {
    QByteArray icc;    // the embedded ICC profile; empty when there is none
    QColorSpace space; // else a colour space the file names (nclx, gAMA and cHRM); invalid: sRGB
};

// An RGB888 picture is tagged with its colour (or converted at once when
// only LittleCMS reads its profile); a Grayscale8 one is converted in
// place to sRGB's grey curve.
QImage applyColourProfile(QImage image, const ColourProfile& profile);

// Rows of a picture converted to sRGB where they lie, as many at a time as
// are ready: what applyColourProfile does to a whole picture, for a picture
// shown while it is still being decoded.
class SrgbRows {
public:
    SrgbRows(const ColourProfile& profile, bool grey);
    ~SrgbRows();
    SrgbRows(const SrgbRows&) = delete;
    SrgbRows& operator=(const SrgbRows&) = delete;

    void convert(uchar* rows, qsizetype stride, int width, int count) const;
    // How: through LittleCMS, or else from this Qt colour space.
    bool usesLittleCms() const { return m_transform != nullptr; }
    const QColorSpace& space() const { return m_space; }

private:
    QColorSpace m_space;
    void* m_transform = nullptr;
};

// CMYK rows to sRGB through the file's own CMYK profile.
class CmykToSrgb {
public:
    // Null unless the profile is a CMYK one that LittleCMS can use.
    // `inverted`: 255 means no ink, as Adobe's JPEGs store it.
    static std::unique_ptr<CmykToSrgb> fromIcc(const QByteArray& icc, bool inverted);
    ~CmykToSrgb();
    CmykToSrgb(const CmykToSrgb&) = delete;
    CmykToSrgb& operator=(const CmykToSrgb&) = delete;

    void convertRow(const uchar* cmyk, uchar* rgb, int width) const;

private:
    explicit CmykToSrgb(void* transform) : m_transform(transform) {}
    void* m_transform;
};

} // namespace korvane
